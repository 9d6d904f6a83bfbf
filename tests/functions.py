"""The functions of the five modules as data, for the tests that go over all
of them (hostile drivers, argument fuzzing): registration order, Python
signatures (from each function's stub), driver function names, and a session
on a simulated instrument of the right kind.
"""
import importlib
import os
import re
import sys

import support

sys.path.insert(0, os.path.join(support.ROOT, 'tools'))
import modsrc  # noqa: E402

# module: resource of a simulated instrument, functions it registers
_TESTED = {
    '_photonbay': ('GPIB0::20::INSTR', 284),
    '_smeter': ('GPIB0::24::INSTR', 123),
    '_powerprobe': ('USB0::0x3A5C::0x0207::P0012345::INSTR', 76),
    '_polshaper': ('GPIB0::9::INSTR', 47),
    '_instrbus': ('GPIB0::20::INSTR', 7),
}
# (module, driver prefix, resource, functions), in the tools' order of the modules
MODULES = [(m, prefix) + _TESTED[m] for m, _, prefix, _ in modsrc.MODULES]
PREFIX = dict((m, p) for m, p, _, _ in MODULES)
RESOURCE = dict((m, r) for m, _, r, _ in MODULES)
COUNT = dict((m, n) for m, _, _, n in MODULES)



def load(module):
    return importlib.import_module(module)


def functions(module):
    """[(name, function)] in registration order (vector classes left out)."""
    mod = load(module)
    return [(k, v) for k, v in vars(mod).items()
            if callable(v) and not isinstance(v, type)
            and isinstance(getattr(getattr(v, '__self__', None), 'signatures', None), list)]


# The driver function each Python function calls, as its registration says
# (None: a function of the module's own); the journal shows what it calls.
DRIVER = dict(((m, name), fn.__self__.calls[0][0]) for m, _, _, _ in MODULES for name, fn in functions(m))
OWN = set(k for k, v in DRIVER.items() if v is None)


def driver_name(module, name):
    return DRIVER[(module, name)]


_SIG = re.compile(r'^\((.*)\) -> (.*)$')


def signatures(fn):
    """[(parameter types, result type)], one per overload, from the stubs:
    '(int, ViString) -> Tuple[int, str]' -> (['int', 'ViString'], 'Tuple[int, str]')."""
    out = []
    for stub in fn.__self__.signatures:
        m = _SIG.match(stub)
        params = [p.strip() for p in m.group(1).split(',')] if m.group(1).strip() else []
        out.append((params, m.group(2)))
    return out


def result_items(result_type):
    """'Tuple[int, str]' -> ['int', 'str']; 'str' -> ['str']."""
    if result_type.startswith('Tuple['):
        return [t.strip() for t in result_type[6:-1].split(',')]
    return [result_type]


def open_session(module):
    """A session of the module's driver on its simulated instrument; for
    _instrbus a (resource manager, instrument session) pair."""
    mod = load(module)
    if module == '_instrbus':
        rm = mod.OpenDefaultRM()
        return rm, mod.Open(rm, RESOURCE[module], 0, 0)
    return mod.init(RESOURCE[module], 0, 0)


def count():
    """Definitions over all modules (an overload set counts once per overload)."""
    return sum(len(fn.__self__.signatures) for m, _, _, _ in MODULES for _, fn in functions(m))
