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
const double wl_min = 1250e-9, wl_max = 1650e-9, wl_def = 1550e-9;
const double speed_min = 0.1, speed_max = 12, speed_def = 12;
const double pset_min = -80, pset_max = 30, pset_def = -10;  // dBm
const double ref_min = -110, ref_max = 30, ref_def = 0;       // dBm
const unsigned table_max = 100;
const double same_wl = 1e-12;  // entries closer than 1 pm are one entry

double& real(ViInt32 slot, const char* what, double def) { return sim::real(sim::key("ATT", slot, what), def); }
long long& integer(ViInt32 slot, const char* what, long long def) {
    return sim::integer(sim::key("ATT", slot, what), def);
}

// Settings (and their defaults).
double& internal_att(ViInt32 slot) { return real(slot, "attenuation", 0); }
double& att_offset(ViInt32 slot) { return real(slot, "attOffset", 0); }
double& speed(ViInt32 slot) { return real(slot, "speed", speed_def); }
double& wavelength(ViInt32 slot) { return real(slot, "wavelength", wl_def); }
long long& unit(ViInt32 slot) { return integer(slot, "unit", 0); }
long long& abs_mode(ViInt32 slot) { return integer(slot, "absMode", 0); }
double& power_setpoint(ViInt32 slot) { return real(slot, "powerSet", pset_def); }  // dBm
double& power_reference(ViInt32 slot) { return real(slot, "powerRef", ref_def); }
double& power_offset(ViInt32 slot) { return real(slot, "powerOffset", 0); }
long long& shutter(ViInt32 slot) { return integer(slot, "shutter", 1); }
long long& wl_offset_state(ViInt32 slot) { return integer(slot, "wlOffsState", 0); }
long long& shutter_at_power_on(ViInt32 slot) { return integer(slot, "shutterAtPowerOn", 0); }
long long& control_loop(ViInt32 slot) { return integer(slot, "controlLoop", 0); }
double& av_time(ViInt32 slot) { return real(slot, "avTime", 0.1); }
// Trigger: 0 disabled, 1 default, 2 pass-through, 3 loop-back.
long long& trigger_config(ViInt32 slot) { return integer(slot, "trigger", 0); }
// Zero result: -1 not zeroed since power-on, 0 done.
long long& zero_result(ViInt32 slot) { return integer(slot, "zeroResult", -1); }
long long& ref_pm_slot(ViInt32 slot) { return integer(slot, "refPmSlot", 1); }
long long& ref_pm_channel(ViInt32 slot) { return integer(slot, "refPmChannel", 1); }

// Takes the value a selection (parameter 3) names into `setting`; false for an
// unknown selection, or a value given outside [mn, mx] (parameter 4).
bool set_selected(sim::Call& c, ViInt32 sel, double value, double mn, double mx, double def, double& setting) {
    double v = 0;
    if (!selected(sel, value, mn, mx, def, v)) c.status(param(3));
    else if (!in_range(v, mn, mx)) c.status(param(4));
    else return setting = v, true;
    return false;
}

// A reference power meter channel (parameters 3 and 4) of the mainframe.
bool meter_ok(sim::Call& c, ViSession s, ViInt32 pm_slot, ViInt32 channel) {
    if (pm_slot < 0 || pm_slot >= slot_count(s)) c.status(param(3));
    else if (channel < 1 || channel > 2) c.status(param(4));
    else return true;
    return false;
}

void put4(double* a, double* b, double* c, double* d, double mn, double mx, double def, double cur) {
    if (a) *a = mn;
    if (b) *b = mx;
    if (c) *c = def;
    if (d) *d = cur;
}

// ---- wavelength offset table, kept in the value store ----------------------
struct Entry { double wl, offset; };

std::vector<Entry> load_table(ViInt32 slot) {
    std::vector<Entry> t((size_t)integer(slot, "tbl.n", 0));
    char w[32];
    for (size_t i = 0; i < t.size(); ++i) {
        std::snprintf(w, sizeof w, "tbl.wl%zu", i);
        t[i].wl = real(slot, w, 0);
        std::snprintf(w, sizeof w, "tbl.ofs%zu", i);
        t[i].offset = real(slot, w, 0);
    }
    return t;
}

void store_table(ViInt32 slot, const std::vector<Entry>& t) {
    integer(slot, "tbl.n", 0) = (long long)t.size();
    char w[32];
    for (size_t i = 0; i < t.size(); ++i) {
        std::snprintf(w, sizeof w, "tbl.wl%zu", i);
        real(slot, w, 0) = t[i].wl;
        std::snprintf(w, sizeof w, "tbl.ofs%zu", i);
        real(slot, w, 0) = t[i].offset;
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
    real(slot, "lastPower", 0) = p;
    integer(slot, "measured", 0) = 1;
    return p;
}

}  // namespace

extern "C" {

ViStatus body_hp816x_set_ATT_attenuation(Call& c, ViSession s, ViInt32 slot, ViInt32 sel, ViReal64 a, ViUInt16 wait) {
    double ofs = att_offset(slot), v = 0;
    if (set_selected(c, sel, a, ofs, ofs + att_range, ofs, v)) {
        internal_att(slot) = v - ofs;
        abs_mode(slot) = 0;  // an attenuation setting leaves power mode
    }
    return c.done();
}

ViStatus body_hp816x_get_ATT_attenuation_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* mn, ViReal64* mx,
                                           ViReal64* def, ViReal64* cur) {
    double ofs = att_offset(slot);
    put4(mn, mx, def, cur, ofs, ofs + att_range, ofs, filter_att(slot) + ofs);
    return c.done();
}

ViStatus body_hp816x_set_ATT_attenuationOffset(Call& c, ViSession s, ViInt32 slot, ViInt32 sel, ViReal64 ofs) {
    set_selected(c, sel, ofs, -offset_limit, offset_limit, 0, att_offset(slot));
    return c.done();
}

ViStatus body_hp816x_get_ATT_attenuationOffset_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* mn, ViReal64* mx,
                                                 ViReal64* def, ViReal64* cur) {
    put4(mn, mx, def, cur, -offset_limit, offset_limit, 0, att_offset(slot));
    return c.done();
}

ViStatus body_hp816x_set_ATT_attenuatorSpeed(Call& c, ViSession s, ViInt32 slot, ViInt32 sel, ViReal64 v) {
    set_selected(c, sel, v, speed_min, speed_max, speed_def, speed(slot));
    return c.done();
}

ViStatus body_hp816x_get_ATT_attenuatorSpeed_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* mn, ViReal64* mx,
                                               ViReal64* def, ViReal64* cur) {
    put4(mn, mx, def, cur, speed_min, speed_max, speed_def, speed(slot));
    return c.done();
}

// Takes the displayed attenuation into the offset: the display reads 0 dB,
// the filter stays where it is.
ViStatus body_hp816x_ATT_displayToOffset(Call& c, ViSession s, ViInt32 slot) {
    att_offset(slot) = -filter_att(slot);
    return c.done();
}

ViStatus body_hp816x_set_ATT_wavelength(Call& c, ViSession s, ViInt32 slot, ViInt32 sel, ViReal64 wl) {
    set_selected(c, sel, wl, wl_min, wl_max, wl_def, wavelength(slot));
    return c.done();
}

ViStatus body_hp816x_get_ATT_wavelength_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* mn, ViReal64* mx,
                                          ViReal64* def, ViReal64* cur) {
    put4(mn, mx, def, cur, wl_min, wl_max, wl_def, wavelength(slot));
    return c.done();
}

ViStatus body_hp816x_set_ATT_powerUnit(Call& c, ViSession s, ViInt32 slot, ViUInt16 u) {
    return set_setting(c, slot, u, 0, 1, unit);
}

ViStatus body_hp816x_get_ATT_powerUnit_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* u) {
    return get_setting(c, slot, u, unit);
}

ViStatus body_hp816x_set_ATT_absPowerMode(Call& c, ViSession s, ViInt32 slot, ViUInt16 mode) {
    return set_setting(c, slot, mode, 0, 1, abs_mode);
}

ViStatus body_hp816x_get_ATT_absPowerMode_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* mode) {
    return get_setting(c, slot, mode, abs_mode);
}

// Power set point in `u` (0 dBm, 1 W); also sets the unit and the mode.
ViStatus body_hp816x_set_ATT_power(Call& c, ViSession s, ViInt32 slot, ViUInt16 u, ViUInt16 mode, ViInt32 sel,
                                   ViReal64 p) {
    double v = 0;
    if (u > 1) c.status(param(3));
    else if (mode > 1) c.status(param(4));
    else if (!selected(sel, u == 1 && p <= 0 ? -1e9 : from_unit(u, p), pset_min, pset_max, pset_def, v))
        c.status(param(5));
    else if (!in_range(v, pset_min, pset_max)) c.status(param(6));
    else {
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
    put4(mn, mx, def, cur, in_unit(slot, pset_min), in_unit(slot, pset_max), in_unit(slot, pset_def),
         in_unit(slot, power_setpoint(slot)));
    return c.done();
}

// Power reference := what the external power meter reads now.
ViStatus body_hp816x_cp_ATT_refFromExtPM(Call& c, ViSession s, ViInt32 slot, ViInt32 pm_slot, ViInt32 channel) {
    if (meter_ok(c, s, pm_slot, channel)) power_reference(slot) = pwm_power_dbm(pm_slot, channel);
    return c.done();
}

ViStatus body_hp816x_set_ATT_powerReference(Call& c, ViSession s, ViInt32 slot, ViInt32 sel, ViReal64 ref) {
    set_selected(c, sel, ref, ref_min, ref_max, ref_def, power_reference(slot));
    return c.done();
}

ViStatus body_hp816x_get_ATT_powerReference_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* mn, ViReal64* mx,
                                              ViReal64* def, ViReal64* cur) {
    put4(mn, mx, def, cur, ref_min, ref_max, ref_def, power_reference(slot));
    return c.done();
}

ViStatus body_hp816x_set_ATT_shutterState(Call& c, ViSession s, ViInt32 slot, ViUInt16 open) {
    return set_setting(c, slot, open, 0, 1, shutter);
}

ViStatus body_hp816x_get_ATT_shutterState_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* open) {
    return get_setting(c, slot, open, shutter);
}

ViStatus body_hp816x_set_ATT_shutterAtPowerOn(Call& c, ViSession s, ViInt32 slot, ViUInt16 open) {
    return set_setting(c, slot, open, 0, 1, shutter_at_power_on);
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
    double dbm = integer(slot, "measured", 0) ? real(slot, "lastPower", 0) : measure(slot);
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
    return set_setting(c, slot, state, 0, 1, wl_offset_state);
}

ViStatus body_hp816x_get_ATT_wavelengthOffsetState_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* state) {
    return get_setting(c, slot, state, wl_offset_state);
}

ViStatus body_hp816x_set_ATT_wavelengthOffset(Call& c, ViSession s, ViInt32 slot, ViReal64 wl, ViUInt16 source,
                                              ViReal64 offset) {
    if (!(wl >= wl_min && wl <= wl_max)) c.status(param(3));
    else if (source > 1) c.status(param(4));
    else if (source == 0 && !(offset >= -offset_limit && offset <= offset_limit)) c.status(param(5));
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
    if (!(wl >= wl_min && wl <= wl_max)) c.status(param(3));
    else if (offset) *offset = table_offset(slot, wl);
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
    if (size) *size = (ViUInt32)integer(slot, "tbl.n", 0);
    if (max_size) *max_size = table_max;
    return c.done();
}

ViStatus body_hp816x_set_ATT_powerOffset(Call& c, ViSession s, ViInt32 slot, ViInt32 sel, ViReal64 ofs) {
    set_selected(c, sel, ofs, -offset_limit, offset_limit, 0, power_offset(slot));
    return c.done();
}

ViStatus body_hp816x_get_ATT_powerOffset_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* mn, ViReal64* mx,
                                           ViReal64* def, ViReal64* cur) {
    put4(mn, mx, def, cur, -offset_limit, offset_limit, 0, power_offset(slot));
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
    return set_setting(c, slot, state, 0, 1, control_loop);
}

ViStatus body_hp816x_get_ATT_controlLoopState_Q(Call& c, ViSession s, ViInt32 slot, ViUInt16* state) {
    return get_setting(c, slot, state, control_loop);
}

ViStatus body_hp816x_set_ATT_avTime(Call& c, ViSession s, ViInt32 slot, ViReal64 t) {
    return set_setting(c, slot, t, 1e-3, 10, av_time);
}

ViStatus body_hp816x_get_ATT_avTime_Q(Call& c, ViSession s, ViInt32 slot, ViReal64* t) {
    return get_setting(c, slot, t, av_time);
}

ViStatus body_hp816x_set_ATT_triggerConfig(Call& c, ViSession s, ViInt32 slot, ViInt32 config) {
    return set_setting(c, slot, config, 0, 3, trigger_config);
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
