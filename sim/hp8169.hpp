// The simulated polarization controller's call: the core's, with its session and timeout
// checks. The exports (hp8169_exports.cpp) journal each call and hand it to
// its body.
#ifndef SIM_HP8169_HPP
#define SIM_HP8169_HPP

#include "hp8169.h"
#include "sim.hpp"

namespace hp8169 {
using Call = sim::Call;
}

#include "hp8169_bodies.h"

#endif
