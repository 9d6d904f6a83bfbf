// The binding frame: everything a module source needs.
//
//   BIND_MODULE(_photonbay, m) {
//       m.def("timeOut", bind::pass<hp816x_timeOut>);                 // pass-through, the status returned
//       m.def("get_ATT_attenuation_Q", Q::out<4, hp816x_get_ATT_attenuation_Q>);
//       m.def("get_TLS_wavelengthData_Q",                             // the module's own, around
//             bind::wraps<hp816x_get_TLS_wavelengthData_Q>([](ViSession s, ViInt32 n) { ... }));
//   }
//
// The init export registers ViReal64Vec and ViInt32Vec, then runs the body,
// whose m.def calls fix the module's function order.
#ifndef BIND_HPP
#define BIND_HPP

#include "compat.hpp"
#include "convert.hpp"
#include "driver.hpp"
#include "end/hooks.hpp"
#include "function.hpp"
#include "library.hpp"
#include "queries.hpp"
#include "room.hpp"
#include "status.hpp"
#include "vector.hpp"

namespace bind {

using Register = void (*)(Module&);

// Each module's descriptions in registration order, generated at build time
// (tools/gen_docs.py writes <build>/docs/<module>_docs.cpp).
extern const describe::Doc module_docs[];
// The module's __doc__ and __version__ (the project's, from pyproject.toml), generated beside them.
extern const char module_doc[];
extern const char module_version[];

// A module that failed to load: 2.7 has already put it in sys.modules,
// where a second import would find it half made.
inline PyObject* not_loaded(PyObject* m, const char* name) {
    Py_DECREF(m);
#if BIND_PY2
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    if (PyDict_DelItemString(PyImport_GetModuleDict(), const_cast<char*>(name)) < 0) PyErr_Clear();
    PyErr_Restore(type, value, tb);
#else
    (void)name;
#endif
    return nullptr;
}

inline PyObject* init_module(const char* name, Register body) {
#if BIND_PY3
    static PyModuleDef def = {PyModuleDef_HEAD_INIT, name, module_doc, -1, nullptr, nullptr, nullptr, nullptr, nullptr};
    PyObject* m = PyModule_Create(&def);
#else
    PyObject* m = Py_InitModule4(name, nullptr, const_cast<char*>(module_doc), nullptr, PYTHON_API_VERSION);
    Py_XINCREF(m);  // borrowed on 2.7
#endif
    if (!m) return nullptr;
    detail::module_name() = name;
    if (!end::attach(detail::driver_lock())) return not_loaded(m, name);
    library::publish(name);
    try {
        if (!Vector<double>::add_to(m, name) || !Vector<int32_t>::add_to(m, name)) throw error();
        Module module(m, name, module_docs);
        body(module);
        if (PyModule_AddStringConstant(m, "__version__", module_version) != 0 || !detail::add_int_type(m, "Session"))
            throw error();
    } catch (error&) {
        return not_loaded(m, name);
    } catch (std::bad_alloc&) {
        PyErr_NoMemory();
        return not_loaded(m, name);
    }
    return m;
}

}  // namespace bind

#if BIND_PY3
#define BIND_MODULE(name, m)                                                                  \
    static void bind_register_##name(bind::Module&);                                          \
    extern "C" BIND_EXPORT PyObject* PyInit_##name(void) { return bind::init_module(#name, bind_register_##name); } \
    static void bind_register_##name(bind::Module& m)
#else
#define BIND_MODULE(name, m)                                                                  \
    static void bind_register_##name(bind::Module&);                                          \
    extern "C" BIND_EXPORT void init##name(void) {                                            \
        PyObject* mod = bind::init_module(#name, bind_register_##name);                       \
        Py_XDECREF(mod);                                                                      \
    }                                                                                         \
    static void bind_register_##name(bind::Module& m)
#endif

#endif
