#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "allocation_count.h"

namespace kestrune_host {

namespace {

// The real functions, as the dynamic linker resolves them for everyone (not the slot's first
// content: with lazy binding that is a stub that would write the real address back).
using malloc_call = void* (*)(std::size_t);
using calloc_call = void* (*)(std::size_t, std::size_t);
using realloc_call = void* (*)(void*, std::size_t);
using nothrow_new_call = void* (*)(std::size_t, const void*);
malloc_call real_malloc, real_new, real_new_array;
calloc_call real_calloc;
realloc_call real_realloc;
nothrow_new_call real_new_nothrow, real_new_array_nothrow;

void* count_malloc(std::size_t n) {
    note_allocation();
    return real_malloc(n);
}
void* count_calloc(std::size_t n, std::size_t size) {
    note_allocation();
    return real_calloc(n, size);
}
void* count_realloc(void* p, std::size_t n) {
    note_allocation();
    return real_realloc(p, n);
}
void* count_new(std::size_t n) {
    note_allocation();
    return real_new(n);
}
void* count_new_array(std::size_t n) {
    note_allocation();
    return real_new_array(n);
}
void* count_new_nothrow(std::size_t n, const void* tag) {
    note_allocation();
    return real_new_nothrow(n, tag);
}
void* count_new_array_nothrow(std::size_t n, const void* tag) {
    note_allocation();
    return real_new_array_nothrow(n, tag);
}

struct counted_import {
    const char* name;
    void** real;
    void* counting_function;
};

const counted_import imports[] = {
    {"malloc", reinterpret_cast<void**>(&real_malloc), reinterpret_cast<void*>(&count_malloc)},
    {"calloc", reinterpret_cast<void**>(&real_calloc), reinterpret_cast<void*>(&count_calloc)},
    {"realloc", reinterpret_cast<void**>(&real_realloc), reinterpret_cast<void*>(&count_realloc)},
    {"_Znwm", reinterpret_cast<void**>(&real_new), reinterpret_cast<void*>(&count_new)},
    {"_Znam", reinterpret_cast<void**>(&real_new_array), reinterpret_cast<void*>(&count_new_array)},
    {"_ZnwmRKSt9nothrow_t", reinterpret_cast<void**>(&real_new_nothrow),
     reinterpret_cast<void*>(&count_new_nothrow)},
    {"_ZnamRKSt9nothrow_t", reinterpret_cast<void**>(&real_new_array_nothrow),
     reinterpret_cast<void*>(&count_new_array_nothrow)},
};

struct patched_slot {
    void** slot;
    void* was;
};
std::vector<patched_slot> patched;

// Writes value into slot, whose page may be read-only (full RELRO) and is left as it was found
// readable or writable.
bool write_slot(void** slot, void* value) {
    long page_size = sysconf(_SC_PAGESIZE);
    auto* page = reinterpret_cast<char*>(slot) -
                 reinterpret_cast<std::uintptr_t>(slot) % static_cast<std::uintptr_t>(page_size);
    if (mprotect(page, static_cast<std::size_t>(page_size), PROT_READ | PROT_WRITE) != 0) {
        return false;
    }
    *slot = value;
    return true;
}

struct search {
    std::string path; // the module's real path
    int redirected = 0;
};

// An address in the module as a pointer, reached from anchor, a pointer into the same module,
// so that no integer turns into a pointer (which would hide it from alias analysis). Values
// of the dynamic section: glibc relocates some in place, others stay relative to base.
template <class T>
T* at_address(const void* anchor, ElfW(Addr) value, ElfW(Addr) base) {
    std::uintptr_t address = value < base ? value + base : value;
    auto offset = static_cast<std::ptrdiff_t>(address - reinterpret_cast<std::uintptr_t>(anchor));
    return reinterpret_cast<T*>(const_cast<char*>(static_cast<const char*>(anchor)) + offset);
}

int patch_module(dl_phdr_info* info, std::size_t, void* data) {
    auto& wanted = *static_cast<search*>(data);
    char real[PATH_MAX];
    if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0' ||
        realpath(info->dlpi_name, real) == nullptr || wanted.path != real) {
        return 0;
    }
    const ElfW(Dyn)* dynamic = nullptr;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        if (info->dlpi_phdr[i].p_type == PT_DYNAMIC) {
            dynamic = at_address<const ElfW(Dyn)>(info->dlpi_phdr, info->dlpi_phdr[i].p_vaddr,
                                                  info->dlpi_addr);
        }
    }
    if (dynamic == nullptr) {
        return 1;
    }
    ElfW(Addr) base = info->dlpi_addr;
    const ElfW(Sym)* symbols = nullptr;
    const char* names = nullptr;
    const ElfW(Rela) * tables[2] = {};
    std::size_t sizes[2] = {};
    for (const ElfW(Dyn)* d = dynamic; d->d_tag != DT_NULL; ++d) {
        switch (d->d_tag) {
        case DT_SYMTAB:
            symbols = at_address<const ElfW(Sym)>(info->dlpi_phdr, d->d_un.d_ptr, base);
            break;
        case DT_STRTAB:
            names = at_address<const char>(info->dlpi_phdr, d->d_un.d_ptr, base);
            break;
        case DT_JMPREL:
            tables[0] = at_address<const ElfW(Rela)>(info->dlpi_phdr, d->d_un.d_ptr, base);
            break;
        case DT_PLTRELSZ:
            sizes[0] = d->d_un.d_val;
            break;
        case DT_RELA:
            tables[1] = at_address<const ElfW(Rela)>(info->dlpi_phdr, d->d_un.d_ptr, base);
            break;
        case DT_RELASZ:
            sizes[1] = d->d_un.d_val;
            break;
        default:
            break;
        }
    }
    if (symbols == nullptr || names == nullptr) {
        return 1;
    }
    for (int t = 0; t < 2; ++t) {
        for (std::size_t k = 0; tables[t] != nullptr && k < sizes[t] / sizeof(ElfW(Rela)); ++k) {
            const ElfW(Rela)& r = tables[t][k];
            auto type = ELF64_R_TYPE(r.r_info);
            if (type != R_X86_64_JUMP_SLOT && type != R_X86_64_GLOB_DAT) {
                continue;
            }
            const char* name = names + symbols[ELF64_R_SYM(r.r_info)].st_name;
            for (const counted_import& import : imports) {
                if (std::strcmp(name, import.name) != 0) {
                    continue;
                }
                void* real_function = dlsym(RTLD_DEFAULT, import.name);
                auto** slot = at_address<void*>(info->dlpi_phdr, r.r_offset, base);
                if (real_function != nullptr && write_slot(slot, import.counting_function)) {
                    *import.real = real_function;
                    patched.push_back({slot, real_function});
                    ++wanted.redirected;
                }
            }
        }
    }
    return 1;
}

} // namespace

allocation_counter::~allocation_counter() {
    stop();
    for (const patched_slot& p : patched) {
        *p.slot = p.was; // the page stays writable: the loader wrote it once, too
    }
    patched.clear();
}

int allocation_counter::attach(const std::string& module_path) {
    char real[PATH_MAX];
    if (!patched.empty() || realpath(module_path.c_str(), real) == nullptr) {
        return 0;
    }
    search wanted{real, 0};
    dl_iterate_phdr(patch_module, &wanted);
    return wanted.redirected;
}

} // namespace kestrune_host
