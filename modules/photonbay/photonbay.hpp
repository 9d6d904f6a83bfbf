// _photonbay: the optical mainframe module over the hp816x driver.
#ifndef PHOTONBAY_HPP
#define PHOTONBAY_HPP

#include <map>
#include <tuple>

#include "bind.hpp"
#include "hp816x.h"

namespace photonbay {

// The status check: -261 is the one instrument error that lets a call go on.
void check(ViSession session, ViStatus status);

// Output-parameter wrappers built on that check (see bind.hpp).
using Q = bind::Queries<check>;

// Result arrays the driver is not told the size of: the points this process
// last set up for them (a prepared scan, a logging run, a table size the
// driver reported), per session and unit.  Read and written under the GIL.
enum class Seen { scan, mf_scan, table, logging, stability };
inline std::map<std::tuple<Seen, ViSession, ViInt32, ViInt32>, long long>& seen_sizes() {
    static std::map<std::tuple<Seen, ViSession, ViInt32, ViInt32>, long long> sizes;
    return sizes;
}
inline void remember(Seen what, ViSession s, ViInt32 unit, ViInt32 channel, long long points) {
    seen_sizes()[std::make_tuple(what, s, unit, channel)] = points;
}
// Room for the driver: the size seen, or `most` (what the instrument can
// produce at all) when nothing was seen.
inline long long room(Seen what, ViSession s, ViInt32 unit, ViInt32 channel, long long most) {
    auto it = seen_sizes().find(std::make_tuple(what, s, unit, channel));
    return it == seen_sizes().end() ? most : it->second;
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
