"""_photonbay positions 59-106: optical attenuators."""
import array
import unittest

from support import (sim, SimTestCase, PY2, INSTR_ERROR, PARAM, run_script, exit_journal,
                     exit_code, run_example)
import _photonbay as pb

MAINFRAME = 'GPIB0::20::INSTR'
ATT = 3


FOUR_VALUE = ['get_ATT_attenuation_Q', 'get_ATT_attenuationOffset_Q', 'get_ATT_attenuatorSpeed_Q',
              'get_ATT_wavelength_Q', 'get_ATT_powerReference_Q', 'get_ATT_powerOffset_Q']


class AttenuatorTestCase(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 0, 0)
        sim.clear_journal()


class Settings(AttenuatorTestCase):
    def test_four_value_queries_are_four_floats_in_driver_order(self):
        for name in FOUR_VALUE:
            fn = 'hp816x_' + name
            sim.set_output(fn, 2, 1.25)
            sim.set_output(fn, 5, 9)
            r = getattr(pb, name)(self.s, ATT)
            self.assertEqual(self.last_call(fn), (self.s, ATT) + (sim.PTR,) * 4)
            self.assertEqual(len(r), 4, name)
            self.assertEqual([type(v) for v in r], [float] * 4, name)
            self.assertEqual((r[0], r[3]), (1.25, 9.0), name)

    def test_setters_round_trip_through_their_selections(self):
        self.assertEqual(pb.set_ATT_attenuation(self.s, ATT, 0, 12.5, 1), 0)
        self.assertEqual(self.last_call('hp816x_set_ATT_attenuation'), (self.s, ATT, 0, 12.5, 1))
        self.assertEqual(pb.get_ATT_attenuation_Q(self.s, ATT), (0.0, 60.0, 0.0, 12.5))
        self.assertEqual(pb.set_ATT_attenuationOffset(self.s, ATT, 0, 2.0), 0)
        self.assertEqual(pb.get_ATT_attenuation_Q(self.s, ATT), (2.0, 62.0, 2.0, 14.5))
        self.assertEqual(pb.set_ATT_wavelength(self.s, ATT, 3, 0), 0)  # maximum
        self.assertEqual(pb.get_ATT_wavelength_Q(self.s, ATT)[3], pb.get_ATT_wavelength_Q(self.s, ATT)[1])
        pb.set_ATT_attenuatorSpeed(self.s, ATT, 0, 0.5)
        self.assertEqual(pb.get_ATT_attenuatorSpeed_Q(self.s, ATT)[3], 0.5)
        pb.set_ATT_avTime(self.s, ATT, 0.02)
        self.assertEqual(pb.get_ATT_avTime_Q(self.s, ATT), 0.02)
        pb.set_ATT_triggerConfig(self.s, ATT, 2)
        self.assertEqual(pb.get_ATT_triggerConfig_Q(self.s, ATT), 2)
        pb.set_ATT_wlOffsRefPowermeter(self.s, ATT, 1, 2)
        self.assertEqual(pb.get_ATT_wlOffsRefPowermeter_Q(self.s, ATT), (1, 2))
        for setter, getter in [('set_ATT_shutterState', 'get_ATT_shutterState_Q'),
                               ('set_ATT_shutterAtPowerOn', 'get_ATT_shutterStateAtPowerOn_Q'),
                               ('set_ATT_controlLoopState', 'get_ATT_controlLoopState_Q'),
                               ('set_ATT_wavelengthOffsetState', 'get_ATT_wavelengthOffsetState_Q'),
                               ('set_ATT_absPowerMode', 'get_ATT_absPowerMode_Q'),
                               ('set_ATT_powerUnit', 'get_ATT_powerUnit_Q')]:
            for v in (1, 0):
                self.assertEqual(getattr(pb, setter)(self.s, ATT, v), 0)
                self.assertEqual(getattr(pb, getter)(self.s, ATT), v, getter)

    def test_power_query_is_two_ints_then_four_floats(self):
        self.assertEqual(pb.set_ATT_power(self.s, ATT, 1, 1, 0, 1e-4), 0)
        self.assertEqual(self.last_call('hp816x_set_ATT_power'), (self.s, ATT, 1, 1, 0, 1e-4))
        r = pb.get_ATT_power_Q(self.s, ATT)
        self.assertEqual([type(v) for v in r], [int, int] + [float] * 4)
        self.assertEqual(r[:2], (1, 1))
        self.assertAlmostEqual(r[5], 1e-4, 12)
        sim.set_output('hp816x_get_ATT_power_Q', 3, 65535)
        self.assertEqual(pb.get_ATT_power_Q(self.s, ATT)[1], 65535)

    def test_output_power_follows_attenuation_and_offsets(self):
        pb.set_ATT_attenuation(self.s, ATT, 0, 10, 1)
        p10 = pb.read_ATT_outputPower(self.s, ATT)
        self.assertEqual(pb.fetch_ATT_outputPower(self.s, ATT), p10)
        pb.set_ATT_attenuation(self.s, ATT, 0, 25, 1)
        self.assertAlmostEqual(p10 - pb.read_ATT_outputPower(self.s, ATT), 15, 1)
        pb.set_ATT_powerOffset(self.s, ATT, 0, 3)
        self.assertAlmostEqual(pb.read_ATT_outputPower(self.s, ATT) - p10, -12, 1)
        pb.set_ATT_powerUnit(self.s, ATT, 1)
        self.assertAlmostEqual(pb.read_ATT_outputPower(self.s, ATT), 10 ** ((p10 - 12) / 10) * 1e-3, 8)
        # Power mode: the filter follows the set point.
        pb.set_ATT_power(self.s, ATT, 0, 1, 0, -20)
        pb.set_ATT_powerUnit(self.s, ATT, 0)
        self.assertAlmostEqual(pb.read_ATT_outputPower(self.s, ATT), -20, 1)
        # Display to offset: the display reads 0 dB, the power stays.
        before = pb.read_ATT_outputPower(self.s, ATT)
        self.assertEqual(pb.ATT_displayToOffset(self.s, ATT), 0)
        self.assertAlmostEqual(pb.get_ATT_attenuation_Q(self.s, ATT)[3], 0, 9)
        self.assertAlmostEqual(pb.read_ATT_outputPower(self.s, ATT), before, 1)

    def test_failing_setter_returns_its_status_and_keeps_the_setting(self):
        pb.set_ATT_attenuation(self.s, ATT, 0, 5, 0)
        self.assertEqual(pb.set_ATT_attenuation(self.s, ATT, 0, 61, 0), PARAM + 4)
        self.assertEqual(pb.get_ATT_attenuation_Q(self.s, ATT)[3], 5)
        self.assertEqual(pb.set_ATT_powerUnit(self.s, ATT, 2), PARAM + 3)

    def test_arguments_refused_before_the_driver(self):
        self.assertRaises(OverflowError, pb.set_ATT_attenuation, self.s, ATT, 3, 1.0, 65536)
        self.assertRaises(TypeError, pb.set_ATT_attenuation, self.s, ATT, 3.0, 1.0, 0)
        self.assertRaises(TypeError, pb.get_ATT_offsetFromWavelength_Q, self.s, ATT, '1550')
        self.assertRaises(TypeError, pb.zero_ATT_all, self.s, ATT)
        self.assertEqual(sim.journal(), [])

    def test_zeroing(self):
        self.assertEqual(pb.get_ATT_zeroResult_Q(self.s, ATT), -1)
        self.assertEqual(pb.zero_ATT_all(self.s), 0)
        self.assertEqual(self.last_call('hp816x_zero_ATT_all'), (self.s,))
        self.assertEqual(pb.get_ATT_zeroResult_Q(self.s, ATT), 0)
        self.assertEqual(pb.zero_ATT_powermeter(self.s, ATT), 0)


class OperStatus(AttenuatorTestCase):
    def reply(self):
        """A buffer the driver writes in place, made for the purpose."""
        return ''.join(['\0'] * 64) if PY2 else bytearray(64)

    def text(self, buf):
        return (buf if PY2 else bytes(buf)).split(b'\0')[0]

    def test_status_number_comes_back_and_the_text_stands_in_the_callers_buffer(self):
        buf = self.reply()
        self.assertEqual(pb.get_ATT_operStatus(self.s, ATT, buf), 0)
        self.assertEqual(self.last_call('hp816x_get_ATT_operStatus'), (self.s, ATT, sim.PTR, sim.PTR))
        self.assertEqual(self.text(buf), b'Ready: attenuation settled')
        pb.set_ATT_shutterState(self.s, ATT, 0)
        buf = self.reply()
        self.assertEqual(pb.get_ATT_operStatus(self.s, ATT, buf), 1)
        self.assertEqual(self.text(buf), b'Shutter closed')

    def test_scripted_status_and_text(self):
        sim.set_output('hp816x_get_ATT_operStatus', 2, -7)
        sim.set_output('hp816x_get_ATT_operStatus', 3, 'Busy')
        buf = self.reply()
        self.assertEqual(pb.get_ATT_operStatus(self.s, ATT, buf), -7)
        self.assertEqual(self.text(buf), b'Busy')

    def test_none_and_read_only_text(self):
        self.assertEqual(pb.get_ATT_operStatus(self.s, ATT, None), 0)
        self.assertIsNone(self.last_call('hp816x_get_ATT_operStatus')[3])
        if not PY2:
            text = 'keep me'
            self.assertEqual(pb.get_ATT_operStatus(self.s, ATT, text), 0)  # a private copy is written
            self.assertEqual(text, 'keep me')
        self.assertRaises(TypeError, pb.get_ATT_operStatus, self.s, ATT, 5)


class OffsetTable(AttenuatorTestCase):
    ENTRIES = [(1550e-9, 0.5), (1310e-9, -0.3), (1480e-9, 0.1)]

    def setUp(self):
        AttenuatorTestCase.setUp(self)
        for wl, ofs in self.ENTRIES:
            self.assertEqual(pb.set_ATT_wavelengthOffset(self.s, ATT, wl, 0, ofs), 0)

    def test_size_index_and_wavelength_queries_agree(self):
        self.assertEqual(pb.get_ATT_offsetTblSize_Q(self.s, ATT), (3, 100))
        self.assertEqual([pb.get_ATT_wavelengthOffsetIndex_Q(self.s, ATT, i) for i in range(3)],
                         sorted(self.ENTRIES))
        self.assertEqual(self.last_call('hp816x_get_ATT_wavelengthOffsetIndex_Q'),
                         (self.s, ATT, 2, sim.PTR, sim.PTR))
        self.assertEqual(pb.get_ATT_offsetFromWavelength_Q(self.s, ATT, 1480e-9), 0.1)
        self.assertEqual(self.last_call('hp816x_get_ATT_offsetFromWavelength_Q'), (self.s, ATT, 1480e-9, sim.PTR))
        self.assertAlmostEqual(pb.get_ATT_offsetFromWavelength_Q(self.s, ATT, 1515e-9), 0.3, 9)
        # Replacing an entry keeps the size; deleting shrinks it.
        pb.set_ATT_wavelengthOffset(self.s, ATT, 1480e-9, 0, 0.2)
        self.assertEqual(pb.get_ATT_offsetTblSize_Q(self.s, ATT)[0], 3)
        self.assertEqual(pb.delete_ATT_offsetTblEntries(self.s, ATT, 0, 1480e-9), 0)
        self.assertEqual(pb.get_ATT_offsetTblSize_Q(self.s, ATT)[0], 2)
        self.assertEqual(pb.delete_ATT_offsetTblEntries(self.s, ATT, 0, 1480e-9), PARAM + 4)
        self.assertEqual(pb.delete_ATT_offsetTblEntries(self.s, ATT, 1, 0), 0)
        self.assertEqual(pb.get_ATT_offsetTblSize_Q(self.s, ATT)[0], 0)

    def test_the_table_offset_moves_the_displayed_power(self):
        pb.set_ATT_wavelength(self.s, ATT, 0, 1550e-9)
        before = pb.read_ATT_outputPower(self.s, ATT)
        pb.set_ATT_wavelengthOffsetState(self.s, ATT, 1)
        self.assertAlmostEqual(pb.read_ATT_outputPower(self.s, ATT) - before, 0.5, 1)

    def test_whole_table_fills_writable_buffers(self):
        wls, offsets = pb.ViReal64Vec(), pb.ViReal64Vec()
        wls.extend([0.0] * 3)
        offsets.extend([0.0] * 3)
        self.assertEqual(pb.get_ATT_offsetTable_Q(self.s, ATT, wls, offsets), 0)
        self.assertEqual(list(zip(wls, offsets)), sorted(self.ENTRIES))
        if not PY2:  # array.array has the buffer protocol on Python 3 only
            a = array.array('d', [0.0] * 3)
            self.assertEqual(pb.get_ATT_offsetTable_Q(self.s, ATT, None, a), 0)
            self.assertEqual(list(a), [-0.3, 0.1, 0.5])
            self.assertEqual(self.last_call('hp816x_get_ATT_offsetTable_Q'), (self.s, ATT, None, sim.PTR))

    def test_whole_table_with_null_pointers_returns_the_status(self):
        self.assertEqual(pb.get_ATT_offsetTable_Q(self.s, ATT, None, None), 0)
        self.assertEqual(self.last_call('hp816x_get_ATT_offsetTable_Q'), (self.s, ATT, None, None))
        sim.fail('hp816x_get_ATT_offsetTable_Q', INSTR_ERROR)
        self.assertEqual(pb.get_ATT_offsetTable_Q(self.s, ATT, None, None), INSTR_ERROR)  # no check

    def test_whole_table_refuses_other_arrays(self):
        sim.clear_journal()
        ints = pb.ViInt32Vec()
        ints.extend([0] * 3)
        bad = [[0.0] * 3, 1.5, ints, bytearray(24)]
        if not PY2:
            bad.append(array.array('f', [0.0] * 6))
        for b in bad:
            self.assertRaises(TypeError, pb.get_ATT_offsetTable_Q, self.s, ATT, b, None)
        self.assertNotCalled('hp816x_get_ATT_offsetTable_Q')


class StatusCheck(unittest.TestCase):
    def test_failing_query_prints_closes_and_exits(self):
        rc, out, _, calls = exit_journal('''
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 0, 0)
            print('before')
            pb.get_ATT_attenuation_Q(s, 9)
            print('not reached')
        ''')
        self.assertEqual(rc, exit_code(PARAM + 2))
        lines = out.splitlines()
        self.assertEqual(lines[0], 'before')
        self.assertTrue(lines[1].startswith('        Driver Error : bffc0002, '), lines)
        self.assertEqual(lines[2:], [])
        self.assertEqual(calls[-1][0], 'hp816x_close')

    def test_instrument_error_261_lets_the_query_go_on(self):
        rc, out, _ = run_script('''
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 0, 0)
            sim.push_error('hp816x', -261, 'Math error in expression')
            sim.fail('hp816x_get_ATT_power_Q', -1074000633)
            sim.set_output('hp816x_get_ATT_power_Q', 2, 1)
            print(pb.get_ATT_power_Q(s, 3)[:3])
        ''')
        self.assertEqual(rc, 0)
        self.assertEqual(out, '        Inst. Error : fffffefb, Math error in expression\n(1, 0, -80.0)\n')


class Example(unittest.TestCase):
    def run_example(self, *args):
        rc, out, err = run_example('attenuator_switch.py', *args)
        return rc, out.splitlines(), err

    def test_set_up_routes_attenuates_and_reads_the_power(self):
        rc, lines, err = self.run_example('3', '20')
        self.assertEqual((rc, err), (0, ''))
        self.assertEqual(lines[1], 'Route: A -> B3')
        self.assertIn('20.00 dB, status 0 (Ready: attenuation settled)', lines[2])
        self.assertTrue(lines[3].startswith('Output power at B3: -21.2'), lines)

    def test_refused_attenuation_is_reported(self):
        rc, lines, _ = self.run_example('2', '75')
        self.assertEqual(rc, 1)
        self.assertIn('the range is 0.00 to 60.00 dB', lines[-1])


if __name__ == '__main__':
    unittest.main()
