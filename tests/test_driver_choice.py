"""Which driver library a module binds: the vendor's wherever the loader finds
it, the simulated one only when instrsim is chosen first (python -m instrsim,
or import instrsim); a late choice is refused; instrbind.driver_library and
python -m instrbind say which.  The vendor's library is stood in for by copies
of the simulated ones in a folder of their own on LD_LIBRARY_PATH."""
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest
import zipfile

from support import BUILD, ROOT, python_path, sim
import instrbind  # noqa: E402
import _photonbay  # noqa: E402,F401  (bound after the simulator was chosen)
import _instrbus  # noqa: E402,F401

sys.path.insert(0, os.path.join(ROOT, 'tools'))
sys.path.insert(0, os.path.join(ROOT, 'tools', 'windows'))
import build_backend as backend  # noqa: E402
import check_wheel  # noqa: E402

LINUX = sys.platform.startswith('linux')
SIM = os.path.join(BUILD, 'instrsim')
LIBRARIES = {'_photonbay': 'libhp816x_32.so', '_smeter': 'libKE2400_32.so', '_powerprobe': 'libPM100D_Drv_32.so',
             '_polshaper': 'libhp8169_32.so', '_instrbus': 'libvisa.so'}


def child(args, vendor=None, code=None, cwd=None, path=None):
    """Runs python with `args` (or -c `code`) in a process that has chosen
    nothing: the build on its path, no simulator imported, the folder `vendor`
    (if any) on LD_LIBRARY_PATH.  (exit code, stdout, stderr)."""
    env = dict(os.environ, PYTHONPATH=path or python_path())
    env.pop('INSTRSIM_CONFIG', None)
    env['LD_LIBRARY_PATH'] = vendor or ''
    argv = [sys.executable] + (['-c', textwrap.dedent(code)] if code else list(args))
    p = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, cwd=cwd)
    out, err = p.communicate()
    return p.returncode, out.decode('latin-1'), err.decode('latin-1')


@unittest.skipUnless(LINUX, 'ELF builds')
class Layout(unittest.TestCase):
    def test_no_simulated_library_where_the_loader_looks(self):
        top = os.listdir(BUILD)
        self.assertEqual([f for f in top if f.startswith('lib') and '.so' in f], [])
        for name, lib in LIBRARIES.items():
            module = [f for f in top if f.startswith(name + '.') and f.endswith('.so')][0]
            with open(os.path.join(BUILD, module), 'rb') as f:
                data = f.read()
            self.assertNotIn(b'$ORIGIN', data, module)          # no run path of its own
            self.assertEqual(instrbind._driver_name(os.path.join(BUILD, module)),
                             (lib, 64 if sys.maxsize > 2 ** 32 else 32), module)
            self.assertTrue(os.path.isfile(os.path.join(SIM, lib)), lib)
        for name in ('__init__.py', '__main__.py', '__init__.pyi', 'libinstrsim.so', 'bench.json'):
            self.assertTrue(os.path.isfile(os.path.join(SIM, name)), name)

    def test_an_install_has_the_same_layout_and_runs_the_same(self):
        site = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, site)
        p = subprocess.Popen(['cmake', '--install', BUILD, '--prefix', site], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT)
        out = p.communicate()[0]
        self.assertEqual(p.returncode, 0, out)
        files = backend._installed(site)
        backend._check(site, files, BUILD)
        self.assertEqual(sorted(f for f in files if f.startswith('instrsim/')),
                         sorted('instrsim/' + f for f in ['__init__.py', '__init__.pyi', '__main__.py', 'bench.json',
                                                          'libinstrsim.so'] + list(LIBRARIES.values())))
        script = os.path.join(site, 'probe.py')
        with open(script, 'w') as f:
            f.write('import instrbind, _photonbay\nprint(instrbind.driver_library("_photonbay"))\n')
        rc, out, err = child([script], path=site)
        self.assertEqual(rc, 1)
        self.assertIn('libhp816x_32.so', err)
        rc, out, err = child(['-m', 'instrsim', script], path=site)
        self.assertEqual((rc, out.strip()), (0, os.path.join(site, 'instrsim', 'libhp816x_32.so')), err)


class DriverLibrary(sim.SimulatorTestCase):
    def test_each_loaded_module_names_the_file_it_is_bound_to(self):
        for name in ('_photonbay', '_instrbus'):
            path = instrbind.driver_library(name)
            self.assertTrue(os.path.isabs(path), path)
            self.assertTrue(os.path.samefile(os.path.dirname(path), SIM), path)
            self.assertEqual(instrbind._bound(name)[1], True)    # the simulator's mark
        self.assertIsNone(instrbind.driver_library('_not_a_module'))

    def test_importing_instrsim_again_once_bound_to_it_is_fine(self):
        rc, out, err = child([], code='''
            import instrsim, _photonbay, sys
            del sys.modules['instrsim']
            import instrsim
            print('ok')
            ''')
        self.assertEqual((rc, out), (0, 'ok\n'), err)


# A lab script: where it runs, what it was given, an atexit handler that
# needs its globals, its own exit code.
LAB_SCRIPT = '''from __future__ import print_function
import atexit, sys
import instrbind, _photonbay as pb
LABEL = 'lab'
atexit.register(lambda: print('atexit sees', LABEL, __name__))
print(__name__, sys.argv[1:], instrbind.driver_library('_photonbay'))
s = pb.init(sys.argv[1] if sys.argv[1:2] and sys.argv[1].startswith('GPIB') else 'GPIB0::20::INSTR', 1, 0)
print(pb.revision_Q(s)[0])
sys.exit(3)
'''


@unittest.skipUnless(LINUX, 'LD_LIBRARY_PATH')
class Choice(unittest.TestCase):
    """A fresh process on a PC without the vendors' libraries, and on one with them."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp()
        cls.vendor = os.path.join(cls.tmp, 'vendor')
        os.mkdir(cls.vendor)
        for name in os.listdir(SIM):
            if name.endswith('.so'):
                shutil.copy(os.path.join(SIM, name), cls.vendor)
        cls.script = os.path.join(cls.tmp, 'lab.py')
        with open(cls.script, 'w') as f:
            f.write(LAB_SCRIPT)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def test_without_a_vendor_library_each_import_fails_naming_its_library(self):
        rc, out, err = child([], code='''
            from __future__ import print_function
            for name in %r:
                try:
                    __import__(name)
                    print(name, 'imported')
                except ImportError as e:
                    print(name, e)
            ''' % sorted(LIBRARIES))
        lines = dict(l.split(' ', 1) for l in out.splitlines())
        self.assertEqual(sorted(lines), sorted(LIBRARIES), err)
        for name, lib in LIBRARIES.items():
            self.assertIn(lib, lines[name])

    def test_python_m_instrsim_runs_the_script_as_python_would(self):
        rc, out, err = child(['-m', 'instrsim', self.script, 'a', '--bench', 'b'])
        self.assertEqual(rc, 3, err)
        self.assertEqual(out.splitlines(), ["__main__ ['a', '--bench', 'b'] %s" % os.path.join(SIM, 'libhp816x_32.so'),
                                            '4.7.2', 'atexit sees lab __main__'])

    def test_the_bench_option_and_a_failing_script(self):
        bench = os.path.join(self.tmp, 'bench.json')
        with open(bench, 'w') as f:
            f.write('{"instruments": [{"resource": "GPIB0::5::INSTR", "driver": "hp816x", "slots": {"0": "power meter"}}]}')
        rc, out, err = child(['-m', 'instrsim', '--bench', bench, self.script, 'GPIB0::5::INSTR'])
        self.assertEqual((rc, out.splitlines()[1]), (3, '4.7.2'), err)
        rc, out, err = child(['-m', 'instrsim', '--bench', bench, self.script])   # not on that bench
        self.assertNotEqual(rc, 3)
        self.assertIn('Driver Error', out)
        broken = os.path.join(self.tmp, 'broken.py')
        with open(broken, 'w') as f:
            f.write('def f():\n    raise KeyError("here")\nf()\n')
        rc, out, err = child(['-m', 'instrsim', broken])
        self.assertEqual(rc, 1)
        self.assertIn('KeyError', err)
        self.assertIn('broken.py", line 2, in f', err)
        self.assertEqual(child(['-m', 'instrsim'])[0], 2)
        self.assertEqual(child(['-m', 'instrsim', '--nope', broken])[0], 2)

    def test_a_vendor_library_the_loader_finds_is_bound_and_named(self):
        rc, out, err = child([self.script], vendor=self.vendor)
        self.assertEqual((rc, out.splitlines()[0]),
                         (3, "__main__ [] %s" % os.path.join(self.vendor, 'libhp816x_32.so')), err)
        rc, out, err = child(['-m', 'instrsim', self.script], vendor=self.vendor)   # the simulator wins
        self.assertEqual((rc, out.splitlines()[0]), (3, "__main__ [] %s" % os.path.join(SIM, 'libhp816x_32.so')), err)

    def test_a_choice_made_too_late_is_refused(self):
        rc, out, err = child([], vendor=self.vendor, code='''
            import _photonbay, _smeter
            import instrsim
            ''')
        self.assertEqual(rc, 1)
        self.assertIn('ImportError', err)
        for text in ('_photonbay is bound to %s' % os.path.join(self.vendor, 'libhp816x_32.so'),
                     '_smeter is bound to %s' % os.path.join(self.vendor, 'libKE2400_32.so'),
                     'python -m instrsim', 'import instrsim` before `import _photonbay`'):
            self.assertIn(text, err)

    def test_the_report_says_what_is_missing_and_what_is_found(self):
        rc, out, err = child(['-m', 'instrbind'])
        self.assertEqual(rc, 1, err)
        for name, lib in LIBRARIES.items():
            line = [l for l in out.splitlines() if l.startswith(name + ' ')][0]
            self.assertIn('needs %s' % lib, line)
            self.assertIn('MISSING', line)
        self.assertIn('fix: install the vendor', out)
        self.assertIn('python -m instrsim script.py', out)
        self.assertIn('0 of 5 driver libraries found', out)
        rc, out, err = child(['-m', 'instrbind'], vendor=self.vendor)
        self.assertEqual(rc, 0, out + err)
        for name, lib in LIBRARIES.items():
            self.assertIn('found: %s (%d-bit' % (os.path.join(self.vendor, lib), 64 if sys.maxsize > 2 ** 32 else 32),
                          out)

    def test_the_report_names_a_library_of_the_wrong_bitness(self):
        other = os.path.join(self.tmp, 'other')
        os.mkdir(other)
        wrong = 1 if sys.maxsize > 2 ** 32 else 2                 # ELF class of the other bitness
        with open(os.path.join(other, 'libhp816x_32.so'), 'wb') as f:
            f.write(b'\x7fELF' + bytes(bytearray([wrong, 1, 1])) + b'\0' * 57)
        rc, out, err = child(['-m', 'instrbind'], vendor=other)
        self.assertEqual(rc, 1)
        self.assertIn('%s is %d-bit; this Python is %d-bit' % (os.path.join(other, 'libhp816x_32.so'),
                                                             32 if wrong == 1 else 64, 64 if wrong == 1 else 32), out)


class WindowsWheelCheck(unittest.TestCase):
    """tools/windows/check_wheel.py on wheels written as tools/windows/make_wheel.py writes them."""

    def wheel(self, tag, change=None):
        py, abi, plat = tag
        files = dict((f, f.encode('ascii')) for f in check_wheel.expected_files('instrbind', '0', py, plat))
        if change:
            change(files)
        prefix = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, prefix)
        for name, data in files.items():
            path = os.path.join(prefix, *name.split('/'))
            if not os.path.isdir(os.path.dirname(path)):
                os.makedirs(os.path.dirname(path))
            with open(path, 'wb') as f:
                f.write(data)
        out = os.path.join(prefix, 'out')
        return os.path.join(out, backend.write_wheel(out, prefix, backend._installed(prefix), backend.project(), tag))

    def test_a_right_wheel_passes_and_each_kind_of_wrong_one_fails(self):
        for tag in [('cp27', 'cp27m', 'win32'), ('cp311', 'cp311', 'win_amd64')]:
            self.assertEqual(check_wheel.check(self.wheel(tag)), [], tag)
        self.assertIn('_photonbay.cp311-win32.pyd', check_wheel.expected_files('instrbind', '0', 'cp311', 'win32'))
        self.assertIn('_photonbay.pyd', check_wheel.expected_files('instrbind', '0', 'cp27', 'win32'))

        def beside(files):
            files['hp816x_32.dll'] = files.pop('instrsim/hp816x_32.dll')
        msgs = check_wheel.check(self.wheel(('cp311', 'cp311', 'win32'), beside))
        self.assertTrue(any('hp816x_32.dll (a driver DLL outside instrsim/)' in m for m in msgs), msgs)
        self.assertTrue(any('missing: instrsim/hp816x_32.dll' in m for m in msgs), msgs)
        self.assertTrue(check_wheel.check(self.wheel(('cp27', 'cp27mu', 'win32'))))     # not Windows' 2.7 ABI
        self.assertTrue(check_wheel.check(self.wheel(('cp311', 'cp311', 'win32'),
                                                     lambda f: f.pop('instrsim/__main__.py'))))

    def test_a_build_with_a_simulated_dll_beside_the_modules_fails_its_table_check(self):
        import check_tables
        self.assertEqual(check_tables.beside_modules(['_smeter.pyd', 'instrsim', 'KE2400_32.DLL', 'instrsim.dll',
                                                      'python311.dll']), ['KE2400_32.DLL', 'instrsim.dll'])

    def test_record_and_wheel_file_are_checked(self):
        path = self.wheel(('cp311', 'cp311', 'win32'))
        with zipfile.ZipFile(path) as z:
            entries = [(i, z.read(i.filename)) for i in z.infolist()]

        def rewrite(target, change):
            with zipfile.ZipFile(path, 'w') as z:
                for info, data in entries:
                    z.writestr(info, change(data) if info.filename.endswith(target) else data)
            return check_wheel.check(path)
        self.assertTrue(rewrite('instrbind.py', lambda d: d + b'#'))                   # hash and size
        self.assertTrue(rewrite('/WHEEL', lambda d: d.replace(b'win32', b'win_amd64')))  # tag
        self.assertTrue(rewrite('/RECORD', lambda d: b'\n'.join(d.splitlines()[1:])))   # a file unlisted
        self.assertEqual(rewrite('/RECORD', lambda d: d), [])


if __name__ == '__main__':
    unittest.main()
