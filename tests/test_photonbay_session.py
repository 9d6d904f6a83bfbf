"""_photonbay positions 1-58: sessions, system and command functions."""
import unittest

from support import sim, SimTestCase, TestCase, PY2, RSRC_NFOUND, INV_OBJECT, run_script, exit_code
import _photonbay as pb

MAINFRAME = 'GPIB0::20::INSTR'



class Registration(TestCase):
    def test_functions_have_docs_and_know_their_module(self):
        self.assertIn('Opens a session on the mainframe', pb.init.__doc__)
        self.assertEqual(pb.init.__name__, 'init')
        self.assertEqual(pb.init.__module__, '_photonbay')

    def test_foo(self):
        self.assertEqual(pb.foo(), 'bar')
        self.assertIs(type(pb.foo()), str)
        self.assertRaises(TypeError, pb.foo, 1)


class Sessions(SimTestCase):
    def test_init_passes_its_arguments_and_returns_the_new_session(self):
        s = pb.init(MAINFRAME, 1, 0)
        self.assertEqual(self.last_call('hp816x_init'), (MAINFRAME, 1, 0, sim.PTR))
        self.assertGreater(s, 0)
        self.assertEqual(pb.close(s), 0)
        self.assertEqual(sim.session_count(), 0)

    def test_get_handle_returns_the_drivers_session(self):
        s = pb.init(MAINFRAME, 0, 0)
        h = pb.getHandle(s)
        self.assertEqual(self.last_call('hp816x_getHandle'), (s, sim.PTR))
        self.assertNotEqual(h, s)
        sim.set_output('hp816x_getHandle', 1, 0xFFFFFFF0)
        big = pb.getHandle(s)
        self.assertEqual(big, 0xFFFFFFF0)
        if PY2:
            self.assertIs(type(big), long)  # noqa: F821

    def test_close_of_unknown_session_returns_the_status(self):
        self.assertEqual(pb.close(12345), INV_OBJECT)


class Queries(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 0, 0)
        sim.clear_journal()

    def test_number_and_text_put_the_number_first(self):
        self.assertEqual(pb.self_test(self.s), (0, 'Self test passed'))
        sim.push_error('hp816x', -113, 'Undefined header')
        self.assertEqual(pb.error_query(self.s), (-113, 'Undefined header'))
        code, text = pb.moduleSelftest(self.s, 3)
        self.assertEqual(self.last_call('hp816x_moduleSelftest'), (self.s, 3, sim.PTR, sim.PTR))
        self.assertEqual(code, 0)
        self.assertIn('3', text)

    def test_sixteen_bit_outputs_are_sign_extended(self):
        sim.set_output('hp816x_self_test', 1, 0x8001)
        self.assertEqual(pb.self_test(self.s)[0], -32767)
        sim.set_output('hp816x_readStatusByte_Q', 1, -2)
        self.assertEqual(pb.readStatusByte_Q(self.s), -2)
        sim.set_output('hp816x_opc_Q', 1, 65535)
        self.assertEqual(pb.opc_Q(self.s), 65535)

    def test_error_message_checks_its_own_status_not_the_callers(self):
        text = pb.error_message(self.s, RSRC_NFOUND)
        self.assertEqual(self.last_call('hp816x_error_message'), (self.s, RSRC_NFOUND, sim.PTR))
        self.assertIn('resource not present', text)

    def test_two_texts_come_in_driver_order(self):
        sim.set_output('hp816x_revision_Q', 1, 'driver 1.0')
        sim.set_output('hp816x_revision_Q', 2, 'firmware 2.0')
        self.assertEqual(pb.revision_Q(self.s), ('driver 1.0', 'firmware 2.0'))
        self.assertEqual(len(pb.revision_query(self.s)), 2)

    def test_texts_of_255_characters_empty_and_unterminated(self):
        sim.set_output('hp816x_convertQuestionableStatus_Q', 2, 'x' * 255)
        self.assertEqual(pb.convertQuestionableStatus_Q(self.s, 1), 'x' * 255)
        sim.reset()
        s = pb.init(MAINFRAME, 0, 0)
        sim.set_output('hp816x_convertQuestionableStatus_Q', 2, '')
        self.assertEqual(pb.convertQuestionableStatus_Q(s, 1), '')
        sim.reset()
        s = pb.init(MAINFRAME, 0, 0)
        sim.hostile()
        text = pb.convertQuestionableStatus_Q(s, 1)  # 256 bytes, no zero byte
        self.assertEqual(len(text), 256)

    def test_latin1_text_round_trips_on_python3(self):
        sim.set_output('hp816x_error_message', 2, b'Temp \xb0C \xff')
        text = pb.error_message(self.s, 0)
        self.assertEqual(text, 'Temp \xb0C \xff' if not PY2 else b'Temp \xb0C \xff')

    def test_tuples_in_output_order(self):
        self.assertEqual(pb.setDate(self.s, 2027, 3, 14), 0)
        self.assertEqual(pb.getDate(self.s), (2027, 3, 14))
        self.assertEqual(pb.setTime(self.s, 23, 5, 59), 0)
        self.assertEqual(pb.getTime(self.s), (23, 5, 59))
        self.assertEqual(pb.standardTriggerConfiguration(self.s, 3, 1, 4294967295, 2147483648), 0)
        cfg = pb.standardTriggerConfiguration_Q(self.s)
        self.assertEqual(cfg, (3, 1, 4294967295, 2147483648))
        sim.set_output('hp816x_getLockState', 2, 1)
        self.assertEqual(pb.getLockState(self.s), (0, 1))

    def test_conversions_and_status_registers(self):
        self.assertAlmostEqual(pb.WattToDBm(self.s, 1e-3), 0.0)
        self.assertAlmostEqual(pb.dbmToWatt(self.s, 10), 1e-2)
        self.assertEqual(self.last_call('hp816x_dbmToWatt'), (self.s, 10.0, sim.PTR))
        self.assertEqual(pb.timeOut(self.s, 2500), 0)
        self.assertEqual(pb.timeOut_Q(self.s), 2500)
        sim.set_output('hp816x_quesCond_Q', 1, -2147483648)
        self.assertEqual(pb.quesCond_Q(self.s), -2147483648)

    def test_commands_and_queries_round_trip(self):
        self.assertEqual(pb.cmd(self.s, 'sour0:wav 1.5501e-6'), 0)
        self.assertAlmostEqual(pb.cmdReal64_Q(self.s, 'SOUR0:WAV?'), 1.5501e-6)
        self.assertEqual(pb.cmdInt(self.s, 'SENS1:POW:UNIT', 1), 0)
        self.assertEqual(pb.cmdInt32_Q(self.s, 'SENS1:POW:UNIT?'), 1)
        self.assertEqual(pb.cmdInt16_Q(self.s, '*OPC?'), 1)

    def test_cmd_string_query_writes_the_callers_buffer(self):
        reply = bytearray(80)
        self.assertEqual(pb.cmdString_Q(self.s, '*IDN?', 80, reply), 0)
        self.assertTrue(reply.startswith(b'Quellbright Photonics,QBM-70'))
        self.assertEqual(self.last_call('hp816x_cmdString_Q'), (self.s, '*IDN?', 80, sim.PTR))
        self.assertEqual(pb.cmdString_Q(self.s, '*IDN?', 0, None), 0)
        self.assertIsNone(self.last_call('hp816x_cmdString_Q')[3])
        if PY2:
            made = ''.join(['\0'] * 80)
            pb.cmdString_Q(self.s, '*IDN?', 80, made)
            self.assertTrue(made.startswith('Quellbright'))
        else:
            text = 'untouched' + ' ' * 80
            pb.cmdString_Q(self.s, '*IDN?', 80, text)  # a str is input only on Python 3
            self.assertTrue(text.startswith('untouched'))

    def test_cmd_string_query_keeps_the_driver_within_the_reply_buffer(self):
        short = bytearray(10)
        self.assertRaises(ValueError, pb.cmdString_Q, self.s, '*IDN?', 11, short)
        self.assertNotCalled('hp816x_cmdString_Q')
        self.assertEqual(pb.cmdString_Q(self.s, '*IDN?', 10, short), 0)
        self.assertEqual(bytes(short[:9]), b'Quellbrig')
        sim.hostile()  # the driver fills all `size` bytes
        if not PY2:  # a str goes as a private copy, grown to the size
            self.assertEqual(pb.cmdString_Q(self.s, '*IDN?', 1000, 'x'), 0)
        big = bytearray(1000)
        self.assertEqual(pb.cmdString_Q(self.s, '*IDN?', 1000, big), 0)
        self.assertNotIn(0, big)

    def test_one_element_array_queries(self):
        sim.set_output('hp816x_cmdInt32Arr_Q', 4, 1)
        pb.cmd(self.s, 'TEST:ARR 7,8,9')
        self.assertEqual(pb.cmdInt32Arr_Q(self.s, 'TEST:ARR?', 1), (7, 1))
        self.assertEqual(self.last_call('hp816x_cmdInt32Arr_Q'), (self.s, 'TEST:ARR?', 1, sim.PTR, sim.PTR))
        sim.reset()
        s = pb.init(MAINFRAME, 0, 0)
        pb.cmd(s, 'TEST:ARR 7,8,9')
        # A size above 1 reaches the driver unchanged and it may fill that many.
        self.assertEqual(pb.cmdInt32Arr_Q(s, 'TEST:ARR?', 100), (7, 3))
        self.assertEqual(self.last_call('hp816x_cmdInt32Arr_Q')[2], 100)
        self.assertEqual(pb.cmdReal64Arr_Q(s, 'TEST:ARR?', 2), (7.0, 2))
        self.assertEqual(pb.cmdInt16Arr_Q(s, 'TEST:ARR?', 0)[1], 0)

    def test_one_element_array_queries_stay_in_bounds_in_hostile_mode(self):
        pb.cmd(self.s, 'TEST:ARR 7,8,9')
        sim.hostile()
        for size in (1, 2, 16, 17, 1000):
            first, count = pb.cmdReal64Arr_Q(self.s, 'TEST:ARR?', size)
            self.assertEqual(first, 1.0)
            self.assertLessEqual(count, max(size, 16))

    def test_pointer_parameters_take_none_or_matching_buffers(self):
        self.assertEqual(pb.getSlotInformation_Q(self.s, 7, None), 0)
        self.assertIsNone(self.last_call('hp816x_getSlotInformation_Q')[2])
        slots = pb.ViInt32Vec()
        slots.extend([0] * 7)
        self.assertEqual(pb.getSlotInformation_Q(self.s, 7, slots), 0)
        self.assertEqual(list(slots), [5, 2, 1, 7, 6, 3, 8])
        for bad in ([0] * 7, 1.5, pb.ViReal64Vec(), bytearray(28)):
            self.assertRaises(TypeError, pb.getSlotInformation_Q, self.s, 7, bad)
        self.assertEqual(pb.getModuleStatus_Q(self.s, None, None), 64)
        self.assertEqual(self.last_call('hp816x_getModuleStatus_Q'), (self.s, None, None, sim.PTR))

    def test_unchecked_functions_never_end_the_process(self):
        n, text = pb.listVisa_Q(0, 1)
        self.assertEqual(n, 1)
        self.assertEqual(text, MAINFRAME)
        self.assertEqual(pb.getInstrumentId_Q(MAINFRAME), 'Quellbright Photonics,QBM-70,QB7A00412,R4.07(1182)')
        self.assertEqual(pb.getInstrumentId_Q('GPIB0::1::INSTR'), '')  # fails, unchecked
        sim.fail('hp816x_trigOutConfiguration', -1)
        self.assertEqual(pb.trigOutConfiguration(1, 0, 1, 0, 0, 1), 0b100101)
        self.assertEqual(self.last_call('hp816x_trigOutConfiguration'), (1, 0, 1, 0, 0, 1, sim.PTR))

    def test_pass_through_returns_warnings_and_failures(self):
        sim.fail('hp816x_reset', 0x3FFC0101)
        self.assertEqual(pb.reset(self.s), 0x3FFC0101)
        sim.fail('hp816x_dcl', -1073807339)
        self.assertEqual(pb.dcl(self.s), -1073807339)
        self.assertEqual(pb.setBaudrate('ASRL1', 1200), -1074003966)  # parameter 2
        self.assertEqual(pb.lockUnlockInstument(self.s, 1, '1234'), 0)
        self.assertEqual(pb.getLockState(self.s), (1, 0))


class ProcessEnding(unittest.TestCase):
    def test_init_on_unknown_resource_reports_against_the_written_session(self):
        rc, out, _ = run_script('''
            import _photonbay as pb
            sim.set_output('hp816x_init', 3, 77)
            pb.init('GPIB0::1::INSTR', 1, 0)
            print('not reached')
        ''')
        self.assertEqual(rc, exit_code(RSRC_NFOUND))
        self.assertEqual(out, '        Driver Error : bfff0011, Insufficient location information '
                              'or resource not present in the system\n')

    def test_failing_query_closes_its_session_and_exits(self):
        rc, out, _ = run_script('''
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 0, 0)
            print('before')
            sim.fail('hp816x_getDate', -1074003967)
            pb.getDate(s)
        ''')
        self.assertEqual(rc, exit_code(-1074003967))
        self.assertEqual(out, 'before\n        Driver Error : bffc0001, Parameter 1 out of range\n')


if __name__ == '__main__':
    unittest.main()
