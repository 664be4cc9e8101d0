#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "cast_config.hpp"
#include "slice_test_support.hpp"
#include "float_bits.hpp"
#include "float_to_float.hpp"
#include "simd/simd.hpp"

// The narrowings under the four rounding modes other than nearest-even, through the slice
// conversion at every vector level, against the element loop alone: the result, the error
// and every byte of the destination (written prefix and untouched rest) must be the loop's.
namespace tarnwell {
namespace {

using test_support::untouched;

constexpr RoundingMode stepped_modes[] = {RoundingMode::TowardsZero, RoundingMode::TowardsPositive,
                                          RoundingMode::TowardsNegative, RoundingMode::NearestAway};
const std::optional<OutOfRangeMode> policies[] = {std::nullopt, OutOfRangeMode::Clamp, OutOfRangeMode::Wrap};

template <FloatElement T>
T from_double(double x) {
    if constexpr (std::is_same_v<T, float16>) {
        return float16(static_cast<float>(x));
    } else {
        return static_cast<T>(x);
    }
}

template <FloatElement T>
T step_bits(T x, int by) {
    return from_bits<T>(static_cast<FloatBits<T>>(to_bits(x) + static_cast<FloatBits<T>>(by)));
}

// Source values where a narrowing can go wrong. `tame` never overflows the target;
// `wild` holds values at and beyond the overflow thresholds and arbitrary bit patterns.
template <FloatElement S, FloatElement D>
class ValueSource {
public:
    explicit ValueSource(std::uint64_t seed) : rng_(seed) {}

    S tame() {
        switch (pick(6)) {
            case 0:  // a target value, exact in the source
                return widen(random_target());
            case 1: {  // a halfway point between neighbours of the target, or one unit either side
                D low = random_target();
                if (!is_finite(low) || to_bits(low) == (to_bits(max_target()) & ElementTraits<D>::magnitude_mask)) {
                    low = from_bits<D>(1);
                }
                const double mid = (to_double(low) + to_double(step_bits(low, 1))) * 0.5;
                return step_bits(static_cast<S>(mid), static_cast<int>(pick(3)) - 1);
            }
            case 2:  // NaNs of both signs with random payloads, and infinities
            {
                const FloatBits<S> payload = static_cast<FloatBits<S>>(rng_()) & ElementTraits<S>::magnitude_mask;
                const FloatBits<S> sign = pick(2) != 0 ? ElementTraits<S>::sign_mask : 0;
                const FloatBits<S> bits = pick(4) == 0 ? ElementTraits<S>::infinity_bits
                                                       : (ElementTraits<S>::infinity_bits | payload | 1u);
                return from_bits<S>(static_cast<FloatBits<S>>(sign | bits));
            }
            case 3:  // tiny sources: subnormal targets, halfway to zero, source subnormals
            {
                const double tiny = std::ldexp(static_cast<double>(rng_() % 64), -static_cast<int>(pick(30)) -
                                                                                  ElementTraits<D>::fraction_bits - 14);
                return signed_source(static_cast<S>(tiny));
            }
            case 4:
                return signed_source(pick(2) != 0 ? S(0) : std::numeric_limits<S>::denorm_min());
            default:  // a value within the target's range
                return signed_source(
                    static_cast<S>(std::uniform_real_distribution<double>(0, to_double(max_target()))(rng_)));
        }
    }

    S wild() {
        const double max = to_double(max_target());
        const double ulp = max - to_double(step_bits(max_target(), -1));
        const double thresholds[] = {max, max + ulp / 2, max + ulp, 65519.998046875, 1e300};
        if (pick(3) == 0) {
            return from_bits<S>(static_cast<FloatBits<S>>(rng_()));
        }
        const S near = static_cast<S>(thresholds[pick(std::size(thresholds))]);
        return signed_source(step_bits(near, static_cast<int>(pick(3)) - 1));
    }

    std::vector<S> slice(std::size_t n, double wild_share) {
        std::vector<S> v(n);
        for (auto& x : v) {
            x = std::bernoulli_distribution(wild_share)(rng_) ? wild() : tame();
        }
        return v;
    }

private:
    std::uint64_t pick(std::uint64_t count) { return rng_() % count; }

    static D max_target() { return from_double<D>(static_cast<double>(ElementTraits<D>::max_finite)); }

    D random_target() { return from_bits<D>(static_cast<FloatBits<D>>(rng_())); }

    static S widen(D x) {
        if constexpr (std::is_same_v<S, double>) {
            return to_double(x);
        } else {
            return static_cast<float>(x);
        }
    }

    S signed_source(S x) { return pick(2) != 0 ? from_bits<S>(to_bits(x) ^ ElementTraits<S>::sign_mask) : x; }

    std::mt19937_64 rng_;
};

template <FloatElement S, FloatElement D>
void expect_element_loop_outcome(std::span<const S> src, const CastConfig<S, D>& config, const std::string& context) {
    auto expected = untouched<D>(src.size());
    auto actual = untouched<D>(src.size());
    const CastResult loop = convert_slice_float_to_float_scalar<S, D>(src, expected, config);
    const CastResult fast = convert_slice_float_to_float<S, D>(src, actual, config);
    ASSERT_EQ(fast.has_value(), loop.has_value()) << context;
    if (!loop) {
        ASSERT_TRUE(test_support::same_error(fast.error(), loop.error()))
            << context << ": " << test_support::describe(fast.error()) << " vs " << test_support::describe(loop.error());
    }
    for (std::size_t i = 0; i < src.size(); ++i) {
        ASSERT_EQ(to_bits(actual[i]), to_bits(expected[i]))
            << context << " at " << i << " source " << std::hexfloat << static_cast<double>(src[i]);
    }
}

std::vector<std::size_t> lengths() {
    std::vector<std::size_t> n;
    for (std::size_t k = 0; k <= 40; ++k) {
        n.push_back(k);
    }
    for (const std::size_t k : {63, 64, 65, 1000, 4099}) {
        n.push_back(k);
    }
    return n;
}

template <FloatElement S, FloatElement D>
void check_against_element_loop(std::uint64_t seed) {
    ValueSource<S, D> values(seed);
    for (const simd::Level level : simd::available_levels()) {
        const simd::ScopedLevel pinned(level);
        for (const RoundingMode mode : stepped_modes) {
            for (const auto policy : policies) {
                for (const std::size_t n : lengths()) {
                    // No wild values, then sparser failures the longer the slice.
                    for (const double share : {0.0, 0.3 / static_cast<double>(n + 1), 0.05}) {
                        const auto src = values.slice(n, share);
                        const std::string context = std::string(simd::to_str(level)) + " " +
                                                    std::string(to_str(mode)) + " " +
                                                    (policy ? std::string(to_str(*policy)) : "no policy") +
                                                    " n=" + std::to_string(n);
                        expect_element_loop_outcome<S, D>(src, CastConfig<S, D>{{}, policy, mode}, context);
                        if (testing::Test::HasFatalFailure()) {
                            return;
                        }
                    }
                }
            }
        }
    }
}

TEST(SteppedNarrowingAgainstElementLoop, Float64ToFloat32) { check_against_element_loop<double, float>(1); }

TEST(SteppedNarrowingAgainstElementLoop, Float32ToFloat16) { check_against_element_loop<float, float16>(2); }

TEST(SteppedNarrowingAgainstElementLoop, Float64ToFloat16) { check_against_element_loop<double, float16>(3); }

// Single values with their results worked out by hand, placed inside the second vector
// block of a slice of 1.5s. An expected result of nullopt is an OutOfRange error: the
// elements before it are written and it and the rest are untouched.
template <FloatElement D>
struct SteppedCase {
    const char* name;
    double source;
    RoundingMode mode;
    std::optional<OutOfRangeMode> policy;
    std::optional<FloatBits<D>> expected;
};

template <FloatElement D>
void check_cases(std::span<const SteppedCase<D>> cases) {
    constexpr std::size_t length = 24;
    constexpr std::size_t at = 11;
    const FloatBits<D> one_and_a_half = to_bits(from_double<D>(1.5));
    for (const simd::Level level : simd::available_levels()) {
        const simd::ScopedLevel pinned(level);
        for (const auto& c : cases) {
            const std::string context = std::string(c.name) + " at " + std::string(simd::to_str(level));
            std::vector<double> src(length, 1.5);
            src[at] = c.source;
            auto dst = untouched<D>(length);
            const CastResult result =
                convert_slice_float_to_float<double, D>(src, dst, CastConfig<double, D>{{}, c.policy, c.mode});
            const FloatBits<D> untouched_bits = to_bits(untouched<D>(1)[0]);
            for (std::size_t i = 0; i < length; ++i) {
                FloatBits<D> want = one_and_a_half;
                if (!c.expected && i >= at) {
                    want = untouched_bits;
                } else if (i == at) {
                    want = *c.expected;
                }
                EXPECT_EQ(to_bits(dst[i]), want) << context << " element " << i;
            }
            if (c.expected) {
                EXPECT_TRUE(result) << context;
            } else {
                const double max = ElementTraits<D>::max_finite;
                ASSERT_FALSE(result) << context;
                EXPECT_TRUE(test_support::same_error(result.error(), OutOfRange{c.source, -max, max}))
                    << context << ": " << test_support::describe(result.error());
            }
        }
    }
}

using RM = RoundingMode;
constexpr auto clamp = std::optional(OutOfRangeMode::Clamp);
constexpr auto wrap = std::optional(OutOfRangeMode::Wrap);
constexpr auto no_policy = std::optional<OutOfRangeMode>();

TEST(SteppedNarrowing, Float64ToFloat16Cases) {
    constexpr double halfway = 1.0 + 0x1p-11;  // between 1 and its binary16 successor
    const SteppedCase<float16> cases[] = {
        {"halfway down", halfway, RM::TowardsNegative, no_policy, 0x3c00},
        {"halfway up", halfway, RM::TowardsPositive, no_policy, 0x3c01},
        {"halfway away", halfway, RM::NearestAway, no_policy, 0x3c01},
        {"negative halfway away", -halfway, RM::NearestAway, no_policy, 0xbc01},
        {"negative halfway towards zero", -halfway, RM::TowardsZero, no_policy, 0xbc00},
        {"negative halfway up", -halfway, RM::TowardsPositive, no_policy, 0xbc00},
        // binary32 rounds this to the halfway point, which ties to 1; it still lies above 1.
        {"above halfway through binary32, up", halfway + 0x1p-40, RM::TowardsPositive, no_policy, 0x3c01},
        {"above halfway through binary32, away", halfway + 0x1p-40, RM::NearestAway, no_policy, 0x3c00},
        {"tiny up is the least subnormal", 0x1p-40, RM::TowardsPositive, no_policy, 0x0001},
        {"tiny down is zero", 0x1p-40, RM::TowardsNegative, no_policy, 0x0000},
        {"negative tiny down", -0x1p-40, RM::TowardsNegative, no_policy, 0x8001},
        {"negative tiny towards zero", -0x1p-40, RM::TowardsZero, no_policy, 0x8000},
        {"half the least subnormal away", 0x1p-25, RM::NearestAway, no_policy, 0x0001},
        {"above max, down", 65504.5, RM::TowardsNegative, no_policy, 0x7bff},
        {"above max, up", 65504.5, RM::TowardsPositive, no_policy, std::nullopt},
        {"above max, up, clamped", 65504.5, RM::TowardsPositive, clamp, 0x7c00},
        {"threshold towards zero", 65520.0, RM::TowardsZero, no_policy, 0x7bff},
        {"far beyond, towards zero", 1e300, RM::TowardsZero, wrap, 0x7bff},
        {"below -max, down", -65504.5, RM::TowardsNegative, wrap, std::nullopt},
        // binary32 rounds it to 65520, which ties to infinity, and it is no exact halfway.
        {"just below the threshold, away", 65519.998046875, RM::NearestAway, no_policy, std::nullopt},
        {"infinity stays", std::numeric_limits<double>::infinity(), RM::TowardsZero, no_policy, 0x7c00},
    };
    check_cases<float16>(cases);
}

TEST(SteppedNarrowing, Float64ToFloat32Cases) {
    constexpr double max = std::numeric_limits<float>::max();
    const SteppedCase<float> cases[] = {
        {"tiny up is the least subnormal", 1e-300, RM::TowardsPositive, no_policy, 0x0000'0001},
        {"halfway away", 1.0 + 0x1p-24, RM::NearestAway, no_policy, 0x3f80'0001},
        {"halfway down", -(1.0 + 0x1p-24), RM::TowardsNegative, no_policy, 0xbf80'0001},
        {"threshold towards zero", 3.4028235677973366e38, RM::TowardsZero, no_policy, 0x7f7f'ffff},
        {"above max, up", std::nextafter(max, 1e300), RM::TowardsPositive, no_policy, std::nullopt},
        {"above max, up, clamped", std::nextafter(max, 1e300), RM::TowardsPositive, clamp, 0x7f80'0000},
    };
    check_cases<float>(cases);
}

}  // namespace
}  // namespace tarnwell
