#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "float16.hpp"

namespace tarnwell {
namespace {

// The value of a finite binary16 pattern, decoded from its fields with exact binary64
// arithmetic rather than through the conversion under test.
double decoded_value(std::uint16_t h) {
    const int exponent = (h >> 10) & 0x1f;
    const int fraction = h & 0x3ff;
    const double magnitude =
        exponent == 0 ? std::ldexp(fraction, -24) : std::ldexp(1024 + fraction, exponent - 25);
    return (h & 0x8000) ? -magnitude : magnitude;
}

TEST(Float16Widening, EveryPatternWidensExactlyAndRoundTrips) {
    for (std::uint32_t p = 0; p <= 0xffff; ++p) {
        const auto h = static_cast<std::uint16_t>(p);
        const float wide = float16::widen(h);
        const std::uint32_t wide_bits = std::bit_cast<std::uint32_t>(wide);
        ASSERT_EQ(wide_bits >> 31, p >> 15u) << std::hex << p;
        if ((h & 0x7fff) > 0x7c00) {
            // NaN: quiet, with the fraction at the top of the binary32 fraction.
            ASSERT_TRUE(std::isnan(wide)) << std::hex << p;
            ASSERT_EQ(wide_bits & 0x00400000u, 0x00400000u) << std::hex << p;
            ASSERT_EQ((wide_bits >> 13) & 0x1ffu, h & 0x1ffu) << std::hex << p;
            ASSERT_EQ(float16::narrow(wide), h | 0x0200u) << std::hex << p;
            continue;
        }
        if ((h & 0x7fff) == 0x7c00) {
            ASSERT_TRUE(std::isinf(wide)) << std::hex << p;
        } else {
            ASSERT_EQ(static_cast<double>(wide), decoded_value(h)) << std::hex << p;
        }
        ASSERT_EQ(float16::narrow(wide), h) << std::hex << p;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(static_cast<double>(float16::from_bits(h))),
                  std::bit_cast<std::uint64_t>(static_cast<double>(wide)))
            << std::hex << p;
    }
}

// Narrowing is checked against the binary16 neighbours. The binary32 values that round to
// a finite h form one run of patterns, bounded by the midpoints between h and its
// neighbours (decoded independently, and exact in binary32); a midpoint belongs to the
// even side. Past the last midpoint, 65520, everything up to the infinity rounds to it.
TEST(Float16Narrowing, ExhaustiveAgainstNeighbourMidpoints) {
    const auto midpoint_pattern = [](std::uint32_t h) {
        const double next = h + 1 < 0x7c00 ? decoded_value(static_cast<std::uint16_t>(h + 1)) : 65536.0;
        return std::bit_cast<std::uint32_t>(static_cast<float>((decoded_value(static_cast<std::uint16_t>(h)) + next) / 2));
    };
    std::uint64_t mismatches = 0;
    std::uint32_t first_mismatch = 0;
    const auto check_run = [&](std::uint32_t begin, std::uint32_t end, auto expected_for) {
        std::uint32_t wrong = 0;
        for (std::uint32_t p = begin; p < end; ++p) {
            const std::uint32_t expected = expected_for(p);
            wrong |= (float16::narrow(std::bit_cast<float>(p)) ^ expected) |
                     (float16::narrow(std::bit_cast<float>(p | 0x80000000u)) ^ (expected | 0x8000u));
        }
        if (wrong != 0 && mismatches++ == 0) {
            first_mismatch = begin;
        }
    };
    std::uint32_t begin = 0;
    for (std::uint32_t h = 0; h < 0x7c00; ++h) {
        const std::uint32_t end = midpoint_pattern(h) + ((h & 1u) == 0 ? 1u : 0u);
        check_run(begin, end, [h](std::uint32_t) { return h; });
        begin = end;
    }
    check_run(begin, 0x7f800001u, [](std::uint32_t) { return 0x7c00u; });
    // A NaN stays a quiet NaN with its sign and leading fraction bits.
    check_run(0x7f800001u, 0x80000000u, [](std::uint32_t p) { return 0x7e00u | ((p >> 13) & 0x3ffu); });
    EXPECT_EQ(mismatches, 0u) << "first binary32 run narrowed wrongly starts at 0x" << std::hex << first_mismatch;
}

struct Float16Sum {
    std::uint16_t a, b;
    bool subtract;
    std::uint16_t expected;
};

TEST(Float16Arithmetic, AddSubtractRoundOnceAndAbsClearsTheSign) {
    const Float16Sum cases[] = {
        {0x6800, 0x3c00, false, 0x6800},  // 2048 + 1 ties to the even 2048
        {0x6800, 0x4200, false, 0x6802},  // 2048 + 3 ties to the even 2052
        {0x3c00, 0x1000, false, 0x3c00},  // 1 + 2^-11 ties to 1
        {0x3c01, 0x1000, false, 0x3c02},  // (1 + 2^-10) + 2^-11 ties up to the even 1 + 2^-9
        {0x7bff, 0x4c00, false, 0x7c00},  // 65504 + 16 reaches 65520: infinity
        {0x7bff, 0x4800, false, 0x7bff},  // 65504 + 8 rounds back to 65504
        {0x0001, 0x0001, false, 0x0002},  // subnormals add exactly
        {0x0400, 0x0001, true, 0x03ff},   // smallest normal minus a unit is subnormal
        {0x3c00, 0x3c00, true, 0x0000},   // x - x is +0
        {0x8000, 0x8000, false, 0x8000},  // -0 + -0 is -0
        {0x8000, 0x0000, true, 0x8000},   // -0 - +0 is -0
        {0xfbff, 0x7bff, true, 0xfc00},   // -65504 - 65504 overflows to -infinity
    };
    for (const auto& c : cases) {
        const float16 a = float16::from_bits(c.a), b = float16::from_bits(c.b);
        const float16 result = c.subtract ? a - b : a + b;
        EXPECT_EQ(result.bits(), c.expected) << std::hex << c.a << (c.subtract ? " - " : " + ") << c.b;
    }
    EXPECT_TRUE((float16::from_bits(0x7c00) - float16::from_bits(0x7c00)).is_nan());
    EXPECT_EQ(abs(float16::from_bits(0x8000)).bits(), 0x0000);
    EXPECT_EQ(abs(float16::from_bits(0xc500)).bits(), 0x4500);
    EXPECT_EQ(abs(float16::from_bits(0xfd23)).bits(), 0x7d23);  // a NaN keeps its payload
}

}  // namespace
}  // namespace tarnwell
