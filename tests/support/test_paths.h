// Where a test finds what the build made: everything lies beside the test program in bin/.
#pragma once

#include <string>

namespace kestrune::test {

std::string executable_folder();                   // the folder of the running test program
std::string fixture_path(const std::string& name); // bin/fixtures/NAME
std::string library_path();                        // bin/kestrune.dll (kestrune.so natively)
std::string join_path(const std::string& folder, const std::string& name);

} // namespace kestrune::test
