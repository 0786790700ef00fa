#include "tests/support/test_paths.h"

#include <filesystem>

#include "hostkit/library.h"
#include "platform/platform.h"

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
#if !defined(_WIN32)
    std::filesystem::permissions(program, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
#endif
    return program;
}

} // namespace kestrune::test
