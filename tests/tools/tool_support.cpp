#include "tool_support.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include <gtest/gtest.h>

#include "hostkit/host_platform.h"
#include "tests/support/test_paths.h"

#if defined(_WIN32)
#include "tests/support/process.h"
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace kestrune::test {

std::string host_folder_with(const temp_folder& dir, std::initializer_list<const char*> files) {
    std::string host = place_host_program(dir, "kestrune-host");
    std::filesystem::path machines =
        std::filesystem::path(hostkit::executable_folder()) / "Gear" / "Psycle";
    for (const auto& entry : std::filesystem::directory_iterator(machines)) {
        dir.copy_in(entry.path().string(), "Gear/Psycle/" + entry.path().filename().string());
    }
    for (const char* file : files) {
        dir.copy_in(fixture_path(file), std::string("Gear/Psycle/") + file);
    }
    return host;
}

std::string host_program() {
    return join_path(hostkit::executable_folder(), hostkit::program_file_name("kestrune-host"));
}

#if defined(_WIN32)

tool_result run_host(const std::vector<std::string>& arguments, const std::string& program) {
    process_result ran = run_program(program.empty() ? host_program() : program, arguments);
    tool_result result;
    result.exit_code = ran.started ? ran.exit_code : -1;
    result.out = ran.output;
    return result;
}

#else

namespace {

std::string drain(int fd) {
    std::string text;
    char chunk[4096];
    ssize_t got = 0;
    while ((got = read(fd, chunk, sizeof chunk)) > 0) {
        text.append(chunk, static_cast<std::size_t>(got));
    }
    return text;
}

} // namespace

tool_result run_host(const std::vector<std::string>& arguments, const std::string& chosen) {
    tool_result result;
    std::string program = chosen.empty() ? host_program() : chosen;
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    // Standard output and error each go to a file of their own, so that neither pipe can fill
    // up while the other is read.
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    if (out == nullptr || err == nullptr) {
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fileno(out), 1);
    posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    lseek(fileno(out), 0, SEEK_SET);
    lseek(fileno(err), 0, SEEK_SET);
    result.out = drain(fileno(out));
    result.err = drain(fileno(err));
    std::fclose(out);
    std::fclose(err);
    return result;
}

#endif

kestrune_host::stereo_sound read_wav(const std::string& path) {
    std::string error;
    auto sound = kestrune_host::read_sound(path, error);
    EXPECT_TRUE(sound.has_value()) << error;
    return sound ? *sound : kestrune_host::stereo_sound{};
}

namespace {
std::size_t end_of(const std::vector<float>& samples, std::size_t first, long count) {
    if (count < 0) {
        return samples.size();
    }
    return std::min(samples.size(), first + static_cast<std::size_t>(count));
}
} // namespace

double rms(const std::vector<float>& samples, std::size_t first, long count) {
    std::size_t end = end_of(samples, first, count);
    if (end <= first) {
        return 0.0;
    }
    double sum = 0.0;
    for (std::size_t i = first; i < end; ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
    }
    return std::sqrt(sum / static_cast<double>(end - first));
}

float peak(const std::vector<float>& samples, std::size_t first, long count) {
    std::size_t end = end_of(samples, first, count);
    float most = 0.0f;
    for (std::size_t i = first; i < end; ++i) {
        most = std::max(most, std::fabs(samples[i]));
    }
    return most;
}

double crossing_frequency(const std::vector<float>& samples, int samples_per_second,
                          std::size_t first, std::size_t count) {
    std::size_t end = std::min(samples.size(), first + count);
    int crossings = 0;
    for (std::size_t i = first + 1; i < end; ++i) {
        if ((samples[i - 1] < 0.0f) != (samples[i] < 0.0f)) {
            ++crossings;
        }
    }
    double seconds = static_cast<double>(end - first) / samples_per_second;
    return seconds > 0.0 ? crossings / 2.0 / seconds : 0.0;
}

} // namespace kestrune::test
