#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "cast_config.hpp"

namespace tarnwell {
namespace {

template <class S>
int lookup(const std::vector<MapEntry<S, int>>& entries, S element) {
    const auto* hit = find_entry<S, int>(entries, element);
    return hit ? hit->target : -1;
}

TEST(MapLookup, NanMatchesTheFirstNanEntryWhateverItsBits) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<MapEntry<double, int>> entries{{1.0, 5}, {nan, 1}, {-nan, 2}};
    EXPECT_EQ(lookup(entries, -nan), 1);
    EXPECT_EQ(lookup(entries, std::bit_cast<double>(0x7ff0000000000001ull)), 1);
    EXPECT_EQ(lookup(entries, 1.0), 5);
    EXPECT_EQ(lookup(entries, 2.0), -1);
    EXPECT_EQ(lookup<double>({{nan, 1}}, 0.0), -1);
}

TEST(MapLookup, SignedZerosMatchEachOtherAndInfinitiesTheirOwnSign) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<MapEntry<float, int>> entries{{0.0f, 7}, {inf, 8}};
    EXPECT_EQ(lookup(entries, -0.0f), 7);
    EXPECT_EQ(lookup(entries, inf), 8);
    EXPECT_EQ(lookup(entries, -inf), -1);
}

TEST(MapLookup, Float16UsesTheSameRulesOnBitPatterns) {
    const auto h = float16::from_bits;
    const std::vector<MapEntry<float16, int>> entries{{h(0x8000), 1}, {h(0x7e01), 2}, {h(0x3c00), 3}, {h(0x7c00), 4}};
    EXPECT_EQ(lookup(entries, h(0x0000)), 1);   // +0 matches the -0 entry
    EXPECT_EQ(lookup(entries, h(0xfc01)), 2);   // any NaN matches the NaN entry
    EXPECT_EQ(lookup(entries, h(0x3c00)), 3);
    EXPECT_EQ(lookup(entries, h(0x7c00)), 4);
    EXPECT_EQ(lookup(entries, h(0xfc00)), -1);  // -inf is not +inf
    EXPECT_EQ(lookup(entries, h(0x3c01)), -1);
}

TEST(MapLookup, IntegersMatchByValueFirstEntryWins) {
    EXPECT_EQ(lookup<long>({{5, 1}, {5, 2}}, 5), 1);
    EXPECT_EQ(lookup<long>({{5, 1}}, 6), -1);
    EXPECT_EQ(lookup<long>({}, 5), -1);
}

}  // namespace
}  // namespace tarnwell
