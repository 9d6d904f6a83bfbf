#include "sim.hpp"

#if defined(__linux__)
#include <dlfcn.h>
#include <link.h>
#elif defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <deque>
#include <map>
#include <unordered_map>
#include <mutex>

namespace sim {
namespace {

struct Script {
    ViStatus status = 0;
    int times = 0;  // calls left to fail; < 0 until reset
    std::map<int, Arg> outputs;
};

// Transparent hashing: lookups by string_view build no key string.
struct key_hash {
    using is_transparent = void;
    size_t operator()(std::string_view k) const { return std::hash<std::string_view>()(k); }
};
template <class T> using store = std::unordered_map<std::string, T, key_hash, std::equal_to<>>;

struct State {
    std::mutex lock;
    std::vector<std::string> journal;
    std::map<std::string, Script> scripts;
    std::unordered_map<ViSession, const Instrument*> sessions;
    ViSession next_session = 0x1001;
    std::map<std::string, std::deque<Error>> errors;
    store<double> reals;
    store<long long> ints;
    store<std::string> texts;
    bool hostile = false;
    uint64_t rng = 0x9E3779B97F4A7C15ull;
};

State& st() {
    static State* s = new State;  // never destroyed: drivers may be called during exit
    return *s;
}

const size_t journal_limit = 100000;

// INSTRSIM_JOURNAL_AT_EXIT=<file>: the journal is written there when the
// process exits through C exit(), for tests of paths that end the process.
void dump_journal_at_exit() {
    const char* path = std::getenv("INSTRSIM_JOURNAL_AT_EXIT");
    FILE* f = path ? std::fopen(path, "w") : nullptr;
    if (!f) return;
    for (const std::string& line : st().journal) std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
}
const bool dump_registered = std::getenv("INSTRSIM_JOURNAL_AT_EXIT") && std::atexit(dump_journal_at_exit) == 0;

}  // namespace

const std::vector<Instrument>& instruments() {
    static const std::vector<Instrument> table = {
        {"GPIB0::20::INSTR", "hp816x", "Quellbright Photonics,QBM-70,QB7A00412,R4.07(1182)"},
        {"TCPIP0::192.168.1.20::inst0::INSTR", "hp816x", "Quellbright Photonics,QBM-30,QB3A00958,R4.07(1182)"},
        {"GPIB0::24::INSTR", "KE2400", "MARROWICK INSTRUMENTS INC.,MW-SX20,5502311,F2.14 2019-06-11/B03  /M/X"},
        // USB vendor 0x3A5C, product 0x0207: a made-up pair, no registered device
        {"USB0::0x3A5C::0x0207::P0012345::INSTR", "PM100D", "Lindqvar Optics,LQ-PM5,P0012345,3.1.2"},
        {"GPIB0::9::INSTR", "hp8169", "TARNWELL PHOTONICS,TW-PC3,TW04100123,1.2"},
        {"ASRL1::INSTR", "hp8169", "TARNWELL PHOTONICS,TW-PC3,TW04100456,1.2"},
    };
    return table;
}

bool same_resource(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char x = (unsigned char)*a, y = (unsigned char)*b;
        if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
        if (x != y) return false;
        if (!x) return true;
    }
}

ViSession open(const char* driver, const char* resource) {
    if (!resource) return 0;
    State& s = st();
    std::lock_guard<std::mutex> g(s.lock);
    for (const Instrument& in : instruments())
        if ((!driver || std::strcmp(in.driver, driver) == 0) && same_resource(in.resource, resource)) {
            ViSession h = s.next_session++;
            s.sessions[h] = &in;
            return h;
        }
    return 0;
}

bool valid(ViSession h) { return instrument(h) != nullptr; }

bool close(ViSession h) {
    State& s = st();
    std::lock_guard<std::mutex> g(s.lock);
    return s.sessions.erase(h) > 0;
}

const Instrument* instrument(ViSession h) {
    State& s = st();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.sessions.find(h);
    return it == s.sessions.end() ? nullptr : it->second;
}

Arg arg_of(const char* text) {
    if (!text) return Arg{Arg::Null};
    Arg a{Arg::Text};
    a.s.assign(text, strnlen(text, 1024));
    return a;
}

static std::atomic<bool> journal_on{true};
static std::atomic<unsigned> reset_generation{1};

unsigned generation() { return reset_generation.load(std::memory_order_relaxed); }
static std::atomic<bool> any_script{false};

bool Call::journaling() { return journal_on.load(std::memory_order_relaxed); }
bool Call::scripting() { return any_script.load(std::memory_order_relaxed); }

void Call::capture(const Out* outs, int n) {
    for (int i = 0; i < n && nouts_ < 16; ++i)
        if (outs[i].kind != Out::None && outs[i].p) outs_[nouts_++] = outs[i];
}

void Call::record(const Arg* args, int n) {
    std::string line = fn_;
    char num[64];
    for (int i = 0; i < n; ++i) {
        const Arg& a = args[i];
        line += '\x1f';
        switch (a.kind) {
        case Arg::Int: std::snprintf(num, sizeof num, "i:%lld", a.i); line += num; break;
        case Arg::Real: std::snprintf(num, sizeof num, "d:%.17g", a.d); line += num; break;
        case Arg::Text: line += "s:"; line += a.s; break;
        case Arg::Ptr: line += 'p'; break;
        case Arg::Null: line += 'n'; break;
        }
    }
    State& s = st();
    std::lock_guard<std::mutex> g(s.lock);
    if (s.journal.size() < journal_limit) s.journal.push_back(std::move(line));
}

bool Call::session(ViSession h) {
    if (valid(h)) return true;
    status_ = VI_ERROR_INV_OBJECT;
    return false;
}

ViStatus Call::done() {
    if (!any_script.load(std::memory_order_relaxed)) return status_;
    State& s = st();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.scripts.find(fn_);
    if (it == s.scripts.end()) return status_;
    Script& sc = it->second;
    for (int i = 0; i < nouts_; ++i) {
        auto o = sc.outputs.find(outs_[i].index);
        if (o == sc.outputs.end()) continue;
        const Arg& v = o->second;
        long long iv = v.kind == Arg::Real ? (long long)v.d : v.i;
        switch (outs_[i].kind) {
        case Out::I16: *(int16_t*)outs_[i].p = (int16_t)iv; break;
        case Out::U16: *(uint16_t*)outs_[i].p = (uint16_t)iv; break;
        case Out::I32: *(int32_t*)outs_[i].p = (int32_t)iv; break;
        case Out::U32: *(uint32_t*)outs_[i].p = (uint32_t)iv; break;
        case Out::Real: *(double*)outs_[i].p = v.kind == Arg::Real ? v.d : (double)v.i; break;
        case Out::Text: std::memcpy(outs_[i].p, v.s.c_str(), v.s.size() + 1); break;
        case Out::None: break;
        }
    }
    if (sc.times != 0) {
        if (sc.times > 0) --sc.times;
        status_ = sc.status;
    }
    return status_;
}

bool hostile() { return st().hostile; }

void put_text(char* buf, size_t cap, const std::string& text) {
    if (!buf || cap == 0) return;
    if (hostile()) {
        for (size_t i = 0; i < cap; ++i) buf[i] = (char)('A' + i % 26);
        return;
    }
    size_t n = text.size() < cap - 1 ? text.size() : cap - 1;
    std::memcpy(buf, text.data(), n);
    buf[n] = 0;
}

long long report_count(long long n, long long cap) { return hostile() ? cap * 2 + 7 : n; }

// An instrument's error queue holds 30 entries; a full queue keeps them and
// its last entry becomes -350 "Queue overflow".
void push_error(const char* driver, ViInt32 code, const std::string& msg) {
    const size_t limit = 30;
    State& s = st();
    std::lock_guard<std::mutex> g(s.lock);
    auto& q = s.errors[driver];
    if (q.size() < limit) q.push_back({code, msg});
    else q.back() = {-350, "Queue overflow"};
}

Error pop_error(const char* driver) {
    State& s = st();
    std::lock_guard<std::mutex> g(s.lock);
    auto& q = s.errors[driver];
    if (q.empty()) return {0, "No error"};
    Error e = q.front();
    q.pop_front();
    return e;
}

size_t error_count(const char* driver) {
    State& s = st();
    std::lock_guard<std::mutex> g(s.lock);
    return s.errors[driver].size();
}

std::string key(const char* family, long long unit, const char* what) {
    char digits[24];
    int n = 0;
    unsigned long long u = unit < 0 ? 0ull - (unsigned long long)unit : (unsigned long long)unit;
    do digits[n++] = (char)('0' + u % 10); while (u /= 10);
    std::string k(family);
    if (unit < 0) k += '-';
    while (n) k += digits[--n];
    k += '.';
    k += what;
    return k;
}

// Lookups never build a key string; values are created on first use.
template <class M, class V> static typename M::mapped_type& slot(M& m, std::string_view k, const V& def) {
    auto it = m.find(k);
    if (it != m.end()) return it->second;
    return m.emplace(std::string(k), def).first->second;
}

double& real(std::string_view k, double def) { return slot(st().reals, k, def); }
long long& integer(std::string_view k, long long def) { return slot(st().ints, k, def); }
std::string& text(std::string_view k, const std::string& def) { return slot(st().texts, k, def); }

const std::string* find_text(std::string_view k) {
    auto it = st().texts.find(k);
    return it == st().texts.end() ? nullptr : &it->second;
}

double noise() {
    uint64_t& x = st().rng;  // xorshift64*
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    return (double)((x * 2685821657736338717ull) >> 11) / 4503599627370496.0 - 1.0;
}

#if defined(__linux__)
// Appends the defined global functions in a loaded library's dynamic symbol
// table, one per line.
void append_functions(const struct link_map* map, std::string& out) {
    auto at = [map](ElfW(Addr) p) { return p < map->l_addr ? p + map->l_addr : p; };
    const ElfW(Sym)* symtab = nullptr;
    const char* strtab = nullptr;
    const uint32_t* gnu_hash = nullptr;
    const ElfW(Word)* hash = nullptr;
    for (const ElfW(Dyn)* d = map->l_ld; d->d_tag != DT_NULL; ++d) {
        if (d->d_tag == DT_SYMTAB) symtab = (const ElfW(Sym)*)at(d->d_un.d_ptr);
        else if (d->d_tag == DT_STRTAB) strtab = (const char*)at(d->d_un.d_ptr);
        else if (d->d_tag == DT_GNU_HASH) gnu_hash = (const uint32_t*)at(d->d_un.d_ptr);
        else if (d->d_tag == DT_HASH) hash = (const ElfW(Word)*)at(d->d_un.d_ptr);
    }
    if (!symtab || !strtab) return;
    size_t count = 0;
    if (hash) {
        count = hash[1];  // nchain: one per symbol
    } else if (gnu_hash) {  // the last symbol ends the longest-reaching chain
        uint32_t buckets = gnu_hash[0], first = gnu_hash[1], bloom = gnu_hash[2];
        const uint32_t* bucket = (const uint32_t*)((const ElfW(Addr)*)(gnu_hash + 4) + bloom);
        const uint32_t* chain = bucket + buckets;
        uint32_t last = 0;
        for (uint32_t b = 0; b < buckets; ++b) last = bucket[b] > last ? bucket[b] : last;
        if (last >= first) {
            while (!(chain[last - first] & 1)) ++last;
            count = last + 1;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        const ElfW(Sym)& sym = symtab[i];
        if (ELF64_ST_TYPE(sym.st_info) == STT_FUNC && ELF64_ST_BIND(sym.st_info) == STB_GLOBAL &&
            sym.st_shndx != SHN_UNDEF)
            out.append(strtab + sym.st_name).push_back('\n');
    }
}
#endif

#if defined(_WIN32)
// Appends the names a loaded DLL exports, one per line.
void append_exports(HMODULE dll, std::string& out) {
    auto base = (const unsigned char*)dll;
    auto dos = (const IMAGE_DOS_HEADER*)base;
    auto nt = (const IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (!dir.VirtualAddress) return;
    auto exports = (const IMAGE_EXPORT_DIRECTORY*)(base + dir.VirtualAddress);
    auto names = (const DWORD*)(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) out.append((const char*)(base + names[i])).push_back('\n');
}
#endif

// The functions the simulated driver libraries beside this core export.
std::string driver_functions() {
    std::string out;
#if defined(__linux__)
    Dl_info self;
    if (!dladdr((void*)&noise, &self) || !self.dli_fname) return out;
    std::string dir = self.dli_fname;
    dir.erase(dir.rfind('/') + 1);  // all of it when there is no '/'
    for (const char* lib : {"libhp816x_32.so", "libKE2400_32.so", "libPM100D_Drv_32.so", "libhp8169_32.so",
                            "libvisa32.so"}) {
        void* h = dlopen((dir + lib).c_str(), RTLD_LAZY | RTLD_LOCAL);
        if (!h) continue;
        struct link_map* map = nullptr;
        if (dlinfo(h, RTLD_DI_LINKMAP, &map) == 0 && map) append_functions(map, out);
        dlclose(h);
    }
#elif defined(_WIN32)
    HMODULE self = nullptr;
    char path[MAX_PATH];
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCSTR)(void*)&noise, &self))
        return out;
    DWORD n = GetModuleFileNameA(self, path, sizeof path);
    if (n == 0 || n >= sizeof path) return out;
    std::string dir(path, n);
    size_t slash = dir.find_last_of("\\/");
    dir.erase(slash == std::string::npos ? 0 : slash + 1);
    for (const char* lib : {"hp816x_32.dll", "KE2400_32.dll", "PM100D_Drv_32.dll", "hp8169_32.dll", "VISA32.dll"}) {
        HMODULE h = LoadLibraryA((dir + lib).c_str());  // ours: loading runs nothing of note
        if (!h) continue;
        append_exports(h, out);
        FreeLibrary(h);
    }
#endif
    return out;
}

}  // namespace sim

using namespace sim;

extern "C" {

void sim_reset(void) {
    State& s = st();
    std::lock_guard<std::mutex> g(s.lock);
    s.journal.clear();
    s.scripts.clear();
    s.sessions.clear();
    s.next_session = 0x1001;
    s.errors.clear();
    s.reals.clear();
    s.ints.clear();
    s.texts.clear();
    s.hostile = false;
    any_script = false;
    journal_on = true;
    ++reset_generation;
    s.rng = 0x9E3779B97F4A7C15ull;
}

void sim_set_hostile(int on) { st().hostile = on != 0; }

void sim_set_journal(int on) { journal_on = on != 0; }

void sim_fail(const char* fn, ViStatus status, int times) {
    any_script = true;
    std::lock_guard<std::mutex> g(st().lock);
    Script& sc = st().scripts[fn];
    sc.status = status;
    sc.times = times;
}

void sim_set_output_int(const char* fn, int param, long long value) {
    any_script = true;
    std::lock_guard<std::mutex> g(st().lock);
    st().scripts[fn].outputs[param] = arg_of(value);
}

void sim_set_output_real(const char* fn, int param, double value) {
    any_script = true;
    std::lock_guard<std::mutex> g(st().lock);
    st().scripts[fn].outputs[param] = arg_of(value);
}

void sim_set_output_text(const char* fn, int param, const char* text) {
    any_script = true;
    std::lock_guard<std::mutex> g(st().lock);
    Arg a{Arg::Text};
    a.s = text ? text : "";
    st().scripts[fn].outputs[param] = a;
}

void sim_push_error(const char* driver, ViInt32 code, const char* message) {
    push_error(driver, code, message ? message : "");
}

int sim_session_count(void) {
    std::lock_guard<std::mutex> g(st().lock);
    return (int)st().sessions.size();
}

int sim_journal_size(void) {
    std::lock_guard<std::mutex> g(st().lock);
    return (int)st().journal.size();
}

int sim_journal_entry(int index, char* buf, int size) {
    std::lock_guard<std::mutex> g(st().lock);
    auto& j = st().journal;
    if (index < 0 || (size_t)index >= j.size()) return -1;
    const std::string& e = j[index];
    if (buf && size > 0) {
        size_t n = e.size() < (size_t)size - 1 ? e.size() : (size_t)size - 1;
        std::memcpy(buf, e.data(), n);
        buf[n] = 0;
    }
    return (int)e.size();
}

void sim_journal_clear(void) {
    std::lock_guard<std::mutex> g(st().lock);
    st().journal.clear();
}

int sim_function_names(char* buf, int size) {
    static const std::string names = driver_functions();
    if (buf && size > 0) {
        size_t n = names.size() < (size_t)size - 1 ? names.size() : (size_t)size - 1;
        std::memcpy(buf, names.data(), n);
        buf[n] = 0;
    }
    return (int)names.size();
}
}
