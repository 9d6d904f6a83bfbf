"""List every instrument the VISA library can find, with its interface,
address and identification.  Prints only; writes no files.

    INSTR_BUILD=/path/to/build python list_instruments.py ["?*INSTR"]

Works on Python 2.7 and 3.
"""
from __future__ import print_function

import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.environ.get('INSTR_BUILD') or
                os.path.join(HERE, '..', 'build', 'py%d' % sys.version_info[0]))

import _instrbus as bus  # noqa: E402

VI_ATTR_INTF_TYPE = 0x3FFF0171
VI_ATTR_MANF_NAME = 0xBFFF0072
VI_ATTR_MODEL_NAME = 0xBFFF0077
VI_ATTR_TMO_VALUE = 0x3FFF001A
INTERFACES = {1: 'GPIB', 2: 'VXI', 3: 'GPIB-VXI', 4: 'ASRL', 5: 'PXI', 6: 'TCPIP', 7: 'USB'}


def text(raw):
    return raw.decode('latin-1') if not isinstance(raw, str) else raw


def number(raw):
    """A numeric attribute from its little-endian bytes.  They come cut at the
    first zero byte, so only values without a zero byte inside read right."""
    return struct.unpack('<I', (raw + b'\0' * 4)[:4])[0]


def main(expression='?*INSTR'):
    rm = bus.OpenDefaultRM()
    find_list, count, name = bus.FindRsrc(rm, expression)
    names = ([name] + [bus.FindNext(find_list) for _ in range(count - 1)]) if count else []
    print('%d instrument(s) match %s' % (count, expression))
    for name in names:
        s = bus.Open(rm, name, 0, 0)
        if not s:
            print('%-38s  (cannot be opened)' % name)
            continue
        intf = INTERFACES.get(number(bus.GetAttribute(s, VI_ATTR_INTF_TYPE)), '?')
        ident = ' '.join(t for t in (text(bus.GetAttribute(s, VI_ATTR_MANF_NAME)),
                                     text(bus.GetAttribute(s, VI_ATTR_MODEL_NAME))) if t)
        timeout = number(bus.GetAttribute(s, VI_ATTR_TMO_VALUE))
        print('%-38s  %-5s  %-36s  timeout %d ms' % (name, intf, ident or '-', timeout))
        bus.Close(s)
    if count:
        bus.Close(find_list)
    bus.Close(rm)


if __name__ == '__main__':
    main(*sys.argv[1:2])
