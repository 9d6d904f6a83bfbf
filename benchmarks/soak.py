"""Soak: every wrapper shape called many times in a row, with the resident
memory of the process read before and after each, to show it stays flat.

    python benchmarks/soak.py [-n CALLS] [--limit KIB] [--hostile]

Each case makes CALLS calls (default 1 000 000) after a short warm-up; the
cases of one shape run back to back and the shape's growth is the resident
memory after its last case less that before its first.  The simulator's
journal is off, so the only memory that may grow is the modules' own.  Exits
with status 1 when a shape grew more than --limit KiB (default 1024: a leak of
one byte per call over 1e6 calls).  Under AddressSanitizer freed memory waits
in a quarantine, so growth is judged only with
ASAN_OPTIONS=...:quarantine_size_mb=0:thread_local_quarantine_size_kb=0.
Python 2.7 and 3; _smeter is skipped when it cannot be imported.
"""
from __future__ import print_function

import array
import ctypes
import gc
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.abspath(os.environ.get('INSTR_BUILD') or
                        os.path.join(HERE, '..', 'build', 'py%d' % sys.version_info[0]))
sys.path[:0] = [BUILD]

import instrsim as sim  # noqa: E402
import _photonbay as pb  # noqa: E402
import _powerprobe as pp  # noqa: E402
import _polshaper as ps  # noqa: E402
import _instrbus as ib  # noqa: E402

try:
    import _smeter as sm
except ImportError as e:  # still being finished on some trees
    sm = None
    print('_smeter not importable (%s): its cases are skipped' % e)

PY2 = sys.version_info[0] == 2
if PY2:
    range = xrange  # noqa: F821
clock = getattr(time, 'perf_counter', time.time)
PAGE = os.sysconf('SC_PAGE_SIZE')


def rss_kib():
    """Resident memory of this process in KiB."""
    try:
        with open('/proc/self/statm') as f:
            return int(f.read().split()[1]) * PAGE // 1024
    except (IOError, OSError):
        import resource  # peak only, but monotonic: still shows growth
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def quarantined():
    """Running under AddressSanitizer with its quarantine of freed memory on."""
    return 'asan' in os.environ.get('LD_PRELOAD', '') and \
        'quarantine_size_mb=0' not in os.environ.get('ASAN_OPTIONS', '')


def open_sessions():
    s = {'pb': pb.init('GPIB0::20::INSTR', 0, 0),
         'pp': pp.init('USB0::0x3A5C::0x0207::P0012345::INSTR', 0, 0),
         'ps': ps.init('GPIB0::9::INSTR', 0, 0),
         'rm': ib.OpenDefaultRM()}
    if sm:
        s['sm'] = sm.init('GPIB0::24::INSTR', 0, 0)
    return s


def vector_cycle(cls):
    def cycle():
        v = cls()
        v.append(1)
        v.extend((2, 3, 4, 5, 6))
        w = v[1:4]
        v[0:2] = w
        v[2] = 7
        del v[0]
        del v[1:3]
        t = 0
        for x in v:
            t += x
        return t + len(w) + (3 in v)
    return cycle


def raw_exchange(write, read, session, count):
    def exchange():
        write(session, '*IDN?')
        return read(session, count)
    return exchange


def cases(s):
    """(shape, label, function, args, exception the call must raise or None)."""
    P, K, H, RM = s['pb'], s.get('sm'), s['ps'], s['rm']
    PM = s['pp']
    long_command = 'SENS1:CHAN1:POW:UNIT ' + 'W' * 600  # beyond the 256-byte stack copy
    c = [
        ('tuple', 'pb.standardTriggerConfiguration_Q', pb.standardTriggerConfiguration_Q, (P,), None),
        ('tuple', 'pb.get_TLS_wavelength_Q', pb.get_TLS_wavelength_Q, (P, 0), None),
        ('tuple', 'pb.self_test (int, str)', pb.self_test, (P,), None),
        ('tuple', 'pp.getSensorInfo (3 str, 3 int)', pp.getSensorInfo, (PM,), None),
        ('tuple', 'ps.getDelay_Q', ps.getDelay_Q, (H,), None),
        ('text', 'pb.error_message', pb.error_message, (P, -1073807339), None),
        ('text', 'pb.revision_query (2 str)', pb.revision_query, (P,), None),
        ('text', 'pp.getCalibrationMsg', pp.getCalibrationMsg, (PM,), None),
        ('text', 'ps.error_message', ps.error_message, (H, -1073807339), None),
        ('text', 'ib.FindNext', ib.FindNext, (0,), None),
        ('raw bytes', 'ib.GetAttribute', ib.GetAttribute, (RM, 0x3FFF0001), None),
        ('raw bytes', 'pp.writeRaw + readRaw(300)', raw_exchange(pp.writeRaw, pp.readRaw, PM, 300), (), None),
        ('vector', 'pb.get_TLS_wavelengthData_Q(16)', pb.get_TLS_wavelengthData_Q, (P, 16), None),
        ('vector', 'pb.get_TLS_wavelengthData_Q(0)', pb.get_TLS_wavelengthData_Q, (P, 0), None),
        ('vector', 'pb.get_TLS_powerData_Q(8) (2 vectors)', pb.get_TLS_powerData_Q, (P, 0, 8), None),
        ('vector', 'pb.PWM_readAll (3 vectors of 34)', pb.PWM_readAll, (P,), None),
        ('one-element array', 'pb.cmdInt32Arr_Q(1)', pb.cmdInt32Arr_Q, (P, 'SLOT:EMPT?', 1), None),
        ('one-element array', 'pb.cmdReal64Arr_Q(64) heap room', pb.cmdReal64Arr_Q, (P, 'SLOT:EMPT?', 64), None),
        ('one-element array', 'ps.cmdInt16Arr_Q(1)', ps.cmdInt16Arr_Q, (H, '*OPC?', 1), None),
        ('handle', 'pb.init + close', lambda: pb.close(pb.init('GPIB0::20::INSTR', 0, 0)), (), None),
        ('handle', 'ib.Open + Close', lambda: ib.Close(ib.Open(RM, 'GPIB0::9::INSTR', 0, 0)), (), None),
        ('in-place buffer', 'pb.cmdString_Q bytearray', pb.cmdString_Q, (P, '*IDN?', 256, bytearray(256)), None),
        ('in-place buffer', 'ps.cmdString_Q bytearray', ps.cmdString_Q, (H, '*IDN?', 256, bytearray(256)), None),
        ('in-place buffer', 'pb.cmd 600-char command', pb.cmd, (P, long_command), None),
        ('numeric buffer', 'pb.getSlotInformation_Q int32 array', pb.getSlotInformation_Q,
         (P, 8, numbers('i', [0] * 8)), None),
        ('numeric buffer', 'pb.getModuleStatus_Q uint16+int32', pb.getModuleStatus_Q,
         (P, numbers('H', [0]), numbers('i', [0] * 18)), None),
        ('numeric buffer', 'pb.getSlotInformation_Q ViInt32Vec', pb.getSlotInformation_Q,
         (P, 8, _filled(pb.ViInt32Vec, 8)), None),
        ('refusal', 'pb.timeOut overflow', pb.timeOut, (P, 2 ** 40), OverflowError),
        ('refusal', 'pb.timeOut_Q str session', pb.timeOut_Q, ('x',), TypeError),
        ('refusal', 'pb.getSlotInformation_Q list', pb.getSlotInformation_Q, (P, 8, [0] * 8), TypeError),
        ('refusal', 'pb.getSlotInformation_Q bytearray', pb.getSlotInformation_Q,
         (P, 8, bytearray(32)), TypeError),
        ('refusal', 'pb.cmdString_Q size overflow, buffers held', pb.cmdString_Q,
         (P, bytearray(b'*IDN?\0'), 2 ** 31, bytearray(256)), OverflowError),
        ('refusal', 'ps.setPolPos float for int', ps.setPolPos, (H, 1.0, 2.0), TypeError),
        ('refusal', 'pp.setAvgCnt beyond int16', pp.setAvgCnt, (PM, 40000), OverflowError),
        ('refusal', 'pb.get_TLS_wavelengthData_Q(-1)', pb.get_TLS_wavelengthData_Q, (P, -1), ValueError),
        ('refusal', 'ib.Open keyword', lambda: ib.Open(RM, 'GPIB0::9::INSTR', 0, timeout=0), (), TypeError),
        ('vector cycle', 'pb.ViReal64Vec', vector_cycle(pb.ViReal64Vec), (), None),
        ('vector cycle', 'ps.ViInt32Vec', vector_cycle(ps.ViInt32Vec), (), None),
    ]
    if not PY2:
        c.append(('in-place buffer', 'pb.cmdString_Q str (private copy)', pb.cmdString_Q,
                  (P, '*IDN?', 256, ' ' * 256), None))
        c.append(('refusal', 'pb.cmd not Latin-1', pb.cmd, (P, u'\u0100'), UnicodeEncodeError))
    else:
        c.append(('refusal', 'pb.cmd unicode', pb.cmd, (P, u'x'), TypeError))
    if K is not None:
        c += [
            ('tuple', 'sm.GetError (int, str)', sm.GetError, (K, 256), None),
            ('text', 'sm.GetAttributeViString(64)', sm.GetAttributeViString, (K, '', 1050512, 64), None),
            ('raw bytes', 'sm.WriteInstrData + ReadInstrData(300)',
             raw_exchange(sm.WriteInstrData, sm.ReadInstrData, K, 300), (), None),
            ('vector', 'sm.ReadMultiPoint(16)', sm.ReadMultiPoint, (K, 0, 16), None),
            ('numeric buffer', 'sm.Configure_List_IV float64 array', sm.Configure_List_IV,
             (K, 4, numbers('d', [0.001, 0.002, 0.003, 0.004]), 1.0, 0.0, 0.1), None),
            ('refusal', 'sm.Read overflow', sm.Read, (K, 2 ** 31), OverflowError),
            ('vector cycle', 'sm.ViInt32Vec', vector_cycle(sm.ViInt32Vec), (), None),
        ]
    order = []
    for shape, _, _, _, _ in c:
        if shape not in order:
            order.append(shape)
    return sorted(c, key=lambda case: order.index(case[0]))


def numbers(code, values):
    """A writable numeric buffer: array.array, or a ctypes array on 2.7 (whose
    arrays lack the new buffer protocol)."""
    if not PY2:
        return array.array(code, values)
    kind = {'i': ctypes.c_int32, 'H': ctypes.c_uint16, 'd': ctypes.c_double}[code]
    return (kind * len(values))(*values)


def _filled(cls, n):
    v = cls()
    v.extend([0] * n)
    return v


def run(fn, args, n, exc):
    if exc is None:
        for _ in range(n):
            fn(*args)
    else:
        for _ in range(n):
            try:
                fn(*args)
            except exc:
                pass


def check_refusal(label, fn, args, exc):
    try:
        fn(*args)
    except exc:
        return
    raise SystemExit('%s: did not raise %s' % (label, exc.__name__))


def main(argv):
    import argparse
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('-n', '--calls', type=int, default=1000000, help='calls per case')
    ap.add_argument('--limit', type=int, default=1024, help='KiB a shape may grow')
    ap.add_argument('--hostile', action='store_true', help='hostile simulated drivers')
    opt = ap.parse_args(argv)

    sim.reset()
    sessions = open_sessions()
    if opt.hostile:
        sim.hostile(True)
    sim.journaling(False)
    warm = min(2000, opt.calls)
    print('%d calls per case, journal off%s, Python %d.%d' % (
        opt.calls, ', hostile drivers' if opt.hostile else '', sys.version_info[0], sys.version_info[1]))
    print('%-18s %-44s %9s %9s %8s %7s' % ('shape', 'case', 'RSS KiB', 'after', 'growth', 's'))
    grown = []
    shape_growth = 0
    start = rss_kib()
    all_cases = cases(sessions)
    for i, (shape, label, fn, args, exc) in enumerate(all_cases):
        if exc is not None:
            check_refusal(label, fn, args, exc)
        run(fn, args, warm, exc)  # first-use caches and free lists settle here
        gc.collect()
        before = rss_kib()
        t = clock()
        run(fn, args, opt.calls, exc)
        elapsed = clock() - t
        gc.collect()
        after = rss_kib()
        shape_growth += after - before
        print('%-18s %-44s %9d %9d %+8d %7.2f' % (shape, label, before, after, after - before, elapsed))
        sys.stdout.flush()
        if i + 1 == len(all_cases) or all_cases[i + 1][0] != shape:
            print('%-18s %-44s %+28d KiB' % (shape, '== shape: growth over its measured calls', shape_growth))
            if shape_growth > opt.limit:
                grown.append((shape, shape_growth))
            shape_growth = 0
    sim.journaling(True)
    sim.hostile(False)
    print('RSS %d KiB at the first case, %d KiB at the end; sessions open in the simulator: %d'
          % (start, rss_kib(), sim.session_count()))
    if grown and quarantined():
        print('not judged: the sanitizer holds freed memory in quarantine (see the top of this script)')
        return 0
    if grown:
        print('GREW beyond %d KiB: %s' % (opt.limit, ', '.join('%s %+d KiB' % g for g in grown)))
        return 1
    print('flat: no shape grew beyond %d KiB' % opt.limit)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
