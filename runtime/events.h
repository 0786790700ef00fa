// Carrying host values to the machine: changed global values become set_parameter calls, notes
// on the tracks become sequence_event calls, and value texts come from the machine's describe.
// Plain functions over what an instance holds, so they can be exercised without a host.
#pragma once

#include "calls/guarded_machine.h"
#include "calls/parameter_ranges.h"
#include "host/host_interface.h"
#include "machine/machine_interface.h"
#include "runtime/value_layout.h"

namespace kestrune {

constexpr int track_record_size = 3; // note byte, then the command word, little-endian

// What an instance hands the event functions: its value areas and both sides' parameters.
struct event_source {
    const value_layout* layout = nullptr; // the global value area
    param_list host_params;               // G global parameters
    // The machine's parameter ranges as it described them when it was loaded. It may have had
    // fewer than G (its DLL was replaced after the scan) or null entries: those aren't reached.
    const parameter_range* machine_ranges = nullptr;
    int machine_range_count = 0;
    const unsigned char* track_area = nullptr; // track_records records of 3 bytes, or null
    int track_records = 0;
    int track_count = 0; // tracks in use, as the host set them
};

// The machine's note for the host's note byte: twelve to the octave, no offset, no bound.
inline int machine_note(unsigned char note) {
    return (note & 15) + 12 * (note >> 4);
}

// Sends the changed global values in parameter order, then every track's note in track order.
// A machine that faults is sent nothing more.
void send_events(const event_source& source, guarded_machine& target);

// The text of value for parameter index, written into text (text_buffer_size bytes) and
// answered: the machine's own text or the decimal machine value for a global parameter, two
// hexadecimal bytes for a track parameter, the empty text for a parameter the machine lacks
// and for a machine that faults while it describes.
const char* describe_value(const event_source& source, guarded_machine& target, int index,
                           int value, char* text);

// A track value as the host shows it: "%.2X %.2X" of value >> 8 and value & 255.
void track_value_text(int value, char* text);

} // namespace kestrune
