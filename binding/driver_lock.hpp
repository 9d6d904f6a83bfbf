// One driver library's lock: calls are served in the order they come (a
// ticket lock), and the threads that have left it but not yet taken the
// interpreter back are counted, so the interpreter's end can wait for them.
//
//   lock()/unlock()  around the driver call, with the interpreter released;
//   back()           once the interpreter is held again;
//   back_unheld()    instead, by a thread that parks or ends the process.
#ifndef BIND_DRIVER_LOCK_HPP
#define BIND_DRIVER_LOCK_HPP

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>
#include <thread>

#include "compat.hpp"  // BIND_COLD; Py_GIL_DISABLED

namespace bind {
namespace detail {

struct DriverLock {
    std::atomic<uint32_t> next{0};     // the ticket the next caller takes
    std::atomic<uint32_t> serving{0};  // the ticket inside; one more per unlock
    std::atomic<uint32_t> returned{0};  // unlocks followed by back()
    std::atomic<uint32_t> returned_unheld{0};  // unlocks followed by back_unheld()
    std::atomic<uint32_t> waiters{0};
    std::mutex m;  // only for waiting
    std::condition_variable turn;

    // Uncontended, a lock and an unlock are one read-modify-write each, as a
    // plain mutex's are.
    void lock() {
        const uint32_t me = next.fetch_add(1, std::memory_order_relaxed);
        if (serving.load(std::memory_order_acquire) != me) wait_turn(me);
    }

    // The lock if nobody holds or waits for it, within `wait`.
    bool try_lock_for(std::chrono::milliseconds wait) {
        const auto until = std::chrono::steady_clock::now() + wait;
        for (;;) {
            uint32_t s = serving.load(std::memory_order_acquire), n = s;
            if (next.compare_exchange_strong(n, s + 1, std::memory_order_acquire)) return true;
            if (std::chrono::steady_clock::now() >= until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    void unlock() {
        serving.fetch_add(1, std::memory_order_seq_cst);
        if (waiters.load(std::memory_order_seq_cst)) wake();
    }

    // Once the interpreter is held again.  Every thread that counts here
    // holds it, so the count needs no read-modify-write.
    void back() {
#if defined(Py_GIL_DISABLED)
        returned.fetch_add(1, std::memory_order_release);
#else
        returned.store(returned.load(std::memory_order_relaxed) + 1, std::memory_order_release);
#endif
    }
    // Instead of back(), by a thread that will not take the interpreter back.
    void back_unheld() { returned_unheld.fetch_add(1, std::memory_order_release); }

    // Threads between unlock() and back(): coming back to the interpreter.
    uint32_t in_flight() const {
        return serving.load(std::memory_order_seq_cst) - returned.load(std::memory_order_acquire) -
               returned_unheld.load(std::memory_order_acquire);
    }

    BIND_COLD void wait_turn(uint32_t me) {
        waiters.fetch_add(1, std::memory_order_seq_cst);
        {
            std::unique_lock<std::mutex> g(m);
            // wait_for: condition_variable::wait is a newer libstdc++ symbol than wheels may need
            while (serving.load(std::memory_order_seq_cst) != me) turn.wait_for(g, std::chrono::seconds(1));
        }
        waiters.fetch_sub(1, std::memory_order_relaxed);
    }

    BIND_COLD void wake() {
        { std::lock_guard<std::mutex> g(m); }
        turn.notify_all();
    }

    // A fork child has none of the parent's other threads: all starts free.
    void remake() { new (this) DriverLock(); }
};

}  // namespace detail
}  // namespace bind

#endif
