"""The type stubs in stubs/ against the built modules: same functions in the
same order, each overload with the same parameter and result types, every
parameter positional-only, the vector classes with the live operations; and
the generated stubs and function index up to date with the modules.

The stubs use Python 3.8 syntax (positional-only parameters), so this runs
on Python 3.8 and later only.
"""
import ast
import importlib
import os
import re
import sys
import unittest

import support  # the build directory on sys.path
import instrbind  # noqa: E402

STUBS = os.path.join(support.ROOT, 'stubs')
TOOLS = os.path.join(support.ROOT, 'tools')
MODULES = instrbind.MODULES
VECTORS = {'ViReal64Vec': 'd', 'ViInt32Vec': 'i'}
TYPING = ('Iterable', 'Iterator', 'Optional', 'Tuple', 'Union')
BUILTIN_TYPES = ('int', 'float', 'str', 'bytes', 'bytearray', 'memoryview', 'bool', 'object', 'slice', 'None')

# The session NewTypes of the stubs, plain int in the modules' signatures.
SESSION_TYPES = re.compile(r'\b(Session|ResourceManager|FindList)\b')


def as_run_time(sig):
    """A stub signature with its session types as the module writes them (int)."""
    return re.sub(r'Union\[int(, int)*\]', 'int', SESSION_TYPES.sub('int', sig))


NEEDS_38 = unittest.skipIf(sys.version_info < (3, 8), 'the stubs use Python 3.8 syntax')


def annotation(node):
    """An annotation as the modules write their signatures: 'Tuple[int, str]'."""
    if node is None:
        return '?'
    if isinstance(node, ast.Name):
        return node.id
    if isinstance(node, ast.Attribute):
        return annotation(node.value) + '.' + node.attr
    if isinstance(node, ast.Constant):
        return 'None' if node.value is None else str(node.value)
    if isinstance(node, ast.Subscript):
        inner = node.slice.value if type(node.slice).__name__ == 'Index' else node.slice
        return '%s[%s]' % (annotation(node.value), annotation(inner))
    if isinstance(node, ast.Tuple):
        return ', '.join(annotation(e) for e in node.elts)
    raise ValueError('unexpected annotation %s' % ast.dump(node))


def signature(fn):
    args = fn.args
    params = list(getattr(args, 'posonlyargs', [])) + list(args.args)
    return '(%s) -> %s' % (', '.join(annotation(a.annotation) for a in params), annotation(fn.returns))


def parse(module):
    with open(os.path.join(STUBS, module + '.pyi')) as f:
        return ast.parse(f.read(), module + '.pyi')


def stub_functions(tree):
    """[(name, [signature, ...], [def node, ...])] of the top level, in order;
    the @overload variants of a name gathered under it."""
    out = []
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            if out and out[-1][0] == node.name:
                out[-1][1].append(signature(node))
                out[-1][2].append(node)
            else:
                out.append((node.name, [signature(node)], [node]))
    return out


def live_functions(module):
    """[(name, [distinct signatures])] of the module in registration order."""
    out = []
    for name, obj in vars(module).items():
        sigs = getattr(getattr(obj, '__self__', None), 'signatures', None)
        if callable(obj) and isinstance(sigs, list):
            distinct = []
            for s in sigs:
                if s not in distinct:
                    distinct.append(s)
            out.append((name, distinct))
    return out


def names_used(node):
    return set(n.id for n in ast.walk(node) if isinstance(n, ast.Name))


@NEEDS_38
class StubFunctionsTest(unittest.TestCase):

    def test_functions_and_signatures_match_the_module(self):
        for name in MODULES:
            with self.subTest(module=name):
                module = importlib.import_module(name)
                live = live_functions(module)
                stub = [(n, sigs) for n, sigs, _ in stub_functions(parse(name))]
                self.assertEqual([n for n, _ in stub], [n for n, _ in live], 'names or order differ')
                for (fn, stub_sigs), (_, live_sigs) in zip(stub, live):
                    self.assertEqual([as_run_time(s) for s in stub_sigs], live_sigs, '%s.%s' % (name, fn))

    def test_overload_sets(self):
        # ConfigureDO is registered twice with one signature: one def, no @overload.
        module = importlib.import_module('_smeter')
        self.assertEqual(len(module.ConfigureDO.__self__.signatures), 2)
        defs = dict((n, nodes) for n, _, nodes in stub_functions(parse('_smeter')))
        self.assertEqual(len(defs['ConfigureDO']), 1)
        self.assertEqual(defs['ConfigureDO'][0].decorator_list, [])
        # Several defs of one name only as @overload variants.
        for name in MODULES:
            for fn, _, nodes in stub_functions(parse(name)):
                if len(nodes) > 1:
                    for node in nodes:
                        self.assertEqual([annotation(d) for d in node.decorator_list], ['overload'], fn)

    def test_parameters_are_positional_only(self):
        for name in MODULES:
            for fn, _, nodes in stub_functions(parse(name)):
                for node in nodes:
                    a = node.args
                    self.assertEqual((a.args, a.kwonlyargs, a.vararg, a.kwarg, a.defaults),
                                     ([], [], None, None, []), '%s.%s' % (name, fn))
                    names = [p.arg for p in a.posonlyargs]
                    self.assertEqual(len(set(names)), len(names), '%s.%s' % (name, fn))

    def test_every_type_name_is_defined(self):
        # A signature with a type the stub header does not define would make
        # the whole stub unusable for a type checker.
        for name in MODULES:
            tree = parse(name)
            defined = set(BUILTIN_TYPES) | set(TYPING) | {'overload', 'WriteableBuffer'}
            for node in tree.body:
                if isinstance(node, ast.Assign):
                    defined.update(t.id for t in node.targets)
                elif isinstance(node, ast.ClassDef):
                    defined.add(node.name)
                elif isinstance(node, ast.ImportFrom):
                    self.assertIn(node.module, ('typing', '_typeshed'))
            for node in tree.body:
                if isinstance(node, ast.FunctionDef):
                    self.assertEqual(names_used(node) - defined, set(), '%s.%s' % (name, node.name))
            aliases = [t.id for node in tree.body if isinstance(node, ast.Assign) for t in node.targets]
            for t in legend().types:  # every text and buffer type of the legend
                if t.kind in ('text', 'buffer'):
                    self.assertIn(t.stub, aliases, name)


@NEEDS_38
class StubVectorsTest(unittest.TestCase):

    def stub_class(self, tree, cls):
        for node in tree.body:
            if isinstance(node, ast.ClassDef) and node.name == cls:
                return node
        self.fail('no class %s' % cls)

    def test_vector_operations_match_the_classes(self):
        ignored = {'__new__', '__doc__', '__reduce__', '__reduce_ex__', '__module__'}
        for name in MODULES:
            module = importlib.import_module(name)
            tree = parse(name)
            for cls, fmt in VECTORS.items():
                with self.subTest(module=name, cls=cls):
                    live = getattr(module, cls)
                    node = self.stub_class(tree, cls)
                    methods = [n.name for n in node.body if isinstance(n, ast.FunctionDef)]
                    own = set(k for k in vars(live) if k not in ignored)
                    self.assertEqual(own - set(methods), set(), 'operations missing from the stub')
                    buffer = {'__buffer__', '__release_buffer__'}  # methods from 3.12 on
                    self.assertEqual(set(methods) - own - {'__init__'} - buffer, set(),
                                     'stub operations the class lacks')
                    self.assertTrue(buffer <= set(methods))
                    self.assertEqual(memoryview(live()).format, fmt)
                    if sys.version_info >= (3, 12):
                        self.assertTrue(buffer <= own)

    def test_item_types(self):
        tree = parse('_photonbay')
        for cls, item in (('ViReal64Vec', 'float'), ('ViInt32Vec', 'int')):
            node = self.stub_class(tree, cls)
            getitem = [signature(n) for n in node.body if isinstance(n, ast.FunctionDef) and n.name == '__getitem__']
            self.assertEqual(getitem, ['(?, int) -> %s' % item, '(?, slice) -> %s' % cls])


def legend():
    """The VISA type legend (drivers/visatypes.def) as the tools read it."""
    if TOOLS not in sys.path:
        sys.path.insert(0, TOOLS)
    import visatypes
    return visatypes.legend()


def tools():
    """The generators (tools/), importable from here."""
    if TOOLS not in sys.path:
        sys.path.insert(0, TOOLS)
    import modsrc
    import gen_stubs
    import gen_index
    return modsrc, gen_stubs, gen_index


@NEEDS_38
class GeneratedFilesTest(unittest.TestCase):
    """stubs/ and docs/functions.md as the generators write them from the
    modules and sources now: regenerate with tools/gen_stubs.py and
    tools/gen_index.py after changing a module or a driver declaration."""

    @classmethod
    def setUpClass(cls):
        cls.modsrc, cls.gen_stubs, cls.gen_index = tools()
        cls.decls = cls.modsrc.driver_declarations()

    def test_stubs_are_current(self):
        for module_name, _, _, what in self.modsrc.MODULES:
            module = importlib.import_module(module_name)
            with open(os.path.join(STUBS, module_name + '.pyi')) as f:
                self.assertEqual(f.read(), self.gen_stubs.stub_text(module_name, what, module, self.decls),
                                 'stubs/%s.pyi is stale' % module_name)

    def test_function_index_is_current(self):
        with open(os.path.join(support.ROOT, 'docs', 'functions.md')) as f:
            self.assertEqual(f.read(), self.gen_index.index_text(), 'docs/functions.md is stale')

    def test_parameter_names(self):
        def stub_names(module, fn):
            defs = dict((n, nodes[0]) for n, _, nodes in stub_functions(parse(module)))
            return [a.arg for a in defs[fn].args.posonlyargs]

        def driver_names(driver, count):
            return [p.name for p in self.decls[driver].params[:count]]
        # The driver's names where the Python parameters are its inputs: a
        # pass-through, a generated query, an explicit wrapper, irregular names.
        for module, fn, driver, count in (
                ('_photonbay', 'set_ATT_attenuation', 'hp816x_set_ATT_attenuation', 5),
                ('_photonbay', 'get_TLS_power_Q', 'hp816x_get_TLS_power_Q', 2),
                ('_photonbay', 'get_TLS_powerData_Q', 'hp816x_get_TLS_powerData_Q', 3),
                ('_photonbay', 'PWM_internalTrigger', 'hp816x_set_PWM_internalTrigger', 4),
                ('_powerprobe', 'getPowerRef', 'PM100D_getPowerRange', 2),
                ('_instrbus', 'Open', 'viOpen', 4)):
            self.assertEqual(stub_names(module, fn), driver_names(driver, count), fn)
        # Positions where a wrapper's parameters are not the driver's: the
        # driver takes the count first, or the count only sizes the arrays.
        self.assertEqual(stub_names('_photonbay', 'get_TLS_wavelengthDataEx_Q'), ['a0', 'a1', 'a2'])
        self.assertEqual(stub_names('_photonbay', 'executeLambdaScan'), ['a0', 'a1'])
        self.assertEqual(stub_names('_photonbay', 'CheckError'), ['session', 'status'])

    def test_every_opener_gives_a_session(self):
        # The registrations that open a session, as the modules report them.
        openers = 0
        for module_name, _, _, _ in self.modsrc.MODULES:
            defs = dict((n, nodes[0]) for n, _, nodes in stub_functions(parse(module_name)))
            for name, overloads in self.gen_stubs.module_functions(importlib.import_module(module_name)):
                if any(kind == 'opener' for _, (_, kind, _) in overloads) or name in ('Open', 'OpenDefaultRM'):
                    openers += 1
                    self.assertIn(ast.dump(defs[name].returns), (ast.dump(ast.Name('Session', ast.Load())),
                                                                 ast.dump(ast.Name('ResourceManager', ast.Load()))),
                                  '%s.%s' % (module_name, name))
        self.assertEqual(openers, 10)


if __name__ == '__main__':
    unittest.main()
