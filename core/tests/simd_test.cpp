#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "internal_failure.hpp"
#include "slice_test_support.hpp"
#include "simd/simd.hpp"

namespace tarnwell::simd {
namespace {

using test_support::describe;
using test_support::same_bits;
using test_support::same_error;
using test_support::untouched;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double float_max = std::numeric_limits<float>::max();

template <class T>
bool same_contents(std::span<const T> a, std::span<const T> b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size_bytes()) == 0;
}

std::string level_name(const testing::TestParamInfo<Level>& info) {
    std::string name(to_str(info.param));
    name.erase(std::remove(name.begin(), name.end(), '.'), name.end());
    return name;
}

class SimdLevel : public testing::TestWithParam<Level> {
protected:
    bool declines() const { return GetParam() == Level::Declining; }
    ScopedLevel pinned_{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(EveryLevel, SimdLevel, testing::ValuesIn(available_levels()), level_name);

// The expected outcome of one call: the result and the whole destination afterwards.
template <class D>
struct Outcome {
    std::optional<CastError> error;
    std::vector<D> dst;
};

template <class D>
void expect_outcome(const FastPathResult& result, std::span<const D> dst, const Outcome<D>& expected, bool declines,
                    const std::string& context) {
    if (declines) {
        ASSERT_TRUE(result) << context;
        EXPECT_EQ(*result, Coverage::Declined) << context;
        EXPECT_TRUE(same_contents(dst, std::span<const D>(untouched<D>(dst.size())))) << context;
        return;
    }
    if (expected.error) {
        ASSERT_FALSE(result) << context << ": expected " << describe(*expected.error);
        EXPECT_TRUE(same_error(result.error(), *expected.error))
            << context << ": got " << describe(result.error()) << ", expected " << describe(*expected.error);
    } else {
        ASSERT_TRUE(result) << context << ": got " << describe(result.error());
        EXPECT_EQ(*result, Coverage::Handled) << context;
    }
    EXPECT_TRUE(same_contents(dst, std::span<const D>(expected.dst))) << context;
}

// ---- Edge cases, each run on every level.

struct RoundingCase {
    std::string name;
    std::vector<double> src;
    RoundingMode mode;
    std::optional<CastError> error;
    std::vector<double> dst;  // whole destination afterwards; NaN marks an untouched element
};

template <class D>
Outcome<D> outcome_of(const RoundingCase& c) {
    Outcome<D> o{c.error, untouched<D>(c.dst.size())};
    for (std::size_t i = 0; i < c.dst.size(); ++i) {
        if (!std::isnan(c.dst[i])) {
            o.dst[i] = static_cast<D>(c.dst[i]);
        }
    }
    return o;
}

TEST_P(SimdLevel, Float32ToUint8ClampsRoundedValues) {
    const std::vector<float> src = {-0.0f, -1.0f, 255.4f, 255.6f, HUGE_VALF, -HUGE_VALF, 0.5f, 1.5f, 2.5f};
    const RoundingCase c{"", {}, RoundingMode::NearestEven, std::nullopt, {0, 0, 255, 255, 255, 0, 0, 2, 2}};
    auto dst = untouched<std::uint8_t>(src.size());
    const auto result = try_f32_to_u8_clamp(src, dst, c.mode);
    expect_outcome<std::uint8_t>(result, dst, outcome_of<std::uint8_t>(c), declines(), "float32 to uint8");
}

TEST_P(SimdLevel, Float64ToUint8Cases) {
    std::vector<double> nan_at_10(16, 7.0);
    nan_at_10[10] = -nan;
    const std::vector<RoundingCase> cases = {
        {"empty", {}, RoundingMode::NearestEven, std::nullopt, {}},
        {"NaN in the second block leaves it unwritten",
         nan_at_10,
         RoundingMode::NearestEven,
         NanOrInf{-nan},
         {7, 7, 7, 7, 7, 7, 7, 7, nan, nan, nan, nan, nan, nan, nan, nan}},
        {"NaN in the tail keeps the tail elements before it",
         {1, 2, 3, 4, 5, 6, 7, 8, 9.5, 10.5, nan, 12},
         RoundingMode::NearestEven,
         NanOrInf{nan},
         {1, 2, 3, 4, 5, 6, 7, 8, 10, 10, nan, nan}},
        {"a NaN anywhere in a block leaves the whole block unwritten",
         {300, -3, 1, 1, 1, 1, 1, nan},
         RoundingMode::TowardsZero,
         NanOrInf{nan},
         {nan, nan, nan, nan, nan, nan, nan, nan}},
        {"directed modes near the bounds",
         {-0.9, 254.1, 255.9, -0.0, 0.1, 1e300, -1e300, -inf, 254.5},
         RoundingMode::TowardsPositive,
         std::nullopt,
         {0, 255, 255, 0, 1, 255, 0, 0, 255}},
        {"floor near the bounds",
         {-0.1, 255.9, 256.0, 0.9, 1.5, 2.5, 3.5, inf, 254.5},
         RoundingMode::TowardsNegative,
         std::nullopt,
         {0, 255, 255, 0, 1, 2, 3, 255, 254}},
    };
    for (const auto& c : cases) {
        auto dst = untouched<std::uint8_t>(c.dst.size());
        const auto result = try_f64_to_u8_clamp(c.src, dst, c.mode);
        expect_outcome<std::uint8_t>(result, dst, outcome_of<std::uint8_t>(c), declines(), c.name);
    }
}

TEST_P(SimdLevel, Float64ToInt32Cases) {
    const OutOfRange above{2147483647.5, -2147483648.0, 2147483647.0};
    const std::vector<RoundingCase> checked = {
        {"rounded above the maximum reports the value before rounding",
         {2147483647.5, 1.0},
         RoundingMode::NearestEven,
         above,
         {nan, nan}},
        {"truncation keeps it in range", {2147483647.5, 1.0}, RoundingMode::TowardsZero, std::nullopt, {2147483647, 1}},
        {"a NaN after an out-of-range value in its pair wins", {3e9, nan}, RoundingMode::NearestEven, NanOrInf{nan},
         {nan, nan}},
        {"failing pair after a written pair",
         {-2147483648.4, 5.5, 1.0, -2147483649.0},
         RoundingMode::TowardsZero,
         OutOfRange{-2147483649.0, -2147483648.0, 2147483647.0},
         {-2147483648.0, 5, nan, nan}},
        {"odd last element alone", {1.0, 2.0, -inf}, RoundingMode::TowardsNegative,
         OutOfRange{-inf, -2147483648.0, 2147483647.0}, {1, 2, nan}},
        {"ceiling of the minimum's neighbour", {-2147483648.9, 2147483646.1}, RoundingMode::TowardsPositive,
         std::nullopt, {-2147483648.0, 2147483647}},
    };
    for (const auto& c : checked) {
        auto dst = untouched<std::int32_t>(c.dst.size());
        const auto result = try_f64_to_i32_check(c.src, dst, c.mode);
        expect_outcome<std::int32_t>(result, dst, outcome_of<std::int32_t>(c), declines(), "check: " + c.name);
    }
    const std::vector<RoundingCase> clamped = {
        {"saturates huge values and infinities",
         {-1e300, inf, -inf, 2147483647.5, -2147483648.5},
         RoundingMode::NearestEven,
         std::nullopt,
         {-2147483648.0, 2147483647, -2147483648.0, 2147483647, -2147483648.0}},
        {"NaN stops before its pair",
         {1, 2, 3, nan, 5},
         RoundingMode::TowardsZero,
         NanOrInf{nan},
         {1, 2, nan, nan, nan}},
    };
    for (const auto& c : clamped) {
        auto dst = untouched<std::int32_t>(c.dst.size());
        const auto result = try_f64_to_i32_clamp(c.src, dst, c.mode);
        expect_outcome<std::int32_t>(result, dst, outcome_of<std::int32_t>(c), declines(), "clamp: " + c.name);
    }
}

TEST_P(SimdLevel, Float64ToFloat32WritesEverythingBeforeReportingOverflow) {
    const std::vector<double> src = {1e39, 1.0, nan, 2.0, -inf};
    const std::vector<float> converted = {HUGE_VALF, 1.0f, std::numeric_limits<float>::quiet_NaN(), 2.0f, -HUGE_VALF};
    for (const bool test_overflow : {true, false}) {
        auto dst = untouched<float>(src.size());
        const auto result = try_f64_to_f32_nearest(src, dst, test_overflow);
        Outcome<float> expected{std::nullopt, converted};
        if (test_overflow) {
            expected.error = OutOfRange{1e39, -float_max, float_max};
        }
        expect_outcome<float>(result, dst, expected, declines(), test_overflow ? "tested" : "untested");
    }
}

TEST_P(SimdLevel, RejectsBrokenPreconditions) {
    const std::vector<double> src(4, 1.0);
    std::vector<std::uint8_t> bytes(4);
    std::vector<std::int32_t> ints(4);
    EXPECT_THROW((void)try_f64_to_u8_clamp(src, bytes, RoundingMode::NearestAway), InternalFailure);
    EXPECT_THROW((void)try_f64_to_i32_check(src, ints, RoundingMode::NearestAway), InternalFailure);
    EXPECT_THROW((void)try_f64_to_i32_clamp(src, std::span(ints).first(3), RoundingMode::NearestEven),
                 InternalFailure);
}

TEST(SimdLevels, DecliningIsAlwaysAvailableAndPinningRestores) {
    const auto levels = available_levels();
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(levels.front(), Level::Declining);
    EXPECT_EQ(active_level(), levels.back());
    {
        ScopedLevel pinned(Level::Declining);
        EXPECT_EQ(active_level(), Level::Declining);
    }
    EXPECT_EQ(active_level(), levels.back());
    const Level foreign = std::find(levels.begin(), levels.end(), Level::Neon) == levels.end() ? Level::Neon
                                                                                                : Level::Avx2;
    EXPECT_THROW(ScopedLevel{foreign}, InternalFailure);
}

}  // namespace
}  // namespace tarnwell::simd
