// ViReal64Vec and ViInt32Vec: growable arrays of float64 / int32 with the
// indexing-suite operations (len, set/del/get item and slices without step,
// contains, iter, append, extend) and the buffer protocol (format "d" / "i").
//
// Soundness beyond the indexing suite: iterators walk by index and stop at
// the current length, so changing a vector while iterating never reads freed
// memory; a vector whose buffer is exported (numpy.asarray, memoryview) keeps
// its size: growing or shrinking it raises BufferError.
#ifndef BIND_VECTOR_HPP
#define BIND_VECTOR_HPP

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "compat.hpp"

namespace bind {

// Raised after a Python exception has been set; caught at the call boundary.
struct error {};

template <class T> struct VecObject {
    PyObject_HEAD
    T* data;
    Py_ssize_t size;
    Py_ssize_t cap;
    Py_ssize_t exports;
};

template <class T> struct elem;

template <> struct elem<double> {
    static constexpr const char* name = "ViReal64Vec";
    static constexpr const char* format = "d";
    // 1 converted, 0 not a number of this kind (no error set), -1 error set.
    static int convert(PyObject* o, double& out) {
        if (PyFloat_Check(o)) { out = PyFloat_AS_DOUBLE(o); return 1; }
        if (!py::is_int(o)) return 0;
        out = PyLong_Check(o) ? PyLong_AsDouble(o) : (double)py::small_int(o);
        return out == -1.0 && PyErr_Occurred() ? -1 : 1;
    }
    static PyObject* to_py(double v) { return PyFloat_FromDouble(v); }
};

template <> struct elem<int32_t> {
    static constexpr const char* name = "ViInt32Vec";
    static constexpr const char* format = "i";
    static int convert(PyObject* o, int32_t& out) {
        if (!py::is_int(o)) return 0;
        int overflow = 0;
        long long v = PyLong_Check(o) ? PyLong_AsLongLongAndOverflow(o, &overflow) : py::small_int(o);
        if (v == -1 && PyErr_Occurred()) return -1;
        if (overflow > 0 || v > INT32_MAX) {
            PyErr_SetString(PyExc_OverflowError, "bad numeric conversion: positive overflow");
            return -1;
        }
        if (overflow < 0 || v < INT32_MIN) {
            PyErr_SetString(PyExc_OverflowError, "bad numeric conversion: negative overflow");
            return -1;
        }
        out = (int32_t)v;
        return 1;
    }
    static PyObject* to_py(int32_t v) { return py::from_long(v); }
};

template <class T> struct Vector {
    using Obj = VecObject<T>;
    static PyTypeObject type;
    static PyTypeObject iter_type;
    static std::string type_name, iter_name;
    static Py_ssize_t itemsize;

    static Obj* cast(PyObject* o) { return reinterpret_cast<Obj*>(o); }

    // A new empty vector object with room for n zeroed elements.
    static PyObject* create(Py_ssize_t n) {
        if (n < 0 || (size_t)n > std::numeric_limits<size_t>::max() / sizeof(T) / 2) {
            PyErr_NoMemory();
            return nullptr;
        }
        T* data = static_cast<T*>(std::calloc(n > 0 ? (size_t)n : 1, sizeof(T)));
        if (!data) return PyErr_NoMemory();
        Obj* v = PyObject_New(Obj, &type);
        if (!v) { std::free(data); return nullptr; }
        v->data = data;
        v->size = n;
        v->cap = n > 0 ? n : 1;
        v->exports = 0;
        return reinterpret_cast<PyObject*>(v);
    }

    static bool resizable(Obj* v) {
        if (v->exports == 0) return true;
        PyErr_SetString(PyExc_BufferError, "Existing exports of data: object cannot be re-sized");
        return false;
    }

    static bool reserve(Obj* v, Py_ssize_t n) {
        if (n <= v->cap) return true;
        Py_ssize_t cap = v->cap * 2 > n ? v->cap * 2 : n;
        if ((size_t)cap > std::numeric_limits<size_t>::max() / sizeof(T) / 2) { PyErr_NoMemory(); return false; }
        T* p = static_cast<T*>(std::realloc(v->data, (size_t)cap * sizeof(T)));
        if (!p) { PyErr_NoMemory(); return false; }
        v->data = p;
        v->cap = cap;
        return true;
    }

    // Replaces elements [lo, hi) by n elements from src (src may not alias v).
    static bool splice(Obj* v, Py_ssize_t lo, Py_ssize_t hi, const T* src, Py_ssize_t n) {
        Py_ssize_t newsize = v->size - (hi - lo) + n;
        if (newsize != v->size && !resizable(v)) return false;
        if (!reserve(v, newsize)) return false;
        std::memmove(v->data + lo + n, v->data + hi, (size_t)(v->size - hi) * sizeof(T));
        if (n) std::memcpy(v->data + lo, src, (size_t)n * sizeof(T));
        v->size = newsize;
        return true;
    }

    static PyObject* tp_new(PyTypeObject* t, PyObject* args, PyObject* kw) {
        if (PyTuple_GET_SIZE(args) != 0 || (kw && PyDict_Size(kw) != 0)) {
            std::string given = type_name;
            for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i)
                given += std::string(", ") + Py_TYPE(PyTuple_GET_ITEM(args, i))->tp_name;
            PyErr_Format(PyExc_TypeError,
                         "Python argument types in\n    %s.__init__(%s)\ndid not match C++ signature:\n"
                         "    __init__(%s)",
                         elem<T>::name, given.c_str(), elem<T>::name);
            return nullptr;
        }
        return create(0);
    }

    static void dealloc(PyObject* o) {
        std::free(cast(o)->data);
        PyObject_Del(o);
    }

    static Py_ssize_t length(PyObject* o) { return cast(o)->size; }

    // Index of an integer key, or -1 with IndexError/TypeError set.
    static Py_ssize_t index(Obj* v, PyObject* key) {
        Py_ssize_t i = PyNumber_AsSsize_t(key, nullptr);  // saturates on overflow
        if (i == -1 && PyErr_Occurred()) return -1;
        if (i < 0) i += v->size;
        if (i < 0 || i >= v->size) {
            PyErr_SetString(PyExc_IndexError, "Index out of range");
            return -1;
        }
        return i;
    }

    static bool slice_bound(PyObject* b, Py_ssize_t size, Py_ssize_t dflt, Py_ssize_t& out) {
        if (b == Py_None) { out = dflt; return true; }
        if (!py::is_int(b)) {
            PyErr_SetString(PyExc_TypeError, "Invalid slice index type");
            return false;
        }
        Py_ssize_t i = PyNumber_AsSsize_t(b, nullptr);
        if (i == -1 && PyErr_Occurred()) return false;
        if (i < 0) i += size;
        out = i < 0 ? 0 : (i > size ? size : i);
        return true;
    }

    // [lo, hi) of a step-less slice, clamped like a list; false with an error set.
    static bool slice(Obj* v, PyObject* s, Py_ssize_t& lo, Py_ssize_t& hi) {
        PySliceObject* sl = reinterpret_cast<PySliceObject*>(s);
        if (sl->step != Py_None) {
            PyErr_SetString(PyExc_IndexError, "slice step size not supported.");
            return false;
        }
        if (!slice_bound(sl->start, v->size, 0, lo) || !slice_bound(sl->stop, v->size, v->size, hi)) return false;
        if (hi < lo) hi = lo;
        return true;
    }

    static PyObject* subscript(PyObject* o, PyObject* key) {
        Obj* v = cast(o);
        if (py::is_int(key)) {
            Py_ssize_t i = index(v, key);
            return i < 0 ? nullptr : elem<T>::to_py(v->data[i]);
        }
        if (PySlice_Check(key)) {
            Py_ssize_t lo, hi;
            if (!slice(v, key, lo, hi)) return nullptr;
            PyObject* r = create(hi - lo);
            if (r && hi > lo) std::memcpy(cast(r)->data, v->data + lo, (size_t)(hi - lo) * sizeof(T));
            return r;
        }
        PyErr_SetString(PyExc_TypeError, "Invalid index type");
        return nullptr;
    }

    static int ass_subscript(PyObject* o, PyObject* key, PyObject* value) {
        Obj* v = cast(o);
        if (py::is_int(key)) {
            Py_ssize_t i = index(v, key);
            if (i < 0) return -1;
            if (!value) return splice(v, i, i + 1, nullptr, 0) ? 0 : -1;
            T x;
            int r = elem<T>::convert(value, x);
            if (r == 0) PyErr_SetString(PyExc_TypeError, "Invalid assignment");
            if (r <= 0) return -1;
            v->data[i] = x;
            return 0;
        }
        if (!PySlice_Check(key)) {
            PyErr_SetString(PyExc_TypeError, "Invalid index type");
            return -1;
        }
        Py_ssize_t lo, hi;
        if (!slice(v, key, lo, hi)) return -1;
        if (!value) return splice(v, lo, hi, nullptr, 0) ? 0 : -1;
        T one;
        int r = elem<T>::convert(value, one);
        if (r < 0) return -1;
        if (r == 1) return splice(v, lo, hi, &one, 1) ? 0 : -1;
        if (!PyObject_HasAttrString(value, "__len__")) {
            PyErr_Format(PyExc_AttributeError, "'%s' object has no attribute '__len__'", Py_TYPE(value)->tp_name);
            return -1;
        }
        std::vector<T> items;
        if (!collect(value, items, "Invalid sequence element")) return -1;
        // Iterating the right-hand side may have resized the vector: bounds anew.
        if (!slice(v, key, lo, hi)) return -1;
        return splice(v, lo, hi, items.data(), (Py_ssize_t)items.size()) ? 0 : -1;
    }

    // Converts every element of an iterable first: all or nothing.
    static bool collect(PyObject* iterable, std::vector<T>& items, const char* bad) {
        PyObject* it = PyObject_GetIter(iterable);
        if (!it) return false;
        PyObject* item;
        bool ok = true;
        try {
            while (ok && (item = PyIter_Next(it))) {
                T x;
                int r = elem<T>::convert(item, x);
                Py_DECREF(item);
                if (r == 0) PyErr_SetString(PyExc_TypeError, bad);
                if (r <= 0) ok = false;
                else items.push_back(x);
            }
        } catch (std::bad_alloc&) {
            PyErr_NoMemory();
            ok = false;
        }
        Py_DECREF(it);
        return ok && !PyErr_Occurred();
    }

    static int contains(PyObject* o, PyObject* value) {
        Obj* v = cast(o);
        T x;
        int r = elem<T>::convert(value, x);
        if (r <= 0) return r;
        for (Py_ssize_t i = 0; i < v->size; ++i)
            if (v->data[i] == x) return 1;
        return 0;
    }

    static PyObject* append(PyObject* o, PyObject* value) {
        Obj* v = cast(o);
        T x;
        int r = elem<T>::convert(value, x);
        if (r == 0) PyErr_SetString(PyExc_TypeError, "Attempting to append an invalid type");
        if (r <= 0) return nullptr;
        if (!splice(v, v->size, v->size, &x, 1)) return nullptr;
        Py_RETURN_NONE;
    }

    static PyObject* extend(PyObject* o, PyObject* iterable) {
        Obj* v = cast(o);
        PyObject* it = PyObject_GetIter(iterable);
        if (!it) {
            PyErr_Clear();
            PyErr_Format(PyExc_AttributeError, "'%s' object has no attribute '__iter__'", Py_TYPE(iterable)->tp_name);
            return nullptr;
        }
        Py_DECREF(it);
        std::vector<T> items;
        if (!collect(iterable, items, "Incompatible Data Type")) return nullptr;
        if (!splice(v, v->size, v->size, items.data(), (Py_ssize_t)items.size())) return nullptr;
        Py_RETURN_NONE;
    }

    static PyObject* reduce(PyObject* o, PyObject*) {
        PyErr_Format(PyExc_RuntimeError, "Pickling of \"%s\" instances is not enabled", type_name.c_str());
        return nullptr;
    }

    static int getbuffer(PyObject* o, Py_buffer* view, int flags) {
        Obj* v = cast(o);
        view->obj = o;
        Py_INCREF(o);
        view->buf = v->data;
        view->len = v->size * (Py_ssize_t)sizeof(T);
        view->readonly = 0;
        view->itemsize = sizeof(T);
        view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>(elem<T>::format) : nullptr;
        view->ndim = 1;
        view->shape = (flags & PyBUF_ND) ? &v->size : nullptr;
        view->strides = (flags & PyBUF_STRIDES) ? &itemsize : nullptr;
        view->suboffsets = nullptr;
        view->internal = nullptr;
        ++v->exports;
        return 0;
    }

    static void releasebuffer(PyObject* o, Py_buffer*) { --cast(o)->exports; }

    // Iterator: holds the vector and an index; stops at the current length.
    struct Iter {
        PyObject_HEAD
        PyObject* vec;
        Py_ssize_t pos;
    };
    static PyObject* iter(PyObject* o) {
        Iter* it = PyObject_New(Iter, &iter_type);
        if (!it) return nullptr;
        Py_INCREF(o);
        it->vec = o;
        it->pos = 0;
        return reinterpret_cast<PyObject*>(it);
    }
    static PyObject* iter_next(PyObject* o) {
        Iter* it = reinterpret_cast<Iter*>(o);
        if (!it->vec) return nullptr;
        Obj* v = cast(it->vec);
        if (it->pos < v->size) return elem<T>::to_py(v->data[it->pos++]);
        Py_CLEAR(it->vec);
        return nullptr;
    }
    static void iter_dealloc(PyObject* o) {
        Py_XDECREF(reinterpret_cast<Iter*>(o)->vec);
        PyObject_Del(o);
    }

    // "ViReal64Vec([1.5, 2.5])"; past shown_items elements the first five and
    // the length: "ViReal64Vec([1.5, 2.5, 3.5, 4.5, 5.5, ...], len=1001)".
    static constexpr Py_ssize_t shown_items = 6, shown_head = 5;
    static PyObject* repr(PyObject* o) {
        Obj* v = cast(o);
        Py_ssize_t n = v->size, k = n <= shown_items ? n : shown_head;
        std::string out = std::string(elem<T>::name) + "([";
        for (Py_ssize_t i = 0; i < k; ++i) {
            PyObject* item = elem<T>::to_py(v->data[i]);
            PyObject* r = item ? PyObject_Repr(item) : nullptr;
            Py_XDECREF(item);
            const char* s = r ? py::c_str(r) : nullptr;
            if (!s) { Py_XDECREF(r); return nullptr; }
            if (i) out += ", ";
            out += s;
            Py_DECREF(r);
        }
        if (k < n) out += ", ...], len=" + std::to_string((long long)n) + ")";
        else out += "])";
        return py::text(out.data(), (Py_ssize_t)out.size());
    }

    static PyMethodDef methods[];
    static PySequenceMethods seq;
    static PyMappingMethods map;
    static PyBufferProcs buffer;

    // Registers the class in `module` (named "<module>.ViReal64Vec").
    static bool add_to(PyObject* module, const char* module_name) {
        type_name = std::string(module_name) + "." + elem<T>::name;
        iter_name = type_name + "Iterator";
        seq.sq_length = length;
        seq.sq_contains = contains;
        map.mp_length = length;
        map.mp_subscript = subscript;
        map.mp_ass_subscript = ass_subscript;
        buffer.bf_getbuffer = getbuffer;
        buffer.bf_releasebuffer = releasebuffer;
        type.tp_name = type_name.c_str();
        type.tp_basicsize = sizeof(Obj);
        type.tp_dealloc = dealloc;
        type.tp_as_sequence = &seq;
        type.tp_as_mapping = &map;
        type.tp_as_buffer = &buffer;
        type.tp_flags = Py_TPFLAGS_DEFAULT
#if BIND_PY2
                        | Py_TPFLAGS_HAVE_NEWBUFFER
#endif
            ;
        type.tp_iter = iter;
        type.tp_repr = repr;
        type.tp_methods = methods;
        type.tp_new = tp_new;
        iter_type.tp_name = iter_name.c_str();
        iter_type.tp_basicsize = sizeof(Iter);
        iter_type.tp_dealloc = iter_dealloc;
        iter_type.tp_flags = Py_TPFLAGS_DEFAULT;
        iter_type.tp_iter = PyObject_SelfIter;
        iter_type.tp_iternext = iter_next;
        if (PyType_Ready(&type) < 0 || PyType_Ready(&iter_type) < 0) return false;
        PyObject* cls = reinterpret_cast<PyObject*>(&type);  // its header, as a PyObject (2.7's macros cast)
        Py_INCREF(cls);
        return PyModule_AddObject(module, elem<T>::name, cls) == 0;
    }
};

template <class T> PyTypeObject Vector<T>::type = {PyVarObject_HEAD_INIT(nullptr, 0)};
template <class T> PyTypeObject Vector<T>::iter_type = {PyVarObject_HEAD_INIT(nullptr, 0)};
template <class T> std::string Vector<T>::type_name;
template <class T> std::string Vector<T>::iter_name;
template <class T> Py_ssize_t Vector<T>::itemsize = sizeof(T);
template <class T> PySequenceMethods Vector<T>::seq = {};
template <class T> PyMappingMethods Vector<T>::map = {};
template <class T> PyBufferProcs Vector<T>::buffer = {};
template <class T> PyMethodDef Vector<T>::methods[] = {
    {"append", (PyCFunction)Vector<T>::append, METH_O, nullptr},
    {"extend", (PyCFunction)Vector<T>::extend, METH_O, nullptr},
    {"__reduce_ex__", (PyCFunction)Vector<T>::reduce, METH_O, nullptr},
    {"__reduce__", (PyCFunction)Vector<T>::reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr}};

// A new vector owned by the wrapper until it becomes the result: the driver
// writes straight into its storage, so results are never copied.
template <class T> class Vec {
public:
    // n zeroed elements; ValueError for n < 0, MemoryError if the heap cannot give them.
    explicit Vec(long long n) {
        if (n < 0) {
            PyErr_Format(PyExc_ValueError, "array size must not be negative (got %lld)", n);
            throw error();
        }
        if ((unsigned long long)n > (unsigned long long)PY_SSIZE_T_MAX / sizeof(T)) {
            PyErr_NoMemory();
            throw error();
        }
        obj_ = Vector<T>::create((Py_ssize_t)n);
        if (!obj_) throw error();
    }
    Vec(Vec&& o) noexcept : obj_(o.obj_) { o.obj_ = nullptr; }
    Vec(const Vec&) = delete;
    Vec& operator=(const Vec&) = delete;
    ~Vec() { Py_XDECREF(obj_); }

    T* data() { return Vector<T>::cast(obj_)->data; }
    Py_ssize_t size() const { return Vector<T>::cast(obj_)->size; }
    // Keeps the first k elements (k clamped to 0..size): for counts the driver reports.
    void resize(long long k) {
        auto* v = Vector<T>::cast(obj_);
        v->size = k < 0 ? 0 : (k < v->size ? (Py_ssize_t)k : v->size);
    }
    // The result: room the driver was given beyond its size goes back to the
    // heap (on 32-bit, room held by results would use up the address space).
    PyObject* release() {
        auto* v = Vector<T>::cast(obj_);
        if (v->cap - v->size >= spare_kept) {
            Py_ssize_t cap = v->size > 0 ? v->size : 1;
            if (T* p = static_cast<T*>(std::realloc(v->data, (size_t)cap * sizeof(T)))) {
                v->data = p;
                v->cap = cap;
            }
        }
        PyObject* o = obj_;
        obj_ = nullptr;
        return o;
    }

private:
    static constexpr Py_ssize_t spare_kept = 4096;  // elements not worth a realloc
    PyObject* obj_;
};

using RealVec = Vec<double>;
using IntVec = Vec<int32_t>;

}  // namespace bind

#endif
