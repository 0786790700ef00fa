#include <windows.h>

#include "platform/files.h"

namespace kestrune::platform {

bool read_file_stamp(const char* path, file_stamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path == nullptr || !GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    stamp.size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.time = (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                 data.ftLastWriteTime.dwLowDateTime;
    return true;
}

bool replace_file(const char* from, const char* to) {
    return from != nullptr && to != nullptr &&
           MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool make_folder(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return false;
    }
    if (CreateDirectoryA(path, nullptr)) {
        return true;
    }
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

unsigned long long process_id() {
    return GetCurrentProcessId();
}

} // namespace kestrune::platform
