// Simulated hp816x session, system and command functions.

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "hp816x.hpp"

using namespace hp816x;

namespace {

const char* driver_revision = "4.7.2";
const char* firmware_revision = "R4.07(1182)";

// Text of a driver status (error_message and the check's Driver Error line).
std::string status_text(ViStatus st) {
    static const std::map<ViStatus, const char*> texts = {
        {VI_SUCCESS, "No error"},
        {VI_ERROR_INV_OBJECT, "The given session or object reference is invalid"},
        {VI_ERROR_RSRC_NFOUND, "Insufficient location information or resource not present in the system"},
        {VI_ERROR_TMO, "Timeout expired before operation completed"},
        {VI_ERROR_PARAMETER1, "Parameter 1 out of range"},
        {VI_ERROR_INSTR_ERROR, "Instrument error detected, call error query"},
    };
    auto it = texts.find(st);
    if (it != texts.end()) return it->second;
    char b[64];
    if (st > VI_ERROR_PARAMETER1 && st < VI_ERROR_PARAMETER1 + 10) {
        std::snprintf(b, sizeof b, "Parameter %d out of range", (int)(st - VI_ERROR_PARAMETER1 + 1));
        return b;
    }
    std::snprintf(b, sizeof b, st < 0 ? "Unknown driver error 0x%08X" : "Unknown warning 0x%08X", (unsigned)st);
    return b;
}

std::string num(double v) {
    char b[40];
    std::snprintf(b, sizeof b, "%.10g", v);
    return b;
}

std::string upper(const char* s) {
    std::string u = s ? s : "";
    for (char& c : u) c = (char)std::toupper((unsigned char)c);
    while (!u.empty() && (u.back() == '\n' || u.back() == ' ')) u.pop_back();
    return u;
}

// Command table: queries the simulated mainframe answers, by upper-case command.
std::string answer(ViSession s, const std::string& q) {
    if (q == "*IDN?") return sim::instrument(s)->idn;
    if (q == "*OPC?") return "1";
    if (q == "*STB?") return std::to_string(sim::integer("MF.stb", 0));
    if (q == "*ESR?") return "0";
    if (q == "SYST:ERR?") {
        sim::Error e = sim::pop_error(driver);
        return std::to_string(e.code) + ",\"" + e.message + "\"";
    }
    if (q == ":SLOT:COUNT?" || q == "SLOT:COUNT?") return std::to_string(slot_count(s));
    if (q == "SENS1:CHAN1:POW?" || q == "READ1:CHAN1:POW?" || q == "FETC1:CHAN1:POW?")
        return num(dbm_to_watt(pwm_power_dbm(1, 1)));
    if (q == "SOUR0:WAV?") return num(laser_wavelength());
    if (q == "SOUR0:POW?") return num(laser_power_dbm());
    if (q == "SYST:DATE?")
        return std::to_string(sim::integer("MF.year", 2026)) + "," + std::to_string(sim::integer("MF.month", 12)) +
               "," + std::to_string(sim::integer("MF.day", 8));
    if (q == "SLOT:EMPT?") {
        std::string empty;
        for (unsigned m : sim::instrument(s)->slots) empty += std::string(empty.empty() ? "" : ",") + (m ? "0" : "1");
        return empty;
    }
    // A value stored by a previous command "X <value>" answers "X?".
    auto stored = sim::find_text(q);
    if (stored) return *stored;
    return "";
}

// "X <value>" stores value for "X?"; the laser's own settings reach the laser.
void command(const std::string& c) {
    size_t sp = c.find(' ');
    if (sp == std::string::npos) return;
    std::string head = c.substr(0, sp), value = c.substr(sp + 1);
    if (head == "SOUR0:WAV") laser_wavelength() = std::strtod(value.c_str(), nullptr);
    else if (head == "SOUR0:POW") laser_power_dbm() = std::strtod(value.c_str(), nullptr);
    else sim::text(head + "?") = value;
}

sim::Var<long long> trigger_cfg("MF.trig.cfg", 0), trigger_a("MF.trig.a", 0), trigger_b("MF.trig.b", 0),
    trigger_matrix("MF.trig.matrix", 0);

bool is_query(const std::string& q) { return !q.empty() && q.find('?') != std::string::npos; }

}  // namespace

extern "C" {

ViStatus body_hp816x_init(Call& c, ViRsrc rsrc, ViBoolean idq, ViBoolean rst, ViSession* vi) {
    c.open(driver, rsrc, vi);
    return c.done();
}

ViStatus body_hp816x_getHandle(Call& c, ViUInt32 handle, ViSession* vi) {
    // A VISA session of a mainframe maps to a driver session on it.
    ViSession s = 0;
    if (sim::valid(handle, driver))
        s = sim::open(driver, sim::instrument(handle)->resource);
    if (!s) c.status(VI_ERROR_INV_OBJECT);
    if (vi) *vi = s;
    return c.done();
}

ViStatus body_hp816x_close(Call& c, ViSession s) {
    if (!sim::close(s, driver)) c.status(VI_ERROR_INV_OBJECT);
    return c.done();
}

ViStatus body_hp816x_reset(Call& c, ViSession s) {
    return c.done();
}

ViStatus body_hp816x_self_test(Call& c, ViSession s, ViInt16* result, ViChar msg[]) {
    *result = 0;
    sim::put_text(msg, 256, "Self test passed");
    return c.done();
}

ViStatus body_hp816x_mainframeSelftest(Call& c, ViSession s, ViInt16* result, ViChar msg[]) {
    *result = 0;
    sim::put_text(msg, 256, "Mainframe self test passed");
    return c.done();
}

ViStatus body_hp816x_error_query(Call& c, ViSession s, ViInt32* code, ViChar msg[]) {
    sim::Error e = sim::pop_error(driver);
    *code = e.code;
    sim::put_text(msg, 256, e.message);
    return c.done();
}

ViStatus body_hp816x_error_message(Call& c, ViSession s, ViStatus code, ViChar msg[]) {
    sim::put_text(msg, 256, status_text(code));
    return c.done();
}

static ViStatus revision(sim::Call& c, ViChar drv[], ViChar fw[]) {
    sim::put_text(drv, 256, driver_revision);
    sim::put_text(fw, 256, firmware_revision);
    return c.done();
}

ViStatus body_hp816x_revision_query(Call& c, ViSession s, ViChar drv[], ViChar fw[]) {
    return revision(c, drv, fw);
}

ViStatus body_hp816x_revision_Q(Call& c, ViSession s, ViChar drv[], ViChar fw[]) {
    return revision(c, drv, fw);
}

// Settings that round-trip through the value store.
#define SETTER(fn, T, key)                          \
    ViStatus body_##fn(Call& c, ViSession s, T v) { \
        static sim::Var<long long> stored(key, 0);  \
        *stored = v;                                \
        return c.done();                            \
    }
#define GETTER(fn, T, key, def)                      \
    ViStatus body_##fn(Call& c, ViSession s, T* v) { \
        static sim::Var<long long> stored(key, def); \
        *v = (T)*stored;                             \
        return c.done();                             \
    }

// The session's timeout (ms), which bounds each of its calls (sim::set_timeout).
ViStatus body_hp816x_timeOut(Call& c, ViSession s, ViInt32 ms) {
    if (ms < 0) c.status(VI_ERROR_PARAMETER1 + 1);
    else sim::set_timeout(s, ms / 1000.0);
    return c.done();
}
ViStatus body_hp816x_timeOut_Q(Call& c, ViSession s, ViInt32* ms) {
    put(ms, std::lround(sim::timeout(s) * 1000));
    return c.done();
}
SETTER(hp816x_errorQueryDetect, ViBoolean, "MF.errorQueryDetect")
GETTER(hp816x_errorQueryDetect_Q, ViBoolean, "MF.errorQueryDetect", 1)
GETTER(hp816x_opc_Q, ViBoolean, "MF.opc", 1)
GETTER(hp816x_readStatusByte_Q, ViInt16, "MF.stb", 0)
GETTER(hp816x_operEvent_Q, ViInt32, "MF.operEvent", 0)
GETTER(hp816x_operCond_Q, ViInt32, "MF.operCond", 0)
GETTER(hp816x_quesEvent_Q, ViInt32, "MF.quesEvent", 0)
GETTER(hp816x_quesCond_Q, ViInt32, "MF.quesCond", 0)
SETTER(hp816x_forceTransaction, ViBoolean, "MF.forceTransaction")
SETTER(hp816x_enableDisableDisplay, ViBoolean, "MF.display")
SETTER(hp816x_generateTrigger, ViBoolean, "MF.lastTrigger")

ViStatus body_hp816x_dcl(Call& c, ViSession s) {
    return c.done();
}

ViStatus body_hp816x_cls(Call& c, ViSession s) {
    sim::integer("MF.stb") = 0;
    sim::integer("MF.operEvent") = 0;
    sim::integer("MF.quesEvent") = 0;
    while (sim::error_count(driver)) sim::pop_error(driver);
    return c.done();
}

ViStatus body_hp816x_preset(Call& c, ViSession s) {
    laser_wavelength() = 1550e-9;
    laser_power_dbm() = 0.0;
    return c.done();
}

ViStatus body_hp816x_WattToDBm(Call& c, ViSession s, ViReal64 w, ViReal64* dbm) {
    if (w <= 0) c.status(VI_ERROR_PARAMETER1 + 1);
    *dbm = watt_to_dbm(w);
    return c.done();
}

ViStatus body_hp816x_dbmToWatt(Call& c, ViSession s, ViReal64 dbm, ViReal64* w) {
    *w = dbm_to_watt(dbm);
    return c.done();
}

ViStatus body_hp816x_setDate(Call& c, ViSession s, ViInt32 y, ViInt32 mo, ViInt32 d) {
    if (mo < 1 || mo > 12 || d < 1 || d > 31) c.status(VI_ERROR_PARAMETER1 + 2);
    else sim::integer("MF.year") = y, sim::integer("MF.month") = mo, sim::integer("MF.day") = d;
    return c.done();
}

ViStatus body_hp816x_getDate(Call& c, ViSession s, ViInt32* y, ViInt32* mo, ViInt32* d) {
    *y = (ViInt32)sim::integer("MF.year", 2026);
    *mo = (ViInt32)sim::integer("MF.month", 12);
    *d = (ViInt32)sim::integer("MF.day", 8);
    return c.done();
}

ViStatus body_hp816x_setTime(Call& c, ViSession s, ViInt32 h, ViInt32 mi, ViInt32 sec) {
    if (h < 0 || h > 23 || mi < 0 || mi > 59 || sec < 0 || sec > 59) c.status(VI_ERROR_PARAMETER1 + 1);
    else sim::integer("MF.hour") = h, sim::integer("MF.minute") = mi, sim::integer("MF.second") = sec;
    return c.done();
}

ViStatus body_hp816x_getTime(Call& c, ViSession s, ViInt32* h, ViInt32* mi, ViInt32* sec) {
    *h = (ViInt32)sim::integer("MF.hour", 9);
    *mi = (ViInt32)sim::integer("MF.minute", 30);
    *sec = (ViInt32)sim::integer("MF.second", 0);
    return c.done();
}

ViStatus body_hp816x_SystemError(Call& c, ViSession s, ViInt32* code, ViChar msg[]) {
    sim::Error e = sim::pop_error(driver);
    *code = e.code;
    sim::put_text(msg, 256, e.message);
    return c.done();
}

ViStatus body_hp816x_cmd(Call& c, ViSession s, ViString cmd) {
    command(upper(cmd));
    return c.done();
}

ViStatus body_hp816x_cmdString_Q(Call& c, ViSession s, ViString q, ViInt32 size, ViChar result[]) {
    if (result && size > 0) sim::put_text(result, (size_t)size, answer(s, upper(q)));
    return c.done();
}

ViStatus body_hp816x_cmdInt(Call& c, ViSession s, ViString cmd, ViInt32 v) {
    command(upper(cmd) + " " + std::to_string(v));
    return c.done();
}

ViStatus body_hp816x_cmdReal(Call& c, ViSession s, ViString cmd, ViReal64 v) {
    command(upper(cmd) + " " + num(v));
    return c.done();
}

}  // extern "C"

template <class T> static ViStatus number_query(sim::Call& c, ViSession s, ViString q, T* out) {
    std::string a = answer(s, upper(q));
    if (!is_query(upper(q)) || a.empty()) c.status(VI_ERROR_TMO);
    *out = (T)std::strtod(a.c_str(), nullptr);
    return c.done();
}

extern "C" {

ViStatus body_hp816x_cmdInt16_Q(Call& c, ViSession s, ViString q, ViInt16* r) {
    return number_query(c, s, q, r);
}
ViStatus body_hp816x_cmdInt32_Q(Call& c, ViSession s, ViString q, ViInt32* r) {
    return number_query(c, s, q, r);
}
ViStatus body_hp816x_cmdReal64_Q(Call& c, ViSession s, ViString q, ViReal64* r) {
    return number_query(c, s, q, r);
}

}  // extern "C"

// Comma-separated answer into at most `size` elements; hostile: `size` elements
// written and a count beyond them.
template <class T> static ViStatus array_query(sim::Call& c, ViSession s, ViString q, ViInt32 size, T* r, ViInt32* count) {
    std::string a = answer(s, upper(q));
    if (!is_query(upper(q)) || a.empty()) c.status(VI_ERROR_TMO);
    ViInt32 n = 0;
    if (sim::hostile()) {
        for (; n < size; ++n) r[n] = (T)(n + 1);
    } else {
        const char* p = a.c_str();
        while (*p && n < size) {
            char* end;
            double v = std::strtod(p, &end);
            if (end == p) break;
            r[n++] = (T)v;
            p = *end == ',' ? end + 1 : end;
        }
    }
    *count = (ViInt32)sim::report_count(n, size);
    return c.done();
}

extern "C" {

ViStatus body_hp816x_cmdInt16Arr_Q(Call& c, ViSession s, ViString q, ViInt32 size, ViInt16 r[], ViInt32* n) {
    return array_query(c, s, q, size, r, n);
}
ViStatus body_hp816x_cmdInt32Arr_Q(Call& c, ViSession s, ViString q, ViInt32 size, ViInt32 r[], ViInt32* n) {
    return array_query(c, s, q, size, r, n);
}
ViStatus body_hp816x_cmdReal64Arr_Q(Call& c, ViSession s, ViString q, ViInt32 size, ViReal64 r[], ViInt32* n) {
    return array_query(c, s, q, size, r, n);
}

ViStatus body_hp816x_listVisa_Q(Call& c, ViInt32 intf, ViBoolean select, ViInt32* n, ViChar list[]) {
    // Interface 0 GPIB, 1 LAN, 2 all; select 1: mainframes of this driver only.
    std::string text;
    ViInt32 count = 0;
    for (const sim::Instrument& in : sim::instruments()) {
        bool gpib = std::strncmp(in.resource, "GPIB", 4) == 0, lan = std::strncmp(in.resource, "TCPIP", 5) == 0;
        if ((intf == 0 && !gpib) || (intf == 1 && !lan) || (intf != 2 && !gpib && !lan)) continue;
        if (select && std::strcmp(in.driver, driver) != 0) continue;
        if (count++) text += ',';
        text += in.resource;
    }
    *n = count;
    sim::put_text(list, 256, text);
    return c.done();
}

ViStatus body_hp816x_getInstrumentId_Q(Call& c, ViString address, ViChar idn[]) {
    const sim::Instrument* found = nullptr;
    for (const sim::Instrument& in : sim::instruments())
        if (address && sim::same_resource(in.resource, address)) found = &in;
    if (!found) c.status(VI_ERROR_RSRC_NFOUND);
    sim::put_text(idn, 256, found ? found->idn : "");
    return c.done();
}

ViStatus body_hp816x_setBaudrate(Call& c, ViChar intf[], ViUInt32 baud) {
    if (baud != 9600 && baud != 19200 && baud != 38400 && baud != 57600 && baud != 115200)
        c.status(VI_ERROR_PARAMETER1 + 1);
    return c.done();
}

ViStatus body_hp816x_driverLogg(Call& c, ViSession s, ViString file, ViBoolean log, ViBoolean replies) {
    return c.done();
}

ViStatus body_hp816x_moduleSelftest(Call& c, ViSession s, ViInt32 slot, ViInt16* r, ViChar msg[]) {
    *r = 0;
    sim::put_text(msg, 256, "Module " + std::to_string(slot) + " self test passed");
    return c.done();
}

ViStatus body_hp816x_lockUnlockInstument(Call& c, ViSession s, ViBoolean lock, ViString password) {
    std::string& pw = sim::text("MF.password", "1234");
    if (!password || pw != password) c.status(VI_ERROR_PARAMETER1 + 2);
    else sim::integer("MF.locked") = lock ? 1 : 0;
    return c.done();
}

ViStatus body_hp816x_getLockState(Call& c, ViSession s, ViBoolean* locked, ViBoolean* soft) {
    *locked = (ViBoolean)sim::integer("MF.locked", 0);
    *soft = 0;
    return c.done();
}

ViStatus body_hp816x_getSlotInformation_Q(Call& c, ViSession s, ViInt32 size, ViInt32 info[]) {
    // Module kind per slot: 0 empty, 1 single power meter, 2 dual, 3 fixed laser,
    // 5 tunable laser, 6 return loss, 7 attenuator, 8 switch.
    const std::vector<unsigned>& modules = sim::instrument(s)->slots;
    for (ViInt32 i = 0; info && i < size && i < (ViInt32)modules.size(); ++i) {
        switch (modules[(size_t)i]) {
        case sim::PowerMeter: info[i] = 1; break;
        case sim::DualPowerMeter: info[i] = 2; break;
        case sim::FixedLaser: info[i] = 3; break;
        case sim::TunableLaser: info[i] = 5; break;
        case sim::ReturnLoss: info[i] = 6; break;
        case sim::Attenuator: info[i] = 7; break;
        case sim::Switch: info[i] = 8; break;
        default: info[i] = 0;
        }
    }
    return c.done();
}

ViStatus body_hp816x_getModuleStatus_Q(Call& c, ViSession s, ViBoolean* summary, ViInt32 status[], ViInt32* maxlen) {
    if (summary) *summary = 0;
    for (int i = 0; status && i < slot_count(s); ++i) status[i] = 0;
    *maxlen = 64;
    return c.done();
}

ViStatus body_hp816x_convertQuestionableStatus_Q(Call& c, ViSession s, ViInt32 q, ViChar msg[]) {
    static const char* bits[] = {"Power out of range", "Temperature out of range", "Laser current limit",
                                 "Wavelength not settled", "Zeroing failed", "Module not calibrated"};
    std::string text;
    for (int b = 0; b < 6; ++b)
        if (q & (1 << b)) text += (text.empty() ? "" : "; ") + std::string(bits[b]);
    sim::put_text(msg, 256, text.empty() ? "No questionable condition" : text);
    return c.done();
}

ViStatus body_hp816x_standardTriggerConfiguration(Call& c, ViSession s, ViInt32 cfg, ViUInt32 a, ViUInt32 b,
                                                  ViUInt32 m) {
    *trigger_cfg = cfg;
    *trigger_a = a;
    *trigger_b = b;
    *trigger_matrix = m;
    return c.done();
}

ViStatus body_hp816x_standardTriggerConfiguration_Q(Call& c, ViSession s, ViInt32* cfg, ViUInt32* a, ViUInt32* b,
                                                    ViUInt32* m) {
    *cfg = (ViInt32)*trigger_cfg;
    *a = (ViUInt32)*trigger_a;
    *b = (ViUInt32)*trigger_b;
    *m = (ViUInt32)*trigger_matrix;
    return c.done();
}

ViStatus body_hp816x_trigOutConfiguration(Call& c, ViBoolean a, ViBoolean b, ViBoolean cc, ViBoolean d, ViBoolean e,
                                          ViBoolean f, ViUInt32* cfg) {
    // One bit per trigger output selection.
    *cfg = (ViUInt32)((a ? 1 : 0) | (b ? 2 : 0) | (cc ? 4 : 0) | (d ? 8 : 0) | (e ? 16 : 0) | (f ? 32 : 0));
    return c.done();
}

}  // extern "C"
