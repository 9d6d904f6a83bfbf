"""One orderly end for the whole process when failures meet across modules
and threads: the first failure decides the code and prints the first line,
every thread's finally blocks and the atexit handlers run, nothing hangs.
The racy cases run several times, each in a fresh interpreter."""
import re
import textwrap
import time
import unittest

from support import PY2, SimTestCase, exit_code, run_script, sim, INV_OBJECT, RSRC_NFOUND, TIMEOUT
import _photonbay as pb

PARAM1 = -1074003967  # 0xBFFC0001: parameter 1 out of range
RUNS = 10

PRELUDE = '''
import atexit, threading, time
import _photonbay as pb, _powerprobe as pp, _polshaper as ps
if sys.version_info[0] >= 3:
    sys.setswitchinterval(1e-5)
s = pb.init('GPIB0::20::INSTR', 0, 0)
p = pp.init('USB0::0x3A5C::0x0207::P0012345::INSTR', 0, 0)
q = ps.init('GPIB0::9::INSTR', 0, 0)
atexit.register(lambda: print('atexit ran'))

def together(*fns):
    threads = [threading.Thread(target=f) for f in fns]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
'''


def first_status(out):
    """The status of the first "Driver Error" line printed, signed."""
    m = re.search(r'Driver Error : ([0-9a-f]+),', out)
    if not m:
        return None
    v = int(m.group(1), 16)
    return v - (1 << 32) if v >= 1 << 31 else v


class ProcessEnd(unittest.TestCase):
    def run_case(self, code, timeout=30):
        t0 = time.time()
        rc, out, err = run_script(PRELUDE + textwrap.dedent(code), timeout=timeout)
        self.assertIsNotNone(rc, 'hung: killed after %d s\n%s\n%s' % (timeout, out, err))
        return rc, out, err, time.time() - t0

    def assertFirstFailureDecides(self, rc, out, err):
        status = first_status(out)
        self.assertIsNotNone(status, out + err)
        self.assertEqual(rc, exit_code(status), out)
        self.assertIn('atexit ran', out)
        self.assertNotIn('Traceback', err)

    def test_the_first_failure_in_any_module_decides(self):
        rc, out, err, _ = self.run_case('''
            for check, session, status in ((pb.CheckError, s, %d), (pp.CheckError, p, %d)):
                try:
                    check(session, status)
                except SystemExit as e:
                    print('caught %%d' %% e.code)
        ''' % (TIMEOUT, RSRC_NFOUND))
        self.assertFirstFailureDecides(rc, out, err)
        self.assertEqual(rc, exit_code(TIMEOUT))
        self.assertEqual(out.count('Driver Error'), 2)
        self.assertEqual(out.count('caught %d' % TIMEOUT), 2)  # one code for the process

    def test_failing_drivers_under_many_threads(self):
        """8 threads over three modules whose drivers start failing: each
        thread's finally runs, the main thread's slow clean-up is not cut."""
        for run in range(RUNS):
            rc, out, err, _ = self.run_case('''
                calls = [lambda: pb.PWM_readValue(s, 1, 0), lambda: pp.measPower(p), lambda: ps.getPolPos_Q(q)]
                go = threading.Event()
                def work(i):
                    try:
                        go.wait()
                        while True:
                            calls[i %% 3]()
                    finally:
                        print('finally %%d' %% i)
                threads = [threading.Thread(target=work, args=(i,)) for i in range(8)]
                for t in threads:
                    t.start()
                try:
                    go.set()
                    time.sleep(0.05)
                    sim.fail('hp816x_PWM_readValue', %d, -1)
                    sim.fail('PM100D_measPower', %d, -1)
                    sim.fail('hp8169_getPolPos_Q', %d, -1)
                    for t in threads:
                        t.join()
                    print('joined')
                finally:
                    for step in range(5):
                        time.sleep(0.04)
                    print('main clean-up done')
            ''' % (TIMEOUT, RSRC_NFOUND, PARAM1))
            self.assertFirstFailureDecides(rc, out, err)
            self.assertEqual(sorted(re.findall(r'finally (\d)', out)), [str(i) for i in range(8)], out)
            self.assertIn('main clean-up done', out)
            self.assertNotIn('joined', out)

    def test_the_first_line_and_the_code_agree_under_a_race(self):
        """A fails with a timeout and closes the session; B, polling that
        session, then fails too: A's line comes first and A's code ends."""
        for run in range(RUNS):
            rc, out, err, _ = self.run_case('''
                def a():
                    try:
                        time.sleep(0.01)
                        sim.fail('hp816x_PWM_readValue', %d)
                        pb.PWM_readValue(s, 1, 0)
                    finally:
                        print('a finally')
                def b():
                    try:
                        while True:
                            pb.get_PWM_averagingTime_Q(s, 1, 0)
                    finally:
                        print('b finally')
                together(a, b)
            ''' % TIMEOUT)
            self.assertFirstFailureDecides(rc, out, err)
            self.assertEqual(first_status(out), TIMEOUT, out)
            self.assertIn('a finally', out)
            self.assertIn('b finally', out)

    def test_a_failure_after_the_script_has_ended(self):
        """Non-daemon workers, no join(): the interpreter's wait for them is
        not cut short, every worker is told at its next driver call and its
        finally runs."""
        for run in range(RUNS):
            rc, out, err, _ = self.run_case('''
                def work(i):
                    try:
                        if i == 0:
                            time.sleep(0.1)
                            sim.fail('hp816x_PWM_readValue', %d)
                            pb.PWM_readValue(s, 1, 0)
                        while True:
                            (ps.getPolPos_Q(q) if i %% 2 else pp.measPower(p))
                            time.sleep(0.01)
                    finally:
                        time.sleep(0.05)
                        print('finally %%d' %% i)
                for i in range(4):
                    threading.Thread(target=work, args=(i,)).start()
                print('script end')
            ''' % TIMEOUT)
            self.assertFirstFailureDecides(rc, out, err)
            self.assertEqual(rc, exit_code(TIMEOUT))
            self.assertEqual(sorted(re.findall(r'finally (\d)', out)), ['0', '1', '2', '3'], out)

    def test_a_thread_that_never_ends_is_abandoned(self):
        """A worker that swallows every SystemExit: the process still ends,
        5 s after the main thread is done (or after the failure, if the main
        thread waits for that worker for ever), with the first code."""
        stubborn = '''
            def stubborn():
                while True:
                    try:
                        while True:
                            time.sleep(0.01)
                    except SystemExit:
                        pass
            def fails():
                time.sleep(0.1)
                sim.fail('hp816x_PWM_readValue', %d)
                pb.PWM_readValue(s, 1, 0)
            t = threading.Thread(target=stubborn)
            t.start()
            threading.Thread(target=fails).start()
        ''' % TIMEOUT
        for end in ('print("script end")', 't.join()'):
            rc, out, err, took = self.run_case(textwrap.dedent(stubborn) + end, timeout=20)
            self.assertFirstFailureDecides(rc, out, err)
            self.assertLess(took, 9)

    def test_a_failure_while_another_module_works(self):
        """One thread fails while another is inside a long call of another
        module: that call ends, its thread unwinds at its next driver call,
        the first failure's code ends the process."""
        rc, out, err, took = self.run_case('''
            sim.delay('hp8169_getPolPos_Q', 1.0)
            def slow():
                try:
                    ps.getPolPos_Q(q)
                    print('slow call returned')
                    ps.getPolPos_Q(q)  # told here: the failure's DriverExit
                    print('not reached')
                finally:
                    print('slow finally')
            def fails():
                time.sleep(0.1)
                sim.fail('hp816x_PWM_readValue', %d)
                pb.PWM_readValue(s, 1, 0)
            together(slow, fails)
        ''' % TIMEOUT)
        self.assertFirstFailureDecides(rc, out, err)
        self.assertEqual(rc, exit_code(TIMEOUT))
        self.assertIn('slow finally', out)
        self.assertNotIn('not reached', out)

    def test_a_module_of_another_build_is_refused(self):
        # the process's record made by another build (another layout or ABI)
        rc, out, err = run_script('''
            import ctypes
            api = ctypes.pythonapi
            api.PyCapsule_New.restype = ctypes.py_object
            api.PyCapsule_New.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
            name = ctypes.create_string_buffer(b'instrbind.process_end.1.other')
            theirs = api.PyCapsule_New(ctypes.addressof(name), name, None)
            if sys.version_info[0] >= 3:
                try:
                    get = api.PyInterpreterState_Get
                except AttributeError:
                    get = api._PyInterpreterState_Get  # 3.8
                get.restype = ctypes.c_void_p
                api.PyInterpreterState_GetDict.restype = ctypes.py_object
                api.PyInterpreterState_GetDict.argtypes = [ctypes.c_void_p]
                keep = api.PyInterpreterState_GetDict(get())
            else:
                import __builtin__
                keep = __builtin__.__dict__
            keep['instrbind.process_end'] = theirs
            try:
                import _polshaper
            except ImportError as e:
                print('refused: %s' % e)
            print('_polshaper' in sys.modules)
        ''', timeout=30)
        self.assertEqual(rc, 0, err)
        self.assertIn('refused: another build of the instrument modules is already loaded', out)
        self.assertIn('instrbind.process_end.1.other', out)  # theirs and ours, named
        self.assertTrue(re.search(r"this module's: instrbind\.process_end\.\d+\.\w", out), out)
        self.assertTrue(out.rstrip().endswith('False'), out)

    def test_a_failing_check_in_an_atexit_handler(self):
        """The handlers registered before it still run (2.7: the main thread
        is known as such there too)."""
        rc, out, err, _ = self.run_case('''
            atexit.register(lambda: print('registered first, runs last'))
            atexit.register(lambda: pb.CheckError(s, %d))
            print('script end')
        ''' % TIMEOUT)
        self.assertEqual(rc, exit_code(TIMEOUT))
        self.assertIn('Driver Error', out)
        self.assertIn('registered first, runs last', out)


class RememberedSizes(SimTestCase):
    """A set-up call that goes on after instrument error -261 did the set-up:
    the next result arrays have room for what it reported."""

    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init('GPIB0::20::INSTR', 0, 0)

    def test_scan_prepared_again_with_261(self):
        s = self.s
        small = pb.prepareLambdaScan(s, 0, 0.0, 0, 1, 1, 1500e-9, 1500.9e-9, 0.1e-9)[0]
        sim.instrument_error('hp816x_prepareLambdaScan', -261, 'Setting conflict')
        large = pb.prepareLambdaScan(s, 0, 0.0, 0, 1, 1, 1500e-9, 1600e-9, 1e-12)[0]
        self.assertEqual((small, large), (10, 100001))
        result = pb.executeLambdaScan(s, 10)
        self.assertEqual([len(v) for v in result], [10] * 9)
        self.assertAlmostEqual(result[0][9], 1500e-9 + 9e-12)  # the large scan's grid, cut to 10
        self.assertEqual(sim.gil_held_calls(), [])  # the check's error query too

    def test_logging_and_stability_set_up_again_with_261(self):
        s = self.s
        pb.set_PWM_logging(s, 1, 0, 0.001, 10)
        sim.instrument_error('hp816x_set_PWM_logging', -261)
        pb.set_PWM_logging(s, 1, 0, 0.001, 100000)
        self.assertEqual(len(pb.get_PWM_loggingResults_Q(s, 1, 0, 1, 0, 10)[1]), 10)
        n = pb.set_PWM_stability(s, 1, 0, 0.1, 0.1, 1.0)
        sim.instrument_error('hp816x_set_PWM_stability', -261)
        m = pb.set_PWM_stability(s, 1, 0, 0.1, 0.1, 1000.0)
        self.assertLess(n, m)
        self.assertEqual(len(pb.get_PWM_stabilityResults_Q(s, 1, 0, 1, 0, n)[1]), n)


@unittest.skipUnless(PY2, 'Python 2.7 writes str replies in place')
class SharedStrs(SimTestCase):
    def test_a_str_held_elsewhere_is_never_written(self):
        s = pb.init('GPIB0::20::INSTR', 0, 0)

        def constant():
            return '                                                                        '
        before = ''.join(list(constant()))
        held = {'k': ' ' * 80}
        for reply in (constant, lambda: held['k']):  # a code constant, a dict's value
            with self.assertRaises(ValueError) as e:
                pb.cmdString_Q(s, '*IDN?', 64, reply())
            self.assertIn('bytearray', str(e.exception))
        buf = constant()
        self.assertRaises(ValueError, pb.cmdString_Q, s, '*IDN?', 64, buf)
        self.assertEqual((constant(), held['k']), (before, ' ' * 80))
        own = ' ' * 80  # a name of the caller's only: written in place
        self.assertEqual(pb.cmdString_Q(s, '*IDN?', 64, own), 0)
        self.assertNotEqual(own.strip(), '')

if __name__ == '__main__':
    unittest.main()
