"""I-V curve of a diode with its series resistor on the source-measure unit.

    python examples/iv_sweep.py [output directory | iv_sweep.csv]

Sweeps the voltage from -1 V to +3 V with a 10 mA current limit and prints
the curve as a table.  Writes two files and prints their full paths: the
curve as CSV (iv_sweep.csv in the current directory, in the directory
given, or the file given) and a PNG plot beside it (same name, .png) when
matplotlib is installed.  Works on Python 2.7 and 3.
"""
from __future__ import print_function

import os
import sys


def _module_path():
    # The modules live in the build directory: $INSTR_BUILD, else build/py<major>.
    here = os.path.dirname(os.path.abspath(__file__))
    build = os.environ.get('INSTR_BUILD') or os.path.join(here, '..', 'build', 'py%d' % sys.version_info[0])
    sys.path.insert(0, os.path.abspath(build))


_module_path()
import _smeter as smu  # noqa: E402

RESOURCE = 'GPIB0::24::INSTR'
VOLTAGE, CURRENT = 0, 1
LINEAR, UP, BEST_RANGE = 0, 0, 0
START, STOP, STEP = -1.0, 3.0, 0.05   # V
COMPLIANCE = 10e-3                    # A
NPLC, SETTLE = 1.0, 0.005             # integration (power-line cycles), source delay (s)


def ok(session, status):
    """The module raises nothing: ask the driver why a call failed."""
    if status < 0:
        code, text = smu.GetError(session, 512)
        raise RuntimeError('%s (0x%08X)' % (text, code & 0xFFFFFFFF))
    return status


def sweep(session):
    points = smu.StepCount(START, STOP, STEP)
    ok(session, smu.Configure_Sweep_VI(session, LINEAR, UP, BEST_RANGE, START, STOP, STEP,
                                       COMPLIANCE, points, NPLC, SETTLE))
    ok(session, smu.EnableSource(session, 1, 0))
    try:
        volts, n = smu.ReadMultiPoint(session, VOLTAGE, points)
        amps, m = smu.FetchMultiPoint(session, CURRENT, points)
    finally:
        smu.EnableSource(session, 0, 0)
    if n != points or m != n:
        code, text = smu.GetError(session, 512)
        raise RuntimeError('expected %d readings, got %d and %d: %s' % (points, n, m, text))
    return list(volts), list(amps)


def output_path(argv, default):
    """The CSV file to write, in full: `default` in the current directory, or
    in the directory given (made if missing), or the file given."""
    path = argv[1] if len(argv) > 1 else os.curdir
    if os.path.isdir(path) or path.endswith(('/', os.sep)):
        path = os.path.join(path, default)
    path = os.path.abspath(path)
    if not os.path.isdir(os.path.dirname(path)):
        os.makedirs(os.path.dirname(path))
    return path


def write_csv(path, volts, amps):
    with open(path, 'w') as f:
        f.write('voltage_V,current_A\n')
        for v, i in zip(volts, amps):
            f.write('%.6f,%.6e\n' % (v, i))


def plot(path, volts, amps):
    try:
        import matplotlib
        matplotlib.use('Agg')
        import matplotlib.pyplot as plt
    except ImportError:
        return None
    fig, (lin, log) = plt.subplots(1, 2, figsize=(10, 4))
    lin.plot(volts, [i * 1e3 for i in amps], '.-')
    lin.set_ylabel('Current (mA)')
    log.semilogy(volts, [abs(i) for i in amps], '.-')
    log.set_ylabel('|Current| (A)')
    for ax in (lin, log):
        ax.set_xlabel('Voltage (V)')
        ax.grid(True, alpha=0.3)
    fig.suptitle('I-V sweep on %s' % RESOURCE)
    fig.subplots_adjust(wspace=0.3)
    png = os.path.splitext(path)[0] + '.png'
    fig.savefig(png, dpi=100, bbox_inches='tight')
    plt.close(fig)
    return png


def main(argv):
    path = output_path(argv, 'iv_sweep.csv')
    session = smu.init(RESOURCE, 1, 1)
    if not session:
        print('No instrument: %s' % smu.GetError(smu.Session(0), 512)[1])
        return 1
    try:
        model = smu.GetAttributeViString(session, '', 1050512, 256)  # instrument model
        volts, amps = sweep(session)
    finally:
        smu.close(session)

    print('I-V sweep on %s (%s): %d points, %.2f V to %.2f V' % (RESOURCE, model, len(volts), START, STOP))
    print('%10s %14s' % ('V', 'I (A)'))
    for v, i in zip(volts, amps):
        print('%10.3f %14.4e' % (v, i))
    forward = [(v, i) for v, i in zip(volts, amps) if i >= 1e-3]
    k = len(volts) - len(forward)
    if forward and k > 0:  # interpolated between the readings on either side of 1 mA
        (v0, i0), (v1, i1) = (volts[k - 1], amps[k - 1]), forward[0]
        print('Forward voltage at 1 mA: %.3f V' % (v0 + (1e-3 - i0) * (v1 - v0) / (i1 - i0)))
    if len(forward) >= 2:
        (v1, i1), (v2, i2) = forward[-2:]
        print('Differential resistance at %.1f mA: %.0f ohm' % (i2 * 1e3, (v2 - v1) / (i2 - i1)))
    reverse = [i for v, i in zip(volts, amps) if v < 0]
    if reverse:
        print('Largest reverse current: %.2e A' % max(abs(i) for i in reverse))
    write_csv(path, volts, amps)
    print('Sweep data (CSV): %s' % path)
    png = plot(path, volts, amps)
    if png:
        print('Plot (PNG):       %s' % png)
    else:
        print('Plot (PNG):       none, matplotlib is not installed%s'
              % (' (Debian: apt-get install python3-matplotlib)' if sys.version_info[0] >= 3 else ''))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
