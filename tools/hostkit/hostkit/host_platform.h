// The few operating-system calls a host makes: modules loaded by path and their exports, and
// where the running program and the library lie. host_platform.cpp holds the kit's every
// platform difference; the rest of the kit is written once for both builds.
#pragma once

#include <string>

namespace hostkit {

// "kestrune.dll" on Windows, "kestrune.so" natively: the library's file name.
extern const char* const library_file_name;

// A program's file name from its name without extension: "NAME.exe" on Windows, else NAME.
std::string program_file_name(const std::string& name);

// The module at path loaded (or one more reference to it); null when it doesn't load.
void* load_module(const std::string& path);
// An export of a loaded module; null when it has none of that name.
void* find_symbol(void* module, const char* name);
// Gives back one reference taken by load_module; null is ignored.
void free_module(void* module);

// Whether the module file at path is loaded in this process right now; nothing is loaded to
// find out.
bool module_is_loaded(const std::string& path);

// The folder of the running program, where a host looks for the library and for Gear/Psycle;
// "." when the platform can't say.
std::string executable_folder();

} // namespace hostkit
