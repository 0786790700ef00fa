// Processes and channels on 32-bit Windows: CreateProcess for a helper process, a section for the
// shared block, a pair of auto-reset events for the channel, and the other side's process handle.
#include "platform/process.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "platform/files.h"

namespace kestrune::platform {

namespace {

HANDLE as_handle(os_handle handle) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(handle));
}

os_handle as_os_handle(HANDLE handle) {
    return handle == nullptr ? no_handle
                             : static_cast<os_handle>(reinterpret_cast<std::intptr_t>(handle));
}

void close_os_handle(os_handle handle) {
    if (handle != no_handle) {
        CloseHandle(as_handle(handle));
    }
}

// Appends text to a command line as one argument, quoted as the C runtime's parser reads it
// back: backslashes are doubled only before a quote, and a quote is escaped. False when it
// doesn't fit.
bool append_argument(char* line, std::size_t size, std::size_t& used, const char* text) {
    auto put = [&](char c) {
        if (used + 1 >= size) {
            return false;
        }
        line[used++] = c;
        line[used] = '\0';
        return true;
    };
    if ((used > 0 && !put(' ')) || !put('"')) {
        return false;
    }
    for (const char* at = text;; ++at) {
        std::size_t backslashes = 0;
        while (*at == '\\') {
            ++backslashes;
            ++at;
        }
        // Before a quote or the closing one, each backslash is doubled.
        std::size_t times = *at == '"' || *at == '\0' ? 2 * backslashes : backslashes;
        for (std::size_t i = 0; i < times; ++i) {
            if (!put('\\')) {
                return false;
            }
        }
        if (*at == '\0') {
            return put('"');
        }
        if ((*at == '"' && !put('\\')) || !put(*at)) {
            return false;
        }
    }
}

// The code a bridge killed by its host ends with (its cause is then the host's own).
constexpr UINT killed_exit_code = 1;

// Ends the process with a fault's code when nothing else handles the fault: no crash dialog,
// no debugger, and the host learns the code as the exit code.
LONG WINAPI end_on_fault(EXCEPTION_POINTERS* fault) {
    UINT code = fault != nullptr && fault->ExceptionRecord != nullptr
                    ? fault->ExceptionRecord->ExceptionCode
                    : killed_exit_code;
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The process that the watch waits on: one a process, as a bridge has one host.
HANDLE watched_process = nullptr;

DWORD WINAPI watch_process(void*) {
    WaitForSingleObject(watched_process, INFINITE);
    TerminateProcess(GetCurrentProcess(), 0); // whatever the process's other threads are doing
    return 0;
}

} // namespace

bool create_shared_block(shared_block& block, std::size_t size) {
    block = shared_block{};
    if (size == 0) { // a 32-bit size, as the section's
        return false;
    }
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(size), nullptr);
    if (section == nullptr) {
        return false;
    }
    void* base = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (base == nullptr) {
        CloseHandle(section);
        return false;
    }
    block.base = static_cast<unsigned char*>(base);
    block.size = size;
    block.handle = as_os_handle(section);
    return true;
}

bool grow_shared_block(shared_block& block, std::size_t size, shared_block& old) {
    old = shared_block{};
    if (block.base == nullptr || size <= block.size) {
        return block.base != nullptr;
    }
    shared_block grown;
    if (!create_shared_block(grown, size)) {
        return false;
    }
    std::memcpy(grown.base, block.base, block.size);
    old = block;
    block = grown;
    return true;
}

bool map_shared_block(shared_block& block, os_handle handle, std::size_t size) {
    if (handle == no_handle || size == 0) {
        return false;
    }
    void* base = MapViewOfFile(as_handle(handle), FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (base == nullptr) {
        return false;
    }
    if (block.base != nullptr) {
        UnmapViewOfFile(block.base);
    }
    if (block.handle != handle) {
        close_os_handle(block.handle);
    }
    block.base = static_cast<unsigned char*>(base);
    block.size = size;
    block.handle = handle;
    return true;
}

void free_shared_block(shared_block& block) {
    if (block.base != nullptr) {
        UnmapViewOfFile(block.base);
    }
    close_os_handle(block.handle);
    block = shared_block{};
}

bool start_child(const char* program, const char* const* arguments, os_handle shared,
                 child_process& child) {
    child = child_process{};
    if (program == nullptr || arguments == nullptr || shared == no_handle) {
        return false;
    }
    HANDLE self = GetCurrentProcess();
    HANDLE to_bridge = CreateEventA(nullptr, FALSE, FALSE, nullptr); // the bridge sleeps on it
    HANDLE to_host = CreateEventA(nullptr, FALSE, FALSE, nullptr);   // and we on this one
    // Inheritable copies of what the bridge is handed, made for this start alone: its event,
    // ours, this process (whose end ends it) and the block.
    HANDLE handed[4] = {};
    bool made =
        to_bridge != nullptr && to_host != nullptr &&
        DuplicateHandle(self, to_bridge, self, &handed[0], 0, TRUE, DUPLICATE_SAME_ACCESS) &&
        DuplicateHandle(self, to_host, self, &handed[1], 0, TRUE, DUPLICATE_SAME_ACCESS) &&
        DuplicateHandle(self, self, self, &handed[2], SYNCHRONIZE, TRUE, 0) &&
        DuplicateHandle(self, as_handle(shared), self, &handed[3], 0, TRUE, DUPLICATE_SAME_ACCESS);
    char text[96];
    char line[3 * max_path + sizeof text];
    std::size_t used = 0;
    line[0] = '\0';
    made = made && write_bridge_handles(
                       bridge_handles{channel{as_os_handle(handed[0]), as_os_handle(handed[1]),
                                              as_os_handle(handed[2])},
                                      as_os_handle(handed[3])},
                       text, sizeof text);
    for (const char* const* argument = arguments; made && *argument != nullptr; ++argument) {
        made = append_argument(line, sizeof line, used, *argument);
    }
    made = made && append_argument(line, sizeof line, used, text);

    PROCESS_INFORMATION started{};
    bool running = false;
    if (made) {
        // Only these four are inherited, not whatever else of the host's is inheritable.
        STARTUPINFOEXA startup{};
        startup.StartupInfo.cb = sizeof startup;
        alignas(8) unsigned char list_room[256];
        SIZE_T list_size = sizeof list_room;
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_room);
        bool listed = InitializeProcThreadAttributeList(list, 1, 0, &list_size) != FALSE;
        bool refused =
            !listed || !UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                  handed, sizeof handed, nullptr, nullptr);
        if (!refused) {
            startup.lpAttributeList = list;
            running = CreateProcessA(program, line, nullptr, nullptr, TRUE,
                                     CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                                     nullptr, &startup.StartupInfo, &started) != FALSE;
            // A system that knows the attribute list but not handle lists refuses the start
            // itself as an invalid parameter; any other failure (no program) is final.
            refused = !running && GetLastError() == ERROR_INVALID_PARAMETER;
        }
        if (listed) {
            DeleteProcThreadAttributeList(list);
        }
        if (refused) { // a system without handle lists: every inheritable handle goes along
            startup.StartupInfo.cb = sizeof startup.StartupInfo;
            running = CreateProcessA(program, line, nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                     nullptr, nullptr, &startup.StartupInfo, &started) != FALSE;
        }
    }
    for (HANDLE copy : handed) {
        if (copy != nullptr) {
            CloseHandle(copy); // the bridge has its own now, under the same values
        }
    }
    if (!running) {
        if (to_bridge != nullptr) {
            CloseHandle(to_bridge);
        }
        if (to_host != nullptr) {
            CloseHandle(to_host);
        }
        return false;
    }
    CloseHandle(started.hThread);
    child.id = started.dwProcessId;
    child.process = as_os_handle(started.hProcess);
    child.link = channel{as_os_handle(to_host), as_os_handle(to_bridge), child.process};
    child.block = as_os_handle(handed[3]);
    return true;
}

os_handle hand_to_child(child_process& child, const shared_block& block) {
    HANDLE theirs = nullptr;
    if (child.process == no_handle || block.handle == no_handle ||
        !DuplicateHandle(GetCurrentProcess(), as_handle(block.handle), as_handle(child.process),
                         &theirs, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return no_handle;
    }
    return as_os_handle(theirs);
}

int end_child(child_process& child, int wait_ms) {
    int code = -1;
    if (child.process != no_handle) {
        HANDLE process = as_handle(child.process);
        TerminateProcess(process, killed_exit_code); // fails for one that ended already
        // A termination completes at once, unless the process is stuck in a driver: then its
        // code stays unknown rather than the host waiting for it.
        DWORD status = 0;
        if (WaitForSingleObject(process, wait_ms < 0 ? 0 : static_cast<DWORD>(wait_ms)) ==
                WAIT_OBJECT_0 &&
            GetExitCodeProcess(process, &status) && status != STILL_ACTIVE) {
            code = static_cast<int>(status);
        }
        CloseHandle(process);
    }
    close_os_handle(child.link.wait);
    close_os_handle(child.link.wake);
    child = child_process{};
    return code;
}

channel_wait wait_channel(const channel& link, int timeout_ms) {
    HANDLE both[2] = {as_handle(link.wait), as_handle(link.peer)};
    DWORD woke = WaitForMultipleObjects(link.peer != no_handle ? 2 : 1, both, FALSE,
                                        timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
    if (woke == WAIT_OBJECT_0) {
        return channel_wait::woken;
    }
    return woke == WAIT_TIMEOUT ? channel_wait::timed_out : channel_wait::closed;
}

void wake_channel(const channel& link) {
    SetEvent(as_handle(link.wake));
}

bool search_dlls_in(const char* folder) {
    return folder == nullptr || folder[0] == '\0' || SetDllDirectoryA(folder) != FALSE;
}

bool keep_from_children(const bridge_handles& handles) {
    bool kept = true;
    for (os_handle handle :
         {handles.link.wait, handles.link.wake, handles.link.peer, handles.block}) {
        if (handle != no_handle) {
            kept = SetHandleInformation(as_handle(handle), HANDLE_FLAG_INHERIT, 0) != FALSE && kept;
        }
    }
    return kept;
}

bool end_with_channel(const channel& link) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(end_on_fault);
    watched_process = as_handle(link.peer);
    if (link.peer == no_handle) {
        return false;
    }
    HANDLE thread = CreateThread(nullptr, 64 * 1024, watch_process, nullptr,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        return false;
    }
    CloseHandle(thread);
    return true;
}

unsigned long long monotonic_microseconds() {
    LARGE_INTEGER count;
    LARGE_INTEGER frequency;
    if (!QueryPerformanceCounter(&count) || !QueryPerformanceFrequency(&frequency) ||
        frequency.QuadPart <= 0) {
        return 0;
    }
    auto ticks = static_cast<unsigned long long>(count.QuadPart);
    auto per_second = static_cast<unsigned long long>(frequency.QuadPart);
    return ticks / per_second * 1000000ull + ticks % per_second * 1000000ull / per_second;
}

} // namespace kestrune::platform
