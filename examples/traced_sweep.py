"""A wavelength sweep whose every driver call is logged to a file: what an
overnight run leaves behind to understand a failure at 3 a.m.

    python examples/traced_sweep.py [log file] [--fail]

Switches the call trace on (instrbind.trace, or INSTRBIND_TRACE=1 in the
environment), sends the records of logger 'instrbind' to the log file
(default traced_sweep.log in the current directory), sweeps the laser and
reads the power meter, and switches the laser off in a `finally:`, which
reaches the laser even when a reading fails.  --fail makes the simulated
power meter time out on the fourth reading (simulated drivers only): the
script then ends with the timeout's exit code, and the log shows the laser
switched off after the failing call.  Works on Python 2.7 and 3.
"""
from __future__ import print_function

import logging
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.abspath(os.environ.get('INSTR_BUILD') or
                                   os.path.join(HERE, '..', 'build', 'py%d' % sys.version_info[0])))

import _photonbay as pb  # noqa: E402
import instrbind  # noqa: E402

RESOURCE = 'GPIB0::20::INSTR'
LASER, METER, CHANNEL = 0, 1, 0   # slots of the mainframe, power meter channel
VALUE = 0                          # selection: the value given
DBM = 0                            # power unit of the readings


def main(argv):
    fail = '--fail' in argv
    args = [a for a in argv[1:] if a != '--fail']
    path = os.path.abspath(args[0] if args else 'traced_sweep.log')
    handler = logging.FileHandler(path, mode='w')
    handler.setFormatter(logging.Formatter('%(asctime)s %(name)s %(levelname)s %(message)s'))
    log = logging.getLogger('instrbind')
    log.addHandler(handler)
    log.setLevel(logging.DEBUG)
    instrbind.trace(True)
    print('driver calls logged to', path)

    s = pb.init(RESOURCE, 1, 0)
    try:
        pb.set_PWM_powerUnit(s, METER, CHANNEL, DBM)
        pb.set_TLS_laserState(s, LASER, 1)
        for i, nm in enumerate(range(1540, 1561, 5)):
            if fail and i == 3:
                import instrsim
                instrsim.fail('hp816x_PWM_readValue', instrsim.TMO)
            pb.set_TLS_wavelength(s, LASER, VALUE, nm * 1e-9)
            print('%d nm: %.2f dBm' % (nm, pb.PWM_readValue(s, METER, CHANNEL)))
    finally:
        pb.set_TLS_laserState(s, LASER, 0)  # the same session, also after a failure
        print('laser off')
        handler.flush()
    pb.close(s)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
