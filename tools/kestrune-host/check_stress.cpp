// The checks that time a machine: what its tail and subnormal input cost, and what a hundred
// starts cost in time and memory.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "check_context.h"
#include "check_fault.h"
#include "check_player.h"
#include "note_name.h"
#include "system.h"

namespace kestrune_host {

namespace {

using clock_type = std::chrono::steady_clock;

// The median time of count blocks of 256, in microseconds: robust against the odd block
// that the system interrupted.
double median_block_us(player& p, int count) {
    std::vector<double> times;
    for (int b = 0; b < count; ++b) {
        auto begin = clock_type::now();
        p.render(256, 256);
        times.push_back(
            std::chrono::duration<double, std::micro>(clock_type::now() - begin).count());
    }
    std::nth_element(times.begin(), times.begin() + count / 2, times.end());
    return times[static_cast<std::size_t>(count / 2)];
}

// Below this a block's cost is too small to compare: 5 us is under 0.1 % of a block of 256
// at 44100 Hz.
constexpr double least_block_us = 5.0;

} // namespace

check_row check_subnormals(check_context& c, std::string& fault) {
    const char* name = "subnormals";
    player p(c.info, 44100);
    std::string error;
    if (!p.start(nullptr, error)) {
        return not_started(name, error);
    }
    // Playing: a note (an effect hears the sine) for a second, the second half timed.
    p.tick(check_note);
    p.render(22050, 256);
    double playing = median_block_us(p, 86);
    // The tail: the note stopped (an effect's input silent), from one to three seconds after.
    p.tick(note_off_byte);
    p.set_input(player::input::silence);
    p.render(44100, 256);
    double tail = median_block_us(p, 172);
    double input = -1.0;
    if (!p.generator()) {
        p.set_input(player::input::subnormal);
        p.render(4410, 256);
        input = median_block_us(p, 86);
    }
    fault = fault_of(p.plugin());
    double base = std::max(playing, least_block_us);
    double tail_ratio = std::max(tail, least_block_us) / base;
    double input_ratio = input < 0.0 ? 0.0 : std::max(input, least_block_us) / base;
    double worst = std::max(tail_ratio, input_ratio);
    char text[160];
    std::snprintf(text, sizeof text, "the tail costs %.1fx of playing%s", tail_ratio,
                  input < 0.0 ? "" : ", subnormal input");
    std::string reason = text;
    if (input >= 0.0) {
        std::snprintf(text, sizeof text, " %.1fx", input_ratio);
        reason += text;
    }
    std::snprintf(text, sizeof text, " (%.1f us a block of 256 playing)", playing);
    reason += text;
    check_row row{name, verdict::pass, reason, {}};
    row.figures = {{"playing us", playing}, {"tail us", tail}, {"tail ratio", tail_ratio}};
    if (input >= 0.0) {
        row.figures.emplace_back("subnormal input us", input);
        row.figures.emplace_back("subnormal input ratio", input_ratio);
    }
    if (worst > 10.0) {
        row.result = verdict::fail;
    } else if (worst > 2.0) {
        row.result = verdict::warn;
    }
    if (row.result != verdict::pass) {
        row.reason = "slow on subnormal numbers: " + row.reason;
    }
    return row;
}

check_row check_starts_memory(check_context& c, std::string& fault) {
    const char* name = "starts and memory";
    constexpr int starts = 100;
    constexpr int settled = 10;
    std::vector<double> times;
    long long memory_settled = 0;
    for (int s = 0; s < starts; ++s) {
        if (s == settled) {
            memory_settled = process_memory_bytes();
        }
        auto begin = clock_type::now();
        player p(c.info, 44100);
        std::string error;
        if (!p.start(nullptr, error)) {
            if (p.has_instance()) {
                fault = fault_of(p.plugin());
            }
            return check_row{
                name, verdict::fail, "start " + std::to_string(s + 1) + ": " + error, {}};
        }
        times.push_back(
            std::chrono::duration<double, std::milli>(clock_type::now() - begin).count());
        p.tick(check_note);
        p.render(256, 256);
        if (s + 1 == starts) {
            fault = fault_of(p.plugin());
        }
    }
    long long memory_after = process_memory_bytes();
    double cold = times.front();
    std::vector<double> warm(times.begin() + 1, times.end());
    std::nth_element(warm.begin(), warm.begin() + static_cast<long>(warm.size() / 2), warm.end());
    double warm_ms = warm[warm.size() / 2];
    double growth = static_cast<double>(memory_after - memory_settled);
    char text[200];
    std::snprintf(text, sizeof text,
                  "%d starts: first %.2f ms, then %.2f ms each; memory %+.0f KB after the first %d",
                  starts, cold, warm_ms, growth / 1024.0, settled);
    check_row row{name, verdict::pass, text, {}};
    row.figures = {{"cold ms", cold}, {"warm ms", warm_ms}, {"growth bytes", growth}};
    // Some growth is the allocator's and the loader's: under Wine 90 loads of the demo delay
    // (whose delay line is a large block) leave some 1.3 MB. A machine that leaks 48 KB or more
    // a start shows as more than this over 90 starts.
    if (memory_settled > 0 && growth > 4.0 * 1024.0 * 1024.0) {
        row.result = verdict::warn;
        row.reason = "memory grows with each start: " + row.reason;
    }
    return row;
}

} // namespace kestrune_host
