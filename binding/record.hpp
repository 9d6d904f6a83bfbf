// The recording: every driver call, with its inputs as the driver got them
// and its outputs as the driver left them, one JSON line each (the form is
// drivers/calls.hpp's) in the file instrbind.record() opened.
//
// Each driver function is called through a wrapper of its own signature
// (<driver>_calls.hpp, generated from the driver tables), which the module
// names where it names the function:
//
//   if (!rec::on()) return ::hp816x_PWM_readValue(s, slot, channel, value);   // off: one load
//   ...the call...; rec::made("hp816x_PWM_readValue", t0, status, params, 4);
//
// made() runs in the driver section: it copies what the call left and
// nothing more.  The line is written when the section is left, after the
// driver lock is dropped (a call made outside a section, as an owed close at
// the process's end, writes its own).  A line is one write: a recording cut
// short by a crash or a kill ends with the last call that came back.
//
// The file and the call count are the process's (ProcessEnd): every module
// writes into the one recording, in the order the calls came back; `seq`
// orders them as they were made.
#ifndef BIND_RECORD_HPP
#define BIND_RECORD_HPP

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "calls.hpp"
#include "compat.hpp"
#include "library.hpp"
#include "end/shared.hpp"

namespace bind {

namespace trace {

// The calling thread's name as threading knows it; the main thread and the
// thread that ends an abandoned process by what they are where threading
// has forgotten them (2.7's atexit handlers run after the main thread is
// deleted; the ending thread is not one of threading's).  An exception
// that arrives meanwhile is kept in `arrived`.
inline std::string thread_name(py::Arrival& arrived) {
    const unsigned long self = end::self_ident();
    if (self == end::ender_ident()) return "instrbind-end (abandoning the threads still running)";
    PyObject* threading = PyImport_ImportModule("threading");
    PyObject* t = threading ? PyObject_CallMethod(threading, const_cast<char*>("current_thread"), nullptr) : nullptr;
    PyObject* name = t ? PyObject_GetAttrString(t, "name") : nullptr;
    const char* text = name ? py::c_str(name) : nullptr;
    std::string out = text ? text : "?";
    arrived.keep();
    Py_XDECREF(name);
    Py_XDECREF(t);
    Py_XDECREF(threading);
    if (self == end::record().main_ident.load(std::memory_order_relaxed) && out.compare(0, 6, "Dummy-") == 0)
        out = "MainThread";
    return out;
}
inline std::string thread_name() {
    py::Arrival arrived;
    std::string name = thread_name(arrived);
    arrived.deliver(nullptr, nullptr, nullptr);
    return name;
}

}  // namespace trace

// Each driver function's name and parameter names, one specialisation per
// function of the driver tables (<driver>_calls.hpp), for the registrations
// that call it.
template <auto F> struct driver_facts;

namespace rec {

// The recording's own work stays out of the callers' code: a call's path
// with the recording off is its plain driver call.
#define BIND_RECORDING BIND_COLD

using Start = end::Clock::time_point;

inline bool on() {
    const unsigned w = end::record().switches.load(std::memory_order_relaxed);
#if defined(__GNUC__)
    return __builtin_expect((w & end::record_bit) != 0, 0);
#else
    return (w & end::record_bit) != 0;
#endif
}
inline Start start() { return end::Clock::now(); }

struct Made {
    const char* fn;
    Start t0;
    long long dur_ns;
    unsigned long long seq;
    ViStatus status;
    std::vector<calls::Copy> params;
};

struct ThisThread {
    std::vector<Made> pending;
    std::string name;
    int sections = 0;      // driver sections this thread is in
    long long room = -1;   // the module's room for the next BIND_ROOM array
};
inline ThisThread& this_thread() {
    static thread_local ThisThread t;
    return t;
}

// The items of a BIND_ROOM array: the room the module made for it.
inline long long room() { return this_thread().room; }
// Set by the module before a call whose arrays it sized from what it keeps;
// the call's record takes it.
inline void room_for_next(long long items) {
    if (on()) this_thread().room = items;
}

inline std::string line(const Made& m, const std::string& thread, Start t0) {
    using std::chrono::duration;
    char times[64];  // seconds since the recording began, and the call's own, to the nanosecond
    std::snprintf(times, sizeof times, ",\"t\":%.9f,\"dur\":%.9f", duration<double>(m.t0 - t0).count(),
                  m.dur_ns * 1e-9);
    std::string out = "{\"seq\":" + std::to_string(m.seq) + times + ",\"thread\":";
    calls::text(out, thread.data(), thread.size());
    out += ",\"fn\":\"";
    out += m.fn;
    out += "\",";
    calls::params(out, m.params.data(), m.params.size());
    out += ",\"status\":" + std::to_string((long)m.status) + "}\n";
    return out;
}

// Writes a line (or several) into the recording, if one is open.
inline void write(const std::string& text) {
    end::ProcessEnd& r = end::record();
    std::lock_guard<std::mutex> g(r.record_m);
    if (r.record_file >= 0) library::write_all(r.record_file, text.data(), text.size());
}

// The lines of this thread's calls: out of the driver lock, no Python.
inline void flush() {
    ThisThread& t = this_thread();
    if (t.pending.empty()) return;
    std::string text;
    const Start t0 = end::record().record_t0;
    for (const Made& m : t.pending) text += line(m, t.name, t0);
    t.pending.clear();
    write(text);
}

// In the driver section, after the call: copies what the call left.
BIND_RECORDING inline void made(const char* fn, Start t0, ViStatus status, const calls::Param* p, size_t n) {
    end::ProcessEnd& r = end::record();
    Made m{fn, t0, std::chrono::duration_cast<std::chrono::nanoseconds>(end::Clock::now() - t0).count(),
           r.record_seq.fetch_add(1), status, {}};
    m.params.reserve(n);
    for (size_t i = 0; i < n; ++i) m.params.push_back(calls::capture(p[i]));
    ThisThread& t = this_thread();
    t.pending.push_back(std::move(m));
    if (!t.sections) {
        if (t.name.empty()) t.name.push_back('?');
        flush();
    }
}

// A driver section begins (the interpreter held): the thread's name, for its
// lines.  False if an exception arrived meanwhile (set; the call is not made).
BIND_RECORDING inline bool entering() {
    ThisThread& t = this_thread();
    if (!t.sections) {
        py::Arrival arrived;
        t.name = trace::thread_name(arrived);
        if (arrived) {
            arrived.deliver(nullptr, nullptr, nullptr);
            return false;
        }
    }
    ++t.sections;
    return true;
}
// ...and ends, the driver lock dropped.
BIND_RECORDING inline void leaving() {
    ThisThread& t = this_thread();
    if (t.sections) --t.sections;
    flush();
}

// instrbind.record() opens and closes the file; the modules write into it.
//   _set_record(file)   the descriptor (Windows: OS handle) to write, -1 to stop;
//                        returns once no line is being written into the one before
//   _record_write(b)    writes instrbind's own lines (header, modules) in turn
inline PyObject* set_record(PyObject*, PyObject* arg) {
    const long long file = PyLong_AsLongLong(arg);
    if (file == -1 && PyErr_Occurred()) return nullptr;
    end::ProcessEnd& r = end::record();
    Py_BEGIN_ALLOW_THREADS {
        std::lock_guard<std::mutex> g(r.record_m);
        r.record_file = file;
        if (file >= 0) {
            r.record_t0 = end::Clock::now();
            r.record_seq.store(0);
            r.switches.fetch_or(end::record_bit);
        } else {
            r.switches.fetch_and(~(unsigned)end::record_bit);
        }
    }
    Py_END_ALLOW_THREADS
    Py_RETURN_NONE;
}

inline PyObject* record_write(PyObject*, PyObject* arg) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(arg, &data, &size) < 0) return nullptr;
    std::string text(data, (size_t)size);
    Py_BEGIN_ALLOW_THREADS write(text);
    Py_END_ALLOW_THREADS
    Py_RETURN_NONE;
}

}  // namespace rec
}  // namespace bind

#endif
