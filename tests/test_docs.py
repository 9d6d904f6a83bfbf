"""What help() and inspect show of every registered function: the text
signature with the stubs' parameter names (positional-only), the description
from modules/<dir>/descriptions.txt, the Python and C++ signatures, and the
function's own name as __qualname__ and in its repr; what each module says of
itself (__doc__, __version__, its session types)."""
import ast
import importlib
import inspect
import io
import os
import pickle
import pydoc
import re
import shutil
import sys
import tempfile
import unittest

import support
from functions import COUNT, MODULES, functions

PY2 = sys.version_info[0] == 2
sys.path.insert(0, os.path.join(support.ROOT, 'tools'))
import modsrc  # noqa: E402

DIRECTORY = dict((m, d) for m, d, _, _ in modsrc.MODULES)


def stub_names(module):
    """{function: [parameter names]} of stubs/<module>.pyi (first definition)."""
    with open(os.path.join(support.ROOT, 'stubs', module + '.pyi')) as f:
        tree = ast.parse(f.read())
    out = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef) and node.name not in out:
            out[node.name] = [a.arg for a in node.args.posonlyargs]
    return out


class Docstrings(unittest.TestCase):

    @unittest.skipIf(sys.version_info < (3, 8), 'the stubs need Python 3.8 to parse')
    def test_every_signature_has_the_stub_names_positional_only(self):
        checked = 0
        for module, _, _, count in MODULES:
            names = stub_names(module)
            for name, fn in functions(module):
                sig = inspect.signature(fn)
                self.assertEqual([p.name for p in sig.parameters.values()], names[name], '%s.%s' % (module, name))
                self.assertTrue(all(p.kind == p.POSITIONAL_ONLY for p in sig.parameters.values()), name)
                checked += len(fn.__self__.signatures)
        self.assertEqual(checked, sum(COUNT.values()))  # registrations: ConfigureDO twice

    def test_every_function_says_what_it_does_and_its_signatures(self):
        for module, _, _, _ in MODULES:
            texts = modsrc.descriptions(DIRECTORY[module])
            for name, fn in functions(module):
                doc = fn.__doc__
                self.assertTrue(doc and texts.get(name), '%s.%s has no description' % (module, name))
                self.assertIn(texts[name], doc)
                cxx = doc.split('C++ signature:\n')[1].split('\n')
                self.assertEqual(len(cxx), len(fn.__self__.signatures), name)
                self.assertTrue(all(line.startswith('    %s(' % name) for line in cxx), doc)
                if PY2:  # no text signature: the docstring starts with the call
                    self.assertTrue(doc.startswith(name + '('), doc)
                self.assertEqual(fn.__name__, name)
                self.assertEqual(fn.__module__, module)

    def test_modules_register_their_described_functions_in_the_descriptions_order(self):
        # Each descriptions.txt lists its module's functions in registration
        # order, after the two vector classes (2.7's module dicts keep no order).
        for module, _, _, count in MODULES:
            described = list(modsrc.descriptions(DIRECTORY[module]))
            names = support.public_names(importlib.import_module(module))
            expected = ['ViReal64Vec', 'ViInt32Vec'] + described
            self.assertEqual(sorted(names) if PY2 else names, sorted(expected) if PY2 else expected, module)
            self.assertEqual(len(described), count - (module == '_smeter'), module)  # ConfigureDO twice

    def test_module_facts_lead_and_parameter_lines_follow_their_function_in_order(self):
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp)
        os.makedirs(os.path.join(tmp, 'modules', 'x'))

        def read(text):
            with io.open(os.path.join(tmp, 'modules', 'x', 'descriptions.txt'), 'w', encoding='utf-8') as f:
                f.write(text)
            return modsrc._description_file('x', tmp)[0]
        read(u'@binds: a meter\n@opens: init()\nf: Does.\n')
        self.assertEqual(modsrc._description_file('x', tmp)[1], {'binds': 'a meter', 'opens': 'init()'})
        self.assertEqual(dict(read(u'# a0: not a parameter\nf: Does.\n    a0: session\n    a1: size\ng: Other.\n'
                                   u'h: Own.\n    session: the session\n    status: a status\n')),
                         {'f': ('Does.', [('a0', 'session'), ('a1', 'size')]), 'g': ('Other.', []),
                          'h': ('Own.', [('session', 'the session'), ('status', 'a status')])})
        for bad in (u'f: Does.\n    a1: size\n', u'    a0: session\nf: Does.\n', u'f: Does.\n    a0:\n',
                    u'f: Does.\n    a0: s\n    a0: t\n', u'f: Does.\n    a0: s\n    size: t\n',
                    u'f: Does.\n    s: x\n    s: y\n', u'f: Does.\n    2s: x\n', u'f: Does.\n@binds: x\n',
                    u'@binds: x\n@binds: y\n', u'@binds:\n'):
            self.assertRaises(ValueError, read, bad)

    def test_help_shows_signature_description_and_types(self):
        import _photonbay as pb
        text = pydoc.plain(pydoc.render_doc(pb.PWM_readValue))
        if not PY2:
            self.assertIn('PWM_readValue(ihandle, PWMSlot, channelNumber, /)', text)
        self.assertIn("Measures and returns a channel's power, in its power unit (0 dBm, 1 W)", text)
        self.assertIn('PWM_readValue(ihandle: int, PWMSlot: int, channelNumber: int) -> float', text)
        self.assertIn('C++ signature:\n        PWM_readValue(ViUInt32, ViInt32, ViInt32)', text)
        # parameters named by position are explained in the docstring, and
        # the frame's own have their names
        self.assertIn('a1: N: values per result vector', pb.executeLambdaScan.__doc__)
        self.assertIn('status: a status a driver function returned', pb.CheckError.__doc__)
        self.assertIn('CheckError(session: int, status: int) -> None', pb.CheckError.__doc__)

    def test_a_function_is_named_as_itself(self):
        import _photonbay as pb
        import _smeter as smu
        self.assertIs(pickle.loads(pickle.dumps(smu.ConfigureDO)), smu.ConfigureDO)
        if not PY2:  # 2.7 names every function with a self a method
            self.assertEqual(repr(pb.init), '<built-in function init>')
            self.assertEqual(pb.init.__qualname__, 'init')
            self.assertEqual(str(inspect.signature(pb.foo)), '()')

    def test_c_string_escapes(self):
        import gen_docs
        self.assertEqual(gen_docs.c_string(u'a "b" \\ \n\xb0'), '"a \\"b\\" \\\\ \\n\\302\\260"')
        self.assertEqual(gen_docs.c_string(None), 'nullptr')


# Arguments that select by number, whose codes each docstring must list as
# "name: 0 this, 1 that" (two codes at least), and quantities whose unit it
# must give as "name in <unit>" (or "name: ..." with the unit in the codes).
SELECTORS = {
    '_photonbay': ['selection', 'wavelengthSelection', 'powerSelection', 'powerUnit', 'unit', 'laserState',
                   'rangeMode', 'sweepMode', 'repeatMode', 'laserSource'],
    '_polshaper': ['select'],
    '_powerprobe': ['unit', 'autoRange', 'state', 'attribute'],
    '_smeter': ['function', 'measurementFunction'],
}
QUANTITIES = {
    '_photonbay': ['wavelength', 'startWavelength', 'stopWavelength', 'stepSize', 'power', 'dwellTime'],
    '_polshaper': ['position', 'epsilon', 'theta'],
    '_powerprobe': [],
    '_smeter': [],
}


def parameter_names(name, doc):
    """The parameter names of the docstring's Python signature line,
    'f(a: int, b: float) -> int' (every overload's)."""
    out = []
    for inside in re.findall(r'^\s*%s\((.*)\) -> ' % name, doc, re.M):
        out += [p.split(':')[0].strip() for p in inside.split(',') if p.strip()]
    return out


class Codes(unittest.TestCase):
    def missing(self, module):
        out = []
        for name, fn in functions(module):
            doc = fn.__doc__
            for arg in parameter_names(name, doc):
                if arg in SELECTORS[module] and not re.search(
                        r'\b%s: -?\d+ [^,;]+(, -?\d+ [^,;]+)+' % arg, doc):
                    out.append('%s(%s): no codes' % (name, arg))
                if arg in QUANTITIES[module] and not re.search(r'\b%s( and \w+)* in \S' % arg, doc) \
                        and not re.search(r'\b(\w+, )*%s(, \w+)* and \w+ in \S' % arg, doc):
                    out.append('%s(%s): no unit' % (name, arg))
        return out

    def test_every_selector_lists_its_codes_and_every_quantity_its_unit(self):
        for module in SELECTORS:
            self.assertEqual(self.missing(module), [], module)

    def test_the_codes_where_the_modules_differ(self):
        import _photonbay as pb, _polshaper as pol, _powerprobe as pm
        self.assertIn('wavelengthSelection: 0 the value given, 1 minimum, 2 default, 3 maximum; wavelength in m',
                      pb.set_TLS_wavelength.__doc__)
        self.assertIn('select: 0 the value given, 1 minimum, 2 maximum, 3 default', pol.setPolPos.__doc__)
        self.assertIn('powerUnit: 0 dBm, 1 W', pb.set_PWM_powerUnit.__doc__)
        self.assertIn('unit: 0 W, 1 dBm', pm.setPowerUnit.__doc__)
        self.assertIn('in m: (minimum, default, maximum, current)', pb.get_TLS_wavelength_Q.__doc__)
        self.assertIn('34 entries', pb.PWM_readAll.__doc__)
        self.assertIn('slot 0, channel 0 and power 0.0', pb.PWM_readAll.__doc__)


def project_version():
    with open(os.path.join(support.ROOT, 'pyproject.toml')) as f:
        return re.search(r'^version = "([^"]+)"$', f.read(), re.M).group(1)


class Modules(unittest.TestCase):
    LIBRARIES = {'_photonbay': 'hp816x_32', '_smeter': 'KE2400_32', '_powerprobe': 'PM100D_Drv_32',
                 '_polshaper': 'hp8169_32', '_instrbus': 'VISA32'}

    def test_every_module_directory_is_a_module_instrbind_lists_with_its_driver(self):
        import instrbind
        self.assertEqual([m for m, _, _, _ in modsrc.MODULES], list(instrbind.MODULES))
        self.assertEqual(sorted(d for _, d, _, _ in modsrc.MODULES),
                         sorted(os.listdir(os.path.join(support.ROOT, 'modules'))))
        prefixes = [d['prefix'] for d in modsrc.drivertable.drivers()]
        self.assertEqual(sorted(p for _, _, p, _ in modsrc.MODULES), sorted(prefixes))  # one driver each

    def test_the_six_versions_are_pyprojects(self):
        import instrbind
        version = project_version()
        found = dict((m, importlib.import_module(m).__version__) for m in list(self.LIBRARIES) + ['instrbind'])
        self.assertEqual(found, dict((m, version) for m in found))

    def test_each_module_says_what_it_binds_and_where_the_index_is(self):
        for module, library in self.LIBRARIES.items():
            doc = importlib.import_module(module).__doc__
            self.assertTrue(doc.startswith('%s %s: binds ' % (module, project_version())), doc)
            for part in (library, 'docs/functions.md', module + '.pyi', 'help(%s.' % module):
                self.assertIn(part, doc)

    def test_session_types_are_int_and_not_functions(self):
        for module, _, _, _ in MODULES:
            mod = importlib.import_module(module)
            names = ['Session'] + (['ResourceManager', 'FindList'] if module == '_instrbus' else [])
            for name in names:
                self.assertIs(getattr(mod, name), int)
                self.assertNotIn(name, dict(functions(module)))
            self.assertEqual(mod.Session(4294967295), 4294967295)


if __name__ == '__main__':
    unittest.main()
