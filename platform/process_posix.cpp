// Processes and channels on Linux: posix_spawn for a helper process, a memfd for the shared block,
// a socket pair for the channel, and a process descriptor to end the child by.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

namespace kestrune::platform {

bool create_shared_block(shared_block& block, std::size_t size) {
    block = shared_block{};
    int handle = memfd_create("kestrune-bridge", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (handle < 0) {
        return false;
    }
    // Sealed against shrinking before anyone else holds it: a bridge (or a child of its
    // machine) that truncates the file would make this side's next access a SIGBUS. Growing
    // still works.
    if (size == 0 || ftruncate(handle, static_cast<off_t>(size)) != 0 ||
        fcntl(handle, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_SEAL) != 0) {
        close(handle);
        return false;
    }
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, handle, 0);
    if (base == MAP_FAILED) {
        close(handle);
        return false;
    }
    block.base = static_cast<unsigned char*>(base);
    block.size = size;
    block.handle = handle;
    return true;
}

bool grow_shared_block(shared_block& block, std::size_t size, shared_block& old) {
    old = shared_block{};
    if (block.base == nullptr || size <= block.size) {
        return block.base != nullptr;
    }
    if (ftruncate(static_cast<int>(block.handle), static_cast<off_t>(size)) != 0) {
        return false;
    }
    void* base = mremap(block.base, block.size, size, MREMAP_MAYMOVE);
    if (base == MAP_FAILED) {
        return false; // the file is larger now; the mapping is as it was
    }
    block.base = static_cast<unsigned char*>(base);
    block.size = size;
    return true;
}

bool map_shared_block(shared_block& block, os_handle handle, std::size_t size) {
    if (handle < 0 || size == 0) {
        return false;
    }
    void* base =
        mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, static_cast<int>(handle), 0);
    if (base == MAP_FAILED) {
        return false;
    }
    if (block.base != nullptr) {
        munmap(block.base, block.size);
    }
    block.base = static_cast<unsigned char*>(base);
    block.size = size;
    block.handle = handle;
    return true;
}

void free_shared_block(shared_block& block) {
    if (block.base != nullptr) {
        munmap(block.base, block.size);
    }
    if (block.handle >= 0) {
        close(static_cast<int>(block.handle));
    }
    block = shared_block{};
}

namespace {
// The numbers a bridge finds its end of the channel and its block under.
constexpr int child_channel = 3;
constexpr int child_block = 4;
constexpr std::size_t most_arguments = 15;
} // namespace

bool start_child(const char* program, const char* const* arguments, os_handle shared,
                 child_process& child) {
    child = child_process{};
    if (program == nullptr || arguments == nullptr || shared < 0) {
        return false;
    }
    const char* all[most_arguments + 2];
    std::size_t count = 0;
    while (arguments[count] != nullptr) {
        if (count == most_arguments) {
            return false;
        }
        all[count] = arguments[count];
        ++count;
    }
    char handed[96];
    if (!write_bridge_handles(
            bridge_handles{channel{child_channel, child_channel, no_handle}, child_block}, handed,
            sizeof handed)) {
        return false;
    }
    all[count] = handed;
    all[count + 1] = nullptr;
    // Both ends close on exec, so that no other child of this process keeps the channel open
    // after its bridge died; the bridge gets its own copies through the spawn's dup2. The copies
    // lie above the two numbers they are given, as a dup2 onto itself would keep close-on-exec.
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return false;
    }
    int theirs = fcntl(ends[1], F_DUPFD_CLOEXEC, 16);
    int block = fcntl(static_cast<int>(shared), F_DUPFD_CLOEXEC, 16);
    close(ends[1]);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    bool started = false;
    if (theirs >= 0 && block >= 0 && posix_spawn_file_actions_init(&actions) == 0) {
        if (posix_spawnattr_init(&attributes) == 0) {
            sigset_t none;
            sigset_t defaults;
            sigemptyset(&none);
            sigemptyset(&defaults);
            sigaddset(&defaults, SIGPIPE);
            posix_spawnattr_setsigmask(&attributes, &none);
            posix_spawnattr_setsigdefault(&attributes, &defaults);
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
            pid_t id = 0;
            if (posix_spawn_file_actions_adddup2(&actions, theirs, child_channel) == 0 &&
                posix_spawn_file_actions_adddup2(&actions, block, child_block) == 0 &&
                posix_spawn_file_actions_addclosefrom_np(&actions, child_block + 1) == 0 &&
                posix_spawn(&id, program, &actions, &attributes, const_cast<char* const*>(all),
                            environ) == 0) {
                child.id = id;
                // The process itself, watched beside the channel: a child of the machine that
                // inherited the bridge's end can't hide the bridge's death. None on kernels
                // before 5.3, where the channel alone tells.
                int process = static_cast<int>(syscall(SYS_pidfd_open, id, 0));
                child.process = process >= 0 ? process : no_handle;
                child.link = channel{ends[0], ends[0], child.process};
                child.block = child_block;
                started = true;
            }
            posix_spawnattr_destroy(&attributes);
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    if (theirs >= 0) {
        close(theirs);
    }
    if (block >= 0) {
        close(block);
    }
    if (!started) {
        close(ends[0]);
    }
    return started;
}

os_handle hand_to_child(child_process& child, const shared_block& block) {
    return block.handle >= 0 ? child.block : no_handle; // the one file, grown in place
}

namespace {

// The exit code of a status from waitpid or waitid: its status when it exited, 128 plus the
// signal when a signal ended it.
int exit_code_of(int exited_how, int status) {
    if (exited_how == CLD_EXITED) {
        return status;
    }
    return exited_how == CLD_KILLED || exited_how == CLD_DUMPED ? 128 + status : -1;
}

// Kills and reaps a child through its process descriptor, waiting at most wait_ms for its end.
int end_by_descriptor(int process, int wait_ms) {
    // Process descriptors by their system calls: glibc's wrappers came later than the calls.
    syscall(SYS_pidfd_send_signal, process, SIGKILL, nullptr, 0); // fails once it ended
    pollfd ended{process, POLLIN, 0};
    unsigned long long deadline =
        monotonic_microseconds() + 1000ull * static_cast<unsigned>(wait_ms);
    for (;;) {
        unsigned long long now = monotonic_microseconds();
        int left = now < deadline ? static_cast<int>((deadline - now + 999) / 1000) : 0;
        int ready = poll(&ended, 1, left);
        if (ready > 0 || (ready < 0 && errno != EINTR) || left == 0) {
            break;
        }
    }
    siginfo_t info{};
    int code = -1;
    if (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(process), &info,
               WEXITED | WNOHANG) == 0 &&
        info.si_pid != 0) {
        code = exit_code_of(info.si_code, info.si_status);
    }
    close(process);
    return code;
}

// The same by process id, where the kernel has no process descriptors: only while the child is
// still ours to reap, so that a process id reused after the host reaped it itself is never
// signalled.
int end_by_id(pid_t id, int wait_ms) {
    int status = 0;
    pid_t reaped = waitpid(id, &status, WNOHANG);
    if (reaped == 0) {
        kill(id, SIGKILL);
        unsigned long long deadline =
            monotonic_microseconds() + 1000ull * static_cast<unsigned>(wait_ms);
        do {
            reaped = waitpid(id, &status, WNOHANG);
            if (reaped == 0) {
                usleep(1000);
            }
        } while (reaped == 0 && monotonic_microseconds() < deadline);
    }
    if (reaped != id) {
        return -1;
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

} // namespace

int end_child(child_process& child, int wait_ms) {
    if (child.link.wait >= 0) {
        close(static_cast<int>(child.link.wait));
    }
    int code = -1;
    if (child.process >= 0) {
        code = end_by_descriptor(static_cast<int>(child.process), wait_ms);
    } else if (child.id > 0) {
        code = end_by_id(static_cast<pid_t>(child.id), wait_ms);
    }
    child = child_process{};
    return code;
}

channel_wait wait_channel(const channel& link, int timeout_ms) {
    pollfd watched[2] = {{static_cast<int>(link.wait), POLLIN, 0},
                         {static_cast<int>(link.peer), POLLIN, 0}};
    int ready = poll(watched, link.peer >= 0 ? 2 : 1, timeout_ms);
    if (ready == 0) {
        return channel_wait::timed_out;
    }
    if (ready < 0) {
        return errno == EINTR ? channel_wait::woken : channel_wait::closed;
    }
    if (link.peer >= 0 && watched[1].revents != 0) {
        return channel_wait::closed; // the process ended, whoever still holds its end
    }
    char bytes[64];
    ssize_t got = recv(static_cast<int>(link.wait), bytes, sizeof bytes, MSG_DONTWAIT);
    if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EINTR))) {
        return channel_wait::woken;
    }
    return channel_wait::closed;
}

void wake_channel(const channel& link) {
    const char byte = 1;
    // A full channel already holds wake-ups; a closed one has nobody to wake.
    (void)send(static_cast<int>(link.wake), &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
}

namespace {

// The channel that the watch waits on: one a process, as a bridge has one host.
int watched_channel = -1;

void* watch_channel(void*) {
    pollfd watched{watched_channel, POLLRDHUP, 0};
    while (poll(&watched, 1, -1) < 0 && errno == EINTR) {
    }
    _exit(0); // whatever the process's other threads are doing
}

} // namespace

bool search_dlls_in(const char* folder) {
    (void)folder;
    return true;
}

bool keep_from_children(const bridge_handles& handles) {
    bool kept = true;
    for (os_handle handle :
         {handles.link.wait, handles.link.wake, handles.link.peer, handles.block}) {
        if (handle >= 0) {
            int flags = fcntl(static_cast<int>(handle), F_GETFD);
            kept = flags >= 0 &&
                   fcntl(static_cast<int>(handle), F_SETFD, flags | FD_CLOEXEC) == 0 && kept;
        }
    }
    return kept;
}

bool end_with_channel(const channel& link) {
    pthread_t thread;
    watched_channel = static_cast<int>(link.wait);
    if (pthread_create(&thread, nullptr, watch_channel, nullptr) != 0) {
        return false;
    }
    pthread_detach(thread);
    return true;
}

unsigned long long monotonic_microseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000000ull +
           static_cast<unsigned long long>(now.tv_nsec) / 1000ull;
}

} // namespace kestrune::platform
