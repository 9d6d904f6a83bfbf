"""What the stub and index generators read besides the built modules: the
driver declarations in drivers/ and the registrations in modules/<dir>/*.cpp.

    decls = driver_declarations()            # {'hp816x_close': Decl, ...}
    regs = registrations('photonbay', decls)  # [Registration, ...] in order

A Registration says which driver function a Python function calls, whether it
is a pass-through (m.def("x", prefix_x) or bind::guarded<prefix_x, ...>), and -- where its Python parameters
are the driver function's input parameters, in the driver's order -- the
driver's parameter names for them (for the frame functions, which call no
driver function, the names of their own definition).
"""
import glob
import io
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Module name -> (source directory, driver prefix, what it drives).
MODULES = [
    ('_photonbay', 'photonbay', 'hp816x_', 'optical mainframe (hp816x driver)'),
    ('_smeter', 'smeter', 'KE2400_', 'source-measure unit (KE2400 driver)'),
    ('_powerprobe', 'powerprobe', 'PM100D_', 'optical power meter (PM100D driver)'),
    ('_polshaper', 'polshaper', 'hp8169_', 'polarization controller (hp8169 driver)'),
    ('_instrbus', 'instrbus', 'vi', 'instrument bus (the VISA library)'),
]

# Python names whose driver function is not prefix + name.
IRREGULAR = {
    ('_photonbay', 'PWM_internalTrigger'): 'hp816x_set_PWM_internalTrigger',
    ('_powerprobe', 'getPowerAutoRange'): 'PM100D_getPowerAutorange',
    ('_powerprobe', 'getPowerRef'): 'PM100D_getPowerRange',
}

if os.path.join(ROOT, 'tools') not in sys.path:
    sys.path.insert(0, os.path.join(ROOT, 'tools'))
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


class Registration(object):
    """One m.def of a module, in registration order."""

    def __init__(self, name, expr, source):
        self.name = name      # Python name
        self.expr = expr      # the registered C++ expression
        self.source = source  # file, relative to the root
        self.driver = None    # driver function called, or None (frame functions)
        self.passthrough = False
        self.opener = False   # Q::opener: its result is a new session
        self.inputs = None    # number of leading driver parameters that are the Python ones, or None
        self.own_names = None  # parameter names of a frame function's own definition

    def input_params(self, decls):
        """(names, Python types) of the Python parameters as the sources say
        them: the driver's input parameters, or a frame function's own names
        (types None: not checked); None where they cannot be said."""
        if self.driver is None and self.own_names is not None:
            return (list(self.own_names), None) if all(self.own_names) else None
        if self.inputs is None or self.driver not in decls:
            return None
        params = decls[self.driver].params
        head, tail = params[:self.inputs], params[self.inputs:]
        if any(p.name is None for p in head) or not all(p.is_pointer for p in tail):
            return None
        return [p.name for p in head], [p.py_type for p in head]

    def param_names(self, decls, py_types):
        """Driver parameter names for the Python parameters of types
        `py_types`, or None where they do not line up with the driver's."""
        found = self.input_params(decls)
        if found is None or len(found[0]) != len(py_types):
            return None
        names, types = found
        if types is not None and types != list(py_types):
            return None
        return names


# Python 3's keywords (the same list whichever interpreter runs the tools).
KEYWORDS = frozenset(
    'False None True and as assert async await break class continue def del elif else except finally for '
    'from global if import in is lambda nonlocal not or pass raise return try while with yield'.split())


def safe_names(names):
    """Parameter names usable in Python: keywords get a trailing _, repeats a number."""
    seen, out = set(), []
    for n in names:
        if n in KEYWORDS:
            n += '_'
        base, k = n, 2
        while n in seen:
            n, k = '%s%d' % (base, k), k + 1
        seen.add(n)
        out.append(n)
    return out


def _description_file(directory, root):
    """{Python name: (what it does, [what each parameter named by position is])}
    from modules/<dir>/descriptions.txt: "name: text" lines, each followed by
    "    aN: text" lines where the parameters are named a0, a1, ..."""
    out = {}
    path = os.path.join(root, 'modules', directory, 'descriptions.txt')
    if not os.path.exists(path):
        return out
    name = None
    with io.open(path, encoding='utf-8') as f:
        for number, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith('#'):
                continue
            key, sep, text = line.partition(':')
            key, text = key.strip(), text.strip()
            if raw[:1].isspace():
                if not sep or name is None or key != 'a%d' % len(out[name][1]) or not text:
                    raise ValueError('%s:%d: not "    a%d: parameter" after a function\'s line'
                                     % (path, number, len(out[name][1]) if name else 0))
                out[name][1].append(text)
                continue
            if not sep or not re.match(r'^\w+$', key) or not text:
                raise ValueError('%s:%d: not "name: description"' % (path, number))
            if key in out:
                raise ValueError('%s:%d: %s described twice' % (path, number, key))
            name = key
            out[name] = (text, [])
    return out


def descriptions(directory, root=ROOT):
    """{Python name: what it does} from modules/<dir>/descriptions.txt, the one
    place the docstrings and docs/functions.md take it from."""
    return dict((k, v[0]) for k, v in _description_file(directory, root).items())


_POSITIONAL = {}


def positional(module, root=ROOT):
    """{Python name: [what a0, a1, ... are]} of a module's wrappers whose
    Python parameters are not the driver function's leading inputs (reordered,
    or a count that only sizes the result), from its descriptions.txt (read
    once)."""
    if (module, root) not in _POSITIONAL:
        directory = [d for m, d, _, _ in MODULES if m == module][0]
        _POSITIONAL[(module, root)] = dict((k, v[1]) for k, v in _description_file(directory, root).items() if v[1])
    return _POSITIONAL[(module, root)]


# ---- C text -------------------------------------------------------------------------

def strip_comments(text):
    """C/C++ text without comments (string and character literals kept)."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            j = text.find('\n', i)
            i = n if j < 0 else j
        elif text.startswith('/*', i):
            j = text.find('*/', i + 2)
            out.append(' ')
            i = n if j < 0 else j + 2
        elif c in '"\'':
            j = _literal_end(text, i)
            out.append(text[i:j])
            i = j
        else:
            out.append(c)
            i += 1
    return ''.join(out)


def _literal_end(text, i):
    quote, j = text[i], i + 1
    while j < len(text) and text[j] != quote:
        j += 2 if text[j] == '\\' else 1
    return j + 1


def matching(text, i):
    """Index just past the bracket that closes the one at text[i]."""
    close = {'(': ')', '[': ']', '{': '}'}
    stack, j = [], i
    while j < len(text):
        c = text[j]
        if c in '"\'':
            j = _literal_end(text, j)
            continue
        if c in close:
            stack.append(close[c])
        elif c in ')]}':
            if not stack or stack.pop() != c:
                raise ValueError('unbalanced %r at %d' % (c, j))
            if not stack:
                return j + 1
        j += 1
    raise ValueError('unclosed %r at %d' % (text[i], i))


def split_top(text, sep=',', angles=True):
    """Split at `sep` outside brackets and literals; <...> counts as brackets
    in declarations (angles=True), not in expressions (a < b, p->x)."""
    parts, depth, start, j = [], 0, 0, 0
    while j < len(text):
        c = text[j]
        if c in '"\'':
            j = _literal_end(text, j)
            continue
        if c in '([{' or (angles and c == '<'):
            depth += 1
        elif c in ')]}' or (angles and c == '>'):
            depth -= 1
        elif c == sep and depth == 0:
            parts.append(text[start:j].strip())
            start = j + 1
        j += 1
    last = text[start:].strip()
    if last or parts:
        parts.append(last)
    return parts


# ---- driver declarations ------------------------------------------------------------

def driver_declarations(root=ROOT):
    """{name: Decl} of the driver tables (tools/drivertable.py)."""
    sys.path.insert(0, os.path.join(root, 'tools'))
    try:
        import drivertable
    finally:
        sys.path.pop(0)
    decls = {}
    for _, _, fns in drivertable.table():
        for fn in fns:
            params = [Param('ViConstString' if p['declared'] == 'constViChar*' else p['declared'], p['name'])
                      for p in fn['params']]
            decls[fn['name']] = Decl(fn['returns'], fn['name'], params, fn['header'])
    return decls


# ---- module registrations -----------------------------------------------------------

class _Sources(object):
    def __init__(self, directory, root):
        self.files = []
        for path in sorted(glob.glob(os.path.join(root, 'modules', directory, '*.[ch]pp'))):
            with open(path) as f:
                self.files.append((os.path.relpath(path, root), strip_comments(f.read())))

    def definition(self, name):
        """(file, parameter text, body text) of the function `name` defined in the sources."""
        pattern = re.compile(r'\b%s\s*\(' % re.escape(name))
        for rel, text in self.files:
            for m in pattern.finditer(text):
                open_paren = m.end() - 1
                try:
                    close = matching(text, open_paren)
                except ValueError:
                    continue
                rest = re.match(r'\s*(?:const\s*)?(?:noexcept\s*)?\{', text[close:])
                if not rest:
                    continue
                # A definition, not a call: the name follows its result type.
                before = text[:m.start()].rstrip()
                if not before or not (before[-1].isalnum() or before[-1] in '_>*&:') or \
                        re.search(r'\b(return|else|do)$', before):
                    continue
                brace = close + rest.end() - 1
                return rel, text[open_paren + 1:close - 1], text[brace + 1:matching(text, brace) - 1]
        return None


_DEF = re.compile(r'\bm\.def\s*\(')
_CALL = re.compile(r'\b(\w+)\s*\(\s*m\s*\)\s*;')
_QUERY = re.compile(r'^Q::(out|unchecked)\s*<\s*(\d+)\s*,\s*(\w+)\s*>$')
_OPENER = re.compile(r'^Q::opener\s*<\s*(\w+)\s*>$')
_FIRST = re.compile(r'^Q::first_element\s*<\s*(\w+)\s*>$')
_REPLY = re.compile(r'^bind::sized_reply\s*<\s*(\w+)\s*>$')
_TEMPLATE = re.compile(r'^(\w+)\s*<\s*(\w+)\s*(?:,[^<>]*)?>$')
_GUARDED = re.compile(r'^bind::guarded\s*<\s*(\w+)\s*,', re.S)
_LAMBDA = re.compile(r'^\[\s*\]\s*\(', re.S)
_PASS = re.compile(r'^bind::pass\s*<\s*(\w+)\s*>$')


def _param_names(text):
    names = []
    for p in split_top(text):
        m = re.search(r'(\w+)\s*$', p)
        names.append(m.group(1) if m else None)
    return names


def _strip_cast(arg):
    arg = arg.strip()
    m = (re.match(r'^\(\s*\w+\s*\)\s*(\w+)$', arg) or re.match(r'^static_cast\s*<[^>]*>\s*\(\s*(\w+)\s*\)$', arg)
         or re.match(r'^(\w+)\.(?:data|get)\(\)$', arg))  # a frame buffer argument handed on
    return m.group(1) if m else arg


def _call_of(callee, body):
    """The call of `callee` in `body`, made directly or through bind::call."""
    return re.search(r'(?:\b(bind::call)\s*\(\s*(?=%s\s*,)|\b%s\s*\()' % ((re.escape(callee),) * 2), body)


def _leading_inputs(params, body, callee):
    """How many leading arguments of the call `callee(...)` in `body` are the
    wrapper's own parameters, one for one; None unless that is all of them."""
    m = _call_of(callee, body)
    if not m:
        return None
    args = split_top(body[m.end():matching(body, m.end() - 1) - 1], angles=False)
    if m.group(1):  # bind::call(callee, args...)
        args = args[1:]
    names = _param_names(params)
    if len(args) < len(names) or [_strip_cast(a) for a in args[:len(names)]] != names:
        return None
    return len(names)


def registrations(directory, decls, module=None, prefix=None, root=ROOT):
    """The module's m.def entries in registration order, each resolved."""
    for mod, d, pfx, _ in MODULES:
        if d == directory:
            module, prefix = module or mod, prefix or pfx
    src = _Sources(directory, root)
    entry = None
    for rel, text in src.files:
        m = re.search(r'\bBIND_MODULE\s*\(\s*%s\s*,\s*m\s*\)\s*\{' % re.escape(module), text)
        if m:
            entry = (rel, text[m.end():matching(text, m.end() - 1) - 1])
    if entry is None:
        raise ValueError('no BIND_MODULE(%s, m) in modules/%s' % (module, directory))
    regs = []
    _walk(src, entry[0], entry[1], regs, set())
    for r in regs:
        _resolve(r, src, decls, module, prefix)
    return regs


def _walk(src, rel, body, regs, seen):
    pos = 0
    while True:
        d, c = _DEF.search(body, pos), _CALL.search(body, pos)
        if d and (not c or d.start() < c.start()):
            end = matching(body, d.end() - 1)
            inner = body[d.end():end - 1]
            name_m = re.match(r'\s*"([^"]*)"\s*,', inner)
            if not name_m:
                raise ValueError('%s: cannot read %r' % (rel, inner[:60]))
            regs.append(Registration(name_m.group(1), inner[name_m.end():].strip(), rel))
            pos = end
        elif c:
            pos = c.end()
            name = c.group(1)
            if name in seen:
                continue
            found = src.definition(name)
            if found:
                seen.add(name)
                _walk(src, found[0], found[2], regs, seen)
        else:
            return


def _resolve(r, src, decls, module, prefix):
    rule = IRREGULAR.get((module, r.name), prefix + r.name)
    r.driver = rule if rule in decls else None
    expr = ' '.join(r.expr.split())
    named = None  # the driver function the expression names itself
    if _PASS.match(expr):  # the driver function itself, in a driver section
        expr = _PASS.match(expr).group(1)
    if re.match(r'^\w+$', expr) and expr in decls:
        named, r.passthrough = expr, True
        r.inputs = len(decls[expr].params)
    elif _GUARDED.match(expr):  # the driver function with its buffers checked for room
        named, r.passthrough = _GUARDED.match(expr).group(1), True
        r.inputs = len(decls[named].params) if named in decls else None
    elif _QUERY.match(expr):
        m = _QUERY.match(expr)
        named = m.group(3)
        r.inputs = len(decls[named].params) - int(m.group(2)) if named in decls else None
    elif _OPENER.match(expr):
        named, r.opener = _OPENER.match(expr).group(1), True
        r.inputs = len(decls[named].params) - 1 if named in decls else None
    elif _FIRST.match(expr):
        named = _FIRST.match(expr).group(1)
        r.inputs = 3
    elif _REPLY.match(expr):
        named = _REPLY.match(expr).group(1)
        r.inputs = 4
    elif _LAMBDA.match(r.expr.strip()):
        text = r.expr.strip()
        open_paren = text.index('(')
        close = matching(text, open_paren)
        brace = text.index('{', close)
        body = text[brace + 1:matching(text, brace) - 1]
        if r.driver:
            r.inputs = _leading_inputs(text[open_paren + 1:close - 1], body, r.driver)
        else:
            r.own_names = _param_names(text[open_paren + 1:close - 1])
    else:
        template = _TEMPLATE.match(expr)
        fname = template.group(1) if template else (expr if re.match(r'^\w+$', expr) else None)
        found = src.definition(fname) if fname else None
        if template:
            named = template.group(2)
        if found and not r.driver:
            r.own_names = _param_names(found[1])
        if found and r.driver:
            callee = 'F' if template else r.driver
            r.inputs = _leading_inputs(found[1], found[2], callee)
            if not template and r.inputs is not None and not _call_of(r.driver, found[2]):
                r.inputs = None
    if named is not None and named != r.driver:
        raise ValueError('%s: %s is registered with %s, but its driver function is %s'
                         % (r.source, r.name, named, r.driver))
