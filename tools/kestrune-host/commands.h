// The host program's subcommands, each given a session with the library loaded and answering
// the program's exit code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "render_plan.h"
#include "session.h"
#include "wav_file.h"

namespace kestrune_host {

// Exit codes: the work failed (a machine, a file or the library), or the command line asked
// for something that can't be (a bad note, a parameter that isn't there).
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

// Prints "kestrune-host: error: message" on standard error and answers code.
int report(int code, const std::string& message);
void warn(const std::string& message);

struct list_options {
    std::string machine; // empty: every machine
    bool json = false;
};
int run_list(session& s, const std::string& library_path, const list_options& options);

struct render_options {
    std::string machine; // empty: the one that the state file names
    std::string output;
    std::optional<double> seconds;
    int beats_per_minute = 125;
    int ticks_per_beat = 4;
    std::optional<int> samples_per_second;
    std::optional<int> tracks;
    std::vector<note_request> notes;
    std::vector<std::string> host_settings;    // "PARAM=VALUE", host values
    std::vector<std::string> machine_settings; // "PARAM=VALUE", the machine's own values
    std::string input;
    std::string state_in;
    std::string state_out;
    sample_format format = sample_format::pcm16;
    int block = 256;
    bool progress = true;
    bool quiet = false;
};
int run_render(session& s, const render_options& options);

struct check_options {
    std::vector<std::string> machines; // empty: every machine announced
    int level = 5;                     // 1 to 10: the checks up to it run
    std::uint64_t seed = 0;            // of the first run; each repetition takes the next
    int repeat = 1;                    // runs of the whole battery
    std::string junit;                 // a JUnit XML file to write too; empty: none
    std::string library;               // the library's path, for the child processes
    double deadline = 0.0;             // seconds per machine's checks; 0: by level
    bool in_process = false;           // every machine in this process, none in a child
    bool isolated = false;             // machines in a bridge process (kestrune.isolate always)
    bool json = false;
    bool progress = true; // a progress line on standard error, when it is a terminal
};
int run_check(session& s, const check_options& options);

struct scan_options {
    bool json = false;
    bool fresh = false;   // probe every DLL again, the cache's memory ignored
    bool progress = true; // a progress line on standard error, when it is a terminal
};
// Runs the library's scan (its own session) and shows each DLL with what the scan did with it.
int run_scan(const std::string& library_path, const scan_options& options);

// Runs command index (its position in the command list) and prints the message boxes it
// shows; the About entry when index is empty.
int run_command_entry(session& s, const std::string& machine, std::optional<int> index);

} // namespace kestrune_host
