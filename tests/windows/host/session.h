// One run of the MSVC-mode test host against kestrune.dll: the library loaded from beside the
// host, its collection set up with the host's factory, and the machine folder Gear\Psycle that
// the library scans.
#pragma once

#include "tests/windows/host/host_objects.h"
#include "tests/windows/msvc/win32_mini.h"

namespace session {

struct library_session {
    win_module library = nullptr;
    host_view::collection* collection = nullptr;
    host_objects::recording_factory factory;
};

// Loads kestrune.dll, checks its exports and signature, gets a collection and runs setup.
// Answers false (after reporting why) when nothing further can be tested.
bool open(library_session& run);
// Releases the collection and frees the library, which is then unloaded; after a machine was
// abandoned (abandoned set) it stays loaded for good instead, since that machine may still call
// the callback it was given.
void close(library_session& run, bool abandoned = false);

// The full path of a file in the machine folder, Gear\Psycle beside the host.
void machine_path(const char* name, char* path, int size);
// Whether a module of this file name is loaded in the process.
bool is_loaded(const char* name);

// The host's master info as the instances get it.
extern host_view::master_info master;

} // namespace session
