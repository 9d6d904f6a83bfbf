"""executeLambdaScan(S, 1000000) against nine plain 8 MB copies in C.

    python benchmarks/lambda_scan.py [repeats]

A scan of N points returns nine ViReal64Vec of N doubles (8 MB each for
N = 1e6).  The vectors own the driver's working arrays, so the call should
cost about what copying those nine arrays once would: the reference is nine
ctypes.memmove calls of 8 MB between preallocated buffers, timed in the same
run.  Best of several runs each.  Also shows that numpy.asarray of a
returned vector shares its memory (no copy).
"""
from __future__ import print_function

import ctypes
import os
import struct
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.abspath(os.environ.get('INSTR_BUILD') or
                                   os.path.join(here, '..', 'build', 'py%d' % sys.version_info[0])))
import _photonbay as pb  # noqa: E402

N = 1000000
TARGET = 1.5
clock = getattr(time, 'perf_counter', time.time)


def best(fn, repeats):
    times = []
    for _ in range(repeats):
        t = clock()
        r = fn()
        times.append(clock() - t)
        del r
    return min(times)


def nine_copies(nbytes, repeats):
    src = [ctypes.create_string_buffer(nbytes) for _ in range(9)]
    dst = [ctypes.create_string_buffer(nbytes) for _ in range(9)]

    def copy():
        for d, s in zip(dst, src):
            ctypes.memmove(d, s, nbytes)
    return best(copy, repeats)


def shares_memory(vec):
    try:
        import numpy as np
    except ImportError:
        np = None
    if np is not None:
        a = np.asarray(vec)
        vec[0] = 12345.0
        same = a[0] == 12345.0 and np.shares_memory(a, np.asarray(vec))
        return 'numpy.asarray(vec): dtype %s, shape %s, shares memory with the vector: %s' % (
            a.dtype, a.shape, bool(same))
    m = memoryview(vec)
    vec[0] = 12345.0
    seen = struct.unpack('d', m[0:1].tobytes())[0]
    return 'numpy not installed; memoryview(vec): format %r, %d items, sees writes: %s' % (
        m.format, len(m), seen == 12345.0)


def main(argv):
    repeats = int(argv[1]) if len(argv) > 1 else 7
    s = pb.init('GPIB0::20::INSTR', 1, 0)
    step = 0.1e-12
    points, channels = pb.prepareLambdaScan(s, 0, 0.0, 0, 1, 0, 1500e-9, 1500e-9 + (N - 1) * step, step)
    assert points == N, points
    scan = best(lambda: pb.executeLambdaScan(s, N), repeats)

    copy = nine_copies(8 * N, repeats)
    ratio = scan / copy
    print('executeLambdaScan(S, %d): %.2f ms  (%d power meter channels, best of %d)'
          % (N, scan * 1e3, channels, repeats))
    print('nine 8 MB copies in C:       %.2f ms' % (copy * 1e3))
    print('ratio %.2fx (target within %.1fx: %s)' % (ratio, TARGET, 'met' if ratio <= TARGET else 'missed'))
    print(shares_memory(pb.executeLambdaScan(s, N)[1]))
    pb.close(s)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
