"""Reference counts across many calls: arguments (sessions, texts, byte and
numeric buffers, vectors given to pointer parameters) are neither kept nor
released by a call, refused calls included; results belong to the caller
alone and do not pile up; function objects and vector types stay stable."""
import array
import ctypes
import gc
import os
import subprocess
import sys
import unittest

from support import BUILD, PY2, ROOT, SANITIZED, SimTestCase, sim
import _instrbus as ib
import _photonbay as pb
import _polshaper as ps
import _powerprobe as pp

try:
    import _smeter as sm
except ImportError:
    sm = None

try:
    import numpy
except ImportError:
    numpy = None

REPEAT = 300
if PY2:
    integers = (int, long)  # noqa: F821
    range = xrange  # noqa: F821
else:
    integers = (int,)


def fresh(o):
    """True for an object that no cache or table can share (its refcount means something)."""
    if o is None or isinstance(o, bool):
        return False
    if isinstance(o, integers):
        return not -5 <= o <= 256
    if isinstance(o, (str, bytes)) or type(o).__name__ == 'unicode':
        return len(o) > 1
    return True


def numbers(code, values):
    """A writable buffer of numbers: array.array, or on 2.7 (whose arrays lack
    the new buffer protocol) a ctypes array."""
    if not PY2:
        return array.array(code, values)
    kind = {'i': ctypes.c_int32, 'H': ctypes.c_uint16, 'd': ctypes.c_double}[code]
    return (kind * len(values))(*values)


def new_int(v):
    return int(str(v))  # a new object, not a constant of this module


def new_text(s):
    return ''.join(list(s))  # a new, not interned, str


class RefcountCase(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        sim.journaling(False)  # many calls; nothing here reads the journal
        self.s = pb.init('GPIB0::20::INSTR', 0, 0)
        self.p = pp.init('USB0::0x3A5C::0x0207::P0012345::INSTR', 0, 0)
        self.h = ps.init('GPIB0::9::INSTR', 0, 0)
        self.rm = ib.OpenDefaultRM()
        self.bus = ib.Open(self.rm, 'GPIB0::9::INSTR', 0, 0)
        self.k = sm.init('GPIB0::24::INSTR', 0, 0) if sm else None

    def tearDown(self):
        sim.reset()

    def assertKept(self, call, *objs):
        """`call` uses `objs`; REPEAT calls leave their refcounts as they were."""
        call()
        before = [sys.getrefcount(o) for o in objs]
        for _ in range(REPEAT):
            call()
        self.assertEqual([sys.getrefcount(o) for o in objs], before)

    def assertRefusedKept(self, exc, fn, *args):
        """fn(*args) raises `exc` every time and keeps no argument."""
        before = [sys.getrefcount(a) for a in args]
        for _ in range(REPEAT):
            try:
                fn(*args)
            except exc:
                pass
            else:
                self.fail('%s%r was not refused' % (fn.__name__, args))
        if PY2:
            sys.exc_clear()
        self.assertEqual([sys.getrefcount(a) for a in args], before, fn.__name__)

    def assertResizable(self, buf):
        """No export of `buf` is left behind (a held buffer refuses resizing)."""
        if isinstance(buf, bytearray):
            buf.extend(b'x')
            del buf[-1]
        elif isinstance(buf, array.array):
            buf.append(buf[0])
            buf.pop()
        elif isinstance(buf, ctypes.Array):
            pass  # fixed size; refcounts are checked by the caller
        else:  # vectors
            buf.append(buf[0])
            del buf[len(buf) - 1]


class Arguments(RefcountCase):
    def test_sessions_and_integers(self):
        s, p, h, rm = self.s, self.p, self.h, self.rm
        attr, timeout, code = new_int(0x3FFF0001), new_int(3000), new_int(-1073807339)
        self.assertTrue(all(fresh(o) for o in (s, p, h, rm, attr, timeout, code)))
        self.assertKept(lambda: pb.timeOut(s, timeout), s, timeout)            # pass-through
        self.assertKept(lambda: pb.timeOut_Q(s), s)                            # generated query
        self.assertKept(lambda: pb.get_TLS_wavelength_Q(s, 0), s)              # tuple
        self.assertKept(lambda: pb.error_message(s, code), s, code)            # text
        self.assertKept(lambda: pb.get_TLS_wavelengthData_Q(s, 300), s)        # own wrapper
        self.assertKept(lambda: pb.CheckError(s, 0), s)
        self.assertKept(lambda: pp.measPower(p), p)
        self.assertKept(lambda: ps.getPolPos_Q(h), h)
        self.assertKept(lambda: ib.GetAttribute(rm, attr), rm, attr)
        big = new_int(4000000000)
        self.assertKept(lambda: ib.SetAttribute(rm, attr, big), big)
        if sm:
            k = self.k
            self.assertKept(lambda: sm.Read(k, 1), k)
            self.assertKept(lambda: sm.ConfigureDO(k, 1, 0.5, 0, 0), k)         # overload set
        x = float('1e-3')
        self.assertKept(lambda: pb.WattToDBm(s, x), x)

    def test_texts(self):
        s, rm = self.s, self.rm
        command = new_text('SENS1:CHAN1:POW:UNIT 1')
        query = new_text('*IDN?')
        long_command = new_text('X:LONG ' + 'Q' * 700)  # beyond the stack copy
        resource = new_text('GPIB0::9::INSTR')
        self.assertKept(lambda: pb.cmd(s, command), command)
        self.assertKept(lambda: pb.cmd(s, long_command), long_command)
        self.assertKept(lambda: pb.cmdInt32Arr_Q(s, new_text('SLOT:EMPT?'), 1), s)
        self.assertKept(lambda: ps.cmd(self.h, query), query)
        self.assertKept(lambda: ib.Close(ib.Open(rm, resource, 0, 0)), resource, rm)   # ViConstString
        self.assertKept(lambda: pb.getInstrumentId_Q(resource), resource)
        if sm:
            self.assertKept(lambda: sm.WriteInstrData(self.k, query), query)
            self.assertKept(lambda: sm.GetAttributeViInt32(self.k, command, 1250001), command)
        if not PY2:
            raw = command.encode('latin-1')
            reply = ' ' * 300  # read-only input on Python 3: the driver writes a private copy
            self.assertKept(lambda: pb.cmd(s, raw), raw)
            self.assertKept(lambda: pb.cmdString_Q(s, query, 256, reply), query, reply)
            self.assertEqual(reply, ' ' * 300)
        else:
            # Written in place on 2.7: made for the purpose, and held by one
            # name only (a str held elsewhere too is refused).
            reply = new_text(' ' * 300)
            self.assertKept(lambda: pb.cmdString_Q(s, query, 256, reply), query)
            before = sys.getrefcount(reply)
            for _ in range(REPEAT):
                pb.cmdString_Q(s, query, 256, reply)
            self.assertEqual(sys.getrefcount(reply), before)
            self.assertTrue(reply.startswith('Quellbright Photonics'))

    def test_writable_byte_buffers(self):
        s, h = self.s, self.h
        reply, command = bytearray(256), bytearray(b'*IDN?\0')
        self.assertKept(lambda: pb.cmdString_Q(s, command, 256, reply), command, reply)
        self.assertTrue(reply.startswith(b'Quellbright Photonics'))
        self.assertResizable(reply)
        self.assertResizable(command)
        if not PY2:
            view = memoryview(reply)
            self.assertKept(lambda: ps.cmdString_Q(h, '*IDN?', 256, view), view, reply)
            view.release()
            self.assertResizable(reply)
            self.assertTrue(reply.startswith(b'TARNWELL PHOTONICS'))

    def test_numeric_buffers_and_vectors(self):
        s = self.s
        slots = numbers('i', [0] * 8)
        status, codes = numbers('H', [0] * 8), numbers('i', [0] * 18)   # a status per slot of the largest mainframe
        self.assertKept(lambda: pb.getSlotInformation_Q(s, 8, slots), slots)
        self.assertResizable(slots)
        self.assertKept(lambda: pb.getModuleStatus_Q(s, status, codes), status, codes)
        self.assertResizable(status)
        self.assertResizable(codes)
        ivec = pb.ViInt32Vec()
        ivec.extend([0] * 8)
        self.assertKept(lambda: pb.getSlotInformation_Q(s, 8, ivec), ivec)
        self.assertEqual(list(ivec), list(slots))
        self.assertResizable(ivec)
        a, b = pb.ViReal64Vec(), pb.ViReal64Vec()
        a.extend([0.0] * 64)
        b.extend([0.0] * 64)
        self.assertKept(lambda: pb.get_ATT_offsetTable_Q(s, 3, a, b), a, b)
        self.assertResizable(a)
        self.assertResizable(b)
        if sm:
            values = numbers('d', [0.001, 0.002, 0.003])
            self.assertKept(lambda: sm.Configure_List_IV(self.k, 3, values, 1.0, 0.0, 0.1), values)
            self.assertResizable(values)
        if numpy is not None:
            n = numpy.zeros(8, dtype=numpy.int32)
            self.assertKept(lambda: pb.getSlotInformation_Q(s, 8, n), n)
            self.assertEqual(list(n), list(slots))

    def test_refusals_keep_their_arguments(self):
        s, k = self.s, self.k
        command, reply = bytearray(b'*IDN?\0'), bytearray(256)
        huge, wide = new_int(2 ** 31), new_int(2 ** 80)
        # kind mismatch after buffers were taken for earlier parameters
        self.assertRefusedKept(TypeError, pb.cmdString_Q, s, command, 256, new_int(5000))
        self.assertRefusedKept(TypeError, pb.getSlotInformation_Q, s, 8, bytearray(32))
        self.assertRefusedKept(TypeError, pb.getModuleStatus_Q, s, numbers('H', [0]), [1])
        self.assertRefusedKept(TypeError, pb.getSlotInformation_Q, s, 8, pb.ViReal64Vec())
        self.assertRefusedKept(TypeError, pb.timeOut_Q, new_text('session'))
        self.assertRefusedKept(TypeError, pb.timeOut, s)                      # argument count
        self.assertRefusedKept(TypeError, ps.setPolPos, self.h, 1.5, 2.0)
        # range after every kind matched (buffers held at that point)
        self.assertRefusedKept(OverflowError, pb.cmdString_Q, s, command, huge, reply)
        self.assertRefusedKept(OverflowError, pb.timeOut, s, wide)
        self.assertRefusedKept(OverflowError, ib.GetAttribute, new_int(-70000), 1)
        self.assertRefusedKept(OverflowError, pb.WattToDBm, s, 10 ** 400)
        self.assertRefusedKept(ValueError, pb.get_TLS_wavelengthData_Q, s, new_int(-1000))
        if sm:
            self.assertRefusedKept(OverflowError, sm.ConfigureDO, k, huge, 1.0, 0, 0)
        if not PY2:
            self.assertRefusedKept(UnicodeEncodeError, pb.cmdString_Q, s, u'\u0100 query', 256, reply)
        else:
            self.assertRefusedKept(TypeError, pb.cmd, s, u'unicode text')
        self.assertResizable(command)
        self.assertResizable(reply)
        before = sys.getrefcount(s)
        for _ in range(REPEAT):
            self.assertRaises(TypeError, lambda: pb.timeOut(s, 5, keyword=1))
        self.assertEqual(sys.getrefcount(s), before)

    def test_function_objects_and_vector_types_stay_stable(self):
        s = self.s
        watched = [pb.timeOut_Q, pb.get_TLS_powerData_Q, pb.ViReal64Vec, pb.ViInt32Vec, pb,
                   ps.ViInt32Vec, ib.GetAttribute, pb.timeOut_Q.__self__]
        iter_type = type(iter(pb.ViReal64Vec()))
        watched.append(iter_type)
        before = [sys.getrefcount(o) for o in watched]
        for _ in range(REPEAT):
            pb.timeOut_Q(s)
            w, p = pb.get_TLS_powerData_Q(s, 0, 4)
            v = pb.ViReal64Vec()
            v.extend(w)
            for _x in v[0:2]:
                pass
            i = pb.ViInt32Vec()
            i.append(3)
            del i[0]
            ps.ViInt32Vec().extend([1, 2])
            pb.PWM_readAll(s)
            ib.GetAttribute(self.rm, 0x3FFF0001)
            pb.timeOut_Q.__self__.signatures
            try:
                pb.timeOut_Q('x')
            except TypeError:
                pass
        del w, p, v, i
        self.assertEqual([sys.getrefcount(o) for o in watched], before)


def find_next(rm):
    found = ib.FindRsrc(rm, '?*INSTR')
    second = ib.FindNext(found[0])
    ib.Close(found[0])
    return second


def result_cases(t):
    """(label, call) of every result shape across the modules."""
    s, p, h, rm, k = t.s, t.p, t.h, t.rm, t.k
    cases = [
        ('foo', lambda: pb.foo()),
        ('session handle', lambda: pb.init('GPIB0::20::INSTR', 0, 0)),
        ('single float', lambda: pb.dbmToWatt(s, -3.0)),
        ('tuple of floats', lambda: pb.get_TLS_wavelength_Q(s, 0)),
        ('tuple (int, str)', lambda: pb.self_test(s)),
        ('fixed text', lambda: pb.error_message(s, -1073807339)),
        ('two texts', lambda: pb.revision_query(s)),
        ('caller-sized vector', lambda: pb.get_TLS_wavelengthData_Q(s, 16)),
        ('tuple of vectors', lambda: pb.get_TLS_powerData_Q(s, 0, 5)),
        ('fixed 34-element vectors', lambda: pb.PWM_readAll(s)),
        ('nine vectors', lambda: pb.executeLambdaScan(s, 8)),
        ('one-element array', lambda: pb.cmdReal64Arr_Q(s, 'SYST:DATE?', 3)),
        ('one-element array, heap room', lambda: pb.cmdInt32Arr_Q(s, 'SLOT:EMPT?', 100)),
        ('mixed text tuple', lambda: pp.getSensorInfo(p)),
        ('(str, int)', lambda: pp.errorQuery(p)),
        ('float', lambda: ps.getPolPos_Q(h)),
        ('text', lambda: ps.error_message(h, -1073807339)),
        ('(findList, count, text)', lambda: ib.FindRsrc(rm, '?*INSTR')),
        ('raw attribute bytes', lambda: ib.GetAttribute(t.bus, 0xBFFF0002)),
        ('numeric attribute bytes', lambda: ib.GetAttribute(t.bus, 0x3FFF001A)),
        ('text of a find', lambda: find_next(rm)),
    ]
    if sm:
        cases += [
            ('(vector, count)', lambda: sm.ReadMultiPoint(k, 0, 12)),
            ('(int, int, str)', lambda: sm.GetErrorInfo(k)),
            ('caller-sized text', lambda: sm.GetAttributeViString(k, '', 1050512, 64)),
        ]
    return cases


class Results(RefcountCase):
    def check_owned(self, label, call):
        r = call()
        if fresh(r):  # held by `r` alone
            self.assertEqual(sys.getrefcount(r), 2, label)
        if isinstance(r, tuple):
            for i in range(len(r)):
                if fresh(r[i]):  # held by the tuple alone
                    self.assertEqual(sys.getrefcount(r[i]), 2, '%s item %d' % (label, i))

    def test_results_belong_to_the_caller(self):
        for hostile in (False, True):
            sim.hostile(hostile)
            for label, call in result_cases(self):
                for _ in range(3):
                    self.check_owned(label + (' (hostile)' if hostile else ''), call)

    @unittest.skipIf(not hasattr(sys, 'getallocatedblocks'), 'no sys.getallocatedblocks')
    def test_results_do_not_pile_up(self):
        n = 3000
        for hostile in (False, True):
            sim.hostile(hostile)
            for label, call in result_cases(self):
                for _ in range(200):
                    call()
                gc.collect()
                before = sys.getallocatedblocks()
                for _ in range(n):
                    call()
                gc.collect()
                grown = sys.getallocatedblocks() - before
                self.assertLess(grown, n // 10, '%s: %d blocks more after %d calls' % (label, grown, n))

    def test_vector_operations(self):
        v = pb.ViReal64Vec()
        x = float('2.5')
        self.assertKept(lambda: v.append(x), x)
        values = [float(i) / 3 for i in range(4)]
        self.assertKept(lambda: v.extend(values), values, *values)
        self.assertKept(lambda: v.__setitem__(slice(0, 2), values), values)
        self.assertKept(lambda: v.__setitem__(0, x), x)
        self.assertKept(lambda: x in v, x)
        bad = [1.0, 'x']
        self.assertRefusedKept(TypeError, v.extend, bad)
        self.assertRefusedKept(TypeError, v.__setitem__, slice(0, 1), bad)
        self.assertRefusedKept(TypeError, v.append, bad)
        del v[0:len(v)]
        v.extend([1.0, 2.0, 3.0])
        self.assertEqual(sys.getrefcount(v[0:2]), 1)  # a new vector, held by the call only
        self.assertEqual(sys.getrefcount(v[1]), 1)
        base = sys.getrefcount(v)
        it = iter(v)
        self.assertEqual(sys.getrefcount(v), base + 1)  # the iterator holds the vector
        self.assertEqual(list(it), [1.0, 2.0, 3.0])
        self.assertEqual(sys.getrefcount(v), base)      # and lets go once exhausted
        it = iter(v)
        next(it)
        del it
        self.assertEqual(sys.getrefcount(v), base)

        def doubled():
            del v[3:]
            v.extend(v)
        self.assertKept(doubled, v)
        self.assertKept(lambda: v.__setitem__(slice(0, len(v)), v), v)
        self.assertEqual(list(v), [1.0, 2.0, 3.0, 1.0, 2.0, 3.0])


class SoakScript(unittest.TestCase):
    def test_short_soak_runs_every_shape_and_stays_flat(self):
        env = dict(os.environ, INSTR_BUILD=BUILD)
        if SANITIZED:  # freed memory must be reused at once for the figures to mean anything
            env['ASAN_OPTIONS'] = (env.get('ASAN_OPTIONS', '') +
                                   ':quarantine_size_mb=0:thread_local_quarantine_size_kb=0')
        p = subprocess.Popen([sys.executable, os.path.join(ROOT, 'benchmarks', 'soak.py'), '-n', '3000'],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        out, err = p.communicate()
        out = out.decode('latin-1')
        self.assertEqual(p.returncode, 0, out + err.decode('latin-1'))
        shapes = [line.split()[0] for line in out.splitlines() if '== shape' in line]
        for shape in ('tuple', 'text', 'raw', 'vector', 'one-element', 'handle', 'in-place', 'numeric',
                      'refusal'):
            self.assertIn(shape, shapes)
        self.assertIn('flat:', out)


if __name__ == '__main__':
    unittest.main()
