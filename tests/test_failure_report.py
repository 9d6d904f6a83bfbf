"""What a script and its operator learn of a failing call: the DriverExit's
fields, the line on stderr naming the call and the instrument, the opt-in
trace of driver calls; and the failing session left open for the clean-up."""
import textwrap
import unittest

import os
import shutil
import tempfile

from support import bound_to, exit_code, exit_journal, run_example, run_script, RSRC_NFOUND, TIMEOUT

PRELUDE = '''
import logging, threading
import _photonbay as pb, _powerprobe as pp, _polshaper as ps, instrbind
s = pb.init('GPIB0::20::INSTR', 0, 0)
p = pp.init('USB0::0x3A5C::0x0207::P0012345::INSTR', 0, 0)
q = ps.init('GPIB0::9::INSTR', 0, 0)

def show(e):
    print(isinstance(e, instrbind.DriverExit), e.code, e.status, e.module, e.function,
          e.session, e.resource, repr(e.message))
'''


def run(code, env=None):
    return run_script(PRELUDE + textwrap.dedent(code), env=env)


class DriverExitFields(unittest.TestCase):
    def test_each_checking_module_raises_one_class_with_the_call_and_instrument(self):
        rc, out, err = run('''
            sim.fail('hp816x_PWM_readValue', %d)
            sim.instrument_error('PM100D_measPower', -222, 'Data out of range')
            sim.fail('hp8169_getPolPos_Q', %d)
            for call in (lambda: pb.PWM_readValue(s, 1, 0), lambda: pp.measPower(p),
                         lambda: threading.Thread(target=ps.getPolPos_Q, args=(q,)).run()):
                try:
                    call()
                except SystemExit as e:
                    show(e)
        ''' % (TIMEOUT, RSRC_NFOUND))
        lines = out.splitlines()
        self.assertEqual(lines[1], "True %d %d _photonbay PWM_readValue 4097 GPIB0::20::INSTR "
                         "'Driver Error : bfff0015, Timeout expired before operation completed'" % (TIMEOUT, TIMEOUT))
        status = int(lines[3].split()[2])
        self.assertTrue(lines[3].startswith("True %d %d _powerprobe measPower 33558529 "
                                            "USB0::0x3A5C::0x0207::P0012345::INSTR 'Inst. Error : ffffff22, Data out of range'"
                                            % (TIMEOUT, status)), lines[3])  # the first failure's code
        self.assertTrue(lines[5].startswith("True %d %d _polshaper getPolPos_Q 50335745 GPIB0::9::INSTR" % (TIMEOUT, RSRC_NFOUND)))
        self.assertEqual(rc, exit_code(TIMEOUT))

    def test_the_stderr_line_names_call_resource_session_and_thread(self):
        rc, out, err = run('''
            sim.fail('hp816x_PWM_readValue', %d)
            t = threading.Thread(target=pb.PWM_readValue, args=(s, 1, 0), name='poller-2')
            t.start(); t.join()
        ''' % TIMEOUT)
        self.assertEqual(err, '_photonbay.PWM_readValue(GPIB0::20::INSTR, session 0x1001) failed in thread poller-2: '
                              'Driver Error bfff0015, Timeout expired before operation completed%s\n'
                         % bound_to('libhp816x_32.so'))
        self.assertEqual(out, '        Driver Error : bfff0015, Timeout expired before operation completed\n')
        rc, out, err = run('''
            try:
                pb.init('GPIB0::21::INSTR', 1, 0)
            except SystemExit as e:
                show(e)
        ''')
        self.assertEqual(rc, exit_code(RSRC_NFOUND))
        self.assertIn('_photonbay.init(GPIB0::21::INSTR, session 0x0) failed in thread MainThread: Driver Error bfff0011', err)
        self.assertIn('True %d %d _photonbay init 0 GPIB0::21::INSTR' % (RSRC_NFOUND, RSRC_NFOUND), out)


class CleanUpReachesTheInstrument(unittest.TestCase):
    def assertOffThenClosed(self, code):
        rc, out, err, calls = exit_journal(PRELUDE + textwrap.dedent(code),
                                           watch=('hp816x_set_TLS_laserState', 'hp816x_close'))
        self.assertEqual(rc, exit_code(TIMEOUT), out + err)
        self.assertIn('off 0', out)  # the laser-off reached the driver and succeeded
        self.assertEqual([(c[0], c[1][-1] if c[0] != 'hp816x_close' else None) for c in calls],
                         [('hp816x_set_TLS_laserState', 1), ('hp816x_set_TLS_laserState', 0), ('hp816x_close', None)])

    def test_a_with_block_and_a_worker_thread(self):
        laser = '''
            class Laser(object):
                def __enter__(self):
                    pb.set_TLS_laserState(s, 0, 1)
                def __exit__(self, *exc):
                    print('off %d' % pb.set_TLS_laserState(s, 0, 0))
            def measure():
                with Laser():
                    sim.fail('hp816x_PWM_readValue', {0})
                    pb.PWM_readValue(s, 1, 0)
        '''.format(TIMEOUT)
        laser = textwrap.dedent(laser)
        self.assertOffThenClosed(laser + 'measure()')
        self.assertOffThenClosed(laser + 't = threading.Thread(target=measure); t.start(); t.join()')

    def test_a_session_the_script_closes_is_closed_once(self):
        rc, out, err, calls = exit_journal(PRELUDE + textwrap.dedent('''
            try:
                pb.CheckError(s, %d)
            finally:
                pb.close(s)
        ''' % TIMEOUT), watch=('hp816x_close',))
        self.assertEqual(rc, exit_code(TIMEOUT))
        self.assertEqual(len(calls), 1)


class Trace(unittest.TestCase):
    def test_records_per_call_on_and_off(self):
        rc, out, err = run('''
            import logging
            logging.basicConfig(level=logging.DEBUG, stream=sys.stdout, format='%(name)s|%(message)s')
            pb.PWM_readValue(s, 1, 0)
            pb.timeOut(s, 5000)
            pb.get_TLS_wavelengthData_Q(s, 2000)
            instrbind.trace(False)
            pb.timeOut_Q(s)
            instrbind.trace(True)
            sim.fail('hp816x_PWM_readValue', {0})
            try:
                pb.PWM_readValue(s, 1, 0)
            except SystemExit:
                pass
        '''.format(TIMEOUT), env={'INSTRBIND_TRACE': '1'})
        records = [l for l in out.splitlines() if l.startswith('instrbind.')]
        self.assertEqual([r.split('|')[1].split('(')[0] for r in records],
                         ['PWM_readValue', 'timeOut', 'get_TLS_wavelengthData_Q', 'PWM_readValue'], out)
        self.assertTrue(records[0].startswith('instrbind._photonbay|PWM_readValue(4097, 1, 0) -> -'), records[0])
        self.assertTrue(records[0].endswith(bound_to('libhp816x_32.so')), records[0])  # the module's first only
        self.assertNotIn('[bound to', ''.join(records[1:]))
        self.assertIn('timeOut(4097, 5000) -> 0 [driver ', records[1])
        self.assertIn('thread MainThread]', records[1])
        self.assertIn('ViReal64Vec', records[2])  # a vector: its length and first entries only
        self.assertLess(len(records[2]), 300)
        self.assertIn('-> raised DriverExit', records[3])
        rc, out, err = run('''
            logging.basicConfig(level=logging.DEBUG, stream=sys.stdout, format='%(name)s|%(message)s')
            pp.measPower(p)
            ps.getPolPos_Q(q)
        ''')
        self.assertNotIn('instrbind.', out)  # off unless asked for
        rc, out, err = run('''
            logging.basicConfig(level=logging.DEBUG, stream=sys.stdout, format='%(name)s|%(message)s')
            instrbind.trace(True)
            pp.measPower(p)
            ps.getPolPos_Q(q)
        ''')
        self.assertEqual([l.split('(')[0] for l in out.splitlines()],
                         ['instrbind._powerprobe|measPower', 'instrbind._polshaper|getPolPos_Q'])
        self.assertIn(bound_to('libPM100D_Drv_32.so'), out.splitlines()[0])
        self.assertIn(bound_to('libhp8169_32.so'), out.splitlines()[1])

    def test_the_traced_sweep_example_logs_the_failure_and_the_laser_off(self):
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp)
        log = os.path.join(tmp, 'run.log')
        rc, out, err = run_example('traced_sweep.py', log, '--fail')
        self.assertEqual(rc, exit_code(TIMEOUT), err)
        with open(log) as f:
            text = f.read()
        failed = text.index('PWM_readValue(4097, 1, 0) -> raised DriverExit')
        self.assertGreater(text.index('set_TLS_laserState(4097, 0, 0) -> 0', failed), failed)
        self.assertIn('laser off', out)


if __name__ == '__main__':
    unittest.main()
