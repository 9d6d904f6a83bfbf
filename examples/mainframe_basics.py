"""First steps with the optical mainframe: open it, identify it, read its
errors, send a command and a query, close.  Prints only; writes no files.

    python mainframe_basics.py [resource]      (default: the simulated QBM-70)

Works on Python 2.7 and 3.
"""
from __future__ import print_function

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.environ.get('INSTR_BUILD') or
                os.path.join(HERE, '..', 'build', 'py%d' % sys.version_info[0]))

import _photonbay as pb  # noqa: E402

resource = sys.argv[1] if len(sys.argv) > 1 else 'GPIB0::20::INSTR'
session = pb.init(resource, 1, 0)               # ID query, no reset
reply = bytearray(256)
pb.cmdString_Q(session, '*IDN?', len(reply), reply)
print('Instrument:', reply.split(b'\0')[0].decode('latin-1'))
print('Driver %s, firmware %s' % pb.revision_Q(session))
code, message = pb.error_query(session)
print('Error queue: %d, %s' % (code, message))
pb.cmd(session, 'SOUR0:WAV 1550.5e-9')          # tune the laser in slot 0
print('Laser wavelength: %.3f nm' % (pb.cmdReal64_Q(session, 'SOUR0:WAV?') * 1e9))
print('Date %04d-%02d-%02d' % pb.getDate(session))
print('close:', pb.close(session))
