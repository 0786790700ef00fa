#include "check_stages.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "check_fault.h"
#include "check_player.h"
#include "hostkit/memory_archive.h"

namespace kestrune_host {

namespace {

check_row row(const char* name, verdict v, std::string reason) {
    return check_row{name, v, std::move(reason)};
}

std::string level_text(float peak) {
    char text[32];
    std::snprintf(text, sizeof text, "peak %.1f dBFS", 20.0 * std::log10(peak));
    return peak > 0.0f ? text : "silent";
}

std::string parameter_name(const kestrune::host_info& info, std::size_t index) {
    const kestrune::host_parameter* p = info.global_params()[index];
    return std::to_string(index) + " (" + (p->title != nullptr ? p->title : "") + ")";
}

} // namespace

check_row check_start(kestrune::host_info& info, std::string& file, std::string& fault) {
    player p(info, 44100);
    std::string error;
    bool started = p.start(nullptr, error);
    if (p.has_instance()) {
        // A machine that faulted while it started (or whose process ended) says so here.
        std::string about = about_text(p.plugin());
        file = machine_path(about);
        fault = faulted_call(about);
    }
    return started ? row("starts", verdict::pass, "an instance starts at 44100 Hz")
                   : row("starts", verdict::fail, error);
}

check_row check_render(kestrune::host_info& info, int samples_per_second, std::string& fault) {
    std::string name = "render " + std::to_string(samples_per_second) + " Hz";
    player p(info, samples_per_second);
    std::string error;
    if (!p.start(nullptr, error)) {
        return check_row{name, verdict::fail, error};
    }
    sample_counts total;
    std::string silent;
    for (int block : check_blocks) {
        p.tick(check_note);
        // A quarter of a second, and at least three whole blocks.
        sample_counts counts = p.render(std::max(samples_per_second / 4, 3 * block), block);
        if (p.generator() && counts.peak < silence_peak) {
            silent += (silent.empty() ? "" : ", ") + std::to_string(block);
        }
        add_counts(counts, total);
    }
    fault = fault_of(p.plugin());
    std::string bad = bad_sample_text(total);
    if (total.nans > 0 || total.infinities > 0) {
        return check_row{name, verdict::fail, bad + " samples"};
    }
    if (!bad.empty()) {
        return check_row{name, verdict::warn, bad + " samples"};
    }
    if (!silent.empty()) {
        return check_row{name, verdict::warn, "silent with a note playing, blocks of " + silent};
    }
    return check_row{name, verdict::pass, "blocks of 1 to 8192, " + level_text(total.peak)};
}

check_row check_parameters(kestrune::host_info& info, std::string& fault) {
    player p(info, 44100);
    std::string error;
    if (!p.start(nullptr, error)) {
        return row("parameters", verdict::fail, error);
    }
    std::string problems;
    int checked = 0;
    for (std::size_t i = 0; i < info.global_params().size() && problems.empty(); ++i) {
        const kestrune::host_parameter& param = *info.global_params()[i];
        for (int value : {param.lowest, param.highest, param.default_value}) {
            p.tick(0, static_cast<int>(i), value);
            p.render(256, 256);
            const char* text = p.plugin().value_text(static_cast<int>(i), value);
            if (text == nullptr || std::memchr(text, '\0', 128) == nullptr) {
                problems = parameter_name(info, i) + " at " + std::to_string(value) + ": " +
                           (text == nullptr ? "no value text" : "value text over 127 characters");
                break;
            }
            ++checked;
        }
    }
    fault = fault_of(p.plugin());
    if (!problems.empty()) {
        return row("parameters", verdict::fail, problems);
    }
    return row("parameters", verdict::pass,
               std::to_string(info.global_params().size()) + " global parameters, " +
                   std::to_string(checked) + " values with their texts");
}

check_row check_state(kestrune::host_info& info, std::string& fault) {
    player first(info, 44100);
    std::string error;
    if (!first.start(nullptr, error)) {
        return row("state", verdict::fail, error);
    }
    // Away from the defaults, so that the state says something.
    for (std::size_t i = 0; i < info.global_params().size(); ++i) {
        first.tick(0, static_cast<int>(i), info.global_params()[i]->highest);
    }
    hostkit::memory_archive stored;
    first.plugin().store_state(&stored);
    fault = fault_of(first.plugin());
    if (!fault.empty()) {
        return row("state", verdict::fail, "");
    }
    player second(info, 44100);
    if (!second.start(&stored, error)) {
        return row("state", verdict::fail, "restoring: " + error);
    }
    hostkit::memory_archive again;
    second.plugin().store_state(&again);
    fault = fault_of(second.plugin());
    std::size_t bytes = 0;
    for (const auto& [name, stream] : stored.entries) {
        bytes += stream.size();
    }
    if (stored.entries != again.entries) {
        std::size_t bytes_again = 0;
        for (const auto& [name, stream] : again.entries) {
            bytes_again += stream.size();
        }
        return row("state", verdict::fail,
                   "stored " + std::to_string(bytes) + " bytes; restored and stored again, " +
                       std::to_string(bytes_again) + " bytes that differ");
    }
    return row("state", verdict::pass, std::to_string(bytes) + " bytes, the same after a restore");
}

check_row check_start_twice(kestrune::host_info& info, std::string& fault) {
    player p(info, 44100);
    std::string error;
    if (!p.start(nullptr, error)) {
        return row("start twice", verdict::fail, error);
    }
    p.plugin().start(nullptr);
    p.tick(check_note);
    sample_counts counts = p.render(4096, 256);
    fault = fault_of(p.plugin());
    if (counts.nans > 0 || counts.infinities > 0) {
        return row("start twice", verdict::fail, bad_sample_text(counts) + " samples after");
    }
    return row("start twice", verdict::pass, "plays on after a second start");
}

check_row check_mute_halt(kestrune::host_info& info, std::string& fault) {
    player p(info, 44100);
    std::string error;
    if (!p.start(nullptr, error)) {
        return row("mute and halt", verdict::fail, error);
    }
    kestrune::host_plugin& plugin = p.plugin();
    p.tick(check_note);
    float before = p.render(4410, 256).peak;
    plugin.halt();
    p.tick(0);
    p.render(441, 256); // 10 ms to stop in
    float after = p.render(2205, 256).peak;
    plugin.mute(0);
    bool muted = plugin.is_muted(0);
    fault = fault_of(plugin);
    std::string said = std::string("track 0 ") + (muted ? "muted" : "not reported muted");
    if (p.generator() && before >= silence_peak && after >= silence_peak) {
        return row("mute and halt", verdict::warn,
                   "still sounds 10 ms after halt (" + level_text(after) + "); " + said);
    }
    return row("mute and halt", verdict::pass, "halt stops the sound; " + said);
}

} // namespace kestrune_host
