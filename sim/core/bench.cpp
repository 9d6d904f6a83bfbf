// The bench: which simulated instruments exist, read from a JSON file.
//
//   {"instruments": [
//     {"resource": "GPIB0::5::INSTR", "driver": "hp816x", "idn": "...",
//      "slots": {"0": "tunable laser", "1": "power meter"}, "slot_count": 4}
//   ]}
//
//   A top-level "journal": false starts every reset with the journal off.
//
// The file is UTF-8 (a byte-order mark is skipped), read by nlohmann's strict
// JSON parser; a key given twice, nesting deeper than 16, anything malformed or
// unknown refuses the whole file, naming the line. Texts become Latin-1, as the
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
#include <iterator>
#include <map>
#include <memory>

#include <sys/stat.h>

#include <nlohmann/json.hpp>

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

bool numeric(char c) { return c && std::strchr("0123456789.eE+-", c); }

// The file's bytes for nlohmann, counting those it has read (the end as one
// more, as nlohmann counts): the place of an event.  A NUL would end
// nlohmann's text early: it reads as another control byte.
struct Reading {
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = char;
    const char *p, *begin;
    size_t* read;
    char operator*() const { return *p ? *p : '\x01'; }
    Reading& operator++() { return *read = (size_t)(++p - begin), *this; }
    Reading operator++(int) { Reading was = *this; ++*this; return was; }
    bool operator==(const Reading& o) const { return p == o.p && (*read = (size_t)(p - begin) + 1, true); }
};

// nlohmann's events as a Json (members in file order, a key given twice and
// nesting deeper than 16 refused, texts in Latin-1) and its refusals in the
// file's words, each naming the line.
struct Reader {
    using json = nlohmann::json;
    const std::string& s;
    size_t read = 0;            // the bytes nlohmann read
    Json root;
    std::vector<Json*> open;    // the arrays and objects being read
    size_t number_end = 0;      // the byte after the last number read
    std::string error;

    bool fail(size_t at, const std::string& what) {  // `at`: a byte on the line to name
        long line = 1 + std::count(s.begin(), s.begin() + (long)std::min(at, s.size()), '\n');
        if (error.empty()) error = "line " + std::to_string(line) + ": " + what;
        return false;
    }
    size_t last() const { return read - 1; }

    bool latin1(const std::string& utf8, std::string& out) {  // nlohmann's texts are UTF-8
        for (size_t k = 0; k < utf8.size(); ++k) {
            unsigned long cp = (unsigned char)utf8[k];
            if (cp >= 0x80) {
                int n = cp >= 0xF0 ? 3 : cp >= 0xE0 ? 2 : 1;
                for (cp &= 0x3Fu >> n; n--;) cp = cp << 6 | ((unsigned char)utf8[++k] & 0x3F);
            }
            if (cp == 0) return fail(last(), "\\u0000 in a string");
            if (cp > 0xFF)
                return fail(last(), "the character " + character(cp) +
                                        " is not Latin-1, the instruments' text (U+0001 to U+00FF)");
            out += (char)cp;
        }
        return true;
    }
    Json* add(Json::Kind kind) {  // the next value's place
        if (open.size() > 16) return fail(last(), "nested too deeply"), nullptr;
        Json* v = open.empty() ? &root
                  : open.back()->kind == Json::Array ? &open.back()->items.emplace_back()
                                                     : &open.back()->members.back().second;
        v->kind = kind;
        return v;
    }
    bool holds(Json* v, double x) { return v && (v->number = x, true); }
    bool opens(Json* v) { return v && (open.push_back(v), true); }
    bool number(double x) { return number_end = last(), holds(add(Json::Number), x); }

    bool null() { return add(Json::Null); }
    bool boolean(bool b) { return holds(add(Json::Bool), b); }
    bool number_integer(json::number_integer_t x) { return number((double)x); }
    bool number_unsigned(json::number_unsigned_t x) { return number((double)x); }
    bool number_float(double x, const std::string&) { return number(x); }
    bool string(std::string& t) { Json* v = add(Json::String); return v && latin1(t, v->text); }
    bool binary(json::binary_t&) { return false; }  // not in JSON text
    bool start_object(size_t) { return opens(add(Json::Object)); }
    bool start_array(size_t) { return opens(add(Json::Array)); }
    bool end_object() { return open.pop_back(), true; }
    bool end_array() { return open.pop_back(), true; }
    bool key(std::string& k) {
        std::string t;
        if (!latin1(k, t)) return false;
        for (auto& m : open.back()->members)
            if (m.first == t) return fail(last(), "\"" + shown(t) + "\" given twice");
        open.back()->members.emplace_back(t, Json());
        return true;
    }

    // nlohmann read `count` bytes, the one it stopped at the last (one more at
    // the end of the text); `token`: the text of its last token.
    bool parse_error(size_t count, const std::string& token, const json::exception& ex) {
        std::string m = ex.what();
        auto says = [&](const char* t) { return m.find(t) != std::string::npos; };
        size_t at = std::max<size_t>(std::min(count, s.size() + 1), 1) - 1;
        unsigned char c = at < s.size() ? (unsigned char)s[at] : 0;
        // The file's number characters there: nlohmann reads 01 as 0, then 1.
        size_t b = at < s.size() && numeric(s[at]) ? at + 1 : at, e = b;
        while (b > 0 && numeric(s[b - 1])) --b;
        while (e < s.size() && numeric(s[e])) ++e;
        std::string t = s.substr(b, e - b);
        bool glued = b < number_end && number_end < e;
        if (says("; expected end of input") && !glued) return fail(at, "text after the bench");
        bool value = says("while parsing value - ");  // not where a separator belongs
        if (glued || ex.id == 406 || (value && says("invalid number"))) {
            std::string why = ex.id == 406 && t == token ? "out of range"
                              : "JSON: no leading zero, digits on both sides of a point";
            return fail(b, "a bad number " + t + " (" + why + ")");
        }
        if (says("invalid string") && (value || says("while parsing object key - "))) {
            auto escape = [&](size_t p) -> unsigned long {  // the \uXXXX at p, or 0
                if (p + 6 > s.size() || s.compare(p, 2, "\\u") != 0 ||
                    s.find_first_not_of("0123456789abcdefABCDEF", p + 2) < p + 6)
                    return 0;
                return std::strtoul(s.substr(p + 2, 4).c_str(), nullptr, 16);
            };
            if (says("closing quote") || (says("after backslash") && count > s.size()))
                return fail(at, "the string does not end");
            if (says("control character")) return fail(at, "a control character in a string");
            if (says("after backslash")) return fail(at, "a bad escape \\" + shown(std::string(1, (char)c)));
            if (says("4 hex digits")) return fail(at, "a bad \\u escape");
            if (says("must follow")) return fail(at, "a lone surrogate \\u" + character(escape(at - 5)).substr(2));
            if (says("must be followed"))  // nlohmann stops 1, 2 or 6 bytes after the high one
                for (size_t back : {6, 7, 11}) {
                    unsigned long high = at >= back ? escape(at - back) : 0;
                    if (high >= 0xD800 && high <= 0xDBFF)
                        return fail(at, "a lone surrogate \\u" + character(high).substr(2));
                }
            if (says("UTF-8")) {  // the sequence's first byte, not the one that does not fit
                size_t lead = at;
                for (size_t k = at; k-- > 0 && at - k < 4;) {
                    unsigned char u = (unsigned char)s[k];
                    if (u >= 0x80 && u < 0xC0) continue;
                    if ((u >= 0xF0 ? 4u : u >= 0xE0 ? 3u : u >= 0xC2 ? 2u : 1u) > at - k) lead = k;
                    break;
                }
                char what[64];
                std::snprintf(what, sizeof what, "not UTF-8 text (byte 0x%02X): a bench file is UTF-8",
                              lead < s.size() ? (unsigned char)s[lead] : 0u);
                return fail(at, what);
            }
            return fail(at, m.substr(m.find(": ") + 2));
        }
        static const char* const expected[][2] = {
            {"; expected string literal", "a string was expected"}, {"; expected ':'", "':' was expected"},
            {"; expected '}'", "',' or '}' was expected"}, {"; expected ']'", "',' or ']' was expected"},
            {"unexpected end of input", "a value was expected"}};
        for (auto& x : expected)
            if (says(x[0])) return fail(at, x[1]);
        size_t w = says("BOM") ? 0 : at;  // the start of a word nlohmann did not know
        while (w > 0 && at - w < 4 && std::isalpha((unsigned char)s[w - 1])) --w;
        c = w < s.size() ? (unsigned char)s[w] : 0;
        char what[32];
        if (c < 0x20 || c >= 0x7F) std::snprintf(what, sizeof what, "unexpected byte 0x%02X", (unsigned)c);
        else std::snprintf(what, sizeof what, "unexpected '%c'", c);
        return fail(w, what);
    }
};

const char* const module_names[] = {"tunable laser", "dual power meter", "power meter", "attenuator",
                                    "return-loss module", "fixed laser", "switch"};
// The drivers of the bench's instruments (drivers.def): name, identity.
struct BenchDriver { const char* name; const char* idn; };
const BenchDriver all_drivers[] = {
#define SIM_DRIVER(name, prefix, header, target, file, idn) {name, idn},
#include "drivers.def"
#undef SIM_DRIVER
};
bool on_bench(const BenchDriver& d) { return *d.idn != 0; }
// "hp816x, KE2400, ...": the drivers a bench file may name.
std::string driver_list() {
    std::string out;
    for (const BenchDriver& d : all_drivers)
        if (on_bench(d)) out += (out.empty() ? "" : ", ") + std::string(d.name);
    return out;
}
const int max_slots = 18;  // the largest mainframe (getModuleStatus_Q writes one entry each)

// Identities of instruments the file names without one.
std::string default_idn(const std::string& driver, size_t n) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "%05u", (unsigned)(n + 1));
    for (const BenchDriver& d : all_drivers)
        if (driver == d.name) {
            std::string idn = d.idn;
            return idn.replace(idn.find("%s"), 2, serial);
        }
    return "";
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
    if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0) {
        error = file + ": UTF-16 text: a bench file is UTF-8 (save it as UTF-8)";
        return nullptr;
    }
    Reader r{text};  // nlohmann skips the byte-order mark some editors write
    const char* t = text.data();
    if (!nlohmann::json::sax_parse(Reading{t, t, &r.read}, Reading{t + text.size(), t, &r.read}, &r)) {
        error = file + ": " + r.error;
        return nullptr;
    }
    const Json& root = r.root;
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
        for (const BenchDriver& d : all_drivers) known = known || (on_bench(d) && out.driver == d.name);
        if (!known) return bad(where, "unknown driver \"" + shown(out.driver) + "\" (" + driver_list() + ")");
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
                if (count->kind != Json::Number || !(v >= 1 && v <= max_slots) || v != (int)v || v < n_slots)
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
