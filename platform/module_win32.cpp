// Modules on 32-bit Windows: the Win32 loader. A library's load code may change the thread's
// floating-point settings (Delphi's and Borland's runtimes unmask x87 exceptions): the caller's
// are put back.
#include "platform/module.h"

#include <windows.h>

#include "platform/fp_state_win32.h"

namespace kestrune::platform {

module_handle module_containing(const void* address) {
    HMODULE module = nullptr;
    if (address == nullptr || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                      GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                                  static_cast<LPCSTR>(address), &module)) {
        return nullptr;
    }
    return module;
}

module_handle executable_module() {
    return GetModuleHandleA(nullptr);
}

unsigned module_file_name(module_handle module, char* buffer, unsigned size) {
    if (module == nullptr || buffer == nullptr || size == 0) {
        return 0;
    }
    return GetModuleFileNameA(static_cast<HMODULE>(module), buffer, size);
}

void* find_export(module_handle library, const char* name) {
    if (library == nullptr || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool pin_module(const void* address) {
    HMODULE module = nullptr;
    return address != nullptr && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN |
                                                        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                                    static_cast<LPCSTR>(address), &module) != 0;
}

module_handle load_library(const char* path, fp_settings* left) {
    if (path == nullptr || path[0] == '\0') {
        return nullptr;
    }
    // Delphi's and Borland's runtimes, among others, unmask x87 exceptions in their load code.
    fp_state before = read_fp_state();
    HMODULE library = LoadLibraryA(path);
    if (left != nullptr) {
        *left = settings_of(read_fp_state());
    }
    keep_fp_state(before);
    return library;
}

void free_library(module_handle library) {
    if (library != nullptr) {
        fp_state before = read_fp_state();
        FreeLibrary(static_cast<HMODULE>(library));
        keep_fp_state(before);
    }
}

} // namespace kestrune::platform
