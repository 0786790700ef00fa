// kestrune-host: what Kestrune makes of the machines in Gear/Psycle beside this program, seen
// from the host's side. It loads the Kestrune library the way a zzub host does, through its two
// exports and the interface objects, and nothing else.
//   kestrune-host list [MACHINE] [--json]
//   kestrune-host render MACHINE -o out.wav --note A-4 --track 0 --at 0 --length 2 ...
//   kestrune-host about MACHINE
//   kestrune-host command MACHINE INDEX
//   kestrune-host check [MACHINE...] [--json]
#include <cstdio>
#include <exception>

#include <CLI/CLI.hpp>

#include "choose.h"
#include "commands.h"
#include "message_boxes.h"
#include "note_name.h"
#include "session.h"

namespace {

using namespace kestrune_host;

constexpr const char* note_help =
    "A note to play: C-4, C#4, Db4 (octaves 0 to 9; A-4 is 440 Hz in a well-tuned machine) or "
    "\"off\". The --track, --at, --length and --command after it belong to it";

// The notes of the command line: each --note starts one, and the --track, --at, --length and
// --command options that follow it, up to the next --note, fill it in.
bool collect_notes(const CLI::App& render, const CLI::Option* note, const CLI::Option* track,
                   const CLI::Option* at, const CLI::Option* length, const CLI::Option* command,
                   std::vector<note_request>& notes, std::string& error) {
    std::size_t used[5] = {};
    const CLI::Option* grouped[5] = {note, track, at, length, command};
    for (const CLI::Option* option : render.parse_order()) {
        int which = -1;
        for (int i = 0; i < 5; ++i) {
            if (option == grouped[i]) {
                which = i;
            }
        }
        if (which < 0) {
            continue;
        }
        const std::string& value = option->results()[used[which]++];
        if (which == 0) {
            auto byte = parse_note(value);
            if (!byte) {
                error = "\"" + value +
                        "\" is not a note: write C-4, C#4, Db4 (octaves 0 to 9) "
                        "or off";
                return false;
            }
            notes.push_back(note_request{});
            notes.back().note = *byte;
            continue;
        }
        if (notes.empty()) {
            error = option->get_name() + " " + value + " comes before any --note; write it " +
                    "after the note it belongs to";
            return false;
        }
        note_request& n = notes.back();
        if (which == 1) {
            auto number = parse_integer(value);
            if (!number || *number < 0 || *number > 255) {
                error = "--track " + value + ": a track is a number from 0";
                return false;
            }
            n.track = static_cast<int>(*number);
        } else if (which == 2 || which == 3) {
            char* end = nullptr;
            double beats = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0') {
                error = option->get_name() + " " + value + ": give a number of beats";
                return false;
            }
            if (which == 2) {
                n.at_beats = beats;
            } else {
                n.length_beats = beats;
            }
        } else {
            std::string digits = value.rfind("0x", 0) == 0 ? value.substr(2) : value;
            auto word = parse_integer("0x" + digits);
            if (digits.empty() || digits.size() > 4 || !word) {
                error = "--command " + value + ": give the command word as four hexadecimal " +
                        "digits, the command then its parameter (0C40)";
                return false;
            }
            n.command = static_cast<unsigned>(*word);
        }
    }
    return true;
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
    std::vector<std::string> notes, tracks, ats, lengths, commands;
    CLI::Option* note_opt =
        render_cmd->add_option("--note", notes, note_help)->allow_extra_args(false);
    CLI::Option* track_opt =
        render_cmd->add_option("--track", tracks, "The track of the note before (default 0)")
            ->allow_extra_args(false);
    CLI::Option* at_opt =
        render_cmd->add_option("--at", ats, "When the note before starts, in beats (default 0)")
            ->allow_extra_args(false);
    CLI::Option* length_opt =
        render_cmd->add_option("--length", lengths, "The note before ends this many beats later")
            ->allow_extra_args(false);
    CLI::Option* command_opt =
        render_cmd->add_option("--command", commands, "The note before's command word (0C40)")
            ->allow_extra_args(false);
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
    bool check_quiet = false;
    check_cmd->add_flag("--no-progress", check_quiet, "No progress line");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : exit_usage;
    }

    std::string error;
    if (render_cmd->parsed()) {
        if (!collect_notes(*render_cmd, note_opt, track_opt, at_opt, length_opt, command_opt,
                           render.notes, error)) {
            return report(exit_usage, error);
        }
        render.format = *parse_sample_format(format);
        render.progress = !no_progress;
    }

    session s;
    if (!s.open(library_path, error) || !watch_message_boxes(library_path, error)) {
        return report(exit_failed, error);
    }
    if (list_cmd->parsed()) {
        return run_list(s, library_path, list);
    }
    if (render_cmd->parsed()) {
        return run_render(s, render);
    }
    if (check_cmd->parsed()) {
        check.progress = !check_quiet;
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
