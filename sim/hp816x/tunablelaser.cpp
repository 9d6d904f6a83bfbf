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

constexpr long long max_points = 1000001;

enum { stepped = 0, manual = 1, continuous = 2 };
enum { stopped = 0, running = 1, paused = 2 };

void conflict(sim::Call& c) {
    sim::push_error(hp816x::driver, -221, "Settings conflict");
    c.status(VI_ERROR_INSTR_ERROR);
}

// Highest power (dBm) the gain curve gives at a wavelength.
double power_max_dbm(double wl) {
    double nm = (wl - laser_wavelength.def) * 1e9;
    return 8.0 - 0.001 * nm * nm;
}

// The power setting as the gain curve bounds it at a wavelength.
sim::Setting<double> power_at(double wl) {
    sim::Setting<double> p = laser_power_dbm;
    p.hi = power_max_dbm(wl);
    return p;
}

// ---- laser settings ----------------------------------------------------------
Int unit{"TLS", "unit", 0, 0, 1};
Int laser_state{"TLS", "laserState", 1, 0, 1};
Int dark{"TLS", "dark", 0, 0, 1};
Int optical_output{"TLS", "opticalOutput", 0, 0, 3};
Real attenuation{"TLS", "attenuation", 0.0, 0, 60};
Int auto_attenuation{"TLS", "autoAttenuation", 1, 0, 1};
Real rise_time{"TLS", "riseTime", 0.0, 0, 10};
Int trigger_in{"TLS", "triggerIn", 0, 0, 3};
Int trigger_out{"TLS", "triggerOut", 0, 0, 4};
Int auto_calibration{"TLS", "autoCalibration", 1, 0, 1};
Real lambda_zero{"TLS", "lambdaZero", laser_wavelength.def};
Real frequency_offset{"TLS", "frequencyOffset", 0.0, -1e12, 1e12};
Int bnc_output{"TLS", "bnc", 0, 0, 3};
Int mod_source{"TLS", "modSource", 0, 0, 3};
Int mod_output{"TLS", "modOutput", 0, 0, 1};
Int mod_state{"TLS", "modState", 0, 0, 1};
Real mod_frequency{"TLS", "modFrequency", 1e3, 1.0, 1e6};
Int sbs_state{"TLS", "sbsState", 0, 0, 1};
Real sbs_frequency{"TLS", "sbsFrequency", 20e3, 1e3, 1e6};
Real cc_level{"TLS", "ccLevel", 0.0, 0, 100};
Real sbs_level{"TLS", "sbsLevel", 0.0, 0, 1e9};
Real zero_temperature{"TLS", "zeroTemperature", 25.0};

void update_output(ViInt32 slot) { hp816x::laser_output(slot) = laser_state(slot) && !dark(slot); }

double to_unit(ViInt32 slot, double dbm) { return unit(slot) ? hp816x::dbm_to_watt(dbm) : dbm; }

// A power given in `u` as dBm; nan if it is no power at all.
double to_dbm(long long u, double v) { return u ? (v > 0 ? hp816x::watt_to_dbm(v) : NAN) : v; }

bool wavelength_ok(double wl) { return laser_wavelength.valid(wl); }

// ---- sweeps ------------------------------------------------------------------
Int sweep_mode{"TLS", "sweepMode", continuous, stepped, continuous};
Int repeat_mode{"TLS", "repeatMode", 0, 0, 1};  // 0 one-way, 1 two-way
Int cycles{"TLS", "cycles", 1};
Real dwell{"TLS", "dwell", 0.1, 0, 1000};
Real sweep_start{"TLS", "sweepStart", 1545e-9, laser_wavelength.lo, laser_wavelength.hi};
Real sweep_stop{"TLS", "sweepStop", 1555e-9, laser_wavelength.lo, laser_wavelength.hi};
Real sweep_step{"TLS", "sweepStep", 10e-12};
Real sweep_speed{"TLS", "sweepSpeed", 5e-9, 0.5e-9, 200e-9};  // checked in continuous mode only
Int sweep_state{"TLS", "sweepState", stopped};
Int sweep_pos{"TLS", "sweepPos", 0};
Int logging{"TLS", "lambdaLogging", 0, 0, 1};
// What the last sweep logged: its points, grid and the laser then.
Int logged{"TLS", "logged", 0};
Real log_start{"TLS", "logStart", 0};
Real log_step{"TLS", "logStep", 0};
Real log_power{"TLS", "logPower", 0};
Int log_output{"TLS", "logOutput", 0};
// Of the mainframe, used by lambda scans.
Int high_sweep_speed{"MF", "highSweepSpeed", 0, 0, 1};
Int equidistant_data{"MF", "equidistantData", 1, 0, 1};

long long grid_points(double start, double stop, double step) {
    return (long long)std::floor((stop - start) / step + 1e-6) + 1;
}
// A sweep's stop (parameter 8) above its start, and a step (9) of not too many points.
bool grid_ok(sim::Call& c, double start, double stop, double step) {
    if (!sweep_stop.valid(stop) || !(stop > start)) return c.status(param(8)), false;
    if (!(step > 0) || grid_points(start, stop, step) > max_points) return c.status(param(9)), false;
    return true;
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
    log_start(slot) = sweep_start(slot);
    log_step(slot) = sweep_step(slot);
    log_power(slot) = hp816x::laser_power_dbm(slot);
    log_output(slot) = hp816x::laser_output(slot);
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
    double start = log_start(slot), step = log_step(slot);
    for (ViInt32 i = 0; i < n; ++i) out[i] = i < have ? start + i * step : unlogged(i);
}

void fill_powers(ViInt32 slot, ViInt32 n, ViReal64* out) {
    long long have = logged(slot);
    double start = log_start(slot), step = log_step(slot);
    double p = log_power(slot);
    bool lit = log_output(slot) != 0;
    for (ViInt32 i = 0; i < n; ++i) {
        if (i >= have) out[i] = unlogged(i);
        else if (lit) out[i] = p + hp816x::dut_transmission_db(start + i * step) + 0.002 * jitter(i);
        else out[i] = -90.0 + 0.5 * jitter(i);
    }
}

// ---- temperatures ------------------------------------------------------------
double temperature() { return 25.4 + 0.02 * sim::noise(); }

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
    if (unit.check(c, powerUnit, 3) && optical_output.check(c, opticalOutput, 4) && laser_state.check(c, laserState, 5) &&
        laser_wavelength.check(c, wl, 8) && power_at(wl).check(c, dbm, 6) && attenuation.check(c, att, 7)) {
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
    set_selected(c, slot, selection, wl, laser_wavelength);
    return c.done();
}

ViStatus body_hp816x_get_TLS_wavelength_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* minimum, ViReal64* def,
                                          ViReal64* maximum, ViReal64* current) {
    put4(minimum, maximum, def, current, laser_wavelength, slot);
    return c.done();
}

ViStatus body_hp816x_set_TLS_power(Call& c, ViSession s, ViInt32 slot, ViInt32 powerUnit, ViInt32 selection,
                                   ViReal64 power) {
    sim::Setting<double> p = power_at(hp816x::laser_wavelength(slot));
    double v = 0;
    if (!unit.check(c, powerUnit, 3)) return c.done();
    if (!selected(selection, to_dbm(powerUnit, power), p, v)) c.status(param(4));
    else if (selection != HP816X_SEL_VALUE || p.check(c, v, 5)) {  // only a value given is checked
        unit(slot) = powerUnit;
        hp816x::laser_power_dbm(slot) = v;
    }
    return c.done();
}

ViStatus body_hp816x_get_TLS_power_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* powerUnit, ViReal64* minimum,
                                     ViReal64* def, ViReal64* maximum, ViReal64* current) {
    put(powerUnit, unit(slot));
    sim::Setting<double> p = power_at(hp816x::laser_wavelength(slot));
    put(minimum, to_unit(slot, p.lo));
    put(def, to_unit(slot, p.def));
    put(maximum, to_unit(slot, p.hi));
    put(current, to_unit(slot, hp816x::laser_power_dbm(slot)));
    return c.done();
}

ViStatus body_hp816x_set_TLS_opticalOutput(Call& c, ViSession s, ViInt32 slot, ViInt32 setting) {
    return set_setting(c, slot, setting, optical_output);
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
    if (laser_state.set(c, slot, state, 3)) update_output(slot);
    return c.done();
}

ViStatus body_hp816x_get_TLS_laserState_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* state) {
    return get_setting(c, slot, state, laser_state);
}

ViStatus body_hp816x_set_TLS_laserRiseTime(Call& c, ViSession s, ViInt32 slot, ViReal64 t) {
    return set_setting(c, slot, t, rise_time);
}

ViStatus body_hp816x_get_TLS_laserRiseTime(Call& c, ViSession s, ViInt32 slot, ViReal64* t) {
    return get_setting(c, slot, t, rise_time);
}

ViStatus body_hp816x_set_TLS_triggerConfiguration(Call& c, ViSession s, ViInt32 slot, ViInt32 in, ViInt32 out) {
    if (trigger_in.check(c, in, 3) && trigger_out.check(c, out, 4)) {
        trigger_in(slot) = in;
        trigger_out(slot) = out;
    }
    return c.done();
}

ViStatus body_hp816x_get_TLS_triggerConfiguration(Call& c, ViSession s, ViInt32 slot, ViInt32* in, ViInt32* out) {
    put(in, trigger_in(slot));
    put(out, trigger_out(slot));
    return c.done();
}

ViStatus body_hp816x_set_TLS_attenuation(Call& c, ViSession s, ViInt32 slot, ViUInt16 automatic, ViUInt16 darken,
                                         ViReal64 att) {
    if (auto_attenuation.check(c, automatic, 3) && dark.check(c, darken, 4) && attenuation.check(c, att, 5)) {
        auto_attenuation(slot) = automatic;
        dark(slot) = darken;
        attenuation(slot) = att;
        update_output(slot);
    }
    return c.done();
}

ViStatus body_hp816x_get_TLS_attenuationSettings_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* automatic,
                                                   ViUInt16* darken, ViReal64* att) {
    put(automatic, auto_attenuation(slot));
    put(darken, dark(slot));
    put(att, attenuation(slot));
    return c.done();
}

ViStatus body_hp816x_set_TLS_dark(Call& c, ViSession s, ViInt32 slot, ViUInt16 darken) {
    if (dark.set(c, slot, darken, 3)) update_output(slot);
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
    return set_setting(c, slot, on, auto_calibration);
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
    return set_setting(c, slot, offset, frequency_offset);
}

ViStatus body_hp816x_get_TLS_frequencyOffset_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* offset) {
    return get_setting(c, slot, offset, frequency_offset);
}

ViStatus body_hp816x_TLS_configureBNC(Call& c, ViSession s, ViInt32 slot, ViInt32 output) {
    return set_setting(c, slot, output, bnc_output);
}

ViStatus body_hp816x_get_TLS_BNC_config_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* output) {
    return get_setting(c, slot, output, bnc_output);
}

// ---- sweeps ----------------------------------------------------------------------------

ViStatus body_hp816x_set_TLS_sweep(Call& c, ViSession s, ViInt32 slot, ViInt32 mode, ViInt32 repeat, ViUInt32 ncycles,
                                   ViReal64 dwellTime, ViReal64 start, ViReal64 stop, ViReal64 step, ViReal64 speed) {
    if (sweep_state(slot) != stopped) conflict(c);
    else if (sweep_mode.check(c, mode, 3) && repeat_mode.check(c, repeat, 4) && dwell.check(c, dwellTime, 6) &&
             sweep_start.check(c, start, 7) && grid_ok(c, start, stop, step) &&
             (mode != continuous || sweep_speed.check(c, speed, 10))) {
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
    if (mod_source.check(c, source, 3) && mod_output.check(c, output, 4) && mod_state.check(c, state, 5) &&
        mod_frequency.check(c, frequency, 6)) {
        mod_source(slot) = source;
        mod_output(slot) = output;
        mod_state(slot) = state;
        mod_frequency(slot) = frequency;
    }
    return c.done();
}

ViStatus body_hp816x_get_TLS_modulationSettings_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* source,
                                                  ViUInt16* output, ViUInt16* state, ViReal64* frequency) {
    put(source, mod_source(slot));
    put(output, mod_output(slot));
    put(state, mod_state(slot));
    put(frequency, mod_frequency(slot));
    return c.done();
}

ViStatus body_hp816x_set_TLS_SBS_control(Call& c, ViSession s, ViInt32 slot, ViUInt16 state, ViReal64 frequency) {
    if (sbs_state.check(c, state, 3) && sbs_frequency.check(c, frequency, 4)) {
        sbs_state(slot) = state;
        sbs_frequency(slot) = frequency;
    }
    return c.done();
}

ViStatus body_hp816x_get_TLS_SBS_control_q(Call& c, ViSession s, ViInt32 slot, ViUInt16* state, ViReal64* frequency) {
    put(state, sbs_state(slot));
    put(frequency, sbs_frequency(slot));
    return c.done();
}

ViStatus body_hp816x_set_TLS_ccLevel(Call& c, ViSession s, ViInt32 slot, ViReal64 level) {
    return set_setting(c, slot, level, cc_level);
}

ViStatus body_hp816x_get_TLS_ccLevel_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* level) {
    return get_setting(c, slot, level, cc_level);
}

ViStatus body_hp816x_set_TLS_SBSLevel(Call& c, ViSession s, ViInt32 slot, ViReal64 level) {
    return set_setting(c, slot, level, sbs_level);
}

ViStatus body_hp816x_get_TLS_SBSLevel_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* level) {
    return get_setting(c, slot, level, sbs_level);
}

// ---- lambda logging and its data ---------------------------------------------------------

ViStatus body_hp816x_set_TLS_lambdaLoggingState(Call& c, ViSession s, ViUInt16 on) {
    logging.set(c, 0, on, 2);
    return c.done();
}

ViStatus body_hp816x_set_TLS_lambdaLoggingStateEx(Call& c, ViSession s, ViInt32 slot, ViUInt16 on) {
    return set_setting(c, slot, on, logging);
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
    high_sweep_speed.set(c, 0, on, 2);
    return c.done();
}

ViStatus body_hp816x_returnEquidistantData(Call& c, ViSession s, ViUInt16 on) {
    equidistant_data.set(c, 0, on, 2);
    return c.done();
}

}  // extern "C"
