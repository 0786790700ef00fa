// Paths beside a module and the executable's folder, the same on every system: built on
// module_containing and module_file_name, which give an absolute path on both.
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "platform/module.h"

namespace kestrune::platform {

bool sibling_path(const void* address, const char* name, char* text, std::size_t size) {
    char module[max_path];
    unsigned length = module_file_name(module_containing(address), module, sizeof module);
    if (name == nullptr || text == nullptr || length == 0 || length >= sizeof module) {
        return false;
    }
    module[length] = '\0';
    char* cut = std::strrchr(module, path_separator);
    if (cut == nullptr) {
        return false;
    }
    cut[1] = '\0';
    int written = std::snprintf(text, size, "%s%s", module, name);
    return written > 0 && static_cast<std::size_t>(written) < size;
}

void executable_folder(char* text, std::size_t size) {
    if (text == nullptr || size == 0) {
        return;
    }
    text[0] = '\0';
    char path[max_path];
    unsigned length = module_file_name(executable_module(), path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return;
    }
    path[length] = '\0';
    char* cut = std::strrchr(path, path_separator);
    if (cut != nullptr && static_cast<std::size_t>(cut - path) < size) {
        *cut = '\0';
        std::memcpy(text, path, static_cast<std::size_t>(cut - path) + 1);
    }
}

} // namespace kestrune::platform
