// The least of a host for the scan tests. Copied into a fresh folder with a Gear/Psycle tree
// beside it, it loads the Kestrune library (by default the one beside it), runs one collection's
// setup and prints, one record a line:
//   signature <text>
//   info ... / global ... / track ...   (hostkit::describe_info, per announced description)
//   still-loaded <path>                (a DLL of the tree that is loaded after setup)
//   announced <count>
//   released
// With --twice, setup runs a second time on the same collection (each announcement is printed
// once, in order). Exit code 0; 2 when the library can't be opened, 3 when it gives no
// collection.
#include <cstdio>
#include <filesystem>
#include <string>

#include "hostkit/describe.h"
#include "hostkit/library.h"
#include "hostkit/recording_factory.h"

int main(int argc, char** argv) {
    std::filesystem::path folder = std::filesystem::path(hostkit::executable_folder());
    std::string library_path = hostkit::library_beside_program();
    bool twice = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--twice") {
            twice = true;
        } else {
            library_path = argv[i];
        }
    }

    hostkit::library kestrune;
    if (!kestrune.open(library_path)) {
        std::printf("cannot open %s\n", library_path.c_str());
        return 2;
    }
    std::printf("signature %s\n", hostkit::escape_text(kestrune.signature()).c_str());

    kestrune::host_collection* collection = kestrune.new_collection();
    if (collection == nullptr) {
        std::printf("no collection\n");
        return 3;
    }
    hostkit::recording_factory factory;
    collection->setup(&factory);
    if (twice) {
        collection->setup(&factory);
    }
    for (kestrune::host_info* info : factory.announced) {
        std::fputs(hostkit::describe_info(*info).c_str(), stdout);
    }

    std::error_code error;
    std::filesystem::path tree = folder / "Gear" / "Psycle";
    for (std::filesystem::recursive_directory_iterator it(tree, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_regular_file(error) && hostkit::module_is_loaded(it->path().string())) {
            std::printf("still-loaded %s\n", it->path().string().c_str());
        }
    }

    std::printf("announced %u\n", static_cast<unsigned>(factory.announced.size()));
    collection->release();
    std::printf("released\n");
    std::fflush(stdout);
    return 0;
}
