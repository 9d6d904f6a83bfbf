"""The simulator under threads: delays that let calls into different drivers
run at once, overlap records for calls into one driver, the record of calls
made with the interpreter lock held, reset() while calls are in flight, the
pace of modelled instrument time, and fork() while other threads call.

The driver libraries are called through ctypes here, which releases the
interpreter lock around a call (CDLL) or keeps it (PyDLL)."""
import ctypes
import os
import threading
import time
import unittest

from support import BUILD, INV_OBJECT, SimTestCase, sim

clock = getattr(time, 'perf_counter', time.time)
U32, I32, I16 = ctypes.c_uint32, ctypes.c_int32, ctypes.c_int16


def library(name, keep_gil=False):
    """A simulated driver library: ctypes releases the interpreter lock
    around its calls, or keeps it (keep_gil)."""
    kind = ctypes.PyDLL if keep_gil else ctypes.CDLL
    return kind(os.path.join(BUILD, 'instrsim', 'lib%s.so' % name))


class Drivers(object):
    """Sessions on the mainframe, the power meter, the source-measure unit
    and VISA, and a few of their functions with typed arguments."""

    def __init__(self, keep_gil=False):
        self.mf, self.pm = library('hp816x_32'), library('PM100D_Drv_32')
        self.smu, self.visa = library('KE2400_32'), library('visa')
        self.mf_s = self.open(self.mf.hp816x_init, b'GPIB0::20::INSTR')
        self.pm_s = self.open(self.pm.PM100D_init, b'USB0::0x3A5C::0x0207::P0012345::INSTR')
        self.smu_s = self.open(self.smu.KE2400_init, b'GPIB0::24::INSTR')
        rm = U32()
        assert self.visa.viOpenDefaultRM(ctypes.byref(rm)) == 0
        self.rm = rm.value
        if keep_gil:  # the sessions are opened without the lock, the rest called with it
            self.mf, self.pm = library('hp816x_32', True), library('PM100D_Drv_32', True)
            self.smu, self.visa = library('KE2400_32', True), library('visa', True)

    @staticmethod
    def open(init, resource):
        s = U32()
        status = init(resource, 0, 0, ctypes.byref(s))
        assert status == 0, status
        return s.value

    def timeout(self, session=None):           # hp816x_timeOut_Q
        v = I32()
        return self.mf.hp816x_timeOut_Q(U32(self.mf_s if session is None else session), ctypes.byref(v))

    def average(self, session=None):           # PM100D_getAvgCnt
        v = I16()
        return self.pm.PM100D_getAvgCnt(U32(self.pm_s if session is None else session), ctypes.byref(v))

    def smu_count(self):                       # KE2400_GetAttributeViInt32 of the trigger count
        v = I32()
        return self.smu.KE2400_GetAttributeViInt32(U32(self.smu_s), b'', U32(1150029), ctypes.byref(v))

    def visa_find(self):                       # viFindRsrc, the list closed again
        found, count, desc = U32(), U32(), ctypes.create_string_buffer(256)
        status = self.visa.viFindRsrc(U32(self.rm), b'?*', ctypes.byref(found), ctypes.byref(count), desc)
        if status == 0:
            self.visa.viClose(U32(found.value))
        return status


def in_threads(*calls):
    """Runs each call on a thread of its own, all started together:
    [(result, seconds)] in the order given."""
    results = [None] * len(calls)
    start = threading.Event()

    def run(i, fn):
        start.wait()
        t0 = clock()
        r = fn()
        results[i] = (r, clock() - t0)
    threads = [threading.Thread(target=run, args=(i, fn)) for i, fn in enumerate(calls)]
    for t in threads:
        t.start()
    start.set()
    for t in threads:
        t.join(30)
    return results


class Delays(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.d = Drivers()

    def tearDown(self):
        sim.reset()

    def test_calls_into_different_drivers_wait_their_delays_at_once(self):
        sim.delay('hp816x_timeOut_Q', 0.4)
        sim.delay('PM100D_getAvgCnt', 0.4)
        t0 = clock()
        (mf, mf_s), (pm, pm_s) = in_threads(self.d.timeout, self.d.average)
        total = clock() - t0
        self.assertEqual((mf, pm), (0, 0))
        self.assertGreaterEqual(min(mf_s, pm_s), 0.4)
        self.assertLess(total, 0.75, 'the delays were waited one after the other')
        self.assertEqual(sim.overlaps(), [])

    def test_the_simulator_stays_usable_during_a_delay(self):
        sim.delay('hp816x_timeOut_Q', 0.5)
        t = threading.Thread(target=self.d.timeout)
        t.start()
        time.sleep(0.1)
        t0 = clock()
        self.assertEqual(self.d.average(), 0)            # another driver
        sim.set_output('hp816x_timeOut_Q', 1, 77)         # control functions
        sim.journal()
        took = clock() - t0
        t.join()
        self.assertLess(took, 0.2)

    def test_delay_is_per_function_until_removed_or_reset(self):
        sim.delay('hp816x_timeOut_Q', 0.2)
        for expected in (True, True):
            t0 = clock()
            self.d.timeout()
            self.assertEqual(clock() - t0 >= 0.2, expected)
        t0 = clock()
        self.d.average()
        self.d.mf.hp816x_timeOut(U32(self.d.mf_s), 500)   # same driver, other function
        self.assertLess(clock() - t0, 0.1)
        sim.delay('hp816x_timeOut_Q', 0)
        t0 = clock()
        self.d.timeout()
        self.assertLess(clock() - t0, 0.1)
        sim.delay('hp816x_timeOut_Q', 0.2)
        sim.reset()
        t0 = clock()
        self.d.timeout()
        self.assertLess(clock() - t0, 0.1)

    def test_names_and_values_are_checked(self):
        with self.assertRaises(ValueError) as e:
            sim.delay('PWM_readValue', 1)
        self.assertIn('hp816x_PWM_readValue', str(e.exception))   # as fail() refuses it
        for bad in (-1, float('nan'), float('inf')):
            self.assertRaises(ValueError, sim.delay, 'viOpen', bad)
            self.assertRaises(ValueError, sim.pace, bad)
        sim.delay('viOpen', 0.01)                                   # VISA names too

    def test_durations_beyond_the_maximum_are_refused_by_python_and_the_core(self):
        lib = sim.library()
        self.assertEqual((sim.MAX_DELAY, sim.MAX_PACE), (lib.sim_max_delay(), lib.sim_max_pace()))
        self.assertEqual(sim.MAX_DELAY, 86400)
        for bad in (1e10, 86400.5):
            with self.assertRaises(ValueError) as e:
                sim.delay('hp816x_timeOut_Q', bad)
            self.assertIn('at most 86400 seconds', str(e.exception))
        with self.assertRaises(ValueError) as e:
            sim.pace(101)
        self.assertIn('at most 100', str(e.exception))
        sim.delay('hp816x_timeOut_Q', 86400)                        # the maximum itself
        sim.pace(100)
        sim.delay('hp816x_timeOut_Q', 0.3)
        name = b'hp816x_timeOut_Q'
        for bad in (1e10, 1e300, float('inf'), float('nan')):       # straight into the core
            self.assertEqual(lib.sim_set_delay(name, bad), -1)
            self.assertEqual(lib.sim_set_pace(bad), -1)
        t0 = clock()
        self.assertEqual(self.d.timeout(), 0)
        self.assertTrue(0.3 <= clock() - t0 < 2)                    # the delay before stays
        sim.pace(0)


class Overlaps(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.d = Drivers()

    def tearDown(self):
        sim.reset()

    def test_a_second_call_into_a_library_during_a_delay_is_recorded(self):
        sim.delay('hp816x_timeOut_Q', 0.3)
        results = in_threads(self.d.timeout, lambda: (time.sleep(0.1), self.d.mf.hp816x_timeOut(U32(self.d.mf_s), 9))[1])
        self.assertEqual([r for r, _ in results], [0, 0])
        self.assertEqual(sim.overlaps(), [('hp816x_timeOut', 'hp816x_timeOut_Q')])
        sim.reset()
        self.assertEqual(sim.overlaps(), [])

    def test_calls_one_after_the_other_and_other_libraries_are_no_overlap(self):
        sim.delay('viFindRsrc', 0.2)
        sim.delay('KE2400_GetAttributeViInt32', 0.2)
        for _ in range(3):
            self.assertEqual(self.d.visa_find(), 0)
        results = in_threads(self.d.visa_find, self.d.smu_count, self.d.timeout, self.d.average)
        self.assertEqual([r for r, _ in results], [0] * 4)
        self.assertEqual(sim.overlaps(), [])

    def test_every_driver_prefix_is_watched(self):
        sim.delay('viFindRsrc', 0.3)
        sim.delay('KE2400_GetAttributeViInt32', 0.3)
        sim.delay('PM100D_getAvgCnt', 0.3)
        late = lambda fn: lambda: (time.sleep(0.1), fn())[1]  # noqa: E731
        in_threads(self.d.visa_find, late(self.d.visa_find), self.d.smu_count, late(self.d.smu_count),
                   self.d.average, late(self.d.average))
        seen = sim.overlaps()
        for pair in [('KE2400_GetAttributeViInt32', 'KE2400_GetAttributeViInt32'),
                     ('PM100D_getAvgCnt', 'PM100D_getAvgCnt'), ('viFindRsrc', 'viFindRsrc')]:
            self.assertIn(pair, seen)
        # The first viClose may come while the second viFindRsrc waits: one library still.
        self.assertEqual([(a[:2], b[:2]) for a, b in seen], [(a[:2], a[:2]) for a, _ in seen])


@unittest.skipUnless(sim.gil_detection(), 'the interpreter lock cannot be seen here')
class InterpreterLock(SimTestCase):
    def test_calls_holding_the_lock_are_named_once_in_first_seen_order(self):
        free = Drivers()
        held = Drivers(keep_gil=True)
        for _ in range(3):
            self.assertEqual(free.timeout(), 0)
        self.assertEqual(free.visa_find(), 0)
        self.assertEqual(sim.gil_held_calls(), [])
        self.assertEqual(held.average(), 0)
        self.assertEqual(held.timeout(), 0)
        self.assertEqual(held.average(), 0)
        free.smu_count()
        in_threads(held.smu_count, free.visa_find)       # the caller's own thread is what counts
        self.assertEqual(sim.gil_held_calls(),
                         ['PM100D_getAvgCnt', 'hp816x_timeOut_Q', 'KE2400_GetAttributeViInt32'])
        sim.reset()
        self.assertEqual(sim.gil_held_calls(), [])

    def test_another_thread_holding_the_lock_is_not_the_caller(self):
        free = Drivers()
        stop = []

        def call():
            while not stop:
                free.timeout()
        t = threading.Thread(target=call)
        t.start()
        try:
            end = clock() + 0.3
            spins = 0
            while clock() < end:   # this thread holds the lock most of the time
                spins += 1
        finally:
            stop.append(1)
            t.join()
        self.assertEqual(sim.gil_held_calls(), [])


class ResetInFlight(SimTestCase):
    def tearDown(self):
        sim.reset()

    def test_a_call_in_its_delay_finds_its_session_gone(self):
        d = Drivers()
        sim.delay('hp816x_timeOut_Q', 0.3)
        t = threading.Thread(target=lambda: results.append(d.timeout()))
        results = []
        t.start()
        time.sleep(0.1)
        sim.reset()
        t.join()
        self.assertEqual(results, [INV_OBJECT])

    def test_resets_while_threads_call_every_driver(self):
        """Calls keep references into the value store and the drivers' own
        tables; resets between them must leave nothing dangling (run under
        ./run sanitize)."""
        d = Drivers()
        stop, bad = [], []

        def hammer(call, ok):
            while not stop:
                r = call()
                if r not in ok and len(bad) < 10:
                    bad.append(r)
        calls = [(d.timeout, (0, INV_OBJECT)), (d.average, (0, INV_OBJECT)),
                 (d.smu_count, (0, INV_OBJECT)), (d.visa_find, (0, INV_OBJECT)),
                 (lambda: d.smu.KE2400_init(b'GPIB0::24::INSTR', 0, 0, ctypes.byref(U32())), (0,)),
                 (lambda: d.mf.hp816x_init(b'GPIB0::20::INSTR', 0, 0, ctypes.byref(U32())), (0,))]
        threads = [threading.Thread(target=hammer, args=c) for c in calls]
        for t in threads:
            t.start()
        try:
            deadline = clock() + 1.0
            resets = 0
            while clock() < deadline:
                sim.reset()
                resets += 1
                if resets % 10 == 0:
                    d = Drivers()           # sessions again, for a while
                time.sleep(0.001)
        finally:
            stop.append(1)
            for t in threads:
                t.join(10)
        self.assertEqual(bad, [])
        self.assertGreater(resets, 10)


class Pace(SimTestCase):
    def tearDown(self):
        sim.reset()

    def test_modelled_time_is_waited_only_with_a_pace(self):
        d = Drivers()
        avg, power = ctypes.c_int16(100), ctypes.c_double()
        self.assertEqual(d.pm.PM100D_setAvgCnt(U32(d.pm_s), avg), 0)     # 100 samples of 3 ms
        t0 = clock()
        self.assertEqual(d.pm.PM100D_measPower(U32(d.pm_s), ctypes.byref(power)), 0)
        self.assertLess(clock() - t0, 0.1)
        sim.pace(1)
        t0 = clock()
        results = in_threads(lambda: d.pm.PM100D_measPower(U32(d.pm_s), ctypes.byref(power)),
                             lambda: (time.sleep(0.05), d.timeout())[1])
        self.assertEqual([r for r, _ in results], [0, 0])
        self.assertGreaterEqual(results[0][1], 0.3)
        self.assertLess(results[1][1], 0.2, 'the mainframe waited for the power meter')
        sim.pace(0.5)
        t0 = clock()
        d.pm.PM100D_measPower(U32(d.pm_s), ctypes.byref(power))
        self.assertTrue(0.15 <= clock() - t0 < 0.3)
        sim.reset()
        d = Drivers()
        t0 = clock()
        d.pm.PM100D_setAvgCnt(U32(d.pm_s), avg)
        d.pm.PM100D_measPower(U32(d.pm_s), ctypes.byref(power))
        self.assertLess(clock() - t0, 0.1)


@unittest.skipUnless(hasattr(os, 'fork'), 'no fork here')
class Fork(SimTestCase):
    def tearDown(self):
        sim.reset()

    def test_children_of_a_busy_process_can_call_the_drivers(self):
        d = Drivers()
        stop = []

        def hammer():
            while not stop:
                d.timeout()
                d.average()
                d.visa_find()
                sim.session_count()
        threads = [threading.Thread(target=hammer) for _ in range(2)]
        for t in threads:
            t.start()
        hung = []
        try:
            for _ in range(40):
                pid = os.fork()
                if pid == 0:
                    # One driver call and one control call, then out at once.
                    os._exit(0 if d.timeout() == 0 and sim.session_count() >= 3 else 3)
                deadline = clock() + 10
                while True:
                    done, status = os.waitpid(pid, os.WNOHANG)
                    if done:
                        self.assertEqual(status, 0)
                        break
                    if clock() > deadline:
                        os.kill(pid, 9)
                        os.waitpid(pid, 0)
                        hung.append(pid)
                        break
                    time.sleep(0.002)
        finally:
            stop.append(1)
            for t in threads:
                t.join(10)
        self.assertEqual(hung, [])


if __name__ == '__main__':
    unittest.main()
