"""What the stub, index and docstring generators read besides the built
modules: the module list, the driver tables (tools/drivertable.py) and each
module's descriptions (modules/<dir>/descriptions.txt).

    decls = driver_declarations()            # {'hp816x_close': Decl, ...}
    texts = descriptions('photonbay')         # {'close': 'Closes the session...', ...}

What a module's functions call and how their parameters are named the
built modules report themselves (fn.__self__.calls).
"""
import ast
import collections
import io
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))



def _module_names(root):
    """instrbind.MODULES of the source (binding/instrbind.py), the one list of
    the modules: read, not run (running it would hook the interpreter twice)."""
    with open(os.path.join(root, 'binding', 'instrbind.py')) as f:
        tree = ast.parse(f.read())
    for node in tree.body:
        if isinstance(node, ast.Assign) and [getattr(t, 'id', None) for t in node.targets] == ['MODULES']:
            return list(ast.literal_eval(node.value))
    raise ValueError('binding/instrbind.py: no MODULES')


if os.path.join(ROOT, 'tools') not in sys.path:
    sys.path.insert(0, os.path.join(ROOT, 'tools'))
import drivertable  # noqa: E402
import visatypes  # noqa: E402

LEGEND = visatypes.legend()


class Param(object):
    def __init__(self, ctype, name):
        self.ctype = ctype  # 'ViInt32', 'ViReal64*' (arrays as pointers), ...
        self.name = name    # None when the declaration leaves it out

    @property
    def is_pointer(self):
        return LEGEND.is_pointer(self.ctype)

    @property
    def py_type(self):
        """Its Python type as the module signatures write it (the type
        legend's stub); None: a pointer only the wrapper fills."""
        return LEGEND.stub(self.ctype)


class Decl(object):
    def __init__(self, result, name, params, header):
        self.result, self.name, self.params, self.header = result, name, params, header


def _description_file(directory, root):
    """{Python name: (what it does, [(parameter, what it is), ...])} from
    modules/<dir>/descriptions.txt: "name: text" lines, each followed by
    "    parameter: text" lines for a function of the module's own (its
    parameters' names) or one whose parameters are named by position (a0,
    a1, ... in order); and {fact: text} of its "@fact: text" lines ahead of
    them (@binds, @library, @opens: what the module's __doc__ says)."""
    out, facts = collections.OrderedDict(), {}
    path = os.path.join(root, 'modules', directory, 'descriptions.txt')
    if not os.path.exists(path):
        return out, facts
    name = None
    with io.open(path, encoding='utf-8') as f:
        for number, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith('#'):
                continue
            key, sep, text = line.partition(':')
            key, text = key.strip(), text.strip()
            if key.startswith('@'):  # a fact of the module
                if not sep or not text or name is not None or key[1:] in facts:
                    raise ValueError('%s:%d: not "@fact: text" ahead of the functions' % (path, number))
                facts[key[1:]] = text
                continue
            if raw[:1].isspace():
                params = out[name][1] if name else []
                by_position = re.match(r'^a\d+$', key) or (params and params[0][0] == 'a0')
                if (not sep or name is None or not text or not re.match(r'^[A-Za-z_]\w*$', key)
                        or (by_position and key != 'a%d' % len(params)) or key in [k for k, _ in params]):
                    raise ValueError('%s:%d: not "    parameter: text" (a%d if by position) after a function\'s line'
                                     % (path, number, len(params)))
                params.append((key, text))
                continue
            if not sep or not re.match(r'^\w+$', key) or not text:
                raise ValueError('%s:%d: not "name: description"' % (path, number))
            if key in out:
                raise ValueError('%s:%d: %s described twice' % (path, number, key))
            name = key
            out[name] = (text, [])
    return out, facts


_READ = {}


def _described(directory, root):
    if (directory, root) not in _READ:
        _READ[(directory, root)] = _description_file(directory, root)
    return _READ[(directory, root)]


def descriptions(directory, root=ROOT):
    """{Python name: what it does} from modules/<dir>/descriptions.txt, the one
    place the docstrings and docs/functions.md take it from."""
    return collections.OrderedDict((k, v[0]) for k, v in _described(directory, root)[0].items())


def parameters(directory, root=ROOT):
    """{Python name: [(parameter, what it is), ...]} of the functions whose
    parameters the descriptions name (a0, a1, ...: by position)."""
    return dict((k, v[1]) for k, v in _described(directory, root)[0].items() if v[1])


def module_facts(directory, root=ROOT):
    """{fact: text} of the module's descriptions (binds, library, opens)."""
    return _described(directory, root)[1]


def positional(module, root=ROOT):
    """{Python name: [what a0, a1, ... are]} of a module's wrappers whose
    Python parameters are not the driver function's leading inputs (reordered,
    or a count that only sizes the result)."""
    directory = [d for m, d, _, _ in MODULES if m == module][0]
    return dict((k, [t for _, t in v]) for k, v in parameters(directory, root).items() if v[0][0] == 'a0')


# ---- driver declarations ------------------------------------------------------------

def driver_declarations():
    """{name: Decl} of the driver tables (tools/drivertable.py)."""
    decls = {}
    for _, _, fns in drivertable.table():
        for fn in fns:
            params = [Param('ViConstString' if p['declared'] == 'constViChar*' else p['declared'], p['name'])
                      for p in fn['params']]
            decls[fn['name']] = Decl(fn['returns'], fn['name'], params, fn['header'])
    return decls


def modules(root=ROOT):
    """[(module, source directory, driver prefix, what it drives)] in
    instrbind.MODULES' order, each from its descriptions' @driver and @drives."""
    prefixes = dict((d['name'], d['prefix']) for d in drivertable.drivers(os.path.join(root, 'drivers', 'drivers.def')))
    out = []
    for name in _module_names(root):
        facts = module_facts(name.lstrip('_'), root)
        out.append((name, name.lstrip('_'), prefixes[facts['driver']], facts['drives']))
    return out


MODULES = modules()
