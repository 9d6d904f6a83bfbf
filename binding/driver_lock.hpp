// One driver library's lock: calls are served in the order they come (a
// ticket lock), and the threads that have left it but not yet taken the
// interpreter back are counted, so the interpreter's end can wait for them.
//
//   lock()/unlock()  around the driver call, with the interpreter released;
//   back()           once the interpreter is held again (or the thread parks).
#ifndef BIND_DRIVER_LOCK_HPP
#define BIND_DRIVER_LOCK_HPP

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>
#include <thread>

namespace bind {
namespace detail {

struct DriverLock {
    std::atomic<uint32_t> next{0};     // the ticket the next caller takes
    std::atomic<uint32_t> serving{0};  // the ticket inside; one more per unlock
    std::atomic<uint32_t> returned{0};  // unlocks followed by back()
    std::atomic<uint32_t> waiters{0};
    std::mutex m;  // only for waiting
    std::condition_variable turn;

    void lock() {
        const uint32_t me = next.fetch_add(1, std::memory_order_relaxed);
        if (serving.load(std::memory_order_acquire) == me) return;
        waiters.fetch_add(1, std::memory_order_seq_cst);
        {
            std::unique_lock<std::mutex> g(m);
            while (serving.load(std::memory_order_seq_cst) != me) turn.wait(g);
        }
        waiters.fetch_sub(1, std::memory_order_relaxed);
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
        if (waiters.load(std::memory_order_seq_cst)) {
            { std::lock_guard<std::mutex> g(m); }
            turn.notify_all();
        }
    }

    void back() { returned.fetch_add(1, std::memory_order_release); }

    // Threads between unlock() and back(): coming back to the interpreter.
    uint32_t in_flight() const {
        return serving.load(std::memory_order_seq_cst) - returned.load(std::memory_order_acquire);
    }

    // A fork child has none of the parent's other threads: all starts free.
    void remake() { new (this) DriverLock(); }
};

}  // namespace detail
}  // namespace bind

#endif
