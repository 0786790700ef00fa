// kestrune-host on both builds (under Wine for the Windows one): its listing, a render of the
// demo synth, and check, on the demo machines and on a folder that also holds machines that
// fault.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#if defined(_WIN32)
#include <windows.h>
// After windows.h:
#include <tlhelp32.h>
#endif

#include "hostkit/host_platform.h"
#include "tests/support/environment.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_paths.h"
#include "tool_support.h"

using kestrune::test::host_folder_with;
using kestrune::test::run_host;
using kestrune::test::temp_folder;
using kestrune::test::tool_result;
namespace fs = std::filesystem;

namespace {

constexpr const char* synth = "Kestrune Demo Synth";
constexpr const char* delay = "Kestrune Demo Delay";

// The machines that fault: in render_block, and in describe (their value text).
#if defined(_WIN32)
constexpr const char* render_fault_file = "msvc_fault_render_block_av.dll";
constexpr const char* describe_fault_file = "msvc_fault_describe_throw.dll";
#else
constexpr const char* render_fault_file = "fault_render_block.dll";
constexpr const char* describe_fault_file = "fault_describe.dll";
#endif

nlohmann::json parse(const tool_result& r) {
    auto json = nlohmann::json::parse(r.out, nullptr, false);
    EXPECT_FALSE(json.is_discarded()) << r.out << r.err;
    return json;
}

// The entry of list whose key (list's "full_name", check's "name") is name; null for none.
const nlohmann::json* machine_named(const nlohmann::json& list, const std::string& name,
                                    const char* key = "name") {
    for (const auto& machine : list) {
        if (machine.value(key, "") == name) {
            return &machine;
        }
    }
    return nullptr;
}

} // namespace

TEST(HostEverywhere, ListJsonShowsTheDemoMachines) {
    tool_result r = run_host({"list", "--json"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    nlohmann::json list = parse(r)["machines"];
    ASSERT_NE(machine_named(list, synth, "full_name"), nullptr) << r.out;
    ASSERT_NE(machine_named(list, delay, "full_name"), nullptr) << r.out;
    EXPECT_EQ((*machine_named(list, synth, "full_name"))["kind"], "generator");
    EXPECT_EQ((*machine_named(list, delay, "full_name"))["kind"], "effect");
}

// scan tells what became of each DLL: probed when new, cached when unchanged, probed again
// when fresh.
TEST(HostEverywhere, ScanShowsEachDllAndItsOutcome) {
    temp_folder cache;
    kestrune::test::scoped_environment named{"KESTRUNE_CACHE", cache.path()};
    for (const auto& [arguments, outcome] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"scan", "--json"}, "new"},
             {{"scan", "--json"}, "cached"},
             {{"scan", "--json", "--fresh"}, "probed"}}) {
        tool_result r = run_host(arguments);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        auto doc = nlohmann::json::parse(r.out, nullptr, false);
        ASSERT_FALSE(doc.is_discarded()) << r.out;
        EXPECT_EQ(doc["announced"], 2);
        ASSERT_EQ(doc["files"].size(), 2u) << r.out;
        for (const auto& file : doc["files"]) {
            EXPECT_EQ(file["outcome"], outcome) << r.out;
        }
    }
    EXPECT_TRUE(fs::exists(fs::path(cache.path()) / "scan-cache.bin"));
}

TEST(HostEverywhere, RenderOfTheDemoSynthWritesAnAudibleWav) {
    temp_folder dir;
    std::string out = dir.at("a4.wav");
    tool_result r = run_host({"render", synth, "-o", out, "--seconds", "1.5", "--rate", "48000",
                              "--note", "A-4", "--length", "2"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    auto sound = kestrune::test::read_wav(out);
    EXPECT_EQ(sound.samples_per_second, 48000);
    EXPECT_EQ(sound.left.size(), 72000u);
    float level = kestrune::test::peak(sound.left);
    EXPECT_GT(level, 0.1f);
    EXPECT_LE(level, 1.0f);
    EXPECT_GT(kestrune::test::rms(sound.right, 4800), 0.02);
}

// On Windows the text comes from the library's call of MessageBoxA, which the program reads.
TEST(HostEverywhere, AboutPrintsTheAboutBoxText) {
    tool_result r = run_host({"about", synth});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("Name:\t\tKestrune Demo Synth"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Faulted:"), std::string::npos) << r.out;
}

TEST(HostEverywhere, CheckPassesTheDemoMachines) {
    tool_result r = run_host({"check", "--json"});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    nlohmann::json result = parse(r);
    for (const char* name : {synth, delay}) {
        const nlohmann::json* machine = machine_named(result["machines"], name);
        ASSERT_NE(machine, nullptr) << r.out;
        EXPECT_NE((*machine)["verdict"], "fail") << machine->dump(2);
        EXPECT_TRUE((*machine)["fault"].is_null());
        EXPECT_GE((*machine)["realtime_factor"].get<double>(), 0.0);
        std::vector<std::string> names;
        for (const auto& row : (*machine)["checks"]) {
            names.push_back(row["name"]);
        }
        EXPECT_EQ(names, (std::vector<std::string>{
                             "announced", "starts", "render 22050 Hz", "render 44100 Hz",
                             "render 48000 Hz", "render 96000 Hz", "parameters", "state",
                             "start twice", "mute and halt", "cost", "notes and commands",
                             "parameters while playing", "damaged state", "fault"}));
        EXPECT_EQ((*machine)["level"], 5);
    }
    // The table says the same for a person.
    tool_result table = run_host({"check", synth});
    EXPECT_EQ(table.exit_code, 0);
    EXPECT_NE(table.out.find("1 machine: 1 pass, 0 warn, 0 fail"), std::string::npos) << table.out;
}

// At the highest level every check runs, and the demo machines pass each one; the report
// names the level and the seed it was given.
TEST(HostEverywhere, CheckPassesTheDemoMachinesAtLevelTen) {
    temp_folder dir;
    std::string junit = dir.at("check.xml");
    tool_result r =
        run_host({"check", "--json", "--level", "10", "--seed", "77", "--junit", junit});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    nlohmann::json result = parse(r);
    EXPECT_EQ(result["level"], 10);
    EXPECT_EQ(result["seed"], 77);
    for (const char* name : {synth, delay}) {
        const nlohmann::json* machine = machine_named(result["machines"], name);
        ASSERT_NE(machine, nullptr) << r.out;
        EXPECT_EQ((*machine)["checks"].size(), 21u) << machine->dump(2);
        for (const auto& row : (*machine)["checks"]) {
#if defined(__SANITIZE_ADDRESS__)
            // The address sanitizer keeps freed memory in quarantine: the process grows.
            if (row["name"] == "starts and memory") {
                continue;
            }
#endif
            EXPECT_EQ(row["verdict"], "pass") << name << ": " << row.dump();
        }
    }
    std::ifstream file(junit);
    std::string xml((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(xml.find("<testcase classname=\"Kestrune Demo Synth\" name=\"threads\"/>"),
              std::string::npos)
        << xml;
}

TEST(HostEverywhere, CheckRefusesWhatIsNotThere) {
    tool_result r = run_host({"check", "Organ"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.out.find("Organ  fail"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("no machine is called \"Organ\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 machine: 0 pass, 0 warn, 1 fail"), std::string::npos) << r.out;
    EXPECT_EQ(run_host({"check", "--no-such-flag"}).exit_code, 2);
}

// check's report on such a folder: every machine with a Faulted line fails, the demo machines
// don't; answers each faulting machine's line by its file.
std::map<std::string, std::string> checked_faults(const tool_result& r) {
    EXPECT_EQ(r.exit_code, 1) << r.out;
    nlohmann::json result = parse(r);
    std::map<std::string, std::string> faults;
    for (const auto& machine : result["machines"]) {
        if (!machine["fault"].is_null()) {
            EXPECT_EQ(machine["verdict"], "fail");
            EXPECT_FALSE(machine["name"].get<std::string>().empty());
            std::string file = fs::path(machine["file"].get<std::string>()).filename().string();
            faults[file] = machine["fault"];
        }
    }
    for (const char* name : {synth, delay}) {
        const nlohmann::json* machine = machine_named(result["machines"], name);
        EXPECT_NE(machine, nullptr) << r.out;
        if (machine != nullptr) {
            EXPECT_NE((*machine)["verdict"], "fail") << machine->dump(2);
        }
    }
    return faults;
}

// Machines that fault among good ones: check names each fault and still checks the others.
TEST(HostEverywhere, CheckReportsFaultingMachinesAndChecksTheOthers) {
    temp_folder dir;
    std::string host = host_folder_with(dir, {render_fault_file, describe_fault_file});
    tool_result r = run_host({"check", "--json"}, host);
    std::map<std::string, std::string> faults = checked_faults(r);
    ASSERT_EQ(faults.size(), 2u) << r.out;
    EXPECT_EQ(faults[render_fault_file].rfind("render_block (", 0), 0u) << r.out;
    EXPECT_EQ(faults[describe_fault_file].rfind("describe (", 0), 0u) << r.out;
}

// Isolated, a machine that hangs or ends its process fails its check with the cause, and the
// others are still checked. (The fixtures share one name, so each gets a folder of its own.)
TEST(HostEverywhere, IsolatedCheckFailsMachinesThatHangOrEndTheirProcess) {
    const std::pair<const char*, const char*> cases[] = {
        {"isolation_hang_render.dll", "render_block (no answer in 2 s)"},
        {"isolation_exit_start_up.dll", "start_up (process ended (exit code 3))"},
    };
    for (const auto& [file, fault] : cases) {
        temp_folder dir;
        std::string host = host_folder_with(dir, {file});
        // The first level: each check that meets the hang waits out its deadline, and under
        // Wine in the emulated VM each new bridge takes seconds.
        tool_result r = run_host({"check", "--json", "--isolated", "--level", "1"}, host);
        EXPECT_EQ(checked_faults(r)[file], fault) << r.out;
    }
}

// In process, a machine that ends the process of its checks costs only its own report: it is
// checked again isolated, and says so; the checks that only run in process are skipped there.
TEST(HostEverywhere, CheckAMachineThatEndsItsProcessAgainIsolated) {
    temp_folder dir;
    std::string host = host_folder_with(dir, {"isolation_exit_start_up.dll"});
    tool_result r = run_host({"check", "--json", "--level", "7"}, host);
    auto faults = checked_faults(r);
    EXPECT_EQ(faults["isolation_exit_start_up.dll"], "start_up (process ended (exit code 3))");
    nlohmann::json result = parse(r);
    const nlohmann::json* machine = machine_named(result["machines"], "Kestrune Isolation Fixture");
    ASSERT_NE(machine, nullptr) << r.out;
    std::map<std::string, nlohmann::json> rows;
    for (const auto& row : (*machine)["checks"]) {
        rows[row["name"]] = row;
    }
    EXPECT_EQ(rows["own process"]["verdict"], "fail");
    EXPECT_NE(rows["own process"]["reason"].get<std::string>().find(
                  "(exit code 3) without a report; checked again isolated"),
              std::string::npos)
        << rows["own process"];
    EXPECT_EQ(rows["threads"]["verdict"], "skip");
}

// One that hangs it meets its deadline there, and is checked again isolated too.
TEST(HostEverywhere, CheckAMachineThatHangsItsProcessAgainIsolated) {
    temp_folder dir;
    std::string host = host_folder_with(dir, {"isolation_hang_render.dll"});
    // The deadline holds for the isolated checks too, where under Wine in the emulated VM each
    // new bridge takes seconds.
#if defined(_WIN32)
    const std::string deadline = "60";
#else
    const std::string deadline = "8";
#endif
    tool_result r = run_host({"check", "--json", "--level", "1", "--deadline", deadline}, host);
    EXPECT_EQ(checked_faults(r)["isolation_hang_render.dll"], "render_block (no answer in 2 s)");
    EXPECT_NE(r.out.find("its checks' process didn't end within " + deadline +
                         " s; checked again isolated"),
              std::string::npos)
        << r.out;
}

// An isolated render is the same audio, bit for bit, as one in process.
TEST(HostEverywhere, IsolatedRenderWritesTheSameAudio) {
    temp_folder dir;
    std::string outputs[2] = {dir.at("in_process.wav"), dir.at("isolated.wav")};
    for (int isolated = 0; isolated < 2; ++isolated) {
        std::vector<std::string> arguments = {
            "render",   synth, "-o",       outputs[isolated], "--seconds",    "1", "--note", "A-4",
            "--length", "2",   "--format", "float",           "--no-progress"};
        if (isolated != 0) {
            arguments.push_back("--isolated");
        }
        tool_result r = run_host(arguments);
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }
    std::string written[2];
    for (int k = 0; k < 2; ++k) {
        std::ifstream file(outputs[k], std::ios::binary);
        written[k].assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    EXPECT_GT(written[0].size(), 44u * 1000);
    EXPECT_TRUE(written[0] == written[1]) << "the isolated render differs";
}

#if defined(_WIN32)
// A machine whose DLL needs another beside the host's executable loads in its bridge too, though
// the bridge lies beside the library, in a folder of its own: it renders as in process.
TEST(HostEverywhere, AnIsolatedMachineFindsItsDllsBesideTheHostsExecutable) {
    temp_folder dir;
    std::string host = kestrune::test::place_host_program(dir, "kestrune-host");
    std::string library = dir.at("lib/kestrune.dll");
    dir.make_folder("lib");
    fs::rename(dir.at("kestrune.dll"), library);
    fs::rename(dir.at("kestrune-bridge.exe"), dir.at("lib/kestrune-bridge.exe"));
    dir.copy_in(kestrune::test::fixture_path("isolation_helper.dll"), "isolation_helper.dll");
    dir.copy_in(kestrune::test::fixture_path("isolation_needs_helper.dll"),
                "Gear/Psycle/isolation_needs_helper.dll");
    std::string outputs[2] = {dir.at("in_process.wav"), dir.at("isolated.wav")};
    for (int isolated = 0; isolated < 2; ++isolated) {
        std::vector<std::string> arguments = {
            "--library",    library,           "render",    "Kestrune Isolation Fixture",
            "-o",           outputs[isolated], "--seconds", "1",
            "--no-progress"};
        if (isolated != 0) {
            arguments.push_back("--isolated");
        }
        tool_result r = run_host(arguments, host);
        ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    }
    EXPECT_EQ(fs::file_size(outputs[0]), fs::file_size(outputs[1]));
}

// The id of a process named name that parent started; 0 when there is none.
DWORD child_named(DWORD parent, const char* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && found == 0;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parent && lstrcmpiA(entry.szExeFile, name) == 0) {
            found = entry.th32ProcessID;
        }
    }
    CloseHandle(snapshot);
    return found;
}

// The id of a kestrune-bridge.exe that host started (an isolated check starts its bridges
// itself); 0 when there is none.
DWORD bridge_of(DWORD host) {
    return child_named(host, "kestrune-bridge.exe");
}

// A host that dies while its machine hangs in a bridge: the bridge ends itself at once, though
// its machine's call never returns. (The native build's test is in program_test.cpp.)
TEST(HostEverywhere, ABridgeEndsWhenItsHostDies) {
    temp_folder dir;
    std::string host = host_folder_with(dir, {"isolation_hang_render.dll"});
    std::string line = "\"" + host + "\" check --isolated \"Kestrune Isolation Fixture\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(CreateProcessA(host.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &started));
    CloseHandle(started.hThread);
    HANDLE bridge = nullptr;
    for (int tries = 0; tries < 250 && bridge == nullptr; ++tries) {
        DWORD id = bridge_of(started.dwProcessId);
        bridge = id != 0 ? OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id) : nullptr;
        Sleep(bridge == nullptr ? 20 : 0);
    }
    ASSERT_NE(bridge, nullptr) << "no bridge started";
    Sleep(500); // well inside render_block's hang, and well before its deadline
    TerminateProcess(started.hProcess, 9);
    CloseHandle(started.hProcess);
    EXPECT_EQ(WaitForSingleObject(bridge, 10000), WAIT_OBJECT_0) << "the bridge outlived its host";
    TerminateProcess(bridge, 9);
    CloseHandle(bridge);
}
#endif
