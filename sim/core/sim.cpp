#include "sim.hpp"
#include "bench.hpp"

#if defined(__linux__)
#include <dlfcn.h>
#include <link.h>
#endif
#if !defined(_WIN32)
#include <dlfcn.h>
#include <pthread.h>
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
#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <unordered_map>
#include <mutex>
#include <thread>

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

// The model lock: every driver call and control function runs under it.
// Recursive by an owner and a count over a plain mutex, which the child of a
// fork() can release (glibc's recursive mutexes remember the owner's kernel
// thread id, which the child no longer has; its thread keeps its pthread id).
class ModelLock {
public:
    void lock() {
        std::thread::id me = std::this_thread::get_id();
        if (owner_.load(std::memory_order_relaxed) == me) {
            ++count_;
            return;
        }
        m_.lock();
        owner_.store(me, std::memory_order_relaxed);
        count_ = 1;
    }
    void unlock() {
        if (--count_) return;
        owner_.store(std::thread::id(), std::memory_order_relaxed);
        m_.unlock();
    }

private:
    std::mutex m_;
    std::atomic<std::thread::id> owner_{};
    int count_ = 0;
};
using Guard = std::lock_guard<ModelLock>;

struct Session {
    const Instrument* instrument;
    int driver;
};

// The journal's entries, each ended by a zero byte, packed in blocks of
// 1 MiB (a longer entry gets a block of its own), and where each begins:
// an entry costs its length + 1 bytes and a pointer. Cleared by reset and
// sim_journal_clear, which start a new generation.
class Journal {
public:
    void add(const std::string& e) {
        size_t n = e.size() + 1;
        if (room_ < n) {
            size_t cap = std::max(n, block);
            blocks_.emplace_back(new char[cap]);
            at_ = blocks_.back().get();
            room_ = cap;
        }
        std::memcpy(at_, e.c_str(), n);
        starts_.push_back(at_);
        at_ += n;
        room_ -= n;
    }
    size_t size() const { return starts_.size(); }
    const char* operator[](size_t i) const { return starts_[i]; }
    void clear() {
        starts_.clear();
        blocks_.clear();
        at_ = nullptr;
        room_ = 0;
    }

private:
    static constexpr size_t block = 1 << 20;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::deque<const char*> starts_;  // no reallocation of one huge array under the lock
    char* at_ = nullptr;
    size_t room_ = 0;
};

struct State {
    ModelLock lock;
    Journal journal;
    long long journal_generation = 0;          // bumped by every clear
    store<long long> counts;                   // journaled calls of each function
    std::unordered_map<const char*, long long*> count_of;  // the same, by the name's address (the export's literal)
    std::string line;                          // the entry being written
    std::map<std::string, Script> scripts;
    std::unordered_map<ViSession, Session> sessions;
    std::unordered_map<ViSession, double> timeouts;  // seconds, per session and VISA object
    ViSession next[drivers];  // next session number of each driver, less its range
    std::map<std::string, std::deque<Error>> errors;
    store<double> reals;
    store<long long> ints;
    store<std::string> texts;
    bool hostile = false;
    uint64_t rng = 0x9E3779B97F4A7C15ull;
    std::map<std::string, double, std::less<>> delays;
    double pace = 0;
    long long overlaps = 0;
    std::vector<std::string> overlap_pairs;    // all of them, "entering\x1finside"
    std::vector<std::string> gil_calls;        // distinct names, first-seen order
    const char* gil_seen[2048] = {};           // their name pointers, hashed (open addressing)
    std::string names;                         // sim_function_names, read once
    bool names_read = false;
    State() { clear(); }
    void clear() {
        clear_journal();
        scripts.clear();
        sessions.clear();
        timeouts.clear();
        for (ViSession& n : next) n = 0;
        errors.clear();
        reals.clear();
        ints.clear();
        texts.clear();
        hostile = false;
        rng = 0x9E3779B97F4A7C15ull;
        delays.clear();
        pace = 0;
        overlaps = 0;
        overlap_pairs.clear();
        gil_calls.clear();
        std::fill(std::begin(gil_seen), std::end(gil_seen), nullptr);
    }
    void clear_journal() {
        journal.clear();
        counts.clear();
        count_of.clear();
        ++journal_generation;
    }
};

State& st() {
    static State* s = new State;  // never destroyed: drivers may be called during exit
    return *s;
}

// Calls inside each driver library now (in delays too), and the function
// that entered last: atomics, read without the model lock.
std::atomic<int> inside[drivers];
std::atomic<const char*> entered[drivers];
std::atomic<bool> any_delay{false};

// ---- the Python interpreter lock --------------------------------------------------
// Found in the process at load: Python 3's PyGILState_Check, or on 2.7 its
// current thread state compared with the calling thread's.
struct Python {
    int (*check)() = nullptr;
    void* (*this_thread)() = nullptr;
    void* volatile* current = nullptr;
    Python() {
#if !defined(_WIN32)
        check = (int (*)())dlsym(RTLD_DEFAULT, "PyGILState_Check");
        if (check) return;
        this_thread = (void* (*)())dlsym(RTLD_DEFAULT, "PyGILState_GetThisThreadState");
        current = (void* volatile*)dlsym(RTLD_DEFAULT, "_PyThreadState_Current");
        if (!this_thread || !current) this_thread = nullptr, current = nullptr;
#endif
    }
    bool found() const { return check || current; }
    bool held() const {
        if (check) return check() != 0;
        if (!current) return false;
        void* t = *current;
        return t && t == this_thread();
    }
};
const Python python;

// The longest a call waits: a delay is at most this, and a modelled time
// under the pace beyond it is waited as this. The pace's own limit keeps the
// longest sweep the drivers model (about 400 s) below it.
const double max_wait = 86400;  // one day
const double max_pace = 100;

// Waits `seconds` at least (at most max_wait).
void pause(double seconds) {
    using clock = std::chrono::steady_clock;
    seconds = std::min(seconds, max_wait);
    auto end = clock::now() + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(seconds));
    for (auto now = clock::now(); now < end; now = clock::now()) std::this_thread::sleep_for(end - now);
}

#if !defined(_WIN32)
// fork(): the child gets the core unlocked and no calls inside (the threads
// that made them do not exist there).
void before_fork() { st().lock.lock(); }
void after_fork_parent() { st().lock.unlock(); }
void after_fork_child() {
    for (auto& n : inside) n.store(0);
    st().lock.unlock();
}
const bool fork_handlers = pthread_atfork(before_fork, after_fork_parent, after_fork_child) == 0;
#endif

// INSTRSIM_JOURNAL_AT_EXIT=<file>: the journal is written there when the
// process exits through C exit() or quick_exit(), for tests of paths that
// end the process.
void dump_journal_at_exit() {
    static std::atomic<bool> done{false};
    if (done.exchange(true)) return;
    const char* path = std::getenv("INSTRSIM_JOURNAL_AT_EXIT");
    FILE* f = path ? std::fopen(path, "w") : nullptr;
    if (!f) return;
    Guard g(st().lock);
    const Journal& j = st().journal;
    for (size_t i = 0; i < j.size(); ++i) std::fprintf(f, "%s\n", j[i]);
    std::fclose(f);
}
const bool dump_registered = std::getenv("INSTRSIM_JOURNAL_AT_EXIT") && std::atexit(dump_journal_at_exit) == 0
#if !defined(_WIN32)
                             && std::at_quick_exit(dump_journal_at_exit) == 0
#endif
    ;

}  // namespace

bool same_resource(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char x = (unsigned char)*a, y = (unsigned char)*b;
        if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
        if (x != y) return false;
        if (!x) return true;
    }
}

namespace {

constexpr int number_of(const char* f) {
    if (!f) return -1;
    switch (f[0]) {  // the simulated drivers' own names only: a few characters tell them apart
    case 'h': return f[1] != 'p' || !f[2] || !f[3] || !f[4] ? -1 : f[5] == 'x' ? 0 : f[5] == '9' ? 3 : -1;
    case 'K': return f[1] == 'E' ? 1 : -1;
    case 'P': return f[1] == 'M' ? 2 : -1;
    case 'v': return f[1] == 'i' ? 4 : -1;
    }
    return -1;
}

// Every driver of drivers.def, by its name and its prefix, has its row's number.
constexpr const char* driver_rows[][2] = {
#define SIM_DRIVER(name, prefix, header, target, file, idn) {name, prefix},
#include "drivers.def"
#undef SIM_DRIVER
};
constexpr bool numbered() {
    for (int d = 0; d < drivers; ++d)
        if (number_of(driver_rows[d][0]) != d || number_of(driver_rows[d][1]) != d) return false;
    return true;
}
static_assert(numbered(), "driver_of does not tell the drivers of drivers.def apart in their order");

}  // namespace

int driver_of(const char* f) { return number_of(f); }

// A new session's timeout: 10 s for the instrument drivers (VISA sets its own).
const double default_timeout = 10.0;

ViSession open(const char* driver, const char* resource) {
    int d = driver_of(driver);
    if (!resource || d < 0) return 0;
    State& s = st();
    Guard g(s.lock);
    for (const Instrument& in : instruments())
        if (std::strcmp(in.driver, driver) == 0 && same_resource(in.resource, resource)) {
            ViSession h;
            do h = session_base(d) + s.next[d]++ % (0x01000000 - 0x1001);  // within the driver's range
            while (s.sessions.count(h));
            s.sessions[h] = {&in, d};
            s.timeouts[h] = default_timeout;
            return h;
        }
    return 0;
}

void set_timeout(ViSession h, double seconds) {
    Guard g(st().lock);
    st().timeouts[h] = seconds;
}

double timeout(ViSession h) {
    Guard g(st().lock);
    auto it = st().timeouts.find(h);
    return it == st().timeouts.end() ? -1 : it->second;
}

void forget_timeout(ViSession h) {
    Guard g(st().lock);
    st().timeouts.erase(h);
}

// ---- index tables ----------------------------------------------------------------
namespace {
struct Rules {
    ViStatus instrument_error;
    std::vector<Index> entries;  // of one function
};
// By function name, registered by the drivers as they load; and by the
// function name's address (the export's literal), found once.
std::map<std::string, Rules, std::less<>>& rules_by_name() {
    static auto* m = new std::map<std::string, Rules, std::less<>>;
    return *m;
}
std::unordered_map<const char*, const Rules*>& rules_by_address() {
    static auto* m = new std::unordered_map<const char*, const Rules*>;
    return *m;
}
}  // namespace

bool indexes(const char* driver, ViStatus instrument_error, const Index* table, size_t n) {
    (void)driver;
    Guard g(st().lock);
    for (size_t i = 0; i < n; ++i) {
        Rules& r = rules_by_name()[table[i].function];
        r.instrument_error = instrument_error;
        r.entries.push_back(table[i]);
    }
    rules_by_address().clear();
    return true;
}

bool valid(ViSession h, const char* driver) {
    State& s = st();
    Guard g(s.lock);
    auto it = s.sessions.find(h);
    return it != s.sessions.end() && it->second.driver == driver_of(driver);
}

bool close(ViSession h, const char* driver) {
    State& s = st();
    Guard g(s.lock);
    auto it = s.sessions.find(h);
    if (it == s.sessions.end() || it->second.driver != driver_of(driver)) return false;
    s.sessions.erase(it);
    s.timeouts.erase(h);
    return true;
}

const Instrument* instrument(ViSession h) {
    State& s = st();
    Guard g(s.lock);
    auto it = s.sessions.find(h);
    return it == s.sessions.end() ? nullptr : it->second.instrument;
}

Arg arg_of(const char* text) {
    if (!text) return Arg{Arg::Null};
    Arg a{Arg::Text};
    a.s.assign(text, strnlen(text, 1024));
    return a;
}

static std::atomic<bool> journal_on{true};
// The journal starts as the bench loaded at load says ("journal": false).
static const bool journal_at_load = (journal_on = bench_journal(), true);
static std::atomic<unsigned> reset_generation{1};

unsigned generation() { return reset_generation.load(std::memory_order_relaxed); }
static std::atomic<bool> any_script{false};

bool Call::journaling() { return journal_on.load(std::memory_order_relaxed); }
bool Call::scripting() { return any_script.load(std::memory_order_relaxed); }

void Call::enter() {
    driver_ = driver_of(fn_);
    const char* other = nullptr;  // a call already inside this driver library
    if (driver_ >= 0) {
        const char* last = entered[driver_].load(std::memory_order_relaxed);
        if (inside[driver_].fetch_add(1) > 0) other = last ? last : "?";
        entered[driver_].store(fn_, std::memory_order_relaxed);
    }
    bool gil = python.held();
    State& s = st();
    if (any_delay.load(std::memory_order_relaxed)) {
        double delay = 0, limit = -1;
        {
            Guard g(s.lock);
            auto it = s.delays.find(std::string_view(fn_));
            if (it != s.delays.end()) delay = it->second;
            auto t = nints_ ? s.timeouts.find((ViSession)ints_[0]) : s.timeouts.end();
            if (delay > 0 && t != s.timeouts.end()) limit = t->second;
        }
        if (limit >= 0 && delay > limit) {  // the session gives up first
            delay = limit;
            timed_out_ = true;
        }
        if (delay > 0) pause(delay);
    }
    s.lock.lock();
    if (other) {
        ++s.overlaps;
        s.overlap_pairs.push_back(std::string(fn_) + '\x1f' + other);
    }
    if (gil) {
        const size_t n = sizeof s.gil_seen / sizeof s.gil_seen[0];
        size_t i = (std::hash<const void*>()(fn_) >> 3) % n;
        while (s.gil_seen[i] && s.gil_seen[i] != fn_) i = (i + 1) % n;
        if (!s.gil_seen[i] && s.gil_calls.size() < n - 1) {
            s.gil_seen[i] = fn_;
            s.gil_calls.push_back(fn_);
        }
    }
}

void Call::leave() {
    double wait = wait_;
    st().lock.unlock();
    if (wait > 0) pause(wait);
    if (driver_ >= 0) inside[driver_].fetch_sub(1);
}

void Call::take(double seconds) {
    double pace = st().pace;
    if (seconds > 0 && pace > 0) wait_ = std::min(wait_ + seconds * pace, max_wait);
}

void Call::capture(const Out* outs, int n) {
    for (int i = 0; i < n && nouts_ < 16; ++i)
        if (outs[i].kind != Out::None && outs[i].p) outs_[nouts_++] = outs[i];
}

void Call::record(const Arg* args, int n) {
    State& s = st();
    std::string& line = s.line;
    line = fn_;
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
    s.journal.add(line);
    auto c = s.count_of.find(fn_);
    if (c == s.count_of.end()) {
        auto k = s.counts.find(std::string_view(fn_));
        if (k == s.counts.end()) k = s.counts.emplace(fn_, 0).first;
        c = s.count_of.emplace(fn_, &k->second).first;
    }
    ++*c->second;
}

bool Call::session(ViSession h) {
    State& s = st();
    auto it = s.sessions.find(h);
    if (it == s.sessions.end() || it->second.driver != driver_) {
        status_ = VI_ERROR_INV_OBJECT;
        return false;
    }
    if (timed_out_) {
        status_ = VI_ERROR_TMO;
        return false;
    }
    return check_indexes(*it->second.instrument);
}

ViSession Call::open(const char* driver, const char* resource, ViSession* out) {
    ViSession h = sim::open(driver, resource);
    if (out) *out = h;
    if (!h) status_ = VI_ERROR_RSRC_NFOUND;
    return h;
}

bool Call::check_indexes(const Instrument& in) {
    auto& cache = rules_by_address();
    auto found = cache.find(fn_);
    if (found == cache.end()) {
        auto r = rules_by_name().find(std::string_view(fn_));
        found = cache.emplace(fn_, r == rules_by_name().end() ? nullptr : &r->second).first;
    }
    const Rules* rules = found->second;
    if (!rules) return true;
    for (const Index& x : rules->entries) {
        if (x.slot >= nints_ || x.channel >= nints_) continue;
        long long slot = ints_[x.slot];
        if (slot < 0 || slot >= (long long)in.slots.size()) {
            status_ = VI_ERROR_PARAMETER1 + x.slot;
            return false;
        }
        unsigned module = in.slots[(size_t)slot];
        if (!(module & x.modules)) {
            push_error(in.driver, -241, "Hardware missing");
            status_ = rules->instrument_error;
            return false;
        }
        if (x.channel >= 0 && (ints_[x.channel] < 0 || ints_[x.channel] >= channels(module))) {
            status_ = VI_ERROR_PARAMETER1 + x.channel;
            return false;
        }
    }
    return true;
}

ViStatus Call::done() {
    if (wait_ > 0 && nints_) {  // modelled time beyond the session's timeout
        auto t = st().timeouts.find((ViSession)ints_[0]);
        if (t != st().timeouts.end() && t->second >= 0 && wait_ > t->second) {
            wait_ = t->second;
            timed_out_ = true;
        }
    }
    if (timed_out_) status_ = VI_ERROR_TMO;
    if (!any_script.load(std::memory_order_relaxed)) return status_;
    State& s = st();
    auto it = s.scripts.find(fn_);
    if (it == s.scripts.end()) return status_;
    Script& sc = it->second;
    for (int i = 0; i < nouts_; ++i) {
        auto o = sc.outputs.find(outs_[i].index);
        if (o == sc.outputs.end()) continue;
        const Arg& v = o->second;
        long long iv = v.kind == Arg::Real ? (long long)v.d : v.i;
        switch (outs_[i].kind) {
        case Out::i16: *(int16_t*)outs_[i].p = (int16_t)iv; break;
        case Out::u16: *(uint16_t*)outs_[i].p = (uint16_t)iv; break;
        case Out::i32: *(int32_t*)outs_[i].p = (int32_t)iv; break;
        case Out::u32: *(uint32_t*)outs_[i].p = (uint32_t)iv; break;
        case Out::f64: *(double*)outs_[i].p = v.kind == Arg::Real ? v.d : (double)v.i; break;
        case Out::text: std::memcpy(outs_[i].p, v.s.c_str(), v.s.size() + 1); break;
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
    Guard g(s.lock);
    auto& q = s.errors[driver];
    if (q.size() < limit) q.push_back({code, msg});
    else q.back() = {-350, "Queue overflow"};
}

Error pop_error(const char* driver) {
    State& s = st();
    Guard g(s.lock);
    auto& q = s.errors[driver];
    if (q.empty()) return {0, "No error"};
    Error e = q.front();
    q.pop_front();
    return e;
}

size_t error_count(const char* driver) {
    State& s = st();
    Guard g(s.lock);
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
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        const char* name = (const char*)(base + names[i]);
        if (std::strncmp(name, "instrsim_", 9) != 0) out.append(name).push_back('\n');  // the mark is data
    }
}
#endif

// The functions the simulated driver libraries beside this core export.
std::string driver_functions() {
    std::string out;
#if defined(__linux__)
    std::string dir = core_directory();
    for (const char* lib : {
#define SIM_DRIVER(name, prefix, header, target, file, idn) file,
#include "drivers.def"
#undef SIM_DRIVER
         }) {
        void* h = dlopen((dir + lib).c_str(), RTLD_LAZY | RTLD_LOCAL);
        if (!h) continue;
        struct link_map* map = nullptr;
        if (dlinfo(h, RTLD_DI_LINKMAP, &map) == 0 && map) append_functions(map, out);
        dlclose(h);
    }
#elif defined(_WIN32)
    std::string dir = core_directory();
    for (const char* lib : {
#define SIM_DRIVER(name, prefix, header, target, file, idn) target ".dll",
#include "drivers.def"
#undef SIM_DRIVER
         }) {
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
    Guard g(s.lock);
    s.clear();
    any_script = false;
    any_delay = false;
    journal_on = bench_journal();
    ++reset_generation;
}

namespace {
std::string config_error;
}

int sim_configure(const char* path) {
    std::string error;
    std::unique_ptr<Bench> bench = default_bench(path && *path ? path : nullptr, error);
    Guard g(st().lock);
    if (!bench) {
        config_error = error;
        return -1;
    }
    config_error.clear();
    install_bench(std::move(bench));
    sim_reset();
    return 0;
}

int sim_config_error(char* buf, int size);

void sim_set_hostile(int on) {
    Guard g(st().lock);
    st().hostile = on != 0;
}

void sim_set_journal(int on) { journal_on = on != 0; }

int sim_journal_enabled(void) { return journal_on ? 1 : 0; }

void sim_fail(const char* fn, ViStatus status, int times) {
    Guard g(st().lock);
    any_script = true;
    Script& sc = st().scripts[fn];
    sc.status = status;
    sc.times = times;
}

void sim_set_output_int(const char* fn, int param, long long value) {
    Guard g(st().lock);
    any_script = true;
    st().scripts[fn].outputs[param] = arg_of(value);
}

void sim_set_output_real(const char* fn, int param, double value) {
    Guard g(st().lock);
    any_script = true;
    st().scripts[fn].outputs[param] = arg_of(value);
}

void sim_set_output_text(const char* fn, int param, const char* text) {
    Guard g(st().lock);
    any_script = true;
    Arg a{Arg::Text};
    a.s = text ? text : "";
    st().scripts[fn].outputs[param] = a;
}

void sim_push_error(const char* driver, ViInt32 code, const char* message) {
    push_error(driver, code, message ? message : "");
}

int sim_session_count(void) {
    Guard g(st().lock);
    return (int)st().sessions.size();
}

int sim_journal_size(void) {
    Guard g(st().lock);
    return (int)std::min(st().journal.size(), (size_t)INT32_MAX);
}

int sim_journal_mark(long long* generation) {
    Guard g(st().lock);
    if (generation) *generation = st().journal_generation;
    return (int)std::min(st().journal.size(), (size_t)INT32_MAX);
}

int sim_journal_read(long long generation, int start, int end, char* buf, int size) {
    State& s = st();
    Guard g(s.lock);
    if (generation != s.journal_generation) return -1;
    if (start < 0 || !buf || size <= 0) return 0;
    size_t last = std::min((size_t)std::max(end, 0), s.journal.size()), used = 0;
    for (size_t i = (size_t)start; i < last; ++i) {
        const char* e = s.journal[i];
        size_t n = std::strlen(e) + 1;
        if (n > (size_t)size - used) break;
        std::memcpy(buf + used, e, n);
        used += n;
    }
    return (int)used;
}

long long sim_journal_count(const char* fn) {
    State& s = st();
    Guard g(s.lock);
    auto it = fn ? s.counts.find(std::string_view(fn)) : s.counts.end();
    return it == s.counts.end() ? 0 : it->second;
}

// Copies `text` into buf (cut to fit, with its zero byte); its full length.
static int copy_out(const std::string& text, char* buf, int size) {
    if (buf && size > 0) {
        size_t n = text.size() < (size_t)size - 1 ? text.size() : (size_t)size - 1;
        std::memcpy(buf, text.data(), n);
        buf[n] = 0;
    }
    return (int)text.size();
}

int sim_journal_entry(int index, char* buf, int size) {
    Guard g(st().lock);
    auto& j = st().journal;
    if (index < 0 || (size_t)index >= j.size()) return -1;
    return copy_out(j[(size_t)index], buf, size);
}

void sim_journal_clear(void) {
    Guard g(st().lock);
    st().clear_journal();
}

int sim_function_names(char* buf, int size) {
    State& s = st();
    Guard g(s.lock);
    if (!s.names_read) s.names = driver_functions();
    s.names_read = true;
    return copy_out(s.names, buf, size);
}

int sim_set_delay(const char* fn, double seconds) {
    if (!fn || !(seconds <= max_wait)) return -1;  // NaN too
    State& s = st();
    Guard g(s.lock);
    if (seconds > 0) s.delays[fn] = seconds;
    else s.delays.erase(std::string(fn));
    any_delay = !s.delays.empty();
    return 0;
}

int sim_set_pace(double factor) {
    if (!(factor <= max_pace)) return -1;
    Guard g(st().lock);
    st().pace = factor > 0 ? factor : 0;
    return 0;
}

double sim_max_delay(void) { return max_wait; }
double sim_max_pace(void) { return max_pace; }

int sim_config_error(char* buf, int size) {
    Guard g(st().lock);
    return copy_out(config_error, buf, size);
}

int sim_overlap_count(void) {
    Guard g(st().lock);
    return (int)std::min(st().overlaps, (long long)INT32_MAX);
}

int sim_overlap(int index, char* buf, int size) {
    Guard g(st().lock);
    auto& o = st().overlap_pairs;
    if (index < 0 || (size_t)index >= o.size()) return -1;
    return copy_out(o[index], buf, size);
}

int sim_gil_held_calls(char* buf, int size) {
    Guard g(st().lock);
    std::string names;
    for (const std::string& n : st().gil_calls) names.append(n).push_back('\n');
    return copy_out(names, buf, size);
}

int sim_gil_detection(void) { return python.found() ? 1 : 0; }
}
