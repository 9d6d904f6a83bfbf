"""The frame's own cost per call, in instructions, against the same three
calls wrapped by hand on the C API (benchmarks/handwritten.cpp, built here
with g++ against the build's simulated mainframe driver).

    INSTR_BUILD=build/py3 python3 benchmarks/frame_cost.py

Counted with valgrind's callgrind, which counts instructions, not seconds:
a loaded machine does not change the figures, and every run has the same
hash seed.  Each figure is the difference between a loop of 21 000 calls
and one of 1 000, per call.  Needs valgrind and g++; says so and stops
without them.  Python 3 only.
"""
from __future__ import print_function

import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
BUILD = os.path.abspath(os.environ.get('INSTR_BUILD') or os.path.join(ROOT, 'build', 'py3'))
CALLS = [('timeOut', '(s, 5000)'),  # a setter
         ('timeOut_Q', '(s)'),  # a one-value query
         ('get_ATT_attenuation_Q', '(s, 3)')]  # a four-value query (the attenuator in slot 3)


def build_handwritten(tmp):
    out = os.path.join(tmp, '_handwritten' + sysconfig.get_config_var('EXT_SUFFIX'))
    subprocess.check_call(['g++', '-std=c++17', '-O2', '-shared', '-fPIC', '-o', out,
                           os.path.join(HERE, 'handwritten.cpp'),
                           '-I', sysconfig.get_paths()['include'], '-I', os.path.join(ROOT, 'drivers'),
                           '-L', os.path.join(BUILD, 'instrsim'), '-lhp816x_32'])
    return tmp


def instructions(module_dir, module, call, n):
    code = ('import sys; sys.path[:0] = [%r, %r]\nimport instrsim; instrsim.journaling(False)\n'
            'import _photonbay as pb; import %s as m\ns = pb.init("GPIB0::20::INSTR", 0, 0)\n'
            'f = m.%s\nfor i in range(%d): f%s\n' % (module_dir, BUILD, module, call[0], n, call[1]))
    # One hash seed for every run: the loop's name lookups cost what the
    # globals' hash collisions make them, tens of instructions apart by seed.
    env = dict(os.environ, PYTHONHASHSEED='0')
    p = subprocess.Popen(['valgrind', '--tool=callgrind', '--callgrind-out-file=/dev/null', sys.executable, '-c', code],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    err = p.communicate()[1].decode('latin-1')
    m = re.search(r'Collected : (\d+)', err)
    if p.returncode != 0 or not m:
        raise RuntimeError(err[-2000:])
    return int(m.group(1))


def per_call(module_dir, module, call):
    return (instructions(module_dir, module, call, 21000) - instructions(module_dir, module, call, 1000)) / 20000.0


def main():
    if sys.version_info[0] < 3 or not shutil.which('valgrind') or not shutil.which('g++'):
        print('frame_cost.py: needs Python 3, valgrind and g++; skipped')
        return 0
    tmp = tempfile.mkdtemp()
    try:
        hand = build_handwritten(tmp)
        print('| call | frame (instructions) | by hand | ratio |')
        print('| --- | ---: | ---: | ---: |')
        for call in CALLS:
            ours = per_call(BUILD, '_photonbay', call)
            theirs = per_call(hand, '_handwritten', call)
            print('| `%s` | %.0f | %.0f | %.2fx |' % (call[0], ours, theirs, ours / theirs))
    finally:
        shutil.rmtree(tmp)
    return 0


if __name__ == '__main__':
    sys.exit(main())
