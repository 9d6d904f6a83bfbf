"""Set up the attenuated path to one output of the optical switch.

    python examples/attenuator_switch.py [output] [attenuation_dB] [resource]

Routes switch input A to the chosen output (default 2), sets the attenuator
to 1550 nm and the wanted attenuation (default 15 dB), opens
its shutter, and reads the output power, in dBm and in W.  Prints only;
writes no files.  Works on Python 2.7 and 3.
"""
from __future__ import print_function

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.abspath(os.environ.get('INSTR_BUILD') or
                                   os.path.join(HERE, '..', 'build', 'py%d' % sys.version_info[0])))

import _photonbay as pb  # noqa: E402

ATTENUATOR, SWITCH = 3, 6          # slots of the mainframe
SWITCH_INPUT = 1                   # port A
VALUE = 0                          # selection: the value given (1 min, 2 default, 3 max)
DBM, WATT = 0, 1
SHUTTER_OPEN = 1
WAVELENGTH = 1550e-9
STATUS_LEN = 64                    # the attenuator's status texts fit, zero byte included
PY2 = sys.version_info[0] == 2


def main(argv):
    output = int(argv[1]) if len(argv) > 1 else 2
    attenuation = float(argv[2]) if len(argv) > 2 else 15.0
    resource = argv[3] if len(argv) > 3 else 'GPIB0::20::INSTR'

    s = pb.init(resource, 1, 0)  # a failing query ends the script with the driver's status
    try:
        description = pb.get_SWT_type(s, SWITCH)[1]
        print('Switch in slot %d: %s' % (SWITCH, description))
        status = pb.set_SWT_route(s, SWITCH, SWITCH_INPUT, output)
        if status < 0:
            print('Cannot route A to B%d (status %d); the routes are: %s'
                  % (output, status, pb.get_SWT_routeTable(s, SWITCH)))
            return 1
        print('Route: A -> B%d' % pb.get_SWT_route(s, SWITCH, SWITCH_INPUT))

        pb.set_ATT_wavelength(s, ATTENUATOR, VALUE, WAVELENGTH)
        pb.set_ATT_absPowerMode(s, ATTENUATOR, 0)
        status = pb.set_ATT_attenuation(s, ATTENUATOR, VALUE, attenuation, 1)
        if status < 0:
            low, high = pb.get_ATT_attenuation_Q(s, ATTENUATOR)[:2]
            print('Attenuation %.2f dB refused (status %d): the range is %.2f to %.2f dB'
                  % (attenuation, status, low, high))
            return 1
        pb.set_ATT_shutterState(s, ATTENUATOR, SHUTTER_OPEN)

        # The driver writes the status text into our buffer: on 2.7 a str made
        # for the purpose, on 3 a bytearray.
        state = ''.join(['\0'] * STATUS_LEN) if PY2 else bytearray(STATUS_LEN)
        code = pb.get_ATT_operStatus(s, ATTENUATOR, state)
        state = (state if PY2 else bytes(state).decode('latin-1')).split('\0')[0]
        print('Attenuator in slot %d at %.3f nm: %.2f dB, status %d (%s)'
              % (ATTENUATOR, WAVELENGTH * 1e9, pb.get_ATT_attenuation_Q(s, ATTENUATOR)[3], code, state))

        pb.set_ATT_powerUnit(s, ATTENUATOR, DBM)
        dbm = pb.read_ATT_outputPower(s, ATTENUATOR)
        pb.set_ATT_powerUnit(s, ATTENUATOR, WATT)
        watt = pb.read_ATT_outputPower(s, ATTENUATOR)
        pb.set_ATT_powerUnit(s, ATTENUATOR, DBM)
        print('Output power at B%d: %.3f dBm (%.3g W)' % (output, dbm, watt))
        return 0
    finally:
        pb.close(s)


if __name__ == '__main__':
    sys.exit(main(sys.argv))
