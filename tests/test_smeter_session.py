"""_smeter: definition order, sessions, the error queue, raw I/O and attributes."""
import unittest

from support import sim, SimTestCase, RSRC_NFOUND, INV_OBJECT, driver_table, raw_call, run_script, signed
import _smeter as sm

SMU = 'GPIB0::24::INSTR'


INVALID_VALUE = signed(0xBFFA0010)
TYPES_DO_NOT_MATCH = signed(0xBFFA0015)
ATTR_NOT_WRITABLE = signed(0xBFFA000D)
BAD_OPTION_NAME = signed(0xBFFA004B)
TIMEOUT = signed(0xBFFF0015)

RANGE_CHECK, SIMULATE, RECORD_COERCIONS, INTERCHANGE_CHECK = 1050002, 1050005, 1050006, 1050021
IO_SESSION, MODEL = 1050322, 1050512
OUTPUT_ENABLED, SOURCE_VOLTAGE_LEVEL, SOURCE_VOLTAGE_RANGE = 1150001, 1150005, 1150007
TRIGGER_COUNT, MATH_EXPRESSION, TRIGGER_LINK_SESSION = 1150029, 1150047, 1150050


class Registration(unittest.TestCase):
    def test_no_status_check_and_docs(self):
        self.assertFalse(hasattr(sm, 'CheckError'))
        self.assertFalse(hasattr(sm, 'foo'))
        self.assertIn('a1: size in bytes of the description buffer', sm.GetError.__doc__)
        self.assertEqual(sm.ConfigureDO.__module__, '_smeter')


class Sessions(SimTestCase):
    def test_init_and_close(self):
        s = sm.init(SMU, 1, 1)
        self.assertEqual(self.last_call('KE2400_init'), (SMU, 1, 1, sim.PTR))
        self.assertGreater(s, 0)
        self.assertEqual(sim.session_count(), 1)
        self.assertEqual(sm.close(s), 0)
        self.assertEqual(sim.session_count(), 0)
        self.assertEqual(sm.close(s), INV_OBJECT)

    def test_unknown_resource_gives_session_0_and_a_reason(self):
        self.assertEqual(sm.init('GPIB0::3::INSTR', 0, 0), 0)
        code, text = sm.GetError(0, 256)
        self.assertEqual(code, RSRC_NFOUND)
        self.assertIn('GPIB0::3::INSTR', text)

    def test_option_string(self):
        s = sm.InitWithOptions('GPIB0::3::INSTR', 0, 0, 'Simulate=1, RangeCheck=false, Cache=1')
        self.assertEqual(self.last_call('KE2400_InitWithOptions'),
                         ('GPIB0::3::INSTR', 0, 0, 'Simulate=1, RangeCheck=false, Cache=1', sim.PTR))
        self.assertGreater(s, 0)  # simulating: no instrument needed
        self.assertEqual(sm.GetAttributeViBoolean(s, '', SIMULATE), 1)
        self.assertEqual(sm.GetAttributeViBoolean(s, '', RANGE_CHECK), 0)
        # Without range checking the instrument itself refuses the value.
        self.assertEqual(sm.SetAttributeViInt32(s, '', TRIGGER_COUNT, 9999), 0)
        self.assertEqual(sm.error_query(s), (-222, 'Data out of range'))
        self.assertEqual(sm.InitWithOptions(SMU, 0, 0, 'Simulate=1,Turbo=1'), 0)
        self.assertEqual(sm.GetError(0, 256)[0], BAD_OPTION_NAME)

    def test_reconnect_finds_the_instrument_as_left(self):
        s = sm.init(SMU, 0, 1)
        sm.SetAttributeViReal64(s, '', SOURCE_VOLTAGE_LEVEL, 1.25)
        self.assertEqual(sm.Disconnect(s), 0)
        r = sm.Reconnect(SMU)
        self.assertEqual(self.last_call('KE2400_Reconnect'), (SMU, sim.PTR))
        self.assertNotEqual(r, s)
        self.assertEqual(sm.GetAttributeViReal64(r, '', SOURCE_VOLTAGE_LEVEL), 1.25)
        sm.close(r)
        self.assertEqual(sm.GetAttributeViReal64(sm.init(SMU, 0, 1), '', SOURCE_VOLTAGE_LEVEL), 0.0)

    def test_session_lock_is_recursive(self):
        s = sm.init(SMU, 0, 0)
        self.assertEqual((sm.LockSession(s), sm.LockSession(s)), (1, 1))
        self.assertEqual((sm.UnlockSession(s), sm.UnlockSession(s)), (1, 0))
        self.assertEqual(sm.UnlockSession(s), 0)  # not locked: fails, flag stays 0
        self.assertEqual(sm.GetError(s, 256)[0], signed(0xBFFA4004))


class Errors(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = sm.init(SMU, 0, 1)

    def test_failing_query_returns_and_leaves_the_reason(self):
        sim.fail('KE2400_GetAttributeViReal64', TIMEOUT)
        self.assertEqual(sm.GetAttributeViReal64(self.s, '', SOURCE_VOLTAGE_LEVEL), 0.0)
        code, text = sm.GetError(self.s, 256)
        self.assertEqual(code, TIMEOUT)
        self.assertIn('Timeout', text)
        self.assertEqual(sm.GetError(self.s, 256), (0, 'No error'))  # read once

    def test_every_session_function_refuses_a_closed_session_and_files_why(self):
        self.assertEqual(sm.close(self.s), 0)
        sessionless = {'GetError', 'ClearError', 'GetErrorInfo', 'ClearErrorInfo', 'error_message'}
        table = dict((fn['name'][len('KE2400_'):], fn) for fn in driver_table('KE2400'))
        checked = 0
        for name, fn in sorted(table.items()):
            if fn['params'][0]['name'] != 'vi' or name in sessionless:
                continue
            sm.ClearErrorInfo(self.s)
            self.assertEqual(raw_call('KE2400', fn, self.s), INV_OBJECT, name)
            self.assertEqual(sm.GetErrorInfo(self.s),
                             (INV_OBJECT, 0, 'session 0x%X is not an open KE2400 session' % self.s), name)
            checked += 1
        self.assertGreater(checked, 100)
        for name in sorted(sessionless):                # these answer without a session
            self.assertNotEqual(raw_call('KE2400', table[name], self.s), INV_OBJECT, name)

    def test_failing_query_prints_nothing_and_the_script_goes_on(self):
        rc, out, err = run_script('''
            import _smeter as sm
            s = sm.init('GPIB0::24::INSTR', 0, 0)
            sim.fail('KE2400_Read', -1074135024)
            r = sm.Read(s, 1)
            code, text = sm.GetError(s, 256)
            sys.stderr.write('%s %d %s' % (type(r).__name__, code, text))
        ''')
        self.assertEqual((rc, out), (0, ''))
        self.assertEqual(err, 'float -1074135024 Invalid value for parameter or property: KE2400_Read failed')

    def test_range_check_queues_the_reason(self):
        self.assertEqual(sm.SetAttributeViInt32(self.s, '', TRIGGER_COUNT, 2501), INVALID_VALUE)
        self.assertEqual(sm.CheckAttributeViInt32(self.s, '', TRIGGER_COUNT, 0), INVALID_VALUE)
        self.assertEqual(sm.GetErrorInfo(self.s)[:2], (INVALID_VALUE, 0))
        code, text = sm.GetError(self.s, 256)
        self.assertEqual(code, INVALID_VALUE)
        self.assertIn('KE2400_ATTR_TRIGGER_COUNT', text)
        sm.SetAttributeViInt32(self.s, '', TRIGGER_COUNT, -1)
        self.assertEqual(sm.ClearError(self.s), 0)
        self.assertEqual(sm.GetError(self.s, 256)[0], 0)

    def test_caller_sized_texts(self):
        sm.SetAttributeViInt32(self.s, '', TRIGGER_COUNT, 0)
        code, text = sm.GetError(self.s, 8)
        self.assertEqual(self.last_call('KE2400_GetError'), (self.s, sim.PTR, 8, sim.PTR))
        self.assertEqual((code, text), (INVALID_VALUE, 'Invalid'))  # 7 characters and the zero byte
        for size in (0, -1, -2147483648):
            sm.SetAttributeViInt32(self.s, '', TRIGGER_COUNT, 0)
            self.assertEqual(sm.GetError(self.s, size), (INVALID_VALUE, ''))
            self.assertEqual(self.last_call('KE2400_GetError')[2], 0)  # never a negative size
            self.assertEqual(sm.GetAttributeViString(self.s, '', MODEL, size), '')
            self.assertEqual(self.last_call('KE2400_GetAttributeViString'), (self.s, '', MODEL, 0, sim.PTR))
        self.assertEqual(sm.GetAttributeViString(self.s, '1', MODEL, 6), 'MW-SX')

    def test_coercion_records_and_interchange_warnings(self):
        sm.SetAttributeViBoolean(self.s, '', RECORD_COERCIONS, 1)
        sm.SetAttributeViBoolean(self.s, '', INTERCHANGE_CHECK, 1)
        sm.SetAttributeViReal64(self.s, '', SOURCE_VOLTAGE_RANGE, 5.0)
        self.assertEqual(sm.GetAttributeViReal64(self.s, '', SOURCE_VOLTAGE_RANGE), 20.0)
        record = sm.GetNextCoercionRecord(self.s, 256)
        self.assertEqual(self.last_call('KE2400_GetNextCoercionRecord'), (self.s, 256, sim.PTR))
        self.assertIn('KE2400_ATTR_SOURCE_VOLTAGE_RANGE', record)
        self.assertIn('+2.000000E+01', record)
        self.assertEqual(sm.GetNextCoercionRecord(self.s, 256), '')
        self.assertIn('not interchangeable', sm.GetNextInterchangeWarning(self.s, 256))
        sm.SetAttributeViReal64(self.s, '', SOURCE_VOLTAGE_RANGE, 2.0)
        self.assertEqual(sm.GetNextInterchangeWarning(self.s, 256), '')  # once per attribute
        self.assertEqual(sm.ResetInterchangeCheck(self.s), 0)
        sm.SetAttributeViReal64(self.s, '', SOURCE_VOLTAGE_RANGE, 2.0)
        self.assertEqual(sm.ClearInterchangeWarnings(self.s), 0)
        self.assertEqual(sm.GetNextInterchangeWarning(self.s, 256), '')

    def test_hostile_texts_stay_within_their_buffers(self):
        sim.hostile()
        for size in (1, 7, 256, 1000):
            self.assertEqual(len(sm.GetNextCoercionRecord(self.s, size)), size)
            self.assertEqual(len(sm.GetError(self.s, size)[1]), size)
        self.assertEqual(len(sm.error_message(self.s, 0)), 256)
        self.assertEqual(len(sm.GetErrorInfo(self.s)[2]), 256)

    def test_fixed_texts_and_self_test(self):
        self.assertEqual(sm.error_message(self.s, RSRC_NFOUND),
                         'Insufficient location information or resource not present in the system')
        self.assertEqual(sm.error_message(0, INVALID_VALUE), 'Invalid value for parameter or property')
        sim.push_error('KE2400', -113, 'Undefined header')
        self.assertEqual(sm.error_query(self.s), (-113, 'Undefined header'))
        self.assertEqual(sm.error_query(self.s), (0, 'No error'))
        self.assertEqual(sm.self_test(self.s), (0, 'Self test passed'))
        sim.set_output('KE2400_self_test', 1, 0x8001)
        self.assertEqual(sm.self_test(self.s)[0], -32767)
        self.assertEqual(sm.revision_query(self.s), ('2.1.0', 'F2.14 2019-06-11/B03  /M/X'))


class RawIO(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = sm.init(SMU, 0, 1)

    def test_text_first_then_count(self):
        self.assertEqual(sm.WriteInstrData(self.s, '*IDN?'), 0)
        data, n = sm.ReadInstrData(self.s, 20)
        self.assertEqual((data, n), (b'MARROWICK INSTRUMENT', 20))
        self.assertEqual(self.last_call('KE2400_ReadInstrData'), (self.s, 20, sim.PTR, sim.PTR))
        data, n = sm.ReadInstrData(self.s, 1000)
        self.assertTrue(data.startswith(b'S INC.,MW-SX20') and data.endswith(b'/M/X\n'))
        self.assertEqual(n, len(data))
        self.assertEqual(sm.ReadInstrData(self.s, 10), (b'', 0))  # nothing waiting: timeout
        self.assertEqual(sm.GetError(self.s, 256)[0], TIMEOUT)

    def test_scpi_queries(self):
        sm.WriteInstrData(self.s, ':SOUR:VOLT 0.5;:OUTP ON;:OUTP?;:SOUR:VOLT?')
        self.assertEqual(sm.ReadInstrData(self.s, 256)[0], b'1;+5.000000E-01\n')
        sm.WriteInstrData(self.s, ':BOGUS')
        self.assertEqual(sm.error_query(self.s), (-113, 'Undefined header'))

    def test_counts_and_data_stay_within_the_buffer(self):
        sim.hostile()
        for count in (-5, 0, 10, 255, 256, 257, 5000):
            data, n = sm.ReadInstrData(self.s, count)
            self.assertLessEqual(n, max(count, 0))
            self.assertLessEqual(len(data), max(count, 256))


class Attributes(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = sm.init(SMU, 0, 1)

    def test_typed_round_trips(self):
        self.assertEqual(sm.SetAttributeViInt32(self.s, '', TRIGGER_COUNT, 25), 0)
        self.assertEqual(sm.GetAttributeViInt32(self.s, '', TRIGGER_COUNT), 25)
        self.assertEqual(sm.SetAttributeViReal64(self.s, '1', SOURCE_VOLTAGE_LEVEL, -3.5), 0)
        self.assertEqual(sm.GetAttributeViReal64(self.s, '', SOURCE_VOLTAGE_LEVEL), -3.5)
        self.assertEqual(sm.SetAttributeViString(self.s, '', MATH_EXPRESSION, 'VOLTCOEF'), 0)
        self.assertEqual(sm.GetAttributeViString(self.s, '', MATH_EXPRESSION, 256), 'VOLTCOEF')
        self.assertEqual(sm.SetAttributeViSession(self.s, '', TRIGGER_LINK_SESSION, 4294967295), 0)
        self.assertEqual(sm.GetAttributeViSession(self.s, '', TRIGGER_LINK_SESSION), 4294967295)
        self.assertEqual(sm.SetAttributeViBoolean(self.s, '', OUTPUT_ENABLED, 1), 0)
        self.assertEqual(sm.GetAttributeViBoolean(self.s, '', OUTPUT_ENABLED), 1)
        self.assertEqual(sm.GetAttributeViSession(self.s, '', IO_SESSION), 0x100000 + self.s)
        self.assertEqual(self.last_call('KE2400_GetAttributeViSession'), (self.s, '', IO_SESSION, sim.PTR))

    def test_check_validates_without_setting(self):
        self.assertEqual(sm.CheckAttributeViInt32(self.s, '', TRIGGER_COUNT, 7), 0)
        self.assertEqual(sm.GetAttributeViInt32(self.s, '', TRIGGER_COUNT), 1)
        self.assertEqual(sm.CheckAttributeViString(self.s, '', MATH_EXPRESSION, ''), INVALID_VALUE)

    def test_refusals_by_the_driver(self):
        self.assertEqual(sm.SetAttributeViInt32(self.s, '', SOURCE_VOLTAGE_LEVEL, 1), TYPES_DO_NOT_MATCH)
        self.assertEqual(sm.GetAttributeViInt32(self.s, '', SOURCE_VOLTAGE_LEVEL), 0)
        self.assertEqual(sm.SetAttributeViBoolean(self.s, '', SIMULATE, 1), ATTR_NOT_WRITABLE)
        self.assertEqual(sm.SetAttributeViString(self.s, '', MODEL, 'x'), ATTR_NOT_WRITABLE)
        self.assertEqual(sm.SetAttributeViInt32(self.s, 'CH2', TRIGGER_COUNT, 2), signed(0xBFFA0020))
        self.assertEqual(sm.SetAttributeViInt32(self.s, '', 42, 2), signed(0xBFFA000C))
        self.assertEqual(sm.GetAttributeViInt32(12345, '', TRIGGER_COUNT), 0)
        self.assertEqual(sm.GetError(12345, 256)[0], INV_OBJECT)

    def test_sixteen_bit_booleans_are_refused_before_the_call(self):
        for fn in (sm.SetAttributeViBoolean, sm.CheckAttributeViBoolean):
            self.assertRaises(OverflowError, fn, self.s, '', OUTPUT_ENABLED, 65536)
            self.assertRaises(OverflowError, fn, self.s, '', OUTPUT_ENABLED, -1)
            self.assertRaises(TypeError, fn, self.s, '', OUTPUT_ENABLED, 1.0)
        self.assertNotCalled('KE2400_SetAttributeViBoolean')
        self.assertNotCalled('KE2400_CheckAttributeViBoolean')
        self.assertEqual(sm.SetAttributeViBoolean(self.s, '', OUTPUT_ENABLED, 65535), 0)
        self.assertEqual(self.last_call('KE2400_SetAttributeViBoolean')[3], 65535)
        self.assertEqual(sm.SetAttributeViBoolean(self.s, '', OUTPUT_ENABLED, True), 0)


if __name__ == '__main__':
    unittest.main()
