"""Lambda scan of a fibre filter on the optical mainframe.

    python examples/lambda_scan.py [output directory | scan.csv]

Sweeps the tunable laser across the filter, reads the power meters behind
it and prints a short summary.  Writes two files and prints their full
paths: the scan as CSV (lambda_scan.csv in the current directory, in the
directory given, or the file given) and a PNG plot beside it (same name,
.png) when matplotlib is installed.
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
import _photonbay as pb  # noqa: E402

RESOURCE = 'GPIB0::20::INSTR'
DBM = 0
LASER_POWER = 0.0                 # dBm
LASER_OUTPUT = 0                  # the laser's main output
START, STOP, STEP = 1545e-9, 1555e-9, 1e-12
PWM_SLOT, PWM_CHANNEL = 1, 1      # the power meter behind the filter


def scan(session):
    ok = lambda status: pb.CheckError(session, status)  # noqa: E731
    # Power meter: dBm, 100 us averaging, auto range, at the scan's centre.
    ok(pb.set_PWM_powerUnit(session, PWM_SLOT, PWM_CHANNEL, DBM))
    ok(pb.set_PWM_averagingTime(session, PWM_SLOT, PWM_CHANNEL, 1e-4))
    ok(pb.set_PWM_powerRange(session, PWM_SLOT, PWM_CHANNEL, 1, 0.0))
    ok(pb.set_LambdaScan_wavelength(session, (START + STOP) / 2))
    # The scan sets the laser's power and output itself.
    points, channels = pb.prepareLambdaScan(session, DBM, LASER_POWER, LASER_OUTPUT, 1, 0, START, STOP, STEP)
    arrays = pb.executeLambdaScan(session, points)
    wavelengths = list(arrays[0])
    powers = [list(arrays[1 + c]) for c in range(channels)]
    return wavelengths, powers


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


def write_csv(path, wavelengths, powers):
    with open(path, 'w') as f:
        f.write('wavelength_nm,' + ','.join('power%d_dBm' % (c + 1) for c in range(len(powers))) + '\n')
        for i, wl in enumerate(wavelengths):
            f.write('%.4f,' % (wl * 1e9) + ','.join('%.4f' % p[i] for p in powers) + '\n')


def plot(path, wavelengths, transmission):
    try:
        import matplotlib
        matplotlib.use('Agg')
        import matplotlib.pyplot as plt
    except ImportError:
        return None
    fig, ax = plt.subplots(figsize=(8, 4.5))
    ax.plot([w * 1e9 for w in wavelengths], transmission, lw=1)
    ax.set_xlabel('Wavelength (nm)')
    ax.set_ylabel('Transmission (dB)')
    ax.set_title('Lambda scan on %s' % RESOURCE)
    ax.grid(True, alpha=0.3)
    png = os.path.splitext(path)[0] + '.png'
    fig.savefig(png, dpi=100, bbox_inches='tight')
    plt.close(fig)
    return png


def main(argv):
    path = output_path(argv, 'lambda_scan.csv')
    session = pb.init(RESOURCE, 1, 0)
    try:
        wavelengths, powers = scan(session)
    finally:
        pb.close(session)
    transmission = [p - LASER_POWER for p in powers[0]]
    i_min = min(range(len(transmission)), key=transmission.__getitem__)
    print('Lambda scan on %s: %d points, %d power meter channels' % (RESOURCE, len(wavelengths), len(powers)))
    print('Wavelength range: %.3f nm to %.3f nm in %.1f pm steps'
          % (wavelengths[0] * 1e9, wavelengths[-1] * 1e9, STEP * 1e12))
    print('Minimum transmission: %.2f dB at %.3f nm' % (transmission[i_min], wavelengths[i_min] * 1e9))
    write_csv(path, wavelengths, powers)
    print('Scan data (CSV): %s' % path)
    png = plot(path, wavelengths, transmission)
    if png:
        print('Plot (PNG):      %s' % png)
    else:
        print('Plot (PNG):      none, matplotlib is not installed%s'
              % (' (Debian: apt-get install python3-matplotlib)' if sys.version_info[0] >= 3 else ''))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
