"""Malus's law on the bench: turn the polarizer of the polarization
controller through half a turn while the power meter reads the light
that passes it.

    python examples/polarizer_scan.py [step_deg]

Prints one line per angle with a bar, then the angle of highest
transmission and the extinction ratio.  Prints only; writes no files.
Works on Python 2.7 and 3.
"""
from __future__ import print_function

import math
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.abspath(os.environ.get('INSTR_BUILD') or
                                   os.path.join(HERE, '..', 'build', 'py%d' % sys.version_info[0])))

import _polshaper as ps  # noqa: E402
import _powerprobe as pp  # noqa: E402

CONTROLLER = 'GPIB0::9::INSTR'
METER = 'USB0::0x3A5C::0x0207::P0012345::INSTR'
VALUE = 0                    # setter selector: the value given
WAVELENGTH = 1550.0          # nm, the laser on the bench
BAR = 50


def wait_settled(controller, polls=100):
    for _ in range(polls):
        if ps.opc_Q(controller) == 1:
            return True
    return False


def main(argv):
    step = float(argv[1]) if len(argv) > 1 else 10.0
    controller = ps.init(CONTROLLER, 1, 1)
    meter = pp.init(METER, 1, 0)
    print('controller: %s' % ps.revision_query(controller)[1], '| meter:', ' '.join(pp.identificationQuery(meter)[:2]))

    ps.setPolSpeed(controller, 360)
    ps.setLambdaHalfPos(controller, VALUE, 0)
    ps.setLambdaQuartPos(controller, VALUE, 0)
    pp.setWavelength(meter, WAVELENGTH)
    pp.setPowerUnit(meter, 0)
    pp.setAvgCnt(meter, 50)

    readings = []
    angle = 0.0
    while angle <= 180.0 + 1e-9:
        status = ps.setPolPos(controller, VALUE, angle)
        if status < 0:
            print('%6.1f deg: not set (%s)' % (angle, ps.error_message(controller, status)))
        else:
            wait_settled(controller)
            readings.append((ps.getPolPos_Q(controller), pp.measPower(meter)))
        angle += step

    top = max(p for _, p in readings)
    for deg, watts in readings:
        print('%6.1f deg %11.4e W |%s' % (deg, watts, '#' * int(round(BAR * watts / top))))
    best = max(readings, key=lambda r: r[1])
    low = min(p for _, p in readings)
    print('highest transmission at %.1f deg (%.4e W); extinction %.1f dB'
          % (best[0], best[1], 10 * math.log10(best[1] / low) if low > 0 else float('inf')))

    pp.close(meter)
    ps.close(controller)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
