// Registration of Python functions: one typed entry point per C++ signature,
// positional arguments only, overload sets (a name defined twice), and the
// argument-mismatch TypeError naming the function, the types given and the
// signatures expected.
#ifndef BIND_FUNCTION_HPP
#define BIND_FUNCTION_HPP

#include <algorithm>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "convert.hpp"
#include "describe.hpp"
#include "driver.hpp"
#include "status.hpp"
#include "trace.hpp"

namespace bind {

// Function pointer traits, for plain and (32-bit Windows) stdcall functions.
// `plain` is the same signature without the calling convention: templates
// specialise on it and still call through the original pointer.  A driver
// function, as a module names it, is its noexcept wrapper of the driver
// tables (<driver>_calls.hpp): `driver` is true.
template <class F> struct fn_traits;
template <class R, class... A> struct fn_traits<R (*)(A...)> {
    using ret = R;
    using args = std::tuple<A...>;
    using plain = R (*)(A...);
    static constexpr bool driver = false;
};
template <class R, class... A> struct fn_traits<R (*)(A...) noexcept> : fn_traits<R (*)(A...)> {
    static constexpr bool driver = true;
};
#if defined(_WIN32) && !defined(_WIN64)
template <class R, class... A> struct fn_traits<R(__stdcall*)(A...)> : fn_traits<R (*)(A...)> {};
template <class R, class... A> struct fn_traits<R(__stdcall*)(A...) noexcept> : fn_traits<R (*)(A...)> {
    static constexpr bool driver = true;
};
#endif
template <class F> using plain_fn = typename fn_traits<F>::plain;

// How a registration stands to the driver function it calls, as the module
// reports it (fn.__self__.calls) for the stubs and the function index.
enum class Kind : unsigned char { frame, pass_through, query, opener, wrapper };
inline const char* kind_name(Kind k) {
    static const char* const names[] = {"frame", "pass-through", "query", "opener", "wrapper"};
    return names[(int)k];
}

// A registration of `fn`, which calls driver function `Driver`; `Named`: its
// Python parameters are the driver's first ones and take their names.  The
// query and pass-through templates make them; a function of the module's own
// says what it calls with bind::wraps or bind::around.
template <auto Driver, Kind K, bool Named, class Fp> struct calling {
    Fp fn;
};
template <auto Driver, Kind K, auto Entry> constexpr calling<Driver, K, true, decltype(Entry)> form{Entry};

// The driver's parameter type a wrapper's parameter type stands for (a
// checked buffer for its pointer: room.hpp).
template <class T> struct c_type {
    using type = T;
};

namespace detail {
// The same parameter: the same type, or an integer the driver's holds whole.
template <class O, class D> constexpr bool stands_for() {
    using C = typename c_type<O>::type;
    if constexpr (std::is_integral<C>::value && std::is_integral<D>::value)
        return std::is_signed<C>::value == std::is_signed<D>::value && sizeof(C) <= sizeof(D);
    else
        return std::is_same<C, D>::value;
}
template <class Own, class Drv, size_t... I> constexpr bool leads(std::index_sequence<I...>) {
    return (true && ... && stands_for<std::tuple_element_t<I, Own>, std::tuple_element_t<I, Drv>>());
}
}  // namespace detail

// A function of the module's own whose parameters are driver function D's
// first ones, of the same types in the same order.
template <auto D, class F> constexpr auto wraps(F f) {
    using Fp = decltype(+f);
    using own = typename fn_traits<Fp>::args;
    using drv = typename fn_traits<decltype(D)>::args;
    static_assert(std::tuple_size<own>::value <= std::tuple_size<drv>::value &&
                      detail::leads<own, drv>(std::make_index_sequence<std::min(std::tuple_size<own>::value,
                                                                                std::tuple_size<drv>::value)>{}),
                  "bind::wraps<D>: the parameters are not D's first ones (bind::around<D> names them by position)");
    return calling<D, Kind::wrapper, true, Fp>{+f};
}
// One whose parameters are not: they are named a0, a1, ... and described by
// position in the module's descriptions.
template <auto D, class F> constexpr auto around(F f) { return calling<D, Kind::wrapper, false, decltype(+f)>{+f}; }

// What one overload calls, as reported: the driver function (null: none),
// the kind, the Python parameter names ("ihandle, PWMSlot"; null: by position).
struct Wiring {
    const char* driver;
    Kind kind;
    std::string params;
    bool named;
};

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
    int arity;
    int (*first_mismatch)(PyObject* const* args);  // 1-based argument whose kind is refused; 0: none
    std::vector<const char*> expected;             // what each argument takes, for the message
    Wiring wiring;
};

struct Function {
    std::string name, module;
    std::vector<Overload> overloads;  // newest last; tried newest first
    PyMethodDef def;
    std::string params;  // the Python parameter names, "session, slot"
    std::string doc;     // ml_doc
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
    static constexpr Py_ssize_t arity = (Py_ssize_t)sizeof...(A);
    static PyObject* call(erased_fn fn, PyObject* const* args, Py_ssize_t n, Outcome& out) {
        if (n != (Py_ssize_t)sizeof...(A)) return nullptr;
        return invoke<F, typename fn_traits<F>::ret, A...>(fn, args, out, std::index_sequence_for<A...>{});
    }
    static std::string stub() { return describe::signature<typename fn_traits<F>::ret, A...>(); }
    static std::string signature(const std::string& name) {
        const char* names[] = {"", describe::py<A>::visa...};
        std::string s = name + "(";
        for (size_t i = 1; i <= sizeof...(A); ++i) s += (i > 1 ? ", " : "") + std::string(names[i]);
        return s + (sizeof...(A) ? ")" : "void)");
    }
};

// A wrong argument count names the counts; a wrong kind keeps the C++
// signatures and says which argument wants what.
inline std::string arguments(int n) {
    return n == 0 ? "no arguments" : std::to_string(n) + (n == 1 ? " argument" : " arguments");
}

inline PyObject* mismatch(Function* f, PyObject* const* args, Py_ssize_t n) {
    std::vector<int> counts;
    for (const Overload& ov : f->overloads)
        if (std::find(counts.begin(), counts.end(), ov.arity) == counts.end()) counts.push_back(ov.arity);
    if (std::find(counts.begin(), counts.end(), (int)n) == counts.end()) {
        std::sort(counts.begin(), counts.end());
        std::string takes;
        for (size_t i = 0; i < counts.size(); ++i) {
            takes += i == 0 ? "" : i + 1 < counts.size() ? ", " : " or ";
            takes += std::to_string(counts[i]);
        }
        takes = counts.size() == 1 ? arguments(counts[0]) : takes + " arguments";
        PyErr_Format(PyExc_TypeError, "%s() takes %s (%zd given)", f->name.c_str(), takes.c_str(), n);
        return nullptr;
    }
    std::string given;
    for (Py_ssize_t i = 0; i < n; ++i) given += (i ? ", " : "") + std::string(Py_TYPE(args[i])->tp_name);
    std::string expected, why;
    std::vector<const Overload*> candidates;  // of this count, one per signature
    for (auto it = f->overloads.rbegin(); it != f->overloads.rend(); ++it) {
        expected += "\n    " + it->signature;
        bool known = false;
        for (const Overload* c : candidates) known = known || c->signature == it->signature;
        if (it->arity == (int)n && !known) candidates.push_back(&*it);
    }
    for (const Overload* c : candidates) {
        int k = c->first_mismatch(args);
        if (k <= 0) continue;
        why.append("\nargument ").append(std::to_string(k)).append(": ").append(c->expected[k - 1]);
        why.append(" expected, got ").append(Py_TYPE(args[k - 1])->tp_name);
        if (candidates.size() > 1) why.append(" (").append(c->signature).append(")");
    }
    PyErr_Format(PyExc_TypeError, "Python argument types in\n    %s.%s(%s)\ndid not match C++ signature:%s%s",
                 f->module.c_str(), f->name.c_str(), given.c_str(), expected.c_str(), why.c_str());
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

// A matched overload that failed: a failing status, or a value refused.
BIND_COLD inline PyObject* failed(Function* f, const Outcome& out) {
    if (pending_failure().pending) return finish_failure(f->name.c_str());
    add_context(f, out.argument);
    return nullptr;
}

inline PyObject* try_overloads(Function* f, PyObject* const* args, Py_ssize_t n) {
    for (auto it = f->overloads.rbegin(); it != f->overloads.rend(); ++it) {
        Outcome out;
        PyObject* r = it->invoke(it->fn, args, n, out);
        if (r) return r;
        if (out.matched) return failed(f, out);
    }
    return mismatch(f, args, n);
}

inline PyObject* traced(Function* f, PyObject* const* args, Py_ssize_t n) {
    const long long before = traced_driver_ns();
    PyObject* r = try_overloads(f, args, n);
    return trace::record(f->module.c_str(), f->name.c_str(), args, n, r, traced_driver_ns() - before);
}

inline PyObject* dispatch(Function* f, PyObject* const* args, Py_ssize_t n) {
    if (end::record().switches.load(std::memory_order_relaxed) & end::trace_bit) return traced(f, args, n);
    return try_overloads(f, args, n);
}

// A function's self: a module object of a small subtype that carries its
// Function.  CPython names a function whose self is a module by its own name
// (__qualname__, repr, pickling); its dict holds, per overload, `signatures`
// (its Python signature) and `calls` ((driver function or None, kind,
// parameter names or None)), for the stub and index generators.
struct FunctionSelf {
    static inline PyTypeObject type = {PyVarObject_HEAD_INIT(nullptr, 0)};
    static inline Py_ssize_t offset = 0;  // of the Function pointer, after the module's fields

    static Function*& of(PyObject* self) { return *reinterpret_cast<Function**>(reinterpret_cast<char*>(self) + offset); }

    static void dealloc(PyObject* self) {
        delete of(self);
        of(self) = nullptr;
        PyModule_Type.tp_dealloc(self);
    }

    static bool ready() {
        if (type.tp_flags & Py_TPFLAGS_READY) return true;
        offset = (PyModule_Type.tp_basicsize + (Py_ssize_t)alignof(Function*) - 1) /
                 (Py_ssize_t)alignof(Function*) * (Py_ssize_t)alignof(Function*);
        type.tp_name = "instrbind.function";
        type.tp_doc = "The self of a bound driver function.";
        type.tp_basicsize = offset + (Py_ssize_t)sizeof(Function*);
        type.tp_flags = Py_TPFLAGS_DEFAULT;
        type.tp_dealloc = dealloc;
        type.tp_base = &PyModule_Type;  // set here: the interpreter's data has no constant address on Windows
        return PyType_Ready(&type) == 0;
    }

    // A new self owning `f`, named module.function; null with an error set
    // (and `f` deleted) on failure.
    static PyObject* make(Function* f) {
        std::string qualified = f->module + "." + f->name;
        PyObject* self = ready() ? PyObject_CallFunction(reinterpret_cast<PyObject*>(&type), const_cast<char*>("s"),
                                                         qualified.c_str())
                                 : nullptr;
        if (!self) {
            delete f;
            return nullptr;
        }
        of(self) = f;
        for (const char* list : {"signatures", "calls"}) {
            PyObject* items = PyList_New(0);
            if (!items || PyObject_SetAttrString(self, list, items) < 0) {
                Py_XDECREF(items);
                Py_DECREF(self);
                return nullptr;
            }
            Py_DECREF(items);
        }
        return self;
    }
};

inline Function* function_of(PyObject* self) { return FunctionSelf::of(self); }

// The entry point of a function of one overload, `C`, untraced and called
// with its count: no overload loop, the overload's call inlined.
template <class C> inline PyObject* call_only(Function* f, PyObject* const* args, Py_ssize_t n) {
    if ((end::record().switches.load(std::memory_order_relaxed) & end::trace_bit) || n != C::arity)
        return dispatch(f, args, n);
    Outcome out;
    PyObject* r = C::call(f->overloads[0].fn, args, n, out);
    if (r) return r;
    return out.matched ? failed(f, out) : mismatch(f, args, n);
}

#if BIND_FASTCALL
inline PyObject* entry(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kwnames) {
    if (kwnames && PyTuple_GET_SIZE(kwnames) > 0) return keywords_refused(function_of(self), kwnames);
    return dispatch(function_of(self), args, n);
}
template <class C> PyObject* entry_only(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kwnames) {
    if (kwnames && PyTuple_GET_SIZE(kwnames) > 0) return keywords_refused(function_of(self), kwnames);
    return call_only<C>(function_of(self), args, n);
}
constexpr int entry_flags = METH_FASTCALL | METH_KEYWORDS;
#else
inline PyObject* entry(PyObject* self, PyObject* args, PyObject* kw) {
    if (kw && PyDict_Size(kw) > 0) return keywords_refused(function_of(self), kw);
    return dispatch(function_of(self), &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args));
}
template <class C> PyObject* entry_only(PyObject* self, PyObject* args, PyObject* kw) {
    if (kw && PyDict_Size(kw) > 0) return keywords_refused(function_of(self), kw);
    return call_only<C>(function_of(self), &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args));
}
constexpr int entry_flags = METH_VARARGS | METH_KEYWORDS;
#endif
template <class F> inline PyCFunction entry_point(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

inline PyObject* text_or_none(const char* s) {
    if (s) return py::text(s, (Py_ssize_t)std::strlen(s));
    Py_RETURN_NONE;
}

inline bool append_to(PyObject* self, const char* list, PyObject* item) {
    PyObject* items = item ? PyObject_GetAttrString(self, list) : nullptr;
    bool ok = items && PyList_Append(items, item) == 0;
    Py_XDECREF(items);
    Py_XDECREF(item);
    return ok;
}

inline bool add_overload(PyObject* self, const Overload& ov) {
    const Wiring& w = ov.wiring;
    PyObject* driver = text_or_none(w.driver);
    PyObject* kind = text_or_none(kind_name(w.kind));
    PyObject* params = text_or_none(w.named ? w.params.c_str() : nullptr);
    PyObject* call = driver && kind && params ? PyTuple_Pack(3, driver, kind, params) : nullptr;
    Py_XDECREF(driver);
    Py_XDECREF(kind);
    Py_XDECREF(params);
    return append_to(self, "signatures", py::text(ov.stub.data(), (Py_ssize_t)ov.stub.size())) &&
           append_to(self, "calls", call);
}

// Which argument kind an overload refuses first (1-based; 0: none), by the
// same match() a call makes; only the mismatch message asks.
template <class Args> struct arg_kinds;
template <class... A> struct arg_kinds<std::tuple<A...>> {
    static int first_mismatch(PyObject* const* args) {
        int i = 0, refused = 0;
        (void)args;
        ((refused == 0 && !arg<A>().match(args[i]) ? refused = i + 1 : 0, ++i), ...);
        return refused;
    }
    static std::vector<const char*> expected() { return {describe::py<A>::expected()...}; }
};

// An overload's Python signature with the parameter names, as the stubs
// write it: "(session: int, slot: int) -> float".
inline std::string named(const Overload& ov, const std::string& params) {
    size_t close = ov.stub.find(") -> ");
    if (params == "*args" || ov.arity == 0 || close == std::string::npos) return ov.stub;
    std::string out = "(";
    size_t n = 0, t = 1;  // next name, next type
    for (int i = 0; i < ov.arity; ++i) {
        size_t n_end = std::min(params.find(", ", n), params.size());
        size_t t_end = std::min(ov.stub.find(", ", t), close);
        if (i) out += ", ";
        out.append(params, n, n_end - n).append(": ").append(ov.stub, t, t_end - t);
        n = n_end + 2;
        t = t_end + 2;
    }
    return out + ov.stub.substr(close);
}

// The docstring: the text signature help() and inspect.signature read
// ("name(a, b, /)\n--\n\n" on Python 3), what the function does, each
// overload's Python types and C++ signature.
inline std::string docstring(const Function& f, const char* text) {
    std::string params = f.params;
    for (const Overload& ov : f.overloads)
        if (ov.arity != f.overloads[0].arity) params = "*args";
#if BIND_PY3
    std::string doc = f.name + "(" + params + (params.empty() || params == "*args" ? "" : ", /") + ")\n--\n\n";
#else
    std::string doc = f.name + "(" + params + ")\n\n";
#endif
    if (text && *text) doc += std::string(text) + "\n\n";
    std::vector<std::string> seen;
    for (const Overload& ov : f.overloads)
        if (std::find(seen.begin(), seen.end(), ov.stub) == seen.end()) {
            seen.push_back(ov.stub);
            doc += f.name + named(ov, params) + "\n";
        }
    doc += "\nC++ signature:";
    for (const Overload& ov : f.overloads) doc += "\n    " + ov.signature;
    return doc;
}

// The first `count` names of the list "a, b, c"; false if it has fewer.
inline bool first_names(const char* list, int count, std::string& names) {
    const char* p = list;
    for (int i = 0; i < count; ++i) {
        const char* comma = std::strchr(p, ',');
        if (!*p || (i + 1 < count && !comma)) return false;
        p = i + 1 < count ? comma + 2 : comma ? comma : p + std::strlen(p);
    }
    names.assign(list, (size_t)(p - list));
    return true;
}

inline std::string by_position(int arity) {
    std::string names;
    for (int i = 0; i < arity; ++i) names += (i ? ", a" : "a") + std::to_string(i);
    return names;
}

// An alias of int under `type`: _photonbay.Session(4097) is 4097.
inline bool add_int_type(PyObject* m, const char* type) {
    PyObject* cls = reinterpret_cast<PyObject*>(&PyLong_Type);
#if BIND_PY2
    cls = reinterpret_cast<PyObject*>(&PyInt_Type);  // int(x) is a long above sys.maxint
#endif
    Py_INCREF(cls);
    return PyModule_AddObject(m, type, cls) == 0;
}

}  // namespace detail

class Module {
public:
    // `docs`: the generated descriptions in registration order, ended by a
    // null name (null: none).
    Module(PyObject* module, const char* name, const describe::Doc* docs = nullptr)
        : module_(module), name_(name), docs_(docs) {}

    // Registers under `name` what a query or pass-through template makes, a
    // function of the module's own around a driver function (bind::wraps,
    // bind::around), or a captureless lambda / function that calls none.  A
    // name defined again gains an overload; it keeps its first position.
    template <class F> void def(const char* name, F f) { add(name, +f, nullptr, Kind::frame, nullptr); }
    template <auto D, Kind K, bool Named, class Fp> void def(const char* name, calling<D, K, Named, Fp> c) {
        static_assert(!Named || std::tuple_size<typename fn_traits<Fp>::args>::value <=
                                    std::tuple_size<typename fn_traits<decltype(D)>::args>::value,
                      "more parameters than the driver function has");
        add(name, c.fn, driver_facts<D>::name, K, Named ? driver_facts<D>::params : nullptr);
    }

    // A session type of the module beside its Session: plain int at run time
    // (the stubs make each a distinct NewType).
    void session_type(const char* type) {
        if (!detail::add_int_type(module_, type)) throw error();
    }

    PyObject* object() const { return module_; }

private:
    // The description of the next registration, found by position (the
    // generator reads the same registrations in the same order) or by name.
    const describe::Doc* doc_for(const char* name) {
        if (!docs_) return nullptr;
        const describe::Doc* d = docs_ + next_doc_;
        if (d->name && std::strcmp(d->name, name) == 0) {
            ++next_doc_;
            return d;
        }
        for (d = docs_; d->name; ++d)
            if (std::strcmp(d->name, name) == 0) return d;
        return nullptr;
    }

    // What an overload calls, its parameters named: `driver_params`, the
    // driver's names, when they are its first ones; else the descriptions'
    // where they name as many; else none, by position.
    static Wiring wiring(const char* driver, Kind kind, const char* driver_params, const describe::Doc* d, int arity) {
        Wiring w{driver, kind, std::string(), true};
        if (driver_params) detail::first_names(driver_params, arity, w.params);
        else if (arity > 0 && !(d && d->params && detail::first_names(d->params, arity, w.params) &&
                                w.params.size() == std::strlen(d->params)))
            w.named = false;
        return w;
    }

    template <class Fp> void add(const char* name, Fp fp, const char* driver, Kind kind, const char* driver_params) {
        static_assert(!fn_traits<Fp>::driver,
                      "a driver function is registered through bind::pass<> or a query template, which call it "
                      "with the interpreter released and under the driver lock");
        using C = detail::caller<Fp, typename fn_traits<Fp>::args>;
        using K = detail::arg_kinds<typename fn_traits<Fp>::args>;
        constexpr int arity = (int)std::tuple_size<typename fn_traits<Fp>::args>::value;
        const describe::Doc* d = doc_for(name);
        Overload ov{&C::call, reinterpret_cast<erased_fn>(fp), C::signature(name), C::stub(), arity,
                    &K::first_mismatch, K::expected(), wiring(driver, kind, driver_params, d, arity)};
        auto known = functions_.find(name);
        if (known != functions_.end()) {
            Function* f = known->second.first;
            f->overloads.push_back(ov);
            f->def.ml_meth = detail::entry_point(&detail::entry);  // an overload set from here on
            if (!detail::add_overload(known->second.second, f->overloads.back())) throw error();
            f->doc = detail::docstring(*f, d ? d->text : nullptr);
            f->def.ml_doc = f->doc.c_str();
            return;
        }
        const std::string params = ov.wiring.named ? ov.wiring.params : detail::by_position(arity);
        Function* f = new Function{name, name_, {ov}, {}, params, {}};
        f->doc = detail::docstring(*f, d ? d->text : nullptr);
        f->def.ml_name = f->name.c_str();
        f->def.ml_meth = detail::entry_point(&detail::entry_only<C>);
        f->def.ml_flags = detail::entry_flags;
        f->def.ml_doc = f->doc.c_str();
        PyObject* self = detail::FunctionSelf::make(f);  // owns f from here
        if (!self || !detail::add_overload(self, f->overloads[0])) {
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
        functions_[name] = {f, self};  // the function holds self
    }

    PyObject* module_;
    const char* name_;
    const describe::Doc* docs_;
    size_t next_doc_ = 0;
    std::map<std::string, std::pair<Function*, PyObject*>> functions_;  // function, its self
};

}  // namespace bind

#endif
