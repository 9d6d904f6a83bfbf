// Wrappers generated from a driver function's own signature, for the common
// shapes: the last N parameters are outputs.  Numeric outputs get a zeroed
// variable, ViChar* outputs a 256-byte buffer preset empty; the status goes to
// the module's check with the first parameter as session; the result is the
// single output, or a tuple of all outputs in the driver's order.
//
//   m.def("get_ATT_attenuation_Q", Q::out<4, hp816x_get_ATT_attenuation_Q>);
#ifndef BIND_QUERIES_HPP
#define BIND_QUERIES_HPP

#include <cstdlib>
#include <memory>
#include <new>
#include <tuple>
#include <utility>

#include "convert.hpp"
#include "driver.hpp"
#include "function.hpp"
#include "status.hpp"
#include "visatypes.h"

namespace bind {

// The status policy of modules that hand every status back unexamined.
inline void no_check(ViSession, ViStatus) {}

namespace detail {

template <class P> struct out_storage;
template <class T> struct out_storage<T*> {
    T v = 0;
    T* ptr() { return &v; }
    T value() { return v; }
};
template <> struct out_storage<char*> {
    Text<256> t;
    char* ptr() { return t.data(); }
    Text<256>& value() { return t; }
};

template <class First, class... Rest> First first_of(First f, Rest...) { return f; }

template <class... V> auto outputs(V&&... v) {
    if constexpr (sizeof...(V) == 1) return (v, ...);
    else return std::tuple<typename std::decay<V>::type...>(std::forward<V>(v)...);
}

template <size_t N, bool Checked, auto Check, auto F, class Fp = plain_fn<decltype(F)>> struct out_query;
template <size_t N, bool Checked, auto Check, auto F, class R, class... A>
struct out_query<N, Checked, Check, F, R (*)(A...)> {
    static_assert(N >= 1 && N <= sizeof...(A), "outputs must be among the parameters");
    using all = std::tuple<A...>;
    static constexpr size_t K = sizeof...(A) - N;
    template <class In, class Out> struct impl;
    template <size_t... I, size_t... O> struct impl<std::index_sequence<I...>, std::index_sequence<O...>> {
        static auto call(std::tuple_element_t<I, all>... in) {
            std::tuple<out_storage<std::tuple_element_t<K + O, all>>...> outs;
            ViStatus status = bind::call(F, in..., std::get<O>(outs).ptr()...);
            if constexpr (Checked) Check(first_of(in...), status);
            (void)status;
            return outputs(std::get<O>(outs).value()...);
        }
    };
    static constexpr auto call = &impl<std::make_index_sequence<K>, std::make_index_sequence<N>>::call;
};

template <auto Check, auto F, class Fp = plain_fn<decltype(F)>> struct opener;
template <auto Check, auto F, class R, class... A> struct opener<Check, F, R (*)(A...)> {
    using all = std::tuple<A...>;
    template <class In> struct impl;
    template <size_t... I> struct impl<std::index_sequence<I...>> {
        static ViSession call(std::tuple_element_t<I, all>... in) {
            ViSession session = 0;
            ViStatus status = bind::call(F, in..., &session);
            const char* resource = nullptr;
            if constexpr (std::is_convertible<decltype(first_of(in...)), const char*>::value) resource = first_of(in...);
            if (status < 0) {
                struct Opening {  // the check names the resource given
                    explicit Opening(const char* r) { opening_resource() = r; }
                    ~Opening() { opening_resource() = nullptr; }
                } opening(resource);
                Check(session, status);
            }
            if (resource && Check != &no_check) session_opened(session, resource);
            return session;
        }
    };
    static constexpr auto call = &impl<std::make_index_sequence<sizeof...(A) - 1>>::call;
};

// One-element array query: (session, command, size) -> (first element, count).
// The driver is told the caller's size unchanged and gets room for
// max(size, 1) elements, so no size lets it write past the storage; the
// count it reports is clamped to the size asked for.
template <auto Check, auto F, class Fp = plain_fn<decltype(F)>> struct first_element;
template <auto Check, auto F, class R, class T>
struct first_element<Check, F, R (*)(ViSession, ViChar*, ViInt32, T*, ViInt32*)> {
    static std::tuple<T, ViInt32> call(ViSession session, ViChar* command, ViInt32 size) {
        constexpr ViInt32 stack_elements = 16;
        T small[stack_elements] = {};
        std::unique_ptr<T, void (*)(void*)> big(nullptr, std::free);
        T* room = small;
        if (size > stack_elements) {
            // calloc: zeroed pages are only touched where the driver writes.
            big.reset(static_cast<T*>(std::calloc((size_t)size, sizeof(T))));
            if (!big) throw std::bad_alloc();
            room = big.get();
        }
        ViInt32 count = 0;
        ViStatus status = bind::call(F, session, command, size, room, &count);
        Check(session, status);
        return std::tuple<T, ViInt32>(room[0], clamp<ViInt32>(count, 0, size > 0 ? size : 0));
    }
};

template <auto F, class Fp = plain_fn<decltype(F)>> struct sized_reply;
template <auto F, class R> struct sized_reply<F, R (*)(ViSession, ViChar*, ViInt32, ViChar*)> {
    static R call(ViSession session, ViChar* query, ViInt32 size, Reply reply) {
        reply.reserve(size);  // the driver writes up to `size` bytes
        return bind::call(F, session, query, size, reply.data());
    }
};

}  // namespace detail

// A query whose reply goes into the caller's ViChar[] buffer of a size the
// caller states (cmdString_Q): returns the status unchecked, like a
// pass-through, but refuses a buffer smaller than that size (ValueError)
// and grows a private copy to it.
template <auto F> constexpr auto sized_reply = form<F, Kind::query, detail::sized_reply<F>::call>;

template <void (*Check)(ViSession, ViStatus)> struct Queries {
    // Checked output query: the last N parameters of F are outputs.
    template <size_t N, auto F>
    static constexpr auto out = form<F, Kind::query, detail::out_query<N, true, Check, F>::call>;
    // The same without a status check (the status is dropped).
    template <size_t N, auto F>
    static constexpr auto unchecked = form<F, Kind::query, detail::out_query<N, false, Check, F>::call>;
    // Session opener: F's last parameter is the new session, which the check gets.
    template <auto F> static constexpr auto opener = form<F, Kind::opener, detail::opener<Check, F>::call>;
    // One-element array query (cmdInt32Arr_Q and kin).
    template <auto F> static constexpr auto first_element = form<F, Kind::query, detail::first_element<Check, F>::call>;
};

}  // namespace bind

#endif
