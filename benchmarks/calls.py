"""Per-call time of the modules' functions against ctypes calls of the same
simulated driver functions, side by side in one run.

    ./run bench        (or: INSTR_BUILD=build/py3 python3 benchmarks/calls.py)

The simulator's journal is switched off so that a driver call costs only a
few nanoseconds and the figures show the binding itself.
"""
from __future__ import print_function

import ctypes
import os
import sys
import timeit

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.environ.get('INSTR_BUILD') or os.path.join(HERE, '..', 'build', 'py%d' % sys.version_info[0])
sys.path[:0] = [BUILD, os.path.join(HERE, '..', 'sim')]

import instrsim as sim  # noqa: E402

c_u32, c_i32, c_u16, c_i16, c_f64 = ctypes.c_uint32, ctypes.c_int32, ctypes.c_uint16, ctypes.c_int16, ctypes.c_double
byref = ctypes.byref


def best_ns(stmt, names, number):
    # The same statement through timeit's own loop on both sides.
    return min(timeit.repeat(stmt, globals=names, number=number, repeat=7)) / number * 1e9


def driver(libname, name, argtypes):
    f = getattr(ctypes.CDLL(os.path.join(BUILD, libname)), name)
    f.argtypes = argtypes
    f.restype = c_i32
    return f


def photonbay_cases():
    import _photonbay as pb
    s = pb.init('GPIB0::20::INSTR', 0, 0)
    lib = 'libhp816x_32.so'
    P = ctypes.POINTER
    timeOut = driver(lib, 'hp816x_timeOut', [c_u32, c_i32])
    timeOut_Q = driver(lib, 'hp816x_timeOut_Q', [c_u32, P(c_i32)])
    trig_Q = driver(lib, 'hp816x_standardTriggerConfiguration_Q', [c_u32, P(c_i32), P(c_u32), P(c_u32), P(c_u32)])
    error_message = driver(lib, 'hp816x_error_message', [c_u32, c_i32, ctypes.c_char_p])

    def ct_single(s):
        v = c_i32()
        timeOut_Q(s, byref(v))
        return v.value

    def ct_tuple(s):
        a, b, c, d = c_i32(), c_u32(), c_u32(), c_u32()
        trig_Q(s, byref(a), byref(b), byref(c), byref(d))
        return (a.value, b.value, c.value, d.value)

    def ct_text(s, code):
        buf = ctypes.create_string_buffer(256)
        error_message(s, code, buf)
        return buf.value.decode('latin-1')

    return [
        ('_photonbay', 'pass-through  timeOut', 'f(s, 1000)', pb.timeOut, timeOut, s),
        ('_photonbay', 'single value  timeOut_Q', 'f(s)', pb.timeOut_Q, ct_single, s),
        ('_photonbay', 'tuple of 4    standardTriggerConfiguration_Q', 'f(s)',
         pb.standardTriggerConfiguration_Q, ct_tuple, s),
        ('_photonbay', 'text          error_message', 'f(s, -1073807339)', pb.error_message, ct_text, s),
    ]


def main():
    sim.reset()
    sim.journaling(False)
    cases = photonbay_cases()
    print('%-12s %-46s %12s %12s %8s' % ('module', 'function', 'ours (ns)', 'ctypes (ns)', 'ratio'))
    worst = None
    for module, label, stmt, ours, theirs, s in cases:
        a = best_ns(stmt, {'f': ours, 's': s}, 200000)
        b = best_ns(stmt, {'f': theirs, 's': s}, 50000)
        assert eval(stmt, {'f': ours, 's': s}) == eval(stmt, {'f': theirs, 's': s}), label
        worst = b / a if worst is None else min(worst, b / a)
        print('%-12s %-46s %12.0f %12.0f %7.1fx' % (module, label, a, b, b / a))
    print('slowest ratio: %.1fx faster than ctypes (target 15x)' % worst)
    sim.journaling(True)


if __name__ == '__main__':
    main()
