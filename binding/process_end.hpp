// The end of the process: one record for every module loaded, and the one
// state machine that ends the process after a failed driver call.
//
//   Phase    running ──claim──▶ failed                 (a failure owns the exit)
//            running ──claim(tentative)──▶ claiming     (an instrument error that
//            claiming ──release──▶ running              may turn out exempt, -261)
//            claiming ──confirm──▶ failed
//
//   After failed, independently:
//     first line    the owning failure's line is out: the other threads may be told
//     main told     the main thread has had its DriverExit (pending call, or its
//                   next driver call)
//     main done     the script has ended (threading._shutdown entered)
//     joined        the interpreter's wait for the other threads is over: it ends
//                   the process itself, through at_interpreter_end
//
//   The watchdog (a native thread, started by the claim) wakes a main thread
//   that is not told yet from a wait (`wake_first` after the failure, again
//   every `wake_every`), as Ctrl-C would: a signal of ours whose Python
//   handler raises the DriverExit.  It ends the process `abandon_after`
//   after the later of the failure and the main thread's end; or, if the
//   main thread has not finished, `abandon_after` after the later of the
//   failure and the main thread's last return from a driver, while it has
//   not been told and is not inside a driver (inside a clean-up block:
//   `hold_limit` after the block began).  It stands down when the
//   interpreter's wait for threads is over.  Ending (the ender thread):
//   the main thread parked at its next Python step, the atexit handlers
//   once, the script's open files and the streams flushed, with the
//   interpreter (within `interpreter_grace`), the owed sessions closed, then
//   the code, without static destructors.
//
// Other threads are told only at a call into the project: each one's next
// driver call raises the failure's DriverExit (once per thread).  Nothing is
// ever sent asynchronously to them.  The main thread is never told inside
// the standard library's threading, queue or logging code, where an
// exception between a lock's acquire and release would leave it held.
//
// Clean-up blocks (`with instrbind.cleanup():`): a thread inside one is
// told when its outermost block ends, not before.
//
// The interpreter's own end: a gate (an atexit handler of ours) closes before
// the interpreter finalizes; a thread other than the main coming back from a
// driver after that never takes the interpreter back (Python 3.8-3.13 would
// end it with a forced unwind): it parks until the process ends.  The gate
// waits for the threads already on their way back.
//
// The record lives with the interpreter under a versioned key: Python 3.8+,
// the interpreter's state dict; 2.7, the builtins module's dict.
#ifndef BIND_PROCESS_END_HPP
#define BIND_PROCESS_END_HPP

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

#if !defined(_WIN32)
#include <pthread.h>
#include <signal.h>
#endif

#include "compat.hpp"
#include "driver_lock.hpp"
#include "pythread.h"
#include "visatypes.h"

namespace bind {
namespace rec {  // record.hpp
inline PyObject* set_record(PyObject*, PyObject* file);
inline PyObject* record_write(PyObject*, PyObject* line);
}  // namespace rec

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

// A session whose close waits for the end of the process.
struct Owed {
    ViStatus(_VI_FUNC* close)(ViSession);
    detail::DriverLock* lock;
    ViSession session;
};

#define BIND_END_LAYOUT 5  // changes with the fields below
#define BIND_END_KEY_(v) "instrbind.process_end." #v
#define BIND_END_KEY(v) BIND_END_KEY_(v)

struct ProcessEnd {
    static constexpr int layout = BIND_END_LAYOUT;
    int size = (int)sizeof(ProcessEnd);
    int version = layout;

    std::atomic<unsigned> switches{0};
    std::atomic<unsigned long> main_ident{0};  // the interpreter's main thread
    std::atomic<bool> main_inside{false};      // the main thread is inside a driver
    std::atomic<bool> exiting{false};          // one end only

    std::mutex m;  // everything below
    std::condition_variable changed;
    Phase phase = Phase::running;
    int code = 1;
    bool first_printed = false, main_told = false, main_done = false, joined = false;
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

// ---- coming back to the interpreter -------------------------------------------------
// After `lock` was unlocked: takes the interpreter back, unless the
// interpreter is ending and this is not its main thread.  Not noexcept: if
// the interpreter still ends this thread with a forced unwind, it passes.
inline void come_back(detail::DriverLock& lock, PyThreadState* state, bool main) {
    if (!main && ((record().switches.load(std::memory_order_seq_cst) & closing_bit) || finalizing()) &&
        !acting_main(self_ident())) {
        lock.back();
        park();
    }
    PyEval_RestoreThread(state);
    lock.back();
}

// Runs fn (no Python) with the interpreter released, outside any driver.
template <class Fn> void without_interpreter(Fn&& fn) {
    ProcessEnd& r = record();
    PyThreadState* state = PyEval_SaveThread();
    fn();
    r.outside_waits.serving.fetch_add(1, std::memory_order_seq_cst);
    come_back(r.outside_waits, state, self_ident() == r.main_ident.load(std::memory_order_relaxed));
}

// ---- ending ------------------------------------------------------------------------
inline void flush_python_streams() {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    const char* names[] = {"stdout", "stderr", "__stdout__", "__stderr__"};
    for (const char* name : names) {
        PyObject* stream = PySys_GetObject(const_cast<char*>(name));  // borrowed
        if (stream && stream != Py_None) {
            PyObject* res = PyObject_CallMethod(stream, const_cast<char*>("flush"), nullptr);
            Py_XDECREF(res);
            PyErr_Clear();
        }
    }
    PyErr_Restore(type, value, tb);
}

// The script's open Python files that hold written data (instrbind's
// _flush_files), where the process ends without the interpreter's own end.
inline void flush_python_files() {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyObject* ib = PyImport_ImportModule("instrbind");
    PyObject* res = ib ? PyObject_CallMethod(ib, const_cast<char*>("_flush_files"), nullptr) : nullptr;
    Py_XDECREF(res);
    Py_XDECREF(ib);
    PyErr_Clear();
    PyErr_Restore(type, value, tb);
}

// Closes the sessions owed a close, each under its driver's lock if that
// comes within `close_wait` (else the process ends with it open).  No Python.
inline void close_owed() {
    ProcessEnd& r = record();
    std::vector<Owed> owed;
    {
        std::lock_guard<std::mutex> g(r.m);
        owed.swap(r.owed);
    }
    for (const Owed& o : owed) {
        if (!o.lock->try_lock_for(close_wait)) continue;
        o.close(o.session);
        o.lock->unlock();
        o.lock->back();
    }
}

// The one end: owed sessions closed, stdout and stderr flushed (never every
// C stream: a thread reading stdin holds its lock for ever), the code; no
// C++ static destructors, as other threads may still be inside the frame.
[[noreturn]] inline void end_now(int code) {
    if (record().exiting.exchange(true)) park();
    close_owed();
    std::fflush(stdout);
    std::fflush(stderr);
#if defined(_WIN32)
    std::_Exit(code);
#else
    std::quick_exit(code);  // at_quick_exit handlers run (the simulator's journal)
#endif
}

inline int owed_code() {
    std::lock_guard<std::mutex> g(record().m);
    return record().code;
}

// The last step of the interpreter's shutdown (Py_AtExit): owed sessions are
// closed; after a failure the process ends with its code, also where the
// script caught the DriverExit or had finished before a thread failed.
inline void at_interpreter_end() {
    ProcessEnd& r = record();
    bool failed;
    {
        std::lock_guard<std::mutex> g(r.m);
        failed = r.phase == Phase::failed;
    }
    if (failed) end_now(owed_code());
    close_owed();
}

// Abandons the threads still running: the atexit handlers and streams with
// the interpreter, then the end.
inline void ender(void*) {
    ProcessEnd& r = record();
    {
        std::lock_guard<std::mutex> g(r.m);
        r.ender_ident = self_ident();
    }
    if (finalizing()) return;  // the interpreter ends the process itself
    PyGILState_Ensure();       // kept: the process ends here
    {
        std::lock_guard<std::mutex> g(r.m);
        r.ender_has_interpreter = true;
    }
    r.changed.notify_all();
    Py_AddPendingCall(park_main_pending, nullptr);  // the main thread runs no Python meanwhile
    PyObject* threading = PyImport_ImportModule("threading");
    PyObject* me = threading ? PyObject_CallMethod(threading, const_cast<char*>("current_thread"), nullptr) : nullptr;
    PyObject* name = me ? py::text("instrbind-end", 13) : nullptr;
    if (name) PyObject_SetAttrString(me, "name", name);
    Py_XDECREF(name);
    Py_XDECREF(me);
    Py_XDECREF(threading);
    PyErr_Clear();
    PyObject* atexit = PyImport_ImportModule("atexit");
    PyObject* res = atexit ? PyObject_CallMethod(atexit, const_cast<char*>("_run_exitfuncs"), nullptr) : nullptr;
    Py_XDECREF(res);
    Py_XDECREF(atexit);
    PyErr_Clear();
    flush_python_files();
    flush_python_streams();
    end_now(owed_code());
}

// When the process must be ended, or never (the interpreter's wait for
// threads is over).  Under r.m.
inline bool deadline(const ProcessEnd& r, Clock::time_point& at) {
    if (r.phase != Phase::failed) return false;
    if (r.main_done) {
        at = std::max(r.main_done_at, r.failed_at) + abandon_after;
        return true;
    }
    if (r.main_told || r.main_inside.load()) return false;  // its clean-up runs / it is busy
    at = r.main_hold ? std::max(r.failed_at, r.hold_since) + hold_limit
                     : std::max(r.failed_at, r.main_back_at) + abandon_after;
    return true;
}

// Whether the main thread is to be woken from a wait to be told.  Under r.m.
inline bool wants_wake(const ProcessEnd& r) {
    return r.wake_signal && r.phase == Phase::failed && r.first_printed && !r.main_told && !r.main_done &&
           !r.main_hold && !r.ender_has_interpreter && !r.main_inside.load();
}

inline void send_wake(const ProcessEnd& r) {
#if !defined(_WIN32)
    pthread_kill((pthread_t)r.main_ident.load(), r.wake_signal);
#else
    (void)r;
#endif
}

// A native thread that touches the interpreter only to end the process.
inline void watchdog(void*) {
    ProcessEnd& r = record();
    std::unique_lock<std::mutex> g(r.m);
    Clock::time_point next_wake = r.failed_at + wake_first;
    for (;;) {
        if (r.joined) {
            r.watchdog_running = false;
            return;
        }
        const Clock::time_point now = Clock::now();
        Clock::time_point at, until = now + wake_every;  // main_inside is not notified
        const bool due = deadline(r, at);
        if (due && now >= at) break;
        if (due) until = std::min(until, at);
        if (wants_wake(r)) {
            if (now >= next_wake) {
                r.wake_joins = now >= r.failed_at + wake_joins_after;
                send_wake(r);
                next_wake = now + wake_every;
            }
            until = std::min(until, next_wake);
        }
        r.changed.wait_until(g, until);
    }
    PyThread_start_new_thread(ender, nullptr);
    if (r.changed.wait_for(g, interpreter_grace, [&] { return r.ender_has_interpreter; }))
        r.changed.wait_for(g, atexit_grace, [] { return false; });  // the ender ends the process
    int code = r.code;
    g.unlock();
    end_now(code);
}

// ---- the failure's transitions -------------------------------------------------------
// Claims the process's exit for a failure, before anything that takes time.
// A tentative claim (an instrument error that may be exempt) holds others
// off until release() or confirm().  Interpreter held.
inline void confirm_locked(ProcessEnd& r);
inline Claim claim(int exit_code, bool tentative) {
    ProcessEnd& r = record();
    std::unique_lock<std::mutex> g(r.m);
    if (r.phase == Phase::claiming) {  // an instrument error being looked at: its query's time
        g.unlock();
        without_interpreter([&] {
            std::unique_lock<std::mutex> w(r.m);
            const auto until = Clock::now() + first_line_wait;
            while (r.phase == Phase::claiming && Clock::now() < until) r.changed.wait_for(w, std::chrono::seconds(1));
        });
        g.lock();  // still claiming: its thread is stuck; this failure takes over
    }
    if (r.phase == Phase::failed) return Claim::later;
    r.code = exit_code;
    if (tentative) r.phase = Phase::claiming;
    else confirm_locked(r);
    return Claim::first;
}

inline void confirm_locked(ProcessEnd& r) {
    r.phase = Phase::failed;
    r.failed_at = Clock::now();
    r.switches.fetch_or(failed_bit);
    if (!r.watchdog_running) {
        r.watchdog_running = true;
        PyThread_start_new_thread(watchdog, nullptr);
    }
}

// A tentative claim whose instrument error was exempt.
inline void release() {
    ProcessEnd& r = record();
    {
        std::lock_guard<std::mutex> g(r.m);
        if (r.phase == Phase::claiming) r.phase = Phase::running;
    }
    r.changed.notify_all();
}

// The claim holds: the failure owns the exit; the watchdog starts.  False
// if another failure took over meanwhile (this one's query never returned
// in time): this one is then a later failure.
inline bool confirm() {
    ProcessEnd& r = record();
    bool held;
    {
        std::lock_guard<std::mutex> g(r.m);
        held = r.phase == Phase::claiming;
        if (held) confirm_locked(r);
    }
    r.changed.notify_all();
    return held;
}

inline int raise_in_main(void*);

// The owning failure's line is out; `args` (owned) make its DriverExit for
// the threads told later.  The main thread is told at its next Python step.
inline void first_line_out(PyObject* args) {
    ProcessEnd& r = record();
    bool main = self_ident() == r.main_ident.load();
    {
        std::lock_guard<std::mutex> g(r.m);
        r.first_args = args;
        r.first_printed = true;
        if (main) r.main_told = true;
    }
    r.changed.notify_all();
    if (!main) Py_AddPendingCall(raise_in_main, nullptr);
}

// A later failure, or a thread told, waits for the first line.
inline void after_first_line() {
    ProcessEnd& r = record();
    {
        std::lock_guard<std::mutex> g(r.m);
        if (r.first_printed) return;
    }
    without_interpreter([&] {
        std::unique_lock<std::mutex> g(r.m);
        r.changed.wait_for(g, first_line_wait, [&] { return r.first_printed; });
    });
}

// The first failure's DriverExit, made anew for this thread.
inline void set_first_exit() {
    ProcessEnd& r = record();
    PyObject* args;
    int code;
    {
        std::lock_guard<std::mutex> g(r.m);
        args = r.first_args;
        code = r.code;
    }
    PyObject* e = args ? PyObject_CallObject(r.exit_type, args) : PyObject_CallFunction(r.exit_type, const_cast<char*>("i"), code);
    if (e) {
        PyErr_SetObject((PyObject*)Py_TYPE(e), e);
        Py_DECREF(e);
    }
}

// A fork child made from a worker thread has no interpreter shutdown: when
// its main thread ends (its thread state is cleared), the child ends with
// the code owed.
inline void child_main_ended(PyObject*) {
    flush_python_streams();
    end_now(owed_code());
}
inline void end_with_this_thread() {
    PyObject* d = PyThreadState_GetDict();
    PyObject* sentinel = d ? PyCapsule_New(&record(), "instrbind.child_main", child_main_ended) : nullptr;
    if (!sentinel || PyDict_SetItemString(d, "instrbind.child_main", sentinel) < 0) PyErr_Clear();
    Py_XDECREF(sentinel);
}

// A failing session is owed a close at the end (once, however many threads
// fail on it); a session the script closes itself is owed none.
inline void owe_close(ViStatus(_VI_FUNC* close)(ViSession), detail::DriverLock* lock, ViSession session) {
    ProcessEnd& r = record();
    std::lock_guard<std::mutex> g(r.m);
    for (const Owed& o : r.owed)
        if (o.close == close && o.session == session) return;
    r.owed.push_back(Owed{close, lock, session});
}
inline void owe_no_close(ViStatus(_VI_FUNC* close)(ViSession), ViSession session) {
    ProcessEnd& r = record();
    std::lock_guard<std::mutex> g(r.m);
    for (auto it = r.owed.begin(); it != r.owed.end();)
        it = it->close == close && it->session == session ? r.owed.erase(it) : it + 1;
}

// The main thread goes into a driver, and comes out of it.
inline void main_inside_driver(bool inside) { record().main_inside.store(inside, std::memory_order_relaxed); }

// This thread has had the failure's DriverExit (its own, or told): its later
// calls reach the driver.  Interpreter held.
inline void mark_told() {
    ProcessEnd& r = record();
    if (self_ident() == r.main_ident.load()) {
        bool child;
        {
            std::lock_guard<std::mutex> g(r.m);
            r.main_told = true;
            child = r.forked_from_worker;
        }
        r.changed.notify_all();
        if (child) end_with_this_thread();
        return;
    }
    PyObject* d = PyThreadState_GetDict();  // borrowed; this thread's own
    if (d && PyDict_SetItemString(d, "instrbind.told", Py_True) < 0) PyErr_Clear();
}

// A worker thread's depth of clean-up blocks, in its thread-state dict.
inline long worker_hold() {
    PyObject* d = PyThreadState_GetDict();
    PyObject* n = d ? PyDict_GetItemString(d, "instrbind.hold") : nullptr;  // borrowed
    return n ? PyLong_AsLong(n) : 0;
}

// Whether this thread is yet to be told of the failure (marking it told).
inline bool told_now() {
    ProcessEnd& r = record();
    if (self_ident() == r.main_ident.load()) {
        bool tell;
        {
            std::lock_guard<std::mutex> g(r.m);
            tell = r.phase == Phase::failed && !r.main_told && !r.main_done && !r.main_hold;
            r.main_told = r.main_told || tell;
        }
        if (tell) r.changed.notify_all();
        if (tell && r.forked_from_worker) end_with_this_thread();
        return tell;
    }
    {
        std::lock_guard<std::mutex> g(r.m);
        if (r.phase != Phase::failed || self_ident() == r.ender_ident) return false;
    }
    PyObject* d = PyThreadState_GetDict();
    if (!d || PyDict_GetItemString(d, "instrbind.told") || worker_hold() > 0) return false;
    if (PyDict_SetItemString(d, "instrbind.told", Py_True) < 0) PyErr_Clear();
    return true;
}

// Where the main thread is may take its DriverExit: not inside the standard
// library's threading, queue or logging code, where an exception between a
// lock's acquire and its release would leave the lock held for ever.  But:
// the wait in threading's Condition.wait is inside its try; a join() is let
// return first, unless `joins` -- at a Python step (`step`) in join itself
// its wait is over, and a thread's _stop begins once the lock is released.
inline bool may_raise_at(PyFrameObject* frame, bool joins, bool step) {
    if (!frame) return true;
#if PY_VERSION_HEX >= 0x03090000
    PyObject* code = (PyObject*)PyFrame_GetCode(frame);
#else
    PyObject* code = (PyObject*)frame->f_code;
    Py_INCREF(code);
#endif
    PyObject* file = PyObject_GetAttrString(code, "co_filename");
    PyObject* fn = PyObject_GetAttrString(code, "co_name");
    Py_DECREF(code);
    std::string path = file ? py::c_str(file) ? py::c_str(file) : "" : "";
    std::string name = fn ? py::c_str(fn) ? py::c_str(fn) : "" : "";
    Py_XDECREF(file);
    Py_XDECREF(fn);
    PyErr_Clear();
    std::replace(path.begin(), path.end(), '\\', '/');
    const std::size_t slash = path.rfind('/');
    const std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash);
    const bool in_threading = base == "threading.py";
    const bool in_library = in_threading || base == "queue.py" || base == "Queue.py" ||
                            (base == "__init__.py" && dir.size() >= 8 && dir.compare(dir.size() - 8, 8, "/logging") == 0);
    if (!in_library) return true;
    if (in_threading && name == "_stop") return true;
#if BIND_PY3
    if (in_threading && name == "join") return joins || step;  // 3's join holds no lock of its own
#else
    if (in_threading && name == "join") return false;  // 2.7's holds the thread's condition
    (void)step;
#endif
    if (in_threading && name == "_wait_for_tstate_lock") return joins;
#if PY_VERSION_HEX < 0x030B0000
    if (in_threading && name == "wait") return frame->f_iblock > 0;
#else
    if (in_threading && name == "wait") return true;
#endif
    return false;
}

enum class Told { now, not_here, no };

// Tells the main thread, at `frame`, of the failure: Told::now with its
// DriverExit set; not_here where it may not be raised; no where nothing is
// to be told (told already, finished, in a clean-up block).
inline Told tell_main(PyFrameObject* frame, bool joins, bool step) {
    ProcessEnd& r = record();
    park_main_if_ending();
    {
        std::lock_guard<std::mutex> g(r.m);
        if (r.phase != Phase::failed || r.main_done || r.main_told || r.main_hold) return Told::no;
    }
    if (!may_raise_at(frame, joins, step)) return Told::not_here;
    {
        std::lock_guard<std::mutex> g(r.m);
        if (r.main_done || r.main_told || r.main_hold) return Told::no;
        r.main_told = true;
    }
    r.changed.notify_all();
    if (r.forked_from_worker) end_with_this_thread();
    set_first_exit();
    return Told::now;
}

// Runs in the main thread at its next Python step.
inline int raise_in_main(void*) {
    switch (tell_main(PyEval_GetFrame(), false, true)) {
    case Told::now: return -1;
    case Told::not_here: Py_AddPendingCall(raise_in_main, nullptr); return 0;  // at a later step
    case Told::no: return 0;
    }
    return 0;
}

// The wake signal's Python handler (signum, frame): as Ctrl-C, it raises in
// the main thread out of the wait it interrupted.
inline PyObject* wake_handler(PyObject*, PyObject*) {
    ProcessEnd& r = record();
    bool joins;
    {
        std::lock_guard<std::mutex> g(r.m);
        joins = r.wake_joins;
    }
    switch (tell_main(PyEval_GetFrame(), joins, false)) {
    case Told::now: return nullptr;
    case Told::not_here: Py_AddPendingCall(raise_in_main, nullptr); break;  // at a later step
    case Told::no: break;
    }
    Py_RETURN_NONE;
}

// instrbind.cleanup's switch, _hold(True) as a block begins and
// _hold(False) as it ends: at the end of the outermost block, a failure the
// thread was not told of is raised (DriverExit set, null returned).
inline PyObject* hold(PyObject*, PyObject* on) {
    const int begins = PyObject_IsTrue(on);
    if (begins < 0) return nullptr;
    ProcessEnd& r = record();
    const bool main = self_ident() == r.main_ident.load();
    long depth;
    if (main) {
        std::lock_guard<std::mutex> g(r.m);
        if (begins && r.main_hold++ == 0) r.hold_since = Clock::now();
        if (!begins && r.main_hold > 0) --r.main_hold;
        depth = r.main_hold;
    } else {
        PyObject* d = PyThreadState_GetDict();
        depth = std::max(0L, worker_hold() + (begins ? 1 : -1));
        PyObject* n = PyLong_FromLong(depth);
        if (!d || !n || PyDict_SetItemString(d, "instrbind.hold", n) < 0) {
            Py_XDECREF(n);
            return nullptr;
        }
        Py_DECREF(n);
    }
    r.changed.notify_all();
    if (begins || depth > 0) Py_RETURN_NONE;
    if (main) {
        if (r.switches.load() & failed_bit) after_first_line();
        if (tell_main(nullptr, true, true) == Told::now) return nullptr;
        Py_RETURN_NONE;
    }
    if (!(r.switches.load() & failed_bit) || !told_now()) Py_RETURN_NONE;
    after_first_line();
    set_first_exit();
    return nullptr;
}

// Before a driver call, once a failure or the interpreter's end is under
// way: false with DriverExit set if this thread is to be told now.
inline bool call_goes_ahead(unsigned w) {
    if ((w & closing_bit) && !acting_main(self_ident())) {
        PyEval_SaveThread();  // the interpreter is ending: never taken back
        park();
    }
    if ((w & failed_bit) && told_now()) {
        after_first_line();
        set_first_exit();
        return false;
    }
    return true;
}

// The main thread came back from a driver after a failure.
inline void main_back() {
    ProcessEnd& r = record();
    {
        std::lock_guard<std::mutex> g(r.m);
        r.main_back_at = Clock::now();
    }
    r.changed.notify_all();
}

// ---- the interpreter's hooks ---------------------------------------------------------
// The interpreter calls threading._shutdown once the main thread's script
// has ended, to wait for the other threads: this stands in front of it.
inline PyObject* shutdown_hook(PyObject* original, PyObject*) {
    ProcessEnd& r = record();
    park_main_if_ending();  // the ender runs the atexit handlers
    {
        std::lock_guard<std::mutex> g(r.m);
        if (!r.main_done) r.main_done_at = Clock::now();
        r.main_done = true;
    }
    r.changed.notify_all();
    PyObject* res = PyObject_CallObject(original, nullptr);
    park_main_if_ending();
    {
        std::lock_guard<std::mutex> g(r.m);
        r.joined = true;
    }
    r.changed.notify_all();
    return res;
}

// An atexit handler: from here on no thread but the main one takes the
// interpreter back from a driver; those already on their way are let in.
inline PyObject* close_gate(PyObject*, PyObject*) {
    ProcessEnd& r = record();
    r.switches.fetch_or(closing_bit, std::memory_order_seq_cst);
    std::vector<detail::DriverLock*> locks;
    {
        std::lock_guard<std::mutex> g(r.m);
        locks = r.locks;
    }
    locks.push_back(&r.outside_waits);
#if BIND_PY2
    flush_python_files();  // 2.7's files are C streams, which the end no longer flushes all of
#endif
    Py_BEGIN_ALLOW_THREADS
    const auto until = Clock::now() + in_flight_wait;
    for (detail::DriverLock* l : locks)
        while (l->in_flight() && Clock::now() < until) std::this_thread::sleep_for(milliseconds(1));
    Py_END_ALLOW_THREADS
    Py_RETURN_NONE;
}

// instrbind.trace(on) switches the trace bit through this.
inline PyObject* set_trace(PyObject*, PyObject* on) {
    int v = PyObject_IsTrue(on);
    if (v < 0) return nullptr;
    if (v) record().switches.fetch_or(trace_bit);
    else record().switches.fetch_and(~(unsigned)trace_bit);
    Py_RETURN_NONE;
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
    r.first_printed = r.main_told = r.main_done = r.joined = false;
    r.watchdog_running = r.ender_has_interpreter = false;
    r.ender_ident = 0;
    r.main_hold = 0;
    r.wake_joins = false;
    r.first_args = nullptr;  // the parent's: left as it is
    r.owed.clear();
}

// The main thread's ident as threading knows it (2.7: the _MainThread that
// threading._shutdown belongs to), whichever thread imports us.
inline unsigned long main_thread_ident(PyObject* threading) {
#if BIND_PY3
    PyObject* main = PyObject_CallMethod(threading, const_cast<char*>("main_thread"), nullptr);
#else
    PyObject* shutdown = PyObject_GetAttrString(threading, "_shutdown");
    PyObject* main = shutdown ? PyObject_GetAttrString(shutdown, "__self__") : nullptr;
    Py_XDECREF(shutdown);
#endif
    PyObject* ident = main ? PyObject_GetAttrString(main, "ident") : nullptr;
    unsigned long id = ident && ident != Py_None ? PyLong_AsUnsignedLongMask(ident) : 0;
    Py_XDECREF(ident);
    Py_XDECREF(main);
    PyErr_Clear();
    return id ? id : self_ident();
}

// A C function as a Python callable (self: `data`, may be null).
inline PyObject* c_function(PyMethodDef* def, PyObject* data) { return PyCFunction_NewEx(def, data, nullptr); }

// The wake signal: a real-time signal with a Python handler of ours, where
// nothing handles it yet and this is the main thread (the only one that may
// set handlers).
inline void install_wake(ProcessEnd* p) {
#if !defined(_WIN32)
    static PyMethodDef wake_def = {"instrbind_wake", (PyCFunction)(void (*)())wake_handler, METH_VARARGS,
                                   "Tells the main thread of another thread's failure, out of a wait."};
    if (self_ident() != p->main_ident.load()) return;
    const int sig = SIGRTMAX - 2;
    PyObject* signal = PyImport_ImportModule("signal");
    PyObject* current = signal ? PyObject_CallMethod(signal, const_cast<char*>("getsignal"), const_cast<char*>("i"), sig) : nullptr;
    PyObject* dfl = signal ? PyObject_GetAttrString(signal, "SIG_DFL") : nullptr;
    const bool unused = current && dfl && PyObject_RichCompareBool(current, dfl, Py_EQ) == 1;
    PyObject* handler = unused ? c_function(&wake_def, nullptr) : nullptr;
    PyObject* res = handler ? PyObject_CallMethod(signal, const_cast<char*>("signal"), const_cast<char*>("iO"), sig, handler) : nullptr;
    if (res) p->wake_signal = sig;
    Py_XDECREF(res);
    Py_XDECREF(handler);
    Py_XDECREF(dfl);
    Py_XDECREF(current);
    Py_XDECREF(signal);
    PyErr_Clear();
#else
    (void)p;
#endif
}

// Everything the first module sets up once: the interpreter's hooks, the
// failure class, the trace switch.
inline bool install(ProcessEnd* p) {
    static PyMethodDef shutdown_def = {"_shutdown", (PyCFunction)(void (*)())shutdown_hook, METH_NOARGS,
                                       "Waits for the other threads; notes that the main thread has finished."};
    static PyMethodDef gate_def = {"instrbind_gate", (PyCFunction)(void (*)())close_gate, METH_NOARGS,
                                   "Keeps threads coming back from drivers out of the interpreter's end."};
    static PyMethodDef trace_def = {"_set_trace", (PyCFunction)(void (*)())set_trace, METH_O,
                                    "Switches the driver-call trace."};
    static PyMethodDef hold_def = {"_hold", (PyCFunction)(void (*)())hold, METH_O,
                                   "A clean-up block begins (True) or ends (False)."};
    static PyMethodDef set_record_def = {"_set_record", (PyCFunction)(void (*)())rec::set_record, METH_O,
                                         "Records the driver calls into this file (-1: stops)."};
    static PyMethodDef record_write_def = {"_record_write", (PyCFunction)(void (*)())rec::record_write, METH_O,
                                           "Writes a line of instrbind's own into the recording."};
    PyObject* threading = PyImport_ImportModule("threading");
    if (!threading) return false;
    p->main_ident.store(main_thread_ident(threading));
    PyObject* original = PyObject_GetAttrString(threading, "_shutdown");
    PyObject* hook = original ? c_function(&shutdown_def, original) : nullptr;
    if (hook) PyObject_SetAttrString(threading, "_shutdown", hook);
    Py_XDECREF(hook);
    Py_XDECREF(original);
    Py_DECREF(threading);
    PyErr_Clear();

    PyObject* atexit = PyImport_ImportModule("atexit");
    PyObject* gate = atexit ? c_function(&gate_def, nullptr) : nullptr;
    PyObject* res = gate ? PyObject_CallMethod(atexit, const_cast<char*>("register"), const_cast<char*>("O"), gate) : nullptr;
    Py_XDECREF(res);
    Py_XDECREF(gate);
    Py_XDECREF(atexit);
    PyErr_Clear();

    // instrbind.py beside the modules; plain SystemExit and no trace without it.
    p->exit_type = PyExc_SystemExit;
    Py_INCREF(p->exit_type);
    PyObject* ib = PyImport_ImportModule("instrbind");
    if (ib) {
        // _exit(code, status, ...) makes the DriverExit (in a pool's worker, one the pool hands back)
        PyObject* make = PyObject_GetAttrString(ib, "_exit");
        if (make && PyCallable_Check(make)) {
            Py_DECREF(p->exit_type);
            p->exit_type = make;  // kept for the process
            make = nullptr;
        }
        Py_XDECREF(make);
        PyErr_Clear();
        PyMethodDef* defs[] = {&trace_def, &hold_def, &set_record_def, &record_write_def};
        for (PyMethodDef* def : defs) {
            PyObject* fn = c_function(def, nullptr);
            if (fn) PyObject_SetAttrString(ib, def->ml_name, fn);
            Py_XDECREF(fn);
        }
        PyObject* on = PyObject_CallMethod(ib, const_cast<char*>("tracing"), nullptr);
        if (on && PyObject_IsTrue(on) == 1) p->switches.fetch_or(trace_bit);
        Py_XDECREF(on);
        // INSTRBIND_RECORD, or a recording begun before this import
        PyObject* rec = PyObject_CallMethod(ib, const_cast<char*>("_start_recording"), nullptr);
        Py_XDECREF(rec);
        // ib kept for the process: its functions (_exit, cleanup) outlive a tidied
        // sys.modules, where 2.7 would clear the globals of a module freed
    }
    PyErr_Clear();
    install_wake(p);
    Py_AtExit(at_interpreter_end);
#if !defined(_WIN32)
    pthread_atfork(nullptr, nullptr, after_fork_child);
#endif
    return true;
}

// Where the record is kept: with the interpreter, where no script tidies.
inline PyObject* interpreter_dict() {
#if PY_VERSION_HEX >= 0x03080000
    return PyInterpreterState_GetDict(PyThreadState_Get()->interp);  // borrowed
#else
    return PyModule_GetDict(PyImport_AddModule(const_cast<char*>("__builtin__")));  // borrowed
#endif
}

// Finds the process's record, or makes it (the first module imported), and
// counts this module's driver lock in.
inline bool attach(detail::DriverLock& lock) {
    if (record_ptr()) return true;
    const char* key = BIND_END_KEY(BIND_END_LAYOUT);
    const char* capsule_name = "instrbind.process_end";
    PyObject* keep = interpreter_dict();
    if (!keep) return false;
    PyObject* capsule = PyDict_GetItemString(keep, key);  // borrowed
    ProcessEnd* p = nullptr;
    if (capsule) {
        p = static_cast<ProcessEnd*>(PyCapsule_GetPointer(capsule, capsule_name));
        if (!p) return false;
        if (p->size != (int)sizeof(ProcessEnd) || p->version != ProcessEnd::layout) {
            PyErr_SetString(PyExc_ImportError, "another build of the instrument modules is already loaded");
            return false;
        }
    } else {
        p = new ProcessEnd;  // as long as the process
        record_ptr() = p;
        capsule = PyCapsule_New(p, capsule_name, nullptr);
        bool ok = capsule && PyDict_SetItemString(keep, key, capsule) == 0 && install(p);
        Py_XDECREF(capsule);
        if (!ok) {
            record_ptr() = nullptr;
            return false;  // p stays: the hooks may hold it
        }
    }
    record_ptr() = p;
    std::lock_guard<std::mutex> g(p->m);
    p->locks.push_back(&lock);
    return true;
}

}  // namespace end
}  // namespace bind

#endif
