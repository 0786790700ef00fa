#include "host/signature.h"
#include "platform/files.h"
#include "platform/guard.h"
#include "platform/module.h"

#include <cstring>

namespace kestrune {

namespace {

platform::module_handle recorded_module = nullptr;
char signature[signature_size] = {}; // filled once, by the first lookup that gets a text

// What the guarded call into the sibling needs.
struct sibling_call {
    signature_function function;
};

void call_sibling(void* context) {
    store_signature(static_cast<sibling_call*>(context)->function(), signature);
}

} // namespace

int on_attach(platform::module_handle module, unsigned long reason, void* reserved) {
    (void)reserved;
    constexpr unsigned long process_attach = 1;
    if (reason == process_attach) {
        recorded_module = module;
    }
    return 1;
}

platform::module_handle own_module() {
    return recorded_module;
}

bool sibling_path(const char* own_path, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return false;
    }
    buffer[0] = '\0';
    if (own_path == nullptr) {
        return false;
    }
    const char* cut = std::strrchr(own_path, platform::path_separator);
    if (cut == nullptr) {
        return false;
    }
    std::size_t folder = static_cast<std::size_t>(cut - own_path) + 1; // separator included
    if (folder + sizeof sibling_library_name > size) {
        return false;
    }
    std::memcpy(buffer, own_path, folder);
    std::memcpy(buffer + folder, sibling_library_name, sizeof sibling_library_name);
    return true;
}

void store_signature(const char* text, char* target) {
    std::memset(target, 0, signature_size);
    if (text != nullptr) {
        std::size_t length = strnlen(text, signature_size - 1);
        std::memcpy(target, text, length);
    }
}

const char* signature_text() {
    if (signature[0] != '\0') {
        return signature;
    }
    char own_path[platform::max_path + 1] = {};
    unsigned length = platform::module_file_name(recorded_module, own_path, platform::max_path);
    if (length == 0 || length >= platform::max_path) {
        return signature; // no path, or one cut short by the platform
    }
    char path[platform::max_path + 1]; // a joined path of up to 260 characters
    if (!sibling_path(own_path, path, sizeof path)) {
        return signature;
    }
    platform::module_handle sibling = platform::load_library(path);
    if (sibling == nullptr) {
        return signature;
    }
    sibling_call call{reinterpret_cast<signature_function>(
        platform::find_export(sibling, sibling_signature_export))};
    if (call.function != nullptr && !platform::guarded_call(call_sibling, &call)) {
        store_signature(nullptr, signature); // a sibling that faulted has told us nothing
    }
    platform::free_library(sibling);
    return signature;
}

} // namespace kestrune
