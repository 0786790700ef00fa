// The notes of render's command line: each --note starts one, and the --track, --at, --length
// and --command options that follow it, up to the next --note, fill it in.
#pragma once

#include <string>
#include <vector>

#include "render_plan.h"

namespace kestrune_host {

enum class note_field { note, track, at, length, command };

struct note_option {
    note_field field;
    const char* flag;
    const char* help;
};

inline constexpr note_option note_options[] = {
    {note_field::note, "--note",
     "A note to play: C-4, C#4, Db4 (octaves 0 to 9; A-4 is 440 Hz in a well-tuned machine) or "
     "\"off\". The --track, --at, --length and --command after it belong to it"},
    {note_field::track, "--track", "The track of the note before (default 0)"},
    {note_field::at, "--at", "When the note before starts, in beats (default 0)"},
    {note_field::length, "--length", "The note before ends this many beats later"},
    {note_field::command, "--command", "The note before's command word (0C40)"},
};

// One option as given on the command line.
struct note_value {
    note_field field;
    std::string value;
};

// Adds the notes that given (in command-line order) make up to notes; false with error at the
// first value that isn't one, or that comes before any --note.
bool collect_notes(const std::vector<note_value>& given, std::vector<note_request>& notes,
                   std::string& error);

} // namespace kestrune_host
