// Simulated KE2400: source configuration (DC levels, sweeps, lists) and the
// output itself.
#include <cmath>
#include <limits>

#include "ke2400.hpp"

using namespace ke2400;

#define SET(id, v) set_attr(c, KE2400_ATTR_##id, v)

namespace {

ViInt32 step_count(double start, double stop, double step) {
    if (!(step != 0) || !std::isfinite(start) || !std::isfinite(stop)) return 0;
    double n = std::floor(std::fabs(stop - start) / std::fabs(step) + 1e-9) + 1;
    return n >= std::numeric_limits<ViInt32>::max() ? std::numeric_limits<ViInt32>::max() : (ViInt32)n;
}

constexpr Extra sweep_spacing{driver, "sweep spacing", 0, 0, 1}, sweep_ranging{driver, "sweep ranging", 0, 0, 2};
constexpr Extra ramp_points{driver, "ramp points", 0, 1, 2500}, list_count{driver, "list count", 0, 1, 100};
constexpr Extra enable_output{driver, "enable", 0, 0, 1}, control_action{driver, "action (0 output off, 1 output on)", 0, 0, 1};
// Levels of a sweep or list: within the source function's limit.
constexpr Extra sweep_start{driver, "sweep start", 0}, sweep_stop{driver, "sweep stop", 0}, list_value{driver, "list value", 0};

double level_limit(ViInt32 function) { return function == KE2400_VAL_VOLTAGE ? 210 : 1.05; }

// A level setting as the source function bounds it.
sim::Setting<double> level_of(Extra& s, ViInt32 function) {
    sim::Setting<double> t = s;
    t.hi = level_limit(function), t.lo = -t.hi;
    return t;
}

// Source function, level and compliance of the other quantity.
bool source(Call& c, ViInt32 function, ViInt32 mode, double compliance) {
    return is_function(c, function, 1) && SET(SOURCE_FUNCTION, function) && SET(SOURCE_MODE, mode) &&
           (function == KE2400_VAL_VOLTAGE ? SET(CURRENT_COMPLIANCE, compliance) : SET(VOLTAGE_COMPLIANCE, compliance)) &&
           SET(MEASUREMENT_FUNCTION, function == KE2400_VAL_VOLTAGE ? KE2400_VAL_CURRENT : KE2400_VAL_VOLTAGE);
}

bool level(Call& c, ViInt32 function, double v) {
    return function == KE2400_VAL_VOLTAGE ? SET(SOURCE_VOLTAGE_LEVEL, v) : SET(SOURCE_CURRENT_LEVEL, v);
}

// A range of 0 means auto range.
bool range(Call& c, ViAttr range_id, ViAttr auto_id, double r) {
    if (r == 0) return set_attr(c, auto_id, 1);
    return set_attr(c, range_id, r) && set_attr(c, auto_id, 0);
}

bool sense_range(Call& c, ViInt32 function, double r) {
    return function == KE2400_VAL_VOLTAGE
               ? range(c, KE2400_ATTR_SENSE_CURRENT_RANGE, KE2400_ATTR_SENSE_CURRENT_AUTO_RANGE, r)
               : range(c, KE2400_ATTR_SENSE_VOLTAGE_RANGE, KE2400_ATTR_SENSE_VOLTAGE_AUTO_RANGE, r);
}

bool sweep(Call& c, ViInt32 function, ViInt32 spacing, ViInt32 direction, double start, double stop, double step,
           ViInt32 points) {
    if (!put(c, sweep_spacing, spacing) || !put(c, level_of(sweep_start, function), start) ||
        !put(c, level_of(sweep_stop, function), stop))
        return false;
    if (spacing == 0) {
        points = step_count(start, stop, step);
        if (points == 0) return c.fail(KE2400_ERROR_INVALID_VALUE, "sweep step 0 gives no points");
    } else if (start * stop <= 0) {
        return c.fail(KE2400_ERROR_INVALID_VALUE, "a logarithmic sweep needs start and stop of one sign");
    }
    return SET(SWEEP_SPACING, spacing) && SET(SWEEP_DIRECTION, direction) && SET(SWEEP_START, start) &&
           SET(SWEEP_STOP, stop) && SET(SWEEP_STEP, spacing ? 0 : step) && SET(SWEEP_POINTS, points) &&
           SET(TRIGGER_COUNT, points) && SET(ARM_COUNT, 1);
}

bool list(Call& c, ViInt32 function, ViInt32 count, const ViReal64* values) {
    if (!put(c, list_count, count) || c.null(values, "the list")) return false;
    sim::Setting<double> value = level_of(list_value, function);
    for (ViInt32 k = 0; k < count; ++k)
        if (!put(c, value, values[k])) return false;
    c.st().cfg.list.assign(values, values + count);
    return true;
}

bool timing(Call& c, double nplc, double delay) { return SET(NPLC, nplc) && SET(SOURCE_DELAY, delay); }

}  // namespace

extern "C" {

ViStatus body_KE2400_Configure_DC_IV(Call& c, ViSession vi, ViReal64 current, ViReal64 vcomp, ViReal64 vrange,
                                     ViReal64 nplc, ViReal64 delay) {
    source(c, KE2400_VAL_CURRENT, KE2400_VAL_MODE_FIXED, vcomp) && level(c, KE2400_VAL_CURRENT, current) &&
        sense_range(c, KE2400_VAL_CURRENT, vrange) && timing(c, nplc, delay);
    return c.done();
}

ViStatus body_KE2400_Configure_DC_VI(Call& c, ViSession vi, ViReal64 voltage, ViReal64 icomp, ViReal64 irange,
                                     ViReal64 srange, ViReal64 nplc, ViReal64 delay) {
    source(c, KE2400_VAL_VOLTAGE, KE2400_VAL_MODE_FIXED, icomp) && level(c, KE2400_VAL_VOLTAGE, voltage) &&
        sense_range(c, KE2400_VAL_VOLTAGE, irange) &&
        range(c, KE2400_ATTR_SOURCE_VOLTAGE_RANGE, KE2400_ATTR_SOURCE_AUTO_RANGE, srange) && timing(c, nplc, delay);
    return c.done();
}

ViStatus body_KE2400_Configure_Sweep_IV(Call& c, ViSession vi, ViInt32 spacing, ViInt32 direction, ViInt32 ranging,
                                        ViReal64 start, ViReal64 stop, ViReal64 step, ViInt32 points, ViReal64 vcomp,
                                        ViReal64 delay) {
    put(c, sweep_ranging, ranging) && source(c, KE2400_VAL_CURRENT, KE2400_VAL_MODE_SWEEP, vcomp) &&
        sweep(c, KE2400_VAL_CURRENT, spacing, direction, start, stop, step, points) && SET(SOURCE_DELAY, delay);
    return c.done();
}

ViStatus body_KE2400_Configure_Sweep_VI(Call& c, ViSession vi, ViInt32 spacing, ViInt32 direction, ViInt32 ranging,
                                        ViReal64 start, ViReal64 stop, ViReal64 step, ViReal64 icomp, ViInt32 points,
                                        ViReal64 nplc, ViReal64 delay) {
    put(c, sweep_ranging, ranging) && source(c, KE2400_VAL_VOLTAGE, KE2400_VAL_MODE_SWEEP, icomp) &&
        sweep(c, KE2400_VAL_VOLTAGE, spacing, direction, start, stop, step, points) && timing(c, nplc, delay);
    return c.done();
}

ViStatus body_KE2400_Configure_List_IV(Call& c, ViSession vi, ViInt32 count, ViReal64 values[], ViReal64 vcomp,
                                       ViReal64 nplc, ViReal64 delay) {
    source(c, KE2400_VAL_CURRENT, KE2400_VAL_MODE_LIST, vcomp) && list(c, KE2400_VAL_CURRENT, count, values) &&
        SET(TRIGGER_COUNT, count) && timing(c, nplc, delay);
    return c.done();
}

ViStatus body_KE2400_Configure_List_VI(Call& c, ViSession vi, ViInt32 count, ViReal64 values[], ViReal64 icomp,
                                       ViReal64 irange, ViReal64 nplc, ViReal64 delay) {
    source(c, KE2400_VAL_VOLTAGE, KE2400_VAL_MODE_LIST, icomp) && list(c, KE2400_VAL_VOLTAGE, count, values) &&
        sense_range(c, KE2400_VAL_VOLTAGE, irange) && SET(TRIGGER_COUNT, count) && timing(c, nplc, delay);
    return c.done();
}

ViStatus body_KE2400_ConfigureSourceBias(Call& c, ViSession vi, ViInt32 function, ViReal64 lvl, ViReal64 comp,
                                         ViReal64 delay, ViInt32 off_mode) {
    source(c, function, KE2400_VAL_MODE_FIXED, comp) && level(c, function, lvl) && SET(SOURCE_DELAY, delay) &&
        SET(OUTPUT_OFF_MODE, off_mode);
    return c.done();
}

ViStatus body_KE2400_ConfigureSourceDC(Call& c, ViSession vi, ViInt32 function, ViReal64 lvl, ViReal64 rng,
                                       ViBoolean autorange, ViReal64 comp, ViInt32 terminals) {
    ViAttr range_id = function == KE2400_VAL_VOLTAGE ? KE2400_ATTR_SOURCE_VOLTAGE_RANGE : KE2400_ATTR_SOURCE_CURRENT_RANGE;
    source(c, function, KE2400_VAL_MODE_FIXED, comp) && level(c, function, lvl) &&
        (autorange || set_attr(c, range_id, rng)) && SET(SOURCE_AUTO_RANGE, autorange) && SET(TERMINALS, terminals);
    return c.done();
}

ViStatus body_KE2400_ConfigureSourceRamp(Call& c, ViSession vi, ViInt32 function, ViReal64 start, ViInt32 spacing,
                                         ViReal64 stop, ViReal64 delay, ViInt32 points, ViBoolean autorange,
                                         ViReal64 comp, ViInt32 direction) {
    // A ramp is given by its points: the step follows from them.
    double step = points > 1 ? (stop - start) / (points - 1) : 1;
    source(c, function, KE2400_VAL_MODE_SWEEP, comp) && put(c, ramp_points, points) &&
        sweep(c, function, spacing, direction, start, stop, step, points) && SET(SOURCE_DELAY, delay) &&
        SET(SOURCE_AUTO_RANGE, autorange);
    return c.done();
}

ViStatus body_KE2400_ConfigureSourceCustom(Call& c, ViSession vi, ViInt32 function, ViReal64 delay, ViInt32 count,
                                           ViReal64 values[], ViBoolean autorange, ViReal64 comp,
                                           ViInt32 trigger_count) {
    source(c, function, KE2400_VAL_MODE_LIST, comp) && list(c, function, count, values) && SET(SOURCE_DELAY, delay) &&
        SET(SOURCE_AUTO_RANGE, autorange) && SET(TRIGGER_COUNT, trigger_count);
    return c.done();
}

ViStatus body_KE2400_ConfigureSourceInterlock(Call& c, ViSession vi, ViBoolean enable) {
    SET(INTERLOCK_ENABLED, enable);
    return c.done();
}

ViStatus body_KE2400_EnableSource(Call& c, ViSession vi, ViInt32 enable, ViInt32 off_mode) {
    put(c, enable_output, enable) && SET(OUTPUT_OFF_MODE, off_mode) && SET(OUTPUT_ENABLED, enable);
    return c.done();
}

ViStatus body_KE2400_ControlSource(Call& c, ViSession vi, ViInt32 action) {
    put(c, control_action, action) && SET(OUTPUT_ENABLED, action);
    return c.done();
}

ViStatus body_KE2400_ConfigureOverVoltageProtection(Call& c, ViSession vi, ViReal64 limit) {
    SET(OVP_LIMIT, limit);
    return c.done();
}

// The count is the call's result (scripted statuses replace it), never an
// error for GetError: a plain sim::Call.
ViInt32 body_KE2400_StepCount(sim::Call& c, ViReal64 start, ViReal64 stop, ViReal64 step) {
    c.status(step_count(start, stop, step));
    return c.done();
}

}  // extern "C"
