"""The simulator's Python API as a user's test suite uses it: instrument
errors, scripted texts, recordings, child processes, SimulatorTestCase."""
import os
import shutil
import sys
import tempfile
import unittest

from support import BUILD, ROOT, SimTestCase, driver_table, sim

import _photonbay as pb

MAINFRAME = 'GPIB0::20::INSTR'


class InstrumentErrors(SimTestCase):
    def test_pass_through_returns_the_status_and_the_queue_holds_the_error(self):
        s = pb.init(MAINFRAME, 1, 0)
        sim.instrument_error('hp816x_set_TLS_wavelength', -222, 'Data out of range', times=2)
        self.assertEqual(pb.set_TLS_wavelength(s, 0, 0, 1550e-9), sim.INSTR_ERROR)
        self.assertEqual(pb.set_TLS_wavelength(s, 0, 0, 1550e-9), sim.INSTR_ERROR)
        self.assertEqual(pb.set_TLS_wavelength(s, 0, 0, 1550e-9), 0)
        self.assertEqual(pb.error_query(s), (-222, 'Data out of range'))
        self.assertEqual(pb.error_query(s), (-222, 'Data out of range'))
        self.assertEqual(pb.error_query(s)[0], 0)

    def test_the_status_check_of_each_module_takes_it_as_an_instrument_error(self):
        cases = [('_photonbay', 'hp816x_PWM_readValue', "init('GPIB0::20::INSTR', 1, 0)",
                  'PWM_readValue(s, 1, 0)'),
                 ('_powerprobe', 'PM100D_measPower', "init('USB0::0x3A5C::0x0207::P0012345::INSTR', 1, 0)",
                  'measPower(s)'),
                 ('_polshaper', 'hp8169_getPolPos_Q', "init('GPIB0::9::INSTR', 1, 0)", 'getPolPos_Q(s)')]
        for module, fn, opener, call in cases:
            r = sim.run_python('''
                import %s as m, instrsim as sim
                s = m.%s
                sim.instrument_error(%r, -113, 'Undefined header')
                m.%s
                print('not reached')
                ''' % (module, opener, fn, call))
            driver = fn.split('_')[0]
            self.assertEqual(r.stdout, '        Inst. Error : ffffff8f, Undefined header\n',
                             (module, r.stderr))
            self.assertEqual(r.returncode, sim.exit_code(sim.INSTR_ERROR_STATUS[driver]), module)
            self.assertEqual(r.journal[-1][0], driver + '_close', module)

    def test_source_meter_reports_it_through_its_error_functions(self):
        try:
            import _smeter as smu
        except ImportError:
            self.skipTest('_smeter is not built')
        s = smu.init('GPIB0::24::INSTR', 1, 1)
        sim.instrument_error('KE2400_Read', -113, 'Undefined header')
        smu.Read(s, 0)
        code, text = smu.GetError(s, 256)
        self.assertEqual(code, sim.INSTR_ERROR_STATUS['KE2400'])
        self.assertEqual(smu.error_query(s), (-113, 'Undefined header'))

    def test_functions_without_an_error_queue_are_refused(self):
        self.assertRaises(ValueError, sim.instrument_error, 'viOpen', -1, 'x')
        self.assertRaises(ValueError, sim.instrument_error, 'PWM_readValue', -1, 'x')


class Scripting(SimTestCase):
    def test_scripted_texts_must_fit_a_fixed_buffer(self):
        s = pb.init(MAINFRAME, 1, 0)
        sim.set_output('hp816x_error_query', 2, 'x' * 255)
        self.assertEqual(pb.error_query(s)[1], 'x' * 255)
        self.assertRaises(ValueError, sim.set_output, 'hp816x_error_query', 2, 'x' * 256)
        self.assertRaises(ValueError, sim.set_output, 'hp816x_error_query', 2, 'a\0b')

    def test_forced_success_survives_a_failing_instrument(self):
        s = pb.init(MAINFRAME, 1, 0)
        sim.fail('hp816x_set_TLS_wavelength', 0, -1)
        self.assertEqual(pb.set_TLS_wavelength(s, 0, 0, 9.0), 0)        # out of range, forced
        self.assertEqual(pb.set_TLS_wavelength(s, 0, 0, 9.0), 0)

    def test_recording_holds_the_calls_of_its_block_only(self):
        s = pb.init(MAINFRAME, 1, 0)
        with sim.recording() as rec:
            pb.PWM_readValue(s, 1, 0)
            pb.PWM_readValue(s, 2, 0)
        pb.PWM_readValue(s, 1, 1)
        self.assertEqual(rec.names(), ['hp816x_PWM_readValue'] * 2)
        self.assertEqual(rec.calls('hp816x_PWM_readValue'), [(s, 1, 0, sim.PTR), (s, 2, 0, sim.PTR)])
        with sim.recording() as rec:
            sim.reset()                      # the journal starts again inside the block
            pb.init(MAINFRAME, 1, 0)
        self.assertEqual(rec.names(), ['hp816x_init'])


class Processes(SimTestCase):
    def test_child_output_exit_code_and_journal(self):
        r = sim.run_python('''
            import os, sys
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 1, 0)
            print(os.environ['LAB'])
            sys.stderr.write('warn\\n')
            sys.exit(3)
            ''', env={'LAB': 'bench 4'})
        self.assertEqual((r.returncode, r.stdout, r.stderr), (3, 'bench 4\n', 'warn\n'))
        self.assertEqual(r.journal, [('hp816x_init', (MAINFRAME, 1, 0, sim.PTR))])
        self.assertEqual(sim.journal(), [])          # the child's simulator is its own

    def test_exit_codes_keep_the_low_byte(self):
        self.assertEqual(sim.exit_code(sim.INSTR_ERROR), 7)
        self.assertEqual(sim.exit_code(0xBFFF0011), 0x11)

    def test_the_core_the_modules_use_is_scripted_even_beside_another_copy(self):
        # A second instrsim package, with a core and drivers of its own,
        # imported after a module bound the build's: scripting that copy would
        # change nothing the module sees, so it is refused and the build's
        # core stays the one scripted.
        tmp = tempfile.mkdtemp()
        try:
            shutil.copytree(os.path.join(BUILD, 'instrsim'), os.path.join(tmp, 'instrsim'))
            r = sim.run_python('''
                import sys
                import _photonbay as pb
                build_sim = sys.modules.pop('instrsim')
                sys.path.insert(0, %r)
                try:
                    import instrsim
                except ImportError as e:
                    print(e)
                pb.init('GPIB0::20::INSTR', 1, 0)
                print(build_sim.names())
                ''' % tmp)
        finally:
            shutil.rmtree(tmp)
        lines = r.stdout.splitlines()
        self.assertEqual((r.returncode, lines[-1]), (0, "['hp816x_init']"), r.stderr)
        self.assertIn('_photonbay is bound to %s' % os.path.join(BUILD, 'instrsim', 'libhp816x_32.so'), lines[0])


# Each driver knows only its own sessions: how every module opens one, and
# its calls that take a session -- a status-checked query (run in a child:
# the check ends the process; None for _smeter, which has no check) and a
# pass-through returning the status.
OPEN = [
    ('hp816x', 'import _photonbay as m', "m.init('GPIB0::20::INSTR', 0, 0)",
     'm.timeOut_Q(%d)', 'm.timeOut(%d, 1000)'),
    ('KE2400', 'import _smeter as m', "m.init('GPIB0::24::INSTR', 0, 0)",
     None, 'm.ConfigureSourceDC(%d, 0, 1.0, 0.0, 1, 0.01, 0)'),
    ('PM100D', 'import _powerprobe as m', "m.init('USB0::0x3A5C::0x0207::P0012345::INSTR', 0, 0)",
     'm.measPower(%d)', 'm.setWavelength(%d, 1550.0)'),
    ('hp8169', 'import _polshaper as m', "m.init('GPIB0::9::INSTR', 0, 0)",
     'm.timeOut_Q(%d)', 'm.timeOut(%d, 1000)'),
    ('vi', 'import _instrbus as m', "m.Open(m.OpenDefaultRM(), 'GPIB0::20::INSTR', 0, 0)",
     None, 'm.SetAttribute(%d, 0x3FFF001A, 1000)'),
]
CLOSE = {'hp816x': 'm.close(%d)', 'KE2400': 'm.close(%d)', 'PM100D': 'm.close(%d)', 'hp8169': 'm.close(%d)',
         'vi': 'm.Close(%d)'}


def run_with(module_import, expression):
    namespace = {}
    exec(module_import, namespace)
    return eval(expression, namespace)


class ForeignSessions(SimTestCase):
    def sessions(self):
        return dict((driver, run_with(imp, opener)) for driver, imp, opener, _, _ in OPEN)

    def test_numbers_of_different_drivers_lie_in_ranges_of_their_own(self):
        for _ in range(2):
            sessions = self.sessions()
            self.assertEqual(sorted(s >> 24 for s in sessions.values()), [0, 1, 2, 3, 4], sessions)
        self.assertEqual(self.sessions()['hp816x'] & 0xFFFFFF, 0x1003)
        sim.reset()
        self.assertEqual(self.sessions(), {'hp816x': 0x1001, 'KE2400': 0x01001001, 'PM100D': 0x02001001,
                                           'hp8169': 0x03001001, 'vi': 0x04001001})

    def test_pass_through_and_close_refuse_another_drivers_session_as_a_closed_one(self):
        sessions = self.sessions()
        for driver, imp, opener, _, passing in OPEN:
            closed = run_with(imp, opener)
            self.assertEqual(run_with(imp, CLOSE[driver] % closed), 0)
            self.assertEqual(run_with(imp, passing % closed), sim.INV_OBJECT, driver)
            for other, session in sessions.items():
                if other == driver:
                    continue
                self.assertEqual(run_with(imp, passing % session), sim.INV_OBJECT, (driver, other))
                self.assertEqual(run_with(imp, CLOSE[driver] % session), sim.INV_OBJECT, (driver, other))
        # Nothing was closed by another driver: each closes its own.
        self.assertEqual(sim.session_count(), 4)
        for driver, imp, _, _, passing in OPEN:
            self.assertEqual(run_with(imp, passing % sessions[driver]), 0, driver)
            self.assertEqual(run_with(imp, CLOSE[driver] % sessions[driver]), 0, driver)
        self.assertEqual(sim.session_count(), 0)

    def test_error_texts_and_the_error_queue_take_any_session(self):
        import _smeter as sm, _powerprobe as pp, _polshaper as ps
        text = 'The given session or object reference is invalid'
        for unknown in (0, 0x7777, self.sessions()['vi']):
            for error_message in (pb.error_message, sm.error_message, pp.errorMessage, ps.error_message):
                self.assertEqual(error_message(unknown, sim.INV_OBJECT), text, (error_message, unknown))
            self.assertEqual((sm.ClearError(unknown), sm.ClearErrorInfo(unknown)), (0, 0), unknown)

    def test_the_source_meter_reports_a_foreign_session_as_a_closed_one(self):
        import _smeter as sm
        sessions = self.sessions()
        closed = sm.init('GPIB0::24::INSTR', 0, 0)
        sm.close(closed)
        sm.Read(closed, 1)
        code, text = sm.GetError(closed, 256)
        self.assertEqual(code, sim.INV_OBJECT)
        for other in ('hp816x', 'PM100D', 'hp8169', 'vi'):
            self.assertEqual(sm.Read(sessions[other], 1), 0.0, other)
            self.assertEqual(sm.GetError(sessions[other], 256),
                             (code, text.replace('0x%X' % closed, '0x%X' % sessions[other])), other)
            self.assertEqual(sm.GetError(sessions[other], 256), (0, 'No error'), other)

    def test_checked_queries_end_the_process_on_another_drivers_session(self):
        opening = '\n'.join('%s\n%s = %s' % (imp.replace(' as m', ' as m_' + d), 's_' + d,
                                                opener.replace('m.', 'm_%s.' % d))
                            for d, imp, opener, _, _ in OPEN)
        for driver, imp, _, query, _ in OPEN:
            if query is None:
                continue
            for other, _, _, _, _ in OPEN:
                if other == driver:
                    continue
                r = sim.run_python(opening + '\nm = m_%s\nprint(s_%s)\nprint(%s)\n' % (
                    driver, other, query.replace('%d', 's_' + other)))
                self.assertEqual(r.returncode, sim.exit_code(sim.INV_OBJECT), (driver, other, r.stderr))
                session, line = r.stdout.splitlines()
                self.assertEqual(line.split(',')[0], '        Driver Error : bfff000e', (driver, other))
                # The check closes the session it was given, which its driver does not know.
                self.assertEqual(r.journal[-1], (driver + '_close', (int(session),)), (driver, other))


class FunctionNames(SimTestCase):
    def test_unknown_names_are_refused_naming_the_closest(self):
        rec = sim.recording()
        with rec:
            pass
        for call in (lambda fn: sim.fail(fn, sim.TMO), lambda fn: sim.instrument_error(fn, -1, 'x'),
                     lambda fn: sim.set_output(fn, 3, 1.0), sim.calls, rec.calls,
                     lambda fn: sim.SimulatorTestCase('setUp').assertNotCalled(fn),
                     lambda fn: sim.SimulatorTestCase('setUp').assertCalled(fn)):
            with self.assertRaises(ValueError) as cm:
                call('PWM_readValue')       # the module's name, not the driver's
            self.assertIn('hp816x_PWM_readValue', str(cm.exception))
            with self.assertRaises(ValueError) as cm:
                call('KE2400_Raed')
            self.assertIn('closest: KE2400_Read', str(cm.exception))
        self.assertRaises(ValueError, sim.fail, 'nothing_like_it', sim.TMO)
        s = pb.init(MAINFRAME, 1, 0)
        self.assertEqual(pb.timeOut(s, 5), 0)  # nothing was scripted by the refused calls

    def test_the_names_are_the_drivers_exports(self):
        known = sim.functions()
        for fn in ('hp816x_PWM_readValue', 'KE2400_ConfigureDO', 'PM100D_measPower', 'hp8169_setPolPos',
                   'viOpenDefaultRM', 'hp816x_error_query'):
            self.assertIn(fn, known)
        self.assertFalse([n for n in known if not n.startswith(('hp816x_', 'KE2400_', 'PM100D_',
                                                                  'hp8169_', 'vi'))])
        self.assertNotIn('sim_reset', known)
        sim.fail('KE2400_Read', sim.TMO)   # a driver not loaded by this test is known too
        sim.reset()

    def test_the_drivers_are_those_of_the_driver_list(self):
        sys.path.insert(0, os.path.join(ROOT, 'tools'))
        import drivertable
        rows = drivertable.drivers()
        self.assertEqual(sim._PREFIXES, tuple(row['prefix'] for row in rows))
        self.assertEqual(sorted(sim.INSTR_ERROR_STATUS), sorted(row['name'] for row in rows if row['idn']))
        for row in rows:
            self.assertIn('``%s``' % row['file'], ' '.join(sim.__doc__.split()))
            self.assertTrue(os.path.isfile(os.path.join(BUILD, 'instrsim', row['file'])), row['file'])
        # The core reads every library of the list: each exports its table's functions.
        tables = set(fn['name'] for row in rows for fn in driver_table(row['name']))
        self.assertEqual(set(sim.functions()), tables)

    def test_instrsim_sits_beside_the_modules_and_is_current(self):
        for name in ('__init__.py', '__main__.py'):
            with open(os.path.join(BUILD, 'instrsim', name), 'rb') as a:
                with open(os.path.join(ROOT, 'sim', 'instrsim', name), 'rb') as b:
                    self.assertEqual(a.read(), b.read(), name)


class TestCaseHelpers(unittest.TestCase):
    def run_case(self, body):
        class Case(sim.SimulatorTestCase):
            def runTest(self):
                body(self)
        result = unittest.TestResult()
        Case().run(result)
        return result

    def test_every_test_starts_and_ends_with_a_reset_simulator(self):
        seen = []

        def body(case):
            seen.append((sim.session_count(), sim.journal()))
            pb.init(MAINFRAME, 1, 0)
            sim.fail('hp816x_close', -1, -1)
        sim.reset()
        pb.init(MAINFRAME, 1, 0)
        self.assertTrue(self.run_case(body).wasSuccessful())
        self.assertEqual(seen, [(0, [])])
        self.assertEqual((sim.session_count(), sim.journal()), (0, []))

    def test_assert_called_matches_arguments_with_any(self):
        def body(case):
            s = pb.init(MAINFRAME, 1, 0)
            pb.PWM_readValue(s, 1, 0)
            self.assertEqual(case.assertCalled('hp816x_PWM_readValue', s, 1, sim.ANY, sim.PTR),
                             (s, 1, 0, sim.PTR))
            case.assertNotCalled('hp816x_close')
            for wrong in [(s, 2, sim.ANY, sim.PTR), (s, 1, 0), ()]:
                try:
                    if wrong:
                        case.assertCalled('hp816x_PWM_readValue', *wrong)
                    else:
                        case.assertCalled('hp816x_close')
                except AssertionError:
                    continue
                raise ValueError('assertCalled passed for %r' % (wrong,))
        result = self.run_case(body)
        self.assertEqual(result.failures + result.errors, [])


if __name__ == '__main__':
    unittest.main()
