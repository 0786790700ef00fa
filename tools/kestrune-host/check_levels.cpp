#include "check_levels.h"

#include <cstring>
#include <utility>

namespace kestrune_host {

namespace {

struct level_entry {
    const char* name; // a row name, or its first words ("render ")
    int level;
};

// In the order the checks run. A name ending in a space matches every row it begins.
constexpr level_entry levels[] = {
    {"render 44100 Hz", 1},
    {"parameters", 2},
    {"state", 2},
    {"render ", 3},
    {"start twice", 3},
    {"mute and halt", 3},
    {"cost", 4},
    {"notes and commands", 4},
    {"parameters while playing", 5},
    {"damaged state", 5},
    {"rates and sizes", 6},
    {"two instances", 6},
    {"threads", 7},
    {"subnormals", 7},
    {"starts and memory", 8},
    {"allocations", 9},
};

} // namespace

int check_level(const std::string& name) {
    for (const level_entry& entry : levels) {
        std::size_t length = std::strlen(entry.name);
        bool prefix = length > 0 && entry.name[length - 1] == ' ';
        if (prefix ? name.compare(0, length, entry.name) == 0 : name == entry.name) {
            return entry.level;
        }
    }
    return lowest_level;
}

bool runs_at(const std::string& name, int level) {
    return check_level(name) <= level;
}

std::uint64_t random_stream::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

int random_stream::between(int lowest, int highest) {
    if (highest < lowest) {
        std::swap(lowest, highest);
    }
    auto span = static_cast<std::uint64_t>(static_cast<std::int64_t>(highest) - lowest) + 1;
    return static_cast<int>(lowest + static_cast<std::int64_t>(next() % span));
}

double random_stream::unit() {
    return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
}

std::uint64_t run_seed(std::uint64_t seed, int repetition) {
    return seed + static_cast<std::uint64_t>(repetition);
}

} // namespace kestrune_host
