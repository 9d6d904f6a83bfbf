"""_polshaper: the polarization controller module."""
import textwrap
import unittest

from support import sim, SimTestCase, TestCase, INSTR_ERROR, RSRC_NFOUND, TIMEOUT, exit_journal, exit_code
from functions import functions
import _polshaper as ps

CONTROLLER = 'GPIB0::9::INSTR'



# The first session of a fresh process: each driver numbers its sessions in a
# range of its own (hp8169: 0x03......).
SESSION = 0x03001001


def run_ending(body, watch=('hp8169_close', 'hp8169_error_query', 'hp8169_error_message')):
    """Runs `body` on a new session: (exit code, stdout, stderr, the calls of
    the watched driver functions up to the end of the process)."""
    return exit_journal('import _polshaper as ps\ns = ps.init(%r, 0, 0)\n' % CONTROLLER + textwrap.dedent(body), watch)


TIMEOUT_LINE = '        Driver Error : bfff0015, Timeout expired before operation completed\n'

# Wrapped functions and their arguments after the session; each checks its status.
WRAPPED = dict([(name, ()) for name in (
    'getHandle', 'self_test', 'error_query', 'revision_query', 'timeOut_Q', 'errorQueryDetect_Q',
    'getDelay_Q', 'opc_Q', 'readStatusByte_Q', 'operEvent_Q', 'operCond_Q', 'quesEvent_Q', 'quesCond_Q',
    'getEpsilon_Q', 'getTheta_Q', 'getPolPos_Q', 'getLambdaHalfPos_Q', 'getLambdaQuartPos_Q')] +
    [('error_message', (0,)), ('cmdInt16_Q', ('*OPC?',)), ('cmdInt32_Q', ('*OPC?',)),
     ('cmdReal64_Q', ('*OPC?',))] +
    [(name, (':POS:ALL?', 1)) for name in ('cmdInt16Arr_Q', 'cmdInt32Arr_Q', 'cmdReal64Arr_Q')])

# The 19 pass-through functions and valid arguments after the session.
PASSED = dict([(name, ()) for name in ('reset', 'dcl', 'close')] +
              [(name, (1,)) for name in ('timeOut', 'errorQueryDetect', 'forceTransaction', 'enableDisplay',
                                          'setPolSpeed', 'setSphereApplState')] +
              [(name, (0, 1.0)) for name in ('setEpsilon', 'setTheta', 'setPolPos', 'setLambdaHalfPos',
                                              'setLambdaQuartPos')] +
              [('setDelay', (1, 2)), ('cmd', ('*CLS',)), ('cmdString_Q', ('*IDN?', 0, None)),
               ('cmdInt', (':POL:SPE', 10)), ('cmdReal', (':POS:POL', 1.5))])


class Registration(TestCase):
    def test_every_function_is_tested_as_wrapped_or_passed(self):
        self.assertEqual(len(PASSED), 19)
        self.assertEqual(set(WRAPPED) | set(PASSED) | set(['foo', 'CheckError', 'init']), 
                         set(name for name, _ in functions('_polshaper')))

    def test_foo(self):
        self.assertEqual(ps.foo(), 'bar')
        self.assertRaises(TypeError, ps.foo, 1)


class Controller(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = ps.init(CONTROLLER, 1, 1)
        sim.clear_journal()

    def test_sessions_and_handles(self):
        self.assertEqual(ps.getHandle(self.s), self.s)
        self.assertEqual(self.last_call('hp8169_getHandle'), (self.s, sim.PTR))
        sim.set_output('hp8169_getHandle', 1, 0xFFFFFFF0)
        self.assertEqual(ps.getHandle(self.s), 0xFFFFFFF0)
        other = ps.init('ASRL1::INSTR', 0, 0)
        self.assertEqual(self.last_call('hp8169_init'), ('ASRL1::INSTR', 0, 0, sim.PTR))
        self.assertNotEqual(other, self.s)
        self.assertEqual(ps.close(other), 0)
        self.assertEqual(ps.close(other), -1073807346)  # already closed: status, no exit

    def test_positions_and_delays_refuse_what_lies_beyond(self):
        self.assertEqual(ps.setPolPos(self.s, 0, 180.0), 0)
        for bad in (-1e-9, 180.000001, float('nan')):
            self.assertEqual(ps.setPolPos(self.s, 0, bad), -1074003965, bad)  # parameter 3
        self.assertEqual(ps.getPolPos_Q(self.s), 180.0)
        self.assertEqual(ps.setDelay(self.s, 100000, 0), 0)
        self.assertEqual(ps.setDelay(self.s, 100001, 0), -1074003966)  # parameter 2
        self.assertEqual(ps.setDelay(self.s, 0, 100001), -1074003965)  # parameter 3

    def test_positions_round_trip_with_selectors(self):
        for set_fn, get_fn in ((ps.setPolPos, ps.getPolPos_Q), (ps.setLambdaHalfPos, ps.getLambdaHalfPos_Q),
                               (ps.setLambdaQuartPos, ps.getLambdaQuartPos_Q)):
            self.assertEqual(set_fn(self.s, 0, 47.5), 0)
            self.assertEqual(get_fn(self.s), 47.5)
            self.assertEqual(set_fn(self.s, 2, 0), 0)  # maximum
            self.assertEqual(get_fn(self.s), 180.0)
            self.assertEqual(set_fn(self.s, 0, 181), -1074003965)  # parameter 3: returned, not ended
        self.assertEqual(self.last_call('hp8169_setLambdaQuartPos'), (self.s, 0, 181.0))

    def test_polarization_angles_round_trip(self):
        self.assertEqual(ps.setTheta(self.s, 0, 30), 0)
        self.assertEqual(ps.setEpsilon(self.s, 0, -12), 0)
        self.assertAlmostEqual(ps.getEpsilon_Q(self.s), -12)
        self.assertAlmostEqual(ps.getTheta_Q(self.s), 30)
        self.assertEqual(ps.setEpsilon(self.s, 0, 46), -1074003965)

    def test_speed_and_commands_through_the_command_table(self):
        self.assertEqual(ps.setPolSpeed(self.s, 90), 0)
        self.assertEqual(ps.cmdInt16_Q(self.s, ':POL:SPE?'), 90)
        self.assertEqual(ps.cmdInt(self.s, ':POL:SPE', 360), 0)
        self.assertEqual(ps.cmdInt32_Q(self.s, ':POL:SPE?'), 360)
        self.assertEqual(ps.cmdReal(self.s, ':POS:POL', 12.25), 0)
        self.assertEqual(ps.cmdReal64_Q(self.s, ':POS:POL?'), 12.25)
        self.assertEqual(ps.cmd(self.s, ':pos:hwp 3'), 0)
        self.assertEqual(ps.getLambdaHalfPos_Q(self.s), 3.0)
        self.assertEqual(ps.setPolSpeed(self.s, 0), -1074003966)

    def test_unknown_command_leaves_an_instrument_error(self):
        self.assertEqual(ps.cmd(self.s, 'BOGUS'), INSTR_ERROR)
        self.assertEqual(ps.readStatusByte_Q(self.s) & 0x04, 0x04)
        self.assertEqual(ps.error_query(self.s), (-113, 'Undefined header'))  # code first

    def test_texts_and_number_tuples(self):
        self.assertEqual(ps.self_test(self.s), (0, 'Self test passed'))
        sim.set_output('hp8169_revision_query', 1, 'drv 1')
        sim.set_output('hp8169_revision_query', 2, 'fw 2')
        self.assertEqual(ps.revision_query(self.s), ('drv 1', 'fw 2'))
        self.assertIn('not present', ps.error_message(self.s, RSRC_NFOUND))
        self.assertEqual(self.last_call('hp8169_error_message'), (self.s, RSRC_NFOUND, sim.PTR))
        self.assertEqual(ps.setDelay(self.s, 5, 70), 0)
        self.assertEqual(ps.getDelay_Q(self.s), (5, 70))
        self.assertEqual(ps.timeOut(self.s, 2500), 0)
        self.assertEqual(ps.timeOut_Q(self.s), 2500)

    def test_sixteen_bit_outputs(self):
        sim.set_output('hp8169_readStatusByte_Q', 1, 0x8001)
        self.assertEqual(ps.readStatusByte_Q(self.s), -32767)
        sim.set_output('hp8169_opc_Q', 1, 0xFFFF)
        self.assertEqual(ps.opc_Q(self.s), 65535)
        sim.set_output('hp8169_self_test', 1, -5)
        self.assertEqual(ps.self_test(self.s)[0], -5)

    def test_string_query_fills_the_callers_buffer(self):
        reply = bytearray(64)
        self.assertEqual(ps.cmdString_Q(self.s, '*IDN?', 64, reply), 0)
        self.assertTrue(reply.startswith(b'TARNWELL PHOTONICS,TW-PC3,TW04100123'))
        self.assertEqual(self.last_call('hp8169_cmdString_Q'), (self.s, '*IDN?', 64, sim.PTR))
        self.assertEqual(ps.cmdString_Q(self.s, '*IDN?', 64, None), -1074003964)  # null reply refused

    def test_one_element_array_queries(self):
        ps.setPolPos(self.s, 0, 10)
        ps.setLambdaHalfPos(self.s, 0, 20)
        self.assertEqual(ps.cmdReal64Arr_Q(self.s, ':POS:ALL?', 1), (10.0, 1))
        self.assertEqual(ps.cmdReal64Arr_Q(self.s, ':POS:ALL?', 3), (10.0, 3))
        self.assertEqual(self.last_call('hp8169_cmdReal64Arr_Q'), (self.s, ':POS:ALL?', 3, sim.PTR, sim.PTR))
        self.assertEqual(ps.cmdInt16Arr_Q(self.s, ':POS:ALL?', 100), (10, 3))
        self.assertEqual(ps.cmdInt32Arr_Q(self.s, ':POS:ALL?', 0), (0, 0))  # nothing written: preset

    def test_array_queries_stay_in_bounds_in_hostile_mode(self):
        ps.setPolPos(self.s, 0, 7)
        sim.hostile()
        for size in (1, 2, 16, 17, 1000):
            for query in (ps.cmdInt16Arr_Q, ps.cmdInt32Arr_Q, ps.cmdReal64Arr_Q):
                first, count = query(self.s, ':POS:ALL?', size)
                self.assertEqual(first, 7)
                self.assertLessEqual(count, max(size, 16))
                self.assertEqual(self.last_call('hp8169_' + query.__name__)[2], size)


class StatusCheck(SimTestCase):
    def test_success_returns_without_driver_calls(self):
        s = ps.init(CONTROLLER, 0, 0)
        sim.clear_journal()
        self.assertIsNone(ps.CheckError(s, 0))
        self.assertIsNone(ps.CheckError(s, 0x3FFC0101))
        self.assertEqual(sim.journal(), [])

    def test_pass_through_functions_return_failures(self):
        s = ps.init(CONTROLLER, 0, 0)
        for name, args in sorted(PASSED.items()):
            sim.fail('hp8169_' + name, TIMEOUT)
            self.assertEqual(getattr(ps, name)(s, *args), TIMEOUT, name)
            self.assertEqual(self.last_call('hp8169_' + name)[1:], args)

    def test_every_wrapper_ends_the_process_on_failure(self):
        for name, args in sorted(WRAPPED.items()):
            rc, out, err, calls = run_ending('''
                sim.fail('hp8169_%s', %d)
                ps.%s(s, *%r)
            ''' % (name, TIMEOUT, name, args), watch=('hp8169_close',))
            self.assertEqual((rc, out, calls), (exit_code(TIMEOUT), TIMEOUT_LINE, [('hp8169_close', (SESSION,))]),
                             name + err)

    def test_instrument_error_261_ends_the_process(self):
        rc, out, _, calls = run_ending('''
            print('before')
            sim.push_error('hp8169', -261, 'Settings conflict')
            sim.fail('hp8169_getPolPos_Q', %d)
            ps.getPolPos_Q(s)
            print('not reached')
        ''' % INSTR_ERROR)
        self.assertEqual(rc, exit_code(INSTR_ERROR))
        self.assertEqual(out, 'before\n        Inst. Error : fffffefb, Settings conflict\n')
        self.assertEqual(calls, [('hp8169_error_query', (SESSION, sim.PTR, sim.PTR)), ('hp8169_close', (SESSION,))])

    def test_other_statuses_are_driver_errors(self):
        rc, out, _, calls = run_ending('''
            sim.push_error('hp8169', -261, 'Settings conflict')
            ps.CheckError(s, %d)
        ''' % (INSTR_ERROR + 1))
        self.assertEqual(rc, exit_code(INSTR_ERROR + 1))
        self.assertEqual(out, '        Driver Error : bffc0d08, Unknown status code 0xBFFC0D08\n')
        self.assertEqual(calls, [('hp8169_error_message', (SESSION, INSTR_ERROR + 1, sim.PTR)),
                                 ('hp8169_close', (SESSION,))])

    def test_get_handle_checks_the_handle_it_returned(self):
        rc, out, _, calls = run_ending('''
            other = ps.init('ASRL1::INSTR', 0, 0)
            sim.set_output('hp8169_getHandle', 1, other)
            sim.fail('hp8169_getHandle', -1073807339)
            ps.getHandle(s)
        ''')
        self.assertEqual(rc, exit_code(-1073807339))
        self.assertEqual(out, TIMEOUT_LINE)
        self.assertEqual(calls, [('hp8169_error_message', (SESSION + 1, -1073807339, sim.PTR)), ('hp8169_close', (SESSION + 1,))])

    def test_failing_init_checks_the_session_it_wrote(self):
        rc, out, _, calls = run_ending('''
            sim.set_output('hp8169_init', 3, 77)
            ps.init('GPIB0::10::INSTR', 0, 0)
        ''')
        self.assertEqual(rc, exit_code(RSRC_NFOUND))
        self.assertEqual(out, '        Driver Error : bfff0011, Insufficient location information or '
                              'resource not present\n')
        self.assertEqual(calls, [('hp8169_error_message', (77, -1073807343, sim.PTR)), ('hp8169_close', (77,))])

    def test_negative_array_size_reaches_the_driver_which_refuses_it(self):
        rc, out, _, calls = run_ending('''
            ps.cmdReal64Arr_Q(s, ':POS:ALL?', -1)
        ''', watch=('hp8169_cmdReal64Arr_Q',))
        self.assertEqual(rc, exit_code(-1074003965))
        self.assertEqual(out, '        Driver Error : bffc0003, Parameter 3 out of range\n')
        self.assertEqual(calls, [('hp8169_cmdReal64Arr_Q', (SESSION, ':POS:ALL?', -1, sim.PTR, sim.PTR))])


if __name__ == '__main__':
    unittest.main()
