"""The VISA type legend, drivers/visatypes.def, as the tools read it (the
columns are described there).

    legend = visatypes.legend()
    legend.record('ViSession')    # 'u32': its kind in a recording
    legend.stub('ViBoolean*')     # 'ViUInt16Buffer': its Python type as an argument
    legend.kind('ViRsrc')         # 'text'

A type is found by its name, a pointer to it as 'ViInt32*' (or through a
pointer typedef): a pointer is the type whose C type is the item's C type
with a '*' (a buffer, or a text for ViChar), as the frame picks a conversion
by the C++ type.  Runs on Python 2.7 and 3.
"""
import io
import os
import re

DEF = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), 'drivers', 'visatypes.def')

COLUMNS = {
    'VISA_TYPE': ('name', 'ctype', 'kind', 'stub', 'record'),
    'VISA_BUFFER': ('item', 'format', 'also', 'stub'),
    'VISA_ALIAS': ('name', 'type'),
    'VISA_POINTER': ('name', 'type'),
    'VISA_DECLARED': ('name', 'stub', 'record'),
}
_ROW = re.compile(r'^(VISA_[A-Z]+)\((.*)\)$')


class LegendError(Exception):
    pass


class Type(object):
    """A type of the legend: name ('ViInt32', a buffer 'ViInt32*'), ctype
    ('int32_t', 'char*'; None where its header declares it), kind ('int',
    'real', 'text', 'buffer', 'none'), stub (None: no argument of it),
    record; a buffer's format and also ('i', 'l'; None)."""

    def __init__(self, name, ctype, kind, stub, record, format=None, also=None):
        self.name, self.ctype, self.kind, self.stub, self.record = name, ctype, kind, stub, record
        self.format, self.also = format, also

    def __repr__(self):
        return 'Type(%s)' % self.name


def _ctype(text):
    return ' '.join(text.replace('*', ' * ').split()).replace(' *', '*')


def _char(text):
    if text == '0':
        return None
    if not re.match(r"^'.'$", text):
        raise LegendError('%s: not a format character' % text)
    return text[1]


class Legend(object):
    def __init__(self, rows):
        self.types = []    # the VISA_TYPE rows and the buffers, in order (frame types: kind not 'none')
        self.names = {}    # name -> Type, aliases and buffers included
        self.pointers = {}  # pointer typedef -> the name it points to
        by_ctype = {}
        for form, values in rows:
            r = dict(zip(COLUMNS[form], values))
            if form == 'VISA_TYPE':
                t = Type(r['name'], _ctype(r['ctype']), r['kind'], None if r['stub'] == '-' else r['stub'],
                         r['record'])
            elif form == 'VISA_BUFFER':
                item = self._known(r['item'])
                t = Type(item.name + '*', item.ctype + '*', 'buffer', r['stub'], item.record,
                         _char(r['format']), _char(r['also']))
            elif form == 'VISA_DECLARED':
                t = Type(r['name'], None, 'none', r['stub'], r['record'])
            elif form == 'VISA_ALIAS':
                self._add(r['name'], self._known(r['type']))
                continue
            else:
                if r['type'] != 'void':
                    self._known(r['type'])
                self._add(r['name'], None)
                self.pointers[r['name']] = r['type']
                continue
            if t.ctype in by_ctype:
                raise LegendError('%s: the C type of %s' % (t.name, by_ctype[t.ctype].name))
            if t.ctype:
                by_ctype[t.ctype] = t
            self.types.append(t)
            self._add(t.name, t)
        self._by_ctype = by_ctype

    def _add(self, name, t):
        if name in self.names:
            raise LegendError('%s: two rows' % name)
        self.names[name] = t

    def _known(self, name):
        if not self.names.get(name):
            raise LegendError('%s: no row above' % name)
        return self.names[name]

    def find(self, declared):
        """The Type of a declared type ('ViSession', 'ViBoolean*', 'ViPSession'),
        None for a pointer with no Type (an output the wrapper fills) or a
        name the legend does not have."""
        declared = declared.replace(' ', '')
        if declared in self.pointers:
            declared = self.pointers[declared] + '*'
        if declared.endswith('*'):
            item = self.names.get(declared[:-1])
            return self._by_ctype.get(item.ctype + '*') if item and item.ctype else None
        return self.names.get(declared)

    def stub(self, declared):
        t = self.find(declared)
        return t.stub if t else None

    def kind(self, declared):
        t = self.find(declared)
        return t.kind if t else None

    def record(self, name):
        """The record kind of a type by its name (not a pointer); None if unknown."""
        t = self.names.get(name)
        return t.record if t else None

    def is_pointer(self, declared):
        return declared.endswith('*') or declared in self.pointers

    def of_kind(self, kind):
        return [t for t in self.types if t.kind == kind]


def rows(path=DEF):
    """[(form, [column, ...])] of the table, in order."""
    with io.open(path, encoding='ascii') as f:
        text = re.sub(r'/\*.*?\*/', lambda m: '\n' * m.group(0).count('\n'), f.read(), flags=re.S)
    out = []
    for number, line in enumerate(text.split('\n'), 1):
        line = line.strip()
        if not line or line.startswith('#'):
            continue
        m = _ROW.match(line)
        if not m or m.group(1) not in COLUMNS:
            raise LegendError('%s:%d: not a row: %s' % (path, number, line))
        values = [v.strip() for v in m.group(2).split(',')]
        if len(values) != len(COLUMNS[m.group(1)]) or not all(values):
            raise LegendError('%s:%d: %s takes %s' % (path, number, m.group(1), ', '.join(COLUMNS[m.group(1)])))
        out.append((m.group(1), values))
    return out


_LEGEND = []


def legend():
    """The legend of drivers/visatypes.def, read once."""
    if not _LEGEND:
        _LEGEND.append(Legend(rows()))
    return _LEGEND[0]
