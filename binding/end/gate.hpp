// The gate at the interpreter's end: an atexit handler of ours closes it
// before the interpreter finalizes; a thread other than the main coming
// back from a driver after that never takes the interpreter back (Python
// 3.8-3.13 would end it with a forced unwind): it parks until the process
// ends.  The gate waits for the threads already on their way back.
#ifndef BIND_END_GATE_HPP
#define BIND_END_GATE_HPP

#include "exit.hpp"

namespace bind {
namespace end {

// After `lock` was unlocked: takes the interpreter back, unless the
// interpreter is ending and this is not its main thread.  Not noexcept: if
// the interpreter still ends this thread with a forced unwind, it passes.
inline void come_back(detail::DriverLock& lock, PyThreadState* state, bool main) {
    if (!main && ((record().switches.load(std::memory_order_seq_cst) & closing_bit) || finalizing()) &&
        !acting_main(self_ident())) {
        lock.back_unheld();
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

}  // namespace end
}  // namespace bind

#endif
