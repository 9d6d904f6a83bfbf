// The bench: which simulated instruments exist, read from a JSON file.
//
//   {"instruments": [
//     {"resource": "GPIB0::5::INSTR", "driver": "hp816x", "idn": "...",
//      "slots": {"0": "tunable laser", "1": "power meter"}, "slot_count": 4}
//   ]}
//
// The file is read by a strict parser of this subset of JSON (objects, arrays,
// strings, numbers, true/false/null); anything malformed or unknown refuses
// the whole file.
#include "bench.hpp"

#if !defined(_WIN32)
#include <dlfcn.h>
#else
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace sim {
namespace {

// ---- JSON ----------------------------------------------------------------------
struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    double number = 0;
    std::string text;
    std::vector<Json> items;                            // Array
    std::vector<std::pair<std::string, Json>> members;  // Object, in file order
};

struct JsonParser {
    const std::string& s;
    size_t i = 0;
    std::string error;

    int line() const { return 1 + (int)std::count(s.begin(), s.begin() + (long)std::min(i, s.size()), '\n'); }
    bool fail(const std::string& what) {
        if (error.empty()) error = "line " + std::to_string(line()) + ": " + what;
        return false;
    }
    void space() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
    }
    bool literal(const char* word) {
        size_t n = std::strlen(word);
        if (s.compare(i, n, word) != 0) return false;
        i += n;
        return true;
    }
    bool string(std::string& out) {
        if (i >= s.size() || s[i] != '"') return fail("a string was expected");
        ++i;
        for (;;) {
            if (i >= s.size()) return fail("the string does not end");
            unsigned char c = (unsigned char)s[i++];
            if (c == '"') return true;
            if (c < 0x20) return fail("a control character in a string");
            if (c != '\\') {
                out += (char)c;
                continue;
            }
            if (i >= s.size()) return fail("the string does not end");
            char e = s[i++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                if (i + 4 > s.size()) return fail("a bad \\u escape");
                unsigned v = 0;
                for (int k = 0; k < 4; ++k) {
                    char h = s[i++];
                    v <<= 4;
                    if (h >= '0' && h <= '9') v |= (unsigned)(h - '0');
                    else if (h >= 'a' && h <= 'f') v |= (unsigned)(h - 'a' + 10);
                    else if (h >= 'A' && h <= 'F') v |= (unsigned)(h - 'A' + 10);
                    else return fail("a bad \\u escape");
                }
                if (v == 0 || v > 0xFF) return fail("only \\u0001 to \\u00ff are taken in names");
                out += (char)v;
                break;
            }
            default: return fail(std::string("a bad escape \\") + e);
            }
        }
    }
    bool value(Json& v, int depth) {
        if (depth > 16) return fail("nested too deeply");
        space();
        if (i >= s.size()) return fail("a value was expected");
        char c = s[i];
        if (c == '{') {
            v.kind = Json::Object;
            ++i;
            space();
            if (i < s.size() && s[i] == '}') return ++i, true;
            for (;;) {
                space();
                std::string k;
                if (!string(k)) return false;
                for (auto& m : v.members)
                    if (m.first == k) return fail("\"" + k + "\" given twice");
                space();
                if (i >= s.size() || s[i] != ':') return fail("':' was expected");
                ++i;
                v.members.emplace_back(k, Json());
                if (!value(v.members.back().second, depth + 1)) return false;
                space();
                if (i < s.size() && s[i] == ',') { ++i; continue; }
                if (i < s.size() && s[i] == '}') return ++i, true;
                return fail("',' or '}' was expected");
            }
        }
        if (c == '[') {
            v.kind = Json::Array;
            ++i;
            space();
            if (i < s.size() && s[i] == ']') return ++i, true;
            for (;;) {
                v.items.emplace_back();
                if (!value(v.items.back(), depth + 1)) return false;
                space();
                if (i < s.size() && s[i] == ',') { ++i; continue; }
                if (i < s.size() && s[i] == ']') return ++i, true;
                return fail("',' or ']' was expected");
            }
        }
        if (c == '"') {
            v.kind = Json::String;
            return string(v.text);
        }
        if (literal("true")) { v.kind = Json::Bool; v.number = 1; return true; }
        if (literal("false")) { v.kind = Json::Bool; return true; }
        if (literal("null")) return true;
        if (c == '-' || (c >= '0' && c <= '9')) {
            size_t b = i;
            if (s[i] == '-') ++i;
            while (i < s.size() && (std::isdigit((unsigned char)s[i]) || std::strchr(".eE+-", s[i]))) ++i;
            std::string t = s.substr(b, i - b);
            char* end = nullptr;
            v.kind = Json::Number;
            v.number = std::strtod(t.c_str(), &end);
            if (end != t.c_str() + t.size()) return fail("a bad number " + t);
            return true;
        }
        return fail(std::string("unexpected '") + c + "'");
    }
};

const char* const module_names[] = {"tunable laser", "dual power meter", "power meter", "attenuator",
                                    "return-loss module", "fixed laser", "switch"};
const char* const driver_names[] = {"hp816x", "KE2400", "PM100D", "hp8169"};
const int max_slots = 18;  // the largest mainframe (getModuleStatus_Q writes one entry each)

// Identities of instruments the file names without one.
std::string default_idn(const std::string& driver, size_t n) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "%05u", (unsigned)(n + 1));
    if (driver == "hp816x") return std::string("Quellbright Photonics,QBM-70,QB7S") + serial + ",R4.07(1182)";
    if (driver == "KE2400") return std::string("MARROWICK INSTRUMENTS INC.,MW-SX20,55") + serial + ",F2.14 2019-06-11/B03  /M/X";
    if (driver == "PM100D") return std::string("Lindqvar Optics,LQ-PM5,PS") + serial + ",3.1.2";
    return std::string("TARNWELL PHOTONICS,TW-PC3,TWS") + serial + ",1.2";
}

// Owns the texts of every bench loaded: never freed (see instruments()).
std::deque<std::string>& texts() {
    static auto* t = new std::deque<std::string>;
    return *t;
}
const char* keep(const std::string& s) {
    texts().push_back(s);
    return texts().back().c_str();
}

bool same_ci(const std::string& a, const std::string& b) { return same_resource(a.c_str(), b.c_str()); }

}  // namespace

const char* module_name(unsigned module) {
    for (int b = 0; b < 7; ++b)
        if (module == 1u << b) return module_names[b];
    return module ? "several modules" : "empty";
}

std::unique_ptr<std::vector<Instrument>> parse_bench(const std::string& text, const std::string& file,
                                                     std::string& error) {
    JsonParser p{text};
    Json root;
    bool ok = p.value(root, 0);
    if (ok) {
        p.space();
        if (p.i != text.size()) ok = p.fail("text after the bench");
    }
    if (!ok) {
        error = file + ": " + p.error;
        return nullptr;
    }
    auto bad = [&](const std::string& where, const std::string& what) {
        error = file + ": " + where + ": " + what;
        return nullptr;
    };
    if (root.kind != Json::Object) return bad("the file", "an object {\"instruments\": [...]} was expected");
    const Json* list = nullptr;
    for (auto& m : root.members) {
        if (m.first != "instruments") return bad("the file", "unknown key \"" + m.first + "\" (only \"instruments\")");
        list = &m.second;
    }
    if (!list || list->kind != Json::Array) return bad("the file", "\"instruments\" must be a list");
    // Texts are kept only once the whole file is good.
    struct Entry { std::string resource, driver, idn; std::vector<unsigned> slots; };
    std::vector<Entry> entries;
    for (size_t n = 0; n < list->items.size(); ++n) {
        const Json& e = list->items[n];
        std::string where = "instruments[" + std::to_string(n) + "]";
        if (e.kind != Json::Object) return bad(where, "an object was expected");
        Entry out;
        const Json* slots = nullptr;
        const Json* count = nullptr;
        for (auto& m : e.members) {
            const std::string& k = m.first;
            if (k == "resource" || k == "driver" || k == "idn") {
                if (m.second.kind != Json::String || m.second.text.empty())
                    return bad(where, "\"" + k + "\" must be a non-empty string");
                (k == "resource" ? out.resource : k == "driver" ? out.driver : out.idn) = m.second.text;
            } else if (k == "slots") {
                slots = &m.second;
            } else if (k == "slot_count") {
                count = &m.second;
            } else {
                return bad(where, "unknown key \"" + k + "\" (resource, driver, idn, slots, slot_count)");
            }
        }
        if (out.resource.empty()) return bad(where, "\"resource\" is missing");
        where += " (" + out.resource + ")";
        if (out.driver.empty()) return bad(where, "\"driver\" is missing");
        bool known = false;
        for (const char* d : driver_names) known = known || out.driver == d;
        if (!known) return bad(where, "unknown driver \"" + out.driver + "\" (hp816x, KE2400, PM100D, hp8169)");
        if (out.resource.find("::") == std::string::npos || out.resource.find_first_of(" \t\",") != std::string::npos)
            return bad(where, "\"resource\" is not a VISA resource name");
        for (const Entry& other : entries)
            if (same_ci(other.resource, out.resource)) return bad(where, "the resource is listed twice");
        if (out.driver != "hp816x" && (slots || count)) return bad(where, "only a mainframe (hp816x) has slots");
        if (out.driver == "hp816x") {
            if (!slots) return bad(where, "a mainframe needs \"slots\"");
            if (slots->kind != Json::Object) return bad(where, "\"slots\" must be an object {\"<slot>\": \"<module>\"}");
            int highest = -1;
            std::map<int, unsigned> modules;
            for (auto& m : slots->members) {
                const std::string& k = m.first;
                bool digits = !k.empty() && k.size() <= 2 && k.find_first_not_of("0123456789") == std::string::npos;
                int slot = digits ? std::atoi(k.c_str()) : -1;
                if (slot < 0 || slot >= max_slots || (k.size() > 1 && k[0] == '0'))
                    return bad(where, "slot \"" + k + "\" is not a slot number 0 to " + std::to_string(max_slots - 1));
                unsigned module = NoModule;
                if (m.second.kind == Json::String)
                    for (int b = 0; b < 7; ++b)
                        if (m.second.text == module_names[b]) module = 1u << b;
                if (!module) {
                    std::string known_kinds;
                    for (const char* name : module_names) known_kinds += std::string(known_kinds.empty() ? "" : ", ") + name;
                    return bad(where, "slot " + k + ": unknown module " +
                                          (m.second.kind == Json::String ? "\"" + m.second.text + "\"" : "(not a string)") +
                                          " (" + known_kinds + ")");
                }
                modules[slot] = module;
                highest = std::max(highest, slot);
            }
            int n_slots = highest + 1;
            if (count) {
                double v = count->number;
                if (count->kind != Json::Number || v != (int)v || v < n_slots || v < 1 || v > max_slots)
                    return bad(where, "\"slot_count\" must be a whole number from " + std::to_string(std::max(n_slots, 1)) +
                                          " to " + std::to_string(max_slots));
                n_slots = (int)v;
            }
            out.slots.assign((size_t)n_slots, NoModule);
            for (auto& kv : modules) out.slots[(size_t)kv.first] = kv.second;
        }
        if (out.idn.empty()) out.idn = default_idn(out.driver, n);
        entries.push_back(std::move(out));
    }
    auto bench = std::make_unique<std::vector<Instrument>>();
    for (Entry& e : entries)
        bench->push_back(Instrument{keep(e.resource), keep(e.driver), keep(e.idn), std::move(e.slots)});
    return bench;
}

std::unique_ptr<std::vector<Instrument>> load_bench(const std::string& path, std::string& error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        error = path + ": cannot be read";
        return nullptr;
    }
    std::ostringstream text;
    text << f.rdbuf();
    return parse_bench(text.str(), path, error);
}

// The directory of this core library, with its separator; empty if unknown.
std::string core_directory() {
#if !defined(_WIN32)
    Dl_info self;
    if (!dladdr((void*)&core_directory, &self) || !self.dli_fname) return "";
    std::string dir = self.dli_fname;
    size_t slash = dir.rfind('/');
    return slash == std::string::npos ? "" : dir.substr(0, slash + 1);
#else
    HMODULE self = nullptr;
    char path[MAX_PATH];
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCSTR)(void*)&core_directory, &self))
        return "";
    DWORD n = GetModuleFileNameA(self, path, sizeof path);
    if (n == 0 || n >= sizeof path) return "";
    std::string dir(path, n);
    size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? "" : dir.substr(0, slash + 1);
#endif
}

// The bench built in, for a core without bench.json beside it.
std::vector<Instrument> builtin_bench() {
    const std::vector<unsigned> mainframe = {TunableLaser, DualPowerMeter, PowerMeter, Attenuator,
                                             ReturnLoss,   FixedLaser,     Switch};
    return {
        {"GPIB0::20::INSTR", "hp816x", "Quellbright Photonics,QBM-70,QB7A00412,R4.07(1182)", mainframe},
        {"TCPIP0::192.168.1.20::inst0::INSTR", "hp816x", "Quellbright Photonics,QBM-30,QB3A00958,R4.07(1182)",
         mainframe},
        {"GPIB0::24::INSTR", "KE2400", "MARROWICK INSTRUMENTS INC.,MW-SX20,5502311,F2.14 2019-06-11/B03  /M/X", {}},
        // USB vendor 0x3A5C, product 0x0207: a made-up pair, no registered device
        {"USB0::0x3A5C::0x0207::P0012345::INSTR", "PM100D", "Lindqvar Optics,LQ-PM5,P0012345,3.1.2", {}},
        {"GPIB0::9::INSTR", "hp8169", "TARNWELL PHOTONICS,TW-PC3,TW04100123,1.2", {}},
        {"ASRL1::INSTR", "hp8169", "TARNWELL PHOTONICS,TW-PC3,TW04100456,1.2", {}},
    };
}

namespace {
std::atomic<const std::vector<Instrument>*> current{nullptr};

// INSTRSIM_CONFIG, else bench.json beside the core, else the built-in bench.
// A file that is refused leaves no instruments, and says why on stderr.
const std::vector<Instrument>* initial_bench() {
    std::string error;
    const char* named = std::getenv("INSTRSIM_CONFIG");
    std::unique_ptr<std::vector<Instrument>> b = default_bench(named && *named ? named : nullptr, error);
    if (!b) {
        std::fprintf(stderr, "instrsim: bench refused: %s\n", error.c_str());
        b = std::make_unique<std::vector<Instrument>>();
    }
    return b.release();
}
}  // namespace

std::unique_ptr<std::vector<Instrument>> default_bench(const char* path, std::string& error) {
    if (path) return load_bench(path, error);
    std::string beside = core_directory() + "bench.json";
    if (std::ifstream(beside).good()) return load_bench(beside, error);
    return std::make_unique<std::vector<Instrument>>(builtin_bench());
}

const std::vector<Instrument>& instruments() {
    const std::vector<Instrument>* b = current.load(std::memory_order_acquire);
    if (b) return *b;
    static const std::vector<Instrument>* first = initial_bench();
    const std::vector<Instrument>* none = nullptr;
    current.compare_exchange_strong(none, first);
    return *current.load(std::memory_order_acquire);
}

void install_bench(std::unique_ptr<std::vector<Instrument>> bench) {
    instruments();  // the initial one first, so it cannot replace this one later
    current.store(bench.release(), std::memory_order_release);  // the old one stays: pointers into it
}

// Read when the simulator loads, so a refused INSTRSIM_CONFIG says so at once.
static const bool bench_read = !instruments().empty() || true;

}  // namespace sim
