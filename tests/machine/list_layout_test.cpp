// A description's three lists read as each MSVC release build's std::vector reads them: 12
// bytes {first, last, end}, 16 bytes {allocator, first, last, end} and 16 bytes
// {first, last, end, allocator}, over the same twelve words.
#include <cstddef>
#include <vector>

#include <gtest/gtest.h>

#include "machine/machine_info.h"

namespace {

using kestrune::host_parameter;
using words = host_parameter** const*;

// The list that starts at word `at` of a reading whose first pointer is word `at + skip`.
struct reading {
    const char* name;
    std::size_t stride; // words per list
    std::size_t skip;   // words before first: 1 when the allocator comes first
};
constexpr reading readings[] = {{"2012", 3, 0}, {"2005", 4, 1}, {"2010", 4, 0}};

// Checks list `which` (0 global, 1 track, 2 attributes) of one reading against expected.
void expect_list(words w, const reading& r, std::size_t which,
                 const std::vector<host_parameter*>& expected) {
    SCOPED_TRACE(testing::Message() << r.name << " list " << which);
    const std::size_t at = which * r.stride + r.skip;
    host_parameter** first = w[at];
    host_parameter** last = w[at + 1];
    host_parameter** end = w[at + 2];
    ASSERT_EQ(static_cast<std::size_t>(last - first), expected.size());
    EXPECT_GE(end, last);
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(first[i], expected[i]) << i;
}

TEST(ListLayout, EveryShapeReadsTheSameParameters) {
    for (std::size_t n : {0u, 1u, 5u}) {
        for (std::size_t m : {0u, 1u, 2u, 3u}) {
            SCOPED_TRACE(testing::Message() << "n " << n << ", m " << m);
            kestrune::machine_info info;
            ASSERT_TRUE(info.make_lists(n, m));
            std::vector<host_parameter*> globals, tracks;
            for (std::size_t i = 0; i < n; ++i) {
                globals.push_back(new host_parameter{2, "g", "g", 0, 1, 255, 0, 0});
                info.set_global_param(i, globals.back());
            }
            for (std::size_t i = 0; i < m; ++i) {
                tracks.push_back(new host_parameter{0, "t", "t", 1, 156, 0, 4, 0});
                info.set_track_param(i, tracks.back());
            }
            for (const reading& r : readings) {
                expect_list(info.list_words, r, 0, globals);
                expect_list(info.list_words, r, 1, tracks);
                expect_list(info.list_words, r, 2, {});
            }
            EXPECT_EQ(info.global_params().size(), n);
            EXPECT_EQ(info.track_params().size(), m);
            EXPECT_EQ(info.attribute_count(), 0u);
        }
    }
}

TEST(ListLayout, NewListsFreeTheOldAndAbsurdCountsAreRefused) {
    kestrune::machine_info info;
    ASSERT_TRUE(info.make_lists(2, 2));
    info.set_global_param(0, new host_parameter{});
    info.set_track_param(1, new host_parameter{});
    ASSERT_TRUE(info.make_lists(1, 0)); // the two parameters go (the leak checkers see it)
    EXPECT_EQ(info.global_params().size(), 1u);
    EXPECT_EQ(info.global_params()[0], nullptr);
    EXPECT_TRUE(info.track_params().empty());
    EXPECT_FALSE(info.make_lists(0x7fffffff, 2));
    EXPECT_TRUE(info.global_params().empty());
    EXPECT_EQ(info.list_storage, nullptr);
}

} // namespace
