// The library under a host whose stack is aligned to 4 bytes only, as MSVC guarantees: the
// exports, setup's scan, and an instance's start, take_events, render, value_text, store_state
// and release, called with the stack at each of 0, 4, 8 and 12 modulo 16; and the machine's
// callback queries, which the machine makes from start_up with the alignment that it was given. A
// 32-bit build that took a 16-byte-aligned stack for granted would fault in an aligned SSE spill in
// one of them.
#include "tests/fixtures/runtime/fixture_control.h"
#include "tests/windows/host/host_objects.h"
#include "tests/windows/host/report.h"
#include "tests/windows/host/scenarios.h"
#include "tests/windows/host/session.h"

// Calls body(context) with esp at 16k - offset at the call instruction. body, compiled like
// any MSVC code, keeps whatever alignment it gets, so the library's entry points see a fixed
// shift of it: over the four offsets, all four alignments.
extern "C" __attribute__((naked)) void __cdecl call_misaligned(void(__cdecl*)(void*), void*, int) {
    __asm__("pushl %ebp\n\t"
            "movl %esp, %ebp\n\t"
            "andl $-16, %esp\n\t"
            "subl 16(%ebp), %esp\n\t" // offset
            "subl $12, %esp\n\t"
            "pushl 12(%ebp)\n\t" // context
            "calll *8(%ebp)\n\t" // body
            "movl %ebp, %esp\n\t"
            "popl %ebp\n\t"
            "retl\n\t");
}

namespace {

struct round_result {
    fixture_state* control = nullptr; // the machine's log
    bool opened = false;
    bool started = false;
    bool rendered = false;
    bool described = false;
    bool stored = false;
};

void __cdecl one_round(void* context) {
    auto* result = static_cast<round_result*>(context);
    session::library_session run;
    result->opened = session::open(run);
    if (!result->opened) {
        return;
    }
    host_view::plugin* plugin = run.factory.infos[0]->make_instance();
    if (plugin != nullptr) {
        plugin->master = &session::master;
        result->control->ask_in_start_up = 2; // the four callback queries
        plugin->start(nullptr);
        result->started = plugin->global_values != nullptr && plugin->track_values != nullptr;
    }
    if (result->started) {
        unsigned char* g = plugin->global_values; // word, byte, switch, word, switch
        g[0] = 0xff, g[1] = 0x7f, g[2] = 100, g[3] = 1, g[4] = 0xff, g[5] = 0xff, g[6] = 255;
        unsigned char* t = plugin->track_values;
        t[0] = 0x41, t[1] = 0, t[2] = 0;
        plugin->set_tracks(1);
        plugin->take_events();

        float left[64], right[64];
        for (int k = 0; k < 64; ++k) {
            left[k] = 0.5f;
            right[k] = -0.25f;
        }
        float* buffers[2] = {left, right};
        result->rendered =
            plugin->render(buffers, buffers, 64, 2) && left[63] == 0.5f && right[0] == -0.25f;
        const char* text = plugin->value_text(1, 200);
        result->described = text != nullptr;
        host_objects::memory_archive archive;
        plugin->store_state(&archive);
        result->stored = archive.output_requests == 1;
    }
    if (plugin != nullptr) {
        plugin->release();
    }
    session::close(run);
}

} // namespace

// Whether text holds part.
bool contains(const char* text, const char* part) {
    for (; *text != '\0'; ++text) {
        int n = 0;
        while (part[n] != '\0' && text[n] == part[n]) {
            ++n;
        }
        if (part[n] == '\0') {
            return true;
        }
    }
    return false;
}

int misaligned_calls(const char* machine_name) {
    // The host reaches the machine's log through a copy of the DLL that it keeps loaded.
    char path[300];
    session::machine_path(machine_name, path, sizeof path);
    win_module machine_module = LoadLibraryA(path);
    auto control_of = reinterpret_cast<fixture_control_function>(
        GetProcAddress(machine_module, FIXTURE_CONTROL_EXPORT));
    report::check(control_of != nullptr, "the machine's log can be reached");
    if (control_of == nullptr) {
        return 1;
    }
    for (int offset = 0; offset < 16; offset += 4) {
        report::text("stack offset ");
        report::number(offset);
        report::line(":");
        round_result result;
        result.control = control_of();
        result.control->log_length = 0;
        result.control->log[0] = '\0';
        call_misaligned(one_round, &result, offset);
        report::check(result.opened && result.started, "the exports, setup and start");
        report::check(contains(result.control->log, "tick_length 2857\nsample_rate 48000\n"
                                                    "tempo 126\nbeat_ticks 8\n"),
                      "the machine's callback queries from start_up");
        report::check(result.rendered, "take_events and render: the host's samples come back");
        report::check(result.described && result.stored, "value_text and store_state");
    }
    FreeLibrary(machine_module);
    return 0;
}
