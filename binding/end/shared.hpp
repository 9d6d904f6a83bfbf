// The process's end, shared by every module loaded: the words, the record.
//
//   claim        a failed call takes the process's exit for its failure (the
//                first one's code and line win; a tentative claim, for an
//                instrument error that may turn out exempt, is released or
//                confirmed)
//   first line   the owning failure's line is out on stderr; the other
//                threads' DriverExit carries its arguments
//   told         a thread has had the failure's DriverExit: its own, raised at
//                its next driver call, or (the main thread) at its next Python
//                step or out of a wait; a told thread's calls reach the drivers
//   main progress  running, told, done (its script ended: threading._shutdown
//                entered), joined (the interpreter's wait for the other threads
//                is over: it ends the process itself)
//   clean-up block  `with instrbind.cleanup():` -- a thread inside one is told
//                when its outermost block ends, not before
//   owed         a session whose close waits for the end of the process: every
//                session a failure was reported on, once
//   watchdog     a native thread started by the first failure: wakes the main
//                thread out of waits, abandons the process when its time is up
//   ender        the thread that abandons: runs the atexit handlers, flushes,
//                ends the process (named instrbind-end)
//   park         wait, touching nothing, until the process ends
//   gate         closes as the interpreter begins to end: a thread coming back
//                from a driver after that parks instead of taking the
//                interpreter
//
// The parts: this record (end/shared.hpp), coming back through the gate
// (end/gate.hpp), ending (end/exit.hpp), the failure's machine
// (end/failure.hpp), the interpreter's hooks and the attach
// (end/hooks.hpp); what a fork child remakes: fork.hpp.
//
// The record lives with the interpreter, one per process whatever modules
// and builds are loaded: Python 3.8+, the interpreter's state dict; 2.7, the
// builtins module's dict.  Its capsule's name carries the layout and the ABI
// it was compiled with: a module of another build refuses to load.
#ifndef BIND_END_SHARED_HPP
#define BIND_END_SHARED_HPP

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "../compat.hpp"
#include "../driver_lock.hpp"
#include "pythread.h"
#include "visatypes.h"

namespace bind {
namespace end {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// ---- timings -----------------------------------------------------------------------
constexpr milliseconds abandon_after{5000};      // threads still alive then are abandoned
constexpr milliseconds interpreter_grace{3000};  // the ending thread's wait for the interpreter
constexpr milliseconds atexit_grace{60000};      // abandoned: the atexit handlers' time
constexpr milliseconds first_line_wait{30000};   // a later failure's wait for the first line
constexpr milliseconds in_flight_wait{2000};     // the gate's wait for threads coming back
constexpr milliseconds close_wait{1000};         // an owed close's wait for its driver
constexpr milliseconds hold_limit{60000};        // a clean-up block holds off the abandon this long
constexpr milliseconds wake_first{100};          // the main thread woken from a wait this long after the failure
constexpr milliseconds wake_every{1000};         // and again, while it is not told
constexpr milliseconds wake_joins_after{2000};   // from then on also out of a join()

// Bits of ProcessEnd::switches, read relaxed on every driver call.
enum : unsigned { failed_bit = 1, closing_bit = 2, trace_bit = 4, record_bit = 8 };

enum class Phase { running, claiming, failed };
enum class Claim { first, later };
enum class Main { running, told, done, joined };  // the main thread's progress: only forward

// A session whose close waits for the end of the process.
struct Owed {
    ViStatus(_VI_FUNC* close)(ViSession);
    detail::DriverLock* lock;
    ViSession session;
};

#define BIND_END_LAYOUT 6  // changes with the fields below
#define BIND_END_STR_(x) #x
#define BIND_END_STR(x) BIND_END_STR_(x)
#if defined(_LIBCPP_VERSION)
#define BIND_END_STDLIB "libc++" BIND_END_STR(_LIBCPP_ABI_VERSION)
#elif defined(__GLIBCXX__)
#define BIND_END_STDLIB "libstdc++" BIND_END_STR(_GLIBCXX_USE_CXX11_ABI)
#elif defined(_MSC_VER)
#define BIND_END_STDLIB "msvc" BIND_END_STR(_MSC_VER)
#else
#define BIND_END_STDLIB "c++"
#endif
#if defined(_WIN64) || defined(__LP64__)
#define BIND_END_BITS "64"
#else
#define BIND_END_BITS "32"
#endif
// The capsule's name: the layout and the ABI of std::mutex, condition_variable, vector.
constexpr const char* record_name = "instrbind.process_end." BIND_END_STR(BIND_END_LAYOUT) "." BIND_END_STDLIB "." BIND_END_BITS;
constexpr const char* record_key = "instrbind.process_end";

struct ProcessEnd {
    int size = (int)sizeof(ProcessEnd);

    std::atomic<unsigned> switches{0};
    std::atomic<unsigned long> main_ident{0};  // the interpreter's main thread
    std::atomic<bool> main_inside{false};      // the main thread is inside a driver
    std::atomic<bool> exiting{false};          // one end only

    std::mutex m;  // everything below
    std::condition_variable changed;
    Phase phase = Phase::running;
    int code = 1;
    Main progress = Main::running;  // the main thread's
    bool first_printed = false;
    bool watchdog_running = false, ender_has_interpreter = false;
    bool forked_from_worker = false;  // a fork child whose main thread is a threading.Thread
    int main_hold = 0;                // the main thread's depth of clean-up blocks
    int wake_signal = 0;              // the signal that wakes the main thread (0: none)
    bool wake_joins = false;          // the wake may interrupt a join() too
    Clock::time_point hold_since;
    unsigned long ender_ident = 0;  // the thread that runs the atexit handlers when abandoning
    Clock::time_point failed_at, main_done_at, main_back_at;
    PyObject* exit_type = nullptr;  // instrbind.DriverExit (SystemExit without it)
    PyObject* first_args = nullptr;  // the first failure's DriverExit arguments
    std::vector<detail::DriverLock*> locks;  // one per module, for the gate
    std::vector<Owed> owed;
    detail::DriverLock outside_waits;  // the in-flight count of waits outside drivers

    // The recording (record.hpp): record_m guards the file, written line by line.
    std::mutex record_m;
    long long record_file = -1;  // descriptor (Windows: OS handle); -1: none
    Clock::time_point record_t0;
    std::atomic<unsigned long long> record_seq{0};
};

inline ProcessEnd*& record_ptr() {
    static ProcessEnd* p = nullptr;  // set when the module is imported
    return p;
}
inline ProcessEnd& record() { return *record_ptr(); }

inline unsigned long self_ident() { return (unsigned long)PyThread_get_thread_ident(); }

inline bool finalizing() {
#if BIND_PY2
    return !Py_IsInitialized();  // cleared as the shutdown begins
#elif PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing();
#else
    return _Py_IsFinalizing();
#endif
}

// The thread that stands for the main one: the main thread, or the one
// running the atexit handlers for an abandoned process.
inline bool acting_main(unsigned long ident) {
    ProcessEnd& r = record();
    if (ident == r.main_ident.load(std::memory_order_relaxed)) return true;
    std::lock_guard<std::mutex> g(r.m);
    return ident == r.ender_ident;
}

inline unsigned long ender_ident() {
    ProcessEnd& r = record();
    std::lock_guard<std::mutex> g(r.m);
    return r.ender_ident;
}

// Waits, touching nothing, until the process ends.
[[noreturn]] inline void park() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

// The main thread while the ender runs the atexit handlers: it waits,
// without the interpreter, for the end.  Interpreter held.
inline void park_main_if_ending() {
    ProcessEnd& r = record();
    if (self_ident() != r.main_ident.load()) return;
    {
        std::lock_guard<std::mutex> g(r.m);
        if (!r.ender_has_interpreter) return;
    }
    PyEval_SaveThread();
    park();
}
inline int park_main_pending(void*) {
    park_main_if_ending();
    return 0;
}

// Changes the record under its mutex, then wakes everything waiting on it.
template <class Fn> void change(Fn&& fn) {
    ProcessEnd& r = record();
    {
        std::lock_guard<std::mutex> g(r.m);
        fn();
    }
    r.changed.notify_all();
}

// The main thread's progress moves forward to `to` (never back).  Under r.m.
inline void advance(ProcessEnd& r, Main to) {
    if (r.progress < to) r.progress = to;
}

// A fork child is a process of its own: the forking thread is its main
// thread, every lock starts free, no exit is owed.
inline void after_fork_child() {
    ProcessEnd& r = record();
    new (&r.m) std::mutex();
    new (&r.changed) std::condition_variable();
    new (&r.record_m) std::mutex();
    r.outside_waits.remake();
    r.switches.fetch_and(trace_bit);  // a child records nothing: the file is the parent's
    r.record_file = -1;
    r.forked_from_worker = self_ident() != r.main_ident.load();
    r.main_ident.store(self_ident());
    r.main_inside.store(false);
    r.exiting.store(false);
    r.phase = Phase::running;
    r.code = 1;
    r.progress = Main::running;
    r.first_printed = false;
    r.watchdog_running = r.ender_has_interpreter = false;
    r.ender_ident = 0;
    r.main_hold = 0;
    r.wake_joins = false;
    r.first_args = nullptr;  // the parent's: left as it is
    r.owed.clear();
}


}  // namespace end
}  // namespace bind

#endif
