// The file system: paths, folder searches, attributes and identities, and what the scan's memory
// needs beyond those (a file's size and last write, replacing one file by another in one step,
// making a folder, the process's id for names of its own). files_posix.cpp and files_win32.cpp
// carry it out.
//
// Texts are single-byte (the ANSI code page on Windows) and paths at most max_path characters
// with the terminator. None of these functions throws.
#pragma once

#include <cstddef>

namespace kestrune::platform {

#if defined(_WIN32)
constexpr char path_separator = '\\';
constexpr bool paths_ignore_case = true; // ASCII case, as the file systems compare names
#else
constexpr char path_separator = '/';
constexpr bool paths_ignore_case = false;
#endif

constexpr std::size_t max_path = 260;           // the platform path limit, terminator included
constexpr unsigned folder_attribute = 0x10;     // GetFileAttributesA's folder bit
constexpr unsigned no_attributes = 0xffffffffu; // the answer for a path that doesn't exist
// FILE_ATTRIBUTE_REPARSE_POINT: the path is a symbolic link or a junction (natively, a symlink).
constexpr unsigned link_attribute = 0x400;

// A folder search for a wildcard pattern, as FindFirstFileA: "dir/*" gives every entry, "." and
// ".." included; "dir/*.dll" gives names ending in ".dll" in any case.
struct search_entry {
    char name[max_path]; // the entry's name only, without its folder
};
using search_handle = void*; // null: nothing found or the folder can't be read
search_handle find_first(const char* pattern, search_entry& entry);
bool find_next(search_handle search, search_entry& entry); // false when none is left
void find_close(search_handle search);

// The attribute bits of a path (folder_attribute marks a folder), or no_attributes.
unsigned file_attributes(const char* path);

// What identifies a folder whichever path leads to it: the volume and file index on Windows,
// the device and inode natively. A file system that reports no index (index 0: some network
// and FUSE drives) gives the folder's final path instead, links resolved.
struct folder_identity {
    unsigned long long volume;
    unsigned long long index; // 0: none, and final_path identifies the folder
    char final_path[max_path];
};
// The identity of the folder at path (links followed); false when it can't be read.
bool identify_folder(const char* path, folder_identity& identity);

// What tells one version of a file from another without reading it.
struct file_stamp {
    unsigned long long size = 0; // bytes
    unsigned long long time = 0; // the last write: nanoseconds since 1970 natively, the
                                 // FILETIME's 100 ns units on Windows
};
// The stamp of the file at path (links followed); false when there is none or it is a folder.
bool read_file_stamp(const char* path, file_stamp& stamp);

// Puts the file at from in the place of the one at to, in one step: a reader of to sees the old
// file or the new one whole, never a mixture. False when it can't (from is then left).
bool replace_file(const char* from, const char* to);

// Makes the folder at path; true when it exists afterwards (made now or before).
bool make_folder(const char* path);

// This process's id.
unsigned long long process_id();

} // namespace kestrune::platform
