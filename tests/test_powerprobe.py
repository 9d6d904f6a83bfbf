"""_powerprobe: the optical power meter module."""
import math
import textwrap
import unittest

from support import sim, SimTestCase, TestCase, PY2, RSRC_NFOUND, TIMEOUT, run_script, exit_journal, exit_code
from functions import functions
import _powerprobe as pp

METER = 'USB0::0x3A5C::0x0207::P0012345::INSTR'



# The first session of a fresh process: each driver numbers its sessions in a
# range of its own (PM100D: 0x02......).
SESSION = 0x02001001


def run_ending(body, watch=('PM100D_close', 'PM100D_errorQuery', 'PM100D_errorMessage')):
    """Runs `body` on a new session: (exit code, stdout, stderr, the calls of
    the watched driver functions up to the end of the process)."""
    return exit_journal('import _powerprobe as pp\ns = pp.init(%r, 0, 0)\n' % METER + textwrap.dedent(body), watch)


TIMEOUT_LINE = '        Driver Error : bfff0015, Timeout expired before operation completed\n'

# Wrapped functions and their arguments after the session; each checks its status.
WRAPPED = dict([(name, ()) for name in (
    'getTime', 'getLineFrequency', 'getDispBrightness', 'getDispContrast', 'getCalibrationMsg',
    'getAvgCnt', 'getDarkAdjustState', 'getDarkOffset', 'getEnergyRefState', 'getFreqRange',
    'getPowerAutoRange', 'getPowerRefState', 'getPowerUnit', 'getInputFilterState', 'getAccelState',
    'getAccelMode', 'getInputAdapterType', 'measPower', 'measEnergy', 'measFreq', 'measPowerDens',
    'measEnergyDens', 'getSensorInfo', 'identificationQuery', 'selfTest', 'errorQuery',
    'revisionQuery')] + [(name, (0,)) for name in (
    'readRegister', 'getAttenuation', 'getBeamDia', 'getWavelength', 'getPhotodiodeResponsivity',
    'getThermopileResponsivity', 'getPyrosensorResponsivity', 'getEnergyRange', 'getEnergyRef',
    'getPowerRange', 'getPowerRef', 'getPeakThreshold', 'getAccelTau', 'errorMessage', 'readRaw')])
DRIVER = {'getPowerAutoRange': 'PM100D_getPowerAutorange', 'getPowerRef': 'PM100D_getPowerRange'}

# Pass-through functions and valid arguments after the session.
PASSED = dict([(name, ()) for name in ('close', 'startDarkAdjust', 'cancelDarkAdjust', 'reset')] +
              [(name, (1.0,)) for name in (
                  'setDispBrightness', 'setDispContrast', 'setAttenuation', 'setBeamDia', 'setWavelength',
                  'setPhotodiodeResponsivity', 'setThermopileResponsivity', 'setPyrosensorResponsivity',
                  'setEnergyRange', 'setEnergyRef', 'setPowerRange', 'setPowerRef', 'setPeakThreshold',
                  'setAccelTau')] +
              [(name, (1,)) for name in (
                  'setLineFrequency', 'setAvgCnt', 'setPowerUnit', 'setInputAdapterType', 'setEnergyRefState',
                  'setPowerAutoRange', 'setPowerRefState', 'setInputFilterState', 'setAccelState',
                  'setAccelMode', 'errorQueryMode')] +
              [('setTime', (2024, 1, 2, 3, 4, 5)), ('writeRegister', (2, 1)), ('writeRaw', ('*CLS',))])


class Registration(TestCase):
    def test_every_function_is_tested_as_wrapped_or_passed(self):
        self.assertEqual(set(WRAPPED) | set(PASSED) | set(['CheckError', 'init']), 
                         set(name for name, _ in functions('_powerprobe')))

    def test_docs_positional_only(self):
        self.assertIn('Measures the optical power', pp.measPower.__doc__)
        self.assertRaises(TypeError, pp.getWavelength, 1)
        self.assertRaises(TypeError, pp.setWavelength, 1, '1550')
        self.assertRaises(OverflowError, pp.getWavelength, 1, 32768)


class Settings(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pp.init(METER, 1, 1)
        sim.clear_journal()

    def test_init_hands_on_its_arguments(self):
        sim.reset()
        s = pp.init(METER, 1, 0)
        self.assertEqual(self.last_call('PM100D_init'), (METER, 1, 0, sim.PTR))
        self.assertEqual(sim.session_count(), 1)
        self.assertEqual(pp.close(s), 0)
        self.assertEqual(sim.session_count(), 0)

    def test_set_and_get_wavelength(self):
        self.assertEqual(pp.setWavelength(self.s, 1310), 0)
        self.assertEqual(pp.getWavelength(self.s, 0), 1310.0)
        self.assertEqual(self.last_call('PM100D_getWavelength'), (self.s, 0, sim.PTR))
        self.assertEqual(pp.getWavelength(self.s, 2), 1800.0)  # attribute handed on: maximum

    def test_failing_setter_returns_its_status(self):
        self.assertEqual(pp.setWavelength(self.s, 5000), -1074003966)  # out of the sensor's range
        sim.fail('PM100D_setWavelength', -1073807339)
        self.assertEqual(pp.setWavelength(self.s, 1550), -1073807339)
        self.assertEqual(pp.getWavelength(self.s, 0), 1550.0)

    def test_range_ends_taken_nan_refused(self):
        for nm in (700.0, 1800.0):
            self.assertEqual(pp.setWavelength(self.s, nm), 0)
            self.assertEqual(pp.getWavelength(self.s, 0), nm)
        for bad in (699.999, 1800.001, float('nan')):
            self.assertEqual(pp.setWavelength(self.s, bad), -1074003966)  # parameter 2
        self.assertEqual(pp.getWavelength(self.s, 0), 1800.0)

    def test_power_ref_is_the_power_range_query(self):
        self.assertEqual(pp.setPowerRange(self.s, 2e-3), 0)
        self.assertEqual(pp.getPowerRef(self.s, 0), pp.getPowerRange(self.s, 0))
        self.assertEqual(pp.getPowerRef(self.s, 3), 1e-2)
        calls = [c for c in sim.journal() if c[0].startswith('PM100D_get')]
        self.assertEqual(calls, [('PM100D_getPowerRange', (self.s, 0, sim.PTR))] * 2 +
                         [('PM100D_getPowerRange', (self.s, 3, sim.PTR))])

    def test_auto_range_goes_to_the_lower_case_driver_function(self):
        self.assertEqual(pp.getPowerAutoRange(self.s), 1)
        self.assertEqual(pp.setPowerAutoRange(self.s, 0), 0)
        self.assertEqual(pp.getPowerAutoRange(self.s), 0)
        self.assertEqual(len(sim.calls('PM100D_getPowerAutorange')), 2)

    def test_sixteen_bit_outputs(self):
        sim.set_output('PM100D_readRegister', 2, 0x8000)
        self.assertEqual(pp.readRegister(self.s, 2), -32768)
        self.assertEqual(self.last_call('PM100D_readRegister'), (self.s, 2, sim.PTR))
        sim.set_output('PM100D_getAccelMode', 1, 0xFFFF)
        self.assertEqual(pp.getAccelMode(self.s), 65535)  # unsigned stays positive
        self.assertEqual(pp.setAvgCnt(self.s, 300), 0)
        self.assertEqual(pp.getAvgCnt(self.s), 300)
        self.assertEqual(pp.setTime(self.s, 2031, 12, 24, 18, 0, 59), 0)
        self.assertEqual(pp.getTime(self.s), (2031, 12, 24, 18, 0, 59))
        self.assertEqual(pp.selfTest(self.s), 0)  # one integer, no message

    def test_sensor_info_three_texts_then_three_integers(self):
        sim.set_output('PM100D_getSensorInfo', 6, 0xFFFE)
        info = pp.getSensorInfo(self.s)
        self.assertEqual(info, ('LQ-G12', 'G12-04417', '12-Mar-2023', 1, 2, -2))
        for text in info[:3]:
            self.assertIs(type(text), str)

    def test_texts(self):
        self.assertEqual(pp.identificationQuery(self.s), ('Lindqvar Optics', 'LQ-PM5', 'P0012345', '3.1.2'))
        sim.set_output('PM100D_revisionQuery', 1, 'drv')
        sim.set_output('PM100D_revisionQuery', 2, 'fw')
        self.assertEqual(pp.revisionQuery(self.s), ('drv', 'fw'))
        self.assertIn('not present', pp.errorMessage(self.s, RSRC_NFOUND))
        sim.push_error('PM100D', -222, 'Data out of range')
        self.assertEqual(pp.errorQuery(self.s), ('Data out of range', -222))  # message first
        self.assertEqual(pp.errorQuery(self.s), ('No error', 0))
        sim.hostile()
        self.assertEqual(len(pp.getCalibrationMsg(self.s)), 256)  # no zero byte: whole buffer

    def test_readings_follow_the_settings(self):
        watts = pp.measPower(self.s)
        self.assertTrue(1e-4 < watts < 1e-3, watts)
        pp.setPowerUnit(self.s, 1)
        self.assertEqual(pp.getPowerUnit(self.s), 1)
        self.assertAlmostEqual(pp.measPower(self.s), 10 * math.log10(watts / 1e-3), 1)
        pp.setBeamDia(self.s, 2.0)
        self.assertAlmostEqual(pp.measPowerDens(self.s) * 3.14159265 * 0.1 ** 2 / watts, 1, 2)
        self.assertAlmostEqual(pp.measFreq(self.s), 1000, 0)
        self.assertEqual(pp.getFreqRange(self.s), (0.0, 100000.0))


class RawIO(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pp.init(METER, 0, 0)

    def test_read_answers_the_last_query(self):
        self.assertEqual(pp.writeRaw(self.s, '*IDN?'), 0)
        data, n = pp.readRaw(self.s, 256)
        self.assertIs(type(data), str if PY2 else bytes)
        self.assertEqual((data, n), (b'Lindqvar Optics,LQ-PM5,P0012345,3.1.2\n', 38))
        pp.writeRaw(self.s, 'SENS:CORR:WAV?')
        self.assertEqual(pp.readRaw(self.s, 4), (b'1.55', 4))
        self.assertEqual(self.last_call('PM100D_readRaw'), (self.s, sim.PTR, 4, sim.PTR))
        self.assertEqual(pp.readRaw(self.s, 256), (b'0000E+03\n', 9))

    def test_data_ends_at_a_zero_byte(self):
        pp.writeRaw(self.s, 'CAL:DATA?')
        self.assertEqual(pp.readRaw(self.s, 256), (b'#16PM', 10))

    def test_unknown_command_queues_an_instrument_error(self):
        self.assertEqual(pp.writeRaw(self.s, 'BOGUS'), -1074001920)  # 0xBFFC0800
        self.assertEqual(pp.errorQuery(self.s), ('Undefined header', -113))

    def test_hostile_driver_stays_within_the_buffer(self):
        sim.hostile()
        for count in (1, 255, 256, 257, 1000, 5000):
            pp.writeRaw(self.s, '*IDN?')
            data, n = pp.readRaw(self.s, count)
            self.assertEqual(len(data), count)
            self.assertLessEqual(n, count)
            self.assertEqual(self.last_call('PM100D_readRaw')[2], count)


class StatusCheck(SimTestCase):
    def test_success_and_warnings_return_without_driver_calls(self):
        s = pp.init(METER, 0, 0)
        sim.clear_journal()
        self.assertIsNone(pp.CheckError(s, 0))
        self.assertIsNone(pp.CheckError(s, 1))
        self.assertEqual(sim.journal(), [])

    def test_instrument_error_block_edges(self):
        for status in (0xBFFC0700, 0xBFFC0CFF):
            rc, out, _, calls = run_ending('''
                print('before')
                sim.push_error('PM100D', -222, 'Data out of range')
                sim.fail('PM100D_getWavelength', %d)
                pp.getWavelength(s, 0)
                print('not reached')
            ''' % status)
            self.assertEqual(rc, exit_code(status))
            self.assertEqual(out, 'before\n        Inst. Error : ffffff22, Data out of range\n')
            self.assertEqual(calls, [('PM100D_errorQuery', (SESSION, sim.PTR, sim.PTR)), ('PM100D_close', (SESSION,))])

    def test_instrument_errors_never_exit_with_success(self):
        rc, out, _, calls = run_ending('''
            sim.instrument_error('PM100D_measPower', -113, 'Undefined header')
            pp.measPower(s)
        ''')
        self.assertEqual(out, '        Inst. Error : ffffff8f, Undefined header\n')
        self.assertEqual(rc, 1)  # 0xBFFC0800: its low 8 bits would read as success
        self.assertEqual(calls[-1], ('PM100D_close', (SESSION,)))

    def test_just_outside_the_block_is_a_driver_error(self):
        for status in (0xBFFC06FF, 0xBFFC0D00):
            rc, out, _, calls = run_ending('''
                sim.push_error('PM100D', -222, 'Data out of range')
                pp.CheckError(s, %d)
            ''' % (status - 2 ** 32))
            self.assertEqual(rc, exit_code(status))
            self.assertEqual(out, '        Driver Error : %x, Unknown status code 0x%X\n' % (status, status))
            self.assertEqual(calls, [('PM100D_errorMessage', (SESSION, status - 2 ** 32, sim.PTR)),
                                     ('PM100D_close', (SESSION,))])

    def test_failing_init_reports_against_the_session_it_wrote(self):
        rc, out, _ = run_script('''
            import _powerprobe as pp
            sim.set_output('PM100D_init', 3, 77)
            pp.init('USB0::0x3A5C::0x0207::NOPE::INSTR', 0, 0)
        ''')
        self.assertEqual(rc, exit_code(RSRC_NFOUND))
        self.assertEqual(out, '        Driver Error : bfff0011, Insufficient location information '
                              'or resource not present in the system\n')

    def test_pass_through_functions_return_failures(self):
        s = pp.init(METER, 0, 0)
        for name, args in sorted(PASSED.items()):
            sim.fail('PM100D_' + name, TIMEOUT)
            self.assertEqual(getattr(pp, name)(s, *args), TIMEOUT, name)
            self.assertEqual(self.last_call('PM100D_' + name)[1:], args)

    def test_every_wrapper_ends_the_process_on_failure(self):
        for name, args in sorted(WRAPPED.items()):
            driver = DRIVER.get(name, 'PM100D_' + name)
            rc, out, err, calls = run_ending('''
                sim.fail(%r, %d)
                pp.%s(s, *%r)
            ''' % (driver, TIMEOUT, name, args), watch=('PM100D_close', driver))
            self.assertEqual((rc, out), (exit_code(TIMEOUT), TIMEOUT_LINE), name + err)
            self.assertEqual(calls[-1], ('PM100D_close', (SESSION,)), name)


if __name__ == '__main__':
    unittest.main()
