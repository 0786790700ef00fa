// Allocations on the audio path: the machine's own heap calls while it takes events and
// renders, counted through its imports (allocation_count.h).
#include "allocation_count.h"
#include "check_context.h"
#include "check_fault.h"
#include "check_player.h"

namespace kestrune_host {

check_row check_allocations(check_context& c, std::string& fault) {
    const char* name = "allocations";
    player p(c.info, 44100);
    std::string error;
    if (!p.start(nullptr, error)) {
        return not_started(name, error);
    }
    std::string file = machine_path(about_text(p.plugin()));
    // After the player, so that the imports are put back before its machine goes.
    allocation_counter counter;
    int redirected = counter.attach(file);
    if (redirected == 0) {
        return check_row{name, verdict::pass, "it imports no heap function: none to count"};
    }
    const auto& params = c.info.global_params();
    constexpr int blocks = 200;
    counter.start();
    for (int b = 0; b < blocks; ++b) {
        std::vector<std::pair<int, int>> values;
        if (b % 8 == 0) {
            for (std::size_t i = 0; i < params.size(); ++i) {
                values.emplace_back(static_cast<int>(i),
                                    c.random.between(params[i]->lowest, params[i]->highest));
            }
        }
        std::vector<player::track_event> notes;
        if (b % 50 == 0) {
            notes.push_back({0, check_note, 0});
        }
        p.tick(values, notes);
        p.render(256, 256);
    }
    counter.stop();
    fault = fault_of(p.plugin());
    long long count = counter.count();
    check_row row{name,
                  verdict::pass,
                  "none in " + std::to_string(blocks) + " ticks and blocks of 256 (" +
                      std::to_string(redirected) + " heap imports watched)",
                  {{"allocations", static_cast<double>(count)}}};
    if (count > 0) {
        row.result = c.level >= highest_level ? verdict::fail : verdict::warn;
        row.reason = std::to_string(count) + " heap calls in " + std::to_string(blocks) +
                     " ticks and blocks of 256: render and take_events allocate";
    }
    return row;
}

} // namespace kestrune_host
