"""Argument fuzzing: every function of every module called with random Python
values for each parameter (integers at and beyond every range edge, floats,
nan, huge integers, str, bytes, byte buffers, memoryviews, None, lists,
vectors, objects with __int__ / __index__ / __float__, wrong argument counts, keywords).

Only TypeError, OverflowError, ValueError, UnicodeEncodeError or MemoryError
may come out, a refused call must reach no driver function, and nothing may
crash.  Each module is fuzzed in a child process whose drivers all report
success (so no status check ends it) and whose memory is bounded (RLIMIT_AS,
or the sanitizer's allocation limit), so huge caller-sized arrays end in
MemoryError.

FUZZ_CALLS=100000 sets the number of calls over all modules (default: a few
thousand, for CI); FUZZ_SEED fixes the random seed.  Python 3 only (Debian's
python3-hypothesis).
"""
import os
import random
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
if HERE not in sys.path:
    sys.path.insert(0, HERE)

import support  # noqa: E402
from support import sim, SANITIZED, Index, Float  # noqa: E402
import functions as F  # noqa: E402

try:
    import hypothesis
    from hypothesis import strategies as st
except ImportError:  # Python 2.7, or the package is not installed
    hypothesis = None

ALLOWED = (TypeError, OverflowError, ValueError, UnicodeEncodeError, MemoryError)
DEFAULT_CALLS = 4000 if SANITIZED else 10000
MEMORY_LIMIT = 2 << 30      # bytes of address space of a child (no sanitizer)
SANITIZER_LIMIT_MB = 1024   # largest allocation under the sanitizer
BIG = 4096                  # items of every writable buffer handed to the driver

# ViString parameters the driver writes into: a writable buffer there must
# hold what the driver writes (the caller's contract), so it is BIG bytes.
WRITTEN_TEXT = {('_photonbay', 'cmdString_Q'): 3, ('_polshaper', 'cmdString_Q'): 3,
                ('_photonbay', 'spectralCalibration'): 6, ('_photonbay', 'spectralCalibrationEx'): 7,
                ('_photonbay', 'get_ATT_operStatus'): 2}
# Arrays the driver reads: (count parameter, array parameters).  The count
# must not exceed the arrays handed over (the caller's contract).
READ_ARRAYS = {('_photonbay', 'spectralCalibration'): (2, (3, 4)),
               ('_photonbay', 'spectralCalibrationEx'): (3, (4, 5)),
               ('_smeter', 'Configure_List_IV'): (1, (2,)), ('_smeter', 'Configure_List_VI'): (1, (2,)),
               ('_smeter', 'ConfigureSourceCustom'): (3, (4,))}
# Arrays the driver is not told the size of: they must cover what it writes
# (the prepared scan, the response table).  Fuzzed from a fresh driver, whose
# scans hold no points; the table has 9.
UNTOLD = {('_photonbay', 'readWlRespTable'): (2, 9), ('_photonbay', 'readWlRespTableEx'): (3, 9)}
# Buffers of a caller's size from C++ new (raw reads, the reply of
# cmdString_Q): the sanitizer cannot refuse them without aborting the
# process, so there their sizes stay below its limit.
NEW_SIZED = {('_smeter', 'ReadInstrData'): 1, ('_powerprobe', 'readRaw'): 1,
             ('_photonbay', 'cmdString_Q'): 2, ('_polshaper', 'cmdString_Q'): 2}

EDGES = [0, 1, -1, 2, 4, 127, 128, 255, 256, 257, 32767, 32768, -32768, -32769, 65535, 65536,
         2 ** 31 - 1, 2 ** 31, -2 ** 31, -2 ** 31 - 1, 2 ** 32 - 1, 2 ** 32, -2 ** 32,
         2 ** 63 - 1, 2 ** 63, -2 ** 63, -2 ** 63 - 1, 2 ** 64, 10 ** 30, -10 ** 30, 10 ** 400]


class Int(object):
    def __init__(self, v):
        self.v = v

    def __int__(self):
        return self.v


class SubInt(int):
    def __index__(self):
        return 0


class SubFloat(float):
    pass


def padded(raw):
    """A writable BIG-byte buffer that starts with `raw`."""
    raw = raw[:BIG - 1]
    return bytearray(raw + b'\0' * (BIG - len(raw)))


def big_array(code):
    import array
    return array.array(code, [0]) * BIG


def big_vector(cls):
    v = cls()
    v.extend([0] * BIG)
    return v


def small_array(code):
    import array
    return array.array(code, [1])


def big_view(raw):
    return memoryview(padded(raw))


def big_bytes_array(raw):
    import array
    return array.array('B', padded(raw))


def small_view(raw):
    return memoryview(bytearray(raw))


def small_view_ended(raw):
    return memoryview(bytearray(raw + b'\0'))[:len(raw) + 1]


def big_readonly_view(code):
    return memoryview(bytes(BIG * 8)).cast(code)


def strategies(module, sessions):
    """Strategy per parameter kind, over one module's vector classes."""
    import array
    mod = F.load(module)

    ints = weighted((3, st.sampled_from(EDGES)), (1, st.integers(-300, 300)), (2, st.integers(0, 8)),
                    (1, st.integers(-2 ** 34, 2 ** 34)), (1, st.integers()), (1, st.sampled_from(sessions)))
    floats = st.one_of(st.floats(), st.sampled_from([float('nan'), float('inf'), -float('inf'), 0.0, -0.0,
                                                       1e308, 5e-324, 1550e-9, -1.0]))
    texts = st.one_of(st.text(max_size=20), st.text(st.characters(max_codepoint=255), max_size=300),
                      st.sampled_from(['', '*IDN?', '*OPC?', 'SYST:ERR?', '?*INSTR', ':POS:ALL?',
                                       'GPIB0::20::INSTR', u'\u20ac', u'caf\xe9', 'x' * 5000]))
    raw = st.one_of(st.binary(max_size=300), st.sampled_from([b'', b'*IDN?', b'\0', b'\xff' * 300]))
    scalar_wrong = st.one_of(
        st.none(), st.lists(st.integers(), max_size=3), st.tuples(st.integers()), st.just({}),
        st.just(object()), st.builds(Index, ints), st.builds(Int, ints), st.builds(Float, floats),
        st.complex_numbers(), st.just(mod.ViReal64Vec), st.just(memoryview(b'abc\0')),
        st.just(memoryview(bytearray(8))[::2]), st.just(NotImplemented), st.just(Ellipsis))
    # small numeric buffers: wrong everywhere but where a numeric pointer is
    # expected, and not given there (the driver may write more than they hold)
    wrong = st.one_of(scalar_wrong, st.builds(mod.ViReal64Vec), st.builds(mod.ViInt32Vec),
                      st.builds(small_array, st.sampled_from('di')))
    integral = weighted((8, ints), (1, st.booleans()), (1, st.builds(SubInt, ints)))
    real = weighted((6, floats), (3, integral), (1, st.builds(SubFloat, floats)))
    # writable byte buffers: BIG (the driver may write), or small with a zero byte
    big_bytes = st.one_of(raw.map(padded), raw.map(big_view), raw.map(big_bytes_array))
    small_bytes = st.one_of(raw.map(bytearray), raw.map(small_view), raw.map(small_view_ended))

    long_texts = st.one_of(st.text(st.characters(max_codepoint=255), min_size=250, max_size=600),
                           st.binary(min_size=250, max_size=600))  # private copies on the heap

    def text_kind(written):
        return weighted((5, texts), (3, raw), (2, big_bytes), (2, st.none()),
                        (2, long_texts if written else small_bytes), (1, integral), (1, floats), (1, wrong))

    def buffer_kind(code, vec):
        good = [st.builds(big_array, st.just(code))]
        if vec is not None:
            good.append(st.builds(big_vector, st.just(vec)))
        others = st.builds(big_array, st.sampled_from([c for c in 'bBhHiIlqfd' if c != code]))
        return weighted((4, st.none()), (4, st.one_of(*good)), (1, others), (1, st.builds(bytearray, st.just(BIG * 8))),
                        (1, st.builds(big_readonly_view, st.just(code))), (1, integral), (1, floats),
                        (1, st.one_of(texts, raw)), (1, scalar_wrong))

    kinds = {
        'int': weighted((10, integral), (1, real), (1, texts), (1, raw), (1, wrong)),
        'float': weighted((10, real), (1, texts), (1, raw), (1, wrong)),
        'ViString': text_kind(False), 'ViString*': text_kind(True), 'ViConstString': text_kind(False),
        'ViReal64Buffer': buffer_kind('d', mod.ViReal64Vec), 'ViInt32Buffer': buffer_kind('i', mod.ViInt32Vec),
        'ViUInt16Buffer': buffer_kind('H', None), 'ViInt16Buffer': buffer_kind('h', None),
    }
    kinds['session'] = weighted((3, st.sampled_from(sessions)), (1, kinds['int']))
    anything = st.one_of(*kinds.values())
    return kinds, anything


if hypothesis is not None:
    @st.composite
    def weighted(draw, *choices):
        """One of (weight, strategy) pairs, by weight (one_of would take each
        distinct strategy once, whatever its weight)."""
        r = draw(st.integers(0, sum(w for w, _ in choices) - 1))
        for w, strategy in choices:
            if r < w:
                return draw(strategy)
            r -= w

    @st.composite
    def call(draw, arguments, keywords):
        """(arguments, keywords) of one call; a composite, so that hypothesis
        describes the strategy once, not on every example."""
        return draw(arguments), draw(keywords)


class Arity(object):
    """True for argument lists of any other length."""

    def __init__(self, n):
        self.n = n

    def __call__(self, args):
        return len(args) != self.n


def in_range(v):
    return isinstance(v, int) and 0 <= v < 2 ** 32


def keep_contracts(module, name, args):
    """Adjust an argument tuple so that a call the module accepts stays
    within what the caller promises the driver (see the tables above)."""
    key = (module, name)
    args = list(args)
    sizes = [t[key][0] for t in (READ_ARRAYS, UNTOLD) if key in t] + [NEW_SIZED.get(key, -1)]
    for at in sizes:
        if 0 <= at < len(args) and isinstance(args[at], Index):
            args[at] = args[at].v  # a size given by __index__ is that int
    if key in READ_ARRAYS:
        at, arrays = READ_ARRAYS[key]
        if at < len(args) and in_range(args[at]):
            for i in arrays:
                try:
                    args[at] = min(args[at], len(args[i]))
                except (TypeError, IndexError):  # not an array: the call is refused anyway
                    pass
    if key in UNTOLD:
        at, held = UNTOLD[key]
        if at < len(args) and in_range(args[at]) and args[at] < held:
            args[at] = type(args[at])(held) if type(args[at]) is not bool else held
    if key in NEW_SIZED and SANITIZED:
        at = NEW_SIZED[key]
        if at < len(args) and in_range(args[at]) and args[at] > 1 << 26:
            args[at] = 1 << 26
    if name == 'CheckError' and len(args) > 1 and isinstance(args[1], int) and -2 ** 31 <= args[1] < 0:
        args[1] = ~args[1]  # a negative status ends the process, by design
    return tuple(args)


def child(module, calls, seed):
    """Fuzz every function of `module` in this process; prints one line per
    function and a closing line; exit code 1 if anything was found."""
    from hypothesis import given, settings, HealthCheck
    mod = F.load(module)
    funcs = F.functions(module)
    drivers = sorted((set(F.driver_name(module, n) for n, _ in funcs)
                      | set(F.PREFIX[module] + n for n in ('error_query', 'error_message', 'close',
                                                            'errorQuery', 'errorMessage')))
                     & sim.functions())
    per_function = max(1, -(-calls // F.count()))
    if not SANITIZED:
        import resource
        resource.setrlimit(resource.RLIMIT_AS, (MEMORY_LIMIT, MEMORY_LIMIT))
    total, found, accepted = 0, [], [0]

    def fresh():
        sim.reset()
        for d in drivers:
            sim.fail(d, 0, -1)  # every driver function succeeds: no status check ends the child
        session = F.open_session(module)
        if module == '_instrbus':
            rm, s = session
            return [rm, s, mod.FindRsrc(rm, '?*INSTR')[0]]
        return [session]

    random.seed(seed)
    for name, fn in funcs:
        sessions = fresh()
        kinds, anything = strategies(module, sessions)
        sigs = F.signatures(fn)
        params = list(sigs[0][0])
        for i in range(len(params)):
            if WRITTEN_TEXT.get((module, name)) == i:
                params[i] = 'ViString*'
        if params and params[0] == 'int':
            params[0] = 'session'  # the first integer is nearly always the session
        right = st.tuples(*[kinds[p] for p in params])
        wrong_count = st.lists(anything, max_size=len(params) + 3).filter(Arity(len(params))).map(tuple)
        shape = weighted((8, right), (1, wrong_count))
        keywords = weighted((10, st.just({})), (1, st.dictionaries(st.sampled_from(['s', 'session', 'x']), anything,
                                                                  min_size=1, max_size=2)))
        counter = [0]
        driver = F.driver_name(module, name)
        own = (module, name) in F.OWN

        @settings(max_examples=per_function, deadline=None, database=None, derandomize=False,
                  suppress_health_check=list(HealthCheck), print_blob=False)
        @given(call(shape, keywords))
        def fuzz(example):
            args, kw = example
            args = keep_contracts(module, name, args)
            sim.clear_journal()
            counter[0] += 1
            try:
                fn(*args, **kw)
            except ALLOWED:
                reached = sim.names()
                assert not reached, 'refused, yet the driver was called: %r' % reached
                return
            accepted[0] += 1
            if not own:
                assert driver in sim.names(), '%s accepted the call but %s was not called' % (name, driver)

        sys.stdout.write('fuzzing %s.%s\n' % (module, name))
        sys.stdout.flush()
        try:
            hypothesis.seed(random.getrandbits(32))(fuzz)()
        except Exception as e:  # a finding: hypothesis has shrunk it and says how to repeat it
            found.append('%s.%s: %s: %s' % (module, name, type(e).__name__, e))
            sys.stdout.write('FOUND %s\n' % found[-1])
        total += counter[0]
    sys.stdout.write('calls %d functions %d accepted %d\n'
                     % (total, sum(len(f.__self__.signatures) for _, f in funcs), accepted[0]))
    sys.stdout.flush()
    return 1 if found else 0


def run_child(module, calls, seed):
    env = dict(os.environ)
    env['INSTR_BUILD'] = support.BUILD
    if SANITIZED:
        opts = [o for o in env.get('ASAN_OPTIONS', '').split(':') if o and not o.startswith(
            ('max_allocation_size_mb', 'allocator_may_return_null'))]
        opts += ['allocator_may_return_null=1', 'max_allocation_size_mb=%d' % SANITIZER_LIMIT_MB]
        env['ASAN_OPTIONS'] = ':'.join(opts)
    p = subprocess.Popen([sys.executable, os.path.abspath(__file__), '--child', module, str(calls), str(seed)],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    out, err = p.communicate()
    return p.returncode, out.decode('latin-1'), err.decode('latin-1')


@unittest.skipIf(hypothesis is None or sys.version_info[0] < 3, 'needs python3-hypothesis (Python 3)')
class ArgumentFuzzing(unittest.TestCase):
    calls = int(os.environ.get('FUZZ_CALLS', DEFAULT_CALLS))
    seed = int(os.environ.get('FUZZ_SEED', '0') or 0) or random.SystemRandom().getrandbits(32)
    made = {}

    @classmethod
    def tearDownClass(cls):
        if cls.made:
            made = [sum(m[i] for m in cls.made.values()) for i in range(3)]
            sys.stderr.write('\nfuzzing: %d calls over %d functions, %d of them accepted (seed %d)\n'
                             % (made[0], made[1], made[2], cls.seed))

    def fuzz(self, module):
        rc, out, err = run_child(module, self.calls, self.seed)
        where = [line for line in out.splitlines() if line.startswith('fuzzing ')][-1:]
        self.assertEqual(rc, 0, 'seed %d, %s\n%s\n%s' % (self.seed, ' '.join(where),
                                                        '\n'.join(l for l in out.splitlines() if l.startswith('FOUND')),
                                                        err[-6000:]))
        last = out.splitlines()[-1].split()
        calls, functions, accepted = int(last[1]), int(last[3]), int(last[5])
        self.assertEqual(functions, F.COUNT[module])
        self.assertGreaterEqual(calls, functions)
        self.assertGreater(accepted, 0)
        self.made[module] = (calls, functions, accepted)

    def test_photonbay(self):
        self.fuzz('_photonbay')

    def test_smeter(self):
        self.fuzz('_smeter')

    def test_powerprobe(self):
        self.fuzz('_powerprobe')

    def test_polshaper(self):
        self.fuzz('_polshaper')

    def test_instrbus(self):
        self.fuzz('_instrbus')


if __name__ == '__main__':
    if len(sys.argv) == 5 and sys.argv[1] == '--child':
        sys.exit(child(sys.argv[2], int(sys.argv[3]), int(sys.argv[4])))
    unittest.main()
