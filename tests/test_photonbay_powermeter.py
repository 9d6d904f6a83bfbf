"""_photonbay positions 107-141: power meter channels."""
import ctypes
import unittest

from support import sim, SimTestCase, TestCase, exit_journal, calls_of, exit_code, public_names
import _photonbay as pb

MAINFRAME = 'GPIB0::20::INSTR'
HUGE = 4294967295   # 32 GiB of doubles: more than the machine has



class Registration(TestCase):
    def test_the_internal_trigger_keeps_its_short_name(self):
        self.assertNotIn('set_PWM_internalTrigger', public_names(pb))


class Settings(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 1, 0)
        sim.clear_journal()

    def test_parameters_round_trip_as_three_ints_then_three_floats(self):
        self.assertEqual(pb.set_PWM_parameters(self.s, 1, 1, 0, 1, 1, 1310e-9, 0.5, -20), 0)
        self.assertEqual(self.last_call('hp816x_set_PWM_parameters'), (self.s, 1, 1, 0, 1, 1, 1310e-9, 0.5, -20.0))
        got = pb.get_PWM_parameters_Q(self.s, 1, 1)
        self.assertEqual(got, (0, 1, 1, 1310e-9, 0.5, -20.0))
        self.assertEqual([type(v) for v in got], [int] * 3 + [float] * 3)
        self.assertEqual(self.last_call('hp816x_get_PWM_parameters_Q'), (self.s, 1, 1) + (sim.PTR,) * 6)
        self.assertEqual(pb.get_PWM_averagingTime_Q(self.s, 1, 1), 0.5)
        self.assertEqual(pb.get_PWM_powerUnit_Q(self.s, 1, 1), 1)
        self.assertEqual(pb.get_PWM_powerRange_Q(self.s, 1, 1), (0, -20.0))
        self.assertEqual(pb.get_PWM_wavelength_Q(self.s, 1, 1)[2], 1310e-9)

    def test_internal_trigger_calls_the_set_function(self):
        self.assertEqual(pb.PWM_internalTrigger(self.s, 2, 0, 1), 0)
        self.assertEqual(sim.calls('hp816x_set_PWM_internalTrigger'), [(self.s, 2, 0, 1)])
        self.assertEqual(pb.get_PWM_parameters_Q(self.s, 2, 0)[2], 1)
        self.assertRaises(OverflowError, pb.PWM_internalTrigger, self.s, 2, 0, 65536)

    def test_reference_source_query_takes_none_or_int_buffers(self):
        pb.set_PWM_referenceSource(self.s, 1, 1, 1, 1, 2, 1)
        self.assertEqual(pb.get_PWM_referenceSource_Q(self.s, 1, 1, None, None, None, None), 0)
        self.assertEqual(self.last_call('hp816x_get_PWM_referenceSource_Q'), (self.s, 1, 1, None, None, None, None))
        cells = [(ctypes.c_int32 * 1)() for _ in range(4)]
        self.assertEqual(pb.get_PWM_referenceSource_Q(self.s, 1, 1, *cells), 0)
        self.assertEqual([c[0] for c in cells], [1, 1, 2, 1])
        self.assertRaises(TypeError, pb.get_PWM_referenceSource_Q, self.s, 1, 1, [0], None, None, None)
        self.assertRaises(TypeError, pb.get_PWM_referenceSource_Q, self.s, 1, 1, (ctypes.c_double * 1)(),
                          None, None, None)

    def test_tuples_keep_driver_order(self):
        for fn, values in (('hp816x_get_PWM_referenceValue_Q', (7, 1.5, 2.5)),
                           ('hp816x_get_PWM_wavelength_Q', (1.0, 2.0, 3.0)),
                           ('hp816x_get_PWM_minMaxResults_Q', (-4.0, -3.0, -3.5)),
                           ('hp816x_get_PWM_triggerConfiguration', (5, 6))):
            first = 2 if fn.endswith('triggerConfiguration') else 3
            for i, v in enumerate(values):
                sim.set_output(fn, first + i, v)
        self.assertEqual(pb.get_PWM_referenceValue_Q(self.s, 1, 1), (7, 1.5, 2.5))
        self.assertEqual(pb.get_PWM_wavelength_Q(self.s, 1, 1), (1.0, 2.0, 3.0))
        self.assertEqual(pb.get_PWM_minMaxResults_Q(self.s, 1, 1), (-4.0, -3.0, -3.5))
        self.assertEqual(pb.get_PWM_triggerConfiguration(self.s, 2), (5, 6))
        self.assertEqual(self.last_call('hp816x_get_PWM_triggerConfiguration'), (self.s, 2, sim.PTR, sim.PTR))

    def test_set_ups_return_their_estimate(self):
        self.assertEqual(pb.set_PWM_logging(self.s, 1, 1, 0.01, 500), 5100)
        self.assertEqual(self.last_call('hp816x_set_PWM_logging'), (self.s, 1, 1, 0.01, 500, sim.PTR))
        self.assertEqual(pb.set_PWM_stability(self.s, 1, 1, 0.1, 1.0, 60.0), 60)
        self.assertEqual(self.last_call('hp816x_set_PWM_stability'), (self.s, 1, 1, 0.1, 1.0, 60.0, sim.PTR))
        sim.set_output('hp816x_set_PWM_minMax', 5, -7)
        self.assertEqual(pb.set_PWM_minMax(self.s, 1, 1, 3, 100), -7)
        self.assertEqual(self.last_call('hp816x_set_PWM_minMax'), (self.s, 1, 1, 3, 100, sim.PTR))
        sim.set_output('hp816x_PWM_zeroing', 3, 9)
        self.assertEqual(pb.PWM_zeroing(self.s, 1, 1), 9)
        self.assertEqual(pb.PWM_zeroingAll(self.s), 0)
        self.assertEqual(self.last_call('hp816x_PWM_zeroingAll'), (self.s, sim.PTR))

    def test_readings_follow_the_laser_unit_and_calibration(self):
        dbm = pb.PWM_readValue(self.s, 1, 1)
        self.assertAlmostEqual(dbm, -0.6 - 25 / 1.36, delta=0.01)  # 1550 nm, 0.12 nm off the dip
        pb.set_PWM_calibration(self.s, 1, 1, 2.0)
        self.assertAlmostEqual(pb.PWM_readValue(self.s, 1, 1), dbm + 2.0, delta=0.01)
        self.assertEqual(pb.PWM_fetchValue(self.s, 1, 1), pb.PWM_fetchValue(self.s, 1, 1))
        pb.set_PWM_powerUnit(self.s, 1, 1, 1)
        self.assertAlmostEqual(pb.PWM_readValue(self.s, 1, 1), 1e-3 * 10 ** ((dbm + 2) / 10), delta=1e-7)
        self.assertNotEqual(pb.set_PWM_powerUnit(self.s, 1, 1, 5), 0)  # pass-through: status only


class ReadAll(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 1, 0)

    def test_three_vectors_of_34_whatever_the_count(self):
        slots, channels, values = pb.PWM_readAll(self.s)
        self.assertEqual(self.last_call('hp816x_PWM_readAll'), (self.s,) + (sim.PTR,) * 4)
        self.assertIsInstance(slots, pb.ViInt32Vec)
        self.assertIsInstance(values, pb.ViReal64Vec)
        self.assertEqual([len(slots), len(channels), len(values)], [34] * 3)
        self.assertEqual(list(slots)[:4], [1, 1, 2, 0])
        self.assertEqual(list(channels)[:4], [0, 1, 0, 0])
        self.assertTrue(all(-20 < v < -18 for v in list(values)[:3]))
        self.assertEqual(list(values)[3:], [0.0] * 31)

    def test_fewer_or_too_many_reported_entries(self):
        sim.set_output('hp816x_PWM_readAll', 1, 1)
        slots, channels, values = pb.PWM_readAll(self.s)
        self.assertEqual(list(slots)[:3], [1, 1, 2])   # the driver's entries, count aside
        sim.reset()
        s = pb.init(MAINFRAME, 1, 0)
        sim.hostile()                                  # reports 75, fills all 34
        slots, channels, values = pb.PWM_readAll(s)
        self.assertEqual([len(slots), len(channels), len(values)], [34] * 3)
        self.assertEqual(list(slots)[33], -1)            # junk beyond the mainframe's channels


class ResultArrays(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 1, 0)

    def test_logging_results_size_the_array_and_do_not_pass_it(self):
        pb.set_PWM_logging(self.s, 1, 1, 0.001, 100)
        flag, values = pb.get_PWM_loggingResults_Q(self.s, 1, 1, 1, 0, 100)
        self.assertEqual(self.last_call('hp816x_get_PWM_loggingResults_Q'), (self.s, 1, 1, 1, 0, sim.PTR, sim.PTR))
        self.assertEqual(flag, 1)
        self.assertIsInstance(values, pb.ViReal64Vec)
        self.assertEqual(len(values), 100)
        self.assertTrue(all(-20 < v < -18 for v in values))
        sim.set_output('hp816x_get_PWM_loggingResults_Q', 5, 0)
        sim.set_output('hp816x_get_PWM_loggingResults_Q', 6, 42.0)
        flag, values = pb.get_PWM_loggingResults_Q(self.s, 1, 1, 0, 1, 150)
        self.assertEqual((flag, values[0], len(values)), (0, 42.0, 150))
        self.assertTrue(0 < values[1] < 1e-4)            # watts
        self.assertEqual(list(values)[100:], [0.0] * 50)

    def test_stability_n_5_and_n_0(self):
        self.assertEqual(pb.set_PWM_stability(self.s, 2, 0, 0.1, 1.0, 5.0), 5)
        flag, values = pb.get_PWM_stabilityResults_Q(self.s, 2, 0, 1, 0, 5)
        self.assertEqual(len(values), 5)
        self.assertEqual(len(set(values)), 5)
        pb.PWM_functionStop(self.s, 2, 0)
        flag, values = pb.get_PWM_stabilityResults_Q(self.s, 2, 0, 1, 0, 0)
        self.assertEqual(len(values), 0)
        self.assertEqual(len(sim.calls('hp816x_get_PWM_stabilityResults_Q')), 2)

    def test_negative_and_huge_sizes_never_reach_the_driver(self):
        for fn in (pb.get_PWM_loggingResults_Q, pb.get_PWM_stabilityResults_Q):
            self.assertRaises(OverflowError, fn, self.s, 1, 1, 1, 0, -1)
            self.assertRaises(MemoryError, fn, self.s, 1, 1, 1, 0, HUGE)
        self.assertNotCalled('hp816x_get_PWM_loggingResults_Q')
        self.assertNotCalled('hp816x_get_PWM_stabilityResults_Q')


class Failing(unittest.TestCase):
    def test_failing_result_array_closes_the_session_and_exits(self):
        rc, out, _, calls = exit_journal('''
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 1, 0)
            t = pb.init('GPIB0::20::INSTR', 1, 0)
            sim.fail('hp816x_get_PWM_loggingResults_Q', -1074003967)
            print('session %d' % s)
            pb.get_PWM_loggingResults_Q(s, 1, 1, 1, 0, 1000)
            print('not reached')
        ''')
        self.assertEqual(rc, exit_code(-1074003967))
        lines = out.splitlines()
        s = int(lines[0].split()[1])
        self.assertEqual(lines[1:], ['        Driver Error : bffc0001, Parameter 1 out of range'])
        # Of the two sessions only the failing one is closed.
        self.assertEqual(len(calls_of(calls, 'hp816x_init')), 2)
        self.assertEqual(calls_of(calls, 'hp816x_close'), [(s,)])


if __name__ == '__main__':
    unittest.main()
