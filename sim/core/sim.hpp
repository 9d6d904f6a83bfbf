// Common core of the simulated driver libraries: sessions over the simulated
// instruments of the bench (bench.json or INSTRSIM_CONFIG), a journal of every
// driver call, scripted statuses, outputs and instrument errors, the drivers'
// slot and channel tables, session timeouts, a value store, and a hostile mode.
//
// A simulated driver function is its body, after the export generated from
// the driver tables (<driver>_exports.cpp) has made the call `c`, of the
// driver's type `Call` (journal, scripted behaviour, delay), and checked its
// session, timeout, slot and channel (Call::session: a refused call returns
// there, unless the header marks the session BIND_ANY_SESSION):
//
//   ViStatus body_hp816x_get_TLS_power_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* unit, ...) {
//       *unit = sim::integer(sim::key("TLS", slot, "unit"), 0);
//       return c.done();  // scripted status/outputs applied here
//   }
//
// `Call` is named in the driver's namespace, in the header <driver>.hpp
// beside its sources, which then includes the bodies' declarations
// (<driver>_bodies.h): sim::Call, or a class derived from it whose session()
// checks the driver's own state.
//
// Threads: calls into different simulated drivers may run at once. A Call
// holds the core's one "model" lock from its constructor (after any delay the
// test set for the function) to its destructor, so everything a driver
// function does with the core (sessions, value store, error queues, noise)
// and with state of its own runs under it: driver code needs no locks. The
// control functions (sim_*) take the same lock.
#ifndef INSTR_SIM_HPP
#define INSTR_SIM_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "visatypes.h"

#if defined(_WIN32)
#ifdef INSTRSIM_BUILD
#define SIM_CORE_API __declspec(dllexport)
#else
#define SIM_CORE_API __declspec(dllimport)
#endif
#else
#define SIM_CORE_API __attribute__((visibility("default")))
#endif

namespace sim {

// ---- the simulated instruments -------------------------------------------
// Module kinds a mainframe slot holds, as bits (a function may address several).
enum Module : unsigned {
    NoModule = 0,
    TunableLaser = 1,
    DualPowerMeter = 2,
    PowerMeter = 4,
    Attenuator = 8,
    ReturnLoss = 16,
    FixedLaser = 32,
    Switch = 64,
    PowerMeters = DualPowerMeter | PowerMeter,
    AnyModule = 127,
};
// Channels of a module: 2 for the dual power meter, else 1 (0 for none).
constexpr int channels(unsigned module) { return module == DualPowerMeter ? 2 : module ? 1 : 0; }
// Name of a module kind as the bench file writes it ("tunable laser", ...).
SIM_CORE_API const char* module_name(unsigned module);

struct Instrument {
    const char* resource;  // VISA resource name
    const char* driver;    // driver prefix: "hp816x", "KE2400", "PM100D", "hp8169"
    const char* idn;       // *IDN? answer
    std::vector<unsigned> slots;  // mainframes: the module in each slot (NoModule: empty)
};
// The bench: the instruments of the bench file (INSTRSIM_CONFIG, sim_configure,
// else bench.json beside the core, else the built-in one). A bench, once
// loaded, is never freed: pointers into it stay valid after another is loaded.
SIM_CORE_API const std::vector<Instrument>& instruments();
SIM_CORE_API bool same_resource(const char* a, const char* b);  // resource names ignore case

// ---- drivers and sessions ---------------------------------------------------
// The simulated driver libraries, by the prefix of their functions, numbered
// in the order of drivers.def (0 hp816x_ ... 4 vi); -1 for none.
constexpr int drivers = 0
#define SIM_DRIVER(name, prefix, header, target, file, idn) +1
#include "drivers.def"
#undef SIM_DRIVER
    ;
SIM_CORE_API int driver_of(const char* function_or_prefix);
// Session numbers of driver d are d * 0x01000000 + 0x1001 and up, so numbers
// of different drivers never coincide (VISA's own objects included).
constexpr ViSession session_base(int d) { return (ViSession)d << 24 | 0x1001; }

// Each driver knows only its own sessions: `driver` is its prefix
// ("hp816x", "KE2400", "PM100D", "hp8169").
// Opens a session of `driver` on `resource` (exact match, case-insensitive);
// 0 if no such instrument of that driver.
SIM_CORE_API ViSession open(const char* driver, const char* resource);
SIM_CORE_API bool valid(ViSession s, const char* driver);
SIM_CORE_API bool close(ViSession s, const char* driver);
SIM_CORE_API const Instrument* instrument(ViSession s);  // null for unknown sessions

// ---- indexed arguments -----------------------------------------------------
// A driver's table of the functions that address a slot (and a channel of its
// module): positions count the C parameters from 0 (the session). Checked by
// Call::session: a slot outside the mainframe or a channel the module lacks is
// a parameter error of its position (VI_ERROR_PARAMETER1 + position); an
// empty slot or a module of another kind queues the instrument's -241
// "Hardware missing" and returns `instrument_error`.
struct Index {
    const char* function;  // with its driver prefix
    int slot;              // position of the slot
    unsigned modules;      // kinds of module it addresses (Module bits)
    int channel;           // position of the channel, -1 for none
};
// Registers the table (static storage) of `driver`; for a static initializer.
SIM_CORE_API bool indexes(const char* driver, ViStatus instrument_error, const Index* table, size_t n);

// ---- timeouts ----------------------------------------------------------------
// Every session (and VISA object) has a timeout: a call on it whose time
// (sim_set_delay, and the modelled time under sim_set_pace) is longer returns
// VI_ERROR_TMO once the timeout has passed. Sessions opened by sim::open get
// their driver's default (10 s); VISA sets its own. seconds < 0: none.
SIM_CORE_API void set_timeout(ViSession h, double seconds);
SIM_CORE_API double timeout(ViSession h);  // < 0: none
SIM_CORE_API void forget_timeout(ViSession h);

// ---- journal arguments ------------------------------------------------------
// Pointer arguments that the driver writes are journaled as present/null only;
// wrap char* output buffers in sim::out() so they are not read as input text.
struct OutText { const char* p; };
inline OutText out(char* p) { return {p}; }

struct Arg {
    enum Kind { Int, Real, Text, Ptr, Null } kind;
    long long i = 0;
    double d = 0;
    std::string s;
};
// Output pointers captured for scripting (by parameter position, from 0), of
// the numbers' record kinds.
struct Out {
    int index;
    enum Kind { None, i16, u16, i32, u32, f64, text } kind;
    void* p;
};

inline Arg arg_of(long long v) { Arg a{Arg::Int}; a.i = v; return a; }
SIM_CORE_API Arg arg_of(const char* text);  // input text (null -> Null)
inline Arg arg_of(char* text) { return arg_of((const char*)text); }
inline Arg arg_of(OutText t) { return Arg{t.p ? Arg::Ptr : Arg::Null}; }
template <class T> Arg arg_of(T* p) { return Arg{p ? Arg::Ptr : Arg::Null}; }
inline Out out_of(int i, OutText t) { return {i, Out::text, (void*)t.p}; }
template <class T> Out out_of(int i, const T&) { return {i, Out::None, nullptr}; }

// The numbers of the type legend (visatypes.def): an integer journaled as Int,
// a real as Real; an output by its record kind.
#define SIM_NUMBER(t, record, journal, value)                                 \
    inline Arg arg_of(t v) { Arg a{Arg::journal}; a.value = v; return a; } \
    inline Out out_of(int i, t* p) { return {i, Out::record, p}; }
#define SIM_int(t, record) SIM_NUMBER(t, record, Int, i)
#define SIM_real(t, record) SIM_NUMBER(t, record, Real, d)
#define SIM_text(t, record)
#define SIM_none(t, record)
#define VISA_TYPE(name, type, kind, stub, record) SIM_##kind(name, record)
#include "visatypes.def"
#undef SIM_NUMBER
#undef SIM_int
#undef SIM_real
#undef SIM_text
#undef SIM_none

// Integer arguments as the index check and the timeout see them (0 for others).
template <class T> inline long long int_of(T v) {
    if constexpr (std::is_integral<T>::value) return (long long)v;
    else return 0;
}

// ---- one driver call ----------------------------------------------------------
// `fn` is the driver function's name: it selects the driver.
// Entering: the call counts as inside its driver library (a second call into
// the same library meanwhile is an overlap, see sim_overlap), waits out the
// function's delay (sim_set_delay) without any lock, then takes the model
// lock until the destructor; the instrument time the call modelled (take())
// is waited after the lock is released.
class SIM_CORE_API Call {
public:
    template <class... A>
    Call(const char* fn, A... args) : fn_(fn) {
        constexpr int n = sizeof...(A) < 8 ? (int)sizeof...(A) : 8;
        if constexpr (n > 0) {
            long long v[] = {int_of(args)...};
            for (int i = 0; i < n; ++i) ints_[i] = v[i];
            nints_ = n;
        }
        enter();
        if (scripting()) {  // outputs are only needed for scripted values
            int i = 0;
            Out o[] = {out_of(i++, args)..., Out{-1, Out::None, nullptr}};
            capture(o, sizeof...(A));
        }
        if (journaling()) {
            Arg a[] = {arg_of(args)..., Arg{Arg::Null}};
            record(a, sizeof...(A));
        }
    }
    ~Call() { leave(); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    // False (and status VI_ERROR_INV_OBJECT) for an unknown or closed session,
    // or one of another driver; VI_ERROR_TMO if the call outlasted the
    // session's timeout; the status of the driver's index table (sim::Index)
    // for a slot or channel the instrument lacks.
    bool session(ViSession s);
    bool session() { return session((ViSession)ints_[0]); }  // the first argument's
    // Opens a session of `driver` on `resource` into *out (if not null; 0 when
    // none): VI_ERROR_RSRC_NFOUND without such an instrument. The session, or 0.
    ViSession open(const char* driver, const char* resource, ViSession* out);
    // The call's delay outlasted the timeout of its first argument's session.
    bool timed_out() const { return timed_out_; }
    // Sets the status the call will return unless a test scripted another.
    void status(ViStatus st) { status_ = st; }
    ViStatus status() const { return status_; }
    // Applies scripted outputs and status; returns the status to hand back.
    ViStatus done();
    const char* name() const { return fn_; }
    // Instrument time this call models (a scan's sweep, a meter's averaging):
    // waited, times the pace factor (sim_set_pace, 0 by default), once the
    // call is done with the model.
    void take(double seconds);

private:
    void enter();
    void leave();
    void capture(const Out* outs, int n);
    void record(const Arg* args, int n);
    static bool journaling();
    static bool scripting();
    bool check_indexes(const Instrument& in);
    const char* fn_;
    int driver_ = -1;
    long long ints_[8] = {};
    int nints_ = 0;
    bool timed_out_ = false;
    double wait_ = 0;  // seconds to wait after the model lock is released
    ViStatus status_ = VI_SUCCESS;
    Out outs_[16];
    int nouts_ = 0;
};

// ---- writing outputs (hostile mode aware) ---------------------------------------
SIM_CORE_API bool hostile();
// Writes `text` into a buffer of `cap` bytes, cut to fit with its zero byte.
// Hostile: fills all `cap` bytes with non-zero characters, no zero byte.
SIM_CORE_API void put_text(char* buf, size_t cap, const std::string& text);
// A count the driver reports for an array of `cap` elements: n, or beyond the
// array in hostile mode.
SIM_CORE_API long long report_count(long long n, long long cap);

// ---- instrument error queue and last driver error, per driver prefix ------------
struct Error { ViInt32 code; std::string message; };
SIM_CORE_API void push_error(const char* driver, ViInt32 code, const std::string& msg);
// Pops the oldest instrument error; {0, "No error"} when empty.
SIM_CORE_API Error pop_error(const char* driver);
SIM_CORE_API size_t error_count(const char* driver);

// ---- value store (cleared by reset) ---------------------------------------------
SIM_CORE_API std::string key(const char* family, long long unit, const char* what);
SIM_CORE_API double& real(std::string_view k, double def = 0);
SIM_CORE_API long long& integer(std::string_view k, long long def = 0);
SIM_CORE_API std::string& text(std::string_view k, const std::string& def = "");
// The stored text of `k`, or null when nothing was stored.
SIM_CORE_API const std::string* find_text(std::string_view k);

// Bumped by every reset: values found before it are gone.
SIM_CORE_API unsigned generation();

// A stored value with a fixed key, found once per reset (used, as the whole
// store, only by driver code, under the model lock):
//   static sim::Var<long long> timeout("MF.timeout", 10000);  ... *timeout = v;
template <class T> class Var {
public:
    Var(const char* key, T def) : key_(key), def_(def) {}
    T& operator*() {
        if (!p_ || gen_ != generation()) {
            p_ = &find(key_, def_);
            gen_ = generation();
        }
        return *p_;
    }

private:
    static double& find(std::string_view k, double d) { return real(k, d); }
    static long long& find(std::string_view k, long long d) { return integer(k, d); }
    static std::string& find(std::string_view k, const std::string& d) { return text(k, d); }
    std::string key_;
    T def_;
    T* p_ = nullptr;
    unsigned gen_ = 0;
};

// ---- settings ----------------------------------------------------------------
// Status of parameter n (from 1, the session) out of range.
constexpr ViStatus param_error(int n) { return VI_ERROR_PARAMETER1 + (n - 1); }

// An instrument setting declared once: its place in the value store (key(family,
// unit, what)), its default and the values it takes, lo <= v <= hi (NaN never);
// without a range, any value.
//   const sim::Setting<double> rise_time{"TLS", "riseTime", 0.0, 0, 10};
//   rise_time.set(c, slot, t, 3);   // out of range: parameter 3's error, nothing stored
//   put(out, rise_time(slot));
template <class T> struct Setting {
    const char* family;
    const char* what;
    T def;
    double lo = -std::numeric_limits<double>::infinity(), hi = std::numeric_limits<double>::infinity();

    T& operator()(long long unit = 0) const { return find(key(family, unit, what), def); }
    template <class V> bool valid(V v) const { return (double)v >= lo && (double)v <= hi; }
    // False, with the error of parameter `param` as the call's status, for a value out of range.
    template <class V> bool check(Call& c, V v, int param) const {
        if (valid(v)) return true;
        c.status(param_error(param));
        return false;
    }
    template <class V> bool set(Call& c, long long unit, V v, int param) const {
        if (!check(c, v, param)) return false;
        (*this)(unit) = (T)v;
        return true;
    }

private:
    static double& find(std::string_view k, double d) { return real(k, d); }
    static long long& find(std::string_view k, long long d) { return integer(k, d); }
};

// Deterministic pseudo-random noise in [-1, 1): the same sequence after every reset.
SIM_CORE_API double noise();

}  // namespace sim

// ---- control API for tests (reached from Python with ctypes) ----------------------
// Every function takes the model lock: safe while driver calls run on other
// threads. A fork() while any of them (or a driver call) runs leaves the
// child with the core unlocked (pthread_atfork).
extern "C" {
// Back to power-on: sessions, journal, scripts, error queues, values,
// hostile mode, delays, pace, overlaps and GIL-held calls all cleared.
// Calls inside a driver meanwhile finish first (they hold the model lock);
// calls still in their delay go on afterwards on the fresh state (their
// sessions are then unknown).
SIM_CORE_API void sim_reset(void);
// Loads the bench file at `path` (null or "": the default bench) and resets,
// as sim_reset; 0, or -1 with nothing changed (sim_config_error tells why).
SIM_CORE_API int sim_configure(const char* path);
// Why the last sim_configure was refused, returned as sim_journal_entry does.
SIM_CORE_API int sim_config_error(char* buf, int size);
SIM_CORE_API void sim_set_hostile(int on);
// Journal on or off (the bench's "journal", on by default; reset goes back to
// it): off, a driver call costs a few nanoseconds (benchmarks, soak runs).
SIM_CORE_API void sim_set_journal(int on);
SIM_CORE_API int sim_journal_enabled(void);  // 1 if on
// Makes `fn` return `status` for its next `times` calls (times < 0: until reset).
SIM_CORE_API void sim_fail(const char* fn, ViStatus status, int times);
// Makes `fn` write `value` through its output parameter at position `param`
// (0-based, counting every parameter) on every call until reset.
SIM_CORE_API void sim_set_output_int(const char* fn, int param, long long value);
SIM_CORE_API void sim_set_output_real(const char* fn, int param, double value);
SIM_CORE_API void sim_set_output_text(const char* fn, int param, const char* text);
// Queues an instrument error for the driver with this prefix.
SIM_CORE_API void sim_push_error(const char* driver, ViInt32 code, const char* message);
SIM_CORE_API int sim_session_count(void);
// Journal: every call since reset or sim_journal_clear (none is dropped);
// entries "fn\x1f" + arguments separated by \x1f, each "i:<int>",
// "d:<real>", "s:<text>", "p" (pointer) or "n" (null); no zero byte.
// An entry costs its length + 1 bytes and a pointer in the core.
SIM_CORE_API int sim_journal_size(void);
SIM_CORE_API int sim_journal_entry(int index, char* buf, int size);
SIM_CORE_API void sim_journal_clear(void);
// A consistent read while other threads call and clear: sim_journal_mark
// gives the size and the journal's generation (a new one at every clear and
// reset); sim_journal_read copies whole entries from `start` up to `end`,
// each ended by a zero byte, as many as fit in `size` bytes, and returns the
// bytes copied: 0 when the entry at `start` does not fit (or none is left),
// -1 (nothing copied) once the journal of `generation` was cleared, which
// ends the read.
SIM_CORE_API int sim_journal_mark(long long* generation);
SIM_CORE_API int sim_journal_read(long long generation, int start, int end, char* buf, int size);
// Journaled calls of `fn` since the journal was last cleared, kept per
// function: constant time.
SIM_CORE_API long long sim_journal_count(const char* fn);
// The functions the simulated driver libraries export, one per line (empty
// where their symbol tables cannot be read); the length, as sim_journal_entry.
SIM_CORE_API int sim_function_names(char* buf, int size);
// Every later call of driver function `fn` takes at least `seconds` inside
// its driver, waited without the model lock (calls into other drivers go
// on meanwhile); 0 removes the delay. Until reset. 0, or -1 (nothing
// changed) for more than sim_max_delay() seconds or NaN.
SIM_CORE_API int sim_set_delay(const char* fn, double seconds);
// The instrument times the simulated drivers model (Call::take) are waited,
// multiplied by `factor`; 0 (the default, and after reset): not waited.
// 0, or -1 (nothing changed) for a factor above sim_max_pace() or NaN.
// A call never waits more than sim_max_delay(): a longer modelled time is
// waited as that (or the session's timeout, if shorter).
SIM_CORE_API int sim_set_pace(double factor);
SIM_CORE_API double sim_max_delay(void);  // one day
SIM_CORE_API double sim_max_pace(void);
// Calls that entered a driver library while another call into the same
// library was still inside it (delays included), since reset: how many, and
// entry `index` (all are kept) as "entering\x1falready inside", returned as
// sim_journal_entry does.
SIM_CORE_API int sim_overlap_count(void);
SIM_CORE_API int sim_overlap(int index, char* buf, int size);
// Driver functions called while the calling thread held the Python
// interpreter lock, since reset: distinct names, in first-seen order, one
// per line (as sim_function_names). Nothing is recorded where the
// interpreter cannot be found (Windows, no Python in the process).
SIM_CORE_API int sim_gil_held_calls(char* buf, int size);
// 1 if the interpreter's lock can be seen (GIL detection works), else 0.
SIM_CORE_API int sim_gil_detection(void);
}

#endif
