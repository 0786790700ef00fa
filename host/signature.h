// The host's interface signature: the text that the host's own library "buzz2zzub.dll", found
// beside this library, reports through its export "zzub_get_signature". Read once and kept.
#pragma once

#include <cstddef>

#include "platform/module.h"

namespace kestrune {

constexpr std::size_t signature_size = 200; // bytes of signature_text, terminator included
constexpr const char sibling_library_name[] = "buzz2zzub.dll";
constexpr const char sibling_signature_export[] = "zzub_get_signature";

using signature_function = const char* (*)();

// The library's DLL entry notification, which the module's DLL entry calls with every reason
// code. Records module as this library's own handle at process attach (reason 1); always
// answers 1.
int on_attach(platform::module_handle module, unsigned long reason, void* reserved);

// This library's module handle, recorded at process attach; null before.
platform::module_handle own_module();

// Builds the path of the sibling library from this library's own path: the folder part,
// separator included, then sibling_library_name. False, with buffer emptied, when own_path has
// no separator or the joined path (with its terminator) doesn't fit in size bytes.
bool sibling_path(const char* own_path, char* buffer, std::size_t size);

// Copies a sibling's answer into a signature buffer of signature_size bytes: at most
// signature_size - 1 characters, every byte behind them zero. A null answer is the empty text.
void store_signature(const char* text, char* signature);

// The body of zzub_get_signature: the process-wide signature text, looked up from the sibling
// while it is still empty. Never null; the empty text when there is no signature (yet).
const char* signature_text();

} // namespace kestrune
