"""The journal: consistent reads while other threads call and clear it,
per-function counts, its memory, and journaling switched off (by the
script or by the bench file)."""
import ctypes
import gc
import itertools
import os
import threading
import time
import unittest

from support import SANITIZED, SimTestCase, bench_file, run_script, sim

import _photonbay as pb

MAINFRAME = 'GPIB0::20::INSTR'
clock = getattr(time, 'perf_counter', time.time)


def rss():
    with open('/proc/self/status') as f:
        for line in f:
            if line.startswith('VmRSS:'):
                return int(line.split()[1]) * 1024


class Reads(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 0, 0)

    def test_reads_during_clears_return_each_entry_once(self):
        """A writer journals timeOut(s, 1), (s, 2), ...; another thread
        clears every few ms. Every list read holds strictly increasing
        values: no entry twice, none from two journals mixed."""
        stop = threading.Event()

        def writer():
            i = 0
            while not stop.is_set():
                i += 1
                pb.timeOut(self.s, i)

        def clearer():
            while not stop.is_set():
                time.sleep(0.002)
                sim.clear_journal()
        threads = [threading.Thread(target=writer), threading.Thread(target=clearer)]
        for t in threads:
            t.start()
        bad, returned, deadline = [], 0, clock() + 2
        try:
            while clock() < deadline and not bad:
                with sim.recording() as rec:
                    lists = [[a[1] for a in sim.calls('hp816x_timeOut')],
                             [a[1] for n, a in sim.journal() if n == 'hp816x_timeOut']]
                lists.append([a[1] for a in rec.calls('hp816x_timeOut')])
                for values in lists:
                    returned += len(values)
                    bad += [(a, b) for a, b in zip(values, values[1:]) if b <= a][:3]
        finally:
            stop.set()
            for t in threads:
                t.join(10)
        self.assertEqual(bad, [])
        self.assertGreater(returned, 1000)

    def test_a_read_of_a_cleared_journal_ends_even_when_it_has_grown_again(self):
        lib = sim.library()
        pb.timeOut(self.s, 1)
        pb.timeOut(self.s, 2)
        generation = ctypes.c_longlong()
        self.assertEqual(lib.sim_journal_mark(ctypes.byref(generation)), 3)    # init, 2 x timeOut
        buf = ctypes.create_string_buffer(256)
        used = lib.sim_journal_read(generation.value, 1, 3, buf, len(buf))
        self.assertEqual(ctypes.string_at(buf, used).split(b'\0'),
                         [b'hp816x_timeOut\x1fi:%d\x1fi:%d' % (self.s, n) for n in (1, 2)] + [b''])
        self.assertEqual(lib.sim_journal_read(generation.value, 1, 3, buf, 10), 0)   # does not fit
        sim.clear_journal()
        for n in range(5):
            pb.timeOut(self.s, 10 + n)
        self.assertEqual(lib.sim_journal_read(generation.value, 1, 3, buf, len(buf)), -1)
        with sim.recording() as rec:                  # a clear inside: the calls after it
            pb.timeOut(self.s, 20)
            sim.clear_journal()
            pb.timeOut(self.s, 21)
        self.assertEqual(rec.calls('hp816x_timeOut'), [(self.s, 21)])

    def test_counts_are_kept_per_function_and_cleared_with_the_journal(self):
        for n in range(3):
            pb.timeOut(self.s, n)
        pb.PWM_readValue(self.s, 1, 0)
        for fn in ('hp816x_timeOut', 'hp816x_PWM_readValue', 'hp816x_init', 'hp816x_reset'):
            self.assertEqual(sim.count(fn), len(sim.calls(fn)), fn)
        self.assertEqual(sim.count('hp816x_timeOut'), 3)
        sim.clear_journal()
        self.assertEqual(sim.count('hp816x_timeOut'), 0)
        pb.timeOut(self.s, 1)
        self.assertEqual(sim.count('hp816x_timeOut'), 1)
        sim.reset()
        self.assertEqual(sim.count('hp816x_timeOut'), 0)
        self.assertRaises(ValueError, sim.count, 'timeOut')

    def test_count_takes_the_same_time_on_a_long_journal(self):
        sim.journal_enabled(False)
        for _ in range(100):
            pb.timeOut(self.s, 1)
        sim.journal_enabled(True)
        t = clock()
        for _ in range(200):
            sim.count('hp816x_timeOut')
        short = clock() - t
        for _ in range(200000):
            pb.timeOut(self.s, 1)
        t = clock()
        for _ in range(200):
            self.assertEqual(sim.count('hp816x_timeOut'), 200000)
        self.assertLess(clock() - t, short * 5 + 0.05)   # walking 200,000 entries: seconds each

    @unittest.skipIf(SANITIZED or not os.path.exists('/proc/self/status'), 'RSS of this process')
    def test_an_entry_costs_its_text_and_a_pointer(self):
        for _ in range(1000):
            pb.timeOut(self.s, 5000)
        gc.collect()
        before = rss()
        n = 300000
        for _ in itertools.repeat(None, n):     # no list of n ints (range on 2.7) in the count
            pb.timeOut(self.s, 5000)            # 'hp816x_timeOut\x1fi:4097\x1fi:5000': 29 bytes
        gc.collect()
        self.assertLess((rss() - before) / float(n), 29 + 8 + 12)


class Off(SimTestCase):
    def tearDown(self):
        sim.configure()
        SimTestCase.tearDown(self)

    def assertQueriesRefused(self):
        for query in (sim.journal, sim.names, lambda: sim.calls('hp816x_init'),
                      lambda: sim.count('hp816x_init'), lambda: sim.recording().__enter__()):
            with self.assertRaises(RuntimeError) as e:
                query()
            self.assertIn('journal_enabled(True)', str(e.exception))

    def test_off_the_queries_refuse_and_on_again_they_answer(self):
        s = pb.init(MAINFRAME, 0, 0)
        self.assertIs(sim.journal_enabled(), True)
        self.assertIs(sim.journal_enabled(False), False)
        pb.timeOut(s, 100)
        self.assertQueriesRefused()
        sim.journaling()                        # the older name
        pb.timeOut(s, 200)
        self.assertEqual(sim.calls('hp816x_timeOut'), [(s, 200)])
        with self.assertRaises(RuntimeError):
            with sim.recording():
                sim.journaling(False)
        sim.journaling(True)
        with self.assertRaises(KeyError):       # the block's own exception goes on
            with sim.recording():
                sim.journaling(False)
                raise KeyError('mine')
        sim.reset()
        self.assertIs(sim.journal_enabled(), True)

    def test_a_bench_file_turns_it_off_from_every_reset(self):
        path = bench_file({'journal': False, 'instruments': [
            {'resource': 'GPIB0::7::INSTR', 'driver': 'hp816x', 'slots': {'0': 'switch'}}]})
        self.addCleanup(os.remove, path)
        sim.configure(path)
        self.assertIs(sim.journal_enabled(), False)
        pb.init('GPIB0::7::INSTR', 0, 0)
        self.assertEqual(sim.library().sim_journal_size(), 0)
        self.assertQueriesRefused()
        sim.journal_enabled(True)
        self.assertEqual(sim.names(), [])
        sim.reset()
        self.assertIs(sim.journal_enabled(), False)
        rc, out, err = run_script('''
            import _photonbay as pb
            pb.init('GPIB0::7::INSTR', 0, 0)
            print(sim.journal_enabled(), sim.library().sim_journal_size())
            try:
                sim.names()
            except RuntimeError:
                print('refused')
        ''', env={'INSTRSIM_CONFIG': path})
        self.assertEqual((rc, out.split(), err), (0, ['False', '0', 'refused'], ''))
        sim.configure()
        self.assertIs(sim.journal_enabled(), True)
        bad = bench_file({'journal': 'no', 'instruments': []})
        self.addCleanup(os.remove, bad)
        with self.assertRaises(ValueError) as e:
            sim.configure(bad)
        self.assertIn(bad + ': the file: "journal" must be true or false', str(e.exception))


if __name__ == '__main__':
    unittest.main()
