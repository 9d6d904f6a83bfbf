// Wrappers of the reading functions that return arrays or texts with a count.
#include "smeter.hpp"

namespace smeter {

using bind::RealVec;

namespace {

// The driver starts from the array size as the count and writes the number of
// points it delivered; the vector keeps that many, never more than the array,
// and none when the driver failed.
std::tuple<RealVec, ViInt32> readings(RealVec& v, ViStatus status, ViInt32 count) {
    v.resize(status < 0 ? 0 : count);
    ViInt32 n = (ViInt32)v.size();
    return std::tuple<RealVec, ViInt32>(std::move(v), n);
}

// A count of readings in a text of `size` bytes cannot exceed the size.
std::tuple<SizedText, ViInt32> text_readings(SizedText& text, ViInt32 count) {
    ViInt32 n = bind::clamp<ViInt32>(count, 0, text.size);
    return std::tuple<SizedText, ViInt32>(std::move(text), n);
}

}  // namespace

std::tuple<RealVec, ViInt32> read_multi_point(ViSession s, ViInt32 function, ViInt32 n) {
    RealVec v(n);
    ViInt32 count = n;
    ViStatus status = bind::call(KE2400_ReadMultiPoint, s, function, n, v.data(), &count);
    return readings(v, status, count);
}

std::tuple<RealVec, ViInt32> fetch_multi_point(ViSession s, ViInt32 function, ViInt32 n) {
    RealVec v(n);
    ViInt32 count = n;
    ViStatus status = bind::call(KE2400_FetchMultiPoint, s, function, n, v.data(), &count);
    return readings(v, status, count);
}

std::tuple<RealVec, ViInt32> fetch_buffer_data(ViSession s, ViInt32 function, ViInt32 start, ViInt32 n) {
    RealVec v(n);
    ViInt32 count = n;
    ViStatus status = bind::call(KE2400_FetchBufferData, s, function, start, n, v.data(), &count);
    return readings(v, status, count);
}

std::tuple<SizedText, ViInt32> read_multi_point_char(ViSession s, ViInt32 function, ViInt32 size) {
    SizedText text(size);
    ViInt32 count = 0;
    bind::call(KE2400_ReadMultiPointChar, s, function, text.size, text.data(), &count);
    return text_readings(text, count);
}

std::tuple<SizedText, ViInt32> fetch_multi_point_char(ViSession s, ViInt32 function, ViInt32 size) {
    SizedText text(size);
    ViInt32 count = 0;
    bind::call(KE2400_FetchMultiPointChar, s, function, text.size, text.data(), &count);
    return text_readings(text, count);
}

}  // namespace smeter
