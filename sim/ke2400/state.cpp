// Simulated KE2400: sessions, option strings, the call wrapper that files
// errors for GetError, and the settings of each session.

#include <cctype>
#include <cstdio>
#include <cstring>

#include "ke2400.hpp"

namespace ke2400 {
namespace {

constexpr size_t error_limit = 32;
constexpr const char* smu_resource = "GPIB0::24::INSTR";

struct World {
    std::map<ViSession, State> sessions;
    std::map<std::string, Settings> instruments;  // settings an instrument keeps between sessions
    std::map<std::string, std::map<int, Settings>> setups;
    State sessionless;                             // errors of calls without a valid session
};

World& world() {
    static World* w = new World;
    return *w;
}

std::string upper(std::string s) {
    for (char& ch : s) ch = (char)std::toupper((unsigned char)ch);
    return s;
}

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// IVI attributes that belong to the session, not to the instrument.
bool inherent(ViAttr id) { return id < 1100000; }

struct Option {
    const char* name;
    ViAttr attr;
};
const Option options_known[] = {
    {"RANGECHECK", KE2400_ATTR_RANGE_CHECK},         {"QUERYINSTRSTATUS", KE2400_ATTR_QUERY_INSTRUMENT_STATUS},
    {"CACHE", KE2400_ATTR_CACHE},                    {"SIMULATE", KE2400_ATTR_SIMULATE},
    {"RECORDCOERCIONS", KE2400_ATTR_RECORD_COERCIONS}, {"INTERCHANGECHECK", KE2400_ATTR_INTERCHANGE_CHECK},
};

// "Simulate=1, RangeCheck=false, DriverSetup=..." (DriverSetup takes the rest).
ViStatus parse_options(const char* text, std::map<ViAttr, double>& flags, std::string& setup, std::string& why) {
    std::string rest = text ? text : "";
    while (!trim(rest).empty()) {
        size_t comma = rest.find(',');
        std::string item = trim(rest.substr(0, comma));
        rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
        if (item.empty()) continue;
        size_t eq = item.find('=');
        std::string name = upper(trim(item.substr(0, eq)));
        if (name.empty()) return why = "option '" + item + "' has no name", KE2400_ERROR_MISSING_OPTION_NAME;
        if (eq == std::string::npos) return why = "option " + name + " has no value", KE2400_ERROR_MISSING_OPTION_VALUE;
        std::string value = trim(item.substr(eq + 1));
        if (name == "DRIVERSETUP") {
            setup = trim(value + (rest.empty() ? "" : "," + rest));
            return VI_SUCCESS;
        }
        const Option* known = nullptr;
        for (const Option& o : options_known)
            if (name == o.name) known = &o;
        if (!known) return why = "unknown option '" + trim(item.substr(0, eq)) + "'", KE2400_ERROR_BAD_OPTION_NAME;
        std::string v = upper(value);
        if (v == "1" || v == "TRUE" || v == "VI_TRUE") flags[known->attr] = 1;
        else if (v == "0" || v == "FALSE" || v == "VI_FALSE") flags[known->attr] = 0;
        else return why = "option " + name + " takes a Boolean, not '" + value + "'", KE2400_ERROR_BAD_OPTION_VALUE;
    }
    return VI_SUCCESS;
}

}  // namespace

double num(const State& st, ViAttr id) {
    auto it = st.cfg.num.find(id);
    if (it != st.cfg.num.end()) return it->second;
    const Attr* a = find_attr(id);
    return a ? a->def : 0;
}

std::string str(const State& st, ViAttr id) {
    auto it = st.cfg.str.find(id);
    if (it != st.cfg.str.end()) return it->second;
    const Attr* a = find_attr(id);
    return a && a->text ? a->text : "";
}

double extra(const State& st, const char* key, double def) {
    auto it = st.cfg.extra.find(key);
    return it == st.cfg.extra.end() ? def : it->second;
}

double extra(const State& st, Extra& s) { return extra(st, s.what, s.def); }

void reset_settings(State& st) {
    Settings fresh;
    for (auto& kv : st.cfg.num)
        if (inherent(kv.first)) fresh.num.insert(kv);
    for (auto& kv : st.cfg.str)
        if (inherent(kv.first)) fresh.str.insert(kv);
    st.cfg = fresh;
    st.last.clear();
    st.armed = false;
}

ViSession open_session(const char* resource, const char* options, bool reset, ViStatus& status, std::string& why) {
    std::map<ViAttr, double> flags;
    std::string setup;
    status = parse_options(options, flags, setup, why);
    if (status < 0) return 0;
    bool simulate = flags.count(KE2400_ATTR_SIMULATE) && flags[KE2400_ATTR_SIMULATE];
    ViSession s = sim::open(driver, resource);
    if (!s && simulate && resource && *resource) s = sim::open(driver, smu_resource);  // no I/O when simulating
    if (!s) {
        status = VI_ERROR_RSRC_NFOUND;
        why = std::string("no source-measure unit at '") + (resource ? resource : "(null)") + "'";
        return 0;
    }
    State& st = world().sessions[s] = State();
    st.resource = resource;
    st.options = options ? options : "";
    std::string key = upper(sim::instrument(s)->resource);
    if (!reset && world().instruments.count(key)) st.cfg = world().instruments[key];
    for (auto& kv : flags) st.cfg.num[kv.first] = kv.second;
    st.cfg.num[KE2400_ATTR_IO_SESSION] = 0x00100000 + s;
    st.cfg.str[KE2400_ATTR_RESOURCE_DESCRIPTOR] = resource;
    st.cfg.str[KE2400_ATTR_DRIVER_SETUP] = setup;
    return s;
}

State* state(ViSession s) {
    if (!sim::valid(s, driver)) return nullptr;
    auto it = world().sessions.find(s);
    return it == world().sessions.end() ? nullptr : &it->second;
}

void end_session(ViSession s) {
    auto it = world().sessions.find(s);
    if (it == world().sessions.end()) return;
    const sim::Instrument* in = sim::instrument(s);
    if (in) {
        Settings keep = it->second.cfg;
        for (auto i = keep.num.begin(); i != keep.num.end();) i = inherent(i->first) ? keep.num.erase(i) : ++i;
        for (auto i = keep.str.begin(); i != keep.str.end();) i = inherent(i->first) ? keep.str.erase(i) : ++i;
        world().instruments[upper(in->resource)] = keep;
    }
    world().sessions.erase(it);
    sim::close(s, driver);
}

State& errors_of(ViSession s) {
    State* st = state(s);
    return st ? *st : world().sessionless;
}

std::map<int, Settings>& setups(const std::string& resource) { return world().setups[upper(resource)]; }

// ---- Call -------------------------------------------------------------------------

void Call::sync() {
    long long& epoch = sim::integer("KE2400.epoch", 0);
    if (epoch) return;
    World& w = world();
    w.sessions.clear();
    w.instruments.clear();
    w.setups.clear();
    w.sessionless = State();
    epoch = 1;
}

bool Call::session() {
    state_ = state(vi_);
    if (state_) return true;
    char b[64];
    std::snprintf(b, sizeof b, "session 0x%X is not an open KE2400 session", (unsigned)vi_);
    return fail(VI_ERROR_INV_OBJECT, b);
}

bool Call::fail(ViStatus code, const std::string& why) {
    if (failed_ < 0) return false;  // the first failure of a call is its reason
    status(code);
    failed_ = code;
    why_ = why;
    return false;
}

bool Call::null(const void* p, const char* what) {
    return p ? false : !fail(KE2400_ERROR_NULL_POINTER, std::string(what) + " is a null pointer");
}

ViStatus Call::done() {
    ViStatus st = sim::Call::done();
    if (st >= 0) return st;
    State* target = &errors_of(vi_);
    std::string why = st == failed_ ? why_ : std::string(name()) + " failed";
    if (target->errors.size() < error_limit) target->errors.push_back({st, 0, why});
    return st;
}

}  // namespace ke2400
