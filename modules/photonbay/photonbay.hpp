// _photonbay: the optical mainframe module over the hp816x driver.
#ifndef PHOTONBAY_HPP
#define PHOTONBAY_HPP

#include <iterator>
#include <map>
#include <mutex>
#include <tuple>

#include "bind.hpp"
#include "hp816x_calls.hpp"

namespace photonbay {

// The status check: -261 is the one instrument error that lets a call go on.
bind::Checked checked(ViSession session, ViStatus status);  // what happened
void check(ViSession session, ViStatus status);

// Output-parameter wrappers built on that check (see bind.hpp).
using Q = bind::Queries<check>;

// Result arrays the driver is not told the size of: the points this process
// last set up for them (a prepared scan, a logging run, a table size the
// driver reported), per session and unit.  Under a lock of their own, held
// only for a lookup: a set-up call changes them in the driver section of the
// call itself, and a result call looks at them again in its own section.
enum class Prepared { scan, mf_scan, table, logging, stability };
struct Key {
    Prepared what;
    ViSession session;
    ViInt32 unit, channel;
    bool operator<(const Key& o) const {
        return std::tie(what, session, unit, channel) < std::tie(o.what, o.session, o.unit, o.channel);
    }
};
struct PreparedSizes {
    std::mutex lock;
    std::map<Key, long long> sizes;
};
inline PreparedSizes& prepared() {
    static PreparedSizes* s = [] {
        PreparedSizes* made = new PreparedSizes;  // never destroyed: threads may be inside as the process ends
        bind::on_fork_child([] { new (&prepared().lock) std::mutex(); });  // the child starts it free
        return made;
    }();
    return *s;
}
inline void remember(const Key& k, long long points) {
    std::lock_guard<std::mutex> g(prepared().lock);
    prepared().sizes[k] = points;
}
inline void forget(const Key& k) {
    std::lock_guard<std::mutex> g(prepared().lock);
    prepared().sizes.erase(k);
}
// A closed session's sizes go: a later session may get its number.
inline void forget_session(ViSession s) {
    std::lock_guard<std::mutex> g(prepared().lock);
    for (auto it = prepared().sizes.begin(); it != prepared().sizes.end();)
        it = it->first.session == s && it->first.what != Prepared::mf_scan ? prepared().sizes.erase(it) : std::next(it);
}
// Room for the driver: the size seen, or `most` (what the instrument can
// produce at all) when nothing is known.
inline long long room(const Key& k, long long most) {
    std::lock_guard<std::mutex> g(prepared().lock);
    auto it = prepared().sizes.find(k);
    return it == prepared().sizes.end() ? most : it->second;
}

// A set-up call (`fn` calls the driver, which writes `points`): in its
// driver section the size is remembered on success and forgotten on a
// failure (the largest room until known).  An instrument error that lets the
// call go on (-261) means the instrument did the set-up: then its size is
// remembered, unless another set-up came first.
template <class N, class Fn> ViStatus set_up(ViSession s, const Key& k, const N& points, Fn fn) {
    ViStatus status = bind::locked([&] {
        ViStatus st = fn();
        if (st >= 0) remember(k, (long long)points);
        else forget(k);
        return st;
    });
    if (checked(s, status) == bind::Checked::goes_on) {
        std::lock_guard<std::mutex> g(prepared().lock);
        prepared().sizes.emplace(k, (long long)points);
    }
    return status;
}

// A result call on arrays made with room `made`: one driver section with a
// last look at the size.  False, and no call, if another thread has set up a
// larger run since the arrays were made (make them anew and call again).
template <class Fn> bool call_with_room(const Key& k, long long most, long long made, ViStatus& status, Fn fn) {
    return bind::locked([&] {
        if (room(k, most) > made) return false;
        bind::rec::room_for_next(made);  // the arrays' items, for a recording
        status = fn();
        return true;
    });
}

// One registration function per family, called in registration order.
void add_session_functions(bind::Module& m);       // positions 1-58
void add_attenuator_functions(bind::Module& m);    // 59-106
void add_powermeter_functions(bind::Module& m);    // 107-141
void add_fixedlaser_switch_functions(bind::Module& m);  // 142-159
void add_returnloss_functions(bind::Module& m);    // 160-201
void add_tunablelaser_functions(bind::Module& m);  // 202-260
void add_lambdascan_functions(bind::Module& m);    // 261-284

}  // namespace photonbay

#endif
