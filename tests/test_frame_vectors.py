"""ViReal64Vec and ViInt32Vec: the indexing-suite behaviour, the buffer
protocol, and soundness when a vector changes under an iterator or export."""
import copy
import pickle
import struct
import unittest

from support import PY2
import _photonbay as pb

try:
    import numpy
except ImportError:
    numpy = None


def real(*values):
    v = pb.ViReal64Vec()
    v.extend(values)
    return v


def ints(*values):
    v = pb.ViInt32Vec()
    v.extend(values)
    return v


class Contents(unittest.TestCase):
    def test_append_extend_and_plain_values(self):
        v = pb.ViReal64Vec()
        self.assertEqual(len(v), 0)
        v.append(1.5)
        v.extend([2, 3.0])
        self.assertEqual(list(v), [1.5, 2.0, 3.0])
        self.assertIs(type(v[1]), float)
        self.assertIs(type(ints(True)[0]), int)
        self.assertEqual(ints(True, 5)[0], 1)

    def test_constructor_takes_no_arguments(self):
        for args in ((1,), ([1.0],), (None,)):
            self.assertRaises(TypeError, pb.ViReal64Vec, *args)
        self.assertRaises(TypeError, pb.ViInt32Vec, size=3)

    def test_no_operations_beyond_the_suite(self):
        v = real(1.0)
        for name in ('index', 'count', 'pop', 'insert', 'clear', 'remove', 'sort', 'reverse'):
            self.assertFalse(hasattr(v, name), name)
        self.assertRaises(TypeError, lambda: v + v)
        self.assertNotEqual(real(1.0), real(1.0))  # identity comparison
        self.assertEqual(hash(v), hash(v))

    def test_repr_shows_the_values_and_past_six_the_length(self):
        self.assertEqual(repr(pb.ViReal64Vec()), 'ViReal64Vec([])')
        self.assertEqual(repr(ints()), 'ViInt32Vec([])')
        self.assertEqual(repr(real(1.5, -2, 1e-9, float('inf'))), 'ViReal64Vec([1.5, -2.0, 1e-09, inf])')
        self.assertEqual(repr(ints(*range(6))), 'ViInt32Vec([0, 1, 2, 3, 4, 5])')
        self.assertEqual(repr(ints(*range(7))), 'ViInt32Vec([0, 1, 2, 3, 4, ...], len=7)')
        self.assertEqual(repr(ints(-2147483648, 2147483647)), 'ViInt32Vec([-2147483648, 2147483647])')
        big = pb.ViReal64Vec()
        big.extend([0.5] * 2000000)
        self.assertEqual(repr(big), 'ViReal64Vec([0.5, 0.5, 0.5, 0.5, 0.5, ...], len=2000000)')
        self.assertIs(type(repr(big)), str)
        view = memoryview(big)                   # an exported vector shows the same and stays exported
        self.assertEqual(repr(big), 'ViReal64Vec([0.5, 0.5, 0.5, 0.5, 0.5, ...], len=2000000)')
        self.assertRaises(BufferError, big.append, 1.0)
        del view

    def test_pickling_and_copy_are_not_enabled(self):
        for op in (pickle.dumps, copy.copy, copy.deepcopy):
            self.assertRaises(RuntimeError, op, real(1.0))

    def test_element_types(self):
        v = pb.ViInt32Vec()
        self.assertRaises(TypeError, v.append, 1.0)
        self.assertRaises(OverflowError, v.append, 2 ** 31)
        v.append(-2 ** 31)
        self.assertEqual(v[0], -2 ** 31)
        r = pb.ViReal64Vec()
        self.assertRaises(TypeError, r.append, '1')
        try:
            r.append(None)
        except TypeError as e:
            self.assertEqual(str(e), 'Attempting to append an invalid type')
        self.assertRaises(OverflowError, r.append, 10 ** 400)


class Indexing(unittest.TestCase):
    def test_indices(self):
        v = real(1.0, 2.0, 3.0)
        self.assertEqual((v[0], v[-1], v[-3], v[True]), (1.0, 3.0, 1.0, 2.0))
        for i in (3, -4, 5, 2 ** 70):
            try:
                v[i]
                self.fail('no IndexError')
            except IndexError as e:
                self.assertEqual(str(e), 'Index out of range')
        for key in (1.0, '1', None, (1,), [1]):
            try:
                v[key]
                self.fail('no TypeError')
            except TypeError as e:
                self.assertEqual(str(e), 'Invalid index type')

    def test_set_and_delete_items(self):
        v = ints(1, 2, 3)
        v[-1] = 30
        self.assertEqual(list(v), [1, 2, 30])
        self.assertRaises(IndexError, v.__setitem__, 3, 1)
        try:
            v[0] = 1.5
        except TypeError as e:
            self.assertEqual(str(e), 'Invalid assignment')
        self.assertRaises(OverflowError, v.__setitem__, 0, 2 ** 40)
        del v[0]
        self.assertEqual(list(v), [2, 30])
        self.assertRaises(IndexError, v.__delitem__, 2)

    def test_slices_copy_and_clamp(self):
        v = real(1.5, 2.5, 3.5, 4.5)
        s = v[1:3]
        self.assertIs(type(s), pb.ViReal64Vec)
        self.assertEqual(list(s), [2.5, 3.5])
        s[0] = 0.0
        self.assertEqual(v[1], 2.5)
        self.assertEqual(list(v[-2:]), [3.5, 4.5])
        self.assertEqual(list(v[3:1]), [])
        self.assertEqual(list(v[-100:100]), list(v))
        self.assertEqual(list(v[4:]), [])
        for bad in (slice(None, None, 1), slice(0, 2, 2), slice(None, None, -1)):
            self.assertRaises(IndexError, v.__getitem__, bad)
            self.assertRaises(IndexError, v.__setitem__, bad, [1.0])
            self.assertRaises(IndexError, v.__delitem__, bad)
        try:
            v[::1]
        except IndexError as e:
            self.assertEqual(str(e), 'slice step size not supported.')
        self.assertRaises(TypeError, v.__getitem__, slice(0.5, 2))

    def test_slice_assignment(self):
        v = real(1.5, 2.5, 3.5, 4.5)
        v[0:2] = 5.0
        self.assertEqual(list(v), [5.0, 3.5, 4.5])
        v[1:1] = [7, 8]
        self.assertEqual(list(v), [5.0, 7.0, 8.0, 3.5, 4.5])
        v[:] = (1.0,)
        self.assertEqual(list(v), [1.0])
        before = list(v)
        try:
            v[0:1] = [1.0, 'x']
        except TypeError as e:
            self.assertEqual(str(e), 'Invalid sequence element')
        self.assertEqual(list(v), before)  # all or nothing
        for rhs in ((x for x in [1.0]), None):
            self.assertRaises(AttributeError, v.__setitem__, slice(0, 1), rhs)
        v[0:1] = v  # a vector as its own right-hand side
        self.assertEqual(list(v), [1.0])

    def test_slice_deletion(self):
        v = ints(1, 2, 3, 4)
        del v[1:3]
        self.assertEqual(list(v), [1, 4])
        del v[3:1]
        del v[10:20]
        self.assertEqual(list(v), [1, 4])

    def test_contains(self):
        v = ints(10, 20)
        self.assertTrue(20 in v)
        self.assertFalse(20.0 in v)
        self.assertFalse('20' in v)
        self.assertRaises(OverflowError, v.__contains__, 2 ** 40)
        self.assertTrue(2 in real(1.0, 2.0))

    def test_extend(self):
        v = ints()
        v.extend((1, 2))
        v.extend(x for x in (3,))
        v.extend(ints(4))
        v.extend({5: 'a'})
        self.assertEqual(list(v), [1, 2, 3, 4, 5])
        try:
            v.extend([6, 'x'])
        except TypeError as e:
            self.assertEqual(str(e), 'Incompatible Data Type')
        self.assertEqual(len(v), 5)
        for bad in (5, None):
            self.assertRaises(AttributeError, v.extend, bad)
        v.extend(v)
        self.assertEqual(list(v), [1, 2, 3, 4, 5] * 2)

    def test_huge_extend(self):
        v = real()
        v.extend(range(10 ** 6))
        self.assertEqual(len(v), 10 ** 6)
        self.assertEqual(v[-1], 999999.0)


class Soundness(unittest.TestCase):
    def test_appending_while_iterating_stops_at_the_current_length(self):
        v = ints(1, 2, 3)
        seen = []
        for x in v:
            seen.append(x)
            if len(v) < 2000:
                v.extend(range(500))  # reallocates under the iterator
        self.assertEqual(len(seen), len(v))

    def test_shrinking_while_iterating(self):
        v = real(*range(10))
        seen = []
        for x in v:
            seen.append(x)
            del v[0:len(v)]
        self.assertEqual(seen, [0.0])

    def test_buffer_protocol_shares_memory(self):
        v = real(1.0, 2.0)
        m = memoryview(v)
        self.assertEqual((m.format, m.itemsize, len(m)), ('d', 8, 2))
        self.assertEqual(m.tobytes(), struct.pack('2d', 1.0, 2.0))
        if not PY2:  # 2.7 memoryviews cannot assign items
            m[0] = 9.0
            self.assertEqual(v[0], 9.0)
        im = memoryview(ints(7))
        self.assertEqual((im.format, im.itemsize), ('i', 4))
        if not PY2:
            self.assertEqual(im.tolist(), [7])

    def test_exported_vector_cannot_change_size(self):
        v = real(1.0, 2.0)
        m = memoryview(v)
        self.assertRaises(BufferError, v.append, 3.0)
        self.assertRaises(BufferError, v.extend, [3.0])
        self.assertRaises(BufferError, v.__delitem__, 0)
        v[0] = 5.0  # same size: allowed
        v[0:1] = [6.0]
        m.release() if hasattr(m, 'release') else None
        del m
        v.append(3.0)
        self.assertEqual(list(v), [6.0, 2.0, 3.0])

    @unittest.skipIf(numpy is None, 'numpy not installed')
    def test_numpy_sees_the_data_without_copy(self):
        v = real(1.0, 2.0, 3.0)
        a = numpy.asarray(v)
        self.assertEqual(a.dtype, numpy.float64)
        a[1] = 20.0
        self.assertEqual(v[1], 20.0)
        self.assertEqual(numpy.asarray(ints(1, 2)).dtype, numpy.int32)


if __name__ == '__main__':
    unittest.main()
