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
import instrbind  # noqa: E402  (the build's, found through support)

try:
    import mypy  # noqa: F401
except ImportError:
    mypy = None

STUBS = os.path.join(support.ROOT, 'stubs')
SCRIPT = os.path.join(support.ROOT, 'tests', 'typing', 'lab_script.py')
MODULES = list(instrbind.MODULES) + ['instrsim', 'instrbind']


def pyright():
    """The pyright command ($PYRIGHT, on PATH, or the one ./run installs with npm
    into build/npm), or None."""
    for cand in [os.environ.get('PYRIGHT'), shutil.which('pyright') if hasattr(shutil, 'which') else None,
                 os.path.join(support.ROOT, 'build', 'npm', 'node_modules', '.bin', 'pyright')]:
        if cand and os.path.isfile(cand) and os.access(cand, os.X_OK):
            return cand
    return None


MIXED = """import _photonbay as pb
import _smeter as smu
s = pb.init('GPIB0::20::INSTR', 1, 0)
smu.Read(s, 1)
"""

CORRECT = """import _instrbus as bus
import _photonbay as pb
import _smeter as smu
s = pb.init('GPIB0::20::INSTR', 1, 0)
k = smu.init('GPIB0::24::INSTR', 1, 1)
amps: float = smu.Read(k, 1) + pb.PWM_readValue(s, 1, 0)
pb.close(pb.Session(4097))
rm = bus.OpenDefaultRM()
found, count, first = bus.FindRsrc(rm, '?*INSTR')
vi = bus.Open(rm, bus.FindNext(found), 0, 2000)
bus.Close(vi)
bus.Close(found)
bus.Close(rm)
"""


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
            beside = os.path.join('instrsim', '__init__.pyi') if m == 'instrsim' else m + '.pyi'  # in its package
            self.assertTrue(os.path.isfile(os.path.join(site, beside)), m)
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
        self.assertIn('Found 4 errors', out)   # 1 is no _photonbay.Session either

    # Each driver's sessions are a type of their own for the checkers.
    EXAMPLES = os.path.join(support.ROOT, 'examples')

    def write(self, name, text):
        with open(os.path.join(self.tmp, name), 'w') as f:
            f.write(text)

    def test_a_session_of_another_driver_is_an_error_and_a_correct_script_is_clean(self):
        self.write('mixed.py', MIXED)
        self.write('correct.py', CORRECT)
        rc, out = self.run_tool(['mypy', '--strict', 'mixed.py'], self.tmp, MYPYPATH=STUBS)
        self.assertEqual(rc, 1, out)
        self.assertIn('mixed.py:4: error: Argument 1 to "Read" has incompatible type "_photonbay.Session"; '
                      'expected "_smeter.Session"', out)
        self.assertIn('Found 1 error', out)
        rc, out = self.run_tool(['mypy', '--strict', 'correct.py'], self.tmp, MYPYPATH=STUBS)
        self.assertEqual(rc, 0, out)
        # The examples, as written (untyped, 2.7-compatible), with their bodies
        # checked: no session goes astray (their 2.7 idioms draw other remarks).
        rc, out = self.run_tool(['mypy', '--check-untyped-defs', '--ignore-missing-imports'] + self.examples(),
                                self.tmp, MYPYPATH=STUBS)
        self.assertIn('checked %d source files' % len(self.examples()), out)
        self.assertEqual([l for l in out.splitlines() if 'Session' in l], [], out)

    def examples(self):
        return sorted(os.path.join(self.EXAMPLES, n) for n in os.listdir(self.EXAMPLES) if n.endswith('.py'))

    @unittest.skipIf(pyright() is None, 'pyright is not installed (npm install pyright; or set PYRIGHT)')
    def test_pyright_sees_the_same(self):
        self.write('mixed.py', MIXED)
        self.write('correct.py', CORRECT)
        self.write('pyrightconfig.json', '{"stubPath": "%s", "pythonVersion": "3.8"}' % STUBS.replace('\\', '/'))
        def check(files):
            p = subprocess.Popen([pyright()] + files, cwd=self.tmp, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            return p.communicate()[0].decode('utf-8', 'replace')
        out = check(['mixed.py'])
        self.assertIn('\n1 error', out)
        self.assertIn('"_photonbay.Session" is not assignable to "_smeter.Session"', out)
        self.assertIn('\n0 errors', check(['correct.py']))
        out = check(self.examples())
        self.assertIn('examples', out)
        self.assertEqual([l for l in out.splitlines() if 'Session' in l], [], out)


if __name__ == '__main__':
    unittest.main()
