// The driver status check shared by the modules that have one.
//
// status >= 0: return.  An instrument-error status: read the instrument's
// error and print the "Inst. Error" line; any other negative status: print
// the "Driver Error" line with the driver's text.  Then close the session and
// end the process with the status -- except for the exempt instrument code.
//
// The process ends the way sys.exit(code) ends it: SystemExit is raised in
// the calling thread, so the script's finally blocks, with exits and atexit
// handlers run and its files are flushed.  A check on another thread unwinds
// that thread, then raises the same SystemExit in the main thread.  The
// first failure's exit code is kept whatever the script does with it.
#ifndef BIND_STATUS_HPP
#define BIND_STATUS_HPP

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "compat.hpp"
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

// The thread that imported the module: the main thread unless told otherwise.
inline unsigned long& importing_thread() {
    static unsigned long ident = 0;
    return ident;
}

inline bool on_main_thread() {
    PyObject* threading = PyDict_GetItemString(PyImport_GetModuleDict(), "threading");  // borrowed
    if (!threading) return (unsigned long)PyThread_get_thread_ident() == importing_thread();
    PyObject* current = PyObject_CallMethod(threading, const_cast<char*>("current_thread"), nullptr);
#if BIND_PY3
    PyObject* main = PyObject_CallMethod(threading, const_cast<char*>("main_thread"), nullptr);
    bool is_main = current && current == main;
    Py_XDECREF(main);
#else
    PyObject* main_class = PyObject_GetAttrString(threading, "_MainThread");
    bool is_main = current && main_class && PyObject_IsInstance(current, main_class) == 1;
    Py_XDECREF(main_class);
#endif
    Py_XDECREF(current);
    PyErr_Clear();
    return is_main;
}

// The exit the process owes since a check fired; `pending` while a check on
// another thread waits for the main thread to take it.
struct OwedExit {
    enum { none, pending, taken, forced };
    std::atomic<int> state{none};
    int code = 0;
    std::atomic<bool> thread_ended{false};  // the thread the check fired on is gone
};
inline OwedExit& owed() {
    static OwedExit o;
    return o;
}

// Runs in the main thread at its next Python step (a join() on the failed
// thread returns first).
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

inline int raise_in_main(void*) {
    // Python 3.8: not inside threading's own code, where an exception between
    // a join's lock acquire and release would leave the lock held for ever.
#if BIND_PY3 && PY_VERSION_HEX < 0x03090000
    if (in_threading_module()) {
        Py_AddPendingCall(raise_in_main, nullptr);  // at a later step
        return 0;
    }
#endif
    int expected = OwedExit::pending;
    if (!owed().state.compare_exchange_strong(expected, OwedExit::taken)) return 0;
    PyObject* code = PyLong_FromLong(owed().code);
    PyErr_SetObject(PyExc_SystemExit, code);
    Py_XDECREF(code);
    return -1;
}

// Last step of the interpreter's shutdown: a script that caught the
// SystemExit, or had finished before a thread failed, still ends with the
// status's code, never with 0.
inline void keep_exit_code() {
    std::fflush(nullptr);
    std::exit(owed().code);
}

inline void thread_gone(PyObject*) { owed().thread_ended.store(true); }

// Tells the watchdog when the calling thread ends: its thread-state dict,
// and a capsule in it, are released then.
inline void watch_thread_end() {
    PyObject* dict = PyThreadState_GetDict();  // borrowed
    PyObject* capsule = PyCapsule_New(&owed(), nullptr, thread_gone);
    if (!dict || !capsule || PyDict_SetItemString(dict, "instrbind: failed thread", capsule) < 0)
        owed().thread_ended.store(true);
    Py_XDECREF(capsule);
    PyErr_Clear();
}

inline bool finalizing() {
#if BIND_PY2
    return !Py_IsInitialized();  // cleared as the shutdown begins
#elif PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing();
#else
    return _Py_IsFinalizing();
#endif
}

// If the main thread never takes the exit (blocked in a wait that the failed
// thread would have ended), the process ends anyway, five seconds after the
// failed thread is gone: atexit handlers run and the streams are flushed.
// A native thread that touches the interpreter only then.
inline void watchdog(void*) {
    using namespace std::chrono;
    auto since = steady_clock::now();
    for (;;) {
        std::this_thread::sleep_for(milliseconds(50));
        if (owed().state.load() != OwedExit::pending) return;  // the main thread has it
        if (!owed().thread_ended.load()) since = steady_clock::now();
        else if (steady_clock::now() - since > seconds(5)) break;
    }
    int expected = OwedExit::pending;
    if (!owed().state.compare_exchange_strong(expected, OwedExit::forced)) return;
    if (!finalizing()) {
        PyGILState_Ensure();  // kept: the process ends here
        call_method("atexit", "_run_exitfuncs");
        flush_python_streams();
    }
    keep_exit_code();
}

[[noreturn]] inline void end_process(ViStatus status) {
    int code = exit_code(status);
    bool main = on_main_thread();
    int expected = OwedExit::none;
    if (owed().state.compare_exchange_strong(expected, main ? OwedExit::taken : OwedExit::pending)) {
        owed().code = code;  // read by the others only after this, under the interpreter lock
        Py_AtExit(keep_exit_code);
        if (!main) {
            watch_thread_end();
            Py_AddPendingCall(raise_in_main, nullptr);
            PyThread_start_new_thread(watchdog, nullptr);
        }
    }
    PyObject* value = PyLong_FromLong(code);
    PyErr_SetObject(PyExc_SystemExit, value);
    Py_XDECREF(value);
    throw error();
}

}  // namespace detail

inline void check_status(const CheckPolicy& p, ViSession session, ViStatus status) {
    if (status >= 0) return;
    detail::flush_python_streams();
    ViChar message[256];
    message[0] = 0;
    if (status >= p.instrument_first && status <= p.instrument_last) {
        ViInt32 code = 0;
        p.error_query(session, &code, message);
        message[255] = 0;
        std::printf("        Inst. Error : %lx, %s\n", (unsigned long)(uint32_t)code, message);
        std::fflush(stdout);
        if (p.exempt_261 && code == -261) return;
    } else {
        p.error_message(session, status, message);
        message[255] = 0;
        std::printf("        Driver Error : %lx, %s\n", (unsigned long)(uint32_t)status, message);
        std::fflush(stdout);
    }
    p.close(session);
    detail::end_process(status);
}

}  // namespace bind

#endif
