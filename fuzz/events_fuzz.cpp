// take_events and value_text over random descriptions, value areas, indices and track counts:
// the plain functions that the instance's take_events and value_text hand their areas to.
// Whatever the host wrote, the machine gets only parameters it has, in order, never an empty
// value, a value inside its own range for every host value inside the host's range, notes
// only on the tracks in use, and value texts that end within the text buffer.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "machine/machine_info.h"
#include "machine/value_range.h"
#include "runtime/events.h"
#include "runtime/machine_plugin.h"

namespace {

using namespace kestrune;

constexpr int track_records = 2 * track_records_per_param;

class checking_machine final : public machine {
public:
    void set_parameter(int index, int value) override {
        FUZZ_CHECK(index > last_parameter);
        last_parameter = index;
        FUZZ_CHECK(index < static_cast<int>(source->host_params.size()));
        FUZZ_CHECK(index < source->machine_range_count);
        const parameter_range& own = source->machine_ranges[index];
        const host_parameter* host = source->host_params[static_cast<std::size_t>(index)];
        FUZZ_CHECK(own.present && host != nullptr);
        const int written = static_cast<int>(source->layout->read(index));
        FUZZ_CHECK(written != host->empty_value);
        if (host->lowest <= written && written <= host->highest && own.lowest <= own.highest) {
            FUZZ_CHECK(own.lowest <= value && value <= own.highest);
        }
        ++parameters;
    }
    void sequence_event(int channel, int note, int instrument, int command,
                        int parameter) override {
        FUZZ_CHECK(channel > last_channel);
        last_channel = channel;
        FUZZ_CHECK(channel >= 0 && channel < source->track_count && channel < track_records);
        const unsigned char* record = source->track_area + channel * track_record_size;
        FUZZ_CHECK(record[0] != 0);
        FUZZ_CHECK(note == (record[0] == 255 ? 120 : machine_note(record[0])));
        FUZZ_CHECK(instrument == 0);
        FUZZ_CHECK(command >= 0 && command <= 255 && parameter >= 0 && parameter <= 255);
        ++notes;
    }
    bool describe(char* text, int index, int value) override {
        described_index = index;
        described_value = value;
        // Up to the whole buffer, terminated or not, as a careless machine may write it.
        std::memset(text, describe_fill, static_cast<std::size_t>(describe_length));
        return describe_answer;
    }

    const event_source* source = nullptr;
    int last_parameter = -1;
    int last_channel = -1;
    int parameters = 0;
    int notes = 0;
    int described_index = -1;
    int described_value = 0;
    unsigned char describe_fill = 'x';
    int describe_length = 0;
    bool describe_answer = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    fuzz::random_description made(in, 80);
    std::unique_ptr<machine_info> info(
        build_machine_info(made.description, "fuzz.dll", make_machine_plugin));
    FUZZ_CHECK(info != nullptr);
    value_layout layout(info->global_params());
    FUZZ_CHECK(layout.count == static_cast<int>(info->global_params().size()));
    if (layout.values != nullptr) {
        std::vector<unsigned char> values =
            in.ConsumeBytes<unsigned char>(static_cast<std::size_t>(layout.size));
        if (!values.empty()) {
            std::memcpy(layout.values.get(), values.data(), values.size());
        }
        std::memset(layout.values.get() + values.size(), in.ConsumeBool() ? 0xff : 0,
                    static_cast<std::size_t>(layout.size) - values.size());
    }
    unsigned char tracks[track_records * track_record_size] = {};
    std::vector<unsigned char> written = in.ConsumeBytes<unsigned char>(sizeof tracks);
    if (!written.empty()) {
        std::memcpy(tracks, written.data(), written.size());
    }

    event_source source;
    source.layout = &layout;
    source.host_params = info->global_params();
    // The machine as loaded may have fewer parameters than its description had at the scan;
    // their ranges are copied, one per global parameter at most, as a load copies them.
    machine_description loaded = made.description;
    const int own_count = made.used_count();
    loaded.param_count = own_count > 0 ? in.ConsumeIntegralInRange<int>(0, own_count) : 0;
    const int globals = static_cast<int>(info->global_params().size());
    std::vector<parameter_range> ranges(static_cast<std::size_t>(globals));
    source.machine_ranges = ranges.data();
    source.machine_range_count = copy_ranges(loaded, ranges.data(), globals);
    FUZZ_CHECK(source.machine_range_count ==
               (loaded.param_count < globals ? loaded.param_count : globals));
    for (int i = 0; i < source.machine_range_count; ++i) {
        const machine_parameter* entry = loaded.params[i];
        const parameter_range& copied = ranges[static_cast<std::size_t>(i)];
        FUZZ_CHECK(copied.present == (entry != nullptr));
        FUZZ_CHECK(entry == nullptr ||
                   (copied.lowest == entry->lowest && copied.highest == entry->highest));
    }
    const bool generator = !info->track_params().empty();
    source.track_area = generator ? tracks : nullptr;
    source.track_records = generator ? track_records : 0;
    source.track_count = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(-2, track_records + 2)
                                          : in.ConsumeIntegral<int>();

    checking_machine target;
    target.source = &source;
    kestrune::guarded_machine calls(&target);
    send_events(source, calls);
    int expected_notes = 0;
    for (int t = 0; generator && t < source.track_count && t < track_records; ++t) {
        expected_notes += tracks[t * track_record_size] != 0 ? 1 : 0;
    }
    FUZZ_CHECK(target.notes == expected_notes);

    for (int round = 0; round < 4 && in.remaining_bytes() > 0; ++round) {
        const int index = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(-2, globals + 3)
                                           : in.ConsumeIntegral<int>();
        const int value = fuzz::edge_or_any(in);
        target.describe_answer = in.ConsumeBool();
        target.describe_fill = in.ConsumeIntegralInRange<unsigned char>(1, 255);
        target.describe_length = in.ConsumeIntegralInRange<int>(0, text_buffer_size);
        target.described_index = -1;
        char text[text_buffer_size];
        std::memset(text, '?', sizeof text);
        const char* answer = describe_value(source, calls, index, value, text);
        FUZZ_CHECK(answer == text);
        FUZZ_CHECK(std::memchr(text, '\0', sizeof text) != nullptr);
        if (target.described_index >= 0) {
            FUZZ_CHECK(target.described_index == index && index < globals);
            if (!target.describe_answer) {
                FUZZ_CHECK(std::string(text) == std::to_string(target.described_value));
            }
        } else if (index >= globals) {
            FUZZ_CHECK(std::strlen(text) >= 5); // two hexadecimal bytes, or more digits
        } else {
            FUZZ_CHECK(text[0] == '\0'); // a parameter the machine lacks has no text
        }
    }
    return 0;
}
