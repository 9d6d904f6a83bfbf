#!/usr/bin/env python3
"""Writes the wheel of one Windows cross-build.

    make_wheel.py <build dir> <wheel dir> <tag, e.g. cp311-cp311-win32>

`cmake --install` lays the build out as it lands in site-packages (the
modules, instrbind.py and the stubs at the top; the instrsim package with the
simulated DLLs and their core); the wheel holds exactly that, with its
METADATA, WHEEL and RECORD.  Prints the wheel's path.
"""
from __future__ import print_function

import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..'))
import build_backend as backend  # noqa: E402


def make(build, out, tag):
    prefix = tempfile.mkdtemp(prefix='instrbind-win-')
    try:
        subprocess.check_call(['cmake', '--install', build, '--prefix', prefix], stdout=subprocess.DEVNULL)
        files = [f for f in backend._installed(prefix)]
        return os.path.join(out, backend.write_wheel(out, prefix, files, backend.project(), tuple(tag.split('-'))))
    finally:
        shutil.rmtree(prefix, ignore_errors=True)


if __name__ == '__main__':
    if len(sys.argv) != 4 or len(sys.argv[3].split('-')) != 3:
        sys.exit(__doc__)
    print(make(*sys.argv[1:]))
