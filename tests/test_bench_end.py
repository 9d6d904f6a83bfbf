"""How a bench script ends: the interpreter's shutdown under threads polling
instruments, failures meeting logging, pools, long calls and forks, and the
first failure deciding whatever the instrument's speed.  Every case runs in
fresh interpreters, repeated where it races."""
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time
import unittest

from support import BUILD, ROOT, SANITIZED, SimTestCase, exit_code, run_script, sim, TIMEOUT, RSRC_NFOUND

SHUTDOWN_RUNS = int(os.environ.get('END_RUNS', 10 if SANITIZED else 30))
RACE_RUNS = 10

PRELUDE = '''
import atexit, os, threading, time
import _photonbay as pb, _powerprobe as pp, _polshaper as ps
if sys.version_info[0] >= 3:
    sys.setswitchinterval(1e-5)
s = pb.init('GPIB0::20::INSTR', 0, 0)
q = ps.init('GPIB0::9::INSTR', 0, 0)
atexit.register(lambda: print('atexit ran'))

def pollers(n=2, fn=lambda: pb.PWM_readValue(s, 1, 0)):
    def poll():
        while True:
            fn()
    for i in range(n):
        t = threading.Thread(target=poll)
        t.daemon = True
        t.start()
    time.sleep(0.05)
'''


def run(code, timeout=30):
    rc, out, err = run_script(PRELUDE + textwrap.dedent(code), timeout=timeout)
    return rc, out, err


class Shutdown(unittest.TestCase):
    """Daemon threads polling instruments as the interpreter ends: the
    script's own exit code, its atexit handlers, never an abort."""

    def assertEnds(self, code, expected_rc, runs=SHUTDOWN_RUNS):
        for i in range(runs):
            rc, out, err = run(code)
            self.assertIsNotNone(rc, 'hung\n' + out + err)
            self.assertEqual(rc, expected_rc, 'run %d: %s\n%s' % (i, out, err))
            self.assertIn('atexit ran', out)
            self.assertNotIn('terminate called', err)

    def test_the_script_ends_under_pollers(self):
        self.assertEnds('pollers(); print("end")', 0)

    def test_sys_exit_and_unhandled_exceptions_under_pollers(self):
        self.assertEnds('pollers(); sys.exit(3)', 3, runs=SHUTDOWN_RUNS // 3)
        self.assertEnds('pollers(); raise ValueError("x")', 1, runs=SHUTDOWN_RUNS // 3)

    def test_slow_atexit_and_slow_calls_under_pollers(self):
        self.assertEnds('''
            sim.delay('hp8169_getPolPos_Q', 0.02)
            pollers(2, lambda: ps.getPolPos_Q(q))
            pollers(1)
            atexit.register(lambda: (time.sleep(0.1), pb.set_TLS_laserState(s, 0, 0)))
        ''', 0, runs=SHUTDOWN_RUNS // 3)

    @unittest.skipIf(sys.platform == 'win32' or sys.version_info[0] < 3,
                     'POSIX signals; a 2.7 join() without a timeout cannot be interrupted')
    def test_ctrl_c_while_joining_a_worker_that_calls_drivers(self):
        code = PRELUDE + textwrap.dedent('''
            def work():
                while True:
                    pb.PWM_readValue(s, 1, 0)
            t = threading.Thread(target=work)
            t.daemon = True  # the interrupted join must not wait for it
            t.start()
            print('joining'); sys.stdout.flush()
            t.join()
        ''')
        prelude = 'from __future__ import print_function\nimport sys\nsys.path[:0] = [%r]\nimport instrsim as sim\n' % BUILD
        for i in range(SHUTDOWN_RUNS // 3):
            p = subprocess.Popen([sys.executable, '-c', prelude + code], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE)
            self.assertEqual(p.stdout.readline().strip(), b'joining')
            time.sleep(0.05)
            p.send_signal(signal.SIGINT)
            timer = threading.Timer(20, p.kill)
            timer.start()
            out, err = p.communicate()
            timer.cancel()
            self.assertIn(b'KeyboardInterrupt', err)
            self.assertNotIn(b'terminate called', err)
            self.assertIn(p.returncode, (1, -signal.SIGINT, 128 + signal.SIGINT), err)


class FailureDelivery(unittest.TestCase):
    """A failure is told to other threads only at their next driver call."""

    def test_threads_of_libraries_are_left_alone(self):
        """logging from threads and a multiprocessing pool: the failure ends
        the process with its code, and never hangs."""
        for i in range(RACE_RUNS):
            rc, out, err = run('''
                import logging
                logging.basicConfig(level=logging.INFO, stream=sys.stdout, format='%(message)s')
                def chatter():
                    while True:
                        logging.info('tick')
                for k in range(3):
                    t = threading.Thread(target=chatter); t.daemon = True; t.start()
                time.sleep(0.02)
                sim.fail('hp816x_PWM_readValue', {0})
                def worker():
                    pb.PWM_readValue(s, 1, 0)
                w = threading.Thread(target=worker); w.start(); w.join()
                time.sleep(0.5)
            '''.format(TIMEOUT), timeout=30)
            self.assertIsNotNone(rc, 'hung')
            self.assertEqual(rc, exit_code(TIMEOUT), err)
        for pool in ('multiprocessing.Pool(2)', 'multiprocessing.pool.ThreadPool(2)'):
            t0 = time.time()
            rc, out, err = run('''
                import multiprocessing, multiprocessing.pool
                pool = {0}
                try:
                    pool.map(abs, range(10))
                    sim.fail('hp816x_PWM_readValue', {1})
                    w = threading.Thread(target=lambda: pb.PWM_readValue(s, 1, 0)); w.start(); w.join()
                    time.sleep(0.5)
                finally:
                    print('main finally')
                    pool.terminate()
            '''.format(pool, TIMEOUT), timeout=30)
            self.assertIsNotNone(rc, pool + ' hung')
            self.assertEqual(rc, exit_code(TIMEOUT), err)
            self.assertIn('main finally', out)
            self.assertLess(time.time() - t0, 8, pool)

    def test_a_worker_loop_ends_at_its_next_call_and_its_finally_reaches_the_driver(self):
        rc, out, err = run('''
            def loop():
                try:
                    while True:
                        ps.getPolPos_Q(q)
                finally:
                    print('loop finally %d' % ps.reset(q))
            t = threading.Thread(target=loop); t.start()
            sim.fail('hp816x_PWM_readValue', {0})
            try:
                pb.PWM_readValue(s, 1, 0)
            finally:
                t.join()
                print('main finally')
        '''.format(TIMEOUT))
        self.assertEqual(rc, exit_code(TIMEOUT), err)
        self.assertIn('loop finally 0', out)
        self.assertIn('main finally', out)

    def test_the_main_thread_inside_a_long_call_keeps_its_finally(self):
        rc, out, err = run('''
            sim.delay('hp8169_getPolPos_Q', 6.5)
            def fails():
                time.sleep(0.1)
                sim.fail('hp816x_PWM_readValue', {0})
                pb.PWM_readValue(s, 1, 0)
            threading.Thread(target=fails).start()
            try:
                ps.getPolPos_Q(q)
                time.sleep(1)
                print('not reached')
            finally:
                print('main finally')
        '''.format(TIMEOUT), timeout=40)
        self.assertEqual(rc, exit_code(TIMEOUT), err)
        self.assertIn('main finally', out)
        self.assertNotIn('not reached', out)

    def test_the_first_failure_decides_however_slow_its_instrument(self):
        """A slow error query (or error text) of the first failure: a later
        failure elsewhere waits, the first line and the code agree."""
        for fn in ('hp816x_error_query', 'hp816x_error_message'):
            for i in range(RACE_RUNS // 2):
                rc, out, err = run('''
                    sim.delay('{0}', 0.3)
                    if '{0}'.endswith('query'):
                        sim.instrument_error('hp816x_PWM_readValue', -222, 'Data out of range')
                    else:
                        sim.fail('hp816x_PWM_readValue', {1})
                    def later():
                        time.sleep(0.05)
                        ps.CheckError(q, {2})
                    threading.Thread(target=later).start()
                    pb.PWM_readValue(s, 1, 0)
                '''.format(fn, TIMEOUT, RSRC_NFOUND))
                first = out.strip().splitlines()[0]
                self.assertIn('Inst. Error : ffffff22' if fn.endswith('query') else 'Driver Error : bfff0015', first)
                self.assertEqual(rc, exit_code(-1074000633 if fn.endswith('query') else TIMEOUT), out)

    def test_the_record_survives_a_tidied_sys_modules(self):
        rc, out, err = run_script('''
            import sys
            import _photonbay as pb
            for name in [n for n in sys.modules if n.startswith('_') and n not in ('__main__', '__builtin__')]:
                if name not in ('_photonbay',):
                    pass
            sys.modules.pop('_instrbind', None)
            sys.modules.pop('instrbind', None)
            import _powerprobe as pp
            s = pb.init('GPIB0::20::INSTR', 0, 0)
            p = pp.init('USB0::0x3A5C::0x0207::P0012345::INSTR', 0, 0)
            for check, session, status in ((pb.CheckError, s, -1073807339), (pp.CheckError, p, -1073807343)):
                try:
                    check(session, status)
                except SystemExit as e:
                    print('caught %d' % e.code)
        ''')
        self.assertEqual(rc, exit_code(TIMEOUT), out + err)
        self.assertEqual(out.count('caught %d' % TIMEOUT), 2)


class TurnOrder(SimTestCase):
    def test_calls_waiting_for_a_driver_are_served_in_the_order_they_came(self):
        import threading
        import _photonbay as pb
        s = pb.init('GPIB0::20::INSTR', 0, 0)
        sim.delay('hp816x_reset', 0.4)
        busy = threading.Thread(target=pb.reset, args=(s,))
        busy.start()
        time.sleep(0.05)
        waiting = []
        for i in range(6):
            waiting.append(threading.Thread(target=pb.timeOut, args=(s, 1000 + i)))
            waiting[-1].start()
            time.sleep(0.03)
        for t in [busy] + waiting:
            t.join()
        self.assertEqual([args[1] for args in sim.calls('hp816x_timeOut')], list(range(1000, 1006)))


@unittest.skipIf(sys.platform == 'win32', 'fork')
class Fork(unittest.TestCase):
    def test_a_child_forked_from_a_worker_fails_on_its_own(self):
        for i in range(RACE_RUNS // 2):
            rc, out, err = run('''
                def work():
                    pid = os.fork()
                    if pid == 0:
                        try:
                            sim.fail('hp816x_PWM_readValue', {0})
                            pb.PWM_readValue(s, 1, 0)
                        finally:
                            print('child finally'); sys.stdout.flush()
                    else:
                        print('child exit %d' % (os.waitpid(pid, 0)[1] >> 8))
                t = threading.Thread(target=work); t.start(); t.join()
                pb.PWM_readValue(s, 1, 0)
                print('parent goes on')
            '''.format(TIMEOUT), timeout=30)
            self.assertEqual(rc, 0, out + err)
            self.assertIn('child finally', out)
            self.assertIn('child exit %d' % (exit_code(TIMEOUT) & 0xFF), out)
            self.assertIn('parent goes on', out)

    def test_fork_while_other_threads_hold_the_frame_locks(self):
        rc, out, err = run('''
            stop = []
            def hammer():
                while not stop:
                    pb.set_PWM_logging(s, 1, 0, 0.001, 10)
                    pb.close(pb.init('GPIB0::20::INSTR', 0, 0))
            ts = [threading.Thread(target=hammer) for k in range(2)]
            for t in ts: t.start()
            bad = 0
            for k in range(40):
                pid = os.fork()
                if pid == 0:
                    pb.set_PWM_logging(s, 1, 0, 0.001, 10)
                    pb.close(pb.init('GPIB0::20::INSTR', 0, 0))
                    os._exit(7)
                bad += os.waitpid(pid, 0)[1] >> 8 != 7
            stop.append(1)
            for t in ts: t.join()
            print('bad children %d' % bad)
        ''', timeout=60)
        self.assertIsNotNone(rc, 'a child hung')
        self.assertIn('bad children 0', out)


if __name__ == '__main__':
    unittest.main()
