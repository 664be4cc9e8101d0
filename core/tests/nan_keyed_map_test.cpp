#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "cast_config.hpp"
#include "slice_test_support.hpp"
#include "float_bits.hpp"
#include "float_to_float.hpp"
#include "float_to_int.hpp"
#include "nan_keyed_map.hpp"
#include "simd/simd.hpp"

// A map whose keys are all NaN sends every NaN element to the first entry's target. The
// conversion under such a map takes a NaN test in place of the map search, and the
// vector kernels block-wise where the pair has them; every level must give exactly the
// outcome of the general mapped element loop, destination included when it fails.
namespace tarnwell {
namespace {

template <FloatElement S>
S from_pattern(FloatBits<S> bits) {
    return from_bits<S>(bits);
}

// Quiet and signalling NaNs of both signs, with and without a payload.
template <FloatElement S>
std::vector<S> nans() {
    using Traits = ElementTraits<S>;
    using Bits = FloatBits<S>;
    const Bits quiet = Traits::infinity_bits | (Bits{1} << (Traits::fraction_bits - 1));
    const Bits signalling = Traits::infinity_bits | Bits{1};
    std::vector<S> values;
    for (const Bits pattern : {quiet, static_cast<Bits>(quiet | 5u), signalling}) {
        values.push_back(from_bits<S>(pattern));
        values.push_back(from_bits<S>(static_cast<Bits>(pattern | Traits::sign_mask)));
    }
    return values;
}

template <FloatElement S>
S to_source(double v) {
    if constexpr (std::is_same_v<S, float16>) {
        return float16(static_cast<float>(v));
    } else {
        return static_cast<S>(v);
    }
}

// D's bounds and the rounding points around them and around zero, with their
// neighbouring values in S, plus NaNs and infinities.
template <FloatElement S, IntegerElement D>
std::vector<S> special_values() {
    const double lo = static_cast<double>(ElementTraits<D>::min);
    const double hi = static_cast<double>(ElementTraits<D>::max);
    std::vector<S> values = nans<S>();
    for (const double point : {lo, lo - 0.5, lo - 1.0, hi, hi + 0.5, hi - 0.5, hi + 1.0, 0.0, -0.0, 0.5, -0.5, 1.5,
                               2.5, -2.5, 1e300}) {
        const S v = to_source<S>(point);
        const auto bits = to_bits(v);
        values.push_back(v);
        values.push_back(from_bits<S>(static_cast<FloatBits<S>>(bits + 1)));
        if ((bits & ElementTraits<S>::magnitude_mask) != 0) {
            values.push_back(from_bits<S>(static_cast<FloatBits<S>>(bits - 1)));
        }
    }
    values.push_back(to_source<S>(std::numeric_limits<double>::infinity()));
    values.push_back(to_source<S>(-std::numeric_limits<double>::infinity()));
    return values;
}

// Values inside D's range (beyond S's range for float16 and wide targets), special
// values at `special_share`, and in some slices runs of NaNs.
template <FloatElement S, IntegerElement D>
std::vector<S> random_slice(std::mt19937_64& rng, std::size_t n, double special_share, bool nan_runs) {
    static const std::vector<S> special = special_values<S, D>();
    const double lo = std::max(static_cast<double>(ElementTraits<D>::min), -6e4);
    const double hi = std::min(static_cast<double>(ElementTraits<D>::max), 6e4);
    std::uniform_real_distribution<double> ordinary(lo, hi);
    std::uniform_real_distribution<double> coin(0.0, 1.0);
    std::uniform_int_distribution<std::size_t> pick(0, special.size() - 1);
    std::vector<S> src(n);
    for (auto& x : src) {
        x = coin(rng) < special_share ? special[pick(rng)] : to_source<S>(ordinary(rng));
    }
    if (nan_runs && n > 0) {
        const auto nan_values = nans<S>();
        std::uniform_int_distribution<std::size_t> start(0, n - 1);
        std::uniform_int_distribution<std::size_t> length(1, 20);
        std::uniform_int_distribution<std::size_t> which(0, nan_values.size() - 1);
        for (int run = 0; run < 3; ++run) {
            const std::size_t from = start(rng);
            std::fill(src.begin() + static_cast<std::ptrdiff_t>(from),
                      src.begin() + static_cast<std::ptrdiff_t>(std::min(n, from + length(rng))),
                      nan_values[which(rng)]);
        }
    }
    return src;
}

using test_support::same_error;
using test_support::untouched;

std::string describe(const CastResult& result) {
    return result ? std::string("success") : test_support::describe(result.error());
}

template <class T>
std::string describe(std::span<const T> values) {
    std::string text;
    for (const T v : values) {
        text += std::to_string(static_cast<double>(v)) + " ";
    }
    return text;
}

// The slice conversion against the general mapped loop; the map holds a second NaN key
// with another target in every other slice (the first entry wins).
template <FloatElement S, IntegerElement D>
void check_against_general_loop() {
    std::mt19937_64 rng(20261211);
    constexpr RoundingMode modes[] = {RoundingMode::NearestEven, RoundingMode::TowardsZero,
                                      RoundingMode::TowardsPositive, RoundingMode::TowardsNegative,
                                      RoundingMode::NearestAway};
    constexpr std::optional<OutOfRangeMode> policies[] = {std::nullopt, OutOfRangeMode::Clamp, OutOfRangeMode::Wrap};
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 40; ++n) {
        lengths.push_back(n);
    }
    for (const std::size_t n : {257u, 1030u, 2501u}) {
        lengths.push_back(n);
    }
    const auto nan_keys = nans<S>();
    for (const simd::Level level : simd::available_levels()) {
        const simd::ScopedLevel pinned(level);
        for (const RoundingMode mode : modes) {
            for (const auto policy : policies) {
                for (const std::size_t n : lengths) {
                    for (int trial = 0; trial < 6; ++trial) {
                        const double special_share = n > 40 ? 0.0005 * trial : 0.03 * trial;
                        const auto src = random_slice<S, D>(rng, n, special_share, trial % 2 == 1);
                        CastConfig<S, D> config{{{nan_keys[static_cast<std::size_t>(trial) % nan_keys.size()], D{7}}},
                                                policy, mode};
                        if (trial % 2 == 0) {
                            config.entries.push_back({nan_keys[0], D{9}});
                        }
                        auto expected = untouched<D>(n);
                        const CastResult expected_result =
                            detail::float_to_int_mapped_loop<S, D>(src, std::span<D>(expected), config);
                        auto dst = untouched<D>(n);
                        const CastResult result = convert_slice_float_to_int<S, D>(src, std::span<D>(dst), config);
                        const std::string context = std::string(simd::to_str(level)) + " " +
                                                    std::string(to_str(mode)) + " " +
                                                    std::string(policy ? to_str(*policy) : "none") +
                                                    " n=" + std::to_string(n) + " src=" + describe(std::span<const S>(src));
                        ASSERT_EQ(static_cast<bool>(result), static_cast<bool>(expected_result))
                            << context << ": got " << describe(result) << ", expected " << describe(expected_result);
                        if (!result) {
                            ASSERT_TRUE(same_error(result.error(), expected_result.error()))
                                << context << ": got " << describe(result) << ", expected "
                                << describe(expected_result);
                        }
                        ASSERT_TRUE(std::memcmp(dst.data(), expected.data(), n * sizeof(D)) == 0)
                            << context << "\n got      " << describe(std::span<const D>(dst)) << "\n expected "
                            << describe(std::span<const D>(expected));
                    }
                }
            }
        }
    }
}

// The integer pairs with vector kernels, and some without (the NaN test alone).
TEST(NanKeyedMapAgainstGeneralLoop, Float32ToUint8) { check_against_general_loop<float, std::uint8_t>(); }
TEST(NanKeyedMapAgainstGeneralLoop, Float64ToUint8) { check_against_general_loop<double, std::uint8_t>(); }
TEST(NanKeyedMapAgainstGeneralLoop, Float64ToInt32) { check_against_general_loop<double, std::int32_t>(); }
TEST(NanKeyedMapAgainstGeneralLoop, Float64ToUint16) { check_against_general_loop<double, std::uint16_t>(); }
TEST(NanKeyedMapAgainstGeneralLoop, Float32ToInt64) { check_against_general_loop<float, std::int64_t>(); }
TEST(NanKeyedMapAgainstGeneralLoop, Float16ToInt8) { check_against_general_loop<float16, std::int8_t>(); }

// Float pairs against the general loop, which a second, non-NaN key that no slice holds
// (the third subnormal) forces; the NaN's target is finite, infinite or a NaN.
template <FloatElement S, FloatElement D>
void check_floats_against_general_loop() {
    std::mt19937_64 rng(20261214);
    std::vector<S> special = nans<S>();
    for (const double point : {ElementTraits<D>::max_finite, 65520.0, 3.4028235677973366e38, 1e39, 1.0, 0.0, -0.0,
                               -ElementTraits<D>::max_finite, std::numeric_limits<double>::infinity()}) {
        const S v = to_source<S>(point);
        special.push_back(v);
        special.push_back(from_bits<S>(static_cast<FloatBits<S>>(to_bits(v) + 1)));
        if ((to_bits(v) & ElementTraits<S>::magnitude_mask) != 0) {
            special.push_back(from_bits<S>(static_cast<FloatBits<S>>(to_bits(v) - 1)));
        }
    }
    std::uniform_real_distribution<double> ordinary(-7e4, 7e4);
    std::uniform_real_distribution<double> coin(0.0, 1.0);
    std::uniform_int_distribution<std::size_t> pick(0, special.size() - 1);
    const S nan_key = nans<S>()[1];
    const D targets[] = {to_source<D>(-1.5), to_source<D>(std::numeric_limits<double>::infinity()), nans<D>()[3]};
    constexpr RoundingMode modes[] = {RoundingMode::NearestEven, RoundingMode::TowardsZero,
                                      RoundingMode::TowardsPositive, RoundingMode::TowardsNegative,
                                      RoundingMode::NearestAway};
    for (const RoundingMode mode : modes) {
        for (const auto policy : {std::optional<OutOfRangeMode>{}, std::optional(OutOfRangeMode::Clamp)}) {
            for (std::size_t n = 0; n <= 70; ++n) {
                for (int trial = 0; trial < 6; ++trial) {
                    std::vector<S> src(n);
                    for (auto& x : src) {
                        x = coin(rng) < 0.04 * trial ? special[pick(rng)] : to_source<S>(ordinary(rng));
                    }
                    const D target = targets[static_cast<std::size_t>(trial) % std::size(targets)];
                    const CastConfig<S, D> config{{{nan_key, target}}, policy, mode};
                    CastConfig<S, D> general = config;
                    general.entries.push_back({from_bits<S>(3), to_source<D>(0.0)});
                    auto expected = untouched<D>(n);
                    const CastResult expected_result =
                        convert_slice_float_to_float_scalar<S, D>(src, std::span<D>(expected), general);
                    auto dst = untouched<D>(n);
                    const CastResult result = convert_slice_float_to_float<S, D>(src, std::span<D>(dst), config);
                    const std::string context = std::string(to_str(mode)) + (policy ? " clamp" : " none") +
                                                " n=" + std::to_string(n) + " src=" + describe(std::span<const S>(src));
                    ASSERT_EQ(static_cast<bool>(result), static_cast<bool>(expected_result))
                        << context << ": got " << describe(result) << ", expected " << describe(expected_result);
                    if (!result) {
                        ASSERT_TRUE(same_error(result.error(), expected_result.error())) << context;
                    }
                    ASSERT_TRUE(std::memcmp(dst.data(), expected.data(), n * sizeof(D)) == 0)
                        << context << "\n got      " << describe(std::span<const D>(dst)) << "\n expected "
                        << describe(std::span<const D>(expected));
                }
            }
        }
    }
}

TEST(NanKeyedMapAgainstGeneralLoop, Float64ToFloat32) { check_floats_against_general_loop<double, float>(); }
TEST(NanKeyedMapAgainstGeneralLoop, Float64ToFloat16) { check_floats_against_general_loop<double, float16>(); }
TEST(NanKeyedMapAgainstGeneralLoop, Float32ToFloat16) { check_floats_against_general_loop<float, float16>(); }
TEST(NanKeyedMapAgainstGeneralLoop, Float16ToFloat64) { check_floats_against_general_loop<float16, double>(); }
TEST(NanKeyedMapAgainstGeneralLoop, Float32ToFloat32) { check_floats_against_general_loop<float, float>(); }

TEST(NanKeyedTarget, OnlyMapsWhoseEveryKeyIsNan) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    using Entries = std::vector<MapEntry<double, std::uint8_t>>;
    EXPECT_EQ(nan_keyed_target(Entries{}), std::nullopt);
    EXPECT_EQ(nan_keyed_target(Entries{{nan, 1}}), std::optional<std::uint8_t>(1));
    EXPECT_EQ(nan_keyed_target(Entries{{-nan, 1}, {nan, 2}}), std::optional<std::uint8_t>(1));
    EXPECT_EQ(nan_keyed_target(Entries{{nan, 1}, {0.0, 2}}), std::nullopt);
    EXPECT_EQ(nan_keyed_target(Entries{{std::numeric_limits<double>::infinity(), 1}}), std::nullopt);
    const std::vector<MapEntry<float16, std::int8_t>> half{{float16::from_bits(0xfe01), -1}};
    EXPECT_EQ(nan_keyed_target(half), std::optional<std::int8_t>(-1));
}

// Faults a block-wise conversion could make, on every level: a NaN in the tail after the
// last whole block, an out-of-range element right after a NaN in the same block (the
// error names the rounded value, and the elements before it are written), and an
// out-of-range element before a NaN in its block (reported, not the NaN).
TEST(NanKeyedMapFaults, OutcomeOfTheElementLoopOnEveryLevel) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr std::uint8_t u = 0x5a;
    constexpr std::int32_t w = 0x5a5a5a5a;
    for (const simd::Level level : simd::available_levels()) {
        SCOPED_TRACE(std::string(simd::to_str(level)));
        const simd::ScopedLevel pinned(level);
        {
            const std::vector<double> src{1, 2, 3, 4, 5, 6, 7, 8, 9.5, -nan, 300};
            std::vector<std::uint8_t> dst(src.size(), u);
            const CastConfig<double, std::uint8_t> config{{{nan, 255}}, OutOfRangeMode::Clamp,
                                                          RoundingMode::NearestEven};
            ASSERT_TRUE((convert_slice_float_to_int<double, std::uint8_t>(src, dst, config)));
            EXPECT_EQ(dst, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 10, 255, 255}));
        }
        const CastConfig<double, std::int32_t> check{{{nan, -1}}, std::nullopt, RoundingMode::NearestEven};
        {
            std::vector<double> src(20, 4.0);
            src[10] = nan;
            src[11] = 2147483647.6;
            std::vector<std::int32_t> dst(src.size(), w);
            const auto result = convert_slice_float_to_int<double, std::int32_t>(src, dst, check);
            ASSERT_FALSE(result);
            EXPECT_TRUE(same_error(result.error(), OutOfRange{2147483648.0, -2147483648.0, 2147483647.0}))
                << test_support::describe(result.error());
            std::vector<std::int32_t> expected(src.size(), w);
            std::fill_n(expected.begin(), 10, 4);
            expected[10] = -1;
            EXPECT_EQ(dst, expected);
        }
        {
            std::vector<double> src(20, -3.5);
            src[12] = -2147483649.0;
            src[13] = nan;
            std::vector<std::int32_t> dst(src.size(), w);
            const auto result = convert_slice_float_to_int<double, std::int32_t>(src, dst, check);
            ASSERT_FALSE(result);
            EXPECT_TRUE(same_error(result.error(), OutOfRange{-2147483649.0, -2147483648.0, 2147483647.0}))
                << test_support::describe(result.error());
            std::vector<std::int32_t> expected(src.size(), w);
            std::fill_n(expected.begin(), 12, -4);
            EXPECT_EQ(dst, expected);
        }
    }
}

}  // namespace
}  // namespace tarnwell
