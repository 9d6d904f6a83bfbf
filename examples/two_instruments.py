"""Two instruments from two threads: a lambda scan on the optical mainframe
while the source-measure unit reads a diode current, first one after the
other, then side by side, with a progress line while they run.

    python examples/two_instruments.py

Driver calls release the interpreter, so the two instruments work at the same
time and the progress thread keeps ticking.  On the simulated drivers each
call is given an instrument's time with instrsim.delay: the scan takes 1.2 s,
each reading 60 ms.  Nothing is written to disk.
"""
from __future__ import print_function

import os
import sys
import threading
import time


def _module_path():
    # The modules live in the build directory: $INSTR_BUILD, else build/py<major>.
    here = os.path.dirname(os.path.abspath(__file__))
    build = os.environ.get('INSTR_BUILD') or os.path.join(here, '..', 'build', 'py%d' % sys.version_info[0])
    sys.path[:0] = [os.path.abspath(build), os.path.join(here, '..', 'sim')]


_module_path()
import _photonbay as pb  # noqa: E402
import _smeter as smu  # noqa: E402

MAINFRAME, SMU = 'GPIB0::20::INSTR', 'GPIB0::24::INSTR'
VOLTAGE, CURRENT = 0, 1
READINGS = 20
clock = getattr(time, 'perf_counter', time.time)


def simulated_times():
    """An instrument's pace for the simulated drivers (none on real ones)."""
    try:
        import instrsim
        instrsim.library()
    except (ImportError, OSError):
        return False
    instrsim.delay('hp816x_executeLambdaScan', 1.2)
    instrsim.delay('KE2400_Read', 0.06)
    return True


def scan(s, result):
    points = pb.prepareLambdaScan(s, 0, 0.0, 0, 1, 1, 1540e-9, 1560e-9, 5e-12)[0]
    wavelengths = pb.executeLambdaScan(s, points)[0]
    result['scan'] = (points, wavelengths[0], wavelengths[points - 1])


def readings(k, result):
    smu.ConfigureSourceDC(k, VOLTAGE, 0.7, 1.0, 1, 0.01, 0)
    smu.EnableSource(k, 1, 0)
    try:
        result['currents'] = [smu.Read(k, CURRENT) for _ in range(READINGS)]
    finally:
        smu.EnableSource(k, 0, 0)


def run(jobs, parallel):
    """Runs the jobs one after the other or in threads; a progress line ticks meanwhile."""
    done = threading.Event()
    ticks = [0]

    def progress():
        while not done.wait(0.1):
            ticks[0] += 1
            sys.stdout.write('\r  working ' + '.' * ticks[0])
            sys.stdout.flush()
    ticker = threading.Thread(target=progress)
    ticker.daemon = True
    ticker.start()
    t0 = clock()
    try:
        if parallel:
            threads = [threading.Thread(target=job) for job in jobs]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
        else:
            for job in jobs:
                job()
    finally:
        done.set()
        ticker.join()
    elapsed = clock() - t0
    sys.stdout.write('\r' + ' ' * (12 + ticks[0]) + '\r')
    return elapsed


def main():
    simulated = simulated_times()
    s = pb.init(MAINFRAME, 1, 0)
    k = smu.init(SMU, 1, 1)
    result = {}
    try:
        jobs = [lambda: scan(s, result), lambda: readings(k, result)]
        one_after_other = run(jobs, parallel=False)
        side_by_side = run(jobs, parallel=True)
    finally:
        smu.close(k)
        pb.close(s)
    points, first, last = result['scan']
    currents = result['currents']
    print('Lambda scan on %s: %d points, %.3f to %.3f nm' % (MAINFRAME, points, first * 1e9, last * 1e9))
    print('%d readings on %s at 0.7 V: mean %.2f uA' % (len(currents), SMU, sum(currents) / len(currents) * 1e6))
    print('One after the other: %.2f s' % one_after_other)
    print('Side by side:        %.2f s  (%.0f%% of the time saved)'
          % (side_by_side, 100.0 * (1 - side_by_side / one_after_other)))
    if simulated:
        print('(simulated instruments: the times are the delays given with instrsim.delay)')
    return 0


if __name__ == '__main__':
    sys.exit(main())
