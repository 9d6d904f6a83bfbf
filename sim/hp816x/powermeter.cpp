// Simulated hp816x driver functions of this family: power meter channels.
// A channel reads the laser through the device under test (hp816x.hpp);
// its settings live in the value store under "PWM<slot*10+channel>".
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "hp816x.hpp"

using namespace hp816x;

namespace {

enum { fn_none, fn_logging, fn_stability, fn_minmax };

// Settings of a channel, by its unit at(slot, channel).
long long at(int slot, int ch) { return slot * 10LL + ch; }
Int unit{"PWM", "unit", 0, 0, 1};  // 0 dBm, 1 W
Int range_mode{"PWM", "rangeMode", 1};  // 1 auto
Real wavelength{"PWM", "wavelength", 1550e-9, 800e-9, 1700e-9};
Real averaging{"PWM", "averagingTime", 0.1, std::numeric_limits<double>::denorm_min()};  // above 0
Real range{"PWM", "range", 10.0};
Real internal_ref{"PWM", "internalReference", 0.0};
Real reference_channel{"PWM", "referenceChannel", 0.0};
Real calibration{"PWM", "calibration", 0.0};
Int internal_trigger{"PWM", "internalTrigger", 0};
Int measure_mode{"PWM", "measure", 0};  // 1 relative to the reference
Int ref_source{"PWM", "refSource", 0};  // 0 internal, else another channel's reading
Int function{"PWM", "function", fn_none};
Int points{"PWM", "points", 0};
Int min_max_mode{"PWM", "minMaxMode", 0};
Real fetched{"PWM", "fetched", 0};
Int has_fetched{"PWM", "hasFetched", 0};
Int ignore_error{"PWM", "ignoreError", 0};
Int ignored_error{"PWM", "ignoredErrorNumber", 0};
// Of the module (channel 0).
Int slave_channel_check{"PWM", "slaveChannelCheck", 0};
Int trigger_in{"PWM", "triggerIn", 0};
Int trigger_out{"PWM", "triggerOut", 0};
// The reference channel: the channel itself until one is set.
long long& ref_slot(int slot, int ch) { return sim::integer(sim::key("PWM", at(slot, ch), "refSlot"), slot); }
long long& ref_channel(int slot, int ch) { return sim::integer(sim::key("PWM", at(slot, ch), "refChannel"), ch); }

// Absolute power (dBm) the channel sees, with its calibration offset.
double absolute_dbm(int slot, int ch) { return pwm_power_dbm(slot, ch) + calibration(at(slot, ch)); }

// A reading as the channel reports it: relative (dB) to its reference when
// measuring relative, else in its power unit.
double reading(int slot, int ch) {
    double dbm = absolute_dbm(slot, ch);
    if (measure_mode(at(slot, ch)) == 1) {
        double ref = ref_source(at(slot, ch)) == 0
                         ? internal_ref(at(slot, ch))
                         : absolute_dbm((int)ref_slot(slot, ch), (int)ref_channel(slot, ch));
        return dbm - ref;
    }
    return unit(at(slot, ch)) == 1 ? dbm_to_watt(dbm) : dbm;
}

// Fills the results of function `fn` as set up (none if another is); a slow
// drift on stability results.
void results(int slot, int ch, int fn, ViUInt16 result_unit, double* out, double drift) {
    long long n = function(at(slot, ch)) == fn ? points(at(slot, ch)) : 0;
    if (!out) return;
    for (long long i = 0; i < n; ++i) {
        double dbm = absolute_dbm(slot, ch) + drift * std::sin(i * 0.05);
        out[i] = result_unit == 1 ? dbm_to_watt(dbm) : dbm;
    }
}

}  // namespace

extern "C" {

ViStatus body_hp816x_PWM_slaveChannelCheck(Call& c, ViSession s, ViInt32 slot, ViUInt16 check) {
    slave_channel_check(at(slot, 0)) = check;
    return c.done();
}

ViStatus body_hp816x_set_PWM_parameters(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt16 rangeMode,
                                        ViUInt16 powerUnit, ViUInt16 internalTrigger, ViReal64 wl, ViReal64 avg,
                                        ViReal64 powerRange) {
    range_mode(at(slot, ch)) = rangeMode;
    unit(at(slot, ch)) = powerUnit;
    internal_trigger(at(slot, ch)) = internalTrigger;
    wavelength(at(slot, ch)) = wl;
    averaging(at(slot, ch)) = avg;
    range(at(slot, ch)) = powerRange;
    return c.done();
}

ViStatus body_hp816x_get_PWM_parameters_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt16* rangeMode,
                                          ViUInt16* powerUnit, ViUInt16* internalTrigger, ViReal64* wl, ViReal64* avg,
                                          ViReal64* powerRange) {
    put(rangeMode, range_mode(at(slot, ch)));
    put(powerUnit, unit(at(slot, ch)));
    put(internalTrigger, internal_trigger(at(slot, ch)));
    put(wl, wavelength(at(slot, ch)));
    put(avg, averaging(at(slot, ch)));
    put(powerRange, range(at(slot, ch)));
    return c.done();
}

ViStatus body_hp816x_set_PWM_referenceSource(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViInt32 measure,
                                             ViInt32 refSource, ViInt32 refSlot, ViInt32 refChannel) {
    measure_mode(at(slot, ch)) = measure;
    ref_source(at(slot, ch)) = refSource;
    ref_slot(slot, ch) = refSlot;
    ref_channel(slot, ch) = refChannel;
    return c.done();
}

ViStatus body_hp816x_get_PWM_referenceSource_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViInt32* measure,
                                               ViInt32* refSource, ViInt32* refSlot, ViInt32* refChannel) {
    put(measure, measure_mode(at(slot, ch)));
    put(refSource, ref_source(at(slot, ch)));
    put(refSlot, ref_slot(slot, ch));
    put(refChannel, ref_channel(slot, ch));
    return c.done();
}

ViStatus body_hp816x_set_PWM_internalTrigger(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt16 trig) {
    internal_trigger(at(slot, ch)) = trig;
    return c.done();
}

ViStatus body_hp816x_set_PWM_averagingTime(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64 avg) {
    averaging.set(c, at(slot, ch), avg, 4);
    return c.done();
}

ViStatus body_hp816x_get_PWM_averagingTime_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64* avg) {
    put(avg, averaging(at(slot, ch)));
    return c.done();
}

ViStatus body_hp816x_set_PWM_wavelength(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64 wl) {
    wavelength.set(c, at(slot, ch), wl, 4);
    return c.done();
}

ViStatus body_hp816x_get_PWM_wavelength_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64* minWl,
                                          ViReal64* maxWl, ViReal64* current) {
    put(minWl, wavelength.lo);
    put(maxWl, wavelength.hi);
    put(current, wavelength(at(slot, ch)));
    return c.done();
}

ViStatus body_hp816x_set_PWM_calibration(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64 cal) {
    calibration(at(slot, ch)) = cal;
    return c.done();
}

ViStatus body_hp816x_get_PWM_calibration_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64* cal) {
    put(cal, calibration(at(slot, ch)));
    return c.done();
}

ViStatus body_hp816x_set_PWM_powerRange(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt16 rangeMode,
                                        ViReal64 powerRange) {
    range_mode(at(slot, ch)) = rangeMode;
    range(at(slot, ch)) = powerRange;
    return c.done();
}

ViStatus body_hp816x_get_PWM_powerRange_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt16* rangeMode,
                                          ViReal64* powerRange) {
    put(rangeMode, range_mode(at(slot, ch)));
    put(powerRange, range(at(slot, ch)));
    return c.done();
}

ViStatus body_hp816x_set_PWM_powerUnit(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViInt32 powerUnit) {
    unit.set(c, at(slot, ch), powerUnit, 4);
    return c.done();
}

ViStatus body_hp816x_get_PWM_powerUnit_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViInt32* powerUnit) {
    put(powerUnit, unit(at(slot, ch)));
    return c.done();
}

ViStatus body_hp816x_set_PWM_referenceValue(Call& c, ViSession s, ViInt32 slot, ViInt32 ch,
                                            ViReal64 internalReference, ViReal64 referenceChannel) {
    internal_ref(at(slot, ch)) = internalReference;
    reference_channel(at(slot, ch)) = referenceChannel;
    return c.done();
}

ViStatus body_hp816x_get_PWM_referenceValue_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViInt32* refSource,
                                              ViReal64* internalReference, ViReal64* referenceChannel) {
    put(refSource, ref_source(at(slot, ch)));
    put(internalReference, internal_ref(at(slot, ch)));
    put(referenceChannel, reference_channel(at(slot, ch)));
    return c.done();
}

ViStatus body_hp816x_set_PWM_triggerConfiguration(Call& c, ViSession s, ViInt32 slot, ViInt32 trigIn, ViInt32 trigOut) {
    trigger_in(at(slot, 0)) = trigIn;
    trigger_out(at(slot, 0)) = trigOut;
    return c.done();
}

ViStatus body_hp816x_get_PWM_triggerConfiguration(Call& c, ViSession s, ViInt32 slot, ViInt32* trigIn,
                                                  ViInt32* trigOut) {
    put(trigIn, trigger_in(at(slot, 0)));
    put(trigOut, trigger_out(at(slot, 0)));
    return c.done();
}

ViStatus body_hp816x_PWM_displayToReference(Call& c, ViSession s, ViInt32 slot, ViInt32 ch) {
    internal_ref(at(slot, ch)) = absolute_dbm(slot, ch);
    return c.done();
}

ViStatus body_hp816x_start_PWM_internalTrigger(Call& c, ViSession s, ViInt32 slot, ViInt32 ch) {
    fetched(at(slot, ch)) = reading(slot, ch);
    has_fetched(at(slot, ch)) = 1;
    return c.done();
}

ViStatus body_hp816x_PWM_readValue(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64* value) {
    double v = reading(slot, ch);
    c.take(averaging(at(slot, ch)));
    fetched(at(slot, ch)) = v;
    has_fetched(at(slot, ch)) = 1;
    put(value, v);
    return c.done();
}

// The value of the last measurement (a new one if there was none).
ViStatus body_hp816x_PWM_fetchValue(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64* value) {
    put(value, has_fetched(at(slot, ch)) ? fetched(at(slot, ch)) : reading(slot, ch));
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
    ignore_error(at(slot, ch)) = ignore;
    ignored_error(at(slot, ch)) = errorNumber;
    return c.done();
}

// Logging: dataPoints readings of averagingTime each; the estimated time
// to completion comes back in milliseconds.
ViStatus body_hp816x_set_PWM_logging(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64 avg, ViInt32 dataPoints,
                                     ViInt32* timeout) {
    if (!averaging.check(c, avg, 4)) return c.done();
    if (dataPoints < 0 || dataPoints > 10000000) return c.status(param(5)), c.done();  // the instrument's most
    function(at(slot, ch)) = fn_logging;
    points(at(slot, ch)) = dataPoints;
    averaging(at(slot, ch)) = avg;
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
    if (!averaging.check(c, avg, 4)) return c.done();
    if (!(delay > 0) || !(total >= 0) || total / delay > 1e7) return c.status(param(5)), c.done();
    long long n = (long long)std::floor(total / delay + 1e-9);
    function(at(slot, ch)) = fn_stability;
    points(at(slot, ch)) = n;
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
    function(at(slot, ch)) = fn_minmax;
    points(at(slot, ch)) = dataPoints;
    min_max_mode(at(slot, ch)) = mode;
    put(estimated, std::min(2e9, std::ceil(averaging(at(slot, ch)) * dataPoints * 1000)));
    return c.done();
}

// Minimum, maximum and latest of (up to 1000 of) the readings set up.
ViStatus body_hp816x_get_PWM_minMaxResults_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64* lo,
                                             ViReal64* hi, ViReal64* current) {
    long long n = std::max(1LL, std::min(1000LL, points(at(slot, ch))));
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
    function(at(slot, ch)) = fn_none;
    return c.done();
}

}  // extern "C"
