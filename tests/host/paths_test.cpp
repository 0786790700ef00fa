// The bounded path building of the scan and of the sibling lookup.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/scan_paths.h"
#include "host/signature.h"
#include "platform/files.h"
#include "platform/module.h"

namespace {

using kestrune::platform::max_path;
constexpr char sep = kestrune::platform::path_separator;

std::string native(std::string path) {
    for (char& c : path) {
        if (c == '/') {
            c = sep;
        }
    }
    return path;
}

TEST(MachineFolder, ReplacesTheExecutableNameWithGearPsycle) {
    char buffer[max_path + 14];
    ASSERT_TRUE(kestrune::machine_folder(native("/Host/host.exe").c_str(), buffer, sizeof buffer));
    EXPECT_EQ(native("/Host/Gear/Psycle/"), buffer);
}

TEST(MachineFolder, KeepsAPathWithoutSeparatorWhole) {
    char buffer[max_path + 14];
    ASSERT_TRUE(kestrune::machine_folder("host.exe", buffer, sizeof buffer));
    EXPECT_EQ(native("host.exe/Gear/Psycle/"), buffer);
}

TEST(MachineFolder, AnExecutablePathOf259CharactersFitsTheStartBuffer) {
    std::string path = native("/") + std::string(250, 'f') + native("/h.exe");
    path.resize(259, 'x');
    char buffer[max_path + 14];
    ASSERT_TRUE(kestrune::machine_folder(path.c_str(), buffer, sizeof buffer));
    EXPECT_EQ(std::strlen(buffer), 251u + 13u);
}

TEST(MachineFolder, RefusesWhatDoesNotFitAndLeavesAnEmptyText) {
    char buffer[16];
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_FALSE(kestrune::machine_folder(native("/abc/host.exe").c_str(), buffer, 16));
    EXPECT_STREQ("", buffer);
    EXPECT_TRUE(kestrune::machine_folder(native("/a/host.exe").c_str(), buffer, 16));
    EXPECT_FALSE(kestrune::machine_folder("", buffer, sizeof buffer));
    EXPECT_FALSE(kestrune::machine_folder(nullptr, buffer, sizeof buffer));
}

TEST(JoinPath, FillsTheBufferExactlyAndNoFurther) {
    char buffer[max_path + 8];
    std::memset(buffer, '#', sizeof buffer);
    std::string folder(max_path - 7, 'd'); // folder, separator and "a.dll" use 259 characters
    ASSERT_TRUE(kestrune::join_path(folder.c_str(), "a.dll", buffer, max_path));
    EXPECT_EQ(std::strlen(buffer), max_path - 1);
    EXPECT_EQ(buffer[max_path], '#');
    EXPECT_FALSE(kestrune::join_path(folder.c_str(), "ab.dll", buffer, max_path));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(buffer[max_path], '#');
}

TEST(JoinPath, PassesOverOnlyTheTwoDotEntries) {
    EXPECT_TRUE(kestrune::is_dot_entry("."));
    EXPECT_TRUE(kestrune::is_dot_entry(".."));
    EXPECT_FALSE(kestrune::is_dot_entry(".cache"));
    EXPECT_FALSE(kestrune::is_dot_entry("..."));
    EXPECT_FALSE(kestrune::is_dot_entry(""));
}

TEST(SiblingPath, SitsInTheLibrarysOwnFolder) {
    char buffer[max_path];
    ASSERT_TRUE(kestrune::sibling_path(native("/music/plugins/wrapper.dll").c_str(), buffer,
                                       sizeof buffer));
    EXPECT_EQ(native("/music/plugins/buzz2zzub.dll"), buffer);
    EXPECT_FALSE(kestrune::sibling_path("wrapper.dll", buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
}

TEST(SiblingPath, AFolderPartOf247CharactersIsTheLongestThatFits) {
    char buffer[max_path + 1]; // a joined path of up to 260 characters and its terminator
    std::string own = native("/") + std::string(245, 'p') + native("/k.dll"); // folder part 247
    ASSERT_TRUE(kestrune::sibling_path(own.c_str(), buffer, sizeof buffer));
    EXPECT_EQ(std::strlen(buffer), 260u);
    std::string longer = native("/") + std::string(246, 'p') + native("/k.dll");
    EXPECT_FALSE(kestrune::sibling_path(longer.c_str(), buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
}

TEST(StoreSignature, CutsLongTextsTo199AndZeroesTheRest) {
    char signature[kestrune::signature_size];
    std::memset(signature, 'x', sizeof signature);
    std::string text(250, 's');
    kestrune::store_signature(text.c_str(), signature);
    EXPECT_EQ(std::string(199, 's'), signature);
    EXPECT_EQ(signature[199], '\0');

    kestrune::store_signature("short", signature);
    EXPECT_STREQ("short", signature);
    for (std::size_t i = 5; i < sizeof signature; ++i) {
        ASSERT_EQ(signature[i], '\0') << i;
    }

    kestrune::store_signature(nullptr, signature);
    EXPECT_STREQ("", signature);
}

TEST(OnAttach, RecordsTheModuleOnlyAtProcessAttach) {
    kestrune::platform::module_handle before = kestrune::own_module();
    int marker = 0;
    for (unsigned long reason : {0ul, 2ul, 3ul}) {
        EXPECT_EQ(1, kestrune::on_attach(&marker, reason, nullptr));
        EXPECT_EQ(before, kestrune::own_module());
    }
    EXPECT_EQ(1, kestrune::on_attach(&marker, 1, nullptr));
    EXPECT_EQ(&marker, kestrune::own_module());
    kestrune::on_attach(before, 1, nullptr);
}

} // namespace
