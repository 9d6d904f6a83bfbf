// Registration of Python functions: one typed entry point per C++ signature,
// positional arguments only, overload sets (a name defined twice), and the
// argument-mismatch TypeError naming the function, the types given and the
// signatures expected.
#ifndef BIND_FUNCTION_HPP
#define BIND_FUNCTION_HPP

#include <map>
#include <new>
#include <string>
#include <vector>

#include "convert.hpp"
#include "describe.hpp"

namespace bind {

// Function pointer traits, for plain and (32-bit Windows) stdcall functions.
// `plain` is the same signature without the calling convention: templates
// specialise on it and still call through the original pointer.
template <class F> struct fn_traits;
template <class R, class... A> struct fn_traits<R (*)(A...)> {
    using ret = R;
    using args = std::tuple<A...>;
    using plain = R (*)(A...);
};
#if defined(_WIN32) && !defined(_WIN64)
template <class R, class... A> struct fn_traits<R(__stdcall*)(A...)> {
    using ret = R;
    using args = std::tuple<A...>;
    using plain = R (*)(A...);
};
#endif
template <class F> using plain_fn = typename fn_traits<F>::plain;

using erased_fn = void (*)();

// How a call of one overload went: a kind mismatch (try the next overload),
// or matched, and if it failed then, in which argument's conversion (1-based;
// 0: in the call itself).
struct Outcome {
    bool matched = false;
    int argument = 0;
};

struct Overload {
    // Returns the result, or null with an error set.
    PyObject* (*invoke)(erased_fn fn, PyObject* const* args, Py_ssize_t n, Outcome& out);
    erased_fn fn;
    std::string signature;  // C types, for the mismatch message
    std::string stub;       // Python types, for type stubs
};

struct Function {
    std::string name, module;
    std::vector<Overload> overloads;  // newest last; tried newest first
    PyMethodDef def;
};

namespace detail {

template <class R> PyObject* to_python(R&& r) { return result<typename std::decay<R>::type>::cast(r); }

template <class F, class R, class... A, size_t... I>
PyObject* invoke(erased_fn fn, PyObject* const* args, Outcome& out, std::index_sequence<I...>) {
    std::tuple<arg<A>...> c;
    (void)args;
    if (!(true && ... && std::get<I>(c).match(args[I]))) return nullptr;
    out.matched = true;
    if (!(true && ... && (std::get<I>(c).load(args[I]) || (out.argument = (int)I + 1, false)))) return nullptr;
    try {
        F f = reinterpret_cast<F>(fn);
        if constexpr (std::is_void<R>::value) {
            f(std::get<I>(c).get()...);
            Py_RETURN_NONE;
        } else {
            return to_python(f(std::get<I>(c).get()...));
        }
    } catch (error&) {
        return nullptr;
    } catch (std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

template <class F, class Args> struct caller;
template <class F, class... A> struct caller<F, std::tuple<A...>> {
    static PyObject* call(erased_fn fn, PyObject* const* args, Py_ssize_t n, Outcome& out) {
        if (n != (Py_ssize_t)sizeof...(A)) return nullptr;
        return invoke<F, typename fn_traits<F>::ret, A...>(fn, args, out, std::index_sequence_for<A...>{});
    }
    static std::string stub() { return describe::signature<typename fn_traits<F>::ret, A...>(); }
    static std::string signature(const std::string& name) {
        const char* names[] = {"", arg<A>::name...};
        std::string s = name + "(";
        for (size_t i = 1; i <= sizeof...(A); ++i) s += (i > 1 ? ", " : "") + std::string(names[i]);
        return s + (sizeof...(A) ? ")" : "void)");
    }
};

inline PyObject* mismatch(Function* f, PyObject* const* args, Py_ssize_t n) {
    std::string given;
    for (Py_ssize_t i = 0; i < n; ++i) given += (i ? ", " : "") + std::string(Py_TYPE(args[i])->tp_name);
    std::string expected;
    for (auto it = f->overloads.rbegin(); it != f->overloads.rend(); ++it) expected += "\n    " + it->signature;
    PyErr_Format(PyExc_TypeError, "Python argument types in\n    %s.%s(%s)\ndid not match C++ signature:%s",
                 f->module.c_str(), f->name.c_str(), given.c_str(), expected.c_str());
    return nullptr;
}

// A range or size refused (OverflowError, ValueError) keeps its text and
// gains the function and, when it came from converting one, the argument:
// "timeOut() argument 2: bad numeric conversion: negative overflow".
inline void add_context(const Function* f, int argument) {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    if (type != PyExc_OverflowError && type != PyExc_ValueError) {
        PyErr_Restore(type, value, tb);
        return;
    }
    PyErr_NormalizeException(&type, &value, &tb);
    PyObject* text = value ? PyObject_Str(value) : nullptr;
    const char* message = text ? py::c_str(text) : nullptr;
    if (!message) {
        PyErr_Clear();
        message = "";
    }
    if (argument > 0) PyErr_Format(type, "%s() argument %d: %s", f->name.c_str(), argument, message);
    else PyErr_Format(type, "%s(): %s", f->name.c_str(), message);
    Py_XDECREF(text);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(tb);
}

// Keywords are never accepted: say so, naming them.
inline PyObject* keywords_refused(const Function* f, PyObject* names) {
    PyObject* list = PySequence_List(names);  // kwnames tuple, or the dict's keys
    PyObject* shown = list ? PyObject_Repr(list) : nullptr;
    const char* text = shown ? py::c_str(shown) : nullptr;
    if (text)
        PyErr_Format(PyExc_TypeError, "%s() takes positional arguments only; keyword arguments given: %s",
                     f->name.c_str(), text);
    Py_XDECREF(shown);
    Py_XDECREF(list);
    return nullptr;
}

inline PyObject* dispatch(Function* f, PyObject* const* args, Py_ssize_t n) {
    for (auto it = f->overloads.rbegin(); it != f->overloads.rend(); ++it) {
        Outcome out;
        PyObject* r = it->invoke(it->fn, args, n, out);
        if (r) return r;
        if (out.matched) {
            add_context(f, out.argument);
            return nullptr;
        }
    }
    return mismatch(f, args, n);
}

// A function's self is (capsule of its Function, [stub of each overload]).
inline Function* function_of(PyObject* self) {
    return static_cast<Function*>(PyCapsule_GetPointer(PyTuple_GET_ITEM(self, 0), nullptr));
}

#if BIND_FASTCALL
inline PyObject* entry(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kwnames) {
    if (kwnames && PyTuple_GET_SIZE(kwnames) > 0) return keywords_refused(function_of(self), kwnames);
    return dispatch(function_of(self), args, n);
}
constexpr int entry_flags = METH_FASTCALL | METH_KEYWORDS;
#else
inline PyObject* entry(PyObject* self, PyObject* args, PyObject* kw) {
    if (kw && PyDict_Size(kw) > 0) return keywords_refused(function_of(self), kw);
    return dispatch(function_of(self), &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args));
}
constexpr int entry_flags = METH_VARARGS | METH_KEYWORDS;
#endif

inline void free_function(PyObject* capsule) { delete static_cast<Function*>(PyCapsule_GetPointer(capsule, nullptr)); }

inline bool add_stub(PyObject* stubs, const std::string& stub) {
    PyObject* text = py::text(stub.data(), (Py_ssize_t)stub.size());
    bool ok = text && PyList_Append(stubs, text) == 0;
    Py_XDECREF(text);
    return ok;
}

}  // namespace detail

class Module {
public:
    Module(PyObject* module, const char* name) : module_(module), name_(name) {}

    // Registers a driver function (pass-through) or a captureless lambda /
    // function of the module's own under `name`.  A name defined again gains
    // an overload; it keeps its first position in the module.
    template <class F> void def(const char* name, F f) { add(name, +f); }

    PyObject* object() const { return module_; }

private:
    template <class Fp> void add(const char* name, Fp fp) {
        using C = detail::caller<Fp, typename fn_traits<Fp>::args>;
        Overload ov{&C::call, reinterpret_cast<erased_fn>(fp), C::signature(name), C::stub()};
        auto known = functions_.find(name);
        if (known != functions_.end()) {
            known->second.first->overloads.push_back(ov);
            if (!detail::add_stub(known->second.second, ov.stub)) throw error();
            return;
        }
        Function* f = new Function{name, name_, {ov}, {}};
        f->def.ml_name = f->name.c_str();
        f->def.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&detail::entry));
        f->def.ml_flags = detail::entry_flags;
        f->def.ml_doc = nullptr;
        PyObject* capsule = PyCapsule_New(f, nullptr, detail::free_function);
        if (!capsule) {
            delete f;
            throw error();
        }
        PyObject* stubs = PyList_New(0);
        PyObject* self = stubs ? PyTuple_Pack(2, capsule, stubs) : nullptr;
        Py_DECREF(capsule);
        Py_XDECREF(stubs);  // the tuple holds it
        if (!self || !detail::add_stub(stubs, ov.stub)) {
            Py_XDECREF(self);
            throw error();
        }
        PyObject* modname = py::text(name_, (Py_ssize_t)std::strlen(name_));
        PyObject* fn = modname ? PyCFunction_NewEx(&f->def, self, modname) : nullptr;
        Py_XDECREF(modname);
        Py_DECREF(self);
        if (!fn || PyModule_AddObject(module_, f->def.ml_name, fn) < 0) {
            Py_XDECREF(fn);
            throw error();
        }
        functions_[name] = {f, stubs};
    }

    PyObject* module_;
    const char* name_;
    std::map<std::string, std::pair<Function*, PyObject*>> functions_;  // function, its stub list
};

}  // namespace bind

#endif
