// Running the built kestrune-host from a test, and reading what it wrote.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"
#include "wav_file.h"

namespace kestrune::test {

struct tool_result {
    int exit_code = -1; // -1 when the program couldn't be run or didn't exit normally
    std::string out;    // standard output ("\r\n" turned into "\n" on Windows)
    std::string err;    // standard error; on Windows it isn't captured and stays empty
};

// bin/kestrune-host (kestrune-host.exe on Windows).
std::string host_program();

// Runs the host program (bin/kestrune-host unless program names a copy) with the arguments,
// its standard input empty.
tool_result run_host(const std::vector<std::string>& arguments, const std::string& program = "");

// A host's folder as a musician has it, made in dir: the program, the library, the demo
// machines and the fixture machines given, in Gear/Psycle. Answers the program's path.
std::string host_folder_with(const temp_folder& dir, std::initializer_list<const char*> files);

// A rendered file, or a test failure when it can't be read.
kestrune_host::stereo_sound read_wav(const std::string& path);

// Measures of one channel from sample first on (count samples; -1: to the end).
double rms(const std::vector<float>& samples, std::size_t first = 0, long count = -1);
float peak(const std::vector<float>& samples, std::size_t first = 0, long count = -1);
// Sign changes per second, halved: the frequency of a wave that crosses zero twice a period.
double crossing_frequency(const std::vector<float>& samples, int samples_per_second,
                          std::size_t first, std::size_t count);

} // namespace kestrune::test
