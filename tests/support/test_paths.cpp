#include "tests/support/test_paths.h"

#include <filesystem>

#include "hostkit/library.h"
#include "platform/files.h"

namespace kestrune::test {

std::string join_path(const std::string& folder, const std::string& name) {
    return folder + platform::path_separator + name;
}

std::string fixture_path(const std::string& name) {
    return join_path(join_path(hostkit::executable_folder(), "fixtures"), name);
}

std::string place_host_program(const temp_folder& folder, const std::string& name) {
    std::string file = hostkit::program_file_name(name);
    std::string program = folder.copy_in(join_path(hostkit::executable_folder(), file), file);
    folder.copy_in(hostkit::library_beside_program(), hostkit::library_file_name);
    // The bridge that an isolated instance runs its machine in, beside the library as in the
    // download.
    std::string bridge_file = hostkit::program_file_name("kestrune-bridge");
    std::string bridge = join_path(hostkit::executable_folder(), bridge_file);
    std::error_code missing;
    if (std::filesystem::exists(bridge, missing)) {
        bridge = folder.copy_in(bridge, bridge_file);
    } else {
        bridge.clear();
    }
#if !defined(_WIN32)
    for (const std::string& executable : {program, bridge}) {
        if (!executable.empty()) {
            std::filesystem::permissions(executable, std::filesystem::perms::owner_exec,
                                         std::filesystem::perm_options::add);
        }
    }
#endif
    return program;
}

} // namespace kestrune::test
