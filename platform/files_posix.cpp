#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/files.h"

namespace kestrune::platform {

bool read_file_stamp(const char* path, file_stamp& stamp) {
    struct stat status;
    if (path == nullptr || stat(path, &status) != 0 || S_ISDIR(status.st_mode)) {
        return false;
    }
    stamp.size = static_cast<unsigned long long>(status.st_size);
    stamp.time = static_cast<unsigned long long>(status.st_mtim.tv_sec) * 1000000000ull +
                 static_cast<unsigned long long>(status.st_mtim.tv_nsec);
    return true;
}

bool replace_file(const char* from, const char* to) {
    return from != nullptr && to != nullptr && std::rename(from, to) == 0;
}

bool make_folder(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return false;
    }
    struct stat status;
    if (mkdir(path, 0700) == 0) {
        return true;
    }
    return errno == EEXIST && stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

unsigned long long process_id() {
    return static_cast<unsigned long long>(getpid());
}

} // namespace kestrune::platform
