#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "int_to_float.hpp"
#include "rounding_oracle.hpp"

namespace tarnwell {
namespace {

using testing::all_modes;

template <IntegerElement S, FloatElement D>
CastResult convert(std::type_identity_t<std::span<const S>> src, std::type_identity_t<std::span<D>> dst,
                   const CastConfig<S, D>& config) {
    return convert_slice_int_to_float<S, D>(src, dst, config);
}

template <IntegerElement S, FloatElement D>
D convert_one(S x, RoundingMode mode) {
    CastConfig<S, D> config;
    config.rounding = mode;
    // The policy has no effect on these pairs; setting one must not change anything.
    config.out_of_range = OutOfRangeMode::Wrap;
    D out{};
    EXPECT_TRUE(convert(std::span<const S>(&x, 1), std::span<D>(&out, 1), config));
    return out;
}

template <IntegerElement S, FloatElement D>
std::function<double(RoundingMode)> converting(S x) {
    return [x](RoundingMode mode) { return to_double(convert_one<S, D>(x, mode)); };
}

constexpr double inf = std::numeric_limits<double>::infinity();

struct PerModeCase {
    const char* what;
    std::function<double(RoundingMode)> convert;
    double expected[5];  // by mode code: nearest-even, towards-zero, -positive, -negative, nearest-away
};

TEST(IntToFloat, EdgeValuesPerMode) {
    const double two53 = 9007199254740992.0, two64 = 18446744073709551616.0;
    const PerModeCase cases[] = {
        {"uint16 65535 to float16 overflows by mode", converting<std::uint16_t, float16>(65535),
         {inf, 65504, inf, 65504, inf}},
        {"uint16 65519 to float16 is below the overflow threshold", converting<std::uint16_t, float16>(65519),
         {65504, 65504, inf, 65504, 65504}},
        {"uint16 65520 to float16 is at the overflow threshold", converting<std::uint16_t, float16>(65520),
         {inf, 65504, inf, 65504, inf}},
        {"int32 -70000 to float16", converting<std::int32_t, float16>(-70000), {-inf, -65504, -65504, -inf, -inf}},
        {"int64 min to float16", converting<std::int64_t, float16>(std::numeric_limits<std::int64_t>::min()),
         {-inf, -65504, -65504, -inf, -inf}},
        {"uint64 max to float16", converting<std::uint64_t, float16>(std::numeric_limits<std::uint64_t>::max()),
         {inf, 65504, inf, 65504, inf}},
        {"int16 32767 to float16", converting<std::int16_t, float16>(32767), {32768, 32752, 32768, 32752, 32768}},
        {"uint16 2049 to float16 is a tie", converting<std::uint16_t, float16>(2049), {2048, 2048, 2050, 2048, 2050}},
        {"int16 -2049 to float16 is a tie", converting<std::int16_t, float16>(-2049),
         {-2048, -2048, -2048, -2050, -2050}},
        {"int32 16777217 to float32 is a tie", converting<std::int32_t, float>(16777217),
         {16777216, 16777216, 16777218, 16777216, 16777218}},
        {"int32 -16777217 to float32 is a tie", converting<std::int32_t, float>(-16777217),
         {-16777216, -16777216, -16777216, -16777218, -16777218}},
        {"int64 2^53 + 1 to float32 is judged by its binary64 rounding",
         converting<std::int64_t, float>((std::int64_t{1} << 53) + 1), {two53, two53, two53, two53, two53}},
        {"int64 2^53 + 1 to float64 is nearest under every mode",
         converting<std::int64_t, double>((std::int64_t{1} << 53) + 1), {two53, two53, two53, two53, two53}},
        {"int64 2^53 + 3 to float64 is nearest under every mode",
         converting<std::int64_t, double>((std::int64_t{1} << 53) + 3),
         {two53 + 4, two53 + 4, two53 + 4, two53 + 4, two53 + 4}},
        {"uint64 max to float32", converting<std::uint64_t, float>(std::numeric_limits<std::uint64_t>::max()),
         {two64, two64, two64, two64, two64}},
        {"uint64 max to float64", converting<std::uint64_t, double>(std::numeric_limits<std::uint64_t>::max()),
         {two64, two64, two64, two64, two64}},
        {"int8 0 to float16 is +0", converting<std::int8_t, float16>(0), {0, 0, 0, 0, 0}},
        {"int64 0 to float32 is +0", converting<std::int64_t, float>(0), {0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        for (const RoundingMode mode : all_modes) {
            const double expected = c.expected[static_cast<int>(mode)];
            // Bit patterns, so that -0 does not pass for +0.
            EXPECT_EQ(std::bit_cast<std::uint64_t>(c.convert(mode)), std::bit_cast<std::uint64_t>(expected))
                << c.what << " under " << to_str(mode) << ": got " << c.convert(mode) << ", expected " << expected;
        }
    }
}

TEST(IntToFloat, MapEntriesWinAndTheFirstOfEqualSourcesCounts) {
    CastConfig<std::int16_t, float16> config;
    config.rounding = RoundingMode::TowardsPositive;
    config.entries = {{5, float16(9.0f)}, {5, float16(1.0f)}, {2049, float16::from_bits(0x7e01)}};
    const std::vector<std::int16_t> src = {5, 2049, 2051, 6};
    std::vector<float16> dst(4);
    ASSERT_TRUE(convert(src, dst, config));
    EXPECT_EQ(dst[0].bits(), float16(9.0f).bits());  // exact conversion, but the entry wins
    EXPECT_EQ(dst[1].bits(), 0x7e01);                // a NaN target is written as stored
    EXPECT_EQ(static_cast<float>(dst[2]), 2052.0f);  // unmatched: rounded up
    EXPECT_EQ(static_cast<float>(dst[3]), 6.0f);

    CastConfig<std::int32_t, float> nearest;
    nearest.entries = {{7, -1.0f}};
    const std::vector<std::int32_t> ints = {7, 16777217, 8};
    std::vector<float> floats(3);
    ASSERT_TRUE(convert(ints, floats, nearest));
    EXPECT_EQ(floats, (std::vector<float>{-1.0f, 16777216.0f, 8.0f}));
}

TEST(IntToFloat, ConvertsOnlyTheShorterLength) {
    const std::vector<std::int32_t> src = {1, 2, 3, 4, 5};
    std::vector<float> dst(3, -7.0f);
    for (const RoundingMode mode : all_modes) {
        CastConfig<std::int32_t, float> config;
        config.rounding = mode;
        ASSERT_TRUE(convert(src, dst, config));
        EXPECT_EQ(dst, (std::vector<float>{1, 2, 3}));
        std::vector<float> longer(7, -7.0f);
        ASSERT_TRUE(convert(src, longer, config));
        EXPECT_EQ(longer, (std::vector<float>{1, 2, 3, 4, 5, -7, -7}));
        ASSERT_TRUE(convert({}, longer, config));
    }
}

// Every value of the narrow types, random values of every magnitude for the wide ones.
template <IntegerElement S>
std::vector<S> sample_integers(std::mt19937_64& rng) {
    std::vector<S> values;
    if constexpr (std::numeric_limits<S>::digits <= 16) {
        for (long v = ElementTraits<S>::min; v <= static_cast<long>(ElementTraits<S>::max); ++v) {
            values.push_back(static_cast<S>(v));
        }
    } else {
        using U = std::make_unsigned_t<S>;
        constexpr int bits = std::numeric_limits<U>::digits;
        for (int i = 0; i < 40000; ++i) {
            const int length = static_cast<int>(rng() % (bits + 1));
            U v = length == 0 ? 0 : static_cast<U>(rng()) >> (bits - length);
            values.push_back(static_cast<S>(v));
        }
        values.push_back(ElementTraits<S>::min);
        values.push_back(ElementTraits<S>::max);
    }
    return values;
}

template <IntegerElement S, FloatElement D>
void check_every_mode_is_correctly_rounded(const std::vector<S>& src) {
    constexpr bool wide = sizeof(S) == 8;
    for (const RoundingMode mode : all_modes) {
        CastConfig<S, D> config;
        config.rounding = mode;
        std::vector<D> dst(src.size());
        ASSERT_TRUE(convert(src, dst, config));
        for (std::size_t i = 0; i < src.size(); ++i) {
            long double exact = static_cast<long double>(src[i]);
            RoundingMode expected_mode = mode;
            if constexpr (std::is_same_v<D, double>) {
                expected_mode = RoundingMode::NearestEven;  // every mode gives the nearest value
            } else if constexpr (wide) {
                // Beyond 2^53 the adjustment sees only the binary64 rounding of the source.
                if (mode != RoundingMode::NearestEven && std::fabs(exact) > 0x1p53L) {
                    exact = static_cast<long double>(static_cast<double>(src[i]));
                }
            }
            ASSERT_TRUE(testing::is_correctly_rounded(exact, dst[i], expected_mode))
                << ElementTraits<S>::name << " to " << ElementTraits<D>::name;
        }
    }
}

TEST(IntToFloat, EveryPairAndModeRoundsCorrectly) {
    std::mt19937_64 rng(11);
    for_each_type(TypeList<std::int8_t, std::int16_t, std::int32_t, std::int64_t, std::uint8_t, std::uint16_t,
                           std::uint32_t, std::uint64_t>{},
                  [&]<class S>() {
                      const auto src = sample_integers<S>(rng);
                      check_every_mode_is_correctly_rounded<S, float16>(src);
                      check_every_mode_is_correctly_rounded<S, float>(src);
                      check_every_mode_is_correctly_rounded<S, double>(src);
                  });
}

// Directed modes are built from nearest conversions and one step, so they give the same
// results whatever rounding direction the processor is left in, as long as the binary64
// test is exact (up to 2^53). binary16 targets round on bit patterns and so give the same
// results in every mode. Zero is left out: compilers may lower an unsigned conversion to
// magic-number arithmetic, which in the downward direction gives -0 for 0; the nearest
// conversion itself assumes the default direction.
template <IntegerElement S, FloatElement D>
void check_independent_of_rounding_direction(const std::vector<S>& src) {
    for (const RoundingMode mode : all_modes) {
        const bool directed = mode != RoundingMode::NearestEven && mode != RoundingMode::NearestAway;
        if (!directed && !std::is_same_v<D, float16>) {
            continue;
        }
        CastConfig<S, D> config;
        config.rounding = mode;
        std::vector<D> reference(src.size());
        ASSERT_TRUE(convert(src, reference, config));
        for (const int direction : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
            std::vector<D> dst(src.size());
            bool ok = false;
            testing::with_rounding_direction(direction, src.data(), dst.data(), [&] {
                ok = static_cast<bool>(convert(src, dst, config));
            });
            ASSERT_TRUE(ok);
            for (std::size_t i = 0; i < src.size(); ++i) {
                ASSERT_EQ(to_bits(dst[i]), to_bits(reference[i]))
                    << ElementTraits<S>::name << " to " << ElementTraits<D>::name << " of " << +src[i] << " under "
                    << to_str(mode) << " with the processor's direction " << direction;
            }
        }
    }
}

TEST(IntToFloat, ResultsDoNotDependOnTheProcessorRoundingDirection) {
    std::mt19937_64 rng(12);
    for_each_type(TypeList<std::int16_t, std::int32_t, std::int64_t, std::uint32_t, std::uint64_t>{}, [&]<class S>() {
        auto src = sample_integers<S>(rng);
        std::erase_if(src, [](S x) { return x == 0 || std::fabs(static_cast<long double>(x)) > 0x1p53L; });
        check_independent_of_rounding_direction<S, float16>(src);
        check_independent_of_rounding_direction<S, float>(src);
    });
}

}  // namespace
}  // namespace tarnwell
