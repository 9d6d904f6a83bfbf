// Driver calls run with the interpreter released, one at a time per module,
// served in the order they come.
//
//   check(s, bind::call(hp816x_PWM_readAll, s, &count, ...));   // one call
//   bind::locked([&] { ...several driver calls, module state... });
//
// A bench call takes from a millisecond to minutes; meanwhile other Python
// threads run.  A driver need not be thread-safe, so each module has a lock
// of its own (each carries its own copy of the frame): two modules' calls
// overlap, two calls into one module do not.  The lock is taken after the
// interpreter is released and dropped before it is taken back, never the
// other way round, so no thread ever waits for it holding the interpreter.
// Inside a section: no Python object may be touched.
//
// Entering a section is where a thread learns of another thread's failure
// (it raises the failure's DriverExit instead of calling the driver), and
// coming back is where a thread stays out of an interpreter that is ending
// (see end/gate.hpp).  Coming back is ordinary code, never a destructor:
// a forced unwind of the interpreter's end may pass through it.
#ifndef BIND_DRIVER_HPP
#define BIND_DRIVER_HPP

#include <chrono>
#include <exception>
#include <type_traits>
#include <utility>

#include "compat.hpp"
#include "driver_lock.hpp"
#include "fork.hpp"
#include "end/failure.hpp"
#include "record.hpp"
#include "vector.hpp"  // bind::error

namespace bind {

namespace detail {

// This module's lock; made as the module is loaded and never destroyed
// (other threads may be inside a driver as the process ends).
DriverLock& driver_lock();
inline DriverLock* const the_driver_lock = [] {
    // A fork() while another thread is inside the driver: that thread is not
    // in the child, whose lock must start free.
    on_fork_child([] { driver_lock().remake(); });
    return new DriverLock;
}();
inline DriverLock& driver_lock() { return *the_driver_lock; }

// The module's name, for the status check's reports.
inline const char*& module_name() {
    static const char* name = "";
    return name;
}

// The driver's time of the calls traced on this thread (nanoseconds).
inline long long& traced_driver_ns() {
    static thread_local long long ns = 0;
    return ns;
}

struct Section {
    PyThreadState* state;
    bool main, timed, recorded;
    std::chrono::steady_clock::time_point t0;
};

// Releases the interpreter and takes the lock.  `tell`: a thread not yet
// told of another's failure raises it here instead (the status check's own
// calls do not).
inline Section enter(bool tell = true) {
    end::ProcessEnd& r = end::record();
    unsigned w = r.switches.load(std::memory_order_relaxed);
    if (w & (end::failed_bit | end::closing_bit)) {
        if (!tell) w &= ~(unsigned)end::failed_bit;
        if (!end::call_goes_ahead(w)) throw error();  // DriverExit set
    }
    const bool recorded = (w & end::record_bit) != 0;
    if (recorded && !rec::entering()) throw error();
    Section s;
    s.recorded = recorded;
    s.state = PyEval_SaveThread();
    s.main = (unsigned long)s.state->thread_id == r.main_ident.load(std::memory_order_relaxed);
    if (s.main) end::main_inside_driver(true);
    driver_lock().lock();
    s.timed = (w & end::trace_bit) != 0;
    if (s.timed) s.t0 = std::chrono::steady_clock::now();
    return s;
}

inline void leave(const Section& s) {
    if (s.timed)
        traced_driver_ns() +=
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - s.t0).count();
    DriverLock& lock = driver_lock();
    lock.unlock();
    if (s.recorded) rec::leaving();
    if (s.main) {
        end::main_inside_driver(false);
        if (end::record().switches.load(std::memory_order_relaxed) & end::failed_bit) end::main_back();
    }
    end::come_back(lock, s.state, s.main);
}

template <class Fn> auto in_section(bool tell, Fn&& fn) -> decltype(fn()) {
    Section s = enter(tell);
    if constexpr (std::is_void<decltype(fn())>::value) {
        try {
            fn();
        } catch (...) {
            leave(s);
            throw;
        }
        leave(s);
    } else {
        decltype(fn()) r = [&]() -> decltype(fn()) {
            try {
                return fn();
            } catch (...) {
                leave(s);
                throw;
            }
        }();
        leave(s);
        return r;
    }
}

}  // namespace detail

// Runs fn (driver calls and the module's own driver state, nothing of
// Python's) in a driver section; returns what it returns.
template <class Fn> auto locked(Fn&& fn) -> decltype(fn()) { return detail::in_section(true, std::forward<Fn>(fn)); }

// One driver call in a driver section.
template <class F, class... A> auto call(F f, A... a) -> decltype(f(a...)) {
    detail::Section s = detail::enter();
    auto r = f(a...);
    detail::leave(s);
    return r;
}

namespace detail {
// A driver call of the status check itself: never refused for a failure.
template <class F, class... A> auto call_for_check(F f, A... a) -> decltype(f(a...)) {
    return in_section(false, [&] { return f(a...); });
}
}  // namespace detail

}  // namespace bind

#endif
