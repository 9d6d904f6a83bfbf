// Simulated hp816x driver functions of this family: dual-wavelength fixed
// laser sources (1310 nm lower, 1550 nm upper) and 1x4 optical switches.
#include <cstdio>
#include <string>

#include "hp816x.hpp"

using namespace hp816x;

namespace {

const double fls_wl[2] = {1310e-9, 1550e-9};
const double fls_nominal_dbm[2] = {5.0, 6.0};  // output with 0 dB attenuation
const int switch_outputs = 4;

// Per source (0 lower, 1 upper): modulation 0 to 3, its frequency (Hz), attenuation (dB).
Int modulation[2] = {{"FLS", "mod.lower", 0, 0, 3}, {"FLS", "mod.upper", 0, 0, 3}};
Real frequency[2] = {{"FLS", "freq.lower", 270, 200, 300e3}, {"FLS", "freq.upper", 270, 200, 300e3}};
Real attenuation[2] = {{"FLS", "att.lower", 0, 0, 6}, {"FLS", "att.upper", 0, 0, 6}};
Int laser_source{"FLS", "source", 0, 0, 2};  // 2: both
Int laser_state{"FLS", "state", 0, 0, 1};
Int trigger_state{"FLS", "trigger", 0, 0, 1};
Int route{"SWT", "route", 1, 1, switch_outputs};

}  // namespace

extern "C" {

// ---- fixed laser sources ---------------------------------------------------------

ViStatus body_hp816x_set_FLS_parameters(Call& c, ViSession s, ViInt32 slot, ViInt32 source, ViUInt16 state,
                                        ViInt32 mod_lower, ViInt32 mod_upper, ViReal64 f_lower, ViReal64 f_upper,
                                        ViReal64 att_lower, ViReal64 att_upper) {
    if (laser_source.check(c, source, 3) && laser_state.check(c, state, 4) && modulation[0].check(c, mod_lower, 5) &&
        modulation[1].check(c, mod_upper, 6) && frequency[0].check(c, f_lower, 7) && frequency[1].check(c, f_upper, 8) &&
        attenuation[0].check(c, att_lower, 9) && attenuation[1].check(c, att_upper, 10)) {
        laser_source(slot) = source;
        laser_state(slot) = state;
        modulation[0](slot) = mod_lower;
        modulation[1](slot) = mod_upper;
        frequency[0](slot) = f_lower;
        frequency[1](slot) = f_upper;
        attenuation[0](slot) = att_lower;
        attenuation[1](slot) = att_upper;
    }
    return c.done();
}

ViStatus body_hp816x_get_FLS_parameters_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* source, ViUInt16* state,
                                          ViInt32* mod_lower, ViInt32* mod_upper, ViReal64* f_lower,
                                          ViReal64* f_upper, ViReal64* att_lower, ViReal64* att_upper) {
    put(source, laser_source(slot));
    put(state, laser_state(slot));
    put(mod_lower, modulation[0](slot));
    put(mod_upper, modulation[1](slot));
    put(f_lower, frequency[0](slot));
    put(f_upper, frequency[1](slot));
    put(att_lower, attenuation[0](slot));
    put(att_upper, attenuation[1](slot));
    return c.done();
}

// selection (HP816X_SEL_*): the frequency given, or the minimum, default or maximum
ViStatus body_hp816x_set_FLS_modulation(Call& c, ViSession s, ViInt32 slot, ViInt32 source, ViInt32 mod, ViInt32 sel,
                                        ViReal64 f) {
    if (source < 0 || source > 1) c.status(param(3));
    else if (modulation[source].check(c, mod, 4) && set_selected(c, slot, sel, f, frequency[source], 5))
        modulation[source](slot) = mod;
    return c.done();
}

ViStatus body_hp816x_get_FLS_modulationSettings_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 source, ViUInt16* state,
                                                  ViInt32* mod, ViReal64* mn, ViReal64* mx, ViReal64* def,
                                                  ViReal64* cur) {
    if (source < 0 || source > 1) {
        c.status(param(3));
        return c.done();
    }
    put(state, modulation[source](slot) != 0);
    put(mod, modulation[source](slot));
    put4(mn, mx, def, cur, frequency[source], slot);
    return c.done();
}

ViStatus body_hp816x_set_FLS_triggerState(Call& c, ViSession s, ViInt32 slot, ViUInt16 state) {
    return set_setting(c, slot, state, trigger_state);
}

ViStatus body_hp816x_get_FLS_triggerState_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* state) {
    return get_setting(c, slot, state, trigger_state);
}

ViStatus body_hp816x_set_FLS_laserSource(Call& c, ViSession s, ViInt32 slot, ViInt32 source) {
    return set_setting(c, slot, source, laser_source);
}

ViStatus body_hp816x_get_FLS_laserSource_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* source) {
    return get_setting(c, slot, source, laser_source);
}

ViStatus body_hp816x_get_FLS_wavelength_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* lower, ViReal64* upper) {
    if (lower) *lower = fls_wl[0];
    if (upper) *upper = fls_wl[1];
    return c.done();
}

ViStatus body_hp816x_set_FLS_attenuation(Call& c, ViSession s, ViInt32 slot, ViReal64 lower, ViReal64 upper) {
    if (attenuation[0].check(c, lower, 3) && attenuation[1].check(c, upper, 4)) {
        attenuation[0](slot) = lower;
        attenuation[1](slot) = upper;
    }
    return c.done();
}

ViStatus body_hp816x_get_FLS_attenuation_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* lower, ViReal64* upper) {
    put(lower, attenuation[0](slot));
    put(upper, attenuation[1](slot));
    return c.done();
}

// Output power of one source when lit: nominal power less its attenuation
// (the setting is reported whether the laser is on or not).
ViStatus body_hp816x_get_FLS_power(Call& c, ViSession s, ViInt32 slot, ViInt32 source, ViReal64* power) {
    if (source < 0 || source > 1) c.status(param(3));
    else put(power, fls_nominal_dbm[source] - attenuation[source](slot));
    return c.done();
}

ViStatus body_hp816x_set_FLS_laserState(Call& c, ViSession s, ViInt32 slot, ViUInt16 state) {
    return set_setting(c, slot, state, laser_state);
}

ViStatus body_hp816x_get_FLS_laserState_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* state) {
    return get_setting(c, slot, state, laser_state);
}

// ---- optical switches: one input (A, port 1) to outputs B1..B4 ------------------------

// Type codes: 1 1x2, 2 2x2, 3 1x4.
ViStatus body_hp816x_get_SWT_type(Call& c, ViSession s, ViInt32 slot, ViInt32* type, ViChar* text) {
    if (type) *type = 3;
    sim::put_text(text, 256, "1x4 single-mode switch QB-SW4, input A, outputs B1-B4");
    return c.done();
}

ViStatus body_hp816x_set_SWT_route(Call& c, ViSession s, ViInt32 slot, ViInt32 input, ViInt32 output) {
    if (input != 1) c.status(param(3));
    else route.set(c, slot, output, 4);
    return c.done();
}

ViStatus body_hp816x_get_SWT_route(Call& c, ViSession s, ViInt32 slot, ViInt32 input, ViInt32* output) {
    if (input != 1) c.status(param(3));
    else put(output, route(slot));
    return c.done();
}

ViStatus body_hp816x_get_SWT_routeTable(Call& c, ViSession s, ViInt32 slot, ViChar* table) {
    std::string t;
    char r[24];
    for (int o = 1; o <= switch_outputs; ++o) {
        std::snprintf(r, sizeof r, "%sA1-B%d", o > 1 ? "," : "", o);
        t += r;
    }
    sim::put_text(table, 256, t);
    return c.done();
}

}  // extern "C"
