"""Per-call time of representative functions of every module against ctypes
calls of the same simulated driver functions, side by side in one run, and
the import time of each module.

    ./run bench      (or: INSTR_BUILD=build/py3 python3 benchmarks/calls.py [results.md])

The simulator's journal is switched off so that a driver call costs only a
few nanoseconds and the figures show the binding itself.  The ctypes side
does what a script would have to: create the output variables, call, and
build the same Python result.
"""
from __future__ import print_function

import ctypes
import os
import subprocess
import sys
import timeit

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.abspath(os.environ.get('INSTR_BUILD') or
                        os.path.join(HERE, '..', 'build', 'py%d' % sys.version_info[0]))
sys.path[:0] = [BUILD]

import instrsim as sim  # noqa: E402

u32, i32, u16, i16, f64 = ctypes.c_uint32, ctypes.c_int32, ctypes.c_uint16, ctypes.c_int16, ctypes.c_double
text = ctypes.c_char_p
TARGET = 15.0


def best_ns(stmt, names, number):
    # The same statement through timeit's own loop on both sides.
    return min(timeit.repeat(stmt, globals=names, number=number, repeat=7)) / number * 1e9


def ctypes_call(lib, name, ins, outs=(), texts=0, array=None):
    """A ctypes function doing what the wrapper does: outputs, call, result."""
    f = getattr(ctypes.CDLL(os.path.join(BUILD, 'instrsim', lib)), name)
    P = ctypes.POINTER
    f.argtypes = list(ins) + [P(t) for t in outs] + [ctypes.c_char_p] * texts + ([P(f64)] if array else [])
    f.restype = i32
    if not outs and not texts and not array:
        return f

    def call(*args):
        o = [t() for t in outs]
        b = [ctypes.create_string_buffer(256) for _ in range(texts)]
        a = [(f64 * args[array])()] if array is not None else []
        f(*(args + tuple(ctypes.byref(v) for v in o) + tuple(b) + tuple(a)))
        vals = [v.value for v in o] + [x.value.decode('latin-1') for x in b] + [list(x) for x in a]
        return vals[0] if len(vals) == 1 else tuple(vals)
    return call


def photonbay():
    import _photonbay as m
    s = m.init('GPIB0::20::INSTR', 0, 0)
    lib = 'libhp816x_32.so'
    return [
        ('pass-through', 'timeOut', (s, 1000), ctypes_call(lib, 'hp816x_timeOut', [u32, i32])),
        ('single value', 'timeOut_Q', (s,), ctypes_call(lib, 'hp816x_timeOut_Q', [u32], [i32])),
        ('tuple of 4', 'standardTriggerConfiguration_Q', (s,),
         ctypes_call(lib, 'hp816x_standardTriggerConfiguration_Q', [u32], [i32, u32, u32, u32])),
        ('number+text', 'self_test', (s,), ctypes_call(lib, 'hp816x_self_test', [u32], [i16], 1)),
        ('tuple of 4 floats', 'get_ATT_wavelength_Q', (s, 3),
         ctypes_call(lib, 'hp816x_get_ATT_wavelength_Q', [u32, i32], [f64, f64, f64, f64])),
        ('array of 100', 'get_TLS_wavelengthData_Q', (s, 100), None),
    ], m


def powerprobe():
    import _powerprobe as m
    s = m.init('USB0::0x3A5C::0x0207::P0012345::INSTR', 0, 0)
    lib = 'libPM100D_Drv_32.so'
    return [
        ('pass-through', 'setWavelength', (s, 1550.0), ctypes_call(lib, 'PM100D_setWavelength', [u32, f64])),
        ('single value', 'getWavelength', (s, 0), ctypes_call(lib, 'PM100D_getWavelength', [u32, i16], [f64])),
        ('tuple of 2', 'getFreqRange', (s,), ctypes_call(lib, 'PM100D_getFreqRange', [u32], [f64, f64])),
        ('text', 'getCalibrationMsg', (s,), ctypes_call(lib, 'PM100D_getCalibrationMsg', [u32], (), 1)),
    ], m


def polshaper():
    import _polshaper as m
    s = m.init('GPIB0::9::INSTR', 0, 0)
    lib = 'libhp8169_32.so'
    return [
        ('pass-through', 'setPolPos', (s, 0, 45.0), ctypes_call(lib, 'hp8169_setPolPos', [u32, i32, f64])),
        ('single value', 'getPolPos_Q', (s,), ctypes_call(lib, 'hp8169_getPolPos_Q', [u32], [f64])),
        ('number+text', 'error_query', (s,), ctypes_call(lib, 'hp8169_error_query', [u32], [i32], 1)),
    ], m


def smeter():
    import _smeter as m
    s = m.init('GPIB0::24::INSTR', 0, 0)
    lib = 'libKE2400_32.so'
    return [
        ('pass-through', 'ConfigurePowerLineFrequency', (s, 50.0),
         ctypes_call(lib, 'KE2400_ConfigurePowerLineFrequency', [u32, f64])),
        ('single value', 'Read', (s, 1), ctypes_call(lib, 'KE2400_Read', [u32, i32], [f64])),
        ('tuple of 2', 'GetBufferInfo', (s,), ctypes_call(lib, 'KE2400_GetBufferInfo', [u32], [i32, i32])),
        ('number+text', 'error_query', (s,), ctypes_call(lib, 'KE2400_error_query', [u32], [i32], 1)),
    ], m


def instrbus():
    import _instrbus as m
    rm = m.OpenDefaultRM()
    s = m.Open(rm, 'GPIB0::20::INSTR', 0, 2000)
    lib = 'libvisa.so'
    return [
        ('pass-through', 'SetAttribute', (s, 0x3FFF001A, 3000),
         ctypes_call(lib, 'viSetAttribute', [u32, u32, ctypes.c_uint64])),
        ('text', 'FindNext', (0,), ctypes_call(lib, 'viFindNext', [u32], (), 1)),
    ], m


def import_ms(module):
    code = ('import sys, time; sys.path.insert(0, %r); import instrsim; t = time.perf_counter(); import %s; '
            'print((time.perf_counter() - t) * 1e3)' % (BUILD, module))
    runs = [float(subprocess.check_output([sys.executable, '-c', code])) for _ in range(7)]
    return min(runs)


def main():
    sim.reset()
    sim.journaling(False)
    rows = []
    for make in (photonbay, smeter, powerprobe, polshaper, instrbus):
        try:
            cases, module = make()
        except ImportError as e:
            print('skipped %s: %s' % (make.__name__, e))
            continue
        for shape, name, args, theirs in cases:
            ours = getattr(module, name)
            names = {'f': ours, 'a': args}
            a = best_ns('f(*a)', names, 100000)
            b = best_ns('f(*a)', {'f': theirs, 'a': args}, 20000) if theirs else None
            rows.append((module.__name__, shape, name, a, b))
    sim.journaling(True)
    lines = ['| module | shape | function | ours (ns) | ctypes (ns) | ratio |', '| --- | --- | --- | ---: | ---: | ---: |']
    for mod, shape, name, a, b in rows:
        lines.append('| `%s` | %s | `%s` | %.0f | %s | %s |' % (
            mod, shape, name, a, '%.0f' % b if b else '-', '%.1fx' % (b / a) if b else '-'))
    ratios = [b / a for _, _, _, a, b in rows if b]
    lines.append('')
    lines.append('Slowest ratio %.1fx, median %.1fx (target %.0fx).' % (
        min(ratios), sorted(ratios)[len(ratios) // 2], TARGET))
    lines.append('')
    lines.append('| module | import (ms) |')
    lines.append('| --- | ---: |')
    for mod in ('_photonbay', '_smeter', '_powerprobe', '_polshaper', '_instrbus'):
        try:
            lines.append('| `%s` | %.2f |' % (mod, import_ms(mod)))
        except subprocess.CalledProcessError:
            pass
    print('\n'.join(lines))
    if len(sys.argv) > 1:
        with open(sys.argv[1], 'w') as f:
            f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
