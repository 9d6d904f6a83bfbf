// Pointer parameters the driver is not told the size of: a pass-through
// states, per pointer parameter, the room the driver needs there, and the
// call is refused (ValueError naming the argument and the size) before the
// driver sees a smaller buffer.
//
//   m.def("getSlotInformation_Q", bind::guarded<hp816x_getSlotInformation_Q, bind::room<2, bind::count_at<1>>>);
//
// Parameters count from 0 as the driver declares them.  The room is a
// constant (`items<K>`), the value of another parameter (`count_at<J>`), or
// what a function of the module's own returns for the call's arguments
// (`sized_by<Fn>`, for sizes the module remembers).  A pointer parameter not
// listed keeps the frame's own rule (an item at least, aligned); None still
// passes a null pointer.  Text parameters (ViChar[] the driver writes) count
// bytes, with the terminating zero.
#ifndef BIND_ROOM_HPP
#define BIND_ROOM_HPP

#include <tuple>
#include <type_traits>
#include <utility>

#include "convert.hpp"
#include "describe.hpp"
#include "driver.hpp"
#include "function.hpp"

namespace bind {

// The storage behind a pointer parameter and its size, for the room checks:
// fits() in a driver section (nothing of Python's), refuse() after it.
template <class T> struct Buffer {
    T* p = nullptr;
    size_t items = 0;
    T* get() const { return p; }
    bool fits(long long n) { return !p || n <= 0 || (unsigned long long)n <= items; }
    [[noreturn]] void refuse(long long n, size_t argument) const {
        PyErr_Format(PyExc_ValueError, "argument %zu needs room for %lld items, the buffer holds %zu", argument, n,
                     items);
        throw error();
    }
    void need(long long n, size_t argument) {
        if (!fits(n)) refuse(n, argument);
    }
};
// Text the driver writes: the caller's storage as arg<char*> loaded it (a
// private copy grows to fit).
template <> struct Buffer<char> {
    arg<char*>* a = nullptr;
    char* get() const { return a->p; }
    bool fits(long long n) { return a->make_room(n); }
    [[noreturn]] void refuse(long long n, size_t argument) const {
        char what[32];
        std::snprintf(what, sizeof what, "argument %zu", argument);
        a->refuse(n, what);
    }
    void need(long long n, size_t argument) {
        if (!fits(n)) refuse(n, argument);
    }
};
template <class T> struct c_type<Buffer<T>> {
    using type = T*;
};

template <class T> struct arg<Buffer<T>> : arg<T*> {
    Buffer<T> get() { return Buffer<T>{this->p, this->items()}; }
};
template <> struct arg<Buffer<char>> : arg<char*> {
    Buffer<char> get() { return Buffer<char>{this}; }
};

namespace describe {
template <class T> struct py<Buffer<T>> : py<T*> {};
}  // namespace describe

// ---- how much room ------------------------------------------------------------
template <long long K> struct items {
    template <class Args> static long long of(const Args&) { return K; }
};
template <size_t J> struct count_at {
    template <class Args> static long long of(const Args& a) { return (long long)std::get<J>(a); }
};
template <auto Fn> struct sized_by {
    template <class Args> static long long of(const Args& a) { return std::apply(Fn, a); }
};

template <size_t I, class K> struct room {
    static constexpr size_t index = I;
    using size = K;
};

// Text replies the driver writes without being told a size: 256 bytes
// unless the function states otherwise.
constexpr long long text_reply = 256;

namespace detail {

template <size_t I, class... Rooms> struct room_for { using type = void; };
template <size_t I, class R, class... Rooms> struct room_for<I, R, Rooms...> {
    using type = typename std::conditional<R::index == I, typename R::size, typename room_for<I, Rooms...>::type>::type;
};

template <class P, class K> struct param_as { using type = P; };
template <class T, class K> struct param_as<T*, K> {
    using type = typename std::conditional<std::is_void<K>::value, T*, Buffer<T>>::type;
};

template <class T> T plain(T v) { return v; }
template <class T> T* plain(const Buffer<T>& b) { return b.get(); }

template <auto F, class Seq, class... Rooms> struct guarded;
template <auto F, size_t... I, class... Rooms> struct guarded<F, std::index_sequence<I...>, Rooms...> {
    using traits = fn_traits<decltype(F)>;
    using all = typename traits::args;
    template <size_t J> using P =
        typename param_as<std::tuple_element_t<J, all>, typename room_for<J, Rooms...>::type>::type;

    // In the driver section: whether argument J has the room it needs; the
    // first that has not is noted (need: items, at: 1-based argument).
    template <size_t J, class Args>
    static bool fits(P<J>& a, const Args& values, long long& need, size_t& at, long long& roomed) {
        using K = typename room_for<J, Rooms...>::type;
        if constexpr (!std::is_void<K>::value) {
            if (a.get()) {
                long long n = K::of(values);
                roomed = n;
                if (!a.fits(n)) {
                    need = n;
                    at = J + 1;
                    return false;
                }
            }
        }
        (void)a;
        (void)values;
        (void)need;
        (void)at;
        (void)roomed;
        return true;
    }
    template <size_t J> static void refuse(const P<J>& a, long long need, size_t at) {
        if constexpr (!std::is_void<typename room_for<J, Rooms...>::type>::value)
            if (at == J + 1) a.refuse(need, at);
        (void)a;
        (void)need;
        (void)at;
    }
    // Sizes (some ask the driver) and the call in one section: no other
    // thread changes what the driver will write in between.
    static typename traits::ret call(P<I>... a) {
        using R = typename traits::ret;
        long long need = 0, roomed = -1;
        size_t at = 0;
        R r = locked([&]() -> R {
            auto values = std::make_tuple(plain(a)...);
            if (!(true && ... && fits<I>(a, values, need, at, roomed))) return R();
            if constexpr (sizeof...(Rooms) > 0) rec::room_for_next(roomed);  // a BIND_ROOM array's items
            return F(plain(a)...);
        });
        if (at) (refuse<I>(a, need, at), ...);
        return r;
    }
};

}  // namespace detail

// Pass-through F with the room each listed pointer parameter needs.  A
// `sized_by` function runs in the driver section: it calls the driver
// directly and touches nothing of Python's.
template <auto F, class... Rooms>
constexpr auto guarded = form<F, Kind::pass_through, &detail::guarded<
    F, std::make_index_sequence<std::tuple_size<typename fn_traits<decltype(F)>::args>::value>, Rooms...>::call>;

// A pass-through: the driver function itself, called in a driver section.
//   m.def("close", bind::pass<hp816x_close>);
template <auto F> constexpr auto pass = guarded<F>;

}  // namespace bind

#endif
