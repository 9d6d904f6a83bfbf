"""The simulated bench: slots holding modules, session timeouts, the whole
journal, and benches described in a file."""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from support import BUILD, ROOT, PARAM, SimTestCase, bench_file, driver_table, python_path, raw_call, sim

import _instrbus as ib
import _photonbay as pb

MAINFRAME = 'GPIB0::20::INSTR'
PARAMETER2 = -1074003966            # 0xBFFC0002
PARAMETER3 = -1074003965
SMALL = {'instruments': [{'resource': 'GPIB0::5::INSTR', 'driver': 'hp816x',
                          'slots': {'0': 'tunable laser', '1': 'power meter'}}]}


class Slots(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 0, 0)

    def test_slot_channel_and_module_kind_are_checked(self):
        s = self.s
        cases = [((6, 0), sim.INSTR_ERROR),     # the switch
                 ((99, 0), PARAMETER2), ((-1, 0), PARAMETER2), ((7, 0), PARAMETER2),
                 ((2, 7), PARAMETER3), ((2, 1), PARAMETER3), ((1, -1), PARAMETER3),
                 ((1, 1), 0), ((2, 0), 0)]
        for (slot, channel), status in cases:
            self.assertEqual(pb.set_PWM_wavelength(s, slot, channel, 1550e-9), status, (slot, channel))
        self.assertEqual(pb.error_query(s), (-241, 'Hardware missing'))
        self.assertEqual(pb.error_query(s)[0], 0)               # one error for the one wrong kind
        self.assertEqual(pb.set_TLS_wavelength(s, 1, 0, 1550e-9), sim.INSTR_ERROR)
        self.assertEqual(pb.error_query(s), (-241, 'Hardware missing'))
        self.assertEqual(pb.set_ATT_wavelength(s, 3, 0, 1550e-9), 0)
        self.assertEqual(pb.set_RLM_wavelength(s, 3, 1550e-9), sim.INSTR_ERROR)

    def test_the_driver_headers_mark_every_slot_and_channel_the_core_checks(self):
        sys.path.insert(0, os.path.join(ROOT, 'tools'))
        import drivertable
        checked = 0
        for driver, _, fns in drivertable.table():
            for fn in fns:
                slot = [p for p in fn['params'] if 'slot' in p]
                named = [p for p in fn['params'] if p['name'] in ('slot', 'PWMSlot') and p['role'] == 'in']
                self.assertEqual(slot, named, fn['name'])
                if slot and slot[0]['name'] == 'PWMSlot':
                    self.assertEqual([p['name'] for p in fn['params'] if p.get('channel')],
                                     [p['name'] for p in fn['params'] if p['name'] == 'channelNumber'], fn['name'])
                checked += len(slot)
                self.assertTrue(driver == 'hp816x' or not slot, fn['name'])
        self.assertEqual(checked, 197)
        fn = {'name': 'f', 'params': [{'name': 'slot', 'role': 'in'}, {'name': 'ch', 'role': 'in'},
                                      {'name': 'other', 'role': 'in', 'slot': 'AnyModule'}]}
        drivertable._slots(fn, ('slot', 'Switch', 'ch'))      # a parameter's own mark wins over the rule
        self.assertEqual([('slot' in p, 'channel' in p) for p in fn['params']],
                         [(False, False), (False, False), (True, False)])
        fn['params'][0]['slot'] = 'Switch'
        self.assertRaises(drivertable.TableError, drivertable._slots, fn, None)
        self.assertEqual(drivertable._param('f', 'ViSession BIND_ANY_SESSION vi')['any_session'], True)
        self.assertEqual(drivertable._param('f', 'ViChar name[] BIND_IN_TEXT')['role'], 'in_text')
        for misplaced in ('ViInt32 *count BIND_ANY_SESSION', 'ViString BIND_ANY_SESSION name'):
            self.assertRaises(drivertable.TableError, drivertable._param, 'f', misplaced)
        self.assertEqual(pb.WaitForOPC(self.s, 99, 0), PARAMETER2)   # marked by hand: any module
        self.assertEqual(pb.WaitForOPC(self.s, 6, 0), 0)

    def test_every_slot_function_is_refused_outside_the_mainframe_and_on_another_module(self):
        # The default mainframe's slots by module kind (hp816x.hpp).
        at = {'TunableLaser': 0, 'PowerMeters': 2, 'Attenuator': 3, 'ReturnLoss': 4, 'FixedLaser': 5, 'Switch': 6}
        functions = [fn for fn in driver_table('hp816x') if any('slot' in p for p in fn['params'])]
        self.assertEqual(len(functions), 197)
        for fn in functions:
            pos = [i for i, p in enumerate(fn['params']) if 'slot' in p][0]
            kinds = [p['slot'] for p in fn['params'] if 'slot' in p][0].split('|')
            lead = [self.s] + [0] * (pos - 1)
            for slot in (7, 99, -1):
                self.assertEqual(raw_call('hp816x', fn, *(lead + [slot])), PARAM + pos + 1, (fn['name'], slot))
            self.assertEqual(sim.calls(fn['name'])[-1][:pos + 1], tuple(lead + [-1]), fn['name'])
            other = [slot for kind, slot in sorted(at.items()) if kind not in kinds]
            if 'AnyModule' in kinds:
                continue
            self.assertEqual(raw_call('hp816x', fn, *(lead + [other[0]])), sim.INSTR_ERROR, fn['name'])
            self.assertEqual(pb.error_query(self.s), (-241, 'Hardware missing'), fn['name'])
        self.assertEqual(raw_call('hp816x', functions[0], 0x7777, 0), sim.INV_OBJECT)

    def test_every_function_on_a_session_refuses_an_unknown_one_and_journals_it(self):
        for driver in ('hp816x', 'KE2400', 'PM100D', 'hp8169', 'visa'):
            checked = [fn for fn in driver_table(driver) if fn['params'] and fn['params'][0]['declared'] ==
                       'ViSession' and fn['params'][0]['role'] == 'in' and not fn['params'][0].get('any_session')]
            self.assertTrue(checked or driver == 'visa', driver)
            for fn in checked:
                self.assertEqual(raw_call(driver, fn, 0x7777), sim.INV_OBJECT, fn['name'])
                self.assertEqual(sim.calls(fn['name'])[-1][0], 0x7777, fn['name'])

    def test_a_refused_call_changes_nothing(self):
        s = self.s
        before = pb.get_TLS_wavelength_Q(s, 0)[3]
        self.assertEqual(pb.set_TLS_wavelength(s, 9, 0, 1560e-9), PARAMETER2)
        self.assertEqual(pb.get_TLS_wavelength_Q(s, 0)[3], before)

    def test_a_checked_query_on_the_wrong_module_ends_the_process(self):
        r = sim.run_python('''
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 0, 0)
            print(pb.get_TLS_wavelength_Q(s, 2))       # a power meter
        ''')
        self.assertEqual(r.returncode, sim.exit_code(sim.INSTR_ERROR))
        self.assertIn('Hardware missing', r.stdout)
        self.assertIn('hp816x_error_query', [n for n, _ in r.journal])

    def test_read_all_lists_the_mainframes_channels(self):
        slots, channels, _ = pb.PWM_readAll(self.s)
        self.assertEqual(list(zip(slots, channels))[:4], [(1, 0), (1, 1), (2, 0), (0, 0)])
        kinds = pb.ViInt32Vec()
        kinds.extend([0] * 7)
        pb.getSlotInformation_Q(self.s, 7, kinds)
        self.assertEqual(list(kinds), [5, 2, 1, 7, 6, 3, 8])


class Timeouts(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 0, 0)

    def test_a_slow_call_fails_when_the_timeout_passes(self):
        s = self.s
        self.assertEqual(pb.timeOut_Q(s), 10000)
        self.assertEqual(pb.timeOut(s, -5), PARAMETER2)
        self.assertEqual(pb.timeOut_Q(s), 10000)
        self.assertEqual(pb.timeOut(s, 100), 0)
        sim.delay('hp816x_set_TLS_wavelength', 2)
        t0 = time.time()
        self.assertEqual(pb.set_TLS_wavelength(s, 0, 0, 1550e-9), sim.TMO)
        self.assertTrue(0.09 < time.time() - t0 < 1.0, time.time() - t0)
        self.assertEqual(pb.timeOut(s, 3000), 0)                # long enough now
        t0 = time.time()
        self.assertEqual(pb.set_TLS_wavelength(s, 0, 0, 1550e-9), 0)
        self.assertGreaterEqual(time.time() - t0, 1.9)
        other = pb.init(MAINFRAME, 0, 0)                        # a session of its own
        self.assertEqual(pb.timeOut_Q(other), 10000)

    def test_a_checked_query_ends_the_process_after_the_timeout(self):
        for script in ("sim.delay('hp816x_PWM_readValue', 2)",
                       "pb.set_PWM_averagingTime(s, 1, 0, 2.0); sim.pace(1)"):   # modelled time
            t0 = time.time()
            r = sim.run_python('''
                import _photonbay as pb
                import instrsim as sim
                s = pb.init('GPIB0::20::INSTR', 0, 0)
                pb.timeOut(s, 100)
                %s
                pb.PWM_readValue(s, 1, 0)
                print('not reached')
            ''' % script)
            self.assertLess(time.time() - t0, 1.8, script)       # the interpreter's start included
            self.assertEqual(r.returncode, sim.exit_code(sim.TMO), r)
            self.assertNotIn('not reached', r.stdout)
            self.assertIn('hp816x_PWM_readValue', [n for n, _ in r.journal])

    def test_visa_sessions_take_their_timeout_attribute(self):
        rm = ib.OpenDefaultRM()
        vi = ib.Open(rm, MAINFRAME, 0, 0)
        tmo = 0x3FFF001A                                       # VI_ATTR_TMO_VALUE
        def timeout():
            return struct.unpack('=I', ib.GetAttribute(vi, tmo)[:4])[0]
        self.assertEqual(timeout(), 2000)
        self.assertEqual(ib.SetAttribute(vi, tmo, 50), 0)
        sim.delay('viSetAttribute', 1)
        t0 = time.time()
        self.assertEqual(ib.SetAttribute(vi, tmo, 60), sim.TMO)
        self.assertLess(time.time() - t0, 0.5)
        sim.delay('viSetAttribute', 0)
        self.assertEqual(timeout(), 50)                        # the timed-out call set nothing


class Journal(SimTestCase):
    def test_every_call_is_kept(self):
        s = pb.init(MAINFRAME, 0, 0)
        for _ in range(150000):
            pb.timeOut(s, 5000)
        pb.reset(s)
        self.assertEqual(sim.calls('hp816x_reset'), [(s,)])
        self.assertEqual(sim.count('hp816x_timeOut'), 150000)
        self.assertEqual(sim.names()[-1], 'hp816x_reset')

    def test_the_journal_is_written_on_quick_exit(self):
        r = sim.run_python('''
            import ctypes
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 0, 0)
            pb.timeOut(s, 100)
            ctypes.CDLL(None).quick_exit(3)
        ''')
        self.assertEqual(r.returncode, 3)
        self.assertEqual([n for n, _ in r.journal], ['hp816x_init', 'hp816x_timeOut'])


class BenchFiles(SimTestCase):
    def tearDown(self):
        sim.configure()
        SimTestCase.tearDown(self)

    def bench(self, bench):
        path = bench_file(bench)
        self.addCleanup(os.remove, path)
        return path

    def test_the_file_named_at_load_is_the_bench(self):
        path = self.bench(SMALL)
        r = sim.run_python('''
            import _photonbay as pb, _instrbus as ib
            print(ib.FindRsrc(ib.OpenDefaultRM(), '?*INSTR')[1:])
            s = pb.init('GPIB0::5::INSTR', 0, 0)
            print(pb.PWM_readValue(s, 1, 0) < 0)
            print(pb.set_PWM_wavelength(s, 2, 0, 1550e-9))
            print('%d %r' % (pb.set_PWM_wavelength(s, 0, 0, 1550e-9), pb.error_query(s)))
        ''', env={'INSTRSIM_CONFIG': path})
        self.assertEqual(r.returncode, 0, r)
        self.assertEqual(r.stdout.split('\n'), [
            "(1, 'GPIB0::5::INSTR')", 'True', str(PARAMETER2),
            "%d (-241, 'Hardware missing')" % sim.INSTR_ERROR, ''])

    def test_configure_replaces_the_bench_and_resets(self):
        s = pb.init(MAINFRAME, 0, 0)
        path = self.bench({'instruments': [
            {'resource': 'GPIB0::7::INSTR', 'driver': 'hp816x', 'idn': 'Our Lab,MF-1,1,1.0',
             'slots': {'3': 'dual power meter'}, 'slot_count': 5},
            {'resource': 'ASRL4::INSTR', 'driver': 'hp8169'}]})
        sim.configure(path)
        self.assertEqual(sim.session_count(), 0)
        self.assertEqual(pb.timeOut(s, 100), sim.INV_OBJECT)     # sessions of the old bench are gone
        t = pb.init('GPIB0::7::INSTR', 0, 0)
        self.assertEqual(pb.getInstrumentId_Q('GPIB0::7::INSTR'), 'Our Lab,MF-1,1,1.0')
        self.assertEqual(pb.set_PWM_wavelength(t, 3, 1, 1550e-9), 0)
        self.assertEqual(pb.set_PWM_wavelength(t, 4, 0, 1550e-9), sim.INSTR_ERROR)   # empty
        self.assertEqual(pb.set_PWM_wavelength(t, 5, 0, 1550e-9), PARAMETER2)
        self.assertEqual(ib.FindRsrc(ib.OpenDefaultRM(), '?*')[1], 2)
        sim.reset()                                              # the bench stays
        self.assertEqual(ib.FindRsrc(ib.OpenDefaultRM(), '?*')[1], 2)
        sim.configure()
        self.assertEqual(ib.FindRsrc(ib.OpenDefaultRM(), '?*')[1], 6)

    def test_a_bad_file_is_refused_whole_and_says_where(self):
        good = {'resource': 'GPIB0::7::INSTR', 'driver': 'hp816x', 'slots': {'0': 'switch'}}
        cases = [
            ({'instruments': [good, {'resource': 'GPIB0::8::INSTR', 'driver': 'hp8164'}]},
             'instruments[1] (GPIB0::8::INSTR): unknown driver "hp8164" (hp816x, KE2400, PM100D, hp8169)'),
            ({'instruments': [good, {'resource': 'GPIB0::8::INSTR', 'driver': 'visa'}]},
             'unknown driver "visa" (hp816x, KE2400, PM100D, hp8169)'),      # not an instrument
            ({'instruments': [good, {'resource': 'GPIB0::8::INSTR', 'driver': 'hp816x',
                                     'slots': {'1': 'laser'}}]}, 'slot 1: unknown module "laser"'),
            ({'instruments': [good, dict(good)]}, 'instruments[1] (GPIB0::7::INSTR): the resource is listed twice'),
            ({'instruments': [dict(good, colour='red')]}, 'unknown key "colour"'),
            ({'instruments': [dict(good, slots={'x': 'switch'})]}, 'slot "x" is not a slot number'),
            ({'instruments': [dict(good, slots={'18': 'switch'})]}, 'slot "18" is not a slot number 0 to 17'),
            ({'instruments': [{'resource': 'GPIB0::8::INSTR', 'driver': 'KE2400', 'slots': {}}]},
             'only a mainframe (hp816x) has slots'),
            ({'instruments': [{'driver': 'KE2400'}]}, 'instruments[0]: "resource" is missing'),
            ({'devices': []}, 'unknown key "devices"'),
        ]
        for bench, message in cases:
            path = self.bench(bench)
            with self.assertRaises(ValueError) as e:
                sim.configure(path)
            self.assertIn(path + ': ', str(e.exception))
            self.assertIn(message, str(e.exception))
        for text, message in (('{"instruments": [}', "line 1: unexpected '}'"),
                              ('{"instruments": []} x', 'line 1: text after the bench'),
                              ('{"instruments": [],}', 'line 1: a string was expected')):
            path = self.bench({})
            with open(path, 'w') as f:
                f.write(text)
            self.assertIn(path + ': ' + message, self.refused(path))
        self.assertRaises(ValueError, sim.configure, path + '.missing')
        self.assertEqual(ib.FindRsrc(ib.OpenDefaultRM(), '?*')[1], 6)   # still the default bench
        pb.init(MAINFRAME, 0, 0)

    def write(self, data):
        path = self.bench({})
        with open(path, 'wb') as f:
            f.write(data)
        return path

    def refused(self, path):
        with self.assertRaises(ValueError) as e:
            sim.configure(path)
        return str(e.exception)

    def test_instruments_without_an_identity_get_their_drivers_with_a_serial(self):
        sys.path.insert(0, os.path.join(ROOT, 'tools'))
        import drivertable
        rows = [row for row in drivertable.drivers() if row['idn']]
        self.assertEqual([row['name'] for row in rows], ['hp816x', 'KE2400', 'PM100D', 'hp8169'])
        entries = [{'resource': 'GPIB0::%d::INSTR' % (n + 1), 'driver': row['name']} for n, row in enumerate(rows)]
        entries[0]['slots'] = {'0': 'tunable laser'}
        entries.append({'resource': 'GPIB0::9::INSTR', 'driver': 'KE2400', 'idn': 'Own,1,2,3'})
        sim.configure(self.bench({'instruments': entries}))
        for n, row in enumerate(rows):
            self.assertEqual(pb.getInstrumentId_Q('GPIB0::%d::INSTR' % (n + 1)), row['idn'] % ('%05d' % (n + 1)))
        self.assertEqual(pb.getInstrumentId_Q('GPIB0::9::INSTR'), 'Own,1,2,3')
        self.assertEqual(pb.getInstrumentId_Q('GPIB0::4::INSTR'), 'TARNWELL PHOTONICS,TW-PC3,TWS00004,1.2')

    def test_texts_are_latin_1_however_written_and_a_byte_order_mark_is_fine(self):
        entry = (b'{"instruments": [{"resource": "GPIB0::7::INSTR", "driver": "hp8169",\n'
                 b' "idn": "Lab %s,PC-1,1,1.0"}]}')
        expected = u'Lab \xb5\xe9,PC-1,1,1.0'.encode('latin-1')
        for spelling in (u'\xb5\xe9'.encode('utf-8'), b'\\u00b5\\u00E9', b'\\u00b5\xc3\xa9'):
            for bom in (b'', b'\xef\xbb\xbf'):
                sim.configure(self.write(bom + entry % spelling))
                idn = pb.getInstrumentId_Q('GPIB0::7::INSTR')
                self.assertEqual(idn if isinstance(idn, bytes) else idn.encode('latin-1'), expected)
        for spelling, message in ((u'\u20ac'.encode('utf-8'), 'line 2: the character U+20AC is not Latin-1'),
                                  (b'\\u20AC', 'line 2: the character U+20AC'),
                                  (b'\\ud83d\\ude00', 'line 2: the character U+1F600'),
                                  (b'\\ud83d', 'line 2: a lone surrogate \\uD83D'),
                                  (b'\xb5', 'line 2: not UTF-8 text (byte 0xB5)'),
                                  (b'\xc0\xb5', 'line 2: not UTF-8 text (byte 0xC0)')):
            path = self.write(entry % spelling)
            self.assertIn(path + ': ' + message, self.refused(path))
        self.assertIn('UTF-16', self.refused(self.write(u'\ufeff{}'.encode('utf-16-le'))))
        path = self.write(b'\xef\xbb\xbf' + entry % b'x')
        r = sim.run_python('import _polshaper as ps; print(ps.init("GPIB0::7::INSTR", 0, 0) > 0)',
                           env={'INSTRSIM_CONFIG': path})
        self.assertEqual((r.stdout, r.stderr), ('True\n', ''))
        path = self.write(b'{"instruments": [\n{"resource": "A\xc3\xa9::INSTR", "driver": "x"}]}')
        r = sim.run_python('import _instrbus', env={'INSTRSIM_CONFIG': path})
        self.assertIn('(A\\u00E9::INSTR): unknown driver "x"', r.stderr)     # ASCII on stderr
        self.assertTrue(all(ord(c) < 128 for c in r.stderr), r.stderr)

    def test_bad_numbers_and_control_characters_are_refused_naming_the_place(self):
        mainframe = (b'{"instruments": [\n  {"resource": "GPIB0::7::INSTR", "driver": "hp816x",\n'
                     b'   "slots": {"0": "switch"}, "slot_count": %s}]}')
        for number in (b'01', b'4.', b'-', b'1.e2', b'2e', b'-01'):
            path = self.write(mainframe % number)
            self.assertIn(path + ': line 3: a bad number ' + number.decode('ascii'), self.refused(path))
        for number in (b'1e300', b'-1e300', b'2.5', b'0'):                # no whole slot count of an int
            path = self.write(mainframe % number)
            self.assertIn('"slot_count" must be a whole number from 1 to 18', self.refused(path))
        sim.configure(self.write(mainframe % b'4.0e0'))                 # good JSON numbers still are
        sim.configure(self.write(mainframe % b'4'))
        entry = b'{"instruments": [{"resource": "%s", "driver": "hp8169", "idn": "%s"}]}'
        for resource, idn, message in ((b'GPIB0::7::INSTR\\n', b'x', '"resource" holds the control character U+000A'),
                                       (b'GPIB0::7::INSTR', b'a\\u0007b', '"idn" holds the control character U+0007'),
                                       (b'GPIB0::7::INSTR', b'a\xc2\x85', '"idn" holds the control character U+0085'),
                                       (b'GPIB0::7::INSTR', b'a\\u007f', '"idn" holds the control character U+007F'),
                                       (b'GPIB0::7::INSTR', b'a\tb', 'line 1: a control character in a string')):
            path = self.write(entry % (resource, idn))
            self.assertIn(path + ': ', self.refused(path))
            self.assertIn(message, self.refused(path))
        self.assertEqual(ib.FindRsrc(ib.OpenDefaultRM(), '?*')[1], 1)   # the last good file's bench

    def test_the_json_is_strict_and_each_refusal_names_its_line(self):
        def deep(n):
            return b'{"instruments": [], "x": ' + b'[' * n + b']' * n + b'}'
        entry = b'{"instruments": [{"resource": "%s"}]}'
        for text, message in (
                (b'{"instruments": [],\n "journal": true,\n "journal": false}', 'line 3: "journal" given twice'),
                (b'{"instruments": [{"resource": "A",\n "\\u0072esource": "B"}]}', 'line 2: "resource" given twice'),
                (b'{"instruments": [],\n "zz": 1, "aa": 2}', 'the file: unknown key "zz"'),       # in file order
                (deep(16), 'the file: unknown key "x"'), (deep(17), 'line 1: nested too deeply'),
                (b'{"instruments": []}\n\n]', 'line 3: text after the bench'),
                (b'{"instruments": []}\x00', 'line 1: text after the bench'),
                (b'{"instruments": [\x00]}', 'line 1: unexpected byte 0x00'),
                (b'\xef\xbb\xbf\xef\xbb\xbf{}', 'line 1: unexpected byte 0xEF'),                 # one mark only
                (b'\xef\xbb{}', 'line 1: unexpected byte 0xEF'),                             # a mark cut short
                (b'{"instruments": tru}', "line 1: unexpected 't'"),
                (b'{"instruments": [1 2]}', "line 1: ',' or ']' was expected"),
                (b'{"instruments": [1e5e5]}', 'line 1: a bad number 1e5e5 (JSON'),
                (b'{"instruments": [\n1e999]}', 'line 2: a bad number 1e999 (out of range)'),
                (b'{"instruments": [1e999e0]}', 'line 1: a bad number 1e999e0 (JSON'),
                (entry % b'a\\u0000b', 'line 1: \\u0000 in a string'),
                (entry % b'a\\qb', 'line 1: a bad escape \\q'),
                (entry % b'a\nb', 'line 1: a control character in a string'),                # the string's line
                (entry % b'\\ude00', 'line 1: a lone surrogate \\uDE00'),
                (entry % b'\\ud800\\ud83d', 'line 1: a lone surrogate \\uD800'),
                (entry % b'\xe2\x82', 'line 1: not UTF-8 text (byte 0xE2)'),
                (entry % b'\xc3\xa9\xb5', 'line 1: not UTF-8 text (byte 0xB5)'),
                (b'{"instruments": [\n\n"\\u00e9\\u0100"]}', 'line 3: the character U+0100 is not Latin-1'),
                (b'{"instruments": [{"resource": "abc', 'line 1: the string does not end')):
            path = self.write(text)
            self.assertIn(path + ': ' + message, self.refused(path))

    def test_a_directory_or_a_file_that_cannot_be_read_says_so(self):
        here = os.path.dirname(os.path.abspath(__file__))
        self.assertEqual(self.refused(here), here + ': a directory, not a bench file')
        missing = os.path.join(here, 'no-such-bench.json')
        self.assertIn(missing + ': cannot be read (', self.refused(missing))
        self.assertEqual(ib.FindRsrc(ib.OpenDefaultRM(), '?*')[1], 6)   # still the default bench

    def test_a_bad_file_at_load_leaves_no_instruments_and_says_why(self):
        path = self.bench({'instruments': [{'resource': 'GPIB0::8::INSTR', 'driver': 'nope'}]})
        r = sim.run_python('''
            import _instrbus as ib
            print(ib.FindRsrc(ib.OpenDefaultRM(), '?*')[1])
        ''', env={'INSTRSIM_CONFIG': path})
        self.assertEqual(r.stdout, '0\n')
        self.assertIn('instrsim: bench refused: %s: instruments[0]' % path, r.stderr)

    def test_a_core_without_its_bench_file_has_the_default_bench_built_in(self):
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp)
        shutil.copytree(os.path.join(BUILD, 'instrsim'), os.path.join(tmp, 'instrsim'))
        os.remove(os.path.join(tmp, 'instrsim', 'bench.json'))
        env = dict(os.environ, PYTHONPATH=python_path(tmp))
        env.pop('INSTRSIM_CONFIG', None)
        p = subprocess.Popen([sys.executable, '-c', 'import instrsim, _instrbus as ib, _photonbay as pb\n'
                              'rm = ib.OpenDefaultRM(); found, n, first = ib.FindRsrc(rm, "?*")\n'
                              'print("\\n".join([first] + [ib.FindNext(found) for i in range(n - 1)]))\n'
                              's = pb.init("TCPIP0::192.168.1.20::inst0::INSTR", 1, 0); idn = bytearray(256)\n'
                              'pb.cmdString_Q(s, "*IDN?", 256, idn); print(bytes(idn).rstrip(b"\\0").decode())\n'],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        out, err = p.communicate()
        self.assertEqual((p.returncode, err), (0, b''))
        with open(os.path.join(ROOT, 'sim', 'bench.json')) as f:
            instruments = json.load(f)['instruments']
        lines = out.decode('latin-1').splitlines()
        self.assertEqual(lines[:-1], [i['resource'] for i in instruments])
        self.assertEqual(lines[-1], instruments[1]['idn'])  # the second mainframe's


if __name__ == '__main__':
    unittest.main()
