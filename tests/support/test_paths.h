// Where a test finds what the build made: everything lies beside the test program in bin/
// (hostkit::executable_folder), the library too (hostkit::library_beside_program).
#pragma once

#include <string>

#include "tests/support/temp_folder.h"

namespace kestrune::test {

std::string fixture_path(const std::string& name); // bin/fixtures/NAME
std::string join_path(const std::string& folder, const std::string& name);

// A host's folder made in folder: the program bin/NAME (NAME.exe on Windows) and the library
// beside it. Answers the program's path there.
std::string place_host_program(const temp_folder& folder, const std::string& name);

} // namespace kestrune::test
