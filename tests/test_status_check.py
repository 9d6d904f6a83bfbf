"""The mainframe's status check: the printed line, the session close, the exit
code, and the one instrument error that lets a call go on."""
import unittest

import textwrap

from support import bound_to, run_script, exit_journal, exit_code, INSTR_ERROR

PRELUDE = '''
import sys
import _photonbay as pb
s = pb.init('GPIB0::20::INSTR', 0, 0)
sim.clear_journal()
'''


def run(code):
    return run_script(PRELUDE + textwrap.dedent(code))


class CheckError(unittest.TestCase):
    def test_success_and_warnings_print_nothing_and_call_nothing(self):
        rc, out, err = run('''
            print(pb.CheckError(s, 0), pb.CheckError(s, 1), pb.CheckError(s, 0x3FFC0101))
            print(sim.journal())
        ''')
        self.assertEqual((rc, out), (0, 'None None None\n[]\n'))

    def test_driver_error_prints_closes_and_exits(self):
        rc, out, _ = run('''
            sim.push_error('hp816x', -113, 'pending instrument error')
            pb.CheckError(s, -1073807339)
        ''')
        self.assertEqual(rc, exit_code(-1073807339))
        self.assertEqual(out, '        Driver Error : bfff0015, Timeout expired before operation completed\n')

    def test_exit_path_reads_the_text_then_closes_that_session(self):
        rc, out, _, calls = exit_journal(PRELUDE + textwrap.dedent('''
            import atexit
            atexit.register(lambda: print('python exit handlers run'))
            other = pb.init('TCPIP0::192.168.1.20::inst0::INSTR', 0, 0)
            print(s)
            pb.CheckError(s, -1)
        '''))
        self.assertEqual(rc, 255)
        session, line = out.splitlines()[:2]
        self.assertTrue(line.startswith('        Driver Error : ffffffff, '))
        self.assertEqual(out.splitlines()[-1], 'python exit handlers run')
        names = [c[0] for c in calls]
        self.assertEqual(names[-2:], ['hp816x_error_message', 'hp816x_close'])
        self.assertEqual(calls[-2][1][:2], (int(session), -1))
        self.assertEqual(calls[-1][1], (int(session),))  # only the failing session is closed
        self.assertNotIn('hp816x_error_query', names)

    def test_instrument_error_261_is_reported_and_the_call_goes_on(self):
        rc, out, _ = run('''
            sim.push_error('hp816x', -261, 'Math error in expression')
            sim.fail('hp816x_getTime', 0xBFFC0D07)
            print(pb.getTime(s))
            print(sim.names())
            print(sim.session_count())
        ''')
        self.assertEqual(rc, 0)
        lines = out.splitlines()
        self.assertEqual(lines[0], '        Inst. Error : fffffefb, Math error in expression')
        self.assertEqual(lines[1], '(9, 30, 0)')
        self.assertEqual(lines[2], "['hp816x_getTime', 'hp816x_error_query']")
        self.assertEqual(lines[3], '1')

    def test_other_instrument_errors_end_the_process(self):
        rc, out, _ = run('''
            sim.push_error('hp816x', -113, 'Undefined header')
            pb.CheckError(s, %d)
        ''' % INSTR_ERROR)
        self.assertEqual(rc, exit_code(INSTR_ERROR))
        self.assertEqual(out, '        Inst. Error : ffffff8f, Undefined header\n')

    def test_earlier_output_is_kept_in_order(self):
        rc, out, err = run('''
            sys.stdout.write('partial line, ')
            print('then more')
            sys.stderr.write('to stderr')
            pb.CheckError(s, -1074003967)
        ''')
        self.assertEqual(out, 'partial line, then more\n        Driver Error : bffc0001, Parameter 1 out of range\n')
        self.assertEqual(err, 'to stderr' '_photonbay.CheckError(GPIB0::20::INSTR, session 0x1001) failed in thread '
                              'MainThread: Driver Error bffc0001, Parameter 1 out of range%s\n'
                         % bound_to('libhp816x_32.so'))

    def test_message_stays_within_its_buffer(self):
        rc, out, _ = run('''
            sim.hostile()
            pb.CheckError(s, -1074003967)
        ''')
        line = out.rstrip('\n')
        self.assertEqual(len(line), len('        Driver Error : bffc0001, ') + 255)

    def test_arguments_are_checked_first(self):
        rc, out, err = run('''
            try:
                pb.CheckError(s, 2 ** 31)
            except OverflowError:
                print('refused')
        ''')
        self.assertEqual((rc, out), (0, 'refused\n'))


# A lab script: a CSV written inside `with`, the laser switched on inside
# try/finally, an atexit handler; the fourth reading fails.
SWEEP = PRELUDE + '''
import atexit, threading
atexit.register(lambda: print('atexit handler ran'))

def sweep():
    with open(%(path)r, 'w') as f:
        f.write('point,power\\n')
        try:
            pb.set_TLS_laserState(s, 0, 1)
            for i in range(4):
                if i == 3:
                    sim.fail('hp816x_PWM_readValue', %(status)d)
                f.write('%%d,%%r\\n' %% (i, pb.PWM_readValue(s, 1, 0)))
        finally:
            print('laser off %%d' %% pb.set_TLS_laserState(s, 0, 0))
'''


class OrderlyEnd(unittest.TestCase):
    """The check ends the process as sys.exit would: the script's clean-up runs."""

    def run_sweep(self, main, status=-1073807339):
        import os, tempfile
        fd, path = tempfile.mkstemp(suffix='.csv')
        os.close(fd)
        try:
            rc, out, err, calls = exit_journal(SWEEP % {'path': path, 'status': status} + textwrap.dedent(main),
                                               watch=('hp816x_close', 'hp816x_set_TLS_laserState'))
            with open(path) as f:
                data = f.read()
        finally:
            os.remove(path)
        return rc, out, err, calls, data

    def assertCleanedUp(self, rc, out, calls, data, status=-1073807339):
        self.assertNotEqual(rc, 0)
        self.assertEqual(rc, exit_code(status))
        self.assertEqual(data.count('\n'), 4)  # header and three readings, flushed
        self.assertTrue(data.startswith('point,power\n0,'))
        self.assertEqual(out.count('Driver Error'), 1)
        self.assertEqual(out.index('Driver Error') < out.index('laser off') < out.index('atexit handler ran'), True)
        # The failing session stays open for the clean-up: on, off (status 0), then closed at the end.
        self.assertIn('laser off 0', out)
        self.assertEqual([c[0] for c in calls], ['hp816x_set_TLS_laserState', 'hp816x_set_TLS_laserState',
                                                 'hp816x_close'])
        self.assertEqual((calls[0][1][-1], calls[1][1][-1], calls[2][1][0]), (1, 0, calls[0][1][0]))

    def test_on_the_main_thread(self):
        rc, out, err, calls, data = self.run_sweep('''
            try:
                sweep()
            finally:
                print('script finally')
            print('not reached')
        ''')
        self.assertCleanedUp(rc, out, calls, data)
        self.assertIn('script finally', out)
        self.assertNotIn('not reached', out)
        self.assertNotIn('Traceback', err)

    def test_on_a_worker_thread_joined_by_the_main_thread(self):
        rc, out, err, calls, data = self.run_sweep('''
            t = threading.Thread(target=sweep)
            try:
                t.start()
                t.join()
                print('main went on')
            finally:
                print('main finally')
        ''')
        self.assertCleanedUp(rc, out, calls, data)
        self.assertIn('main finally', out)
        self.assertNotIn('main went on', out)
        self.assertNotIn('Traceback', err)

    def test_on_a_worker_thread_while_the_main_thread_waits_forever(self):
        rc, out, err, calls, data = self.run_sweep('''
            try:
                import queue
            except ImportError:
                import Queue as queue
            results = queue.Queue()
            threading.Thread(target=sweep).start()
            results.get()  # the worker never delivers
        ''')
        self.assertCleanedUp(rc, out, calls, data)

    def test_a_script_that_swallows_the_exit_still_fails(self):
        on_main = '''
            try:
                sweep()
            except:
                print('swallowed')
            print('reads again %r' % pb.PWM_readValue(s, 1, 0))  # the session is still open
        '''
        on_worker = '''
            t = threading.Thread(target=sweep)
            try:
                t.start()
                t.join()
            except SystemExit as e:
                print('caught %d' % e.code)
        '''
        for main, seen in ((on_main, 'reads again -'), (on_worker, 'caught -1073807339')):
            rc, out, err, calls, data = self.run_sweep(main)
            self.assertEqual(rc, exit_code(-1073807339))  # the first failure's code
            self.assertIn(seen, out)
            self.assertEqual(data.count('\n'), 4)

    def test_exit_codes_never_read_as_success(self):
        rc, out, _ = run('''
            try:
                pb.CheckError(s, -1073807339)
            except SystemExit as e:
                print(e.code)
                raise
        ''')
        self.assertEqual((rc, out.splitlines()[-1]), (exit_code(-1073807339), '-1073807339'))
        for status in (-1073807360, -1073999872):  # 0xBFFF0000, 0xBFFC0800: low byte zero
            rc, out, _ = run('pb.CheckError(s, %d)' % status)
            self.assertEqual(rc, 1)
            self.assertEqual(out.count('Error :'), 1)


if __name__ == '__main__':
    unittest.main()
