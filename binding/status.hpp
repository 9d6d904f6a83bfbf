// The driver status check shared by the modules that have one.
//
// status >= 0: return.  An instrument-error status: read the instrument's
// error and print the "Inst. Error" line; any other negative status: print
// the "Driver Error" line with the driver's text.  Then close the session and
// end the process with the status -- except for the exempt instrument code.
//
// The process ends the way sys.exit(code) ends it, and it is the process's
// end, not a module's: one record of the exit owed is shared by every module
// loaded (each carries its own copy of this frame; the record lives with the
// interpreter, in sys.modules['_instrbind']).  The first failure anywhere
// claims it atomically and decides the code; its line is the first printed.
// The failing thread unwinds with SystemExit, every other Python thread gets
// a SystemExit at its next Python step, the main thread one with the code --
// unless its script has already ended, when the interpreter's wait for the
// other threads goes on uncut.  Finally blocks, with exits and atexit
// handlers run and files are flushed.  The process never hangs: threads still
// alive 5 s after the main thread has finished (or 5 s after the failure, if
// the main thread never runs Python again) are abandoned; atexit handlers
// run, the streams are flushed and the process ends with the code.
#ifndef BIND_STATUS_HPP
#define BIND_STATUS_HPP

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "compat.hpp"
#include "driver.hpp"
#include "pythread.h"
#include "vector.hpp"
#include "visatypes.h"

namespace bind {

struct CheckPolicy {
    ViStatus(_VI_FUNC* error_query)(ViSession, ViInt32*, ViChar*);
    ViStatus(_VI_FUNC* error_message)(ViSession, ViStatus, ViChar*);
    ViStatus(_VI_FUNC* close)(ViSession);
    ViStatus instrument_first, instrument_last;  // instrument-error statuses, inclusive
    bool exempt_261;                             // instrument code -261 lets the call go on
};

// The process exit code for a failing status: the status itself, except
// where the platform would show it as success (POSIX keeps the low 8 bits,
// and a status such as 0xBFFC0800 would read as 0): then 1.
inline int exit_code(ViStatus status) {
#if defined(_WIN32)
    return status;
#else
    return (status & 0xFF) ? status : 1;
#endif
}

namespace detail {

// ---- the exit the process owes, shared by every module -----------------------------
struct ProcessExit {
    static constexpr int layout = 2;  // changes with the fields below
    int size = (int)sizeof(ProcessExit);
    int version = layout;
    unsigned long main_ident = 0;  // the interpreter's main thread
    std::chrono::steady_clock::time_point epoch = std::chrono::steady_clock::now();
    std::atomic<int> claimed{0};             // 1 once a failure owns the exit
    std::atomic<int> code{1};
    std::atomic<int> failed_at{0};           // ms after epoch (+1); 0: not yet
    std::atomic<int> main_done_at{0};        // the main thread's script has ended
    std::atomic<bool> first_printed{false};  // the owning failure's line is out
    std::atomic<bool> main_raised{false};    // the main thread has had its SystemExit
    std::atomic<bool> threads_joined{false};  // the interpreter's wait for threads is over
    std::atomic<bool> exiting{false};        // someone calls exit(): nobody else may
};

inline ProcessExit*& shared_exit() {
    static ProcessExit* p = nullptr;  // set when the module is imported
    return p;
}
inline ProcessExit& owed() { return *shared_exit(); }

inline int now_ms() {
    using namespace std::chrono;
    return (int)duration_cast<milliseconds>(steady_clock::now() - owed().epoch).count() + 1;
}

inline void call_method(const char* module, const char* method) {
    PyObject* m = PyImport_ImportModule(const_cast<char*>(module));
    PyObject* r = m ? PyObject_CallMethod(m, const_cast<char*>(method), nullptr) : nullptr;
    Py_XDECREF(r);
    Py_XDECREF(m);
    PyErr_Clear();
}

// What the script printed through Python's own streams goes out first,
// through Python: on Windows the interpreter's C runtime may not be the
// module's, and only Python can flush its buffers.  The original streams
// too, in case the script replaced sys.stdout.
inline void flush_python_streams() {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    const char* names[] = {"stdout", "stderr", "__stdout__", "__stderr__"};
    for (const char* name : names) {
        PyObject* stream = PySys_GetObject(const_cast<char*>(name));  // borrowed
        if (stream && stream != Py_None) {
            PyObject* r = PyObject_CallMethod(stream, const_cast<char*>("flush"), nullptr);
            Py_XDECREF(r);
            PyErr_Clear();
        }
    }
    PyErr_Restore(type, value, tb);
}

inline bool on_main_thread() { return (unsigned long)PyThread_get_thread_ident() == owed().main_ident; }

inline bool finalizing() {
#if BIND_PY2
    return !Py_IsInitialized();  // cleared as the shutdown begins
#elif PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing();
#else
    return _Py_IsFinalizing();
#endif
}

// The one exit() of the process: a second caller (the watchdog and the
// interpreter's own end meeting) waits for the first to end it.  Also the
// last step of the interpreter's shutdown (Py_AtExit): a script that caught
// the SystemExit, or had finished before a thread failed, still ends with the
// status's code, never with 0.
[[noreturn]] inline void exit_once() {
    if (owed().exiting.exchange(true))
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    std::fflush(nullptr);
    std::exit(owed().code.load());
}

// ---- the main thread ----------------------------------------------------------------
inline bool in_threading_module() {
    PyObject* frame = (PyObject*)PyEval_GetFrame();  // borrowed
    PyObject* code = frame ? PyObject_GetAttrString(frame, "f_code") : nullptr;
    PyObject* file = code ? PyObject_GetAttrString(code, "co_filename") : nullptr;
    const char* name = file ? py::c_str(file) : nullptr;
    bool inside = name && std::strstr(name, "threading.py") != nullptr;
    Py_XDECREF(file);
    Py_XDECREF(code);
    PyErr_Clear();
    return inside;
}

// Runs in the main thread at its next Python step (a join() on a thread
// returns first).
inline int raise_in_main(void*) {
    if (owed().main_done_at.load()) return 0;  // the script has ended: its wait for threads goes on
    // Python 3.8: not inside threading's own code, where an exception between
    // a join's lock acquire and release would leave the lock held for ever.
#if BIND_PY3 && PY_VERSION_HEX < 0x03090000
    if (in_threading_module()) {
        Py_AddPendingCall(raise_in_main, nullptr);  // at a later step
        return 0;
    }
#endif
    if (owed().main_raised.exchange(true)) return 0;
    PyObject* code = PyLong_FromLong(owed().code.load());
    PyErr_SetObject(PyExc_SystemExit, code);
    Py_XDECREF(code);
    return -1;
}

// The interpreter calls threading._shutdown once the main thread's script
// has ended, to wait for the other threads: this stands in front of it.
inline PyObject* shutdown_hook(PyObject* original, PyObject*) {
    int expected = 0;
    owed().main_done_at.compare_exchange_strong(expected, now_ms());
    PyObject* r = PyObject_CallObject(original, nullptr);
    owed().threads_joined.store(true);
    return r;
}

inline void hook_shutdown(PyObject* threading) {
    static PyMethodDef def = {"_shutdown", (PyCFunction)(void (*)())shutdown_hook, METH_NOARGS,
                              "Waits for the other threads; notes that the main thread has finished."};
    PyObject* original = PyObject_GetAttrString(threading, "_shutdown");
    PyObject* hook = original ? PyCFunction_NewEx(&def, original, nullptr) : nullptr;
    if (hook) PyObject_SetAttrString(threading, "_shutdown", hook);
    Py_XDECREF(hook);
    Py_XDECREF(original);
    PyErr_Clear();
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
    return id ? id : (unsigned long)PyThread_get_thread_ident();
}

// Finds the process's record, or makes it (the first module imported).
inline bool attach_process_exit() {
    if (shared_exit()) return true;
    const char* capsule_name = "_instrbind.process_exit";
    PyObject* modules = PyImport_GetModuleDict();
    PyObject* holder = PyDict_GetItemString(modules, "_instrbind");  // borrowed
    if (holder) {
        PyObject* capsule = PyObject_GetAttrString(holder, "process_exit");
        auto* p = capsule ? static_cast<ProcessExit*>(PyCapsule_GetPointer(capsule, capsule_name)) : nullptr;
        Py_XDECREF(capsule);
        if (!p) return false;
        if (p->size != (int)sizeof(ProcessExit) || p->version != ProcessExit::layout) {
            PyErr_SetString(PyExc_ImportError, "another build of the instrument modules is already loaded");
            return false;
        }
        shared_exit() = p;
        return true;
    }
    PyObject* threading = PyImport_ImportModule("threading");
    if (!threading) return false;
    auto* p = new ProcessExit;  // as long as the process
    p->main_ident = main_thread_ident(threading);
    holder = PyModule_New("_instrbind");
    PyObject* capsule = holder ? PyCapsule_New(p, capsule_name, nullptr) : nullptr;
    bool ok = capsule && PyModule_AddObject(holder, "process_exit", capsule) == 0;
    if (!ok) Py_XDECREF(capsule);
    ok = ok && PyDict_SetItemString(modules, "_instrbind", holder) == 0;
    Py_XDECREF(holder);
    if (ok) {
        shared_exit() = p;
        hook_shutdown(threading);
    } else {
        delete p;
    }
    Py_DECREF(threading);
    return ok;
}

// ---- ending ------------------------------------------------------------------------
// Abandons the threads still running: atexit handlers, streams, exit.  With
// the interpreter if it can be had within 3 s, without it otherwise.
inline void abandon(void*) {
    if (!finalizing()) {
        PyGILState_Ensure();  // kept: the process ends here
        call_method("atexit", "_run_exitfuncs");
        flush_python_streams();
    }
    exit_once();
}

// A native thread that touches the interpreter only when it must end the process.
inline void watchdog(void*) {
    using namespace std::chrono;
    ProcessExit& e = owed();
    for (;;) {
        std::this_thread::sleep_for(milliseconds(20));
        if (e.threads_joined.load()) return;  // the interpreter ends the process itself
        int now = now_ms(), done = e.main_done_at.load(), failed = e.failed_at.load();
        if (done ? now - std::max(done, failed) > 5000 : !e.main_raised.load() && now - failed > 5000) break;
    }
    PyThread_start_new_thread(abandon, nullptr);
    std::this_thread::sleep_for(seconds(3));
    if (e.exiting.exchange(true)) return;
    std::fflush(nullptr);
    std::_Exit(e.code.load());
}

// SystemExit at the next Python step of every thread but this one and the main.
inline void stop_other_threads() {
    PyThreadState* self = PyThreadState_Get();
    for (PyThreadState* t = PyInterpreterState_ThreadHead(self->interp); t; t = PyThreadState_Next(t))
        if (t != self && (unsigned long)t->thread_id != owed().main_ident) PyThreadState_SetAsyncExc(t->thread_id, PyExc_SystemExit);
}

// Claims the process's exit for this failure; false if another came first.
// The other threads are told at once: one that fails later clears what it
// was sent as it raises its own, so its finally blocks are never cut.
inline bool claim(ViStatus status) {
    int expected = 0;
    if (!owed().claimed.compare_exchange_strong(expected, 1)) return false;
    owed().code.store(exit_code(status));
    owed().failed_at.store(now_ms());
    stop_other_threads();
    return true;
}

// A later failure's line comes after the first one's (2 s at most).
inline void after_first_line() {
    if (!owed().claimed.load() || owed().first_printed.load()) return;
    Py_BEGIN_ALLOW_THREADS
    for (int i = 0; i < 2000 && !owed().first_printed.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Py_END_ALLOW_THREADS
}

[[noreturn]] inline void end_process(bool claimer) {
    ProcessExit& e = owed();
    bool main = on_main_thread();
    if (claimer) {
        Py_AtExit(exit_once);
        if (!main) Py_AddPendingCall(raise_in_main, nullptr);
        PyThread_start_new_thread(watchdog, nullptr);
    }
    if (main) e.main_raised.store(true);
    PyThreadState_SetAsyncExc(PyThreadState_Get()->thread_id, nullptr);  // this one's own is raised now
    PyObject* value = PyLong_FromLong(e.code.load());
    PyErr_SetObject(PyExc_SystemExit, value);
    Py_XDECREF(value);
    throw error();
}

}  // namespace detail

inline void check_status(const CheckPolicy& p, ViSession session, ViStatus status) {
    if (status >= 0) return;
    bool instrument = status >= p.instrument_first && status <= p.instrument_last;
    bool may_go_on = instrument && p.exempt_261;
    bool claimer = !may_go_on && detail::claim(status);  // before anything else
    detail::flush_python_streams();
    ViChar message[256];
    message[0] = 0;
    ViInt32 code = 0;
    if (instrument) bind::call(p.error_query, session, &code, message);
    else bind::call(p.error_message, session, status, message);
    message[255] = 0;
    if (may_go_on && code != -261) claimer = detail::claim(status);
    if (!claimer) detail::after_first_line();
    if (instrument) std::printf("        Inst. Error : %lx, %s\n", (unsigned long)(uint32_t)code, message);
    else std::printf("        Driver Error : %lx, %s\n", (unsigned long)(uint32_t)status, message);
    std::fflush(stdout);
    if (claimer) detail::owed().first_printed.store(true);
    if (may_go_on && code == -261) return;
    bind::call(p.close, session);
    detail::end_process(claimer);
}

}  // namespace bind

#endif
