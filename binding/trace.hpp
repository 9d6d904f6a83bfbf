// The call trace (instrbind.trace(True), INSTRBIND_TRACE=1): one DEBUG
// record per call to the logger instrbind.<module>, made with the
// interpreter held after the driver section:
//
//   PWM_readValue(4097, 1, 0) -> -18.98 [driver 0.012 ms, thread poller-2]
//
// Large values are summarised (length and first entries), never copied.
#ifndef BIND_TRACE_HPP
#define BIND_TRACE_HPP

#include <cstdio>
#include <string>

#include "compat.hpp"
#include "driver.hpp"

namespace bind {
namespace trace {

inline std::string thread_name() {
    PyObject* threading = PyImport_ImportModule("threading");
    PyObject* t = threading ? PyObject_CallMethod(threading, const_cast<char*>("current_thread"), nullptr) : nullptr;
    PyObject* name = t ? PyObject_GetAttrString(t, "name") : nullptr;
    const char* text = name ? py::c_str(name) : nullptr;
    std::string out = text ? text : "?";
    Py_XDECREF(name);
    Py_XDECREF(t);
    Py_XDECREF(threading);
    PyErr_Clear();
    return out;
}

inline void append_repr(std::string& out, PyObject* o) {
    PyObject* r = PyObject_Repr(o);
    const char* text = r ? py::c_str(r) : nullptr;
    out += text ? text : "?";
    Py_XDECREF(r);
    PyErr_Clear();
}

// repr, with texts cut at 60 characters and sequences other than tuples
// (vectors, buffers) shown by their length and first three entries.
inline void summary(std::string& out, PyObject* o) {
    const Py_ssize_t most = 60;
    if (PyTuple_Check(o)) {
        out += "(";
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(o); ++i) {
            if (i) out += ", ";
            summary(out, PyTuple_GET_ITEM(o, i));
        }
        out += PyTuple_GET_SIZE(o) == 1 ? ",)" : ")";
        return;
    }
    bool text = PyBytes_Check(o) || PyUnicode_Check(o) || PyByteArray_Check(o);
    Py_ssize_t n = (text || !PyNumber_Check(o)) && PySequence_Check(o) ? PySequence_Size(o) : -1;
    PyErr_Clear();
    if (n < 0 || (text && n <= most) || (!text && n <= 3)) {
        append_repr(out, o);
        return;
    }
    if (text) {
        PyObject* head = PySequence_GetSlice(o, 0, most);
        if (head) append_repr(out, head);
        Py_XDECREF(head);
        out += "... (" + std::to_string((long long)n) + ")";
        PyErr_Clear();
        return;
    }
    out += Py_TYPE(o)->tp_name;
    out += "(len=" + std::to_string((long long)n) + ", [";
    for (Py_ssize_t i = 0; i < 3; ++i) {
        PyObject* item = PySequence_GetItem(o, i);
        if (i) out += ", ";
        if (item) append_repr(out, item);
        Py_XDECREF(item);
    }
    out += ", ...])";
    PyErr_Clear();
}

// The record for one call: `result` null means it raised (the error is
// kept as it is).
inline void record(const char* module, const char* function, PyObject* const* args, Py_ssize_t n, PyObject* result,
                   long long driver_ns) {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    std::string name = std::string("instrbind.") + module;
    PyObject* logging = PyImport_ImportModule("logging");
    PyObject* logger = logging ? PyObject_CallMethod(logging, const_cast<char*>("getLogger"), const_cast<char*>("s"), name.c_str()) : nullptr;
    PyObject* on = logger ? PyObject_CallMethod(logger, const_cast<char*>("isEnabledFor"), const_cast<char*>("i"), 10) : nullptr;
    if (on && PyObject_IsTrue(on) == 1) {
        std::string line = std::string(function) + "(";
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (i) line += ", ";
            summary(line, args[i]);
        }
        line += ") -> ";
        if (result) {
            summary(line, result);
        } else {
            PyErr_NormalizeException(&type, &value, &tb);
            line += "raised ";
            if (value) append_repr(line, value);
            else line += type ? ((PyTypeObject*)type)->tp_name : "?";
        }
        char tail[64];
        std::snprintf(tail, sizeof tail, " [driver %.3f ms, thread ", driver_ns / 1e6);
        line += tail;
        line += thread_name() + "]";
        PyObject* r = PyObject_CallMethod(logger, const_cast<char*>("debug"), const_cast<char*>("s#"), line.data(),
                                          (Py_ssize_t)line.size());
        Py_XDECREF(r);
    }
    Py_XDECREF(on);
    Py_XDECREF(logger);
    Py_XDECREF(logging);
    PyErr_Clear();
    PyErr_Restore(type, value, tb);
}

}  // namespace trace
}  // namespace bind

#endif
