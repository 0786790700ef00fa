// A zzub host built in MSVC mode, freestanding, that drives kestrune.dll the way the users'
// MSVC-built hosts do. It is started beside kestrune.dll, with one machine in Gear\Psycle:
//
//   msvc_host.exe drive MACHINE.dll delete|no_delete [shared_libgcc]
//   msvc_host.exe fault MACHINE.dll [shared_libgcc]
//   msvc_host.exe machine_fault MACHINE.dll render_block|describe
//   msvc_host.exe misaligned MACHINE.dll
//
// shared_libgcc first loads libgcc_s_dw2-1.dll (from beside the host), as another mingw-built
// plug-in would: from then on a C++ exception thrown through the library's own frames would end
// the process, so the run also shows that no normal path relies on one.
// The exit code is 0 when every check passed.
#include "tests/windows/host/report.h"
#include "tests/windows/host/scenarios.h"
#include "tests/windows/msvc/win32_mini.h"

namespace {

constexpr int max_arguments = 6;
constexpr int argument_size = 128;

// The command line split at blanks (no quoting: the test passes plain names only); the program
// name, which may be quoted, is skipped.
int split_arguments(char (*arguments)[argument_size]) {
    const char* p = GetCommandLineA();
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') {
            ++p;
        }
        if (*p == '"') {
            ++p;
        }
    } else {
        while (*p != '\0' && *p != ' ' && *p != '\t') {
            ++p;
        }
    }
    int count = 0;
    for (;;) {
        while (*p == ' ' || *p == '\t') {
            ++p;
        }
        if (*p == '\0' || count == max_arguments) {
            return count;
        }
        int n = 0;
        while (*p != '\0' && *p != ' ' && *p != '\t') {
            if (n < argument_size - 1) {
                arguments[count][n++] = *p;
            }
            ++p;
        }
        arguments[count][n] = '\0';
        ++count;
    }
}

int run(int count, char (*arguments)[argument_size]) {
    bool shared_libgcc = false;
    for (int i = 0; i < count; ++i) {
        shared_libgcc = shared_libgcc || report::same_text(arguments[i], "shared_libgcc");
    }
    if (shared_libgcc) {
        report::check(LoadLibraryA("libgcc_s_dw2-1.dll") != nullptr,
                      "a shared libgcc is loaded in the process first");
    }
    if (count >= 3 && report::same_text(arguments[0], "drive")) {
        return drive_machine(arguments[1], report::same_text(arguments[2], "delete"));
    }
    if (count >= 2 && report::same_text(arguments[0], "fault")) {
        return fault_guard(arguments[1]);
    }
    if (count >= 3 && report::same_text(arguments[0], "machine_fault")) {
        return machine_fault(arguments[1], arguments[2]);
    }
    if (count >= 2 && report::same_text(arguments[0], "misaligned")) {
        return misaligned_calls(arguments[1]);
    }
    report::line("usage: msvc_host drive MACHINE.dll delete|no_delete [shared_libgcc]");
    report::line("       msvc_host fault MACHINE.dll [shared_libgcc]");
    report::line("       msvc_host machine_fault MACHINE.dll render_block|describe");
    report::line("       msvc_host misaligned MACHINE.dll");
    return 2;
}

} // namespace

extern "C" void __cdecl host_main() {
    char arguments[max_arguments][argument_size];
    const int count = split_arguments(arguments);
    const int status = run(count, arguments);
    report::text("msvc_host: ");
    report::number(report::passes());
    report::text(" checks passed, ");
    report::number(report::failures());
    report::line(" failed");
    ExitProcess(status != 0 ? static_cast<unsigned>(status) : (report::failures() != 0 ? 1u : 0u));
}
