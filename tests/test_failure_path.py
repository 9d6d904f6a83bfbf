"""The failure path as bench scripts meet it: the trace on, waits with a
timeout, clean-up blocks, an abandoned process, a reader of stdin, a process
pool.  Each case in fresh interpreters, repeated where it races."""
import os
import signal
import subprocess
import sys
import textwrap
import time
import unittest

from support import BUILD, PY2, SANITIZED, exit_code, exit_journal, run_script, TIMEOUT

RUNS = 3 if SANITIZED else 5
POSIX = sys.platform != 'win32'

PRELUDE = '''
import atexit, threading, time
import instrbind
import _photonbay as pb, _powerprobe as pp
if sys.version_info[0] >= 3:
    sys.setswitchinterval(1e-5)
    import queue
else:
    import Queue as queue
s = pb.init('GPIB0::20::INSTR', 0, 0)
p = pp.init('USB0::0x3A5C::0x0207::P0012345::INSTR', 0, 0)
atexit.register(lambda: print('atexit ran'))

def fails_soon(after=0.2):
    def work():
        time.sleep(after)
        sim.fail('PM100D_measPower', %d)
        pp.measPower(p)
    threading.Thread(target=work).start()
''' % TIMEOUT

TRACED = '''
import logging
logging.basicConfig(level=logging.DEBUG, filename=os.devnull)
instrbind.trace(True)
'''


# A child's first lines where it is started here rather than by run_script.
CHILD = 'from __future__ import print_function\nimport sys, os\nsys.path[:0] = [%r]\nimport instrsim as sim\n' % BUILD


def script(code):
    return 'import os\n' + PRELUDE + textwrap.dedent(code)


class Ends(unittest.TestCase):
    def assertEnds(self, code, rc_expected=None, runs=RUNS, timeout=30, within=None):
        """Runs `code` `runs` times: never hangs, ends with the failure's code
        (or `rc_expected`), atexit once; returns the last (stdout, stderr)."""
        for i in range(runs):
            t0 = time.time()
            rc, out, err = run_script(script(code), timeout=timeout)
            took = time.time() - t0
            self.assertIsNotNone(rc, 'run %d hung\n%s%s' % (i, out, err))
            self.assertEqual(rc, exit_code(TIMEOUT) if rc_expected is None else rc_expected,
                             'run %d\n%s%s' % (i, out, err))
            self.assertEqual(out.count('atexit ran'), 1, out)
            self.assertNotIn('terminate called', err)
            if within:
                self.assertLess(took, within, out + err)
        return out, err


class TraceHidesNothing(Ends):
    def test_a_failure_elsewhere_reaches_a_traced_polling_loop(self):
        self.assertEnds(TRACED + textwrap.dedent('''
            fails_soon()
            try:
                while True:
                    pb.PWM_readValue(s, 1, 0)
            finally:
                print('main finally')
        '''))

    @unittest.skipUnless(POSIX, 'POSIX signals')
    def test_ctrl_c_and_a_signal_handlers_exit_reach_a_traced_loop(self):
        code = PRELUDE + TRACED + textwrap.dedent('''
            import signal
            signal.signal(signal.SIGTERM, lambda *a: sys.exit(143))
            print('looping'); sys.stdout.flush()
            while True:
                pb.PWM_readValue(s, 1, 0)
        ''')
        prelude = CHILD
        for sig, expected in ((signal.SIGINT, (1, -signal.SIGINT)), (signal.SIGTERM, (143,))):
            for i in range(RUNS):
                p = subprocess.Popen([sys.executable, '-c', prelude + code], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
                self.assertEqual(p.stdout.readline().strip(), b'looping')
                time.sleep(0.2)
                p.send_signal(sig)
                t0 = time.time()
                while p.poll() is None and time.time() - t0 < 10:
                    time.sleep(0.05)
                if p.poll() is None:
                    p.kill()
                out, err = p.communicate()
                self.assertIn(p.returncode, expected, (sig, p.returncode, err))


class FiniteWaits(Ends):
    def test_the_main_thread_is_told_out_of_a_wait_with_a_timeout(self):
        waits = ['time.sleep(8)', 'threading.Event().wait(8)', 'queue.Queue().get(timeout=8)',
                 'threading.Thread(target=time.sleep, args=(8,)).start() or threading.enumerate()[-1].join(8)']
        if POSIX:
            waits.append('__import__("select").select([], [], [], 8)')
        for wait in waits:
            out, err = self.assertEnds('''
                fails_soon()
                t0 = time.time()
                try:
                    %s
                    print('wait ended')
                finally:
                    print('main finally after %%.1f s' %% (time.time() - t0))
            ''' % wait, runs=1, timeout=40)
            self.assertIn('main finally', out, wait)
            self.assertNotIn('wait ended', out, wait)
            self.assertLess(float(out.split('main finally after ')[1].split()[0]), 4.5, wait)

    def test_a_queue_consumer_is_never_told_inside_the_queue(self):
        for i in range(10 if PY2 else 2):
            self.assertEnds('''
                q = queue.Queue()
                def produce():
                    time.sleep(0.05)
                    for k in range(200):
                        q.put(pb.PWM_readValue(s, 1, 0))
                    sim.fail('PM100D_measPower', %d)
                    pp.measPower(p)
                threading.Thread(target=produce).start()
                try:
                    while True:
                        try:
                            q.get(timeout=0.01)
                        except queue.Empty:
                            pass
                finally:
                    q.put(None)
                    print('main finally')
            ''' % TIMEOUT, runs=3, timeout=20)


class CleanupBlocks(Ends):
    RAMP = '''
        steps = []
        @instrbind.cleanup
        def laser_off():
            pb.set_TLS_laserState(s, 0, 0)
            steps.append('off')
        try:
            pb.set_TLS_laserState(s, 0, 1)
        finally:
            fails_soon(0.1)
            with instrbind.cleanup():
                for i in range(10):
                    with instrbind.cleanup():
                        time.sleep(0.04)
                        pb.set_TLS_power(s, 0, 0, 0, float(-i))
                    steps.append(i)
                laser_off()
                print('steps %r' % steps)
            print('not reached')
    '''

    def test_a_marked_ramp_runs_to_its_end_then_the_failure_comes(self):
        out, err = self.assertEnds(self.RAMP)
        self.assertIn("steps [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 'off']", out)
        self.assertNotIn('not reached', out)
        rc, out, err, calls = exit_journal(script(self.RAMP), watch=('hp816x_set_TLS_laserState',))
        self.assertEqual([c[1][2] for c in calls], [1, 0])

    def test_a_worker_in_a_block_is_told_at_its_end(self):
        out, err = self.assertEnds('''
            def worker():
                with instrbind.cleanup():
                    time.sleep(0.5)
                    print('worker ramp %%d' %% pb.set_TLS_laserState(s, 0, 0))
                print('worker not reached')
            w = threading.Thread(target=worker); w.start()
            time.sleep(0.1)
            sim.fail('hp816x_PWM_readValue', %d)
            try:
                pb.PWM_readValue(s, 1, 0)
            finally:
                w.join()
        ''' % TIMEOUT)
        self.assertIn('worker ramp 0', out)
        self.assertNotIn('worker not reached', out)

    @unittest.skipUnless(POSIX, 'POSIX signals')
    def test_ctrl_c_waits_for_the_block(self):
        out, err = self.assertEnds('''
            import os, signal
            with instrbind.cleanup():
                os.kill(os.getpid(), signal.SIGINT)
                time.sleep(0.2)
                print('block done')
        ''', rc_expected=1 if PY2 else -signal.SIGINT, runs=1)
        self.assertIn('block done', out)
        self.assertIn('KeyboardInterrupt', err)


class Abandoned(Ends):
    def test_atexit_once_under_its_name_and_the_files_flushed(self):
        # The main thread waits where nothing wakes it; it comes back while
        # the handlers run on the ending thread.
        path = os.path.join(BUILD, 'abandoned-rows.txt')
        out, err = self.assertEnds('''
            import signal
            if hasattr(signal, 'pthread_sigmask'):
                signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGRTMAX - 2])
            lock = threading.Lock(); lock.acquire()
            later = threading.Timer(9, lock.release); later.daemon = True; later.start()
            def handler():
                print('handler in %%s' %% threading.current_thread().name); sys.stdout.flush()
                time.sleep(6)
            atexit.register(handler)
            f = open(%r, 'w')
            def rows():
                for i in range(100):
                    f.write('row %%d\\n' %% i)
                time.sleep(0.5)  # the main thread is in acquire() by then, not told at a Python step
                sim.fail('PM100D_measPower', %d)
                pp.measPower(p)
            threading.Thread(target=rows).start()
            lock.acquire()
            print('main came back')
        ''' % (path, TIMEOUT), runs=1, timeout=40)
        self.assertEqual(out.count('handler in instrbind-end'), 1, out)
        self.assertNotIn('main came back', out)
        with open(path) as f:
            self.assertEqual(len(f.readlines()), 100)
        os.remove(path)


@unittest.skipUnless(POSIX, 'a pseudo-terminal')
class StdinReader(unittest.TestCase):
    def test_a_thread_waiting_for_enter_does_not_hold_the_end(self):
        """input() at a terminal (and, on 2.7, from a pipe)."""
        import pty
        code = CHILD + PRELUDE + textwrap.dedent('''
            reader = threading.Thread(target=getattr(__builtins__, 'raw_input', None) or input)
            reader.daemon = True; reader.start()
            fails_soon(0.1)
            time.sleep(5)
        ''')
        stdins = ['tty'] + (['pipe'] if PY2 else [])
        for kind in stdins:
            master, slave = pty.openpty() if kind == 'tty' else os.pipe()
            out = slave if kind == 'tty' else subprocess.PIPE
            p = subprocess.Popen([sys.executable, '-c', code], stdin=slave if kind == 'tty' else master,
                                 stdout=out, stderr=out)
            t0 = time.time()
            while p.poll() is None and time.time() - t0 < 15:
                time.sleep(0.05)
            hung = p.poll() is None
            if hung:
                p.kill()
            p.wait()
            for fd in (master, slave):
                os.close(fd)
            if kind == 'pipe':
                p.communicate()
            self.assertFalse(hung, kind)
            self.assertEqual(p.returncode, exit_code(TIMEOUT), kind)


class ProcessesAndSessions(Ends):
    def test_a_pool_workers_failure_comes_back_to_map(self):
        out, err = self.assertEnds('''
            import multiprocessing
            def task(i):
                if i == 3:
                    sim.fail('hp816x_PWM_readValue', %d)
                return pb.PWM_readValue(s, 1, 0)
            pool = multiprocessing.Pool(2)
            try:
                pool.map(task, range(6))
            except SystemExit as e:
                print('map raised %%s %%s %%s' %% (type(e).__name__, e.function, e.code))
                raise
            finally:
                pool.terminate()
        ''' % TIMEOUT, runs=2, timeout=30)
        self.assertIn('map raised DriverExit PWM_readValue %d' % TIMEOUT, out)

    def test_a_session_failing_in_several_threads_is_closed_once(self):
        rc, out, err, calls = exit_journal(script('''
            def fail_twice():
                for k in range(2):
                    try:
                        pb.PWM_readValue(s, 1, 0)
                    except SystemExit:
                        pass
            sim.fail('hp816x_PWM_readValue', %d, times=100)
            ts = [threading.Thread(target=fail_twice) for k in range(3)]
            [t.start() for t in ts]; [t.join() for t in ts]
        ''' % TIMEOUT), watch=('hp816x_close',))
        self.assertEqual(rc, exit_code(TIMEOUT), err)
        self.assertEqual(len(calls), 1, calls)

    def test_the_failure_reads_as_its_line(self):
        out, err = self.assertEnds('''
            try:
                sim.fail('hp816x_PWM_readValue', %d)
                pb.PWM_readValue(s, 1, 0)
            except SystemExit as e:
                print('str: %%s' %% e)
                raise
        ''' % TIMEOUT, runs=1)
        self.assertIn('str: _photonbay.PWM_readValue(GPIB0::20::INSTR) failed: Driver Error : bfff0015, '
                      'Timeout expired before operation completed', out)

    def test_a_failure_in_the_main_threads_atexit_handler_is_the_main_threads(self):
        out, err = self.assertEnds('''
            def last():
                sim.fail('hp816x_PWM_readValue', %d)
                pb.PWM_readValue(s, 1, 0)
            atexit.register(last)
        ''' % TIMEOUT, runs=1)
        self.assertIn('failed in thread MainThread', err)


@unittest.skipIf(SANITIZED, 'the same cases again: enough once')
class TraceOnVariants(unittest.TestCase):
    def test_the_failure_tests_end_the_same_with_the_trace_on(self):
        env = dict(os.environ, INSTR_TEST_TRACE='1', INSTR_BUILD=BUILD)
        p = subprocess.Popen([sys.executable, '-m', 'unittest', 'test_process_end.ProcessEnd',
                              'test_bench_end.FailureDelivery', 'test_failure_report.CleanUpReachesTheInstrument'],
                             cwd=os.path.dirname(os.path.abspath(__file__)), env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out, err = p.communicate()
        self.assertEqual(p.returncode, 0, err.decode('latin-1')[-3000:])


if __name__ == '__main__':
    unittest.main()
