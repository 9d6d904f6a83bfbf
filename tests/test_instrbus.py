"""_instrbus: resource manager, resource search, sessions and attributes."""
import unittest

from support import sim, SimTestCase, TestCase, PY2, INV_OBJECT, RSRC_NFOUND, signed, run_example
import _instrbus as bus


RESOURCES = ['GPIB0::20::INSTR', 'TCPIP0::192.168.1.20::inst0::INSTR', 'GPIB0::24::INSTR',
             'USB0::0x3A5C::0x0207::P0012345::INSTR', 'GPIB0::9::INSTR', 'ASRL1::INSTR']

RSRC_NAME = 0xBFFF0002
MANF_NAME = 0xBFFF0072
MODEL_NAME = 0xBFFF0077
TMO_VALUE = 0x3FFF001A
INTF_TYPE = 0x3FFF0171
TERMCHAR = 0x3FFF0018
BAUD = 0x3FFF0021

NSUP_ATTR = signed(0xBFFF001D)
NSUP_ATTR_STATE = signed(0xBFFF001E)
ATTR_READONLY = signed(0xBFFF001F)
WARN_NULL_OBJECT = 0x3FFF0082


class Registration(TestCase):
    def test_plain_functions(self):
        self.assertIn('C++ signature:\n    FindRsrc(ViUInt32, ViConstString)', bus.FindRsrc.__doc__)
        self.assertEqual(bus.GetAttribute.__module__, '_instrbus')
        self.assertRaises(TypeError, bus.OpenDefaultRM, 1)
        self.assertRaises(TypeError, bus.Close, rm=1)


class BusTestCase(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.rm = bus.OpenDefaultRM()
        self.assertEqual(self.last_call('viOpenDefaultRM'), (sim.PTR,))
        sim.clear_journal()

    def find_all(self, expression):
        find_list, count, first = bus.FindRsrc(self.rm, expression)
        if count == 0:
            return []
        return [first] + [bus.FindNext(find_list) for _ in range(count - 1)]

    def open(self, name='GPIB0::20::INSTR'):
        s = bus.Open(self.rm, name, 0, 0)
        self.assertNotEqual(s, 0)
        return s


class Search(BusTestCase):
    def test_find_rsrc_gives_find_list_count_description_in_that_order(self):
        result = bus.FindRsrc(self.rm, '?*')
        self.assertIs(type(result), tuple)
        self.assertEqual(len(result), 3)
        find_list, count, first = result
        self.assertEqual((count, first), (len(RESOURCES), RESOURCES[0]))
        self.assertText(first, RESOURCES[0])
        self.assertEqual(self.last_call('viFindRsrc'), (self.rm, '?*', sim.PTR, sim.PTR, sim.PTR))
        self.assertEqual(bus.Close(find_list), 0)
        # Scripted outputs land in their own places, unsigned.
        sim.set_output('viFindRsrc', 2, 0xFFFFFFF0)
        sim.set_output('viFindRsrc', 3, 2)
        self.assertEqual(bus.FindRsrc(self.rm, 'GPIB?*')[:2], (0xFFFFFFF0, 2))
        self.assertGreater(self.rm, 2147483647)  # the resource manager itself is above 2^31
        if PY2:
            self.assertIs(type(self.rm), long)  # noqa: F821

    def test_find_next_walks_every_match_then_gives_empty(self):
        find_list, count, first = bus.FindRsrc(self.rm, '?*INSTR')
        walked = [first] + [bus.FindNext(find_list) for _ in range(count - 1)]
        self.assertEqual(walked, RESOURCES)
        self.assertEqual(self.last_call('viFindNext'), (find_list, sim.PTR))
        self.assertEqual(bus.FindNext(find_list), '')   # exhausted: status dropped
        self.assertEqual(bus.FindNext(12345), '')       # unknown find list
        self.assertEqual(bus.Close(find_list), 0)
        self.assertEqual(bus.Close(find_list), INV_OBJECT)

    def test_expressions(self):
        cases = [
            ('GPIB?*INSTR', ['GPIB0::20::INSTR', 'GPIB0::24::INSTR', 'GPIB0::9::INSTR']),
            ('TCPIP?*', ['TCPIP0::192.168.1.20::inst0::INSTR']),
            ('gpib0::?*', ['GPIB0::20::INSTR', 'GPIB0::24::INSTR', 'GPIB0::9::INSTR']),
            ('?*::0X3A5C::?*', ['USB0::0x3A5C::0x0207::P0012345::INSTR']),
            ('GPIB0::(9|24)::INSTR', ['GPIB0::24::INSTR', 'GPIB0::9::INSTR']),
            ('ASRL[0-9]+::INSTR', ['ASRL1::INSTR']),
            ('GPIB0::2?::INSTR', ['GPIB0::20::INSTR', 'GPIB0::24::INSTR']),
        ]
        for expression, expected in cases:
            self.assertEqual(self.find_all(expression), expected, expression)

    def test_character_classes(self):
        cases = [
            ('GPIB0::[0-9]::INSTR', ['GPIB0::9::INSTR']),
            ('GPIB0::2[^0]::INSTR', ['GPIB0::24::INSTR']),
            ('GPIB0::[12][04]::INSTR', ['GPIB0::20::INSTR', 'GPIB0::24::INSTR']),
            ('[a-f]SRL?*', ['ASRL1::INSTR']),               # case-insensitive
            ('[^GTU]?*', ['ASRL1::INSTR']),
            ('?*::inst[0-9]::?*', ['TCPIP0::192.168.1.20::inst0::INSTR']),
        ]
        for expression, expected in cases:
            self.assertEqual(self.find_all(expression), expected, expression)

    def test_no_match_gives_zero_count_and_empty_description(self):
        # The library writes nothing when it finds nothing: what comes back is
        # the wrapper's own zeroed outputs.
        for expression in ('VXI?*', 'GPIB0::[3-8]::INSTR', '?', '[', 'a\\', '*'):
            self.assertEqual(bus.FindRsrc(self.rm, expression), (0, 0, ''), expression)
        self.assertEqual(self.last_call('viFindRsrc')[1], '*')
        self.assertEqual(bus.FindRsrc(12345, '?*'), (0, 0, ''))  # not a resource manager

    def test_descriptions_stay_within_their_buffer(self):
        find_list, count, first = bus.FindRsrc(self.rm, '?*')
        sim.hostile()
        self.assertEqual(len(bus.FindNext(find_list)), 256)
        self.assertEqual(len(bus.FindRsrc(self.rm, '?*')[2]), 256)


class Sessions(BusTestCase):
    def test_open_passes_access_mode_and_timeout_unchanged(self):
        s = bus.Open(self.rm, 'GPIB0::24::INSTR', 1, 2500)
        self.assertEqual(self.last_call('viOpen'), (self.rm, 'GPIB0::24::INSTR', 1, 2500, sim.PTR))
        self.assertNotIn(s, (0, self.rm))
        bus.Open(self.rm, 'ASRL1::INSTR', 4, 4294967295)
        self.assertEqual(self.last_call('viOpen')[2:4], (4, 4294967295))
        self.assertRaises(OverflowError, bus.Open, self.rm, 'ASRL1::INSTR', 0, 4294967296)
        self.assertRaises(OverflowError, bus.Open, self.rm, 'ASRL1::INSTR', -1, 0)
        self.assertEqual(len(sim.calls('viOpen')), 2)

    def test_open_failures_give_session_zero(self):
        self.assertEqual(bus.Open(self.rm, 'GPIB0::21::INSTR', 0, 0), 0)
        self.assertEqual(bus.Open(12345, 'GPIB0::20::INSTR', 0, 0), 0)
        self.assertEqual(bus.Open(self.rm, 'GPIB0::20::INSTR', 3, 0), 0)   # two lock kinds
        first = bus.Open(self.rm, 'GPIB0::20::INSTR', 1, 0)
        self.assertEqual(bus.Open(self.rm, 'GPIB0::20::INSTR', 1, 0), 0)   # locked by first
        bus.Close(first)
        self.assertNotEqual(bus.Open(self.rm, 'GPIB0::20::INSTR', 1, 0), 0)

    def test_short_resource_names(self):
        for name, full in (('gpib::20', 'GPIB0::20::INSTR'), ('GPIB0::9', 'GPIB0::9::INSTR'),
                           ('TCPIP::192.168.1.20::INSTR', RESOURCES[1]),
                           ('usb0::0x3a5c::0x0207::p0012345', RESOURCES[3])):
            s = self.open(name)
            self.assertEqual(bus.GetAttribute(s, RSRC_NAME), full.encode('ascii'), name)

    def test_close_returns_the_status_and_raises_nothing(self):
        s = self.open()
        self.assertEqual(bus.Close(12345), INV_OBJECT)
        self.assertEqual(self.last_call('viClose'), (12345,))
        self.assertEqual(bus.Close(0), WARN_NULL_OBJECT)
        self.assertEqual(bus.Close(s), 0)
        self.assertEqual(bus.Close(s), INV_OBJECT)
        sim.fail('viClose', RSRC_NFOUND)
        self.assertEqual(bus.Close(self.rm), RSRC_NFOUND)

    def test_closing_the_resource_manager_closes_its_sessions(self):
        s = self.open()
        find_list = bus.FindRsrc(self.rm, '?*')[0]
        self.assertEqual(bus.Close(self.rm), 0)
        self.assertEqual(bus.Close(s), INV_OBJECT)
        self.assertEqual(bus.Close(find_list), INV_OBJECT)


class Attributes(BusTestCase):
    def test_text_attributes_are_raw_bytes(self):
        s = self.open('TCPIP0::192.168.1.20::inst0::INSTR')
        name = bus.GetAttribute(s, RSRC_NAME)
        self.assertIs(type(name), bytes)  # str on 2.7
        self.assertEqual(name, b'TCPIP0::192.168.1.20::inst0::INSTR')
        self.assertEqual(bus.GetAttribute(s, MANF_NAME), b'Quellbright Photonics')
        self.assertEqual(bus.GetAttribute(s, MODEL_NAME), b'QBM-30')
        self.assertEqual(self.last_call('viGetAttribute'), (s, MODEL_NAME, sim.PTR))
        sim.set_output('viGetAttribute', 2, b'\xb0\xff' * 100)
        self.assertEqual(bus.GetAttribute(s, RSRC_NAME), b'\xb0\xff' * 100)

    def test_numeric_attributes_are_their_four_little_endian_bytes_whole(self):
        s = self.open()
        self.assertEqual(bus.GetAttribute(s, TMO_VALUE), b'\xd0\x07\x00\x00')   # 2000
        self.assertEqual(bus.GetAttribute(s, INTF_TYPE), b'\x01\x00\x00\x00')   # GPIB
        for value, raw in [(256, b'\x00\x01\x00\x00'), (65536, b'\x00\x00\x01\x00'),
                           (0x01000001, b'\x01\x00\x00\x01'), (0, b'\x00' * 4),
                           (0x01020304, b'\x04\x03\x02\x01')]:
            self.assertEqual(bus.SetAttribute(s, TMO_VALUE, value), 0)
            self.assertEqual(bus.GetAttribute(s, TMO_VALUE), raw, value)
        a = self.open('ASRL1::INSTR')
        self.assertEqual(bus.SetAttribute(a, BAUD, 115200), 0)
        self.assertEqual(bus.GetAttribute(a, BAUD), b'\x00\xc2\x01\x00')
        # A one-byte value after a long text: nothing stale follows it.
        bus.GetAttribute(s, MANF_NAME)
        self.assertEqual(bus.GetAttribute(s, TERMCHAR), b'\n\x00\x00\x00')
        self.assertEqual(bus.GetAttribute(self.open('GPIB0::24::INSTR'), TMO_VALUE), b'\xd0\x07\x00\x00')  # per session

    def test_set_attribute_passes_the_whole_32_bit_value(self):
        s = self.open()
        self.assertEqual(bus.SetAttribute(s, TMO_VALUE, 4294967295), 0)
        self.assertEqual(self.last_call('viSetAttribute'), (s, TMO_VALUE, 4294967295))
        self.assertEqual(bus.GetAttribute(s, TMO_VALUE), b'\xff' * 4)

    def test_set_attribute_refuses_values_outside_32_bits_before_the_call(self):
        s = self.open()
        for value in (4294967296, -1, 2 ** 64):
            self.assertRaises(OverflowError, bus.SetAttribute, s, TMO_VALUE, value)
        for value in (2000.0, None, '2000'):
            self.assertRaises(TypeError, bus.SetAttribute, s, TMO_VALUE, value)
        self.assertRaises(OverflowError, bus.SetAttribute, s, 2 ** 32 + TMO_VALUE, 1)
        self.assertNotCalled('viSetAttribute')

    def test_set_attribute_returns_the_librarys_status(self):
        s = self.open()
        self.assertEqual(bus.SetAttribute(s, INTF_TYPE, 6), ATTR_READONLY)
        self.assertEqual(bus.SetAttribute(s, TERMCHAR, 256), NSUP_ATTR_STATE)
        self.assertEqual(bus.SetAttribute(s, 0x3FFF0FFF, 1), NSUP_ATTR)
        self.assertEqual(bus.SetAttribute(12345, TMO_VALUE, 1), INV_OBJECT)
        self.assertEqual(bus.SetAttribute(s, TERMCHAR, 13), 0)
        self.assertEqual(bus.GetAttribute(s, TERMCHAR), b'\r\x00\x00\x00')

    def test_failed_reads_give_empty(self):
        s = self.open()
        self.assertEqual(bus.GetAttribute(12345, RSRC_NAME), b'')
        self.assertEqual(bus.GetAttribute(s, 0x3FFF0FFF), b'\x00' * 4)   # unsupported: the zeroed value
        sim.fail('viGetAttribute', NSUP_ATTR)
        self.assertEqual(bus.GetAttribute(s, RSRC_NAME), b'GPIB0::20::INSTR')  # status dropped

    def test_hostile_library_keeps_reads_within_256_bytes(self):
        s = self.open()
        bus.SetAttribute(s, TMO_VALUE, 0xFFFFFFFF)  # no zero byte in the value
        sim.hostile()
        name = bus.GetAttribute(s, RSRC_NAME)
        self.assertEqual(len(name), 256)
        self.assertNotIn(b'\0', name)
        self.assertEqual(bus.GetAttribute(s, TMO_VALUE), b'\xff' * 4)   # leftovers after the value not read


class Example(unittest.TestCase):
    def test_lists_every_simulated_instrument(self):
        rc, out, err = run_example('list_instruments.py')
        self.assertEqual(rc, 0, err)
        lines = out.splitlines()
        self.assertEqual(lines[0], '6 instrument(s) match ?*INSTR')
        self.assertEqual([l.split()[0] for l in lines[1:]], RESOURCES)
        self.assertIn('MARROWICK INSTRUMENTS INC. MW-SX20', out)
        self.assertIn('ASRL   TARNWELL PHOTONICS TW-PC3', out)


if __name__ == '__main__':
    unittest.main()
