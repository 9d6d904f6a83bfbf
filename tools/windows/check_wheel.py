#!/usr/bin/env python3
"""Checks a Windows wheel: its tags, RECORD, WHEEL file, layout, and the
import and export tables of the DLLs it carries (check_tables.py).

    check_wheel.py <wheel> <objdump>

The layout: the five modules (named for the tag's interpreter and platform),
instrbind.py and the stubs at the top; the instrsim package with the
simulated driver DLLs and their core in instrsim/ only; the dist-info.
Anything else, a missing file, or a hash or size RECORD does not match, fails.
Exit status 1 on any mismatch.
"""
from __future__ import print_function

import base64
import csv
import hashlib
import io
import os
import re
import shutil
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import check_tables  # noqa: E402

MODULES = sorted(check_tables.DRIVERS)
STUBS = MODULES + ['instrbind', 'instrsim']
SIMULATED = sorted(set(check_tables.DRIVERS.values()) | {'instrsim.dll'})
PACKAGE = ['instrsim/__init__.py', 'instrsim/__init__.pyi', 'instrsim/__main__.py', 'instrsim/bench.json']


def module_suffix(py, plat):
    return '.pyd' if py == 'cp27' else '.%s-%s.pyd' % (py, plat)


def expected_files(name, version, py, plat):
    """Every file the wheel must hold, but the dist-info."""
    files = [m + module_suffix(py, plat) for m in MODULES] + ['instrbind.py']
    files += [s + '.pyi' for s in STUBS if s != 'instrsim'] + [s + '-stubs/__init__.pyi' for s in STUBS]
    return sorted(files + PACKAGE + ['instrsim/' + d for d in SIMULATED])


def digest(data):
    return 'sha256=' + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b'=').decode('ascii')


def check(path):
    """The mismatches of the wheel at `path` (its tables not included)."""
    errors = []
    m = re.match(r'^([A-Za-z0-9_]+)-([^-]+)-(cp\d+)-(cp\d+m?)-(win32|win_amd64)\.whl$', os.path.basename(path))
    if not m:
        return ['%s: not a wheel name for a Windows CPython' % os.path.basename(path)]
    name, version, py, abi, plat = m.groups()
    if abi != (py + 'm' if py == 'cp27' else py):
        errors.append('ABI tag %s does not go with %s' % (abi, py))
    dist_info = '%s-%s.dist-info' % (name, version)
    with zipfile.ZipFile(path) as z:
        names = z.namelist()
        data = dict((n, z.read(n)) for n in names)
    if len(set(names)) != len(names):
        errors.append('entries stored twice')
    wheel = data.get(dist_info + '/WHEEL', b'').decode('utf-8')
    for line in ['Wheel-Version: 1.0', 'Root-Is-Purelib: false', 'Tag: %s-%s-%s' % (py, abi, plat)]:
        if line not in wheel.splitlines():
            errors.append('WHEEL lacks %r' % line)
    meta = data.get(dist_info + '/METADATA', b'').decode('utf-8').splitlines()
    if 'Name: %s' % name not in meta or 'Version: %s' % version not in meta:
        errors.append('METADATA does not name %s %s' % (name, version))
    record = data.get(dist_info + '/RECORD')
    if record is None:
        errors.append('no RECORD')
        rows = []
    else:
        rows = list(csv.reader(io.StringIO(record.decode('utf-8'))))
    listed = [r[0] for r in rows]
    if sorted(listed) != sorted(names):
        errors.append('RECORD lists %s; the archive holds %s'
                      % (sorted(set(listed) - set(names)) or 'all', sorted(set(names) - set(listed)) or 'all'))
    for row in rows:
        if len(row) != 3:
            errors.append('RECORD row %r' % row)
        elif row[0] == dist_info + '/RECORD':
            if row[1:] != ['', '']:
                errors.append('RECORD gives itself a hash')
        elif row[0] in data and (row[1] != digest(data[row[0]]) or row[2] != str(len(data[row[0]]))):
            errors.append('%s: hash or size differs from RECORD' % row[0])
    payload = sorted(n for n in names if not n.startswith(dist_info + '/'))
    want = expected_files(name, version, py, plat)
    for n in sorted(set(want) - set(payload)):
        errors.append('missing: ' + n)
    for n in sorted(set(payload) - set(want)):
        errors.append('not expected: ' + n + (' (a driver DLL outside instrsim/)' if n.lower().endswith('.dll') else ''))
    if sorted(n for n in names if n.startswith(dist_info + '/')) != [dist_info + '/' + f for f in
                                                                   ('METADATA', 'RECORD', 'WHEEL')]:
        errors.append('dist-info holds %s' % [n for n in names if n.startswith(dist_info + '/')])
    return errors


def main(path, objdump):
    errors = check(path)
    for e in errors:
        print('!! ' + e)
    tables = 1
    if not errors:
        tmp = tempfile.mkdtemp(prefix='instrbind-wheel-')
        try:
            with zipfile.ZipFile(path) as z:
                z.extractall(tmp)
            py = os.path.basename(path).split('-')[2]
            tables = check_tables.main(tmp, objdump, 'python%s.dll' % py[2:], label=os.path.basename(path))
        finally:
            shutil.rmtree(tmp)
    print('%s: %s' % (os.path.basename(path), 'wheel FAILED' if errors or tables else 'wheel as expected'))
    return 1 if errors or tables else 0


if __name__ == '__main__':
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
