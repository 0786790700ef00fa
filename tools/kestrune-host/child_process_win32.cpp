#include <windows.h>

#include <algorithm>
#include <chrono>

#include "child_process.h"

namespace kestrune_host {

namespace {

// One argument, quoted the way the C runtime splits a command line.
std::string quoted(const std::string& argument) {
    std::string out = "\"";
    std::size_t slashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, '\\');
    return out + "\"";
}

// The job that every child joins: closed by the system when this process ends, however it
// ends, and with it every child still running.
HANDLE children_job() {
    static HANDLE job = [] {
        HANDLE made = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (made != nullptr && !SetInformationJobObject(made, JobObjectExtendedLimitInformation,
                                                        &limits, sizeof limits)) {
            CloseHandle(made);
            made = nullptr;
        }
        return made;
    }();
    return job;
}

} // namespace

std::string own_program_path() {
    char path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : "";
}

child_result run_child(const std::string& program, const std::vector<std::string>& arguments,
                       double deadline_seconds, std::size_t output_limit) {
    child_result result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) {
        return result;
    }
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    HANDLE null =
        CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    std::string command = quoted(program);
    for (const std::string& argument : arguments) {
        command += " " + quoted(argument);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null;
    startup.hStdOutput = write_end;
    startup.hStdError = null;
    PROCESS_INFORMATION process{};
    BOOL created =
        CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, TRUE,
                       CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    CloseHandle(write_end);
    if (null != INVALID_HANDLE_VALUE) {
        CloseHandle(null);
    }
    if (!created) {
        CloseHandle(read_end);
        return result;
    }
    if (children_job() != nullptr) {
        AssignProcessToJobObject(children_job(), process.hProcess);
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    result.started = true;
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(deadline_seconds));
    char buffer[4096];
    for (;;) {
        DWORD waiting = 0;
        bool open = PeekNamedPipe(read_end, nullptr, 0, nullptr, &waiting, nullptr) != 0;
        if (waiting > 0) {
            DWORD got = 0;
            if (!ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) || got == 0) {
                break;
            }
            std::size_t room = output_limit - std::min(output_limit, result.output.size());
            result.output.append(buffer, std::min<std::size_t>(room, got));
            continue;
        }
        bool ended = WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
        if (!open || ended) {
            if (ended) {
                // What it wrote just before it ended.
                while (PeekNamedPipe(read_end, nullptr, 0, nullptr, &waiting, nullptr) &&
                       waiting > 0) {
                    DWORD got = 0;
                    if (!ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) || got == 0) {
                        break;
                    }
                    std::size_t room = output_limit - std::min(output_limit, result.output.size());
                    result.output.append(buffer, std::min<std::size_t>(room, got));
                }
            }
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        WaitForSingleObject(process.hProcess, 10);
    }
    CloseHandle(read_end);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(std::max<long long>(left, 0))) !=
        WAIT_OBJECT_0) {
        result.timed_out = true;
        TerminateProcess(process.hProcess, 9);
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        return result;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    // A fault ends a process with its exception code (0xC0000005 and the like), which no
    // program's exit gives.
    result.exited = code < 0xC0000000u;
    result.exit_code = static_cast<int>(code);
    // The program's own line ends, as natively.
    std::string plain;
    for (char c : result.output) {
        if (c != '\r') {
            plain += c;
        }
    }
    result.output = plain;
    return result;
}

} // namespace kestrune_host
