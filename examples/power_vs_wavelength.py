"""Optical power at several wavelength settings of the power meter.

    python examples/power_vs_wavelength.py [start_nm stop_nm step_nm]

Opens the power meter, zeroes the dark current, then sets the sensor's
correction wavelength step by step and reads the power in W and dBm
with the responsivity the meter uses.  Prints only; writes no files.
Works on Python 2.7 and 3.
"""
from __future__ import print_function

import math
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.abspath(os.environ.get('INSTR_BUILD') or
                                   os.path.join(HERE, '..', 'build', 'py%d' % sys.version_info[0])))

import _powerprobe as pp  # noqa: E402

RESOURCE = 'USB0::0x3A5C::0x0207::P0012345::INSTR'
SET, MIN, MAX = 0, 1, 2       # range query attributes
WATT = 0


def dark_adjust(meter, polls=50):
    pp.startDarkAdjust(meter)
    for _ in range(polls):
        if pp.getDarkAdjustState(meter) == 0:
            return pp.getDarkOffset(meter)
    pp.cancelDarkAdjust(meter)
    return None


def main(argv):
    start, stop, step = (float(a) for a in argv[1:4]) if len(argv) >= 4 else (1300.0, 1600.0, 50.0)
    meter = pp.init(RESOURCE, 1, 1)
    maker, device, serial, firmware = pp.identificationQuery(meter)
    name, sensor_serial, calibrated, _, _, _ = pp.getSensorInfo(meter)
    print('%s %s (%s, firmware %s), sensor %s %s calibrated %s'
          % (maker, device, serial, firmware, name, sensor_serial, calibrated))

    pp.setPowerUnit(meter, WATT)
    pp.setPowerAutoRange(meter, 1)
    pp.setAvgCnt(meter, 100)
    offset = dark_adjust(meter)
    print('dark offset: %s' % ('%.3g A' % offset if offset is not None else 'not adjusted'))

    lo, hi = pp.getWavelength(meter, MIN), pp.getWavelength(meter, MAX)
    print('\n  wavelength   responsivity        power      power')
    print('        (nm)          (A/W)          (W)      (dBm)')
    nm = start
    while nm <= stop + 1e-9:
        if not lo <= nm <= hi:
            print('%12.1f   outside the sensor range %g-%g nm' % (nm, lo, hi))
        else:
            status = pp.setWavelength(meter, nm)
            if status < 0:
                print('%12.1f   not set: %s' % (nm, pp.errorMessage(meter, status)))
            else:
                watts = pp.measPower(meter)
                dbm = 10 * math.log10(watts / 1e-3) if watts > 0 else float('-inf')
                print('%12.1f %14.4f %12.4e %10.2f'
                      % (pp.getWavelength(meter, SET), pp.getPhotodiodeResponsivity(meter, SET), watts, dbm))
        nm += step
    pp.close(meter)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
