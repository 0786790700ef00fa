// A child process of this program with a deadline: check runs each machine's checks in one, so
// that a machine that ends or hangs its process costs only its own report. One definition per
// build: child_process_posix.cpp natively, child_process_win32.cpp on Windows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestrune_host {

struct child_result {
    bool started = false;   // false: the program couldn't be run at all
    bool timed_out = false; // the deadline passed; the child was killed
    bool exited = false;    // it ended through exit (not a signal, a fault or a kill)
    int exit_code = -1;     // exit's code; natively the signal's number when it didn't exit
    std::string output;     // its standard output, at most output_limit bytes of it
};

// The path of the running program itself; empty when the system can't say.
std::string own_program_path();

// Runs program with arguments, its standard input and error the null device, and collects its
// standard output (bytes beyond output_limit are read and dropped). Past deadline_seconds it is
// killed. Natively the child is killed too when this process dies; on Windows it is put in a
// job that ends with this process.
child_result run_child(const std::string& program, const std::vector<std::string>& arguments,
                       double deadline_seconds, std::size_t output_limit);

} // namespace kestrune_host
