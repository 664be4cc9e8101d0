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

#include "cast_config.hpp"
#include "float_to_float.hpp"
#include "float_to_int.hpp"
#include "slice_test_support.hpp"
#include "simd/simd.hpp"

// Each fast path against the element loop it replaces, on random slices rich in the
// values where they could part: NaNs of both signs, infinities, halfway points and the
// neighbours of every bound. Where the loop succeeds the values must be equal; where it
// fails, the error and the destination must be what the block rules make of the loop's
// failure.
namespace tarnwell::simd {
namespace {

using test_support::describe;
using test_support::same_bits;
using test_support::same_error;
using test_support::untouched;

constexpr double inf = std::numeric_limits<double>::infinity();

template <FloatElement S, IntegerElement D>
CastResult element_loop(std::span<const S> src, std::span<D> dst, const CastConfig<S, D>& config) {
    return convert_slice_float_to_int_scalar(src, dst, config);
}

template <FloatElement S, FloatElement D>
CastResult element_loop(std::span<const S> src, std::span<D> dst, const CastConfig<S, D>& config) {
    return convert_slice_float_to_float_scalar(src, dst, config);
}

// ---- Comparison helpers.

template <class T>
std::string describe(std::span<const T> values) {
    std::string text;
    for (const T v : values) {
        text += std::to_string(static_cast<double>(v)) + " ";
    }
    return text;
}

template <class S, class D>
struct LoopRun {
    CastResult result;
    std::vector<D> dst;
};

template <class S, class D>
LoopRun<S, D> run_loop(std::span<const S> src, std::optional<OutOfRangeMode> policy, RoundingMode mode) {
    LoopRun<S, D> run{{}, untouched<D>(src.size())};
    run.result = element_loop(src, std::span<D>(run.dst), CastConfig<S, D>{{}, policy, mode});
    return run;
}

// The index of the loop's failing element: the shortest failing prefix ends with it.
template <class S, class D>
std::size_t failing_index(std::span<const S> src, std::optional<OutOfRangeMode> policy, RoundingMode mode) {
    std::size_t lo = 0;
    std::size_t hi = src.size() - 1;
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (run_loop<S, D>(src.first(mid + 1), policy, mode).result) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

template <class D>
struct FastPathOutcome {
    std::optional<CastError> error;
    std::vector<D> dst;
};

// The fast path's outcome derived from the element loop's: the block (or, past the last
// whole block, the element) holding the loop's failure is where the fast path fails, and
// nothing of it is written. The checking variant reports the first NaN of that block, if
// any, and otherwise the failing element's value before rounding.
template <class S, class D>
FastPathOutcome<D> expected_rounding(std::span<const S> src, std::optional<OutOfRangeMode> policy, RoundingMode mode,
                              std::size_t block) {
    const auto loop = run_loop<S, D>(src, policy, mode);
    if (loop.result) {
        return {std::nullopt, loop.dst};
    }
    const std::size_t i = failing_index<S, D>(src, policy, mode);
    const std::size_t whole = src.size() / block * block;
    const std::size_t start = i < whole ? i / block * block : i;
    const std::size_t size = i < whole ? block : 1;
    FastPathOutcome<D> expected{loop.result.error(), untouched<D>(src.size())};
    std::copy_n(loop.dst.begin(), start, expected.dst.begin());
    if (!policy) {
        const auto unit = src.subspan(start, size);
        const auto first_nan = std::find_if(unit.begin(), unit.end(), [](S x) { return std::isnan(x); });
        if (first_nan != unit.end()) {
            expected.error = NanOrInf{static_cast<double>(*first_nan)};
        } else {
            const auto& loop_error = std::get<OutOfRange>(loop.result.error());
            expected.error = OutOfRange{static_cast<double>(src[i]), loop_error.lo, loop_error.hi};
        }
    }
    return expected;
}

// ---- Random slices.

template <class S>
struct ValuePool {
    std::vector<S> special;  // bounds, their neighbours, halfway points, NaNs, infinities
    double ordinary_lo;
    double ordinary_hi;
};

template <class S>
std::vector<S> around(std::initializer_list<double> points) {
    std::vector<S> values;
    for (const double p : points) {
        const S v = static_cast<S>(p);
        values.push_back(v);
        values.push_back(std::nextafter(v, static_cast<S>(-inf)));
        values.push_back(std::nextafter(v, static_cast<S>(inf)));
    }
    return values;
}

template <class S>
std::vector<S> with_nans_and_infinities(std::vector<S> values) {
    const S quiet = std::numeric_limits<S>::quiet_NaN();
    const S payload = std::bit_cast<S>(std::bit_cast<std::conditional_t<sizeof(S) == 8, std::uint64_t, std::uint32_t>>(
                                           quiet) |
                                       1u);
    for (const S v : {quiet, -quiet, payload, -payload, static_cast<S>(inf), static_cast<S>(-inf)}) {
        values.push_back(v);
    }
    return values;
}

template <class S>
ValuePool<S> uint8_pool() {
    return {with_nans_and_infinities(around<S>({0.0, -0.0, 0.5, -0.5, 1.5, 2.5, 254.5, 255.0, 255.5, 256.0, -1.0,
                                                 static_cast<double>(std::numeric_limits<S>::max())})),
            -20.0, 280.0};
}

ValuePool<double> int32_pool() {
    return {with_nans_and_infinities(around<double>({-2147483648.0, -2147483648.5, -2147483649.0, 2147483647.0,
                                                     2147483647.5, 2147483648.0, 0.5, -0.5, 3e9, -1e300, 1e300})),
            -2.2e9, 2.2e9};
}

ValuePool<double> float32_pool() {
    return {with_nans_and_infinities(around<double>({std::numeric_limits<float>::max(), 3.4028235677973366e38,
                                                     -3.4028235677973366e38, 1e39, -1e39, 1.0 + 0x1p-24,
                                                     0x1p-149, 0x1p-150, -0x1p-150, 1e-300})),
            -1e6, 1e6};
}

template <class S>
std::vector<S> random_slice(std::mt19937_64& rng, const ValuePool<S>& pool, std::size_t n, double special_share) {
    std::uniform_real_distribution<double> ordinary(pool.ordinary_lo, pool.ordinary_hi);
    std::uniform_real_distribution<double> coin(0.0, 1.0);
    std::uniform_int_distribution<std::size_t> pick(0, pool.special.size() - 1);
    std::vector<S> src(n);
    for (auto& x : src) {
        x = coin(rng) < special_share ? pool.special[pick(rng)] : static_cast<S>(ordinary(rng));
    }
    return src;
}

// Short slices cover every split into blocks and tail; the long ones cover the wider
// steps of the larger instruction sets and the float32 kernels' chunked overflow flags.
std::vector<std::size_t> lengths() {
    std::vector<std::size_t> n(41);
    for (std::size_t i = 0; i <= 40; ++i) {
        n[i] = i;
    }
    for (const std::size_t long_length : {257u, 1030u, 2501u}) {
        n.push_back(long_length);
    }
    return n;
}

constexpr RoundingMode supported_modes[] = {RoundingMode::NearestEven, RoundingMode::TowardsZero,
                                            RoundingMode::TowardsPositive, RoundingMode::TowardsNegative};
constexpr int slices_per_length = 24;

template <class D>
void expect_match(const FastPathResult& result, std::span<const D> dst, const FastPathOutcome<D>& expected,
                  const std::string& context) {
    if (expected.error) {
        ASSERT_FALSE(result) << context << ": expected " << describe(*expected.error);
        ASSERT_TRUE(same_error(result.error(), *expected.error))
            << context << ": got " << describe(result.error()) << ", expected " << describe(*expected.error);
    } else {
        ASSERT_TRUE(result) << context << ": got " << describe(result.error());
        ASSERT_EQ(*result, Coverage::Handled) << context;
    }
    ASSERT_TRUE(std::memcmp(dst.data(), expected.dst.data(), dst.size_bytes()) == 0)
        << context << "\n got      " << describe(dst) << "\n expected " << describe(std::span<const D>(expected.dst));
}

template <class S, class D>
using RoundingPath = FastPathResult (*)(std::span<const S>, std::span<D>, RoundingMode);

template <class S, class D>
void check_rounding_path(RoundingPath<S, D> path, const ValuePool<S>& pool, std::optional<OutOfRangeMode> policy,
                         std::size_t block) {
    std::mt19937_64 rng(20261211);
    for (const Level level : available_levels()) {
        if (level == Level::Declining) {
            continue;
        }
        const ScopedLevel pinned(level);
        for (const RoundingMode mode : supported_modes) {
            for (const std::size_t n : lengths()) {
                for (int trial = 0; trial < slices_per_length; ++trial) {
                    const double special_share = n > 40 ? 0.002 * trial : 0.02 * trial;
                    const auto src = random_slice(rng, pool, n, special_share);
                    const auto expected = expected_rounding<S, D>(src, policy, mode, block);
                    auto dst = untouched<D>(n);
                    const auto result = path(src, dst, mode);
                    const std::string context = std::string(to_str(level)) + " " + std::string(to_str(mode)) +
                                                " n=" + std::to_string(n) + " src=" +
                                                describe(std::span<const S>(src));
                    expect_match<D>(result, dst, expected, context);
                    if (testing::Test::HasFatalFailure()) {
                        return;
                    }
                }
            }
        }
    }
}

TEST(SimdAgainstElementLoop, Float32ToUint8Clamp) {
    check_rounding_path<float, std::uint8_t>(try_f32_to_u8_clamp, uint8_pool<float>(), OutOfRangeMode::Clamp, 8);
}

TEST(SimdAgainstElementLoop, Float64ToUint8Clamp) {
    check_rounding_path<double, std::uint8_t>(try_f64_to_u8_clamp, uint8_pool<double>(), OutOfRangeMode::Clamp, 8);
}

TEST(SimdAgainstElementLoop, Float64ToInt32Clamp) {
    check_rounding_path<double, std::int32_t>(try_f64_to_i32_clamp, int32_pool(), OutOfRangeMode::Clamp, 2);
}

TEST(SimdAgainstElementLoop, Float64ToInt32Check) {
    check_rounding_path<double, std::int32_t>(try_f64_to_i32_check, int32_pool(), std::nullopt, 2);
}

// The narrowing path writes the whole destination, as the loop does under Clamp, and then
// reports the error that the loop reports without a policy.
TEST(SimdAgainstElementLoop, Float64ToFloat32Nearest) {
    std::mt19937_64 rng(20261212);
    const auto pool = float32_pool();
    for (const Level level : available_levels()) {
        if (level == Level::Declining) {
            continue;
        }
        const ScopedLevel pinned(level);
        for (const bool test_overflow : {true, false}) {
            for (const std::size_t n : lengths()) {
                for (int trial = 0; trial < slices_per_length; ++trial) {
                    const auto src = random_slice(rng, pool, n, n > 40 ? 0.001 * trial : 0.01 * trial);
                    const auto written = run_loop<double, float>(src, OutOfRangeMode::Clamp, RoundingMode::NearestEven);
                    const auto checked = run_loop<double, float>(src, std::nullopt, RoundingMode::NearestEven);
                    FastPathOutcome<float> expected{std::nullopt, written.dst};
                    if (test_overflow && !checked.result) {
                        expected.error = checked.result.error();
                    }
                    auto dst = untouched<float>(n);
                    const auto result = try_f64_to_f32_nearest(src, dst, test_overflow);
                    const std::string context = std::string(to_str(level)) + (test_overflow ? " tested" : " untested") +
                                                " n=" + std::to_string(n);
                    expect_match<float>(result, dst, expected, context);
                    if (testing::Test::HasFatalFailure()) {
                        return;
                    }
                }
            }
        }
    }
}

// The binary16 paths keep the element loop's outcome in full, destination included; on
// levels without half-precision instructions they decline and write nothing.
template <class S>
ValuePool<S> float16_narrowing_pool() {
    auto special = with_nans_and_infinities(around<S>({65504.0, 65520.0, 65519.998046875, 65519.0, 65505.0, -65520.0,
                                                        1.0 + 0x1p-11, 0x1p-24, 0x1p-25, 0x1p-14, -0x1p-25, 1e30}));
    using Bits = std::conditional_t<sizeof(S) == 8, std::uint64_t, std::uint32_t>;
    special.push_back(std::bit_cast<S>(std::bit_cast<Bits>(std::numeric_limits<S>::infinity()) | 1u));  // signalling
    return {special, -7e4, 7e4};
}

template <class S>
void check_float16_narrowing(FastPathResult (*path)(std::span<const S>, std::span<float16>, bool)) {
    std::mt19937_64 rng(20261213);
    const auto pool = float16_narrowing_pool<S>();
    for (const Level level : available_levels()) {
        const ScopedLevel pinned(level);
        for (const bool test_overflow : {true, false}) {
            const std::optional<OutOfRangeMode> policy =
                test_overflow ? std::nullopt : std::optional(OutOfRangeMode::Clamp);
            for (const std::size_t n : lengths()) {
                for (int trial = 0; trial < slices_per_length; ++trial) {
                    const auto src = random_slice(rng, pool, n, n > 40 ? 0.001 * trial : 0.02 * trial);
                    const auto loop = run_loop<S, float16>(src, policy, RoundingMode::NearestEven);
                    auto dst = untouched<float16>(n);
                    const auto result = path(src, dst, test_overflow);
                    const std::string context = std::string(to_str(level)) + (test_overflow ? " tested" : " untested") +
                                                " n=" + std::to_string(n);
                    ASSERT_TRUE(result || !loop.result) << context;
                    if (result && *result == Coverage::Declined) {
                        ASSERT_TRUE(std::memcmp(dst.data(), untouched<float16>(n).data(), n * sizeof(float16)) == 0)
                            << context;
                        continue;
                    }
                    FastPathOutcome<float16> expected{std::nullopt, loop.dst};
                    if (!loop.result) {
                        expected.error = loop.result.error();
                    }
                    expect_match<float16>(result, dst, expected, context);
                    if (testing::Test::HasFatalFailure()) {
                        return;
                    }
                }
            }
        }
    }
}

TEST(SimdAgainstElementLoop, Float32ToFloat16Nearest) { check_float16_narrowing<float>(try_f32_to_f16_nearest); }

TEST(SimdAgainstElementLoop, Float64ToFloat16Nearest) { check_float16_narrowing<double>(try_f64_to_f16_nearest); }

// Every binary16 pattern, in a slice whose length leaves a tail.
template <class D>
void check_float16_widening(FastPathResult (*path)(std::span<const float16>, std::span<D>)) {
    std::vector<float16> src;
    for (std::uint32_t bits = 0; bits <= 0xffff; ++bits) {
        src.push_back(float16::from_bits(static_cast<std::uint16_t>(bits)));
    }
    src.push_back(float16::from_bits(0x7d01));
    const auto loop = run_loop<float16, D>(src, std::nullopt, RoundingMode::TowardsZero);
    for (const Level level : available_levels()) {
        const ScopedLevel pinned(level);
        auto dst = untouched<D>(src.size());
        const auto result = path(src, dst);
        ASSERT_TRUE(result) << to_str(level);
        const auto& expected = *result == Coverage::Handled ? loop.dst : untouched<D>(src.size());
        for (std::size_t i = 0; i < src.size(); ++i) {
            ASSERT_TRUE(std::memcmp(&dst[i], &expected[i], sizeof(D)) == 0)
                << to_str(level) << ": pattern " << src[i].bits() << " gives " << static_cast<double>(dst[i]);
        }
    }
}

TEST(SimdAgainstElementLoop, Float16ToFloat32) { check_float16_widening<float>(try_f16_to_f32); }

TEST(SimdAgainstElementLoop, Float16ToFloat64) { check_float16_widening<double>(try_f16_to_f64); }

}  // namespace
}  // namespace tarnwell::simd
