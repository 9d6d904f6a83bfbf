// Wrappers of the session, error, raw I/O and attribute functions.
#include "smeter.hpp"

namespace smeter {

std::tuple<ViInt32, SizedText> get_error(ViSession s, ViInt32 size) {
    ViStatus code = 0;
    SizedText text(size);
    bind::call(KE2400_GetError, s, &code, text.size, text.data());
    return std::tuple<ViInt32, SizedText>(code, std::move(text));
}

SizedText next_coercion_record(ViSession s, ViInt32 size) {
    SizedText text(size);
    bind::call(KE2400_GetNextCoercionRecord, s, text.size, text.data());
    return text;
}

SizedText next_interchange_warning(ViSession s, ViInt32 size) {
    SizedText text(size);
    bind::call(KE2400_GetNextInterchangeWarning, s, text.size, text.data());
    return text;
}

SizedText attribute_string(ViSession s, ViConstString channel, ViAttr id, ViInt32 size) {
    SizedText text(size);
    bind::call(KE2400_GetAttributeViString, s, channel, id, text.size, text.data());
    return text;
}

// The driver is told the caller's count; whatever it reads stays inside the
// buffer and a zero byte follows.  The count read is kept to the count asked.
std::tuple<bind::Bytes, ViInt32> read_instr_data(ViSession s, ViInt32 count) {
    bind::Bytes data = bind::Bytes::for_count(count);
    ViInt32 read = 0;
    bind::call(KE2400_ReadInstrData, s, count, data.data(), &read);
    read = bind::clamp<ViInt32>(read, 0, count > 0 ? count : 0);
    data.data()[read] = 0;
    return std::tuple<bind::Bytes, ViInt32>(std::move(data), read);
}

}  // namespace smeter
