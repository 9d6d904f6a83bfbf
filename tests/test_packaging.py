"""The pip build backend (tools/build_backend.py): metadata, wheel tag, the
wheel archive and the source archive.  The CMake build itself is what every
other test runs on."""
import base64
import csv
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import unittest
import zipfile

from support import BUILD, ROOT, SANITIZED

sys.path.insert(0, os.path.join(ROOT, 'tools'))
import build_backend as backend  # noqa: E402


class Metadata(unittest.TestCase):
    def test_project_table_reads_as_toml_does(self):
        try:
            import tomllib
        except ImportError:
            self.skipTest('no tomllib before Python 3.11')
        with open(os.path.join(ROOT, 'pyproject.toml'), 'rb') as f:
            self.assertEqual(backend.project(), tomllib.load(f)['project'])

    def test_build_system_needs_nothing_to_download(self):
        with io.open(os.path.join(ROOT, 'pyproject.toml'), encoding='utf-8') as f:
            text = f.read()
        self.assertIn('requires = []', text)
        self.assertEqual(backend.get_requires_for_build_wheel(), [])
        self.assertEqual(backend.get_requires_for_build_sdist(), [])

    def test_prepared_metadata(self):
        tmp = tempfile.mkdtemp()
        try:
            name = backend.prepare_metadata_for_build_wheel(tmp)
            meta = backend.project()
            self.assertEqual(name, 'instrbind-%s.dist-info' % meta['version'])
            with io.open(os.path.join(tmp, name, 'METADATA'), encoding='utf-8') as f:
                head = f.read().split('\n\n', 1)[0].splitlines()
            self.assertEqual(head[:3], ['Metadata-Version: 2.1', 'Name: instrbind',
                                        'Version: ' + meta['version']])
            self.assertIn('Requires-Python: >=2.7', head)
        finally:
            shutil.rmtree(tmp)


class Tag(unittest.TestCase):
    def test_the_tag_is_one_this_interpreter_installs(self):
        try:
            from pip._vendor.packaging import tags
        except ImportError:
            self.skipTest('no packaging.tags in this pip')
        tag = '-'.join(backend.wheel_tag())
        self.assertIn(tag, set(str(t) for t in tags.sys_tags()))

    def test_the_tag_names_this_interpreter(self):
        py, abi, plat = backend.wheel_tag()
        self.assertEqual(py, 'cp%d%d' % sys.version_info[:2])
        self.assertTrue(abi.startswith(py), abi)
        soabi = sysconfig.get_config_var('SOABI')
        if soabi:
            self.assertIn('cpython-' + abi[2:] + '-', soabi)
        self.assertEqual(plat, sysconfig.get_platform().replace('-', '_').replace('.', '_'))


class Wheel(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.prefix = os.path.join(self.tmp, 'prefix')
        os.mkdir(self.prefix)
        self.files = dict((m + backend.ext_suffix(), b'\x7fELF' + os.urandom(3000)) for m in backend.MODULES)
        self.files.update({'instrsim/__init__.py': b'x = 1\n', 'instrsim/__main__.py': b'x = 2\n',
                           'instrbind.py': b'y = 1\n', 'instrsim/bench.json': b'{"instruments": []}',
                           'instrsim/libinstrsim.so': b'\x7fELF', '_photonbay.pyi': b'def f() -> int: ...\n'})
        os.mkdir(os.path.join(self.prefix, 'instrsim'))
        for name, data in self.files.items():
            with open(os.path.join(self.prefix, name), 'wb') as f:
                f.write(data)

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def test_record_lists_every_file_with_its_hash_and_size(self):
        meta, tag = backend.project(), ('cp311', 'cp311', 'linux_x86_64')
        out = os.path.join(self.tmp, 'out')
        name = backend.write_wheel(out, self.prefix, sorted(self.files), meta, tag)
        self.assertEqual(name, 'instrbind-%s-cp311-cp311-linux_x86_64.whl' % meta['version'])
        dist_info = 'instrbind-%s.dist-info' % meta['version']
        with zipfile.ZipFile(os.path.join(out, name)) as z:
            names = z.namelist()
            self.assertEqual(names[-1], dist_info + '/RECORD')
            rows = list(csv.reader(io.StringIO(z.read(names[-1]).decode('utf-8'))))
            self.assertEqual(sorted(r[0] for r in rows), sorted(names))
            for path, digest, size in rows:
                if path == names[-1]:
                    self.assertEqual((digest, size), ('', ''))
                    continue
                data = z.read(path)
                expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b'=')
                self.assertEqual(digest, 'sha256=' + expected.decode('ascii'), path)
                self.assertEqual(int(size), len(data), path)
            for f, data in self.files.items():
                self.assertEqual(z.read(f), data)
                mode = z.getinfo(f).external_attr >> 16
                self.assertEqual(mode & 0o111 != 0, f.endswith('.so'), f)
            wheel = z.read(dist_info + '/WHEEL').decode('utf-8')
        self.assertIn('Root-Is-Purelib: false\n', wheel)
        self.assertIn('Tag: cp311-cp311-linux_x86_64\n', wheel)

    def test_stub_packages_keep_their_directory(self):
        os.mkdir(os.path.join(self.prefix, '_photonbay-stubs'))
        with open(os.path.join(self.prefix, '_photonbay-stubs', '__init__.pyi'), 'wb') as f:
            f.write(b'def g() -> int: ...\n')
        files = backend._installed(self.prefix)
        self.assertEqual(files, sorted(list(self.files) + ['_photonbay-stubs/__init__.pyi']))
        out = os.path.join(self.tmp, 'out')
        name = backend.write_wheel(out, self.prefix, files, backend.project(), ('cp311', 'cp311', 'linux_x86_64'))
        with zipfile.ZipFile(os.path.join(out, name)) as z:
            self.assertEqual(z.read('_photonbay-stubs/__init__.pyi'), b'def g() -> int: ...\n')

    def test_modules_are_named_for_this_interpreter_only(self):
        suffix = backend.ext_suffix()
        if sys.version_info[0] >= 3:
            self.assertIn('cpython-%d%d' % sys.version_info[:2], suffix)
        self.assertEqual(sysconfig.get_config_var('EXT_SUFFIX') or sysconfig.get_config_var('SO'), suffix)
        for m in backend.MODULES:
            self.assertTrue(os.path.isfile(os.path.join(BUILD, m + suffix)), m + suffix)
        with self.assertRaises(backend.BuildError) as e:   # modules of another interpreter
            backend._check(self.prefix, ['instrbind.py'] + list(backend.SIM_PACKAGE) +
                           [m + '.cpython-20-x.so' for m in backend.MODULES], self.tmp)
        self.assertIn('no module', str(e.exception))

    @unittest.skipUnless(os.path.exists(os.path.join(BUILD, 'build.log')), 'not built by ./run')
    def test_the_build_compiles_without_warnings(self):
        # ./run keeps the compiler's output of the last build here
        with open(os.path.join(BUILD, 'build.log'), 'rb') as f:
            log = f.read().decode('utf-8', 'replace')
        self.assertEqual([l for l in log.splitlines() if 'warning:' in l], [])

    def test_a_library_that_still_points_at_the_build_is_refused(self):
        build = os.path.join(self.tmp, 'build')
        with open(os.path.join(self.prefix, 'instrsim', 'libinstrsim.so'), 'wb') as f:
            f.write(b'\0$ORIGIN:' + build.encode('utf-8') + b'\0')
        files = backend._installed(self.prefix)
        with self.assertRaises(backend.BuildError) as e:
            backend._check(self.prefix, files, build)
        self.assertIn('RUNPATH', str(e.exception))
        backend._check(self.prefix, files, os.path.join(self.tmp, 'elsewhere'))


def objdump_needs(path):
    """(NEEDED libraries, newest version per family) as objdump -p lists them."""
    out = subprocess.check_output(['objdump', '-p', path]).decode('latin-1')
    libraries = re.findall(r'^\s+NEEDED\s+(\S+)$', out, re.M)
    versions = {}
    for family, number in re.findall(r'^\s+0x[0-9a-f]+ 0x[0-9a-f]+ \d+ ([A-Z]+)_([\d.]+)$', out, re.M):
        v = tuple(int(x) for x in number.split('.'))
        versions[family] = max(versions.get(family, v), v)
    return libraries, versions


class Platform(unittest.TestCase):
    """The wheel's platform tag says which Linux systems it runs on."""

    def built(self):
        return ([f for f in sorted(os.listdir(BUILD)) if f.endswith('.so')] +
                ['instrsim/' + f for f in sorted(os.listdir(os.path.join(BUILD, 'instrsim'))) if f.endswith('.so')])

    @unittest.skipUnless(sys.platform.startswith('linux'), 'ELF libraries')
    def test_what_the_libraries_need_is_read_as_objdump_reads_it(self):
        try:
            objdump_needs(os.path.join(BUILD, 'instrsim', 'libinstrsim.so'))
        except OSError:
            self.skipTest('no objdump')
        for name in self.built():
            self.assertEqual(backend.elf_needs(os.path.join(BUILD, name)),
                             objdump_needs(os.path.join(BUILD, name)), name)
        self.assertIsNone(backend.elf_needs(os.path.join(ROOT, 'pyproject.toml')))

    @unittest.skipUnless(sys.platform.startswith('linux') and sys.version_info[0] >= 3 and not SANITIZED,
                         'manylinux tags are given to Python 3 wheels of plain builds')
    def test_the_wheel_of_this_build_installs_here(self):
        py, abi, plat = backend.installed_tag(BUILD, self.built(), backend.wheel_tag())
        self.assertTrue(plat.startswith('manylinux_2_'), plat)
        try:
            from pip._vendor.packaging import tags
        except ImportError:
            self.skipTest('no packaging.tags in this pip')
        self.assertIn('-'.join((py, abi, plat)), set(str(t) for t in tags.sys_tags()))

    def test_the_tag_promises_only_what_the_libraries_need(self):
        base, old = ['libc.so.6', 'libstdc++.so.6'], {'GLIBC': (2, 14), 'GLIBCXX': (3, 4, 19), 'GCC': (3, 0)}
        new = dict(old, GLIBC=(2, 34), GLIBCXX=(3, 4, 29))
        real = backend.elf_needs
        try:
            for libs, versions, tag in [(base, old, 'manylinux_2_17_x86_64'),
                                        (base, dict(old, GLIBCXX=(3, 4, 20)), 'manylinux_2_34_x86_64'),
                                        (base + ['libsim.so'], new, 'manylinux_2_34_x86_64'),
                                        (base, dict(new, GLIBCXX=(3, 4, 30)), 'linux_x86_64'),
                                        (base, dict(new, GLIBC=(2, 35)), 'linux_x86_64'),
                                        (base + ['libvendor.so'], old, 'linux_x86_64'),   # not in the wheel
                                        (base, {}, 'linux_x86_64')]:                      # not glibc
                backend.elf_needs = lambda path: ((libs, versions) if path.endswith('_m.so') else
                                                  (base, dict((k, old[k]) for k in versions)))
                self.assertEqual(backend.linux_platform('/x', ['_m.so', 'libsim.so', 'instrsim.py'],
                                                        'linux_x86_64')[0], tag, (libs, versions))
        finally:
            backend.elf_needs = real
        if sys.version_info[0] < 3:         # pip 19 for 2.7 installs no manylinux_2_NN wheel
            self.assertEqual(backend.installed_tag(BUILD, self.built(), backend.wheel_tag()), backend.wheel_tag())


class Sdist(unittest.TestCase):
    def test_the_source_archive_builds_the_same_tree(self):
        tmp = tempfile.mkdtemp()
        try:
            name = backend.build_sdist(tmp)
            meta = backend.project()
            base = 'instrbind-%s' % meta['version']
            self.assertEqual(name, base + '.tar.gz')
            with tarfile.open(os.path.join(tmp, name)) as t:
                names = t.getnames()
                pkg_info = t.extractfile(base + '/PKG-INFO').read().decode('utf-8')
        finally:
            shutil.rmtree(tmp)
        self.assertTrue(all(n.startswith(base + '/') for n in names))
        inside = set(n[len(base) + 1:] for n in names)
        for needed in ['PKG-INFO', 'pyproject.toml', 'CMakeLists.txt', 'tools/build_backend.py',
                       'sim/instrsim/__init__.py', 'sim/instrsim/__main__.py', 'sim/bench.json', 'binding/instrbind.py', 'sim/CMakeLists.txt', 'sim/core/sim.cpp',
                       'binding/bind.hpp', 'drivers/visatypes.h', 'modules/photonbay/session.cpp',
                       'modules/photonbay/descriptions.txt', 'tools/gen_docs.py', 'tools/modsrc.py',
                       'stubs/instrsim.pyi']:
            self.assertIn(needed, inside)
        self.assertFalse([n for n in inside
                          if n.startswith(('build/', '.git/', '.hypothesis/')) or n.endswith('.pyc')])
        self.assertIn('Name: instrbind\n', pkg_info)


if __name__ == '__main__':
    unittest.main()
