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

// name(): the type as the stubs write it; expected(): what a call takes
// there, for the argument-mismatch message.
template <class T> struct py;
struct int_type {
    static std::string name() { return "int"; }
    static const char* expected() { return "int"; }
};
template <> struct py<uint32_t> : int_type {};
template <> struct py<int32_t> : int_type {};
template <> struct py<uint16_t> : int_type {};
template <> struct py<int16_t> : int_type {};
template <> struct py<double> {
    static std::string name() { return "float"; }
    static const char* expected() { return "float"; }
};
template <> struct py<char*> {
    static std::string name() { return "ViString"; }
#if BIND_PY3
    static const char* expected() { return "str, bytes, bytearray or None"; }
#else
    static const char* expected() { return "str, bytearray or None"; }
#endif
};
template <> struct py<Reply> : py<char*> {};
template <> struct py<const char*> : py<char*> {
    static std::string name() { return "ViConstString"; }
};
template <> struct py<double*> {
    static std::string name() { return "ViReal64Buffer"; }
    static const char* expected() { return "writable buffer of 'd' items or None"; }
};
template <> struct py<int32_t*> {
    static std::string name() { return "ViInt32Buffer"; }
    static const char* expected() { return "writable buffer of 'i' items or None"; }
};
template <> struct py<uint16_t*> {
    static std::string name() { return "ViUInt16Buffer"; }
    static const char* expected() { return "writable buffer of 'H' items or None"; }
};
template <> struct py<int16_t*> {
    static std::string name() { return "ViInt16Buffer"; }
    static const char* expected() { return "writable buffer of 'h' items or None"; }
};

template <class R> struct ret { static std::string name() { return py<R>::name(); } };
template <> struct ret<void> { static std::string name() { return "None"; } };
template <> struct ret<const char*> { static std::string name() { return "str"; } };
template <size_t N> struct ret<Text<N>> { static std::string name() { return "str"; } };
template <> struct ret<SizedText> { static std::string name() { return "str"; } };
template <> struct ret<Bytes> { static std::string name() { return "bytes"; } };
template <> struct ret<RealVec> { static std::string name() { return "ViReal64Vec"; } };
template <> struct ret<IntVec> { static std::string name() { return "ViInt32Vec"; } };
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
// sources and descriptions.txt (tools/gen_docs.py): the Python parameter
// names ("session,slot"; empty: named a0, a1, ... by position), the stub
// types they were read for ("int,int"; null: the module's own names, no
// check), and what the function does.
struct Doc {
    const char* name;
    const char* params;
    const char* types;
    const char* text;
};

}  // namespace describe
}  // namespace bind

#endif
