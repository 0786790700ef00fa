// Writing an instance's two value areas, as a host does before each take_events.
//
// The global value area holds the global parameters in order, packed without padding: one
// byte for a note, switch or byte parameter (kinds 0 to 2), two bytes little-endian for a word
// (kind 3). A parameter's empty_value there means "no change". The track value area holds one
// 3-byte record per track: the note byte, then the 16-bit command word, little-endian.
#pragma once

#include <cstddef>
#include <vector>

#include "host/host_interface.h"

namespace kestrune_host {

using parameter_list = kestrune::param_list;

// The byte width of a parameter of kind (1 or 2); 0 for a kind that no host knows.
int value_width(int kind);
// The packed size of the global value area for these parameters; -1 when one has an unknown
// kind (the instance then has no global value area either).
int global_area_size(const parameter_list& params);
// The byte offset of parameter index in the global value area; -1 when it has none.
int global_offset(const parameter_list& params, int index);

// Writes every parameter's empty value: a tick on which nothing changes. Does nothing without
// an area or with an unknown kind.
void write_empty_globals(const parameter_list& params, unsigned char* area);
// Writes value into parameter index's place; false when there is no such place.
bool write_global(const parameter_list& params, int index, int value, unsigned char* area);

constexpr int track_record_size = 3;

// Writes one track's record: its note byte (0 for none) and command word.
void write_track(unsigned char* area, int track, unsigned char note, unsigned command);
// Clears the records of tracks 0 to count - 1: no note and no command on any of them.
void clear_tracks(unsigned char* area, int count);

} // namespace kestrune_host
