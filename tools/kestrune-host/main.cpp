// kestrune-host: what Kestrune makes of the machines in Gear/Psycle beside this program, seen
// from the host's side. It loads the Kestrune library the way a zzub host does, through its two
// exports and the interface objects, and nothing else.
//   kestrune-host list [MACHINE] [--json]
//   kestrune-host render MACHINE -o out.wav --note A-4 --track 0 --at 0 --length 2 ... [--isolated]
//   kestrune-host about MACHINE
//   kestrune-host command MACHINE INDEX
//   kestrune-host check [MACHINE...] [--level N] [--seed N] [--repeat N] [--json] [--junit FILE]
//                       [--isolated]
//   kestrune-host scan [--fresh] [--json]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iterator>
#include <optional>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "message_boxes.h"
#include "note_options.h"
#include "session.h"

namespace {

using namespace kestrune_host;

// A seed when none is given: the clock's, kept to six digits so that it is easy to type again.
std::uint64_t clock_seed() {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
               std::chrono::duration_cast<std::chrono::microseconds>(now).count()) %
           1000000;
}

// The note options as registered: CLI11 keeps each one's values, in the order given.
struct note_inputs {
    static constexpr std::size_t count = std::size(note_options);
    std::vector<std::string> values[count];
    const CLI::Option* options[count] = {};
};

void add_note_options(CLI::App& render, note_inputs& inputs) {
    for (std::size_t i = 0; i < note_inputs::count; ++i) {
        inputs.options[i] =
            render.add_option(note_options[i].flag, inputs.values[i], note_options[i].help)
                ->allow_extra_args(false);
    }
}

// The note options' values in the order the command line gave them.
std::vector<note_value> given_note_values(const CLI::App& render, const note_inputs& inputs) {
    std::vector<note_value> given;
    std::size_t used[note_inputs::count] = {};
    for (const CLI::Option* option : render.parse_order()) {
        for (std::size_t i = 0; i < note_inputs::count; ++i) {
            if (option == inputs.options[i]) {
                given.push_back(note_value{note_options[i].field, option->results()[used[i]++]});
            }
        }
    }
    return given;
}

int run(int argc, char** argv) {
    CLI::App app{"Shows what Kestrune makes of the Psycle machines in Gear/Psycle beside this "
                 "program, and plays them.",
                 "kestrune-host"};
    app.footer("Exit codes: 0 done, 1 the work failed (library, machine or file), 2 a bad "
               "command line.");
    app.set_version_flag("--version", "kestrune-host 0.1");
    app.require_subcommand(1);
    std::string library_path = default_library_path();
    app.add_option("--library", library_path, "The Kestrune library to load")
        ->capture_default_str();

    // list
    list_options list;
    CLI::App* list_cmd = app.add_subcommand("list", "Every machine announced, or the one named");
    list_cmd->add_option("machine", list.machine, "A machine: name, label, URI or #N");
    list_cmd->add_flag("--json", list.json, "JSON for scripts");

    // render
    render_options render;
    CLI::App* render_cmd = app.add_subcommand("render", "Plays a machine into a WAV file");
    render_cmd->footer(
        "Example: kestrune-host render \"Kestrune Demo Synth\" -o demo.wav --note A-4 --track 0 "
        "--at 0 --length 2 --note C-5 --track 1 --at 1 --value Waveform=Square");
    render_cmd->add_option("machine", render.machine,
                           "A machine: name, label, URI or #N (or the one --state names)");
    render_cmd->add_option("-o,--output", render.output, "The WAV file to write")->required();
    render_cmd
        ->add_option("--seconds", render.seconds,
                     "Length (default 2 s, or the length of the input)")
        ->check(CLI::Range(0.001, 86400.0));
    render_cmd->add_option("--bpm", render.beats_per_minute, "Beats per minute")
        ->capture_default_str()
        ->check(CLI::Range(1, 1000));
    render_cmd->add_option("--tpb", render.ticks_per_beat, "Ticks per beat")
        ->capture_default_str()
        ->check(CLI::Range(1, 64));
    render_cmd
        ->add_option("--rate", render.samples_per_second,
                     "Samples per second (default 44100, or the input's)")
        ->check(CLI::Range(1000, 768000));
    render_cmd->add_option("--tracks", render.tracks, "Tracks in use (a generator's)");
    note_inputs note_args;
    add_note_options(*render_cmd, note_args);
    render_cmd
        ->add_option("--set", render.host_settings,
                     "PARAM=VALUE: a global parameter (index or title) by host value")
        ->allow_extra_args(false);
    render_cmd
        ->add_option("--value", render.machine_settings,
                     "PARAM=VALUE: a global parameter by the machine's own value or text")
        ->allow_extra_args(false);
    render_cmd->add_option("--input", render.input, "The WAV file an effect works on");
    render_cmd->add_option("--state", render.state_in, "Restore the state stored in this file");
    render_cmd->add_option("--store-state", render.state_out,
                           "Store the state in this file afterwards");
    std::string format = "16";
    render_cmd->add_option("--format", format, "Output samples: 16, 24 or float")
        ->capture_default_str()
        ->check(CLI::IsMember({"16", "24", "float"}));
    render_cmd->add_option("--block", render.block, "Largest block handed to render")
        ->capture_default_str()
        ->check(CLI::Range(1, 8192));
    bool no_progress = false;
    render_cmd->add_flag("--no-progress", no_progress, "No progress bar");
    bool isolated = false;
    const char* isolated_help = "Each machine in a process of its own (kestrune-bridge)";
    render_cmd->add_flag("--isolated", isolated, isolated_help);
    render_cmd->add_flag("-q,--quiet", render.quiet, "Print nothing but errors");

    // about and command
    std::string about_machine;
    CLI::App* about_cmd = app.add_subcommand("about", "Prints a machine's About box");
    about_cmd->add_option("machine", about_machine, "A machine: name, label, URI or #N")
        ->required();
    std::string command_machine;
    int command_index = 0;
    CLI::App* command_cmd =
        app.add_subcommand("command", "Runs an entry of a machine's command list");
    command_cmd->add_option("machine", command_machine, "A machine: name, label, URI or #N")
        ->required();
    command_cmd->add_option("index", command_index, "The entry's position, from 0")->required();

    // check
    check_options check;
    CLI::App* check_cmd = app.add_subcommand(
        "check", "Checks machines as a host uses them: each one, or every one in Gear/Psycle");
    check_cmd->footer("Exit codes: 0 every machine passed (warnings allowed), 1 one failed.");
    check_cmd->add_option("machine", check.machines, "Machines: name, label, URI or #N");
    check_cmd->add_flag("--json", check.json, "JSON for scripts");
    check_cmd->add_option("--level", check.level, "Strictness: the checks up to this level run")
        ->capture_default_str()
        ->check(CLI::Range(1, 10));
    std::optional<std::uint64_t> seed;
    check_cmd->add_option("--seed", seed,
                          "The seed of every random value (default: from the clock; every report "
                          "shows it)");
    check_cmd
        ->add_option("--repeat", check.repeat,
                     "Runs the checks this many times, each with the "
                     "next seed")
        ->capture_default_str()
        ->check(CLI::Range(1, 1000));
    check_cmd->add_option("--junit", check.junit, "Also writes a JUnit XML report to this file");
    bool check_quiet = false;
    check_cmd->add_flag("--no-progress", check_quiet, "No progress line");
    check_cmd->add_flag("--isolated", isolated, isolated_help);
    check_cmd
        ->add_option("--deadline", check.deadline,
                     "Seconds that one machine's checks may take in all (default 30 + 15 per "
                     "level)")
        ->check(CLI::Range(1.0, 86400.0));
    check_cmd->add_flag("--in-process", check.in_process,
                        "Every machine in this process, not each in a child process of its own "
                        "(a machine that ends or hangs it then ends the check)");

    // scan
    scan_options scan;
    CLI::App* scan_cmd = app.add_subcommand(
        "scan", "Scans Gear/Psycle as a host's start does, and shows what became of each DLL");
    scan_cmd->footer("The scan remembers each DLL in its cache; --fresh probes every one again.");
    scan_cmd->add_flag("--fresh", scan.fresh, "Probe every DLL again, ignoring the cache");
    scan_cmd->add_flag("--json", scan.json, "JSON for scripts");
    bool scan_quiet = false;
    scan_cmd->add_flag("--no-progress", scan_quiet, "No progress line");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : exit_usage;
    }

    if (scan_cmd->parsed()) {
        scan.progress = !scan_quiet;
        return run_scan(library_path, scan);
    }
    std::string error;
    if (render_cmd->parsed()) {
        if (!collect_notes(given_note_values(*render_cmd, note_args), render.notes, error)) {
            return report(exit_usage, error);
        }
        render.format = *parse_sample_format(format);
        render.progress = !no_progress;
    }

    session s;
    if (!s.open(library_path, error) || !watch_message_boxes(library_path, error)) {
        return report(exit_failed, error);
    }
    if (isolated) {
        s.set_option("kestrune.isolate", "always");
    }
    if (list_cmd->parsed()) {
        return run_list(s, library_path, list);
    }
    if (render_cmd->parsed()) {
        return run_render(s, render);
    }
    if (check_cmd->parsed()) {
        check.progress = !check_quiet;
        check.seed = seed ? *seed : clock_seed();
        check.library = library_path;
        check.isolated = isolated;
        return run_check(s, check);
    }
    if (about_cmd->parsed()) {
        return run_command_entry(s, about_machine, std::nullopt);
    }
    return run_command_entry(s, command_machine, command_index);
}

} // namespace

// Whatever escapes (memory running out, mostly) ends the program with a message and code 1.
int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrune-host: error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "kestrune-host: error: an unexpected failure\n");
    }
    return exit_failed;
}
