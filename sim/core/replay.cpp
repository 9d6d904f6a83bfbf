// Replay: each driver call is matched with the recording's next call of the
// same driver library (calls into one library come one at a time; libraries
// called from different threads may interleave otherwise than they did), by
// function and every input.  A match gets the recorded outputs and status
// bit for bit.  A call that does not match reaches nothing: it fails with
// replay_mismatch, and the report says where, at once.  If it called the
// recorded function with other inputs, it takes that call's place, so that
// the run goes on to the end and the calls after it are matched.
// Session numbers need no mapping: the opens are answered from the
// recording too, so the script holds the recorded numbers.
#include "replay.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

using json = nlohmann::ordered_json;  // a call's parameters in the driver's order
constexpr int format_version = 1;  // instrbind's recorder writes this one

struct Recorded {
    json call;
    int line;
};
struct Library {
    std::vector<Recorded> calls;
    size_t next = 0;
};
struct Replay {
    std::mutex m;
    std::string path;
    double rel = 0;
    bool pace = false;
    bool at_exit = false;
    Library libraries[sim::drivers];
    bool diverged = false;
    std::string report;
};

std::atomic<bool> replay_on{false};
Replay& state() {
    static Replay* r = new Replay;  // never destroyed: calls may come at the process's end
    return *r;
}

// ---- values ---------------------------------------------------------------------------
std::string latin1(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = (unsigned char)utf8[i];
        if (c < 0x80) out += (char)c;
        else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) out += (char)(((c & 0x1F) << 6) | (utf8[++i] & 0x3F));
        else out += '?';  // not a recorder's text
    }
    return out;
}

std::string unbase64(const std::string& s) {
    auto digit = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        return c == '+' ? 62 : c == '/' ? 63 : -1;
    };
    std::string out;
    unsigned v = 0;
    int bits = 0;
    for (char c : s) {
        const int d = digit(c);
        if (d < 0) continue;
        v = v << 6 | (unsigned)d;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += (char)(v >> bits & 0xFF);
        }
    }
    return out;
}

bool real_of(const json& v, double& out) {
    if (v.is_number()) out = v.get<double>();
    else if (v == "NaN") out = std::nan("");
    else if (v == "Infinity") out = HUGE_VAL;
    else if (v == "-Infinity") out = -HUGE_VAL;
    else return false;
    return true;
}

bool close_enough(double a, double b, double rel) {
    if (std::memcmp(&a, &b, sizeof a) == 0 || a == b) return true;
    return rel > 0 && std::isfinite(a) && std::isfinite(b) && std::fabs(a - b) <= rel * std::max(std::fabs(a), std::fabs(b));
}

bool same_scalar(const json& rec, calls::Type t, const void* p, double rel) {
    switch (t) {
    case calls::Type::f64: {
        double live, was;
        std::memcpy(&live, p, 8);
        return real_of(rec, was) && close_enough(live, was, rel);
    }
    case calls::Type::i16: { int16_t v; std::memcpy(&v, p, 2); return rec.is_number_integer() && rec.get<long long>() == v; }
    case calls::Type::u16: { uint16_t v; std::memcpy(&v, p, 2); return rec.is_number_integer() && rec.get<long long>() == v; }
    case calls::Type::i32: { int32_t v; std::memcpy(&v, p, 4); return rec.is_number_integer() && rec.get<long long>() == v; }
    case calls::Type::u32: { uint32_t v; std::memcpy(&v, p, 4); return rec.is_number_integer() && rec.get<long long>() == v; }
    case calls::Type::u64: { uint64_t v; std::memcpy(&v, p, 8); return rec.is_number_unsigned() && rec.get<uint64_t>() == v; }
    default: return rec.is_number_integer() && rec.get<long long>() == *(const unsigned char*)p;
    }
}

bool same_array(const json& rec, const calls::Copy& live, double rel) {
    if (!rec.is_object() || rec.value("type", "") != calls::type_name(live.type) || rec.value("n", -1LL) != live.n)
        return false;
    const std::string was = unbase64(rec.value("b64", ""));
    if (was == live.bytes) return true;
    if (live.type != calls::Type::f64 || rel <= 0) return false;
    for (long long i = 0; i < live.n; ++i) {
        double a = 0, b = 0;
        if ((size_t)(i + 1) * 8 <= live.bytes.size()) std::memcpy(&a, live.bytes.data() + i * 8, 8);
        if ((size_t)(i + 1) * 8 <= was.size()) std::memcpy(&b, was.data() + i * 8, 8);
        if (!close_enough(a, b, rel)) return false;
    }
    return true;
}

// Whether the call's inputs, and which of its outputs are null, are the recorded call's.
bool matches(const json& rec, const char* fn, const calls::Param* p, size_t n, double rel) {
    if (rec.value("fn", "") != fn) return false;
    const json& in = rec.contains("in") ? rec["in"] : json::object();
    const json& out = rec.contains("out") ? rec["out"] : json::object();
    size_t inputs = 0, outputs = 0;
    for (size_t i = 0; i < n; ++i) {
        const bool input = calls::is_input(p[i].role);
        const json& side = input ? in : out;
        (input ? inputs : outputs)++;
        if (!side.contains(p[i].name)) return false;
        const json& v = side[p[i].name];
        if (v.is_null() != (p[i].p == nullptr)) return false;
        if (!input || !p[i].p) continue;
        const calls::Copy live = calls::capture(p[i]);
        switch (p[i].role) {
        case calls::Role::in:
            if (!same_scalar(v, p[i].type, p[i].p, rel)) return false;
            break;
        case calls::Role::in_text:
            if (!v.is_string() || latin1(v.get<std::string>()) != live.bytes) return false;
            break;
        default:
            if (!same_array(v, live, rel)) return false;
        }
    }
    return in.size() == inputs && out.size() == outputs;
}

template <class T> void put_as(void* p, T v) { std::memcpy(p, &v, sizeof v); }

void put(const json& v, const calls::Param& a) {
    if (!a.p || v.is_null()) return;
    void* p = a.out();
    switch (a.role) {
    case calls::Role::out: {
        double d = 0;
        switch (a.type) {
        case calls::Type::f64: real_of(v, d); put_as(p, d); break;
        case calls::Type::i16: put_as(p, (int16_t)v.get<long long>()); break;
        case calls::Type::u16: put_as(p, (uint16_t)v.get<long long>()); break;
        case calls::Type::i32: put_as(p, (int32_t)v.get<long long>()); break;
        case calls::Type::u32: put_as(p, (uint32_t)v.get<long long>()); break;
        case calls::Type::u64: put_as(p, (uint64_t)v.get<uint64_t>()); break;
        default: put_as(p, (unsigned char)v.get<long long>());
        }
        break;
    }
    case calls::Role::out_text: {
        const std::string t = v.is_string() ? latin1(v.get<std::string>()) : std::string();
        const size_t room = a.n < 0 ? t.size() + 1 : (size_t)a.n;
        const size_t len = std::min(t.size(), room);
        std::memcpy(p, t.data(), len);
        if (len < room) static_cast<char*>(p)[len] = 0;
        break;
    }
    case calls::Role::out_array: {
        const long long items = v.value("n", 0LL);
        const size_t bytes = (size_t)(items < 0 ? 0 : items) * calls::type_size(a.type);
        const std::string data = unbase64(v.value("b64", ""));
        const size_t head = std::min(bytes, data.size());
        char* q = static_cast<char*>(p);
        std::memcpy(q, data.data(), head);
        for (size_t i = head; i < bytes; ++i)  // zeros, written only where the storage is not (pages stay untouched)
            if (q[i]) q[i] = 0;
        break;
    }
    default: break;
    }
}

// ---- reports -------------------------------------------------------------------------
std::string described(const char* fn, const calls::Param* p, size_t n) {
    std::string out = std::string(fn) + "(";
    bool first = true;
    for (size_t i = 0; i < n; ++i) {
        if (!calls::is_input(p[i].role) && p[i].p) continue;
        if (!first) out += ", ";
        first = false;
        out += p[i].name;
        out += '=';
        if (calls::is_input(p[i].role)) calls::value(out, calls::capture(p[i]));
        else out += "null";
    }
    return out + ")";
}

std::string described(const json& rec) {
    std::string out = rec.value("fn", "?") + "(";
    bool first = true;
    if (rec.contains("in"))
        for (auto it = rec["in"].begin(); it != rec["in"].end(); ++it) {
            out += (first ? "" : ", ") + it.key() + "=" + it.value().dump();
            first = false;
        }
    if (rec.contains("out"))
        for (auto it = rec["out"].begin(); it != rec["out"].end(); ++it)
            if (it.value().is_null()) {
                out += (first ? "" : ", ") + it.key() + "=null";
                first = false;
            }
    return out + ")";
}

std::string unused(Replay& r) {
    size_t left = 0;
    std::vector<const Recorded*> firsts;
    for (Library& l : r.libraries)
        for (size_t i = l.next; i < l.calls.size(); ++i) {
            ++left;
            firsts.push_back(&l.calls[i]);
        }
    if (!left) return "";
    std::sort(firsts.begin(), firsts.end(), [](const Recorded* a, const Recorded* b) { return a->line < b->line; });
    std::string out = "instrsim replay: the script stopped short: " + std::to_string(left) + " recorded call" +
                      (left == 1 ? " was" : "s were") + " not made; the first:\n";
    for (size_t i = 0; i < firsts.size() && i < 3; ++i)
        out += "  " + r.path + ":" + std::to_string(firsts[i]->line) + ": " + described(firsts[i]->call) + "\n";
    return out;
}

void diverge(Replay& r, const std::string& text) {
    r.diverged = true;
    r.report += text;
    std::fflush(stdout);
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

void final_check() {
    if (!replay_on.load()) return;
    Replay& r = state();
    std::string left;
    bool diverged;
    {
        std::lock_guard<std::mutex> g(r.m);
        left = unused(r);
        diverged = r.diverged;
    }
    if (!diverged && left.empty()) return;
    std::fflush(stdout);
    std::fputs(left.c_str(), stderr);
    std::fputs("instrsim replay: the run does not match the recording\n", stderr);
    std::fflush(stderr);
    _exit(3);
}

}  // namespace

namespace sim {

bool replaying() { return replay_on.load(std::memory_order_relaxed); }

ViStatus replay(const char* fn, const calls::Param* p, size_t n) {
    Replay& r = state();
    double pace = 0;
    ViStatus status = replay_mismatch;
    {
        std::lock_guard<std::mutex> g(r.m);
        const int d = driver_of(fn);
        Library* l = d >= 0 ? &r.libraries[d] : nullptr;
        const size_t position = l ? l->next + 1 : 0;
        const Recorded* rec = l && l->next < l->calls.size() ? &l->calls[l->next] : nullptr;
        if (!rec || !matches(rec->call, fn, p, n, r.rel)) {
            std::string text = "instrsim replay: call " + std::to_string(position) + " into this driver library " +
                               "does not match the recording\n  the script called: " + described(fn, p, n) + "\n";
            text += rec ? "  the recording has: " + described(rec->call) + "  (" + r.path + ":" +
                              std::to_string(rec->line) + ")\n"
                        : "  the recording has no more calls of this library (" + r.path + ")\n";
            diverge(r, text);
            if (rec && rec->call.value("fn", "") == fn) ++l->next;  // the same function, other inputs: its place is taken
            return replay_mismatch;
        }
        const json& out = rec->call.contains("out") ? rec->call["out"] : json::object();
        for (size_t i = 0; i < n; ++i)
            if (!calls::is_input(p[i].role)) put(out[p[i].name], p[i]);
        status = (ViStatus)rec->call.value("status", 0LL);
        if (r.pace) pace = rec->call.value("dur", 0.0);
        ++l->next;
    }
    if (pace > 0) std::this_thread::sleep_for(std::chrono::duration<double>(pace));
    return status;
}

}  // namespace sim

extern "C" {

int sim_replay_load(const char* path, double rel, int pace, int at_exit, char* error, int size) {
    auto fail = [&](const std::string& why) {
        if (error && size > 0) std::snprintf(error, (size_t)size, "%s", why.c_str());
        return -1;
    };
    std::ifstream f(path, std::ios::binary);
    if (!f) return fail(std::string(path) + ": cannot be read");
    Library libraries[sim::drivers];
    std::string text;
    int line = 0;
    bool header = false;
    while (std::getline(f, text)) {
        ++line;
        if (text.empty()) continue;
        json j = json::parse(text, nullptr, false);
        if (j.is_discarded() || !j.is_object()) {
            if (f.eof()) break;  // a last line cut short: the recorded run was killed while writing it
            return fail(std::string(path) + ":" + std::to_string(line) + ": not a line of a recording");
        }
        if (!header) {
            if (j.value("format", "") != "instrbind-recording")
                return fail(std::string(path) + ": not a recording of instrbind (no header line)");
            const long long v = j.value("version", 0LL);
            if (v > format_version)
                return fail(std::string(path) + ": a recording of format version " + std::to_string(v) +
                            ", made by a newer instrbind; this instrsim reads version " +
                            std::to_string(format_version));
            header = true;
            continue;
        }
        if (!j.contains("fn")) continue;  // a module's line
        const int d = sim::driver_of(j.value("fn", "").c_str());
        if (d < 0) return fail(std::string(path) + ":" + std::to_string(line) + ": a call of no driver known");
        libraries[d].calls.push_back({std::move(j), line});
    }
    if (!header) return fail(std::string(path) + ": empty, not a recording");
    for (Library& l : libraries)
        std::stable_sort(l.calls.begin(), l.calls.end(), [](const Recorded& a, const Recorded& b) {
            return a.call.value("seq", 0ULL) < b.call.value("seq", 0ULL);
        });
    Replay& r = state();
    std::lock_guard<std::mutex> g(r.m);
    r.path = path;
    r.rel = rel > 0 ? rel : 0;
    r.pace = pace != 0;
    for (int d = 0; d < sim::drivers; ++d) r.libraries[d] = std::move(libraries[d]);
    r.diverged = false;
    r.report.clear();
    if (at_exit && !r.at_exit) {
        r.at_exit = true;
        std::atexit(final_check);
    }
    replay_on.store(true);
    return 0;
}

void sim_replay_stop(void) {
    Replay& r = state();
    std::lock_guard<std::mutex> g(r.m);
    replay_on.store(false);
    for (Library& l : r.libraries) l = Library();
}

int sim_replay_report(char* buf, int size) {
    Replay& r = state();
    std::lock_guard<std::mutex> g(r.m);
    const std::string text = r.report + unused(r);
    if (buf && size > 0) std::snprintf(buf, (size_t)size, "%s", text.c_str());
    return (int)text.size() + 1;
}
}
