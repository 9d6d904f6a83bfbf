// Replay of a recording (instrsim.replay, python -m instrsim --replay): while
// one is loaded, each simulated library's exports answer every call from it
// (<driver>_exports.cpp, generated from the driver tables) and no simulated
// instrument is reached.
#ifndef INSTR_SIM_REPLAY_HPP
#define INSTR_SIM_REPLAY_HPP

#include <cstddef>

#include "calls.hpp"
#include "sim.hpp"

namespace sim {

// The status of a call the recording does not hold at its place.
constexpr ViStatus replay_mismatch = (ViStatus)0xBFFF5E01L;

SIM_CORE_API bool replaying();
// The call `fn` with its parameters: matched with the next recorded call of
// its library; the recorded outputs written and the recorded status returned.
SIM_CORE_API ViStatus replay(const char* fn, const calls::Param* p, size_t n);

}  // namespace sim

extern "C" {
// Loads a recording and answers from it from now on; 0, or -1 with the
// reason in `error`.  rel: the relative difference allowed between reals;
// pace: each call takes its recorded time; at_exit: a divergence or unused
// calls at the process's exit end it with status 3 (python -m instrsim).
SIM_CORE_API int sim_replay_load(const char* path, double rel, int pace, int at_exit, char* error, int size);
// Ends the replay.
SIM_CORE_API void sim_replay_stop(void);
// What went wrong so far, unused calls included (empty: nothing); returns
// the bytes the report needs, zero byte included.
SIM_CORE_API int sim_replay_report(char* buf, int size);
}

#endif
