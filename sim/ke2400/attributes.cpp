// Simulated KE2400: the attribute table, range checking and coercion, and
// the typed Get/Set/Check attribute functions.
#include <cmath>
#include <cstring>

#include "ke2400.hpp"

using namespace ke2400;

namespace {

const double v_ranges[] = {0.2, 2, 20, 200};
const double i_ranges[] = {1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1};
const double r_ranges[] = {20, 200, 2e3, 2e4, 2e5, 2e6, 2e7, 2e8};
const double ovp_steps[] = {20, 40, 60, 80, 100, 120, 160, 210};
const double line_freqs[] = {50, 60};

#define N(id, type, w, lo, hi, def) {KE2400_ATTR_##id, "KE2400_ATTR_" #id, type, w, lo, hi, def, nullptr, nullptr, 0}
#define B(id, w, def) N(id, BOOLEAN, w, 0, 1, def)
#define R(id, lo, hi, def, steps) \
    {KE2400_ATTR_##id, "KE2400_ATTR_" #id, REAL64, true, lo, hi, def, nullptr, steps, sizeof steps / sizeof *steps}
#define S(id, w, text) {KE2400_ATTR_##id, "KE2400_ATTR_" #id, STRING, w, 0, 0, 0, text, nullptr, 0}

const Attr table[] = {
    B(RANGE_CHECK, true, 1), B(QUERY_INSTRUMENT_STATUS, true, 0), B(CACHE, true, 1), B(SIMULATE, false, 0),
    B(RECORD_COERCIONS, true, 0), S(DRIVER_SETUP, false, ""), B(INTERCHANGE_CHECK, true, 0),
    N(IO_SESSION, SESSION, false, 0, 4294967295.0, 0), S(RESOURCE_DESCRIPTOR, false, ""),
    S(INSTRUMENT_MANUFACTURER, false, "MARROWICK INSTRUMENTS INC."), S(INSTRUMENT_MODEL, false, "MW-SX20"),
    S(INSTRUMENT_FIRMWARE_REVISION, false, "F2.14 2019-06-11/B03  /M/X"),
    S(SPECIFIC_DRIVER_REVISION, false, "2.1.0"),
    B(OUTPUT_ENABLED, true, 0), N(OUTPUT_OFF_MODE, INT32, true, 0, 3, 0), N(SOURCE_FUNCTION, INT32, true, 0, 1, 0),
    N(SOURCE_MODE, INT32, true, 0, 2, 0), N(SOURCE_VOLTAGE_LEVEL, REAL64, true, -210, 210, 0),
    N(SOURCE_CURRENT_LEVEL, REAL64, true, -1.05, 1.05, 0), R(SOURCE_VOLTAGE_RANGE, 0, 210, 20, v_ranges),
    R(SOURCE_CURRENT_RANGE, 0, 1.05, 1e-4, i_ranges), B(SOURCE_AUTO_RANGE, true, 1),
    N(SOURCE_DELAY, REAL64, true, 0, 9999.999, 0.001), N(VOLTAGE_COMPLIANCE, REAL64, true, 2e-4, 210, 21),
    N(CURRENT_COMPLIANCE, REAL64, true, 1e-9, 1.05, 1.05e-4), R(SENSE_VOLTAGE_RANGE, 0, 210, 20, v_ranges),
    R(SENSE_CURRENT_RANGE, 0, 1.05, 1e-4, i_ranges), R(SENSE_RESISTANCE_RANGE, 0, 2.1e8, 2e5, r_ranges),
    B(SENSE_VOLTAGE_AUTO_RANGE, true, 1), B(SENSE_CURRENT_AUTO_RANGE, true, 1),
    B(SENSE_RESISTANCE_AUTO_RANGE, true, 1), B(CONCURRENT_MEASUREMENTS, true, 1), B(REMOTE_SENSE, true, 0),
    N(RESISTANCE_MODE, INT32, true, 0, 1, 0), B(OFFSET_COMPENSATION, true, 0),
    N(MEASUREMENT_FUNCTION, INT32, true, 0, 2, 1), N(NPLC, REAL64, true, 0.01, 10, 1),
    R(POWER_LINE_FREQUENCY, 50, 60, 60, line_freqs), N(AUTO_ZERO, INT32, true, 0, 2, 1),
    N(TERMINALS, INT32, true, 0, 1, 0), N(TRIGGER_SOURCE, INT32, true, 0, 3, 0),
    N(TRIGGER_COUNT, INT32, true, 1, 2500, 1), N(TRIGGER_DELAY, REAL64, true, 0, 999.9999, 0),
    N(ARM_SOURCE, INT32, true, 0, 3, 0), N(ARM_COUNT, INT32, true, 1, 2500, 1),
    N(ARM_TIMER, REAL64, true, 0.001, 99999.99, 0.1), N(TRIGGER_SLOPE, INT32, true, 0, 1, 0),
    N(SWEEP_START, REAL64, true, -210, 210, 0), N(SWEEP_STOP, REAL64, true, -210, 210, 0),
    N(SWEEP_STEP, REAL64, true, -420, 420, 0), N(SWEEP_POINTS, INT32, true, 1, 2500, 1),
    N(SWEEP_SPACING, INT32, true, 0, 1, 0), N(SWEEP_DIRECTION, INT32, true, 0, 1, 0),
    N(BUFFER_SIZE, INT32, true, 1, 2500, 100), B(BUFFER_ENABLED, true, 0), B(FILTER_ENABLED, true, 0),
    N(FILTER_COUNT, INT32, true, 1, 100, 10), B(REL_ENABLED, true, 0), N(REL_OFFSET, REAL64, true, -1e30, 1e30, 0),
    S(MATH_EXPRESSION, true, "POWER"), R(OVP_LIMIT, 20, 210, 210, ovp_steps),
    N(SRQ_ENABLE_MASK, INT32, true, 0, 255, 0), N(TRIGGER_LINK_SESSION, SESSION, true, 0, 4294967295.0, 0),
    N(APERTURE_TIME, REAL64, true, 1e-4, 10, 1), N(APERTURE_UNITS, INT32, true, 0, 1, 1),
    B(INTERLOCK_ENABLED, true, 0), N(POWER_ON_SETUP, INT32, true, -1, 4, -1),
};

// Up to the first range that holds the value.
double coerce(const Attr& a, double v) {
    if (!a.steps) return v;
    for (int i = 0; i < a.nsteps; ++i)
        if (std::fabs(v) <= a.steps[i] * (1 + 1e-9)) return a.steps[i];
    return a.steps[a.nsteps - 1];
}

void interchange(State& st, const Attr& a) {
    if (!num(st, KE2400_ATTR_INTERCHANGE_CHECK) || a.id < 1150000 || st.warned.count(a.id)) return;
    st.warned.insert(a.id);
    push_line(st.warnings, std::string(a.name) + " is specific to this instrument; a program that sets it is not interchangeable");
}

// Range check of a setting: refused by the driver when range checking is on,
// otherwise by the instrument, which queues -222 "Data out of range".
bool in_range(Call& c, const std::string& what, double v, double lo, double hi, bool check_only) {
    if (v >= lo && v <= hi) return true;
    if (check_only || num(c.st(), KE2400_ATTR_RANGE_CHECK))
        return c.fail(KE2400_ERROR_INVALID_VALUE,
                      what + ": " + num_text(v) + " is out of range (" + num_text(lo) + " to " + num_text(hi) + ")");
    sim::push_error(driver, -222, "Data out of range");
    if (num(c.st(), KE2400_ATTR_QUERY_INSTRUMENT_STATUS))
        return c.fail(KE2400_ERROR_INSTRUMENT_STATUS, "the instrument refused " + what);
    return false;  // not applied
}

bool channel_ok(Call& c, const char* ch) {
    if (!ch || !*ch || std::strcmp(ch, "1") == 0) return true;
    return c.fail(KE2400_ERROR_UNKNOWN_CHANNEL_NAME, std::string("channel '") + ch + "' (the unit has channel \"1\" only)");
}

const Attr* typed(Call& c, const char* ch, ViAttr id, Type t) {
    if (!channel_ok(c, ch)) return nullptr;
    const Attr* a = find_attr(id);
    if (!a) return c.fail(KE2400_ERROR_INVALID_ATTRIBUTE, "attribute ID " + std::to_string(id)), nullptr;
    if (a->type != t)
        return c.fail(KE2400_ERROR_TYPES_DO_NOT_MATCH, std::string(a->name) + " is " + type_name(a->type) +
                                                           ", not " + type_name(t)), nullptr;
    return a;
}

template <class T> ViStatus get_num(Call& c, const char* ch, ViAttr id, Type t, T* value) {
    if (typed(c, ch, id, t) && !c.null(value, "value")) *value = (T)num(c.st(), id);
    return c.done();
}

ViStatus set_num(Call& c, const char* ch, ViAttr id, Type t, double v, bool check_only) {
    if (typed(c, ch, id, t)) set_attr(c, id, v, check_only);
    return c.done();
}

}  // namespace

namespace ke2400 {

const Attr* find_attr(ViAttr id) {
    for (const Attr& a : table)
        if (a.id == id) return &a;
    return nullptr;
}

const char* type_name(Type t) {
    static const char* names[] = {"ViInt32", "ViReal64", "ViString", "ViSession", "ViBoolean"};
    return names[t];
}

bool set_attr(Call& c, ViAttr id, double v, bool check_only) {
    const Attr* a = find_attr(id);
    if (!a) return c.fail(KE2400_ERROR_INVALID_ATTRIBUTE, "attribute ID " + std::to_string(id));
    if (!a->writable) return c.fail(KE2400_ERROR_ATTR_NOT_WRITABLE, std::string(a->name) + " is read-only");
    if (a->type == BOOLEAN) v = v != 0;
    if (!in_range(c, a->name, v, a->lo, a->hi, check_only)) return false;
    if (check_only) return true;
    State& st = c.st();
    double to = coerce(*a, v);
    if (to != v && num(st, KE2400_ATTR_RECORD_COERCIONS))
        push_line(st.coercions, std::string(a->name) + " on channel \"1\": " + num_text(v) + " coerced to " + num_text(to));
    st.cfg.num[id] = to;
    interchange(st, *a);
    return true;
}

bool set_text(Call& c, ViAttr id, const char* v, bool check_only) {
    const Attr* a = find_attr(id);
    if (!a->writable) return c.fail(KE2400_ERROR_ATTR_NOT_WRITABLE, std::string(a->name) + " is read-only");
    if (!v) return c.fail(KE2400_ERROR_NULL_POINTER, std::string(a->name) + ": the value is a null pointer");
    std::string text(v, strnlen(v, 1024));
    if (text.empty() || text.size() > 255) return c.fail(KE2400_ERROR_INVALID_VALUE, std::string(a->name) + ": 1 to 255 characters");
    if (check_only) return true;
    c.st().cfg.str[id] = text;
    interchange(c.st(), *a);
    return true;
}

bool put(Call& c, const char* key, double v, double lo, double hi) {
    if (!in_range(c, key, v, lo, hi, false)) return false;
    c.st().cfg.extra[key] = v;
    return true;
}

bool put(Call& c, Extra& s, double v) { return put(c, s.what, v, s.lo, s.hi); }

bool is_function(Call& c, ViInt32 f, ViInt32 last) {
    if (f >= 0 && f <= last) return true;
    return c.fail(KE2400_ERROR_INVALID_VALUE, "function " + std::to_string(f) + " (0 voltage, 1 current, 2 resistance" +
                                                  (last >= 3 ? ", 3 time)" : ")"));
}

}  // namespace ke2400

extern "C" {

ViStatus body_KE2400_GetAttributeViInt32(Call& c, ViSession vi, ViConstString ch, ViAttr id, ViInt32* value) {
    return get_num(c, ch, id, INT32, value);
}
ViStatus body_KE2400_GetAttributeViReal64(Call& c, ViSession vi, ViConstString ch, ViAttr id, ViReal64* value) {
    return get_num(c, ch, id, REAL64, value);
}
ViStatus body_KE2400_GetAttributeViSession(Call& c, ViSession vi, ViConstString ch, ViAttr id, ViSession* value) {
    return get_num(c, ch, id, SESSION, value);
}
ViStatus body_KE2400_GetAttributeViBoolean(Call& c, ViSession vi, ViConstString ch, ViAttr id, ViBoolean* value) {
    return get_num(c, ch, id, BOOLEAN, value);
}
ViStatus body_KE2400_GetAttributeViString(Call& c, ViSession vi, ViConstString ch, ViAttr id, ViInt32 size,
                                          ViChar value[]) {
    if (typed(c, ch, id, STRING)) put_sized(c, value, size, str(c.st(), id));
    return c.done();
}

#define SET_CHECK(T, type, what)                                                                                  \
    ViStatus body_KE2400_SetAttribute##what(Call& c, ViSession vi, ViConstString ch, ViAttr id, T value) { \
        return set_num(c, ch, id, type, value, false);                                                            \
    }                                                                                                             \
    ViStatus body_KE2400_CheckAttribute##what(Call& c, ViSession vi, ViConstString ch, ViAttr id, T value) { \
        return set_num(c, ch, id, type, value, true);                                                             \
    }
SET_CHECK(ViInt32, INT32, ViInt32)
SET_CHECK(ViReal64, REAL64, ViReal64)
SET_CHECK(ViSession, SESSION, ViSession)
SET_CHECK(ViBoolean, BOOLEAN, ViBoolean)

ViStatus body_KE2400_SetAttributeViString(Call& c, ViSession vi, ViConstString ch, ViAttr id, ViConstString value) {
    if (typed(c, ch, id, STRING)) set_text(c, id, value, false);
    return c.done();
}
ViStatus body_KE2400_CheckAttributeViString(Call& c, ViSession vi, ViConstString ch, ViAttr id, ViConstString value) {
    if (typed(c, ch, id, STRING)) set_text(c, id, value, true);
    return c.done();
}

}  // extern "C"
