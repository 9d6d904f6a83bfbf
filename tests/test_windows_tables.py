"""The Windows build's table check (tools/windows/check_tables.py) on objdump
listings: it passes a well-formed build and fails each kind of wrong DLL."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tools', 'windows'))
import check_tables as ct  # noqa: E402

DRIVER_NAMES = {
    'hp816x_32.dll': ['hp816x_init', 'hp816x_close'],
    'KE2400_32.dll': ['KE2400_init', 'KE2400_close'],
    'PM100D_Drv_32.dll': ['PM100D_init', 'PM100D_close'],
    'hp8169_32.dll': ['hp8169_init', 'hp8169_close'],
}
VISA = ct.VISA_ORDINALS


def listing(name, fmt='pei-i386', dll=True, exports=(), base=1, imports=()):
    """objdump -p text as objdump prints it (the parts the check reads).
    `exports`: names, or (name, ordinal); `imports`: (DLL, [name or ordinal])."""
    wide = fmt == 'pei-x86-64'
    lines = ['', '%s:     file format %s' % (name, fmt), '',
             'Characteristics 0x%x' % (0x230e if dll else 0x10e), '\texecutable', '\tline numbers stripped']
    if dll:
        lines.append('\tDLL')
    lines += ['', 'The Import Tables (interpreted .idata section contents)']
    for lib, entries in imports:
        lines += ['\tDLL Name: %s' % lib, '\tvma:  Hint/Ord Member-Name Bound-To']
        for i, e in enumerate(entries):
            if isinstance(e, int):
                thunk = (0x8000000000000000 if wide else 0x80000000) | e
                lines.append('\t%x\t    %s  <none>' % (thunk, ('%09x' % e) if wide else e))
            else:
                lines.append('\t%x\t %4d  %s' % (0x51b22 + 16 * i, i + 1, e))
        lines.append('')
    if exports:
        named = [e if isinstance(e, tuple) else (e, base + i) for i, e in enumerate(exports)]
        lines += ['Export Address Table -- Ordinal Base %d' % base, '', '[Ordinal/Name Pointer] Table']
        lines += ['\t[%4d] %s' % (o - base, n) for n, o in named]
        lines.append('')
    return '\n'.join(lines) + '\n'


def build(py='python311.dll', fmt='pei-i386', **changes):
    """A build whose tables are right, with `changes` applied: module or DLL
    name -> listing keyword arguments replacing the right ones."""
    modules, sims = {}, {}
    for module, driver in sorted(ct.DRIVERS.items()):
        init = ('init' if py == 'python27.dll' else 'PyInit_') + module
        drv = list(VISA) if driver == 'VISA32.dll' else DRIVER_NAMES[driver]
        kw = dict(fmt=fmt, exports=[init], imports=[('KERNEL32.dll', ['Sleep']), ('msvcrt.dll', ['calloc']),
                                                    (driver, drv), (py, ['PyLong_FromLong', 'PyFloat_Type'])])
        kw.update(changes.get(module, {}))
        modules[module] = ct.Image(module + '.pyd', listing(module + '.pyd', **kw))
    for dll, names in sorted(DRIVER_NAMES.items()) + [('instrsim.dll', ['sim_reset'])]:
        kw = dict(fmt=fmt, exports=names)
        kw.update(changes.get(dll, {}))
        sims[dll] = ct.Image(dll, listing(dll, **kw))
    kw = dict(fmt=fmt, exports=[(n, o) for o, n in sorted(VISA.items())], base=129)
    kw.update(changes.get('VISA32.dll', {}))
    sims['VISA32.dll'] = ct.Image('VISA32.dll', listing('VISA32.dll', **kw))
    return modules, sims


def errors(py='python311.dll', machine='pei-i386', fmt='pei-i386', declared=None, **changes):
    modules, sims = build(py, fmt, **changes)
    return ct.check(modules, sims, py, machine, declared, show=lambda *a: None)


class Listings(unittest.TestCase):

    def test_reads_names_ordinals_and_dll_flag(self):
        img = ct.Image('x.dll', listing('x.dll', exports=['viOpen', ('viClose', 132)], base=129,
                                        imports=[('VISA32.dll', [131, 141]), ('python311.dll', ['PyList_New'])]))
        self.assertTrue(img.is_dll)
        self.assertEqual(img.format, 'pei-i386')
        self.assertEqual(img.exports, {'viOpen': 129, 'viClose': 132})
        self.assertEqual(img.imports['VISA32.dll'], [(131, None), (141, None)])
        self.assertEqual(img.imports['python311.dll'], [(None, 'PyList_New')])
        self.assertFalse(ct.Image('x.exe', listing('x.exe', dll=False)).is_dll)

    def test_64_bit_ordinal_thunks(self):
        img = ct.Image('m.pyd', listing('m.pyd', fmt='pei-x86-64', imports=[('VISA32.dll', [129, 134, 141])]))
        self.assertEqual(img.imports['VISA32.dll'], [(129, None), (134, None), (141, None)])


class Check(unittest.TestCase):

    def test_a_right_build_passes_on_both_lines_and_machines(self):
        self.assertEqual(errors(), [])
        self.assertEqual(errors(py='python27.dll'), [])
        self.assertEqual(errors(machine='pei-x86-64', fmt='pei-x86-64'), [])

    def test_module_exports_only_its_init_function(self):
        self.assertTrue(errors(_smeter={'exports': ['PyInit__smeter', 'bind_helper']}))
        self.assertTrue(errors(py='python27.dll', _smeter={'exports': ['PyInit__smeter']}))  # 3's name in 2.7
        self.assertTrue(errors(_smeter={'exports': []}))

    def test_visa_by_the_seven_ordinals_only(self):
        self.assertTrue(errors(_instrbus={'imports': [('VISA32.dll', ['viOpen']), ('python311.dll', ['PyList_New'])]}))
        six = sorted(VISA)[:-1]
        self.assertTrue(errors(_instrbus={'imports': [('VISA32.dll', six), ('python311.dll', ['PyList_New'])]}))
        self.assertTrue(errors(_instrbus={'imports': [('VISA32.dll', sorted(VISA) + ['viRead']),
                                                      ('python311.dll', ['PyList_New'])]}))

    def test_driver_names_the_simulated_dll_exports(self):
        msgs = errors(_polshaper={'imports': [('hp8169_32.dll', ['hp8169_init@16']), ('python311.dll', ['PyList_New'])]})
        self.assertTrue(any('does not export' in m for m in msgs), msgs)
        self.assertTrue(errors(_polshaper={'imports': [('hp8169_32.dll', [3]), ('python311.dll', ['PyList_New'])]}))

    def test_imports_from_nothing_else(self):
        msgs = errors(_powerprobe={'imports': [('PM100D_Drv_32.dll', ['PM100D_init']), ('python311.dll', ['PyList_New']),
                                               ('libstdc++-6.dll', ['_ZSt4cout'])]})
        self.assertTrue(any('libstdc++-6.dll' in m for m in msgs), msgs)
        self.assertTrue(errors(_powerprobe={'imports': [('PM100D_Drv_32.dll', ['PM100D_init'])]}))  # no python DLL
        self.assertTrue(errors(_powerprobe={'imports': [('python311.dll', ['PyList_New'])]}))  # no driver

    def test_simulated_dlls(self):
        self.assertTrue(errors(**{'hp816x_32.dll': {'exports': ['hp816x_init@16', 'hp816x_close@4']}}))
        moved = [(n, o + 1) for o, n in sorted(VISA.items())]
        self.assertTrue(errors(**{'VISA32.dll': {'exports': moved, 'base': 130}}))
        self.assertTrue(errors(**{'KE2400_32.dll': {'dll': False}}))

    def test_simulated_dlls_export_every_declared_function(self):
        self.assertEqual(errors(declared={'hp8169_32.dll': {'hp8169_init', 'hp8169_close'}}), [])
        msgs = errors(declared={'hp8169_32.dll': {'hp8169_init', 'hp8169_close', 'hp8169_reset'}})
        self.assertTrue(any('hp8169_reset' in m for m in msgs), msgs)

    def test_declared_functions_read_from_the_headers(self):
        drivers = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'drivers')
        declared = ct.declared_functions(drivers)
        self.assertEqual(declared['VISA32.dll'], set(VISA.values()))
        self.assertIn('hp816x_set_TLS_wavelength', declared['hp816x_32.dll'])  # from hp816x/*.h
        self.assertTrue(all(n.startswith('PM100D_') for n in declared['PM100D_Drv_32.dll']))

    def test_machine_type(self):
        self.assertTrue(errors(machine='pei-x86-64'))
        self.assertTrue(errors(_photonbay={'fmt': 'pei-x86-64'}))


if __name__ == '__main__':
    unittest.main()
