// The simulated VISA library's call: the core's, with the table of VISA's
// objects (resource managers, find lists, sessions), which each function
// checks itself. The exports (visa_exports.cpp) journal each call and hand it
// to its body.
#ifndef SIM_VISA_HPP
#define SIM_VISA_HPP

#include "sim.hpp"
#include "visa.h"

namespace visa {
struct Bus;
// The object table, emptied first if the simulator core was reset since the
// last call; under the core's model lock.
Bus& bus();

class Call : public sim::Call {
public:
    template <class... A> Call(const char* fn, A... args) : sim::Call(fn, args...), b(bus()) {}
    Bus& b;
};
}  // namespace visa

#include "visa_bodies.h"

#endif
