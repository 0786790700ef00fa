// The whole life of a logging machine under an MSVC-built host: its description as the host
// reads it, an instance started, fed events, rendered, stored, restored and released. Every
// machine call is checked in the machine's own log.
#include "tests/windows/host/scenarios.h"

#include "tests/fixtures/runtime/fixture_control.h"
#include "tests/windows/host/report.h"
#include "tests/windows/host/session.h"

namespace {

using host_view::parameter;

// The machine's log since the last call, then forgotten, so that each step checks only its own
// calls.
const char* take_log(fixture_state* control) {
    static char copy[FIXTURE_LOG_SIZE];
    int n = 0;
    for (; n < control->log_length && n < FIXTURE_LOG_SIZE - 1; ++n) {
        copy[n] = control->log[n];
    }
    copy[n] = '\0';
    control->log_length = 0;
    control->log[0] = '\0';
    return copy;
}

void check_parameter(const parameter* p, int kind, const char* title, int lowest, int highest,
                     int empty_value, int flags, int default_value, const char* what) {
    report::check(p != nullptr && p->kind == kind && p->lowest == lowest && p->highest == highest &&
                      p->empty_value == empty_value && p->flags == flags &&
                      p->default_value == default_value && report::same_text(p->title, title),
                  what);
}

void check_description(host_view::info* info) {
    report::check(info->kind == 1 && info->interface_version == 15 && info->flags == 1,
                  "host_info: a generator, interface 15, flags 1");
    report::check(info->fewest_tracks == 8 && info->most_tracks == 32, "host_info: 8 to 32 tracks");
    report::check_text(info->full_name, "Kestrune Test Generator", "host_info: full name");
    report::check_text(info->short_label, "TestGen", "host_info: short label");
    report::check_text(info->author, "Kestrune tests", "host_info: author");
    report::check_text(info->command_list, "Reset\nRandomize\nAbout Kestrune Test Generator...",
                       "host_info: the machine's commands, then About");
    report::check(info->identity_uri != nullptr && info->identity_uri[0] == '@' &&
                      report::ends_with(info->identity_uri, "/quillon/Kestrune+Test+Generator"),
                  "host_info: identity URI");
    report::check(info->library_link == nullptr, "host_info: no library link");

    // The lists, read as MSVC's three pointers.
    const auto& globals = info->global_params;
    report::check(globals.first != nullptr && globals.size() == 5 && globals.end >= globals.last,
                  "global_params read as first, last, end: five parameters");
    if (globals.size() == 5) {
        check_parameter(globals.first[0], 3, "Cutoff", 0, 65534, 65535, 2, 32767,
                        "global 0: Cutoff 0..100000 as a word 0..65534, flag 2 kept");
        check_parameter(globals.first[1], 2, "Pan", 0, 200, 255, 0, 100,
                        "global 1: Pan -100..100 shifted to a byte 0..200");
        check_parameter(globals.first[2], 1, "Gate", 0, 1, 255, 0, 0, "global 2: Gate switch");
        check_parameter(globals.first[3], 3, "Fine", 1, 1000, 65535, 0, 500,
                        "global 3: Fine word 1..1000");
        check_parameter(globals.first[4], 1, "Fixed", 0, 0, 255, 0, 0,
                        "global 4: Fixed switch 0..0");
        report::check_text(globals.first[0]->caption, "Filter cutoff", "global 0: caption");
    }
    const auto& tracks = info->track_params;
    report::check(tracks.size() == 2 && tracks.end >= tracks.last,
                  "track_params read as first, last, end: two parameters");
    if (tracks.size() == 2) {
        check_parameter(tracks.first[0], 0, "Note", 1, 156, 0, 4, 0, "track 0: Note");
        check_parameter(tracks.first[1], 3, "Note Command", 1, 65535, 0, 0, 65535,
                        "track 1: Note Command");
    }
    report::check(info->attribute_list.size() == 0, "attribute_list is empty");
    report::check(!info->store_description(nullptr), "store_description answers false");
}

// What start_up logs when it asks every query and shows a message, with the master info above.
const char* const started_log = "GetInfo\nCreateMachine\nstart_up\n"
                                "tick_length 2857\nsample_rate 48000\ntempo 126\nbeat_ticks 8\n"
                                "message *\nreserved_call 0\n";

host_view::plugin* start_instance(host_view::info* info, host_view::archive* archive) {
    host_view::plugin* plugin = info->make_instance();
    if (plugin != nullptr) {
        plugin->master = &session::master;
        plugin->host = nullptr;
        plugin->start(archive);
    }
    return plugin;
}

void feed_events(host_view::plugin* plugin, fixture_state* control) {
    // Global area: word, byte, switch, word, switch at offsets 0, 2, 3, 4, 6.
    unsigned char* g = plugin->global_values;
    g[0] = 0xfe, g[1] = 0xff; // 65534: Cutoff at its top, 100000
    g[2] = 0;                 // Pan at its bottom, -100
    g[3] = 1;                 // Gate on
    g[4] = 0xff, g[5] = 0xff; // Fine: empty
    g[6] = 255;               // Fixed: empty
    unsigned char* t = plugin->track_values;
    t[0] = 0x41, t[1] = 0x40, t[2] = 0x0c; // note 0x41 with command word 0x0C40
    t[3] = 255, t[4] = 0x40, t[5] = 0x0c;  // note-off: its command is not sent
    plugin->set_tracks(2);
    plugin->take_events();
    report::check_text(take_log(control),
                       "set_parameter 0 100000\nset_parameter 1 -100\nset_parameter 2 1\n"
                       "sequence_event 0 49 0 12 64\nsequence_event 1 120 0 0 0\n",
                       "take_events: globals in the machine's ranges, then the notes");
}

void render_blocks(host_view::plugin* plugin, fixture_state* control) {
    float in_left[16], in_right[16], out_left[16], out_right[16];
    for (int k = 0; k < 16; ++k) {
        in_left[k] = 0.5f;
        in_right[k] = -0.25f;
        out_left[k] = out_right[k] = 7.0f;
    }
    float* inputs[2] = {in_left, in_right};
    float* outputs[2] = {out_left, out_right};

    control->render_action = 0;
    bool sound = plugin->render(inputs, outputs, 16, 2);
    report::check(sound && out_left[15] == 0.5f && out_right[0] == -0.25f,
                  "render: the host's samples come back at the host's scale, as sound");
    report::check(control->seen_left == 16384.0f && control->seen_right == -8192.0f,
                  "render: the machine works at full scale 32768");
    report::check_text(take_log(control), "render_block 16 2\n", "render: one render_block");

    control->render_action = 1;
    control->render_value = 32768.0f;
    sound = plugin->render(inputs, outputs, 16, 3);
    report::check(sound && out_left[3] == 1.0f && out_right[15] == 1.0f,
                  "render: the machine's 32768 reaches the host as 1.0");

    control->render_action = 2;
    control->render_value = 0.0f;
    sound = plugin->render(inputs, outputs, 16, 2);
    report::check(!sound, "render: all zeros are silence");
    take_log(control);

    report::check(!plugin->render(inputs, outputs, 16, 1), "render without the output bit");
    report::check_text(take_log(control), "", "render without the output bit: no machine call");
}

void check_texts_and_operations(host_view::plugin* plugin, fixture_state* control) {
    control->describe_answer = 0;
    report::check_text(plugin->value_text(0, 32767), "50000",
                       "value_text: the machine declines, the machine-range number");
    control->describe_answer = 1;
    const char open[] = "Open";
    for (int i = 0; i < 5; ++i) {
        control->describe_text[i] = open[i];
    }
    report::check_text(plugin->value_text(2, 1), "Open", "value_text: the machine's own text");
    report::check_text(plugin->value_text(5, 0x41), "00 41", "value_text: a note value");
    report::check_text(plugin->value_text(6, 0x0c40), "0C 40", "value_text: a command word");
    report::check_text(take_log(control), "describe 0 50000\ndescribe 2 1\n",
                       "value_text: describe gets machine-range values");

    plugin->halt();
    plugin->mute(3);
    control->muted_answer = 1;
    const bool muted = plugin->is_muted(2);
    plugin->midi_key(1, 60, 100);
    plugin->run_command(0);
    report::check(muted, "is_muted passes the machine's answer on");
    report::check_text(take_log(control),
                       "silence\nmute_channel 3\nchannel_muted 2\nmidi_in 1 60 100\n"
                       "user_command\n",
                       "halt, mute, is_muted, midi_key and run_command reach the machine");

    // The operations with fixed answers, each slot called once.
    plugin->attributes_updated();
    plugin->raw_event(0x90u);
    plugin->end_wave();
    plugin->sub_menu(0, nullptr);
    plugin->input_added("in");
    plugin->input_removed("in");
    plugin->input_renamed("in", "out");
    plugin->mix_input(nullptr, 0, 1.0f);
    plugin->midi_controller(1, 2, 3);
    report::check(plugin->envelope_list() == nullptr && plugin->envelope_position(0) == -1 &&
                      plugin->param_text(0) == nullptr && !plugin->start_wave(0, 0, 1.0f) &&
                      !plugin->choose_instrument("x") && !plugin->input_level(0, 0, 0),
                  "the fixed answers of every other slot");
    report::check_text(take_log(control), "", "the fixed operations don't reach the machine");
}

void store_and_restore(host_view::info* info, host_view::plugin* plugin, fixture_state* control,
                       host_objects::memory_archive& archive) {
    control->data_size = 5;
    control->dump_first = 0x10;
    plugin->store_state(&archive);
    const unsigned char expected[13] = {1, 0, 0, 0, 5, 0, 0, 0, 0x10, 0x11, 0x12, 0x13, 0x14};
    bool same = archive.size == 13 && archive.last_name_empty;
    for (int i = 0; same && i < 13; ++i) {
        same = archive.bytes[i] == expected[i];
    }
    report::check(same, "store_state writes version 1, size 5 and the machine's five bytes");
    report::check_text(take_log(control), "data_size\ndump_data\n", "store_state: machine calls");

    control->load_bytes = 5;
    host_view::plugin* restored = start_instance(info, &archive);
    report::check(restored != nullptr, "a second instance");
    report::check_text(take_log(control),
                       "GetInfo\nCreateMachine\nstart_up\n"
                       "tick_length 2857\nsample_rate 48000\ntempo 126\nbeat_ticks 8\n"
                       "message *\nreserved_call 0\nload_data 10 11 12 13 14\n",
                       "start with the archive: start_up, then the stored bytes");
    report::check_number(control->live_machines, 2, "two machines live");
    if (restored != nullptr) {
        restored->release();
    }
}

} // namespace

int drive_machine(const char* machine_name, bool has_delete) {
    session::library_session run;
    if (!session::open(run)) {
        return 1;
    }
    host_view::info* info = run.factory.infos[0];
    check_description(info);

    // The host reaches the machine's log through the same loaded copy the instance will use.
    char path[300];
    session::machine_path(machine_name, path, sizeof path);
    report::check(!session::is_loaded(machine_name), "the scan unloaded the machine again");
    win_module machine_module = LoadLibraryA(path);
    auto control_of = reinterpret_cast<fixture_control_function>(
        GetProcAddress(machine_module, FIXTURE_CONTROL_EXPORT));
    report::check(control_of != nullptr, "the machine's log can be reached");
    if (control_of == nullptr) {
        session::close(run);
        return 1;
    }
    fixture_state* control = control_of();
    control->ask_in_start_up = 1;

    host_view::plugin* plugin = start_instance(info, nullptr);
    report::check(plugin != nullptr && plugin->global_values != nullptr &&
                      plugin->track_values != nullptr && plugin->attribute_values == nullptr,
                  "make_instance: an instance with both value areas");
    if (plugin == nullptr) {
        session::close(run);
        return 1;
    }
    report::check_text(take_log(control), started_log,
                       "start: the machine asks tick length, rate, tempo and beat ticks, and "
                       "shows a message, through its callback");
    report::check(control->seen_callback != nullptr && control->seen_callback != plugin &&
                      control->seen_callback != reinterpret_cast<char*>(plugin) + 24,
                  "the callback is an object of its own, not the instance");

    feed_events(plugin, control);
    render_blocks(plugin, control);
    check_texts_and_operations(plugin, control);
    host_objects::memory_archive archive;
    store_and_restore(info, plugin, control, archive);
    take_log(control);

    plugin->release();
    report::check_text(take_log(control),
                       has_delete ? "DeleteMachine\ndestructor\n" : "destructor\n",
                       has_delete ? "release destroys the machine through DeleteMachine"
                                  : "release destroys the machine through slot 0");
    report::check_number(control->live_machines, 0, "no machine left");

    FreeLibrary(machine_module);
    report::check(!session::is_loaded(machine_name),
                  "every instance gave its reference to the machine's DLL back");
    session::close(run);
    return 0;
}
