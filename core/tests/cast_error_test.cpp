#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "cast_error.hpp"

namespace tarnwell {
namespace {

TEST(FormatNumber, PrintsPositionallyWithShortestDigits) {
    struct Case {
        double value;
        std::string text;
    };
    const Case cases[] = {
        {255.0, "255"},
        {1.5, "1.5"},
        {0.1, "0.1"},
        {1e-7, "0.0000001"},
        {-1.0, "-1"},
        {-2.5e-3, "-0.0025"},
        {123.456, "123.456"},
        {18446744073709551615.0, "18446744073709552000"},
        {9223372036854775808.0, "9223372036854776000"},
        {static_cast<double>(std::numeric_limits<float>::max()), "340282346638528860000000000000000000000"},
        {2147483648.0, "2147483648"},
        {2147483647.5, "2147483647.5"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {-std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {0.0, "0"},
        {-0.0, "-0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_number(c.value), c.text) << c.text;
    }
    // Built with append: GCC 12 warns falsely on chained string concatenation here.
    EXPECT_EQ(format_number(1e300), std::string("1").append(300, '0'));
    EXPECT_EQ(format_number(5e-324), std::string("0.").append(323, '0').append("5"));
}

// The fewest significant digits that read back as the same double, found by printf.
int shortest_digit_count(double value) {
    for (int digits = 1; digits <= 17; ++digits) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.*e", digits - 1, value);
        if (std::strtod(buffer, nullptr) == value) {
            return digits;
        }
    }
    return 17;
}

int significant_digit_count(const std::string& text) {
    std::string digits;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digits.push_back(c);
        }
    }
    const auto first = digits.find_first_not_of('0');
    const auto last = digits.find_last_not_of('0');
    return first == std::string::npos ? 0 : static_cast<int>(last - first + 1);
}

TEST(FormatNumber, RandomDoublesReadBackExactlyWithoutExponent) {
    std::mt19937_64 rng(20261211);
    for (int i = 0; i < 200000; ++i) {
        const double value = std::bit_cast<double>(rng());
        if (!std::isfinite(value) || value == 0.0) {
            continue;
        }
        const std::string text = format_number(value);
        ASSERT_EQ(text.find_first_of("eE"), std::string::npos) << text;
        ASSERT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
        ASSERT_LE(significant_digit_count(text), shortest_digit_count(value)) << text;
    }
}

TEST(CastErrorMessage, FillsTheFixedTexts) {
    EXPECT_EQ(message(OutOfRange{-1.0, 0.0, 127.0}),
              "Value -1 out of range [0, 127]. Set out_of_range='clamp' or out_of_range='wrap' to handle this.");
    EXPECT_EQ(message(OutOfRange{18446744073709551615.0, 0.0, 9223372036854775807.0}),
              "Value 18446744073709552000 out of range [0, 9223372036854776000]. Set out_of_range='clamp' or "
              "out_of_range='wrap' to handle this.");
    EXPECT_EQ(message(NanOrInf{-std::numeric_limits<double>::quiet_NaN()}),
              "Cannot cast NaN to integer type without scalar_map");
    EXPECT_EQ(message(NanOrInf{-std::numeric_limits<double>::infinity()}),
              "Cannot cast -inf to integer type without scalar_map");
}

}  // namespace
}  // namespace tarnwell
