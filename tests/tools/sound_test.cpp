// The demo machines as a listener hears them: pitch, level, envelope and echo, rendered
// through kestrune-host and the library, the way a user plays them.
#include <cmath>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "tests/support/temp_folder.h"
#include "tool_support.h"

using kestrune::test::crossing_frequency;
using kestrune::test::peak;
using kestrune::test::read_wav;
using kestrune::test::rms;
using kestrune::test::run_host;
using kestrune::test::temp_folder;

namespace {

constexpr int rate = 44100;

// Renders one second of the synth playing note, with extra arguments, and answers the left
// channel.
std::vector<float> synth_note(const temp_folder& dir, const std::string& note,
                              std::vector<std::string> extra) {
    std::string out = dir.at("note.wav");
    std::vector<std::string> args{
        "render", "Kestrune Demo Synth", "-o", out, "--seconds", "1", "--format", "float", "--note",
        note};
    args.insert(args.end(), extra.begin(), extra.end());
    auto r = run_host(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return read_wav(out).left;
}

std::string write_impulse(const temp_folder& dir, float height) {
    std::string path = dir.at("impulse.wav");
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr);
    std::vector<float> samples(rate / 2, 0.0f);
    samples[100] = height;
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    return path;
}

} // namespace

TEST(DemoSynthSound, ASineAtA4Sounds440HzAtTheDocumentedLevel) {
    temp_folder dir;
    auto left = synth_note(
        dir, "A-4", {"--value", "Waveform=Sine", "--set", "Filter=0", "--set", "Volume=100"});
    ASSERT_EQ(left.size(), static_cast<std::size_t>(rate));
    // Past the 5 ms attack: a sine peaking at half of full scale.
    EXPECT_NEAR(crossing_frequency(left, rate, 2205, rate - 2205), 440.0, 440.0 * 0.02);
    EXPECT_NEAR(rms(left, 2205), 0.5 / std::sqrt(2.0), 0.02);
    EXPECT_NEAR(peak(left), 0.5, 0.01);
}

TEST(DemoSynthSound, TheFilteredSawFollowsTheOctaves) {
    temp_folder dir;
    for (auto [note, hz] : {std::pair{"A-4", 440.0}, {"A-3", 220.0}, {"A-5", 880.0}}) {
        auto left = synth_note(dir, note, {"--value", "Waveform=Saw"});
        EXPECT_NEAR(crossing_frequency(left, rate, 2205, rate - 2205), hz, hz * 0.03) << note;
        EXPECT_GT(rms(left, 2205), 0.05) << note;
    }
}

TEST(DemoSynthSound, FineTuneIsRescaledIntoTheMachinesRange) {
    temp_folder dir;
    // Fine Tune runs -100000..100000 thousandths of a cent behind a host word of 0..65534: a
    // hundred cents up makes A-4 an A#4.
    auto left = synth_note(
        dir, "A-4", {"--value", "Waveform=Sine", "--set", "Filter=0", "--value", "Fine Tune=+100"});
    EXPECT_NEAR(crossing_frequency(left, rate, 2205, rate - 2205), 466.16, 466.16 * 0.02);
}

TEST(DemoSynthSound, VolumeAndTheNoteOffShapeTheLevel) {
    temp_folder dir;
    std::vector<std::string> sine{"--value", "Waveform=Sine", "--set", "Filter=0"};
    auto full = sine;
    full.insert(full.end(), {"--set", "Volume=100"});
    auto half = sine;
    half.insert(half.end(), {"--set", "Volume=50"});
    double loud = rms(synth_note(dir, "A-4", full), 2205);
    double soft = rms(synth_note(dir, "A-4", half), 2205);
    EXPECT_NEAR(soft / loud, 0.5, 0.02);

    // Command 0C with the note: its own volume, 0x40 of 0x80 (the command word travels in the
    // track record, little-endian, to the machine's sequence_event).
    auto commanded = full;
    commanded.insert(commanded.end(), {"--command", "0C40"});
    EXPECT_NEAR(rms(synth_note(dir, "A-4", commanded), 2205) / loud, 0.5, 0.02);

    // 125 bpm: one beat is 0.48 s; with a 10 ms release the note is gone well before 0.6 s.
    auto ended = sine;
    ended.insert(ended.end(), {"--length", "1", "--set", "Release=10"});
    auto left = synth_note(dir, "A-4", ended);
    EXPECT_GT(rms(left, 2205, 4410), 0.1);
    EXPECT_EQ(peak(left, static_cast<std::size_t>(rate * 0.6)), 0.0f);
}

TEST(DemoDelaySound, EchoesAtItsTimeWithItsGain) {
    temp_folder dir;
    std::string impulse = write_impulse(dir, 0.5f);
    std::string out = dir.at("echo.wav");
    auto r = run_host({"render", "Kestrune Demo Delay", "-o", out, "--input", impulse, "--format",
                       "float", "--value", "Time=100 ms", "--set", "Feedback=50", "--set",
                       "Mix=100", "--value", "Gain=-6 dB"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    auto sound = read_wav(out);
    ASSERT_EQ(sound.left.size(), static_cast<std::size_t>(rate / 2)); // as long as the input
    double gain = std::pow(10.0, -6.0 / 20.0);
    EXPECT_NEAR(sound.left[100], 0.5 * gain, 1e-4);                     // the dry impulse
    EXPECT_NEAR(sound.left[100 + 4410], 0.5 * gain, 1e-4);              // the first echo
    EXPECT_NEAR(sound.left[100 + 8820], 0.25 * gain, 1e-4);             // half of it again
    EXPECT_NEAR(sound.right[100 + 4410], sound.left[100 + 4410], 1e-6); // mono input: both sides
    EXPECT_EQ(peak(sound.left, 101, 4409), 0.0f);                       // nothing in between
}
