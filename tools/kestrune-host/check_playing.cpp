// The checks that play a machine harder than a plain note does: every note and command,
// parameters moving while it plays, and odd rates and block sizes.
#include <algorithm>

#include "check_context.h"
#include "check_fault.h"
#include "check_player.h"
#include "note_name.h"

namespace kestrune_host {

namespace {

// NaN or infinite samples fail, subnormal ones warn; where says when they came.
check_row judged(const char* name, const sample_counts& counts, const std::string& where,
                 std::string passed) {
    check_row row{name, verdict::pass, std::move(passed), {}};
    row.figures = {{"nan", static_cast<double>(counts.nans)},
                   {"infinite", static_cast<double>(counts.infinities)},
                   {"subnormal", static_cast<double>(counts.subnormals)}};
    if (counts.nans > 0 || counts.infinities > 0) {
        row.result = verdict::fail;
        row.reason =
            bad_sample_text(counts) + " samples" + (where.empty() ? "" : ", first " + where);
    } else if (counts.subnormals > 0) {
        row.result = verdict::warn;
        row.reason =
            bad_sample_text(counts) + " samples" + (where.empty() ? "" : ", first " + where);
    }
    return row;
}

bool bad(const sample_counts& counts) {
    return counts.nans > 0 || counts.infinities > 0 || counts.subnormals > 0;
}

std::string parameter_at(const kestrune::host_info& info, int index, int value) {
    const kestrune::host_parameter* p = info.global_params()[static_cast<std::size_t>(index)];
    return "parameter " + std::to_string(index) + " (" + (p->title != nullptr ? p->title : "") +
           ") at " + std::to_string(value);
}

} // namespace

check_row check_notes_commands(check_context& c, std::string& fault) {
    const char* name = "notes and commands";
    player p(c.info, 44100);
    std::string error;
    if (!p.start(nullptr, error)) {
        return not_started(name, error);
    }
    if (!p.generator()) {
        return check_row{name, verdict::pass, "an effect: no notes to send", {}};
    }
    p.use_tracks(c.info.most_tracks);
    const kestrune::host_parameter& notes = *c.info.track_params()[0];
    sample_counts total;
    std::string where;
    int sent = 0;
    for (int n = std::max(notes.lowest, 1); n <= std::min(notes.highest, 0x9C); ++n) {
        if ((n & 15) < 1 || (n & 15) > 12) {
            continue; // no note of the octave
        }
        auto note = static_cast<unsigned char>(n);
        p.tick({}, {{sent % p.tracks(), note, 0}});
        sample_counts counts = p.render(64, 64);
        where = where.empty() && bad(counts) ? "after note " + note_name(note) : where;
        add_counts(counts, total);
        ++sent;
    }
    std::vector<player::track_event> offs;
    offs.reserve(static_cast<std::size_t>(p.tracks()));
    for (int track = 0; track < p.tracks(); ++track) {
        offs.push_back({track, note_off_byte, 0});
    }
    p.tick({}, offs);
    add_counts(p.render(256, 256), total);
    int commands = 0;
    if (c.info.track_params().size() > 1) {
        for (int command = 0; command < 256; ++command) {
            unsigned word = static_cast<unsigned>(command << 8) |
                            static_cast<unsigned>(c.random.between(0, 255));
            p.tick({}, {{command % p.tracks(), check_note, word}});
            sample_counts counts = p.render(64, 64);
            where = where.empty() && bad(counts) ? "after command " + std::to_string(word) : where;
            add_counts(counts, total);
            ++commands;
        }
    }
    fault = fault_of(p.plugin());
    return judged(name, total, where,
                  std::to_string(sent) + " notes, note-offs and " + std::to_string(commands) +
                      " commands on " + std::to_string(p.tracks()) + " tracks");
}

check_row check_parameters_playing(check_context& c, std::string& fault) {
    const char* name = "parameters while playing";
    player p(c.info, 44100);
    std::string error;
    if (!p.start(nullptr, error)) {
        return not_started(name, error);
    }
    const auto& params = c.info.global_params();
    int count = static_cast<int>(params.size());
    sample_counts total;
    std::string where;
    // Random values for every parameter in every block: the global ones, and on each of a
    // generator's tracks a command word, with a new note every 32 blocks.
    p.use_tracks(std::min(c.info.most_tracks, 4));
    bool commands = c.info.track_params().size() > 1;
    int blocks = 100 + 40 * c.level;
    for (int b = 0; b < blocks; ++b) {
        std::vector<std::pair<int, int>> values;
        values.reserve(params.size());
        for (int i = 0; i < count; ++i) {
            values.emplace_back(i, c.random.between(params[static_cast<std::size_t>(i)]->lowest,
                                                    params[static_cast<std::size_t>(i)]->highest));
        }
        std::vector<player::track_event> tracks;
        for (int track = 0; track < p.tracks(); ++track) {
            player::track_event event{track, 0, 0};
            if (b % 32 == 0) {
                auto note = static_cast<unsigned char>(c.random.between(0x31, 0x6C));
                event.note = (note & 15) >= 1 && (note & 15) <= 12 ? note : check_note;
            }
            event.command = commands ? static_cast<unsigned>(c.random.between(0, 0xFFFF)) : 0;
            tracks.push_back(event);
        }
        p.tick(values, tracks);
        sample_counts counts = p.render(256, 256);
        where = where.empty() && bad(counts) ? "in random block " + std::to_string(b) : where;
        add_counts(counts, total);
    }
    // Automation: each parameter from its lowest to its highest value, a step every 32 samples.
    int steps_each = 32 * c.level;
    for (int i = 0; i < count; ++i) {
        const kestrune::host_parameter& param = *params[static_cast<std::size_t>(i)];
        long long span = static_cast<long long>(param.highest) - param.lowest;
        int steps = static_cast<int>(std::min<long long>(span + 1, steps_each));
        p.tick(0);
        p.tick(check_note);
        for (int s = 0; s < steps; ++s) {
            int value =
                steps < 2 ? param.highest : static_cast<int>(param.lowest + span * s / (steps - 1));
            p.tick({{i, value}}, {});
            sample_counts counts = p.render(32, 32);
            where = where.empty() && bad(counts) ? "at " + parameter_at(c.info, i, value) : where;
            add_counts(counts, total);
        }
        p.tick(0, i, param.default_value);
    }
    fault = fault_of(p.plugin());
    return judged(name, total, where,
                  std::to_string(blocks) + " blocks of random values" +
                      (p.generator() ? " on " + std::to_string(p.tracks()) + " tracks" : "") +
                      ", " + std::to_string(count) + " parameters swept in steps of 32 samples");
}

check_row check_rates_sizes(check_context& c, std::string& fault) {
    const char* name = "rates and sizes";
    sample_counts total;
    std::string where;
    auto play = [&](player& p, int block, const std::string& what) {
        p.tick(check_note);
        sample_counts counts = p.render(std::max(3 * block, p.samples_per_second() / 8), block);
        where = where.empty() && bad(counts) ? what : where;
        add_counts(counts, total);
    };
    std::string error;
    for (int rate : {8000, 192000}) {
        player p(c.info, rate);
        if (!p.start(nullptr, error)) {
            return not_started(name, error);
        }
        play(p, 256, "at " + std::to_string(rate) + " Hz");
        fault = fault_of(p.plugin());
        if (!fault.empty()) {
            return check_row{name, verdict::fail, "", {}};
        }
    }
    player p(c.info, 44100);
    if (!p.start(nullptr, error)) {
        return not_started(name, error);
    }
    play(p, 256, "at 44100 Hz");
    p.change_rate(96000);
    play(p, 256, "after a change to 96000 Hz");
    for (int block : {17, 2027, 16384}) {
        play(p, block, "in blocks of " + std::to_string(block));
    }
    fault = fault_of(p.plugin());
    return judged(name, total, where,
                  "8000 and 192000 Hz, 44100 to 96000 Hz between blocks, blocks of 17, 2027 "
                  "and 16384");
}

} // namespace kestrune_host
