#include "runtime/events.h"

#include <cstddef>
#include <cstdio>

#include "machine/value_range.h"

namespace kestrune {

namespace {

constexpr int note_off_byte = 255;
constexpr int machine_note_off = 120;

int global_count(const event_source& source) {
    return static_cast<int>(source.host_params.size());
}

// The host parameter and machine range of global index, or false when either is missing.
bool parameter_pair(const event_source& source, int index, const host_parameter*& host,
                    const parameter_range*& own) {
    if (index < 0 || index >= global_count(source) || index >= source.machine_range_count ||
        source.machine_ranges == nullptr) {
        return false;
    }
    host = source.host_params[static_cast<std::size_t>(index)];
    own = &source.machine_ranges[index];
    return host != nullptr && own->present;
}

int to_machine_range(const host_parameter& host, const parameter_range& own, int value) {
    return rescale_value(value, host.lowest, host.highest, own.lowest, own.highest);
}

} // namespace

void send_events(const event_source& source, guarded_machine& target) {
    // An abandoned layout has no offsets (count 0): then no global value can be read.
    int globals = global_count(source);
    if (source.layout == nullptr || source.layout->count < globals) {
        globals = source.layout != nullptr ? source.layout->count : 0;
    }
    for (int i = 0; i < globals; ++i) {
        const host_parameter* host = nullptr;
        const parameter_range* own = nullptr;
        if (!parameter_pair(source, i, host, own)) {
            continue;
        }
        int value = static_cast<int>(source.layout->read(i));
        if (value == host->empty_value) {
            continue;
        }
        if (!target.set_parameter(i, to_machine_range(*host, *own, value))) {
            return;
        }
    }

    if (source.track_area == nullptr) {
        return;
    }
    int tracks =
        source.track_count < source.track_records ? source.track_count : source.track_records;
    for (int t = 0; t < tracks; ++t) {
        const unsigned char* record =
            source.track_area + static_cast<std::ptrdiff_t>(t) * track_record_size;
        unsigned char note = record[0];
        if (note == 0) {
            continue;
        }
        bool returned = true;
        if (note == note_off_byte) {
            returned = target.sequence_event(t, machine_note_off, 0, 0, 0);
        } else {
            int word = record[1] | (record[2] << 8);
            returned = target.sequence_event(t, machine_note(note), 0, word >> 8, word & 255);
        }
        if (!returned) {
            return;
        }
    }
}

const char* describe_value(const event_source& source, guarded_machine& target, int index,
                           int value, char* text) {
    text[0] = '\0';
    if (index < 0) {
        return text;
    }
    if (index >= global_count(source)) {
        track_value_text(value, text);
        return text;
    }
    const host_parameter* host = nullptr;
    const parameter_range* own = nullptr;
    if (!parameter_pair(source, index, host, own)) {
        return text;
    }
    int v = to_machine_range(*host, *own, value);
    bool described = false;
    if (!target.describe(text, index, v, described)) {
        text[0] = '\0'; // whatever the machine wrote before it faulted isn't shown
        return text;
    }
    if (described) {
        text[text_buffer_size - 1] = '\0'; // the machine's text may lack its terminator
        return text;
    }
    std::snprintf(text, text_buffer_size, "%d", v);
    return text;
}

void track_value_text(int value, char* text) {
    std::snprintf(text, text_buffer_size, "%.2X %.2X", static_cast<unsigned>(value >> 8),
                  static_cast<unsigned>(value & 255));
}

} // namespace kestrune
