// Shared state of the simulated optical mainframe: slots, the tunable laser
// that feeds the power meters, and the device under test between them.
#ifndef SIM_HP816X_HPP
#define SIM_HP816X_HPP

#include <cmath>

#include "hp816x.h"
#include "sim.hpp"

namespace hp816x {

constexpr const char* driver = "hp816x";
using Call = sim::Call;  // the core's checks: session, timeout, slot and channel (modules.cpp)

// Slot layout of the default bench's mainframes (bench.json; a bench file may
// give others, sim::Instrument::slots):
//   0: tunable laser QB-TL9      1: dual power meter QB-PD2 (channels 0, 1)
//   2: power meter QB-PD1 (0)    3: attenuator QB-VA4
//   4: return-loss module QB-RL1 5: fixed laser QB-FL5   6: switch QB-SW4
// A function reaches only a slot of the mainframe holding its kind of module,
// and a power meter channel the module has (the table in modules.cpp, checked
// by the core in every prologue).
constexpr int max_slots = 18;  // as the bench allows

// Slots of the session's mainframe (0 for an unknown session).
inline int slot_count(ViSession s) {
    const sim::Instrument* in = sim::instrument(s);
    return in ? (int)in->slots.size() : 0;
}

// Laser state (wavelength in m, power in dBm, output 0/1) as the TLS
// functions store it; power meters read it through the device under test.
// The highest power follows the laser's gain curve (tunablelaser.cpp).
inline const sim::Setting<double> laser_wavelength{"TLS", "wavelength", 1550e-9, 1440e-9, 1640e-9};
inline const sim::Setting<double> laser_power_dbm{"TLS", "power", 0.0, -10.0};
inline const sim::Setting<long long> laser_output{"TLS", "output", 1};

// Device under test: a fibre Bragg-grating notch filter, 0.6 dB insertion
// loss, a 25 dB Lorentzian dip of 0.4 nm FWHM centred on 1550.12 nm.
constexpr double dip_center = 1550.12e-9, dip_fwhm = 0.4e-9, dip_depth_db = 25.0, insertion_loss_db = 0.6;
inline double dut_transmission_db(double wl) {
    double x = (wl - dip_center) / (dip_fwhm / 2);
    return -insertion_loss_db - dip_depth_db / (1 + x * x);
}

// Power (dBm) a power meter channel reads now: laser through the DUT, plus a
// little deterministic noise; -90 dBm of dark noise with the laser off.
inline double pwm_power_dbm(int slot, int channel) {
    if (!laser_output()) return -90.0 + 0.5 * sim::noise();
    return laser_power_dbm() + dut_transmission_db(laser_wavelength()) + 0.002 * sim::noise();
}

inline double dbm_to_watt(double dbm) { return 1e-3 * std::pow(10.0, dbm / 10); }
inline double watt_to_dbm(double w) { return w > 0 ? 10 * std::log10(w / 1e-3) : -200.0; }

// Power meter channels of the default mainframe, in the order the driver
// lists them (registered channels of a multi-frame scan; PWM_readAll lists
// the session's own mainframe).
struct PwmChannel { int slot, channel; };
constexpr PwmChannel pwm_channels[] = {{1, 0}, {1, 1}, {2, 0}};
constexpr int pwm_channel_count = 3;

// Writes an output the caller may have passed as a null pointer.
template <class T, class V> inline void put(T* p, V v) { if (p) *p = (T)v; }

// ---- checks and bodies shared by the slot families ----------------------------
using Real = const sim::Setting<double>;
using Int = const sim::Setting<long long>;

// Status of parameter n (from 1, the session) out of range.
constexpr ViStatus param(int n) { return sim::param_error(n); }

inline bool in_range(double v, double lo, double hi) { return v >= lo && v <= hi; }  // false for nan

// The value a setter's selection (HP816X_SEL_*) names: the value given, or the
// setting's minimum, maximum or default.  False for an unknown selection.
inline bool selected(ViInt32 sel, double value, const sim::Setting<double>& s, double& out) {
    switch (sel) {
    case HP816X_SEL_VALUE: out = value; return true;
    case HP816X_SEL_MIN: out = s.lo; return true;
    case HP816X_SEL_DEF: out = s.def; return true;
    case HP816X_SEL_MAX: out = s.hi; return true;
    default: return false;
    }
}

// Takes the value a selection (parameter `sel_param`) names into the setting
// of `unit`: false for an unknown selection, or a value given out of range
// (the next parameter).
inline bool set_selected(Call& c, long long unit, ViInt32 sel, double value, const sim::Setting<double>& s,
                         int sel_param = 3) {
    double v = 0;
    if (!selected(sel, value, s, v)) return c.status(param(sel_param)), false;
    return s.set(c, unit, v, sel_param + 1);
}

// Minimum, maximum, default and current value of a setting, as the _Q functions report them.
inline void put4(double* mn, double* mx, double* def, double* cur, const sim::Setting<double>& s, long long unit) {
    put(mn, s.lo);
    put(mx, s.hi);
    put(def, s.def);
    put(cur, s(unit));
}

// Bodies of the plain setting functions (session, slot, value), after their
// prologue: the setter takes a value in the setting's range (parameter 3),
// the query writes it.
template <class T, class V> inline ViStatus set_setting(Call& c, ViInt32 slot, V v, const sim::Setting<T>& s) {
    s.set(c, slot, v, 3);
    return c.done();
}
template <class T, class F> inline ViStatus get_setting(Call& c, ViInt32 slot, T* out, const F& setting) {
    put(out, setting(slot));
    return c.done();
}

}  // namespace hp816x

#include "hp816x_bodies.h"

#endif
