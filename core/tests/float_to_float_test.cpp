#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <type_traits>
#include <vector>

#include "float_to_float.hpp"
#include "rounding_oracle.hpp"

namespace tarnwell {
namespace {

using testing::all_modes;

template <FloatElement S, FloatElement D>
CastResult convert(std::type_identity_t<std::span<const S>> src, std::type_identity_t<std::span<D>> dst,
                   const CastConfig<S, D>& config) {
    return convert_slice_float_to_float<S, D>(src, dst, config);
}

template <FloatElement S, FloatElement D>
CastResult convert_scalar(std::type_identity_t<std::span<const S>> src, std::type_identity_t<std::span<D>> dst,
                          const CastConfig<S, D>& config) {
    return convert_slice_float_to_float_scalar<S, D>(src, dst, config);
}

template <FloatElement T>
std::uint64_t bits_of(T v) {
    return to_bits(v);
}

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double f32_max = std::numeric_limits<float>::max();
const std::optional<OutOfRangeMode> all_policies[] = {std::nullopt, OutOfRangeMode::Clamp, OutOfRangeMode::Wrap};

// One element converted under a mode and a policy: the result written (as binary64) and
// any error; the destination starts as a NaN sentinel so that an untouched one shows.
struct Outcome {
    double written;
    std::optional<CastError> error;
};

template <FloatElement S, FloatElement D>
std::function<Outcome(RoundingMode, std::optional<OutOfRangeMode>)> converting(S x) {
    return [x](RoundingMode mode, std::optional<OutOfRangeMode> policy) {
        CastConfig<S, D> config;
        config.rounding = mode;
        config.out_of_range = policy;
        D out = from_bits<D>(ElementTraits<D>::infinity_bits | 1u);
        const auto result = convert(std::span<const S>(&x, 1), std::span<D>(&out, 1), config);
        return Outcome{to_double(out), result ? std::nullopt : std::optional<CastError>(result.error())};
    };
}

struct PerModeCase {
    const char* what;
    std::function<Outcome(RoundingMode, std::optional<OutOfRangeMode>)> convert;
    double source;
    double max_finite;
    double expected[5];  // by mode code: nearest-even, towards-zero, -positive, -negative, nearest-away
};

// An infinite result from a finite source is written under Clamp and is an error
// otherwise, carrying the source and the target's finite bounds.
TEST(FloatToFloat, EdgeValuesPerModeAndPolicy) {
    // The element loop alone: the vector path writes the failing element too.
    const simd::ScopedLevel element_loop(simd::Level::Declining);
    const double h = 0x1p-11, one_ulp16 = 0x1p-10, below_two_step_threshold = std::nextafter(65519.998046875, 0.0);
    const PerModeCase cases[] = {
        {"float64 1e300 to float32", converting<double, float>(1e300), 1e300, f32_max,
         {inf, f32_max, inf, f32_max, inf}},
        {"float64 -1e300 to float32", converting<double, float>(-1e300), -1e300, f32_max,
         {-inf, -f32_max, -f32_max, -inf, -inf}},
        {"float64 largest to float16", converting<double, float16>(std::numeric_limits<double>::max()),
         std::numeric_limits<double>::max(), 65504, {inf, 65504, inf, 65504, inf}},
        {"float32 65519 to float16", converting<float, float16>(65519.0f), 65519, 65504,
         {65504, 65504, inf, 65504, 65504}},
        {"float32 65505 to float16", converting<float, float16>(65505.0f), 65505, 65504,
         {65504, 65504, inf, 65504, 65504}},
        {"float32 65520 to float16", converting<float, float16>(65520.0f), 65520, 65504,
         {inf, 65504, inf, 65504, inf}},
        {"float64 65519.999 to float16 overflows through binary32", converting<double, float16>(65519.999),
         65519.999, 65504, {inf, 65504, inf, 65504, inf}},
        {"float64 just below 65519.998046875 to float16", converting<double, float16>(below_two_step_threshold),
         below_two_step_threshold, 65504, {65504, 65504, inf, 65504, 65504}},
        {"float32 2^-25 to float16", converting<float, float16>(0x1p-25f), 0x1p-25, 65504,
         {0.0, 0.0, 0x1p-24, 0.0, 0x1p-24}},
        {"float32 -2^-25 to float16", converting<float, float16>(-0x1p-25f), -0x1p-25, 65504,
         {-0.0, -0.0, -0.0, -0x1p-24, -0x1p-24}},
        {"float32 1 + 2^-11 to float16 is a tie", converting<float, float16>(1.0f + 0x1p-11f), 1 + h, 65504,
         {1, 1, 1 + one_ulp16, 1, 1 + one_ulp16}},
        {"float64 1 + 2^-11 to float16 is a tie", converting<double, float16>(1 + h), 1 + h, 65504,
         {1, 1, 1 + one_ulp16, 1, 1 + one_ulp16}},
        {"float64 1 + 2^-11 + 2^-30 to float16 rounds twice", converting<double, float16>(1 + h + 0x1p-30),
         1 + h + 0x1p-30, 65504, {1, 1, 1 + one_ulp16, 1, 1}},
        {"float64 infinity to float32 is no overflow", converting<double, float>(inf), inf, f32_max,
         {inf, inf, inf, inf, inf}},
        {"float32 -infinity to float16 is no overflow", converting<float, float16>(-HUGE_VALF), -inf, 65504,
         {-inf, -inf, -inf, -inf, -inf}},
        {"float16 largest subnormal to float64", converting<float16, double>(float16::from_bits(0x03ff)),
         0x3ffp-24, 65504, {0x3ffp-24, 0x3ffp-24, 0x3ffp-24, 0x3ffp-24, 0x3ffp-24}},
        {"float16 65504 to float64", converting<float16, double>(float16::from_bits(0x7bff)), 65504, 65504,
         {65504, 65504, 65504, 65504, 65504}},
        {"float32 -0 to float64", converting<float, double>(-0.0f), -0.0, f32_max, {-0.0, -0.0, -0.0, -0.0, -0.0}},
        {"float64 -0 to float16", converting<double, float16>(-0.0), -0.0, 65504, {-0.0, -0.0, -0.0, -0.0, -0.0}},
    };
    for (const auto& c : cases) {
        for (const RoundingMode mode : all_modes) {
            for (const auto policy : all_policies) {
                const double expected = c.expected[static_cast<int>(mode)];
                const Outcome got = c.convert(mode, policy);
                const auto where = ::testing::Message()
                                   << c.what << " under " << to_str(mode) << " with policy "
                                   << (policy ? to_str(*policy) : "none");
                const bool overflow = std::isinf(expected) && !std::isinf(c.source);
                if (overflow && policy != OutOfRangeMode::Clamp) {
                    ASSERT_TRUE(got.error.has_value()) << where;
                    EXPECT_EQ(*got.error, CastError(OutOfRange{c.source, -c.max_finite, c.max_finite})) << where;
                    EXPECT_TRUE(std::isnan(got.written)) << where << ": the failing element was written";
                } else {
                    EXPECT_FALSE(got.error.has_value()) << where;
                    EXPECT_EQ(std::bit_cast<std::uint64_t>(got.written), std::bit_cast<std::uint64_t>(expected))
                        << where << ": got " << got.written << ", expected " << expected;
                }
            }
        }
    }
}

// NaN payload layout per width: the quiet bit is the top fraction bit.
template <FloatElement T>
constexpr FloatBits<T> quiet_bit = FloatBits<T>{1} << (ElementTraits<T>::fraction_bits - 1);

template <FloatElement S, FloatElement D>
void check_nan_conversions() {
    using SB = FloatBits<S>;
    constexpr int shift = ElementTraits<S>::fraction_bits - ElementTraits<D>::fraction_bits;
    // Signalling and quiet NaNs of both signs, with payloads at the top and at the bottom.
    const SB payloads[] = {SB{1}, quiet_bit<S> >> 1, quiet_bit<S>, static_cast<SB>(quiet_bit<S> | 5u),
                           static_cast<SB>((quiet_bit<S> << 1) - 1)};
    for (const SB payload : payloads) {
        for (const SB sign : {SB{0}, ElementTraits<S>::sign_mask}) {
            const S x = from_bits<S>(static_cast<SB>(sign | ElementTraits<S>::infinity_bits | payload));
            for (const RoundingMode mode : all_modes) {
                for (const auto policy : all_policies) {
                    CastConfig<S, D> config;
                    config.rounding = mode;
                    config.out_of_range = policy;
                    D out{};
                    ASSERT_TRUE(convert(std::span<const S>(&x, 1), std::span<D>(&out, 1), config));
                    const std::uint64_t got = bits_of(out);
                    const std::uint64_t fraction_mask = (std::uint64_t{1} << ElementTraits<D>::fraction_bits) - 1;
                    if constexpr (std::is_same_v<S, D>) {
                        EXPECT_EQ(got, bits_of(x)) << "identity keeps every bit";
                    } else {
                        EXPECT_TRUE(is_nan(out));
                        EXPECT_EQ(got & ElementTraits<D>::sign_mask, sign ? ElementTraits<D>::sign_mask : 0u);
                        EXPECT_EQ(got & quiet_bit<D>, quiet_bit<D>) << "the NaN comes out quiet";
                        // The leading fraction bits carry over, the quiet bit aside.
                        const std::uint64_t kept = shift >= 0 ? std::uint64_t{payload} >> shift
                                                              : std::uint64_t{payload} << -shift;
                        EXPECT_EQ(got & fraction_mask & ~std::uint64_t{quiet_bit<D>},
                                  kept & fraction_mask & ~std::uint64_t{quiet_bit<D>})
                            << ElementTraits<S>::name << " to " << ElementTraits<D>::name << " payload " << +payload;
                    }
                }
            }
        }
    }
}

TEST(FloatToFloat, NansStayNansWithSignAndLeadingPayloadAndNeverFail) {
    for_each_type(TypeList<float16, float, double>{}, [&]<class S>() {
        for_each_type(TypeList<float16, float, double>{}, [&]<class D>() { check_nan_conversions<S, D>(); });
    });
}

TEST(FloatToFloat, IdentityCopiesBitsWithAndWithoutEntries) {
    const std::vector<float> src = {std::bit_cast<float>(0x7f800001u), -0.0f, std::bit_cast<float>(0xffa00000u), 2.5f};
    for (const bool with_entries : {false, true}) {
        CastConfig<float, float> config;
        config.rounding = RoundingMode::TowardsZero;
        if (with_entries) {
            config.entries = {{2.5f, 7.0f}};
        }
        std::vector<float> dst(4);
        ASSERT_TRUE(convert(src, dst, config));
        EXPECT_EQ(std::bit_cast<std::uint32_t>(dst[0]), 0x7f800001u);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(dst[1]), 0x80000000u);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(dst[2]), 0xffa00000u);
        EXPECT_EQ(dst[3], with_entries ? 7.0f : 2.5f);
    }
}

TEST(FloatToFloat, MapEntriesMatchAnyNanAndEitherZeroAndSkipTheRangeTest) {
    CastConfig<double, float> config;
    config.entries = {{std::numeric_limits<double>::quiet_NaN(), -1.0f}, {0.0, 9.0f}, {1e300, 5.0f}, {0.0, 3.0f}};
    const std::vector<double> src = {-std::numeric_limits<double>::quiet_NaN(), std::bit_cast<double>(0x7ff0000000000001u),
                                     -0.0, 1e300, 2.0};
    std::vector<float> dst(src.size());
    ASSERT_TRUE(convert(src, dst, config));
    EXPECT_EQ(dst, (std::vector<float>{-1.0f, -1.0f, 9.0f, 5.0f, 2.0f}));

    // A map target is written as stored, even an infinity under no policy.
    CastConfig<float, float16> to_half;
    to_half.entries = {{1.0f, float16::from_bits(0x7c00)}};
    const std::vector<float> one = {1.0f};
    std::vector<float16> half(1);
    ASSERT_TRUE(convert(one, half, to_half));
    EXPECT_EQ(half[0].bits(), 0x7c00);
}

// The element loop stops at the first overflow: everything before it is written, it and
// everything after it are not. Long slices go through the blocked loop.
TEST(FloatToFloat, StopsAtTheFirstOverflowLeavingTheRestUntouched) {
    for (const std::size_t length : {std::size_t{3}, std::size_t{40}}) {
        for (const std::size_t failing : {std::size_t{1}, length - 1, length / 2}) {
            for (const RoundingMode mode : {RoundingMode::NearestEven, RoundingMode::TowardsPositive}) {
                std::vector<double> src(length);
                for (std::size_t i = 0; i < length; ++i) {
                    src[i] = static_cast<double>(i) - 0.25;
                }
                src[0] = inf;  // an infinite source is never an overflow
                src[failing] = 1e39;
                src.push_back(2e39);
                CastConfig<double, float> config;
                config.rounding = mode;
                config.out_of_range = OutOfRangeMode::Wrap;
                std::vector<float> dst(src.size(), -7.0f);
                const auto result = convert_scalar(src, dst, config);
                ASSERT_FALSE(result);
                EXPECT_EQ(result.error(), CastError(OutOfRange{1e39, -f32_max, f32_max}));
                for (std::size_t i = 0; i < dst.size(); ++i) {
                    const float expected = i >= failing ? -7.0f : static_cast<float>(src[i]);
                    ASSERT_EQ(dst[i], expected) << "element " << i << " of " << length << ", failing " << failing;
                }

                std::vector<float> narrow_src(src.begin(), src.end());
                narrow_src[failing] = 70000.0f;
                narrow_src.back() = 80000.0f;
                std::vector<float16> half(src.size(), float16::from_bits(0x4500));
                CastConfig<float, float16> to_half;
                to_half.rounding = mode;
                const auto half_result = convert(narrow_src, half, to_half);
                ASSERT_FALSE(half_result);
                EXPECT_EQ(half_result.error(), CastError(OutOfRange{70000.0, -65504.0, 65504.0}));
                EXPECT_EQ(half[0].bits(), 0x7c00);
                for (std::size_t i = 1; i < failing; ++i) {
                    ASSERT_EQ(static_cast<float>(half[i]), narrow_src[i]) << "element " << i;
                }
                for (std::size_t i = failing; i < half.size(); ++i) {
                    ASSERT_EQ(half[i].bits(), 0x4500) << "element " << i;
                }
            }
        }
    }
}

TEST(FloatToFloat, ConvertsOnlyTheShorterLength) {
    const std::vector<double> src = {1.5, 2.5, 3.5, 4.5, 5.5};
    for (const RoundingMode mode : all_modes) {
        CastConfig<double, float> config;
        config.rounding = mode;
        std::vector<float> shorter(3, -7.0f), longer(7, -7.0f);
        ASSERT_TRUE(convert(src, shorter, config));
        EXPECT_EQ(shorter, (std::vector<float>{1.5f, 2.5f, 3.5f}));
        ASSERT_TRUE(convert(src, longer, config));
        EXPECT_EQ(longer, (std::vector<float>{1.5f, 2.5f, 3.5f, 4.5f, 5.5f, -7.0f, -7.0f}));
        ASSERT_TRUE(convert({}, longer, config));
    }
}

// Random values across the target's range and beyond, with every kind of awkward value
// made on purpose: exact midpoints between neighbours of D, the source values just beside
// them, and values a hair off a midpoint, which the binary32 step of float64 to float16
// moves onto it.
template <FloatElement S, FloatElement D>
std::vector<S> sample_narrowing_sources(std::mt19937_64& rng) {
    constexpr int max_exponent = 1 << (ElementTraits<D>::exponent_bits - 1);
    constexpr int min_exponent = 3 - max_exponent - ElementTraits<D>::fraction_bits;
    std::uniform_int_distribution<int> exponent(min_exponent - 3, max_exponent + 2);
    std::uniform_real_distribution<long double> significand(1.0L, 2.0L);
    std::vector<S> values;
    for (int i = 0; i < 20000; ++i) {
        const long double sign = rng() & 1 ? -1.0L : 1.0L;
        const long double magnitude = std::ldexp(significand(rng), exponent(rng));
        values.push_back(static_cast<S>(sign * magnitude));
        const D near = static_cast<D>(static_cast<float>(values.back()));
        if (is_infinite(near) || is_nan(near)) {
            continue;
        }
        const long double mid = (testing::exact_value(near) + testing::midpoint_value(next_up(near))) / 2;
        const S exact_mid = static_cast<S>(mid);
        values.push_back(exact_mid);
        values.push_back(next_up(exact_mid));
        values.push_back(next_down(exact_mid));
        values.push_back(static_cast<S>(mid * (1 + 0x1p-30L)));
        values.push_back(static_cast<S>(mid * (1 - 0x1p-30L)));
    }
    return values;
}

// What the nearest modes give: binary64 to binary16 rounds to binary32 first, so only a
// source that is itself a binary32 value is rounded once; NearestAway moves only off a
// true halfway point, which binary32 always holds exactly.
template <FloatElement S, FloatElement D>
::testing::AssertionResult is_expected_rounding(S x, D result, RoundingMode mode) {
    const long double exact = testing::exact_value(x);
    if constexpr (std::is_same_v<S, double> && std::is_same_v<D, float16>) {
        const long double first_step = static_cast<float>(x);
        if (mode == RoundingMode::NearestEven ||
            (mode == RoundingMode::NearestAway && first_step != exact)) {
            return testing::is_correctly_rounded(first_step, result, RoundingMode::NearestEven);
        }
    }
    return testing::is_correctly_rounded(exact, result, mode);
}

template <FloatElement S, FloatElement D>
void check_narrowing_rounds_correctly(std::mt19937_64& rng) {
    const auto src = sample_narrowing_sources<S, D>(rng);
    for (const RoundingMode mode : all_modes) {
        CastConfig<S, D> config;
        config.rounding = mode;
        config.out_of_range = OutOfRangeMode::Clamp;
        std::vector<D> dst(src.size());
        ASSERT_TRUE(convert(src, dst, config));
        for (std::size_t i = 0; i < src.size(); ++i) {
            ASSERT_TRUE(is_expected_rounding(src[i], dst[i], mode))
                << ElementTraits<S>::name << " to " << ElementTraits<D>::name;
        }
    }
}

TEST(FloatToFloat, NarrowingRoundsCorrectlyInEveryMode) {
    std::mt19937_64 rng(21);
    check_narrowing_rounds_correctly<float, float16>(rng);
    check_narrowing_rounds_correctly<double, float16>(rng);
    check_narrowing_rounds_correctly<double, float>(rng);
}

// Directed modes step from a nearest conversion by exact comparison, so the processor's
// rounding direction cannot change them; binary32 to binary16 rounds on bit patterns in
// every mode. Overflow errors must come out the same as well.
template <FloatElement S, FloatElement D>
void check_independent_of_rounding_direction(std::mt19937_64& rng) {
    const auto src = sample_narrowing_sources<S, D>(rng);
    constexpr bool software_rounding = std::is_same_v<S, float>;
    for (const RoundingMode mode : all_modes) {
        const bool directed = mode != RoundingMode::NearestEven && mode != RoundingMode::NearestAway;
        if (!directed && !software_rounding) {
            continue;
        }
        for (const auto policy : all_policies) {
            CastConfig<S, D> config;
            config.rounding = mode;
            config.out_of_range = policy;
            std::vector<D> reference(src.size());
            const auto expected = convert(src, reference, config);
            for (const int direction : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
                std::vector<D> dst(src.size());
                std::optional<CastResult> got;
                testing::with_rounding_direction(direction, src.data(), dst.data(),
                                                 [&] { got = convert(src, dst, config); });
                ASSERT_EQ(got->has_value(), expected.has_value());
                if (!expected) {
                    ASSERT_EQ(got->error(), expected.error());
                    continue;
                }
                for (std::size_t i = 0; i < src.size(); ++i) {
                    ASSERT_EQ(bits_of(dst[i]), bits_of(reference[i]))
                        << ElementTraits<S>::name << " to " << ElementTraits<D>::name << " of " << to_double(src[i])
                        << " under " << to_str(mode) << " with the processor's direction " << direction;
                }
            }
        }
    }
}

TEST(FloatToFloat, ResultsDoNotDependOnTheProcessorRoundingDirection) {
    std::mt19937_64 rng(22);
    check_independent_of_rounding_direction<float, float16>(rng);
    check_independent_of_rounding_direction<double, float16>(rng);
    check_independent_of_rounding_direction<double, float>(rng);
}

// Whatever the vector path does with a slice, the results and the error are those of the
// element loop (after an error the destinations may differ in the elements after it).
TEST(FloatToFloat, FastPathAgreesWithTheElementLoop) {
    std::mt19937_64 rng(23);
    auto src = sample_narrowing_sources<double, float>(rng);
    src.push_back(std::numeric_limits<double>::quiet_NaN());
    src.push_back(-inf);
    for (const auto policy : all_policies) {
        CastConfig<double, float> config;
        config.out_of_range = policy;
        for (const std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{7}, src.size()}) {
            const std::span<const double> slice(src.data(), length);
            std::vector<float> fast(length), scalar(length);
            const auto fast_result = convert(slice, fast, config);
            const auto scalar_result = convert_scalar(slice, scalar, config);
            ASSERT_EQ(fast_result.has_value(), scalar_result.has_value());
            if (!scalar_result) {
                EXPECT_EQ(fast_result.error(), scalar_result.error());
                continue;
            }
            for (std::size_t i = 0; i < length; ++i) {
                ASSERT_EQ(bits_of(fast[i]), bits_of(scalar[i])) << "element " << i;
            }
        }
    }
}

}  // namespace
}  // namespace tarnwell
