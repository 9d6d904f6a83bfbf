// The call trace (instrbind.trace(True), INSTRBIND_TRACE=1): one DEBUG
// record per call to the logger instrbind.<module>, made with the
// interpreter held after the driver section:
//
//   PWM_readValue(4097, 1, 0) -> -18.98 [driver 0.012 ms, thread poller-2]
//
// The module's first record also names the library it is bound to.
// Large values are summarised (length and first entries), never copied.
#ifndef BIND_TRACE_HPP
#define BIND_TRACE_HPP

#include <cstdio>
#include <string>

#include "compat.hpp"
#include "driver.hpp"
#include "library.hpp"

namespace bind {
namespace trace {

// thread_name(): record.hpp.

// instrbind.trace(on) switches every module's trace through this (the
// record's trace bit).
inline PyObject* set_trace(PyObject*, PyObject* on) {
    int v = PyObject_IsTrue(on);
    if (v < 0) return nullptr;
    if (v) end::record().switches.fetch_or(end::trace_bit);
    else end::record().switches.fetch_and(~(unsigned)end::trace_bit);
    Py_RETURN_NONE;
}

inline void append_repr(std::string& out, PyObject* o, py::Arrival& arrived) {
    PyObject* r = PyObject_Repr(o);
    const char* text = r ? py::c_str(r) : nullptr;
    out += text ? text : "?";
    Py_XDECREF(r);
    arrived.keep_unless_ordinary();
}

// repr, with texts cut at 60 characters and sequences other than tuples
// (vectors, buffers) shown by their length and first three entries.
inline void summary(std::string& out, PyObject* o, py::Arrival& arrived) {
    const Py_ssize_t most = 60;
    if (PyTuple_Check(o)) {
        out += "(";
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(o); ++i) {
            if (i) out += ", ";
            summary(out, PyTuple_GET_ITEM(o, i), arrived);
        }
        out += PyTuple_GET_SIZE(o) == 1 ? ",)" : ")";
        return;
    }
    bool text = PyBytes_Check(o) || PyUnicode_Check(o) || PyByteArray_Check(o);
    Py_ssize_t n = (text || !PyNumber_Check(o)) && PySequence_Check(o) ? PySequence_Size(o) : -1;
    arrived.keep_unless_ordinary();
    if (n < 0 || (text && n <= most) || (!text && n <= 3)) {
        append_repr(out, o, arrived);
        return;
    }
    if (text) {
        PyObject* head = PySequence_GetSlice(o, 0, most);
        if (head) append_repr(out, head, arrived);
        Py_XDECREF(head);
        out += "... (" + std::to_string((long long)n) + ")";
        arrived.keep_unless_ordinary();
        return;
    }
    out += Py_TYPE(o)->tp_name;
    out += "(len=" + std::to_string((long long)n) + ", [";
    for (Py_ssize_t i = 0; i < 3; ++i) {
        PyObject* item = PySequence_GetItem(o, i);
        if (i) out += ", ";
        if (item) append_repr(out, item, arrived);
        Py_XDECREF(item);
    }
    out += ", ...])";
    arrived.keep_unless_ordinary();
}

// Which library the module is bound to, as the first trace record of a
// module and the failure line say it: " [bound to /x/libhp816x_32.so]",
// with ", the simulator" for the simulated driver.
inline std::string bound_to() {
    const library::Bound& b = library::bound();
    return " [bound to " + (b.path.empty() ? std::string("an unknown file") : b.path) +
           (b.simulator ? ", the simulator]" : "]");
}

// What one record is made of, and what arrived while it was made.
struct Record {
    const char* module;
    const char* function;
    PyObject* const* args;
    Py_ssize_t n;
    PyObject* result;
    long long driver_ns;
    PyObject *type, *value, *tb;  // the call's own error, if it raised
    py::Arrival arrived;
};

inline void make(Record& c) {
    py::Arrival& arrived = c.arrived;
    std::string name = std::string("instrbind.") + c.module;
    PyObject* logging = PyImport_ImportModule("logging");
    PyObject* logger = logging ? PyObject_CallMethod(logging, const_cast<char*>("getLogger"), const_cast<char*>("s"), name.c_str()) : nullptr;
    PyObject* on = logger ? PyObject_CallMethod(logger, const_cast<char*>("isEnabledFor"), const_cast<char*>("i"), 10) : nullptr;
    arrived.keep();
    if (on && !arrived && PyObject_IsTrue(on) == 1) {
        std::string line = std::string(c.function) + "(";
        for (Py_ssize_t i = 0; i < c.n; ++i) {
            if (i) line += ", ";
            summary(line, c.args[i], arrived);
        }
        line += ") -> ";
        if (c.result) {
            summary(line, c.result, arrived);
        } else {
            PyErr_NormalizeException(&c.type, &c.value, &c.tb);
            line += "raised ";
            if (c.value) append_repr(line, c.value, arrived);
            else line += c.type ? ((PyTypeObject*)c.type)->tp_name : "?";
        }
        char tail[64];
        std::snprintf(tail, sizeof tail, " [driver %.3f ms, thread ", c.driver_ns / 1e6);
        line += tail;
        line += thread_name(arrived) + "]";
        static bool first = true;  // of this module
        if (first) line += bound_to();
        if (!arrived) {
            first = false;
            PyObject* r = PyObject_CallMethod(logger, const_cast<char*>("debug"), const_cast<char*>("s#"), line.data(),
                                              (Py_ssize_t)line.size());
            Py_XDECREF(r);
            arrived.keep();
        }
    }
    Py_XDECREF(on);
    Py_XDECREF(logger);
    Py_XDECREF(logging);
}

#if BIND_PY2
// 2.7's logging takes locks written in Python, and a signal handler's
// exception at the wrong step would leave one held for ever.  The main
// thread makes its record as a pending call: while one runs, no other does
// (Python's signal handlers are pending calls).  Those that come meanwhile
// run after it, before the record returns.
inline Record*& making() {
    static Record* r = nullptr;
    return r;
}
inline int make_pending(void* token) {
    Record* c = making();
    if (!c || (void*)c != token) return 0;  // a stale entry: that record was made otherwise
    making() = nullptr;
    make(*c);
    return 0;
}
inline void make_in_main(Record& c) {
    if (end::self_ident() != end::record().main_ident.load(std::memory_order_relaxed) || making() ||
        Py_AddPendingCall(make_pending, &c) != 0) {
        make(c);
        return;
    }
    making() = &c;
    if (Py_MakePendingCalls() < 0) c.arrived.keep();
    if (making() == &c) {  // inside a pending call already, or one ahead raised
        making() = nullptr;
        if (!c.arrived) make(c);
    }
}
#endif

// The record for one call, made after it returned `result` (null: it
// raised, and the error is kept as it is).  Returns what the call returns:
// `result`, or null where an exception arrived while the record was made
// (the result dropped; the call's own error its context).
inline PyObject* record(const char* module, const char* function, PyObject* const* args, Py_ssize_t n,
                        PyObject* result, long long driver_ns) {
    Record c{module, function, args, n, result, driver_ns, nullptr, nullptr, nullptr, {}};
    PyErr_Fetch(&c.type, &c.value, &c.tb);
#if BIND_PY2
    make_in_main(c);
#else
    make(c);
#endif
    if (c.arrived) {
        Py_XDECREF(result);
        c.arrived.deliver(c.type, c.value, c.tb);
        return nullptr;
    }
    PyErr_Restore(c.type, c.value, c.tb);
    return result;
}

}  // namespace trace
}  // namespace bind

#endif
