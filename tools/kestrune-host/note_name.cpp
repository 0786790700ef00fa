#include "note_name.h"

#include <cctype>

namespace kestrune_host {

namespace {

// Semitones above C of the natural notes, by letter from A.
constexpr int natural_semitone[7] = {9, 11, 0, 2, 4, 5, 7};
const char* const names[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                               "F#", "G-", "G#", "A-", "A#", "B-"};

std::string lowercase(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

} // namespace

std::optional<unsigned char> parse_note(const std::string& text) {
    std::string lower = lowercase(text);
    if (lower == "off" || lower == "===" || lower == "^^^") {
        return note_off_byte;
    }
    if (lower.size() < 2 || lower.size() > 3 || lower[0] < 'a' || lower[0] > 'g') {
        return std::nullopt;
    }
    int semitone = natural_semitone[lower[0] - 'a'];
    std::size_t octave_at = 1;
    if (lower.size() == 3) {
        char accidental = lower[1];
        if (accidental == '#') {
            ++semitone;
        } else if (accidental == 'b') {
            --semitone;
        } else if (accidental != '-') {
            return std::nullopt;
        }
        octave_at = 2;
    }
    char digit = lower[octave_at];
    if (semitone < 0 || semitone > 11 || digit < '0' || digit > '9') {
        return std::nullopt;
    }
    int octave = digit - '0';
    return static_cast<unsigned char>((octave << 4) | (semitone + 1));
}

std::string note_name(unsigned char byte) {
    if (byte == note_off_byte) {
        return "off";
    }
    int semitone = byte & 15;
    int octave = byte >> 4;
    if (semitone < 1 || semitone > 12 || octave > 9) {
        return "?" + std::to_string(byte);
    }
    return names[semitone - 1] + std::to_string(octave);
}

} // namespace kestrune_host
