// The folder scan over random folder trees: random names (any bytes a file name may hold, long
// ones included, "*.DLL" in any case), folders named like machines, files that aren't
// libraries, links back up the tree, and paths beyond the 260-character limit. The scan must
// end, announce only real machines whose paths fit, and announce every one that it can reach.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/machine_collection.h"
#include "hostkit/host_platform.h"
#include "platform/files.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrune;

constexpr std::size_t path_limit = platform::max_path; // with the terminator

class listing_factory final : public host_factory {
public:
    void announce(host_info* info) override {
        auto* described = static_cast<machine_info*>(info);
        FUZZ_CHECK(described->library_path.size() < path_limit);
        paths.push_back(described->library_path);
    }
    std::vector<std::string> paths;
};

// One folder per run, under a folder made once, with one copy of the machine in it to link.
struct workspace {
    // libFuzzer ends the process without running static destructors, so each run's folder
    // is named by its process, and the folders of runs that are gone are removed first.
    workspace() {
        // The scan as it runs in process, remembering nothing: the fuzzer's trees are many and
        // short-lived, and never the user's cache.
        setenv("KESTRUNE_CACHE", "off", 1);
        setenv("KESTRUNE_SCAN", "in-process", 1);
        const fs::path temp = fs::temp_directory_path();
        const std::string prefix = "kestrune-scan-fuzz-";
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(temp, error)) {
            const std::string name = entry.path().filename().string();
            if (name.compare(0, prefix.size(), prefix) == 0 &&
                !fs::exists("/proc/" + name.substr(prefix.size()), error)) {
                fs::remove_all(entry.path(), error);
            }
        }
        base = (temp / (prefix + std::to_string(getpid()))).string();
        fs::remove_all(base, error);
        FUZZ_CHECK(mkdir(base.c_str(), 0700) == 0);
        machine = base + "/machine.so";
        fs::copy_file(fs::path(hostkit::executable_folder()) / "quiet_machine.dll", machine);
        tree = base + "/t";
    }
    ~workspace() {
        std::error_code error;
        fs::remove_all(base, error);
    }
    std::string base, machine, tree;
};

workspace& space() {
    static workspace shared;
    return shared;
}

// A name from fuzz bytes: no separator and no NUL, 1 to 255 bytes, never "." or "..".
std::string random_name(FuzzedDataProvider& in) {
    std::string name;
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: // long, to push paths past the limit
        name.assign(in.ConsumeIntegralInRange<std::size_t>(60, 255), 'n');
        break;
    default:
        name = in.ConsumeRandomLengthString(24);
    }
    for (char& c : name) {
        if (c == '/' || c == '\0') {
            c = '_';
        }
    }
    static const char* const endings[] = {"", ".dll", ".DLL", ".Dll", ".dll.txt", ".dl"};
    name += endings[in.ConsumeIntegralInRange<int>(0, 5)];
    if (name.empty() || name == "." || name == "..") {
        name = "x" + name;
    }
    if (name.size() > 255) {
        name.erase(0, name.size() - 255);
    }
    return name;
}

bool ends_in_dll(const std::string& name) {
    return name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".dll") == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    workspace& ws = space();
    std::error_code error;
    fs::remove_all(ws.tree, error);
    FUZZ_CHECK(mkdir(ws.tree.c_str(), 0700) == 0);

    std::vector<std::string> folders{ws.tree};
    std::set<std::string> machines;  // real machines, reached through folders only
    std::set<std::string> reachable; // those of them whose paths all fit
    bool linked = false;
    const int steps = in.ConsumeIntegralInRange<int>(0, 24);
    for (int s = 0; s < steps && in.remaining_bytes() > 0; ++s) {
        const std::string& parent =
            folders[in.ConsumeIntegralInRange<std::size_t>(0, folders.size() - 1)];
        const std::string path = parent + "/" + random_name(in);
        switch (in.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
        case 1:
            if (mkdir(path.c_str(), 0700) == 0) {
                folders.push_back(path);
            }
            break;
        case 2:
        case 3:
            if (link(ws.machine.c_str(), path.c_str()) == 0) {
                machines.insert(path);
                const std::string folder = path.substr(0, path.rfind('/'));
                if (path.size() < path_limit && folder.size() + 6 < path_limit &&
                    ends_in_dll(path.substr(path.rfind('/') + 1))) {
                    reachable.insert(path);
                }
            }
            break;
        case 4: { // a file that isn't a library
            std::string text = in.ConsumeRandomLengthString(64);
            // A new file only: writing through a link would overwrite the machine itself.
            const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            if (file >= 0) {
                FUZZ_CHECK(write(file, text.data(), text.size()) == static_cast<long>(text.size()));
                close(file);
            }
            break;
        }
        default: // a link to a folder above: a loop, which ends where the folder was searched
            // One per tree: the folder it leads to is always searched before the link, so its
            // machines are announced under their own paths.
            if (!linked) {
                std::vector<std::string> above; // parent and the folders it lies in
                for (const std::string& folder : folders) {
                    if (parent == folder ||
                        parent.compare(0, folder.size() + 1, folder + "/") == 0) {
                        above.push_back(folder);
                    }
                }
                const std::string& target =
                    above[in.ConsumeIntegralInRange<std::size_t>(0, above.size() - 1)];
                linked = symlink(target.c_str(), (path + "-loop-link-loop-link").c_str()) == 0;
            }
        }
    }

    auto* collection = new machine_collection(nullptr);
    listing_factory factory;
    collection->factory = &factory;
    char start[path_limit];
    std::snprintf(start, sizeof start, "%s/", ws.tree.c_str());
    collection->scan_folder(start);
    FUZZ_CHECK(collection->infos.size() == factory.paths.size());
    collection->release();

    // Every announcement is a real machine (perhaps reached through a link); every machine
    // whose own path and folder's search pattern fit was announced.
    std::set<std::string> announced;
    for (const std::string& path : factory.paths) {
        FUZZ_CHECK(path.compare(0, ws.tree.size() + 1, ws.tree + "/") == 0);
        FUZZ_CHECK(ends_in_dll(path.substr(path.rfind('/') + 1)));
        struct stat found, real;
        FUZZ_CHECK(stat(path.c_str(), &found) == 0 && stat(ws.machine.c_str(), &real) == 0);
        FUZZ_CHECK(found.st_ino == real.st_ino);
        announced.insert(path);
    }
    for (const std::string& path : reachable) {
        if (announced.count(path) != 1) {
            std::fprintf(stderr, "not announced: %s (%zu announced)\n", path.c_str(),
                         factory.paths.size());
            std::error_code ignored;
            for (const auto& entry : fs::recursive_directory_iterator(ws.tree, ignored)) {
                std::fprintf(stderr, "  %s\n", entry.path().c_str());
            }
        }
        FUZZ_CHECK(announced.count(path) == 1);
    }
    return 0;
}
