"""The simulated instrument drivers: choosing them, and scripting them from a
test suite.

Choosing the simulator, for the whole process, before the first instrument
module is imported::

    python -m instrsim [--bench FILE] script.py [args...]

runs the script as ``python script.py`` would, on the simulated drivers;
``import instrsim`` before the modules does the same for a test suite or a
notebook.  Without either, a module binds the vendor's driver library wherever
the system's loader finds it.  Imported after a module that is already bound to
another library, ``import instrsim`` raises ImportError naming it.

The simulated driver libraries (``libhp816x_32.so``, ``libKE2400_32.so``,
``libPM100D_Drv_32.so``, ``libhp8169_32.so``, ``libvisa.so``; on Windows
``hp816x_32.dll`` ... ``VISA32.dll``) carry the vendors' names and live in this
package's folder, with their core, ``libinstrsim.so`` (``instrsim.dll``):
importing instrsim loads them there by full path, and the loader then binds
the modules' driver imports to them.  The core journals every driver call with
its arguments and lets a test decide what the next calls return, so a lab
script's error handling can be tested without hardware::

    import instrsim as sim                                  # first
    import _photonbay as pb

    sim.reset()                                             # a fresh set of instruments
    s = pb.init('GPIB0::20::INSTR', 1, 0)
    sim.fail('hp816x_set_TLS_wavelength', -1074003967)      # next call returns this status
    assert pb.set_TLS_wavelength(s, 0, 0, 1550e-9) == -1074003967
    sim.set_output('hp816x_PWM_readValue', 3, -12.5)        # output parameter 3 reads -12.5
    assert pb.PWM_readValue(s, 1, 0) == -12.5
    sim.calls('hp816x_PWM_readValue')                       # [(4097, 1, 0, PTR)]

Names and positions
    Functions are named as the driver exports them, with the driver prefix:
    ``'hp816x_PWM_readValue'``, ``'KE2400_Read'``, ``'PM100D_measPower'``,
    ``'hp8169_setPolPos'``, ``'viOpen'``.  Parameter positions count every
    parameter of the C function from 0 (the session is 0).  Statuses may be
    given signed (-1074000633) or unsigned (0xBFFC0D07).  A name no
    simulated driver exports raises ValueError naming the closest ones
    (``functions()`` lists them all).

What scripting changes
    A scripted call is still carried out by the simulated instrument (a setting
    is still stored); then the scripted outputs are written over what it
    produced and the scripted status replaces its own.  Everything scripted
    lasts until ``reset()``, except ``fail(..., times=n)`` which counts down.

The simulated instruments (resource names for ``init`` / ``Open``)
    The default bench (``bench.json`` beside the core): ``GPIB0::20::INSTR``
    and ``TCPIP0::192.168.1.20::inst0::INSTR``: optical mainframes (hp816x;
    slot 0 tunable laser, 1 dual power meter (channels 0, 1), 2 power meter
    (channel 0), 3 attenuator, 4 return-loss module, 5 fixed laser, 6
    switch); ``GPIB0::24::INSTR``: source-measure unit (KE2400);
    ``USB0::0x3A5C::0x0207::P0012345::INSTR``: optical power meter (PM100D);
    ``GPIB0::9::INSTR`` and ``ASRL1::INSTR``: polarization controllers
    (hp8169).  ``INSTRSIM_CONFIG=<file>`` (read when the simulator loads) or
    ``configure(file)`` describes another bench.  A mainframe function aimed
    at a slot beyond the mainframe or a channel its module lacks returns the
    parameter error of that argument (0xBFFC0001 + its position); at an empty
    slot or a module of another kind, the instrument-error status with
    (-241, 'Hardware missing') queued.

Timeouts
    Every session has a timeout (the driver's ``timeOut``; VISA's
    ``VI_ATTR_TMO_VALUE``): 10 s for the instrument drivers, 2 s for VISA
    sessions.  A call whose ``delay`` (or modelled time under ``pace``) is
    longer returns ``TMO`` once the timeout has passed.

One simulator per process
    The state lives in the process.  A status check that ends the process
    (``_photonbay``, ``_powerprobe``, ``_polshaper`` wrappers on a failing
    status) must be tested in a child process: ``run_python()`` runs code in a
    fresh interpreter and returns its exit code, output and journal.

Sessions
    Each driver knows only its own sessions: a session of another driver is
    unknown to it (``INV_OBJECT``, as a closed one).  Each driver numbers its
    sessions in a range of its own, from 0x1001 (hp816x), 0x01001001
    (KE2400), 0x02001001 (PM100D), 0x03001001 (hp8169), 0x04001001 (VISA
    sessions and find lists; resource managers from 0x80000001), starting
    afresh after ``reset()``.

Threads and time
    Calls into different drivers may run at once on several threads; the
    simulator serialises its own brief work.  ``delay(fn, seconds)`` makes a
    function take time like an instrument, ``pace(factor)`` lets the drivers
    take the times they model; ``overlaps()`` lists calls that entered a
    driver library while another call was inside it, ``gil_held_calls()`` the
    functions called while holding the interpreter lock.

``SimulatorTestCase`` is a ``unittest.TestCase`` that resets the simulator
around every test and adds journal assertions.

Journal arguments come back as int, float, str (input text), ``PTR`` for a
pointer the driver was given and ``None`` for a null pointer.
Works on Python 2.7 and 3.
"""
import collections
import ctypes
import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

__all__ = ['PTR', 'ANY', 'SUCCESS', 'INSTR_ERROR', 'INV_OBJECT', 'RSRC_NFOUND', 'TMO',
           'INSTR_ERROR_STATUS', 'reset', 'fail', 'instrument_error', 'set_output',
           'push_error', 'hostile', 'journaling', 'journal_enabled', 'journal', 'calls',
           'names', 'clear_journal', 'session_count', 'recording', 'run_python', 'exit_code',
           'SimulatorTestCase', 'library', 'functions', 'delay', 'pace', 'overlaps',
           'gil_held_calls', 'gil_detection', 'configure', 'count', 'MAX_DELAY', 'MAX_PACE',
           'bench_file', 'replay', 'ReplayMismatch', 'REPLAY_MISMATCH']


class _Marker(object):
    def __init__(self, name):
        self.name = name

    def __repr__(self):
        return self.name


PTR = _Marker('PTR')   # journal: a non-null pointer argument
ANY = _Marker('ANY')   # SimulatorTestCase.assertCalled: matches any argument

# Statuses (signed, as the modules return them).
SUCCESS = 0
INSTR_ERROR = -1074000633       # 0xBFFC0D07: the instrument reported an error (hp816x, hp8169)
INV_OBJECT = -1073807346        # 0xBFFF000E: unknown or closed session
RSRC_NFOUND = -1073807343       # 0xBFFF0011: no such resource
TMO = -1073807339               # 0xBFFF0015: timeout

# The status with which each driver says "the instrument reported an error;
# read it with the error query".
INSTR_ERROR_STATUS = {
    'hp816x': INSTR_ERROR,
    'hp8169': INSTR_ERROR,
    'PM100D': -1074001920,      # 0xBFFC0800, within the PM100D block 0xBFFC0700..0xBFFC0CFF
    'KE2400': -1074135039,      # 0xBFFA0001, IVI "instrument status"
}

_WINDOWS = os.name == 'nt'
_HERE = os.path.dirname(os.path.abspath(__file__))
_CORE = 'instrsim.dll' if _WINDOWS else 'libinstrsim.so'
_lib = None
_loaded = []   # the driver libraries loaded by full path, kept for the process


def _same_folder(path):
    norm = lambda p: os.path.normcase(os.path.realpath(p))
    return norm(os.path.dirname(path)) == norm(_HERE)


def _drivers():
    """The simulated driver libraries in this package's folder (file names)."""
    ext = '.dll' if _WINDOWS else '.so'
    return sorted(n for n in os.listdir(_HERE) if n.endswith(ext) and n != _CORE)


def _choose():
    """Loads the core and the simulated drivers by full path, so that the
    loader binds the modules imported later to them (it takes a library
    already loaded under the name a module imports).  Refused when a module
    is already bound elsewhere: a process never runs half on each."""
    global _lib
    import instrbind
    wrong = []
    for name in instrbind.MODULES:
        if name in sys.modules:
            path = instrbind.driver_library(name)
            if path is None or not _same_folder(path):
                wrong.append('%s is bound to %s' % (name, path or 'a library it does not name'))
    if wrong:
        first = sorted(n for n in instrbind.MODULES if n in sys.modules)[0]
        raise ImportError(
            'instrsim: the simulator is chosen too late: %s.  Choose it before the first '
            'instrument module is imported: run the script with `python -m instrsim script.py`, '
            'or put `import instrsim` before `import %s`.' % ('; '.join(wrong), first))
    if not os.path.isfile(os.path.join(_HERE, _CORE)):
        raise ImportError('instrsim: %s is missing from %s' % (_CORE, _HERE))
    lib = ctypes.CDLL(os.path.join(_HERE, _CORE))
    for name in _drivers():
        _loaded.append(ctypes.CDLL(os.path.join(_HERE, name)))
    lib.sim_fail.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_int]
    lib.sim_set_output_int.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_longlong]
    lib.sim_set_output_real.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_double]
    lib.sim_set_output_text.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p]
    lib.sim_push_error.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_char_p]
    lib.sim_set_hostile.argtypes = [ctypes.c_int]
    lib.sim_set_journal.argtypes = [ctypes.c_int]
    lib.sim_journal_entry.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
    lib.sim_journal_mark.argtypes = [ctypes.POINTER(ctypes.c_longlong)]
    lib.sim_journal_read.argtypes = [ctypes.c_longlong, ctypes.c_int, ctypes.c_int, ctypes.c_char_p,
                                     ctypes.c_int]
    lib.sim_journal_count.argtypes = [ctypes.c_char_p]
    lib.sim_journal_count.restype = ctypes.c_longlong
    if hasattr(lib, 'sim_function_names'):
        lib.sim_function_names.argtypes = [ctypes.c_char_p, ctypes.c_int]
    lib.sim_configure.argtypes = [ctypes.c_char_p]
    lib.sim_config_error.argtypes = [ctypes.c_char_p, ctypes.c_int]
    if hasattr(lib, 'sim_set_delay'):
        lib.sim_set_delay.argtypes = [ctypes.c_char_p, ctypes.c_double]
        lib.sim_set_pace.argtypes = [ctypes.c_double]
        lib.sim_max_delay.restype = lib.sim_max_pace.restype = ctypes.c_double
        lib.sim_overlap.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
        lib.sim_gil_held_calls.argtypes = [ctypes.c_char_p, ctypes.c_int]
    lib.sim_replay_load.argtypes = [ctypes.c_char_p, ctypes.c_double, ctypes.c_int, ctypes.c_int, ctypes.c_char_p,
                                    ctypes.c_int]
    lib.sim_replay_report.argtypes = [ctypes.c_char_p, ctypes.c_int]
    _lib = lib


def library():
    """The ctypes handle of the simulator core (loaded on import)."""
    return _lib


def _b(text):
    return text if isinstance(text, bytes) else text.encode('latin-1')


def _path(path):
    """A file name as the C library opens it."""
    if isinstance(path, bytes):
        return path
    return os.fsencode(path) if hasattr(os, 'fsencode') else path.encode(sys.getfilesystemencoding() or 'utf-8')


def _fs_decode(raw):
    # the core's messages are ASCII but for the file names in them
    return os.fsdecode(raw) if hasattr(os, 'fsdecode') else raw


def _signed32(status):
    status &= 0xFFFFFFFF
    return status - 0x100000000 if status & 0x80000000 else status


_known = None


def functions():
    """The driver functions the simulated libraries export (a frozenset),
    read from their own symbol tables; empty where that is not possible."""
    global _known
    if _known is None:
        lib = library()
        names = _text_list(lib.sim_function_names) if hasattr(lib, 'sim_function_names') else []
        _known = frozenset(names)
    return _known


_PREFIXES = ('hp816x_', 'KE2400_', 'PM100D_', 'hp8169_', 'vi')


def _function(fn):
    """`fn` if a simulated driver exports it, else ValueError naming the
    closest names (a Python name such as 'PWM_readValue' finds its driver's)."""
    known = functions()
    if not known or fn in known:
        return fn
    import difflib
    text = fn if isinstance(fn, str) else repr(fn)
    close = [p + text for p in _PREFIXES if p + text in known]
    close += [n for n in difflib.get_close_matches(text, known, 5, 0.6) if n not in close]
    raise ValueError('%r is not a function of the simulated drivers%s' % (
        fn, '; closest: ' + ', '.join(close[:5]) if close else
        ' (names carry the driver prefix: hp816x_, KE2400_, PM100D_, hp8169_, vi)'))


def _driver(fn):
    prefix = fn.split('_', 1)[0]
    if prefix not in INSTR_ERROR_STATUS:
        raise ValueError('%s: not a function of an instrument driver with an error queue '
                         '(hp816x_, KE2400_, PM100D_, hp8169_)' % fn)
    return prefix


# ---- scripting ---------------------------------------------------------------------------

def reset():
    """Start afresh: forget every session (their numbers become invalid),
    empty the journal and the error queues, forget every script, leave
    hostile mode, turn the journal on (unless the bench file says
    ``"journal": false``), and put the instruments back to their
    power-on settings (measurements repeat after a reset).  Delays, the pace,
    overlaps() and gil_held_calls() are cleared too.  Safe while other
    threads are inside driver calls: those finish first on the old state (or,
    still in their delay, go on afterwards and find their session unknown)."""
    library().sim_reset()


def fail(fn, status, times=1):
    """Make driver function `fn` return `status` for its next `times` calls
    (times=-1: until reset).

    `status` may be negative (an error: the status check of ``_photonbay``,
    ``_powerprobe`` and ``_polshaper`` then ends the process), positive (a
    warning) or 0: ``fail(fn, 0, -1)`` forces `fn` to succeed, e.g. to keep
    the status check quiet while a test looks at something else.
    The KE2400 driver also queues the failure for ``_smeter.GetError``."""
    library().sim_fail(_b(_function(fn)), _signed32(status), int(times))


def instrument_error(fn, code, message='', times=1):
    """Make `fn` fail as the instrument itself reporting error `code`: it
    returns its driver's instrument-error status (``INSTR_ERROR_STATUS``,
    0xBFFC0D07 for hp816x and hp8169) and (`code`, `message`) waits in the
    driver's instrument error queue, where the status check (or the script's
    own ``error_query``) reads it.  One error is queued per failing call
    (one for times=-1)."""
    driver = _driver(_function(fn))
    fail(fn, INSTR_ERROR_STATUS[driver], times)
    for _ in range(max(int(times), 1)):
        push_error(driver, code, message)


def set_output(fn, param, value):
    """Make `fn` write `value` through its output parameter at position
    `param` (0-based over all its parameters, the session is 0) on every call
    until reset.  A float goes to ViReal64 outputs, an int to integer outputs
    (cut to the parameter's width: 0xFFFF in a ViInt16 reads -1), a str to
    text outputs; arrays get their first element.  Texts must fit the buffer
    the caller gives the driver (255 characters for the fixed texts)."""
    lib = library()
    fn = _function(fn)
    if isinstance(value, float):
        lib.sim_set_output_real(_b(fn), param, value)
    elif isinstance(value, (str, bytes)) or type(value).__name__ == 'unicode':
        text = _b(value)
        if len(text) > 255 or b'\0' in text:
            raise ValueError('a scripted text is at most 255 characters, without NUL')
        lib.sim_set_output_text(_b(fn), param, text)
    else:
        lib.sim_set_output_int(_b(fn), param, int(value))


def push_error(driver, code, message=''):
    """Queue an instrument error (`code`, `message`) for the driver with
    prefix `driver` ('hp816x', 'KE2400', 'PM100D', 'hp8169').  The driver's
    error query returns the oldest one; an empty queue reads (0, 'No error').
    Codes are the instrument's own, e.g. -113 'Undefined header', -261."""
    library().sim_push_error(_b(driver), _signed32(code), _b(message))


def configure(path=None):
    """Load the bench described in JSON file `path` (None: the default
    bench) and start afresh as ``reset()`` does; the bench lasts until the
    next configure(), across resets.  A file with anything malformed or
    unknown is refused whole: ValueError naming the file, the entry and what
    is wrong, and the bench stays as it was::

        {"instruments": [
          {"resource": "GPIB0::5::INSTR", "driver": "hp816x",
           "slots": {"0": "tunable laser", "1": "power meter"}}]}

    Entries: ``resource``, ``driver`` ('hp816x', 'KE2400', 'PM100D',
    'hp8169'), optional ``idn`` (the *IDN? answer); a mainframe's ``slots``
    ('tunable laser', 'dual power meter', 'power meter', 'attenuator',
    'return-loss module', 'fixed laser', 'switch'; slots not named are
    empty) and optional ``slot_count`` (else its highest slot + 1).
    Beside ``instruments``, ``"journal": false`` keeps the journal off
    (from every reset on, see journal_enabled()).  The file is UTF-8 (a
    byte-order mark is fine); texts are the instruments' Latin-1, written
    raw or as \\u escapes alike, without control characters."""
    lib = library()
    if lib.sim_configure(_path(path) if path else None) != 0:
        raise ValueError(_text(lib.sim_config_error, _fs_decode))
    _bench[0] = os.path.abspath(path) if path else None


_bench = [None]


def bench_file():
    """The bench file the simulator loaded: configure()'s, INSTRSIM_CONFIG's,
    or the default bench.json of this package."""
    return _bench[0] or os.environ.get('INSTRSIM_CONFIG') or os.path.join(_HERE, 'bench.json')


def hostile(on=True):
    """Hostile mode (robustness tests): texts fill the whole buffer with no
    zero byte, reported counts exceed the arrays, one-element queries and raw
    reads write as much as the caller's size allows.  The modules must stay
    sound; results are cut to their buffers.  reset() ends it."""
    library().sim_set_hostile(1 if on else 0)


def journal_enabled(on=None):
    """Journaling on (True) or off (False), or with no argument, only
    asked: returns whether calls are journaled now.  Off, driver calls are
    nearly free and take no memory (benchmarks, soak runs), and the journal
    queries (journal, calls, names, count, recording) raise RuntimeError
    instead of answering from a journal that misses calls.  reset() goes
    back to the bench's setting: on, unless the bench file says
    ``"journal": false``."""
    lib = library()
    if on is not None:
        lib.sim_set_journal(1 if on else 0)
    return bool(lib.sim_journal_enabled())


def journaling(on=True):
    """journal_enabled(on): journal on (default) or off."""
    journal_enabled(bool(on))


# ---- time and threads ----------------------------------------------------------------------

MAX_DELAY = 86400.0   # seconds: the longest a simulated call waits (the core's sim_max_delay)
MAX_PACE = 100.0      # the largest pace factor (the core's sim_max_pace)


def delay(fn, seconds):
    """Every later call of driver function `fn` takes at least `seconds`
    inside its driver library, like a slow instrument (0 removes the delay;
    reset() removes all).  The wait holds no lock of the simulator: calls
    into other drivers go on meanwhile, and a second call into the same
    driver library during it shows in overlaps().  At most MAX_DELAY
    seconds (one day); more raises ValueError."""
    seconds = float(seconds)
    if not 0 <= seconds < float('inf'):
        raise ValueError('a delay is a finite number of seconds, at least 0: %r' % (seconds,))
    if seconds > MAX_DELAY or library().sim_set_delay(_b(_function(fn)), seconds) != 0:
        raise ValueError('a delay is at most %g seconds (one day): %r' % (MAX_DELAY, seconds))


def pace(factor):
    """Let the simulated instruments take the time they model, multiplied by
    `factor` (1: as the instrument would; 0, the default and after reset:
    no time at all).  Modelled: a lambda scan's sweep (span / sweep speed,
    hp816x), a power meter's averaging time (hp816x PWM, PM100D), a
    source-measure reading's integration (KE2400, points x NPLC / line
    frequency), the polarization controller's plates turning (hp8169).
    At most MAX_PACE (100: the longest sweep modelled, about 400 s, then
    stays below a day); more raises ValueError.  A call never waits longer
    than MAX_DELAY: a longer modelled time is waited as that (or as the
    session's timeout, if shorter)."""
    factor = float(factor)
    if not 0 <= factor < float('inf'):
        raise ValueError('the pace is a finite factor of at least 0: %r' % (factor,))
    if factor > MAX_PACE or library().sim_set_pace(factor) != 0:
        raise ValueError('the pace is a factor of at most %g: %r' % (MAX_PACE, factor))


def _text(fn, decode=None):
    n = fn(None, 0)
    buf = ctypes.create_string_buffer(n + 1)
    fn(buf, n + 1)
    if str is bytes:
        return buf.value
    return decode(buf.value) if decode else buf.value.decode('latin-1')


def _text_list(fn):
    text = _text(fn)
    return text.split('\n')[:-1] if text else []


def overlaps():
    """Calls that entered a driver library while another call into the same
    library (same prefix: hp816x, KE2400, PM100D, hp8169, vi) was still
    inside it, its delay included, since reset: a list of (function
    entering, function already inside), in order, every one of them.
    Calls into one library never overlap when a module serialises them."""
    lib = library()
    out = []
    buf = ctypes.create_string_buffer(512)
    for i in range(lib.sim_overlap_count()):
        if lib.sim_overlap(i, buf, len(buf)) < 0:
            break
        raw = buf.value if str is bytes else buf.value.decode('latin-1')
        out.append(tuple(raw.split('\x1f', 1)))
    return out


def gil_held_calls():
    """Driver functions called while the calling thread held the Python
    interpreter lock, since reset: distinct names in first-seen order.
    Always empty where the simulator cannot see the lock (gil_detection())."""
    return _text_list(library().sim_gil_held_calls)


def gil_detection():
    """True where the simulator can tell whether a caller holds the
    interpreter lock (POSIX, the interpreter's symbols visible)."""
    return bool(library().sim_gil_detection())


# ---- the journal -------------------------------------------------------------------------

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


_OFF = ('the journal is off (journal_enabled(False), or the bench file\'s "journal": false): '
        'it holds no calls to answer %s() from; journal_enabled(True) turns it on')


def _journal_on(query):
    if not library().sim_journal_enabled():
        raise RuntimeError(_OFF % query)


def _mark():
    generation = ctypes.c_longlong()
    size = library().sim_journal_mark(ctypes.byref(generation))
    return generation.value, size


def _read(generation, start, end):
    """The entries [start, end) of the journal of `generation`, or those of
    them read before a clear_journal()/reset() from another thread ended
    it: each entry is returned once or not at all."""
    lib = library()
    out = []
    room = 1 << 16
    buf = ctypes.create_string_buffer(room)
    while start < end:
        used = lib.sim_journal_read(generation, start, end, buf, room)
        if used < 0:
            break                                   # cleared: the read ends here
        if used == 0:                               # one entry larger than the buffer
            room *= 2
            buf = ctypes.create_string_buffer(room)
            continue
        raw = ctypes.string_at(buf, used)
        for entry in raw.split(b'\0')[:-1]:
            parts = (entry if str is bytes else entry.decode('latin-1')).split('\x1f')
            out.append((parts[0], tuple(_parse(t) for t in parts[1:])))
            start += 1
    return out


def journal(start=0):
    """Every driver call since the last reset (or clear_journal), in order:
    a list of (name, args), args a tuple with one item per C parameter.
    Nothing is dropped: the journal holds every call (its text and a
    pointer, 37 to 75 bytes in the core), so a long run that journals
    millions of calls should clear_journal() now and then, or turn
    journal_enabled(False).  Consistent while other threads call and clear:
    a clear meanwhile ends the list (what was read before it is kept).
    Raises RuntimeError while journaling is off."""
    _journal_on('journal')
    generation, size = _mark()
    return _read(generation, max(int(start), 0), size)


def calls(fn):
    """The argument tuples of every journaled call of driver function `fn`:
    ``calls('hp816x_init')`` -> ``[('GPIB0::20::INSTR', 1, 0, PTR)]``."""
    _function(fn)
    _journal_on('calls')
    return [args for name, args in journal() if name == fn]


def names():
    """The driver functions called, in order."""
    _journal_on('names')
    return [name for name, _ in journal()]


def count(fn):
    """How many calls of driver function `fn` the journal holds (kept per
    function by the core: constant time)."""
    _function(fn)
    _journal_on('count')
    return int(library().sim_journal_count(_b(fn)))


def clear_journal():
    """Empty the journal only; sessions, scripts and settings stay."""
    library().sim_journal_clear()


def session_count():
    """Sessions open in the simulated drivers (all drivers together)."""
    return library().sim_session_count()


class recording(object):
    """The driver calls made inside a ``with`` block::

        with sim.recording() as rec:
            my_lab_function(session)
        rec.names()                         # ['hp816x_set_TLS_wavelength', ...]
        rec.calls('hp816x_PWM_readValue')   # argument tuples, as calls()

    With the journal cleared inside the block, the calls made after the
    clear.  RuntimeError when journaling is off at the start or the end.
    """

    def __enter__(self):
        _journal_on('recording')
        self._generation, self._start = _mark()
        self.journal = []
        return self

    def __exit__(self, *exc):
        if not library().sim_journal_enabled():
            if exc[0] is None:
                raise RuntimeError(_OFF % 'recording')
            return False
        generation, size = _mark()
        start = self._start if generation == self._generation else 0
        self.journal = _read(generation, start, size)
        return False

    def calls(self, fn):
        _function(fn)
        return [args for name, args in self.journal if name == fn]

    def names(self):
        return [name for name, _ in self.journal]


# ---- replay -------------------------------------------------------------------------------

REPLAY_MISMATCH = -1073783295  # 0xBFFF5E01: a call the recording does not hold


class ReplayMismatch(AssertionError):
    """A replayed run did not make the recorded calls: the message is the report."""


def _replay_load(path, rel=0.0, pace=False, at_exit=False):
    error = ctypes.create_string_buffer(4096)
    if library().sim_replay_load(_path(path), float(rel), int(bool(pace)), int(bool(at_exit)), error, 4096) != 0:
        raise ValueError(_fs_decode(error.value))


class replay(object):
    """Answers every driver call inside the ``with`` block from a recording
    (``python -m instrbind record``), bit for bit, in the recorded order of each
    driver library; no simulated instrument is reached::

        with instrsim.replay('bench-run.jsonl'):
            my_script.main()

    Each call must match the recording's next call of its library: function
    and every input (reals within ``rel``, relative).  One that does not fails
    with the simulator's status 0xBFFF5E01 (REPLAY_MISMATCH) and a report on
    stderr (a checked call's failure then ends the process, as on a bench); at
    the end of the block, that or recorded calls left unused raise
    ReplayMismatch.
    ``pace=True``: each call takes the time it took when recorded."""

    def __init__(self, path, rel=0.0, pace=False):
        self.path, self.rel, self.pace = path, rel, pace

    def __enter__(self):
        _replay_load(self.path, self.rel, self.pace)
        return self

    def __exit__(self, *exc):
        report = _text(library().sim_replay_report, _fs_decode)
        library().sim_replay_stop()
        if report and exc[0] is None:
            raise ReplayMismatch(report.rstrip())
        return False


# ---- code that ends the process ------------------------------------------------------------

RunResult = collections.namedtuple('RunResult', 'returncode stdout stderr journal')


def run_python(code, env=None):
    """Run Python `code` (dedented) in a fresh interpreter with this process's
    sys.path, and return ``RunResult(returncode, stdout, stderr, journal)``.
    `journal` is every driver call the child made, as the simulator wrote it
    when the child exited (also through the status check's C exit), as a list
    of (name, args).  The child runs on the simulator (it imports instrsim
    first) and has one of its own: script it there.
    """
    fd, path = tempfile.mkstemp(suffix='.journal')
    os.close(fd)
    prelude = 'import sys\nsys.path[:0] = %r\nimport instrsim\n' % [p for p in sys.path if p]
    child_env = dict(os.environ)
    child_env.update(env or {})
    child_env['INSTRSIM_JOURNAL_AT_EXIT'] = path
    try:
        p = subprocess.Popen([sys.executable, '-c', prelude + textwrap.dedent(code)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=child_env)
        out, err = p.communicate()
        with open(path, 'rb') as f:
            lines = f.read().splitlines()
    finally:
        os.remove(path)
    text = (lambda b: b) if str is bytes else (lambda b: b.decode('latin-1'))
    calls_made = []
    for line in lines:
        parts = text(line).split('\x1f')
        calls_made.append((parts[0], tuple(_parse(t) for t in parts[1:])))
    return RunResult(p.returncode, text(out), text(err), calls_made)


def exit_code(status):
    """The exit code a process shows after the status check ended it with
    `status`: POSIX keeps the low 8 bits (INSTR_ERROR -> 7), and a status
    whose low 8 bits are zero (0xBFFC0800) ends with 1, never 0; on Windows
    the whole status, as subprocess reports it (unsigned on Python 3, signed
    on 2.7)."""
    if os.name != 'posix':
        code = status & 0xFFFFFFFF
        return code if sys.version_info[0] >= 3 else _signed32(code)
    return status & 0xFF or 1


# ---- unittest ---------------------------------------------------------------------------

class SimulatorTestCase(unittest.TestCase):
    """A TestCase that resets the simulator before and after every test."""

    def setUp(self):
        reset()

    def tearDown(self):
        reset()

    def assertCalled(self, fn, *args):
        """`fn` reached the driver (with exactly these arguments, if given;
        ``ANY`` matches anything).  Returns the arguments of the last such call."""
        made = calls(fn)
        if args:
            def matches(c):
                return len(c) == len(args) and all(a is ANY or a == b for a, b in zip(args, c))
            hits = [c for c in made if matches(c)]
            self.assertTrue(hits, '%s was not called with %r; calls: %r' % (fn, args, made))
            return hits[-1]
        self.assertTrue(made, '%s was not called' % fn)
        return made[-1]

    def assertNotCalled(self, fn):
        """`fn` (a name the simulated drivers export) did not reach the driver."""
        self.assertEqual(calls(fn), [], '%s reached the driver' % fn)


_choose()
