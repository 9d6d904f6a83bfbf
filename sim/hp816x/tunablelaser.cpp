// Simulated hp816x driver functions of this family: the tunable laser sources.
//
// Model of a QB-TL9-like laser on every slot:
//   wavelength 1440..1640 nm (default 1550 nm), power -10 dBm up to a gain
//   curve peaking at +8 dBm at 1550 nm, units 0 = dBm, 1 = W;
//   selections (HP816X_SEL_*) 0 = the given value, 1 = minimum, 2 = default,
//   3 = maximum;
//   light reaches the output (hp816x::laser_output) when the laser is on and
//   not dark.
// Sweeps: mode 0 = stepped, 1 = manual, 2 = continuous; repeat 0 = one-way,
//   1 = two-way; cycles 0 = endless.  Control 0 = stop, 1 = start, 2 = pause,
//   3 = continue; state 0 = stopped, 1 = running, 2 = paused.  Stepped and
//   continuous sweeps run to their end in sweepWait; manual ones move with
//   next/previous step.  A finished sweep with lambda logging on leaves its
//   wavelength grid and the power through the DUT as logged data.
// Commands that do not fit the laser's state report instrument error -221.
#include "hp816x.hpp"

#include <algorithm>
#include <cmath>

using namespace hp816x;

namespace {

constexpr double wl_min = 1440e-9, wl_max = 1640e-9, wl_default = 1550e-9;
constexpr double p_min = -10.0, p_default = 0.0;
constexpr long long max_points = 1000001;

enum { stepped = 0, manual = 1, continuous = 2 };
enum { stopped = 0, running = 1, paused = 2 };

double& stored_real(ViInt32 slot, const char* what, double def) { return sim::real(sim::key("TLS", slot, what), def); }
long long& stored_int(ViInt32 slot, const char* what, long long def) {
    return sim::integer(sim::key("TLS", slot, what), def);
}

void conflict(sim::Call& c) {
    sim::push_error(hp816x::driver, -221, "Settings conflict");
    c.status(VI_ERROR_INSTR_ERROR);
}

bool flag(unsigned v) { return v == 0 || v == 1; }

// Highest power (dBm) the gain curve gives at a wavelength.
double power_max_dbm(double wl) {
    double nm = (wl - wl_default) * 1e9;
    return 8.0 - 0.001 * nm * nm;
}

// ---- laser settings ----------------------------------------------------------
long long& unit(ViInt32 slot) { return stored_int(slot, "unit", 0); }
long long& laser_state(ViInt32 slot) { return stored_int(slot, "laserState", 1); }
long long& dark(ViInt32 slot) { return stored_int(slot, "dark", 0); }
long long& optical_output(ViInt32 slot) { return stored_int(slot, "opticalOutput", 0); }
double& attenuation(ViInt32 slot) { return stored_real(slot, "attenuation", 0.0); }
double& rise_time(ViInt32 slot) { return stored_real(slot, "riseTime", 0.0); }
long long& auto_calibration(ViInt32 slot) { return stored_int(slot, "autoCalibration", 1); }
double& lambda_zero(ViInt32 slot) { return stored_real(slot, "lambdaZero", wl_default); }
double& frequency_offset(ViInt32 slot) { return stored_real(slot, "frequencyOffset", 0.0); }
long long& bnc_output(ViInt32 slot) { return stored_int(slot, "bnc", 0); }
double& cc_level(ViInt32 slot) { return stored_real(slot, "ccLevel", 0.0); }
double& sbs_level(ViInt32 slot) { return stored_real(slot, "sbsLevel", 0.0); }

void update_output(ViInt32 slot) { hp816x::laser_output(slot) = laser_state(slot) && !dark(slot); }

double to_unit(ViInt32 slot, double dbm) { return unit(slot) ? hp816x::dbm_to_watt(dbm) : dbm; }

// A power given in `u` as dBm; nan if it is no power at all.
double to_dbm(long long u, double v) { return u ? (v > 0 ? hp816x::watt_to_dbm(v) : NAN) : v; }

bool wavelength_ok(double wl) { return in_range(wl, wl_min, wl_max); }
bool power_ok(double dbm, double wl) { return in_range(dbm, p_min, power_max_dbm(wl)); }

// ---- sweeps ------------------------------------------------------------------
long long& sweep_mode(ViInt32 slot) { return stored_int(slot, "sweepMode", continuous); }
long long& repeat_mode(ViInt32 slot) { return stored_int(slot, "repeatMode", 0); }
long long& cycles(ViInt32 slot) { return stored_int(slot, "cycles", 1); }
double& dwell(ViInt32 slot) { return stored_real(slot, "dwell", 0.1); }
double& sweep_start(ViInt32 slot) { return stored_real(slot, "sweepStart", 1545e-9); }
double& sweep_stop(ViInt32 slot) { return stored_real(slot, "sweepStop", 1555e-9); }
double& sweep_step(ViInt32 slot) { return stored_real(slot, "sweepStep", 10e-12); }
double& sweep_speed(ViInt32 slot) { return stored_real(slot, "sweepSpeed", 5e-9); }
long long& sweep_state(ViInt32 slot) { return stored_int(slot, "sweepState", stopped); }
long long& sweep_pos(ViInt32 slot) { return stored_int(slot, "sweepPos", 0); }
long long& logging(ViInt32 slot) { return stored_int(slot, "lambdaLogging", 0); }
long long& logged(ViInt32 slot) { return stored_int(slot, "logged", 0); }

long long grid_points(double start, double stop, double step) {
    return (long long)std::floor((stop - start) / step + 1e-6) + 1;
}
long long points(ViInt32 slot) { return grid_points(sweep_start(slot), sweep_stop(slot), sweep_step(slot)); }

// Steps of the whole sweep over all cycles; -1 for an endless one.
long long path_length(ViInt32 slot) {
    long long p = points(slot), c = cycles(slot);
    if (c == 0) return -1;
    if (repeat_mode(slot) == 0 || p == 1) return c * p;
    return c * 2 * (p - 1) + 1;
}

long long grid_index(ViInt32 slot, long long k) {
    long long p = points(slot);
    if (repeat_mode(slot) == 0 || p == 1) return k % p;
    long long period = 2 * (p - 1), r = k % period;
    return r < p ? r : period - r;
}

void move_to(ViInt32 slot, long long k) {
    sweep_pos(slot) = k;
    hp816x::laser_wavelength(slot) = sweep_start(slot) + grid_index(slot, k) * sweep_step(slot);
}

// The sweep has ended: with logging on, its grid and the light through the DUT are logged.
void finish(ViInt32 slot) {
    sweep_state(slot) = stopped;
    if (!logging(slot)) return;
    logged(slot) = points(slot);
    stored_real(slot, "logStart", 0) = sweep_start(slot);
    stored_real(slot, "logStep", 0) = sweep_step(slot);
    stored_real(slot, "logPower", 0) = hp816x::laser_power_dbm(slot);
    stored_int(slot, "logOutput", 0) = hp816x::laser_output(slot);
}

// Deterministic jitter in [-1, 1) for logged point i (the same on every read).
double jitter(long long i) {
    uint64_t x = (uint64_t)i * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull;
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 29;
    return (double)(x >> 11) / 4503599627370496.0 - 1.0;
}

// Past the logged points: zeros, or leftovers in hostile mode (all n written).
double unlogged(ViInt32 i) { return sim::hostile() ? 1e-9 * (i + 1) : 0.0; }

void fill_wavelengths(ViInt32 slot, ViInt32 n, ViReal64* out) {
    long long have = logged(slot);
    double start = stored_real(slot, "logStart", 0), step = stored_real(slot, "logStep", 0);
    for (ViInt32 i = 0; i < n; ++i) out[i] = i < have ? start + i * step : unlogged(i);
}

void fill_powers(ViInt32 slot, ViInt32 n, ViReal64* out) {
    long long have = logged(slot);
    double start = stored_real(slot, "logStart", 0), step = stored_real(slot, "logStep", 0);
    double p = stored_real(slot, "logPower", 0);
    bool lit = stored_int(slot, "logOutput", 0) != 0;
    for (ViInt32 i = 0; i < n; ++i) {
        if (i >= have) out[i] = unlogged(i);
        else if (lit) out[i] = p + hp816x::dut_transmission_db(start + i * step) + 0.002 * jitter(i);
        else out[i] = -90.0 + 0.5 * jitter(i);
    }
}

// ---- temperatures ------------------------------------------------------------
double temperature() { return 25.4 + 0.02 * sim::noise(); }
double& zero_temperature(ViInt32 slot) { return stored_real(slot, "zeroTemperature", 25.0); }

void temperatures(ViInt32 slot, ViReal64* t, ViReal64* t0, ViReal64* dt) {
    double now = temperature(), zero = zero_temperature(slot);
    put(t, now);
    put(t0, zero);
    put(dt, now - zero);
}

}  // namespace

extern "C" {

// ---- parameters, wavelength, power ---------------------------------------------------

ViStatus body_hp816x_set_TLS_parameters(Call& c, ViSession s, ViInt32 slot, ViInt32 powerUnit, ViInt32 opticalOutput,
                                        ViUInt16 laserState, ViReal64 power, ViReal64 att, ViReal64 wl) {
    double dbm = to_dbm(powerUnit, power);
    if (powerUnit != 0 && powerUnit != 1) c.status(param(3));
    else if (opticalOutput < 0 || opticalOutput > 3) c.status(param(4));
    else if (!flag(laserState)) c.status(param(5));
    else if (!wavelength_ok(wl)) c.status(param(8));
    else if (!power_ok(dbm, wl)) c.status(param(6));
    else if (!in_range(att, 0, 60)) c.status(param(7));
    else {
        unit(slot) = powerUnit;
        optical_output(slot) = opticalOutput;
        laser_state(slot) = laserState;
        hp816x::laser_power_dbm(slot) = dbm;
        attenuation(slot) = att;
        hp816x::laser_wavelength(slot) = wl;
        update_output(slot);
    }
    return c.done();
}

ViStatus body_hp816x_get_TLS_parameters_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* powerUnit,
                                          ViUInt16* laserState, ViInt32* opticalOutput, ViReal64* power,
                                          ViReal64* att, ViReal64* wl) {
    put(powerUnit, unit(slot));
    put(laserState, laser_state(slot));
    put(opticalOutput, optical_output(slot));
    put(power, to_unit(slot, hp816x::laser_power_dbm(slot)));
    put(att, attenuation(slot));
    put(wl, hp816x::laser_wavelength(slot));
    return c.done();
}

ViStatus body_hp816x_set_TLS_wavelength(Call& c, ViSession s, ViInt32 slot, ViInt32 selection, ViReal64 wl) {
    double v = 0;
    if (!selected(selection, wl, wl_min, wl_max, wl_default, v)) c.status(param(3));
    else if (!wavelength_ok(v)) c.status(param(4));
    else hp816x::laser_wavelength(slot) = v;
    return c.done();
}

ViStatus body_hp816x_get_TLS_wavelength_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* minimum, ViReal64* def,
                                          ViReal64* maximum, ViReal64* current) {
    put(minimum, wl_min);
    put(def, wl_default);
    put(maximum, wl_max);
    put(current, hp816x::laser_wavelength(slot));
    return c.done();
}

ViStatus body_hp816x_set_TLS_power(Call& c, ViSession s, ViInt32 slot, ViInt32 powerUnit, ViInt32 selection,
                                   ViReal64 power) {
    double wl = hp816x::laser_wavelength(slot), v = 0;
    if (powerUnit != 0 && powerUnit != 1) c.status(param(3));
    else if (!selected(selection, to_dbm(powerUnit, power), p_min, power_max_dbm(wl), p_default, v))
        c.status(param(4));
    else if (selection == HP816X_SEL_VALUE && !power_ok(v, wl)) c.status(param(5));  // only a value given
    else {
        unit(slot) = powerUnit;
        hp816x::laser_power_dbm(slot) = v;
    }
    return c.done();
}

ViStatus body_hp816x_get_TLS_power_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* powerUnit, ViReal64* minimum,
                                     ViReal64* def, ViReal64* maximum, ViReal64* current) {
    put(powerUnit, unit(slot));
    put(minimum, to_unit(slot, p_min));
    put(def, to_unit(slot, p_default));
    put(maximum, to_unit(slot, power_max_dbm(hp816x::laser_wavelength(slot))));
    put(current, to_unit(slot, hp816x::laser_power_dbm(slot)));
    return c.done();
}

ViStatus body_hp816x_set_TLS_opticalOutput(Call& c, ViSession s, ViInt32 slot, ViInt32 setting) {
    return set_setting(c, slot, setting, 0, 3, optical_output);
}

ViStatus body_hp816x_get_TLS_opticalOutput_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* setting) {
    return get_setting(c, slot, setting, optical_output);
}

ViStatus body_hp816x_get_TLS_powerMaxInRange_Q(Call& c, ViSession s, ViInt32 slot, ViReal64 start, ViReal64 stop,
                                               ViReal64* maxPower) {
    if (!wavelength_ok(start)) c.status(param(3));
    else if (!wavelength_ok(stop)) c.status(param(4));
    else put(maxPower, to_unit(slot, std::min(power_max_dbm(start), power_max_dbm(stop))));
    return c.done();
}

// ---- laser state, rise time, triggers, attenuation, dark -------------------------------

ViStatus body_hp816x_set_TLS_laserState(Call& c, ViSession s, ViInt32 slot, ViUInt16 state) {
    if (!flag(state)) {
        c.status(param(3));
    } else {
        laser_state(slot) = state;
        update_output(slot);
    }
    return c.done();
}

ViStatus body_hp816x_get_TLS_laserState_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* state) {
    return get_setting(c, slot, state, laser_state);
}

ViStatus body_hp816x_set_TLS_laserRiseTime(Call& c, ViSession s, ViInt32 slot, ViReal64 t) {
    return set_setting(c, slot, t, 0, 10, rise_time);
}

ViStatus body_hp816x_get_TLS_laserRiseTime(Call& c, ViSession s, ViInt32 slot, ViReal64* t) {
    return get_setting(c, slot, t, rise_time);
}

ViStatus body_hp816x_set_TLS_triggerConfiguration(Call& c, ViSession s, ViInt32 slot, ViInt32 in, ViInt32 out) {
    if (in < 0 || in > 3) c.status(param(3));
    else if (out < 0 || out > 4) c.status(param(4));
    else {
        stored_int(slot, "triggerIn", 0) = in;
        stored_int(slot, "triggerOut", 0) = out;
    }
    return c.done();
}

ViStatus body_hp816x_get_TLS_triggerConfiguration(Call& c, ViSession s, ViInt32 slot, ViInt32* in, ViInt32* out) {
    put(in, stored_int(slot, "triggerIn", 0));
    put(out, stored_int(slot, "triggerOut", 0));
    return c.done();
}

ViStatus body_hp816x_set_TLS_attenuation(Call& c, ViSession s, ViInt32 slot, ViUInt16 automatic, ViUInt16 darken,
                                         ViReal64 att) {
    if (!flag(automatic)) c.status(param(3));
    else if (!flag(darken)) c.status(param(4));
    else if (!in_range(att, 0, 60)) c.status(param(5));
    else {
        stored_int(slot, "autoAttenuation", 1) = automatic;
        dark(slot) = darken;
        attenuation(slot) = att;
        update_output(slot);
    }
    return c.done();
}

ViStatus body_hp816x_get_TLS_attenuationSettings_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* automatic,
                                                   ViUInt16* darken, ViReal64* att) {
    put(automatic, stored_int(slot, "autoAttenuation", 1));
    put(darken, dark(slot));
    put(att, attenuation(slot));
    return c.done();
}

ViStatus body_hp816x_set_TLS_dark(Call& c, ViSession s, ViInt32 slot, ViUInt16 darken) {
    if (!flag(darken)) {
        c.status(param(3));
    } else {
        dark(slot) = darken;
        update_output(slot);
    }
    return c.done();
}

ViStatus body_hp816x_get_TLS_darkState_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* darken) {
    return get_setting(c, slot, darken, dark);
}

// ---- temperatures, calibration, zeroing ------------------------------------------------

ViStatus body_hp816x_get_TLS_temperatures(Call& c, ViSession s, ViReal64* t, ViReal64* t0, ViReal64* dt) {
    temperatures(0, t, t0, dt);
    return c.done();
}

ViStatus body_hp816x_get_TLS_temperaturesEx(Call& c, ViSession s, ViInt32 slot, ViReal64* t, ViReal64* t0,
                                            ViReal64* dt) {
    temperatures(slot, t, t0, dt);
    return c.done();
}

ViStatus body_hp816x_set_TLS_autoCalibration(Call& c, ViSession s, ViInt32 slot, ViUInt16 on) {
    return set_setting(c, slot, on, 0, 1, auto_calibration);
}

ViStatus body_hp816x_get_TLS_autoCalState(Call& c, ViSession s, ViInt32 slot, ViUInt16* on) {
    return get_setting(c, slot, on, auto_calibration);
}

ViStatus body_hp816x_get_TLS_accClass(Call& c, ViSession s, ViInt32 slot, ViInt32* cls) {
    put(cls, 1);
    return c.done();
}

ViStatus body_hp816x_TLS_zeroing(Call& c, ViSession s) {
    zero_temperature(0) = temperature();
    return c.done();
}

ViStatus body_hp816x_TLS_zeroingAll(Call& c, ViSession s) {
    for (int slot = 0; slot < hp816x::max_slots; ++slot) zero_temperature(slot) = temperature();
    return c.done();
}

ViStatus body_hp816x_TLS_zeroingEx(Call& c, ViSession s, ViInt32 slot) {
    zero_temperature(slot) = temperature();
    return c.done();
}

// ---- lambda zero, frequency offset, BNC ----------------------------------------------

ViStatus body_hp816x_displayToLambdaZero(Call& c, ViSession s, ViInt32 slot) {
    lambda_zero(slot) = laser_wavelength(slot);
    return c.done();
}

ViStatus body_hp816x_get_TLS_lambdaZero_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* wl) {
    return get_setting(c, slot, wl, lambda_zero);
}

ViStatus body_hp816x_set_TLS_frequencyOffset(Call& c, ViSession s, ViInt32 slot, ViReal64 offset) {
    return set_setting(c, slot, offset, -1e12, 1e12, frequency_offset);
}

ViStatus body_hp816x_get_TLS_frequencyOffset_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* offset) {
    return get_setting(c, slot, offset, frequency_offset);
}

ViStatus body_hp816x_TLS_configureBNC(Call& c, ViSession s, ViInt32 slot, ViInt32 output) {
    return set_setting(c, slot, output, 0, 3, bnc_output);
}

ViStatus body_hp816x_get_TLS_BNC_config_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* output) {
    return get_setting(c, slot, output, bnc_output);
}

// ---- sweeps ----------------------------------------------------------------------------

ViStatus body_hp816x_set_TLS_sweep(Call& c, ViSession s, ViInt32 slot, ViInt32 mode, ViInt32 repeat, ViUInt32 ncycles,
                                   ViReal64 dwellTime, ViReal64 start, ViReal64 stop, ViReal64 step, ViReal64 speed) {
    if (sweep_state(slot) != stopped) conflict(c);
    else if (mode < stepped || mode > continuous) c.status(param(3));
    else if (repeat != 0 && repeat != 1) c.status(param(4));
    else if (!in_range(dwellTime, 0, 1000)) c.status(param(6));
    else if (!wavelength_ok(start)) c.status(param(7));
    else if (!wavelength_ok(stop) || !(stop > start)) c.status(param(8));
    else if (!(step > 0) || grid_points(start, stop, step) > max_points) c.status(param(9));
    else if (mode == continuous && !in_range(speed, 0.5e-9, 200e-9)) c.status(param(10));
    else {
        sweep_mode(slot) = mode;
        repeat_mode(slot) = repeat;
        cycles(slot) = ncycles;
        dwell(slot) = dwellTime;
        sweep_start(slot) = start;
        sweep_stop(slot) = stop;
        sweep_step(slot) = step;
        sweep_speed(slot) = speed;
    }
    return c.done();
}

ViStatus body_hp816x_TLS_sweepControl(Call& c, ViSession s, ViInt32 slot, ViInt32 action) {
    long long& state = sweep_state(slot);
    switch (action) {
    case 0: state = stopped; break;
    case 1:
        if (state != stopped) {
            conflict(c);
        } else {
            logged(slot) = 0;
            move_to(slot, 0);
            state = running;
        }
        break;
    case 2:
        if (state == running) state = paused;
        else conflict(c);
        break;
    case 3:
        if (state == paused) state = running;
        else conflict(c);
        break;
    default: c.status(param(3));
    }
    return c.done();
}

ViStatus body_hp816x_get_TLS_sweepState_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* state) {
    return get_setting(c, slot, state, sweep_state);
}

ViStatus body_hp816x_TLS_sweepNextStep(Call& c, ViSession s, ViInt32 slot) {
    if (sweep_state(slot) != running || sweep_mode(slot) == continuous) {
        conflict(c);
    } else {
        long long next = sweep_pos(slot) + 1, length = path_length(slot);
        if (length >= 0 && next >= length) finish(slot);
        else move_to(slot, next);
    }
    return c.done();
}

ViStatus body_hp816x_TLS_sweepPreviousStep(Call& c, ViSession s, ViInt32 slot) {
    if (sweep_state(slot) != running || sweep_mode(slot) == continuous || sweep_pos(slot) == 0) conflict(c);
    else move_to(slot, sweep_pos(slot) - 1);
    return c.done();
}

ViStatus body_hp816x_TLS_sweepWait(Call& c, ViSession s, ViInt32 slot) {
    long long state = sweep_state(slot), length = path_length(slot);
    if (state == paused || (state == running && sweep_mode(slot) != manual && length < 0)) {
        c.status(VI_ERROR_TMO);  // would never end
    } else if (state == running && sweep_mode(slot) != manual) {
        move_to(slot, length - 1);
        finish(slot);
    }
    return c.done();
}

// ---- modulation, SBS, coherence control --------------------------------------------------

ViStatus body_hp816x_set_TLS_modulation(Call& c, ViSession s, ViInt32 slot, ViInt32 source, ViUInt16 output,
                                        ViUInt16 state, ViReal64 frequency) {
    if (source < 0 || source > 3) c.status(param(3));
    else if (!flag(output)) c.status(param(4));
    else if (!flag(state)) c.status(param(5));
    else if (!in_range(frequency, 1.0, 1e6)) c.status(param(6));
    else {
        stored_int(slot, "modSource", 0) = source;
        stored_int(slot, "modOutput", 0) = output;
        stored_int(slot, "modState", 0) = state;
        stored_real(slot, "modFrequency", 1e3) = frequency;
    }
    return c.done();
}

ViStatus body_hp816x_get_TLS_modulationSettings_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* source,
                                                  ViUInt16* output, ViUInt16* state, ViReal64* frequency) {
    put(source, stored_int(slot, "modSource", 0));
    put(output, stored_int(slot, "modOutput", 0));
    put(state, stored_int(slot, "modState", 0));
    put(frequency, stored_real(slot, "modFrequency", 1e3));
    return c.done();
}

ViStatus body_hp816x_set_TLS_SBS_control(Call& c, ViSession s, ViInt32 slot, ViUInt16 state, ViReal64 frequency) {
    if (!flag(state)) c.status(param(3));
    else if (!in_range(frequency, 1e3, 1e6)) c.status(param(4));
    else {
        stored_int(slot, "sbsState", 0) = state;
        stored_real(slot, "sbsFrequency", 20e3) = frequency;
    }
    return c.done();
}

ViStatus body_hp816x_get_TLS_SBS_control_q(Call& c, ViSession s, ViInt32 slot, ViUInt16* state, ViReal64* frequency) {
    put(state, stored_int(slot, "sbsState", 0));
    put(frequency, stored_real(slot, "sbsFrequency", 20e3));
    return c.done();
}

ViStatus body_hp816x_set_TLS_ccLevel(Call& c, ViSession s, ViInt32 slot, ViReal64 level) {
    return set_setting(c, slot, level, 0, 100, cc_level);
}

ViStatus body_hp816x_get_TLS_ccLevel_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* level) {
    return get_setting(c, slot, level, cc_level);
}

ViStatus body_hp816x_set_TLS_SBSLevel(Call& c, ViSession s, ViInt32 slot, ViReal64 level) {
    return set_setting(c, slot, level, 0, 1e9, sbs_level);
}

ViStatus body_hp816x_get_TLS_SBSLevel_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* level) {
    return get_setting(c, slot, level, sbs_level);
}

// ---- lambda logging and its data ---------------------------------------------------------

ViStatus body_hp816x_set_TLS_lambdaLoggingState(Call& c, ViSession s, ViUInt16 on) {
    if (!flag(on)) c.status(param(2));
    else logging(0) = on;
    return c.done();
}

ViStatus body_hp816x_set_TLS_lambdaLoggingStateEx(Call& c, ViSession s, ViInt32 slot, ViUInt16 on) {
    return set_setting(c, slot, on, 0, 1, logging);
}

ViStatus body_hp816x_get_TLS_lambdaLoggingState_Q(Call& c, ViSession s, ViUInt16* on) {
    put(on, logging(0));
    return c.done();
}

ViStatus body_hp816x_get_TLS_lambdaLoggingStateEx_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* on) {
    return get_setting(c, slot, on, logging);
}

ViStatus body_hp816x_get_TLS_wavelengthData_Q(Call& c, ViSession s, ViInt32 n, ViReal64* data) {
    if (n < 0) c.status(param(2));
    else if (n > 0 && !data) c.status(param(3));
    else fill_wavelengths(0, n, data);
    return c.done();
}

ViStatus body_hp816x_get_TLS_wavelengthDataEx_Q(Call& c, ViSession s, ViInt32 n, ViInt32 slot, ViReal64* data) {
    if (n < 0) c.status(param(2));
    else if (n > 0 && !data) c.status(param(4));
    else fill_wavelengths(slot, n, data);
    return c.done();
}

ViStatus body_hp816x_get_TLS_wavelengthPoints_Q(Call& c, ViSession s, ViInt32* n) {
    put(n, logged(0));
    return c.done();
}

ViStatus body_hp816x_get_TLS_wavelengthPointsEx_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* n) {
    return get_setting(c, slot, n, logged);
}

ViStatus body_hp816x_get_TLS_powerPoints_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* n) {
    return get_setting(c, slot, n, logged);
}

ViStatus body_hp816x_get_TLS_powerData_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 n, ViReal64* wavelengths,
                                         ViReal64* powers) {
    if (n < 0) {
        c.status(param(3));
    } else if (n > 0 && (!wavelengths || !powers)) {
        c.status(param(wavelengths ? 5 : 4));
    } else {
        fill_wavelengths(slot, n, wavelengths);
        fill_powers(slot, n, powers);
    }
    return c.done();
}

// ---- mainframe sweep settings (used by lambda scans) --------------------------------------

ViStatus body_hp816x_enableHighSweepSpeed(Call& c, ViSession s, ViUInt16 on) {
    if (!flag(on)) c.status(param(2));
    else sim::integer(sim::key("MF", 0, "highSweepSpeed"), 0) = on;
    return c.done();
}

ViStatus body_hp816x_returnEquidistantData(Call& c, ViSession s, ViUInt16 on) {
    if (!flag(on)) c.status(param(2));
    else sim::integer(sim::key("MF", 0, "equidistantData"), 1) = on;
    return c.done();
}

}  // extern "C"
