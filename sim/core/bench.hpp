// Loading the bench (the core's own; drivers read it through sim::instruments()).
#ifndef INSTR_SIM_BENCH_HPP
#define INSTR_SIM_BENCH_HPP

#include <memory>
#include <string>
#include <vector>

#include "sim.hpp"

namespace sim {

struct Bench {
    std::vector<Instrument> instruments;
    bool journal = true;  // the file's "journal": calls are journaled
};

// The bench a bench file describes; null (and `error` naming the file, the
// entry and what is wrong) if anything in it is refused.
std::unique_ptr<Bench> parse_bench(const std::string& text, const std::string& file, std::string& error);
std::unique_ptr<Bench> load_bench(const std::string& path, std::string& error);
// The file at `path`, or with none bench.json beside the core, or the built-in bench.
std::unique_ptr<Bench> default_bench(const char* path, std::string& error);
// Makes `bench` the current one (instruments() returns its instruments);
// the previous one is kept.
void install_bench(std::unique_ptr<Bench> bench);
// Whether the current bench journals calls (its "journal"): what reset sets.
bool bench_journal();
// This core library's directory, ending in its separator; empty if unknown.
std::string core_directory();

}  // namespace sim

#endif
