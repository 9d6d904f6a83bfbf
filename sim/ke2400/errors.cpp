// Simulated KE2400: status texts, the driver's error queue (GetError and
// GetErrorInfo), the instrument's error queue (error_query), coercion records
// and interchange warnings.
#include <cstdio>
#include <cstring>

#include "ke2400.hpp"

using namespace ke2400;

namespace ke2400 {

std::string status_text(ViStatus st) {
    struct Text { ViStatus code; const char* text; };
    static const Text texts[] = {
        {VI_SUCCESS, "No error"},
        // IVI
        {KE2400_ERROR_CANNOT_RECOVER, "Unrecoverable failure"},
        {KE2400_ERROR_INSTRUMENT_STATUS, "Instrument error detected; call error_query"},
        {KE2400_ERROR_INVALID_ATTRIBUTE, "Attribute ID not recognized"},
        {KE2400_ERROR_ATTR_NOT_WRITABLE, "Attribute is not writable"},
        {KE2400_ERROR_ATTR_NOT_READABLE, "Attribute is not readable"},
        {KE2400_ERROR_INVALID_PARAMETER, "Invalid parameter"},
        {KE2400_ERROR_INVALID_VALUE, "Invalid value for parameter or property"},
        {KE2400_ERROR_FUNCTION_NOT_SUPPORTED, "Function or method not supported"},
        {KE2400_ERROR_ATTRIBUTE_NOT_SUPPORTED, "Attribute or property not supported"},
        {KE2400_ERROR_VALUE_NOT_SUPPORTED, "The enumeration value for the parameter is not supported"},
        {KE2400_ERROR_TYPES_DO_NOT_MATCH, "The attribute and the function have different data types"},
        {KE2400_ERROR_NOT_INITIALIZED, "The session is not initialized"},
        {KE2400_ERROR_UNKNOWN_CHANNEL_NAME, "Unknown channel name"},
        {KE2400_ERROR_MISSING_OPTION_NAME, "The option string is missing an option name"},
        {KE2400_ERROR_MISSING_OPTION_VALUE, "The option string is missing an option value"},
        {KE2400_ERROR_BAD_OPTION_NAME, "The option string contains an unknown option name"},
        {KE2400_ERROR_BAD_OPTION_VALUE, "The option string contains an invalid option value"},
        {KE2400_ERROR_OUT_OF_MEMORY, "Out of memory"},
        {KE2400_ERROR_NULL_POINTER, "Null pointer passed for parameter or property"},
        {KE2400_ERROR_UNEXPECTED_RESPONSE, "Unexpected response from the instrument"},
        {KE2400_ERROR_ID_QUERY_FAILED, "Instrument ID query failed"},
        {KE2400_ERROR_RESET_FAILED, "Instrument reset failed"},
        {KE2400_ERROR_NO_DATA, "No readings are available; initiate a measurement first"},
        {KE2400_ERROR_TRIGGER_NOT_SOFTWARE, "The trigger source is not software trigger"},
        {KE2400_ERROR_SETUP_NOT_SAVED, "No setup is saved at that location"},
        {KE2400_ERROR_SESSION_NOT_LOCKED, "The session is not locked"},
        {KE2400_WARN_NSUP_ID_QUERY, "Identification query not supported"},
        {KE2400_WARN_NSUP_RESET, "Reset not supported"},
        {KE2400_WARN_NSUP_SELF_TEST, "Self-test not supported"},
        {KE2400_WARN_NSUP_ERROR_QUERY, "Error query not supported"},
        {KE2400_WARN_NSUP_REV_QUERY, "Revision query not supported"},
        // VISA and VXIplug&play
        {(ViStatus)0xBFFF0000, "Unknown system error (miscellaneous error)"},
        {VI_ERROR_INV_OBJECT, "The given session or object reference is invalid"},
        {(ViStatus)0xBFFF000F, "Specified type of lock cannot be obtained, or specified operation cannot be performed, because the resource is locked"},
        {VI_ERROR_INV_EXPR, "Invalid expression specified for search"},
        {VI_ERROR_RSRC_NFOUND, "Insufficient location information or resource not present in the system"},
        {(ViStatus)0xBFFF0012, "Invalid resource reference specified. Parsing error"},
        {(ViStatus)0xBFFF0013, "Invalid access mode"},
        {VI_ERROR_TMO, "Timeout expired before operation completed"},
        {(ViStatus)0xBFFF0016, "The VISA driver failed to properly close the session or object reference"},
        {VI_ERROR_NSUP_ATTR, "The specified attribute is not defined or supported by the referenced resource"},
        {VI_ERROR_NSUP_ATTR_STATE, "The specified state of the attribute is not valid or is not supported"},
        {(ViStatus)0xBFFF001F, "The specified attribute is read-only"},
        {(ViStatus)0xBFFF003C, "Insufficient system resources to perform necessary memory allocation"},
        {(ViStatus)0xBFFF003E, "Could not perform operation because of I/O error"},
        {(ViStatus)0xBFFF005F, "No listeners condition is detected (both NRFD and NDAC are deasserted)"},
        {(ViStatus)0xBFFF0067, "The given session or object reference does not support this operation"},
        {(ViStatus)0xBFFF0072, "The resource is valid, but VISA cannot currently access it"},
        {(ViStatus)0xBFFF0078, "The value of some parameter is invalid"},
        {(ViStatus)0xBFFF00A6, "The connection for the given session has been lost"},
        {VI_ERROR_PARAMETER1, "Parameter 1 out of range"},
        {(ViStatus)0xBFFC0002, "Parameter 2 out of range"},
        {(ViStatus)0xBFFC0003, "Parameter 3 out of range"},
        {(ViStatus)0xBFFC0004, "Parameter 4 out of range"},
        {(ViStatus)0xBFFC0005, "Parameter 5 out of range"},
        {(ViStatus)0xBFFC0011, "Instrument failed the ID query"},
        {(ViStatus)0xBFFC0012, "Invalid response from instrument"},
        {(ViStatus)0x3FFF0005, "The specified termination character was read"},
        {(ViStatus)0x3FFF0006, "The number of bytes transferred is equal to the requested input count"},
        {(ViStatus)0x3FFC0101, "Instrument does not support the ID query"},
        {(ViStatus)0x3FFC0102, "Instrument does not support reset"},
        {(ViStatus)0x3FFC0103, "Instrument does not support self-test"},
        {(ViStatus)0x3FFC0104, "Instrument does not support error query"},
        {(ViStatus)0x3FFC0105, "Instrument does not support revision query"},
    };
    for (const Text& t : texts)
        if (t.code == st) return t.text;
    char b[64];
    std::snprintf(b, sizeof b, st < 0 ? "Unknown error 0x%08X" : "Unknown warning 0x%08X", (unsigned)st);
    return b;
}

std::string num_text(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%+.6E", v);
    return b;
}

ViStatus put_sized(Call& c, char* buf, ViInt32 size, const std::string& text) {
    if (size < 0) return c.fail(KE2400_ERROR_INVALID_VALUE, "buffer size " + std::to_string(size) + " is negative"),
                         KE2400_ERROR_INVALID_VALUE;
    ViStatus needed = (ViStatus)text.size() + 1;
    if (size == 0) return c.status(needed), needed;  // asks for the size only
    if (c.null(buf, "the text buffer")) return KE2400_ERROR_NULL_POINTER;
    sim::put_text(buf, (size_t)size, text);
    if (needed > size) c.status(needed);
    return needed > size ? needed : VI_SUCCESS;
}

void push_line(std::deque<std::string>& q, const std::string& text) {
    if (q.size() < 100) q.push_back(text);
}

}  // namespace ke2400

namespace {

std::string describe(const DriverError& e) {
    if (e.code == VI_SUCCESS) return "No error";
    return status_text(e.code) + (e.elaboration.empty() ? "" : ": " + e.elaboration);
}

// The next line of a queue into a caller-sized buffer; taken off the queue
// once it has been handed over.
ViStatus next_line(Call& c, std::deque<std::string>& q, ViInt32 size, char* buf) {
    ViStatus r = put_sized(c, buf, size, q.empty() ? "" : q.front());
    if (r >= 0 && size > 0 && !q.empty()) q.pop_front();
    return c.done();
}

}  // namespace

extern "C" {

// The error functions also serve calls whose session was invalid (session 0).
ViStatus body_KE2400_GetError(Call& c, ViSession vi, ViStatus* code, ViInt32 size, ViChar desc[]) {
    State& st = errors_of(vi);
    DriverError e = st.errors.empty() ? DriverError{VI_SUCCESS, 0, ""} : st.errors.front();
    put_out(code, e.code);
    ViStatus r = put_sized(c, desc, size, describe(e));
    if (r >= 0 && size > 0 && !st.errors.empty()) st.errors.pop_front();
    return c.done();
}

ViStatus body_KE2400_ClearError(Call& c, ViSession vi) {
    errors_of(vi).errors.clear();
    return c.done();
}

ViStatus body_KE2400_GetErrorInfo(Call& c, ViSession vi, ViStatus* primary, ViStatus* secondary, ViChar elab[]) {
    State& st = errors_of(vi);
    DriverError e = st.errors.empty() ? DriverError{VI_SUCCESS, 0, ""} : st.errors.front();
    if (!st.errors.empty()) st.errors.pop_front();
    put_out(primary, e.code);
    put_out(secondary, e.secondary);
    sim::put_text(elab, 256, e.elaboration);
    return c.done();
}

ViStatus body_KE2400_ClearErrorInfo(Call& c, ViSession vi) {
    errors_of(vi).errors.clear();
    return c.done();
}

ViStatus body_KE2400_error_query(Call& c, ViSession vi, ViInt32* code, ViChar msg[]) {
    if (c.null(code, "errorCode") || c.null(msg, "errorMessage")) return c.done();
    sim::Error e = sim::pop_error(driver);
    *code = e.code;
    sim::put_text(msg, 256, e.message);
    return c.done();
}

ViStatus body_KE2400_error_message(Call& c, ViSession vi, ViStatus status, ViChar msg[]) {
    if (c.null(msg, "errorMessage")) return c.done();
    sim::put_text(msg, 256, status_text(status));
    return c.done();
}

ViStatus body_KE2400_GetNextCoercionRecord(Call& c, ViSession vi, ViInt32 size, ViChar record[]) {
    return next_line(c, c.st().coercions, size, record);
}

ViStatus body_KE2400_GetNextInterchangeWarning(Call& c, ViSession vi, ViInt32 size, ViChar warning[]) {
    return next_line(c, c.st().warnings, size, warning);
}

ViStatus body_KE2400_ClearInterchangeWarnings(Call& c, ViSession vi) {
    c.st().warnings.clear();
    return c.done();
}

ViStatus body_KE2400_ResetInterchangeCheck(Call& c, ViSession vi) {
    c.st().warned.clear();  // warn again about settings already reported
    return c.done();
}

}  // extern "C"
