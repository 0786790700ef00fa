#include "tests/support/temp_folder.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/files.h"

namespace fs = std::filesystem;

namespace kestrune::test {

namespace {
std::string native(std::string path) {
    for (char& c : path) {
        if (c == '/' || c == '\\') {
            c = platform::path_separator;
        }
    }
    return path;
}
} // namespace

temp_folder::temp_folder() {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path base = fs::temp_directory_path();
    for (;;) {
        fs::path candidate =
            base / ("kestrune-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        if (fs::create_directory(candidate)) {
            path_ = native(candidate.string());
            return;
        }
    }
}

temp_folder::~temp_folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string temp_folder::at(const std::string& relative) const {
    return native(path_ + "/" + relative);
}

std::string temp_folder::make_folder(const std::string& relative) const {
    std::string target = at(relative);
    fs::create_directories(target);
    return target;
}

std::string temp_folder::copy_in(const std::string& source, const std::string& relative) const {
    std::string target = at(relative);
    fs::create_directories(fs::path(target).parent_path());
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    return target;
}

std::string temp_folder::write_file(const std::string& relative, const std::string& text) const {
    std::string target = at(relative);
    fs::create_directories(fs::path(target).parent_path());
    std::ofstream(target, std::ios::binary) << text;
    return target;
}

} // namespace kestrune::test
