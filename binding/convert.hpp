// Python arguments to driver types, driver values to Python.
//
// arg<T> converts one argument in two steps: match() checks the kind (a
// mismatch lets the next overload try, then raises TypeError), load() checks
// the range (OverflowError, UnicodeEncodeError: final).  Which conversion each
// VISA type gets is its row of the type legend (drivers/visatypes.def).
#ifndef BIND_CONVERT_HPP
#define BIND_CONVERT_HPP

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

#include "compat.hpp"
#include "vector.hpp"
#include "visatypes.h"

namespace bind {

// ---- integers ------------------------------------------------------------------
// int (and bool) first; on Python 3 also an object with __index__ (numpy
// integers), range-checked as an int.  An __index__ that refuses the object
// (a TypeError) makes it a mismatch, like a float.  The fallback converts
// twice (match, load) so that the int path keeps its one-member state.
template <class T> struct int_arg {
    T value = 0;
    bool match(PyObject* o) { return py::is_int(o) || (py::has_index(o) && py::index_matches(o)); }
    bool load(PyObject* o) {
        long long v;
        if (py::compact_int(o, v) && v >= (long long)std::numeric_limits<T>::min() &&
            v <= (long long)std::numeric_limits<T>::max()) {
            value = (T)v;
            return true;
        }
        return load_any(o);
    }
    BIND_COLD bool load_any(PyObject* o) {
        int overflow = 0;
        long long v;
        if (PyLong_Check(o)) {
            v = PyLong_AsLongLongAndOverflow(o, &overflow);
        } else if (py::is_int(o)) {
            v = py::small_int(o);
        } else {
            PyObject* i = PyNumber_Index(o);
            if (!i) return false;
            v = PyLong_AsLongLongAndOverflow(i, &overflow);
            Py_DECREF(i);
        }
        if (v == -1 && PyErr_Occurred()) return false;
        if (std::is_unsigned<T>::value && (overflow < 0 || v < 0)) {
            PyErr_SetString(PyExc_OverflowError, "can't convert negative value to unsigned int");
            return false;
        }
        if (overflow > 0 || v > (long long)std::numeric_limits<T>::max()) {
            PyErr_SetString(PyExc_OverflowError, "bad numeric conversion: positive overflow");
            return false;
        }
        if (overflow < 0 || v < (long long)std::numeric_limits<T>::min()) {
            PyErr_SetString(PyExc_OverflowError, "bad numeric conversion: negative overflow");
            return false;
        }
        value = (T)v;
        return true;
    }
    T get() { return value; }
};

template <class T> struct arg;

// ---- reals -----------------------------------------------------------------------
struct real_arg {
    double value = 0;
    // float and int first; on Python 3 also an object with __float__ or
    // __index__ (numpy scalars), as float() converts it; one they refuse (a
    // TypeError) is a mismatch.
    bool match(PyObject* o) { return PyFloat_Check(o) || py::is_int(o) || (py::has_float(o) && py::float_matches(o)); }
    bool load(PyObject* o) {
        if (PyFloat_Check(o) || py::is_int(o)) return elem<double>::convert(o, value) > 0;
        value = PyFloat_AsDouble(o);
        return !(value == -1.0 && PyErr_Occurred());
    }
    double get() { return value; }
};

// ---- buffers ---------------------------------------------------------------------
// A writable, C-contiguous buffer held for the duration of one call.
struct held_buffer {
    Py_buffer view;
    bool held = false;
    held_buffer() = default;
    held_buffer(const held_buffer&) = delete;
    held_buffer& operator=(const held_buffer&) = delete;
    bool acquire(PyObject* o) {
        if (!PyObject_CheckBuffer(o)) return false;
        if (PyObject_GetBuffer(o, &view, PyBUF_WRITABLE | PyBUF_FORMAT | PyBUF_C_CONTIGUOUS) < 0) {
            PyErr_Clear();
            return false;
        }
        held = true;
        return true;
    }
    // Item format without byte-order prefix ("d", "i", "B", ...).
    const char* format() const {
        const char* f = view.format ? view.format : "B";
        return (*f == '@' || *f == '=' || *f == '<') ? f + 1 : f;
    }
    // A byte buffer the driver can read as text without running past it: a
    // bytearray (always followed by a zero byte) or one holding a zero byte.
    bool text_ok(PyObject* o) const {
        if (view.itemsize != 1 || !std::strchr("Bbc", format()[0]) || format()[1]) return false;
        return PyByteArray_Check(o) || std::memchr(view.buf, 0, (size_t)view.len) != nullptr;
    }
    ~held_buffer() {
        if (held) PyBuffer_Release(&view);
    }
};

// ---- char* : ViString and ViChar[] (the driver may write) -----------------------------
// Python 3: str (Latin-1) and bytes go to the driver as a private zero-padded
// copy of at least 256 bytes; bytearray or another writable byte buffer in
// place; None as null.  Python 2.7: str in place (the caller's own storage),
// bytearray or writable buffer in place, None as null.
template <> struct arg<char*> {
    static constexpr size_t stack_size = 256;
    char* p = nullptr;
    size_t cap = 0;        // bytes the driver may write at p
    bool private_copy = false;
    bool shared = false;   // 2.7: an interned or otherwise shared str, never to be written
    held_buffer buf;
    char small[stack_size];
    std::unique_ptr<char, void (*)(void*)> big{nullptr, std::free};

    bool match(PyObject* o) {
        if (o == Py_None || PyBytes_Check(o)) return true;
#if BIND_PY3
        if (PyUnicode_Check(o)) return true;
#endif
        return buf.acquire(o) && buf.text_ok(o);
    }
    char* copy(const char* src, size_t n, size_t room = 0) {
        room = std::max({room, n + 1, stack_size});
        char* dst = small;
        std::unique_ptr<char, void (*)(void*)> grown(nullptr, std::free);
        if (room > stack_size) {
            grown.reset(static_cast<char*>(std::calloc(room, 1)));  // zero pages stay untouched
            if (!grown) throw std::bad_alloc();
            dst = grown.get();
        } else {
            std::memset(small + n, 0, stack_size - n);
        }
        std::memmove(dst, src, n);  // src may be the old copy, freed only below
        dst[n] = 0;
        if (grown) big = std::move(grown);
        cap = room;
        private_copy = true;
        return dst;
    }
    bool load(PyObject* o) {
        if (o == Py_None) return true;
        if (buf.held) {
            // An empty buffer has no room for even the zero byte: the driver
            // reads a private one; one it writes refuses it (Reply, Buffer).
            if (buf.view.len > 0) {
                p = static_cast<char*>(buf.view.buf);
                cap = (size_t)buf.view.len;
            } else {
                p = copy("", 0);
            }
            return true;
        }
#if BIND_PY3
        if (PyUnicode_Check(o)) {
            if (PyUnicode_READY(o) < 0) return false;
            if (PyUnicode_KIND(o) != PyUnicode_1BYTE_KIND) {
                Py_XDECREF(PyUnicode_AsLatin1String(o));  // raises UnicodeEncodeError
                return false;
            }
            p = copy(static_cast<const char*>(PyUnicode_DATA(o)), (size_t)PyUnicode_GET_LENGTH(o));
            return true;
        }
        p = copy(PyBytes_AS_STRING(o), (size_t)PyBytes_GET_SIZE(o));
#else
        p = PyString_AS_STRING(o);
        cap = (size_t)PyString_GET_SIZE(o) + 1;
        shared = !py::str_is_callers_own(o);
#endif
        return true;
    }
    char* get() { return p; }

    // Room for `size` bytes the driver writes at p: a private copy grows; the
    // caller's own storage that is smaller (an empty buffer included) or a
    // shared 2.7 str raises ValueError naming `what`, before the call.
    void reserve(long long size, const char* what) {
        if (!make_room(size)) refuse(size, what);
    }
    // The same without touching Python (in a driver section): false where
    // reserve would raise.
    bool make_room(long long size) {
        if (!p || size <= 0) return true;
        if (private_copy && !buf.held) {
            if ((unsigned long long)size > cap) p = copy(p, strnlen(p, cap), (size_t)size);
            return true;
        }
        return !shared && (unsigned long long)size <= (buf.held ? (size_t)buf.view.len : cap);
    }
    [[noreturn]] void refuse(long long size, const char* what) {
        if (shared)
            PyErr_Format(PyExc_ValueError, "%s is a shared str the driver must not write into; give a "
                         "bytearray of %lld bytes", what, size);
        else
            PyErr_Format(PyExc_ValueError, "%s of %zu bytes is smaller than the %lld bytes the driver may write",
                         what, buf.held ? (size_t)buf.view.len : cap, size);
        throw error();
    }
};

// A ViChar[] reply buffer whose size the driver is told separately
// (cmdString_Q): the same conversions as char*, plus the buffer's capacity,
// so the wrapper can make sure the driver's size fits before the call.
class Reply {
public:
    explicit Reply(arg<char*>* a) : a_(a) {}
    char* data() const { return a_->p; }
    // Room for `size` bytes: a private copy grows; a caller's buffer that is
    // smaller raises ValueError (the call must not go to the driver).
    void reserve(long long size) { a_->reserve(size, "reply buffer"); }

private:
    arg<char*>* a_;
};
template <> struct arg<Reply> : arg<char*> {
    Reply get() { return Reply(this); }
};

// ---- const char* : ViConstString (read only, no copy) --------------------------------------
template <> struct arg<const char*> {
    const char* p = nullptr;
    held_buffer buf;
    bool match(PyObject* o) {
        if (o == Py_None || PyBytes_Check(o)) return true;
#if BIND_PY3
        if (PyUnicode_Check(o)) return true;
#endif
        return buf.acquire(o) && buf.text_ok(o);
    }
    bool load(PyObject* o) {
        if (o == Py_None) return true;
        if (buf.held) { p = static_cast<const char*>(buf.view.buf); return true; }
#if BIND_PY3
        if (PyUnicode_Check(o)) {
            if (PyUnicode_READY(o) < 0) return false;
            if (PyUnicode_KIND(o) != PyUnicode_1BYTE_KIND) {
                Py_XDECREF(PyUnicode_AsLatin1String(o));
                return false;
            }
            p = static_cast<const char*>(PyUnicode_DATA(o));  // Latin-1, zero-terminated
            return true;
        }
#endif
        p = PyBytes_AS_STRING(o);
        return true;
    }
    const char* get() { return p; }
};

// ---- numeric pointers: None, or a writable buffer of matching items -------------------------
template <class T> struct ptr_arg {
    T* p = nullptr;
    held_buffer buf;
    static bool item_ok(const char* f, Py_ssize_t size);
    bool match(PyObject* o) {
        if (o == Py_None) return true;
        return buf.acquire(o) && buf.view.itemsize == (Py_ssize_t)sizeof(T) && item_ok(buf.format(), buf.view.itemsize);
    }
    // A buffer the driver gets holds at least one item and is aligned for it.
    bool load(PyObject* o) {
        if (!buf.held) return true;
        if (buf.view.len < (Py_ssize_t)sizeof(T)) {
            PyErr_SetString(PyExc_ValueError, "empty buffer: the driver needs room for at least 1 item");
            return false;
        }
        if (reinterpret_cast<std::uintptr_t>(buf.view.buf) % alignof(T)) {
            PyErr_Format(PyExc_ValueError, "buffer not aligned to the %zu bytes of its items", alignof(T));
            return false;
        }
        p = static_cast<T*>(buf.view.buf);
        return true;
    }
    T* get() { return p; }
    // Items the driver may use at p (0 for null).
    size_t items() const { return p ? (size_t)(buf.view.len / (Py_ssize_t)sizeof(T)) : 0; }
};

// ---- the legend's types: an integer is an int_arg, a real a real_arg, a numeric
// pointer a ptr_arg of items of its format (the texts have their classes above)
#define BIND_ARG_int(t) template <> struct arg<t> : int_arg<t> {};
#define BIND_ARG_real(t) template <> struct arg<t> : real_arg {};
#define BIND_ARG_text(t)
#define BIND_ARG_none(t)
#define VISA_TYPE(name, type, kind, stub, record) BIND_ARG_##kind(name)
#define VISA_BUFFER(item, format, also, stub)                                   \
    template <> inline bool ptr_arg<item>::item_ok(const char* f, Py_ssize_t) { \
        return (f[0] == format || (also && f[0] == also)) && !f[1];             \
    }                                                                           \
    template <> struct arg<item*> : ptr_arg<item> {};
#include "visatypes.def"
#undef BIND_ARG_int
#undef BIND_ARG_real
#undef BIND_ARG_text
#undef BIND_ARG_none

// ---- results -------------------------------------------------------------------------
// Text from a driver buffer of N bytes: the part before the first zero byte,
// never more than the buffer.  Presets the buffer to the empty text.
template <size_t N> struct Text {
    char buf[N];
    Text() { buf[0] = 0; }
    char* data() { return buf; }
    static constexpr size_t size() { return N; }
};

// Raw data from a driver buffer of at least 256 bytes (more when the caller
// asks for more): bytes on Python 3, str on 2.7, up to the first zero byte.
class Bytes {
public:
    explicit Bytes(size_t cap = 256) : cap_(cap < 256 ? 256 : cap) {
        if (cap_ > sizeof small_) {
            // calloc: a large count costs only the pages the driver writes.
            big_.reset(static_cast<char*>(std::calloc(cap_, 1)));
            if (!big_) throw std::bad_alloc();
            p_ = big_.get();
        }
        p_[0] = 0;
    }
    // For a raw read of `count` bytes the driver adds no zero byte to: at least
    // 256 bytes and always one more than the count, every byte preset.
    static Bytes for_count(long long count) {
        Bytes b(count > 255 ? (size_t)count + 1 : 256);
        b.clear();
        return b;
    }
    Bytes(Bytes&& o) noexcept : length_(o.length_), cap_(o.cap_), big_(std::move(o.big_)) {
        if (big_) p_ = big_.get();
        else std::memcpy(small_, o.small_, sizeof small_);
    }
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    Bytes& operator=(Bytes&&) = delete;

    char* data() { return p_; }
    size_t capacity() const { return cap_; }
    // Presets every byte, for drivers that write values shorter than a text
    // (a heap buffer comes zeroed).
    void clear() {
        if (!big_) std::memset(small_, 0, sizeof small_);
    }
    // The result is exactly the first n bytes (binary values) instead of a text.
    void set_length(size_t n) { length_ = std::min(n, cap_); }
    PyObject* to_python() const {
        return py::raw(p_, length_ != npos ? (Py_ssize_t)length_ : (Py_ssize_t)strnlen(p_, cap_));
    }

private:
    static constexpr size_t npos = (size_t)-1;
    size_t length_ = npos;
    size_t cap_;
    char small_[257];
    char* p_ = small_;
    std::unique_ptr<char, void (*)(void*)> big_{nullptr, std::free};
};

// Caller-sized text: exactly `size` bytes, zeroed; a size of zero or below
// gets one byte, and the driver is told 0 (`size`) -- IVI drivers read a
// negative size as "the buffer is large enough for any text".  The result is
// the str before the first zero byte, never more than the buffer.
class SizedText {
public:
    explicit SizedText(int32_t size)
        : size(size > 0 ? size : 0), cap_(size > 0 ? (size_t)size : 1), p_(static_cast<char*>(std::calloc(cap_, 1)), std::free) {
        if (!p_) throw std::bad_alloc();
    }
    char* data() { return p_.get(); }
    PyObject* to_python() const { return py::text(p_.get(), (Py_ssize_t)strnlen(p_.get(), cap_)); }
    int32_t size;  // what the driver is told

private:
    size_t cap_;
    std::unique_ptr<char, void (*)(void*)> p_;
};

template <class T> constexpr T clamp(T v, T lo, T hi) { return v < lo ? lo : (v > hi ? hi : v); }

template <class T, class = void> struct result;

template <class T>
struct result<T, typename std::enable_if<std::is_integral<T>::value && std::is_signed<T>::value>::type> {
    static PyObject* cast(T v) { return py::from_long((long)v); }
};
template <class T>
struct result<T, typename std::enable_if<std::is_integral<T>::value && std::is_unsigned<T>::value>::type> {
    static PyObject* cast(T v) {
#if BIND_PY2
        if ((unsigned long long)v <= 2147483647ull) return PyInt_FromLong((long)v);
#endif
        return PyLong_FromUnsignedLongLong(v);
    }
};
template <> struct result<double> {
    static PyObject* cast(double v) { return PyFloat_FromDouble(v); }
};
template <> struct result<const char*> {
    static PyObject* cast(const char* s) { return py::text(s, (Py_ssize_t)std::strlen(s)); }
};
template <size_t N> struct result<Text<N>> {
    static PyObject* cast(const Text<N>& t) { return py::text(t.buf, (Py_ssize_t)strnlen(t.buf, N)); }
};
template <> struct result<SizedText> {
    static PyObject* cast(const SizedText& t) { return t.to_python(); }
};
template <> struct result<Bytes> {
    static PyObject* cast(const Bytes& b) { return b.to_python(); }
};
template <class T> struct result<Vec<T>> {
    static PyObject* cast(Vec<T>& v) { return v.release(); }
};
template <class... T> struct result<std::tuple<T...>> {
    template <size_t... I> static PyObject* build(std::tuple<T...>& t, std::index_sequence<I...>) {
        PyObject* items[] = {result<typename std::decay<T>::type>::cast(std::get<I>(t))...};
        PyObject* tup = PyTuple_New(sizeof...(T));
        bool ok = tup != nullptr;
        for (PyObject* it : items) ok = ok && it;
        for (size_t i = 0; i < sizeof...(T); ++i) {
            if (ok) PyTuple_SET_ITEM(tup, i, items[i]);
            else Py_XDECREF(items[i]);
        }
        if (!ok) {
            Py_XDECREF(tup);
            return nullptr;
        }
        return tup;
    }
    static PyObject* cast(std::tuple<T...>& t) { return build(t, std::index_sequence_for<T...>{}); }
    static PyObject* cast(std::tuple<T...>&& t) { return build(t, std::index_sequence_for<T...>{}); }
};

}  // namespace bind

#endif
