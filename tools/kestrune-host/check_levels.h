// How strict "check" is: each check has a level from 1 to 10, and a run at level N runs the
// checks up to N. Plain uses come first, heavy and strict checks last.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune_host {

constexpr int lowest_level = 1;
constexpr int highest_level = 10;
constexpr int default_level = 5;

// The level of a check by its row name ("render 44100 Hz", "threads"); rows that always show
// ("announced", "starts", "fault") answer lowest_level, and so does a name not in the table.
int check_level(const std::string& name);
bool runs_at(const std::string& name, int level);

// A stream of pseudo-random numbers from one seed, the same on every build and compiler
// (splitmix64), so that a run can be repeated exactly with --seed.
class random_stream {
public:
    explicit random_stream(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    // Uniform over lowest..highest inclusive (either order).
    int between(int lowest, int highest);
    // Uniform over [0, 1).
    double unit();

private:
    std::uint64_t state_;
};

// The seed of a machine's checks: the run's seed, so that checking one machine alone repeats
// what a check of the whole folder did to it.
std::uint64_t run_seed(std::uint64_t seed, int repetition);

} // namespace kestrune_host
