"""The stubs as the type checkers take them: mypy's stubtest finds every
module's run-time functions and classes as the stubs say (stubs/stubtest-
allowlist.txt lists what cannot match), and `mypy --strict` accepts a lab
script using all five modules and instrsim, with the stubs on MYPYPATH and
as installed (the <module>-stubs packages mypy finds in site-packages).

Needs mypy in the running interpreter (Debian: python3-mypy; ./run installs
it); skipped without."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import support

try:
    import mypy  # noqa: F401
except ImportError:
    mypy = None

STUBS = os.path.join(support.ROOT, 'stubs')
SCRIPT = os.path.join(support.ROOT, 'tests', 'typing', 'lab_script.py')
MODULES = ['_photonbay', '_smeter', '_powerprobe', '_polshaper', '_instrbus', 'instrsim']


@unittest.skipIf(mypy is None, 'mypy is not installed for this interpreter (Debian: apt-get install python3-mypy)')
class TypeCheckers(unittest.TestCase):

    def run_tool(self, args, cwd, **env):
        full = dict((k, v) for k, v in os.environ.items() if k not in ('MYPYPATH', 'PYTHONPATH'))
        full.update(env)
        if args[0] == 'mypy':
            args = args + ['--cache-dir', self.cache]
        p = subprocess.Popen([sys.executable, '-m'] + args, cwd=cwd, env=full,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        out = p.communicate()[0].decode('utf-8', 'replace')
        return p.returncode, out

    @classmethod
    def setUpClass(cls):
        cls.cache = tempfile.mkdtemp()  # mypy's analysis of the standard library, shared

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.cache)

    def setUp(self):
        self.tmp = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def test_stubtest_finds_the_modules_as_the_stubs_say(self):
        rc, out = self.run_tool(['mypy.stubtest'] + MODULES + [
            '--allowlist', os.path.join(STUBS, 'stubtest-allowlist.txt'),
            '--mypy-config-file', os.devnull], self.tmp,
            MYPYPATH=STUBS, PYTHONPATH=support.BUILD)
        self.assertEqual(rc, 0, out)

    def test_strict_mypy_accepts_a_lab_script_with_the_stubs_in_the_tree(self):
        rc, out = self.run_tool(['mypy', '--strict', SCRIPT], self.tmp, MYPYPATH=STUBS)
        self.assertEqual(rc, 0, out)

    def test_strict_mypy_accepts_it_with_the_installed_stub_packages(self):
        # What `pip install .` lays out, found with no setup as site-packages
        # entries are (a directory on the interpreter's path).
        site = os.path.join(self.tmp, 'site')
        p = subprocess.Popen(['cmake', '--install', support.BUILD, '--prefix', site],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        out = p.communicate()[0].decode('utf-8', 'replace')
        if p.returncode != 0:
            self.skipTest('cmake --install of %s failed: %s' % (support.BUILD, out[-300:]))
        for m in MODULES:
            self.assertTrue(os.path.isfile(os.path.join(site, m + '-stubs', '__init__.pyi')), m)
            self.assertTrue(os.path.isfile(os.path.join(site, m + '.pyi')), m)
        shutil.copy(SCRIPT, self.tmp)
        rc, out = self.run_tool(['mypy', '--strict', 'lab_script.py'], self.tmp,
                                PYTHONPATH=site)
        self.assertEqual(rc, 0, out)
        # and a mistake is still one
        with open(os.path.join(self.tmp, 'wrong.py'), 'w') as f:
            f.write('import _photonbay as pb\nimport instrsim as sim\n'
                    'pb.PWM_readValue(1, 2)\nsim.fail("x", "y")\nv: pb.ViReal64Vec = pb.ViInt32Vec()\n')
        rc, out = self.run_tool(['mypy', '--strict', 'wrong.py'], self.tmp, PYTHONPATH=site)
        self.assertEqual(rc, 1, out)
        self.assertIn('Found 3 errors', out)


if __name__ == '__main__':
    unittest.main()
