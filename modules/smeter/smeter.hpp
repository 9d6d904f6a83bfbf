// _smeter: the source-measure unit module over the KE2400 driver.
//
// No status check: wrappers drop the driver's status (a script asks GetError
// or error_query), pass-through functions return it.
#ifndef SMETER_HPP
#define SMETER_HPP

#include "bind.hpp"  // first: Python.h before the standard headers
#include "KE2400_calls.hpp"

#include <tuple>

namespace smeter {

using Q = bind::Queries<bind::no_check>;

using bind::SizedText;

// Session, error, raw I/O and attribute wrappers (session.cpp)
std::tuple<ViInt32, SizedText> get_error(ViSession s, ViInt32 size);
SizedText next_coercion_record(ViSession s, ViInt32 size);
SizedText next_interchange_warning(ViSession s, ViInt32 size);
SizedText attribute_string(ViSession s, ViConstString channel, ViAttr id, ViInt32 size);
std::tuple<bind::Bytes, ViInt32> read_instr_data(ViSession s, ViInt32 count);

// Reading wrappers (measurement.cpp)
std::tuple<bind::RealVec, ViInt32> read_multi_point(ViSession s, ViInt32 function, ViInt32 n);
std::tuple<bind::RealVec, ViInt32> fetch_multi_point(ViSession s, ViInt32 function, ViInt32 n);
std::tuple<bind::RealVec, ViInt32> fetch_buffer_data(ViSession s, ViInt32 function, ViInt32 start, ViInt32 n);
std::tuple<SizedText, ViInt32> read_multi_point_char(ViSession s, ViInt32 function, ViInt32 size);
std::tuple<SizedText, ViInt32> fetch_multi_point_char(ViSession s, ViInt32 function, ViInt32 size);

}  // namespace smeter

#endif
