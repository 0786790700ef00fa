#include "note_options.h"

#include <cstdlib>

#include "choose.h"
#include "note_name.h"

namespace kestrune_host {

namespace {

const char* flag_of(note_field field) {
    for (const note_option& option : note_options) {
        if (option.field == field) {
            return option.flag;
        }
    }
    return "";
}

bool start_note(const std::string& value, std::vector<note_request>& notes, std::string& error) {
    auto byte = parse_note(value);
    if (!byte) {
        error = "\"" + value + "\" is not a note: write C-4, C#4, Db4 (octaves 0 to 9) or off";
        return false;
    }
    notes.push_back(note_request{});
    notes.back().note = *byte;
    return true;
}

bool read_track(const std::string& value, note_request& n, std::string& error) {
    auto number = parse_integer(value);
    if (!number || *number < 0 || *number > 255) {
        error = "--track " + value + ": a track is a number from 0";
        return false;
    }
    n.track = static_cast<int>(*number);
    return true;
}

bool read_beats(const note_value& given, double& beats, std::string& error) {
    const char* text = given.value.c_str();
    char* end = nullptr;
    beats = std::strtod(text, &end);
    if (end == text || *end != '\0') {
        error = std::string(flag_of(given.field)) + " " + given.value + ": give a number of beats";
        return false;
    }
    return true;
}

bool read_command(const std::string& value, note_request& n, std::string& error) {
    std::string digits = value.rfind("0x", 0) == 0 ? value.substr(2) : value;
    auto word = parse_integer("0x" + digits);
    if (digits.empty() || digits.size() > 4 || !word) {
        error = "--command " + value + ": give the command word as four hexadecimal digits, " +
                "the command then its parameter (0C40)";
        return false;
    }
    n.command = static_cast<unsigned>(*word);
    return true;
}

// A value of the note before: its track, start, length or command.
bool fill_in(const note_value& given, note_request& n, std::string& error) {
    switch (given.field) {
    case note_field::track:
        return read_track(given.value, n, error);
    case note_field::at:
        return read_beats(given, n.at_beats, error);
    case note_field::length: {
        double beats = 0.0;
        if (!read_beats(given, beats, error)) {
            return false;
        }
        n.length_beats = beats;
        return true;
    }
    case note_field::command:
        return read_command(given.value, n, error);
    case note_field::note:
        break;
    }
    return false;
}

} // namespace

bool collect_notes(const std::vector<note_value>& given, std::vector<note_request>& notes,
                   std::string& error) {
    for (const note_value& one : given) {
        if (one.field == note_field::note) {
            if (!start_note(one.value, notes, error)) {
                return false;
            }
            continue;
        }
        if (notes.empty()) {
            error = std::string(flag_of(one.field)) + " " + one.value +
                    " comes before any --note; write it after the note it belongs to";
            return false;
        }
        if (!fill_in(one, notes.back(), error)) {
            return false;
        }
    }
    return true;
}

} // namespace kestrune_host
