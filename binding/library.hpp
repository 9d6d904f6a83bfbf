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

#include <cstdint>
#include <cstring>
#include <string>

#include "compat.hpp"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <climits>
#include <cstdlib>
#endif

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

namespace detail {

#if defined(_WIN32)
inline HMODULE module_at(const void* address) {
    HMODULE m = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(address), &m))
        return nullptr;
    return m;
}

inline bool inside(HMODULE m, const unsigned char* p) {
    auto base = reinterpret_cast<const unsigned char*>(m);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return p >= base && p < base + nt->OptionalHeader.SizeOfImage;
}

// An imported function's address taken in this module is its import thunk
// here (jmp [slot], perhaps behind an incremental-link jmp); the slot holds
// the address the loader bound.
inline const void* bound_address(const void* fn) {
    HMODULE self = module_at(reinterpret_cast<const void*>(&bound_address));
    auto p = static_cast<const unsigned char*>(fn);
    for (int hop = 0; hop < 4 && self && inside(self, p); ++hop) {
        int32_t rel;
        if (p[0] == 0xE9) {
            std::memcpy(&rel, p + 1, 4);
            p = p + 5 + rel;
        } else if (p[0] == 0xFF && p[1] == 0x25) {
            std::memcpy(&rel, p + 2, 4);
#if defined(_WIN64)
            const unsigned char* slot = p + 6 + rel;  // rip-relative
#else
            auto slot = reinterpret_cast<const unsigned char*>(static_cast<uintptr_t>(static_cast<uint32_t>(rel)));
#endif
            const void* target;
            std::memcpy(&target, slot, sizeof target);
            p = static_cast<const unsigned char*>(target);
        } else {
            break;
        }
    }
    return p;
}

inline Bound find() {
    Bound b{std::string(), false};
    HMODULE lib = module_at(bound_address(driver_function()));
    if (!lib || lib == module_at(reinterpret_cast<const void*>(&find))) return b;
    std::wstring wide(32768, L'\0');
    DWORD n = GetModuleFileNameW(lib, &wide[0], (DWORD)wide.size());
    if (n == 0 || n >= wide.size()) return b;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)n, nullptr, 0, nullptr, nullptr);
    b.path.resize(bytes > 0 ? bytes : 0);
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)n, &b.path[0], bytes, nullptr, nullptr);
    b.simulator = GetProcAddress(lib, simulator_mark) != nullptr;
    return b;
}
#else
inline Bound find() {
    Bound b{std::string(), false};
    Dl_info info, self;
    if (!dladdr(driver_function(), &info) || !info.dli_fname || !*info.dli_fname) return b;
    if (dladdr(reinterpret_cast<const void*>(&find), &self) && self.dli_fbase == info.dli_fbase) return b;
    b.path = info.dli_fname;
    if (b.path[0] != '/') {  // found through a relative LD_LIBRARY_PATH entry
        char full[PATH_MAX];
        if (realpath(info.dli_fname, full)) b.path = full;
    }
    if (void* h = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD)) {
        b.simulator = dlsym(h, simulator_mark) != nullptr;
        dlclose(h);
    }
    return b;
}
#endif

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

// The library the module is bound to: found once, it cannot change.
inline const Bound& bound() {
    static const Bound b = detail::find();
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
    if (f) PyDict_SetItemString(table, name, f);
    Py_XDECREF(f);
    Py_XDECREF(table);
    Py_XDECREF(ib);
    PyErr_Clear();
}

}  // namespace library
}  // namespace bind

// In the module's source, once: the driver function the lookup starts from.
#define BIND_DRIVER(fn) \
    const void* bind::library::driver_function() { return reinterpret_cast<const void*>(&fn); }

#endif
