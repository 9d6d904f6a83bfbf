// _smeter: the source-measure unit module over the KE2400 driver.
//
// No status check: wrappers drop the driver's status (a script asks GetError
// or error_query), pass-through functions return it.
#ifndef SMETER_HPP
#define SMETER_HPP

#include "bind.hpp"  // first: Python.h before the standard headers
#include "ke2400.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <tuple>

namespace smeter {

using Q = bind::Queries<bind::no_check>;

// A text buffer of the caller's size: exactly `size` bytes, zeroed; a size of
// zero or below gets one byte, and the driver is told 0 -- IVI drivers read a
// negative size as "the buffer is large enough for any text".  The result is
// the str before the first zero byte, never more than the buffer.
class SizedText {
public:
    explicit SizedText(ViInt32 size)
        : size(size > 0 ? size : 0), cap_(size > 0 ? (size_t)size : 1), p_(static_cast<char*>(std::calloc(cap_, 1))) {
        if (!p_) throw std::bad_alloc();
    }
    char* data() { return p_.get(); }
    PyObject* to_python() const { return bind::py::text(p_.get(), (Py_ssize_t)strnlen(p_.get(), cap_)); }
    ViInt32 size;  // what the driver is told

private:
    struct Free {
        void operator()(char* p) const { std::free(p); }
    };
    size_t cap_;
    std::unique_ptr<char, Free> p_;
};

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

namespace bind {
template <> struct result<smeter::SizedText> {
    static PyObject* cast(const smeter::SizedText& t) { return t.to_python(); }
};
namespace describe {
template <> struct ret<smeter::SizedText> {
    static std::string name() { return "str"; }
};
}  // namespace describe
}  // namespace bind

#endif
