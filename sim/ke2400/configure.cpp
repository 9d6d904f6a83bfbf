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

// Trigger link lines: 0 none, 1 to 4.
constexpr Extra arm_input_line{driver, "arm input line", 0, 0, 4}, arm_output_line{driver, "arm output line", 0, 0, 4};
constexpr Extra trigger_input_line{driver, "trigger input line", 0, 0, 4};
constexpr Extra trigger_output_line{driver, "trigger output line", 0, 0, 4};
constexpr Extra source_trigger_line{driver, "source trigger line", 0, 0, 4};
constexpr Extra measurement_trigger_line{driver, "measurement trigger line", 0, 0, 4};
constexpr Extra measurement_complete_line{driver, "measurement complete line", 0, 0, 4};
constexpr Extra arm_output_events{driver, "arm output events", 0, 0, 3}, arm_bypass{driver, "arm bypass", 0, 0, 1};
constexpr Extra trigger_input_events{driver, "trigger input events", 0, 0, 7};
constexpr Extra trigger_output_events{driver, "trigger output events", 0, 0, 7};
constexpr Extra buffer_control{driver, "buffer control", 0, 0, 1}, timestamp_format{driver, "timestamp format", 0, 0, 1};
constexpr Extra buffer_elements{driver, "buffer elements", 0, 1, 15};
constexpr Extra filter_type{driver, "filter type", 0, 0, 1}, filter_window{driver, "filter window", 0, 0, 10};
constexpr Extra median_rank{driver, "median rank", 0, 0, 5}, median_enable{driver, "median enable", 0, 0, 1};
constexpr Extra auto_range_mode{driver, "auto range mode", 0, 0, 2};

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
    if (!is_function(c, function, 2) || !put(c, auto_range_mode, autorange)) return c.done();
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
    SET(ARM_SOURCE, source) && SET(ARM_COUNT, count) && SET(ARM_TIMER, timer) && put(c, arm_input_line, in_line) &&
        put(c, arm_output_line, out_line) && put(c, arm_output_events, out_events) && put(c, arm_bypass, bypass);
    return c.done();
}

ViStatus body_KE2400_ConfigureTriggerLayer(Call& c, ViSession vi, ViInt32 source, ViInt32 count, ViReal64 delay,
                                           ViInt32 in_line, ViInt32 out_line, ViInt32 in_events, ViInt32 out_events) {
    SET(TRIGGER_SOURCE, source) && SET(TRIGGER_COUNT, count) && SET(TRIGGER_DELAY, delay) &&
        put(c, trigger_input_line, in_line) && put(c, trigger_output_line, out_line) &&
        put(c, trigger_input_events, in_events) && put(c, trigger_output_events, out_events);
    return c.done();
}

ViStatus body_KE2400_ConfigureSourceTrigger(Call& c, ViSession vi, ViInt32 in_line, ViReal64 delay) {
    put(c, source_trigger_line, in_line) && SET(SOURCE_DELAY, delay);
    return c.done();
}

ViStatus body_KE2400_ConfigureMeasurementTrigger(Call& c, ViSession vi, ViInt32 in_line, ViReal64 delay) {
    put(c, measurement_trigger_line, in_line) && SET(TRIGGER_DELAY, delay);
    return c.done();
}

ViStatus body_KE2400_ConfigureTriggerSlope(Call& c, ViSession vi, ViInt32 slope) {
    SET(TRIGGER_SLOPE, slope);
    return c.done();
}

ViStatus body_KE2400_ConfigureMeasCompleteDest(Call& c, ViSession vi, ViInt32 out_line) {
    put(c, measurement_complete_line, out_line);
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
    put(c, srq_enable, enable != 0);
    return c.done();
}

ViStatus body_KE2400_ConfigureBuffer(Call& c, ViSession vi, ViInt32 size, ViInt32 control, ViInt32 timestamps,
                                     ViInt32 elements) {
    SET(BUFFER_SIZE, size) && put(c, buffer_control, control) && put(c, timestamp_format, timestamps) &&
        put(c, buffer_elements, elements);
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
    is_function(c, function, 2) && put(c, statistics_function, function);
    return c.done();
}

// ---- filters, relative, math -----------------------------------------------------------------------

ViStatus body_KE2400_ConfigureFilter(Call& c, ViSession vi, ViInt32 type, ViInt32 count, ViReal64 window,
                                     ViBoolean enable) {
    put(c, filter_type, type) && SET(FILTER_COUNT, count) && put(c, filter_window, window) &&
        SET(FILTER_ENABLED, enable);
    return c.done();
}

ViStatus body_KE2400_ConfigureMedianFilter(Call& c, ViSession vi, ViInt32 rank, ViBoolean enable) {
    put(c, median_rank, rank) && put(c, median_enable, enable != 0);
    return c.done();
}

ViStatus body_KE2400_ConfigureRelative(Call& c, ViSession vi, ViReal64 offset, ViBoolean enable) {
    SET(REL_OFFSET, offset) && SET(REL_ENABLED, enable);
    return c.done();
}

// operation: 0 m*x+b, 1 percent deviation from the target, 2 a named expression
ViStatus body_KE2400_ConfigureMath(Call& c, ViSession vi, ViInt32 operation, ViBoolean enable) {
    put(c, math_operation, operation) && put(c, math_enable, enable != 0);
    return c.done();
}

ViStatus body_KE2400_ConfigureMathExpression(Call& c, ViSession vi, ViString name) {
    set_text(c, KE2400_ATTR_MATH_EXPRESSION, name);
    return c.done();
}

ViStatus body_KE2400_ConfigureMathMXB(Call& c, ViSession vi, ViReal64 m, ViReal64 b) {
    put(c, math_m, m) && put(c, math_b, b);
    return c.done();
}

ViStatus body_KE2400_ConfigureMathPercent(Call& c, ViSession vi, ViReal64 target) {
    put(c, math_percent_target, target);
    return c.done();
}

}  // extern "C"
