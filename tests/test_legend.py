"""The VISA type legend (drivers/visatypes.def) against what reads it: every
type the driver tables use has a row and is recorded as its row says; the
built modules' signatures, Python and C++, use only its names; a refused
argument's message says what its row takes."""
import io
import json
import os
import re
import shutil
import sys
import tempfile
import unittest

import support
from functions import MODULES, functions, result_items, signatures

sys.path.insert(0, os.path.join(support.ROOT, 'tools'))
import visatypes  # noqa: E402

LEGEND = visatypes.legend()
FRAME = [t for t in LEGEND.types if t.kind != 'none']  # the types an argument can have
RESULTS = ('str', 'bytes', 'None', 'ViReal64Vec', 'ViInt32Vec')  # binding/describe.hpp ret<>


def expected(t):
    """What the argument-mismatch message says a type takes, by its kind."""
    if t.kind == 'text':
        return 'str, bytearray or None' if support.PY2 else 'str, bytes, bytearray or None'
    if t.kind == 'buffer':
        return "writable buffer of '%s' items or None" % t.format
    return t.stub


class Rows(unittest.TestCase):

    def test_every_driver_parameter_has_a_row_and_its_record_kind(self):
        with open(os.path.join(support.BUILD, 'drivers', 'drivers.json')) as f:
            table = json.load(f)
        checked = 0
        for driver, fns in table.items():
            for fn in fns:
                for p in fn['params']:
                    base = p['declared'].replace('const', '').rstrip('*')
                    base = LEGEND.pointers.get(base, base)
                    where = '%s(%s)' % (fn['name'], p['name'])
                    if base == 'void':  # raw bytes
                        self.assertEqual((p['role'], p['type']), ('out_array', 'u8'), where)
                        continue
                    self.assertIn(base, LEGEND.names, where)
                    raw = p['role'] == 'out_array' and p['type'] == 'u8' and LEGEND.record(base) == 'text'
                    if not raw:
                        self.assertEqual(p['type'], LEGEND.record(base), where)
                    checked += 1
        self.assertGreater(checked, 1000)

    def test_a_pointer_is_the_type_of_its_c_type(self):
        # as the frame converts it: ViChar* is char* (ViString), a buffer's
        # item by any of its names, a pointer typedef as its pointer
        self.assertIs(LEGEND.find('ViChar*'), LEGEND.find('ViString'))
        for buffer in LEGEND.of_kind('buffer'):
            item = LEGEND.names[buffer.name[:-1]]
            for name in [n for n, t in LEGEND.names.items() if t is item]:
                self.assertIs(LEGEND.find(name + '*'), buffer, name)
        for name, target in LEGEND.pointers.items():
            self.assertIs(LEGEND.find(name), LEGEND.find(target + '*'), name)

    def test_a_table_that_does_not_read_is_refused(self):
        tmp = tempfile.mkdtemp()
        try:
            for rows, error in (('VISA_TYPE(ViInt8, int8_t, int, int)\n', 'takes'),
                                ('VISA_ALIAS(ViByte, ViInt8)\n', 'no row above'),
                                ('VISA_TYPE(A, int8_t, int, int, i8)\nVISA_TYPE(B, int8_t, int, int, i8)\n', 'C type'),
                                ('VISA_TYPE(A, int8_t, int, int, i8)\nVISA_BUFFER(A, b, 0, ABuffer)\n', 'format'),
                                ('typedef int ViInt;\n', 'not a row')):
                path = os.path.join(tmp, 'types.def')
                with io.open(path, 'w') as f:
                    f.write(u'/* columns */\n' + rows)
                with self.assertRaises(visatypes.LegendError) as cm:
                    visatypes.Legend(visatypes.rows(path))
                self.assertIn(error, str(cm.exception))
        finally:
            shutil.rmtree(tmp)


class Signatures(unittest.TestCase):

    def test_python_signatures_use_only_the_legends_stub_names(self):
        stubs = set(t.stub for t in FRAME)
        for module, _, _, _ in MODULES:
            for name, fn in functions(module):
                for params, result in signatures(fn):
                    self.assertEqual(set(params) - stubs, set(), '%s.%s' % (module, name))
                    self.assertEqual(set(result_items(result)) - stubs - set(RESULTS), set(), '%s.%s' % (module, name))

    def test_cxx_signatures_use_only_the_legends_names(self):
        names = set(t.name for t in FRAME) | set(['ViChar[]', 'void'])  # void: no arguments
        for module, _, _, _ in MODULES:
            for name, fn in functions(module):
                for line in fn.__doc__.split('C++ signature:\n')[1].split('\n'):
                    types = re.match(r'^    \w+\((.*)\)$', line).group(1).split(', ')
                    self.assertEqual(set(types) - names, set(), line)

    def test_a_refused_argument_is_told_what_its_row_takes(self):
        sample = {'int': 0, 'real': 0.0, 'text': None, 'buffer': None}
        by_stub = dict((t.stub, t) for t in FRAME)
        told = set()
        for module, _, _, _ in MODULES:
            for name, fn in functions(module):
                sigs = set(fn.__self__.signatures)
                if len(sigs) != 1:
                    continue
                params = signatures(fn)[0][0]
                for k, stub in enumerate(params):
                    if stub in told:
                        continue
                    args = [sample[by_stub[p].kind] for p in params]
                    args[k] = []
                    with self.assertRaises(TypeError) as cm:
                        fn(*args)
                    self.assertEqual(str(cm.exception).split('\n')[-1], 'argument %d: %s expected, got list'
                                     % (k + 1, expected(by_stub[stub])), '%s.%s' % (module, name))
                    told.add(stub)
        # every type some function takes
        used = set(p for module, _, _, _ in MODULES for _, fn in functions(module)
                   for params, _ in signatures(fn) for p in params)
        self.assertEqual(told, used)


if __name__ == '__main__':
    unittest.main()
