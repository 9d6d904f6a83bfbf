// The driver status check shared by the modules that have one.
//
// status >= 0: return.  An instrument-error status: read the instrument's
// error and print the "Inst. Error" line; any other negative status: print
// the "Driver Error" line with the driver's text.  Then close the session and
// end the process with the status -- except for the exempt instrument code.
#ifndef BIND_STATUS_HPP
#define BIND_STATUS_HPP

#include <cstdio>
#include <cstdlib>

#include "compat.hpp"
#include "visatypes.h"

namespace bind {

struct CheckPolicy {
    ViStatus(_VI_FUNC* error_query)(ViSession, ViInt32*, ViChar*);
    ViStatus(_VI_FUNC* error_message)(ViSession, ViStatus, ViChar*);
    ViStatus(_VI_FUNC* close)(ViSession);
    ViStatus instrument_first, instrument_last;  // instrument-error statuses, inclusive
    bool exempt_261;                             // instrument code -261 lets the call go on
};

namespace detail {
// What the script printed through Python's own streams goes out first.
inline void flush_python_streams() {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    const char* names[] = {"stdout", "stderr"};
    for (const char* name : names) {
        PyObject* stream = PySys_GetObject(const_cast<char*>(name));  // borrowed
        if (stream && stream != Py_None) {
            PyObject* r = PyObject_CallMethod(stream, const_cast<char*>("flush"), nullptr);
            Py_XDECREF(r);
            PyErr_Clear();
        }
    }
    PyErr_Restore(type, value, tb);
}
}  // namespace detail

inline void check_status(const CheckPolicy& p, ViSession session, ViStatus status) {
    if (status >= 0) return;
    detail::flush_python_streams();
    ViChar message[256];
    message[0] = 0;
    if (status >= p.instrument_first && status <= p.instrument_last) {
        ViInt32 code = 0;
        p.error_query(session, &code, message);
        message[255] = 0;
        std::printf("        Inst. Error : %lx, %s\n", (unsigned long)(uint32_t)code, message);
        std::fflush(stdout);
        if (p.exempt_261 && code == -261) return;
    } else {
        p.error_message(session, status, message);
        message[255] = 0;
        std::printf("        Driver Error : %lx, %s\n", (unsigned long)(uint32_t)status, message);
        std::fflush(stdout);
    }
    p.close(session);
    std::exit(status);
}

}  // namespace bind

#endif
