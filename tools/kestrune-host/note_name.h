// Note names as a tracker writes them, and the host's note byte that each stands for.
//
// The host's note byte holds the octave in its high four bits and the semitone, counted from
// 1 (C) to 12 (B), in its low four bits: "C-4" is 0x41, "A-4" is 0x4A, "C-0" 0x01 and "B-9"
// 0x9C, the highest the note parameter allows. 255 is the note-off, written "off" (or "==="
// or "^^^", as trackers show it); 0 means no note and has no name.
#pragma once

#include <optional>
#include <string>

namespace kestrune_host {

constexpr unsigned char note_off_byte = 255;

// "C-4", "C#4", "Db4", "c-4", "C4", "off": the note byte, or nothing when text names no note
// of octaves 0 to 9. Sharps and flats stay within their octave: "B#4" and "Cb4" are refused.
std::optional<unsigned char> parse_note(const std::string& text);

// The tracker name of a note byte: "C-4", "C#4", "off"; "?" followed by the number for a byte
// that is neither a note nor the note-off.
std::string note_name(unsigned char byte);

} // namespace kestrune_host
