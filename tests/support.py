"""Test support: puts the build directory on sys.path, chooses the simulated
drivers as a user's tests do (import instrsim before any module), gives the
simulator control and runs scripts that end the process in a subprocess.

The build directory is $INSTR_BUILD, else build/py<major> beside the tests.
"""
import os
import subprocess
import threading
import sys
import textwrap
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PY2 = sys.version_info[0] == 2
BUILD = os.path.abspath(os.environ.get('INSTR_BUILD') or
                        os.path.join(ROOT, 'build', 'py%d' % sys.version_info[0]))

if BUILD not in sys.path:
    sys.path.insert(0, BUILD)

import instrsim as sim  # noqa: E402  (first: the modules bind the simulated drivers)

# Running under the sanitizer runtime (./run sanitize): address-space limits
# and huge allocations behave differently there.
SANITIZED = 'asan' in os.environ.get('LD_PRELOAD', '')

# Signed forms of statuses used across the tests.
INSTR_ERROR = -1074000633           # 0xBFFC0D07: the instrument reported an error
INV_OBJECT = -1073807346            # 0xBFFF000E
RSRC_NFOUND = -1073807343           # 0xBFFF0011
TIMEOUT = -1073807339               # 0xBFFF0015
PARAM = -1074003968                 # 0xBFFC0000: parameter n out of range is PARAM + n


def bound_to(library):
    """How the failure line and the first trace record name a simulated library."""
    return ' [bound to %s, the simulator]' % os.path.join(BUILD, 'instrsim', library)


def signed(status):
    status &= 0xFFFFFFFF
    return status - 0x100000000 if status & 0x80000000 else status


def run_script(code, env=None, timeout=None):
    """Run Python `code` in a fresh interpreter with the build on its path.
    Returns (exit code, stdout text, stderr text); a child still running
    after `timeout` seconds is killed (exit code None).  See exit_journal()."""
    prelude = ('from __future__ import print_function\nimport sys\n'
               'sys.path[:0] = [%r]\nimport instrsim as sim\n' % BUILD)
    if os.environ.get('INSTR_TEST_TRACE'):  # the same scripts with the call trace on
        prelude += ('import logging, os, instrbind\n'
                    'logging.basicConfig(level=logging.DEBUG, filename=os.devnull)\ninstrbind.trace(True)\n')
    full_env = dict(os.environ)
    full_env.update(env or {})
    p = subprocess.Popen([sys.executable, '-c', prelude + textwrap.dedent(code)],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=full_env)
    killed = []
    timer = None
    if timeout:
        def kill():
            killed.append(1)
            p.kill()
        timer = threading.Timer(timeout, kill)
        timer.start()
    try:
        out, err = p.communicate()
    finally:
        if timer:
            timer.cancel()
    return (None if killed else p.returncode), out.decode('latin-1'), err.decode('latin-1')


def exit_journal(code, watch=None):
    """Run `code` like run_script and also return the driver calls it made, as
    the simulator wrote them when the process exited (also through C exit):
    (exit code, stdout, stderr, [(name, args), ...]).  Only the calls of the
    functions named in `watch` are kept when it is given."""
    import tempfile
    fd, path = tempfile.mkstemp(suffix='.journal')
    os.close(fd)
    try:
        rc, out, err = run_script(code, env={'INSTRSIM_JOURNAL_AT_EXIT': path})
        with open(path) as f:
            calls = [line.rstrip('\n').split('\x1f') for line in f]
    finally:
        os.remove(path)
    calls = [(c[0], tuple(sim._parse(t) for t in c[1:])) for c in calls if watch is None or c[0] in watch]
    return rc, out, err, calls


def calls_of(calls, fn):
    """The argument tuples of the calls of `fn` in an exit journal (as sim.calls)."""
    return [args for name, args in calls if name == fn]


def python_path(*first):
    """PYTHONPATH for a child: `first`, the build, then what this process was given."""
    return os.pathsep.join(list(first) + [BUILD] + [p for p in [os.environ.get('PYTHONPATH')] if p])


def run_example(name, *args, **kw):
    """Run examples/<name> on the simulator as a user would at the desk,
    `python -m instrsim examples/<name> args...`: (exit code, stdout, stderr)."""
    env = dict(os.environ, INSTR_BUILD=BUILD, PYTHONPATH=python_path())
    p = subprocess.Popen([sys.executable, '-m', 'instrsim', os.path.join(ROOT, 'examples', name)] + list(args),
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, cwd=kw.get('cwd'))
    out, err = p.communicate()
    return p.returncode, out.decode('latin-1'), err.decode('latin-1')


exit_code = sim.exit_code


class Index(object):
    """A number-like object with only __index__ (and __int__), as numpy integers."""
    def __init__(self, v=1):
        self.v = v

    def __index__(self):
        return self.v

    def __int__(self):
        return self.v


class Float(object):
    """A number-like object with only __float__, as numpy.float32."""
    def __init__(self, v):
        self.v = v

    def __float__(self):
        return self.v


# int aliases each module carries for its session types (not functions)
SESSION_TYPES = ('Session', 'ResourceManager', 'FindList')


def public_names(module):
    """The names a module defines, in registration order (any order on 2.7),
    less its session types."""
    return [k for k in vars(module) if not k.startswith('__') and k not in SESSION_TYPES]


class TestCase(unittest.TestCase):
    """The suite's test case (SimTestCase adds the simulator's reset)."""



def bench_file(bench):
    """Writes `bench` (a dict) as a bench file for sim.configure; its path."""
    import json
    import tempfile
    fd, path = tempfile.mkstemp(suffix='.json')
    with os.fdopen(fd, 'w') as f:
        json.dump(bench, f)
    return path


def driver_table(driver):
    """The functions of a simulated driver as the build's table lists them."""
    import json
    with open(os.path.join(BUILD, 'drivers', 'drivers.json')) as f:
        return json.load(f)[driver]


_RAW_TYPES = None


def driver_file(driver):
    """The simulated library of `driver` (drivers/drivers.def), on Linux."""
    if os.path.join(ROOT, 'tools') not in sys.path:
        sys.path.insert(0, os.path.join(ROOT, 'tools'))
    import drivertable
    return [row['file'] for row in drivertable.drivers() if row['name'] == driver][0]


def raw_call(driver, fn, *first):
    """Calls driver function `fn` (its table entry) in the simulated library
    itself: the arguments `first`, then 0 for every other number and null for
    every pointer and text; the status."""
    import ctypes
    global _RAW_TYPES
    if _RAW_TYPES is None:
        _RAW_TYPES = {'i16': ctypes.c_int16, 'u16': ctypes.c_uint16, 'i32': ctypes.c_int32,
                      'u32': ctypes.c_uint32, 'f64': ctypes.c_double, 'state': ctypes.c_ssize_t}
    lib = ctypes.CDLL(os.path.join(BUILD, 'instrsim', driver_file(driver)))
    f = getattr(lib, fn['name'])
    f.restype = ctypes.c_int32
    f.argtypes = [_RAW_TYPES[p['type']] if p['role'] == 'in' else ctypes.c_void_p for p in fn['params']]
    rest = [0 if p['role'] == 'in' else None for p in fn['params'][len(first):]]
    return f(*(list(first) + rest))


class SimTestCase(TestCase):
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
