#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "child_process.h"

namespace kestrune_host {

std::string own_program_path() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : "";
}

child_result run_child(const std::string& program, const std::vector<std::string>& arguments,
                       double deadline_seconds, std::size_t output_limit) {
    child_result result;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return result;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t parent = getpid();
    pid_t child = fork();
    if (child == 0) {
        // Only async-signal-safe calls from here to exec.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDERR_FILENO);
        dup2(ends[1], STDOUT_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(ends[1]);
    if (child < 0) {
        close(ends[0]);
        return result;
    }
    result.started = true;
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(deadline_seconds));
    char buffer[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            result.timed_out = true;
            kill(child, SIGKILL);
            break;
        }
        pollfd wait{ends[0], POLLIN, 0};
        int ready = poll(&wait, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            continue;
        }
        ssize_t got = read(ends[0], buffer, sizeof buffer);
        if (got <= 0) {
            break; // the end of its output: it has ended, or closed it
        }
        std::size_t room = output_limit - std::min(output_limit, result.output.size());
        result.output.append(buffer, std::min(room, static_cast<std::size_t>(got)));
    }
    close(ends[0]);
    int status = 0;
    // A child that closed its output but lives on meets the deadline here too.
    while (!result.timed_out && waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            result.timed_out = true;
            kill(child, SIGKILL);
        } else {
            usleep(10000);
        }
    }
    if (result.timed_out) {
        waitpid(child, &status, 0);
        return result;
    }
    result.exited = WIFEXITED(status);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
    return result;
}

} // namespace kestrune_host
