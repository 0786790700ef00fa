// The library module as a host meets it: loaded by path from a copy, reached only through its
// two exports. The scan end to end runs in scan_host, copied into a fresh folder with a machine
// tree beside it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostkit/library.h"
#include "hostkit/recording_factory.h"
#include "machine/machine_info.h"
#include "tests/support/process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_paths.h"

namespace {

using kestrune::test::temp_folder;

std::string fixture(const std::string& name) {
    return kestrune::test::fixture_path(name + ".dll");
}

// A copy of the library in a fresh folder: a module of its own, with its own signature.
struct library_copy {
    temp_folder folder;
    std::string path =
        folder.copy_in(hostkit::library_beside_program(), hostkit::library_file_name);
    hostkit::library module{path};

    void place_sibling(const std::string& variant) {
        folder.copy_in(fixture(variant), "buzz2zzub.dll");
    }
};

TEST(Signature, WithoutSiblingIsEmptyAndFoundOnceThePlaced) {
    library_copy copy;
    ASSERT_TRUE(copy.module.is_open());
    const char* first = copy.module.signature();
    ASSERT_NE(nullptr, first);
    EXPECT_STREQ("", first);
    copy.place_sibling("sibling_normal");
    EXPECT_STREQ("zzub-test-signature 1.0", copy.module.signature());
    EXPECT_EQ(first, copy.module.signature()) << "always the same buffer";
    EXPECT_FALSE(hostkit::module_is_loaded(copy.folder.at("buzz2zzub.dll")));
}

TEST(Signature, IsKeptOnceObtained) {
    library_copy copy;
    copy.place_sibling("sibling_normal");
    EXPECT_STREQ("zzub-test-signature 1.0", copy.module.signature());
    copy.place_sibling("sibling_other");
    EXPECT_STREQ("zzub-test-signature 1.0", copy.module.signature());
}

TEST(Signature, EmptyAndNullAnswersAreRetried) {
    for (const char* variant : {"sibling_empty", "sibling_null", "sibling_no_export"}) {
        library_copy copy;
        copy.place_sibling(variant);
        EXPECT_STREQ("", copy.module.signature()) << variant;
        EXPECT_FALSE(hostkit::module_is_loaded(copy.folder.at("buzz2zzub.dll"))) << variant;
        copy.place_sibling("sibling_other");
        EXPECT_STREQ("another signature", copy.module.signature()) << variant;
    }
}

TEST(Signature, LongTextsAreKeptTo199Characters) {
    std::string expected;
    for (int i = 0; i < 199; ++i) {
        expected += static_cast<char>('a' + i % 26);
    }
    for (const char* variant : {"sibling_199", "sibling_250"}) {
        library_copy copy;
        copy.place_sibling(variant);
        EXPECT_EQ(expected, copy.module.signature()) << variant;
    }
}

TEST(Collection, EveryCallGivesANewOne) {
    library_copy copy;
    kestrune::host_collection* first = copy.module.new_collection();
    kestrune::host_collection* second = copy.module.new_collection();
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_NE(first, second);
    first->setup(nullptr);
    EXPECT_EQ(nullptr, first->collection_uri());
    first->release();
    second->release();
}

// scan_host and a library copy in a fresh folder, with the tree under Gear/Psycle.
struct host_folder {
    temp_folder folder;
    std::string program = kestrune::test::place_host_program(folder, "scan_host");

    void machine(const std::string& variant, const std::string& relative) {
        folder.copy_in(fixture(variant), "Gear/Psycle/" + relative);
    }

    std::vector<std::string> run(const std::vector<std::string>& arguments = {}) {
        kestrune::test::process_result result = kestrune::test::run_program(program, arguments);
        EXPECT_TRUE(result.started);
        EXPECT_EQ(0, result.exit_code) << result.output;
        return result.lines();
    }
};

std::vector<std::string> lines_starting(const std::vector<std::string>& lines,
                                        const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : lines) {
        if (line.rfind(prefix, 0) == 0) {
            found.push_back(line);
        }
    }
    return found;
}

std::string uri(const std::string& tail) {
    return std::string(kestrune::identity_uri_prefix) + tail;
}

TEST(EndToEnd, AnnouncesTheDeepestMachinesFirst) {
    host_folder host;
    host.machine("scan_a", "a.dll");
    host.machine("scan_b", "Sub/b.dll");
    host.machine("scan_c", "Sub/Deep/c.dll");
    std::vector<std::string> lines = host.run();
    std::vector<std::string> infos = lines_starting(lines, "info ");
    ASSERT_EQ(3u, infos.size());
    EXPECT_NE(std::string::npos, infos[0].find(" name=Scan C "));
    EXPECT_NE(std::string::npos, infos[1].find(" name=Scan B "));
    EXPECT_NE(std::string::npos, infos[2].find(" name=Scan A "));
    EXPECT_TRUE(lines_starting(lines, "still-loaded").empty());
    EXPECT_EQ("released", lines.back());
}

TEST(EndToEnd, DescribesEveryMachineExactly) {
    host_folder host;
    host.machine("scan_no_create", "fx/x.dll/inner.dll");
    host.machine("scan_effect", "fx/effect.DLL");
    host.machine("scan_generator", "generator.dll");
    host.folder.write_file("Gear/Psycle/notes.dll", "not a library");
    host.machine("scan_null_info", "fx/null.dll");
    host.machine("scan_no_get_info", "fx/.hidden/none.dll");
    host.folder.copy_in(fixture("sibling_normal"), "buzz2zzub.dll");

    std::vector<std::string> expected = {
        "signature zzub-test-signature 1.0",
        "info kind=2 version=15 flags=1 tracks=0..0 name=Scan No Create label=Scan "
        "author=Kestrune tests uri=" +
            uri("Scan+No+Create") + " commands=Reset\\nAbout Scan No Create...",
        "info kind=2 version=15 flags=1 tracks=0..0 name=Scan Effect\\tFX 2 label=Scan "
        "author=Kestrune tests uri=" +
            uri("Scan+Effect+FX+2") + " commands=Reset\\nAbout Scan Effect\\tFX 2...",
        "global 0 kind=3 range=0..65534 empty=65535 flags=2 default=65534 title=Mix "
        "caption=Dry/wet",
        "global 1 kind=3 range=0..65534 empty=65535 flags=0 default=32767 title=Offset "
        "caption=Signed offset",
        "global 2 kind=3 range=0..65534 empty=65535 flags=0 default=100 title=Steps "
        "caption=Steps",
        "info kind=1 version=15 flags=1 tracks=8..32 name=Scan Generator label=Scan "
        "author=Kestrune tests uri=" +
            uri("Scan+Generator") + " commands=Reset\\nAbout Scan Generator...",
        "global 0 kind=1 range=0..1 empty=255 flags=0 default=1 title=Power caption=Power switch",
        "global 1 kind=2 range=0..127 empty=255 flags=0 default=64 title=Level "
        "caption=Output level",
        "global 2 kind=2 range=0..200 empty=255 flags=2 default=100 title=Pan "
        "caption=Stereo position",
        "global 3 kind=3 range=1..1000 empty=65535 flags=0 default=500 title=Cutoff "
        "caption=Filter cutoff",
        "global 4 kind=3 range=0..65534 empty=65535 flags=0 default=32767 title=Fine "
        "caption=Fine tune",
        "global 5 kind=3 range=0..255 empty=65535 flags=0 default=10 "
        "title=A title of forty characters, cu caption=Caption",
        "track 0 kind=0 range=1..156 empty=0 flags=4 default=0 title=Note caption=Note",
        "track 1 kind=3 range=1..65535 empty=0 flags=0 default=65535 title=Note Command "
        "caption=Note Command",
        "announced 3",
        "released",
    };
    EXPECT_EQ(expected, host.run());
}

TEST(EndToEnd, ASecondSetupScansAgainAndAppends) {
    host_folder host;
    host.machine("scan_a", "a.dll");
    host.machine("scan_b", "Sub/b.dll");
    std::vector<std::string> infos = lines_starting(host.run({"--twice"}), "info ");
    ASSERT_EQ(4u, infos.size());
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NE(std::string::npos, infos[i].find(i % 2 == 0 ? "name=Scan B" : "name=Scan A"));
    }
}

TEST(EndToEnd, AnEmptyOrMissingTreeAnnouncesNothing) {
    host_folder host;
    EXPECT_EQ((std::vector<std::string>{"signature ", "announced 0", "released"}), host.run());
    host.folder.make_folder("Gear/Psycle/empty");
    EXPECT_EQ((std::vector<std::string>{"signature ", "announced 0", "released"}), host.run());
}

} // namespace
