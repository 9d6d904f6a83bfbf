// Type names for stubs and docstrings: each registered overload carries its
// Python signature, "(ViUInt32, int) -> Tuple[int, str]", readable as
// fn.__self__.signatures.
#ifndef BIND_DESCRIBE_HPP
#define BIND_DESCRIBE_HPP

#include <string>
#include <tuple>
#include <type_traits>

#include "convert.hpp"

namespace bind {
namespace describe {

// Per argument type: name() as the stubs write it, visa as the C++ signatures
// write it, expected() what a call takes there, for the argument-mismatch
// message -- from the type legend (drivers/visatypes.def): a number's message
// names its stub type, a buffer's its item format.
template <class T> struct py;
#if BIND_PY3
constexpr const char text_expected[] = "str, bytes, bytearray or None";
#else
constexpr const char text_expected[] = "str, bytearray or None";
#endif
#define BIND_PY(t, visa_name, stub, expects)                    \
    template <> struct py<t> {                                  \
        static constexpr const char* visa = visa_name;          \
        static std::string name() { return stub; }              \
        static const char* expected() { return expects; }       \
    };
#define BIND_PY_int(t, stub) BIND_PY(t, #t, #stub, #stub)  // a number's message names its stub type
#define BIND_PY_real BIND_PY_int
#define BIND_PY_text(t, stub) BIND_PY(t, #t, #stub, text_expected)
#define BIND_PY_none(t, stub)
#define VISA_TYPE(name, type, kind, stub, record) BIND_PY_##kind(name, stub)
#define VISA_BUFFER(item, format, also, stub) \
    BIND_PY(item*, #item "*", #stub, "writable buffer of " #format " items or None")
#include "visatypes.def"
#undef BIND_PY
#undef BIND_PY_int
#undef BIND_PY_real
#undef BIND_PY_text
#undef BIND_PY_none
// A reply buffer whose size the driver is told: a ViString.
template <> struct py<Reply> : py<char*> {
    static constexpr const char* visa = "ViChar[]";
};

template <class R> struct ret { static std::string name() { return py<R>::name(); } };
template <> struct ret<void> { static std::string name() { return "None"; } };
template <> struct ret<const char*> { static std::string name() { return "str"; } };
template <size_t N> struct ret<Text<N>> { static std::string name() { return "str"; } };
template <> struct ret<SizedText> { static std::string name() { return "str"; } };
template <> struct ret<Bytes> { static std::string name() { return "bytes"; } };
template <class T> struct ret<Vec<T>> { static std::string name() { return elem<T>::name; } };
template <class... T> struct ret<std::tuple<T...>> {
    static std::string name() {
        std::string items[] = {ret<typename std::decay<T>::type>::name()...};
        std::string s = "Tuple[";
        for (size_t i = 0; i < sizeof...(T); ++i) s += (i ? ", " : "") + items[i];
        return s + "]";
    }
};

template <class R, class... A> std::string signature() {
    std::string items[] = {std::string(), py<A>::name()...};
    std::string s = "(";
    for (size_t i = 1; i <= sizeof...(A); ++i) s += (i > 1 ? ", " : "") + items[i];
    return s + ") -> " + ret<R>::name();
}

// A function's description, generated at build time from the module's
// descriptions.txt (tools/gen_docs.py): its parameters' names where the
// descriptions name them ("session, status"; null: none, or a0, a1, ...),
// and what the function does.
struct Doc {
    const char* name;
    const char* params;
    const char* text;
};

}  // namespace describe
}  // namespace bind

#endif
