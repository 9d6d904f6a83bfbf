// _instrbus: resource manager, resource search, sessions and attributes of
// the VISA library.  No status check: the wrappers drop the status, Close and
// SetAttribute hand it back.
#include <cstring>

#include "bind.hpp"
#include "visa.h"

namespace {

using Q = bind::Queries<bind::no_check>;

// The attribute's bytes before the first zero byte: a text attribute as its
// text, a numeric one as its little-endian bytes.  The whole buffer is zeroed
// first, so a short numeric value is not followed by stale bytes.
bind::Bytes get_attribute(ViSession object, ViUInt32 attribute) {
    bind::Bytes value(256);
    value.clear();
    viGetAttribute(object, attribute, value.data());
    return value;
}

// Python passes a 32-bit value; the library's ViAttrState may be wider.
ViStatus set_attribute(ViSession object, ViUInt32 attribute, ViUInt32 value) {
    return viSetAttribute(object, attribute, (ViAttrState)value);
}

}  // namespace

BIND_MODULE(_instrbus, m) {
    m.def("OpenDefaultRM", Q::unchecked<1, viOpenDefaultRM>);
    m.def("FindRsrc", Q::unchecked<3, viFindRsrc>);  // (findList, count, description)
    m.def("Close", viClose);
    m.def("FindNext", Q::unchecked<1, viFindNext>);
    m.def("Open", Q::unchecked<1, viOpen>);
    m.def("GetAttribute", get_attribute);
    m.def("SetAttribute", set_attribute);
}
