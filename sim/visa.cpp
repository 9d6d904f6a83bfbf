// Simulated VISA library: resource managers over the simulated instruments,
// resource search with VISA regular expressions, find lists, instrument
// sessions with per-session attributes.
#include <cctype>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "visa.hpp"

namespace {

// ---- resource names -----------------------------------------------------------

std::string upper(std::string s) {
    for (char& ch : s) ch = (char)std::toupper((unsigned char)ch);
    return s;
}

std::vector<std::string> tokens(const std::string& name) {
    std::vector<std::string> t;
    size_t from = 0;
    for (;;) {
        size_t at = name.find("::", from);
        t.push_back(name.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return t;
        from = at + 2;
    }
}

bool is_class(const std::string& t) {
    static const char* classes[] = {"INSTR", "INTFC", "SOCKET", "RAW", "BACKPLANE", "SERVANT", "MEMACC"};
    for (const char* c : classes)
        if (t == c) return true;
    return false;
}

// The full upper-case form of a resource name, with the parts VISA lets a
// name leave out: board 0, class INSTR, LAN device inst0. Empty if malformed.
std::string canonical(const char* name) {
    std::string s = name;
    size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    if (b == std::string::npos) return "";
    std::vector<std::string> t = tokens(upper(s.substr(b, e - b + 1)));
    for (const std::string& x : t)
        if (x.empty()) return "";
    if (!std::isdigit((unsigned char)t[0].back())) t[0] += '0';
    if (!is_class(t.back())) t.push_back("INSTR");
    if (t[0].compare(0, 5, "TCPIP") == 0 && t.back() == "INSTR" && t.size() == 3)
        t.insert(t.begin() + 2, "INST0");
    std::string out = t[0];
    for (size_t i = 1; i < t.size(); ++i) out += "::" + t[i];
    return out;
}

const sim::Instrument* lookup(const char* name) {
    std::string want = canonical(name);
    for (const sim::Instrument& in : sim::instruments())
        if (!want.empty() && canonical(in.resource) == want) return &in;
    return nullptr;
}

// ---- resource expressions -------------------------------------------------------
// ? one character, [list] [^list] with ranges a-z, * and + repeat what precedes,
// a|b either, (...) groups, \ quotes the next character. Case-insensitive;
// the expression has to match the whole resource name.

struct Node {
    enum Op { Char, Any, Class, Seq, Alt, Star, Plus } op;
    char ch = 0;
    bool negate = false;
    std::vector<std::pair<char, char>> ranges;
    std::vector<Node> kids;
};

struct Parser {
    const char* p;
    bool bad = false;

    Node alt() {
        Node n{Node::Alt};
        n.kids.push_back(seq());
        while (*p == '|') {
            ++p;
            n.kids.push_back(seq());
        }
        return n;
    }
    Node seq() {
        Node n{Node::Seq};
        while (*p && *p != '|' && *p != ')' && !bad) {
            if (*p == '*' || *p == '+') {
                if (n.kids.empty()) bad = true;  // nothing to repeat
                if (bad) break;
                Node r{*p == '*' ? Node::Star : Node::Plus};
                r.kids.push_back(n.kids.back());
                n.kids.back() = r;
                ++p;
                continue;
            }
            n.kids.push_back(atom());
        }
        return n;
    }
    Node atom() {
        char c = *p++;
        switch (c) {
        case '?': return Node{Node::Any};
        case '(': {
            Node n = alt();
            if (*p != ')') bad = true;
            else ++p;
            return n;
        }
        case '[': return set();
        case ']': case '{': case '}': bad = true; return Node{Node::Any};
        case '\\':
            if (!*p) { bad = true; return Node{Node::Any}; }
            c = *p++;
            break;
        }
        Node n{Node::Char};
        n.ch = c;
        return n;
    }
    Node set() {
        Node n{Node::Class};
        if (*p == '^') {
            n.negate = true;
            ++p;
        }
        while (*p && *p != ']') {
            char lo = *p++;
            if (lo == '\\' && *p) lo = *p++;
            char hi = lo;
            if (*p == '-' && p[1] && p[1] != ']') {
                hi = p[1];
                p += 2;
                if (hi == '\\' && *p) hi = *p++;
            }
            if (hi < lo) bad = true;
            n.ranges.push_back({lo, hi});
        }
        if (*p != ']' || n.ranges.empty()) bad = true;
        else ++p;
        return n;
    }
};

bool in_ranges(const Node& n, char c) {
    for (auto& r : n.ranges) {
        char a = (char)std::tolower((unsigned char)c), b = (char)std::toupper((unsigned char)c);
        if ((a >= r.first && a <= r.second) || (b >= r.first && b <= r.second)) return true;
    }
    return false;
}

// Every position at which `n` can end when it starts at `at`.
void ends(const Node& n, const std::string& s, size_t at, std::set<size_t>& out) {
    switch (n.op) {
    case Node::Char:
        if (at < s.size() && std::tolower((unsigned char)s[at]) == std::tolower((unsigned char)n.ch))
            out.insert(at + 1);
        return;
    case Node::Any:
        if (at < s.size()) out.insert(at + 1);
        return;
    case Node::Class:
        if (at < s.size() && in_ranges(n, s[at]) != n.negate) out.insert(at + 1);
        return;
    case Node::Alt:
        for (const Node& k : n.kids) ends(k, s, at, out);
        return;
    case Node::Seq: {
        std::set<size_t> cur{at};
        for (const Node& k : n.kids) {
            std::set<size_t> next;
            for (size_t i : cur) ends(k, s, i, next);
            cur.swap(next);
        }
        out.insert(cur.begin(), cur.end());
        return;
    }
    case Node::Star:
    case Node::Plus: {
        std::set<size_t> reach, todo{at};  // reach: ends after one or more repeats
        while (!todo.empty()) {
            std::set<size_t> next;
            for (size_t i : todo) ends(n.kids[0], s, i, next);
            todo.clear();
            for (size_t i : next)
                if (reach.insert(i).second) todo.insert(i);
        }
        if (n.op == Node::Star) reach.insert(at);
        out.insert(reach.begin(), reach.end());
        return;
    }
    }
}

// ---- objects: resource managers, sessions, find lists -----------------------------

enum Kind { RM, INSTR, FIND };
enum Type { U8, U16, U32, BOOL, TEXT };

struct Attribute {
    ViAttr id;
    Type type;
    bool writable;
    ViAttrState value;
    std::string text;
};

struct Object {
    Kind kind;
    ViSession parent;                      // resource manager of a session or find list
    const sim::Instrument* instrument;     // sessions
    std::vector<Attribute> attrs;
    std::vector<std::string> found;        // find lists
    size_t next = 0;
};

}  // namespace

namespace visa {
struct Bus {
    std::map<ViSession, Object> objects;
    ViSession next_rm = 0, next = 0;
};

Bus& bus() {
    static Bus* b = new Bus;  // never destroyed: the library may be called during exit
    long long& live = sim::integer("visa.live", 0);
    if (!live) {
        b->objects.clear();
        b->next_rm = 0x80000001u;  // above 2^31: handles are unsigned
        b->next = sim::session_base(sim::driver_of("vi"));  // no other driver's session has such a number
        live = 1;
    }
    return *b;
}
}  // namespace visa

using visa::Bus;
using visa::Call;

namespace {

Object* find(Bus& b, ViSession h) {
    auto it = b.objects.find(h);
    return it == b.objects.end() ? nullptr : &it->second;
}

Attribute* attribute(Object& o, ViAttr id) {
    for (Attribute& a : o.attrs)
        if (a.id == id) return &a;
    return nullptr;
}

void numeric(Object& o, ViAttr id, Type t, ViAttrState v, bool writable = false) {
    o.attrs.push_back({id, t, writable, v, ""});
}
void text(Object& o, ViAttr id, const std::string& v) { o.attrs.push_back({id, TEXT, false, 0, v}); }

// Field `i` of a comma-separated *IDN? answer ("" if it has fewer).
std::string field(const std::string& idn, size_t i) {
    size_t b = 0;
    for (; i > 0; --i) {
        b = idn.find(',', b);
        if (b == std::string::npos) return "";
        ++b;
    }
    return idn.substr(b, idn.find(',', b) - b);
}

const char* vendor = "instrbind simulated VISA";

void generic(Object& o) {
    text(o, VI_ATTR_RSRC_MANF_NAME, vendor);
    numeric(o, VI_ATTR_RSRC_SPEC_VERSION, U32, 0x00500800);  // 5.8
    numeric(o, VI_ATTR_RSRC_IMPL_VERSION, U32, 0x00100000);  // 1.0
}

// The attributes of a new session on `in`.
void session_attributes(Object& o, const sim::Instrument& in, ViAccessMode mode) {
    std::vector<std::string> t = tokens(canonical(in.resource));
    const std::string& intf = t[0];
    size_t digits = intf.find_first_of("0123456789");
    std::string kind = intf.substr(0, digits);
    ViUInt16 type = kind == "GPIB" ? VI_INTF_GPIB : kind == "TCPIP" ? VI_INTF_TCPIP
                  : kind == "USB" ? VI_INTF_USB : VI_INTF_ASRL;
    std::string idn = in.idn;

    generic(o);
    text(o, VI_ATTR_RSRC_NAME, in.resource);
    text(o, VI_ATTR_RSRC_CLASS, "INSTR");
    numeric(o, VI_ATTR_RSRC_LOCK_STATE, U32, mode & (VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK));
    numeric(o, VI_ATTR_INTF_TYPE, U16, type);
    numeric(o, VI_ATTR_INTF_NUM, U16, std::stoul(intf.substr(digits)));
    numeric(o, VI_ATTR_TMO_VALUE, U32, 2000, true);
    numeric(o, VI_ATTR_TERMCHAR, U8, '\n', true);
    numeric(o, VI_ATTR_TERMCHAR_EN, BOOL, VI_FALSE, true);
    numeric(o, VI_ATTR_SEND_END_EN, BOOL, VI_TRUE, true);
    text(o, VI_ATTR_MANF_NAME, field(idn, 0));
    text(o, VI_ATTR_MODEL_NAME, field(idn, 1));
    switch (type) {
    case VI_INTF_GPIB:
        numeric(o, VI_ATTR_GPIB_PRIMARY_ADDR, U16, std::stoul(t[1]));
        numeric(o, VI_ATTR_GPIB_SECONDARY_ADDR, U16, VI_NO_SEC_ADDR);
        break;
    case VI_INTF_TCPIP:
        text(o, VI_ATTR_TCPIP_ADDR, tokens(in.resource)[1]);
        text(o, VI_ATTR_TCPIP_HOSTNAME, "");
        text(o, VI_ATTR_TCPIP_DEVICE_NAME, "inst0");
        break;
    case VI_INTF_USB:
        numeric(o, VI_ATTR_MANF_ID, U16, std::stoul(t[1], nullptr, 0));
        numeric(o, VI_ATTR_MODEL_CODE, U16, std::stoul(t[2], nullptr, 0));
        text(o, VI_ATTR_USB_SERIAL_NUM, tokens(in.resource)[3]);
        break;
    default:
        numeric(o, VI_ATTR_ASRL_BAUD, U32, 9600, true);
        numeric(o, VI_ATTR_ASRL_DATA_BITS, U16, 8, true);
        break;
    }
}

bool fits(const Attribute& a, ViAttrState v) {
    switch (a.type) {
    case U8: return v <= 0xFF;
    case U16: return v <= 0xFFFF;
    case U32: return v <= 0xFFFFFFFFu;
    case BOOL: return v == VI_FALSE || v == VI_TRUE;
    case TEXT: return false;
    }
    return false;
}

void put_numeric(void* buf, const Attribute& a) {
    unsigned char* out = (unsigned char*)buf;
    size_t n = sizeof(ViUInt32);  // every numeric attribute zero-extended to 32 bits
    ViUInt32 v = (ViUInt32)a.value;
    for (size_t i = 0; i < n; ++i) out[i] = (unsigned char)(v >> (8 * i));  // little-endian
    if (sim::hostile())  // the rest of the caller's buffer as if it held leftovers
        for (size_t i = n; i < VI_FIND_BUFLEN; ++i) out[i] = (unsigned char)('a' + i % 26);
}

}  // namespace

extern "C" {

ViStatus body_viOpenDefaultRM(Call& c, ViPSession vi) {
    Bus& b = c.b;
    if (!vi) {
        c.status(VI_ERROR_USER_BUF);
        return c.done();
    }
    ViSession h = b.next_rm++;
    Object& o = b.objects[h];
    o.kind = RM;
    o.parent = 0;
    o.instrument = nullptr;
    generic(o);
    numeric(o, VI_ATTR_RSRC_LOCK_STATE, U32, VI_NO_LOCK);
    *vi = h;
    return c.done();
}

ViStatus body_viFindRsrc(Call& c, ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt, ViChar desc[]) {
    Bus& b = c.b;
    Object* rm = find(b, sesn);
    if (!rm || rm->kind != RM) {
        c.status(VI_ERROR_INV_OBJECT);
        return c.done();
    }
    if (!desc) {
        c.status(VI_ERROR_USER_BUF);
        return c.done();
    }
    Parser p{expr ? expr : ""};
    Node root = p.alt();
    if (!expr || p.bad || *p.p) {
        c.status(VI_ERROR_INV_EXPR);
        return c.done();
    }
    std::vector<std::string> found;
    for (const sim::Instrument& in : sim::instruments()) {
        std::set<size_t> e;
        std::string name = in.resource;
        ends(root, name, 0, e);
        if (e.count(name.size())) found.push_back(name);
    }
    if (found.empty()) {  // outputs left as they were
        c.status(VI_ERROR_RSRC_NFOUND);
        return c.done();
    }
    if (vi) {  // without a place for it the find list is closed at once
        ViSession h = b.next++;
        Object& o = b.objects[h];
        o.kind = FIND;
        o.parent = sesn;
        o.instrument = nullptr;
        o.found = found;
        o.next = 1;
        *vi = h;
    }
    if (retCnt) *retCnt = (ViUInt32)found.size();
    sim::put_text(desc, VI_FIND_BUFLEN, found[0]);
    return c.done();
}

ViStatus body_viFindNext(Call& c, ViFindList vi, ViChar desc[]) {
    Bus& b = c.b;
    Object* o = find(b, vi);
    if (!o || o->kind != FIND) c.status(VI_ERROR_INV_OBJECT);
    else if (!desc) c.status(VI_ERROR_USER_BUF);
    else if (o->next >= o->found.size()) c.status(VI_ERROR_RSRC_NFOUND);
    else sim::put_text(desc, VI_FIND_BUFLEN, o->found[o->next++]);
    return c.done();
}

ViStatus body_viOpen(Call& c, ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViPSession vi) {
    Bus& b = c.b;
    Object* rm = find(b, sesn);
    const ViAccessMode locks = VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK;
    if (!rm || rm->kind != RM) {
        c.status(VI_ERROR_INV_OBJECT);
        return c.done();
    }
    if (!vi) {
        c.status(VI_ERROR_USER_BUF);
        return c.done();
    }
    if ((mode & ~(locks | VI_LOAD_CONFIG)) || (mode & locks) == locks) {
        c.status(VI_ERROR_INV_ACC_MODE);
        return c.done();
    }
    if (!name || canonical(name).empty()) {
        c.status(VI_ERROR_INV_RSRC_NAME);
        return c.done();
    }
    const sim::Instrument* in = lookup(name);
    if (!in) {
        c.status(VI_ERROR_RSRC_NFOUND);
        return c.done();
    }
    // A lock request fails while another session holds a lock it conflicts with.
    if (mode & locks)
        for (auto& kv : b.objects) {
            Object& other = kv.second;
            if (other.kind != INSTR || other.instrument != in) continue;
            ViAttrState held = attribute(other, VI_ATTR_RSRC_LOCK_STATE)->value;
            if (held == VI_EXCLUSIVE_LOCK || (held == VI_SHARED_LOCK && (mode & VI_EXCLUSIVE_LOCK))) {
                c.status(VI_ERROR_RSRC_LOCKED);
                return c.done();
            }
        }
    ViSession h = b.next++;
    Object& o = b.objects[h];
    o.kind = INSTR;
    o.parent = sesn;
    o.instrument = in;
    session_attributes(o, *in, mode);
    sim::set_timeout(h, attribute(o, VI_ATTR_TMO_VALUE)->value / 1000.0);  // bounds the session's calls
    *vi = h;
    return c.done();
}

ViStatus body_viClose(Call& c, ViObject vi) {
    Bus& b = c.b;
    Object* o = find(b, vi);
    if (vi == VI_NULL) {
        c.status(VI_WARN_NULL_OBJECT);
    } else if (!o) {
        c.status(VI_ERROR_INV_OBJECT);
    } else {
        if (o->kind == RM)  // closing a resource manager closes what it opened
            for (auto it = b.objects.begin(); it != b.objects.end();) {
                if (it->second.parent != vi) {
                    ++it;
                    continue;
                }
                sim::forget_timeout(it->first);
                it = b.objects.erase(it);
            }
        sim::forget_timeout(vi);
        b.objects.erase(vi);
    }
    return c.done();
}

ViStatus body_viGetAttribute(Call& c, ViObject vi, ViAttr attrName, void* attrValue) {
    Bus& b = c.b;
    Object* o = find(b, vi);
    Attribute* a = o ? attribute(*o, attrName) : nullptr;
    if (!o) c.status(VI_ERROR_INV_OBJECT);
    else if (c.timed_out()) c.status(VI_ERROR_TMO);
    else if (!a) c.status(VI_ERROR_NSUP_ATTR);
    else if (!attrValue) c.status(VI_ERROR_USER_BUF);
    else if (a->type == TEXT) sim::put_text((char*)attrValue, VI_FIND_BUFLEN, a->text);
    else put_numeric(attrValue, *a);
    return c.done();
}

ViStatus body_viSetAttribute(Call& c, ViObject vi, ViAttr attrName, ViAttrState attrValue) {
    Bus& b = c.b;
    Object* o = find(b, vi);
    Attribute* a = o ? attribute(*o, attrName) : nullptr;
    if (!o) c.status(VI_ERROR_INV_OBJECT);
    else if (c.timed_out()) c.status(VI_ERROR_TMO);
    else if (!a) c.status(VI_ERROR_NSUP_ATTR);
    else if (!a->writable) c.status(VI_ERROR_ATTR_READONLY);
    else if (!fits(*a, attrValue)) c.status(VI_ERROR_NSUP_ATTR_STATE);
    else {
        a->value = attrValue;
        if (attrName == VI_ATTR_TMO_VALUE)  // VI_TMO_INFINITE: no limit
            sim::set_timeout(vi, attrValue == VI_TMO_INFINITE ? -1 : attrValue / 1000.0);
    }
    return c.done();
}

}  // extern "C"
