"""Four Python threads calling the simulated drivers of every module at once,
with the journal off, on, and switched while they run: every thread checks
its own results, the journal stays well-formed and, while on, holds exactly
the calls the threads made, in each session's own order.  Also shows that
long driver calls let the other threads run, and that calls into one driver
take turns."""
import array
import ctypes
import random
import re
import sys
import threading
import time
import traceback
import unittest
from collections import Counter

from support import PY2, SimTestCase, sim
import _instrbus as ib
import _photonbay as pb
import _polshaper as ps
import _powerprobe as pp

try:
    import _smeter as sm
except ImportError:
    sm = None

THREADS = 4
PHASE_SECONDS = 0.8
JOURNAL_LIMIT = 100000           # entries the simulator keeps
CALLS_PER_THREAD = 20000         # bound while journaling, so nothing is dropped
TIMEOUT_TEXT = 'Timeout expired before operation completed'

if PY2:
    range = xrange  # noqa: F821


def numbers(code, values):
    if not PY2:
        return array.array(code, values)
    kind = {'i': ctypes.c_int32}[code]  # 2.7 arrays lack the new buffer protocol
    return (kind * len(values))(*values)


def text_of(reply):
    """The text a driver wrote into a bytearray, up to its zero byte."""
    return bytes(reply[:reply.index(b'\0')])


class Worker(threading.Thread):
    """One thread: its own sessions on every module, a seeded mix of shapes."""

    def __init__(self, index, deadline, cap, reference, shared):
        threading.Thread.__init__(self)
        self.daemon = True
        self.index, self.deadline, self.cap = index, deadline, cap
        self.ref, self.shared = reference, shared
        self.rng = random.Random(1000 + index)
        self.calls = Counter()       # driver function -> calls made
        self.order = {}              # session -> driver functions in call order
        self.failures = []
        self.operations = 0
        self.key = 'THREAD%d:VALUE' % index
        self.appended = 0

    # -- bookkeeping ------------------------------------------------------------
    def made(self, fn, session=None):
        self.calls[fn] += 1
        if session is not None:
            self.order.setdefault(session, []).append(fn)

    def expect(self, ok, what):
        if not ok and len(self.failures) < 20:
            self.failures.append('thread %d: %s' % (self.index, what))

    def run(self):
        try:
            self.open()
            ops = [self.round_trip, self.first_element, self.texts, self.vector, self.scan, self.in_place,
                   self.numeric_buffer, self.refusals, self.powerprobe, self.polshaper, self.instrbus,
                   self.vectors]
            if sm:
                ops += [self.smeter_raw, self.smeter_vector]
            while time.time() < self.deadline and sum(self.calls.values()) < self.cap:
                self.rng.choice(ops)()
                self.operations += 1
            self.close()
        except BaseException:  # reported by the test, not lost in the thread
            self.failures.append('thread %d raised:\n%s' % (self.index, traceback.format_exc()))

    # -- sessions -------------------------------------------------------------------
    def open(self):
        self.s = pb.init('GPIB0::20::INSTR' if self.index % 2 else 'TCPIP0::192.168.1.20::inst0::INSTR', 0, 0)
        self.made('hp816x_init')
        self.p = pp.init('USB0::0x3A5C::0x0207::P0012345::INSTR', 0, 0)
        self.made('PM100D_init')
        self.h = ps.init('GPIB0::9::INSTR' if self.index % 2 else 'ASRL1::INSTR', 0, 0)
        self.made('hp8169_init')
        self.rm = ib.OpenDefaultRM()
        self.made('viOpenDefaultRM')
        self.bus = ib.Open(self.rm, 'GPIB0::9::INSTR', 0, 0)
        self.made('viOpen')
        if sm:
            self.k = sm.init('GPIB0::24::INSTR', 0, 0)
            self.made('KE2400_init')
        self.value = self.index
        self.expect(pb.cmdInt(self.s, self.key, self.value) == 0, 'cmdInt')
        self.made('hp816x_cmdInt', self.s)
        self.points = 40 + 7 * self.index
        step = 10e-9 / (self.points - 1)
        got = pb.prepareLambdaScan(self.s, 0, 0.0, 0, 1, 1, 1540e-9, 1550e-9, step)
        self.made('hp816x_prepareLambdaScan', self.s)
        self.expect(got[0] == self.points, 'prepareLambdaScan %r for %d points' % (got, self.points))
        self.points = got[0]

    def close(self):
        for fn, module, s in (('hp816x_close', pb, self.s), ('PM100D_close', pp, self.p),
                              ('hp8169_close', ps, self.h)) + ((('KE2400_close', sm, self.k),) if sm else ()):
            self.expect(module.close(s) == 0, fn)
            self.made(fn, s)
        for s in (self.bus, self.rm):
            self.expect(ib.Close(s) == 0, 'viClose')
            self.made('viClose')

    # -- operations: each checks what it got -------------------------------------------
    def round_trip(self):
        v = self.rng.randint(-2 ** 31, 2 ** 31 - 1)
        self.expect(pb.cmdInt(self.s, self.key, v) == 0, 'cmdInt')
        self.made('hp816x_cmdInt', self.s)
        got = pb.cmdInt32_Q(self.s, self.key + '?')
        self.made('hp816x_cmdInt32_Q', self.s)
        self.expect(got == v, 'cmdInt32_Q %r, set %r' % (got, v))
        self.value = v

    def first_element(self):
        got = pb.cmdInt32Arr_Q(self.s, self.key + '?', self.rng.choice((1, 4, 40)))
        self.made('hp816x_cmdInt32Arr_Q', self.s)
        self.expect(got == (self.value, 1), 'cmdInt32Arr_Q %r, set %r' % (got, self.value))

    def texts(self):
        self.expect(pb.foo() == 'bar', 'foo')
        got = pb.error_message(self.s, -1073807339)
        self.made('hp816x_error_message', self.s)
        self.expect(got == TIMEOUT_TEXT, 'error_message %r' % got)
        got = pb.getDate(self.s)
        self.made('hp816x_getDate', self.s)
        self.expect(got == self.ref['date'], 'getDate %r' % (got,))
        got = pb.self_test(self.s)
        self.made('hp816x_self_test', self.s)
        self.expect(got == self.ref['self_test'], 'self_test %r' % (got,))

    def vector(self):
        n = self.rng.randint(0, 64)
        v = pb.get_TLS_wavelengthData_Q(self.s, n)
        self.made('hp816x_get_TLS_wavelengthData_Q', self.s)
        self.expect(type(v) is pb.ViReal64Vec and len(v) == n, 'get_TLS_wavelengthData_Q(%d): %d' % (n, len(v)))
        w, p = pb.get_TLS_powerData_Q(self.s, 0, n)
        self.made('hp816x_get_TLS_powerData_Q', self.s)
        self.expect(len(w) == n and len(p) == n, 'get_TLS_powerData_Q(%d)' % n)

    def scan(self):
        out = pb.executeLambdaScan(self.s, self.points)
        self.made('hp816x_executeLambdaScan', self.s)
        self.expect(len(out) == 9 and all(len(a) == self.points for a in out), 'executeLambdaScan lengths')
        self.expect(abs(out[0][0] - 1540e-9) < 1e-15 and abs(out[0][-1] - 1550e-9) < 1e-15,
                    'scan grid %r..%r' % (out[0][0], out[0][-1]))
        self.expect(all(-100 < x < 20 for x in out[1]), 'scan powers')

    def in_place(self):
        reply = bytearray(256)
        self.expect(pb.cmdString_Q(self.s, '*IDN?', 256, reply) == 0, 'cmdString_Q status')
        self.made('hp816x_cmdString_Q', self.s)
        self.expect(text_of(reply) == self.ref['idn'][self.index % 2], 'cmdString_Q %r' % reply[:40])

    def numeric_buffer(self):
        slots = numbers('i', [0] * 8)
        self.expect(pb.getSlotInformation_Q(self.s, 8, slots) == 0, 'getSlotInformation_Q status')
        self.made('hp816x_getSlotInformation_Q', self.s)
        self.expect(list(slots) == self.ref['slots'], 'getSlotInformation_Q %r' % list(slots))

    def refusals(self):  # refused before the driver: nothing to tally
        for call, exc in ((lambda: pb.timeOut(self.s, 2 ** 40), OverflowError),
                          (lambda: pb.timeOut_Q('session'), TypeError),
                          (lambda: ps.setPolPos(self.h, 1.5, 0.0), TypeError),
                          (lambda: pb.get_TLS_wavelengthData_Q(self.s, -1), ValueError)):
            try:
                call()
                self.expect(False, 'not refused')
            except exc:
                pass

    def powerprobe(self):
        got = pp.getSensorInfo(self.p)
        self.made('PM100D_getSensorInfo', self.p)
        self.expect(got == self.ref['sensor'], 'getSensorInfo %r' % (got,))
        power = pp.measPower(self.p)
        self.made('PM100D_measPower', self.p)
        self.expect(isinstance(power, float) and 0 < power < 1, 'measPower %r' % power)

    def polshaper(self):
        self.expect(ps.foo() == 'bar', 'foo')
        reply = bytearray(256)
        self.expect(ps.cmdString_Q(self.h, '*IDN?', 256, reply) == 0, 'hp8169 cmdString_Q status')
        self.made('hp8169_cmdString_Q', self.h)
        self.expect(text_of(reply) == self.ref['polidn'][self.index % 2], 'hp8169 IDN %r' % reply[:40])
        got = ps.cmdInt32Arr_Q(self.h, '*OPC?', 1)
        self.made('hp8169_cmdInt32Arr_Q', self.h)
        self.expect(got == (1, 1), 'hp8169 cmdInt32Arr_Q %r' % (got,))

    def instrbus(self):
        found, count, first = ib.FindRsrc(self.rm, '?*INSTR')
        self.made('viFindRsrc')
        self.expect((count, first) == self.ref['find'][:2], 'FindRsrc %r' % ((count, first),))
        second = ib.FindNext(found)
        self.made('viFindNext')
        self.expect(second == self.ref['find'][2], 'FindNext %r' % second)
        self.expect(ib.Close(found) == 0, 'Close find list')
        self.made('viClose')
        got = ib.GetAttribute(self.bus, 0xBFFF0002)
        self.made('viGetAttribute')
        self.expect(got == b'GPIB0::9::INSTR', 'GetAttribute %r' % got)

    def vectors(self):  # no driver: the shared vector grows under the others' iterators
        shared = self.shared
        for _ in range(5):
            shared.append(self.index)
            self.appended += 1
        seen = 0
        for x in shared:
            seen += 1
            self.expect(0 <= x < THREADS, 'shared element %r' % x)
        self.expect(seen >= self.appended, 'iterated %d of %d' % (seen, self.appended))
        mine = [float(self.rng.randint(-9, 9)) for _ in range(12)]
        v = pb.ViReal64Vec()
        v.extend(mine)
        a, b = self.rng.randint(-14, 14), self.rng.randint(-14, 14)
        v[a:b] = mine[:3]
        mine[a:b] = mine[:3]
        del v[b:a]
        del mine[b:a]
        self.expect(list(v) == mine, 'vector slice ops')

    def smeter_raw(self):
        self.expect(sm.WriteInstrData(self.k, '*IDN?') == 0, 'WriteInstrData')
        self.made('KE2400_WriteInstrData', self.k)
        data, n = sm.ReadInstrData(self.k, 300)
        self.made('KE2400_ReadInstrData', self.k)
        self.expect(data.startswith(b'MARROWICK') and n == len(data), 'ReadInstrData %r %r' % (data[:20], n))

    def smeter_vector(self):
        n = self.rng.randint(0, 50)
        v, count = sm.ReadMultiPoint(self.k, 0, n)
        self.made('KE2400_ReadMultiPoint', self.k)
        self.expect(len(v) == count and 0 <= count <= n, 'ReadMultiPoint(%d): %d, %d' % (n, len(v), count))


ENTRY_NAME = re.compile(r'^(hp816x|KE2400|PM100D|hp8169|vi)[A-Za-z0-9_]+$')
ARGUMENT = re.compile(r'^(i:-?\d+|d:[-+0-9.eEinfa]+|s:[^\x1f]*|p|n)$')


def raw_journal():
    lib = sim.library()
    buf = ctypes.create_string_buffer(8192)
    entries = []
    for i in range(lib.sim_journal_size()):
        lib.sim_journal_entry(i, buf, len(buf))
        raw = buf.value if PY2 else buf.value.decode('latin-1')
        entries.append(raw.split('\x1f'))
    return entries


class Threads(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.interval = sys.getswitchinterval() if not PY2 else sys.getcheckinterval()
        if PY2:
            sys.setcheckinterval(10)
        else:
            sys.setswitchinterval(1e-5)  # switch threads as often as possible
        self.ref = self.reference()
        sim.reset()

    def tearDown(self):
        if PY2:
            sys.setcheckinterval(self.interval)
        else:
            sys.setswitchinterval(self.interval)
        sim.reset()

    def reference(self):
        """What the threads must see, found here on one thread first."""
        s = pb.init('GPIB0::20::INSTR', 0, 0)
        s2 = pb.init('TCPIP0::192.168.1.20::inst0::INSTR', 0, 0)
        slots = numbers('i', [0] * 8)
        pb.getSlotInformation_Q(s, 8, slots)
        idn = []
        for session in (s2, s):
            reply = bytearray(256)
            pb.cmdString_Q(session, '*IDN?', 256, reply)
            idn.append(text_of(reply))
        polidn = []
        for resource in ('ASRL1::INSTR', 'GPIB0::9::INSTR'):
            h = ps.init(resource, 0, 0)
            reply = bytearray(256)
            ps.cmdString_Q(h, '*IDN?', 256, reply)
            polidn.append(text_of(reply))
        p = pp.init('USB0::0x3A5C::0x0207::P0012345::INSTR', 0, 0)
        rm = ib.OpenDefaultRM()
        found, count, first = ib.FindRsrc(rm, '?*INSTR')
        ref = {'slots': list(slots), 'idn': idn, 'polidn': polidn, 'date': pb.getDate(s),
               'self_test': pb.self_test(s), 'sensor': pp.getSensorInfo(p),
               'find': (count, first, ib.FindNext(found))}
        self.assertEqual(ref['self_test'], (0, 'Self test passed'))
        self.assertEqual(len(set(idn)), 2)
        return ref

    def run_phase(self, seconds, cap, toggle=False):
        shared = pb.ViInt32Vec()
        deadline = time.time() + seconds
        workers = [Worker(i, deadline, cap, self.ref, shared) for i in range(THREADS)]
        for w in workers:
            w.start()
        toggles = 0
        while toggle and any(w.is_alive() for w in workers):
            sim.journaling(toggles % 2 == 0)
            toggles += 1
            time.sleep(0.003)
        for w in workers:
            w.join(seconds + 60)
            self.assertFalse(w.is_alive(), 'thread %d hangs' % w.index)
        sim.journaling(True)
        failures = sum((w.failures for w in workers), [])
        self.assertEqual(failures, [], '\n'.join(failures))
        self.assertEqual(len(shared), sum(w.appended for w in workers))
        self.assertEqual(sorted(Counter(shared).items()),
                         sorted((w.index, w.appended) for w in workers if w.appended))
        for w in workers:
            self.assertGreater(w.operations, 10, 'thread %d hardly ran' % w.index)
        self.assertEqual(sim.session_count(), 0)  # every thread closed what it opened
        return workers

    def check_entries(self, entries):
        arity = {}
        for e in entries:
            name, args = e[0], e[1:]
            self.assertTrue(ENTRY_NAME.match(name), 'bad entry name %r' % name)
            for a in args:
                self.assertTrue(ARGUMENT.match(a), 'bad argument %r in %r' % (a, e))
                if a.startswith('d:'):
                    float(a[2:])
            self.assertEqual(arity.setdefault(name, len(args)), len(args), 'arity of %s' % name)

    def test_journal_off(self):
        sim.journaling(False)
        workers = self.run_phase(PHASE_SECONDS, 10 ** 9)
        self.assertEqual(sim.library().sim_journal_size(), 0)
        self.report('journal off', workers)

    def test_journal_on_holds_every_call_in_order(self):
        workers = self.run_phase(PHASE_SECONDS, CALLS_PER_THREAD)
        entries = raw_journal()
        made = sum((w.calls for w in workers), Counter())
        self.assertLess(len(entries), JOURNAL_LIMIT, 'the journal filled up: counts would not tell')
        self.check_entries(entries)
        self.assertEqual(Counter(e[0] for e in entries), made)
        # each session is used by one thread only: its journal is that thread's order
        for w in workers:
            for session, fns in w.order.items():
                logged = [e[0] for e in entries
                          if len(e) > 1 and e[1] == 'i:%d' % session and not e[0].startswith('vi')]
                self.assertEqual(logged, fns, 'thread %d session %d' % (w.index, session))
        self.report('journal on', workers)

    def test_journal_switched_while_threads_run(self):
        workers = self.run_phase(PHASE_SECONDS / 2, CALLS_PER_THREAD, toggle=True)
        entries = raw_journal()
        self.check_entries(entries)
        made = sum((w.calls for w in workers), Counter())
        for name, n in Counter(e[0] for e in entries).items():
            self.assertLessEqual(n, made[name], name)
        self.report('journal switched', workers)

    def report(self, label, workers):
        if '-v' in sys.argv or '--verbose' in sys.argv:
            sys.stderr.write('[%s: %d driver calls, %d operations by %d threads] ' % (
                label, sum(sum(w.calls.values()) for w in workers), sum(w.operations for w in workers),
                len(workers)))


class InstrumentTime(SimTestCase):
    """Driver calls given an instrument's time (instrsim.delay): other threads
    run meanwhile, two modules' calls overlap, one module's never do."""

    def heartbeat(self, call):
        """(seconds `call` took, longest pause of a 1 ms heartbeat thread meanwhile)."""
        clock = getattr(time, 'perf_counter', time.time)
        longest, stop, started = [0.0], [], threading.Event()

        def beat():
            last = clock()
            started.set()
            while not stop:
                time.sleep(0.001)
                now = clock()
                longest[0] = max(longest[0], now - last)
                last = now
        t = threading.Thread(target=beat)
        t.start()
        started.wait()
        time.sleep(0.02)
        longest[0] = 0.0
        t0 = clock()
        try:
            call()
        finally:
            took = clock() - t0
            stop.append(1)
            t.join()
        return took, longest[0]

    def test_a_heartbeat_goes_on_during_long_calls(self):
        s = pb.init('GPIB0::20::INSTR', 0, 0)
        points = pb.prepareLambdaScan(s, 0, 0.0, 0, 1, 1, 1550e-9, 1551e-9, 1e-12)[0]
        rm = ib.OpenDefaultRM()
        cases = [('hp816x_PWM_readValue', lambda: pb.PWM_readValue(s, 1, 0)),              # checked query
                 ('hp816x_set_TLS_wavelength', lambda: pb.set_TLS_wavelength(s, 0, 0, 1550e-9)),  # pass-through
                 ('hp816x_executeLambdaScan', lambda: pb.executeLambdaScan(s, points)),
                 ('viOpen', lambda: ib.Open(rm, 'GPIB0::9::INSTR', 0, 0))]
        if sm:
            k = sm.init('GPIB0::24::INSTR', 0, 0)
            cases.append(('KE2400_Read', lambda: sm.Read(k, 1)))
        for fn, call in cases:
            sim.delay(fn, 0.6)
            took, pause = self.heartbeat(call)
            sim.delay(fn, 0)
            self.assertGreaterEqual(took, 0.6, fn)
            # A call that kept the interpreter would stall the heartbeat for all of its
            # 0.6 s; a virtual machine alone may pause a thread for up to about 0.1 s.
            self.assertLess(pause, 0.3, '%s: the heartbeat stalled %.3f s' % (fn, pause))
        self.assertEqual(sim.gil_held_calls(), [])

    def run_together(self, *calls):
        threads = [threading.Thread(target=c) for c in calls]
        t0 = time.time()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        return time.time() - t0

    @unittest.skipUnless(sm, '_smeter not built')
    def test_two_modules_overlap_one_module_takes_turns(self):
        s = pb.init('GPIB0::20::INSTR', 0, 0)
        k = sm.init('GPIB0::24::INSTR', 0, 0)
        for fn in ('hp816x_PWM_readValue', 'hp816x_get_PWM_averagingTime_Q', 'KE2400_Read'):
            sim.delay(fn, 0.5)
        both = self.run_together(lambda: pb.PWM_readValue(s, 1, 0), lambda: sm.Read(k, 1))
        self.assertLess(both, 0.8)
        turns = self.run_together(lambda: pb.PWM_readValue(s, 1, 0), lambda: pb.get_PWM_averagingTime_Q(s, 1, 0))
        self.assertGreaterEqual(turns, 1.0)
        self.assertEqual(sim.overlaps(), [])


if __name__ == '__main__':
    unittest.main()
