// kestrune-host as a user runs it: its refusals, its listing, its renders and its state files.
// It finds the library and the demo machines beside itself in bin/.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/temp_folder.h"
#include "tests/support/test_paths.h"
#include "tool_support.h"

extern char** environ;

using kestrune::test::read_wav;
using kestrune::test::run_host;
using kestrune::test::temp_folder;
using kestrune::test::tool_result;

namespace {

constexpr const char* synth = "Kestrune Demo Synth";
constexpr const char* delay = "Kestrune Demo Delay";

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// How many processes have text in their command line.
int processes_with(const std::string& text) {
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string line = slurp((entry.path() / "cmdline").string());
        found += line.find(text) != std::string::npos ? 1 : 0;
    }
    return found;
}

// Waits up to seconds for processes_with(text) to become count; answers whether it did.
bool await_processes(const std::string& text, int count, double seconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (processes_with(text) != count) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void expect_refused(const tool_result& r, int code, const std::string& words) {
    EXPECT_EQ(r.exit_code, code) << r.err;
    EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
}

} // namespace

TEST(HostArguments, BadCommandLinesAreRefusedWithAReason) {
    temp_folder dir;
    std::string out = dir.at("out.wav");
    expect_refused(run_host({}), 2, "subcommand");
    expect_refused(run_host({"render", synth}), 2, "--output");
    expect_refused(run_host({"render", synth, "-o", out, "--note", "H-4"}), 2,
                   "\"H-4\" is not a note");
    expect_refused(run_host({"render", synth, "-o", out, "--track", "1", "--note", "A-4"}), 2,
                   "comes before any --note");
    expect_refused(run_host({"render", synth, "-o", out, "--note", "A-4", "--at", "soon"}), 2,
                   "number of beats");
    expect_refused(run_host({"render", synth, "-o", out, "--set", "99=1"}), 2,
                   "there is no parameter 99");
    expect_refused(run_host({"render", synth, "-o", out, "--set", "Waveform=9"}), 2,
                   "takes host values 0 to 3");
    expect_refused(run_host({"render", synth, "-o", out, "--value", "Waveform=Noise"}), 2,
                   "has no value \"Noise\"");
    expect_refused(run_host({"render", synth, "-o", out, "--note", "A-4", "--track", "40"}), 2,
                   "track 40 is out of range");
    expect_refused(run_host({"render", delay, "-o", out}), 2, "give it an --input");
    expect_refused(run_host({"render", synth, "-o", out, "--tracks", "40"}), 2,
                   "takes 8 to 32 tracks");
    expect_refused(run_host({"render", synth, "-o", out, "--note", "A-4", "--command", "C40G"}), 2,
                   "four hexadecimal digits");
    expect_refused(run_host({"render", synth, "-o", out, "--note", "A-4", "--note", "C-5"}), 2,
                   "two notes on track 0");
    expect_refused(run_host({"render", synth, "-o", out, "--bpm", "0"}), 2, "--bpm");
    EXPECT_FALSE(std::ifstream(out).good()); // nothing refused leaves a file behind
}

TEST(HostArguments, FailuresOfTheWorkAreSaid) {
    temp_folder dir;
    std::string out = dir.at("out.wav");
    expect_refused(run_host({"render", "Organ", "-o", out}), 1, "no machine is called \"Organ\"");
    expect_refused(run_host({"about", "Organ"}), 1, "no machine is called");
    expect_refused(run_host({"render", synth, "-o", dir.at("no/such/folder/out.wav")}), 1,
                   "can't write");
    expect_refused(
        run_host({"render", synth, "-o", out, "--store-state", dir.at("no/such/folder/s.state")}),
        1, "can't write");
    expect_refused(run_host({"render", synth, "-o", out, "--store-state", dir.path()}), 1,
                   "it is a folder");
    expect_refused(run_host({"render", synth, "-o", out, "--state", dir.at("missing.state")}), 1,
                   "can't read");
    std::string garbage = dir.write_file("garbage.state", "RIFF nothing of ours");
    expect_refused(run_host({"render", synth, "-o", out, "--state", garbage}), 1,
                   "is damaged: it is not a Kestrune state file");
    expect_refused(run_host({"render", delay, "-o", out, "--input", dir.at("none.wav")}), 1,
                   "can't read the sound file");
    expect_refused(run_host({"--library", dir.at("nothing.so"), "list"}), 1, "no Kestrune library");
    std::string not_library = dir.write_file("fake.so", "not a library");
    expect_refused(run_host({"--library", not_library, "list"}), 1, "can't load");
    EXPECT_FALSE(std::ifstream(out).good());
}

TEST(HostList, TextShowsEveryDemoMachine) {
    tool_result r = run_host({"list"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("2 machines in "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Kestrune Demo Synth"), std::string::npos);
    EXPECT_NE(r.out.find("Kestrune Demo Delay"), std::string::npos);
    EXPECT_NE(r.out.find("kind      generator"), std::string::npos);
    EXPECT_NE(r.out.find("kind      effect"), std::string::npos);
    EXPECT_NE(r.out.find("1: About Kestrune Demo Synth..."), std::string::npos);
    EXPECT_NE(r.out.find("/quillon/Kestrune+Demo+Synth"), std::string::npos);
    EXPECT_NE(r.out.find("Fine Tune  word    0..65534"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Note Command"), std::string::npos);

    tool_result one = run_host({"list", "DemoDelay"});
    ASSERT_EQ(one.exit_code, 0) << one.err;
    EXPECT_EQ(one.out.find("Demo Synth"), std::string::npos) << one.out;
    EXPECT_NE(one.out.find("Gain"), std::string::npos);
}

TEST(HostList, JsonDescribesWhatTheHostIsGiven) {
    tool_result r = run_host({"list", "--json"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    auto doc = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.out;
    ASSERT_TRUE(doc["machines"].is_array());
    ASSERT_EQ(doc["machines"].size(), 2u);
    const nlohmann::json* s = nullptr;
    const nlohmann::json* d = nullptr;
    for (const auto& m : doc["machines"]) {
        (m["full_name"] == synth ? s : d) = &m;
    }
    ASSERT_TRUE(s && d);
    EXPECT_EQ((*s)["kind"], "generator");
    EXPECT_EQ((*s)["fewest_tracks"], 8);
    EXPECT_EQ((*s)["most_tracks"], 32);
    EXPECT_EQ((*s)["commands"], nlohmann::json({"Help", "About Kestrune Demo Synth..."}));
    const auto& globals = (*s)["global_parameters"];
    ASSERT_EQ(globals.size(), 8u);
    EXPECT_EQ(globals[0]["title"], "Waveform");
    EXPECT_EQ(globals[0]["kind"], "byte");
    EXPECT_EQ(globals[1]["kind"], "word"); // Cutoff 20..20000, taken unchanged
    EXPECT_EQ(globals[1]["lowest"], 20);
    EXPECT_EQ(globals[3]["kind"], "switch");
    EXPECT_EQ(globals[4]["highest"], 65534); // Fine Tune, rescaled
    EXPECT_EQ(globals[4]["default"], 32767);
    EXPECT_EQ((*s)["track_parameters"][0]["title"], "Note");
    EXPECT_EQ((*d)["kind"], "effect");
    EXPECT_TRUE((*d)["track_parameters"].empty());
    EXPECT_EQ((*d)["global_parameters"][3]["highest"], 36); // Gain -24..12, shifted
    EXPECT_EQ((*d)["global_parameters"][3]["default"], 24);
}

TEST(HostAbout, PrintsTheAboutBoxText) {
    tool_result r = run_host({"about", "DemoSynth"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("now wrapping...\n\nName:\t\tKestrune Demo Synth\nLabel:\t\tDemoSynth"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("kestrune-demo-synth.dll"), std::string::npos);
    EXPECT_NE(r.out.find("NumParams:\t8"), std::string::npos);
    EXPECT_EQ(r.err.find("now wrapping"), std::string::npos) << r.err; // it went to stdout

    tool_result help = run_host({"command", "DemoSynth", "0"});
    ASSERT_EQ(help.exit_code, 0) << help.err;
    EXPECT_NE(help.out.find("A-4 sounds at 440 Hz"), std::string::npos) << help.out;
    expect_refused(run_host({"command", "DemoSynth", "2"}), 2, "there is no command 2");
}

TEST(HostRender, WritesTheLengthAskedForAndSounds) {
    temp_folder dir;
    std::string out = dir.at("a.wav");
    tool_result r = run_host({"render", synth, "-o", out, "--seconds", "0.75", "--rate", "48000",
                              "--note", "A-4", "--track", "0", "--at", "0"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("0.75 s of \"Kestrune Demo Synth\" at 48000 Hz"), std::string::npos)
        << r.out;
    auto sound = read_wav(out);
    EXPECT_EQ(sound.samples_per_second, 48000);
    EXPECT_EQ(sound.left.size(), 36000u);
    EXPECT_GT(kestrune::test::rms(sound.left), 0.05);
    EXPECT_GT(kestrune::test::rms(sound.right), 0.05);

    // No note: the same length, and silence.
    std::string quiet = dir.at("quiet.wav");
    r = run_host({"render", synth, "-o", quiet, "--seconds", "0.5"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("silent"), std::string::npos) << r.out;
    auto silence = read_wav(quiet);
    EXPECT_EQ(silence.left.size(), 22050u);
    EXPECT_EQ(kestrune::test::peak(silence.left), 0.0f);
}

TEST(HostRender, BlockSizesDontChangeTheSound) {
    temp_folder dir;
    std::vector<std::string> base{"render", synth,      "--seconds", "0.3",      "--note",
                                  "C-5",    "--length", "1",         "--format", "float"};
    std::vector<std::vector<float>> renders;
    for (const char* block : {"1", "37", "256", "8192"}) {
        std::vector<std::string> args = base;
        args.insert(args.end(),
                    {"-o", dir.at(std::string("b") + block + ".wav"), "--block", block});
        tool_result r = run_host(args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        renders.push_back(read_wav(dir.at(std::string("b") + block + ".wav")).left);
    }
    for (std::size_t i = 1; i < renders.size(); ++i) {
        EXPECT_EQ(renders[i], renders[0]) << "render " << i;
    }
}

TEST(HostState, RoundTripThroughFiles) {
    temp_folder dir;
    std::string state = dir.at("synth.state");
    std::vector<std::string> play{"--seconds", "0.4", "--note", "E-4", "--format", "float"};

    std::vector<std::string> first{"render",        synth, "-o",      dir.at("set.wav"),
                                   "--set",         "0=3", "--value", "Cutoff=900 Hz",
                                   "--store-state", state};
    first.insert(first.end(), play.begin(), play.end());
    tool_result r = run_host(first);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string stored = slurp(state);
    EXPECT_EQ(stored.rfind("kestrune-state 1\nmachine @", 0), 0u) << stored;

    // The state names its machine; restored, it plays as the settings did.
    std::vector<std::string> second{"render",
                                    "-o",
                                    dir.at("restored.wav"),
                                    "--state",
                                    state,
                                    "--store-state",
                                    dir.at("again.state")};
    second.insert(second.end(), play.begin(), play.end());
    r = run_host(second);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_wav(dir.at("restored.wav")).left, read_wav(dir.at("set.wav")).left);
    EXPECT_EQ(slurp(dir.at("again.state")), stored);

    std::vector<std::string> plain{"render", synth, "-o", dir.at("plain.wav")};
    plain.insert(plain.end(), play.begin(), play.end());
    ASSERT_EQ(run_host(plain).exit_code, 0);
    EXPECT_NE(read_wav(dir.at("plain.wav")).left, read_wav(dir.at("set.wav")).left);

    // Another machine's state is refused.
    expect_refused(run_host({"render", delay, "-o", dir.at("d.wav"), "--input", dir.at("set.wav"),
                             "--state", state}),
                   1, "belongs to");

    // A state cut short is damage, not a silent default.
    std::string cut = dir.write_file("cut.state", stored.substr(0, stored.size() - 3));
    expect_refused(run_host({"render", "-o", dir.at("c.wav"), "--state", cut}), 1, "is damaged");
}

// A host that dies while its machine hangs in a bridge: the bridge ends itself at once, though
// its machine's call never returns.
TEST(HostIsolated, ABridgeEndsWhenItsHostDies) {
    temp_folder dir;
    std::string host = kestrune::test::place_host_program(dir, "kestrune-host");
    std::string machine = dir.copy_in(kestrune::test::fixture_path("isolation_hang_render.dll"),
                                      "Gear/Psycle/isolation_hang_render.dll");
    const char* arguments[] = {host.c_str(), "check", "--isolated", nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    pid_t id = 0;
    ASSERT_EQ(
        posix_spawn(&id, host.c_str(), &quiet, nullptr, const_cast<char**>(arguments), environ), 0);
    posix_spawn_file_actions_destroy(&quiet);
    ASSERT_TRUE(await_processes(machine, 1, 5.0)) << "no bridge started";
    // Well inside render_block's hang, and well before its deadline.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(id, SIGKILL);
    waitpid(id, nullptr, 0);
    EXPECT_TRUE(await_processes(machine, 0, 1.0)) << "the bridge outlived its host";
}
