"""The named Python blocks of the README and docs/*.md run as written; their
links lead somewhere; the examples that write files say where; ./run's builds
show progress and keep the whole log."""
import ast
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from support import BUILD, ROOT


def doc_pages():
    """The README, then docs/*.md, as paths relative to the repository."""
    docs = sorted(n for n in os.listdir(os.path.join(ROOT, 'docs')) if n.endswith('.md'))
    return ['README.md'] + ['docs/' + n for n in docs]


def read(page):
    with open(os.path.join(ROOT, page), 'rb') as f:
        return f.read().decode('utf-8')


def readme_files():
    """{file name: source} of the ```python blocks whose first line names a
    file ('# name.py'); a block '# name.py, continued' is appended to it."""
    blocks = []
    for page in doc_pages():
        blocks += re.findall(r'^```python\n(.*?)^```', read(page), re.M | re.S)
    files = {}
    for block in blocks:
        m = re.match(r'# (\w+\.py)(, continued)?\n', block)
        if m:
            assert bool(m.group(2)) == (m.group(1) in files), m.group(0)
            files[m.group(1)] = files.get(m.group(1), '') + '\n' + block
    return files


def run(args, cwd, env=None):
    env = dict(os.environ, **(env or {}))
    env['PYTHONPATH'] = os.pathsep.join(filter(None, [env.get('FIRST_PATH'), BUILD]))
    p = subprocess.Popen([sys.executable] + args, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = p.communicate()
    return p.returncode, out.decode('latin-1'), err.decode('latin-1')


class Readme(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.tmp)
        self.files = readme_files()
        for name, source in self.files.items():
            with open(os.path.join(self.tmp, name), 'w') as f:
                f.write(source)

    def test_the_first_steps_print_what_their_comments_say(self):
        rc, out, err = run(['first_steps.py'], self.tmp, {'LD_LIBRARY_PATH': ''})   # a bench without the driver
        self.assertEqual(rc, 1)
        self.assertIn('ImportError', err)
        self.assertIn('hp816x_32', err)
        rc, out, err = run(['-m', 'instrsim', 'first_steps.py'], self.tmp)          # at the desk
        self.assertEqual((rc, err), (0, ''))
        prints = [l for l in self.files['first_steps.py'].splitlines() if l.startswith('print(')]
        self.assertEqual(len(out.splitlines()), len(prints), out)
        for code, line in zip(prints, out.splitlines()):
            try:                                # "# ('4.7.2', 'R4.07(1182)')": the output
                expected = ast.literal_eval(code.partition('#')[2].strip())
            except (ValueError, SyntaxError):   # "# power through ...": prose
                continue
            self.assertEqual(ast.literal_eval(line), expected, code)

    def test_the_lab_script_tests_run_and_pass(self):
        self.assertEqual(sorted(self.files), ['first_steps.py', 'my_lab_script.py', 'test_laser.py',
                                              'test_my_lab_script.py'])
        for name in ['test_laser', 'test_my_lab_script']:
            rc, out, err = run(['-m', 'unittest', name], self.tmp)
            self.assertEqual(rc, 0, err)
            count = self.files[name + '.py'].count('    def test_')
            self.assertIn('Ran %d test' % count, err)
            self.assertNotIn('skipped', err)
        rc, out, err = run(['-c', 'import instrsim\nfrom my_lab_script import tune_laser; tune_laser(0, 1550.0, -1)'],
                         self.tmp)
        self.assertIn('ValueError: retries must be 0 or more, not -1', err)


class Links(unittest.TestCase):
    LINK = re.compile(r'\]\(([^)\s]+)\)')

    @staticmethod
    def anchors(text):
        """GitHub's heading anchors: lower case, punctuation dropped, spaces to '-'."""
        text = re.sub(r'^```.*?^```', '', text, flags=re.M | re.S)
        return set(re.sub(r'[^\w\- ]', '', h.strip().lower()).replace(' ', '-')
                   for h in re.findall(r'^#+ (.*)$', text, re.M))

    def test_every_link_leads_to_a_file_and_heading_and_every_page_is_linked(self):
        linked = set()
        for page in doc_pages():
            for target in self.LINK.findall(read(page)):
                if re.match(r'\w+:', target):
                    continue
                path, _, anchor = target.partition('#')
                path = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
                self.assertTrue(os.path.exists(os.path.join(ROOT, path)), (page, target))
                if anchor:
                    self.assertIn(anchor, self.anchors(read(path)), (page, target))
                if page == 'README.md':
                    linked.add(path)
        self.assertEqual(sorted(p for p in doc_pages()[1:] if p not in linked), [])


class ExampleFiles(unittest.TestCase):
    def test_the_csv_and_plot_go_where_asked_and_are_named_in_full(self):
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp)
        here, fake = os.path.join(tmp, 'here'), os.path.join(tmp, 'fake')
        os.mkdir(here)
        os.mkdir(fake)
        with open(os.path.join(fake, 'matplotlib.py'), 'w') as f:
            f.write('raise ImportError("no matplotlib here")\n')
        for example, out_dir, csv in [('iv_sweep.py', [], os.path.join(here, 'iv_sweep.csv')),
                                      ('iv_sweep.py', ['../new/'], os.path.join(tmp, 'new', 'iv_sweep.csv')),
                                      ('lambda_scan.py', [tmp], os.path.join(tmp, 'lambda_scan.csv')),
                                      ('lambda_scan.py', ['a.csv'], os.path.join(here, 'a.csv'))]:
            rc, out, err = run(['-m', 'instrsim', os.path.join(ROOT, 'examples', example)] + out_dir, here,
                               {'FIRST_PATH': fake})
            self.assertEqual(rc, 0, err)
            shown = dict(l.split(':', 1) for l in out.splitlines() if ' (CSV)' in l or ' (PNG)' in l)
            self.assertEqual(sorted(v.strip() for v in shown.values()),
                             [csv, 'none, matplotlib is not installed' +
                              (' (Debian: apt-get install python3-matplotlib)' if sys.version_info[0] >= 3 else '')])
            self.assertGreater(os.path.getsize(csv), 100)
        self.assertEqual(sorted(os.listdir(here)), ['a.csv', 'iv_sweep.csv'])


class RunProgress(unittest.TestCase):
    """./run's builds: CMake's lines go whole to build.log (the warning check
    reads it), the screen gets progress lines, a failed build shows the log."""
    CMAKE = r"""
cmake() {
    [ "$1" = --build ] || return 0
    echo '[  4%] Building CXX object CMakeFiles/_photonbay_objects.dir/modules/photonbay/session.cpp.o'
    echo 'session.cpp:12:5: warning: unused variable'
    echo '[ 50%] Built target instrsim'
    echo '[ 97%] Linking CXX shared module _photonbay.cpython-311-x86_64-linux-gnu.so'
    echo "$FAIL" >&2
    [ -z "$FAIL" ]
}
"""

    def build(self, fail):
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp)
        with open(os.path.join(ROOT, 'run')) as f:
            functions = re.search(r'^progress\(\).*?(?=^case )', f.read(), re.M | re.S).group(0)
        p = subprocess.Popen(['bash', '-c', 'set -euo pipefail\nJOBS=2\n%s%scmake_build %s\n'
                              % (functions, self.CMAKE, tmp)], env=dict(os.environ, FAIL=fail),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out, err = p.communicate()
        with open(os.path.join(tmp, 'build.log')) as f:
            return p.returncode, out.decode().splitlines(), err.decode(), f.read()

    def test_progress_off_a_terminal_and_the_whole_log(self):
        rc, lines, err, log = self.build('')
        self.assertEqual(rc, 0, err)
        self.assertEqual(log.count('\n'), 5)
        self.assertIn('session.cpp:12:5: warning: unused variable\n', log)
        self.assertEqual(lines[:2], ['   [ 50%] instrsim built',         # targets and each further tenth
                                     '   [ 97%] linking _photonbay.cpython-311-x86_64-linux-gnu.so'])
        self.assertTrue(lines[2].startswith('   built in '), lines)

    def test_a_failed_build_shows_its_log_and_stops(self):
        rc, lines, err, log = self.build('session.cpp:3:1: error: expected declaration')
        self.assertEqual(rc, 1)
        self.assertIn('session.cpp:12:5: warning', err)
        self.assertIn('error: expected declaration', err)
        self.assertFalse([l for l in lines if 'built in' in l])


if __name__ == '__main__':
    unittest.main()
