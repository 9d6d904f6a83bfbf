"""Every wrapper of every module against a hostile driver: texts with no zero
byte that fill the whole buffer, every element of every array written, counts
reported beyond the arrays, raw reads that fill all they are told of.  The
results must stay within the storage the wrapper gave the driver (run this
under the sanitizer build to see that nothing is read or written outside it).
"""
import unittest

from support import sim, SimTestCase, PY2
import functions as F

BUF = 4096  # room of the writable buffers given for ViString parameters

# Queries the simulated instruments answer (numerically where it matters).
QUERY = {'_photonbay': '*OPC?', '_polshaper': '*OPC?', '_powerprobe': '*IDN?',
         '_smeter': '*IDN?', '_instrbus': '?*INSTR'}

# Functions with a caller-given size: Python parameter index of the size, and
# the sizes to try.  Lambda scans and response tables are not told the size:
# it must cover what the driver writes (the prepared scan, a table of 9).
SIZED = {
    ('_smeter', 'GetError'): (1, [0, 4, 300]),
    ('_smeter', 'GetNextCoercionRecord'): (1, [0, 4, 300]),
    ('_smeter', 'GetNextInterchangeWarning'): (1, [0, 4, 300]),
    ('_smeter', 'GetAttributeViString'): (3, [0, 4, 300]),
    ('_smeter', 'ReadMultiPointChar'): (2, [0, 4, 300]),
    ('_smeter', 'FetchMultiPointChar'): (2, [0, 4, 300]),
    ('_smeter', 'ReadMultiPoint'): (2, [0, 4, 40]),
    ('_smeter', 'FetchMultiPoint'): (2, [0, 4, 40]),
    ('_smeter', 'FetchBufferData'): (3, [0, 4, 40]),
    ('_smeter', 'ReadInstrData'): (1, [4, 255, 256, 300, 1000]),
    ('_powerprobe', 'readRaw'): (1, [4, 255, 256, 300, 1000]),
    ('_photonbay', 'get_TLS_wavelengthData_Q'): (1, [0, 4, 40]),
    ('_photonbay', 'get_TLS_wavelengthDataEx_Q'): (2, [0, 4, 40]),
    ('_photonbay', 'get_TLS_powerData_Q'): (2, [0, 4, 40]),
    ('_photonbay', 'get_PWM_loggingResults_Q'): (5, [4, 40]),
    ('_photonbay', 'get_PWM_stabilityResults_Q'): (5, [4, 40]),
    ('_photonbay', 'get_RLM_loggingResults_Q'): (5, [0, 4, 40]),
    ('_photonbay', 'get_RLM_stabilityResults_Q'): (4, [0, 4, 40]),
    ('_photonbay', 'executeLambdaScan'): (1, [4, 40]),
    ('_photonbay', 'executeMfLambdaScan'): (1, [4, 40]),
    ('_photonbay', 'getLambdaScanResult'): (4, [4, 40]),
    ('_photonbay', 'readWlRespTable'): (2, [9, 40]),
    ('_photonbay', 'readWlRespTableEx'): (3, [9, 40]),
}
# Arrays whose driver is not told the size write what they hold (set up
# below): the elements past it keep their preset zero.
HELD = {('_photonbay', 'get_PWM_loggingResults_Q'): 4, ('_photonbay', 'get_PWM_stabilityResults_Q'): 4,
        ('_photonbay', 'executeLambdaScan'): 4, ('_photonbay', 'executeMfLambdaScan'): 4,
        ('_photonbay', 'getLambdaScanResult'): 4, ('_photonbay', 'readWlRespTable'): 9,
        ('_photonbay', 'readWlRespTableEx'): 9}
# One-element array queries: (first element, count) for a size above 1 too.
ONE_ELEMENT = set([('_photonbay', 'cmdInt16Arr_Q'), ('_photonbay', 'cmdInt32Arr_Q'),
                   ('_photonbay', 'cmdReal64Arr_Q'), ('_polshaper', 'cmdInt16Arr_Q'),
                   ('_polshaper', 'cmdInt32Arr_Q'), ('_polshaper', 'cmdReal64Arr_Q')])
for _key in ONE_ELEMENT:
    SIZED[_key] = (2, [1, 4, 16, 40])
# Texts of the caller's size (every other text comes from a 256-byte buffer).
SIZED_TEXT = set(k for k in SIZED if k[0] == '_smeter' and k[1] in (
    'GetError', 'GetNextCoercionRecord', 'GetNextInterchangeWarning', 'GetAttributeViString',
    'ReadMultiPointChar', 'FetchMultiPointChar'))
# Raw reads: (data, count read), the data from max(256, count + 1) bytes.
RAW_READS = set([('_smeter', 'ReadInstrData'), ('_powerprobe', 'readRaw')])
# Vectors whose length the driver's count decides: (vector, count).
COUNTED = set([('_smeter', 'ReadMultiPoint'), ('_smeter', 'FetchMultiPoint'),
               ('_smeter', 'FetchBufferData')])
# Fixed-size arrays: every vector of the result has this many elements.
FIXED_ARRAYS = {('_photonbay', 'PWM_readAll'): 34}

# Argument values beyond the generic ones (by Python parameter index; a
# list: one call with each).
ARGS = {
    ('_smeter', 'GetAttributeViString'): {1: '', 2: 1050512},   # instrument model
    ('_smeter', 'GetAttributeViInt32'): {1: '', 2: 1150003},    # source function
    ('_smeter', 'GetAttributeViReal64'): {1: '', 2: 1150005},   # voltage level
    ('_smeter', 'GetAttributeViSession'): {1: '', 2: 1050322},  # I/O session
    ('_smeter', 'GetAttributeViBoolean'): {1: '', 2: 1150001},  # output enabled
    ('_smeter', 'InitWithOptions'): {3: ''},
    ('_instrbus', 'GetAttribute'): {1: [0xBFFF0002, 0x3FFF001A]},  # resource name (text), time-out
    ('_smeter', 'FetchBufferData'): {2: 0},                         # from the first stored reading
    ('_photonbay', 'getLambdaScanResult'): {1: 0},
}
NO_SESSION = set([('_photonbay', 'listVisa_Q'), ('_photonbay', 'trigOutConfiguration'),
                  ('_smeter', 'StepCount')])
OPENERS = set(['init', 'InitWithOptions', 'Reconnect', 'getInstrumentId_Q', 'Open'])
# The mainframe's slot holding each family's module (the default bench).
SLOTS = (('ATT', 3), ('RLM', 4), ('calculate_RL', 4), ('FLS', 5), ('SWT', 6), ('TLS', 0),
         ('LambdaZero', 0))


def slot_for(module, name):
    """The slot argument `name` needs: its module's slot, else 1 (power meters)."""
    if module == '_photonbay':
        for family, slot in SLOTS:
            if family in name:
                return slot
    return 1


def text_arg(text):
    """A writable, zero-padded buffer holding `text`: written in place by the
    driver on both interpreters, never an interned str."""
    raw = text if isinstance(text, bytes) else text.encode('latin-1')
    return bytearray(raw + b'\0' * (BUF - len(raw)))


def setup(module, name, mod, session):
    """State the driver needs before the call (with the driver not hostile)."""
    s = session[1] if module == '_instrbus' else session
    if (module, name) == ('_powerprobe', 'readRaw'):
        mod.writeRaw(s, text_arg('*IDN?'))            # an answer to read
    elif (module, name) == ('_photonbay', 'executeLambdaScan'):
        mod.prepareLambdaScan(s, 0, 0.0, 0, 1, 0, 1550e-9, 1550.003e-9, 1e-12)  # 4 points
    elif (module, name) in (('_photonbay', 'executeMfLambdaScan'), ('_photonbay', 'getLambdaScanResult')):
        mod.registerMainframe(s)
        mod.prepareMfLambdaScan(s, 0, 0.0, 0, 1, 0, 1550e-9, 1550.003e-9, 1e-12)
    elif (module, name) == ('_photonbay', 'get_PWM_loggingResults_Q'):
        mod.set_PWM_logging(s, 1, 1, 0.001, 4)
    elif (module, name) == ('_photonbay', 'get_PWM_stabilityResults_Q'):
        mod.set_PWM_stability(s, 1, 1, 0.001, 1.0, 4.0)
    elif (module, name) == ('_photonbay', 'get_RLM_loggingResults_Q'):
        mod.set_RLM_laserState(s, 4, 1)
        mod.set_RLM_logging(s, 4, 0.001, 4, None)
    elif (module, name) == ('_photonbay', 'get_RLM_stabilityResults_Q'):
        mod.set_RLM_laserState(s, 4, 1)
        mod.set_RLM_stability(s, 4, 4.0, 1.0, 0.001)
    elif (module, name) in (('_smeter', 'FetchMultiPoint'), ('_smeter', 'FetchMultiPointChar'),
                            ('_smeter', 'FetchBufferData')):
        mod.Read(s, 0)                                  # readings to fetch


def argument_sets(module, name, params, session):
    """The argument tuples to call `name` with: generic values by type, the
    session first, sizes from SIZED."""
    key = (module, name)
    rm, s = session if module == '_instrbus' else (None, session)
    base = []
    for i, p in enumerate(params):
        if p == 'int':
            if i == 0 and key not in NO_SESSION:
                if module == '_instrbus':
                    base.append(rm if name in ('FindRsrc', 'Open') else s)
                else:
                    base.append(s)
            else:
                base.append(slot_for(module, name) if i == 1 else 1)
        elif p == 'float':
            base.append(1550e-9)
        elif p == 'ViString':
            base.append(text_arg(F.RESOURCE[module] if name in OPENERS else QUERY[module]))
        elif p == 'ViConstString':
            base.append(F.RESOURCE[module] if name in OPENERS else QUERY[module])
        else:  # numeric buffers
            base.append(None)
    if module == '_instrbus' and name == 'FindNext':
        base[0] = F.load(module).FindRsrc(rm, '?*INSTR')[0]
    choices = dict(ARGS.get(key, {}))
    if key in SIZED:
        choices[SIZED[key][0]] = SIZED[key][1]
    sets = [base]
    for i, v in sorted(choices.items()):
        sets = [a[:i] + [x] + a[i + 1:] for a in sets for x in (v if isinstance(v, list) else [v])]
    return [tuple(a) for a in sets]


class Outcome(object):
    """What one hostile call returned, checked against the bounds."""

    def __init__(self, test, module, name, args, result, result_type):
        self.test, self.key, self.args = test, (module, name), args
        self.items = F.result_items(result_type)
        self.values = result if result_type.startswith('Tuple[') else (result,)
        self.where = '%s.%s%r' % (module, name, tuple(
            '<buffer>' if isinstance(a, bytearray) else a for a in args))

    def size(self):
        return self.args[SIZED[self.key][0]]

    def check(self):
        t, key = self.test, self.key
        t.assertEqual(len(self.values), len(self.items), self.where)
        for kind, value in zip(self.items, self.values):
            if kind == 'str':
                t.assertIsInstance(value, str, self.where)
                # the driver filled the buffer without a zero byte: all of it, no more
                want = self.size() if key in SIZED_TEXT else 256
                t.assertEqual(len(value), want, '%s: text of %d characters from a buffer of %d'
                              % (self.where, len(value), want))
            elif kind == 'bytes':
                t.assertIsInstance(value, str if PY2 else bytes, self.where)
                if key in RAW_READS:
                    count = self.size()
                    t.assertLessEqual(len(value), max(256, count + 1), self.where)
                    t.assertEqual(len(value), count, '%s: %d bytes read' % (self.where, len(value)))
                else:
                    t.assertLessEqual(len(value), 256, self.where)
            elif kind in ('ViReal64Vec', 'ViInt32Vec'):
                t.assertEqual(type(value).__name__, kind, self.where)
                if key in FIXED_ARRAYS:
                    t.assertEqual(len(value), FIXED_ARRAYS[key], self.where)
                elif key in COUNTED:
                    t.assertLessEqual(len(value), self.size(), self.where)
                else:
                    t.assertIn(key, SIZED, '%s: a vector of unknown size' % self.where)
                    t.assertEqual(len(value), self.size(), self.where)
                held = min(HELD.get(key, len(value)), len(value))
                if held:  # the hostile driver wrote every element it may, up to the last
                    t.assertNotEqual(value[held - 1], 0, '%s: element %d not written' % (self.where, held - 1))
                t.assertEqual(list(value[held:]), [0] * (len(value) - held), self.where)
        if key in SIZED_TEXT and len(self.values) == 2 and self.items[1] == 'int':
            t.assertTrue(0 <= self.values[1] <= self.size(), '%s: count %d' % (self.where, self.values[1]))
        if key in RAW_READS:
            t.assertEqual(self.values[1], len(self.values[0]), '%s: count read' % self.where)
        if key in COUNTED:
            t.assertEqual(self.values[1], len(self.values[0]), '%s: count of readings' % self.where)


class HostileDrivers(SimTestCase):
    """Every wrapper, with valid arguments, against the hostile driver."""

    def run_module(self, module):
        mod = F.load(module)
        wrappers = passthrough = 0
        faults, held = [], []
        for name, fn in F.functions(module):
            if (module, name) in F.OWN:
                continue
            params, result_type = F.signatures(fn)[0]
            driver = F.driver_name(module, name)
            k, cases = 0, 1
            while k < cases:
                sim.reset()  # the same session numbers every time
                session = F.open_session(module)
                sets = argument_sets(module, name, params, session)
                cases, args = len(sets), sets[k]
                k += 1
                setup(module, name, mod, session)
                sim.fail(driver, 0, -1)  # whatever the hostile driver makes of it: success
                sim.clear_journal()
                sim.hostile(True)
                try:
                    result = fn(*args)
                finally:
                    sim.hostile(False)
                held.extend(sim.gil_held_calls())  # every driver call releases the interpreter
                calls = sim.calls(driver)
                self.assertTrue(calls, '%s.%s did not reach %s' % (module, name, driver))
                if result_type == 'int' and len(calls[-1]) == len(args):
                    passthrough += 1  # the status comes back, nothing to bound
                    break
                try:
                    Outcome(self, module, name, args, result, result_type).check()
                except AssertionError as e:
                    faults.append(str(e))
            else:
                wrappers += 1
        self.assertEqual(faults, [], '\n' + '\n'.join(faults))
        if sim.gil_detection():
            self.assertEqual(held, [], 'driver calls made holding the interpreter')
        own = len([key for key in F.OWN if key[0] == module])
        self.assertEqual(wrappers + passthrough + own, len(F.functions(module)))
        return wrappers

    def test_photonbay(self):
        self.run_module('_photonbay')

    def test_smeter(self):
        self.run_module('_smeter')

    def test_powerprobe(self):
        self.run_module('_powerprobe')

    def test_polshaper(self):
        self.run_module('_polshaper')

    def test_instrbus(self):
        self.run_module('_instrbus')


class OneElementQueryCounts(SimTestCase):
    """A one-element array query hands back the count the driver reported,
    clamped to the array the caller asked for: a hostile driver reporting
    2 * size + 7 must not make a query of `size` elements claim more."""

    def test_count_within_the_size_asked_for(self):
        for module, name in sorted(ONE_ELEMENT):
            mod = F.load(module)
            for size in (0, 1, 4, 15, 16, 40):
                sim.reset()
                s = F.open_session(module)
                sim.hostile(True)
                first, count = getattr(mod, name)(s, text_arg('*OPC?'), size)
                self.assertTrue(0 <= count <= size, '%s.%s(size %d): count %d'
                                % (module, name, size, count))


if __name__ == '__main__':
    unittest.main()
