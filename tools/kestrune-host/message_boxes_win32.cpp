// Windows: kestrune.dll's import of MessageBoxA, redirected to record_box below.
#include "message_boxes.h"

#include <cstring>
#include <windows.h>

namespace kestrune_host {

namespace {

using message_box_call = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);

// The program has one thread, and one reader at a time.
message_box_call real_message_box = nullptr;
std::string* recorded = nullptr; // null: no reader; the box goes to the user as it is
bool shown = true;

int WINAPI record_box(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (recorded != nullptr) {
        *recorded += std::string(caption != nullptr ? caption : "") + ": " +
                     (text != nullptr ? text : "") + "\n";
        if (!shown) {
            return IDOK;
        }
    }
    return real_message_box(owner, text, caption, type);
}

// The import address table slot of module's import of function from dll, or null.
DWORD_PTR* import_slot(HMODULE module, const char* dll, const char* function) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) {
        return nullptr;
    }
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (nt->Signature != IMAGE_NT_SIGNATURE || imports.VirtualAddress == 0) {
        return nullptr;
    }
    auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; entry->Name != 0; ++entry) {
        if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) {
            continue;
        }
        DWORD names_at =
            entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + names_at);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            auto* named = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(named->Name), function) == 0) {
                return reinterpret_cast<DWORD_PTR*>(&slots->u1.Function);
            }
        }
    }
    return nullptr;
}

} // namespace

bool watch_message_boxes(const std::string& library_path, std::string& error) {
    HMODULE module = GetModuleHandleA(library_path.c_str());
    if (module == nullptr) { // a path written another way than the loader keeps it
        std::size_t cut = library_path.find_last_of("/\\");
        module =
            GetModuleHandleA(library_path.substr(cut == std::string::npos ? 0 : cut + 1).c_str());
    }
    DWORD_PTR* slot =
        module != nullptr ? import_slot(module, "user32.dll", "MessageBoxA") : nullptr;
    if (slot == nullptr) {
        error = "can't read the message boxes of " + library_path +
                ": it doesn't import MessageBoxA from USER32";
        return false;
    }
    if (*slot == reinterpret_cast<DWORD_PTR>(&record_box)) {
        return true;
    }
    DWORD was = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was)) {
        error = "can't read the message boxes of " + library_path;
        return false;
    }
    real_message_box = reinterpret_cast<message_box_call>(*slot);
    *slot = reinterpret_cast<DWORD_PTR>(&record_box);
    VirtualProtect(slot, sizeof *slot, was, &was);
    return true;
}

box_reader::box_reader(bool show) : state_(new std::string) {
    recorded = static_cast<std::string*>(state_);
    shown = show;
}

box_reader::~box_reader() {
    finish();
    delete static_cast<std::string*>(state_);
}

std::string box_reader::finish() {
    if (recorded == state_) {
        recorded = nullptr;
        shown = true;
    }
    return *static_cast<std::string*>(state_);
}

} // namespace kestrune_host
