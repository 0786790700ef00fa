// An environment variable set for one test's time, and put back as it was afterwards.
#pragma once

#include <string>

namespace kestrune::test {

class scoped_environment {
public:
    scoped_environment(const std::string& name, const std::string& value);
    ~scoped_environment();
    scoped_environment(const scoped_environment&) = delete;
    scoped_environment& operator=(const scoped_environment&) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

void set_environment(const std::string& name, const std::string& value); // "" unsets it

} // namespace kestrune::test
