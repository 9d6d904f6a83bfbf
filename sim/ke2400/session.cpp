// Simulated KE2400: opening and closing sessions, the session lock,
// instrument utilities, and raw SCPI input and output.

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "ke2400.hpp"

using namespace ke2400;

namespace {

ViStatus open_with(Call& c, const char* rsrc, ViBoolean idq, ViBoolean rst, const char* options, ViSession* vi) {
    if (c.null(vi, "vi")) return c.done();
    *vi = 0;
    ViStatus status = VI_SUCCESS;
    std::string why;
    ViSession s = open_session(rsrc, options, rst != 0, status, why);
    if (!s) return c.fail(status, why), c.done();
    *vi = s;
    c.adopt(s);
    bool simulate = num(*state(s), KE2400_ATTR_SIMULATE) != 0;
    if (idq && !simulate && !std::strstr(sim::instrument(s)->idn, ",MW-SX2"))
        c.fail(KE2400_ERROR_ID_QUERY_FAILED, "the instrument is not an MW-SX20 series source-measure unit");
    return c.done();
}

std::string upper_trim(std::string s) {
    for (char& ch : s) ch = (char)std::toupper((unsigned char)ch);
    size_t a = s.find_first_not_of(" \t\r\n:"), b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

std::string reading_text(State& st, const std::vector<Reading>& rs) {
    std::string out;
    for (const Reading& r : rs) {
        if (!out.empty()) out += ',';
        out += num_text(r.v) + ',' + num_text(r.i) + ',' + num_text(r.r) + ',' + num_text(r.t) + ',' +
               num_text(r.compliance ? 8 : 0);
    }
    return out;
}

// One SCPI command of a WriteInstrData string; queries leave their answer in st.reply.
void scpi(State& st, const std::string& cmd) {
    std::string head = cmd.substr(0, cmd.find(' '));
    std::string arg = cmd.size() > head.size() ? upper_trim(cmd.substr(head.size() + 1)) : "";
    std::string answer;
    bool query = !head.empty() && head.back() == '?';
    if (head == "*IDN?") answer = "MARROWICK INSTRUMENTS INC.,MW-SX20,5502311,F2.14 2019-06-11/B03  /M/X";
    else if (head == "*OPC?") answer = "1";
    else if (head == "*RST") reset_settings(st);
    else if (head == "*CLS") while (sim::error_count(driver)) sim::pop_error(driver);
    else if (head == "SYST:ERR?" || head == "SYST:ERR:NEXT?") {
        sim::Error e = sim::pop_error(driver);
        answer = std::to_string(e.code) + ",\"" + e.message + "\"";
    } else if (head == "READ?") answer = reading_text(st, st.last = acquire(st));
    else if (head == "MEAS:VOLT?" || head == "MEAS:CURR?") {
        st.last = {measure(st, source_level(st))};
        answer = num_text(head == "MEAS:VOLT?" ? st.last[0].v : st.last[0].i);
    } else if (head == "OUTP" && (arg == "ON" || arg == "1" || arg == "OFF" || arg == "0"))
        st.cfg.num[KE2400_ATTR_OUTPUT_ENABLED] = arg == "ON" || arg == "1";
    else if (head == "OUTP?") answer = std::to_string((int)num(st, KE2400_ATTR_OUTPUT_ENABLED));
    else if (head == "SOUR:FUNC" && (arg == "VOLT" || arg == "CURR"))
        st.cfg.num[KE2400_ATTR_SOURCE_FUNCTION] = arg == "CURR";
    else if ((head == "SOUR:VOLT" || head == "SOUR:CURR") && !arg.empty())
        st.cfg.num[head == "SOUR:VOLT" ? KE2400_ATTR_SOURCE_VOLTAGE_LEVEL : KE2400_ATTR_SOURCE_CURRENT_LEVEL] =
            std::strtod(arg.c_str(), nullptr);
    else if (head == "SOUR:VOLT?" || head == "SOUR:CURR?")
        answer = num_text(num(st, head == "SOUR:VOLT?" ? KE2400_ATTR_SOURCE_VOLTAGE_LEVEL : KE2400_ATTR_SOURCE_CURRENT_LEVEL));
    else {
        sim::push_error(driver, -113, "Undefined header");
        return;
    }
    if (!query) return;
    if (!st.reply.empty()) st.reply += ';';
    st.reply += answer;
}

}  // namespace

extern "C" {

ViStatus body_KE2400_init(Call& c, ViString rsrc, ViBoolean idq, ViBoolean rst, ViSession* vi) {
    return open_with(c, rsrc, idq, rst, nullptr, vi);
}

ViStatus body_KE2400_InitWithOptions(Call& c, ViString rsrc, ViBoolean idq, ViBoolean rst, ViConstString options,
                                     ViSession* vi) {
    return open_with(c, rsrc, idq, rst, options, vi);
}

ViStatus body_KE2400_Reconnect(Call& c, ViString rsrc, ViSession* vi) {
    return open_with(c, rsrc, VI_FALSE, VI_FALSE, nullptr, vi);
}

ViStatus body_KE2400_Disconnect(Call& c, ViSession vi) {
    end_session(vi);
    return c.done();
}

ViStatus body_KE2400_close(Call& c, ViSession vi) {
    end_session(vi);
    return c.done();
}

ViStatus body_KE2400_LockSession(Call& c, ViSession vi, ViBoolean* has_lock) {
    put_out(has_lock, ++c.st().locks > 0);
    return c.done();
}

ViStatus body_KE2400_UnlockSession(Call& c, ViSession vi, ViBoolean* has_lock) {
    State& st = c.st();
    if (st.locks == 0) c.fail(KE2400_ERROR_SESSION_NOT_LOCKED, "UnlockSession without LockSession");
    else --st.locks;
    put_out(has_lock, st.locks > 0);
    return c.done();
}

ViStatus body_KE2400_InvalidateAllAttributes(Call& c, ViSession vi) {
    return c.done();  // nothing is cached: every value is read from the instrument state
}

ViStatus body_KE2400_reset(Call& c, ViSession vi) {
    reset_settings(c.st());
    return c.done();
}

ViStatus body_KE2400_ResetWithDefaults(Call& c, ViSession vi) {
    reset_settings(c.st());
    return c.done();
}

ViStatus body_KE2400_Disable(Call& c, ViSession vi) {
    c.st().cfg.num[KE2400_ATTR_OUTPUT_ENABLED] = 0;
    return c.done();
}

ViStatus body_KE2400_self_test(Call& c, ViSession vi, ViInt16* result, ViChar msg[]) {
    if (c.null(result, "testResult") || c.null(msg, "testMessage")) return c.done();
    *result = 0;
    sim::put_text(msg, 256, "Self test passed");
    return c.done();
}

ViStatus body_KE2400_revision_query(Call& c, ViSession vi, ViChar drv[], ViChar fw[]) {
    if (c.null(drv, "driverRevision") || c.null(fw, "firmwareRevision")) return c.done();
    sim::put_text(drv, 256, str(c.st(), KE2400_ATTR_SPECIFIC_DRIVER_REVISION));
    sim::put_text(fw, 256, str(c.st(), KE2400_ATTR_INSTRUMENT_FIRMWARE_REVISION));
    return c.done();
}

ViStatus body_KE2400_WriteInstrData(Call& c, ViSession vi, ViConstString data) {
    if (c.null(data, "writeBuffer")) return c.done();
    State& st = c.st();
    if (num(st, KE2400_ATTR_INTERCHANGE_CHECK) && st.warned.insert(0).second)
        push_line(st.warnings, "WriteInstrData: direct instrument I/O is not interchangeable");
    std::string all(data, strnlen(data, 4096));
    st.reply.clear();
    size_t from = 0;
    while (from <= all.size()) {
        size_t semi = std::min(all.find(';', from), all.size());
        std::string cmd = upper_trim(all.substr(from, semi - from));
        if (!cmd.empty()) scpi(st, cmd);
        from = semi + 1;
    }
    if (!st.reply.empty()) st.reply += '\n';
    if (num(st, KE2400_ATTR_QUERY_INSTRUMENT_STATUS) && sim::error_count(driver))
        c.fail(KE2400_ERROR_INSTRUMENT_STATUS, "the instrument queued an error");
    return c.done();
}

// Reads at most `count` bytes of the waiting answer; a zero byte follows when fewer were read.
ViStatus body_KE2400_ReadInstrData(Call& c, ViSession vi, ViInt32 count, ViChar buf[], ViInt32* read) {
    if (c.null(buf, "readBuffer") || c.null(read, "bytesRead")) return c.done();
    *read = 0;
    State& st = c.st();
    if (sim::hostile()) {
        sim::put_text(buf, (size_t)std::max<ViInt32>(count, 256), "");
        *read = (ViInt32)sim::report_count(count, count);
        return c.done();
    }
    if (count < 0) return c.fail(KE2400_ERROR_INVALID_VALUE, "byte count " + std::to_string(count)), c.done();
    if (st.reply.empty()) return c.fail(VI_ERROR_TMO, "no answer is waiting; write a query first"), c.done();
    size_t n = std::min((size_t)count, st.reply.size());
    std::memcpy(buf, st.reply.data(), n);
    if (n < (size_t)count) buf[n] = 0;
    st.reply.erase(0, n);
    *read = (ViInt32)n;
    return c.done();
}

}  // extern "C"
