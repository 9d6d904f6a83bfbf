"""python -m instrsim [--bench FILE] [--replay FILE [--tolerance REL] [--pace]] script.py [args...]

Runs the script as `python script.py [args...]` would (its __name__ is
'__main__', sys.argv is [script.py, args...], its folder heads sys.path, its
exit status is the process's), on the simulated drivers: importing this
package chose them.  Everything after the script's name is the script's.
--bench FILE loads that bench file, as INSTRSIM_CONFIG=FILE does.
--replay FILE answers every driver call from a recording (python -m instrbind
record); a call that does not match it, or recorded calls left unused, end
the run with status 3 and a report on stderr.  --tolerance REL lets reals
differ by that relative amount; --pace makes each call take its recorded time.
"""
from __future__ import print_function

import os
import sys

import instrsim

USAGE = ('usage: python -m instrsim [--bench FILE] [--replay FILE [--tolerance REL] [--pace]] '
         'script.py [args...]')


def _options(args):
    """({option: value}, the script's argv); SystemExit(2) on a bad option."""
    found = {'bench': None, 'replay': None, 'tolerance': 0.0, 'pace': False}
    while args and args[0].startswith('-'):
        option = args.pop(0)
        name, _, value = option[2:].partition('=')
        if option in ('-h', '--help'):
            print(__doc__.strip())
            sys.exit(0)
        elif option == '--':
            break
        elif name == 'pace' and not value:
            found['pace'] = True
        elif name in ('bench', 'replay', 'tolerance') and (value or args):
            found[name] = value or args.pop(0)
        else:
            print('python -m instrsim: unknown option %s\n%s' % (option, USAGE), file=sys.stderr)
            sys.exit(2)
    try:
        found['tolerance'] = float(found['tolerance'])
    except ValueError:
        print('python -m instrsim: --tolerance takes a number\n%s' % USAGE, file=sys.stderr)
        sys.exit(2)
    if not args:
        print(USAGE, file=sys.stderr)
        sys.exit(2)
    return found, args


def main(argv):
    options, args = _options(list(argv))
    bench = options['bench']
    if bench:
        try:
            instrsim.configure(bench)
        except ValueError as e:
            print('python -m instrsim: %s' % e, file=sys.stderr)
            sys.exit(2)
        os.environ['INSTRSIM_CONFIG'] = os.path.abspath(bench)   # child processes: the same bench
    if options['replay']:
        try:
            instrsim._replay_load(options['replay'], options['tolerance'], options['pace'], at_exit=True)
        except ValueError as e:
            print('python -m instrsim: %s' % e, file=sys.stderr)
            sys.exit(2)
    import instrbind
    instrbind._run_script(args, 'python -m instrsim')


if __name__ == '__main__':
    main(sys.argv[1:])
