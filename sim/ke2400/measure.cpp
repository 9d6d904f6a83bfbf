// Simulated KE2400: the device under test and the readings taken from it.
//
// The output terminals hold a 1 kOhm resistor in series with a silicon diode
// (saturation current 2 pA, ideality 1.9): sourcing voltage drives a current
// that rises exponentially past about 0.5 V; sourcing current into the diode's
// reverse direction runs into the voltage compliance.
#include <algorithm>
#include <cmath>

#include "ke2400.hpp"

using namespace ke2400;

namespace {

constexpr double r_series = 1000.0, i_sat = 2e-12, n_vt = 1.9 * 0.025852;
constexpr size_t max_points = 2500;

double v_of_i(double i) { return i * r_series + n_vt * std::log1p(i / i_sat); }  // for i > -i_sat

double i_of_v(double v) {
    double lo = v >= 0 ? 0 : -i_sat * (1 - 1e-15), hi = v >= 0 ? v / r_series : 0;
    for (int k = 0; k < 200; ++k) {
        double mid = (lo + hi) / 2;
        (v_of_i(mid) < v ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

double sweep_point(const State& st, size_t k) {
    double start = num(st, KE2400_ATTR_SWEEP_START), stop = num(st, KE2400_ATTR_SWEEP_STOP);
    size_t points = (size_t)num(st, KE2400_ATTR_SWEEP_POINTS);
    if (points < 2) return start;
    k %= points;
    if (num(st, KE2400_ATTR_SWEEP_DIRECTION)) k = points - 1 - k;
    double f = (double)k / (double)(points - 1);
    if (num(st, KE2400_ATTR_SWEEP_SPACING) && start * stop > 0) return start * std::pow(stop / start, f);
    return start + (stop - start) * f;
}

double level_at(const State& st, size_t k) {
    switch ((int)num(st, KE2400_ATTR_SOURCE_MODE)) {
    case KE2400_VAL_MODE_SWEEP: return sweep_point(st, k);
    case KE2400_VAL_MODE_LIST: return st.cfg.list.empty() ? 0 : st.cfg.list[k % st.cfg.list.size()];
    default: return source_level(st);
    }
}

// Readings need a trigger first when the trigger source is the software trigger.
bool triggerable(Call& c) {
    if (num(c.st(), KE2400_ATTR_TRIGGER_SOURCE) != KE2400_VAL_TRIG_SOFTWARE) return true;
    return c.fail(VI_ERROR_TMO, "no reading: the trigger source is the software trigger (Initiate, SendSoftwareTrigger, Fetch)");
}

bool has_data(Call& c) { return !c.st().last.empty() || c.fail(KE2400_ERROR_NO_DATA, "nothing acquired yet"); }

ViStatus deliver(Call& c, const std::vector<Reading>& rs, size_t from, ViInt32 function, ViInt32 size, ViReal64* out,
                 ViInt32* actual) {
    size_t n = from < rs.size() ? std::min(rs.size() - from, (size_t)size) : 0;
    for (size_t k = 0; k < n; ++k) out[k] = value_of(c.st(), rs[from + k], function);
    if (sim::hostile())  // every element of the array, whatever was acquired
        for (size_t k = n; k < (size_t)size; ++k) out[k] = 9.9e37;
    *actual = (ViInt32)sim::report_count((long long)n, size);
    return c.done();
}

// The count reads 0 until readings are delivered.
bool array_args(Call& c, ViInt32 function, ViInt32 size, const void* out, ViInt32* actual) {
    put_out(actual, 0);
    return is_function(c, function) && !c.null(actual, "actualPoints") && !c.null(out, "readings") &&
           (size >= 0 || c.fail(KE2400_ERROR_INVALID_VALUE, "array size " + std::to_string(size) + " is negative"));
}

// Whole readings, comma-separated, as many as fit with the zero byte.
ViStatus deliver_text(Call& c, ViInt32 function, ViInt32 size, ViChar* buf, ViInt32* actual) {
    std::string text;
    ViInt32 n = 0;
    for (const Reading& r : c.st().last) {
        std::string item = num_text(value_of(c.st(), r, function));
        if (n) item.insert(item.begin(), ',');
        if (text.size() + item.size() + 1 > (size_t)size) break;
        text += item;
        ++n;
    }
    if (size > 0) sim::put_text(buf, (size_t)size, text);
    *actual = (ViInt32)sim::report_count(n, size);
    return c.done();
}

}  // namespace

namespace ke2400 {

double source_level(const State& st) {
    if (num(st, KE2400_ATTR_SOURCE_MODE) == KE2400_VAL_MODE_SWEEP) return sweep_point(st, 0);
    if (num(st, KE2400_ATTR_SOURCE_MODE) == KE2400_VAL_MODE_LIST) return level_at(st, 0);
    return num(st, num(st, KE2400_ATTR_SOURCE_FUNCTION) ? KE2400_ATTR_SOURCE_CURRENT_LEVEL : KE2400_ATTR_SOURCE_VOLTAGE_LEVEL);
}

Reading measure(State& st, double level) {
    Reading r{0, 0, 0, st.clock, false};
    double ovp = num(st, KE2400_ATTR_OVP_LIMIT);
    if (num(st, KE2400_ATTR_OUTPUT_ENABLED)) {
        if (num(st, KE2400_ATTR_SOURCE_FUNCTION) == KE2400_VAL_VOLTAGE) {
            r.v = std::max(-ovp, std::min(ovp, level));
            r.i = i_of_v(r.v);
            double limit = num(st, KE2400_ATTR_CURRENT_COMPLIANCE);
            if (std::fabs(r.i) > limit) r.i = std::copysign(limit, r.i), r.v = v_of_i(r.i), r.compliance = true;
        } else {
            double limit = std::min(num(st, KE2400_ATTR_VOLTAGE_COMPLIANCE), ovp);
            r.i = level;
            r.v = level > -i_sat ? v_of_i(level) : -HUGE_VAL;
            if (std::fabs(r.v) > limit) r.v = std::copysign(limit, r.v), r.i = i_of_v(r.v), r.compliance = true;
        }
    }
    double quiet = num(st, KE2400_ATTR_FILTER_ENABLED) ? 1 / std::sqrt(num(st, KE2400_ATTR_FILTER_COUNT)) : 1;
    r.v += sim::noise() * (2e-5 * std::fabs(r.v) + 5e-6) * quiet;
    r.i += sim::noise() * (5e-5 * std::fabs(r.i) + 2e-12) * quiet;
    r.r = r.i != 0 ? r.v / r.i : KE2400_VAL_OVER_RANGE;
    double plc = num(st, KE2400_ATTR_NPLC) / num(st, KE2400_ATTR_POWER_LINE_FREQUENCY);
    st.clock += plc + num(st, KE2400_ATTR_SOURCE_DELAY) + num(st, KE2400_ATTR_TRIGGER_DELAY) + 0.0002;
    return r;
}

std::vector<Reading> acquire(State& st) {
    size_t n = (size_t)(num(st, KE2400_ATTR_TRIGGER_COUNT) * num(st, KE2400_ATTR_ARM_COUNT));
    std::vector<Reading> rs;
    for (size_t k = 0; k < std::min(n, max_points); ++k) rs.push_back(measure(st, level_at(st, k)));
    size_t room = (size_t)num(st, KE2400_ATTR_BUFFER_SIZE);
    if (num(st, KE2400_ATTR_BUFFER_ENABLED))
        for (const Reading& r : rs)
            if (st.buffer.size() < room) st.buffer.push_back(r);
    return rs;
}

double value_of(const State& st, const Reading& r, ViInt32 function) {
    const double values[] = {r.v, r.i, r.r, r.t};
    double x = values[function];
    if (function != num(st, KE2400_ATTR_MEASUREMENT_FUNCTION)) return x;
    if (num(st, KE2400_ATTR_REL_ENABLED)) x -= num(st, KE2400_ATTR_REL_OFFSET);
    if (extra(st, math_enable)) {
        int op = (int)extra(st, math_operation);
        double target = extra(st, math_percent_target);
        if (op == 0) x = extra(st, math_m) * x + extra(st, math_b);
        else if (op == 1 && target != 0) x = (x - target) / target * 100;
    }
    return x;
}

double auto_range(ViInt32 function, double value) {
    static const double v[] = {0.21, 2.1, 21, 210}, i[] = {1.05e-6, 1.05e-5, 1.05e-4, 1.05e-3, 1.05e-2, 1.05e-1, 1.05},
                        r[] = {21, 210, 2.1e3, 2.1e4, 2.1e5, 2.1e6, 2.1e7, 2.1e8};
    const double* table = function == 0 ? v : function == 1 ? i : r;
    size_t n = function == 0 ? 4 : function == 1 ? 7 : 8;
    for (size_t k = 0; k < n; ++k)
        if (std::fabs(value) <= table[k]) return table[k];
    return table[n - 1];
}

}  // namespace ke2400

extern "C" {

ViStatus body_KE2400_Read(Call& c, ViSession vi, ViInt32 function, ViReal64* reading) {
    if (!is_function(c, function) || c.null(reading, "reading") || !triggerable(c)) return c.done();
    double t0 = c.st().clock;
    c.st().last = acquire(c.st());
    c.take(c.st().clock - t0);
    *reading = value_of(c.st(), c.st().last.at(0), function);
    return c.done();
}

ViStatus body_KE2400_Fetch(Call& c, ViSession vi, ViInt32 function, ViReal64* reading) {
    if (is_function(c, function) && !c.null(reading, "reading") && has_data(c))
        *reading = value_of(c.st(), c.st().last[0], function);
    return c.done();
}

ViStatus body_KE2400_ReadMultiPoint(Call& c, ViSession vi, ViInt32 function, ViInt32 size, ViReal64 readings[],
                                    ViInt32* actual) {
    if (!array_args(c, function, size, readings, actual) || !triggerable(c)) return c.done();
    c.st().last = acquire(c.st());
    return deliver(c, c.st().last, 0, function, size, readings, actual);
}

ViStatus body_KE2400_FetchMultiPoint(Call& c, ViSession vi, ViInt32 function, ViInt32 size, ViReal64 readings[],
                                     ViInt32* actual) {
    if (!array_args(c, function, size, readings, actual) || !has_data(c)) return c.done();
    return deliver(c, c.st().last, 0, function, size, readings, actual);
}

ViStatus body_KE2400_ReadMultiPointChar(Call& c, ViSession vi, ViInt32 function, ViInt32 size, ViChar buf[],
                                        ViInt32* actual) {
    if (!array_args(c, function, size, buf, actual) || !triggerable(c)) return c.done();
    c.st().last = acquire(c.st());
    return deliver_text(c, function, size, buf, actual);
}

ViStatus body_KE2400_FetchMultiPointChar(Call& c, ViSession vi, ViInt32 function, ViInt32 size, ViChar buf[],
                                         ViInt32* actual) {
    if (!array_args(c, function, size, buf, actual) || !has_data(c)) return c.done();
    return deliver_text(c, function, size, buf, actual);
}

ViStatus body_KE2400_GetBufferInfo(Call& c, ViSession vi, ViInt32* stored, ViInt32* size) {
    put_out(stored, c.st().buffer.size());
    put_out(size, num(c.st(), KE2400_ATTR_BUFFER_SIZE));
    return c.done();
}

ViStatus body_KE2400_FetchBufferData(Call& c, ViSession vi, ViInt32 function, ViInt32 start, ViInt32 size,
                                     ViReal64 readings[], ViInt32* actual) {
    if (!array_args(c, function, size, readings, actual)) return c.done();
    const std::vector<Reading>& buffer = c.st().buffer;
    if (start < 0 || (size_t)start > buffer.size())
        return c.fail(KE2400_ERROR_INVALID_VALUE, "start index " + std::to_string(start) + " beyond the " +
                                                      std::to_string(buffer.size()) + " stored readings"), c.done();
    return deliver(c, buffer, (size_t)start, function, size, readings, actual);
}

ViStatus body_KE2400_FetchStatistics(Call& c, ViSession vi, ViInt32 statistic, ViReal64* value) {
    State& st = c.st();
    const std::vector<Reading>& rs = st.buffer.empty() ? st.last : st.buffer;
    if (statistic < 0 || statistic > KE2400_VAL_STAT_PKPK) c.fail(KE2400_ERROR_INVALID_VALUE, "statistic " + std::to_string(statistic));
    else if (rs.empty()) c.fail(KE2400_ERROR_NO_DATA, "the reading buffer is empty");
    if (c.null(value, "value") || c.status() < 0) return c.done();
    ViInt32 f = (ViInt32)extra(st, statistics_function.what, num(st, KE2400_ATTR_MEASUREMENT_FUNCTION));
    double sum = 0, sq = 0, lo = HUGE_VAL, hi = -HUGE_VAL;
    for (const Reading& r : rs) {
        double x = value_of(st, r, f);
        sum += x, sq += x * x, lo = std::min(lo, x), hi = std::max(hi, x);
    }
    double mean = sum / rs.size(), var = rs.size() > 1 ? (sq - sum * mean) / (rs.size() - 1) : 0;
    const double results[] = {mean, std::sqrt(std::max(var, 0.0)), lo, hi, hi - lo};
    *value = results[statistic];
    return c.done();
}

ViStatus body_KE2400_IsOverRange(Call& c, ViSession vi, ViReal64 value, ViBoolean* over) {
    put_out(over, !(std::fabs(value) < KE2400_VAL_OVER_RANGE));
    return c.done();
}

ViStatus body_KE2400_Spoll(Call& c, ViSession vi, ViUInt16* stb) {
    State& st = c.st();
    int bits = (st.last.empty() ? 0 : 1) | (sim::error_count(driver) ? 4 : 0) | (st.reply.empty() ? 0 : 16);
    if (extra(st, srq_enable) && (bits & (int)num(st, KE2400_ATTR_SRQ_ENABLE_MASK))) bits |= 64;
    put_out(stb, bits);
    return c.done();
}

ViStatus body_KE2400_GetAutoRangeValue(Call& c, ViSession vi, ViReal64* range) {
    State& st = c.st();
    ViInt32 f = (ViInt32)num(st, KE2400_ATTR_MEASUREMENT_FUNCTION);
    Reading r = st.last.empty() ? measure(st, source_level(st)) : st.last[0];
    put_out(range, auto_range(f, f == 0 ? r.v : f == 1 ? r.i : r.r));
    return c.done();
}

ViStatus body_KE2400_GetApertureTimeInfo(Call& c, ViSession vi, ViReal64* time, ViInt32* units) {
    State& st = c.st();
    double plc = num(st, KE2400_ATTR_NPLC), u = num(st, KE2400_ATTR_APERTURE_UNITS);
    put_out(time, u ? plc : plc / num(st, KE2400_ATTR_POWER_LINE_FREQUENCY));
    put_out(units, u);
    return c.done();
}

// Limit 1 is the compliance test (1: failed); limits 2 to 12 test the reading (1 low, 2 high).
ViStatus body_KE2400_FetchTestStatus(Call& c, ViSession vi, ViInt32 limit, ViInt32* status) {
    State& st = c.st();
    if (limit < 1 || limit > 12) c.fail(KE2400_ERROR_INVALID_VALUE, "limit " + std::to_string(limit) + " (1 to 12)");
    if (c.null(status, "status") || c.status() < 0 || !has_data(c)) return c.done();
    const Reading& r = st.last[0];
    std::string k = "limit " + std::to_string(limit);
    ViInt32 result = KE2400_VAL_LIMIT_PASS;
    if (limit == 1 && extra(st, compliance_test_enable)) result = r.compliance != (extra(st, compliance_fail_mode) != 0);
    if (limit > 1 && extra(st, (k + " enable").c_str(), 0)) {
        double x = value_of(st, r, (ViInt32)num(st, KE2400_ATTR_MEASUREMENT_FUNCTION));
        if (x < extra(st, (k + " lower").c_str(), -HUGE_VAL)) result = KE2400_VAL_LIMIT_FAIL_LOW;
        else if (x > extra(st, (k + " upper").c_str(), HUGE_VAL)) result = KE2400_VAL_LIMIT_FAIL_HIGH;
    }
    *status = result;
    return c.done();
}

ViStatus body_KE2400_Initiate(Call& c, ViSession vi) {
    State& st = c.st();
    if (num(st, KE2400_ATTR_TRIGGER_SOURCE) == KE2400_VAL_TRIG_SOFTWARE) st.armed = true;
    else st.last = acquire(st);
    return c.done();
}

ViStatus body_KE2400_SendSoftwareTrigger(Call& c, ViSession vi) {
    State& st = c.st();
    if (num(st, KE2400_ATTR_TRIGGER_SOURCE) != KE2400_VAL_TRIG_SOFTWARE)
        c.fail(KE2400_ERROR_TRIGGER_NOT_SOFTWARE, "configure the software trigger first");
    else if (st.armed) st.last = acquire(st), st.armed = false;
    return c.done();
}

ViStatus body_KE2400_Abort(Call& c, ViSession vi) {
    c.st().armed = false;
    return c.done();
}

ViStatus body_KE2400_AcquireNewRelativeReference(Call& c, ViSession vi) {
    State& st = c.st();
    st.cfg.num[KE2400_ATTR_REL_ENABLED] = 0;
    Reading r = measure(st, source_level(st));
    st.cfg.num[KE2400_ATTR_REL_OFFSET] = value_of(st, r, (ViInt32)num(st, KE2400_ATTR_MEASUREMENT_FUNCTION));
    st.cfg.num[KE2400_ATTR_REL_ENABLED] = 1;
    return c.done();
}

}  // extern "C"
