// _instrbus: resource manager, resource search, sessions and attributes of
// the VISA library.  No status check: the wrappers drop the status, Close and
// SetAttribute hand it back.
#include <cstring>

#include "bind.hpp"
#include "visa_calls.hpp"

BIND_DRIVER(viOpenDefaultRM)  // instrbind.driver_library: the file bound for it

namespace {

using Q = bind::Queries<bind::no_check>;

// VISA attribute ids with the top bit set hold texts (and other variable
// data): returned up to the first zero byte.  The others hold numbers of at
// most 32 bits here: returned whole as their 4 little-endian bytes (a narrower
// value zero-extended, the buffer being zeroed first).
bind::Bytes get_attribute(ViSession object, ViUInt32 attribute) {
    bind::Bytes value(256);
    value.clear();
    bind::call(viGetAttribute, object, attribute, value.data());
    if (!(attribute & 0x80000000u)) value.set_length(sizeof(ViUInt32));
    return value;
}

// Python passes a 32-bit value; the library's ViAttrState may be wider.
ViStatus set_attribute(ViSession object, ViUInt32 attribute, ViUInt32 value) {
    return bind::call(viSetAttribute, object, attribute, (ViAttrState)value);
}

}  // namespace

BIND_MODULE(_instrbus, m) {
    m.session_type("ResourceManager");
    m.session_type("FindList");
    m.def("OpenDefaultRM", Q::unchecked<1, viOpenDefaultRM>);
    m.def("FindRsrc", Q::unchecked<3, viFindRsrc>);  // (findList, count, description)
    m.def("Close", bind::pass<viClose>);
    m.def("FindNext", Q::unchecked<1, viFindNext>);
    m.def("Open", Q::unchecked<1, viOpen>);
    m.def("GetAttribute", bind::wraps<viGetAttribute>(get_attribute));
    m.def("SetAttribute", bind::wraps<viSetAttribute>(set_attribute));
}
