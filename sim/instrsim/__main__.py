"""python -m instrsim [--bench FILE] script.py [args...]

Runs the script as `python script.py [args...]` would (its __name__ is
'__main__', sys.argv is [script.py, args...], its folder heads sys.path, its
exit status is the process's), on the simulated drivers: importing this
package chose them.  Everything after the script's name is the script's.
--bench FILE loads that bench file, as INSTRSIM_CONFIG=FILE does.
"""
from __future__ import print_function

import os
import sys

import instrsim

USAGE = 'usage: python -m instrsim [--bench FILE] script.py [args...]'


def _options(args):
    """(bench file or None, the script's argv); SystemExit(2) on a bad option."""
    bench = None
    while args and args[0].startswith('-'):
        option = args.pop(0)
        if option in ('-h', '--help'):
            print(__doc__.strip())
            sys.exit(0)
        elif option == '--bench' and args:
            bench = args.pop(0)
        elif option.startswith('--bench='):
            bench = option[len('--bench='):]
        elif option == '--':
            break
        else:
            print('python -m instrsim: unknown option %s\n%s' % (option, USAGE), file=sys.stderr)
            sys.exit(2)
    if not args:
        print(USAGE, file=sys.stderr)
        sys.exit(2)
    return bench, args


def main(argv):
    bench, args = _options(list(argv))
    if bench:
        try:
            instrsim.configure(bench)
        except ValueError as e:
            print('python -m instrsim: %s' % e, file=sys.stderr)
            sys.exit(2)
        os.environ['INSTRSIM_CONFIG'] = os.path.abspath(bench)   # child processes: the same bench
    path = args[0]
    try:
        with open(path, 'rb') as f:
            source = f.read()
    except (IOError, OSError) as e:
        print("python -m instrsim: can't open file %r: %s" % (path, e.strerror), file=sys.stderr)
        sys.exit(2)
    code = compile(source, path, 'exec', 0, True)
    # What the interpreter does for `python script.py`.
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
    instrsim._runner = sys.modules['__main__']   # kept: 2.7 clears a freed module's globals, ours
    sys.modules['__main__'] = main
    sys.argv[:] = args
    sys.path[0] = os.path.dirname(os.path.realpath(path))
    exec(code, main.__dict__)


if __name__ == '__main__':
    main(sys.argv[1:])
