// Three mainframe calls wrapped by hand on the C API, as a careful extension
// writer would: fast-call, range-checked arguments, the interpreter released
// around the driver under a module lock, the status checked.  The yardstick
// for the frame's own cost (benchmarks/frame_cost.py builds and runs it).
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <mutex>

#include "hp816x.h"

namespace {

std::mutex driver;

bool session_arg(PyObject* o, ViSession& out) {
    unsigned long v = PyLong_AsUnsignedLong(o);
    if (v == (unsigned long)-1 && PyErr_Occurred()) return false;
    if (v > 0xFFFFFFFFul) {
        PyErr_SetString(PyExc_OverflowError, "session out of range");
        return false;
    }
    out = (ViSession)v;
    return true;
}

bool int32_arg(PyObject* o, ViInt32& out) {
    long v = PyLong_AsLong(o);
    if (v == -1 && PyErr_Occurred()) return false;
    if (v < -2147483647L - 1 || v > 2147483647L) {
        PyErr_SetString(PyExc_OverflowError, "value out of range");
        return false;
    }
    out = (ViInt32)v;
    return true;
}

PyObject* time_out(PyObject*, PyObject* const* args, Py_ssize_t n) {
    ViSession s;
    ViInt32 ms;
    if (n != 2) return PyErr_Format(PyExc_TypeError, "timeOut() takes 2 arguments (%zd given)", n);
    if (!session_arg(args[0], s) || !int32_arg(args[1], ms)) return nullptr;
    ViStatus status;
    Py_BEGIN_ALLOW_THREADS
    driver.lock();
    status = hp816x_timeOut(s, ms);
    driver.unlock();
    Py_END_ALLOW_THREADS
    return PyLong_FromLong(status);
}

PyObject* time_out_q(PyObject*, PyObject* const* args, Py_ssize_t n) {
    ViSession s;
    if (n != 1) return PyErr_Format(PyExc_TypeError, "timeOut_Q() takes 1 argument (%zd given)", n);
    if (!session_arg(args[0], s)) return nullptr;
    ViInt32 ms = 0;
    ViStatus status;
    Py_BEGIN_ALLOW_THREADS
    driver.lock();
    status = hp816x_timeOut_Q(s, &ms);
    driver.unlock();
    Py_END_ALLOW_THREADS
    if (status < 0) {
        PyErr_SetObject(PyExc_SystemExit, PyLong_FromLong(status));
        return nullptr;
    }
    return PyLong_FromLong(ms);
}

PyObject* attenuation_q(PyObject*, PyObject* const* args, Py_ssize_t n) {
    ViSession s;
    ViInt32 slot;
    if (n != 2) return PyErr_Format(PyExc_TypeError, "get_ATT_attenuation_Q() takes 2 arguments (%zd given)", n);
    if (!session_arg(args[0], s) || !int32_arg(args[1], slot)) return nullptr;
    ViReal64 v[4] = {0, 0, 0, 0};
    ViStatus status;
    Py_BEGIN_ALLOW_THREADS
    driver.lock();
    status = hp816x_get_ATT_attenuation_Q(s, slot, &v[0], &v[1], &v[2], &v[3]);
    driver.unlock();
    Py_END_ALLOW_THREADS
    if (status < 0) {
        PyErr_SetObject(PyExc_SystemExit, PyLong_FromLong(status));
        return nullptr;
    }
    PyObject* t = PyTuple_New(4);
    for (int i = 0; t && i < 4; ++i) {
        PyObject* x = PyFloat_FromDouble(v[i]);
        if (!x) {
            Py_DECREF(t);
            return nullptr;
        }
        PyTuple_SET_ITEM(t, i, x);
    }
    return t;
}

PyMethodDef methods[] = {
    {"timeOut", (PyCFunction)(void (*)())time_out, METH_FASTCALL, nullptr},
    {"timeOut_Q", (PyCFunction)(void (*)())time_out_q, METH_FASTCALL, nullptr},
    {"get_ATT_attenuation_Q", (PyCFunction)(void (*)())attenuation_q, METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {PyModuleDef_HEAD_INIT, "_handwritten", nullptr, -1, methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__handwritten(void) { return PyModule_Create(&module); }
