"""No argument lets a driver read or write outside the storage it gets: result
arrays sized by what the module saw set up, caller buffers checked for the room
the driver needs (refused with ValueError before the call), Python 2.7 strs
never written when shared, failed reads that return nothing, numeric VISA
attributes whole; and the simulator's range checks and error queues."""
import unittest

from support import sim, SimTestCase, PY2, SANITIZED, run_script
import _photonbay as pb
import _smeter as sm
import _polshaper as ps

MAINFRAME = 'GPIB0::20::INSTR'
SMU = 'GPIB0::24::INSTR'
PARAM4 = 0xBFFC0004 - (1 << 32)   # parameter 4 out of range
ATT = 3
try:
    import numpy
except ImportError:
    numpy = None


def ints(n):
    v = pb.ViInt32Vec()
    v.extend([0] * n)
    return v


def reals(n, value=0.0):
    v = pb.ViReal64Vec()
    v.extend([value] * n)
    return v


class RoomTestCase(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 1, 0)
        sim.clear_journal()

    def assertRefused(self, fn, args, driver, *texts):
        with self.assertRaises(ValueError) as e:
            fn(*args)
        for t in texts:
            self.assertIn(t, str(e.exception))
        self.assertNotCalled(driver)


class ResultsSizedBySetUp(RoomTestCase):
    """The driver writes what was set up, whatever N the caller asks for."""

    def test_lambda_scan_returns_exactly_n_of_the_prepared_points(self):
        for stop, points in ((1550.5e-9, 501), (1555e-9, 5001), (1560e-9, 10001)):
            self.assertEqual(pb.prepareLambdaScan(self.s, 0, 0.0, 0, 1, 0, 1550e-9, stop, 1e-12)[0], points)
            for n in (0, 7, 10000, points + 3):
                arrays = pb.executeLambdaScan(self.s, n)
                self.assertEqual([len(a) for a in arrays], [n] * 9)
                last = 1550e-9 + (n - 1) * 1e-12 if n <= points else 0.0   # beyond the scan: zeroed
                if n:
                    self.assertAlmostEqual(arrays[0][n - 1], last, delta=1e-18)

    @unittest.skipIf(SANITIZED, 'the sanitizer runtime needs more address space than the limit')
    def test_results_keep_no_room_beyond_their_size(self):
        # Nothing prepared on a new session: each scan array gets room for the
        # most points a scan has (80 MB), the driver writes what it holds, and
        # the results keep their n values only.  Held room would exhaust a
        # 1 GB address space (a 32-bit process's lot) at the second scan.
        rc, out, err = run_script('''
            import resource
            import _photonbay as pb
            s = pb.init('GPIB0::20::INSTR', 0, 0)
            resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
            held = [pb.executeLambdaScan(s, 10) for i in range(4)]
            print(sum(len(a) for r in held for a in r))
        ''')
        self.assertEqual((rc, err), (0, ''))
        self.assertEqual(out, '360\n')

    def test_multi_frame_scan_and_its_results(self):
        pb.registerMainframe(self.s)
        self.assertEqual(pb.prepareMfLambdaScan(self.s, 0, 0.0, 0, 1, 0, 1550e-9, 1555e-9, 1e-12)[0], 5001)
        for n in (0, 1, 7):
            wl = pb.executeMfLambdaScan(self.s, n)[0]
            self.assertEqual(len(wl), n)
            power, lam = pb.getLambdaScanResult(self.s, 0, 0, -100.0, n)
            self.assertEqual((len(power), len(lam)), (n, n))
            self.assertEqual(list(lam), list(wl))

    def test_response_tables_below_their_size(self):
        size = pb.getWlRespTblSize(self.s, 1)[0]
        full = pb.readWlRespTable(self.s, 1, size)
        for n in (0, 1, size - 1):
            part = pb.readWlRespTable(self.s, 1, n)
            self.assertEqual([list(a) for a in part], [list(a)[:n] for a in full])
            self.assertEqual([len(a) for a in pb.readWlRespTableEx(self.s, 1, 1, n)], [n, n])
        # Nothing seen for this slot: room for the most a table holds.
        self.assertEqual(len(pb.readWlRespTableEx(self.s, 2, 0, 2)[0]), 2)

    def test_logging_and_stability_results_below_the_set_up_points(self):
        pb.set_PWM_logging(self.s, 1, 1, 0.001, 1000)
        flag, values = pb.get_PWM_loggingResults_Q(self.s, 1, 1, 1, 0, 2)
        self.assertEqual(len(values), 2)
        self.assertEqual(pb.set_PWM_stability(self.s, 1, 1, 0.1, 1.0, 60.0), 60)
        self.assertEqual(len(pb.get_PWM_stabilityResults_Q(self.s, 1, 1, 1, 0, 1)[1]), 1)
        # Never set up in this process (another slot): still room for a whole run.
        self.assertEqual(len(pb.get_PWM_loggingResults_Q(self.s, 2, 0, 1, 0, 3)[1]), 3)


class CallerBuffers(RoomTestCase):
    def test_arrays_the_driver_writes_by_a_count(self):
        self.assertRefused(pb.getSlotInformation_Q, (self.s, 7, ints(2)), 'hp816x_getSlotInformation_Q',
                           'argument 3', 'room for 7')
        slots = ints(7)
        self.assertEqual(pb.getSlotInformation_Q(self.s, 7, slots), 0)
        self.assertEqual(list(slots), [5, 2, 1, 7, 6, 3, 8])

    def test_lists_the_driver_reads_by_a_count(self):
        k = sm.init(SMU, 0, 1)
        sim.clear_journal()
        self.assertRefused(sm.Configure_List_IV, (k, 100, reals(1, 0.001), 1.0, 1.0, 0.0),
                           'KE2400_Configure_List_IV', 'argument 3', 'room for 100')
        self.assertRefused(sm.Configure_List_VI, (k, 3, reals(2, 0.5), 0.1, 0.1, 1.0, 0.0),
                           'KE2400_Configure_List_VI', 'room for 3')
        self.assertRefused(sm.ConfigureSourceCustom, (k, 0, 0.0, 5, reals(4), 1, 0.1, 5),
                           'KE2400_ConfigureSourceCustom', 'argument 5', 'room for 5')
        self.assertRefused(pb.spectralCalibration, (self.s, 1, 5, reals(5), reals(1), None, None),
                           'hp816x_spectralCalibration', 'argument 5', 'room for 5')
        self.assertRefused(pb.spectralCalibrationEx, (self.s, 1, 1, 5, reals(1), reals(5), None, None),
                           'hp816x_spectralCalibrationEx', 'argument 5')
        self.assertEqual(sm.Configure_List_IV(k, 2, reals(2, 0.001), 1.0, 1.0, 0.0), 0)

    def test_empty_buffers_where_the_driver_writes_one_value(self):
        for fn, args, driver in [
                (pb.get_PWM_referenceSource_Q, (self.s, 1, 1, ints(0), None, None, None),
                 'hp816x_get_PWM_referenceSource_Q'),
                (pb.set_RLM_logging, (self.s, 4, 0.1, 10, ints(0)), 'hp816x_set_RLM_logging'),
                (pb.spectralCalibration, (self.s, 1, 0, None, None, reals(0), None), 'hp816x_spectralCalibration'),
                (pb.getModuleStatus_Q, (self.s, None, ints(0)), 'hp816x_getModuleStatus_Q')]:
            self.assertRefused(fn, args, driver, 'empty buffer')

    def test_module_status_and_offset_table_need_their_whole_size(self):
        self.assertRefused(pb.getModuleStatus_Q, (self.s, None, ints(2)), 'hp816x_getModuleStatus_Q',
                           'argument 3', 'room for 18')
        self.assertEqual(pb.getModuleStatus_Q(self.s, None, ints(18)), 64)
        for wl in (1310e-9, 1480e-9, 1550e-9, 1625e-9):
            pb.set_ATT_wavelengthOffset(self.s, ATT, wl, 0, 0.1)
        sim.clear_journal()
        with self.assertRaises(ValueError) as e:
            pb.get_ATT_offsetTable_Q(self.s, ATT, reals(1), reals(1))
        self.assertIn('room for 4', str(e.exception))
        self.assertNotCalled('hp816x_get_ATT_offsetTable_Q')
        wls, offsets = reals(4), reals(4)
        self.assertEqual(pb.get_ATT_offsetTable_Q(self.s, ATT, wls, offsets), 0)
        self.assertEqual(list(wls), [1310e-9, 1480e-9, 1550e-9, 1625e-9])

    @unittest.skipIf(PY2, 'array.array has no buffer protocol on 2.7')
    def test_empty_array_array_is_refused_not_handed_on(self):
        import array
        self.assertRefused(pb.getSlotInformation_Q, (self.s, 0, array.array('i')), 'hp816x_getSlotInformation_Q',
                           'empty buffer')

    @unittest.skipIf(numpy is None, 'numpy not installed')
    def test_misaligned_numpy_views_are_refused(self):
        raw = numpy.zeros(8 * 8 + 1, dtype=numpy.uint8)
        view = raw[1:].view(numpy.float64)
        self.assertFalse(view.flags.aligned)
        self.assertRefused(pb.get_ATT_offsetTable_Q, (self.s, ATT, view, None), 'hp816x_get_ATT_offsetTable_Q',
                           'not aligned')

    def test_oper_status_text_needs_its_documented_length(self):
        self.assertRefused(pb.get_ATT_operStatus, (self.s, ATT, bytearray(10)), 'hp816x_get_ATT_operStatus',
                           'argument 3', '64 bytes')
        self.assertRefused(pb.get_ATT_operStatus, (self.s, ATT, bytearray()), 'hp816x_get_ATT_operStatus')

    @unittest.skipUnless(PY2, 'Python 2.7 str is written in place')
    def test_shared_or_short_2_7_strs_are_never_written(self):
        x = 'x'
        self.assertRefused(pb.get_ATT_operStatus, (self.s, ATT, x), 'hp816x_get_ATT_operStatus', 'shared str')
        self.assertEqual(x, 'x')
        self.assertNotEqual('x', 'R')
        self.assertRefused(pb.get_ATT_operStatus, (self.s, ATT, intern('y' * 80)), 'hp816x_get_ATT_operStatus')
        self.assertRefused(pb.get_ATT_operStatus, (self.s, ATT, ''.join(['\0'] * 10)), 'hp816x_get_ATT_operStatus',
                           '64 bytes')
        buf = ''.join(['\0'] * 64)
        self.assertEqual(pb.get_ATT_operStatus(self.s, ATT, buf), 0)
        self.assertTrue(buf.startswith('Ready'))

    def test_empty_reply_buffer_of_cmd_string_is_refused(self):
        self.assertRefused(pb.cmdString_Q, (self.s, '*IDN?', 100, bytearray()), 'hp816x_cmdString_Q',
                           'reply buffer')
        reply = bytearray(100)
        self.assertEqual(pb.cmdString_Q(self.s, '*IDN?', 100, reply), 0)
        self.assertNotEqual(bytes(reply[:5]), b'\0' * 5)


class SizeWalk(RoomTestCase):
    """Every buffer-taking or unsized-array function with sizes 0, 1, one
    below what the driver needs and far above: a result or a clean
    ValueError (run under the sanitizer build too)."""

    def cases(self):
        s = self.s
        k = sm.init(SMU, 0, 1)
        pb.prepareLambdaScan(s, 0, 0.0, 0, 1, 0, 1550e-9, 1550.5e-9, 1e-12)   # 501 points
        pb.registerMainframe(s)
        pb.prepareMfLambdaScan(s, 0, 0.0, 0, 1, 0, 1550e-9, 1550.1e-9, 1e-12)  # 101 points
        pb.set_PWM_logging(s, 1, 1, 0.001, 50)
        for wl in (1310e-9, 1550e-9):
            pb.set_ATT_wavelengthOffset(s, ATT, wl, 0, 0.1)
        # (function, arguments for a size n, the size the driver needs, whether too little is refused)
        return [
            (pb.getSlotInformation_Q, lambda n: (s, 7, ints(n)), 7, True),
            (pb.getModuleStatus_Q, lambda n: (s, None, ints(n)), 18, True),
            (pb.get_ATT_offsetTable_Q, lambda n: (s, ATT, reals(n), reals(n)), 2, True),
            (pb.spectralCalibration, lambda n: (s, 1, 5, reals(n), reals(n), reals(1), None), 5, True),
            (pb.spectralCalibrationEx, lambda n: (s, 1, 1, 5, reals(n), reals(n), None, None), 5, True),
            (sm.Configure_List_IV, lambda n: (k, 4, reals(n, 0.001), 1.0, 1.0, 0.0), 4, True),
            (sm.Configure_List_VI, lambda n: (k, 4, reals(n, 0.5), 0.1, 0.1, 1.0, 0.0), 4, True),
            (sm.ConfigureSourceCustom, lambda n: (k, 0, 0.0, 4, reals(n), 1, 0.1, 4), 4, True),
            (pb.cmdString_Q, lambda n: (s, '*IDN?', 100, bytearray(n)), 100, True),
            (pb.get_ATT_operStatus, lambda n: (s, ATT, bytearray(n)), 64, True),
            (pb.executeLambdaScan, lambda n: (s, n), 501, False),
            (pb.executeMfLambdaScan, lambda n: (s, n), 101, False),
            (pb.getLambdaScanResult, lambda n: (s, 0, 0, -100.0, n), 101, False),
            (pb.readWlRespTable, lambda n: (s, 1, n), 9, False),
            (pb.readWlRespTableEx, lambda n: (s, 1, 1, n), 9, False),
            (pb.get_PWM_loggingResults_Q, lambda n: (s, 1, 1, 1, 0, n), 50, False),
            (pb.get_PWM_stabilityResults_Q, lambda n: (s, 1, 1, 1, 0, n), 1, False),
            (sm.ReadMultiPoint, lambda n: (k, 0, n), 1, False),
            (sm.FetchMultiPoint, lambda n: (k, 0, n), 1, False),
        ]

    def test_sizes_0_1_one_below_and_far_above(self):
        for fn, args, need, refused in self.cases():
            for n in sorted(set([0, 1, need - 1, need, need * 100])):
                where = '%s size %d' % (fn.__name__, n)
                if refused and n < need:
                    self.assertRaises(ValueError, fn, *args(n))
                    continue
                result = fn(*args(n))
                if not refused:
                    arrays = [a for a in (result if isinstance(result, tuple) else (result,))
                              if type(a).__name__ == 'ViReal64Vec']
                    self.assertTrue(arrays, where)
                    if fn.__module__ == '_smeter':   # the readings delivered, never more than asked
                        self.assertLessEqual(len(arrays[0]), n, where)
                    else:
                        self.assertEqual(set(len(a) for a in arrays), set([n]), where)


class FailedReads(SimTestCase):
    def test_smeter_multi_point_reads_of_a_dead_session_return_nothing(self):
        k = sm.init(SMU, 0, 1)
        sm.close(k)
        for session in (k, 12345):
            self.assertEqual(list(sm.ReadMultiPoint(session, 0, 41)[0]), [])
            self.assertEqual(sm.ReadMultiPoint(session, 0, 41)[1], 0)
            self.assertEqual(sm.FetchMultiPoint(session, 1, 41)[1], 0)
            self.assertEqual(len(sm.FetchMultiPoint(session, 1, 41)[0]), 0)


class Simulator(SimTestCase):
    def test_nan_is_out_of_range(self):
        s = pb.init(MAINFRAME, 1, 0)
        self.assertEqual(pb.set_PWM_wavelength(s, 1, 0, float('nan')), PARAM4)
        self.assertEqual(pb.set_PWM_wavelength(s, 1, 0, 1310e-9), 0)

    def test_error_queues_are_capped_with_a_queue_overflow_entry(self):
        h = ps.init('GPIB0::9::INSTR', 0, 0)
        for _ in range(1000):
            sim.push_error('hp8169', -113, 'Undefined header')
        seen = []
        while len(seen) < 100:
            code, text = ps.error_query(h)
            if code == 0:
                break
            seen.append((code, text))
        self.assertEqual(len(seen), 30)
        self.assertEqual(seen[-1][0], -350)
        self.assertIn('Queue overflow', seen[-1][1])
        self.assertEqual(seen[0], (-113, 'Undefined header'))


if __name__ == '__main__':
    unittest.main()
