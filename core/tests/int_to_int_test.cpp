#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "int_to_int.hpp"

namespace tarnwell {
namespace {

using IntegerTypes = TypeList<std::int8_t, std::int16_t, std::int32_t, std::int64_t, std::uint8_t, std::uint16_t,
                              std::uint32_t, std::uint64_t>;

// The allowed range of every pair as messages print it; "-" where every value fits.
const std::array<std::array<const char*, 8>, 8> printed_ranges{{
    {"-", "-", "-", "-", "[0, 127]", "[0, 127]", "[0, 127]", "[0, 127]"},
    {"[-128, 127]", "-", "-", "-", "[0, 255]", "[0, 32767]", "[0, 32767]", "[0, 32767]"},
    {"[-128, 127]", "[-32768, 32767]", "-", "-", "[0, 255]", "[0, 65535]", "[0, 2147483647]", "[0, 2147483647]"},
    {"[-128, 127]", "[-32768, 32767]", "[-2147483648, 2147483647]", "-", "[0, 255]", "[0, 65535]", "[0, 4294967295]",
     "[0, 9223372036854776000]"},
    {"[0, 127]", "-", "-", "-", "-", "-", "-", "-"},
    {"[0, 127]", "[0, 32767]", "-", "-", "[0, 255]", "-", "-", "-"},
    {"[0, 127]", "[0, 32767]", "[0, 2147483647]", "-", "[0, 255]", "[0, 65535]", "-", "-"},
    {"[0, 127]", "[0, 32767]", "[0, 2147483647]", "[0, 9223372036854776000]", "[0, 255]", "[0, 65535]",
     "[0, 4294967295]", "-"},
}};

TEST(IntegerRange, MatchesThePrintedTableForAll64Pairs) {
    int row = 0;
    for_each_type(IntegerTypes{}, [&]<class S>() {
        int column = 0;
        for_each_type(IntegerTypes{}, [&]<class D>() {
            using Range = IntegerRange<S, D>;
            std::string printed = "-";
            if (!Range::lossless) {
                printed = "[";
                printed += format_number(to_double(Range::lo));
                printed += ", ";
                printed += format_number(to_double(Range::hi));
                printed += "]";
            }
            EXPECT_EQ(printed, printed_ranges[row][column])
                << ElementTraits<S>::name << " to " << ElementTraits<D>::name;
            ++column;
        });
        ++row;
    });
}

template <class S, class D>
std::vector<D> cast(const std::vector<S>& src, std::optional<OutOfRangeMode> policy,
                    std::vector<MapEntry<S, D>> entries = {}) {
    CastConfig<S, D> config{std::move(entries), policy, RoundingMode::NearestEven};
    std::vector<D> dst(src.size());
    const auto result = convert_slice_int_to_int<S, D>(src, dst, config);
    EXPECT_TRUE(result) << ElementTraits<S>::name << " to " << ElementTraits<D>::name;
    return dst;
}

constexpr auto clamp = OutOfRangeMode::Clamp;
constexpr auto wrap = OutOfRangeMode::Wrap;
constexpr std::uint64_t u64_max = UINT64_MAX;

TEST(IntToInt, ClampSaturatesToTheTargetLimits) {
    EXPECT_EQ((cast<std::int8_t, std::uint8_t>({-128, -1, 0, 127}, clamp)), (std::vector<std::uint8_t>{0, 0, 0, 127}));
    EXPECT_EQ((cast<std::uint8_t, std::int8_t>({200, 127, 128}, clamp)), (std::vector<std::int8_t>{127, 127, 127}));
    EXPECT_EQ((cast<std::int32_t, std::int16_t>({32768, 65535, -32769}, clamp)),
              (std::vector<std::int16_t>{32767, 32767, -32768}));
    EXPECT_EQ((cast<std::uint64_t, std::int64_t>({u64_max, 9223372036854775808u}, clamp)),
              (std::vector<std::int64_t>{INT64_MAX, INT64_MAX}));
    EXPECT_EQ((cast<std::int8_t, std::uint64_t>({-1}, clamp)), (std::vector<std::uint64_t>{0}));
    EXPECT_EQ((cast<std::int64_t, std::int8_t>({INT64_MIN, INT64_MAX}, clamp)), (std::vector<std::int8_t>{-128, 127}));
}

TEST(IntToInt, WrapKeepsTheLowBitsAndSignExtends) {
    EXPECT_EQ((cast<std::int8_t, std::uint8_t>({-128, -1, 0, 127}, wrap)),
              (std::vector<std::uint8_t>{128, 255, 0, 127}));
    EXPECT_EQ((cast<std::uint8_t, std::int8_t>({200, 128, 255}, wrap)), (std::vector<std::int8_t>{-56, -128, -1}));
    EXPECT_EQ((cast<std::int32_t, std::int16_t>({32768, 65535, -32769}, wrap)),
              (std::vector<std::int16_t>{-32768, -1, 32767}));
    EXPECT_EQ((cast<std::int16_t, std::int8_t>({300, -300}, wrap)), (std::vector<std::int8_t>{44, -44}));
    EXPECT_EQ((cast<std::int32_t, std::int8_t>({-129}, wrap)), (std::vector<std::int8_t>{127}));
    EXPECT_EQ((cast<std::int64_t, std::uint32_t>({-1}, wrap)), (std::vector<std::uint32_t>{4294967295u}));
    EXPECT_EQ((cast<std::uint64_t, std::int64_t>({u64_max, 9223372036854775808u}, wrap)),
              (std::vector<std::int64_t>{-1, INT64_MIN}));
    EXPECT_EQ((cast<std::int8_t, std::uint16_t>({-1}, wrap)), (std::vector<std::uint16_t>{65535}));
    EXPECT_EQ((cast<std::int8_t, std::uint64_t>({-1}, wrap)), (std::vector<std::uint64_t>{u64_max}));
    EXPECT_EQ((cast<std::int16_t, std::uint32_t>({-2}, wrap)), (std::vector<std::uint32_t>{4294967294u}));
}

TEST(IntToInt, LosslessPairsCopyExactlyUnderEveryPolicy) {
    for (const auto policy : {std::optional<OutOfRangeMode>{}, std::optional{clamp}, std::optional{wrap}}) {
        EXPECT_EQ((cast<std::int8_t, std::int64_t>({-128, 127}, policy)), (std::vector<std::int64_t>{-128, 127}));
        EXPECT_EQ((cast<std::uint32_t, std::int64_t>({4294967295u}, policy)),
                  (std::vector<std::int64_t>{4294967295}));
        EXPECT_EQ((cast<std::int16_t, std::int16_t>({-32768, 0, 32767}, policy)),
                  (std::vector<std::int16_t>{-32768, 0, 32767}));
    }
}

// Converts `src` into a destination pre-filled with `fill` and expects an error.
template <class S, class D>
void expect_out_of_range(const std::vector<S>& src, const OutOfRange& error, const std::vector<D>& after, D fill,
                         std::vector<MapEntry<S, D>> entries = {}) {
    CastConfig<S, D> config{std::move(entries), std::nullopt, RoundingMode::NearestEven};
    std::vector<D> dst(src.size(), fill);
    const auto result = convert_slice_int_to_int<S, D>(src, dst, config);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), CastError{error});
    EXPECT_EQ(dst, after);
}

TEST(IntToInt, NoPolicyStopsAtTheFirstOutOfRangeElement) {
    expect_out_of_range<std::int8_t, std::uint8_t>({1, -1, 5}, {-1, 0, 127}, {1, 9, 9}, 9);
    expect_out_of_range<std::int64_t, std::uint64_t>({-1}, {-1, 0, 9223372036854775808.0}, {7}, 7);
    expect_out_of_range<std::uint64_t, std::int64_t>({5, u64_max, 9223372036854775808u},
                                                     {18446744073709551616.0, 0, 9223372036854775808.0}, {5, 0, 0}, 0);
    expect_out_of_range<std::int64_t, std::int8_t>({INT64_MIN}, {-9223372036854775808.0, -128, 127}, {0}, 0);
    expect_out_of_range<std::int16_t, std::int8_t>({5, 1000, 1001, 1}, {1001, -128, 127}, {9, 3, 0, 0}, 0,
                                                   {{5, 9}, {1000, 3}});
}

TEST(IntToInt, MapEntriesWinAndTheFirstMatchCounts) {
    EXPECT_EQ((cast<std::int16_t, std::int8_t>({5, 300, 4}, std::nullopt, {{5, 1}, {5, 2}, {300, -1}})),
              (std::vector<std::int8_t>{1, -1, 4}));
    EXPECT_EQ((cast<std::int8_t, std::int8_t>({1, 5, 5}, std::nullopt, {{5, 7}})), (std::vector<std::int8_t>{1, 7, 7}));
    EXPECT_EQ((cast<std::int16_t, std::uint8_t>({-5, 300, 7}, clamp, {{7, 70}})), (std::vector<std::uint8_t>{0, 255, 70}));
    EXPECT_EQ((cast<std::int16_t, std::uint8_t>({-5, 300, 7}, wrap, {{-5, 1}})), (std::vector<std::uint8_t>{1, 44, 7}));
}

TEST(IntToInt, ConvertsTheShorterLengthAndTouchesNothingElse) {
    const std::vector<std::int16_t> src{1, 2, 3, 400, 500};
    std::vector<std::int8_t> dst{9, 9, 9};
    CastConfig<std::int16_t, std::int8_t> config;
    EXPECT_TRUE((convert_slice_int_to_int<std::int16_t, std::int8_t>(src, dst, config)));
    EXPECT_EQ(dst, (std::vector<std::int8_t>{1, 2, 3}));

    std::vector<std::int8_t> longer{9, 9, 9, 9};
    EXPECT_TRUE((convert_slice_int_to_int<std::int16_t, std::int8_t>(std::span(src).first(2), longer, config)));
    EXPECT_EQ(longer, (std::vector<std::int8_t>{1, 2, 9, 9}));

    EXPECT_TRUE((convert_slice_int_to_int<std::int16_t, std::int8_t>(std::span(src).first(0), longer, config)));
    EXPECT_TRUE((convert_slice_int_to_int<std::int16_t, std::int8_t>(src, std::span(longer).first(0), config)));
    EXPECT_EQ(longer, (std::vector<std::int8_t>{1, 2, 9, 9}));
}

TEST(IntToInt, RoundingModeHasNoEffect) {
    const std::vector<std::int32_t> src{-70000, -129, 0, 200, 70000};
    for (const auto policy : {clamp, wrap}) {
        CastConfig<std::int32_t, std::int8_t> reference{{}, policy, RoundingMode::NearestEven};
        std::vector<std::int8_t> expected(src.size());
        ASSERT_TRUE((convert_slice_int_to_int<std::int32_t, std::int8_t>(src, expected, reference)));
        for (const auto mode : {RoundingMode::TowardsZero, RoundingMode::TowardsPositive,
                                RoundingMode::TowardsNegative, RoundingMode::NearestAway}) {
            CastConfig<std::int32_t, std::int8_t> config{{}, policy, mode};
            std::vector<std::int8_t> dst(src.size());
            ASSERT_TRUE((convert_slice_int_to_int<std::int32_t, std::int8_t>(src, dst, config)));
            EXPECT_EQ(dst, expected);
        }
    }
}

}  // namespace
}  // namespace tarnwell
