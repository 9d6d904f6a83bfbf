// Simulated hp816x driver functions of this family: power meter channels.
// A channel reads the laser through the device under test (hp816x.hpp);
// its settings live in the value store under "PWM<slot*10+channel>".
#include <algorithm>
#include <cmath>
#include <vector>

#include "hp816x.hpp"

using namespace hp816x;

namespace {

enum { fn_none, fn_logging, fn_stability, fn_minmax };

std::string channel_key(int slot, int ch, const char* what) { return sim::key("PWM", slot * 10LL + ch, what); }
long long& stored_int(int slot, int ch, const char* what, long long def = 0) {
    return sim::integer(channel_key(slot, ch, what), def);
}
double& stored_real(int slot, int ch, const char* what, double def = 0) {
    return sim::real(channel_key(slot, ch, what), def);
}

long long& unit(int slot, int ch) { return stored_int(slot, ch, "unit", 0); }             // 0 dBm, 1 W
long long& range_mode(int slot, int ch) { return stored_int(slot, ch, "rangeMode", 1); }  // 1 auto
double& wavelength(int slot, int ch) { return stored_real(slot, ch, "wavelength", 1550e-9); }
double& averaging(int slot, int ch) { return stored_real(slot, ch, "averagingTime", 0.1); }
double& range(int slot, int ch) { return stored_real(slot, ch, "range", 10.0); }
double& internal_ref(int slot, int ch) { return stored_real(slot, ch, "internalReference", 0.0); }

// Absolute power (dBm) the channel sees, with its calibration offset.
double absolute_dbm(int slot, int ch) { return pwm_power_dbm(slot, ch) + stored_real(slot, ch, "calibration"); }

// A reading as the channel reports it: relative (dB) to its reference when
// measuring relative, else in its power unit.
double reading(int slot, int ch) {
    double dbm = absolute_dbm(slot, ch);
    if (stored_int(slot, ch, "measure") == 1) {
        double ref = stored_int(slot, ch, "refSource") == 0
                         ? internal_ref(slot, ch)
                         : absolute_dbm((int)stored_int(slot, ch, "refSlot", slot),
                                        (int)stored_int(slot, ch, "refChannel", ch));
        return dbm - ref;
    }
    return unit(slot, ch) == 1 ? dbm_to_watt(dbm) : dbm;
}

// Fills the results of function `fn` as set up (none if another is); a slow
// drift on stability results.
void results(int slot, int ch, int fn, ViUInt16 result_unit, double* out, double drift) {
    long long n = stored_int(slot, ch, "function") == fn ? stored_int(slot, ch, "points") : 0;
    if (!out) return;
    for (long long i = 0; i < n; ++i) {
        double dbm = absolute_dbm(slot, ch) + drift * std::sin(i * 0.05);
        out[i] = result_unit == 1 ? dbm_to_watt(dbm) : dbm;
    }
}

}  // namespace

extern "C" {

ViStatus body_hp816x_PWM_slaveChannelCheck(Call& c, ViSession s, ViInt32 slot, ViUInt16 check) {
    stored_int(slot, 0, "slaveChannelCheck") = check;
    return c.done();
}

ViStatus body_hp816x_set_PWM_parameters(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt16 rangeMode,
                                        ViUInt16 powerUnit, ViUInt16 internalTrigger, ViReal64 wl, ViReal64 avg,
                                        ViReal64 powerRange) {
    range_mode(slot, ch) = rangeMode;
    unit(slot, ch) = powerUnit;
    stored_int(slot, ch, "internalTrigger") = internalTrigger;
    wavelength(slot, ch) = wl;
    averaging(slot, ch) = avg;
    range(slot, ch) = powerRange;
    return c.done();
}

ViStatus body_hp816x_get_PWM_parameters_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt16* rangeMode,
                                          ViUInt16* powerUnit, ViUInt16* internalTrigger, ViReal64* wl, ViReal64* avg,
                                          ViReal64* powerRange) {
    put(rangeMode, range_mode(slot, ch));
    put(powerUnit, unit(slot, ch));
    put(internalTrigger, stored_int(slot, ch, "internalTrigger"));
    put(wl, wavelength(slot, ch));
    put(avg, averaging(slot, ch));
    put(powerRange, range(slot, ch));
    return c.done();
}

ViStatus body_hp816x_set_PWM_referenceSource(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViInt32 measure,
                                             ViInt32 refSource, ViInt32 refSlot, ViInt32 refChannel) {
    stored_int(slot, ch, "measure") = measure;
    stored_int(slot, ch, "refSource") = refSource;
    stored_int(slot, ch, "refSlot", slot) = refSlot;
    stored_int(slot, ch, "refChannel", ch) = refChannel;
    return c.done();
}

ViStatus body_hp816x_get_PWM_referenceSource_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViInt32* measure,
                                               ViInt32* refSource, ViInt32* refSlot, ViInt32* refChannel) {
    put(measure, stored_int(slot, ch, "measure"));
    put(refSource, stored_int(slot, ch, "refSource"));
    put(refSlot, stored_int(slot, ch, "refSlot", slot));
    put(refChannel, stored_int(slot, ch, "refChannel", ch));
    return c.done();
}

ViStatus body_hp816x_set_PWM_internalTrigger(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt16 trig) {
    stored_int(slot, ch, "internalTrigger") = trig;
    return c.done();
}

ViStatus body_hp816x_set_PWM_averagingTime(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64 avg) {
    if (!(avg > 0)) c.status(param(4));
    else averaging(slot, ch) = avg;
    return c.done();
}

ViStatus body_hp816x_get_PWM_averagingTime_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64* avg) {
    put(avg, averaging(slot, ch));
    return c.done();
}

ViStatus body_hp816x_set_PWM_wavelength(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64 wl) {
    if (!in_range(wl, 800e-9, 1700e-9)) c.status(param(4));
    else wavelength(slot, ch) = wl;
    return c.done();
}

ViStatus body_hp816x_get_PWM_wavelength_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64* minWl,
                                          ViReal64* maxWl, ViReal64* current) {
    put(minWl, 800e-9);
    put(maxWl, 1700e-9);
    put(current, wavelength(slot, ch));
    return c.done();
}

ViStatus body_hp816x_set_PWM_calibration(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64 cal) {
    stored_real(slot, ch, "calibration") = cal;
    return c.done();
}

ViStatus body_hp816x_get_PWM_calibration_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64* cal) {
    put(cal, stored_real(slot, ch, "calibration"));
    return c.done();
}

ViStatus body_hp816x_set_PWM_powerRange(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt16 rangeMode,
                                        ViReal64 powerRange) {
    range_mode(slot, ch) = rangeMode;
    range(slot, ch) = powerRange;
    return c.done();
}

ViStatus body_hp816x_get_PWM_powerRange_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt16* rangeMode,
                                          ViReal64* powerRange) {
    put(rangeMode, range_mode(slot, ch));
    put(powerRange, range(slot, ch));
    return c.done();
}

ViStatus body_hp816x_set_PWM_powerUnit(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViInt32 powerUnit) {
    if (powerUnit != 0 && powerUnit != 1) c.status(param(4));
    else unit(slot, ch) = powerUnit;
    return c.done();
}

ViStatus body_hp816x_get_PWM_powerUnit_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViInt32* powerUnit) {
    put(powerUnit, unit(slot, ch));
    return c.done();
}

ViStatus body_hp816x_set_PWM_referenceValue(Call& c, ViSession s, ViInt32 slot, ViInt32 ch,
                                            ViReal64 internalReference, ViReal64 referenceChannel) {
    internal_ref(slot, ch) = internalReference;
    stored_real(slot, ch, "referenceChannel") = referenceChannel;
    return c.done();
}

ViStatus body_hp816x_get_PWM_referenceValue_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViInt32* refSource,
                                              ViReal64* internalReference, ViReal64* referenceChannel) {
    put(refSource, stored_int(slot, ch, "refSource"));
    put(internalReference, internal_ref(slot, ch));
    put(referenceChannel, stored_real(slot, ch, "referenceChannel"));
    return c.done();
}

ViStatus body_hp816x_set_PWM_triggerConfiguration(Call& c, ViSession s, ViInt32 slot, ViInt32 trigIn, ViInt32 trigOut) {
    stored_int(slot, 0, "triggerIn") = trigIn;
    stored_int(slot, 0, "triggerOut") = trigOut;
    return c.done();
}

ViStatus body_hp816x_get_PWM_triggerConfiguration(Call& c, ViSession s, ViInt32 slot, ViInt32* trigIn,
                                                  ViInt32* trigOut) {
    put(trigIn, stored_int(slot, 0, "triggerIn"));
    put(trigOut, stored_int(slot, 0, "triggerOut"));
    return c.done();
}

ViStatus body_hp816x_PWM_displayToReference(Call& c, ViSession s, ViInt32 slot, ViInt32 ch) {
    internal_ref(slot, ch) = absolute_dbm(slot, ch);
    return c.done();
}

ViStatus body_hp816x_start_PWM_internalTrigger(Call& c, ViSession s, ViInt32 slot, ViInt32 ch) {
    stored_real(slot, ch, "fetched") = reading(slot, ch);
    stored_int(slot, ch, "hasFetched") = 1;
    return c.done();
}

ViStatus body_hp816x_PWM_readValue(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64* value) {
    double v = reading(slot, ch);
    c.take(averaging(slot, ch));
    stored_real(slot, ch, "fetched") = v;
    stored_int(slot, ch, "hasFetched") = 1;
    put(value, v);
    return c.done();
}

// The value of the last measurement (a new one if there was none).
ViStatus body_hp816x_PWM_fetchValue(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64* value) {
    put(value, stored_int(slot, ch, "hasFetched") ? stored_real(slot, ch, "fetched") : reading(slot, ch));
    return c.done();
}

ViStatus body_hp816x_PWM_readAll(Call& c, ViSession s, ViUInt32* count, ViInt32 slots[], ViInt32 channels[],
                                 ViReal64 values[]) {
    const int cap = 34;
    std::vector<PwmChannel> all;  // the mainframe's power meter channels, in slot order
    const std::vector<unsigned>& modules = sim::instrument(s)->slots;
    for (size_t slot = 0; slot < modules.size(); ++slot)
        if (modules[slot] & sim::PowerMeters)
            for (int ch = 0; ch < sim::channels(modules[slot]) && all.size() < (size_t)cap; ++ch)
                all.push_back({(int)slot, ch});
    int n = sim::hostile() ? cap : (int)all.size();  // hostile: every entry written
    for (int i = 0; i < n; ++i) {
        bool real = (size_t)i < all.size();  // hostile: junk beyond the mainframe's channels
        if (slots) slots[i] = real ? all[(size_t)i].slot : -1;
        if (channels) channels[i] = real ? all[(size_t)i].channel : -1;
        if (values) values[i] = real ? reading(all[(size_t)i].slot, all[(size_t)i].channel) : -1.0;
    }
    put(count, sim::report_count((long long)all.size(), cap));
    return c.done();
}

ViStatus body_hp816x_PWM_zeroing(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViInt32* result) {
    put(result, 0);  // zeroing succeeded
    return c.done();
}

ViStatus body_hp816x_PWM_zeroingAll(Call& c, ViSession s, ViInt32* result) {
    put(result, 0);
    return c.done();
}

ViStatus body_hp816x_PWM_ignoreError(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt16 ignore,
                                     ViInt32 errorNumber) {
    stored_int(slot, ch, "ignoreError") = ignore;
    stored_int(slot, ch, "ignoredErrorNumber") = errorNumber;
    return c.done();
}

// Logging: dataPoints readings of averagingTime each; the estimated time
// to completion comes back in milliseconds.
ViStatus body_hp816x_set_PWM_logging(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64 avg, ViInt32 dataPoints,
                                     ViInt32* timeout) {
    if (!(avg > 0)) return c.status(param(4)), c.done();
    if (dataPoints < 0 || dataPoints > 10000000) return c.status(param(5)), c.done();  // the instrument's most
    stored_int(slot, ch, "function") = fn_logging;
    stored_int(slot, ch, "points") = dataPoints;
    averaging(slot, ch) = avg;
    put(timeout, std::min(2e9, std::ceil(avg * dataPoints * 1000) + 100));
    return c.done();
}

// Writes the dataPoints of the last logging set-up; status 1: complete.
ViStatus body_hp816x_get_PWM_loggingResults_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt16 wait,
                                              ViUInt16 resultUnit, ViUInt16* status, ViReal64 result[]) {
    results(slot, ch, fn_logging, resultUnit, result, 0.0);
    put(status, 1);
    return c.done();
}

// Stability: a reading every delayTime over totalTime; the number of
// results comes back.
ViStatus body_hp816x_set_PWM_stability(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64 avg, ViReal64 delay,
                                       ViReal64 total, ViInt32* estimated) {
    if (!(avg > 0)) return c.status(param(4)), c.done();
    if (!(delay > 0) || !(total >= 0) || total / delay > 1e7) return c.status(param(5)), c.done();
    long long n = (long long)std::floor(total / delay + 1e-9);
    stored_int(slot, ch, "function") = fn_stability;
    stored_int(slot, ch, "points") = n;
    put(estimated, n);
    return c.done();
}

ViStatus body_hp816x_get_PWM_stabilityResults_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt16 wait,
                                                ViUInt16 resultUnit, ViUInt16* status, ViReal64 result[]) {
    results(slot, ch, fn_stability, resultUnit, result, 0.01);
    put(status, 1);
    return c.done();
}

// Min-max: the estimated time (ms) for dataPoints readings comes back.
ViStatus body_hp816x_set_PWM_minMax(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViInt32 mode, ViInt32 dataPoints,
                                    ViInt32* estimated) {
    if (dataPoints < 1) return c.status(param(5)), c.done();
    stored_int(slot, ch, "function") = fn_minmax;
    stored_int(slot, ch, "points") = dataPoints;
    stored_int(slot, ch, "minMaxMode") = mode;
    put(estimated, std::min(2e9, std::ceil(averaging(slot, ch) * dataPoints * 1000)));
    return c.done();
}

// Minimum, maximum and latest of (up to 1000 of) the readings set up.
ViStatus body_hp816x_get_PWM_minMaxResults_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64* lo,
                                             ViReal64* hi, ViReal64* current) {
    long long n = std::max(1LL, std::min(1000LL, stored_int(slot, ch, "points", 1)));
    double v = reading(slot, ch), mn = v, mx = v;
    for (long long i = 1; i < n; ++i) {
        v = reading(slot, ch);
        mn = std::min(mn, v);
        mx = std::max(mx, v);
    }
    put(lo, mn);
    put(hi, mx);
    put(current, v);
    return c.done();
}

ViStatus body_hp816x_PWM_functionStop(Call& c, ViSession s, ViInt32 slot, ViInt32 ch) {
    stored_int(slot, ch, "function") = fn_none;
    return c.done();
}

}  // extern "C"
