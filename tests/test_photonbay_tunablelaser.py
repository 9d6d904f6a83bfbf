"""_photonbay positions 202-260: tunable laser sources."""
import os
import unittest

from support import sim, SimTestCase, TestCase, INSTR_ERROR, TIMEOUT, SANITIZED, run_script, exit_code, bench_file
import _photonbay as pb

MAINFRAME = 'GPIB0::20::INSTR'
PARAMETER2 = -1074003966            # 0xBFFC0002


NM = 1e-9


class Registration(TestCase):
    def test_sbs_control_query_keeps_its_lower_case_name(self):
        self.assertEqual(pb.get_TLS_SBS_control_q.__name__, 'get_TLS_SBS_control_q')
        self.assertFalse(hasattr(pb, 'get_TLS_SBS_control_Q'))


class LaserCase(SimTestCase):
    """A mainframe with tunable lasers in slots 0 to 4: settings stay per slot."""

    @classmethod
    def setUpClass(cls):
        cls.bench = bench_file({'instruments': [
            {'resource': MAINFRAME, 'driver': 'hp816x',
             'slots': dict([(str(i), 'tunable laser') for i in range(5)] + [('5', 'dual power meter')])}]})

    @classmethod
    def tearDownClass(cls):
        os.remove(cls.bench)

    def setUp(self):
        SimTestCase.setUp(self)
        sim.configure(self.bench)
        self.s = pb.init(MAINFRAME, 0, 0)
        sim.clear_journal()

    def tearDown(self):
        sim.configure()

    def logged_sweep(self, slot, start, stop, step, mode=2):
        """Runs a one-way sweep with lambda logging on `slot`."""
        s = self.s
        self.assertEqual(pb.set_TLS_sweep(s, slot, mode, 0, 1, 0.0, start, stop, step, 5 * NM), 0)
        self.assertEqual(pb.set_TLS_lambdaLoggingStateEx(s, slot, 1), 0)
        self.assertEqual(pb.TLS_sweepControl(s, slot, 1), 0)
        self.assertEqual(pb.TLS_sweepWait(s, slot), 0)


class Settings(LaserCase):
    def test_parameters_reach_the_driver_in_order_and_come_back_typed(self):
        s = self.s
        self.assertEqual(pb.set_TLS_parameters(s, 0, 1, 2, 0, 1e-3, 3.5, 1551.5 * NM), 0)
        self.assertEqual(self.last_call('hp816x_set_TLS_parameters'), (s, 0, 1, 2, 0, 1e-3, 3.5, 1551.5 * NM))
        got = pb.get_TLS_parameters_Q(s, 0)
        self.assertEqual(self.last_call('hp816x_get_TLS_parameters_Q'), (s, 0) + (sim.PTR,) * 6)
        self.assertEqual([type(v) for v in got], [int, int, int, float, float, float])
        self.assertEqual(got[:3], (1, 0, 2))
        self.assertAlmostEqual(got[3], 1e-3)
        self.assertEqual(got[4:], (3.5, 1551.5 * NM))
        # ViUInt16 outputs are unsigned: no sign extension
        sim.set_output('hp816x_get_TLS_parameters_Q', 3, 65535)
        self.assertEqual(pb.get_TLS_parameters_Q(s, 0)[1], 65535)

    def test_settings_round_trip(self):
        s = self.s
        cases = [
            (pb.set_TLS_opticalOutput, (3,), pb.get_TLS_opticalOutput_Q, 3),
            (pb.set_TLS_laserState, (0,), pb.get_TLS_laserState_Q, 0),
            (pb.set_TLS_laserRiseTime, (0.25,), pb.get_TLS_laserRiseTime, 0.25),
            (pb.set_TLS_triggerConfiguration, (2, 4), pb.get_TLS_triggerConfiguration, (2, 4)),
            (pb.set_TLS_attenuation, (0, 1, 12.5), pb.get_TLS_attenuationSettings_Q, (0, 1, 12.5)),
            (pb.set_TLS_dark, (0,), pb.get_TLS_darkState_Q, 0),
            (pb.set_TLS_autoCalibration, (0,), pb.get_TLS_autoCalState, 0),
            (pb.set_TLS_frequencyOffset, (-2.5e9,), pb.get_TLS_frequencyOffset_Q, -2.5e9),
            (pb.TLS_configureBNC, (2,), pb.get_TLS_BNC_config_Q, 2),
            (pb.set_TLS_modulation, (1, 1, 0, 5e4), pb.get_TLS_modulationSettings_Q, (1, 1, 0, 5e4)),
            (pb.set_TLS_SBS_control, (1, 25e3), pb.get_TLS_SBS_control_q, (1, 25e3)),
            (pb.set_TLS_ccLevel, (42.0,), pb.get_TLS_ccLevel_Q, 42.0),
            (pb.set_TLS_SBSLevel, (3e8,), pb.get_TLS_SBSLevel_Q, 3e8),
            (pb.set_TLS_lambdaLoggingStateEx, (1,), pb.get_TLS_lambdaLoggingStateEx_Q, 1),
        ]
        for setter, args, getter, expected in cases:
            self.assertEqual(setter(s, 4, *args), 0, setter.__name__)
            self.assertEqual(getter(s, 4), expected, getter.__name__)
            self.assertEqual(self.last_call('hp816x_' + getter.__name__)[:2], (s, 4))
        self.assertEqual(pb.get_TLS_modulationSettings_Q(s, 0), (0, 0, 0, 1e3))  # other slot untouched

    def test_functions_without_a_slot_address_the_first_laser(self):
        s = self.s
        self.assertEqual(pb.set_TLS_lambdaLoggingState(s, 1), 0)
        self.assertEqual(self.last_call('hp816x_set_TLS_lambdaLoggingState'), (s, 1))
        self.assertEqual(pb.get_TLS_lambdaLoggingState_Q(s), 1)
        self.assertEqual(pb.get_TLS_lambdaLoggingStateEx_Q(s, 0), 1)
        self.assertEqual(pb.get_TLS_lambdaLoggingStateEx_Q(s, 1), 0)
        self.assertEqual(pb.enableHighSweepSpeed(s, 1), 0)
        self.assertEqual(pb.returnEquidistantData(s, 0), 0)
        self.assertEqual(self.last_call('hp816x_returnEquidistantData'), (s, 0))

    def test_wavelength_and_power_selections_and_units(self):
        s = self.s
        self.assertEqual(pb.set_TLS_wavelength(s, 0, 0, 1560.25 * NM), 0)
        lo, default, hi, now = pb.get_TLS_wavelength_Q(s, 0)
        self.assertTrue(lo < default < hi)
        self.assertEqual(now, 1560.25 * NM)
        self.assertEqual(pb.set_TLS_wavelength(s, 0, 3, 0.0), 0)       # maximum
        self.assertEqual(pb.get_TLS_wavelength_Q(s, 0)[3], hi)
        self.assertEqual(pb.set_TLS_wavelength(s, 0, 0, 2000 * NM), -1074003964)  # parameter 4
        self.assertEqual(pb.set_TLS_wavelength(s, 0, 2, 0.0), 0)
        self.assertEqual(pb.set_TLS_power(s, 0, 0, 0, -3.0), 0)
        self.assertEqual(self.last_call('hp816x_set_TLS_power'), (s, 0, 0, 0, -3.0))
        unit, pmin, pdef, pmax, p = pb.get_TLS_power_Q(s, 0)
        self.assertEqual((unit, p), (0, -3.0))
        self.assertTrue(pmin < pdef < pmax)
        self.assertEqual(pb.set_TLS_power(s, 0, 1, 0, 2e-3), 0)       # in W
        unit, _, _, _, p = pb.get_TLS_power_Q(s, 0)
        self.assertEqual(unit, 1)
        self.assertAlmostEqual(p, 2e-3)

    def test_power_max_in_range_passes_both_wavelengths(self):
        s = self.s
        wide = pb.get_TLS_powerMaxInRange_Q(s, 0, 1460 * NM, 1630 * NM)
        self.assertEqual(self.last_call('hp816x_get_TLS_powerMaxInRange_Q'), (s, 0, 1460 * NM, 1630 * NM, sim.PTR))
        narrow = pb.get_TLS_powerMaxInRange_Q(s, 0, 1545 * NM, 1555 * NM)
        self.assertIs(type(wide), float)
        self.assertLess(wide, narrow)

    def test_temperatures_and_zeroing(self):
        s = self.s
        t, t0, dt = pb.get_TLS_temperatures(s)
        self.assertEqual(self.last_call('hp816x_get_TLS_temperatures'), (s, sim.PTR, sim.PTR, sim.PTR))
        self.assertTrue(15 < t < 40 and 15 < t0 < 40)
        self.assertAlmostEqual(dt, t - t0)
        self.assertEqual(pb.TLS_zeroingEx(s, 3), 0)
        t3, t03, dt3 = pb.get_TLS_temperaturesEx(s, 3)
        self.assertEqual(self.last_call('hp816x_get_TLS_temperaturesEx'), (s, 3, sim.PTR, sim.PTR, sim.PTR))
        self.assertLess(abs(dt3), 0.1)
        self.assertNotEqual(t03, t0)
        self.assertEqual(pb.get_TLS_temperatures(s)[1], t0)            # slot 0 not zeroed
        self.assertEqual(pb.TLS_zeroingAll(s), 0)
        self.assertLess(abs(pb.get_TLS_temperatures(s)[2]), 0.1)
        self.assertEqual(pb.get_TLS_accClass(s, 0), 1)

    def test_lambda_zero_follows_the_wavelength_shown(self):
        s = self.s
        pb.set_TLS_wavelength(s, 0, 0, 1551 * NM)
        self.assertEqual(pb.displayToLambdaZero(s, 0), 0)
        pb.set_TLS_wavelength(s, 0, 0, 1552 * NM)
        self.assertEqual(pb.get_TLS_lambdaZero_Q(s, 0), 1551 * NM)

    def test_bad_arguments_are_refused_before_the_driver(self):
        s = self.s
        self.assertRaises(OverflowError, pb.set_TLS_laserState, s, 0, 65536)
        self.assertRaises(OverflowError, pb.set_TLS_dark, s, 0, -1)
        self.assertRaises(OverflowError, pb.set_TLS_sweep, s, 0, 2, 0, 2 ** 32, 0.0, 1.5e-6, 1.6e-6, 1e-12, 5e-9)
        self.assertRaises(TypeError, pb.get_TLS_laserState_Q, s, 0.0)
        self.assertRaises(TypeError, pb.get_TLS_temperatures, s, 0)
        self.assertEqual(sim.journal(), [])
        self.assertEqual(pb.set_TLS_laserState(s, 0, True), 0)
        self.assertEqual(self.last_call('hp816x_set_TLS_laserState'), (s, 0, 1))


class Sweeps(LaserCase):
    def test_manual_sweep_steps_forward_and_back(self):
        s = self.s
        self.assertEqual(pb.set_TLS_sweep(s, 0, 1, 0, 4294967295, 0.5, 1550 * NM, 1550.05 * NM, 0.01 * NM, 0.0), 0)
        self.assertEqual(self.last_call('hp816x_set_TLS_sweep'),
                         (s, 0, 1, 0, 4294967295, 0.5, 1550 * NM, 1550.05 * NM, 0.01 * NM, 0.0))
        self.assertEqual(pb.get_TLS_sweepState_Q(s, 0), 0)
        self.assertEqual(pb.TLS_sweepControl(s, 0, 1), 0)
        self.assertEqual(pb.get_TLS_sweepState_Q(s, 0), 1)
        self.assertAlmostEqual(pb.get_TLS_wavelength_Q(s, 0)[3], 1550 * NM, delta=1e-15)
        for _ in range(3):
            self.assertEqual(pb.TLS_sweepNextStep(s, 0), 0)
        self.assertEqual(pb.TLS_sweepPreviousStep(s, 0), 0)
        self.assertAlmostEqual(pb.get_TLS_wavelength_Q(s, 0)[3], 1550.02 * NM, delta=1e-15)
        self.assertEqual(pb.TLS_sweepWait(s, 0), 0)                   # manual: nothing to wait for
        self.assertEqual(pb.TLS_sweepControl(s, 0, 2), 0)
        self.assertEqual(pb.get_TLS_sweepState_Q(s, 0), 2)
        self.assertEqual(pb.TLS_sweepControl(s, 0, 3), 0)
        self.assertEqual(pb.TLS_sweepControl(s, 0, 0), 0)
        self.assertEqual(pb.get_TLS_sweepState_Q(s, 0), 0)

    def test_commands_out_of_turn_report_an_instrument_error(self):
        s = self.s
        self.assertEqual(pb.TLS_sweepNextStep(s, 0), INSTR_ERROR)
        self.assertEqual(pb.error_query(s), (-221, 'Settings conflict'))
        self.assertEqual(pb.TLS_sweepControl(s, 0, 1), 0)
        self.assertEqual(pb.set_TLS_sweep(s, 0, 2, 0, 1, 0.0, 1.5e-6, 1.6e-6, 1e-12, 5e-9), INSTR_ERROR)
        self.assertEqual(pb.TLS_sweepNextStep(s, 0), INSTR_ERROR)     # continuous sweeps do not step

    def test_continuous_sweep_ends_at_stop_and_logs_its_grid(self):
        self.logged_sweep(0, 1540 * NM, 1541 * NM, 0.1 * NM)
        s = self.s
        self.assertEqual(pb.get_TLS_sweepState_Q(s, 0), 0)
        self.assertAlmostEqual(pb.get_TLS_wavelength_Q(s, 0)[3], 1541 * NM, delta=1e-15)
        self.assertEqual(pb.get_TLS_wavelengthPoints_Q(s), 11)
        self.assertEqual(pb.get_TLS_wavelengthPointsEx_Q(s, 0), 11)
        self.assertEqual(pb.get_TLS_powerPoints_Q(s, 0), 11)
        self.assertEqual(pb.get_TLS_wavelengthPointsEx_Q(s, 1), 0)
        self.assertEqual(self.last_call('hp816x_get_TLS_wavelengthPointsEx_Q'), (s, 1, sim.PTR))

    def test_endless_sweep_times_out(self):
        s = self.s
        self.assertEqual(pb.set_TLS_sweep(s, 0, 2, 0, 0, 0.0, 1.5e-6, 1.6e-6, 1e-9, 5e-9), 0)
        self.assertEqual(pb.TLS_sweepControl(s, 0, 1), 0)
        self.assertEqual(pb.TLS_sweepWait(s, 0), TIMEOUT)


class Arrays(LaserCase):
    def test_wavelength_data_tells_the_driver_n_and_returns_a_bare_vector(self):
        self.logged_sweep(0, 1550 * NM, 1550.5 * NM, 0.1 * NM)
        w = pb.get_TLS_wavelengthData_Q(self.s, 3)
        self.assertEqual(self.last_call('hp816x_get_TLS_wavelengthData_Q'), (self.s, 3, sim.PTR))
        self.assertIs(type(w), pb.ViReal64Vec)
        self.assertEqual(len(w), 3)
        for got, nm in zip(w, (1550, 1550.1, 1550.2)):
            self.assertAlmostEqual(got, nm * NM, delta=1e-16)

    def test_ex_query_swaps_slot_and_count_for_the_driver(self):
        self.logged_sweep(2, 1560 * NM, 1560.5 * NM, 0.1 * NM)   # six points
        w = pb.get_TLS_wavelengthDataEx_Q(self.s, 2, 10)
        self.assertEqual(self.last_call('hp816x_get_TLS_wavelengthDataEx_Q'), (self.s, 10, 2, sim.PTR))
        self.assertIs(type(w), pb.ViReal64Vec)
        self.assertEqual(len(w), 10)
        self.assertAlmostEqual(w[5], 1560.5 * NM, delta=1e-16)
        self.assertEqual(list(w)[6:], [0.0] * 4)                       # beyond the logged points

    def test_power_data_follows_the_device_under_test(self):
        pb.set_TLS_power(self.s, 0, 0, 0, 0.0)
        self.logged_sweep(0, 1548 * NM, 1552 * NM, 0.01 * NM)
        n = pb.get_TLS_powerPoints_Q(self.s, 0)
        result = pb.get_TLS_powerData_Q(self.s, 0, n)
        self.assertEqual(self.last_call('hp816x_get_TLS_powerData_Q'), (self.s, 0, n, sim.PTR, sim.PTR))
        self.assertIs(type(result), tuple)
        w, p = result
        self.assertEqual((type(w), type(p), len(w), len(p)), (pb.ViReal64Vec, pb.ViReal64Vec, n, n))
        self.assertEqual(list(w), list(pb.get_TLS_wavelengthData_Q(self.s, n)))
        dip = min(range(n), key=lambda i: p[i])
        self.assertAlmostEqual(w[dip], 1550.12 * NM, delta=0.011 * NM)
        self.assertTrue(-27 < p[dip] < -24 and -1 < p[0] < -0.5)
        self.assertEqual(list(p), list(pb.get_TLS_powerData_Q(self.s, 0, n)[1]))  # logged, not re-measured

    def test_a_dark_laser_logs_no_light(self):
        pb.set_TLS_dark(self.s, 0, 1)
        self.logged_sweep(0, 1550 * NM, 1551 * NM, 0.5 * NM)
        self.assertTrue(all(v < -85 for v in pb.get_TLS_powerData_Q(self.s, 0, 3)[1]))

    def test_zero_points_call_the_driver_and_give_empty_vectors(self):
        s = self.s
        self.assertEqual(len(pb.get_TLS_wavelengthData_Q(s, 0)), 0)
        self.assertEqual(len(pb.get_TLS_wavelengthDataEx_Q(s, 1, 0)), 0)
        w, p = pb.get_TLS_powerData_Q(s, 1, 0)
        self.assertEqual((len(w), len(p)), (0, 0))
        self.assertEqual(sim.calls('hp816x_get_TLS_wavelengthData_Q'), [(s, 0, sim.PTR)])
        self.assertEqual(sim.calls('hp816x_get_TLS_wavelengthDataEx_Q'), [(s, 0, 1, sim.PTR)])
        self.assertEqual(sim.calls('hp816x_get_TLS_powerData_Q'), [(s, 1, 0, sim.PTR, sim.PTR)])

    def test_negative_or_oversized_counts_never_reach_the_driver(self):
        s = self.s
        self.assertRaises(ValueError, pb.get_TLS_wavelengthData_Q, s, -1)
        self.assertRaises(ValueError, pb.get_TLS_wavelengthDataEx_Q, s, 0, -5)
        self.assertRaises(ValueError, pb.get_TLS_powerData_Q, s, 0, -2147483648)
        self.assertRaises(OverflowError, pb.get_TLS_wavelengthData_Q, s, 2 ** 31)
        self.assertEqual(sim.journal(), [])


class Processes(unittest.TestCase):
    @unittest.skipIf(SANITIZED, 'the sanitizer runtime needs more address space than the limit')
    def test_huge_counts_raise_memory_error_and_release_buffers(self):
        rc, out, err = run_script('''
            import resource
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 0, 0)
            resource.setrlimit(resource.RLIMIT_AS, (512 << 20, 512 << 20))
            calls = [(pb.get_TLS_wavelengthData_Q, (s, 2147483647)),
                     (pb.get_TLS_wavelengthDataEx_Q, (s, 0, 2147483647)),
                     (pb.get_TLS_powerData_Q, (s, 0, 40000000))]    # the second buffer fails
            for i in range(3):
                for f, args in calls:
                    try:
                        f(*args)
                        print('returned')
                    except MemoryError:
                        pass
            print(len(sim.journal()))
            print(len(pb.get_TLS_powerData_Q(s, 0, 20000000)[1]))  # fits only if nothing leaked
        ''')
        self.assertEqual((rc, err), (0, ''))
        self.assertEqual(out, '1\n20000000\n')                        # only init reached the driver

    def test_failing_query_prints_closes_and_exits_with_the_status(self):
        rc, out, _ = run_script('''
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 0, 0)
            print(pb.error_message(s, -1074003966))
            sim.fail('hp816x_get_TLS_powerData_Q', -1074003966)
            pb.get_TLS_powerData_Q(s, 0, 5)
            print('not reached')
        ''')
        message = out.split('\n')[0]
        self.assertEqual(rc, exit_code(PARAMETER2))
        self.assertEqual(out, message + '\n        Driver Error : bffc0002, ' + message + '\n')

    def test_instrument_error_261_lets_the_array_query_go_on(self):
        rc, out, _ = run_script('''
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 0, 0)
            sim.fail('hp816x_get_TLS_wavelengthDataEx_Q', %d)
            sim.push_error('hp816x', -261, 'Settings conflict')
            print(len(pb.get_TLS_wavelengthDataEx_Q(s, 0, 4)))
            print(pb.get_TLS_sweepState_Q(s, 0))
        ''' % INSTR_ERROR)
        self.assertEqual(rc, 0)
        self.assertEqual(out, '        Inst. Error : fffffefb, Settings conflict\n4\n0\n')

    def test_pass_throughs_return_failures_without_printing(self):
        rc, out, err = run_script('''
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 0, 0)
            print(pb.set_TLS_wavelength(s, 9, 0, 1.55e-6))            # no such slot
            print(pb.TLS_sweepPreviousStep(s, 0))                      # no sweep running
            sim.fail('hp816x_TLS_zeroing', -1073807339)
            print(pb.TLS_zeroing(s))
            print(sim.session_count())
        ''')
        self.assertEqual((rc, err), (0, ''))
        self.assertEqual(out.split(), [str(PARAMETER2), str(INSTR_ERROR), str(TIMEOUT), '1'])


if __name__ == '__main__':
    unittest.main()
