// Which file satisfies the module's driver import.
//
// A module binds its driver through its import table, by the library's
// name; which file the loader took is asked of the address it bound for one
// of the module's driver functions (named once in the module's source with
// BIND_DRIVER(fn)), never looked up by name:
//
//   const bind::library::Bound& b = bind::library::bound();
//   b.path        // "/opt/vendor/lib/libhp816x_32.so"; empty if unknown
//   b.simulator   // the simulated driver (it exports instrsim_simulated_driver)
//
// instrbind.driver_library(name) reads the path through the callable each
// module leaves in instrbind._driver_libraries at its init.
#ifndef BIND_LIBRARY_HPP
#define BIND_LIBRARY_HPP

#include <string>

#include "compat.hpp"

namespace bind {
namespace library {

// One of the module's driver functions, as the module refers to it.
const void* driver_function();

// What every simulated driver library exports, and no vendor's does.
constexpr const char* simulator_mark = "instrsim_simulated_driver";

struct Bound {
    std::string path;  // absolute; UTF-8 on Windows; empty if unknown
    bool simulator;
};

// The file the loader bound driver_function() to (binding/library.cpp,
// compiled into each module: the system headers stay out of the frame's).
Bound find();

namespace detail {

inline PyObject* path_object(const std::string& path) {
#if BIND_PY3 && defined(_WIN32)
    return PyUnicode_DecodeUTF8(path.data(), (Py_ssize_t)path.size(), "replace");
#elif BIND_PY3
    return PyUnicode_DecodeFSDefault(path.c_str());
#elif defined(_WIN32)
    PyObject* u = PyUnicode_DecodeUTF8(path.data(), (Py_ssize_t)path.size(), "replace");
    PyObject* s = u ? PyUnicode_AsEncodedString(u, "mbcs", "strict") : nullptr;
    if (!s) {
        PyErr_Clear();
        return u;
    }
    Py_DECREF(u);
    return s;
#else
    return PyString_FromString(path.c_str());
#endif
}

// (path or None, is the simulator)
inline PyObject* as_python(PyObject*, PyObject*);

}  // namespace detail

// Writes all of `data` to a file: a descriptor, on Windows an OS handle
// (the recording's, record.hpp).
bool write_all(long long file, const char* data, size_t size);

// The library the module is bound to: found once, it cannot change.
inline const Bound& bound() {
    static const Bound b = find();
    return b;
}

inline PyObject* detail::as_python(PyObject*, PyObject*) {
    const Bound& b = bound();
    PyObject* path = Py_None;
    if (b.path.empty()) Py_INCREF(path);
    else if (!(path = path_object(b.path))) return nullptr;
    return Py_BuildValue("(NO)", path, b.simulator ? Py_True : Py_False);
}

// Leaves the module's lookup in instrbind._driver_libraries[name]; nothing
// without instrbind.
inline void publish(const char* name) {
    static PyMethodDef def = {"_driver_library", (PyCFunction)(void (*)())detail::as_python, METH_NOARGS,
                              "(path of the driver library this module is bound to, whether it is the simulator)"};
    PyObject* ib = PyImport_ImportModule("instrbind");
    PyObject* table = ib ? PyObject_GetAttrString(ib, "_driver_libraries") : nullptr;
    PyObject* f = table && PyDict_Check(table) ? PyCFunction_NewEx(&def, nullptr, nullptr) : nullptr;
    if (f && PyDict_SetItemString(table, name, f) == 0) {
        PyObject* r = PyObject_CallMethod(ib, const_cast<char*>("_module_loaded"), const_cast<char*>("s"), name);
        Py_XDECREF(r);  // a recording's line for the module
    }
    Py_XDECREF(f);
    Py_XDECREF(table);
    Py_XDECREF(ib);
    PyErr_Clear();
}

}  // namespace library
}  // namespace bind

// In the module's source, once: the driver function the lookup starts from.
// (The module names each driver function's recording wrapper, <driver>_calls.hpp;
// raw_<fn> is the driver's own.)
#define BIND_DRIVER(fn) \
    const void* bind::library::driver_function() { return bind::recorded::raw_##fn(); }

#endif
