// The runtime through the library's exports: runtime_host, in a fresh folder with a copy of the
// library and the logging generator as its only machine, scans, plays one note, renders, stores
// and restores the state, and releases everything; and the callback of a machine that faulted,
// called after the host has released everything and freed the library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_paths.h"

namespace kestrune::test {
namespace {

TEST(EndToEnd, OneNoteAndTheStateThroughTheExports) {
    temp_folder folder;
    std::string program = place_host_program(folder, "runtime_host");
    folder.copy_in(fixture_path("rt_generator.dll"), "Gear/Psycle/generator.dll");
    process_result result = run_program(program, {});
    ASSERT_TRUE(result.started);
    ASSERT_EQ(result.exit_code, 0) << result.output;
    std::vector<std::string> lines = result.lines();
    const std::vector<std::string> expected = {
        "announced 1",
        "render 1 0.5 0.5",
        "text 50000",
        "text 0C 40",
        "stored 01 00 00 00 06 00 00 00 30 31 32 33 34 35",
        "machine GetInfo",
        "machine CreateMachine",
        "machine start_up",
        "machine tick_length 5292",
        "machine sample_rate 44100",
        "machine tempo 125",
        "machine beat_ticks 4",
        "machine set_parameter 0 50000",
        "machine sequence_event 2 49 0 12 64",
        "machine render_block 64 8",
        "machine describe 0 50000",
        "machine data_size",
        "machine dump_data",
        "machine GetInfo",
        "machine CreateMachine",
        "machine start_up",
        "machine load_data 30 31 32 33 34 35",
        "machine DeleteMachine",
        "machine destructor",
        "machine DeleteMachine",
        "machine destructor",
        "released",
    };
    EXPECT_EQ(lines, expected) << result.output;
}

TEST(EndToEnd, AFaultedMachinesCallbackOutlivesTheLibrary) {
    temp_folder folder;
    std::string program = place_host_program(folder, "runtime_host");
    folder.copy_in(fixture_path("rt_generator.dll"), "Gear/Psycle/generator.dll");
    process_result result = run_program(program, {"orphan"});
    ASSERT_TRUE(result.started);
    ASSERT_EQ(result.exit_code, 0) << result.output;
    // The base callback's answers: no box, the fixed defaults rather than the host's 90 bpm.
    const std::vector<std::string> expected = {"announced 1", "orphan 0 2048 44100 125 4",
                                               "library-loaded"};
    EXPECT_EQ(result.lines(), expected) << result.output;
}

} // namespace
} // namespace kestrune::test
