// Shared state of the simulated source-measure unit: sessions with their
// IVI settings, the attribute table, the error queue, and the device under
// test on the output terminals (a resistor in series with a diode).
#ifndef SIM_KE2400_HPP
#define SIM_KE2400_HPP

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ke2400.h"
#include "sim.hpp"

namespace ke2400 {

constexpr const char* driver = "KE2400";

// ---- attributes ------------------------------------------------------------------
enum Type { INT32, REAL64, STRING, SESSION, BOOLEAN };

struct Attr {
    ViAttr id;
    const char* name;
    Type type;
    bool writable;
    double lo, hi, def;     // valid range and default of numeric attributes
    const char* text;       // default of a String attribute
    const double* steps;    // ranges the value is coerced up to (null: none)
    int nsteps;
};
const Attr* find_attr(ViAttr id);
const char* type_name(Type t);

// ---- session state ------------------------------------------------------------------
// Everything a setup holds: what SaveSetup stores and a program step recalls.
struct Settings {
    std::map<ViAttr, double> num;           // Int32, Real64, Boolean and Session values
    std::map<ViAttr, std::string> str;      // String values
    std::map<std::string, double> extra;    // settings without an attribute of their own
    std::vector<double> list;               // source list (list mode)
};

struct Reading {
    double v, i, r, t;  // voltage, current, resistance, time stamp
    bool compliance;    // the source was held at its compliance limit
};

struct DriverError {
    ViStatus code, secondary;
    std::string elaboration;
};

struct State {
    Settings cfg;
    std::string resource, options;
    std::vector<Reading> last, buffer;      // last acquisition; reading buffer
    std::deque<DriverError> errors;         // GetError / GetErrorInfo
    std::deque<std::string> coercions, warnings;
    std::set<ViAttr> warned;                // interchange warnings are given once per attribute
    std::string reply;                      // instrument answer waiting for ReadInstrData
    std::map<int, Settings> steps;          // source memory program
    std::map<int, std::pair<int, int>> branches;  // location -> (condition, target)
    bool armed = false;                     // initiated, waiting for a software trigger
    int locks = 0;
    double clock = 0;                       // s since the session opened, for time stamps
};

double num(const State& st, ViAttr id);
std::string str(const State& st, ViAttr id);
double extra(const State& st, const char* key, double def);
void reset_settings(State& st);             // instrument defaults (*RST)

// Opens a session on `resource` with an option string; 0 and a status on failure.
ViSession open_session(const char* resource, const char* options, bool reset, ViStatus& status, std::string& why);
// Without a reset a new session finds the instrument as the last one left it.
State* state(ViSession s);                   // null unless a session of this driver
void end_session(ViSession s);               // the instrument keeps its settings
State& errors_of(ViSession s);               // the session's, or those of calls without one

// The instrument's own setup memory (SaveSetup / RecallSetup), per resource.
std::map<int, Settings>& setups(const std::string& resource);

// ---- one driver call ---------------------------------------------------------------------
// sim::Call that also keeps the reason of a failure for GetError: fail() sets
// the status and the elaboration, done() files every negative status,
// scripted ones included. Errors go to the session of the first argument (none
// for the openers, whose first is the resource).
class Call : public sim::Call {
public:
    template <class First, class... A>
    Call(const char* fn, First first, A... rest) : sim::Call(fn, first, rest...), vi_(session_of(first)) { sync(); }

    // A session of this driver, else VI_ERROR_INV_OBJECT with its reason (in
    // place of sim::Call's checks: a timeout shows in done()).
    bool session();
    State& st() { return *state_; }
    bool fail(ViStatus status, const std::string& why = "");  // always false
    bool null(const void* p, const char* what);               // fails for a null pointer
    void adopt(ViSession s) { vi_ = s; }    // session openers: errors go to the new session
    ViStatus done();

private:
    static ViSession session_of(ViSession s) { return s; }
    template <class T> static ViSession session_of(T) { return 0; }
    static void sync();                     // forgets everything after sim_reset
    ViSession vi_;
    State* state_ = nullptr;
    ViStatus failed_ = VI_SUCCESS;
    std::string why_;
};

// Range-checked settings.  All fail the call and return false on a bad value.
bool set_attr(Call& c, ViAttr id, double v, bool check_only = false);
bool set_text(Call& c, ViAttr id, const char* v, bool check_only = false);

// Settings of the setup without an attribute of their own (Settings::extra),
// declared as the core's settings: `what` names the value in the setup and in
// the reason of a refusal. They live in the session's setup, not in the value
// store: a setup is saved, recalled, stepped through and kept by the
// instrument as a whole.
using Extra = const sim::Setting<double>;
bool put(Call& c, Extra& s, double v);
double extra(const State& st, Extra& s);
// The same by a key built at the call (indexed settings: "limit 2 lower").
bool put(Call& c, const char* key, double v, double lo, double hi);

// Those the measurements read.
constexpr Extra math_enable{driver, "math enable", 0, 0, 1};
constexpr Extra math_operation{driver, "math operation", 0, 0, 2};  // 0 m*x+b, 1 percent, 2 a named expression
constexpr Extra math_m{driver, "math m", 1, -1e12, 1e12};
constexpr Extra math_b{driver, "math b", 0, -1e12, 1e12};
constexpr Extra math_percent_target{driver, "math percent target", 1, -1e12, 1e12};
constexpr Extra statistics_function{driver, "statistics function", 0, 0, 2};  // until set: the function measured
constexpr Extra srq_enable{driver, "srq enable", 0, 0, 1};
constexpr Extra compliance_fail_mode{driver, "compliance fail mode", 0, 0, 1};
constexpr Extra compliance_test_enable{driver, "compliance test enable", 0, 0, 1};
bool is_function(Call& c, ViInt32 f, ViInt32 last = KE2400_VAL_TIME);

// ---- texts ------------------------------------------------------------------------------------
std::string status_text(ViStatus st);
std::string num_text(double v);
// A text for a buffer of the caller's size (IVI rules, see ke2400.h): the status to return.
ViStatus put_sized(Call& c, char* buf, ViInt32 size, const std::string& text);
void push_line(std::deque<std::string>& q, const std::string& text);  // bounded queue

// ---- sourcing and measuring ----------------------------------------------------------------------
Reading measure(State& st, double level);   // one reading with the source at `level`
std::vector<Reading> acquire(State& st);    // one acquisition: trigger count x arm count points
double value_of(const State& st, const Reading& r, ViInt32 function);  // with rel and math
double source_level(const State& st);
double auto_range(ViInt32 function, double value);

template <class T, class V> inline void put_out(T* p, V v) {
    if (p) *p = (T)v;
}

}  // namespace ke2400

#include "KE2400_bodies.h"

#endif
