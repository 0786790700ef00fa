#include <windows.h>

#include <cstring>
#include <vector>

#include "allocation_count.h"

namespace kestrune_host {

namespace {

// Each counting function calls what the slot held: the real function of the DLL the machine
// imports it from. One machine module at a time, so one of each is enough.
using heap_alloc_call = LPVOID(WINAPI*)(HANDLE, DWORD, SIZE_T);
using heap_realloc_call = LPVOID(WINAPI*)(HANDLE, DWORD, LPVOID, SIZE_T);
using rtl_alloc_call = PVOID(WINAPI*)(PVOID, ULONG, SIZE_T);
using global_alloc_call = HGLOBAL(WINAPI*)(UINT, SIZE_T);
using virtual_alloc_call = LPVOID(WINAPI*)(LPVOID, SIZE_T, DWORD, DWORD);
using malloc_call = void*(__cdecl*)(size_t);
using calloc_call = void*(__cdecl*)(size_t, size_t);
using realloc_call = void*(__cdecl*)(void*, size_t);

heap_alloc_call real_heap_alloc;
heap_realloc_call real_heap_realloc;
rtl_alloc_call real_rtl_alloc;
global_alloc_call real_global_alloc, real_local_alloc;
virtual_alloc_call real_virtual_alloc;
malloc_call real_malloc, real_new, real_new_array;
calloc_call real_calloc;
realloc_call real_realloc;

LPVOID WINAPI count_heap_alloc(HANDLE heap, DWORD flags, SIZE_T n) {
    note_allocation();
    return real_heap_alloc(heap, flags, n);
}
LPVOID WINAPI count_heap_realloc(HANDLE heap, DWORD flags, LPVOID p, SIZE_T n) {
    note_allocation();
    return real_heap_realloc(heap, flags, p, n);
}
PVOID WINAPI count_rtl_alloc(PVOID heap, ULONG flags, SIZE_T n) {
    note_allocation();
    return real_rtl_alloc(heap, flags, n);
}
HGLOBAL WINAPI count_global_alloc(UINT flags, SIZE_T n) {
    note_allocation();
    return real_global_alloc(flags, n);
}
HGLOBAL WINAPI count_local_alloc(UINT flags, SIZE_T n) {
    note_allocation();
    return real_local_alloc(flags, n);
}
LPVOID WINAPI count_virtual_alloc(LPVOID at, SIZE_T n, DWORD type, DWORD protect) {
    note_allocation();
    return real_virtual_alloc(at, n, type, protect);
}
void* __cdecl count_malloc(size_t n) {
    note_allocation();
    return real_malloc(n);
}
void* __cdecl count_calloc(size_t n, size_t size) {
    note_allocation();
    return real_calloc(n, size);
}
void* __cdecl count_realloc(void* p, size_t n) {
    note_allocation();
    return real_realloc(p, n);
}
void* __cdecl count_new(size_t n) {
    note_allocation();
    return real_new(n);
}
void* __cdecl count_new_array(size_t n) {
    note_allocation();
    return real_new_array(n);
}

struct counted_import {
    const char* dll; // the DLL it must come from; null: any (each C runtime has its own name)
    const char* name;
    void** real;
    void* counting_function;
};

#define COUNTED(dll, name, real, counter)                                                          \
    { dll, name, reinterpret_cast<void**>(&real), reinterpret_cast<void*>(&counter) }
const counted_import imports[] = {
    COUNTED("kernel32.dll", "HeapAlloc", real_heap_alloc, count_heap_alloc),
    COUNTED("kernel32.dll", "HeapReAlloc", real_heap_realloc, count_heap_realloc),
    COUNTED("ntdll.dll", "RtlAllocateHeap", real_rtl_alloc, count_rtl_alloc),
    COUNTED("kernel32.dll", "GlobalAlloc", real_global_alloc, count_global_alloc),
    COUNTED("kernel32.dll", "LocalAlloc", real_local_alloc, count_local_alloc),
    COUNTED("kernel32.dll", "VirtualAlloc", real_virtual_alloc, count_virtual_alloc),
    COUNTED(nullptr, "malloc", real_malloc, count_malloc),
    COUNTED(nullptr, "calloc", real_calloc, count_calloc),
    COUNTED(nullptr, "realloc", real_realloc, count_realloc),
    // MSVC's operator new and new[] (void* __cdecl(unsigned int)).
    COUNTED(nullptr, "??2@YAPAXI@Z", real_new, count_new),
    COUNTED(nullptr, "??_U@YAPAXI@Z", real_new_array, count_new_array),
};
#undef COUNTED

struct patched_slot {
    DWORD_PTR* slot;
    DWORD_PTR was;
};
std::vector<patched_slot> patched;

bool write_slot(DWORD_PTR* slot, DWORD_PTR value) {
    DWORD was = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was)) {
        return false;
    }
    *slot = value;
    VirtualProtect(slot, sizeof *slot, was, &was);
    return true;
}

int patch_imports(HMODULE module) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) {
        return 0;
    }
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (nt->Signature != IMAGE_NT_SIGNATURE || directory.VirtualAddress == 0) {
        return 0;
    }
    int redirected = 0;
    auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
    for (; entry->Name != 0; ++entry) {
        const char* dll = reinterpret_cast<const char*>(base + entry->Name);
        DWORD names_at =
            entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + names_at);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            auto* named = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            for (const counted_import& import : imports) {
                if (std::strcmp(reinterpret_cast<const char*>(named->Name), import.name) != 0 ||
                    (import.dll != nullptr && _stricmp(dll, import.dll) != 0)) {
                    continue;
                }
                auto* slot = reinterpret_cast<DWORD_PTR*>(&slots->u1.Function);
                DWORD_PTR was = *slot;
                // A second runtime's function of the same name would get the first's counter,
                // and free what the other allocated: it is left alone.
                if (*import.real != nullptr && *import.real != reinterpret_cast<void*>(was)) {
                    continue;
                }
                if (write_slot(slot, reinterpret_cast<DWORD_PTR>(import.counting_function))) {
                    *import.real = reinterpret_cast<void*>(was);
                    patched.push_back({slot, was});
                    ++redirected;
                }
            }
        }
    }
    return redirected;
}

} // namespace

allocation_counter::~allocation_counter() {
    stop();
    for (const patched_slot& p : patched) {
        write_slot(p.slot, p.was);
    }
    patched.clear();
    for (const counted_import& import : imports) {
        *import.real = nullptr;
    }
}

int allocation_counter::attach(const std::string& module_path) {
    if (!patched.empty()) {
        return 0;
    }
    HMODULE module = GetModuleHandleA(module_path.c_str());
    return module != nullptr ? patch_imports(module) : 0;
}

} // namespace kestrune_host
