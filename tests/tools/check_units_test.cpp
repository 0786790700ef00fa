// The plain pieces of check, and the program's WAV files, in process.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "check_audio.h"
#include "check_child.h"
#include "check_fault.h"
#include "check_junit.h"
#include "check_levels.h"
#include "check_report.h"
#include "check_result.h"
#include "tests/support/temp_folder.h"
#include "wav_file.h"

using namespace kestrune_host;

TEST(CheckFault, TheFaultedLineEndsTheAboutText) {
    std::string about = "Kestrune\n\nnow wrapping...\n\nName:\t\tX\n\nNumParams:\t3";
    EXPECT_EQ(faulted_call(about), "");
    EXPECT_EQ(faulted_call(about + "\n\nFaulted:\trender_block (access violation)"),
              "render_block (access violation)");
    // As read from a box: "caption: text" and a line feed.
    EXPECT_EQ(
        faulted_call("Kestrune v0.01a: " + about + "\n\nFaulted:\tdescribe (C++ exception)\n"),
        "describe (C++ exception)");
    // A name that merely contains the word is no fault.
    EXPECT_EQ(faulted_call("Name:\t\tFaulted:\tX\n\nNumParams:\t0"), "");
    EXPECT_EQ(machine_path(about), "");
    EXPECT_EQ(machine_path("Author:\t\tA\n\nPath:\t\tC:\\Gear\\x.dll\n\nNumParams:\t3"),
              "C:\\Gear\\x.dll");
}

TEST(CheckAudio, CountsWhatNoMachineShouldGive) {
    const float tiny = std::numeric_limits<float>::denorm_min();
    const float samples[] = {0.5f, -0.75f, std::nanf(""), INFINITY, -INFINITY, tiny, 0.0f};
    sample_counts counts;
    count_samples(samples, 7, counts);
    EXPECT_EQ(counts.samples, 7);
    EXPECT_EQ(counts.nans, 1);
    EXPECT_EQ(counts.infinities, 2);
    EXPECT_EQ(counts.subnormals, 1);
    EXPECT_EQ(counts.peak, 0.75f);
    EXPECT_EQ(bad_sample_text(counts), "1 NaN, 2 infinite, 1 subnormal");
    EXPECT_EQ(bad_sample_text(sample_counts{}), "");
}

machine_check with_verdicts(verdict first, verdict second) {
    machine_check machine;
    machine.rows = {{"state", first, ""}, {"cost", second, ""}};
    return machine;
}

TEST(CheckResult, AFailingMachineFailsTheRun) {
    machine_check good = with_verdicts(verdict::pass, verdict::warn);
    machine_check skipped = with_verdicts(verdict::pass, verdict::skip);
    machine_check bad = with_verdicts(verdict::fail, verdict::warn);
    EXPECT_EQ(machine_verdict(good), verdict::warn);
    EXPECT_EQ(machine_verdict(bad), verdict::fail);
    EXPECT_EQ(check_exit_code({good, skipped}), 0);
    EXPECT_EQ(check_exit_code({good, bad}), 1);
    EXPECT_EQ(check_exit_code({}), 1);
}

TEST(WavFile, WhatIsWrittenReadsBackInEachFormat) {
    kestrune::test::temp_folder dir;
    const float left[] = {0.0f, 0.5f, -0.5f, 1.5f, -1.5f};
    const float right[] = {0.25f, -0.25f, 1.0f, -1.0f, 0.125f};
    for (sample_format format :
         {sample_format::pcm16, sample_format::pcm24, sample_format::float32}) {
        std::string path = dir.at("out.wav");
        std::string error;
        wav_writer writer;
        ASSERT_TRUE(writer.open(path, 22050, format, error)) << error;
        ASSERT_TRUE(writer.write(left, right, 2, error));
        ASSERT_TRUE(writer.write(left + 2, right + 2, 3, error));
        EXPECT_EQ(writer.peak(), 1.5f);
        ASSERT_TRUE(writer.close(error)) << error;
        auto sound = read_sound(path, error);
        ASSERT_TRUE(sound) << error;
        EXPECT_EQ(sound->samples_per_second, 22050);
        ASSERT_EQ(sound->left.size(), 5u);
        bool integer = format != sample_format::float32;
        double step = format == sample_format::pcm16 ? 1.0 / 32767 : 1.0 / 8388607;
        for (std::size_t k = 0; k < 5; ++k) {
            // Integer formats clip at full scale.
            float l = integer ? std::fmax(-1.0f, std::fmin(1.0f, left[k])) : left[k];
            EXPECT_NEAR(sound->left[k], l, integer ? step : 0.0) << k;
            EXPECT_NEAR(sound->right[k], right[k], integer ? step : 0.0) << k;
        }
    }
    std::string error;
    EXPECT_FALSE(read_sound(dir.write_file("text.wav", "RIFF but not a wave"), error));
    EXPECT_NE(error.find("not a WAV file"), std::string::npos);
}

TEST(CheckLevels, TodaysChecksRunAtTheDefaultLevelAndTheHeavyOnesLater) {
    for (const char* name :
         {"announced", "starts", "render 22050 Hz", "render 44100 Hz", "render 96000 Hz",
          "parameters", "state", "start twice", "mute and halt", "cost", "fault"}) {
        EXPECT_TRUE(runs_at(name, default_level)) << name;
    }
    EXPECT_TRUE(runs_at("render 44100 Hz", 1));
    EXPECT_FALSE(runs_at("render 48000 Hz", 2));
    EXPECT_FALSE(runs_at("threads", default_level));
    EXPECT_TRUE(runs_at("threads", highest_level));
    EXPECT_EQ(check_level("allocations"), 9);
}

TEST(CheckLevels, OneSeedGivesTheSameValuesOnEveryBuild) {
    random_stream a(1);
    random_stream b(1);
    EXPECT_EQ(a.next(), 0x910a2dec89025cc1ULL); // splitmix64's first value for seed 1
    b.next();
    for (int k = 0; k < 1000; ++k) {
        int v = a.between(200, -3);
        EXPECT_EQ(v, b.between(-3, 200));
        EXPECT_GE(v, -3);
        EXPECT_LE(v, 200);
    }
    EXPECT_EQ(random_stream(1).between(0, 0), 0);
    EXPECT_NE(random_stream(run_seed(1, 1)).next(), random_stream(1).next());
}

TEST(CheckReports, JsonAndJunitCarryLevelSeedAndEachRow) {
    machine_check machine = with_verdicts(verdict::fail, verdict::warn);
    machine.name = "Odd <\"&'> \x01Synth";
    machine.level = 7;
    machine.seed = 42;
    machine.rows[0].reason = "NaN at 255";
    machine.rows[0].figures = {{"nan", 3.0}};
    machine.rows.push_back({"threads", verdict::skip, "after the fault"});
    auto json = check_json({machine}, 7, 42);
    EXPECT_EQ(json["level"], 7);
    EXPECT_EQ(json["seed"], 42);
    EXPECT_EQ(json["machines"][0]["checks"][0]["figures"]["nan"], 3.0);
    EXPECT_EQ(json["machines"][0]["seed"], 42);
    std::string xml = check_junit({machine});
    EXPECT_NE(xml.find("<testsuites name=\"kestrune-host check\" tests=\"3\" failures=\"1\" "
                       "skipped=\"1\">"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("name=\"Odd &lt;&quot;&amp;&apos;&gt; ?Synth (level 7, seed 42)\""),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<failure message=\"NaN at 255\"/>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<system-out>warn: </system-out>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<skipped message=\"after the fault\"/>"), std::string::npos) << xml;
}

// A child's report comes from a process a machine may have damaged: what isn't a report of one
// machine is refused, and texts are bounded.
TEST(CheckChild, AReportIsReadBackAndAnythingElseRefused) {
    machine_check machine = with_verdicts(verdict::pass, verdict::warn);
    machine.name = std::string(5000, 'n');
    machine.seed = 1ULL << 40;
    machine.rows[1].figures = {{"ratio", 2.5}};
    std::string text = check_json({machine}, 5, 9).dump();
    auto back = machine_from_child(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name.size(), child_text_limit);
    EXPECT_EQ(back->seed, 1ULL << 40);
    ASSERT_EQ(back->rows.size(), 2u);
    EXPECT_EQ(back->rows[1].result, verdict::warn);
    EXPECT_EQ(back->rows[1].figures, machine.rows[1].figures);
    EXPECT_FALSE(machine_from_child(text.substr(0, text.size() / 2)));
    EXPECT_FALSE(machine_from_child(check_json({machine, machine}, 5, 9).dump()));
    std::string odd = text;
    odd.replace(odd.rfind("\"warn\""), 6, "\"meh\""); // the row's, after the machine's
    EXPECT_FALSE(machine_from_child(odd));
    machine.rows.resize(child_rows_limit + 1);
    EXPECT_FALSE(machine_from_child(check_json({machine}, 5, 9).dump()));
}
