// A fresh, empty folder for one test, removed with everything in it when the test ends.
#pragma once

#include <string>

namespace kestrune::test {

class temp_folder {
public:
    temp_folder();
    ~temp_folder();
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;

    const std::string& path() const { return path_; }
    // path()/relative, with the platform's separator; relative may use '/'.
    std::string at(const std::string& relative) const;
    // Makes the folder path()/relative and every folder above it.
    std::string make_folder(const std::string& relative) const;
    // Copies a file to path()/relative, making its folders; answers the new path.
    std::string copy_in(const std::string& source, const std::string& relative) const;
    // Writes text to path()/relative, making its folders; answers the new path.
    std::string write_file(const std::string& relative, const std::string& text) const;

private:
    std::string path_;
};

} // namespace kestrune::test
