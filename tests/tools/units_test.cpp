// The host program's plain pieces, and the demo machines' sound pieces, in process.
#include <cmath>

#include <gtest/gtest.h>

#include "choose.h"
#include "delay_line.h"
#include "listing.h"
#include "note_name.h"
#include "progress.h"
#include "synth_voice.h"
#include "value_areas.h"
#include "value_lookup.h"

using namespace kestrune_host;

namespace {

kestrune::host_parameter make_param(int kind, const char* title, int lowest, int highest,
                                    int empty) {
    kestrune::host_parameter p{};
    p.kind = kind;
    p.title = title;
    p.caption = title;
    p.lowest = lowest;
    p.highest = highest;
    p.empty_value = empty;
    return p;
}

// A description as the library would announce it, without the library.
struct fake_info final : kestrune::host_info {
    kestrune::host_plugin* make_instance() override { return nullptr; }
    bool store_description(kestrune::host_archive*) override { return false; }

    // Lays the lists out to hold globals and tracks.
    void set_lists(std::vector<kestrune::host_parameter*> globals,
                   std::vector<kestrune::host_parameter*> tracks = {}) {
        storage.resize(kestrune::list_slots(globals.size(), tracks.size()));
        lay_out_lists(storage.data(), globals.size(), tracks.size());
        for (std::size_t i = 0; i < globals.size(); ++i)
            set_global_param(i, globals[i]);
        for (std::size_t i = 0; i < tracks.size(); ++i)
            set_track_param(i, tracks[i]);
    }
    std::vector<kestrune::host_parameter*> storage;
};

} // namespace

TEST(NoteName, TrackerNamesGiveTheHostsNoteBytes) {
    EXPECT_EQ(parse_note("C-4"), 0x41);
    EXPECT_EQ(parse_note("A-4"), 0x4A);
    EXPECT_EQ(parse_note("C#4"), 0x42);
    EXPECT_EQ(parse_note("Db4"), 0x42);
    EXPECT_EQ(parse_note("c-4"), 0x41);
    EXPECT_EQ(parse_note("A4"), 0x4A);
    EXPECT_EQ(parse_note("C-0"), 0x01);
    EXPECT_EQ(parse_note("B-9"), 0x9C); // the highest note the note parameter takes
    EXPECT_EQ(parse_note("off"), note_off_byte);
    EXPECT_EQ(parse_note("OFF"), note_off_byte);
    EXPECT_EQ(parse_note("==="), note_off_byte);
}

TEST(NoteName, NonNotesAreRefused) {
    for (const char* bad :
         {"", "H-4", "C-", "C-10", "C--4", "C+4", "B#4", "Cb4", "C-x", "4", "C#", "A-4 ", "note"}) {
        EXPECT_FALSE(parse_note(bad).has_value()) << bad;
    }
}

TEST(NoteName, EveryNoteByteNamesItselfBack) {
    for (int octave = 0; octave <= 9; ++octave) {
        for (int semitone = 1; semitone <= 12; ++semitone) {
            auto byte = static_cast<unsigned char>(octave << 4 | semitone);
            EXPECT_EQ(parse_note(note_name(byte)), byte) << note_name(byte);
        }
    }
    EXPECT_EQ(note_name(255), "off");
    EXPECT_EQ(note_name(0x40), "?64"); // semitone 0 is no note
}

TEST(ValueAreas, GlobalsPackByKindWithoutPadding) {
    auto a = make_param(2, "a", 0, 100, 255);
    auto b = make_param(3, "b", 0, 20000, 65535);
    auto c = make_param(1, "c", 0, 1, 255);
    kestrune::host_parameter* three[] = {&a, &b, &c};
    parameter_list params{three, three + 3};
    EXPECT_EQ(global_area_size(params), 4);
    EXPECT_EQ(global_offset(params, 0), 0);
    EXPECT_EQ(global_offset(params, 1), 1);
    EXPECT_EQ(global_offset(params, 2), 3);
    EXPECT_EQ(global_offset(params, 3), -1);

    unsigned char area[4] = {};
    write_empty_globals(params, area);
    EXPECT_EQ(area[0], 255);
    EXPECT_EQ(area[1], 0xff);
    EXPECT_EQ(area[2], 0xff);
    EXPECT_EQ(area[3], 255);
    EXPECT_TRUE(write_global(params, 1, 0x1234, area));
    EXPECT_EQ(area[1], 0x34); // little-endian
    EXPECT_EQ(area[2], 0x12);
    EXPECT_EQ(area[3], 255); // the neighbour is untouched
    EXPECT_FALSE(write_global(params, 3, 1, area));
}

TEST(ValueAreas, AnUnknownKindGivesNoArea) {
    auto a = make_param(2, "a", 0, 100, 255);
    auto odd = make_param(7, "odd", 0, 1, 255);
    kestrune::host_parameter* two[] = {&a, &odd};
    parameter_list params{two, two + 2};
    EXPECT_EQ(global_area_size(params), -1);
    unsigned char area[2] = {9, 9};
    EXPECT_FALSE(write_global(params, 0, 1, area));
    write_empty_globals(params, area);
    EXPECT_EQ(area[0], 9);
}

TEST(ValueAreas, TrackRecordsAreNoteThenCommandWordLittleEndian) {
    unsigned char area[9];
    std::fill(area, area + 9, 0xAA);
    clear_tracks(area, 3);
    EXPECT_EQ(area[8], 0);
    write_track(area, 2, 0x41, 0x0C40);
    EXPECT_EQ(area[6], 0x41);
    EXPECT_EQ(area[7], 0x40);
    EXPECT_EQ(area[8], 0x0C);
    EXPECT_EQ(area[3], 0); // track 1 untouched
}

TEST(Choose, MachinesByNameLabelUriOrPosition) {
    fake_info synth, delay, pad;
    synth.full_name = "Kestrune Demo Synth";
    synth.short_label = "DemoSynth";
    synth.identity_uri = "@x/quillon/Kestrune+Demo+Synth";
    delay.full_name = "Kestrune Demo Delay";
    delay.short_label = "DemoDelay";
    delay.identity_uri = "@x/quillon/Kestrune+Demo+Delay";
    pad.full_name = "Soft Pad";
    pad.short_label = "Pad";
    pad.identity_uri = "@x/quillon/Soft+Pad";
    std::vector<kestrune::host_info*> machines{&synth, &delay, &pad};
    std::string error;
    EXPECT_EQ(choose_machine(machines, "Kestrune Demo Delay", error), 1u);
    EXPECT_EQ(choose_machine(machines, "DemoSynth", error), 0u);
    EXPECT_EQ(choose_machine(machines, "@x/quillon/Soft+Pad", error), 2u);
    EXPECT_EQ(choose_machine(machines, "demosynth", error), 0u);
    EXPECT_EQ(choose_machine(machines, "delay", error), 1u); // a part only one has
    EXPECT_EQ(choose_machine(machines, "#2", error), 2u);

    EXPECT_FALSE(choose_machine(machines, "demo", error));
    EXPECT_NE(error.find("could be any of"), std::string::npos) << error;
    EXPECT_FALSE(choose_machine(machines, "Organ", error));
    EXPECT_NE(error.find("no machine is called \"Organ\""), std::string::npos) << error;
    EXPECT_FALSE(choose_machine(machines, "#3", error));
    EXPECT_NE(error.find("#0 to #2"), std::string::npos) << error;
    EXPECT_FALSE(choose_machine({}, "x", error));
}

TEST(Choose, ParametersByIndexOrTitle) {
    fake_info info;
    info.full_name = "M";
    auto a = make_param(2, "Cutoff", 0, 100, 255);
    auto b = make_param(3, "Fine Tune", 0, 65534, 65535);
    info.set_lists({&a, &b});
    std::string error;
    EXPECT_EQ(choose_parameter(info, "1", error), 1);
    EXPECT_EQ(choose_parameter(info, "fine tune", error), 1);
    EXPECT_FALSE(choose_parameter(info, "2", error));
    EXPECT_NE(error.find("2 global parameters (0 to 1)"), std::string::npos) << error;
    EXPECT_FALSE(choose_parameter(info, "-1", error));
    EXPECT_FALSE(choose_parameter(info, "Resonance", error));
    info.set_lists({});
    EXPECT_FALSE(choose_parameter(info, "0", error));
    EXPECT_NE(error.find("no global parameters"), std::string::npos) << error;
}

TEST(Choose, IntegersAndSettings) {
    EXPECT_EQ(parse_integer("42"), 42);
    EXPECT_EQ(parse_integer("-7"), -7);
    EXPECT_EQ(parse_integer("0x1F"), 31);
    EXPECT_EQ(parse_integer("010"), 10); // not octal
    EXPECT_FALSE(parse_integer(""));
    EXPECT_FALSE(parse_integer("12a"));
    EXPECT_FALSE(parse_integer(" 1"));
    std::string p, v;
    EXPECT_TRUE(split_setting("Cutoff=2000 Hz", p, v));
    EXPECT_EQ(p, "Cutoff");
    EXPECT_EQ(v, "2000 Hz");
    EXPECT_TRUE(split_setting("Gain=-6=x", p, v));
    EXPECT_EQ(v, "-6=x");
    EXPECT_FALSE(split_setting("Cutoff", p, v));
    EXPECT_FALSE(split_setting("=3", p, v));
    EXPECT_FALSE(split_setting("a=", p, v));
}

TEST(ValueLookup, ExactTextsFirstThenTheNearestNumber) {
    auto waveform = [](int v) {
        const char* names[] = {"Sine", "Saw", "Square", "Triangle"};
        return std::string(names[v]);
    };
    std::string examples;
    auto saw = find_value(0, 3, waveform, " saw ", examples);
    ASSERT_TRUE(saw);
    EXPECT_EQ(saw->host_value, 1);
    EXPECT_TRUE(saw->exact);
    EXPECT_FALSE(find_value(0, 3, waveform, "Noise", examples));
    EXPECT_EQ(examples, "\"Sine\", \"Saw\", \"Square\", \"Triangle\"");

    // A wide machine range behind a host word: host v means machine 3v - 100.
    auto tune = [](int v) { return std::to_string(3 * v - 100) + " cents"; };
    auto near = find_value(0, 100, tune, "51", examples);
    ASSERT_TRUE(near);
    EXPECT_EQ(near->host_value, 50); // 50 cents, the nearest to 51
    EXPECT_FALSE(near->exact);
    auto same_number = find_value(0, 100, tune, "50", examples);
    ASSERT_TRUE(same_number);
    EXPECT_EQ(same_number->host_value, 50);
    EXPECT_TRUE(same_number->exact);                               // "50" is "50 cents"
    auto exact = find_value(100, 0, tune, "-100 cents", examples); // either order
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->host_value, 0);
    EXPECT_EQ(leading_number("+1.5 cents"), 1.5);
    EXPECT_FALSE(leading_number("on"));
}

TEST(Listing, CommandListsSplitAtLineFeeds) {
    EXPECT_EQ(command_entries("Help\nAbout X..."),
              (std::vector<std::string>{"Help", "About X..."}));
    EXPECT_EQ(command_entries("\nAbout X..."), (std::vector<std::string>{"", "About X..."}));
    EXPECT_TRUE(command_entries(nullptr).empty());
}

TEST(Listing, TextAndJsonShowEveryField) {
    fake_info info;
    info.kind = 1;
    info.flags = 1;
    info.fewest_tracks = 8;
    info.most_tracks = 32;
    info.full_name = "Soft\tPad";
    info.short_label = "Pad";
    info.author = "Someone";
    info.identity_uri = "@x/quillon/Soft+Pad";
    info.command_list = "Help\nAbout Soft\tPad...";
    auto cutoff = make_param(3, "Cutoff", 20, 20000, 65535);
    cutoff.default_value = 6000;
    auto note = make_param(0, "Note", 1, 156, 0);
    note.flags = 4;
    info.set_lists({&cutoff}, {&note});

    std::string text = machine_text(info, 3);
    EXPECT_NE(text.find("#3  Soft\\tPad"), std::string::npos) << text;
    EXPECT_NE(text.find("generator"), std::string::npos);
    EXPECT_NE(text.find("8 to 32"), std::string::npos);
    EXPECT_NE(text.find("1: About Soft\\tPad..."), std::string::npos) << text;
    EXPECT_NE(text.find("Cutoff  word  20..20000  6000     65535"), std::string::npos) << text;
    EXPECT_NE(text.find("Note   note  1..156"), std::string::npos) << text;

    auto json = machine_json(info, 3);
    EXPECT_EQ(json["full_name"], "Soft\tPad");
    EXPECT_EQ(json["kind"], "generator");
    EXPECT_EQ(json["commands"][1], "About Soft\tPad...");
    EXPECT_EQ(json["global_parameters"][0]["highest"], 20000);
    EXPECT_EQ(json["global_parameters"][0]["default"], 6000);
    EXPECT_EQ(json["global_parameters"][0]["kind"], "word");
    EXPECT_EQ(json["track_parameters"][0]["flags"], 4);
}

TEST(Listing, NamesInACodePageStillMakeJson) {
    fake_info info;
    info.full_name = "Caf\xe9 Synth"; // Windows-1252, not UTF-8
    std::string text = json_text(machine_json(info, 0));
    EXPECT_NE(text.find("Caf\xef\xbf\xbd Synth"), std::string::npos) << text; // U+FFFD
}

TEST(Progress, TheBarFillsWithTheRender) {
    EXPECT_EQ(progress_line(0, 441000, 44100, 10), "[..........]   0%  0.0 of 10.0 s");
    EXPECT_EQ(progress_line(220500, 441000, 44100, 10), "[#####.....]  50%  5.0 of 10.0 s");
    EXPECT_EQ(progress_line(999999, 441000, 44100, 10), "[##########] 100%  10.0 of 10.0 s");
    EXPECT_EQ(progress_line(-5, 441000, 44100, 4), "[....]   0%  0.0 of 10.0 s");
}

TEST(DemoSound, NotesAreTunedToTheHostsNames) {
    // The host's A-4 (0x4A) reaches a machine as note 58, C-4 (0x41) as 49.
    EXPECT_NEAR(demo::note_frequency(58, 0.0), 440.0, 1e-9);
    EXPECT_NEAR(demo::note_frequency(70, 0.0), 880.0, 1e-9);
    EXPECT_NEAR(demo::note_frequency(49, 0.0), 261.626, 1e-3);
    EXPECT_NEAR(demo::note_frequency(58, 100.0), demo::note_frequency(59, 0.0), 1e-9);
}

TEST(DemoSound, EnvelopeRisesHoldsAndFalls) {
    demo::envelope env;
    EXPECT_FALSE(env.active());
    env.trigger(4.0);
    double level = 0.0;
    for (int i = 0; i < 5; ++i) {
        level = env.next();
    }
    EXPECT_DOUBLE_EQ(level, 1.0);
    EXPECT_DOUBLE_EQ(env.next(), 1.0); // held
    env.end(10.0);
    int samples = 0;
    while (env.active() && samples < 100) {
        env.next();
        ++samples;
    }
    EXPECT_NEAR(samples, 10, 1); // a linear fall, within rounding
    env.trigger(0.0);            // no attack: full level at once
    EXPECT_DOUBLE_EQ(env.next(), 1.0);
}

TEST(DemoSound, LowPassPassesLowAndCutsHigh) {
    auto c = demo::low_pass(1000.0, 0.0, 44100.0);
    demo::low_pass_filter dc;
    double out = 0.0;
    for (int i = 0; i < 5000; ++i) {
        out = dc.next(c, 1.0);
    }
    EXPECT_NEAR(out, 1.0, 1e-6);
    demo::low_pass_filter high;
    double most = 0.0;
    for (int i = 0; i < 5000; ++i) {
        double y = high.next(c, (i & 1) ? 1.0 : -1.0); // the highest frequency there is
        most = i > 1000 ? std::max(most, std::fabs(y)) : most;
    }
    EXPECT_LT(most, 0.01);
}

TEST(DemoSound, DelayLineEchoesAfterItsDelay) {
    demo::delay_line line;
    ASSERT_TRUE(line.resize(10));
    std::vector<float> out;
    for (int i = 0; i < 25; ++i) {
        out.push_back(line.process(i == 0 ? 1.0f : 0.0f, 10, 0.5f));
    }
    EXPECT_EQ(out[10], 1.0f);
    EXPECT_EQ(out[20], 0.5f);
    EXPECT_EQ(out[9], 0.0f);
    EXPECT_EQ(line.process(1.0f, 11, 0.5f), 0.0f); // longer than its room: no echo
    line.clear();
    EXPECT_EQ(line.process(0.0f, 5, 0.0f), 0.0f);
}
