"""_photonbay positions 160-201: return-loss modules."""
import array
import math
import unittest

from support import sim, SimTestCase, PY2, INSTR_ERROR, PARAM, run_script, exit_journal, exit_code
import _photonbay as pb

MAINFRAME = 'GPIB0::20::INSTR'
RLM = 4
WARNING = 0x3FFC0101
MAX_POINTS = 10000   # most values the module records



def formula(rr, rm, tr, tm, dr, dm, ref):
    t = tr / tm
    return ref - 10 * math.log10((dr / dm - t) / (rr / rm - t))


class ReturnLossTestCase(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 0, 0)
        pb.set_RLM_laserState(self.s, RLM, 1)
        sim.clear_journal()


class Settings(ReturnLossTestCase):
    def test_parameters_round_trip_in_setter_order(self):
        self.assertEqual(pb.set_RLM_parameters(self.s, RLM, 1, 0.5, 1.31e-6, 1, 0), 0)
        self.assertEqual(self.last_call('hp816x_set_RLM_parameters'), (self.s, RLM, 1, 0.5, 1.31e-6, 1, 0))
        r = pb.get_RLM_parameters_Q(self.s, RLM)
        self.assertEqual(r, (1, 0.5, 1.31e-6, 1, 0))
        self.assertEqual([type(v) for v in r], [int, float, float, int, int])
        self.assertEqual(pb.get_RLM_averagingTime_Q(self.s, RLM), 0.5)
        self.assertEqual(pb.get_RLM_wavelength_Q(self.s, RLM), (1.25e-6, 1.65e-6, 1.55e-6, 1.31e-6))
        self.assertEqual(pb.get_RLM_laserSourceParameters_Q(self.s, RLM), (1, 0))

    def test_per_source_settings(self):
        self.assertEqual(pb.set_RLM_rlReference(self.s, RLM, 1, 14.7), 0)
        self.assertEqual(pb.get_RLM_rlReference_Q(self.s, RLM, 1), 14.7)
        self.assertEqual(pb.get_RLM_rlReference_Q(self.s, RLM, 0), 0.16)
        self.assertEqual(pb.set_RLM_FPDelta(self.s, RLM, 0, -0.25), 0)
        self.assertEqual(pb.get_RLM_FPDelta_Q(self.s, RLM, 0), -0.25)
        self.assertEqual(self.last_call('hp816x_get_RLM_FPDelta_Q'), (self.s, RLM, 0, sim.PTR))
        self.assertEqual(pb.set_RLM_modulationState(self.s, RLM, 1, 1), 0)
        self.assertEqual(pb.get_RLM_modulationState_Q(self.s, RLM, 1), 1)
        self.assertEqual(pb.get_RLM_modulationState_Q(self.s, RLM, 0), 0)
        self.assertEqual(pb.get_RLM_laserState_Q(self.s, RLM), 1)
        self.assertRaises(TypeError, pb.get_RLM_laserState_Q, self.s, RLM, 0)
        self.assertEqual(pb.set_RLM_powerRange(self.s, RLM, 0, -10, -40), 0)
        r = pb.get_RLM_powerRange_Q(self.s, RLM)
        self.assertEqual(r, (0, -10.0, -40.0))
        self.assertEqual([type(v) for v in r], [int, float, float])
        self.assertEqual(pb.get_RLM_srcWavelength_Q(self.s, RLM), (1310e-9, 1550e-9))

    def test_pass_throughs_return_the_status(self):
        self.assertEqual(pb.enable_RLM_sweep(self.s, 1), 0)
        self.assertEqual(self.last_call('hp816x_enable_RLM_sweep'), (self.s, 1))
        self.assertEqual(pb.WaitForOPC(self.s, RLM, 1), 0)
        self.assertEqual(pb.set_RLM_triggerConfiguration(self.s, RLM, 1, 2), 0)
        self.assertEqual(pb.set_RLM_wavelength(self.s, RLM, 2e-6), PARAM + 3)
        sim.fail('hp816x_RLM_functionStop', INSTR_ERROR)
        self.assertEqual(pb.RLM_functionStop(self.s, RLM), INSTR_ERROR)
        self.assertRaises(OverflowError, pb.set_RLM_internalTrigger, self.s, RLM, 65536)


class Readings(ReturnLossTestCase):
    def test_return_loss_of_the_device_per_source(self):
        lower = pb.RLM_readReturnLoss(self.s, RLM)
        self.assertAlmostEqual(lower, 45.5, 1)
        self.assertEqual(pb.RLM_fetchReturnLoss(self.s, RLM), lower)
        pb.set_RLM_laserSourceParameters(self.s, RLM, 1, 1)
        self.assertAlmostEqual(pb.RLM_readReturnLoss(self.s, RLM), 42.8, 1)
        pb.set_RLM_FPDelta(self.s, RLM, 1, 0.5)
        self.assertAlmostEqual(pb.RLM_readReturnLoss(self.s, RLM), 43.3, 1)
        self.assertEqual(pb.calibrate_RLM(self.s, RLM, 0), 0)
        self.assertEqual(pb.calibrate_RLM(self.s, RLM, 1), 0)
        self.assertAlmostEqual(pb.RLM_readReturnLoss(self.s, RLM), 43.3, 1)

    def test_calculation_matches_the_reading(self):
        rr, rm = pb.get_RLM_reflectanceValues_Q(self.s, RLM, 0)
        tr, tm = pb.get_RLM_terminationValues_Q(self.s, RLM, 0)
        rl = pb.RLM_readReturnLoss(self.s, RLM)
        dr, dm = pb.get_RLM_dutValues_Q(self.s, RLM)
        self.assertEqual((dm, dr), (pb.RLM_fetchValue(self.s, RLM, 0), pb.RLM_fetchValue(self.s, RLM, 1)))
        self.assertAlmostEqual(pb.calculate_RL(self.s, RLM, rr, rm, tr, tm, dr, dm, 0.16), rl, 9)

    def test_calculate_takes_seven_floats_in_order(self):
        args = (4.8e-4, 1e-4, 3e-11, 1e-4, 2e-8, 1e-4, 0.16)
        r = pb.calculate_RL(self.s, RLM, *args)
        self.assertEqual(self.last_call('hp816x_calculate_RL'), (self.s, RLM) + args + (sim.PTR,))
        self.assertIs(type(r), float)
        self.assertAlmostEqual(r, formula(*args), 9)
        self.assertRaises(TypeError, pb.calculate_RL, self.s, RLM, *args[:6])

    def test_zeroing_returns_the_written_value_not_the_status(self):
        self.assertEqual(pb.RLM_zeroing(self.s, RLM), 0)
        self.assertEqual(self.last_call('hp816x_RLM_zeroing'), (self.s, RLM, sim.PTR))
        sim.set_output('hp816x_RLM_zeroing', 2, 7)
        sim.fail('hp816x_RLM_zeroing', WARNING)
        self.assertEqual(pb.RLM_zeroing(self.s, RLM), 7)
        sim.set_output('hp816x_RLM_zeroingAll', 1, -5)
        self.assertEqual(pb.RLM_zeroingAll(self.s), -5)
        self.assertEqual(self.last_call('hp816x_RLM_zeroingAll'), (self.s, sim.PTR))


class Functions(ReturnLossTestCase):
    def test_logging_pointer_takes_none_or_an_int_buffer(self):
        self.assertEqual(pb.set_RLM_logging(self.s, RLM, 0.01, 4, None), 0)
        self.assertEqual(self.last_call('hp816x_set_RLM_logging'), (self.s, RLM, 0.01, 4, None))
        timeout = pb.ViInt32Vec()
        timeout.append(0)
        self.assertEqual(pb.set_RLM_logging(self.s, RLM, 0.01, 4, timeout), 0)
        self.assertEqual(list(timeout), [140])
        if not PY2:
            a = array.array('i', [0])
            pb.set_RLM_logging(self.s, RLM, 0.1, 10, a)
            self.assertEqual(list(a), [1100])
        sim.clear_journal()
        for bad in ([0], 0, pb.ViReal64Vec()):
            self.assertRaises(TypeError, pb.set_RLM_logging, self.s, RLM, 0.01, 4, bad)
        self.assertNotCalled('hp816x_set_RLM_logging')

    def test_logging_results_are_the_flag_and_n_values(self):
        pb.set_RLM_logging(self.s, RLM, 0.01, 4, None)
        flag, values = pb.get_RLM_loggingResults_Q(self.s, RLM, 1, 0, 0, 4)
        # N is the caller's: it does not reach the driver.
        self.assertEqual(self.last_call('hp816x_get_RLM_loggingResults_Q'), (self.s, RLM, 1, 0, 0, sim.PTR, sim.PTR))
        self.assertEqual(flag, 1)
        self.assertIs(type(values), pb.ViReal64Vec)
        self.assertEqual(len(values), 4)
        for v in values:
            self.assertAlmostEqual(v, 45.5, 1)
        flag, power = pb.get_RLM_loggingResults_Q(self.s, RLM, 1, 1, 1, 6)  # monitor power in W
        self.assertEqual(len(power), 6)
        self.assertAlmostEqual(power[0], 1e-4, 6)
        self.assertEqual(list(power)[4:], [0.0, 0.0])  # the driver recorded four

    def test_zero_values_after_a_normal_call(self):
        flag, values = pb.get_RLM_loggingResults_Q(self.s, RLM, 0, 0, 0, 0)
        self.assertEqual((flag, len(values)), (0, 0))
        self.assertIs(type(values), pb.ViReal64Vec)
        self.assertEqual(len(sim.calls('hp816x_get_RLM_loggingResults_Q')), 1)
        pb.set_RLM_stability(self.s, RLM, 3, 1, 0.5)
        flag, values = pb.get_RLM_stabilityResults_Q(self.s, RLM, 1, 0, 0)
        self.assertEqual((flag, len(values)), (1, 0))

    def test_stability_returns_the_number_of_values_and_has_one_flag_fewer(self):
        self.assertEqual(pb.set_RLM_stability(self.s, RLM, 10, 1, 0.5), 10)
        self.assertEqual(self.last_call('hp816x_set_RLM_stability'), (self.s, RLM, 10.0, 1.0, 0.5, sim.PTR))
        flag, values = pb.get_RLM_stabilityResults_Q(self.s, RLM, 1, 1, 10)
        self.assertEqual(self.last_call('hp816x_get_RLM_stabilityResults_Q'), (self.s, RLM, 1, 1, sim.PTR, sim.PTR))
        self.assertEqual((flag, len(values)), (1, 10))
        self.assertAlmostEqual(values[0], 10 ** -4.55, 6)  # linear reflectance
        sim.set_output('hp816x_set_RLM_stability', 5, 99)
        sim.fail('hp816x_set_RLM_stability', WARNING)
        self.assertEqual(pb.set_RLM_stability(self.s, RLM, 10, 1, 0.5), 99)

    def test_results_stay_in_bounds_when_the_driver_writes_all_it_can(self):
        pb.set_RLM_logging(self.s, RLM, 0.01, 4, None)
        sim.hostile()  # the driver writes MAX_POINTS values, whatever N is
        for n in (0, 4, MAX_POINTS - 1, MAX_POINTS, MAX_POINTS + 3):
            flag, values = pb.get_RLM_loggingResults_Q(self.s, RLM, 1, 0, 0, n)
            self.assertEqual(len(values), n)
            if n:
                self.assertAlmostEqual(values[n - 1] if n <= MAX_POINTS else values[MAX_POINTS - 1], 45.5, 1)

    def test_min_max(self):
        t = pb.set_RLM_minMax(self.s, RLM, 1, 50)
        self.assertEqual(self.last_call('hp816x_set_RLM_minMax'), (self.s, RLM, 1, 50, sim.PTR))
        self.assertEqual(t, 5000)  # 50 values of 0.1 s, in ms
        lo, hi, cur = pb.get_RLM_minMaxResults_Q(self.s, RLM)
        self.assertTrue(lo <= cur <= hi, (lo, cur, hi))
        self.assertAlmostEqual(lo, 45.5, 1)
        sim.set_output('hp816x_set_RLM_minMax', 4, 0xFFFFFFFF)
        self.assertEqual(pb.set_RLM_minMax(self.s, RLM, 1, 50), 4294967295)
        self.assertEqual(pb.RLM_functionStop(self.s, RLM), 0)


class StatusCheck(unittest.TestCase):
    def test_reading_with_the_laser_off_ends_the_process(self):
        rc, out, _, calls = exit_journal('''
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 0, 0)
            print('before')
            pb.RLM_readReturnLoss(s, 4)
            print('not reached')
        ''')
        self.assertEqual(rc, exit_code(INSTR_ERROR))
        self.assertEqual(out, 'before\n        Inst. Error : ffffff23, Settings conflict;laser source is off\n')
        self.assertEqual(calls[-1][0], 'hp816x_close')

    def test_results_go_on_after_instrument_error_261(self):
        rc, out, _ = run_script('''
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 0, 0)
            pb.set_RLM_laserState(s, 4, 1)
            pb.set_RLM_logging(s, 4, 0.01, 3, None)
            sim.push_error('hp816x', -261, 'Math error in expression')
            sim.fail('hp816x_get_RLM_loggingResults_Q', -1074000633)
            flag, values = pb.get_RLM_loggingResults_Q(s, 4, 1, 0, 0, 3)
            print('%d %d %.1f' % (flag, len(values), values[2]))
        ''')
        self.assertEqual(rc, 0)
        self.assertEqual(out, '        Inst. Error : fffffefb, Math error in expression\n1 3 45.5\n')


if __name__ == '__main__':
    unittest.main()
