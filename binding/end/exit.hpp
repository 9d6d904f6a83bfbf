// Ending the process: the owed closes, the one end, the interpreter's last
// step, and when no thread ends it in time, the watchdog and the ender.
//
// The watchdog (a native thread, started by the claim) wakes a main thread
// that is not told yet from a wait (`wake_first` after the failure, again
// every `wake_every`), as Ctrl-C would: a signal of ours whose Python
// handler raises the DriverExit.  It ends the process `abandon_after`
// after the later of the failure and the main thread's end; or, if the
// main thread has not finished, `abandon_after` after the later of the
// failure and the main thread's last return from a driver, while it has
// not been told and is not inside a driver (inside a clean-up block:
// `hold_limit` after the block began).  It stands down when the
// interpreter's wait for threads is over.  Ending (the ender thread):
// the main thread parked at its next Python step, the atexit handlers
// once, the script's open files and the streams flushed, with the
// interpreter (within `interpreter_grace`), the owed sessions closed, then
// the code, without static destructors.
#ifndef BIND_END_EXIT_HPP
#define BIND_END_EXIT_HPP

#if !defined(_WIN32)
#include <pthread.h>
#include <signal.h>
#endif

#include "shared.hpp"

namespace bind {
namespace end {

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
        o.lock->back_unheld();
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
    change([&] {
        r.ender_has_interpreter = true;
    });
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
    if (r.progress >= Main::done) {
        at = std::max(r.main_done_at, r.failed_at) + abandon_after;
        return true;
    }
    if (r.progress == Main::told || r.main_inside.load()) return false;  // its clean-up runs / it is busy
    at = r.main_hold ? std::max(r.failed_at, r.hold_since) + hold_limit
                     : std::max(r.failed_at, r.main_back_at) + abandon_after;
    return true;
}

// Whether the main thread is to be woken from a wait to be told.  Under r.m.
inline bool wants_wake(const ProcessEnd& r) {
    return r.wake_signal && r.phase == Phase::failed && r.first_printed && r.progress == Main::running &&
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
        if (r.progress == Main::joined) {
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

}  // namespace end
}  // namespace bind

#endif
