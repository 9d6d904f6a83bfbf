// Simulated hp816x driver functions of this family: return-loss modules.
//
// Model: the module's source (0 dBm when on, 1310 nm lower, 1550 nm upper,
// or an external source at the module's wavelength) feeds a monitor diode
// (10 % of the source) and the front connector; the return diode sees half
// of what comes back.  What comes back is the module's own residual
// reflection (72 dB return loss) plus the device: a connector whose return
// loss falls from 45.5 dB at 1310 nm to 42.8 dB at 1550 nm.  Calibrating
// assumes that the reference reflector (0.16 dB) or the termination is
// connected; until then the module holds factory calibration values.
#include <algorithm>
#include <cmath>

#include "hp816x.hpp"

using namespace hp816x;

namespace {

const double src_wl[2] = {1310e-9, 1550e-9};
const double src_watt = 1e-3, monitor_share = 0.1, return_share = 0.5, dark_watt = 1e-11;
const double residual_rl = 72.0, reflector_rl = 0.16, rl_limit = 75.0;

std::string per(const char* what, long long src) { return std::string(what) + "." + std::to_string(src); }

Int source{"RLM", "source", 0, 0, 2};  // 0 lower, 1 upper, 2 external
Int laser{"RLM", "laser", 0, 0, 1};
Int internal_trigger{"RLM", "trigger", 0, 0, 1};
Real wavelength{"RLM", "wavelength", 1550e-9, 1250e-9, 1650e-9};
Real avg_time{"RLM", "avgTime", 0.1, 1e-4, 10};
Int trigger_in{"RLM", "trigIn", 0, 0, 3};
Int trigger_out{"RLM", "trigOut", 0, 0, 3};
Int auto_range{"RLM", "autorange", 1, 0, 1};
Real range_monitor{"RLM", "rangeMon", 0, -70, 10};  // dBm
Real range_return{"RLM", "rangeRet", -20, -70, 10};
Int sweep{"RLM", "sweep", 0, 0, 1};  // of the mainframe (unit -1)
// Per source (0 lower, 1 upper).
Real rl_reference[2] = {{"RLM", "rlRef.0", reflector_rl, 0, 80}, {"RLM", "rlRef.1", reflector_rl, 0, 80}};
Real fp_delta[2] = {{"RLM", "fpDelta.0", 0, -10, 10}, {"RLM", "fpDelta.1", 0, -10, 10}};
Int modulation[2] = {{"RLM", "modulation.0", 0, 0, 1}, {"RLM", "modulation.1", 0, 0, 1}};
// Measurement functions: 0 none, 1 logging, 2 stability, 3 min/max.
Int running{"RLM", "function", 0};
Int function_points{"RLM", "points", 0};  // of a logging or stability function
Int min_max_points{"RLM", "mmPoints", 0};
// The last readings and the zeroing.
Real last_rl{"RLM", "lastRL", 0};
Int last_rl_valid{"RLM", "lastRL.valid", 0};
Real dut_return{"RLM", "dut.ret", 0};
Real dut_monitor{"RLM", "dut.mon", 0};
Int dut_valid{"RLM", "dut.valid", 0};
Int zeroed{"RLM", "zeroed", 0};

// Source 0 (lower) or 1 (upper) as parameter 3.
bool src_ok(sim::Call& c, ViInt32 src) {
    if (src >= 0 && src <= 1) return true;
    c.status(param(3));
    return false;
}

double lin(double rl_db) { return std::pow(10.0, -rl_db / 10); }
double source_wavelength(ViInt32 slot) { return source(slot) < 2 ? src_wl[source(slot)] : wavelength(slot); }
double device_rl(double wl) { return 45.5 - (wl - 1310e-9) / 240e-9 * 2.7; }

// Return and monitor power (W) with `reflection` (linear) at the connector.
void sample(ViInt32 slot, double reflection, double& ret, double& mon) {
    double p = laser(slot) ? src_watt : 0;
    mon = monitor_share * p * (1 + 5e-4 * sim::noise()) + dark_watt * (1 + sim::noise());
    ret = return_share * p * (lin(residual_rl) + reflection) * (1 + 5e-4 * sim::noise()) + dark_watt * (1 + sim::noise());
}

void sample_device(ViInt32 slot, double& ret, double& mon) {
    sample(slot, lin(device_rl(source_wavelength(slot))), ret, mon);
    dut_return(slot) = ret;
    dut_monitor(slot) = mon;
    dut_valid(slot) = 1;
}

// Calibration pairs per source; factory values until calibrated.
double& cal(ViInt32 slot, const char* what, long long src) {
    bool monitor = what[1] == 'm';  // "rm", "tm": monitor; "rr", "tr": return
    double reflection = what[0] == 'r' ? lin(reflector_rl) : 0;
    double def = monitor ? monitor_share * src_watt : return_share * src_watt * (lin(residual_rl) + reflection);
    return sim::real(sim::key("RLM", slot, per(what, src).c_str()), def);
}

// Return loss (dB) from the return/monitor pairs of the reference reflector
// (rr, rm), the termination (tr, tm) and the device (dr, dm), and the
// reflector's own return loss ref:
//     RL = ref - 10 log10((dr/dm - tr/tm) / (rr/rm - tr/tm))
// A device that returns no more than the termination reads the limit, 75 dB.
// Returns 0, or the position (from 1) of the parameter that makes it impossible.
int return_loss(double rr, double rm, double tr, double tm, double dr, double dm, double ref, double& rl) {
    if (!(rm > 0)) return 4;
    if (!(tm > 0)) return 6;
    if (!(dm > 0)) return 8;
    double r = rr / rm, t = tr / tm, d = dr / dm;
    if (!(r > t)) return 3;
    rl = d > t ? std::min(rl_limit, ref - 10 * std::log10((d - t) / (r - t))) : rl_limit;
    return 0;
}

bool laser_on(sim::Call& c, ViInt32 slot) {
    if (laser(slot)) return true;
    sim::push_error(hp816x::driver, -221, "Settings conflict;laser source is off");
    c.status(VI_ERROR_INSTR_ERROR);
    return false;
}

// One return-loss reading of the device, FP delta included.
double read_rl(ViInt32 slot) {
    long long src = std::min(source(slot), 1LL);
    double dr, dm, rl = rl_limit;
    sample_device(slot, dr, dm);
    return_loss(cal(slot, "rr", src), cal(slot, "rm", src), cal(slot, "tr", src), cal(slot, "tm", src), dr, dm,
                rl_reference[src](slot), rl);
    rl += fp_delta[src](slot);
    last_rl(slot) = rl;
    last_rl_valid(slot) = 1;
    return rl;
}

double read_value(ViInt32 slot, ViUInt16 channel) {
    double ret, mon;
    sample_device(slot, ret, mon);
    return channel == 0 ? mon : ret;
}

// Values recorded by a logging or stability function; hostile: the most the
// module records, whatever was asked.
long long recorded(ViInt32 slot) {
    return sim::hostile() ? HP816X_RLM_MAX_POINTS : function_points(slot);
}

void put_results(ViInt32 slot, ViUInt16 unit, ViUInt16 value, ViReal64* out) {
    long long n = recorded(slot);
    for (long long i = 0; i < n && out; ++i) {
        double v;
        if (value == 0) {
            v = read_rl(slot);
            if (unit == 1) v = lin(v);
        } else {
            v = read_value(slot, value == 1 ? 0 : 1);
            if (unit == 0) v = watt_to_dbm(v);
        }
        out[i] = v;
    }
}

// The results of function `fn` (1 logging, 2 stability): complete is 1 when
// it is the one running, 0 when not (then nothing is written).
void function_results(sim::Call& c, ViInt32 slot, long long fn, ViUInt16 wait, ViUInt16 unit, ViUInt16 value,
                      ViUInt16* complete, ViReal64* out) {
    if (wait > 1) c.status(param(3));
    else if (unit > 1) c.status(param(4));
    else if (value > 2) c.status(param(5));
    else {
        bool active = running(slot) == fn;
        put(complete, active);
        if (active) put_results(slot, unit, value, out);
    }
}

}  // namespace

extern "C" {

ViStatus body_hp816x_set_RLM_parameters(Call& c, ViSession s, ViInt32 slot, ViUInt16 trigger, ViReal64 avg,
                                        ViReal64 wl, ViInt32 src, ViUInt16 state) {
    if (internal_trigger.check(c, trigger, 3) && avg_time.check(c, avg, 4) && wavelength.check(c, wl, 5) &&
        source.check(c, src, 6) && laser.check(c, state, 7)) {
        internal_trigger(slot) = trigger;
        avg_time(slot) = avg;
        wavelength(slot) = wl;
        source(slot) = src;
        laser(slot) = state;
    }
    return c.done();
}

ViStatus body_hp816x_get_RLM_parameters_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* trigger, ViReal64* avg,
                                          ViReal64* wl, ViInt32* src, ViUInt16* state) {
    put(trigger, internal_trigger(slot));
    if (avg) *avg = avg_time(slot);
    if (wl) *wl = wavelength(slot);
    if (src) *src = (ViInt32)source(slot);
    if (state) *state = (ViUInt16)laser(slot);
    return c.done();
}

ViStatus body_hp816x_set_RLM_internalTrigger(Call& c, ViSession s, ViInt32 slot, ViUInt16 trigger) {
    return set_setting(c, slot, trigger, internal_trigger);
}

ViStatus body_hp816x_set_RLM_averagingTime(Call& c, ViSession s, ViInt32 slot, ViReal64 avg) {
    return set_setting(c, slot, avg, avg_time);
}

ViStatus body_hp816x_get_RLM_averagingTime_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* avg) {
    return get_setting(c, slot, avg, avg_time);
}

ViStatus body_hp816x_set_RLM_wavelength(Call& c, ViSession s, ViInt32 slot, ViReal64 wl) {
    wavelength.set(c, slot, wl, 3);
    return c.done();
}

ViStatus body_hp816x_get_RLM_wavelength_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* mn, ViReal64* mx,
                                          ViReal64* def, ViReal64* cur) {
    put4(mn, mx, def, cur, wavelength, slot);
    return c.done();
}

ViStatus body_hp816x_calibrate_RLM(Call& c, ViSession s, ViInt32 slot, ViInt32 which) {
    if (which < 0 || which > 1) c.status(param(3));
    else if (laser_on(c, slot)) {
        long long src = std::min(source(slot), 1LL);
        double ret, mon;
        sample(slot, which == 0 ? lin(reflector_rl) : 0, ret, mon);
        cal(slot, which == 0 ? "rr" : "tr", src) = ret;
        cal(slot, which == 0 ? "rm" : "tm", src) = mon;
    }
    return c.done();
}

ViStatus body_hp816x_set_RLM_triggerConfiguration(Call& c, ViSession s, ViInt32 slot, ViInt32 in, ViInt32 out) {
    if (trigger_in.check(c, in, 3) && trigger_out.check(c, out, 4)) {
        trigger_in(slot) = in;
        trigger_out(slot) = out;
    }
    return c.done();
}

// Takes one reading that the fetch functions then report.
ViStatus body_hp816x_start_RLM_internalTrigger(Call& c, ViSession s, ViInt32 slot) {
    if (laser_on(c, slot)) read_rl(slot);
    return c.done();
}

ViStatus body_hp816x_RLM_readReturnLoss(Call& c, ViSession s, ViInt32 slot, ViReal64* rl) {
    if (laser_on(c, slot)) {
        double v = read_rl(slot);
        if (rl) *rl = v;
    }
    return c.done();
}

ViStatus body_hp816x_RLM_fetchReturnLoss(Call& c, ViSession s, ViInt32 slot, ViReal64* rl) {
    if (last_rl_valid(slot)) {
        put(rl, last_rl(slot));
    } else if (laser_on(c, slot)) {
        double v = read_rl(slot);
        if (rl) *rl = v;
    }
    return c.done();
}

// Power (W) at the monitor (channel 0) or return (1) diode.
ViStatus body_hp816x_RLM_readValue(Call& c, ViSession s, ViInt32 slot, ViUInt16 channel, ViReal64* value) {
    if (channel > 1) c.status(param(3));
    else {
        double v = read_value(slot, channel);
        if (value) *value = v;
    }
    return c.done();
}

ViStatus body_hp816x_RLM_fetchValue(Call& c, ViSession s, ViInt32 slot, ViUInt16 channel, ViReal64* value) {
    if (channel > 1) c.status(param(3));
    else {
        if (!dut_valid(slot)) read_value(slot, channel);
        put(value, channel == 0 ? dut_monitor(slot) : dut_return(slot));
    }
    return c.done();
}

// Zero result: 0 done.
ViStatus body_hp816x_RLM_zeroing(Call& c, ViSession s, ViInt32 slot, ViInt32* result) {
    zeroed(slot) = 1;
    if (result) *result = 0;
    return c.done();
}

ViStatus body_hp816x_RLM_zeroingAll(Call& c, ViSession s, ViInt32* result) {
    for (int slot = 0; slot < hp816x::max_slots; ++slot) zeroed(slot) = 1;
    if (result) *result = 0;
    return c.done();
}

// Ranges in dBm, -70 to +10.
ViStatus body_hp816x_set_RLM_powerRange(Call& c, ViSession s, ViInt32 slot, ViUInt16 autorange, ViReal64 monitor,
                                        ViReal64 ret) {
    if (auto_range.check(c, autorange, 3) && range_monitor.check(c, monitor, 4) && range_return.check(c, ret, 5)) {
        auto_range(slot) = autorange;
        range_monitor(slot) = monitor;
        range_return(slot) = ret;
    }
    return c.done();
}

ViStatus body_hp816x_get_RLM_powerRange_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* autorange, ViReal64* monitor,
                                          ViReal64* ret) {
    put(autorange, auto_range(slot));
    put(monitor, range_monitor(slot));
    put(ret, range_return(slot));
    return c.done();
}

ViStatus body_hp816x_set_RLM_rlReference(Call& c, ViSession s, ViInt32 slot, ViInt32 src, ViReal64 rl) {
    if (!src_ok(c, src)) return c.done();
    rl_reference[src].set(c, slot, rl, 4);
    return c.done();
}

ViStatus body_hp816x_get_RLM_rlReference_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 src, ViReal64* rl) {
    if (src_ok(c, src)) put(rl, rl_reference[src](slot));
    return c.done();
}

ViStatus body_hp816x_set_RLM_FPDelta(Call& c, ViSession s, ViInt32 slot, ViInt32 src, ViReal64 delta) {
    if (!src_ok(c, src)) return c.done();
    fp_delta[src].set(c, slot, delta, 4);
    return c.done();
}

ViStatus body_hp816x_get_RLM_FPDelta_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 src, ViReal64* delta) {
    if (src_ok(c, src)) put(delta, fp_delta[src](slot));
    return c.done();
}

// The formula of return_loss() above, on the values given (no FP delta).
ViStatus body_hp816x_calculate_RL(Call& c, ViSession s, ViInt32 slot, ViReal64 rr, ViReal64 rm, ViReal64 tr,
                                  ViReal64 tm, ViReal64 dr, ViReal64 dm, ViReal64 ref, ViReal64* rl) {
    double v = 0;
    int bad = return_loss(rr, rm, tr, tm, dr, dm, ref, v);
    if (bad) c.status(param(bad));
    else if (rl) *rl = v;
    return c.done();
}

ViStatus body_hp816x_get_RLM_reflectanceValues_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 src, ViReal64* ret,
                                                 ViReal64* mon) {
    if (src_ok(c, src)) {
        put(ret, cal(slot, "rr", src));
        put(mon, cal(slot, "rm", src));
    }
    return c.done();
}

ViStatus body_hp816x_get_RLM_terminationValues_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 src, ViReal64* ret,
                                                 ViReal64* mon) {
    if (src_ok(c, src)) {
        put(ret, cal(slot, "tr", src));
        put(mon, cal(slot, "tm", src));
    }
    return c.done();
}

// The device values of the last reading (a new reading if there is none).
ViStatus body_hp816x_get_RLM_dutValues_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* ret, ViReal64* mon) {
    double r, m;
    if (!dut_valid(slot)) sample_device(slot, r, m);
    put(ret, dut_return(slot));
    put(mon, dut_monitor(slot));
    return c.done();
}

ViStatus body_hp816x_get_RLM_srcWavelength_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* lower, ViReal64* upper) {
    if (lower) *lower = src_wl[0];
    if (upper) *upper = src_wl[1];
    return c.done();
}

ViStatus body_hp816x_set_RLM_laserSourceParameters(Call& c, ViSession s, ViInt32 slot, ViInt32 src, ViUInt16 state) {
    if (source.check(c, src, 3) && laser.check(c, state, 4)) {
        source(slot) = src;
        laser(slot) = state;
    }
    return c.done();
}

ViStatus body_hp816x_get_RLM_laserSourceParameters_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* src,
                                                     ViUInt16* state) {
    if (src) *src = (ViInt32)source(slot);
    if (state) *state = (ViUInt16)laser(slot);
    return c.done();
}

ViStatus body_hp816x_set_RLM_laserState(Call& c, ViSession s, ViInt32 slot, ViUInt16 state) {
    return set_setting(c, slot, state, laser);
}

ViStatus body_hp816x_get_RLM_modulationState_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 src, ViUInt16* state) {
    if (src_ok(c, src)) put(state, modulation[src](slot));
    return c.done();
}

ViStatus body_hp816x_set_RLM_modulationState(Call& c, ViSession s, ViInt32 slot, ViInt32 src, ViUInt16 state) {
    if (!src_ok(c, src)) return c.done();
    modulation[src].set(c, slot, state, 4);
    return c.done();
}

ViStatus body_hp816x_get_RLM_laserState_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* state) {
    return get_setting(c, slot, state, laser);
}

ViStatus body_hp816x_enable_RLM_sweep(Call& c, ViSession s, ViUInt16 enable) {
    sweep.set(c, -1, enable, 2);
    return c.done();
}

// ---- measurement functions: logging, stability, min/max ----------------------------

ViStatus body_hp816x_set_RLM_logging(Call& c, ViSession s, ViInt32 slot, ViReal64 avg, ViInt32 points,
                                     ViInt32* timeout) {
    if (!avg_time.check(c, avg, 3)) return c.done();
    if (points < 1 || points > HP816X_RLM_MAX_POINTS) c.status(param(4));
    else if (laser_on(c, slot)) {
        running(slot) = 1;
        function_points(slot) = points;
        if (timeout) *timeout = (ViInt32)std::ceil(points * avg * 1000) + 100;
    }
    return c.done();
}

ViStatus body_hp816x_get_RLM_loggingResults_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16 wait, ViUInt16 unit,
                                              ViUInt16 value, ViUInt16* complete, ViReal64* results) {
    function_results(c, slot, 1, wait, unit, value, complete, results);
    return c.done();
}

// Records one return-loss value per period over the total time; the number
// of values goes to *points.
ViStatus body_hp816x_set_RLM_stability(Call& c, ViSession s, ViInt32 slot, ViReal64 total, ViReal64 period,
                                       ViReal64 avg, ViInt32* points) {
    double n = period > 0 ? std::floor(total / period + 1e-9) : 0;
    if (!(period > 0)) c.status(param(4));
    else if (!(n >= 1 && n <= HP816X_RLM_MAX_POINTS)) c.status(param(3));
    else if (!(avg > 0 && avg <= period)) c.status(param(5));
    else if (laser_on(c, slot)) {
        running(slot) = 2;
        function_points(slot) = (long long)n;
        if (points) *points = (ViInt32)n;
    }
    return c.done();
}

ViStatus body_hp816x_get_RLM_stabilityResults_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16 wait, ViUInt16 unit,
                                                ViUInt16* complete, ViReal64* results) {
    function_results(c, slot, 2, wait, unit, 0, complete, results);
    return c.done();
}

ViStatus body_hp816x_set_RLM_minMax(Call& c, ViSession s, ViInt32 slot, ViInt32 mode, ViInt32 points,
                                    ViUInt32* time_ms) {
    if (mode < 0 || mode > 2) c.status(param(3));
    else if (points < 1 || points > HP816X_RLM_MAX_POINTS) c.status(param(4));
    else if (laser_on(c, slot)) {
        running(slot) = 3;
        min_max_points(slot) = points;
        if (time_ms) *time_ms = (ViUInt32)std::ceil(points * avg_time(slot) * 1000);
    }
    return c.done();
}

ViStatus body_hp816x_get_RLM_minMaxResults_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* mn, ViReal64* mx,
                                             ViReal64* cur) {
    if (running(slot) != 3) {
        sim::push_error(hp816x::driver, -221, "Settings conflict;no min/max function running");
        c.status(VI_ERROR_INSTR_ERROR);
        return c.done();
    }
    long long n = std::min(min_max_points(slot), 1000LL);
    double lo = 1e9, hi = -1e9, last = 0;
    for (long long i = 0; i < n; ++i) {
        last = read_rl(slot);
        lo = std::min(lo, last);
        hi = std::max(hi, last);
    }
    if (mn) *mn = lo;
    if (mx) *mx = hi;
    if (cur) *cur = last;
    return c.done();
}

ViStatus body_hp816x_RLM_functionStop(Call& c, ViSession s, ViInt32 slot) {
    running(slot) = 0;
    return c.done();
}

// Nothing is ever pending in simulation.
ViStatus body_hp816x_WaitForOPC(Call& c, ViSession s, ViInt32 slot, ViUInt16 wait) {
    return c.done();
}

}  // extern "C"
