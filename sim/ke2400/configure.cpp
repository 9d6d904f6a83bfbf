// Simulated KE2400: sense, trigger, buffer, filter, math and SRQ settings.
#include <cmath>

#include "ke2400.hpp"

using namespace ke2400;

#define SET(id, v) set_attr(c, KE2400_ATTR_##id, v)

namespace {

struct SenseAttrs { ViAttr range, autorange; };
const SenseAttrs sense_attrs[] = {
    {KE2400_ATTR_SENSE_VOLTAGE_RANGE, KE2400_ATTR_SENSE_VOLTAGE_AUTO_RANGE},
    {KE2400_ATTR_SENSE_CURRENT_RANGE, KE2400_ATTR_SENSE_CURRENT_AUTO_RANGE},
    {KE2400_ATTR_SENSE_RESISTANCE_RANGE, KE2400_ATTR_SENSE_RESISTANCE_AUTO_RANGE},
};

// Range of a sense function; 0 (or auto) selects auto range.
bool sense(Call& c, ViInt32 function, double range, bool autorange) {
    const SenseAttrs& a = sense_attrs[function];
    if (autorange || range == 0) return set_attr(c, a.autorange, 1);
    return set_attr(c, a.range, range) && set_attr(c, a.autorange, 0);
}

bool line(Call& c, const char* what, ViInt32 v) { return put(c, what, v, 0, 4); }  // 0: none, 1 to 4

bool limits(Call& c, ViInt32 function, double lower, double upper) {
    const double top[] = {210, 1.05, 2.1e8};
    std::string f = std::to_string(function);
    if (!is_function(c, function, 2)) return false;
    if (!(lower <= upper)) return c.fail(KE2400_ERROR_INVALID_VALUE, "auto range lower limit above the upper limit");
    return put(c, ("auto range lower " + f).c_str(), lower, 0, top[function]) &&
           put(c, ("auto range upper " + f).c_str(), upper, 0, top[function]);
}

}  // namespace

extern "C" {

ViStatus body_KE2400_ConfigureMeasurement(Call& c, ViSession vi, ViInt32 function, ViReal64 range, ViReal64 nplc) {
    is_function(c, function, 2) && SET(MEASUREMENT_FUNCTION, function) && sense(c, function, range, false) &&
        SET(NPLC, nplc);
    return c.done();
}

ViStatus body_KE2400_ConfigureApertureTimeInfo(Call& c, ViSession vi, ViReal64 time, ViInt32 units) {
    double plf = num(c.st(), KE2400_ATTR_POWER_LINE_FREQUENCY);
    SET(APERTURE_UNITS, units) && SET(APERTURE_TIME, time) && SET(NPLC, units ? time : time * plf);
    return c.done();
}

ViStatus body_KE2400_ConfigureDCVSense(Call& c, ViSession vi, ViReal64 comp, ViReal64 range, ViBoolean autorange,
                                       ViBoolean concurrent, ViBoolean remote) {
    SET(VOLTAGE_COMPLIANCE, comp) && sense(c, KE2400_VAL_VOLTAGE, range, autorange) &&
        SET(CONCURRENT_MEASUREMENTS, concurrent) && SET(REMOTE_SENSE, remote);
    return c.done();
}

ViStatus body_KE2400_ConfigureDCISense(Call& c, ViSession vi, ViReal64 comp, ViReal64 range, ViBoolean autorange,
                                       ViBoolean concurrent) {
    SET(CURRENT_COMPLIANCE, comp) && sense(c, KE2400_VAL_CURRENT, range, autorange) &&
        SET(CONCURRENT_MEASUREMENTS, concurrent);
    return c.done();
}

ViStatus body_KE2400_ConfigureRESSense(Call& c, ViSession vi, ViReal64 range, ViReal64 nplc, ViBoolean autorange,
                                       ViBoolean offset_comp) {
    sense(c, KE2400_VAL_RESISTANCE, range, autorange) && SET(NPLC, nplc) && SET(OFFSET_COMPENSATION, offset_comp);
    return c.done();
}

ViStatus body_KE2400_ConfigureAutoRangeLimits(Call& c, ViSession vi, ViReal64 lower, ViReal64 upper) {
    limits(c, (ViInt32)num(c.st(), KE2400_ATTR_MEASUREMENT_FUNCTION), lower, upper);
    return c.done();
}

ViStatus body_KE2400_ConfigureAutoRangeLimitsEx(Call& c, ViSession vi, ViInt32 function, ViReal64 lower,
                                                ViReal64 upper) {
    limits(c, function, lower, upper);
    return c.done();
}

// autorange: 0 off (manual range), 1 on, 2 once (settles on the present reading's range).
ViStatus body_KE2400_ConfigureAutoRange(Call& c, ViSession vi, ViInt32 function, ViInt32 autorange, ViReal64 manual) {
    if (!is_function(c, function, 2) || !put(c, "auto range mode", autorange, 0, 2)) return c.done();
    State& st = c.st();
    if (autorange == 2) {
        Reading r = measure(st, source_level(st));
        manual = auto_range(function, function == 0 ? r.v : function == 1 ? r.i : r.r);
    }
    sense(c, function, manual, autorange == 1);
    return c.done();
}

ViStatus body_KE2400_ConfigureAutoZeroMode(Call& c, ViSession vi, ViInt32 mode) {
    SET(AUTO_ZERO, mode);
    return c.done();
}

ViStatus body_KE2400_ConfigurePowerLineFrequency(Call& c, ViSession vi, ViReal64 frequency) {
    SET(POWER_LINE_FREQUENCY, frequency);
    return c.done();
}

// ---- triggering ------------------------------------------------------------------------------

ViStatus body_KE2400_ConfigureTrigger(Call& c, ViSession vi, ViInt32 source, ViReal64 delay) {
    SET(TRIGGER_SOURCE, source) && SET(TRIGGER_DELAY, delay);
    return c.done();
}

ViStatus body_KE2400_ConfigureArmLayer(Call& c, ViSession vi, ViInt32 source, ViInt32 count, ViReal64 timer,
                                       ViInt32 in_line, ViInt32 out_line, ViInt32 out_events, ViInt32 bypass) {
    SET(ARM_SOURCE, source) && SET(ARM_COUNT, count) && SET(ARM_TIMER, timer) && line(c, "arm input line", in_line) &&
        line(c, "arm output line", out_line) && put(c, "arm output events", out_events, 0, 3) &&
        put(c, "arm bypass", bypass, 0, 1);
    return c.done();
}

ViStatus body_KE2400_ConfigureTriggerLayer(Call& c, ViSession vi, ViInt32 source, ViInt32 count, ViReal64 delay,
                                           ViInt32 in_line, ViInt32 out_line, ViInt32 in_events, ViInt32 out_events) {
    SET(TRIGGER_SOURCE, source) && SET(TRIGGER_COUNT, count) && SET(TRIGGER_DELAY, delay) &&
        line(c, "trigger input line", in_line) && line(c, "trigger output line", out_line) &&
        put(c, "trigger input events", in_events, 0, 7) && put(c, "trigger output events", out_events, 0, 7);
    return c.done();
}

ViStatus body_KE2400_ConfigureSourceTrigger(Call& c, ViSession vi, ViInt32 in_line, ViReal64 delay) {
    line(c, "source trigger line", in_line) && SET(SOURCE_DELAY, delay);
    return c.done();
}

ViStatus body_KE2400_ConfigureMeasurementTrigger(Call& c, ViSession vi, ViInt32 in_line, ViReal64 delay) {
    line(c, "measurement trigger line", in_line) && SET(TRIGGER_DELAY, delay);
    return c.done();
}

ViStatus body_KE2400_ConfigureTriggerSlope(Call& c, ViSession vi, ViInt32 slope) {
    SET(TRIGGER_SLOPE, slope);
    return c.done();
}

ViStatus body_KE2400_ConfigureMeasCompleteDest(Call& c, ViSession vi, ViInt32 out_line) {
    line(c, "measurement complete line", out_line);
    return c.done();
}

ViStatus body_KE2400_ConfigureMultiPoint(Call& c, ViSession vi, ViInt32 trig_count, ViInt32 arm_count, ViInt32 source,
                                         ViReal64 delay) {
    if ((double)trig_count * arm_count > 2500)
        return c.fail(KE2400_ERROR_INVALID_VALUE, "trigger count x arm count above 2500 readings"), c.done();
    SET(TRIGGER_COUNT, trig_count) && SET(ARM_COUNT, arm_count) && SET(TRIGGER_SOURCE, source) &&
        SET(TRIGGER_DELAY, delay);
    return c.done();
}

// ---- SRQ, buffer, statistics ---------------------------------------------------------------------

ViStatus body_KE2400_ConfigureSRQEvents(Call& c, ViSession vi, ViInt32 mask) {
    SET(SRQ_ENABLE_MASK, mask);
    return c.done();
}

ViStatus body_KE2400_EnableSRQEvents(Call& c, ViSession vi, ViBoolean enable) {
    put(c, "srq enable", enable != 0, 0, 1);
    return c.done();
}

ViStatus body_KE2400_ConfigureBuffer(Call& c, ViSession vi, ViInt32 size, ViInt32 control, ViInt32 timestamps,
                                     ViInt32 elements) {
    SET(BUFFER_SIZE, size) && put(c, "buffer control", control, 0, 1) && put(c, "timestamp format", timestamps, 0, 1) &&
        put(c, "buffer elements", elements, 1, 15);
    return c.done();
}

ViStatus body_KE2400_EnableBuffer(Call& c, ViSession vi, ViBoolean enable) {
    SET(BUFFER_ENABLED, enable);
    return c.done();
}

ViStatus body_KE2400_ClearBuffer(Call& c, ViSession vi) {
    c.st().buffer.clear();
    return c.done();
}

ViStatus body_KE2400_ConfigureStatistics(Call& c, ViSession vi, ViInt32 function) {
    is_function(c, function, 2) && put(c, "statistics function", function, 0, 2);
    return c.done();
}

// ---- filters, relative, math -----------------------------------------------------------------------

ViStatus body_KE2400_ConfigureFilter(Call& c, ViSession vi, ViInt32 type, ViInt32 count, ViReal64 window,
                                     ViBoolean enable) {
    put(c, "filter type", type, 0, 1) && SET(FILTER_COUNT, count) && put(c, "filter window", window, 0, 10) &&
        SET(FILTER_ENABLED, enable);
    return c.done();
}

ViStatus body_KE2400_ConfigureMedianFilter(Call& c, ViSession vi, ViInt32 rank, ViBoolean enable) {
    put(c, "median rank", rank, 0, 5) && put(c, "median enable", enable != 0, 0, 1);
    return c.done();
}

ViStatus body_KE2400_ConfigureRelative(Call& c, ViSession vi, ViReal64 offset, ViBoolean enable) {
    SET(REL_OFFSET, offset) && SET(REL_ENABLED, enable);
    return c.done();
}

// operation: 0 m*x+b, 1 percent deviation from the target, 2 a named expression
ViStatus body_KE2400_ConfigureMath(Call& c, ViSession vi, ViInt32 operation, ViBoolean enable) {
    put(c, "math operation", operation, 0, 2) && put(c, "math enable", enable != 0, 0, 1);
    return c.done();
}

ViStatus body_KE2400_ConfigureMathExpression(Call& c, ViSession vi, ViString name) {
    set_text(c, KE2400_ATTR_MATH_EXPRESSION, name);
    return c.done();
}

ViStatus body_KE2400_ConfigureMathMXB(Call& c, ViSession vi, ViReal64 m, ViReal64 b) {
    put(c, "math m", m, -1e12, 1e12) && put(c, "math b", b, -1e12, 1e12);
    return c.done();
}

ViStatus body_KE2400_ConfigureMathPercent(Call& c, ViSession vi, ViReal64 target) {
    put(c, "math percent target", target, -1e12, 1e12);
    return c.done();
}

}  // extern "C"
