// What this program asks of the operating system beyond the C++ library, one definition per
// build: system_posix.cpp natively, system_win32.cpp on Windows. (The message boxes are the
// other difference: message_boxes.h.)
#pragma once

namespace kestrune_host {

// The CPU time this process has used so far, user and kernel, in seconds.
double process_cpu_seconds();

// The memory this process holds: natively its resident pages, on Windows its private bytes;
// 0 when it can't be had.
long long process_memory_bytes();

// Whether standard error is a terminal (so that a progress line may be drawn there).
bool stderr_is_terminal();

} // namespace kestrune_host
