"""What the five instrument modules share at the Python level.

- ``DriverExit``: the ``SystemExit`` every status check raises, with the failing
  call's status, module, function, session, resource and message;
- ``trace(on)``: one DEBUG record per driver call to the logger
  ``instrbind.<module>`` (also ``INSTRBIND_TRACE=1`` in the environment);
- ``cleanup()``: a block (or a decorated function) that another thread's
  failure and Ctrl-C do not interrupt: they are delivered when it ends;
- ``driver_library(name)``: the driver library file a loaded module is bound to;
- ``__version__``: the project's version.

``python -m instrbind`` reports, for each module, the driver library it needs,
whether and where the system's loader finds it, and what to do when it does not.
"""
import os
import struct
import sys
import threading

__version__ = '0.1.0'

__all__ = ['DriverExit', 'cleanup', 'trace', 'tracing', 'record', 'recording', 'driver_library', 'report', 'MODULES',
           '__version__']

# The five instrument modules.
MODULES = ('_photonbay', '_smeter', '_powerprobe', '_polshaper', '_instrbus')


class DriverExit(SystemExit):
    """A driver call failed and the process ends with ``code``.

    ``status``: the driver's status; ``module``: ``'_photonbay'``, ...;
    ``function``: the Python function (``'PWM_readValue'``); ``session``: the
    session it was called on; ``resource``: the resource string that session was
    opened with (None if unknown); ``message``: the line printed for it.
    """

    def __init__(self, code, status=None, module=None, function=None, session=None,
                 resource=None, message=None):
        SystemExit.__init__(self, code)
        self.status = status
        self.module = module
        self.function = function
        self.session = session
        self.resource = resource
        self.message = message

    def __reduce__(self):
        return (DriverExit, (self.code, self.status, self.module, self.function,
                             self.session, self.resource, self.message))

    def __str__(self):
        if self.message is None:
            return SystemExit.__str__(self)
        where = '%s(%s)' % (self.function, self.resource) if self.resource is not None else self.function
        return '%s.%s failed: %s' % (self.module, where, self.message)


class _PoolWorkerExit(DriverExit, Exception):
    """DriverExit in a worker of a multiprocessing.Pool, which loses a task
    whose function raises SystemExit (its map() would wait for ever): also an
    Exception, so the pool hands it back, and the caller's map() raises it
    there as the DriverExit itself."""


def _in_pool_worker():
    f = sys._getframe(2)
    while f is not None:
        code = f.f_code
        if code.co_name == 'worker' and os.path.basename(os.path.dirname(code.co_filename)) == 'multiprocessing' \
                and os.path.basename(code.co_filename).startswith('pool.'):
            return True
        f = f.f_back
    return False


def _exit(*args):
    # the frame's factory of the failure's exception
    return (_PoolWorkerExit if _in_pool_worker() else DriverExit)(*args)


def _quiet_in_threads():
    # A thread ending with DriverExit ends as quietly as with SystemExit:
    # threading's hook reports every exception but SystemExit itself.
    import threading
    original = getattr(threading, 'excepthook', None)
    if original is None or getattr(original, '_instrbind', False):
        return

    def excepthook(args):
        if args.exc_type is not None and issubclass(args.exc_type, DriverExit):
            return
        original(args)
    excepthook._instrbind = True
    threading.excepthook = excepthook


_quiet_in_threads()

_trace = [os.environ.get('INSTRBIND_TRACE', '') not in ('', '0')]


class cleanup(object):
    """A clean-up that runs to its end::

        with instrbind.cleanup():
            for p in ramp_down:
                pb.set_TLS_power(s, 0, 0, 0, p)
            pb.set_TLS_laserState(s, 0, 0)

    Inside the block, another thread's instrument failure and Ctrl-C wait:
    they are delivered when the (outermost) block ends, as they would have
    been at its first line.  Also a decorator: ``@instrbind.cleanup()`` or
    ``@instrbind.cleanup``.  The block's own driver calls fail as usual."""

    _local = threading.local()

    def __new__(cls, func=None):
        self = object.__new__(cls)
        if func is not None:
            return self(func)
        return self

    def __call__(self, func):
        def run(*args, **kw):
            with cleanup():
                return func(*args, **kw)
        run.__name__ = getattr(func, '__name__', 'cleanup')
        run.__doc__ = getattr(func, '__doc__', None)
        run.__wrapped__ = func
        return run

    def __enter__(self):
        local = cleanup._local
        depth = getattr(local, 'depth', 0)
        if depth == 0:
            local.interrupted = None
            local.sigint = _hold_sigint(local)
        local.depth = depth + 1
        hold = globals().get('_hold')  # set by the first instrument module imported
        if hold is not None:
            hold(True)
        return self

    def __exit__(self, exc_type, exc, tb):
        local = cleanup._local
        local.depth -= 1
        hold = globals().get('_hold')
        try:
            if hold is not None:
                hold(False)  # raises the failure held back, at the outermost end
        finally:
            if local.depth == 0:
                _release_sigint(local, exc_type)
        return False


def _hold_sigint(local):
    # Ctrl-C inside a clean-up block in the main thread: noted, not raised
    try:
        import signal
        if not isinstance(threading.current_thread(), threading._MainThread):
            return None
        previous = signal.getsignal(signal.SIGINT)
        if not callable(previous):
            return None

        def noted(signum, frame):
            local.interrupted = (signum, frame)
        signal.signal(signal.SIGINT, noted)
        return previous
    except (ImportError, ValueError):  # not the main thread of the interpreter
        return None


def _release_sigint(local, exc_type):
    previous, local.sigint = local.sigint, None
    if previous is None:
        return
    import signal
    signal.signal(signal.SIGINT, previous)
    interrupted, local.interrupted = local.interrupted, None
    if interrupted is not None and exc_type is None:
        previous(*interrupted)


def _flush_files():
    # The ending of an abandoned process: the script's open files that hold
    # written data reach their files (never a file only read: a thread
    # reading it may hold its lock for ever).
    import gc
    if sys.version_info[0] >= 3:
        import io
        kinds, writable = (io.IOBase,), lambda f: f.writable()
    else:
        kinds, writable = (file,), lambda f: any(c in f.mode for c in 'wa+')  # noqa: F821
    stdin = (sys.stdin, sys.__stdin__)
    objects = gc.get_objects()
    if sys.version_info[0] < 3:  # 2.7's files are not tracked: found in what holds them
        objects = [r for o in objects for r in gc.get_referents(o) if isinstance(r, file)]  # noqa: F821
    seen = set()
    for f in objects:
        try:
            if isinstance(f, kinds) and id(f) not in seen and f not in stdin and not f.closed and writable(f):
                seen.add(id(f))
                f.flush()
        except Exception:
            pass


def tracing():
    """Whether driver calls are traced."""
    return _trace[0]


def trace(on=True):
    """Sends one DEBUG record per driver call to the logger ``instrbind.<module>``
    (``instrbind._photonbay``, ...): the function, its arguments, the result or
    status, the driver's time and the thread.  ``trace(False)`` stops them.
    Records are made only where that logger is enabled for DEBUG."""
    _trace[0] = bool(on)
    setter = globals().get('_set_trace')  # set by the first instrument module imported
    if setter is not None:
        setter(_trace[0])


# ---- which library each module is bound to -----------------------------------------------

# Filled by each module as it is imported: name -> a callable giving (path of
# the library its driver import was bound to, whether it is the simulator),
# asked of the address the loader bound (binding/library.hpp).
# ---- the recording ------------------------------------------------------------------
# A JSON Lines file (docs/recording.md): a header, a line per module, then a
# line per driver call, which the modules write (binding/record.hpp).

RECORDING_FORMAT = 'instrbind-recording'
RECORDING_VERSION = 1
_recording = {'path': None, 'fd': None, 'modules': False}


def record(path):
    """Records every driver call of every module into the file `path`, from
    now on, replacing what it held: inputs and outputs as the driver had them,
    the status, the time, the thread.  None ends the recording.
    INSTRBIND_RECORD=<file> in the environment begins one as the first module
    is imported; ``python -m instrbind record <file> script.py [args...]`` runs a
    script recorded.  ``python -m instrsim --replay <file> script.py`` plays it back."""
    _stop_recording()
    if path is None:
        return
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_APPEND | getattr(os, 'O_BINARY', 0), 0o666)
    _recording.update(path=os.path.abspath(path), fd=fd, modules=False)
    os.write(fd, _json_line(_header()))
    _start_recording()


def recording():
    """The file being recorded into, or None."""
    return _recording['path']


def _start_recording():
    """Hands the open recording to the modules, once one is loaded (the first
    one imported calls this, and reads INSTRBIND_RECORD)."""
    if _recording['fd'] is None:
        path = os.environ.get('INSTRBIND_RECORD')
        if path and _recording['path'] is None and '_set_record' in globals():
            record(path)
        return
    setter = globals().get('_set_record')
    if setter is None or _recording['modules']:
        return
    fd = _recording['fd']
    if _WINDOWS:
        import msvcrt
        setter(msvcrt.get_osfhandle(fd))
    else:
        setter(fd)
    _recording['modules'] = True
    for name in MODULES:
        if name in _driver_libraries:
            _module_loaded(name)


def _stop_recording():
    fd = _recording['fd']
    if fd is None:
        return
    if _recording['modules']:
        _set_record(-1)  # returns once no module writes into the file
    _recording.update(path=None, fd=None, modules=False)
    os.close(fd)


def _json_line(obj):
    import json
    return (json.dumps(obj, separators=(',', ':')) + '\n').encode('ascii')


def _header():
    import platform
    import time
    return {'format': RECORDING_FORMAT, 'version': RECORDING_VERSION,
            'created': time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime()), 'instrbind': __version__,
            'python': platform.python_version(), 'platform': sys.platform, 'machine': platform.machine(),
            'bits': struct.calcsize('P') * 8, 'argv': list(sys.argv)}


def _module_loaded(name):
    """A module's line in the recording: the library it is bound to."""
    if not _recording['modules'] or name not in _driver_libraries:
        return
    path, simulated = _driver_libraries[name]()
    line = {'module': name, 'library': _decoded(path), 'simulator': bool(simulated)}
    if simulated:
        sim = sys.modules.get('instrsim')
        line['bench'] = _decoded(sim.bench_file()) if sim and hasattr(sim, 'bench_file') else None
    _record_write(_json_line(line))


def _decoded(path):
    if path is None or not isinstance(path, bytes) or bytes is str:
        return path
    return path.decode(sys.getfilesystemencoding() or 'utf-8', 'replace')


_driver_libraries = {}


def driver_library(name):
    """The absolute path of the driver library file the loaded module `name`
    (``'_photonbay'``, ...) is bound to; None if that module is not loaded."""
    found = _bound(name)
    return found and found[0]


def _bound(name):
    lookup = _driver_libraries.get(name)
    if name not in sys.modules or lookup is None:
        return None
    return lookup()


# ---- python -m instrbind: what each module needs and what the loader finds --------------

_WINDOWS = os.name == 'nt'
# Libraries every module imports besides its driver.
_RUNTIME = ('libc.', 'libm.', 'libdl.', 'librt.', 'libpthread.', 'libstdc++.', 'libgcc_s.', 'ld-linux',
            'libpython', 'python', 'msvcrt.', 'kernel32.', 'api-ms-', 'vcruntime', 'ucrtbase.',
            'libasan.', 'libubsan.', 'libtsan.', 'liblsan.')  # and the sanitizers' runtimes


def _imports(path):
    """(names of the libraries a module file imports, its bitness), read from
    its ELF dynamic section or PE import table; ([], None) if unreadable."""
    try:
        with open(path, 'rb') as f:
            data = f.read()
    except (IOError, OSError):
        return [], None
    if data[:4] == b'\x7fELF':
        return _elf_needed(data), 64 if data[4:5] == b'\x02' else 32
    if data[:2] == b'MZ':
        return _pe_imports(data)
    return [], None


def _cstr(data, at):
    return data[at:data.index(b'\0', at)].decode('latin-1')


def _elf_sections(data):
    """(64-bit, [(type, offset, size, link)]) of a little-endian ELF file's
    sections (also the build backend's reader)."""
    wide = data[4:5] == b'\x02'
    shoff = struct.unpack_from('<Q' if wide else '<I', data, 0x28 if wide else 0x20)[0]
    size, count = struct.unpack_from('<HH', data, 0x3A if wide else 0x2E)
    sections = []
    for i in range(count):
        at = shoff + i * size
        kind = struct.unpack_from('<I', data, at + 4)[0]
        if wide:
            offset, length = struct.unpack_from('<QQ', data, at + 0x18)
            link = struct.unpack_from('<I', data, at + 0x28)[0]
        else:
            offset, length, link = struct.unpack_from('<III', data, at + 0x10)
        sections.append((kind, offset, length, link))
    return wide, sections


def _elf_needed(data):
    wide, sections = _elf_sections(data)
    names = []
    for kind, offset, length, link in sections:
        if kind == 6:                                      # SHT_DYNAMIC
            step = 16 if wide else 8
            for at in range(offset, offset + length, step):
                tag, value = struct.unpack_from('<qQ' if wide else '<iI', data, at)
                if tag == 0:
                    break
                if tag == 1:                               # DT_NEEDED
                    names.append(_cstr(data, sections[link][1] + value))
    return names


def _pe_imports(data):
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    machine, count = struct.unpack_from('<HH', data, pe + 4)
    optional = pe + 24
    wide = struct.unpack_from('<H', data, optional)[0] == 0x20B
    rva = struct.unpack_from('<I', data, optional + (120 if wide else 104))[0]   # import directory
    table = optional + struct.unpack_from('<H', data, pe + 20)[0]
    sections = [struct.unpack_from('<IIII', data, table + 40 * i + 8) for i in range(count)]

    def offset(address):
        for vsize, vaddr, rawsize, raw in sections:
            if vaddr <= address < vaddr + max(vsize, rawsize):
                return address - vaddr + raw
        raise ValueError(address)
    names = []
    at = offset(rva) if rva else None
    while at is not None:
        name = struct.unpack_from('<I', data, at + 12)[0]
        if not name:
            break
        names.append(_cstr(data, offset(name)))
        at += 20
    return names, 64 if machine == 0x8664 else 32


def _bitness(path):
    return _imports(path)[1]


def _driver_name(module_file):
    names, bits = _imports(module_file)
    drivers = [n for n in names if not n.lower().startswith(_RUNTIME)]
    return (drivers[0] if drivers else None), bits


def _module_file(name):
    try:
        import importlib.util
        found = importlib.util.find_spec(name)
        return found.origin if found else None
    except ImportError:
        import imp
        try:
            f, path, _ = imp.find_module(name)
        except ImportError:
            return None
        if f:
            f.close()
        return path


def _search_path(module_file):
    """Folders where a library of that name may lie, as the loader searches."""
    if _WINDOWS:
        windir = os.environ.get('SystemRoot', r'C:\Windows')
        dirs = [os.path.dirname(module_file), os.path.join(windir, 'System32'), os.path.join(windir, 'SysWOW64')]
        return dirs + os.environ.get('PATH', '').split(os.pathsep)
    dirs = os.environ.get('LD_LIBRARY_PATH', '').split(':')
    try:
        with open('/etc/ld.so.conf.d/x86_64-linux-gnu.conf') as f:
            dirs += [l.strip() for l in f if l.startswith('/')]
    except (IOError, OSError):
        pass
    return dirs + ['/usr/local/lib', '/lib', '/usr/lib', '/lib64', '/usr/lib64']


def report(out=None):
    """Writes the report of ``python -m instrbind``; returns its exit status:
    0 when every module's driver library is found, else 1."""
    out = out or sys.stdout
    bits = struct.calcsize('P') * 8
    write = lambda text='': out.write(text + '\n')
    write('instrbind %s, Python %s (%d-bit), %s' % (__version__, sys.version.split()[0], bits, sys.executable))
    missing = []
    for name in MODULES:
        module_file = _module_file(name)
        if not module_file:
            write('%-12s not installed for this Python' % name)
            missing.append(name)
            continue
        needed, module_bits = _driver_name(module_file)
        error = None
        try:
            __import__(name)
        except ImportError as e:
            error = e
        found = _bound(name) if error is None else None
        head = '%-12s needs %-22s' % (name, needed or '?')
        if found and found[0]:
            write('%s found: %s (%s-bit%s)' % (head, found[0], _bitness(found[0]) or '?',
                                                ', a simulated driver, not a vendor\'s' if found[1] else ''))
            continue
        missing.append(name)
        write('%s MISSING: %s' % (head, str(error).splitlines()[0] if error else 'no library bound'))
        others = [os.path.join(d, needed) for d in _search_path(module_file)
                  if d and needed and os.path.isfile(os.path.join(d, needed))]
        for other in others:
            other_bits = _bitness(other)
            if other_bits and other_bits != bits:
                write('%12s %s is %d-bit; this Python is %d-bit: install the %d-bit driver, or use a '
                      '%d-bit Python' % ('', other, other_bits, bits, bits, other_bits))
        if _WINDOWS:
            add = ('add its folder before the import: os.add_dll_directory(r"C:\\...")' if sys.version_info >= (3, 8)
                   else 'add its folder to PATH')
        else:
            add = 'add its folder: LD_LIBRARY_PATH=/path/to/folder'
        write('%12s fix: install the vendor\'s driver (%s, %d-bit), or %s, or run on the simulator: '
              'python -m instrsim script.py' % ('', needed or 'its library', module_bits or bits, add))
    write('%d of %d driver libraries found' % (len(MODULES) - len(missing), len(MODULES)))
    return 1 if missing else 0


def _run_script(args, tool):
    """Runs args[0] as `python script.py args[1:]` would: __name__ '__main__',
    sys.argv, the script's folder heading sys.path; its exit is the process's."""
    path = args[0]
    try:
        with open(path, 'rb') as f:
            source = f.read()
    except (IOError, OSError) as e:
        sys.stderr.write("%s: can't open file %r: %s\n" % (tool, path, e.strerror))
        sys.exit(2)
    code = compile(source, path, 'exec', 0, True)
    import types
    main = types.ModuleType('__main__')
    main.__file__ = os.path.abspath(path) if sys.version_info >= (3, 9) else path
    main.__builtins__ = sys.modules['__builtin__' if sys.version_info[0] < 3 else 'builtins']
    main.__package__ = None
    if sys.version_info[0] >= 3:
        main.__spec__ = None
        main.__cached__ = None
        import importlib.machinery
        main.__loader__ = importlib.machinery.SourceFileLoader('__main__', path)
    _runner.append(sys.modules['__main__'])  # kept: 2.7 clears a freed module's globals
    sys.modules['__main__'] = main
    sys.argv[:] = args
    sys.path[0] = os.path.dirname(os.path.realpath(path))
    exec(code, main.__dict__)


_runner = []

RECORD_USAGE = 'usage: python -m instrbind record FILE script.py [args...]'


def _main(argv):
    if argv[:1] == ['record']:
        if len(argv) < 3:
            sys.stderr.write(RECORD_USAGE + '\n')
            return 2
        record(argv[1])
        _run_script(argv[2:], 'python -m instrbind record')
        return 0
    if argv:
        sys.stderr.write('usage: python -m instrbind          (what is installed, where)\n       %s\n' % RECORD_USAGE)
        return 2
    return report()


if __name__ == '__main__':
    import instrbind    # the module the instrument modules register with, not this __main__
    sys.exit(instrbind._main(sys.argv[1:]))
