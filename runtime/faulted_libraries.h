// The machine DLLs whose machines faulted in this process, by path: with the default isolation,
// every later instance of such a DLL runs its machine in a bridge process, since the fault may
// have left the DLL's image here broken. Process-wide and locked, so it is touched only when a
// fault is first seen and when an instance starts, never on the audio path's normal course.
#pragma once

namespace kestrune {

// Remembers path (a fault was seen); nothing when memory is short.
void remember_faulted_library(const char* path) noexcept;
// Whether a machine of the DLL at path has faulted in this process.
bool library_faulted(const char* path) noexcept;

} // namespace kestrune
