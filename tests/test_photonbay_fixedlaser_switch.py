"""_photonbay positions 142-159: fixed laser sources and optical switches."""
import unittest

from support import sim, SimTestCase, PARAM, exit_journal, exit_code
import _photonbay as pb

MAINFRAME = 'GPIB0::20::INSTR'
FLS, SWT = 5, 6



class MainframeTestCase(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 0, 0)
        sim.clear_journal()


class FixedLaser(MainframeTestCase):
    def test_parameters_round_trip_as_eight_values(self):
        args = (2, 1, 1, 2, 1000.0, 270, 0.5, 6)
        self.assertEqual(pb.set_FLS_parameters(self.s, FLS, *args), 0)
        self.assertEqual(self.last_call('hp816x_set_FLS_parameters'), (self.s, FLS, 2, 1, 1, 2, 1000.0, 270.0, 0.5, 6.0))
        r = pb.get_FLS_parameters_Q(self.s, FLS)
        self.assertEqual(self.last_call('hp816x_get_FLS_parameters_Q'), (self.s, FLS) + (sim.PTR,) * 8)
        self.assertEqual(r, (2, 1, 1, 2, 1000.0, 270.0, 0.5, 6.0))
        self.assertEqual([type(v) for v in r], [int] * 4 + [float] * 4)
        # The second element comes from a 16-bit unsigned output.
        sim.set_output('hp816x_get_FLS_parameters_Q', 3, 65535)
        self.assertEqual(pb.get_FLS_parameters_Q(self.s, FLS)[1], 65535)

    def test_modulation_settings(self):
        self.assertEqual(pb.set_FLS_modulation(self.s, FLS, 1, 1, 0, 5000.0), 0)
        r = pb.get_FLS_modulationSettings_Q(self.s, FLS, 1)
        self.assertEqual(self.last_call('hp816x_get_FLS_modulationSettings_Q'), (self.s, FLS, 1) + (sim.PTR,) * 6)
        self.assertEqual(r, (1, 1, 200.0, 300000.0, 270.0, 5000.0))
        self.assertEqual([type(v) for v in r], [int, int] + [float] * 4)
        self.assertEqual(pb.get_FLS_modulationSettings_Q(self.s, FLS, 0)[:2], (0, 0))  # other source untouched
        self.assertEqual(pb.set_FLS_modulation(self.s, FLS, 0, 2, 3, 0), 0)  # maximum
        self.assertEqual(pb.get_FLS_modulationSettings_Q(self.s, FLS, 0)[5], 300000.0)

    def test_single_values_and_pairs(self):
        for setter, getter, value in [('set_FLS_triggerState', 'get_FLS_triggerState_Q', 1),
                                      ('set_FLS_laserSource', 'get_FLS_laserSource_Q', 2),
                                      ('set_FLS_laserState', 'get_FLS_laserState_Q', 1)]:
            self.assertEqual(getattr(pb, setter)(self.s, FLS, value), 0)
            self.assertEqual(getattr(pb, getter)(self.s, FLS), value)
        self.assertEqual(pb.get_FLS_wavelength_Q(self.s, FLS), (1310e-9, 1550e-9))
        self.assertEqual(pb.set_FLS_attenuation(self.s, FLS, 1.5, 2.5), 0)
        self.assertEqual(pb.get_FLS_attenuation_Q(self.s, FLS), (1.5, 2.5))
        self.assertEqual(pb.set_FLS_attenuation(self.s, FLS, 7, 0), PARAM + 3)

    def test_power_takes_two_ints_and_follows_the_attenuation(self):
        pb.set_FLS_attenuation(self.s, FLS, 1.5, 2.5)
        p = pb.get_FLS_power(self.s, FLS, 1)
        self.assertEqual(self.last_call('hp816x_get_FLS_power'), (self.s, FLS, 1, sim.PTR))
        self.assertIs(type(p), float)
        self.assertEqual(p, 3.5)
        self.assertEqual(pb.get_FLS_power(self.s, FLS, 0), 3.5)
        self.assertRaises(TypeError, pb.get_FLS_power, self.s, FLS, 1.0)
        self.assertRaises(TypeError, pb.get_FLS_power, self.s, FLS)

    def test_parameters_refused_before_the_driver(self):
        self.assertRaises(OverflowError, pb.set_FLS_parameters, self.s, FLS, 0, -1, 0, 0, 270, 270, 0, 0)
        self.assertRaises(TypeError, pb.set_FLS_parameters, self.s, FLS, 0, 0, 0, 0, 270, 270, 0)
        self.assertNotCalled('hp816x_set_FLS_parameters')


class Switch(MainframeTestCase):
    def test_type_is_number_then_text(self):
        r = pb.get_SWT_type(self.s, SWT)
        self.assertEqual(self.last_call('hp816x_get_SWT_type'), (self.s, SWT, sim.PTR, sim.PTR))
        self.assertEqual(len(r), 2)
        self.assertEqual(r[0], 3)
        self.assertIs(type(r[1]), str)
        self.assertTrue(r[1].startswith('1x4'))
        sim.set_output('hp816x_get_SWT_type', 2, 1)
        sim.set_output('hp816x_get_SWT_type', 3, '1x2 switch')
        self.assertEqual(pb.get_SWT_type(self.s, SWT), (1, '1x2 switch'))

    def test_routes(self):
        self.assertEqual(pb.get_SWT_route(self.s, SWT, 1), 1)
        self.assertEqual(pb.set_SWT_route(self.s, SWT, 1, 3), 0)
        self.assertEqual(self.last_call('hp816x_set_SWT_route'), (self.s, SWT, 1, 3))
        self.assertEqual(pb.get_SWT_route(self.s, SWT, 1), 3)
        self.assertEqual(self.last_call('hp816x_get_SWT_route'), (self.s, SWT, 1, sim.PTR))
        self.assertEqual(pb.set_SWT_route(self.s, SWT, 1, 5), PARAM + 4)  # no such output
        self.assertEqual(pb.get_SWT_route(self.s, SWT, 1), 3)

    def test_route_table_is_plain_text(self):
        self.assertText(pb.get_SWT_routeTable(self.s, SWT), 'A1-B1,A1-B2,A1-B3,A1-B4')
        self.assertEqual(self.last_call('hp816x_get_SWT_routeTable'), (self.s, SWT, sim.PTR))
        sim.set_output('hp816x_get_SWT_routeTable', 2, '')
        self.assertText(pb.get_SWT_routeTable(self.s, SWT), '')
        sim.set_output('hp816x_get_SWT_routeTable', 2, 'r' * 255)
        self.assertText(pb.get_SWT_routeTable(self.s, SWT), 'r' * 255)

    def test_unterminated_texts_stay_within_the_buffer(self):
        sim.hostile()
        self.assertEqual(len(pb.get_SWT_routeTable(self.s, SWT)), 256)
        self.assertEqual(len(pb.get_SWT_type(self.s, SWT)[1]), 256)


class StatusCheck(unittest.TestCase):
    def check_exit(self, call, status):
        rc, out, _, calls = exit_journal('''
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 0, 0)
            print('before')
            %s
            print('not reached')
        ''' % call)
        self.assertEqual(rc, exit_code(status))
        lines = out.splitlines()
        self.assertEqual(lines[0], 'before')
        self.assertTrue(lines[1].startswith('        Driver Error : %x, ' % (status & 0xFFFFFFFF)), lines)
        self.assertEqual(lines[2:], [])
        self.assertEqual(calls[-1][0], 'hp816x_close')

    def test_failing_fixed_laser_query(self):
        self.check_exit('pb.get_FLS_power(s, 5, 2)', PARAM + 3)

    def test_failing_switch_query(self):
        self.check_exit('pb.get_SWT_route(s, 6, 2)', PARAM + 3)

    def test_failing_text_query(self):
        self.check_exit("sim.fail('hp816x_get_SWT_routeTable', -1073807339); pb.get_SWT_routeTable(s, 6)",
                        -1073807339)


if __name__ == '__main__':
    unittest.main()
