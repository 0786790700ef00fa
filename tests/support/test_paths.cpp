#include "tests/support/test_paths.h"

#include "platform/platform.h"

namespace kestrune::test {

std::string join_path(const std::string& folder, const std::string& name) {
    return folder + platform::path_separator + name;
}

std::string executable_folder() {
    char buffer[4096] = {};
    unsigned length =
        platform::module_file_name(platform::executable_module(), buffer, sizeof buffer - 1);
    std::string path(buffer, length);
    auto cut = path.find_last_of(platform::path_separator);
    return cut == std::string::npos ? std::string(".") : path.substr(0, cut);
}

std::string fixture_path(const std::string& name) {
    return join_path(join_path(executable_folder(), "fixtures"), name);
}

std::string library_path() {
#if defined(_WIN32)
    return join_path(executable_folder(), "kestrune.dll");
#else
    return join_path(executable_folder(), "kestrune.so");
#endif
}

} // namespace kestrune::test
