// The few Win32 declarations that the freestanding MSVC-mode test binaries use, written out by
// hand: MSVC-mode clang has no Windows headers here. All are stdcall imports from kernel32
// (msvc/kernel32.def names each with its argument bytes).
#pragma once

#include <stddef.h>

extern "C" {
typedef void* win_handle;
typedef void* win_module;
typedef int win_bool;
typedef int(__stdcall* win_proc)();

__declspec(dllimport) void __stdcall ExitProcess(unsigned code);
__declspec(dllimport) win_bool __stdcall FreeLibrary(win_module module);
__declspec(dllimport) char* __stdcall GetCommandLineA();
__declspec(dllimport) unsigned long __stdcall GetLastError();
__declspec(dllimport) unsigned long __stdcall GetModuleFileNameA(win_module module, char* path,
                                                                 unsigned long size);
__declspec(dllimport) win_module __stdcall GetModuleHandleA(const char* name);
__declspec(dllimport) win_proc __stdcall GetProcAddress(win_module module, const char* name);
__declspec(dllimport) win_handle __stdcall GetProcessHeap();
__declspec(dllimport) win_handle __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) void* __stdcall HeapAlloc(win_handle heap, unsigned long flags, size_t size);
__declspec(dllimport) win_bool
    __stdcall HeapFree(win_handle heap, unsigned long flags, void* block);
__declspec(dllimport) win_module __stdcall LoadLibraryA(const char* path);
__declspec(dllimport) void __stdcall RaiseException(unsigned long code, unsigned long flags,
                                                    unsigned long count,
                                                    const unsigned long* arguments);
__declspec(dllimport) void* __stdcall VirtualAlloc(void* address, size_t size, unsigned long type,
                                                   unsigned long protection);
__declspec(dllimport) win_bool
    __stdcall VirtualProtect(void* address, size_t size, unsigned long protection,
                             unsigned long* old_protection);
__declspec(dllimport) win_bool
    __stdcall WriteFile(win_handle file, const void* data, unsigned long size,
                        unsigned long* written, void* overlapped);
}

#define WIN_STD_OUTPUT_HANDLE ((unsigned long)-11)
#define WIN_EXCEPTION_NONCONTINUABLE 1ul
#define WIN_MEM_COMMIT_RESERVE 0x3000ul
#define WIN_PAGE_NOACCESS 1ul
#define WIN_PAGE_READWRITE 4ul
