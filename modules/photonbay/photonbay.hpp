// _photonbay: the optical mainframe module over the hp816x driver.
#ifndef PHOTONBAY_HPP
#define PHOTONBAY_HPP

#include "bind.hpp"
#include "hp816x.h"

namespace photonbay {

// The status check: -261 is the one instrument error that lets a call go on.
void check(ViSession session, ViStatus status);

// Output-parameter wrappers built on that check (see bind.hpp).
using Q = bind::Queries<check>;

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
