// Simulated hp816x driver functions of this family: optical attenuators.
//
// Model of one attenuator (values per slot):
//   input      the tunable laser of slot 0 (dark, -100 dBm, with its output off)
//   internal   attenuation of the filter, 0 to 60 dB; in absolute power mode
//              the control loop sets it so that the displayed power meets the
//              power set point (clamped to the filter's range)
//   displayed attenuation = internal + attenuation offset
//   output     input - 1.2 dB insertion loss - internal (shutter open),
//              about -80 dBm with the shutter closed
//   displayed power = output + power offset + wavelength offset (table value
//              at the attenuator's wavelength, when the table is switched on)
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hp816x.hpp"

using namespace hp816x;

namespace {

const double att_range = 60, insertion_loss = 1.2;
const double offset_limit = 200;
const unsigned table_max = 100;
const double same_wl = 1e-12;  // entries closer than 1 pm are one entry

// Settings (and their defaults); power settings in dBm.
Real internal_att{"ATT", "attenuation", 0, 0, att_range};  // of the filter; displayed with the offset
Real att_offset{"ATT", "attOffset", 0, -offset_limit, offset_limit};
Real speed{"ATT", "speed", 12, 0.1, 12};
Real wavelength{"ATT", "wavelength", 1550e-9, 1250e-9, 1650e-9};
Int unit{"ATT", "unit", 0, 0, 1};
Int abs_mode{"ATT", "absMode", 0, 0, 1};
Real power_setpoint{"ATT", "powerSet", -10, -80, 30};
Real power_reference{"ATT", "powerRef", 0, -110, 30};
Real power_offset{"ATT", "powerOffset", 0, -offset_limit, offset_limit};
Int shutter{"ATT", "shutter", 1, 0, 1};
Int wl_offset_state{"ATT", "wlOffsState", 0, 0, 1};
Int shutter_at_power_on{"ATT", "shutterAtPowerOn", 0, 0, 1};
Int control_loop{"ATT", "controlLoop", 0, 0, 1};
Real av_time{"ATT", "avTime", 0.1, 1e-3, 10};
// Trigger: 0 disabled, 1 default, 2 pass-through, 3 loop-back.
Int trigger_config{"ATT", "trigger", 0, 0, 3};
// Zero result: -1 not zeroed since power-on, 0 done.
Int zero_result{"ATT", "zeroResult", -1};
Int ref_pm_slot{"ATT", "refPmSlot", 1};
Int ref_pm_channel{"ATT", "refPmChannel", 1};
Real last_power{"ATT", "lastPower", 0};
Int measured{"ATT", "measured", 0};
Int table_size{"ATT", "tbl.n", 0};  // entries of the wavelength offset table

// The attenuation as displayed: the filter's range and default shifted by the offset.
sim::Setting<double> displayed_att(double ofs) {
    sim::Setting<double> a = internal_att;
    a.lo += ofs, a.hi += ofs, a.def += ofs;
    return a;
}

// A reference power meter channel (parameters 3 and 4) of the mainframe.
bool meter_ok(sim::Call& c, ViSession s, ViInt32 pm_slot, ViInt32 channel) {
    if (pm_slot < 0 || pm_slot >= slot_count(s)) c.status(param(3));
    else if (channel < 1 || channel > 2) c.status(param(4));
    else return true;
    return false;
}

// ---- wavelength offset table, kept in the value store ----------------------
struct Entry { double wl, offset; };

double& entry(ViInt32 slot, const char* what, size_t i) {
    return sim::real(sim::key("ATT", slot, (what + std::to_string(i)).c_str()));
}

std::vector<Entry> load_table(ViInt32 slot) {
    std::vector<Entry> t((size_t)table_size(slot));
    for (size_t i = 0; i < t.size(); ++i) {
        t[i].wl = entry(slot, "tbl.wl", i);
        t[i].offset = entry(slot, "tbl.ofs", i);
    }
    return t;
}

void store_table(ViInt32 slot, const std::vector<Entry>& t) {
    table_size(slot) = (long long)t.size();
    for (size_t i = 0; i < t.size(); ++i) {
        entry(slot, "tbl.wl", i) = t[i].wl;
        entry(slot, "tbl.ofs", i) = t[i].offset;
    }
}

std::vector<Entry>::iterator find_entry(std::vector<Entry>& t, double wl) {
    return std::find_if(t.begin(), t.end(), [&](const Entry& e) { return std::fabs(e.wl - wl) < same_wl; });
}

// Offset at a wavelength: linear between entries, the end values beyond them.
double table_offset(ViInt32 slot, double wl) {
    std::vector<Entry> t = load_table(slot);
    if (t.empty()) return 0;
    if (wl <= t.front().wl) return t.front().offset;
    if (wl >= t.back().wl) return t.back().offset;
    for (size_t i = 1; i < t.size(); ++i)
        if (std::fabs(wl - t[i].wl) < same_wl) return t[i].offset;
        else if (wl < t[i].wl) {
            double f = (wl - t[i - 1].wl) / (t[i].wl - t[i - 1].wl);
            return t[i - 1].offset + f * (t[i].offset - t[i - 1].offset);
        }
    return t.back().offset;
}

// ---- the optical path ---------------------------------------------------------
double input_dbm() { return hp816x::laser_output() ? hp816x::laser_power_dbm() : -100.0; }

double wl_offset(ViInt32 slot) { return wl_offset_state(slot) ? table_offset(slot, wavelength(slot)) : 0.0; }

// Attenuation the power set point needs.
double needed_att(ViInt32 slot) {
    return input_dbm() - insertion_loss + power_offset(slot) + wl_offset(slot) - power_setpoint(slot);
}

// Filter attenuation now: the setting, or what the control loop chose.
double filter_att(ViInt32 slot) {
    if (!abs_mode(slot)) return internal_att(slot);
    return std::min(att_range, std::max(0.0, needed_att(slot)));
}

bool setpoint_unreachable(ViInt32 slot) {
    if (!abs_mode(slot)) return false;
    double need = needed_att(slot);
    return need < 0 || need > att_range;
}

double true_output_dbm(ViInt32 slot) {
    if (!shutter(slot)) return -80.0 + 0.5 * sim::noise();
    return input_dbm() - insertion_loss - filter_att(slot);
}

double displayed_dbm(ViInt32 slot) { return true_output_dbm(slot) + power_offset(slot) + wl_offset(slot); }

double in_unit(ViInt32 slot, double dbm) { return unit(slot) == 1 ? hp816x::dbm_to_watt(dbm) : dbm; }
double from_unit(ViUInt16 u, double v) { return u == 1 ? hp816x::watt_to_dbm(v) : v; }

double measure(ViInt32 slot) {
    double p = displayed_dbm(slot) + 0.002 * sim::noise();
    last_power(slot) = p;
    measured(slot) = 1;
    return p;
}

}  // namespace

extern "C" {

ViStatus body_hp816x_set_ATT_attenuation(Call& c, ViSession s, ViInt32 slot, ViInt32 sel, ViReal64 a, ViUInt16 wait) {
    const double ofs = att_offset(slot);
    const sim::Setting<double> shown = displayed_att(ofs);
    double v = 0;
    if (!selected(sel, a, shown, v)) c.status(param(3));
    else if (shown.check(c, v, 4)) {
        internal_att(slot) = v - ofs;
        abs_mode(slot) = 0;  // an attenuation setting leaves power mode
    }
    return c.done();
}

ViStatus body_hp816x_get_ATT_attenuation_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* mn, ViReal64* mx,
                                           ViReal64* def, ViReal64* cur) {
    const double ofs = att_offset(slot);
    const sim::Setting<double> shown = displayed_att(ofs);
    put(mn, shown.lo);
    put(mx, shown.hi);
    put(def, shown.def);
    put(cur, filter_att(slot) + ofs);
    return c.done();
}

ViStatus body_hp816x_set_ATT_attenuationOffset(Call& c, ViSession s, ViInt32 slot, ViInt32 sel, ViReal64 ofs) {
    set_selected(c, slot, sel, ofs, att_offset);
    return c.done();
}

ViStatus body_hp816x_get_ATT_attenuationOffset_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* mn, ViReal64* mx,
                                                 ViReal64* def, ViReal64* cur) {
    put4(mn, mx, def, cur, att_offset, slot);
    return c.done();
}

ViStatus body_hp816x_set_ATT_attenuatorSpeed(Call& c, ViSession s, ViInt32 slot, ViInt32 sel, ViReal64 v) {
    set_selected(c, slot, sel, v, speed);
    return c.done();
}

ViStatus body_hp816x_get_ATT_attenuatorSpeed_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* mn, ViReal64* mx,
                                               ViReal64* def, ViReal64* cur) {
    put4(mn, mx, def, cur, speed, slot);
    return c.done();
}

// Takes the displayed attenuation into the offset: the display reads 0 dB,
// the filter stays where it is.
ViStatus body_hp816x_ATT_displayToOffset(Call& c, ViSession s, ViInt32 slot) {
    att_offset(slot) = -filter_att(slot);
    return c.done();
}

ViStatus body_hp816x_set_ATT_wavelength(Call& c, ViSession s, ViInt32 slot, ViInt32 sel, ViReal64 wl) {
    set_selected(c, slot, sel, wl, wavelength);
    return c.done();
}

ViStatus body_hp816x_get_ATT_wavelength_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* mn, ViReal64* mx,
                                          ViReal64* def, ViReal64* cur) {
    put4(mn, mx, def, cur, wavelength, slot);
    return c.done();
}

ViStatus body_hp816x_set_ATT_powerUnit(Call& c, ViSession s, ViInt32 slot, ViUInt16 u) {
    return set_setting(c, slot, u, unit);
}

ViStatus body_hp816x_get_ATT_powerUnit_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* u) {
    return get_setting(c, slot, u, unit);
}

ViStatus body_hp816x_set_ATT_absPowerMode(Call& c, ViSession s, ViInt32 slot, ViUInt16 mode) {
    return set_setting(c, slot, mode, abs_mode);
}

ViStatus body_hp816x_get_ATT_absPowerMode_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* mode) {
    return get_setting(c, slot, mode, abs_mode);
}

// Power set point in `u` (0 dBm, 1 W); also sets the unit and the mode.
ViStatus body_hp816x_set_ATT_power(Call& c, ViSession s, ViInt32 slot, ViUInt16 u, ViUInt16 mode, ViInt32 sel,
                                   ViReal64 p) {
    double v = 0;
    if (!unit.check(c, u, 3) || !abs_mode.check(c, mode, 4)) return c.done();
    if (!selected(sel, u == 1 && p <= 0 ? -1e9 : from_unit(u, p), power_setpoint, v)) c.status(param(5));
    else if (power_setpoint.check(c, v, 6)) {
        unit(slot) = u;
        abs_mode(slot) = mode;
        power_setpoint(slot) = v;
    }
    return c.done();
}

ViStatus body_hp816x_get_ATT_power_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* u, ViUInt16* mode, ViReal64* mn,
                                     ViReal64* mx, ViReal64* def, ViReal64* cur) {
    if (u) *u = (ViUInt16)unit(slot);
    if (mode) *mode = (ViUInt16)abs_mode(slot);
    put(mn, in_unit(slot, power_setpoint.lo));
    put(mx, in_unit(slot, power_setpoint.hi));
    put(def, in_unit(slot, power_setpoint.def));
    put(cur, in_unit(slot, power_setpoint(slot)));
    return c.done();
}

// Power reference := what the external power meter reads now.
ViStatus body_hp816x_cp_ATT_refFromExtPM(Call& c, ViSession s, ViInt32 slot, ViInt32 pm_slot, ViInt32 channel) {
    if (meter_ok(c, s, pm_slot, channel)) power_reference(slot) = pwm_power_dbm(pm_slot, channel);
    return c.done();
}

ViStatus body_hp816x_set_ATT_powerReference(Call& c, ViSession s, ViInt32 slot, ViInt32 sel, ViReal64 ref) {
    set_selected(c, slot, sel, ref, power_reference);
    return c.done();
}

ViStatus body_hp816x_get_ATT_powerReference_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* mn, ViReal64* mx,
                                              ViReal64* def, ViReal64* cur) {
    put4(mn, mx, def, cur, power_reference, slot);
    return c.done();
}

ViStatus body_hp816x_set_ATT_shutterState(Call& c, ViSession s, ViInt32 slot, ViUInt16 open) {
    return set_setting(c, slot, open, shutter);
}

ViStatus body_hp816x_get_ATT_shutterState_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* open) {
    return get_setting(c, slot, open, shutter);
}

ViStatus body_hp816x_set_ATT_shutterAtPowerOn(Call& c, ViSession s, ViInt32 slot, ViUInt16 open) {
    return set_setting(c, slot, open, shutter_at_power_on);
}

ViStatus body_hp816x_get_ATT_shutterStateAtPowerOn_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* open) {
    return get_setting(c, slot, open, shutter_at_power_on);
}

// 0 ready, 1 shutter closed, 2 power set point out of reach.  The text takes
// at most HP816X_ATT_OPER_STATUS_LEN bytes of the caller's buffer (hostile:
// all of them, with no zero byte).
ViStatus body_hp816x_get_ATT_operStatus(Call& c, ViSession s, ViInt32 slot, ViInt32* status, ViChar* text) {
    ViInt32 code = 0;
    const char* msg = "Ready: attenuation settled";
    if (!shutter(slot)) code = 1, msg = "Shutter closed";
    else if (setpoint_unreachable(slot)) code = 2, msg = "Power set point out of attenuation range";
    if (status) *status = code;
    if (text) {
        if (sim::hostile()) sim::put_text(text, HP816X_ATT_OPER_STATUS_LEN, msg);
        else sim::put_text(text, std::strlen(msg) + 1, msg);
    }
    return c.done();
}

ViStatus body_hp816x_read_ATT_outputPower(Call& c, ViSession s, ViInt32 slot, ViReal64* p) {
    double v = in_unit(slot, measure(slot));
    if (p) *p = v;
    return c.done();
}

// The last reading (a new one if there is none yet).
ViStatus body_hp816x_fetch_ATT_outputPower(Call& c, ViSession s, ViInt32 slot, ViReal64* p) {
    double dbm = measured(slot) ? last_power(slot) : measure(slot);
    if (p) *p = in_unit(slot, dbm);
    return c.done();
}

ViStatus body_hp816x_set_ATT_wlOffsRefPowermeter(Call& c, ViSession s, ViInt32 slot, ViInt32 pm_slot, ViInt32 channel) {
    if (meter_ok(c, s, pm_slot, channel)) {
        ref_pm_slot(slot) = pm_slot;
        ref_pm_channel(slot) = channel;
    }
    return c.done();
}

ViStatus body_hp816x_get_ATT_wlOffsRefPowermeter_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* pm_slot,
                                                   ViInt32* channel) {
    put(pm_slot, ref_pm_slot(slot));
    put(channel, ref_pm_channel(slot));
    return c.done();
}

ViStatus body_hp816x_set_ATT_wavelengthOffsetState(Call& c, ViSession s, ViInt32 slot, ViUInt16 state) {
    return set_setting(c, slot, state, wl_offset_state);
}

ViStatus body_hp816x_get_ATT_wavelengthOffsetState_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* state) {
    return get_setting(c, slot, state, wl_offset_state);
}

ViStatus body_hp816x_set_ATT_wavelengthOffset(Call& c, ViSession s, ViInt32 slot, ViReal64 wl, ViUInt16 source,
                                              ViReal64 offset) {
    if (!wavelength.check(c, wl, 3)) return c.done();
    if (source > 1) c.status(param(4));
    else if (source == 0 && !in_range(offset, -offset_limit, offset_limit)) c.status(param(5));
    else {
        if (source == 1) {  // what makes the display agree with the reference meter
            offset = pwm_power_dbm((int)ref_pm_slot(slot), (int)ref_pm_channel(slot)) -
                     (true_output_dbm(slot) + power_offset(slot));
        }
        std::vector<Entry> t = load_table(slot);
        auto at = find_entry(t, wl);
        if (at != t.end()) at->offset = offset;
        else if (t.size() >= table_max) {
            sim::push_error(hp816x::driver, -223, "Too much data;wavelength offset table full");
            c.status(VI_ERROR_INSTR_ERROR);
        } else {
            t.insert(std::upper_bound(t.begin(), t.end(), wl, [](double w, const Entry& e) { return w < e.wl; }),
                     Entry{wl, offset});
        }
        store_table(slot, t);
    }
    return c.done();
}

ViStatus body_hp816x_get_ATT_wavelengthOffsetIndex_Q(Call& c, ViSession s, ViInt32 slot, ViUInt32 index, ViReal64* wl,
                                                     ViReal64* offset) {
    std::vector<Entry> t = load_table(slot);
    if (index >= t.size()) c.status(param(3));
    else {
        if (wl) *wl = t[index].wl;
        if (offset) *offset = t[index].offset;
    }
    return c.done();
}

ViStatus body_hp816x_get_ATT_offsetFromWavelength_Q(Call& c, ViSession s, ViInt32 slot, ViReal64 wl, ViReal64* offset) {
    if (wavelength.check(c, wl, 3)) put(offset, table_offset(slot, wl));
    return c.done();
}

ViStatus body_hp816x_delete_ATT_offsetTblEntries(Call& c, ViSession s, ViInt32 slot, ViUInt16 all, ViReal64 wl) {
    std::vector<Entry> t = load_table(slot);
    if (all > 1) c.status(param(3));
    else if (all == 1) t.clear();
    else {
        auto at = find_entry(t, wl);
        if (at == t.end()) c.status(param(4));
        else t.erase(at);
    }
    store_table(slot, t);
    return c.done();
}

ViStatus body_hp816x_get_ATT_offsetTable_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* wls, ViReal64* offsets) {
    std::vector<Entry> t = load_table(slot);
    for (size_t i = 0; i < t.size(); ++i) {
        if (wls) wls[i] = t[i].wl;
        if (offsets) offsets[i] = t[i].offset;
    }
    return c.done();
}

ViStatus body_hp816x_get_ATT_offsetTblSize_Q(Call& c, ViSession s, ViInt32 slot, ViUInt32* size, ViUInt32* max_size) {
    put(size, table_size(slot));
    if (max_size) *max_size = table_max;
    return c.done();
}

ViStatus body_hp816x_set_ATT_powerOffset(Call& c, ViSession s, ViInt32 slot, ViInt32 sel, ViReal64 ofs) {
    set_selected(c, slot, sel, ofs, power_offset);
    return c.done();
}

ViStatus body_hp816x_get_ATT_powerOffset_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* mn, ViReal64* mx,
                                           ViReal64* def, ViReal64* cur) {
    put4(mn, mx, def, cur, power_offset, slot);
    return c.done();
}

// Power offset := what makes the displayed power agree with the meter.
ViStatus body_hp816x_set_ATT_pwrOffsRefPM(Call& c, ViSession s, ViInt32 slot, ViInt32 pm_slot, ViInt32 channel) {
    if (meter_ok(c, s, pm_slot, channel)) {
        double ofs = pwm_power_dbm(pm_slot, channel) - true_output_dbm(slot) - wl_offset(slot);
        power_offset(slot) = std::min(offset_limit, std::max(-offset_limit, ofs));
    }
    return c.done();
}

// Attenuation offset := what makes the displayed attenuation the whole loss
// from the attenuator's input to the meter.
ViStatus body_hp816x_set_ATT_offsByRefPM(Call& c, ViSession s, ViInt32 slot, ViInt32 pm_slot, ViInt32 channel) {
    if (meter_ok(c, s, pm_slot, channel)) {
        double loss = input_dbm() - pwm_power_dbm(pm_slot, channel);
        att_offset(slot) = std::min(offset_limit, std::max(-offset_limit, loss - filter_att(slot)));
    }
    return c.done();
}

ViStatus body_hp816x_set_ATT_controlLoopState(Call& c, ViSession s, ViInt32 slot, ViUInt16 state) {
    return set_setting(c, slot, state, control_loop);
}

ViStatus body_hp816x_get_ATT_controlLoopState_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* state) {
    return get_setting(c, slot, state, control_loop);
}

ViStatus body_hp816x_set_ATT_avTime(Call& c, ViSession s, ViInt32 slot, ViReal64 t) {
    return set_setting(c, slot, t, av_time);
}

ViStatus body_hp816x_get_ATT_avTime_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* t) {
    return get_setting(c, slot, t, av_time);
}

ViStatus body_hp816x_set_ATT_triggerConfig(Call& c, ViSession s, ViInt32 slot, ViInt32 config) {
    return set_setting(c, slot, config, trigger_config);
}

ViStatus body_hp816x_get_ATT_triggerConfig_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* config) {
    return get_setting(c, slot, config, trigger_config);
}

ViStatus body_hp816x_zero_ATT_powermeter(Call& c, ViSession s, ViInt32 slot) {
    zero_result(slot) = 0;
    return c.done();
}

ViStatus body_hp816x_get_ATT_zeroResult_Q(Call& c, ViSession s, ViInt32 slot, ViInt32* result) {
    return get_setting(c, slot, result, zero_result);
}

ViStatus body_hp816x_zero_ATT_all(Call& c, ViSession s) {
    for (int slot = 0; slot < max_slots; ++slot) zero_result(slot) = 0;
    return c.done();
}

}  // extern "C"
