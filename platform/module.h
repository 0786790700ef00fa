// Loaded modules: libraries loaded, searched and freed, the module that holds an address, and the
// paths of the files beside one. module_posix.cpp carries it out with dlopen, module_win32.cpp
// with the Win32 loader. None of these functions throws.
#pragma once

#include <cstddef>

#include "platform/floating_point.h"

namespace kestrune::platform {

using module_handle = void*; // a loaded library or the executable; null means none

// The executable of the host process (GetModuleHandleA(nullptr)); null on failure.
module_handle executable_module();

// The loaded module whose image holds address (the module's own handle, as its DLL entry is
// given it); null when no module holds it. Takes no reference.
module_handle module_containing(const void* address);

// Copies the file path of a loaded module into buffer, as GetModuleFileNameA does: at most
// size characters, and when the path is longer the copy may lack its terminator. Answers the
// characters copied; 0 on failure or for a null module.
unsigned module_file_name(module_handle module, char* buffer, unsigned size);

// The path of the file name beside the module whose image holds address (this library, or the
// program it is linked into): that module's absolute folder and name. False when the module's
// path can't be learnt or the result doesn't fit size with its terminator.
bool sibling_path(const void* address, const char* name, char* text, std::size_t size);
// The folder of this process's executable, without its last separator, into text; "" when it
// can't be learnt or doesn't fit size.
void executable_folder(char* text, std::size_t size);

// Loads a library by path (its initialisation runs); null when it can't be loaded. The
// floating-point settings, x87 stack and pending exceptions are the caller's again afterwards,
// whatever the library's load code did; what it left in force goes into *left when given.
module_handle load_library(const char* path, fp_settings* left = nullptr);
// The address of a named export of a loaded library, or null.
void* find_export(module_handle library, const char* name);
// Drops one reference to a library loaded by load_library; the caller's floating-point state
// is kept as load_library keeps it.
void free_library(module_handle library);
// Keeps the module whose image holds address loaded for the rest of the process, however often
// it is freed later; false when no module holds the address or it can't be pinned. Not for the
// audio path: it may allocate.
bool pin_module(const void* address);

} // namespace kestrune::platform
