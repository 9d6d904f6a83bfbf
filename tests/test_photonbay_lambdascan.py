"""_photonbay positions 261-284: lambda scans and wavelength response tables,
and the lambda scan example."""
import ctypes
import os
import shutil
import tempfile
import unittest

from support import (sim, SimTestCase, INSTR_ERROR, exit_code, run_script, exit_journal, calls_of,
                     run_example)
import _photonbay as pb

MAINFRAME = 'GPIB0::20::INSTR'
SECOND = 'TCPIP0::192.168.1.20::inst0::INSTR'
HUGE = 4294967295



def dut_db(wl):
    x = (wl - 1550.12e-9) / 0.2e-9
    return -0.6 - 25.0 / (1 + x * x)


class SingleScan(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 1, 0)
        sim.clear_journal()

    def test_prepare_passes_floats_in_their_positions_and_reports_points(self):
        self.assertEqual(pb.prepareLambdaScan(self.s, 0, 3, 1, 2, 0, 1550e-9, 1560e-9, 0.1e-9), (101, 3))
        self.assertEqual(self.last_call('hp816x_prepareLambdaScan'),
                         (self.s, 0, 3.0, 1, 2, 0, 1550e-9, 1560e-9, 0.1e-9, sim.PTR, sim.PTR))
        self.assertEqual([type(a) for a in self.last_call('hp816x_prepareLambdaScan')[1:9]],
                         [int, float, int, int, int, float, float, float])
        self.assertEqual(pb.prepareLambdaScan(self.s, 0, 0.0, 0, 1, 1, 1550e-9, 1550.004e-9, 1e-12), (5, 1))
        start, stop, avg, speed = pb.getLambdaScanParameters_Q(self.s)
        self.assertEqual((start, stop), (1550e-9, 1550.004e-9))
        self.assertAlmostEqual(avg, 1e-12 / speed)
        self.assertRaises(TypeError, pb.prepareLambdaScan, self.s, 0.0, 0.0, 0, 1, 0, 1e-6, 2e-6, 1e-9)

    def test_n_5_fills_nine_vectors_from_the_nine_buffers(self):
        pb.prepareLambdaScan(self.s, 0, 2.0, 0, 1, 0, 1550.0e-9, 1550.4e-9, 0.1e-9)
        sim.set_output('hp816x_executeLambdaScan', 9, -99.0)   # first value of buffer 9
        arrays = pb.executeLambdaScan(self.s, 5)
        self.assertEqual(self.last_call('hp816x_executeLambdaScan'), (self.s,) + (sim.PTR,) * 9)
        self.assertIsInstance(arrays, tuple)
        self.assertEqual([len(a) for a in arrays], [5] * 9)
        self.assertTrue(all(isinstance(a, pb.ViReal64Vec) for a in arrays))
        wl = list(arrays[0])
        for i, w in enumerate(wl):
            self.assertAlmostEqual(w, 1550e-9 + i * 0.1e-9, delta=1e-18)
        for ch in (1, 2, 3):
            for w, p in zip(wl, arrays[ch]):
                self.assertAlmostEqual(p, 2.0 + dut_db(w), delta=0.003)
        self.assertEqual(list(arrays[4]), [0.0] * 5)
        self.assertEqual(list(arrays[8]), [-99.0, 0.0, 0.0, 0.0, 0.0])

    def test_n_0_still_calls_the_driver(self):
        arrays = pb.executeLambdaScan(self.s, 0)
        self.assertEqual([len(a) for a in arrays], [0] * 9)
        self.assertEqual(len(sim.calls('hp816x_executeLambdaScan')), 1)
        self.assertEqual(len(pb.executeMfLambdaScan(self.s, 0)[0]), 0)
        self.assertEqual(len(sim.calls('hp816x_executeMfLambdaScan')), 1)

    def test_watts_and_the_scan_attenuation(self):
        pb.setScanAttenuation(self.s, 3.0)
        pb.prepareLambdaScan(self.s, 1, 1e-3, 0, 1, 1, 1549e-9, 1549.002e-9, 1e-12)
        wl, p1 = pb.executeLambdaScan(self.s, 3)[:2]
        for w, p in zip(wl, p1):
            self.assertAlmostEqual(p, 1e-3 * 10 ** ((dut_db(w) - 3.0) / 10), delta=1e-6)

    def test_refused_sizes_never_reach_the_driver(self):
        calls = [lambda n: pb.executeLambdaScan(self.s, n), lambda n: pb.executeMfLambdaScan(self.s, n),
                 lambda n: pb.getLambdaScanResult(self.s, 0, 0, 0.0, n), lambda n: pb.readWlRespTable(self.s, 1, n),
                 lambda n: pb.readWlRespTableEx(self.s, 1, 1, n)]
        for call in calls:
            self.assertRaises(OverflowError, call, -1)
            self.assertRaises(MemoryError, call, HUGE)
        self.assertEqual(sim.journal(), [])


class MultiFrame(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 1, 0)
        self.t = pb.init(SECOND, 1, 0)
        self.assertEqual(pb.registerMainframe(self.s), 0)
        self.assertEqual(pb.registerMainframe(self.t), 0)

    def test_registered_channels_and_their_location(self):
        self.assertEqual(pb.getNoOfRegPWMChannels_Q(self.s), 6)
        self.assertEqual(pb.getChannelLocation(self.s, 4), (1, 1, 1))
        self.assertEqual(self.last_call('hp816x_getChannelLocation'), (self.s, 4, sim.PTR, sim.PTR, sim.PTR))
        pb.unregisterMainframe(self.s)
        self.assertEqual(pb.getNoOfRegPWMChannels_Q(self.s), 3)
        self.assertEqual(pb.getChannelLocation(self.s, 2), (0, 2, 0))
        sim.set_output('hp816x_getNoOfRegPWMChannels_Q', 1, 4294967295)
        self.assertEqual(pb.getNoOfRegPWMChannels_Q(self.s), 4294967295)

    def test_scan_result_matches_the_scan(self):
        points, channels = pb.prepareMfLambdaScan(self.s, 0, 0.0, 0, 1, 0, 1550e-9, 1550.2e-9, 1e-12)
        self.assertEqual((points, channels), (201, 6))
        result = pb.executeMfLambdaScan(self.s, points)
        self.assertIsInstance(result, tuple)
        self.assertEqual(len(result), 1)
        self.assertEqual(self.last_call('hp816x_executeMfLambdaScan'), (self.s, sim.PTR))
        power, lam = pb.getLambdaScanResult(self.s, 5, 0, -10.0, points)
        self.assertEqual(self.last_call('hp816x_getLambdaScanResult'), (self.s, 5, 0, -10.0, sim.PTR, sim.PTR))
        self.assertEqual(list(lam), list(result[0]))
        self.assertLess(min(power), -25)
        self.assertEqual(list(pb.getLambdaScanResult(self.s, 5, 0, -10.0, points)[0]), list(power))
        clipped = pb.getLambdaScanResult(self.s, 5, 1, -10.0, points)[0]
        self.assertEqual(min(clipped), -10.0)
        self.assertEqual(pb.getMFLambdaScanParameters_Q(self.s)[:2], (1550e-9, 1550.2e-9))


class ResponseTables(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 1, 0)

    def test_table_size_arrays_and_csv_agree(self):
        size, csv_size = pb.getWlRespTblSizeEx(self.s, 1, 1)
        self.assertEqual(self.last_call('hp816x_getWlRespTblSizeEx'), (self.s, 1, 1, sim.PTR, sim.PTR))
        wl, factor = pb.readWlRespTableEx(self.s, 1, 1, size)
        self.assertEqual(self.last_call('hp816x_readWlRespTableEx'), (self.s, 1, 1, sim.PTR, sim.PTR))
        csv = pb.readWlRepTblCSV_Ex(self.s, 1, 1)
        self.assertEqual(len(csv) + 1, csv_size)
        rows = [tuple(float(x) for x in line.split(',')) for line in csv.splitlines()]
        self.assertEqual(len(rows), size)
        for (w, f), (cw, cf) in zip(zip(wl, factor), rows):
            self.assertAlmostEqual(w * 1e9, cw, places=3)
            self.assertAlmostEqual(f, cf, places=4)
        self.assertEqual(pb.getWlRespTblSize(self.s, 1), (size, len(pb.readWlRepTblCSV(self.s, 1)) + 1))
        self.assertEqual(list(pb.readWlRespTable(self.s, 1, size)[0]), list(wl))

    def test_csv_text_edges(self):
        sim.set_output('hp816x_readWlRepTblCSV', 2, '')
        self.assertEqual(pb.readWlRepTblCSV(self.s, 1), '')
        sim.reset()
        s = pb.init(MAINFRAME, 1, 0)
        sim.hostile()
        self.assertEqual(len(pb.readWlRepTblCSV(s, 1)), 256)   # no zero byte: bounded by the buffer

    def test_spectral_calibration_pointers(self):
        self.assertEqual(pb.spectralCalibration(self.s, 1, 0, None, None, None, None), 0)
        self.assertEqual(self.last_call('hp816x_spectralCalibration'), (self.s, 1, 0, None, None, None, None))
        self.assertEqual(pb.spectralCalibration(self.s, 1, 2, None, None, None, None), -1074003964)
        wl = (ctypes.c_double * 2)(1540e-9, 1560e-9)
        power = (ctypes.c_double * 2)(-1.0, -3.0)
        ref = (ctypes.c_double * 1)()
        text = bytearray(256)
        self.assertEqual(pb.spectralCalibrationEx(self.s, 2, 0, 2, wl, power, ref, text), 0)
        self.assertEqual(self.last_call('hp816x_spectralCalibrationEx'), (self.s, 2, 0, 2) + (sim.PTR,) * 4)
        self.assertTrue(text.startswith(b'Spectral calibration of slot 2 channel 0: 2 points, mean -2.000 dBm\0'))
        self.assertEqual(ref[0], 0.0)
        self.assertRaises(TypeError, pb.spectralCalibration, self.s, 1, 2, [1.0, 2.0], None, None, None)


class Failing(unittest.TestCase):
    def test_failing_scan_closes_the_session_and_exits(self):
        rc, out, _, calls = exit_journal('''
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 1, 0)
            pb.prepareLambdaScan(s, 0, 0.0, 0, 1, 0, 1500e-9, 1600e-9, 1e-12)
            sim.fail('hp816x_executeLambdaScan', -1074003967)
            print('session %d' % s)
            pb.executeLambdaScan(s, 100001)
            print('not reached')
        ''')
        self.assertEqual(rc, exit_code(-1074003967))
        lines = out.splitlines()
        self.assertEqual(lines[1:], ['        Driver Error : bffc0001, Parameter 1 out of range'])
        self.assertEqual(len(calls_of(calls, 'hp816x_init')), 1)
        self.assertEqual(calls_of(calls, 'hp816x_close'), [(int(lines[0].split()[1]),)])  # none left open

    def test_instrument_error_261_returns_the_arrays(self):
        rc, out, _ = run_script('''
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 1, 0)
            pb.prepareLambdaScan(s, 0, 0.0, 0, 1, 0, 1550e-9, 1550.004e-9, 1e-12)
            sim.fail('hp816x_executeLambdaScan', %d)
            sim.push_error('hp816x', -261, 'Settings conflict')
            arrays = pb.executeLambdaScan(s, 5)
            print('%%r %%r' %% ([len(a) for a in arrays], arrays[0][4] > 0))
            print('open %%d' %% sim.session_count())
        ''' % INSTR_ERROR)
        self.assertEqual(rc, 0)
        self.assertEqual(out.splitlines(), ['        Inst. Error : fffffefb, Settings conflict',
                                            '[5, 5, 5, 5, 5, 5, 5, 5, 5] True', 'open 1'])


class Example(unittest.TestCase):
    def test_demo_prints_the_summary_and_writes_every_point(self):
        tmp = tempfile.mkdtemp()
        try:
            path = os.path.join(tmp, 'scan.csv')
            rc, out, err = run_example('lambda_scan.py', path, cwd=tmp)
            self.assertEqual(rc, 0, err)
            lines = out.splitlines()
            points = int(lines[0].split(': ')[1].split()[0])
            self.assertEqual(lines[1], 'Wavelength range: 1545.000 nm to 1555.000 nm in 1.0 pm steps')
            self.assertTrue(lines[2].startswith('Minimum transmission: -25.6'), lines[2])
            self.assertIn('at 1550.1', lines[2])
            with open(path) as f:
                rows = f.read().splitlines()
            self.assertEqual(rows[0].split(',')[0], 'wavelength_nm')
            self.assertEqual(len(rows) - 1, points)
            self.assertEqual(points, 10001)
            self.assertEqual(lines[3], 'Scan data (CSV): ' + path)   # where to find it, in full
            try:
                import matplotlib  # noqa: F401
            except ImportError:
                self.assertIn('matplotlib is not installed', lines[4])
            else:
                self.assertEqual(lines[4], 'Plot (PNG):      ' + os.path.join(tmp, 'scan.png'))
                self.assertGreater(os.path.getsize(os.path.join(tmp, 'scan.png')), 1000)
        finally:
            shutil.rmtree(tmp)


if __name__ == '__main__':
    unittest.main()
