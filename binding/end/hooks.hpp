// The interpreter's hooks, set once by the first module imported: the
// threads' wait at the script's end, the gate, the wake signal, the last
// step of the shutdown, the fork child; and attaching each module to the
// process's record.
#ifndef BIND_END_HOOKS_HPP
#define BIND_END_HOOKS_HPP

#if !defined(_WIN32)
#include <signal.h>
#endif

#include "../fork.hpp"
#include "../record.hpp"
#include "../trace.hpp"
#include "failure.hpp"

namespace bind {
namespace end {

// The interpreter calls threading._shutdown once the main thread's script
// has ended, to wait for the other threads: this stands in front of it.
inline PyObject* shutdown_hook(PyObject* original, PyObject*) {
    ProcessEnd& r = record();
    park_main_if_ending();  // the ender runs the atexit handlers
    change([&] {
        if (r.progress < Main::done) r.main_done_at = Clock::now();
        advance(r, Main::done);
    });
    PyObject* res = PyObject_CallObject(original, nullptr);
    park_main_if_ending();
    change([&] {
        advance(r, Main::joined);
    });
    return res;
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
    static PyMethodDef trace_def = {"_set_trace", (PyCFunction)(void (*)())trace::set_trace, METH_O,
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
    on_fork_child(after_fork_child);
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
    PyObject* keep = interpreter_dict();
    if (!keep) return false;
    PyObject* capsule = PyDict_GetItemString(keep, record_key);  // borrowed
    ProcessEnd* p = nullptr;
    if (capsule) {
        const char* theirs = PyCapsule_GetName(capsule);
        if (!PyCapsule_IsValid(capsule, theirs) || !theirs || std::strcmp(theirs, record_name) != 0) {
            PyErr_Format(PyExc_ImportError,
                         "another build of the instrument modules is already loaded (its process record: %s; "
                         "this module's: %s): import the modules of one build only",
                         theirs ? theirs : "?", record_name);
            return false;
        }
        p = static_cast<ProcessEnd*>(PyCapsule_GetPointer(capsule, record_name));
        if (!p) return false;
        if (p->size != (int)sizeof(ProcessEnd)) {
            PyErr_Format(PyExc_ImportError, "another build of the instrument modules is already loaded (its process "
                         "record: %d bytes; this module's: %d)", p->size, (int)sizeof(ProcessEnd));
            return false;
        }
    } else {
        p = new ProcessEnd;  // as long as the process
        record_ptr() = p;
        capsule = PyCapsule_New(p, record_name, nullptr);
        bool ok = capsule && PyDict_SetItemString(keep, record_key, capsule) == 0 && install(p);
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
