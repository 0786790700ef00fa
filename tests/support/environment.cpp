#include "tests/support/environment.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kestrune::test {

void set_environment(const std::string& name, const std::string& value) {
#if defined(_WIN32)
    std::string assignment = name + "=" + value; // "NAME=" removes it
    _putenv(assignment.c_str());
    // The process's own block too, which child processes inherit, whatever the C runtime keeps.
    SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
#else
    if (value.empty()) {
        unsetenv(name.c_str());
    } else {
        setenv(name.c_str(), value.c_str(), 1);
    }
#endif
}

scoped_environment::scoped_environment(const std::string& name, const std::string& value)
    : name_(name) {
    const char* old = std::getenv(name.c_str());
    had_ = old != nullptr;
    old_ = had_ ? old : "";
    set_environment(name, value);
}

scoped_environment::~scoped_environment() {
    set_environment(name_, had_ ? old_ : "");
}

} // namespace kestrune::test
