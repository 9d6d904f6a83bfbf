"""What the five instrument modules share at the Python level.

- ``DriverExit``: the ``SystemExit`` every status check raises, with the failing
  call's status, module, function, session, resource and message;
- ``trace(on)``: one DEBUG record per driver call to the logger
  ``instrbind.<module>`` (also ``INSTRBIND_TRACE=1`` in the environment);
- ``cleanup()``: a block (or a decorated function) that another thread's
  failure and Ctrl-C do not interrupt: they are delivered when it ends;
- ``__version__``: the project's version.
"""
import os
import sys
import threading

__version__ = '0.1.0'

__all__ = ['DriverExit', 'cleanup', 'trace', 'tracing', '__version__']


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
