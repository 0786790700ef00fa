// What a render plays, worked out from its command line before any machine runs, so that a
// bad request is refused before anything is written.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "render_plan.h"
#include "render_settings.h"
#include "session.h"
#include "state_file.h"
#include "wav_file.h"

namespace kestrune_host {

struct render_job {
    kestrune::host_info* info = nullptr;  // the machine
    bool generator = false;               // else an effect
    std::optional<stored_state> restored; // from --state
    std::optional<stereo_sound> input;    // an effect's
    int tracks = 0;                       // a generator's tracks in use
    timing song;
    render_plan plan;              // the notes by tick, and the number of samples
    std::vector<setting> settings; // host values for the first tick; --value's come later
};

// 0 with job filled in, or the exit code once the error is reported.
int plan_render(session& s, const render_options& o, render_job& job);

// "\"Kestrune Demo Synth\"", the machine as messages name it.
std::string quoted_name(const kestrune::host_info& info);
// "2.00", seconds as messages give them.
std::string seconds_text(double seconds);

} // namespace kestrune_host
