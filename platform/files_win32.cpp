#include <windows.h>

#include "platform/files.h"

#include <cstring>

namespace kestrune::platform {

namespace {
void copy_name(const WIN32_FIND_DATAA& data, search_entry& entry) {
    static_assert(sizeof data.cFileName == sizeof entry.name);
    std::memcpy(entry.name, data.cFileName, sizeof entry.name);
    entry.name[sizeof entry.name - 1] = '\0';
}
} // namespace

search_handle find_first(const char* pattern, search_entry& entry) {
    if (pattern == nullptr || pattern[0] == '\0') {
        return nullptr;
    }
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE || search == nullptr) {
        return nullptr;
    }
    copy_name(data, entry);
    return search;
}

bool find_next(search_handle search, search_entry& entry) {
    if (search == nullptr) {
        return false;
    }
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(static_cast<HANDLE>(search), &data)) {
        return false;
    }
    copy_name(data, entry);
    return true;
}

void find_close(search_handle search) {
    if (search != nullptr) {
        FindClose(static_cast<HANDLE>(search));
    }
}

unsigned file_attributes(const char* path) {
    if (path == nullptr) {
        return no_attributes;
    }
    return GetFileAttributesA(path);
}

bool identify_folder(const char* path, folder_identity& identity) {
    if (path == nullptr || path[0] == '\0') {
        return false;
    }
    // A folder opens only with backup semantics; without FILE_FLAG_OPEN_REPARSE_POINT a link
    // (symbolic link or junction) opens the folder it leads to.
    HANDLE folder = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information;
    bool known = GetFileInformationByHandle(folder, &information) != 0 &&
                 (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!known) {
        CloseHandle(folder);
        return false;
    }
    identity.volume = information.dwVolumeSerialNumber;
    identity.index = (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) |
                     information.nFileIndexLow;
    identity.final_path[0] = '\0';
    if (identity.index == 0) {
        // No index from this file system: the final path, links resolved, stands for it.
        DWORD length = GetFinalPathNameByHandleA(folder, identity.final_path,
                                                 sizeof identity.final_path, FILE_NAME_NORMALIZED);
        known = length > 0 && length < sizeof identity.final_path;
    }
    CloseHandle(folder);
    return known;
}

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
