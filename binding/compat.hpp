// One source for CPython 2.7 and 3.x: the few places where their C APIs differ.
#ifndef BIND_COMPAT_HPP
#define BIND_COMPAT_HPP

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#if PY_VERSION_HEX < 0x030B0000
#include <frameobject.h>  // the frame's fields (2.7's text buffers, the block stack)
#endif
#if PY_VERSION_HEX >= 0x03000000 && PY_VERSION_HEX < 0x030B0000
#include <longintrepr.h>  // an int's digits (3.11 on: included by Python.h)
#endif

// 2.7's headers for Windows map snprintf to _snprintf, which leaves a
// truncated text unterminated; MinGW and MSVC have the standard one.
#if defined(_WIN32) && defined(snprintf)
#undef snprintf
#undef vsnprintf
#endif

#if PY_MAJOR_VERSION >= 3
#define BIND_PY3 1
#define BIND_PY2 0
#else
#define BIND_PY3 0
#define BIND_PY2 1
#endif

// Vectorcall-style entry points (METH_FASTCALL | METH_KEYWORDS) from 3.7 on.
#if PY_VERSION_HEX >= 0x03070000
#define BIND_FASTCALL 1
#else
#define BIND_FASTCALL 0
#endif

#if defined(_WIN32)
#define BIND_EXPORT __declspec(dllexport)
#else
#define BIND_EXPORT __attribute__((visibility("default")))
#endif

// Out of line and out of the way: code a call runs only when it fails or
// is recorded, kept from the callers' success path.
#if defined(_MSC_VER)
#define BIND_COLD __declspec(noinline)
#else
#define BIND_COLD __attribute__((noinline, cold))
#endif

namespace bind {
namespace py {

// An integer argument: int or long (bool is an int subclass on both).
inline bool is_int(PyObject* o) {
#if BIND_PY2
    return PyInt_Check(o) || PyLong_Check(o);
#else
    return PyLong_Check(o);
#endif
}

// Python 3: a non-int object that implements __index__ (numpy integers), by
// its type slot as operator.index() checks it; never float, str, bytes.
inline bool has_index(PyObject* o) {
#if BIND_PY2
    (void)o;
    return false;
#else
    PyNumberMethods* nb = Py_TYPE(o)->tp_as_number;
    return nb && nb->nb_index;
#endif
}

// Python 3: a non-float object that implements __float__ or __index__
// (numpy floating and integer scalars), as float() takes it; str and bytes
// have neither slot.
inline bool has_float(PyObject* o) {
#if BIND_PY2
    (void)o;
    return false;
#else
    PyNumberMethods* nb = Py_TYPE(o)->tp_as_number;
    return nb && (nb->nb_float || nb->nb_index);
#endif
}

// Whether __index__ / __float__ takes the object: false on a TypeError (a
// mismatch); true otherwise, also on another error, which load() meets again.
inline bool index_matches(PyObject* o) {
    PyObject* i = PyNumber_Index(o);
    if (i) {
        Py_DECREF(i);
        return true;
    }
    bool mismatch = PyErr_ExceptionMatches(PyExc_TypeError);
    PyErr_Clear();
    return !mismatch;
}

inline bool float_matches(PyObject* o) {
    if (!(PyFloat_AsDouble(o) == -1.0 && PyErr_Occurred())) return true;
    bool mismatch = PyErr_ExceptionMatches(PyExc_TypeError);
    PyErr_Clear();
    return !mismatch;
}

// The value of an int of at most one digit (nearly every argument), read in
// place; false for any other object (a larger int; on 2.7 a long).
inline bool compact_int(PyObject* o, long long& v) {
#if BIND_PY2
    if (!PyInt_Check(o)) return false;
    v = PyInt_AS_LONG(o);
    return true;
#elif PY_VERSION_HEX >= 0x030C0000
    if (!PyLong_Check(o) || !PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(o))) return false;
    v = (long long)PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(o));
    return true;
#else
    if (!PyLong_Check(o)) return false;
    const Py_ssize_t size = Py_SIZE(o);
    if (size < -1 || size > 1) return false;
    v = size * (long long)reinterpret_cast<PyLongObject*>(o)->ob_digit[0];
    return true;
#endif
}

inline long small_int(PyObject* o) {
#if BIND_PY2
    return PyInt_AsLong(o);
#else
    return PyLong_AsLong(o);
#endif
}

inline PyObject* from_long(long v) {
#if BIND_PY2
    return PyInt_FromLong(v);
#else
    return PyLong_FromLong(v);
#endif
}

// Text result: a byte string on 2.7, Latin-1 decoded str on 3 (never fails).
inline PyObject* text(const char* p, Py_ssize_t n) {
#if BIND_PY2
    return PyString_FromStringAndSize(p, n);
#else
    return PyUnicode_DecodeLatin1(p, n, nullptr);
#endif
}

// Raw data result: str on 2.7, bytes on 3.
inline PyObject* raw(const char* p, Py_ssize_t n) {
#if BIND_PY2
    return PyString_FromStringAndSize(p, n);
#else
    return PyBytes_FromStringAndSize(p, n);
#endif
}

// The characters of a str (2.7: byte string; 3: UTF-8), or null with an error set.
inline const char* c_str(PyObject* s) {
#if BIND_PY2
    return PyString_AsString(s);
#else
    return PyUnicode_AsUTF8(s);
#endif
}

#if BIND_PY2
// Whether a 2.7 str the driver would write into belongs to the caller alone:
// held by nothing but this call's arguments, or also by one name of the
// calling frame.  Anything else (interned, a code constant, a dict key, a
// str other names or containers hold) is shared, and writing it would change
// it for them all.
inline bool str_is_callers_own(PyObject* o) {
    if (PyString_CHECK_INTERNED(o) || PyString_GET_SIZE(o) < 2) return false;  // '' and 1-char strs are shared
    if (Py_REFCNT(o) == 1) return true;
    if (Py_REFCNT(o) != 2) return false;
    PyFrameObject* f = PyEval_GetFrame();
    if (!f) return false;
    PyCodeObject* code = f->f_code;
    if (code->co_flags & CO_OPTIMIZED) {
        Py_ssize_t n = code->co_nlocals + PyTuple_GET_SIZE(code->co_cellvars) + PyTuple_GET_SIZE(code->co_freevars);
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* v = f->f_localsplus[i];
            if (v == o || (i >= code->co_nlocals && v && PyCell_Check(v) && PyCell_GET(v) == o)) return true;
        }
        return false;
    }
    PyObject *key, *value;
    Py_ssize_t pos = 0;
    while (f->f_locals && PyDict_Check(f->f_locals) && PyDict_Next(f->f_locals, &pos, &key, &value))
        if (value == o) return true;
    return false;
}
#endif

// Python work the frame does of its own around a call (trace records,
// reports): an exception raised meanwhile by something else -- a pending
// call's DriverExit, KeyboardInterrupt, a signal handler's exception -- is
// never discarded.  keep() takes the error of a failed step (the first
// one kept, later ones cleared); deliver() sets it again for the caller.
class Arrival {
    PyObject *type_ = nullptr, *value_ = nullptr, *tb_ = nullptr;

  public:
    Arrival() = default;
    Arrival(const Arrival&) = delete;
    Arrival& operator=(const Arrival&) = delete;
    ~Arrival() {
        Py_XDECREF(type_);
        Py_XDECREF(value_);
        Py_XDECREF(tb_);
    }
    explicit operator bool() const { return type_ != nullptr; }

    void keep() {
        if (!PyErr_Occurred()) return;
        if (type_) PyErr_Clear();
        else PyErr_Fetch(&type_, &value_, &tb_);
    }
    // A step whose own errors are the frame's (a repr): an Exception is
    // cleared, anything else (KeyboardInterrupt, SystemExit) kept.
    void keep_unless_ordinary() {
        if (!PyErr_Occurred()) return;
        if (PyErr_ExceptionMatches(PyExc_Exception)) PyErr_Clear();
        else keep();
    }
    // Sets the kept exception (nothing if none was kept); `earlier`, an
    // exception the call itself raised, becomes its context on Python 3.
    void deliver(PyObject* earlier_type, PyObject* earlier_value, PyObject* earlier_tb) {
        if (!type_) return;
#if BIND_PY3
        if (earlier_type) {
            PyErr_NormalizeException(&type_, &value_, &tb_);
            PyErr_NormalizeException(&earlier_type, &earlier_value, &earlier_tb);
            if (value_ && earlier_value && value_ != earlier_value) {
                if (earlier_tb) PyException_SetTraceback(earlier_value, earlier_tb);
                Py_INCREF(earlier_value);
                PyException_SetContext(value_, earlier_value);
            }
        }
#endif
        Py_XDECREF(earlier_type);
        Py_XDECREF(earlier_value);
        Py_XDECREF(earlier_tb);
        PyErr_Restore(type_, value_, tb_);
        type_ = value_ = tb_ = nullptr;
    }
};

}  // namespace py
}  // namespace bind

#endif