#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "float_step.hpp"

namespace tarnwell {
namespace {

TEST(FloatStep, FixedResultsAtZerosAndInfinities) {
    struct Case {
        std::uint16_t x, up, down;
    };
    const Case cases[] = {
        {0x0000, 0x0001, 0x8001}, {0x8000, 0x0001, 0x8001},  // both zeros
        {0x7c00, 0x7c00, 0x7bff}, {0xfc00, 0xfbff, 0xfc00},  // infinities
        {0x7bff, 0x7c00, 0x7bfe}, {0xfbff, 0xfbfe, 0xfc00},  // largest finite values
        {0x0001, 0x0002, 0x0000}, {0x8001, 0x8000, 0x8002},  // smallest subnormals
        {0x03ff, 0x0400, 0x03fe}, {0x3c00, 0x3c01, 0x3bff},  // across an exponent boundary
    };
    for (const auto& c : cases) {
        EXPECT_EQ(next_up(float16::from_bits(c.x)).bits(), c.up) << std::hex << c.x;
        EXPECT_EQ(next_down(float16::from_bits(c.x)).bits(), c.down) << std::hex << c.x;
    }
    constexpr float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(next_up(0.0f), std::numeric_limits<float>::denorm_min());
    EXPECT_EQ(next_down(-0.0), -std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(next_down(inf), std::numeric_limits<float>::max());
    EXPECT_EQ(next_up(-inf), -std::numeric_limits<float>::max());
    EXPECT_EQ(next_up(inf), inf);
    EXPECT_EQ(next_down(-inf), -inf);
}

// Away from zero, nextUp and nextDown agree with the library's nextafter.
TEST(FloatStep, MatchesNextafterOnRandomPatterns) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 100000; ++i) {
        const double d = std::bit_cast<double>(rng());
        const float f = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
        if (std::isnan(d) || std::isnan(f) || d == 0 || f == 0) {
            continue;
        }
        ASSERT_EQ(next_up(d), std::nextafter(d, HUGE_VAL)) << d;
        ASSERT_EQ(next_down(d), std::nextafter(d, -HUGE_VAL)) << d;
        ASSERT_EQ(next_up(f), std::nextafter(f, HUGE_VALF)) << f;
        ASSERT_EQ(next_down(f), std::nextafter(f, -HUGE_VALF)) << f;
    }
}

}  // namespace
}  // namespace tarnwell
