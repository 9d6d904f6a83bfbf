// Simulated LQ-PM5 optical power meter with an LQ-G12 germanium photodiode
// sensor (700-1800 nm). The bench: a 1550 nm laser of 0.75 mW, through the
// polarization controller on GPIB0::9 (1 dB insertion loss, its polarizer
// against light polarized at 20 degrees), into the sensor.
//
// Range queries take an attribute: 0 the value set, 1 minimum, 2 maximum,
// 3 default. Power unit 0 = W, 1 = dBm. Registers 0-9 (see regs below).
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pm100d.hpp"

using pm100d::Call;

namespace {

constexpr const char* driver = "PM100D";
constexpr ViStatus err_param2 = (ViStatus)0xBFFC0002;
constexpr ViStatus err_param3 = (ViStatus)0xBFFC0003;
constexpr ViStatus err_param4 = (ViStatus)0xBFFC0004;
// Status of a call after which the instrument's error queue holds an error.
constexpr ViStatus instr_error = (ViStatus)0xBFFC0800;

constexpr double source_w = 0.75e-3, source_nm = 1550.0, bench_loss_db = 1.0;
constexpr double input_pol_deg = 20.0, extinction = 1e-4;
constexpr double dark_current_a = 2.1e-9;
constexpr double pulse_energy_j = 12.5e-6, pulse_rate_hz = 1000.0;
constexpr double pi = 3.14159265358979323846;

std::string key_of(const char* what) { return sim::key("PM", 0, what); }

// Germanium photodiode responsivity (A/W), interpolated from a short table.
constexpr double responsivity(double nm) {
    constexpr double t[][2] = {{700, 0.12}, {900, 0.35}, {1100, 0.55}, {1300, 0.75},
                               {1550, 0.92}, {1650, 0.95}, {1750, 0.60}, {1800, 0.30}};
    const int n = sizeof t / sizeof t[0];
    if (nm <= t[0][0]) return t[0][1];
    for (int i = 1; i < n; ++i)
        if (nm <= t[i][0]) return t[i - 1][1] + (t[i][1] - t[i - 1][1]) * (nm - t[i - 1][0]) / (t[i][0] - t[i - 1][0]);
    return t[n - 1][1];
}

// The range-checked settings (unit 0 of "PM"); a setter's value is parameter 2.
using Real = const sim::Setting<double>;
using Int = const sim::Setting<long long>;
constexpr Real brightness{"PM", "brightness", 1.0, 0.0, 1.0};
constexpr Real contrast{"PM", "contrast", 0.5, 0.0, 1.0};
constexpr Real attenuation{"PM", "attenuation", 0.0, -60.0, 60.0};  // dB added to the readings
constexpr Real beam_diameter{"PM", "beamdia", 9.5, 0.01, 100.0};    // mm
constexpr Real wavelength{"PM", "wavelength", 1550.0, 700.0, 1800.0};  // nm
constexpr Real pd_resp{"PM", "pd_resp", responsivity(wavelength.def), 1e-5, 1000.0};  // A/W; follows the wavelength
constexpr Real tp_resp{"PM", "tp_resp", 0.05, 1e-5, 10.0};          // V/W
constexpr Real pyro_resp{"PM", "pyro_resp", 50.0, 1e-3, 1e5};       // V/J
constexpr Real energy_range{"PM", "energy_range", 1e-3, 1e-6, 1.0};  // J
constexpr Real energy_ref{"PM", "energy_ref", 0.0, -1.0, 1.0};      // J
constexpr Real power_range{"PM", "power_range", 1e-2, 1e-9, 1.0};   // W, decades
constexpr Real power_ref{"PM", "power_ref", 0.0, -1.0, 1.0};        // W
constexpr Real peak_threshold{"PM", "peak_threshold", 50.0, 1.0, 99.0};  // %
constexpr Real accel_tau{"PM", "accel_tau", 0.02, 1e-3, 30.0};      // s
constexpr Real* reals[] = {&brightness, &contrast, &attenuation, &beam_diameter, &wavelength,
                           &pd_resp, &tp_resp, &pyro_resp, &energy_range, &energy_ref,
                           &power_range, &power_ref, &peak_threshold, &accel_tau};

constexpr Int avg{"PM", "avg", 1, 1, 10000};
constexpr Int line_freq{"PM", "line_freq", 50, 50, 60};  // 50 or 60
constexpr Int unit{"PM", "unit", 0, 0, 1};
constexpr Int adapter{"PM", "adapter", 1, 1, 3};
constexpr Int energy_ref_state{"PM", "energy_ref_state", 0, 0, 1};
constexpr Int auto_range{"PM", "auto_range", 1, 0, 1};
constexpr Int power_ref_state{"PM", "power_ref_state", 0, 0, 1};
constexpr Int filter{"PM", "filter", 0, 0, 1};
constexpr Int accel_state{"PM", "accel_state", 0, 0, 1};
constexpr Int accel_mode{"PM", "accel_mode", 0, 0, 1};
constexpr Int error_query_mode{"PM", "error_query_mode", 1, 0, 1};
constexpr Int* ints[] = {&avg, &line_freq, &unit, &adapter, &energy_ref_state, &auto_range,
                         &power_ref_state, &filter, &accel_state, &accel_mode, &error_query_mode};

void reset_settings() {
    for (Real* s : reals) (*s)() = s->def;
    for (Int* s : ints) (*s)() = s->def;
    pd_resp() = responsivity(wavelength());
    sim::integer(key_of("dark_state")) = 0;
    sim::real(key_of("dark_offset")) = 0;
    sim::text(key_of("pending")) = "";
}

// Setters and queries of the range-checked settings.
bool set(Call& c, Real& s, double v) { return s.set(c, 0, v, 2); }
bool set(Call& c, Int& s, long long v) {
    if (&s == &line_freq && v != 50 && v != 60) return c.status(err_param2), false;
    return s.set(c, 0, v, 2);
}
// attr: 0 the value set, 1 minimum, 2 maximum, 3 default.
ViStatus get(Real& s, ViInt16 attr, ViReal64* out) {
    double v;
    switch (attr) {
    case 0: v = s(); break;
    case 1: v = s.lo; break;
    case 2: v = s.hi; break;
    case 3: v = &s == &pd_resp ? responsivity(wavelength()) : s.def; break;
    default: return err_param2;
    }
    if (!out) return err_param3;
    *out = v;
    return VI_SUCCESS;
}
template <class T> ViStatus get(Int& s, T* out) {
    if (!out) return err_param2;
    *out = (T)s();
    return VI_SUCCESS;
}

// Light on the sensor (W): the laser through the controller's polarizer.
double incident_w() {
    double pol = sim::real(sim::key("HP8169", 0, "polarizer"), 0.0);
    double c = std::cos((pol - input_pol_deg) * pi / 180);
    double t = (1 - extinction) * c * c + extinction;
    return source_w * std::pow(10.0, -bench_loss_db / 10) * t;
}

// Power as the meter computes it (W): photocurrent over the responsivity set,
// less the dark offset once adjusted, corrected by the attenuation setting.
double power_w() {
    double current = incident_w() * responsivity(source_nm) + dark_current_a - sim::real(key_of("dark_offset"));
    double p = current / pd_resp() * std::pow(10.0, attenuation() / 10);
    p *= 1 + 1e-3 / std::sqrt((double)avg()) * sim::noise();
    if (!auto_range() && p > 1.1 * power_range()) p = 1.1 * power_range();
    return p;
}

double dbm(double w) { return w > 0 ? 10 * std::log10(w / 1e-3) : -200.0; }

double power_reading() {
    double p = power_w();
    bool ref = power_ref_state() != 0;
    double r = power_ref();
    if (unit() == 1) {
        if (ref) return r > 0 ? 10 * std::log10(p / r) : dbm(p);
        return dbm(p);
    }
    return ref ? p - r : p;
}

double energy_j() {
    double e = pulse_energy_j * std::pow(10.0, attenuation() / 10) * (1 + 2e-3 * sim::noise());
    return energy_ref_state() ? e - energy_ref() : e;
}

double beam_area_cm2() {
    double r = beam_diameter() / 20.0;  // mm diameter -> cm radius
    return pi * r * r;
}

// Smallest decade range that holds p.
double decade_range(double p) {
    double r = 1e-9;
    while (r < p && r < 1.0) r *= 10;
    return r;
}

// Registers: 0 status byte, 1 standard event, 2 event enable, 3 service
// request enable, 4 operation condition, 5 operation event, 6 operation
// enable, 7 questionable condition, 8 questionable event, 9 questionable enable.
const bool reg_writable[10] = {false, false, true, true, false, false, true, false, false, true};
long long& reg(int i) { return sim::integer(sim::key("PMREG", i, "value"), 0); }

ViInt16 read_reg(int i) {
    if (i == 0) return (ViInt16)((sim::error_count(driver) ? 0x04 : 0) | (reg(1) & reg(2) ? 0x20 : 0) |
                                 (reg(5) & reg(6) ? 0x80 : 0));
    if (i == 4) return sim::integer(key_of("dark_state")) ? 0x0002 : 0;
    ViInt16 v = (ViInt16)reg(i);
    if (i == 1 || i == 5 || i == 8) reg(i) = 0;  // event registers clear on read
    return v;
}

std::string idn_field(ViSession s, int n) {
    const sim::Instrument* in = sim::instrument(s);
    std::string idn = in ? in->idn : "";
    size_t b = 0;
    for (int i = 0; i < n && b != std::string::npos; ++i) {
        b = idn.find(',', b);
        if (b != std::string::npos) ++b;
    }
    if (b == std::string::npos) return "";
    size_t e = idn.find(',', b);
    return idn.substr(b, e == std::string::npos ? std::string::npos : e - b);
}

std::string fmt(double v) {
    char b[40];
    std::snprintf(b, sizeof b, "%.6E", v);
    return b;
}

// One raw command: sets the answer that the next reads return.
ViStatus raw_command(ViSession s, std::string cmd) {
    while (!cmd.empty() && (cmd.back() == '\n' || cmd.back() == '\r' || cmd.back() == ' ')) cmd.pop_back();
    cmd.erase(0, cmd.find_first_not_of(' '));
    if (cmd.empty()) return VI_SUCCESS;
    std::string head = cmd.substr(0, cmd.find(' '));
    for (char& ch : head) ch = (char)std::toupper((unsigned char)ch);
    std::string arg = cmd.size() > head.size() ? cmd.substr(head.size() + 1) : "";
    std::string& answer = sim::text(key_of("pending"));
    if (head == "*IDN?") answer = sim::instrument(s)->idn;
    else if (head == "*RST") reset_settings();
    else if (head == "*CLS") while (sim::error_count(driver)) sim::pop_error(driver);
    else if (head == "*OPC?") answer = '1';  // a char: GCC 12 takes a literal's copy here for an overlap (-Wrestrict)
    else if (head == "SYST:ERR?") {
        sim::Error e = sim::pop_error(driver);
        answer = std::to_string(e.code);  // appended piecewise: no temporaries to copy
        answer.append(",\"").append(e.message).push_back('"');
    } else if (head == "MEAS:POW?") answer = fmt(power_reading());
    else if (head == "MEAS:ENER?") answer = fmt(energy_j());
    else if (head == "MEAS:FREQ?") answer = fmt(pulse_rate_hz * (1 + 1e-5 * sim::noise()));
    else if (head == "SENS:CORR:WAV?") answer = fmt(wavelength());
    else if (head == "SENS:CORR:WAV") {
        double nm = std::atof(arg.c_str());
        if (!wavelength.valid(nm)) {
            sim::push_error(driver, -222, "Data out of range");
        } else {
            wavelength() = nm;
            pd_resp() = responsivity(nm);
        }
    } else if (head == "CAL:DATA?")  // definite-length block of sensor data
        answer = std::string("#16PM\0" "100", 9);
    else
        sim::push_error(driver, -113, "Undefined header");
    if (!answer.empty() && head.back() == '?') answer += '\n';
    return sim::error_count(driver) && error_query_mode() ? instr_error : VI_SUCCESS;
}

const char* status_text(ViStatus st) {
    switch (st) {
    case VI_SUCCESS: return "The call was successful";
    case VI_ERROR_INV_OBJECT: return "The given session or object reference is invalid";
    case VI_ERROR_RSRC_NFOUND: return "Insufficient location information or resource not present in the system";
    case VI_ERROR_TMO: return "Timeout expired before operation completed";
    case VI_ERROR_PARAMETER1: return "Parameter 1 out of range";
    case err_param2: return "Parameter 2 out of range";
    case err_param3: return "Parameter 3 out of range";
    case err_param4: return "Parameter 4 out of range";
    case instr_error: return "Instrument error detected, read it with errorQuery";
    }
    if ((uint32_t)st >= 0xBFFC0700u && (uint32_t)st <= 0xBFFC0CFFu) return "Instrument error detected";
    return nullptr;
}

}  // namespace

// Setter and query of a range-checked integer setting, values of type T.
#define INT_SETTING(T, Set, Get, setting)                    \
    ViStatus body_PM100D_##Set(Call& c, ViSession s, T v) {  \
        set(c, setting, v);                                  \
        return c.done();                                     \
    }                                                        \
    ViStatus body_PM100D_##Get(Call& c, ViSession s, T* v) { \
        c.status(get(setting, v));                           \
        return c.done();                                     \
    }

extern "C" {

// ---- session -----------------------------------------------------------------
ViStatus body_PM100D_init(Call& c, ViString rsrc, ViUInt16 idQuery, ViUInt16 resetDevice, ViSession* session) {
    if (c.open(driver, rsrc, session) && resetDevice) reset_settings();
    return c.done();
}

ViStatus body_PM100D_close(Call& c, ViSession s) {
    sim::close(s, driver);
    return c.done();
}

// ---- system ------------------------------------------------------------------
ViStatus body_PM100D_setTime(Call& c, ViSession s, ViInt16 year, ViInt16 month, ViInt16 day, ViInt16 hour,
                             ViInt16 minute, ViInt16 second) {
    const ViInt16 v[6] = {year, month, day, hour, minute, second};
    const int lo[6] = {2000, 1, 1, 0, 0, 0}, hi[6] = {2099, 12, 31, 23, 59, 59};
    for (int i = 0; i < 6; ++i)
        if (v[i] < lo[i] || v[i] > hi[i]) {
            c.status((ViStatus)(VI_ERROR_PARAMETER1 + 1 + i));
            return c.done();
        }
    for (int i = 0; i < 6; ++i) sim::integer(sim::key("PMTIME", i, "v")) = v[i];
    return c.done();
}

ViStatus body_PM100D_getTime(Call& c, ViSession s, ViInt16* year, ViInt16* month, ViInt16* day, ViInt16* hour,
                             ViInt16* minute, ViInt16* second) {
    ViInt16* out[6] = {year, month, day, hour, minute, second};
    const int def[6] = {2024, 3, 12, 9, 30, 0};
    for (int i = 0; i < 6; ++i)
        if (out[i]) *out[i] = (ViInt16)sim::integer(sim::key("PMTIME", i, "v"), def[i]);
    return c.done();
}

INT_SETTING(ViInt16, setLineFrequency, getLineFrequency, line_freq)

ViStatus body_PM100D_writeRegister(Call& c, ViSession s, ViInt16 r, ViInt16 value) {
    if (r < 0 || r > 9 || !reg_writable[r]) c.status(err_param2);
    else reg(r) = (uint16_t)value;
    return c.done();
}
ViStatus body_PM100D_readRegister(Call& c, ViSession s, ViInt16 r, ViInt16* value) {
    if (r < 0 || r > 9) c.status(err_param2);
    else if (value) *value = read_reg(r);
    return c.done();
}

ViStatus body_PM100D_setDispBrightness(Call& c, ViSession s, ViReal64 v) {
    set(c, brightness, v);
    return c.done();
}
ViStatus body_PM100D_getDispBrightness(Call& c, ViSession s, ViReal64* v) {
    c.status(get(brightness, 0, v));
    return c.done();
}
ViStatus body_PM100D_setDispContrast(Call& c, ViSession s, ViReal64 v) {
    set(c, contrast, v);
    return c.done();
}
ViStatus body_PM100D_getDispContrast(Call& c, ViSession s, ViReal64* v) {
    c.status(get(contrast, 0, v));
    return c.done();
}

ViStatus body_PM100D_getCalibrationMsg(Call& c, ViSession s, ViChar msg[]) {
    sim::put_text(msg, 256, "Cal. 12-Mar-2023, LQ-G12 P0012345");
    return c.done();
}

// ---- measurement configuration -------------------------------------------------
INT_SETTING(ViInt16, setAvgCnt, getAvgCnt, avg)

#define REAL_SETTING(Set, Get, setting)                                           \
    ViStatus body_PM100D_##Set(Call& c, ViSession s, ViReal64 v) {                \
        set(c, setting, v);                                                       \
        return c.done();                                                          \
    }                                                                             \
    ViStatus body_PM100D_##Get(Call& c, ViSession s, ViInt16 attr, ViReal64* v) { \
        c.status(get(setting, attr, v));                                          \
        return c.done();                                                          \
    }

REAL_SETTING(setAttenuation, getAttenuation, attenuation)
REAL_SETTING(setBeamDia, getBeamDia, beam_diameter)
REAL_SETTING(setThermopileResponsivity, getThermopileResponsivity, tp_resp)
REAL_SETTING(setPyrosensorResponsivity, getPyrosensorResponsivity, pyro_resp)
REAL_SETTING(setEnergyRange, getEnergyRange, energy_range)
REAL_SETTING(setEnergyRef, getEnergyRef, energy_ref)
REAL_SETTING(setPeakThreshold, getPeakThreshold, peak_threshold)
REAL_SETTING(setAccelTau, getAccelTau, accel_tau)

ViStatus body_PM100D_startDarkAdjust(Call& c, ViSession s) {
    sim::integer(key_of("dark_state")) = 1;
    sim::integer(key_of("dark_polls")) = 3;  // finishes after a few state queries
    return c.done();
}
ViStatus body_PM100D_cancelDarkAdjust(Call& c, ViSession s) {
    sim::integer(key_of("dark_state")) = 0;
    return c.done();
}
ViStatus body_PM100D_getDarkAdjustState(Call& c, ViSession s, ViInt16* state) {
    long long& st = sim::integer(key_of("dark_state"));
    if (st && --sim::integer(key_of("dark_polls")) <= 0) {
        st = 0;
        sim::real(key_of("dark_offset")) = dark_current_a * (1 + 0.01 * sim::noise());
        reg(5) |= 0x0002;  // operation event: dark adjustment done
    }
    if (state) *state = (ViInt16)st;
    return c.done();
}
ViStatus body_PM100D_getDarkOffset(Call& c, ViSession s, ViReal64* offset) {
    if (offset) *offset = sim::real(key_of("dark_offset"));
    return c.done();
}

ViStatus body_PM100D_setWavelength(Call& c, ViSession s, ViReal64 nm) {
    if (set(c, wavelength, nm)) pd_resp() = responsivity(nm);  // sensor's curve
    return c.done();
}
ViStatus body_PM100D_getWavelength(Call& c, ViSession s, ViInt16 attr, ViReal64* nm) {
    c.status(get(wavelength, attr, nm));
    return c.done();
}
ViStatus body_PM100D_setPhotodiodeResponsivity(Call& c, ViSession s, ViReal64 v) {
    set(c, pd_resp, v);
    return c.done();
}
ViStatus body_PM100D_getPhotodiodeResponsivity(Call& c, ViSession s, ViInt16 attr, ViReal64* v) {
    c.status(get(pd_resp, attr, v));
    return c.done();
}

INT_SETTING(ViUInt16, setEnergyRefState, getEnergyRefState, energy_ref_state)
INT_SETTING(ViUInt16, setPowerAutoRange, getPowerAutorange, auto_range)
INT_SETTING(ViUInt16, setPowerRefState, getPowerRefState, power_ref_state)
INT_SETTING(ViUInt16, setInputFilterState, getInputFilterState, filter)
INT_SETTING(ViUInt16, setAccelState, getAccelState, accel_state)
INT_SETTING(ViUInt16, setAccelMode, getAccelMode, accel_mode)

ViStatus body_PM100D_getFreqRange(Call& c, ViSession s, ViReal64* lower, ViReal64* upper) {
    if (lower) *lower = 0.0;
    if (upper) *upper = filter() ? 15.0 : 100e3;  // bandwidth with the input filter on
    return c.done();
}

ViStatus body_PM100D_setPowerRange(Call& c, ViSession s, ViReal64 w) {
    if (power_range.check(c, w, 2)) {
        power_range() = decade_range(w);
        auto_range() = 0;  // a fixed range ends auto ranging
    }
    return c.done();
}
ViStatus body_PM100D_getPowerRange(Call& c, ViSession s, ViInt16 attr, ViReal64* w) {
    if (attr == 0 && auto_range()) power_range() = decade_range(power_w());
    c.status(get(power_range, attr, w));
    return c.done();
}
ViStatus body_PM100D_setPowerRef(Call& c, ViSession s, ViReal64 w) {
    set(c, power_ref, w);
    return c.done();
}

INT_SETTING(ViInt16, setPowerUnit, getPowerUnit, unit)
INT_SETTING(ViInt16, setInputAdapterType, getInputAdapterType, adapter)

// ---- measurements ----------------------------------------------------------------
ViStatus body_PM100D_measPower(Call& c, ViSession s, ViReal64* v) {
    if (v) *v = power_reading();
    c.take(3e-3 * (double)avg());  // 3 ms a sample
    return c.done();
}
ViStatus body_PM100D_measEnergy(Call& c, ViSession s, ViReal64* v) {
    if (v) *v = energy_j();
    return c.done();
}
ViStatus body_PM100D_measFreq(Call& c, ViSession s, ViReal64* v) {
    if (v) *v = pulse_rate_hz * (1 + 1e-5 * sim::noise());
    return c.done();
}
ViStatus body_PM100D_measPowerDens(Call& c, ViSession s, ViReal64* v) {
    if (v) *v = power_w() / beam_area_cm2();  // W/cm2
    return c.done();
}
ViStatus body_PM100D_measEnergyDens(Call& c, ViSession s, ViReal64* v) {
    if (v) *v = energy_j() / beam_area_cm2();  // J/cm2
    return c.done();
}

// ---- identification and utility -----------------------------------------------------
ViStatus body_PM100D_getSensorInfo(Call& c, ViSession s, ViChar name[], ViChar serial[], ViChar cal[], ViInt16* type,
                                   ViInt16* subtype, ViInt16* flags) {
    sim::put_text(name, 256, "LQ-G12");
    sim::put_text(serial, 256, "G12-04417");
    sim::put_text(cal, 256, "12-Mar-2023");
    if (type) *type = 1;       // photodiode
    if (subtype) *subtype = 2;  // with temperature sensor
    if (flags) *flags = 0x0011;  // power sensor, wavelength settable
    return c.done();
}

ViStatus body_PM100D_identificationQuery(Call& c, ViSession s, ViChar maker[], ViChar device[], ViChar serial[],
                                         ViChar firmware[]) {
    sim::put_text(maker, 256, idn_field(s, 0));
    sim::put_text(device, 256, idn_field(s, 1));
    sim::put_text(serial, 256, idn_field(s, 2));
    sim::put_text(firmware, 256, idn_field(s, 3));
    return c.done();
}

ViStatus body_PM100D_reset(Call& c, ViSession s) {
    reset_settings();
    return c.done();
}
ViStatus body_PM100D_selfTest(Call& c, ViSession s, ViInt16* result) {
    if (result) *result = 0;
    return c.done();
}
ViStatus body_PM100D_errorQueryMode(Call& c, ViSession s, ViUInt16 mode) {
    set(c, error_query_mode, mode);
    return c.done();
}
ViStatus body_PM100D_errorQuery(Call& c, ViSession s, ViInt32* code, ViChar msg[]) {
    sim::Error e = sim::pop_error(driver);
    if (code) *code = e.code;
    sim::put_text(msg, 256, e.message);
    return c.done();
}
// Works on any session value (also 0, after a failed init).
ViStatus body_PM100D_errorMessage(Call& c, ViSession s, ViStatus status, ViChar msg[]) {
    const char* t = status_text(status);
    char b[64];
    if (!t) {
        std::snprintf(b, sizeof b, "Unknown status code 0x%08X", (unsigned)status);
        t = b;
        c.status(err_param2);
    }
    sim::put_text(msg, 256, t);
    return c.done();
}
ViStatus body_PM100D_revisionQuery(Call& c, ViSession s, ViChar driverRev[], ViChar firmwareRev[]) {
    sim::put_text(driverRev, 256, "3.1.0 (simulated)");
    sim::put_text(firmwareRev, 256, idn_field(s, 3));
    return c.done();
}

// ---- raw input and output ------------------------------------------------------------
ViStatus body_PM100D_writeRaw(Call& c, ViSession s, ViString command) {
    if (!command) c.status(err_param2);
    else c.status(raw_command(s, command));
    return c.done();
}

// Reads up to `size` bytes of the pending answer, like a bus read: no zero
// byte is added. Nothing pending: time-out.
ViStatus body_PM100D_readRaw(Call& c, ViSession s, ViChar buffer[], ViUInt32 size, ViUInt32* count) {
    std::string& pending = sim::text(key_of("pending"));
    if (!buffer) {
        c.status(err_param2);
        return c.done();
    }
    if (pending.empty()) {
        if (count) *count = 0;
        c.status(VI_ERROR_TMO);
        return c.done();
    }
    size_t n = pending.size() < size ? pending.size() : size;
    if (sim::hostile()) {
        sim::put_text(buffer, size, pending);  // every one of the `size` bytes
        n = size;
    } else {
        std::memcpy(buffer, pending.data(), n);
    }
    if (count) *count = (ViUInt32)sim::report_count((long long)n, (long long)size);
    pending.erase(0, n);
    return c.done();
}

}  // extern "C"
