// The failure's machine: one failure owns the process's exit, the others
// wait for its line; who is told of it, where and when.
//
//   Phase    running ──claim──▶ failed                 (a failure owns the exit)
//            running ──claim(tentative)──▶ claiming     (an instrument error that
//            claiming ──release──▶ running              may turn out exempt, -261)
//            claiming ──confirm──▶ failed
//
//   Main     running ──▶ told ──▶ done ──▶ joined       (only forward; told may
//                                                       be skipped)
//
// Other threads are told only at a call into the project: each one's next
// driver call raises the failure's DriverExit (once per thread).  Nothing is
// ever sent asynchronously to them.  The main thread is never told inside
// the standard library's threading, queue or logging code, where an
// exception between a lock's acquire and release would leave it held.
// A thread inside a clean-up block is told when its outermost block ends.
#ifndef BIND_END_FAILURE_HPP
#define BIND_END_FAILURE_HPP

#include "gate.hpp"

namespace bind {
namespace end {

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
    change([&] {
        if (r.phase == Phase::claiming) r.phase = Phase::running;
    });
}

// The claim holds: the failure owns the exit; the watchdog starts.  False
// if another failure took over meanwhile (this one's query never returned
// in time): this one is then a later failure.
inline bool confirm() {
    ProcessEnd& r = record();
    bool held;
    change([&] {
        held = r.phase == Phase::claiming;
        if (held) confirm_locked(r);
    });
    return held;
}

inline int raise_in_main(void*);

// The owning failure's line is out; `args` (owned) make its DriverExit for
// the threads told later.  The main thread is told at its next Python step.
inline void first_line_out(PyObject* args) {
    ProcessEnd& r = record();
    const bool main = self_ident() == r.main_ident.load();
    change([&] {
        r.first_args = args;
        r.first_printed = true;
        if (main) advance(r, Main::told);
    });
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
        bool child = false;
        change([&] {
            advance(r, Main::told);
            child = r.forked_from_worker;
        });
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
            tell = r.phase == Phase::failed && r.progress == Main::running && !r.main_hold;
            if (tell) advance(r, Main::told);
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
        if (r.phase != Phase::failed || r.progress != Main::running || r.main_hold) return Told::no;
    }
    if (!may_raise_at(frame, joins, step)) return Told::not_here;
    {
        std::lock_guard<std::mutex> g(r.m);
        if (r.progress != Main::running || r.main_hold) return Told::no;
        advance(r, Main::told);
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
    change([&] {
        r.main_back_at = Clock::now();
    });
}

}  // namespace end
}  // namespace bind

#endif
