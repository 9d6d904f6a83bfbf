"""Test support: puts the build directory on sys.path, gives the simulator
control (instrsim) and runs scripts that end the process in a subprocess.

The build directory is $INSTR_BUILD, else build/py<major> beside the tests.
"""
import os
import subprocess
import sys
import textwrap
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PY2 = sys.version_info[0] == 2
BUILD = os.path.abspath(os.environ.get('INSTR_BUILD') or
                        os.path.join(ROOT, 'build', 'py%d' % sys.version_info[0]))

for p in (os.path.join(ROOT, 'sim'), BUILD):
    if p not in sys.path:
        sys.path.insert(0, p)

import instrsim as sim  # noqa: E402

# Running under the sanitizer runtime (./run sanitize): address-space limits
# and huge allocations behave differently there.
SANITIZED = 'asan' in os.environ.get('LD_PRELOAD', '')

# Signed forms of statuses used across the tests.
INSTR_ERROR = -1074000633           # 0xBFFC0D07: the instrument reported an error
INV_OBJECT = -1073807346            # 0xBFFF000E
RSRC_NFOUND = -1073807343           # 0xBFFF0011


def signed(status):
    status &= 0xFFFFFFFF
    return status - 0x100000000 if status & 0x80000000 else status


def run_script(code, env=None):
    """Run Python `code` in a fresh interpreter with the build on its path.
    Returns (exit code, stdout text, stderr text).  See exit_journal()."""
    prelude = ('from __future__ import print_function\nimport sys\n'
               'sys.path[:0] = [%r, %r]\nimport instrsim as sim\n'
               % (BUILD, os.path.join(ROOT, 'sim')))
    full_env = dict(os.environ)
    full_env.update(env or {})
    p = subprocess.Popen([sys.executable, '-c', prelude + textwrap.dedent(code)],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=full_env)
    out, err = p.communicate()
    return p.returncode, out.decode('latin-1'), err.decode('latin-1')


def exit_journal(code):
    """Run `code` like run_script and also return the driver calls it made, as
    the simulator wrote them when the process exited (also through C exit):
    (exit code, stdout, stderr, [(name, args), ...])."""
    import tempfile
    fd, path = tempfile.mkstemp(suffix='.journal')
    os.close(fd)
    try:
        rc, out, err = run_script(code, env={'INSTRSIM_JOURNAL_AT_EXIT': path})
        with open(path) as f:
            calls = [line.rstrip('\n').split('\x1f') for line in f]
    finally:
        os.remove(path)
    return rc, out, err, [(c[0], tuple(sim._parse(t) for t in c[1:])) for c in calls]


def exit_code(status):
    """The exit code a process shows after exit(status) on this platform."""
    return status & 0xFF


class SimTestCase(unittest.TestCase):
    """Resets the simulated drivers before every test."""

    def setUp(self):
        sim.reset()

    def last_call(self, fn):
        c = sim.calls(fn)
        self.assertTrue(c, '%s was not called' % fn)
        return c[-1]

    def assertNotCalled(self, fn):
        self.assertEqual(sim.calls(fn), [], '%s reached the driver' % fn)

    def assertText(self, value, expected):
        self.assertIs(type(value), str)
        self.assertEqual(value, expected)
