"""Recording a run and replaying it: every driver call with its outputs, in
children.  The bench is stood in for by copies of the simulated libraries on
LD_LIBRARY_PATH with a bench file of its own, so that its identities and
readings are not the default simulator's."""
import base64
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

from support import BUILD, ROOT, python_path, sim

SIM = os.path.join(BUILD, 'instrsim')
LINUX = sys.platform.startswith('linux')

# The bench's mainframe: another identity (Latin-1 in it), the laser and the
# meters in other slots than the default bench's; slot 4 is empty.
BENCH = {'instruments': [
    {'resource': 'GPIB0::20::INSTR', 'driver': 'hp816x', 'idn': u'Ostmark Lichttechnik,OLM-9 r\u00e9v,OL99,2.0',
     'slots': {'0': 'tunable laser', '1': 'power meter', '2': 'dual power meter'}, 'slot_count': 5},
    {'resource': 'GPIB0::24::INSTR', 'driver': 'KE2400', 'idn': 'OSTMARK,OSM-1,77,1.0'}]}

SCRIPT = '''
import sys
import _photonbay as pb
wavelength = float(sys.argv[1])
readings = int(sys.argv[2]) if len(sys.argv) > 2 else 3
s = pb.init('GPIB0::20::INSTR', 1, 0)
idn = bytearray(256)
pb.cmdString_Q(s, '*IDN?', 256, idn)
print(repr(bytes(idn).split(b'\\0')[0]))
print(pb.set_TLS_wavelength(s, 0, 0, wavelength))
for i in range(readings):
    print(repr(pb.PWM_readValue(s, 1, 0)))
if readings == 3:
    points, arrays = pb.prepareLambdaScan(s, 0, 0.0, 0, 1, 1, 1550e-9, 1551e-9, 1e-11)
    scan = pb.executeLambdaScan(s, points)
    print(points, [repr(x) for x in list(scan[0])[::25]], [repr(x) for x in list(scan[1])[::25]])
pb.close(s)
'''


def run(args, env=None):
    """python args... with the build on its path and nothing chosen: (code, out, err)."""
    full = dict(os.environ, PYTHONPATH=python_path())
    for name in ('INSTRSIM_CONFIG', 'INSTRBIND_RECORD', 'LD_LIBRARY_PATH'):
        full.pop(name, None)
    full.update(env or {})
    p = subprocess.Popen([sys.executable] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=full)
    out, err = p.communicate()
    return p.returncode, out.decode('latin-1'), err.decode('latin-1')


@unittest.skipUnless(LINUX, 'LD_LIBRARY_PATH')
class BenchRun(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='bench-')
        cls.vendor = os.path.join(cls.dir, 'vendor')
        os.mkdir(cls.vendor)
        for name in os.listdir(SIM):
            if name.endswith('.so'):
                shutil.copy(os.path.join(SIM, name), cls.vendor)
        cls.bench = os.path.join(cls.dir, 'bench.json')
        with open(cls.bench, 'w') as f:
            json.dump(BENCH, f)
        cls.env = {'LD_LIBRARY_PATH': cls.vendor, 'INSTRSIM_CONFIG': cls.bench}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def script(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, 'w') as f:
            f.write(textwrap.dedent(text))
        return path

    def record(self, script, *args):
        """Runs the script on the bench, recorded: (recording, code, out, err)."""
        recording = os.path.join(self.dir, os.path.basename(script) + '.jsonl')
        code, out, err = run(['-m', 'instrbind', 'record', recording, script] + list(args), self.env)
        return recording, code, out, err

    def replay(self, recording, script, *args):
        return run(['-m', 'instrsim', '--replay', recording, script] + list(args))

    def test_a_replay_prints_what_the_bench_printed(self):
        script = self.script('scan.py', SCRIPT)
        recording, code, out, err = self.record(script, '1550e-9')
        self.assertEqual((code, err), (0, ''))
        self.assertIn('Ostmark Lichttechnik,OLM-9 r\\xe9v', out)
        with open(recording) as f:
            lines = [json.loads(line) for line in f]
        self.assertEqual((lines[0]['format'], lines[0]['version']), ('instrbind-recording', 1))
        self.assertEqual(lines[1]['library'], os.path.join(self.vendor, 'libhp816x_32.so'))
        calls = [line['fn'] for line in lines[2:]]
        self.assertEqual(calls[:4], ['hp816x_init', 'hp816x_cmdString_Q', 'hp816x_set_TLS_wavelength',
                                     'hp816x_PWM_readValue'])
        self.assertEqual([line['seq'] for line in lines[2:]], list(range(len(calls))))
        scan = lines[2 + calls.index('hp816x_executeLambdaScan')]['out']['wavelengthArray']
        self.assertEqual((scan['type'], scan['n']), ('f64', 101))

        self.assertEqual(self.replay(recording, script, '1550e-9'), (0, out, ''))
        code, plain, _ = run(['-m', 'instrsim', script, '1550e-9'])
        self.assertEqual(code, 0)
        self.assertNotEqual(plain.splitlines()[0], out.splitlines()[0])

        # Other inputs: the call is named; the run ends with 3 whatever the script did.
        code, other, err = self.replay(recording, script, '1549e-9')
        self.assertEqual(code, 3, err)
        self.assertIn('the script called: hp816x_set_TLS_wavelength(', err)
        self.assertIn('wavelength=1.5489999999999999e-06)', err)
        self.assertIn('%s:5' % recording, err)
        self.assertIn(str(sim.REPLAY_MISMATCH), other.splitlines()[1])
        # Stopping short: the calls not made are counted.
        code, _, err = self.replay(recording, script, '1550e-9', '2')
        self.assertEqual(code, 3)
        self.assertIn('stopped short: 4 recorded calls were not made', err)
        self.assertIn('hp816x_PWM_readValue(ihandle=', err)
        # Reals within a tolerance.
        code, _, err = run(['-m', 'instrsim', '--replay', recording, '--tolerance', '1e-3', script, '1550.5e-9'])
        self.assertEqual((code, err), (0, ''))

    def test_a_recorded_failure_ends_the_replay_as_it_ended_the_run(self):
        script = self.script('empty_slot.py', '''
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 1, 0)
            print('before')
            pb.PWM_readValue(s, 4, 0)
            print('not reached')
        ''')
        recording, code, out, err = self.record(script)
        self.assertNotEqual(code, 0)
        self.assertEqual(out, 'before\n        Inst. Error : ffffff0f, Hardware missing\n')
        with open(recording) as f:
            names = [json.loads(line).get('fn') for line in f]
        # The status check's error query, then the close owed to the failed session, at the end.
        self.assertEqual(names[-3:], ['hp816x_PWM_readValue', 'hp816x_error_query', 'hp816x_close'])
        code2, out2, err2 = self.replay(recording, script)
        self.assertEqual((code2, out2), (code, out))
        bound = lambda text: text.split(' [bound to ')[0]  # noqa: E731  (the stand-in, then the simulator)
        self.assertEqual(bound(err2), bound(err))

    def test_two_threads_two_instruments(self):
        script = self.script('threads.py', '''
            import threading
            import _photonbay as pb, _smeter as sm
            out = {}
            def mainframe():
                s = pb.init('GPIB0::20::INSTR', 1, 0)
                out['pb'] = [pb.PWM_readValue(s, 1, 0) for i in range(20)]
                pb.close(s)
            def smu():
                vi = sm.init('GPIB0::24::INSTR', 1, 0)
                sm.Configure_DC_VI(vi, 2.0, 0.01, 0, 0, 1, 0)
                out['sm'] = [sm.Read(vi, 1) for i in range(20)]  # the current
                sm.close(vi)
            threads = [threading.Thread(target=mainframe), threading.Thread(target=smu)]
            for t in threads: t.start()
            for t in threads: t.join()
            print(repr(out['pb']), repr(out['sm']))
        ''')
        recording, code, out, err = self.record(script)
        self.assertEqual((code, err), (0, ''))
        with open(recording) as f:
            threads = set(json.loads(line).get('thread') for line in f)
        self.assertEqual(len(threads - set([None])), 2)
        self.assertEqual(self.replay(recording, script), (0, out, ''))

    def test_replay_in_a_test_case(self):
        script = self.script('lab.py', '''
            import _photonbay as pb
            def run(wavelength):
                s = pb.init('GPIB0::20::INSTR', 1, 0)
                pb.set_TLS_wavelength(s, 0, 0, wavelength)
                value = pb.PWM_readValue(s, 1, 0)
                pb.close(s)
                return value
            if __name__ == '__main__':
                print(repr(run(1550e-9)))
        ''')
        recording, code, out, _ = self.record(script)
        self.assertEqual(code, 0)
        cases = self.script('test_lab.py', '''
            import unittest
            import instrsim
            import lab
            class Lab(unittest.TestCase):
                def test_as_on_the_bench(self):
                    with instrsim.replay(%r):
                        self.assertEqual(repr(lab.run(1550e-9)), %r)
                def test_another_wavelength(self):
                    with self.assertRaises(instrsim.ReplayMismatch) as caught:
                        with instrsim.replay(%r):
                            lab.run(1551e-9)
                    self.assertIn('hp816x_set_TLS_wavelength', str(caught.exception))
                def test_a_newer_format_is_refused(self):
                    newer = %r + '.newer'
                    with open(%r) as f, open(newer, 'w') as g:
                        g.write(f.read().replace('"version":1', '"version":99', 1))
                    with self.assertRaises(ValueError) as caught:
                        instrsim.replay(newer).__enter__()
                    self.assertIn('format version 99, made by a newer instrbind', str(caught.exception))
            unittest.main()
        ''' % (recording, out.strip(), recording, recording, recording))
        code, _, err = run([cases], {'PYTHONPATH': os.pathsep.join([python_path(), self.dir])})
        self.assertEqual(code, 0, err)
        self.assertIn('Ran 3 tests', err)


# A run on the simulator recorded from inside the script: what the file holds
# is what the script got, bit for bit.
RECORDED = '''
import json, os, signal, sys
import instrbind, _photonbay as pb, _instrbus as ib
path, end = sys.argv[1], sys.argv[2]
instrbind.record(path)
assert instrbind.recording() == os.path.abspath(path)
s = pb.init('GPIB0::20::INSTR', 1, 0)
idn = bytearray(256)
pb.cmdString_Q(s, '*IDN?', 256, idn)
pb.setBaudrate('ASRL1', 9600)
points, arrays = pb.prepareLambdaScan(s, 0, 0.0, 0, 1, 1, 1550e-9, 1550.5e-9, 1e-11)
scan = pb.executeLambdaScan(s, points)
rm = ib.OpenDefaultRM()
bus = ib.Open(rm, 'GPIB0::9::INSTR', 0, 0)
raw = ib.GetAttribute(bus, 0xBFFF0002)
if end == 'fork' and hasattr(os, 'fork'):
    pid = os.fork()
    if pid == 0:
        pb.timeOut(s, 1234)  # the child's calls are its own
        os._exit(0)
    os.waitpid(pid, 0)
if end == 'kill':
    for i in range(50): pb.timeOut(s, i)
    os.kill(os.getpid(), signal.SIGKILL)
instrbind.record(None)
assert instrbind.recording() is None
pb.timeOut(s, 4321)  # not recorded
print(json.dumps({'idn': bytes(idn).split(b'\\0')[0].decode('latin-1'), 'raw': raw.decode('latin-1'),
                  'wl': [x.hex() for x in list(scan[0])], 'p0': [x.hex() for x in list(scan[1])]}))
'''


def calls_in(path):
    with open(path) as f:
        lines = [json.loads(line) for line in f]
    return lines, [line for line in lines if 'fn' in line]


def floats(array):
    """A recorded f64 array as the floats' hex, padded with the zeros it was trimmed of."""
    data = base64.b64decode(array['b64'])
    data += b'\0' * (8 * array['n'] - len(data))
    return [x.hex() for x in struct.unpack('<%dd' % array['n'], data)]


class RecordingFile(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='recording-')
        self.script = os.path.join(self.dir, 'recorded.py')
        with open(self.script, 'w') as f:
            f.write(RECORDED)
        self.path = os.path.join(self.dir, 'run.jsonl')
        self.addCleanup(shutil.rmtree, self.dir)

    def test_the_outputs_are_what_the_script_got(self):
        code, out, err = run(['-m', 'instrsim', self.script, self.path, 'fork' if LINUX else 'end'])
        self.assertEqual((code, err), (0, ''))
        got = json.loads(out)
        lines, calls = calls_in(self.path)
        self.assertEqual(lines[0]['format'], 'instrbind-recording')
        self.assertEqual(set((m['module'], m['simulator']) for m in lines if 'module' in m),
                         set([('_photonbay', True), ('_instrbus', True)]))
        by_fn = dict((c['fn'], c) for c in calls)
        self.assertEqual(by_fn['hp816x_cmdString_Q']['out']['result'], got['idn'])
        baud = by_fn['hp816x_setBaudrate']  # the interface's name is read, never written
        self.assertEqual((baud['in'], baud.get('out')), ({'interfaceIdentifier': 'ASRL1', 'baudrate': 9600}, {}))
        scan = by_fn['hp816x_executeLambdaScan']['out']
        self.assertEqual(floats(scan['wavelengthArray']), got['wl'])
        self.assertEqual(floats(scan['powerArray1']), got['p0'])
        attr = by_fn['viGetAttribute']['out']['attrValue']
        self.assertEqual(base64.b64decode(attr['b64']).decode('latin-1'), got['raw'])
        # Nothing after record(None), and nothing from the forked child.
        self.assertEqual([c for c in calls if c['fn'] == 'hp816x_timeOut'], [])
        self.assertEqual([c['seq'] for c in calls], list(range(len(calls))))

    @unittest.skipUnless(LINUX, 'SIGKILL')
    def test_a_killed_run_leaves_every_call_up_to_its_last(self):
        code, _, _ = run(['-m', 'instrsim', self.script, self.path, 'kill'])
        self.assertEqual(code, -9)
        _, calls = calls_in(self.path)  # every line whole
        self.assertEqual([c['in']['timeout'] for c in calls if c['fn'] == 'hp816x_timeOut'], list(range(50)))

    def test_pace_takes_the_recorded_time(self):
        with open(self.script, 'w') as f:
            f.write("import _photonbay as pb\ns = pb.init('GPIB0::20::INSTR', 1, 0)\npb.timeOut(s, 5)\npb.close(s)\n")
        code, _, err = run(['-m', 'instrsim', self.script], {'INSTRBIND_RECORD': self.path})
        self.assertEqual((code, err), (0, ''))
        with open(self.path) as f:
            lines = f.read().splitlines()
        paced = json.loads(lines[-2])
        paced['dur'] = 3.0  # the bench's timeOut took its time
        lines[-2] = json.dumps(paced)
        with open(self.path, 'w') as f:
            f.write('\n'.join(lines) + '\n')
        times = []
        for pace in ([], ['--pace']):
            t0 = time.time()
            code, _, err = run(['-m', 'instrsim', '--replay', self.path] + pace + [self.script])
            times.append(time.time() - t0)
            self.assertEqual((code, err), (0, ''))
        self.assertLess(times[0], 3.0)
        self.assertGreaterEqual(times[1], 3.0)

class Example(unittest.TestCase):
    def test_the_example_recording_replays(self):
        out_dir = tempfile.mkdtemp()
        try:
            code, out, err = run(['-m', 'instrsim', '--replay', os.path.join(ROOT, 'examples', 'lambda_scan.jsonl'),
                                  os.path.join(ROOT, 'examples', 'lambda_scan.py'), out_dir])
            self.assertEqual((code, err), (0, ''))
            self.assertIn('lambda_scan.csv', out)
        finally:
            shutil.rmtree(out_dir)


if __name__ == '__main__':
    unittest.main()
