#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "cast_float.hpp"
#include "nearest_sum.hpp"
#include "float_reference.hpp"
#include "rounding_direction.hpp"

namespace tarnwell {
namespace {

using testing::expect_same_in_every_rounding_direction;
using testing::make;
using testing::reference_round;

constexpr RoundingMode kModes[] = {RoundingMode::NearestEven, RoundingMode::TowardsZero, RoundingMode::TowardsPositive,
                                   RoundingMode::TowardsNegative, RoundingMode::NearestAway};
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Same value and same sign of zero; any NaN equals any NaN.
template <class F>
::testing::AssertionResult same_float(F expected, F actual) {
    if ((std::isnan(expected) && std::isnan(actual)) ||
        (expected == actual && std::signbit(expected) == std::signbit(actual))) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "expected " << expected << (std::signbit(expected) ? " (negative)" : "")
                                         << ", got " << actual << (std::signbit(actual) ? " (negative)" : "");
}

struct RoundingCase {
    double x;
    RoundingMode mode;
    double expected;
};

// Cases that hold in every float type (all values are exact in binary16).
const RoundingCase kCommonCases[] = {
    {2.5, RoundingMode::NearestEven, 2.0},       {3.5, RoundingMode::NearestEven, 4.0},
    {-2.5, RoundingMode::NearestEven, -2.0},     {0.5, RoundingMode::NearestEven, 0.0},
    {-0.4, RoundingMode::NearestEven, -0.0},     {1.5, RoundingMode::NearestEven, 2.0},
    {-2.7, RoundingMode::TowardsZero, -2.0},     {-0.7, RoundingMode::TowardsZero, -0.0},
    {2.1, RoundingMode::TowardsPositive, 3.0},   {-0.5, RoundingMode::TowardsPositive, -0.0},
    {-2.1, RoundingMode::TowardsNegative, -3.0}, {0.7, RoundingMode::TowardsNegative, 0.0},
    {-0.3, RoundingMode::TowardsNegative, -1.0}, {-0.3, RoundingMode::NearestAway, -0.0},
    {2.5, RoundingMode::NearestAway, 3.0},       {-2.5, RoundingMode::NearestAway, -3.0},
    {2.49, RoundingMode::NearestAway, 2.0},      {0.5, RoundingMode::NearestAway, 1.0},
    {1023.5, RoundingMode::NearestEven, 1024.0}, {1023.5, RoundingMode::NearestAway, 1024.0},
    {1023.5, RoundingMode::TowardsZero, 1023.0}, {1023.5, RoundingMode::TowardsNegative, 1023.0},
    {1023.5, RoundingMode::TowardsPositive, 1024.0},
};

template <class F>
void expect_common_cases() {
    for (const auto& c : kCommonCases) {
        EXPECT_TRUE(same_float(static_cast<double>(make<F>(c.expected)),
                               static_cast<double>(round_with_mode(make<F>(c.x), c.mode))))
            << c.x << " " << to_str(c.mode);
    }
    for (const RoundingMode mode : kModes) {
        for (const double special : {-0.0, kInf, -kInf, 65504.0, -1024.0}) {
            EXPECT_TRUE(same_float(special, static_cast<double>(round_with_mode(make<F>(special), mode))))
                << special << " " << to_str(mode);
        }
        EXPECT_TRUE(std::isnan(static_cast<double>(round_with_mode(make<F>(kNaN), mode))));
    }
}

TEST(RoundWithMode, CommonCasesInEveryFloatType) {
    expect_common_cases<float16>();
    expect_common_cases<float>();
    expect_common_cases<double>();
}

TEST(RoundWithMode, NearestAwayAddsOneHalfWithRounding) {
    // The sum x + 0.5 rounds in the value's own format, so it differs from an exact
    // half-away rounding just below one half and for odd integers in [2^(p-1), 2^p).
    const struct {
        float x;
        float expected;
    } binary32[] = {{0.49999997f, 1.0f},           {8388609.0f, 8388610.0f}, {-8388609.0f, -8388610.0f},
                    {8388610.0f, 8388610.0f},      {16777215.0f, 16777216.0f}, {16777216.0f, 16777216.0f},
                    {0.49999994f, 0.0f},           {8388607.5f, 8388608.0f}};
    for (const auto& c : binary32) {
        EXPECT_TRUE(same_float(c.expected, round_with_mode(c.x, RoundingMode::NearestAway))) << c.x;
    }
    const struct {
        double x;
        double expected;
    } binary64[] = {{0.49999999999999994, 1.0},
                    {4503599627370497.0, 4503599627370498.0},
                    {-4503599627370497.0, -4503599627370498.0},
                    {4503599627370498.0, 4503599627370498.0},
                    {9007199254740992.0, 9007199254740992.0},
                    {0.4999999999999999, 0.0}};
    for (const auto& c : binary64) {
        EXPECT_TRUE(same_float(c.expected, round_with_mode(c.x, RoundingMode::NearestAway))) << c.x;
    }
    // binary16 + 0.5 is exact in binary32: no quirk for the largest binary16 below one half.
    EXPECT_EQ(round_with_mode(float16::from_bits(0x37ff), RoundingMode::NearestAway).bits(), 0x0000);
    EXPECT_EQ(round_with_mode(float16::from_bits(0xb7ff), RoundingMode::NearestAway).bits(), 0x8000);
}

// Values that exercise rounding: random bit patterns over the whole range, and values
// near integers, halves and the precision limit.
template <class F>
std::vector<F> rounding_samples(std::size_t count) {
    using Bits = FloatBits<F>;
    constexpr int p = ElementTraits<F>::fraction_bits + 1;
    std::mt19937_64 rng(20240611);
    std::vector<F> values;
    for (std::size_t i = 0; i < count; ++i) {
        switch (i % 4) {
            case 0:
                values.push_back(from_bits<F>(static_cast<Bits>(rng())));
                break;
            case 1: {
                const int exponent = static_cast<int>(rng() % (p + 3)) - 2;
                values.push_back(std::ldexp(static_cast<F>(rng() % (Bits{1} << (p - 1))), exponent - p + 1) *
                                 (rng() % 2 ? F(1) : F(-1)));
                break;
            }
            case 2: {
                const F base = static_cast<F>(static_cast<std::int64_t>(rng() % (std::uint64_t{1} << (p + 1))) -
                                              static_cast<std::int64_t>(std::uint64_t{1} << p));
                const F offsets[] = {F(0.5), F(0), F(-0.5), std::nextafter(F(0.5), F(0)), std::nextafter(F(0.5), F(1))};
                values.push_back(base + offsets[rng() % 5]);
                break;
            }
            default:
                values.push_back(std::nextafter(static_cast<F>(rng() % 64) / F(4), F(rng() % 2 ? 100 : -100)));
        }
    }
    return values;
}

template <class F>
void expect_matches_reference(const std::vector<F>& values) {
    for (const RoundingMode mode : kModes) {
        for (const F x : values) {
            ASSERT_TRUE(same_float(reference_round(x, mode), round_with_mode(x, mode)))
                << std::hexfloat << x << " " << to_str(mode);
        }
    }
}

TEST(RoundWithMode, MatchesLibraryRoundingOnManyValues) {
    expect_matches_reference(rounding_samples<float>(200000));
    expect_matches_reference(rounding_samples<double>(200000));
}

TEST(RoundWithMode, Binary16EqualsRoundingTheExactValueInBinary32) {
    // Every binary16 pattern: rounding the widened value in binary32 is exact, so the
    // result is the binary32 reference narrowed back, with no change of value.
    for (const RoundingMode mode : kModes) {
        for (std::uint32_t bits = 0; bits <= 0xffff; ++bits) {
            const auto h = float16::from_bits(static_cast<std::uint16_t>(bits));
            const float expected = reference_round(static_cast<float>(h), mode);
            const float actual = static_cast<float>(round_with_mode(h, mode));
            ASSERT_TRUE(same_float(expected, actual)) << std::hex << bits << " " << to_str(mode);
        }
    }
}

TEST(RoundWithMode, ResultsIgnoreTheRoundingDirection) {
    const auto floats = rounding_samples<float>(4000);
    const auto doubles = rounding_samples<double>(4000);
    expect_same_in_every_rounding_direction([&] {
        std::vector<std::uint64_t> bits;
        for (const RoundingMode mode : kModes) {
            for (const float x : floats) {
                bits.push_back(to_bits(round_with_mode(x, mode)));
            }
            for (const double x : doubles) {
                bits.push_back(to_bits(round_with_mode(x, mode)));
            }
            for (std::uint32_t h = 0; h <= 0xffff; h += 7) {
                bits.push_back(round_with_mode(float16::from_bits(static_cast<std::uint16_t>(h)), mode).bits());
            }
        }
        return bits;
    });
}

TEST(RemEuclid, Cases) {
    const struct {
        double a, m, expected;
    } cases[] = {
        {300, 256, 44},       {-300, 256, 212}, {-1, 256, 255},    {-256, 256, -0.0}, {256, 256, 0.0},
        {-300, -256, 212},    {7.5, 2, 1.5},    {-7.5, 2, 0.5},    {5, 3, 2},         {-5, 3, 1},
        {-5, kInf, kInf},     {5, kInf, 5},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(same_float(c.expected, rem_euclid(c.a, c.m))) << c.a << " mod " << c.m;
        EXPECT_TRUE(same_float(static_cast<float>(c.expected),
                               rem_euclid(static_cast<float>(c.a), static_cast<float>(c.m))))
            << c.a << " mod " << c.m;
    }
    // A small negative remainder does not register against 2^32 in binary32.
    EXPECT_EQ(rem_euclid(-1.0f, 4294967296.0f), 4294967296.0f);
    EXPECT_EQ(rem_euclid(-1.0, 4294967296.0), 4294967295.0);
    EXPECT_TRUE(same_float(0.0, rem_euclid(1e300, 256.0)));
    for (const double nan_case : {rem_euclid(3.0, 0.0), rem_euclid(kInf, 256.0), rem_euclid(kNaN, 256.0),
                                  rem_euclid(3.0, kNaN), rem_euclid(-kInf, 4294967296.0)}) {
        EXPECT_TRUE(std::isnan(nan_case));
    }
}

template <class F>
F reference_rem_euclid(F a, F m) {
    const F r = std::fmod(a, m);
    return r < 0 ? r + std::fabs(m) : r;
}

template <class F>
void expect_rem_euclid_matches_reference() {
    std::mt19937_64 rng(7);
    const auto samples = rounding_samples<F>(20000);
    for (const F a : samples) {
        const F moduli[] = {F(256), F(65536), F(4294967296.0), F(18446744073709551616.0), F(1), F(-2),
                            F(3), F(0.75), static_cast<F>(rng() % 1000 + 1)};
        for (const F m : moduli) {
            ASSERT_TRUE(same_float(reference_rem_euclid(a, m), rem_euclid(a, m)))
                << std::hexfloat << a << " mod " << m;
        }
    }
}

TEST(RemEuclid, MatchesFmodPlusModulusOnManyValues) {
    expect_rem_euclid_matches_reference<float>();
    expect_rem_euclid_matches_reference<double>();
}

template <class F>
void expect_sum_matches_hardware(std::size_t count) {
    using Bits = FloatBits<F>;
    std::mt19937_64 rng(99);
    for (std::size_t i = 0; i < count; ++i) {
        const F x = from_bits<F>(static_cast<Bits>(rng()));
        F y = from_bits<F>(static_cast<Bits>(rng()));
        if (i % 2 == 0 && std::isnormal(x) && std::isnormal(y)) {
            // Exponents close to x's, so that the sum cancels, carries or ties.
            const int shift = static_cast<int>(rng() % 60) - 30;
            y = std::ldexp(y, std::ilogb(x) - std::ilogb(y) + shift);
        }
        const F expected = x + y;
        const F actual = nearest_even_sum(x, y);
        ASSERT_TRUE(same_float(expected, actual)) << std::hexfloat << x << " + " << y;
    }
}

TEST(NearestEvenSum, EqualsTheDefaultEnvironmentSum) {
    expect_sum_matches_hardware<float>(400000);
    expect_sum_matches_hardware<double>(400000);
    EXPECT_TRUE(same_float(-0.0, nearest_even_sum(-0.0, -0.0)));
    EXPECT_TRUE(same_float(0.0, nearest_even_sum(-0.0, 0.0)));
    EXPECT_TRUE(same_float(0.0, nearest_even_sum(-3.0, 3.0)));
    EXPECT_EQ(nearest_even_sum(std::numeric_limits<double>::max(), std::numeric_limits<double>::max()), kInf);
    EXPECT_EQ(nearest_even_sum(std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::min()),
              -std::numeric_limits<float>::min() + std::numeric_limits<float>::denorm_min());
}

TEST(NearestEvenSum, IgnoresTheRoundingDirection) {
    expect_same_in_every_rounding_direction([] {
        std::vector<std::uint64_t> bits;
        bits.push_back(to_bits(nearest_even_sum(-1.0f, 4294967296.0f)));
        bits.push_back(to_bits(nearest_even_sum(-3000.0f, 4294967296.0f)));
        bits.push_back(to_bits(nearest_even_sum(1e300, 128.0)));
        bits.push_back(to_bits(nearest_even_sum(-0.0, 0.0)));
        bits.push_back(to_bits(rem_euclid(-1.0f, 4294967296.0f)));
        bits.push_back(to_bits(rem_euclid(-256.0, 256.0)));
        return bits;
    });
}

}  // namespace
}  // namespace tarnwell
