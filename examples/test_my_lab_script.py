"""Testing a lab script's error handling without hardware.

    python examples/test_my_lab_script.py
    python -m unittest discover -s examples -p 'test_*.py'

The functions at the top stand for a lab script of your own; the tests below
make the simulated instruments fail (instrsim) and check what the script does
then.  Writes no files.  Works with the modules installed by `pip install .`,
or with the repository's build ($INSTR_BUILD, else build/py<major>).
"""
from __future__ import print_function

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


def _modules():
    # Installed modules are found as they are; else the repository's build.
    build = os.environ.get('INSTR_BUILD')
    if not build:
        try:
            import instrsim  # noqa: F401
            return
        except ImportError:
            build = os.path.join(HERE, '..', 'build', 'py%d' % sys.version_info[0])
    sys.path[:0] = [os.path.abspath(build)]


_modules()
import instrsim as sim  # noqa: E402  (first: the modules bind the simulated drivers)
import _photonbay as pb  # noqa: E402

try:
    import _smeter as smu
except ImportError:                      # built without the source-measure unit module
    smu = None

# ---- the lab script -------------------------------------------------------------------

MAINFRAME = 'GPIB0::20::INSTR'
SOURCE_METER = 'GPIB0::24::INSTR'
TIMEOUT = -1073807339                    # VI_ERROR_TMO
LASER, METER = 0, 1                      # mainframe slots
VOLTAGE, CURRENT = 0, 1                  # source-meter functions


class LabError(Exception):
    """The bench could not do what the script asked."""


def tune_laser(session, wavelength_nm, retries=1):
    """Tune the laser; a timeout is tried again, any other failure raises
    LabError.  Returns how many retries it took."""
    if retries < 0:
        raise ValueError('retries must be 0 or more, not %d' % retries)
    for attempt in range(retries + 1):
        # A setter hands the driver's status back instead of checking it.
        status = pb.set_TLS_wavelength(session, LASER, 0, wavelength_nm * 1e-9)
        if status >= 0:
            return attempt
        if status != TIMEOUT:
            break
    raise LabError('laser did not tune to %.3f nm (status 0x%08X)'
                   % (wavelength_nm, status & 0xFFFFFFFF))


def power_at(session, wavelength_nm):
    """Power through the device under test at one wavelength, in dBm.
    PWM_readValue is checked by the module: if the meter fails, one line is
    printed, the session is closed and the process ends."""
    tune_laser(session, wavelength_nm)
    return pb.PWM_readValue(session, METER, 0)


def diode_current(session, volts):
    """Current through the device at `volts` (10 mA limit).  _smeter reports
    no failure itself: the script asks the driver (GetError) and raises."""
    def ok(status, what):
        if status < 0:
            raise LabError('%s: %s' % (what, smu.GetError(session, 512)[1]))
    ok(smu.ConfigureSourceDC(session, VOLTAGE, volts, 0.0, 1, 10e-3, 0), 'source refused %g V' % volts)
    ok(smu.EnableSource(session, 1, 0), 'output did not switch on')
    amps = smu.Read(session, CURRENT)        # a query: its status is dropped
    code, text = smu.GetError(session, 512)
    if code < 0:
        raise LabError('no reading at %g V: %s' % (volts, text))
    return amps


# ---- its tests --------------------------------------------------------------------------

WAVELENGTH = 'hp816x_set_TLS_wavelength'     # simulated driver functions: driver names


class TuneLaser(sim.SimulatorTestCase):
    def setUp(self):
        sim.SimulatorTestCase.setUp(self)    # fresh simulator for every test
        self.s = pb.init(MAINFRAME, 1, 0)

    def test_the_wavelength_goes_to_the_laser_in_metres(self):
        self.assertEqual(tune_laser(self.s, 1550.0), 0)
        args = self.assertCalled(WAVELENGTH, self.s, LASER, 0, sim.ANY)
        self.assertAlmostEqual(args[3], 1.55e-6, places=15)

    def test_a_timeout_is_tried_again(self):
        sim.fail(WAVELENGTH, TIMEOUT)                    # the next call only
        self.assertEqual(tune_laser(self.s, 1550.0), 1)
        self.assertEqual(len(sim.calls(WAVELENGTH)), 2)

    def test_a_second_timeout_gives_up(self):
        sim.fail(WAVELENGTH, TIMEOUT, times=2)
        with self.assertRaises(LabError) as e:
            tune_laser(self.s, 1550.0)
        self.assertIn('0xBFFF0015', str(e.exception))
        self.assertEqual(len(sim.calls(WAVELENGTH)), 2)

    def test_other_failures_are_not_retried(self):
        sim.fail(WAVELENGTH, 0xBFFC0004)                 # parameter 4 out of range
        self.assertRaises(LabError, tune_laser, self.s, 1550.0)
        self.assertEqual(len(sim.calls(WAVELENGTH)), 1)

    def test_no_retries_means_one_try_and_fewer_is_refused(self):
        sim.fail(WAVELENGTH, TIMEOUT)
        self.assertRaises(LabError, tune_laser, self.s, 1550.0, 0)
        self.assertRaises(ValueError, tune_laser, self.s, 1550.0, -1)
        self.assertEqual(len(sim.calls(WAVELENGTH)), 1)


class PowerReading(sim.SimulatorTestCase):
    def test_reads_the_meter_after_tuning(self):
        s = pb.init(MAINFRAME, 1, 0)
        sim.set_output('hp816x_PWM_readValue', 3, -12.5)  # parameter 3: the value
        with sim.recording() as rec:
            self.assertEqual(power_at(s, 1560.0), -12.5)
        self.assertEqual(rec.names(), [WAVELENGTH, 'hp816x_PWM_readValue'])
        self.assertEqual(rec.calls('hp816x_PWM_readValue'), [(s, METER, 0, sim.PTR)])

    def test_a_failing_meter_ends_the_script(self):
        # The status check ends the process: run the script in a child, which
        # has a simulator of its own, scripted there.
        r = sim.run_python('''
            import sys
            sys.path.insert(0, %r)
            import _photonbay as pb, instrsim as sim
            from test_my_lab_script import power_at
            s = pb.init('GPIB0::20::INSTR', 1, 0)
            sim.instrument_error('hp816x_PWM_readValue', -231, 'Data questionable')
            print('measuring')
            power_at(s, 1550.0)
            print('not reached')
            ''' % HERE)
        self.assertEqual(r.returncode, sim.exit_code(sim.INSTR_ERROR), r.stderr)
        self.assertEqual(r.stdout, 'measuring\n        Inst. Error : ffffff19, Data questionable\n')
        session = sim.ANY
        for name, args in r.journal:
            if name == 'hp816x_PWM_readValue':
                session = args[0]
        self.assertEqual(r.journal[-1], ('hp816x_close', (session,)))   # the session was closed


@unittest.skipIf(smu is None, '_smeter is not built')
class DiodeCurrent(sim.SimulatorTestCase):
    def setUp(self):
        sim.SimulatorTestCase.setUp(self)
        self.s = smu.init(SOURCE_METER, 1, 1)

    def test_a_reading_comes_back(self):
        amps = diode_current(self.s, 1.0)
        self.assertTrue(0 < amps < 10e-3, amps)
        self.assertCalled('KE2400_ConfigureSourceDC', self.s, VOLTAGE, 1.0, sim.ANY, 1, 10e-3, 0)

    def test_a_failed_reading_raises_with_the_drivers_reason(self):
        sim.fail('KE2400_Read', TIMEOUT)
        with self.assertRaises(LabError) as e:
            diode_current(self.s, 1.0)
        self.assertIn('Timeout', str(e.exception))

    def test_a_refused_setting_is_not_measured(self):
        sim.fail('KE2400_ConfigureSourceDC', 0xBFFA0010)      # invalid value
        self.assertRaises(LabError, diode_current, self.s, 250.0)
        self.assertNotCalled('KE2400_Read')


if __name__ == '__main__':
    unittest.main()
