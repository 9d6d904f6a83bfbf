"""The driver tables: every driver function as its header in drivers/ declares
it, with each parameter's role (by its type, or the BIND_* mark beside it; see
drivers/visatypes.h) and its record kind (by the type legend, drivers/visatypes.def).

    python tools/drivertable.py OUTDIR

writes, per driver library (drivers/drivers.def):
    OUTDIR/<driver>_calls.hpp    for the module: each driver function behind a
                                 recording wrapper of the same signature
    OUTDIR/<driver>_bodies.h     for the simulated library's own sources: the
                                 declarations of its functions' bodies,
                                 body_<name>(call, parameters...)
    OUTDIR/<driver>_exports.cpp  the simulated library's exports: a replayed
                                 call is answered from the recording; any other
                                 is journaled, its session checked (but for a
                                 BIND_ANY_SESSION one) and goes to body_<name>
    OUTDIR/<driver>_exports.def  the same exports' names, for MSVC's 32-bit
                                 link (undecorated __stdcall names)
    OUTDIR/<driver>_indexes.h    for a driver with slots: the simulator's table
                                 of the functions that address one
    OUTDIR/drivers.json          the table, for the tools
Runs on Python 2.7 and 3.
"""
from __future__ import print_function

import io
import json
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DRIVERS = os.path.join(os.path.dirname(HERE), 'drivers')

_DRIVER_ROW = re.compile(r'^SIM_DRIVER\((.*)\)\s*$')
_FIELDS = ('name', 'prefix', 'header', 'target', 'file', 'idn')


def drivers(path=os.path.join(DRIVERS, 'drivers.def')):
    """[{name, prefix, header, target, file, idn}]: the rows of drivers/drivers.def."""
    out = []
    with io.open(path, encoding='ascii') as f:
        for line in f:
            m = _DRIVER_ROW.match(line.rstrip())  # a row starts its line
            if m:
                values = re.findall(r'"([^"]*)"', m.group(1))
                if len(values) != len(_FIELDS):
                    raise TableError('drivers/drivers.def: cannot read %r' % line.strip())
                out.append(dict(zip(_FIELDS, values)))
    return out

if HERE not in sys.path:
    sys.path.insert(0, HERE)
import visatypes  # noqa: E402

LEGEND = visatypes.legend()
SLOT = re.compile(r'\bBIND_SLOT\s*\(([\w\s|]+)\)')
SLOTS = re.compile(r'\bBIND_SLOTS\s*\(\s*(\w+)\s*,\s*([\w\s|]+?)\s*(?:,\s*(\w+)\s*)?\)')
MARK = re.compile(r'\bBIND_(ITEMS|READS|TEXT|RAW|ROOM|IN_TEXT|ANY_SESSION)\b(?:\s*\(((?:[^()]|\([^()]*\))*)\))?')
DECL = re.compile(r'(ViStatus|ViInt32)\s+_VI_FUNC\s+(\w+)\s*\(((?:[^()]|\((?:[^()]|\([^()]*\))*\))*)\)\s*;')


class TableError(Exception):
    pass


def _sources(header):
    """[(file, text)]: the header and the headers it includes from drivers/, in
    order, comments gone."""
    with io.open(os.path.join(DRIVERS, header), encoding='ascii') as f:
        text = f.read()
    text = re.sub(r'/\*.*?\*/', ' ', text, flags=re.S)
    text = re.sub(r'//[^\n]*', ' ', text)
    out = [('drivers/' + header, text)]
    for m in re.finditer(r'#include\s+"([\w/]+\.h)"', text):
        if m.group(1) != 'visatypes.h':
            out += _sources(m.group(1))
    return out


def _kinds(text):
    return '|'.join(k.strip() for k in text.split('|'))


def _param(fn, text):
    """{name, role, type, size?, slot?} of one C parameter."""
    slot = SLOT.search(text)
    text = SLOT.sub('', text)
    mark = MARK.search(text)
    role_mark, size = (mark.group(1), mark.group(2)) if mark else (None, None)
    decl = MARK.sub('', text).strip()
    m = re.match(r'^(const\s+)?(\w+)\s*(\*?)\s*(\w+)\s*(\[\])?$', decl)
    if not m:
        raise TableError('%s: cannot read parameter %r' % (fn, text))
    const, ctype, star, name, brackets = m.groups()
    pointer = bool(star or brackets)
    if ctype in LEGEND.pointers:
        ctype, pointer = LEGEND.pointers[ctype], True
    record = 'u8' if ctype == 'void' else LEGEND.record(ctype)  # void *: raw bytes (BIND_RAW)
    p = {'name': name}
    is_text = LEGEND.kind(ctype) == 'text'
    if is_text or (ctype == 'ViChar' and (const or role_mark == 'IN_TEXT')):
        p.update(role='in_text', type='text')
    elif record is None:
        raise TableError('%s: parameter %s of unknown type %s' % (fn, name, ctype))
    elif not pointer:
        p.update(role='in', type=record)
        if role_mark == 'ANY_SESSION':
            p['any_session'] = True
    elif role_mark == 'READS':
        p.update(role='in_array', type=record, size=size)
    elif role_mark in ('ITEMS', 'ROOM'):
        p.update(role='out_array', type=record, size=size if role_mark == 'ITEMS' else 'room')
    elif role_mark == 'RAW':
        p.update(role='out_array', type='u8', size=size)
    elif ctype == 'ViChar':
        p.update(role='out_text', type='text', size=size if role_mark == 'TEXT' else '256')
    elif brackets or ctype == 'void':
        raise TableError('%s: array %s needs a BIND_ mark with its size' % (fn, name))
    else:
        p.update(role='out', type=record)
    if role_mark == 'ANY_SESSION' and not p.get('any_session'):
        raise TableError('%s: BIND_ANY_SESSION marks a session, not %s' % (fn, name))
    if slot:
        p['slot'] = _kinds(slot.group(1))
    p['ctype'] = ('const ' if const else '') + ctype + (' *' if pointer and not is_text else '')
    p['declared'] = (('const ' if const else '') + m.group(2) + ('*' if star or brackets else '')).replace(' ', '')
    return p


def _split(params):
    out, depth, cur = [], 0, ''
    for ch in params:
        if ch == ',' and depth == 0:
            out.append(cur)
            cur = ''
            continue
        depth += ch == '('
        depth -= ch == ')'
        cur += ch
    out.append(cur)
    return [p.strip() for p in out if p.strip() and p.strip() != 'void']


def _slots(fn, rule):
    """Marks the parameters a slot rule names: the slot (its kinds), the channel."""
    marked = [p for p in fn['params'] if 'slot' in p]
    if rule and not marked:
        for p in fn['params']:
            if p['name'] == rule[0] and p['role'] == 'in':
                p['slot'] = rule[1]
                marked.append(p)
    if len(marked) > 1:
        raise TableError('%s: more than one slot parameter' % fn['name'])
    if marked and rule and rule[2]:
        for p in fn['params'][fn['params'].index(marked[0]) + 1:]:
            if p['name'] == rule[2] and p['role'] == 'in':
                p['channel'] = True


def table():
    """[(driver, header, [ {name, returns, header, params: [...]} ])] in the
    headers' order; a parameter's `declared` is its type as written (ViPSession).
    A function returns its status (ViStatus), or else a ViInt32 value."""
    libs = []
    for row in drivers():
        driver, header = row['name'], row['header']
        fns = []
        for path, text in _sources(header):
            rule = None  # the header's slot rule in force: (slot, kinds, channel)
            events = sorted([(m.start(), 'rule', m) for m in SLOTS.finditer(text)] +
                            [(m.start(), 'decl', m) for m in DECL.finditer(text)], key=lambda e: e[0])
            for _, what, m in events:
                if what == 'rule':
                    rule = (m.group(1), _kinds(m.group(2)), m.group(3))
                    continue
                fn = {'name': m.group(2), 'returns': m.group(1), 'header': path,
                      'params': [_param(m.group(2), p) for p in _split(m.group(3))]}
                _slots(fn, rule)
                fns.append(fn)
        if not fns:
            raise TableError('%s declares no driver function' % header)
        libs.append((driver, header, fns))
    return libs


def _size(expr, names, outputs_known):
    """A size expression as C++ (max/min, *p of outputs)."""
    if expr == 'room':
        return 'bind::rec::room()' if outputs_known else '-1'
    used = set(re.findall(r'\*\s*(\w+)', expr))
    if used and not outputs_known:
        return '-1'
    for w in re.findall(r'[A-Za-z_]\w*', expr):
        if w not in names and w not in ('max', 'min') and not w.isupper():
            raise TableError('size %r names %s, not a parameter' % (expr, w))
    expr = re.sub(r'\bmax\s*\(', 'calls::most(', expr)
    expr = re.sub(r'\bmin\s*\(', 'calls::least(', expr)
    return '(long long)(%s)' % re.sub(r'\*\s*(\w+)', r'calls::value_of(\1)', expr)


def _params_cpp(fn, outputs_known):
    names = set(p['name'] for p in fn['params'])
    items = []
    for p in fn['params']:
        role, name = p['role'], p['name']
        if role in ('in', 'in_text', 'out'):
            items.append('calls::%s("%s", %s)' % (role, name, name))
        else:
            items.append('calls::%s("%s", %s, %s)' % (role, name, name, _size(p['size'], names, outputs_known)))
    return items


def _declared(params):
    return ['%s%s%s' % (p['ctype'], '' if p['ctype'].endswith('*') else ' ', p['name']) for p in params]


def _signature(fn, prefix=''):
    return '%s _VI_FUNC %s%s(%s)' % (fn['returns'], prefix, fn['name'], ', '.join(_declared(fn['params'])))


def _args(fn):
    return ', '.join(p['name'] for p in fn['params'])


# Python 3's keywords (the same list whichever interpreter runs the tools).
KEYWORDS = frozenset(
    'False None True and as assert async await break class continue def del elif else except finally for '
    'from global if import in is lambda nonlocal not or pass raise return try while with yield'.split())


def python_names(names):
    """Parameter names usable in Python: keywords get a trailing _, repeats a
    number (so the names of a function's first k parameters are the first k
    of its names)."""
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


def calls_hpp(driver, header, fns):
    out = ['// Generated by tools/drivertable.py from drivers/%s: do not edit.' % header,
           '// Each driver function behind a wrapper of its signature that records the',
           '// call when a recording is on (binding/record.hpp); the module names the',
           '// wrapper where it names the function; raw_<name>() is the function itself.',
           '#pragma once', '#include "%s"' % header, '#include "record.hpp"', '',
           'namespace bind {', 'namespace recorded {']
    for fn in fns:
        params = _params_cpp(fn, True)
        out += ['BIND_RECORDING inline %s {' % _signature(fn, 'recorded_'),
                '    const rec::Start t0_ = rec::start();',
                '    const ViStatus r_ = ::%s(%s);' % (fn['name'], _args(fn)),
                '    const calls::Param p_[] = {%s};' % ', '.join(params) if params else
                '    const calls::Param* p_ = nullptr;',
                '    rec::made("%s", t0_, r_, p_, %d);' % (fn['name'], len(params)),
                '    return r_;', '}',
                'inline %s noexcept {' % _signature(fn),
                '    return rec::on() ? recorded_%s(%s) : ::%s(%s);' % (fn['name'], _args(fn), fn['name'], _args(fn)),
                '}',
                'inline const void* raw_%s() { return reinterpret_cast<const void*>(&::%s); }' % (
                    fn['name'], fn['name'])]
    out += ['}  // namespace recorded', '',
            '// What the module reports of the driver function a registration calls',
            '// (fn.__self__.calls): its name and its parameters\' names in Python.']
    for fn in fns:
        out.append('template <> struct driver_facts<recorded::%s> { static constexpr const char* name = "%s", '
                   '*params = "%s"; };' % (fn['name'], fn['name'],
                                           ', '.join(python_names([p['name'] for p in fn['params']]))))
    out += ['}  // namespace bind', '']
    out += ['#define %s bind::recorded::%s' % (fn['name'], fn['name']) for fn in fns]
    return '\n'.join(out) + '\n'


def _namespace(header):
    """The simulated library's namespace, and its header (in its sources'
    folder) that declares its call type `Call` and includes <driver>_bodies.h:
    hp816x and hp816x.hpp for drivers/hp816x.h."""
    stem = os.path.splitext(os.path.basename(header))[0]
    return stem, stem + '.hpp'


def _call_type(fn, ns):
    """A function returning a value (not a status) takes the core's plain call:
    its result is no status of the driver's own."""
    return '%s::Call' % ns if fn['returns'] == 'ViStatus' else 'sim::Call'


def _body(fn, ns):
    params = ['%s&' % _call_type(fn, ns)] + _declared(fn['params'])
    return '%s body_%s(%s)' % (fn['returns'], fn['name'], ', '.join(params))


def _journaled(p):
    """A parameter as the call's journal takes it: outputs of text and bytes as
    present or null (never read as input), a pointer-wide state as a number."""
    if p['role'] == 'out_text' or (p['role'] == 'out_array' and p['type'] == 'u8'):
        return 'sim::out(%s%s)' % ('(char*)' if p['ctype'] == 'void *' else '', p['name'])
    if p['type'] == 'state':
        return '(long long)%s' % p['name']
    return p['name']


def _checks_session(fn):
    first = fn['params'][0] if fn['params'] else None
    return bool(first and first['role'] == 'in' and first['declared'] == 'ViSession' and
                not first.get('any_session'))


def bodies_h(driver, header, fns):
    ns, sim_header = _namespace(header)
    out = ['// Generated by tools/drivertable.py from drivers/%s: do not edit.' % header,
           '// The bodies of the simulated library\'s functions, as its sources define',
           '// them: each export (%s_exports.cpp) journals the call, checks its' % driver,
           '// session (sim::Call::session) and hands the call on. Included by %s' % sim_header,
           '// once it has declared %s::Call.' % ns,
           '#pragma once', '', 'extern "C" {']
    out += ['%s;' % _body(fn, ns) for fn in fns]
    out += ['}', '']
    return '\n'.join(out)


def exports_cpp(driver, header, fns):
    ns, sim_header = _namespace(header)
    out = ['// Generated by tools/drivertable.py from drivers/%s: do not edit.' % header,
           '// The simulated library\'s exports: while a recording is replayed, each call',
           '// is answered from it (sim/core/replay.cpp); otherwise the call is journaled,',
           '// its session checked, and its body (%s_bodies.h) simulates it.' % driver,
           '#include "%s"' % sim_header, '#include "calls.hpp"', '#include "replay.hpp"', '',
           'extern "C" {']
    for fn in fns:
        params = _params_cpp(fn, False)
        journal = ', '.join(['"%s"' % fn['name']] + [_journaled(p) for p in fn['params']])
        out += ['DRIVER_EXPORT %s {' % _signature(fn),
                '    if (sim::replaying()) {',
                '        const calls::Param p_[] = {%s};' % ', '.join(params) if params else
                '        const calls::Param* p_ = nullptr;',
                '        return sim::replay("%s", p_, %d);' % (fn['name'], len(params)),
                '    }',
                '    %s call_(%s);' % (_call_type(fn, ns), journal)]
        if _checks_session(fn):
            out.append('    if (!call_.session()) return call_.done();')
        out += ['    return body_%s(call_%s);' % (fn['name'], ''.join(', ' + p['name'] for p in fn['params'])), '}']
    out += ['}', '']
    return '\n'.join(out)


def indexes_h(driver, header, fns):
    """The simulator's table of the functions that address a slot (sim::Index),
    or None for a driver without slots."""
    rows = []
    for fn in fns:
        params = fn['params']
        slot = [i for i, p in enumerate(params) if 'slot' in p]
        if slot:
            channel = [i for i, p in enumerate(params) if p.get('channel')]
            kinds = ' | '.join(k if k.isupper() else 'sim::' + k for k in params[slot[0]]['slot'].split('|'))
            rows.append('    {"%s", %d, %s, %d},' % (fn['name'], slot[0], kinds, channel[0] if channel else -1))
    if not rows:
        return None
    return '\n'.join(['// Generated by tools/drivertable.py from drivers/%s: do not edit.' % header,
                      '// The functions that address a mainframe slot: the slot\'s position (from 0,',
                      '// the session), the module kinds it may hold, the channel\'s position (-1: none).',
                      '#pragma once', '#include "sim.hpp"', '',
                      'namespace sim {', 'namespace tables {',
                      'inline const Index %s_indexes[] = {' % driver] + rows +
                     ['};', '}  // namespace tables', '}  // namespace sim', '']) + '\n'


def write(path, text):
    """Writes only a changed file, so that nothing rebuilds for nothing."""
    try:
        with io.open(path, encoding='utf-8') as f:
            if f.read() == text:
                return
    except (IOError, OSError):
        pass
    with io.open(path, 'w', encoding='utf-8', newline='\n') as f:
        f.write(text if isinstance(text, type(u'')) else text.decode('utf-8'))


def main(argv):
    if len(argv) != 1:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    outdir = argv[0]
    if not os.path.isdir(outdir):
        os.makedirs(outdir)
    try:
        libs = table()
    except TableError as e:
        print('tools/drivertable.py: %s' % e, file=sys.stderr)
        return 1
    for driver, header, fns in libs:
        write(os.path.join(outdir, driver + '_calls.hpp'), calls_hpp(driver, header, fns))
        write(os.path.join(outdir, driver + '_bodies.h'), bodies_h(driver, header, fns))
        write(os.path.join(outdir, driver + '_exports.cpp'), exports_cpp(driver, header, fns))
        names = ''.join('    %s\n' % fn['name'] for fn in fns)
        write(os.path.join(outdir, driver + '_exports.def'), 'EXPORTS\n' + names)
        indexes = indexes_h(driver, header, fns)
        if indexes:
            write(os.path.join(outdir, driver + '_indexes.h'), indexes)
    write(os.path.join(outdir, 'drivers.json'),
          json.dumps(dict((d, fns) for d, _, fns in libs), indent=1, sort_keys=True, separators=(',', ': ')) + '\n')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
