#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "float_reference.hpp"
#include "float_to_int.hpp"
#include "rounding_direction.hpp"

namespace tarnwell {
namespace {

using testing::expect_same_in_every_rounding_direction;
using testing::make;
using testing::reference_round;

using FloatTypes = TypeList<float16, float, double>;
using IntegerTypes = TypeList<std::int8_t, std::int16_t, std::int32_t, std::int64_t, std::uint8_t, std::uint16_t,
                              std::uint32_t, std::uint64_t>;

constexpr RoundingMode kModes[] = {RoundingMode::NearestEven, RoundingMode::TowardsZero, RoundingMode::TowardsPositive,
                                   RoundingMode::TowardsNegative, RoundingMode::NearestAway};
constexpr std::optional<OutOfRangeMode> kPolicies[] = {std::nullopt, OutOfRangeMode::Clamp, OutOfRangeMode::Wrap};
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr auto kNone = std::nullopt;
constexpr auto kClamp = OutOfRangeMode::Clamp;
constexpr auto kWrap = OutOfRangeMode::Wrap;

// The allowed ranges as messages print them, one row per source float type.
struct PrintedBounds {
    std::string_view source, target, lo, hi;
};
constexpr PrintedBounds kPrintedBounds[] = {
    {"float16", "int8", "-128", "127"},
    {"float16", "int16", "-32768", "32768"},
    {"float16", "int32", "-inf", "inf"},
    {"float16", "int64", "-inf", "inf"},
    {"float16", "uint8", "0", "255"},
    {"float16", "uint16", "0", "inf"},
    {"float16", "uint32", "0", "inf"},
    {"float16", "uint64", "0", "inf"},
    {"float32", "int8", "-128", "127"},
    {"float32", "int16", "-32768", "32767"},
    {"float32", "int32", "-2147483648", "2147483648"},
    {"float32", "int64", "-9223372036854776000", "9223372036854776000"},
    {"float32", "uint8", "0", "255"},
    {"float32", "uint16", "0", "65535"},
    {"float32", "uint32", "0", "4294967296"},
    {"float32", "uint64", "0", "18446744073709552000"},
    {"float64", "int8", "-128", "127"},
    {"float64", "int16", "-32768", "32767"},
    {"float64", "int32", "-2147483648", "2147483647"},
    {"float64", "int64", "-9223372036854776000", "9223372036854776000"},
    {"float64", "uint8", "0", "255"},
    {"float64", "uint16", "0", "65535"},
    {"float64", "uint32", "0", "4294967295"},
    {"float64", "uint64", "0", "18446744073709552000"},
};

template <class F, class D>
const PrintedBounds& printed_bounds() {
    for (const auto& row : kPrintedBounds) {
        if (row.source == ElementTraits<F>::name && row.target == ElementTraits<D>::name) {
            return row;
        }
    }
    throw std::logic_error("pair missing from the printed table");
}

// Calls f.template operator()<F, D>() for each of the 24 pairs.
template <class Visitor>
void for_each_float_to_int_pair(Visitor visit) {
    for_each_type(FloatTypes{}, [&]<class F>() {
        for_each_type(IntegerTypes{}, [&]<class D>() { visit.template operator()<F, D>(); });
    });
}

TEST(FloatToIntBounds, EveryPairMatchesThePrintedTable) {
    int pairs = 0;
    for_each_float_to_int_pair([&]<class F, class D>() {
        const auto& row = printed_bounds<F, D>();
        using Range = FloatToIntRange<F, D>;
        EXPECT_EQ(format_number(static_cast<double>(Range::lo)), row.lo) << row.source << " to " << row.target;
        EXPECT_EQ(format_number(static_cast<double>(Range::hi)), row.hi) << row.source << " to " << row.target;
        ++pairs;
    });
    EXPECT_EQ(pairs, 24);
}

// What converting one element gives: the integer written, or the error message.
template <class D>
std::string describe(const CastResult& result, D written) {
    if (!result) {
        return message(result.error());
    }
    if constexpr (std::is_signed_v<D>) {
        return std::to_string(static_cast<long long>(written));
    } else {
        return std::to_string(static_cast<unsigned long long>(written));
    }
}

template <class F, class D, bool element_loop_only = false>
std::string convert_one(F x, RoundingMode mode, std::optional<OutOfRangeMode> policy) {
    const F src[1] = {x};
    D dst[1] = {};
    CastConfig<F, D> config;
    config.out_of_range = policy;
    config.rounding = mode;
    const CastResult result = element_loop_only ? convert_slice_float_to_int_scalar<F, D>(src, dst, config)
                                                : convert_slice_float_to_int<F, D>(src, dst, config);
    return describe(result, dst[0]);
}

// One conversion with its input already made: the binary64 literal is narrowed to F in
// the default rounding direction, whatever the direction when the conversion runs.
using BoundConversion = std::function<std::string()>;

template <class F, class D>
BoundConversion bind_conversion(F x, RoundingMode mode, std::optional<OutOfRangeMode> policy) {
    return [=] { return convert_one<F, D>(x, mode, policy); };
}

template <class F, class D>
BoundConversion bind_literal(double x, RoundingMode mode, std::optional<OutOfRangeMode> policy) {
    return bind_conversion<F, D>(make<F>(x), mode, policy);
}

std::string out_of_range(std::string_view value, std::string_view lo, std::string_view hi) {
    return "Value " + std::string(value) + " out of range [" + std::string(lo) + ", " + std::string(hi) +
           "]. Set out_of_range='clamp' or out_of_range='wrap' to handle this.";
}
std::string cannot_cast(std::string_view value) {
    return "Cannot cast " + std::string(value) + " to integer type without scalar_map";
}

std::vector<std::string> run_all(const std::vector<BoundConversion>& conversions) {
    std::vector<std::string> outcomes;
    for (const auto& convert : conversions) {
        outcomes.push_back(convert());
    }
    return outcomes;
}

struct ElementCase {
    const char* pair;
    BoundConversion (*bind)(double, RoundingMode, std::optional<OutOfRangeMode>);
    double x;
    RoundingMode mode;
    std::optional<OutOfRangeMode> policy;
    std::string expected;
};

constexpr auto NE = RoundingMode::NearestEven;
constexpr auto TZ = RoundingMode::TowardsZero;
constexpr auto NA = RoundingMode::NearestAway;

const auto f16_i8 = bind_literal<float16, std::int8_t>;
const auto f16_i16 = bind_literal<float16, std::int16_t>;
const auto f16_i32 = bind_literal<float16, std::int32_t>;
const auto f16_i64 = bind_literal<float16, std::int64_t>;
const auto f16_u16 = bind_literal<float16, std::uint16_t>;
const auto f16_u32 = bind_literal<float16, std::uint32_t>;
const auto f32_i8 = bind_literal<float, std::int8_t>;
const auto f32_i32 = bind_literal<float, std::int32_t>;
const auto f32_u8 = bind_literal<float, std::uint8_t>;
const auto f32_u32 = bind_literal<float, std::uint32_t>;
const auto f64_i8 = bind_literal<double, std::int8_t>;
const auto f64_i32 = bind_literal<double, std::int32_t>;
const auto f64_i64 = bind_literal<double, std::int64_t>;
const auto f64_u8 = bind_literal<double, std::uint8_t>;
const auto f64_u64 = bind_literal<double, std::uint64_t>;

const ElementCase kElementCases[] = {
    // The rounded value is tested and reported, not the source value.
    {"f64>u8", f64_u8, 255.5, NE, kNone, out_of_range("256", "0", "255")},
    {"f64>u8", f64_u8, 255.9, TZ, kNone, "255"},
    {"f64>u8", f64_u8, -0.9, TZ, kNone, "0"},
    {"f64>u8", f64_u8, -0.6, NE, kNone, out_of_range("-1", "0", "255")},
    {"f64>u8", f64_u8, -0.4, NE, kNone, "0"},
    {"f64>u8", f64_u8, 254.5, NE, kClamp, "254"},
    {"f64>u8", f64_u8, 254.5, NA, kClamp, "255"},
    {"f64>u8", f64_u8, -0.5, NA, kClamp, "0"},
    {"f32>u8", f32_u8, 0.4999999701976776, NA, kClamp, "1"},
    // NaN fails under every policy; infinities fail only under Wrap or past a finite bound.
    {"f64>u8", f64_u8, kNaN, NE, kClamp, cannot_cast("NaN")},
    {"f64>u8", f64_u8, -kNaN, NE, kWrap, cannot_cast("NaN")},
    {"f16>i8", f16_i8, kNaN, TZ, kNone, cannot_cast("NaN")},
    {"f64>i8", f64_i8, kInf, NE, kNone, out_of_range("inf", "-128", "127")},
    {"f64>i8", f64_i8, kInf, NE, kClamp, "127"},
    {"f64>i8", f64_i8, -kInf, NE, kClamp, "-128"},
    {"f64>i8", f64_i8, -kInf, NE, kWrap, cannot_cast("-inf")},
    // Wrap reduces modulo 2^w in the source precision.
    {"f64>i8", f64_i8, 300, NE, kWrap, "44"},
    {"f64>i8", f64_i8, -300, NE, kWrap, "-44"},
    {"f64>i8", f64_i8, -129, NE, kWrap, "127"},
    {"f64>i8", f64_i8, 128, NE, kWrap, "-128"},
    {"f64>i8", f64_i8, 1e300, NE, kWrap, "-128"},
    {"f32>i8", f32_i8, 3e38, NE, kWrap, "-128"},
    {"f32>u32", f32_u32, -2, NE, kWrap, "4294967295"},
    {"f32>u32", f32_u32, -3000, NE, kWrap, "4294964224"},
    {"f64>u64", f64_u64, -1, NE, kWrap, "18446744073709551615"},
    {"f64>u64", f64_u64, -2, NE, kWrap, "18446744073709551615"},
    {"f64>u64", f64_u64, 18446744073709551616.0, NE, kNone, "18446744073709551615"},
    {"f64>i64", f64_i64, 9223372036854775808.0, NE, kNone, "9223372036854775807"},
    {"f64>i64", f64_i64, 9223372036854775808.0, NE, kClamp, "9223372036854775807"},
    {"f64>i64", f64_i64, 9223372036854775808.0, NE, kWrap, "9223372036854775807"},
    {"f64>i64", f64_i64, 1e19, NE, kNone, out_of_range("10000000000000000000", "-9223372036854776000", "9223372036854776000")},
    {"f64>i64", f64_i64, 1e19, NE, kWrap, "-8446744073709551616"},
    {"f64>i64", f64_i64, 18446744073709551616.0, NE, kWrap, "0"},
    // A rounded-up upper bound is inside the range and saturates; an exact one is not.
    {"f32>i32", f32_i32, 2147483648.0, NE, kNone, "2147483647"},
    {"f32>i32", f32_i32, 2147483648.0, NE, kClamp, "2147483647"},
    {"f32>i32", f32_i32, 2147483648.0, NE, kWrap, "2147483647"},
    {"f32>i32", f32_i32, 3e9, NE, kNone, out_of_range("3000000000", "-2147483648", "2147483648")},
    {"f64>i32", f64_i32, 2147483648.0, NE, kNone, out_of_range("2147483648", "-2147483648", "2147483647")},
    {"f64>i32", f64_i32, 2147483648.0, NE, kClamp, "2147483647"},
    {"f64>i32", f64_i32, 2147483648.0, NE, kWrap, "-2147483648"},
    {"f64>i32", f64_i32, -1e300, NE, kClamp, "-2147483648"},
    {"f64>i32", f64_i32, 2147483647.5, NA, kNone, out_of_range("2147483648", "-2147483648", "2147483647")},
    // binary16 bounds, with infinite ends where binary16 cannot hold the limit.
    {"f16>i16", f16_i16, 32768, NE, kNone, "32767"},
    {"f16>i16", f16_i16, 32768, NE, kClamp, "32767"},
    {"f16>i16", f16_i16, 32768, NE, kWrap, "32767"},
    {"f16>i16", f16_i16, 40000, NE, kNone, out_of_range("40000", "-32768", "32768")},
    {"f16>i16", f16_i16, 40000, NE, kClamp, "32767"},
    {"f16>i16", f16_i16, -40000, NE, kClamp, "-32768"},
    {"f16>i16", f16_i16, 40000, NE, kWrap, "-25536"},
    {"f16>i16", f16_i16, -40000, NE, kWrap, "25536"},
    {"f16>i16", f16_i16, 65504, NE, kWrap, "-32"},
    {"f16>u16", f16_u16, -1, NE, kWrap, "65535"},
    {"f16>u16", f16_u16, -2, NE, kWrap, "65534"},
    {"f16>u16", f16_u16, -40000, NE, kWrap, "25536"},
    {"f16>u16", f16_u16, kInf, NE, kWrap, cannot_cast("inf")},
    {"f16>u16", f16_u16, kInf, NE, kNone, "65535"},
    {"f16>u16", f16_u16, -1, NE, kNone, out_of_range("-1", "0", "inf")},
    {"f16>u16", f16_u16, -kInf, NE, kNone, out_of_range("-inf", "0", "inf")},
    {"f16>u32", f16_u32, -2, NE, kWrap, "4294967295"},
    {"f16>i8", f16_i8, 65504, NE, kWrap, "-32"},
    {"f16>i8", f16_i8, 40000, NE, kWrap, "64"},
    {"f16>i8", f16_i8, -40000, NE, kWrap, "-64"},
    {"f16>i8", f16_i8, 300, NE, kWrap, "44"},
    {"f16>i32", f16_i32, kInf, NE, kNone, "2147483647"},
    {"f16>i32", f16_i32, -kInf, NE, kNone, "-2147483648"},
    {"f16>i32", f16_i32, kInf, NE, kWrap, cannot_cast("inf")},
    {"f16>i32", f16_i32, -kInf, NE, kWrap, cannot_cast("-inf")},
    {"f16>i32", f16_i32, 65504, NE, kNone, "65504"},
    {"f16>i32", f16_i32, -65504, NE, kWrap, "-65504"},
    {"f16>i64", f16_i64, -kInf, NE, kClamp, "-9223372036854775808"},
};

TEST(FloatToIntElement, EdgeCases) {
    for (const auto& c : kElementCases) {
        EXPECT_EQ(c.bind(c.x, c.mode, c.policy)(), c.expected)
            << c.pair << " " << c.x << " " << to_str(c.mode) << " " << (c.policy ? to_str(*c.policy) : "none");
    }
}

TEST(FloatToIntElement, EdgeCasesIgnoreTheRoundingDirection) {
    std::vector<BoundConversion> conversions;
    for (const auto& c : kElementCases) {
        conversions.push_back(c.bind(c.x, c.mode, c.policy));
    }
    expect_same_in_every_rounding_direction([&] { return run_all(conversions); });
}

TEST(FloatToIntSlice, StopsAtTheFirstErrorLeavingTheRestUntouched) {
    const double src[] = {1.0, kNaN, 2.0};
    std::int8_t dst[] = {99, 99, 99};
    CastConfig<double, std::int8_t> config;
    config.out_of_range = OutOfRangeMode::Clamp;
    const auto result = convert_slice_float_to_int<double, std::int8_t>(src, dst, config);
    ASSERT_FALSE(result);
    EXPECT_TRUE(std::holds_alternative<NanOrInf>(result.error()));
    EXPECT_TRUE(std::isnan(std::get<NanOrInf>(result.error()).value));
    EXPECT_EQ(dst[0], 1);
    EXPECT_EQ(dst[1], 99);
    EXPECT_EQ(dst[2], 99);
}

TEST(FloatToIntSlice, ConvertsTheShorterLength) {
    const float src[] = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f};
    CastConfig<float, std::uint8_t> config;
    config.out_of_range = OutOfRangeMode::Clamp;
    std::uint8_t short_dst[3] = {};
    ASSERT_TRUE((convert_slice_float_to_int<float, std::uint8_t>(src, short_dst, config)));
    EXPECT_EQ(std::vector<int>(short_dst, short_dst + 3), (std::vector<int>{1, 2, 3}));

    std::uint8_t long_dst[7] = {9, 9, 9, 9, 9, 9, 9};
    ASSERT_TRUE((convert_slice_float_to_int<float, std::uint8_t>(std::span(src).first(2), long_dst, config)));
    EXPECT_EQ(std::vector<int>(long_dst, long_dst + 7), (std::vector<int>{1, 2, 9, 9, 9, 9, 9}));

    EXPECT_TRUE((convert_slice_float_to_int<float, std::uint8_t>({}, long_dst, config)));
    EXPECT_TRUE((convert_slice_float_to_int<float, std::uint8_t>(src, {}, config)));
}

TEST(FloatToIntSlice, ElementLoopWritesUpToTheFailingElement) {
    const double src[] = {1.0, 3e9};
    std::int32_t dst[] = {7, 7};
    CastConfig<double, std::int32_t> config;
    config.rounding = RoundingMode::NearestAway;
    const auto result = convert_slice_float_to_int<double, std::int32_t>(src, dst, config);
    ASSERT_FALSE(result);
    EXPECT_EQ(message(result.error()), out_of_range("3000000000", "-2147483648", "2147483647"));
    EXPECT_EQ(dst[0], 1);
    EXPECT_EQ(dst[1], 7);
}

TEST(FloatToIntSlice, ScalarMapBypassesNanTestRoundingAndPolicy) {
    {
        const float src[] = {std::numeric_limits<float>::quiet_NaN(), -0.0f, 5.0f, -std::numeric_limits<float>::quiet_NaN()};
        std::int8_t dst[4] = {};
        CastConfig<float, std::int8_t> config;
        config.out_of_range = OutOfRangeMode::Wrap;
        config.entries = {{std::numeric_limits<float>::quiet_NaN(), 7}, {0.0f, 9}, {-std::numeric_limits<float>::quiet_NaN(), 8}};
        ASSERT_TRUE((convert_slice_float_to_int<float, std::int8_t>(src, dst, config)));
        EXPECT_EQ(std::vector<int>(dst, dst + 4), (std::vector<int>{7, 9, 5, 7}));
    }
    {
        const double src[] = {1e300, -5.0, 1.0};
        std::uint8_t dst[3] = {42, 42, 42};
        CastConfig<double, std::uint8_t> config;
        config.entries = {{1e300, 3}};
        const auto result = convert_slice_float_to_int<double, std::uint8_t>(src, dst, config);
        ASSERT_FALSE(result);
        EXPECT_EQ(message(result.error()), out_of_range("-5", "0", "255"));
        EXPECT_EQ(std::vector<int>(dst, dst + 3), (std::vector<int>{3, 42, 42}));
    }
    {
        // A binary16 entry matches by value: 2.5 is not rounded first, 3.0 is not 2.5.
        const float16 src[] = {float16(2.5f), float16(2.4f), float16(-0.0f)};
        std::uint16_t dst[3] = {};
        CastConfig<float16, std::uint16_t> config;
        config.rounding = RoundingMode::NearestAway;
        config.entries = {{float16(2.5f), 100}, {float16(0.0f), 200}};
        ASSERT_TRUE((convert_slice_float_to_int<float16, std::uint16_t>(src, dst, config)));
        EXPECT_EQ(std::vector<int>(dst, dst + 3), (std::vector<int>{100, 2, 200}));
    }
}

// Values around the bounds and the modulus of D, huge and tiny values, halves, specials
// and random bit patterns, all representable in F.
template <class F, class D>
std::vector<F> conversion_samples(std::size_t random_count) {
    std::mt19937_64 rng(31337 + ElementTraits<D>::bits + sizeof(F));
    std::vector<F> values;
    const auto add = [&](double x) {
        values.push_back(make<F>(x));
    };
    const double limits[] = {0.0,
                             static_cast<double>(ElementTraits<D>::min),
                             static_cast<double>(ElementTraits<D>::max),
                             std::ldexp(1.0, ElementTraits<D>::bits),
                             -std::ldexp(1.0, ElementTraits<D>::bits)};
    for (const double limit : limits) {
        for (const double offset : {-2.0, -1.5, -1.0, -0.5, -0.25, 0.0, 0.25, 0.5, 1.0, 1.5, 2.0}) {
            add(limit + offset);
            add(std::nextafter(limit, kInf) + offset);
            add(std::nextafter(limit, -kInf) + offset);
        }
    }
    for (const double special : {kInf, -kInf, kNaN, -kNaN, 1e300, -1e300, 3e38, -3e38, 65504.0, -65504.0, 0.49999997,
                                 0.49999999999999994, 8388609.0, 4503599627370497.0}) {
        add(special);
    }
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (std::size_t i = 0; i < random_count; ++i) {
        if (i % 3 == 0) {
            using Bits = std::conditional_t<std::is_same_v<F, float16>, std::uint16_t, FloatBits<ArithmeticFloat<F>>>;
            const auto bits = static_cast<Bits>(rng());
            if constexpr (std::is_same_v<F, float16>) {
                values.push_back(float16::from_bits(bits));
            } else {
                values.push_back(from_bits<F>(bits));
            }
        } else {
            const int exponent = static_cast<int>(rng() % static_cast<unsigned>(ElementTraits<D>::bits + 40)) - 4;
            add(std::ldexp(unit(rng), exponent));
        }
    }
    return values;
}

// An independent computation of one element, straight from the rule: the C library's
// rounding, the printed bounds, the hardware's arithmetic (default environment) for the
// wrap in the source precision, and an exact saturating truncation in long double.
template <class F, class D>
std::string reference_convert(F element, RoundingMode mode, std::optional<OutOfRangeMode> policy) {
    using A = ArithmeticFloat<F>;
    const auto& row = printed_bounds<F, D>();
    const A lo = static_cast<A>(std::strtod(std::string(row.lo).c_str(), nullptr));
    const A hi = static_cast<A>(std::strtod(std::string(row.hi).c_str(), nullptr));
    const A x = static_cast<A>(element);
    if (std::isnan(x)) {
        return cannot_cast("NaN");
    }
    const A r = reference_round(x, mode);
    A v = r;
    if (r < lo || r > hi || (policy == OutOfRangeMode::Wrap && std::isinf(r))) {
        if (!policy) {
            return message(OutOfRange{static_cast<double>(r), static_cast<double>(lo), static_cast<double>(hi)});
        }
        if (*policy == OutOfRangeMode::Clamp) {
            v = r < lo ? lo : hi;
        } else if (std::isinf(r)) {
            return message(NanOrInf{static_cast<double>(r)});
        } else {
            const A modulus = std::ldexp(A(1), ElementTraits<D>::bits);
            A m = std::fmod(r - lo, modulus);
            if (m < 0) {
                m = m + modulus;
            }
            v = m + lo;
        }
    }
    const long double exact = v;
    D expected;
    if (exact >= static_cast<long double>(ElementTraits<D>::max)) {
        expected = ElementTraits<D>::max;
    } else if (exact <= static_cast<long double>(ElementTraits<D>::min)) {
        expected = ElementTraits<D>::min;
    } else {
        expected = static_cast<D>(exact);
    }
    return describe(CastResult{}, expected);
}

// The element loop follows the rule exactly; the full conversion gives the same, except
// that a checking fast path reports an out-of-range value before rounding.
TEST(FloatToIntElement, EveryPairModeAndPolicyMatchesAnIndependentComputation) {
    for_each_float_to_int_pair([]<class F, class D>() {
        constexpr bool has_check_path = !std::is_null_pointer_v<decltype(detail::FloatToIntFastPaths<F, D>::check)>;
        for (const F x : conversion_samples<F, D>(3000)) {
            for (const RoundingMode mode : kModes) {
                for (const auto policy : kPolicies) {
                    const std::string expected = reference_convert<F, D>(x, mode, policy);
                    const std::string by_loop = convert_one<F, D, true>(x, mode, policy);
                    const std::string by_conversion = convert_one<F, D>(x, mode, policy);
                    ASSERT_EQ(by_loop, expected)
                        << ElementTraits<F>::name << " " << std::hexfloat << static_cast<double>(x) << " to "
                        << ElementTraits<D>::name << " " << to_str(mode) << " "
                        << (policy ? to_str(*policy) : "none");
                    const bool unrounded_error = has_check_path && !policy && expected.starts_with("Value ");
                    if (!unrounded_error) {
                        ASSERT_EQ(by_conversion, expected) << std::hexfloat << static_cast<double>(x);
                    }
                }
            }
        }
    });
}

TEST(FloatToIntElement, EveryPairIgnoresTheRoundingDirection) {
    std::vector<BoundConversion> conversions;
    for_each_float_to_int_pair([&]<class F, class D>() {
        for (const F x : conversion_samples<F, D>(200)) {
            for (const RoundingMode mode : kModes) {
                for (const auto policy : kPolicies) {
                    conversions.push_back(bind_conversion<F, D>(x, mode, policy));
                }
            }
        }
    });
    expect_same_in_every_rounding_direction([&] { return run_all(conversions); });
}

// The vector fast paths and the element loop agree on every successful slice and on
// the error of a failing Clamp slice.
template <class F, class D>
void expect_fast_path_agrees(std::optional<OutOfRangeMode> policy) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> spread(-3e9, 3e9);
    for (const RoundingMode mode :
         {RoundingMode::NearestEven, RoundingMode::TowardsZero, RoundingMode::TowardsPositive, RoundingMode::TowardsNegative}) {
        for (std::size_t length : {0u, 1u, 7u, 8u, 9u, 17u, 100u}) {
            std::vector<F> src;
            for (std::size_t i = 0; i < length; ++i) {
                const double scale = (rng() % 2) ? 300.0 : 3e9;
                src.push_back(static_cast<F>(spread(rng) * scale / 3e9 + (rng() % 4) * 0.5));
            }
            if (policy == OutOfRangeMode::Clamp && length > 9) {
                src[9] = std::numeric_limits<F>::quiet_NaN();
            }
            CastConfig<F, D> config;
            config.out_of_range = policy;
            config.rounding = mode;
            std::vector<D> fast(length), scalar(length);
            const CastResult fast_result = convert_slice_float_to_int<F, D>(src, fast, config);
            const CastResult scalar_result = convert_slice_float_to_int_scalar<F, D>(src, scalar, config);
            ASSERT_EQ(fast_result.has_value(), scalar_result.has_value());
            if (fast_result) {
                EXPECT_EQ(fast, scalar);
            } else if (policy == OutOfRangeMode::Clamp) {
                EXPECT_EQ(message(fast_result.error()), message(scalar_result.error()));
            }
        }
    }
}

TEST(FloatToIntSlice, FastPathsAgreeWithTheElementLoop) {
    expect_fast_path_agrees<float, std::uint8_t>(OutOfRangeMode::Clamp);
    expect_fast_path_agrees<double, std::uint8_t>(OutOfRangeMode::Clamp);
    expect_fast_path_agrees<double, std::int32_t>(OutOfRangeMode::Clamp);
    expect_fast_path_agrees<double, std::int32_t>(std::nullopt);
}

}  // namespace
}  // namespace tarnwell
