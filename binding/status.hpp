// The driver status check shared by the modules that have one: the policy.
//
// status >= 0: ok.  An instrument-error status: read the instrument's error
// and print the "Inst. Error" line; any other negative status: print the
// "Driver Error" line with the driver's text.  Then, except for the
// instrument code the module's policy lets go on, the process ends: one line on
// stderr names the call and the instrument, the failing session is owed a
// close at the process's end (so the script's clean-up can still reach the
// instrument), and the thread raises instrbind.DriverExit.  Who decides the
// code, who is told and when the process ends: end/failure.hpp.
#ifndef BIND_STATUS_HPP
#define BIND_STATUS_HPP

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "compat.hpp"
#include "driver.hpp"
#include "end/failure.hpp"
#include "trace.hpp"
#include "vector.hpp"
#include "visatypes.h"

namespace bind {

struct CheckPolicy {
    ViStatus(_VI_FUNC* error_query)(ViSession, ViInt32*, ViChar*);
    ViStatus(_VI_FUNC* error_message)(ViSession, ViStatus, ViChar*);
    ViStatus(_VI_FUNC* close)(ViSession);
    ViStatus instrument_first, instrument_last;  // instrument-error statuses, inclusive
    ViInt32 goes_on;  // the instrument error code that lets the call go on; 0: none
};

// What a check found: the call goes on (ok, or the exempt instrument
// error); a failure never returns (it throws with DriverExit set).
enum class Checked { ok, goes_on };

// The process exit code for a failing status: the status itself, except
// where the platform would show it as success (POSIX keeps the low 8 bits,
// and a status such as 0xBFFC0800 would read as 0): then 1.
inline int exit_code(ViStatus status) {
#if defined(_WIN32)
    return status;
#else
    return (status & 0xFF) ? status : 1;
#endif
}

namespace detail {

// The module's sessions: the resource each was opened with, for reports.
struct Sessions {
    std::mutex m;
    std::map<ViSession, std::string> resources;
};
inline Sessions& sessions() {
    static Sessions* s = [] {
        Sessions* made = new Sessions;  // never destroyed
        on_fork_child([] { new (&sessions().m) std::mutex(); });
        return made;
    }();
    return *s;
}

// The resource an opener was given, while its check runs.
inline const char*& opening_resource() {
    static thread_local const char* r = nullptr;
    return r;
}

inline void session_opened(ViSession s, const char* resource) {
    Sessions& all = sessions();
    std::lock_guard<std::mutex> g(all.m);
    all.resources[s] = resource ? resource : "";
}

inline bool resource_of(ViSession s, std::string& out) {
    if (opening_resource()) {
        out = opening_resource();
        return true;
    }
    Sessions& all = sessions();
    std::lock_guard<std::mutex> g(all.m);
    auto it = all.resources.find(s);
    if (it == all.resources.end()) return false;
    out = it->second;
    return true;
}

// A failing status's report, from the check to the dispatcher.
struct PendingFailure {
    bool pending = false, known = false, first = false;
    ViSession session = 0;
    ViStatus status = 0;
    const char* kind = "";
    ViInt32 shown = 0;
    std::string resource;
    char message[256];
    char line[300];
};
inline PendingFailure& pending_failure() {
    static thread_local PendingFailure p;
    return p;
}

// One line on stderr: the call, the instrument and the thread.
inline void report(const char* fn, ViSession session, const std::string* resource, const char* kind, ViInt32 value,
                   const char* text) {
    char line[1024];
    std::snprintf(line, sizeof line, "%s.%s(%s%ssession 0x%lx) failed in thread %s: %s %lx, %s%s\n", module_name(), fn,
                  resource ? resource->c_str() : "", resource ? ", " : "", (unsigned long)(uint32_t)session,
                  trace::thread_name().c_str(), kind, (unsigned long)(uint32_t)value, text, trace::bound_to().c_str());
    PyObject* err = PySys_GetObject(const_cast<char*>("stderr"));  // borrowed
    if (err && err != Py_None && PyFile_WriteString(line, err) == 0) {
        PyObject* r = PyObject_CallMethod(err, const_cast<char*>("flush"), nullptr);
        Py_XDECREF(r);
    }
    PyErr_Clear();
}

}  // namespace detail

// A session the script closes itself is no longer owed a close at the end.
inline ViStatus session_closed(ViStatus(_VI_FUNC* close)(ViSession), ViSession s, ViStatus status) {
    {
        detail::Sessions& all = detail::sessions();
        std::lock_guard<std::mutex> g(all.m);
        all.resources.erase(s);
    }
    end::owe_no_close(close, s);
    return status;
}

inline Checked check_status(const CheckPolicy& p, ViSession session, ViStatus status) {
    if (status >= 0) return Checked::ok;
    const bool instrument = status >= p.instrument_first && status <= p.instrument_last;
    const bool may_go_on = instrument && p.goes_on != 0;
    end::Claim claim = end::claim(exit_code(status), may_go_on);  // before anything that takes time
    end::flush_python_streams();
    ViChar message[256];
    message[0] = 0;
    ViInt32 code = 0;
    if (instrument) detail::call_for_check(p.error_query, session, &code, message);
    else detail::call_for_check(p.error_message, session, status, message);
    message[255] = 0;
    const bool goes_on = may_go_on && code == p.goes_on;
    if (claim == end::Claim::first && may_go_on) {
        if (goes_on) end::release();
        else if (!end::confirm()) claim = end::Claim::later;
    }
    if (claim == end::Claim::later) end::after_first_line();
    const char* kind = instrument ? "Inst. Error" : "Driver Error";
    const ViInt32 shown = instrument ? code : status;
    char line[300];
    std::snprintf(line, sizeof line, "%s : %lx, %s", kind, (unsigned long)(uint32_t)shown, message);
    std::printf("        %s\n", line);
    std::fflush(stdout);
    if (goes_on) return Checked::goes_on;

    end::mark_told();  // this thread's clean-up reaches the drivers
    end::owe_close(p.close, &detail::driver_lock(), session);
    // The rest waits for the dispatcher, which knows the call's name: no
    // call pays for keeping its name on the way in.
    detail::PendingFailure& pending = detail::pending_failure();
    pending.resource.clear();
    pending.known = detail::resource_of(session, pending.resource);  // the opener's, while it is open
    pending.session = session;
    pending.status = status;
    pending.kind = kind;
    pending.shown = shown;
    std::memcpy(pending.message, message, sizeof message);
    std::memcpy(pending.line, line, sizeof line);
    pending.first = claim == end::Claim::first;
    pending.pending = true;
    throw error();
}

namespace detail {
// Where the dispatcher catches a failure of the call `fn`: the line on
// stderr naming it, and DriverExit set.  Null.
BIND_COLD inline PyObject* finish_failure(const char* fn) {
    PendingFailure& p = pending_failure();
    p.pending = false;
    report(fn, p.session, p.known ? &p.resource : nullptr, p.kind, p.shown, p.message);
    PyObject* res = p.known ? py::text(p.resource.data(), (Py_ssize_t)p.resource.size()) : (Py_INCREF(Py_None), Py_None);
    PyObject* args = res ? Py_BuildValue("(iissNNs)", end::owed_code(), (int)p.status, module_name(), fn,
                                         PyLong_FromUnsignedLong((unsigned long)p.session), res, p.line)
                         : nullptr;
    if (p.first) {
        Py_XINCREF(args);
        end::first_line_out(args);  // kept for the threads told later
    }
    PyObject* e = args ? PyObject_CallObject(end::record().exit_type, args) : nullptr;
    Py_XDECREF(args);
    if (e) {
        PyErr_SetObject((PyObject*)Py_TYPE(e), e);
        Py_DECREF(e);
    }
    return nullptr;
}
}  // namespace detail

}  // namespace bind

#endif
