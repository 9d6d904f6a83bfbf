"""Scripting the simulated instrument drivers.

The simulated driver libraries share one core, ``libinstrsim.so``, that keeps a
journal of every driver call and lets a test decide what the next calls return::

    import instrsim as sim
    sim.reset()
    sim.fail('hp816x_get_PWM_wavelength_Q', -1074001000)     # next call fails
    sim.set_output('hp816x_PWM_readValue', 3, -12.5)         # parameter 3 reads -12.5
    sim.push_error('hp816x', -261, 'Settings conflict')      # instrument error queue
    ...
    sim.calls('hp816x_PWM_readValue')   # [(session, 1, 0, PTR), ...]

Journal arguments come back as int, float, str (input text), ``PTR`` for a
pointer the driver was given and ``None`` for a null pointer.
Works on Python 2.7 and 3.
"""
import ctypes
import os
import sys

__all__ = ['PTR', 'reset', 'fail', 'set_output', 'push_error', 'hostile',
           'journal', 'journaling', 'calls', 'names', 'clear_journal', 'session_count', 'library']


class _Pointer(object):
    def __repr__(self):
        return 'PTR'


PTR = _Pointer()
_LIBNAME = 'libinstrsim.so'
_lib = None


def _find():
    here = os.path.dirname(os.path.abspath(__file__))
    places = [os.environ.get('INSTRSIM_LIBRARY', '')]
    places += [os.path.join(p or '.', _LIBNAME) for p in [here] + sys.path]
    for p in places:
        if p and os.path.isfile(p):
            return p
    raise OSError('%s not found beside the modules or on sys.path' % _LIBNAME)


def library():
    """The ctypes handle of the simulator core (loaded once)."""
    global _lib
    if _lib is None:
        lib = ctypes.CDLL(_find())
        lib.sim_fail.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_int]
        lib.sim_set_output_int.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_longlong]
        lib.sim_set_output_real.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_double]
        lib.sim_set_output_text.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p]
        lib.sim_push_error.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_char_p]
        lib.sim_set_hostile.argtypes = [ctypes.c_int]
        lib.sim_set_journal.argtypes = [ctypes.c_int]
        lib.sim_journal_entry.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
        _lib = lib
    return _lib


def _b(text):
    return text if isinstance(text, bytes) else text.encode('latin-1')


def _signed32(status):
    status &= 0xFFFFFFFF
    return status - 0x100000000 if status & 0x80000000 else status


def reset():
    """Forget sessions, journal, scripted behaviour and instrument state."""
    library().sim_reset()


def fail(fn, status, times=1):
    """Make driver function `fn` return `status` for its next `times` calls
    (times=-1: until reset). Statuses may be given signed or unsigned."""
    library().sim_fail(_b(fn), _signed32(status), times)


def set_output(fn, param, value):
    """Make `fn` write `value` through its output parameter number `param`
    (0-based over all its parameters) on every call until reset."""
    lib = library()
    if isinstance(value, float):
        lib.sim_set_output_real(_b(fn), param, value)
    elif isinstance(value, (str, bytes)) or type(value).__name__ == 'unicode':
        lib.sim_set_output_text(_b(fn), param, _b(value))
    else:
        lib.sim_set_output_int(_b(fn), param, int(value))


def push_error(driver, code, message=''):
    """Queue an instrument error for the driver with prefix `driver`
    ('hp816x', 'KE2400', 'PM100D', 'hp8169')."""
    library().sim_push_error(_b(driver), _signed32(code), _b(message))


def hostile(on=True):
    """Hostile mode: texts with no zero byte, counts beyond the arrays."""
    library().sim_set_hostile(1 if on else 0)


def journaling(on=True):
    """Journal on (default) or off; off makes driver calls nearly free."""
    library().sim_set_journal(1 if on else 0)


def _parse(tok):
    if tok == 'p':
        return PTR
    if tok == 'n':
        return None
    kind, val = tok[:2], tok[2:]
    if kind == 'i:':
        return int(val)
    if kind == 'd:':
        return float(val)
    return val


def journal():
    """Every driver call since the last reset: a list of (name, args)."""
    lib = library()
    out = []
    buf = ctypes.create_string_buffer(4096)
    for i in range(lib.sim_journal_size()):
        n = lib.sim_journal_entry(i, buf, len(buf))
        if n >= len(buf):
            buf = ctypes.create_string_buffer(n + 1)
            lib.sim_journal_entry(i, buf, len(buf))
        raw = buf.value
        parts = (raw if str is bytes else raw.decode('latin-1')).split('\x1f')
        out.append((parts[0], tuple(_parse(t) for t in parts[1:])))
    return out


def calls(fn):
    """The argument tuples of every journaled call of driver function `fn`."""
    return [args for name, args in journal() if name == fn]


def names():
    """The driver functions called, in order."""
    return [name for name, _ in journal()]


def clear_journal():
    library().sim_journal_clear()


def session_count():
    """Sessions open in the simulated drivers."""
    return library().sim_session_count()
