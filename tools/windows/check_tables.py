#!/usr/bin/env python3
"""Checks a Windows build's import and export tables, read with objdump -p.

    check_tables.py <build dir> <objdump> <python DLL, e.g. python311.dll>

Each module is a PE DLL for the build's machine that exports only its init
function and imports from the interpreter, the C runtime, KERNEL32 and its
driver DLL by name -- _instrbus from VISA32.dll by the seven ordinals only.
Each simulated driver DLL (in instrsim/, never beside the modules, where
Windows would find it for a module's import) exports every name a module
imports from it, without the @N of 32-bit __stdcall.  Prints the tables; exit
status 1 on any mismatch.
"""
from __future__ import print_function

import glob
import os
import re
import subprocess
import sys

DRIVERS = {
    '_photonbay': 'hp816x_32.dll',
    '_smeter': 'KE2400_32.dll',
    '_powerprobe': 'PM100D_Drv_32.dll',
    '_polshaper': 'hp8169_32.dll',
    '_instrbus': 'VISA32.dll',
}
VISA_ORDINALS = {129: 'viFindRsrc', 130: 'viFindNext', 131: 'viOpen', 132: 'viClose',
                 133: 'viGetAttribute', 134: 'viSetAttribute', 141: 'viOpenDefaultRM'}
RUNTIME = {'kernel32.dll', 'msvcrt.dll'}


class Image:
    """What objdump -p says of one PE file."""

    def __init__(self, name, text, size=0):
        self.name = name
        self.size = size
        m = re.search(r'file format (\S+)', text)
        self.format = m.group(1) if m else '?'
        m = re.search(r'^Characteristics\s+0x[0-9a-f]+\n((?:\t.*\n)*)', text, re.M)
        self.is_dll = bool(m and re.search(r'^\s*DLL\s*$', m.group(1), re.M))
        self.imports = {}  # DLL name -> [(ordinal or None, name or None)]
        for block in re.finditer(r'^\tDLL Name: (\S+)\n\tvma:.*\n((?:\t[0-9a-f]+\t.*\n)*)', text, re.M):
            entries = []
            for line in block.group(2).splitlines():
                m = re.match(r'\t([0-9a-f]+)\t\s*[0-9a-f]+\s+(\S+)', line)
                if not m:
                    continue
                if m.group(2) == '<none>':  # by ordinal: the thunk's low 16 bits
                    entries.append((int(m.group(1), 16) & 0xFFFF, None))
                else:
                    entries.append((None, m.group(2)))
            self.imports[block.group(1)] = entries
        self.exports = {}  # name -> ordinal
        base = re.search(r'Export Address Table -- Ordinal Base (\d+)', text)
        table = re.search(r'^\[Ordinal/Name Pointer\] Table\n((?:\t\[.*\n)*)', text, re.M)
        if base and table:
            for m in re.finditer(r'\[\s*(\d+)\] (\S+)', table.group(1)):
                self.exports[m.group(2)] = int(base.group(1)) + int(m.group(1))

    @classmethod
    def read(cls, path, objdump):
        text = subprocess.check_output([objdump, '-p', path]).decode('latin-1')
        return cls(os.path.basename(path), text, os.path.getsize(path))


HEADERS = {
    'hp816x_32.dll': ['hp816x.h', 'hp816x/*.h'],
    'KE2400_32.dll': ['ke2400.h'],
    'PM100D_Drv_32.dll': ['pm100d.h'],
    'hp8169_32.dll': ['hp8169.h'],
    'VISA32.dll': ['visa.h'],
}


def declared_functions(drivers_dir):
    """The functions each driver's headers declare, by DLL name."""
    out = {}
    for dll, patterns in HEADERS.items():
        names = set()
        for pattern in patterns:
            for path in glob.glob(os.path.join(drivers_dir, pattern)):
                with open(path) as f:
                    names.update(re.findall(r'_VI_FUNC\s+(\w+)\s*\(', f.read()))
        out[dll] = names
    return out


def check(modules, sims, python_dll, machine, declared=None, show=print):
    """The mismatches of one build: `modules` maps module names to their
    Images, `sims` the simulated DLL names to theirs; `machine` is objdump's
    format name (pei-i386, pei-x86-64); `declared`, if given, the functions
    each simulated DLL must export by name."""
    errors = []
    failed = errors.append
    if sorted(modules) != sorted(DRIVERS):
        failed('modules built: %s, expected %s' % (sorted(modules), sorted(DRIVERS)))
    for dll in sorted(set(DRIVERS.values()) | {'instrsim.dll'}):
        if dll not in sims:
            failed('%s: simulated driver not built' % dll)
    py2 = python_dll.lower() == 'python27.dll'
    machines = set()

    for module, img in sorted(modules.items()):
        machines.add(img.format)
        show('%s  (%s, %d bytes)' % (img.name, img.format, img.size))
        if not img.is_dll:
            failed('%s: not a DLL' % img.name)
        init = ('init' if py2 else 'PyInit_') + module
        show('  exports: %s' % ', '.join(sorted(img.exports)))
        if sorted(img.exports) != [init]:
            failed('%s exports %s, expected only %s' % (img.name, sorted(img.exports), init))
        driver = DRIVERS.get(module)
        for dll, entries in sorted(img.imports.items()):
            by_name = [n for o, n in entries if n]
            ordinals = sorted(o for o, n in entries if o is not None)
            shown = ('ordinals %s' % ', '.join(map(str, ordinals))) if ordinals else ''
            shown += (', ' if ordinals and by_name else '') + ('%d by name' % len(by_name) if by_name else '')
            show('  imports %-18s %s' % (dll, shown))
            low = dll.lower()
            if low == python_dll.lower():
                if ordinals:
                    failed('%s imports %s by ordinal' % (img.name, dll))
            elif low == (driver or '').lower():
                if module == '_instrbus':
                    if by_name or ordinals != sorted(VISA_ORDINALS):
                        failed('%s imports %s: by name %s, ordinals %s; expected exactly ordinals %s'
                               % (img.name, dll, by_name, ordinals, sorted(VISA_ORDINALS)))
                else:
                    if ordinals:
                        failed('%s imports %s by ordinal' % (img.name, dll))
                    sim = sims.get(driver)
                    missing = [n for n in by_name if sim and n not in sim.exports]
                    if missing:
                        failed('%s imports from %s names it does not export: %s'
                               % (img.name, dll, ', '.join(missing[:5])))
            elif low not in RUNTIME:
                failed('%s imports %s' % (img.name, dll))
        for dll in (python_dll, driver):
            if dll and dll.lower() not in {d.lower() for d in img.imports}:
                failed('%s does not import %s' % (img.name, dll))

    for dll, img in sorted(sims.items()):
        machines.add(img.format)
        decorated = [n for n in img.exports if '@' in n]
        show('%s  (%s, %d exports%s)' % (dll, img.format, len(img.exports),
                                         ', %d decorated' % len(decorated) if decorated else ''))
        if not img.is_dll:
            failed('%s: not a DLL' % dll)
        if decorated:
            failed('%s exports decorated names: %s' % (dll, ', '.join(decorated[:5])))
        if dll != 'instrsim.dll' and not img.exports:
            failed('%s exports nothing' % dll)
        missing = sorted((declared or {}).get(dll, set()) - set(img.exports))
        if missing:
            failed('%s does not export %d declared functions: %s' % (dll, len(missing), ', '.join(missing[:5])))
    visa = sims.get('VISA32.dll')
    if visa:
        for ordinal, name in sorted(VISA_ORDINALS.items()):
            if visa.exports.get(name) != ordinal:
                failed('VISA32.dll exports %s at ordinal %s, expected %d' % (name, visa.exports.get(name), ordinal))
    if machines != {machine}:
        failed('machine types: %s, expected %s' % (sorted(machines), machine))
    return errors


def beside_modules(names):
    """The simulated DLLs among the files beside the modules."""
    simulated = set(d.lower() for d in DRIVERS.values()) | {'instrsim.dll'}
    return sorted(n for n in names if n.lower() in simulated)


def main(build, objdump, python_dll, label=None):
    modules = {}
    for path in sorted(glob.glob(os.path.join(build, '*.pyd'))):
        modules[os.path.basename(path).split('.')[0]] = Image.read(path, objdump)
    sims = {}
    for dll in set(DRIVERS.values()) | {'instrsim.dll'}:
        path = os.path.join(build, 'instrsim', dll)
        if os.path.isfile(path):
            sims[dll] = Image.read(path, objdump)
    machine = 'pei-i386' if os.path.basename(objdump).startswith('i686') else 'pei-x86-64'
    drivers = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'drivers')
    errors = check(modules, sims, python_dll, machine, declared_functions(drivers))
    errors += ['%s beside the modules: Windows would load it for their imports' % n
               for n in beside_modules(os.listdir(build))]
    for e in errors:
        print('!! ' + e)
    print('%s: %s' % (label or build, 'tables FAILED' if errors else 'tables as expected'))
    return 1 if errors else 0


if __name__ == '__main__':
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
