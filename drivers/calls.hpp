// One driver call's parameters as the driver tables describe them
// (tools/drivertable.py writes the lists), and their form in a recording:
// the frame's recorder writes it, the simulator's replay reads it back.
//
// A recorded call is one JSON line:
//   {"seq":7,"t":0.0123,"dur":0.0004,"thread":"MainThread","fn":"hp816x_PWM_readValue",
//    "in":{"ihandle":16781313,"PWMSlot":1,"channelNumber":0},"out":{"measuredValue":-12.5},"status":0}
// Integers and reals as JSON numbers (reals with 17 digits: they read back
// bit for bit; "NaN", "Infinity", "-Infinity" as strings), texts as strings
// of their Latin-1 bytes, a null pointer as null, an array as
// {"type":"f64","n":items,"b64":...}: base64 of its little-endian bytes up to
// the last one that is not zero (the rest are zeros).
#ifndef INSTR_CALLS_HPP
#define INSTR_CALLS_HPP

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

#include "visatypes.h"

namespace calls {

enum class Role : unsigned char { in, in_text, in_array, out, out_text, out_array };
enum class Type : unsigned char { i16, u16, i32, u32, u64, f64, u8, text };

inline const char* type_name(Type t) {
    static const char* const names[] = {"i16", "u16", "i32", "u32", "u64", "f64", "u8", "text"};
    return names[(int)t];
}
inline size_t type_size(Type t) {
    static const unsigned char sizes[] = {2, 2, 4, 4, 8, 8, 1, 1};
    return sizes[(int)t];
}

template <class T> constexpr Type type_of() {
    if constexpr (std::is_same<T, double>::value) return Type::f64;
    else if constexpr (std::is_same<T, char>::value || std::is_same<T, void>::value) return Type::u8;
    else if constexpr (sizeof(T) == 2) return std::is_signed<T>::value ? Type::i16 : Type::u16;
    else if constexpr (sizeof(T) == 4) return std::is_signed<T>::value ? Type::i32 : Type::u32;
    else {
        static_assert(sizeof(T) == 8 && !std::is_signed<T>::value, "a VISA type");
        return Type::u64;
    }
}

// Each row of the type legend (visatypes.def) has the record kind the
// recording writes for its type (a text, or an array of ViChar, as text).
template <class T> constexpr bool recorded_as(Type t) {
    if constexpr (std::is_pointer<T>::value || std::is_same<T, char>::value) return t == Type::text;
    else return type_of<T>() == t;
}
#define VISA_TYPE(name, type, kind, stub, record) \
    static_assert(recorded_as<name>(Type::record), #name ": its record kind is not the recording's");
#include "visatypes.def"

// A parameter: where its value is and how many items (bytes for texts) it
// has; for a text the driver writes, the bytes it may write (-1: unknown).
struct Param {
    const char* name;
    Role role;
    Type type;
    const void* p;
    long long n;
    void* out() const { return const_cast<void*>(p); }
};

template <class T> Param in(const char* name, const T& v) { return {name, Role::in, type_of<T>(), &v, 1}; }
inline Param in_text(const char* name, const char* v) { return {name, Role::in_text, Type::text, v, -1}; }
template <class T> Param in_array(const char* name, const T* v, long long n) {
    return {name, Role::in_array, type_of<T>(), v, n < 0 ? 0 : n};
}
template <class T> Param out(const char* name, T* v) { return {name, Role::out, type_of<T>(), v, 1}; }
inline Param out_text(const char* name, char* v, long long n) { return {name, Role::out_text, Type::text, v, n}; }
template <class T> Param out_array(const char* name, T* v, long long n) {
    return {name, Role::out_array, type_of<T>(), v, n < 0 ? 0 : n};
}

// Size expressions of the tables.
template <class A, class B> long long most(A a, B b) { return (long long)a > (long long)b ? (long long)a : (long long)b; }
template <class A, class B> long long least(A a, B b) { return (long long)a < (long long)b ? (long long)a : (long long)b; }
template <class T> long long value_of(const T* p) { return p ? (long long)*p : 0; }

// A parameter's value copied out of the driver's storage: `bytes` holds a
// scalar's bytes, a text's up to its zero byte, an array's up to its last
// byte that is not zero.
struct Copy {
    const char* name;
    Role role;
    Type type;
    bool null;
    long long n;  // items of an array
    std::string bytes;
};

inline Copy capture(const Param& a) {
    Copy c{a.name, a.role, a.type, a.p == nullptr, a.n, std::string()};
    if (c.null) return c;
    const char* p = static_cast<const char*>(a.p);
    switch (a.role) {
    case Role::in:
    case Role::out: c.bytes.assign(p, type_size(a.type)); break;
    case Role::in_text: c.bytes.assign(p); break;
    case Role::out_text: {
        const size_t most_bytes = a.n < 0 ? 256 : (size_t)a.n;
        c.bytes.assign(p, strnlen(p, most_bytes));
        break;
    }
    case Role::in_array:
    case Role::out_array: {
        size_t len = (size_t)a.n * type_size(a.type);
        while (len && p[len - 1] == 0) --len;
        c.bytes.assign(p, len);
        break;
    }
    }
    return c;
}

// ---- JSON ----------------------------------------------------------------------------
inline void text(std::string& out, const char* s, size_t n) {
    out += '"';
    for (size_t i = 0; i < n; ++i) {
        const unsigned char ch = (unsigned char)s[i];
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += (char)ch;
        } else if (ch < 0x20 || ch >= 0x7f) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", ch);
            out += esc;
        } else {
            out += (char)ch;
        }
    }
    out += '"';
}

inline void real(std::string& out, double v) {
    if (std::isnan(v)) out += "\"NaN\"";
    else if (std::isinf(v)) out += v > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    else {
        char b[32];
        std::snprintf(b, sizeof b, "%.17g", v);
        out += b;
    }
}

inline void scalar(std::string& out, Type t, const void* p) {
    char b[32];
    switch (t) {
    case Type::i16: { int16_t v; std::memcpy(&v, p, 2); std::snprintf(b, sizeof b, "%d", (int)v); break; }
    case Type::u16: { uint16_t v; std::memcpy(&v, p, 2); std::snprintf(b, sizeof b, "%u", (unsigned)v); break; }
    case Type::i32: { int32_t v; std::memcpy(&v, p, 4); std::snprintf(b, sizeof b, "%ld", (long)v); break; }
    case Type::u32: { uint32_t v; std::memcpy(&v, p, 4); std::snprintf(b, sizeof b, "%lu", (unsigned long)v); break; }
    case Type::u64: { uint64_t v; std::memcpy(&v, p, 8); std::snprintf(b, sizeof b, "%llu", (unsigned long long)v); break; }
    case Type::f64: { double v; std::memcpy(&v, p, 8); real(out, v); return; }
    default: { unsigned char v = *(const unsigned char*)p; std::snprintf(b, sizeof b, "%u", (unsigned)v); break; }
    }
    out += b;
}

inline void base64(std::string& out, const std::string& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const unsigned char* p = (const unsigned char*)bytes.data();
    const size_t n = bytes.size();
    out.reserve(out.size() + (n + 2) / 3 * 4);
    for (size_t i = 0; i < n; i += 3) {
        const unsigned v = p[i] << 16 | (i + 1 < n ? p[i + 1] << 8 : 0) | (i + 2 < n ? p[i + 2] : 0);
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        out += i + 1 < n ? digits[v >> 6 & 63] : '=';
        out += i + 2 < n ? digits[v & 63] : '=';
    }
}

// The value of a parameter, as the line holds it.
inline void value(std::string& out, const Copy& c) {
    if (c.null) {
        out += "null";
        return;
    }
    switch (c.role) {
    case Role::in:
    case Role::out: scalar(out, c.type, c.bytes.data()); break;
    case Role::in_text:
    case Role::out_text: text(out, c.bytes.data(), c.bytes.size()); break;
    case Role::in_array:
    case Role::out_array:
        out += "{\"type\":\"";
        out += type_name(c.type);
        out += "\",\"n\":" + std::to_string(c.n) + ",\"b64\":\"";
        base64(out, c.bytes);
        out += "\"}";
        break;
    }
}

inline bool is_input(Role r) { return r == Role::in || r == Role::in_text || r == Role::in_array; }

// "in":{...},"out":{...}
inline void params(std::string& out, const Copy* c, size_t n) {
    for (int inputs = 1; inputs >= 0; --inputs) {
        out += inputs ? "\"in\":{" : ",\"out\":{";
        bool first = true;
        for (size_t i = 0; i < n; ++i) {
            if (is_input(c[i].role) != (inputs == 1)) continue;
            if (!first) out += ',';
            first = false;
            text(out, c[i].name, std::strlen(c[i].name));
            out += ':';
            value(out, c[i]);
        }
        out += '}';
    }
}

}  // namespace calls

#endif
