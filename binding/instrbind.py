"""What the five instrument modules share at the Python level.

- ``DriverExit``: the ``SystemExit`` every status check raises, with the failing
  call's status, module, function, session, resource and message;
- ``trace(on)``: one DEBUG record per driver call to the logger
  ``instrbind.<module>`` (also ``INSTRBIND_TRACE=1`` in the environment);
- ``__version__``: the project's version.
"""
import os

__version__ = '0.1.0'

__all__ = ['DriverExit', 'trace', 'tracing', '__version__']


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
        return (type(self), (self.code, self.status, self.module, self.function,
                             self.session, self.resource, self.message))


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
