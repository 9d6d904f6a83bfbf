// Simulated TW-PC3 polarization controller: a polarizer, then a quarter-wave
// and a half-wave plate, each rotated to a position in degrees (0-180).
// The output state of polarization is ellipticity epsilon (-45..45 deg) and
// azimuth theta (0..180 deg); setting either turns the plates. The power
// meter on the bench reads light through the polarizer of the controller on
// GPIB0::9 (unit 0), see pm100d.cpp.
//
// Setters take a selector: 0 the value given, 1 minimum, 2 maximum, 3 default.
// Commands and queries go through a small table (answer() below).
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hp8169.hpp"

using hp8169::Call;

namespace {

constexpr const char* driver = "hp8169";
constexpr ViStatus err_param2 = (ViStatus)0xBFFC0002;
constexpr ViStatus err_param3 = (ViStatus)0xBFFC0003;
constexpr ViStatus err_param4 = (ViStatus)0xBFFC0004;
constexpr ViStatus err_param5 = (ViStatus)0xBFFC0005;
constexpr ViStatus err_reply = (ViStatus)0xBFFC0E01;  // reply does not parse as asked
constexpr double pi = 3.14159265358979323846;

// Each controller of the bench keeps its own settings: its place in the bench.
int unit_of(ViSession s) {
    const sim::Instrument* in = sim::instrument(s);
    return in ? (int)(in - sim::instruments().data()) : -1;
}

// Settings of each controller; a setter's value is parameter 2.
using Real = const sim::Setting<double>;
constexpr Real polarizer{"HP8169", "polarizer", 0, 0, 180}, half{"HP8169", "half", 0, 0, 180},
    quarter{"HP8169", "quarter", 0, 0, 180};  // plate positions, deg
constexpr Real speed{"HP8169", "speed", 180, 1, 720};  // deg/s
constexpr Real sphere{"HP8169", "sphere", 0, 0, 1}, display{"HP8169", "display", 1, 0, 1};
constexpr Real timeout_ms{"HP8169", "timeout", 10000, 0, 600000};  // the session's own (sim::set_timeout) bounds its calls
constexpr Real detect{"HP8169", "detect", 1, 0, 1};  // error query after every call
constexpr Real cmd_delay{"HP8169", "cmd_delay", 0, 0, 100000}, query_delay{"HP8169", "query_delay", 0, 0, 100000};
constexpr Real force{"HP8169", "force", 0, 0, 1};
constexpr Real* settings[] = {&polarizer, &half, &quarter, &speed, &sphere, &display,
                              &timeout_ms, &detect, &cmd_delay, &query_delay, &force};
// Ranges of the output state (epsilon, theta): never stored, the plates hold it.
Real ellipticity{"HP8169", "epsilon", 0, -45, 45}, azimuth{"HP8169", "theta", 0, 0, 180};
// Operation event register.
const sim::Setting<long long> oper_event{"HP8169", "oper_event", 0};

// Takes v into a setting of the session's unit; beyond its limits, parameter 2
// is out of range.
bool set(Call& c, Real& t, ViSession s, double v) { return t.set(c, unit_of(s), v, 2); }

void reset_unit(int unit) {
    for (Real* t : settings) (*t)(unit) = t->def;
    oper_event(unit) = 0;
}

double wrap180(double a) {
    a = std::fmod(a, 180.0);
    return a < 0 ? a + 180.0 : a;
}

// Output Stokes vector: linear light from the polarizer through both plates.
void stokes(int unit, double& s1, double& s2, double& s3) {
    double p = polarizer(unit) * pi / 90, q = quarter(unit) * pi / 90,
           h = half(unit) * pi / 90;
    double a1 = std::cos(p), a2 = std::sin(p);
    double C = std::cos(q), S = std::sin(q);  // quarter-wave retarder
    double b1 = C * C * a1 + C * S * a2, b2 = C * S * a1 + S * S * a2, b3 = S * a1 - C * a2;
    double c4 = std::cos(2 * h), s4 = std::sin(2 * h);  // half-wave retarder
    s1 = c4 * b1 + s4 * b2;
    s2 = s4 * b1 - c4 * b2;
    s3 = -b3;
}
double epsilon(int unit) {
    double s1, s2, s3;
    stokes(unit, s1, s2, s3);
    return 0.5 * std::asin(std::fmax(-1.0, std::fmin(1.0, s3))) * 180 / pi;
}
double theta(int unit) {
    double s1, s2, s3;
    stokes(unit, s1, s2, s3);
    if (std::fabs(s1) < 1e-12 && std::fabs(s2) < 1e-12) return 0.0;
    return wrap180(0.5 * std::atan2(s2, s1) * 180 / pi);
}
// Plates for a state: ellipticity p - q, azimuth 2h - q.
void steer(int unit, double eps, double th) {
    double q = wrap180(polarizer(unit) - eps);
    quarter(unit) = q;
    half(unit) = wrap180((th + q) / 2);
    oper_event(unit) |= 1;
}

// Value a setter selects (0 the value given, 1 minimum, 2 maximum, 3 default);
// false when the selector (parameter 2) or the value (3) is out of range.
bool pick(Call& c, ViInt32 sel, double v, Real& t, double& out) {
    switch (sel) {
    case 0: out = v; return t.check(c, v, 3);
    case 1: out = t.lo; return true;
    case 2: out = t.hi; return true;
    case 3: out = t.def; return true;
    }
    c.status(err_param2);
    return false;
}

ViStatus instrument_error(ViInt32 code, const char* msg, int unit) {
    sim::push_error(driver, code, msg);
    return detect(unit) ? VI_ERROR_INSTR_ERROR : VI_SUCCESS;
}

ViInt16 status_byte(int unit) {
    return (ViInt16)((sim::error_count(driver) ? 0x04 : 0) | (oper_event(unit) ? 0x80 : 0));
}

std::string upper(std::string t) {
    for (char& ch : t) ch = (char)std::toupper((unsigned char)ch);
    return t;
}

// Settable headers of the command table and the setting behind each.
struct Header { const char* head; Real* setting; };
const Header headers[] = {
    {":POS:POL", &polarizer}, {":POS:HWP", &half}, {":POS:QWP", &quarter},
    {":POL:SPE", &speed},     {":POL:SPH", &sphere}, {":DISP:ENAB", &display},
};
Real* setting_of(const std::string& head) {
    for (const Header& h : headers)
        if (head == h.head) return h.setting;
    return nullptr;
}

// One command "HEADER [value]".
ViStatus command(ViSession s, const char* text) {
    int unit = unit_of(s);
    std::string cmd = text;
    std::string head = upper(cmd.substr(0, cmd.find(' ')));
    std::string arg = cmd.size() > head.size() ? cmd.substr(head.size() + 1) : "";
    if (head == "*RST") reset_unit(unit);
    else if (head == "*CLS") {
        while (sim::error_count(driver)) sim::pop_error(driver);
        oper_event(unit) = 0;
    } else if (Real* t = setting_of(head)) {
        char* end = nullptr;
        double v = std::strtod(arg.c_str(), &end);
        if (arg.empty() || *end) return instrument_error(-104, "Data type error", unit);
        if (v < t->lo || v > t->hi) return instrument_error(-222, "Data out of range", unit);
        (*t)(unit) = v;
        if (std::strncmp(head.c_str(), ":POS", 4) == 0) oper_event(unit) |= 1;
    } else
        return instrument_error(-113, "Undefined header", unit);
    return VI_SUCCESS;
}

// The answer to a query: text and the numbers in it.
struct Answer { std::string text; std::vector<double> nums; };

std::string join(const std::vector<double>& v) {
    std::string t;
    char b[40];
    for (size_t i = 0; i < v.size(); ++i) {
        std::snprintf(b, sizeof b, "%s%.4f", i ? "," : "", v[i]);
        t += b;
    }
    return t;
}

ViStatus answer(ViSession s, const char* text, Answer& a) {
    int unit = unit_of(s);
    std::string q = text;
    std::string head = upper(q.substr(0, q.find(' ')));
    if (head.empty() || head.back() != '?') return instrument_error(-113, "Undefined header", unit);
    std::string base = head.substr(0, head.size() - 1);
    if (head == "*IDN?") {
        a.text = sim::instrument(s)->idn;
        return VI_SUCCESS;
    }
    if (head == "SYST:ERR?") {
        sim::Error e = sim::pop_error(driver);
        a.nums = {(double)e.code};
        a.text = std::to_string(e.code) + ",\"" + e.message + "\"";
        return VI_SUCCESS;
    }
    if (head == "*OPC?") a.nums = {1};
    else if (head == "*STB?") a.nums = {(double)status_byte(unit)};
    else if (head == ":POS:ALL?") a.nums = {polarizer(unit), half(unit), quarter(unit)};
    else if (head == ":POL:EPS?") a.nums = {epsilon(unit)};
    else if (head == ":POL:THET?") a.nums = {theta(unit)};
    else if (head == ":STAT:REG?") {
        a.nums = {(double)oper_event(unit), 0, 0, 0};
        oper_event(unit) = 0;
    } else if (Real* t = setting_of(base)) a.nums = {(*t)(unit)};
    else return instrument_error(-113, "Undefined header", unit);
    a.text = join(a.nums);
    return VI_SUCCESS;
}

const char* status_text(ViStatus st) {
    switch (st) {
    case VI_SUCCESS: return "No error";
    case VI_ERROR_INV_OBJECT: return "The given session or object reference is invalid";
    case VI_ERROR_RSRC_NFOUND: return "Insufficient location information or resource not present";
    case VI_ERROR_TMO: return "Timeout expired before operation completed";
    case VI_ERROR_PARAMETER1: return "Parameter 1 out of range";
    case err_param2: return "Parameter 2 out of range";
    case err_param3: return "Parameter 3 out of range";
    case err_param4: return "Parameter 4 out of range";
    case err_param5: return "Parameter 5 out of range";
    case err_reply: return "Instrument reply could not be read as the type asked for";
    case VI_ERROR_INSTR_ERROR: return "Instrument error detected, use error_query";
    }
    return nullptr;
}

template <class T> T as(double v) { return (T)std::lround(v); }
template <> double as<double>(double v) { return v; }

// Shared by the three array queries: writes at most `size` values.
template <class T> ViStatus array_query(ViSession s, ViString query, ViInt32 size, T* values, ViInt32* count) {
    if (!query) return err_param2;
    if (size < 0 || (size > 0 && !values)) return err_param3;
    if (!count) return err_param5;
    Answer a;
    ViStatus st = answer(s, query, a);
    if (st < 0) return st;
    if (a.nums.empty()) return err_reply;
    ViInt32 n = (ViInt32)a.nums.size() < size ? (ViInt32)a.nums.size() : size;
    if (sim::hostile()) n = size;  // fills the room it was told of
    for (ViInt32 i = 0; i < n; ++i) values[i] = as<T>(a.nums[i % a.nums.size()]);
    *count = (ViInt32)sim::report_count(n, size);
    return st;
}

template <class T> ViStatus scalar_query(ViSession s, ViString query, T* out) {
    if (!query) return err_param2;
    if (!out) return err_param3;
    Answer a;
    ViStatus st = answer(s, query, a);
    if (st < 0) return st;
    if (a.nums.empty()) return err_reply;
    *out = as<T>(a.nums[0]);
    return st;
}

}  // namespace

extern "C" {

// ---- session ---------------------------------------------------------------------
ViStatus body_hp8169_init(Call& c, ViString rsrc, ViUInt16 idQuery, ViUInt16 reset, ViSession* session) {
    ViSession s = c.open(driver, rsrc, session);
    if (s && reset) reset_unit(unit_of(s));
    return c.done();
}

// The driver's handle of a session is the session itself.
ViStatus body_hp8169_getHandle(Call& c, ViSession s, ViSession* handle) {
    if (handle) *handle = s;
    return c.done();
}

ViStatus body_hp8169_close(Call& c, ViSession s) {
    sim::close(s, driver);
    return c.done();
}

// ---- common instrument functions ------------------------------------------------------
ViStatus body_hp8169_reset(Call& c, ViSession s) {
    reset_unit(unit_of(s));
    return c.done();
}

ViStatus body_hp8169_self_test(Call& c, ViSession s, ViInt16* result, ViChar message[]) {
    if (result) *result = 0;
    sim::put_text(message, 256, "Self test passed");
    return c.done();
}

ViStatus body_hp8169_error_query(Call& c, ViSession s, ViInt32* code, ViChar message[]) {
    sim::Error e = sim::pop_error(driver);
    if (code) *code = e.code;
    sim::put_text(message, 256, e.message);
    return c.done();
}

// Works on any session value (also 0, after a failed init).
ViStatus body_hp8169_error_message(Call& c, ViSession s, ViStatus status, ViChar message[]) {
    const char* t = status_text(status);
    char b[64];
    if (!t) {
        std::snprintf(b, sizeof b, "Unknown status code 0x%08X", (unsigned)status);
        t = b;
        c.status(err_param2);
    }
    sim::put_text(message, 256, t);
    return c.done();
}

ViStatus body_hp8169_revision_query(Call& c, ViSession s, ViChar driverRev[], ViChar firmwareRev[]) {
    std::string idn = sim::instrument(s)->idn;
    sim::put_text(driverRev, 256, "4.1.0 (simulated)");
    sim::put_text(firmwareRev, 256, idn.substr(idn.rfind(',') + 1));
    return c.done();
}

ViStatus body_hp8169_timeOut(Call& c, ViSession s, ViInt32 ms) {
    if (set(c, timeout_ms, s, ms)) sim::set_timeout(s, ms / 1000.0);
    return c.done();
}
ViStatus body_hp8169_timeOut_Q(Call& c, ViSession s, ViInt32* ms) {
    if (ms) *ms = (ViInt32)std::lround(sim::timeout(s) * 1000);
    return c.done();
}

ViStatus body_hp8169_errorQueryDetect(Call& c, ViSession s, ViUInt16 on) {
    set(c, detect, s, on);
    return c.done();
}
ViStatus body_hp8169_errorQueryDetect_Q(Call& c, ViSession s, ViUInt16* on) {
    if (on) *on = (ViUInt16)detect(unit_of(s));
    return c.done();
}

ViStatus body_hp8169_setDelay(Call& c, ViSession s, ViInt32 cmdDelay, ViInt32 queryDelay) {
    if (cmd_delay.check(c, cmdDelay, 2) && query_delay.check(c, queryDelay, 3)) {
        cmd_delay(unit_of(s)) = cmdDelay;
        query_delay(unit_of(s)) = queryDelay;
    }
    return c.done();
}
ViStatus body_hp8169_getDelay_Q(Call& c, ViSession s, ViInt32* cmdDelay, ViInt32* queryDelay) {
    if (cmdDelay) *cmdDelay = (ViInt32)cmd_delay(unit_of(s));
    if (queryDelay) *queryDelay = (ViInt32)query_delay(unit_of(s));
    return c.done();
}

ViStatus body_hp8169_dcl(Call& c, ViSession s) {
    return c.done();
}
ViStatus body_hp8169_opc_Q(Call& c, ViSession s, ViUInt16* done) {
    if (done) *done = 1;
    return c.done();
}
ViStatus body_hp8169_forceTransaction(Call& c, ViSession s, ViUInt16 force) {
    set(c, ::force, s, force);
    return c.done();
}
ViStatus body_hp8169_readStatusByte_Q(Call& c, ViSession s, ViInt16* stb) {
    if (stb) *stb = status_byte(unit_of(s));
    return c.done();
}
// Operation event bit 0: a plate finished moving (cleared when read).
ViStatus body_hp8169_operEvent_Q(Call& c, ViSession s, ViInt32* v) {
    if (v) *v = (ViInt32)oper_event(unit_of(s));
    oper_event(unit_of(s)) = 0;
    return c.done();
}
ViStatus body_hp8169_operCond_Q(Call& c, ViSession s, ViInt32* v) {
    if (v) *v = 0;  // plates are always settled when asked
    return c.done();
}
ViStatus body_hp8169_quesEvent_Q(Call& c, ViSession s, ViInt32* v) {
    if (v) *v = 0;
    return c.done();
}
ViStatus body_hp8169_quesCond_Q(Call& c, ViSession s, ViInt32* v) {
    if (v) *v = 0;
    return c.done();
}

// ---- commands and queries ------------------------------------------------------------------
ViStatus body_hp8169_cmd(Call& c, ViSession s, ViString command_text) {
    c.status(command_text ? command(s, command_text) : err_param2);
    return c.done();
}

ViStatus body_hp8169_cmdString_Q(Call& c, ViSession s, ViString query, ViInt32 size, ViChar reply[]) {
    Answer a;
    if (!query) c.status(err_param2);
    else if (size < 1) c.status(err_param3);
    else if (!reply) c.status(err_param4);
    else {
        c.status(answer(s, query, a));
        if (c.status() >= 0) sim::put_text(reply, (size_t)size, a.text);
    }
    return c.done();
}

ViStatus body_hp8169_cmdInt(Call& c, ViSession s, ViString head, ViInt32 v) {
    if (!head) c.status(err_param2);
    else c.status(command(s, (std::string(head) + " " + std::to_string(v)).c_str()));
    return c.done();
}

ViStatus body_hp8169_cmdReal(Call& c, ViSession s, ViString head, ViReal64 v) {
    char b[40];
    std::snprintf(b, sizeof b, " %.10g", v);
    if (!head) c.status(err_param2);
    else c.status(command(s, (std::string(head) + b).c_str()));
    return c.done();
}

ViStatus body_hp8169_cmdInt16_Q(Call& c, ViSession s, ViString query, ViInt16* v) {
    c.status(scalar_query(s, query, v));
    return c.done();
}
ViStatus body_hp8169_cmdInt32_Q(Call& c, ViSession s, ViString query, ViInt32* v) {
    c.status(scalar_query(s, query, v));
    return c.done();
}
ViStatus body_hp8169_cmdReal64_Q(Call& c, ViSession s, ViString query, ViReal64* v) {
    c.status(scalar_query(s, query, v));
    return c.done();
}

ViStatus body_hp8169_cmdInt16Arr_Q(Call& c, ViSession s, ViString query, ViInt32 size, ViInt16 values[],
                                   ViInt32* count) {
    c.status(array_query(s, query, size, values, count));
    return c.done();
}
ViStatus body_hp8169_cmdInt32Arr_Q(Call& c, ViSession s, ViString query, ViInt32 size, ViInt32 values[],
                                   ViInt32* count) {
    c.status(array_query(s, query, size, values, count));
    return c.done();
}
ViStatus body_hp8169_cmdReal64Arr_Q(Call& c, ViSession s, ViString query, ViInt32 size, ViReal64 values[],
                                    ViInt32* count) {
    c.status(array_query(s, query, size, values, count));
    return c.done();
}

// ---- polarization controller -------------------------------------------------------------
ViStatus body_hp8169_enableDisplay(Call& c, ViSession s, ViUInt16 on) {
    set(c, display, s, on);
    return c.done();
}

ViStatus body_hp8169_setEpsilon(Call& c, ViSession s, ViInt32 sel, ViReal64 eps) {
    double v = 0;
    int u = unit_of(s);
    if (pick(c, sel, eps, ellipticity, v)) steer(u, v, theta(u));
    return c.done();
}
ViStatus body_hp8169_getEpsilon_Q(Call& c, ViSession s, ViReal64* eps) {
    if (eps) *eps = epsilon(unit_of(s));
    return c.done();
}
ViStatus body_hp8169_setTheta(Call& c, ViSession s, ViInt32 sel, ViReal64 th) {
    double v = 0;
    int u = unit_of(s);
    if (pick(c, sel, th, azimuth, v)) steer(u, epsilon(u), v);
    return c.done();
}
ViStatus body_hp8169_getTheta_Q(Call& c, ViSession s, ViReal64* th) {
    if (th) *th = theta(unit_of(s));
    return c.done();
}

#define POSITION(Set, Get, setting)                                               \
    ViStatus body_hp8169_##Set(Call& c, ViSession s, ViInt32 sel, ViReal64 pos) { \
        double v = 0;                                                             \
        if (pick(c, sel, pos, setting, v)) {                                      \
            c.take(std::fabs(v - setting(unit_of(s))) / speed(unit_of(s)));       \
            setting(unit_of(s)) = v;                                              \
            oper_event(unit_of(s)) |= 1;                                          \
        }                                                                         \
        return c.done();                                                          \
    }                                                                             \
    ViStatus body_hp8169_##Get(Call& c, ViSession s, ViReal64* pos) {             \
        if (pos) *pos = setting(unit_of(s));                                      \
        return c.done();                                                          \
    }

POSITION(setPolPos, getPolPos_Q, polarizer)
POSITION(setLambdaHalfPos, getLambdaHalfPos_Q, half)
POSITION(setLambdaQuartPos, getLambdaQuartPos_Q, quarter)

ViStatus body_hp8169_setPolSpeed(Call& c, ViSession s, ViUInt16 speed) {
    set(c, ::speed, s, speed);
    return c.done();
}
ViStatus body_hp8169_setSphereApplState(Call& c, ViSession s, ViUInt16 on) {
    set(c, sphere, s, on);
    return c.done();
}

}  // extern "C"
