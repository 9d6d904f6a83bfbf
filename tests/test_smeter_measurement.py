"""_smeter: configuration, readings, reading arrays and the reading buffer."""
import unittest

from support import sim, SimTestCase, signed
import _smeter as sm

SMU = 'GPIB0::24::INSTR'
VOLTAGE, CURRENT, RESISTANCE, TIME = 0, 1, 2, 3
INVALID_VALUE = signed(0xBFFA0010)
NULL_POINTER = signed(0xBFFA0058)
NO_DATA = signed(0xBFFA4001)
TRIGGER_COUNT = 1150029


class Measuring(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = sm.init(SMU, 0, 1)
        sm.EnableSource(self.s, 1, 0)
        sim.clear_journal()

    def voltage_sweep(self, stop=2.0, step=0.1):
        # 0 V to `stop` in steps, 10 mA compliance, measuring current
        return sm.Configure_Sweep_VI(self.s, 0, 0, 0, 0.0, stop, step, 0.01, 0, 1.0, 0.001)

    def test_diode_behind_a_resistor(self):
        sm.Configure_DC_VI(self.s, 0.3, 0.01, 0, 0, 1, 0)
        self.assertLess(abs(sm.Read(self.s, CURRENT)), 1e-8)   # below the knee
        sm.Configure_DC_VI(self.s, 2.0, 0.01, 0, 0, 1, 0)
        i = sm.Read(self.s, CURRENT)
        self.assertTrue(5e-4 < i < 2e-3, i)                    # resistor-limited
        self.assertEqual(self.last_call('KE2400_Read'), (self.s, CURRENT, sim.PTR))
        self.assertEqual(sm.Fetch(self.s, CURRENT), i)
        self.assertAlmostEqual(sm.Fetch(self.s, RESISTANCE), 2.0 / i, delta=1.0)
        sm.Configure_DC_IV(self.s, -1e-3, 5.0, 0, 1, 0)        # reverse current: held at compliance
        self.assertAlmostEqual(sm.Read(self.s, VOLTAGE), -5.0, places=3)

    def test_fetch_before_any_reading_fails_quietly(self):
        self.assertEqual(sm.Fetch(self.s, VOLTAGE), 0.0)
        self.assertEqual(sm.GetError(self.s, 256)[0], NO_DATA)
        readings, count = sm.FetchMultiPoint(self.s, VOLTAGE, 5)
        self.assertEqual((len(readings), count), (0, 0))
        self.assertEqual(sm.Read(self.s, 7), 0.0)
        self.assertEqual(sm.GetError(self.s, 256)[0], NO_DATA)
        self.assertEqual(sm.GetError(self.s, 256)[0], INVALID_VALUE)

    def test_read_multi_point_delivers_what_the_acquisition_holds(self):
        self.assertEqual(sm.ConfigureMultiPoint(self.s, 40, 1, 0, 0.0), 0)
        readings, count = sm.ReadMultiPoint(self.s, CURRENT, 100)
        self.assertEqual(self.last_call('KE2400_ReadMultiPoint'), (self.s, CURRENT, 100, sim.PTR, sim.PTR))
        self.assertIsInstance(readings, sm.ViReal64Vec)
        self.assertEqual((len(readings), count), (40, 40))
        readings, count = sm.FetchMultiPoint(self.s, TIME, 10)
        self.assertEqual(count, 10)
        self.assertTrue(all(b > a for a, b in zip(readings, readings[1:])))  # time stamps rise

    def test_counts_the_driver_reports_are_kept_to_the_array(self):
        sim.set_output('KE2400_ReadMultiPoint', 4, 40)
        readings, count = sm.ReadMultiPoint(self.s, VOLTAGE, 100)
        self.assertEqual((len(readings), count), (40, 40))
        for reported, expected in ((500, 100), (-3, 0)):
            sim.set_output('KE2400_ReadMultiPoint', 4, reported)
            readings, count = sm.ReadMultiPoint(self.s, VOLTAGE, 100)
            self.assertEqual((len(readings), count), (expected, expected))
        self.assertEqual(sm.ReadMultiPoint(self.s, VOLTAGE, 0)[1], 0)
        self.assertRaises(ValueError, sm.FetchBufferData, self.s, VOLTAGE, 0, -1)
        self.assertNotCalled('KE2400_FetchBufferData')

    def test_sweep_rises_through_the_knee(self):
        self.assertEqual(sm.StepCount(0.0, 2.0, 0.1), 21)
        self.assertEqual(self.last_call('KE2400_StepCount'), (0.0, 2.0, 0.1))
        self.assertEqual((sm.StepCount(1.0, 0.0, 0.25), sm.StepCount(0.0, 1.0, 0.0)), (5, 0))
        self.assertEqual(self.voltage_sweep(), 0)
        self.assertEqual(sm.GetAttributeViInt32(self.s, '', TRIGGER_COUNT), 21)
        volts, n = sm.ReadMultiPoint(self.s, VOLTAGE, 100)
        amps, _ = sm.FetchMultiPoint(self.s, CURRENT, 100)
        self.assertEqual(n, 21)
        self.assertAlmostEqual(volts[-1], 2.0, places=3)
        self.assertTrue(all(b > a for a, b in zip(amps[5:], amps[6:])))
        self.assertTrue(amps[-1] > 1000 * amps[5] > 0)
        self.assertEqual(sm.Configure_Sweep_VI(self.s, 0, 0, 0, 0.0, 2.0, 0.0, 0.01, 0, 1.0, 0.0), INVALID_VALUE)

    def test_text_readings(self):
        sm.ConfigureMultiPoint(self.s, 5, 1, 0, 0.0)
        text, count = sm.ReadMultiPointChar(self.s, VOLTAGE, 256)
        self.assertEqual(self.last_call('KE2400_ReadMultiPointChar'), (self.s, VOLTAGE, 256, sim.PTR, sim.PTR))
        self.assertEqual((len(text.split(',')), count), (5, 5))
        text, count = sm.FetchMultiPointChar(self.s, VOLTAGE, 30)  # whole readings that fit
        self.assertEqual((len(text), count), (27, 2))
        for size in (0, -1):
            self.assertEqual(sm.FetchMultiPointChar(self.s, VOLTAGE, size), ('', 0))
            self.assertEqual(self.last_call('KE2400_FetchMultiPointChar')[2], 0)

    def test_reading_buffer(self):
        sm.ConfigureBuffer(self.s, 50, 0, 0, 15)
        sm.EnableBuffer(self.s, 1)
        self.voltage_sweep(1.0, 0.1)
        sm.ConfigureStatistics(self.s, VOLTAGE)
        sm.Initiate(self.s)
        self.assertEqual(sm.GetBufferInfo(self.s), (11, 50))
        sim.clear_journal()
        readings, count = sm.FetchBufferData(self.s, VOLTAGE, 2, 5)
        self.assertEqual(sim.calls('KE2400_FetchBufferData'), [(self.s, VOLTAGE, 2, 5, sim.PTR, sim.PTR)])
        self.assertEqual(count, 5)
        self.assertAlmostEqual(readings[0], 0.2, places=3)
        self.assertEqual(sm.FetchBufferData(self.s, VOLTAGE, 8, 5)[1], 3)  # what is left
        self.assertAlmostEqual(sm.FetchStatistics(self.s, 0), 0.5, places=3)   # mean
        self.assertAlmostEqual(sm.FetchStatistics(self.s, 4), 1.0, places=3)   # peak to peak
        self.assertEqual(sm.ClearBuffer(self.s), 0)
        self.assertEqual(sm.GetBufferInfo(self.s)[0], 0)

    def test_lists_take_a_float_buffer_or_none(self):
        levels = sm.ViReal64Vec()  # any writable float64 buffer
        levels.extend([0.5, 1.0, 1.5])
        self.assertEqual(sm.Configure_List_VI(self.s, 3, levels, 0.01, 0, 1, 0), 0)
        self.assertEqual(self.last_call('KE2400_Configure_List_VI'), (self.s, 3, sim.PTR, 0.01, 0.0, 1.0, 0.0))
        volts, n = sm.ReadMultiPoint(self.s, VOLTAGE, 3)
        self.assertEqual([round(v, 3) for v in volts], [0.5, 1.0, 1.5])
        self.assertEqual(sm.Configure_List_IV(self.s, 3, None, 5, 1, 0), NULL_POINTER)
        self.assertRaises(TypeError, sm.Configure_List_IV, self.s, 3, [1e-3], 5, 1, 0)

    def test_software_trigger(self):
        sm.ConfigureTrigger(self.s, 2, 0.0)
        self.assertEqual(sm.Read(self.s, VOLTAGE), 0.0)  # would wait for a trigger
        self.assertEqual(sm.Initiate(self.s), 0)
        self.assertEqual(sm.Fetch(self.s, VOLTAGE), 0.0)
        self.assertEqual(sm.SendSoftwareTrigger(self.s), 0)
        sm.ConfigureTrigger(self.s, 0, 0.0)
        self.assertEqual(sm.SendSoftwareTrigger(self.s), signed(0xBFFA4002))

    def test_setup_settings_take_their_range_ends_and_refuse_nan(self):
        self.assertEqual(sm.PlayTone(self.s, 65.0, 7.9), 0)
        self.assertEqual(sm.PlayTone(self.s, 2e6, 0.0), 0)
        for bad in ((64.99, 1.0), (65.0, 7.91), (float('nan'), 1.0), (65.0, float('nan'))):
            self.assertEqual(sm.PlayTone(self.s, *bad), INVALID_VALUE, bad)
            self.assertEqual(sm.GetError(self.s, 256)[0], INVALID_VALUE)
        self.assertEqual(sm.ConfigureMathMXB(self.s, float('nan'), 0.0), INVALID_VALUE)

    def test_small_queries(self):
        self.assertEqual((sm.IsOverRange(self.s, 9.9e37), sm.IsOverRange(self.s, 1.0)), (1, 0))
        self.assertEqual(self.last_call('KE2400_IsOverRange'), (self.s, 1.0, sim.PTR))
        sm.ConfigureApertureTimeInfo(self.s, 0.5, 1)
        self.assertEqual(sm.GetApertureTimeInfo(self.s), (0.5, 1))
        sm.ConfigureApertureTimeInfo(self.s, 0.01, 0)
        self.assertEqual(sm.GetApertureTimeInfo(self.s), (0.01, 0))
        sm.Configure_DC_VI(self.s, 1.5, 0.01, 0, 0, 1, 0)
        self.assertEqual(sm.Spoll(self.s), 0)
        sm.Read(self.s, CURRENT)
        self.assertEqual(sm.Spoll(self.s), 1)
        self.assertAlmostEqual(sm.GetAutoRangeValue(self.s), 1.05e-3)
        sm.ConfigureLimitTest(self.s, 2, 1e-3, 1e-2, 1)
        self.assertEqual(sm.FetchTestStatus(self.s, 2), 1)  # below the lower limit
        self.assertEqual(sm.ConfigureLimitTest(self.s, 2, 1e-2, 1e-3, 1), INVALID_VALUE)

    def test_configure_do_reaches_the_driver_once_per_call(self):
        self.assertEqual(sm.ConfigureDO(self.s, 5, 0.001, 1, 1), 0)
        self.assertEqual(sim.calls('KE2400_ConfigureDO'), [(self.s, 5, 0.001, 1, 1)])
        self.assertEqual(sm.ConfigureDO(self.s, 16, 0.001, 1, 1), INVALID_VALUE)
        self.assertEqual(len(sim.calls('KE2400_ConfigureDO')), 2)
        self.assertRaises(OverflowError, sm.ConfigureDO, self.s, 5, 0.001, 1, 65536)
        self.assertRaises(TypeError, sm.ConfigureDO, self.s, 5, 0.001, 1)
        self.assertEqual(len(sim.calls('KE2400_ConfigureDO')), 2)

    def test_pass_through_statuses(self):
        sim.fail('KE2400_ConfigureSourceDC', 0x3FFA0067)
        self.assertEqual(sm.ConfigureSourceDC(self.s, 0, 1.0, 2.0, 0, 0.01, 0), 0x3FFA0067)
        self.assertEqual(sm.ConfigureSourceDC(self.s, 0, 300.0, 2.0, 0, 0.01, 0), INVALID_VALUE)
        self.assertEqual(sm.RecallSetup(self.s, 3), signed(0xBFFA4003))
        self.assertEqual(sm.SaveSetup(self.s, 3), 0)
        self.assertEqual(sm.RecallSetup(self.s, 3), 0)
        self.assertEqual(sm.PlayTone(self.s, 1000.0, 0.1), 0)
        self.assertEqual(sm.ConfigureMathExpression(self.s, 'POWER'), 0)
        self.assertEqual(sm.ProgramInitiate(self.s, 1), signed(0xBFFA4003))

    def test_hostile_driver_stays_within_bounds(self):
        sm.ConfigureMultiPoint(self.s, 5, 1, 0, 0.0)
        sim.hostile()
        for n in (0, 1, 5, 64):
            readings, count = sm.ReadMultiPoint(self.s, VOLTAGE, n)
            self.assertEqual((len(readings), count), (n, n))
            readings, count = sm.FetchBufferData(self.s, VOLTAGE, 0, n)
            self.assertLessEqual(count, n)
            self.assertEqual(len(readings), count)
        for size in (1, 20, 300):
            text, count = sm.ReadMultiPointChar(self.s, VOLTAGE, size)
            self.assertEqual(len(text), size)
            self.assertLessEqual(count, size)


if __name__ == '__main__':
    unittest.main()
