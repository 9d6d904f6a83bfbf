// The bench: which simulated instruments exist, read from a JSON file.
//
//   {"instruments": [
//     {"resource": "GPIB0::5::INSTR", "driver": "hp816x", "idn": "...",
//      "slots": {"0": "tunable laser", "1": "power meter"}, "slot_count": 4}
//   ]}
//
//   A top-level "journal": false starts every reset with the journal off.
//
// The file is UTF-8 (a byte-order mark is skipped), read by a strict parser of
// JSON (objects, arrays, strings, numbers, true/false/null); anything
// malformed or unknown refuses the whole file. Texts become Latin-1, as the
// instruments send them: raw UTF-8 and \u escapes of a character give the same
// byte, and a character beyond U+00FF is refused.
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
#include <cerrno>
#include <deque>
#include <fstream>
#include <map>
#include <locale>
#include <memory>
#include <sstream>

#include <sys/stat.h>

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

// A text of the file as messages show it: printable ASCII, the rest escaped.
std::string shown(const std::string& t) {
    std::string out;
    char esc[8];
    for (unsigned char c : t) {
        if (c == '"' || c == '\\') out += '\\', out += (char)c;
        else if (c >= 0x20 && c < 0x7F) out += (char)c;
        else std::snprintf(esc, sizeof esc, "\\u%04X", (unsigned)c), out += esc;
    }
    return out;
}

std::string character(unsigned long cp) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04lX", cp);
    return name;
}

// The first control character of a Latin-1 text (C0, DEL, C1), or -1.
int control_in(const std::string& t) {
    for (unsigned char c : t)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return c;
    return -1;
}

// JSON's number: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool json_number(const std::string& t) {
    size_t k = 0, n = t.size();
    auto digits = [&] {
        size_t b = k;
        while (k < n && t[k] >= '0' && t[k] <= '9') ++k;
        return k > b;
    };
    if (k < n && t[k] == '-') ++k;
    if (k < n && t[k] == '0') ++k;
    else if (!digits()) return false;
    if (k < n && t[k] == '.') {
        ++k;
        if (!digits()) return false;
    }
    if (k < n && (t[k] == 'e' || t[k] == 'E')) {
        ++k;
        if (k < n && (t[k] == '+' || t[k] == '-')) ++k;
        if (!digits()) return false;
    }
    return k == n;
}

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
    // Four hex digits of a \u escape.
    bool hex4(unsigned long& v) {
        if (i + 4 > s.size()) return fail("a bad \\u escape");
        v = 0;
        for (int k = 0; k < 4; ++k) {
            char h = s[i++];
            v <<= 4;
            if (h >= '0' && h <= '9') v |= (unsigned)(h - '0');
            else if (h >= 'a' && h <= 'f') v |= (unsigned)(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') v |= (unsigned)(h - 'A' + 10);
            else return fail("a bad \\u escape");
        }
        return true;
    }
    // The character a \u escape (a surrogate pair too) writes.
    bool escape(unsigned long& cp) {
        if (!hex4(cp)) return false;
        if (cp >= 0xDC00 && cp <= 0xDFFF) return fail("a lone surrogate \\u" + character(cp).substr(2));
        if (cp < 0xD800 || cp > 0xDBFF) return true;
        unsigned long low = 0;
        if (s.compare(i, 2, "\\u") != 0 || (i += 2, !hex4(low)) || low < 0xDC00 || low > 0xDFFF)
            return fail("a lone surrogate \\u" + character(cp).substr(2));
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        return true;
    }
    // The character whose UTF-8 sequence starts with byte `c` (read already).
    bool utf8(unsigned char c, unsigned long& cp) {
        int n = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
        cp = c & (0x7Fu >> (n + 1));
        for (int k = 0; k < n && n; ++k) {
            if (i >= s.size() || ((unsigned char)s[i] & 0xC0) != 0x80) n = 0;
            else cp = cp << 6 | ((unsigned char)s[i++] & 0x3F);
        }
        if (!n || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || (cp >= 0xD800 && cp <= 0xDFFF) ||
            cp > 0x10FFFF) {
            char what[64];
            std::snprintf(what, sizeof what, "not UTF-8 text (byte 0x%02X): a bench file is UTF-8", (unsigned)c);
            return fail(what);
        }
        return true;
    }
    // A string, as Latin-1.
    bool string(std::string& out) {
        if (i >= s.size() || s[i] != '"') return fail("a string was expected");
        ++i;
        for (;;) {
            if (i >= s.size()) return fail("the string does not end");
            unsigned char c = (unsigned char)s[i++];
            if (c == '"') return true;
            if (c < 0x20) return fail("a control character in a string");
            unsigned long cp = c;
            if (c >= 0x80) {
                if (!utf8(c, cp)) return false;
            } else if (c == '\\') {
                if (i >= s.size()) return fail("the string does not end");
                char e = s[i++];
                switch (e) {
                case '"': case '\\': case '/': cp = (unsigned char)e; break;
                case 'b': cp = '\b'; break;
                case 'f': cp = '\f'; break;
                case 'n': cp = '\n'; break;
                case 'r': cp = '\r'; break;
                case 't': cp = '\t'; break;
                case 'u':
                    if (!escape(cp)) return false;
                    if (cp == 0) return fail("\\u0000 in a string");
                    break;
                default: return fail(std::string("a bad escape \\") + shown(std::string(1, e)));
                }
            }
            if (cp > 0xFF)
                return fail("the character " + character(cp) +
                            " is not Latin-1, the instruments' text (U+0001 to U+00FF)");
            out += (char)cp;
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
                    if (m.first == k) return fail("\"" + shown(k) + "\" given twice");
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
            while (i < s.size() && s[i] && (std::isdigit((unsigned char)s[i]) || std::strchr(".eE+-", s[i]))) ++i;
            std::string t = s.substr(b, i - b);
            if (!json_number(t))
                return fail("a bad number " + t + " (JSON: no leading zero, digits on both sides of a point)");
            std::istringstream in(t);
            in.imbue(std::locale::classic());
            v.kind = Json::Number;
            if (!(in >> v.number)) return fail("a bad number " + t + " (out of range)");
            return true;
        }
        if ((unsigned char)c < 0x20 || (unsigned char)c >= 0x7F) {
            char what[32];
            std::snprintf(what, sizeof what, "unexpected byte 0x%02X", (unsigned)(unsigned char)c);
            return fail(what);
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

std::unique_ptr<Bench> parse_bench(const std::string& text, const std::string& file, std::string& error) {
    JsonParser p{text};
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) p.i = 3;  // the byte-order mark some editors write
    if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0) {
        error = file + ": UTF-16 text: a bench file is UTF-8 (save it as UTF-8)";
        return nullptr;
    }
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
    bool journal = true;
    for (auto& m : root.members) {
        if (m.first == "instruments") {
            list = &m.second;
        } else if (m.first == "journal") {
            if (m.second.kind != Json::Bool) return bad("the file", "\"journal\" must be true or false");
            journal = m.second.number != 0;
        } else {
            return bad("the file", "unknown key \"" + shown(m.first) + "\" (instruments, journal)");
        }
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
                int control = control_in(m.second.text);
                if (control >= 0)
                    return bad(where, "\"" + k + "\" holds the control character " + character((unsigned long)control));
                (k == "resource" ? out.resource : k == "driver" ? out.driver : out.idn) = m.second.text;
            } else if (k == "slots") {
                slots = &m.second;
            } else if (k == "slot_count") {
                count = &m.second;
            } else {
                return bad(where, "unknown key \"" + shown(k) + "\" (resource, driver, idn, slots, slot_count)");
            }
        }
        if (out.resource.empty()) return bad(where, "\"resource\" is missing");
        where += " (" + shown(out.resource) + ")";
        if (out.driver.empty()) return bad(where, "\"driver\" is missing");
        bool known = false;
        for (const char* d : driver_names) known = known || out.driver == d;
        if (!known) return bad(where, "unknown driver \"" + shown(out.driver) + "\" (hp816x, KE2400, PM100D, hp8169)");
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
                    return bad(where, "slot \"" + shown(k) + "\" is not a slot number 0 to " + std::to_string(max_slots - 1));
                unsigned module = NoModule;
                if (m.second.kind == Json::String)
                    for (int b = 0; b < 7; ++b)
                        if (m.second.text == module_names[b]) module = 1u << b;
                if (!module) {
                    std::string known_kinds;
                    for (const char* name : module_names) known_kinds += std::string(known_kinds.empty() ? "" : ", ") + name;
                    return bad(where, "slot " + k + ": unknown module " +
                                          (m.second.kind == Json::String ? "\"" + shown(m.second.text) + "\"" : "(not a string)") +
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
    auto bench = std::make_unique<Bench>();
    for (Entry& e : entries)
        bench->instruments.push_back(Instrument{keep(e.resource), keep(e.driver), keep(e.idn), std::move(e.slots)});
    bench->journal = journal;
    return bench;
}

std::unique_ptr<Bench> load_bench(const std::string& path, std::string& error) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == S_IFDIR) {
        error = path + ": a directory, not a bench file";
        return nullptr;
    }
    errno = 0;
    FILE* f = std::fopen(path.c_str(), "rb");
    std::string text;
    bool failed = !f;
    if (f) {
        char buf[16384];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        failed = std::ferror(f) != 0;
        std::fclose(f);
    }
    if (failed) {
        error = path + ": cannot be read" + (errno ? std::string(" (") + std::strerror(errno) + ")" : "");
        return nullptr;
    }
    return parse_bench(text, path, error);
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

// sim/bench.json, built in (builtin_bench.cpp, generated).
extern const char builtin_bench_json[];

namespace {
std::atomic<const Bench*> current{nullptr};

// INSTRSIM_CONFIG, else bench.json beside the core, else the built-in bench.
// A file that is refused leaves no instruments, and says why on stderr.
const Bench* initial_bench() {
    std::string error;
    const char* named = std::getenv("INSTRSIM_CONFIG");
    std::unique_ptr<Bench> b = default_bench(named && *named ? named : nullptr, error);
    if (!b) {
        std::fprintf(stderr, "instrsim: bench refused: %s\n", error.c_str());
        b = std::make_unique<Bench>();
    }
    return b.release();
}

const Bench& bench() {
    const Bench* b = current.load(std::memory_order_acquire);
    if (b) return *b;
    static const Bench* first = initial_bench();
    const Bench* none = nullptr;
    current.compare_exchange_strong(none, first);
    return *current.load(std::memory_order_acquire);
}
}  // namespace

std::unique_ptr<Bench> default_bench(const char* path, std::string& error) {
    if (path) return load_bench(path, error);
    std::string beside = core_directory() + "bench.json";
    if (std::ifstream(beside).good()) return load_bench(beside, error);
    return parse_bench(builtin_bench_json, "the built-in bench", error);
}

const std::vector<Instrument>& instruments() { return bench().instruments; }

bool bench_journal() { return bench().journal; }

void install_bench(std::unique_ptr<Bench> b) {
    bench();  // the initial one first, so it cannot replace this one later
    current.store(b.release(), std::memory_order_release);  // the old one stays: pointers into it
}

// Read when the simulator loads, so a refused INSTRSIM_CONFIG says so at once.
static const bool bench_read = !instruments().empty() || true;

}  // namespace sim
