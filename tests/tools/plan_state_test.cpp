// The render plan and the state file: what the host program works out before a machine runs,
// and what it keeps between two runs.
#include <gtest/gtest.h>

#include "hostkit/little_endian.h"
#include "note_name.h"
#include "render_plan.h"
#include "state_file.h"

using namespace kestrune_host;

namespace {

note_request note(unsigned char byte, int track, double at, std::optional<double> length = {}) {
    note_request n;
    n.note = byte;
    n.track = track;
    n.at_beats = at;
    n.length_beats = length;
    return n;
}

bytes blob(int version, int size, std::size_t data) {
    bytes b(8 + data, 0x5A);
    hostkit::write_le(&b[0], static_cast<unsigned>(version));
    hostkit::write_le(&b[4], static_cast<unsigned>(size));
    return b;
}

bytes text_bytes(const std::string& text) {
    return bytes(text.begin(), text.end());
}

} // namespace

TEST(RenderPlan, TimingAsTheHostComputesIt) {
    EXPECT_EQ(samples_per_tick(timing{125, 4, 44100}), 5292);
    EXPECT_EQ(samples_per_tick(timing{120, 4, 48000}), 6000);
    EXPECT_EQ(samples_per_tick(timing{0, 4, 44100}), 0);
    std::string error;
    EXPECT_FALSE(make_plan(timing{125, 0, 44100}, 1000, {}, error));
}

TEST(RenderPlan, NotesLandOnTicksWithTheirNoteOffs) {
    std::string error;
    auto plan = make_plan(timing{120, 4, 48000}, 48000 * 4,
                          {note(0x4A, 0, 0.0, 1.0), note(0x41, 2, 1.5), note(0x45, 1, 0.3)}, error);
    ASSERT_TRUE(plan) << error;
    ASSERT_EQ(plan->events.count(0), 1u);
    EXPECT_EQ(plan->events[0][0].note, 0x4A);
    ASSERT_EQ(plan->events.count(1), 1u); // beat 0.3 is tick 1.2, so tick 1
    EXPECT_EQ(plan->events[1][0].track, 1);
    ASSERT_EQ(plan->events.count(4), 1u); // the note-off, one beat later
    EXPECT_EQ(plan->events[4][0].note, note_off_byte);
    ASSERT_EQ(plan->events.count(6), 1u);
    EXPECT_EQ(plan->events[6][0].track, 2);
    EXPECT_TRUE(plan->warnings.empty());
}

TEST(RenderPlan, ANewNoteWinsOverAnEarlierNotesEnd) {
    std::string error;
    auto plan = make_plan(timing{125, 4, 44100}, 44100 * 4,
                          {note(0x4A, 0, 0.0, 1.0), note(0x4C, 0, 1.0)}, error);
    ASSERT_TRUE(plan) << error;
    ASSERT_EQ(plan->events[4].size(), 1u);
    EXPECT_EQ(plan->events[4][0].note, 0x4C);
}

TEST(RenderPlan, ATinyLengthStillLastsATick) {
    std::string error;
    auto plan = make_plan(timing{125, 4, 44100}, 44100, {note(0x4A, 0, 0.0, 0.01)}, error);
    ASSERT_TRUE(plan) << error;
    ASSERT_EQ(plan->events.count(1), 1u);
    EXPECT_EQ(plan->events[1][0].note, note_off_byte);
}

TEST(RenderPlan, RefusesWhatATrackCantPlay) {
    std::string error;
    EXPECT_FALSE(make_plan(timing{}, 44100, {note(0x41, 0, 1.0), note(0x45, 0, 1.0)}, error));
    EXPECT_NE(error.find("two notes on track 0"), std::string::npos) << error;
    EXPECT_FALSE(make_plan(timing{}, 44100, {note(0x41, 0, -1.0)}, error));
    EXPECT_FALSE(make_plan(timing{}, 44100, {note(0x41, 0, 0.0, 0.0)}, error));
    EXPECT_NE(error.find("length"), std::string::npos) << error;
}

TEST(RenderPlan, NotesPastTheEndAreSaidAndLeftOut) {
    std::string error;
    // 125 bpm, 4 ticks a beat: one second is 8.3 ticks, so beat 4 (tick 16) lies past it.
    auto plan = make_plan(timing{}, 44100, {note(0x41, 0, 0.0), note(0x45, 1, 4.0)}, error);
    ASSERT_TRUE(plan) << error;
    EXPECT_EQ(plan->events.size(), 1u);
    ASSERT_EQ(plan->warnings.size(), 1u);
    EXPECT_NE(plan->warnings[0].find("E-4 on track 1"), std::string::npos) << plan->warnings[0];
}

TEST(RenderPlan, ANoteOffCarriesNoCommand) {
    std::string error;
    note_request off = note(note_off_byte, 0, 0.0);
    off.command = 0x0C40;
    auto plan = make_plan(timing{}, 44100, {off}, error);
    ASSERT_TRUE(plan) << error;
    EXPECT_EQ(plan->events[0][0].command, 0u);
}

TEST(StateFile, RoundTrip) {
    stored_state state{"@x/quillon/Soft+Pad", blob(1, 5, 5)};
    bytes file = encode_state(state);
    std::string error;
    auto back = decode_state(file, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->machine_uri, state.machine_uri);
    EXPECT_EQ(back->stream, state.stream);

    stored_state empty{"@x/quillon/Plain", {}}; // a machine without data writes nothing
    auto none = decode_state(encode_state(empty), error);
    ASSERT_TRUE(none) << error;
    EXPECT_TRUE(none->stream.empty());
}

TEST(StateFile, DamageIsFoundAndSaid) {
    std::string error;
    EXPECT_FALSE(decode_state(text_bytes("RIFF....WAVEfmt "), error));
    EXPECT_EQ(error, "it is not a Kestrune state file");
    EXPECT_FALSE(decode_state({}, error));

    bytes good = encode_state({"@x/quillon/Pad", blob(1, 5, 5)});
    bytes cut(good.begin(), good.end() - 2);
    EXPECT_FALSE(decode_state(cut, error));
    EXPECT_NE(error.find("announces 13 bytes of state but holds 11"), std::string::npos) << error;
    bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(decode_state(longer, error));

    EXPECT_FALSE(decode_state(encode_state({"@x", blob(2, 5, 5)}), error));
    EXPECT_NE(error.find("version 2"), std::string::npos) << error;
    EXPECT_FALSE(decode_state(encode_state({"@x", blob(1, 9, 5)}), error));
    EXPECT_NE(error.find("announces 9 bytes but holds 5"), std::string::npos) << error;
    EXPECT_FALSE(decode_state(encode_state({"@x", blob(1, 0, 0)}), error));
    EXPECT_FALSE(decode_state(encode_state({"@x", bytes{1, 0, 0}}), error));

    EXPECT_FALSE(decode_state(text_bytes("kestrune-state 1\nbytes 0\n"), error));
    EXPECT_EQ(error, "its header names no machine");
    EXPECT_FALSE(decode_state(text_bytes("kestrune-state 1\nmachine @x\nbytes -1\n"), error));
    EXPECT_FALSE(
        decode_state(text_bytes("kestrune-state 1\nmachine @x\nbytes 99999999999\n"), error));
}
