"""The type legend: what each parameter type accepts and refuses, on both
interpreters, and that a refused call never reaches the driver."""
import decimal
import math
import os
import subprocess
import sysconfig
import unittest

from support import BUILD, ROOT, sim, SimTestCase, PY2, Index, Float
import _photonbay as pb

MAINFRAME = 'GPIB0::20::INSTR'


try:
    import numpy
except ImportError:
    numpy = None


class Refusing(object):
    """__index__ and __float__ that refuse, as numpy does for arrays."""
    def __index__(self):
        raise TypeError('no index')

    def __float__(self):
        raise TypeError('no float')


class Conversions(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 0, 0)
        sim.clear_journal()

    def accepts(self, call, fn, value, seen, pos):
        call(value)
        self.assertEqual(self.last_call(fn)[pos], seen)
        sim.clear_journal()

    def refuses(self, call, fn, value, error):
        self.assertRaises(error, call, value)
        self.assertNotCalled(fn)

    def check_integer(self, call, fn, pos, lo, hi):
        for v in (lo, hi, True, False):
            self.accepts(call, fn, v, int(v), pos)
        if PY2:
            self.accepts(call, fn, long(hi), hi, pos)  # noqa: F821
        for v in (lo - 1, hi + 1, 2 ** 64, -2 ** 64):
            self.refuses(call, fn, v, OverflowError)
        for v in (1.0, None, '1', b'1', [1], decimal.Decimal(1), Float(1.0), Refusing()):
            self.refuses(call, fn, v, TypeError)
        if PY2:
            self.refuses(call, fn, Index(), TypeError)
        else:  # __index__ as for int, with the same range checks
            for v in (lo, hi):
                self.accepts(call, fn, Index(v), v, pos)
            for v in (lo - 1, hi + 1, 2 ** 64):
                self.refuses(call, fn, Index(v), OverflowError)

    def test_uint32(self):
        self.check_integer(lambda v: pb.setBaudrate('ASRL1', v),
                           'hp816x_setBaudrate', 1, 0, 4294967295)

    def test_uint32_session(self):
        self.check_integer(lambda v: pb.close(v), 'hp816x_close', 0, 0, 4294967295)

    def test_int32(self):
        self.check_integer(lambda v: pb.timeOut(self.s, v), 'hp816x_timeOut', 1, -2 ** 31, 2 ** 31 - 1)

    def test_uint16(self):
        self.check_integer(lambda v: pb.errorQueryDetect(self.s, v), 'hp816x_errorQueryDetect', 1, 0, 65535)

    def test_overflow_messages_keep_the_text_and_name_function_and_argument(self):
        for call, text in ((lambda: pb.errorQueryDetect(self.s, 65536),
                            'errorQueryDetect() argument 2: bad numeric conversion: positive overflow'),
                           (lambda: pb.errorQueryDetect(self.s, -1),
                            "errorQueryDetect() argument 2: can't convert negative value to unsigned int"),
                           (lambda: pb.timeOut(self.s, -2 ** 31 - 1),
                            'timeOut() argument 2: bad numeric conversion: negative overflow'),
                           (lambda: pb.close(2 ** 32), 'close() argument 1: bad numeric conversion: positive overflow'),
                           (lambda: pb.dbmToWatt(self.s, 10 ** 400), 'dbmToWatt() argument 2: ' + ('long ' if PY2 else '') + 'int too large to convert to float')):
            with self.assertRaises(OverflowError) as cm:
                call()
            self.assertEqual(str(cm.exception), text)
        self.assertEqual(sim.journal(), [])

    def test_real64(self):
        call = lambda v: pb.dbmToWatt(self.s, v)
        for v, seen in ((1.5, 1.5), (-3, -3.0), (True, 1.0), (float('inf'), float('inf'))):
            self.accepts(call, 'hp816x_dbmToWatt', v, seen, 1)
        call(float('nan'))
        self.assertTrue(math.isnan(self.last_call('hp816x_dbmToWatt')[1]))
        sim.clear_journal()
        self.refuses(call, 'hp816x_dbmToWatt', 10 ** 400, OverflowError)
        for v in ('1', b'1', None, 1j, [1.0], Refusing()):
            self.refuses(call, 'hp816x_dbmToWatt', v, TypeError)
        if PY2:
            for v in (Float(2.5), Index(2), decimal.Decimal(1)):
                self.refuses(call, 'hp816x_dbmToWatt', v, TypeError)
        else:  # __float__ or __index__, as float() takes them
            for v, seen in ((Float(2.5), 2.5), (Index(-7), -7.0), (decimal.Decimal('0.5'), 0.5)):
                self.accepts(call, 'hp816x_dbmToWatt', v, seen, 1)
            self.refuses(call, 'hp816x_dbmToWatt', Index(10 ** 400), OverflowError)

    @unittest.skipIf(numpy is None, 'needs numpy')
    def test_numpy_scalars(self):
        if PY2:
            self.refuses(lambda v: pb.timeOut(self.s, v), 'hp816x_timeOut', numpy.int64(5), TypeError)
            return
        for t in (numpy.int64, numpy.int32, numpy.int16, numpy.uint8, numpy.uint32):
            self.accepts(lambda v: pb.timeOut(self.s, v), 'hp816x_timeOut', t(5), 5, 1)
            self.accepts(lambda v: pb.dbmToWatt(self.s, v), 'hp816x_dbmToWatt', t(3), 3.0, 1)
        self.accepts(lambda v: pb.setBaudrate('ASRL1', v), 'hp816x_setBaudrate', numpy.uint64(4294967295),
                     4294967295, 1)
        self.refuses(lambda v: pb.setBaudrate('ASRL1', v), 'hp816x_setBaudrate', numpy.int64(-1), OverflowError)
        self.refuses(lambda v: pb.timeOut(self.s, v), 'hp816x_timeOut', numpy.int64(2 ** 31), OverflowError)
        for v in (numpy.float32(0.5), numpy.float16(0.5), numpy.float64(0.5)):
            self.accepts(lambda v: pb.dbmToWatt(self.s, v), 'hp816x_dbmToWatt', v, 0.5, 1)
            self.refuses(lambda v: pb.timeOut(self.s, v), 'hp816x_timeOut', v, TypeError)
        # a numpy array is not a number, and a float array has no __index__
        self.refuses(lambda v: pb.timeOut(self.s, v), 'hp816x_timeOut', numpy.zeros(3), TypeError)
        with self.assertRaises(TypeError) as cm:
            pb.timeOut(self.s, numpy.float32(1.0))
        self.assertIn('did not match C++ signature', str(cm.exception))

    def test_overloads_still_resolve_by_kind(self):
        # ConfigureDO is registered twice: an __index__ object is an integer
        # for both, a text refused by both, nothing reaches the driver then
        import _smeter as smu
        s = smu.init('GPIB0::24::INSTR', 0, 0)
        sim.clear_journal()
        self.assertRaises(TypeError, smu.ConfigureDO, s, '1', 0.5, 0, 0)
        self.assertNotCalled('KE2400_ConfigureDO')
        if not PY2:
            smu.ConfigureDO(s, Index(3), Float(0.5), Index(1), Index(0))
            self.assertEqual(self.last_call('KE2400_ConfigureDO')[1:], (3, 0.5, 1, 0))

    def test_text_inputs(self):
        call = lambda v: pb.cmd(self.s, v)
        self.accepts(call, 'hp816x_cmd', '*CLS', '*CLS', 1)
        self.accepts(call, 'hp816x_cmd', None, None, 1)
        self.accepts(call, 'hp816x_cmd', 'A\0B', 'A', 1)  # C sees up to the zero byte
        long_text = 'X' * 1000
        self.accepts(call, 'hp816x_cmd', long_text, long_text, 1)
        for v in (1, 1.0, ['*CLS']):
            self.refuses(call, 'hp816x_cmd', v, TypeError)
        if PY2:
            self.refuses(call, 'hp816x_cmd', u'*CLS', TypeError)
        else:
            self.accepts(call, 'hp816x_cmd', b'*RST', '*RST', 1)
            self.accepts(call, 'hp816x_cmd', 'Temp \xb0C', 'Temp \xb0C', 1)
            self.refuses(call, 'hp816x_cmd', 'Ohm \u2126', UnicodeEncodeError)
        self.accepts(call, 'hp816x_cmd', bytearray(b'*TST?'), '*TST?', 1)

    def test_writable_byte_buffers_need_a_zero_byte_unless_bytearray(self):
        call = lambda v: pb.cmd(self.s, v)
        self.accepts(call, 'hp816x_cmd', memoryview(bytearray(b'AB\0')), 'AB', 1)
        self.refuses(call, 'hp816x_cmd', memoryview(bytearray(b'ABC')), TypeError)
        self.accepts(call, 'hp816x_cmd', bytearray(), '', 1)

    def test_python3_str_reply_buffer_is_a_private_copy(self):
        if PY2:
            return
        shared = 'K' * 300
        pb.cmdString_Q(self.s, '*IDN?', 300, shared)
        self.assertEqual(shared, 'K' * 300)

    def test_argument_count_and_keywords(self):
        for call in (lambda: pb.timeOut(self.s), lambda: pb.timeOut(self.s, 1, 2),
                     lambda: pb.timeOut(self.s, timeout=1), lambda: pb.timeOut(ihandle=self.s, timeout=1)):
            self.assertRaises(TypeError, call)
        self.assertNotCalled('hp816x_timeOut')

    def test_keywords_are_refused_by_name(self):
        with self.assertRaises(TypeError) as cm:
            pb.set_TLS_wavelength(self.s, 0, 0, wavelength=1.55e-6)
        self.assertEqual(str(cm.exception), "set_TLS_wavelength() takes positional arguments only; "
                                            "keyword arguments given: ['wavelength']")
        self.assertNotCalled('hp816x_set_TLS_wavelength')
        self.assertEqual(pb.timeOut(self.s, 1, **{}), 0)  # an empty keyword set is no keyword

    def test_mismatch_message_names_function_given_types_signature_and_argument(self):
        with self.assertRaises(TypeError) as cm:
            pb.timeOut(self.s, 1.5)
        self.assertEqual(str(cm.exception), 'Python argument types in\n    _photonbay.timeOut(int, float)\n'
                                            'did not match C++ signature:\n    timeOut(ViUInt32, ViInt32)\n'
                                            'argument 2: int expected, got float')
        # the first refused argument, with what its type takes
        text = 'str, bytearray or None' if PY2 else 'str, bytes, bytearray or None'
        for call, line in ((lambda: pb.cmd(self.s, 5), 'argument 2: %s expected, got int' % text),
                           (lambda: pb.set_TLS_wavelength(self.s, 0, 0, 'x'), 'argument 4: float expected, got str'),
                           (lambda: pb.set_TLS_wavelength('s', 0, 0, 'x'), 'argument 1: int expected, got str'),
                           (lambda: pb.getSlotInformation_Q(self.s, 1, [0]),
                            "argument 3: writable buffer of 'i' items or None expected, got list")):
            with self.assertRaises(TypeError) as cm:
                call()
            lines = str(cm.exception).split('\n')
            self.assertEqual((lines[2], lines[-1]), ('did not match C++ signature:', line))
        self.assertNotCalled('hp816x_cmd')

    def test_argument_count_message(self):
        import _smeter as smu
        for call, text in ((lambda: pb.PWM_readValue(self.s, 1), 'PWM_readValue() takes 3 arguments (2 given)'),
                           (lambda: pb.close(), 'close() takes 1 argument (0 given)'),
                           (lambda: pb.foo(None), 'foo() takes no arguments (1 given)'),
                           (lambda: smu.ConfigureDO(1, 2), 'ConfigureDO() takes 5 arguments (2 given)')):
            with self.assertRaises(TypeError) as cm:
                call()
            self.assertEqual(str(cm.exception), text)

    def test_an_overload_set_names_the_refused_argument_once(self):
        import _smeter as smu
        with self.assertRaises(TypeError) as cm:
            smu.ConfigureDO(1, '2', 0.5, 0, 0)
        lines = str(cm.exception).split('\n')
        self.assertEqual(lines[2:], ['did not match C++ signature:'] +
                         ['    ConfigureDO(ViUInt32, ViInt32, ViReal64, ViInt32, ViUInt16)'] * 2 +
                         ['argument 2: int expected, got str'])


class Results(SimTestCase):
    def test_unsigned_results_above_int32(self):
        s = pb.init(MAINFRAME, 0, 0)
        pb.standardTriggerConfiguration(s, -1, 2147483647, 2147483648, 4294967295)
        cfg = pb.standardTriggerConfiguration_Q(s)
        self.assertEqual(cfg, (-1, 2147483647, 2147483648, 4294967295))
        if PY2:
            self.assertEqual([type(v).__name__ for v in cfg], ['int', 'int', 'long', 'long'])
        for v in cfg:
            self.assertTrue(isinstance(v, int) or type(v).__name__ == 'long')


def compiles(registration, before=''):
    """(compiled, compiler output) of a module registering `registration`."""
    source = ('#include "bind.hpp"\n#include "hp816x_calls.hpp"\n%s\n'
              'BIND_MODULE(_probe, m) { m.def("close", %s); }\n' % (before, registration))
    p = subprocess.Popen(['g++', '-std=c++20', '-fsyntax-only', '-x', 'c++', '-', '-I', os.path.join(ROOT, 'binding'),
                          '-I', os.path.join(ROOT, 'drivers'), '-I', os.path.join(BUILD, 'drivers'),
                          '-isystem', sysconfig.get_paths()['include']],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    out = p.communicate(source.encode('ascii'))[0].decode('latin-1')
    return p.returncode == 0, out


@unittest.skipUnless(os.path.isfile('/usr/bin/g++') and os.path.isdir(os.path.join(BUILD, 'drivers')), 'g++')
class Registrations(unittest.TestCase):
    def test_a_driver_function_is_registered_only_through_the_frame(self):
        self.assertEqual(compiles('bind::pass<hp816x_close>'), (True, ''))
        ok, out = compiles('hp816x_close')  # would call the driver holding the interpreter, unlocked
        self.assertFalse(ok)
        self.assertIn('a driver function is registered through bind::pass<>', out)

    def test_a_wrapper_takes_the_driver_names_only_for_the_driver_parameters(self):
        own = ('static ViInt32 own(ViSession s, ViInt32 slot) { return s + slot; }\n'
               'static ViInt32 real(ViSession s, ViReal64 x) { return s + (ViInt32)x; }\n')
        self.assertEqual(compiles('bind::wraps<hp816x_set_ATT_attenuation>(own)', own), (True, ''))
        self.assertEqual(compiles('bind::around<hp816x_close>(own)', own), (True, ''))
        for wrong in ('hp816x_close>(own)', 'hp816x_set_ATT_attenuation>(real)'):  # too many; another type
            ok, out = compiles('bind::wraps<' + wrong, own)
            self.assertFalse(ok, wrong)
            self.assertIn("the parameters are not D's first ones", out)


if __name__ == '__main__':
    unittest.main()
