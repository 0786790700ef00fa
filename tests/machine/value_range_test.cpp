// The range mapping, bit for bit: the worked calls that machines and songs depend on, the
// rounding rules, the empty and wide ranges, and the equal-width round trip.
#include "machine/value_range.h"

#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

namespace kestrune {
namespace {

constexpr float inf = std::numeric_limits<float>::infinity();

TEST(value_range, worked_rescales) {
    struct row {
        int value, from_lo, from_hi, to_lo, to_hi;
        float fraction;
        int result;
    };
    const row rows[] = {
        {50000, 0, 100000, 0, 65534, 0.5f, 32767},
        {32767, 0, 65534, 0, 100000, 0.5f, 50000},
        {1, 0, 65534, 0, 100000, 0.0000152592547237873077392578125f, 2},
        {0, -32768, 32767, 0, 65534, 0.50000762939453125f, 32767},
        {1, 0, 3, 0, 100, 0.3333333432674407958984375f, 33},
        {33333, 0, 100000, 0, 65534, 0.3333300054073333740234375f, 21844},
        {21844, 0, 65534, 0, 100000, 0.3333231508731842041015625f, 33332},
        {100, 0, 200, -100, 100, 0.5f, 0},
        {7, 10, 0, 10, 0, 0.300000011920928955078125f, 8},
        {5, 3, 3, 0, 100, inf, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.value << " in " << r.from_lo << ".." << r.from_hi
                                          << " to " << r.to_lo << ".." << r.to_hi);
        const float f = normalize_value(r.value, r.from_lo, r.from_hi);
        EXPECT_EQ(std::memcmp(&f, &r.fraction, sizeof f), 0) << f;
        EXPECT_EQ(denormalize_value(f, r.to_lo, r.to_hi), r.result);
        EXPECT_EQ(rescale_value(r.value, r.from_lo, r.from_hi, r.to_lo, r.to_hi), r.result);
    }
    EXPECT_TRUE(std::isnan(normalize_value(3, 3, 3)));
    EXPECT_EQ(rescale_value(3, 3, 3, 7, 7), 7);
}

TEST(value_range, rounding_adds_a_half_then_truncates) {
    EXPECT_EQ(denormalize_value(0.5f, 0, 3), 2);     // p 1.5
    EXPECT_EQ(denormalize_value(0.5f, 0, 1), 1);     // p 0.5
    EXPECT_EQ(denormalize_value(0.25f, 10, 0), 8);   // p -2.5, s -2.0
    EXPECT_EQ(denormalize_value(-0.1f, 0, 100), -9); // s -9.5000001: toward zero, not floor
    EXPECT_EQ(denormalize_value(0.12f, 10, 0), 10);  // p -1.1999999, s -0.6999999
    EXPECT_EQ(denormalize_value(1.5f, 0, 100), 150); // nothing is clamped
    EXPECT_EQ(denormalize_value(-0.0f, 5, 9), 5);
    EXPECT_EQ(denormalize_value(std::numeric_limits<float>::denorm_min(), 0, INT_MAX), 0);
    EXPECT_EQ(denormalize_value(-std::numeric_limits<float>::denorm_min(), 0, INT_MAX), 0);
}

TEST(value_range, empty_ranges_and_non_finite_fractions) {
    EXPECT_EQ(normalize_value(5, 3, 3), inf);
    EXPECT_EQ(normalize_value(1, 3, 3), -inf);
    EXPECT_TRUE(std::isnan(normalize_value(0, 0, 0)));
    EXPECT_EQ(rescale_value(5, 3, 3, 0, 100), 0);
    EXPECT_EQ(rescale_value(0, 0, 0, 0, 0), 0);
    EXPECT_EQ(rescale_value(-4, 3, 3, -50, 100), -50);
    EXPECT_EQ(denormalize_value(inf, 12, 30), 12);
    EXPECT_EQ(denormalize_value(-inf, 12, 30), 12);
    EXPECT_EQ(denormalize_value(std::numeric_limits<float>::quiet_NaN(), -12, 30), -12);
}

TEST(value_range, range_ends_meet) {
    const int ordered[][2] = {{0, 0},
                              {0, 1},
                              {-100, 100},
                              {5, 65539},
                              {0, 100000},
                              {-2000000000, 2000000000},
                              {INT_MIN, INT_MAX},
                              {INT_MAX, INT_MAX},
                              {INT_MIN, 0}};
    for (const auto& r : ordered) {
        EXPECT_EQ(rescale_value(0, 0, 65534, r[0], r[1]), r[0]);
        EXPECT_EQ(rescale_value(65534, 0, 65534, r[0], r[1]), r[1]);
    }
    // A reversed target keeps its low end only: p -10, s -9.5, k -9.
    EXPECT_EQ(rescale_value(65534, 0, 65534, 10, 0), 1);
    EXPECT_EQ(rescale_value(0, 0, 65534, 10, 0), 10);
}

TEST(value_range, wide_default_loses_one_on_the_round_trip) {
    const int host = rescale_value(33333, 0, 100000, 0, 65534);
    EXPECT_EQ(host, 21844);
    EXPECT_EQ(rescale_value(host, 0, 65534, 0, 100000), 33332);
}

TEST(value_range, widths_beyond_32_bits_are_exact) {
    // Differences are formed in 64 bits, so these are no overflow.
    EXPECT_EQ(normalize_value(INT_MAX, INT_MIN, INT_MAX), 1.0f);
    EXPECT_EQ(normalize_value(INT_MIN, INT_MIN, INT_MAX), 0.0f);
    EXPECT_EQ(normalize_value(INT_MIN, INT_MAX, INT_MIN), 1.0f);
    EXPECT_EQ(normalize_value(0, INT_MIN, INT_MAX), 0.5f);
    EXPECT_EQ(rescale_value(0, INT_MIN, INT_MAX, 0, 65534), 32767);
    EXPECT_EQ(denormalize_value(1.0f, INT_MIN, INT_MAX), INT_MAX);
    EXPECT_EQ(denormalize_value(0.5f, INT_MAX, INT_MIN), 0); // p -2147483647.5, s -2147483647
}

TEST(value_range, results_beyond_32_bits_saturate) {
    EXPECT_EQ(denormalize_value(2.0f, 0, INT_MAX), INT_MAX);
    EXPECT_EQ(denormalize_value(-2.0f, 0, INT_MAX), INT_MIN);
    EXPECT_EQ(denormalize_value(2.0f, 0, 1073741824), INT_MAX);  // 2^31, just beyond
    EXPECT_EQ(denormalize_value(2.0f, -1, 1073741823), INT_MAX); // -1 + 2^31, just within
    EXPECT_EQ(denormalize_value(std::numeric_limits<float>::max(), 0, 1), INT_MAX);
    EXPECT_EQ(denormalize_value(-std::numeric_limits<float>::max(), 0, 1), INT_MIN);
    EXPECT_EQ(denormalize_value(std::numeric_limits<float>::max(), 0, 0), 0);
    EXPECT_EQ(denormalize_value(-3.0f, INT_MIN, INT_MAX), INT_MIN);
    EXPECT_EQ(rescale_value(INT_MAX, 0, 1, 0, 1), INT_MAX);
}

TEST(value_range, raises_no_floating_point_fault) {
    std::feclearexcept(FE_ALL_EXCEPT);
    volatile float sink = 0.0f;
    volatile int isink = 0;
    sink = normalize_value(5, 3, 3);
    sink = normalize_value(0, 0, 0);
    sink = normalize_value(INT_MIN, INT_MAX, INT_MIN);
    isink = denormalize_value(inf, 0, 1);
    isink = denormalize_value(std::numeric_limits<float>::quiet_NaN(), 0, 1);
    isink = denormalize_value(std::numeric_limits<float>::max(), INT_MIN, INT_MAX);
    isink = denormalize_value(std::numeric_limits<float>::denorm_min(), 0, 1);
    isink = rescale_value(3, 3, 3, 7, 7);
    isink = rescale_value(INT_MAX, 0, 1, 0, INT_MAX);
    (void)sink;
    (void)isink;
    EXPECT_EQ(std::fetestexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW | FE_UNDERFLOW), 0);
}

// rescale_value(v, 0, N, lo, lo + N) is lo + v and back, for a given width N.
void expect_equal_width(int n, int v, int lo) {
    ASSERT_EQ(rescale_value(v, 0, n, lo, lo + n), lo + v) << "width " << n << " lo " << lo;
    ASSERT_EQ(rescale_value(lo + v, lo, lo + n, 0, n), v) << "width " << n << " lo " << lo;
}

// Every width with its ends, its middle and its neighbours, over a few offsets; a handful of
// widths in full. The exhaustive sweep is value_range_long.equal_widths_every_value.
TEST(value_range, equal_widths_map_exactly) {
    for (int n = 1; n <= 65534; ++n) {
        const int offsets[] = {0, 1, -32768, -1000000, INT_MAX - n, INT_MIN, 123456789};
        const int values[] = {0, 1, n / 3, n / 2, (n + 1) / 2, n - 1, n};
        for (int lo : offsets) {
            for (int v : values) {
                expect_equal_width(n, v, lo);
                if (HasFatalFailure())
                    return;
            }
        }
    }
    for (int n : {1, 2, 3, 7, 255, 256, 1000, 32767, 43690, 65533, 65534}) {
        for (int v = 0; v <= n; ++v) {
            expect_equal_width(n, v, -n / 2);
            if (HasFatalFailure())
                return;
        }
    }
}

TEST(value_range_long, equal_widths_every_value) {
    const char* wanted = std::getenv("KESTRUNE_LONG_TESTS");
    if (!wanted || std::strcmp(wanted, "1") != 0)
        GTEST_SKIP() << "set KESTRUNE_LONG_TESTS=1 for the sweep over every width and value";
    for (int n = 1; n <= 65534; ++n) {
        const int lo = n % 3 == 0 ? 0 : n % 3 == 1 ? INT_MIN : INT_MAX - n;
        for (int v = 0; v <= n; ++v) {
            expect_equal_width(n, v, lo);
            if (HasFatalFailure())
                return;
        }
    }
}

} // namespace
} // namespace kestrune
