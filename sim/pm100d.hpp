// The simulated optical power meter's call: the core's, with its session and timeout
// checks. The exports (PM100D_exports.cpp) journal each call and hand it to
// its body.
#ifndef SIM_PM100D_HPP
#define SIM_PM100D_HPP

#include "pm100d.h"
#include "sim.hpp"

namespace pm100d {
using Call = sim::Call;
}

#include "PM100D_bodies.h"

#endif
