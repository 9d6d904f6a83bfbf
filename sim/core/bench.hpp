// Loading the bench (the core's own; drivers read it through sim::instruments()).
#ifndef INSTR_SIM_BENCH_HPP
#define INSTR_SIM_BENCH_HPP

#include <memory>
#include <string>
#include <vector>

#include "sim.hpp"

namespace sim {

// The instruments a bench file lists; null (and `error` naming the file, the
// entry and what is wrong) if anything in it is refused.
std::unique_ptr<std::vector<Instrument>> parse_bench(const std::string& text, const std::string& file,
                                                     std::string& error);
std::unique_ptr<std::vector<Instrument>> load_bench(const std::string& path, std::string& error);
// The file at `path`, or with none bench.json beside the core, or the built-in bench.
std::unique_ptr<std::vector<Instrument>> default_bench(const char* path, std::string& error);
// Makes `bench` the one instruments() returns; the previous one is kept.
void install_bench(std::unique_ptr<std::vector<Instrument>> bench);
// This core library's directory, ending in its separator; empty if unknown.
std::string core_directory();

}  // namespace sim

#endif
