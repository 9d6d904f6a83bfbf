"""The README's named Python blocks run as written, and the examples that
write files say where (the output directory can be chosen)."""
import ast
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from support import BUILD, ROOT

NAMED = re.compile(r'^# (\w+\.py)(, continued)?$')


def readme_files():
    """{file name: source} of the ```python blocks whose first line names a
    file; a block '# name.py, continued' is appended to that file."""
    with open(os.path.join(ROOT, 'README.md')) as f:
        text = f.read()
    files, order = {}, []
    for block in re.findall(r'^```python\n(.*?)^```', text, re.M | re.S):
        m = NAMED.match(block.split('\n', 1)[0])
        if not m:
            continue
        name = m.group(1)
        if name not in files:
            order.append(name)
        elif not m.group(2):
            raise AssertionError('%s is named twice in README.md' % name)
        files[name] = files.get(name, '') + ('\n\n' if name in files else '') + block
    return files, order


def run(args, cwd, extra_path=()):
    env = dict(os.environ)
    env['PYTHONPATH'] = os.pathsep.join(list(extra_path) + [BUILD, os.path.join(ROOT, 'sim')])
    p = subprocess.Popen([sys.executable] + list(args), cwd=cwd, env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = p.communicate()
    return p.returncode, out.decode('latin-1'), err.decode('latin-1')


def literal(text):
    try:
        return True, ast.literal_eval(text.strip())
    except (ValueError, SyntaxError):
        return False, None


class ReadmeBlocks(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.files, cls.order = readme_files()
        cls.tmp = tempfile.mkdtemp()
        for name, source in cls.files.items():
            with open(os.path.join(cls.tmp, name), 'w') as f:
                f.write(source)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def test_the_named_blocks_are_the_ones_the_text_refers_to(self):
        self.assertEqual(self.order, ['first_steps.py', 'my_lab_script.py', 'test_my_lab_script.py'])

    def test_scripts_run_and_print_what_their_comments_say(self):
        for name in self.order:
            if name.startswith('test_'):
                continue
            rc, out, err = run([name], self.tmp)
            self.assertEqual((rc, err), (0, ''), name)
            prints = [l for l in self.files[name].splitlines() if l.startswith('print(')]
            lines = out.splitlines()
            self.assertEqual(len(lines), len(prints), out)
            for code, line in zip(prints, lines):
                comment = code.partition('#')[2]
                is_literal, expected = literal(comment)
                if is_literal:                  # "# ('4.7.2', 'R4.07(1182)')": the output
                    self.assertEqual(literal(line), (True, expected), code)

    def test_the_tests_run_and_pass(self):
        rc, out, err = run(['-m', 'unittest', '-v', 'test_my_lab_script'], self.tmp)
        self.assertEqual(rc, 0, err)
        count = len(re.findall(r'^    def test_', self.files['test_my_lab_script.py'], re.M))
        self.assertGreaterEqual(count, 4)
        self.assertIn('Ran %d tests' % count, err)
        self.assertNotIn('skipped', err)

    def test_a_negative_retry_count_is_refused_not_a_name_error(self):
        rc, out, err = run(['-c', 'import my_lab_script as m\n'
                                  's = m.pb.init("GPIB0::20::INSTR", 1, 0)\n'
                                  'm.tune_laser(s, 1550.0, -1)'], self.tmp)
        self.assertNotEqual(rc, 0)
        self.assertIn('ValueError: retries must be 0 or more, not -1', err)


class ExampleFiles(unittest.TestCase):
    """lambda_scan and iv_sweep write a CSV and a PNG: where the argument says
    (a directory or the file), else in the current directory, and print the
    full paths; without matplotlib they say the plot is skipped."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.here = os.path.join(self.tmp, 'here')
        os.mkdir(self.here)

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def example(self, name, *args, **kw):
        rc, out, err = run([os.path.join(ROOT, 'examples', name)] + list(args), self.here, kw.get('path', ()))
        self.assertEqual(rc, 0, err)
        return dict(l.split(': ', 1) for l in out.splitlines() if l.startswith(('Scan data', 'Sweep data', 'Plot')))

    def without_matplotlib(self):
        fake = os.path.join(self.tmp, 'fake')
        os.mkdir(fake)
        with open(os.path.join(fake, 'matplotlib.py'), 'w') as f:
            f.write('raise ImportError("no matplotlib here")\n')
        return [fake]

    def check(self, shown, csv_path, has_plot):
        self.assertEqual(shown[[k for k in shown if 'data' in k][0]].strip(), csv_path)
        self.assertTrue(os.path.getsize(csv_path) > 100, csv_path)
        png = os.path.splitext(csv_path)[0] + '.png'
        if has_plot:
            self.assertEqual(shown['Plot (PNG)'].strip(), png)
            self.assertTrue(os.path.isfile(png))
        else:
            self.assertTrue(shown['Plot (PNG)'].strip().startswith('none, matplotlib is not installed'))
            self.assertFalse(os.path.exists(png))

    def test_iv_sweep_writes_where_it_is_told_and_says_so(self):
        try:
            import matplotlib  # noqa: F401
            plots = True
        except ImportError:
            plots = False
        self.check(self.example('iv_sweep.py'), os.path.join(self.here, 'iv_sweep.csv'), plots)
        out = os.path.join(self.tmp, 'new', 'dir') + os.sep          # made if missing
        self.check(self.example('iv_sweep.py', out), os.path.join(out, 'iv_sweep.csv'), plots)
        self.check(self.example('iv_sweep.py', os.path.join('..', 'named.csv'), path=self.without_matplotlib()),
                   os.path.join(self.tmp, 'named.csv'), False)

    def test_lambda_scan_takes_a_directory(self):
        self.check(self.example('lambda_scan.py', self.tmp, path=self.without_matplotlib()),
                   os.path.join(self.tmp, 'lambda_scan.csv'), False)
        self.assertEqual(os.listdir(self.here), [])


class RunProgress(unittest.TestCase):
    """./run's builds: CMake's lines go whole to build.log, the screen gets a
    short progress line, and a failed build shows the log and stops."""
    CMAKE = r"""
cmake() {
    [ "$1" = --build ] || { echo '-- Configuring done'; return 0; }
    echo '[  4%] Building CXX object CMakeFiles/_photonbay_objects.dir/modules/photonbay/session.cpp.o'
    echo 'session.cpp:12:5: warning: unused variable'
    echo '[ 50%] Built target instrsim'
    echo '[ 97%] Linking CXX shared module _photonbay.cpython-311-x86_64-linux-gnu.so'
    echo "$FAIL" >&2
    [ -z "$FAIL" ]
}
"""

    def run_build(self, fail=''):
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp)
        with open(os.path.join(ROOT, 'run')) as f:
            functions = re.search(r'^progress\(\).*?(?=^case )', f.read(), re.M | re.S).group(0)
        script = 'set -euo pipefail\nJOBS=2\n' + functions + self.CMAKE + 'cmake_build %s\n' % tmp
        p = subprocess.Popen(['bash', '-c', script], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             env=dict(os.environ, FAIL=fail))
        out, err = p.communicate()
        with open(os.path.join(tmp, 'build.log')) as f:
            log = f.read()
        return p.returncode, out.decode(), err.decode(), log

    def test_the_log_keeps_everything_and_the_screen_the_progress(self):
        rc, out, err, log = self.run_build()
        self.assertEqual(rc, 0, err)
        self.assertIn('session.cpp:12:5: warning: unused variable\n', log)   # for the warning check
        self.assertEqual(log.count('\n'), 6)
        lines = out.splitlines()
        # off a terminal: finished targets and each further tenth
        self.assertEqual(lines[:2], ['   [ 50%] instrsim built',
                                     '   [ 97%] linking _photonbay.cpython-311-x86_64-linux-gnu.so'])
        self.assertTrue(lines[-1].startswith('   built in '), lines)
        self.assertNotIn('warning', out + err)

    def test_a_failed_build_shows_its_log_and_stops(self):
        rc, out, err, log = self.run_build(fail='session.cpp:3:1: error: expected declaration')
        self.assertEqual(rc, 1)
        self.assertIn('session.cpp:12:5: warning', err)
        self.assertIn('error: expected declaration', err)
        self.assertIn('!! build in ', err)
        self.assertNotIn('built in', out)


if __name__ == '__main__':
    unittest.main()
