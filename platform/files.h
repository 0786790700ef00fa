// What the scan's memory needs of the file system beyond platform.h: a file's size and last
// write, replacing one file by another in one step, making a folder, and the process's id for
// names of its own. files_posix.cpp and files_win32.cpp carry it out. None of these throws.
#pragma once

namespace kestrune::platform {

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
