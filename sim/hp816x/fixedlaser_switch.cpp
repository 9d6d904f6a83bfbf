// Simulated hp816x driver functions of this family: dual-wavelength fixed
// laser sources (1310 nm lower, 1550 nm upper) and 1x4 optical switches.
#include <cstdio>
#include <string>

#include "hp816x.hpp"

using namespace hp816x;

namespace {

const double fls_wl[2] = {1310e-9, 1550e-9};
const double fls_nominal_dbm[2] = {5.0, 6.0};  // output with 0 dB attenuation
const double fls_att_max = 6.0;
const double mod_min = 200, mod_max = 300e3, mod_def = 270;  // Hz
const int switch_outputs = 4;

double& real(const char* fam, ViInt32 slot, const char* what, double def) {
    return sim::real(sim::key(fam, slot, what), def);
}
long long& integer(const char* fam, ViInt32 slot, const char* what, long long def) {
    return sim::integer(sim::key(fam, slot, what), def);
}

// Per source (0 lower, 1 upper).
const char* const src_name[2] = {"lower", "upper"};
std::string per(const char* what, int src) { return std::string(what) + "." + src_name[src]; }
long long& modulation(ViInt32 slot, int src) { return integer("FLS", slot, per("mod", src).c_str(), 0); }
double& frequency(ViInt32 slot, int src) { return real("FLS", slot, per("freq", src).c_str(), mod_def); }
double& attenuation(ViInt32 slot, int src) { return real("FLS", slot, per("att", src).c_str(), 0); }
long long& laser_source(ViInt32 slot) { return integer("FLS", slot, "source", 0); }
long long& laser_state(ViInt32 slot) { return integer("FLS", slot, "state", 0); }
long long& trigger_state(ViInt32 slot) { return integer("FLS", slot, "trigger", 0); }

}  // namespace

extern "C" {

// ---- fixed laser sources ---------------------------------------------------------

ViStatus body_hp816x_set_FLS_parameters(Call& c, ViSession s, ViInt32 slot, ViInt32 source, ViUInt16 state,
                                        ViInt32 mod_lower, ViInt32 mod_upper, ViReal64 f_lower, ViReal64 f_upper,
                                        ViReal64 att_lower, ViReal64 att_upper) {
    if (source < 0 || source > 2) c.status(param(3));
    else if (state > 1) c.status(param(4));
    else if (mod_lower < 0 || mod_lower > 3) c.status(param(5));
    else if (mod_upper < 0 || mod_upper > 3) c.status(param(6));
    else if (!in_range(f_lower, mod_min, mod_max)) c.status(param(7));
    else if (!in_range(f_upper, mod_min, mod_max)) c.status(param(8));
    else if (!in_range(att_lower, 0, fls_att_max)) c.status(param(9));
    else if (!in_range(att_upper, 0, fls_att_max)) c.status(param(10));
    else {
        laser_source(slot) = source;
        laser_state(slot) = state;
        modulation(slot, 0) = mod_lower;
        modulation(slot, 1) = mod_upper;
        frequency(slot, 0) = f_lower;
        frequency(slot, 1) = f_upper;
        attenuation(slot, 0) = att_lower;
        attenuation(slot, 1) = att_upper;
    }
    return c.done();
}

ViStatus body_hp816x_get_FLS_parameters_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* source, ViUInt16* state,
                                          ViInt32* mod_lower, ViInt32* mod_upper, ViReal64* f_lower,
                                          ViReal64* f_upper, ViReal64* att_lower, ViReal64* att_upper) {
    if (source) *source = (ViInt32)laser_source(slot);
    if (state) *state = (ViUInt16)laser_state(slot);
    if (mod_lower) *mod_lower = (ViInt32)modulation(slot, 0);
    if (mod_upper) *mod_upper = (ViInt32)modulation(slot, 1);
    if (f_lower) *f_lower = frequency(slot, 0);
    if (f_upper) *f_upper = frequency(slot, 1);
    if (att_lower) *att_lower = attenuation(slot, 0);
    if (att_upper) *att_upper = attenuation(slot, 1);
    return c.done();
}

// selection (HP816X_SEL_*): the frequency given, or the minimum, default or maximum
ViStatus body_hp816x_set_FLS_modulation(Call& c, ViSession s, ViInt32 slot, ViInt32 source, ViInt32 mod, ViInt32 sel,
                                        ViReal64 f) {
    double v = 0;
    if (source < 0 || source > 1) c.status(param(3));
    else if (mod < 0 || mod > 3) c.status(param(4));
    else if (!selected(sel, f, mod_min, mod_max, mod_def, v)) c.status(param(5));
    else if (!in_range(v, mod_min, mod_max)) c.status(param(6));
    else {
        modulation(slot, source) = mod;
        frequency(slot, source) = v;
    }
    return c.done();
}

ViStatus body_hp816x_get_FLS_modulationSettings_Q(Call& c, ViSession s, ViInt32 slot, ViInt32 source, ViUInt16* state,
                                                  ViInt32* mod, ViReal64* mn, ViReal64* mx, ViReal64* def,
                                                  ViReal64* cur) {
    if (source < 0 || source > 1) {
        c.status(param(3));
        return c.done();
    }
    if (state) *state = modulation(slot, source) != 0;
    if (mod) *mod = (ViInt32)modulation(slot, source);
    if (mn) *mn = mod_min;
    if (mx) *mx = mod_max;
    if (def) *def = mod_def;
    if (cur) *cur = frequency(slot, source);
    return c.done();
}

ViStatus body_hp816x_set_FLS_triggerState(Call& c, ViSession s, ViInt32 slot, ViUInt16 state) {
    return set_setting(c, slot, state, 0, 1, trigger_state);
}

ViStatus body_hp816x_get_FLS_triggerState_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* state) {
    return get_setting(c, slot, state, trigger_state);
}

ViStatus body_hp816x_set_FLS_laserSource(Call& c, ViSession s, ViInt32 slot, ViInt32 source) {
    return set_setting(c, slot, source, 0, 2, laser_source);
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
    if (!in_range(lower, 0, fls_att_max)) c.status(param(3));
    else if (!in_range(upper, 0, fls_att_max)) c.status(param(4));
    else {
        attenuation(slot, 0) = lower;
        attenuation(slot, 1) = upper;
    }
    return c.done();
}

ViStatus body_hp816x_get_FLS_attenuation_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* lower, ViReal64* upper) {
    if (lower) *lower = attenuation(slot, 0);
    if (upper) *upper = attenuation(slot, 1);
    return c.done();
}

// Output power of one source when lit: nominal power less its attenuation
// (the setting is reported whether the laser is on or not).
ViStatus body_hp816x_get_FLS_power(Call& c, ViSession s, ViInt32 slot, ViInt32 source, ViReal64* power) {
    if (source < 0 || source > 1) c.status(param(3));
    else if (power) *power = fls_nominal_dbm[source] - attenuation(slot, source);
    return c.done();
}

ViStatus body_hp816x_set_FLS_laserState(Call& c, ViSession s, ViInt32 slot, ViUInt16 state) {
    return set_setting(c, slot, state, 0, 1, laser_state);
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
    else if (output < 1 || output > switch_outputs) c.status(param(4));
    else integer("SWT", slot, "route", 1) = output;
    return c.done();
}

ViStatus body_hp816x_get_SWT_route(Call& c, ViSession s, ViInt32 slot, ViInt32 input, ViInt32* output) {
    if (input != 1) c.status(param(3));
    else if (output) *output = (ViInt32)integer("SWT", slot, "route", 1);
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
