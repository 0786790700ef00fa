// The runtime's plain pieces, without a host or a DLL: the value layout, event translation and
// value texts over a machine of the test's own, the audio kernels, the state blob and the About
// text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "runtime/about.h"
#include "runtime/audio.h"
#include "runtime/events.h"
#include "runtime/state.h"
#include "runtime/value_layout.h"
#include "tests/runtime/runtime_support.h"

namespace kestrune::test {
namespace {

// --- Value layout ---------------------------------------------------------------------------

TEST(ValueLayout, PacksOneOrTwoBytesPerParameterInOrder) {
    auto info = description_with({2, 3, 1}, false);
    value_layout layout(info->global_params());
    ASSERT_NE(layout.values, nullptr);
    EXPECT_EQ(layout.size, 4);
    EXPECT_EQ(layout.offsets[0], 0);
    EXPECT_EQ(layout.offsets[1], 1);
    EXPECT_EQ(layout.offsets[2], 3);
    EXPECT_EQ(layout.is_word[0], 0);
    EXPECT_EQ(layout.is_word[1], 1);
    EXPECT_EQ(layout.is_word[2], 0);

    auto words = description_with({3, 3}, false);
    value_layout two_words(words->global_params());
    EXPECT_EQ(two_words.size, 4);
    EXPECT_EQ(two_words.offsets[1], 2);

    auto bytes = description_with({1, 2, 1, 0}, false);
    value_layout four_bytes(bytes->global_params());
    EXPECT_EQ(four_bytes.size, 4);
    EXPECT_EQ(four_bytes.offsets[3], 3);
}

TEST(ValueLayout, NoParametersOrAnUnknownKindGiveNoArea) {
    auto none = description_with({}, false);
    value_layout empty(none->global_params());
    EXPECT_EQ(empty.values, nullptr);
    EXPECT_EQ(empty.offsets, nullptr);
    EXPECT_EQ(empty.is_word, nullptr);

    for (int kind : {4, -1}) {
        auto odd = description_with({2, kind, 3}, false);
        value_layout abandoned(odd->global_params());
        EXPECT_EQ(abandoned.values, nullptr);
        EXPECT_EQ(abandoned.offsets, nullptr);
        EXPECT_EQ(abandoned.is_word, nullptr);
        EXPECT_EQ(abandoned.count, 0);
    }
}

TEST(ValueLayout, ReadsWordsLittleEndianAndWidensWithZeros) {
    auto info = description_with({2, 3}, false);
    value_layout layout(info->global_params());
    layout.values[0] = 0xFF;
    layout.values[1] = 0x34;
    layout.values[2] = 0xF2;
    EXPECT_EQ(layout.read(0), 255u);
    EXPECT_EQ(layout.read(1), 0xF234u);
}

// --- Events ---------------------------------------------------------------------------------

// A description with machine parameters of its own, wired as an instance would be.
struct event_bench {
    explicit event_bench(std::vector<machine_parameter> own, const std::vector<int>& kinds,
                         const std::vector<int>& host_highest)
        : machine_side(std::move(own)), info(description_with(kinds, true)),
          layout(info->global_params()) {
        for (std::size_t i = 0; i < host_highest.size(); ++i) {
            info->global_params()[i]->highest = host_highest[i];
        }
        for (auto& p : machine_side) {
            pointers.push_back(&p);
        }
        std::memset(tracks, 0, sizeof tracks);
        source.layout = &layout;
        source.host_params = info->global_params();
        load(static_cast<int>(pointers.size()));
        source.track_area = tracks;
        source.track_records = 64;
    }
    // What a load does: the ranges of the machine's first count parameters copied, at most one
    // per global parameter.
    void load(int count) {
        machine_description description{};
        description.param_count = count;
        description.params = pointers.data();
        ranges.assign(info->global_params().size(), parameter_range{});
        source.machine_ranges = ranges.data();
        source.machine_range_count =
            copy_ranges(description, ranges.data(), static_cast<int>(ranges.size()));
    }
    // Every global value empty.
    void clear_globals() {
        for (int i = 0; i < layout.count; ++i) {
            int empty = info->global_params()[i]->empty_value;
            layout.values[layout.offsets[i]] = static_cast<unsigned char>(empty);
            if (layout.is_word[i]) {
                layout.values[layout.offsets[i] + 1] = static_cast<unsigned char>(empty >> 8);
            }
        }
    }
    void set_global(int i, int value) {
        layout.values[layout.offsets[i]] = static_cast<unsigned char>(value);
        if (layout.is_word[i]) {
            layout.values[layout.offsets[i] + 1] = static_cast<unsigned char>(value >> 8);
        }
    }
    void set_track(int t, unsigned char note, unsigned char low, unsigned char high) {
        tracks[3 * t] = note;
        tracks[3 * t + 1] = low;
        tracks[3 * t + 2] = high;
    }

    std::vector<machine_parameter> machine_side;
    std::vector<const machine_parameter*> pointers;
    std::vector<parameter_range> ranges;
    std::unique_ptr<machine_info> info;
    value_layout layout;
    unsigned char tracks[64 * 3];
    event_source source;
    recording_machine target;
    guarded_machine calls{&target};
};

machine_parameter range(int lowest, int highest) {
    return machine_parameter{"p", "p", lowest, highest, 0, 0};
}

TEST(Events, EmptyValuesAndNoNotesMakeNoCall) {
    event_bench bench({range(0, 100000), range(-100, 100)}, {3, 2}, {65534, 200});
    bench.clear_globals();
    bench.source.track_count = 4;
    send_events(bench.source, bench.calls);
    EXPECT_EQ(bench.target.log, "");
}

TEST(Events, GlobalsInOrderInTheMachineRangeBeforeAnyTrack) {
    event_bench bench({range(0, 100000), range(-100, 100), range(0, 0)}, {3, 2, 1},
                      {65534, 200, 0});
    bench.clear_globals();
    bench.set_global(2, 0);
    bench.set_global(0, 32767);
    bench.set_global(1, 200);
    bench.set_track(0, 0x41, 0, 0);
    bench.source.track_count = 1;
    send_events(bench.source, bench.calls);
    EXPECT_EQ(bench.target.log, "set_parameter 0 50000\n"
                                "set_parameter 1 100\n"
                                "set_parameter 2 0\n"
                                "sequence_event 0 49 0 0 0\n");
}

TEST(Events, ShiftedRangeAndEmptyComparedOnTheWidenedValue) {
    event_bench bench({range(-100, 100), range(0, 65534)}, {2, 3}, {200, 65534});
    std::string sent;
    for (int host : {0, 100}) {
        bench.set_global(0, host);
        bench.set_global(1, 255); // a word holding 255 isn't empty
        bench.target.log.clear();
        send_events(bench.source, bench.calls);
        sent += bench.target.log;
    }
    EXPECT_EQ(sent, "set_parameter 0 -100\nset_parameter 1 255\n"
                    "set_parameter 0 0\nset_parameter 1 255\n");
    bench.set_global(0, 255);
    bench.set_global(1, 65535);
    bench.target.log.clear();
    send_events(bench.source, bench.calls);
    EXPECT_EQ(bench.target.log, "");
}

TEST(Events, TrackRecordsBecomeNotesAndCommands) {
    event_bench bench({}, {}, {});
    bench.set_track(0, 0x41, 0x40, 0x0C); // note with command word 0x0C40
    bench.set_track(1, 0x41, 0, 0);       // note without command
    bench.set_track(2, 255, 0x40, 0x0C);  // note-off: the command is dropped
    bench.set_track(3, 0, 0x40, 0x0C);    // no note: nothing, command or not
    bench.set_track(4, 0x9C, 0, 0);       // the host's highest note
    bench.set_track(5, 0x01, 0xFF, 0xFF);
    bench.source.track_count = 6;
    send_events(bench.source, bench.calls);
    EXPECT_EQ(bench.target.log, "sequence_event 0 49 0 12 64\n"
                                "sequence_event 1 49 0 0 0\n"
                                "sequence_event 2 120 0 0 0\n"
                                "sequence_event 4 120 0 0 0\n"
                                "sequence_event 5 1 0 255 255\n");
}

TEST(Events, TrackCountIsBoundedByTheAreaAndNoAreaSendsNoTracks) {
    event_bench bench({}, {}, {});
    for (int t = 0; t < 64; ++t) {
        bench.set_track(t, 0x0C, 0, 0);
    }
    bench.source.track_records = 2;
    bench.source.track_count = 1000;
    send_events(bench.source, bench.calls);
    EXPECT_EQ(bench.target.log, "sequence_event 0 12 0 0 0\nsequence_event 1 12 0 0 0\n");

    bench.target.log.clear();
    bench.source.track_area = nullptr; // an effect
    bench.source.track_records = 0;
    send_events(bench.source, bench.calls);
    bench.source.track_count = -3;
    send_events(bench.source, bench.calls);
    EXPECT_EQ(bench.target.log, "");
}

TEST(Events, MissingMachineParametersAreNeitherSentNorDescribed) {
    event_bench bench({range(0, 10), range(0, 10), range(0, 10)}, {2, 2, 2}, {10, 10, 10});
    bench.pointers[1] = nullptr; // a null entry in the machine's array
    bench.load(2);               // the machine now has two parameters, not three
    EXPECT_EQ(bench.source.machine_range_count, 2);
    for (int i = 0; i < 3; ++i) {
        bench.set_global(i, 7);
    }
    // Copied at load: what the machine's table holds later changes nothing.
    bench.machine_side[0] = range(100, 110);
    bench.pointers[0] = nullptr;
    send_events(bench.source, bench.calls);
    EXPECT_EQ(bench.target.log, "set_parameter 0 7\n");

    char text[text_buffer_size];
    bench.target.log.clear();
    EXPECT_STREQ(describe_value(bench.source, bench.calls, 1, 7, text), "");
    EXPECT_STREQ(describe_value(bench.source, bench.calls, 2, 7, text), "");
    EXPECT_EQ(bench.target.log, "");

    // An abandoned layout: no offsets to read, so no global is sent; the tracks still are.
    bench.source.layout = nullptr;
    bench.set_track(0, 0x41, 0, 0);
    bench.source.track_count = 1;
    send_events(bench.source, bench.calls);
    EXPECT_EQ(bench.target.log, "sequence_event 0 49 0 0 0\n");
}

TEST(Events, RangesAreCopiedForTheParametersThatBothSidesHave) {
    const machine_parameter wide = range(-5, 5);
    const machine_parameter narrow = range(0, 9);
    const machine_parameter* entries[3] = {&wide, nullptr, &narrow};
    machine_description description{};
    description.params = entries;
    description.param_count = 3;
    parameter_range ranges[3];
    EXPECT_EQ(copy_ranges(description, ranges, 2), 2) << "no more than the host has";
    EXPECT_TRUE(ranges[0].present);
    EXPECT_EQ(ranges[0].lowest, -5);
    EXPECT_EQ(ranges[0].highest, 5);
    EXPECT_FALSE(ranges[1].present) << "a null entry stays unreachable";
    EXPECT_EQ(copy_ranges(description, ranges, 3), 3);
    EXPECT_EQ(ranges[2].highest, 9);
    EXPECT_EQ(copy_ranges(description, ranges, 0), 0);
    description.param_count = -1;
    EXPECT_EQ(copy_ranges(description, ranges, 3), 0);
    description.param_count = 3;
    description.params = nullptr;
    EXPECT_EQ(copy_ranges(description, ranges, 3), 0);
}

TEST(ValueText, MachineTextOrTheDecimalMachineValue) {
    event_bench bench({range(0, 100000), range(0, 0)}, {3, 1}, {65534, 0});
    char text[text_buffer_size];
    EXPECT_STREQ(describe_value(bench.source, bench.calls, 0, 32767, text), "50000");
    EXPECT_EQ(bench.target.log, "describe 0 50000\n");

    bench.target.describe_answer = true;
    bench.target.describe_text = "half open";
    EXPECT_STREQ(describe_value(bench.source, bench.calls, 0, 32767, text), "half open");

    bench.target.log.clear();
    bench.target.describe_answer = false;
    EXPECT_STREQ(describe_value(bench.source, bench.calls, 1, 0, text), "0");
    EXPECT_EQ(bench.target.log, "describe 1 0\n");
}

TEST(ValueText, TrackValuesAreTwoHexBytesAndNegativeIndicesAreEmpty) {
    event_bench bench({range(0, 10)}, {2}, {10});
    char text[text_buffer_size];
    EXPECT_STREQ(describe_value(bench.source, bench.calls, 1, 0x41, text), "00 41");
    EXPECT_STREQ(describe_value(bench.source, bench.calls, 2, 0x0C40, text), "0C 40");
    EXPECT_STREQ(describe_value(bench.source, bench.calls, 1, 255, text), "00 FF");
    EXPECT_STREQ(describe_value(bench.source, bench.calls, 7, 0x12345, text), "123 45");
    EXPECT_STREQ(describe_value(bench.source, bench.calls, -1, 5, text), "");
    EXPECT_STREQ(describe_value(bench.source, bench.calls, -2147483647 - 1, 5, text), "");
    EXPECT_EQ(bench.target.log, ""); // the machine isn't asked
}

TEST(Events, NoteConversion) {
    EXPECT_EQ(machine_note(0x01), 1);
    EXPECT_EQ(machine_note(0x0C), 12);
    EXPECT_EQ(machine_note(0x41), 49);
    EXPECT_EQ(machine_note(0x9C), 120);
    EXPECT_EQ(machine_note(0xFE), 194); // no bound
}

// --- Audio kernels --------------------------------------------------------------------------

TEST(Audio, ScalesExactlyBothWays) {
    float in_left[3] = {0.5f, -1.0f, 1e-40f};
    float in_right[3] = {0.25f, 0.0f, 1.0f};
    float left[3], right[3];
    scale_to_machine(in_left, in_right, left, right, 3);
    EXPECT_EQ(left[0], 16384.0f);
    EXPECT_EQ(left[1], -32768.0f);
    EXPECT_EQ(right[0], 8192.0f);
    EXPECT_EQ(right[2], 32768.0f);
    EXPECT_TRUE(scale_to_host(left, right, 3));
    EXPECT_EQ(left[0], 0.5f);
    EXPECT_EQ(left[2], 1e-40f);
    EXPECT_EQ(right[2], 1.0f);

    float zero_left[2] = {7.0f, 7.0f}, zero_right[2] = {7.0f, 7.0f};
    scale_to_machine(nullptr, nullptr, zero_left, zero_right, 2);
    EXPECT_EQ(zero_left[1], 0.0f);
    EXPECT_EQ(zero_right[0], 0.0f);
}

TEST(Audio, SilenceIsZerosAndSubnormalsOnly) {
    float left[4] = {0.0f, -0.0f, 1e-40f * 32768.0f, -1e-41f * 32768.0f};
    float right[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    EXPECT_FALSE(scale_to_host(left, right, 4)); // the subnormals stay subnormal once scaled
    EXPECT_FALSE(scale_to_host(left, right, 0));
    EXPECT_FALSE(scale_to_host(left, right, -5));

    float last_left[4] = {}, last_right[4] = {0, 0, 0, 32768.0f};
    EXPECT_TRUE(scale_to_host(last_left, last_right, 4));

    EXPECT_TRUE(is_sound(std::numeric_limits<float>::infinity()));
    EXPECT_TRUE(is_sound(-std::numeric_limits<float>::infinity()));
    EXPECT_TRUE(is_sound(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_TRUE(is_sound(std::numeric_limits<float>::min()));
    EXPECT_FALSE(is_sound(std::numeric_limits<float>::denorm_min()));
    EXPECT_FALSE(is_sound(-0.0f));
}

// --- State blob -----------------------------------------------------------------------------

TEST(StateBlob, IntegersAreLittleEndian) {
    unsigned char bytes[4];
    encode_int32(0x01020304, bytes);
    EXPECT_EQ(bytes[0], 4);
    EXPECT_EQ(bytes[3], 1);
    encode_int32(-2, bytes);
    EXPECT_EQ(decode_int32(bytes), -2);
    EXPECT_EQ(bytes[0], 0xFE);
    EXPECT_EQ(bytes[3], 0xFF);
}

TEST(StateBlob, StoresVersionSizeAndDataInThreeWritesAndKeepsIt) {
    memory_archive archive;
    recording_machine source;
    source.size = 5;
    guarded_machine calls(&source);
    byte_buffer kept;
    save_state(archive, calls, kept);
    const std::vector<unsigned char> blob = {1, 0, 0, 0, 5, 0, 0, 0, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4};
    EXPECT_EQ(archive.entries[""], blob);
    EXPECT_EQ(archive.writes, (std::vector<int>{4, 4, 5}));
    EXPECT_EQ(source.log, "data_size\ndump_data\n");
    ASSERT_EQ(kept.size, 5);
    EXPECT_EQ(kept.data[4], 0xA4);

    // A dump that fails without a fault (the machine is closing) writes nothing, not the kept
    // blob: the machine runs on with a state of its own.
    calls.closing = true;
    memory_archive closing;
    save_state(closing, calls, kept);
    EXPECT_EQ(closing.output_requests, 1);
    EXPECT_TRUE(closing.entries[""].empty());
    EXPECT_EQ(kept.size, 5);
    calls.closing = false;

    // A machine without data writes nothing, and keeps nothing for a later fault.
    for (int size : {0, -1}) {
        memory_archive none;
        source.size = size;
        source.log.clear();
        save_state(none, calls, kept);
        EXPECT_TRUE(none.entries[""].empty());
        EXPECT_EQ(source.log, "data_size\n");
        EXPECT_TRUE(kept.empty());
    }
}

TEST(StateBlob, RestoresExactlyTheStoredSizeAndKeepsIt) {
    memory_archive archive;
    archive.entries[""] = {1, 0, 0, 0, 3, 0, 0, 0, 7, 8, 9, 10};
    recording_machine target;
    target.load_bytes = 3;
    guarded_machine calls(&target);
    byte_buffer kept(2, true);
    restore_state(&archive, calls, kept, false);
    EXPECT_EQ(target.loaded, (std::vector<unsigned char>{7, 8, 9}));
    EXPECT_EQ(archive.reads, (std::vector<int>{4, 4, 3}));
    ASSERT_EQ(kept.size, 3);
    EXPECT_EQ(kept.data[2], 9);
}

TEST(StateBlob, ShortDataLeavesAZeroTail) {
    memory_archive archive;
    archive.entries[""] = {1, 0, 0, 0, 6, 0, 0, 0, 7, 8};
    byte_buffer data = read_state_blob(*archive.input_stream(""));
    ASSERT_EQ(data.size, 6);
    EXPECT_EQ(std::vector<unsigned char>(data.data, data.data + 6),
              (std::vector<unsigned char>{7, 8, 0, 0, 0, 0}));
}

TEST(StateBlob, BadHeadersRestoreNothingOrTheKeptBlobAfterAFault) {
    const std::vector<std::vector<unsigned char>> streams = {
        {2, 0, 0, 0, 1, 0, 0, 0, 9},             // version 2
        {1, 0, 0, 0, 0, 0, 0, 0, 9},             // size 0
        {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 9}, // size -1
        {1, 0, 0, 0},                            // ends after the version
        {},                                      // empty
    };
    for (bool after_fault : {false, true}) {
        for (const auto& bytes : streams) {
            memory_archive archive;
            archive.entries[""] = bytes;
            recording_machine target;
            target.load_bytes = 1;
            guarded_machine calls(&target);
            byte_buffer kept(1, true);
            kept.data[0] = 0x5A;
            restore_state(&archive, calls, kept, after_fault);
            EXPECT_EQ(target.log, after_fault ? "load_data\n" : "") << bytes.size();
            EXPECT_EQ(kept.empty(), !after_fault);
            if (after_fault) {
                EXPECT_EQ(target.loaded, std::vector<unsigned char>{0x5A});
            }
            if (!bytes.empty() && bytes[0] == 2) {
                EXPECT_EQ(archive.reads, std::vector<int>{4}); // nothing after the version is read
            }
        }
    }
}

TEST(ByteBuffer, SizesAndZeroFill) {
    byte_buffer none(0, true);
    EXPECT_EQ(none.data, nullptr);
    byte_buffer negative(-4, false);
    EXPECT_EQ(negative.data, nullptr);
    byte_buffer zeroed(16, true);
    ASSERT_NE(zeroed.data, nullptr);
    EXPECT_EQ(zeroed.size, 16);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(zeroed.data[i], 0);
    }
    // Handed on, the block itself moves: no copy.
    const unsigned char* block = zeroed.data;
    byte_buffer taken(std::move(zeroed));
    EXPECT_EQ(taken.data, block);
    EXPECT_EQ(taken.size, 16);
    EXPECT_TRUE(zeroed.empty());
    EXPECT_EQ(zeroed.size, 0);
    none = std::move(taken);
    EXPECT_EQ(none.data, block);
    none.release();
    EXPECT_EQ(none.data, nullptr);
    EXPECT_EQ(none.size, 0);
}

// --- About text -----------------------------------------------------------------------------

TEST(About, TextHoldsThePiecesInOrder) {
    auto info = description_with({2, 3, 1}, true);
    info->full_name = "Soft Pad";
    info->short_label = "Pad";
    info->author = "";
    info->library_path = "C:\\Host\\Gear\\Psycle\\pad.dll";
    EXPECT_EQ(about_text(*info), "Kestrune: native Psycle machines as zzub plug-ins.\n\n"
                                 "now wrapping...\n\n"
                                 "Name:\t\tSoft Pad\n"
                                 "Label:\t\tPad\n"
                                 "Author:\t\t\n\n"
                                 "Path:\t\tC:\\Host\\Gear\\Psycle\\pad.dll\n\n"
                                 "NumParams:\t3");
    auto none = description_with({}, false);
    std::string text = about_text(*none);
    EXPECT_EQ(text.substr(text.size() - 12), "NumParams:\t0");
}

} // namespace
} // namespace kestrune::test
