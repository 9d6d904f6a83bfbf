// Type names for stubs: each registered overload carries its Python
// signature, "(ViUInt32, int) -> Tuple[int, str]", readable as fn.__self__[1].
#ifndef BIND_DESCRIBE_HPP
#define BIND_DESCRIBE_HPP

#include <string>
#include <tuple>
#include <type_traits>

#include "convert.hpp"

namespace bind {
namespace describe {

template <class T> struct py;
template <> struct py<uint32_t> { static std::string name() { return "int"; } };
template <> struct py<int32_t> { static std::string name() { return "int"; } };
template <> struct py<uint16_t> { static std::string name() { return "int"; } };
template <> struct py<int16_t> { static std::string name() { return "int"; } };
template <> struct py<double> { static std::string name() { return "float"; } };
template <> struct py<char*> { static std::string name() { return "ViString"; } };
template <> struct py<Reply> { static std::string name() { return "ViString"; } };
template <> struct py<const char*> { static std::string name() { return "ViConstString"; } };
template <> struct py<double*> { static std::string name() { return "ViReal64Buffer"; } };
template <> struct py<int32_t*> { static std::string name() { return "ViInt32Buffer"; } };
template <> struct py<uint16_t*> { static std::string name() { return "ViUInt16Buffer"; } };
template <> struct py<int16_t*> { static std::string name() { return "ViInt16Buffer"; } };

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

}  // namespace describe
}  // namespace bind

#endif
