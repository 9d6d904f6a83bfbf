// Driver calls run with the interpreter released, one at a time per module.
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
#ifndef BIND_DRIVER_HPP
#define BIND_DRIVER_HPP

#include <mutex>
#include <new>
#include <utility>

#if !defined(_WIN32)
#include <pthread.h>
#endif

#include "compat.hpp"

namespace bind {
namespace detail {

struct DriverLock {
    std::mutex m;
    DriverLock() {
#if !defined(_WIN32)
        // A fork() while another thread is inside the driver: that thread is
        // not in the child, whose lock must start free.  The forking thread
        // never holds it (fork needs the interpreter).
        pthread_atfork(nullptr, nullptr, [] { new (&instance().m) std::mutex(); });
#endif
    }
    static DriverLock& instance() {
        static DriverLock l;
        return l;
    }
};

}  // namespace detail

// The interpreter released and the module's driver lock held, for one scope.
class DriverSection {
public:
    DriverSection() : lock_(detail::DriverLock::instance().m) {
        state_ = PyEval_SaveThread();
        lock_.lock();
    }
    ~DriverSection() {
        lock_.unlock();
        PyEval_RestoreThread(state_);
    }
    DriverSection(const DriverSection&) = delete;
    DriverSection& operator=(const DriverSection&) = delete;

private:
    std::mutex& lock_;
    PyThreadState* state_;
};

// Runs fn (driver calls and the module's own driver state, nothing of
// Python's) in a driver section; returns what it returns.
template <class Fn> auto locked(Fn&& fn) -> decltype(fn()) {
    DriverSection section;
    return fn();
}

// One driver call in a driver section.
template <class F, class... A> auto call(F f, A... a) -> decltype(f(a...)) {
    DriverSection section;
    return f(a...);
}

}  // namespace bind

#endif
