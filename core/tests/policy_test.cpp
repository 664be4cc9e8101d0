#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "policy.hpp"

namespace tarnwell {
namespace {

struct ModeText {
    std::string_view text;
    int code;
};

TEST(RoundingModeParse, AcceptsEachExactText) {
    const ModeText cases[] = {{"nearest-even", 0}, {"towards-zero", 1}, {"towards-positive", 2},
                              {"towards-negative", 3}, {"nearest-away", 4}};
    for (const auto& c : cases) {
        const auto parsed = from_str<RoundingMode>(c.text);
        ASSERT_TRUE(parsed) << c.text;
        EXPECT_EQ(static_cast<int>(*parsed), c.code) << c.text;
        EXPECT_EQ(to_str(*parsed), c.text);
    }
}

TEST(OutOfRangeModeParse, AcceptsEachExactText) {
    EXPECT_EQ(*from_str<OutOfRangeMode>("clamp"), OutOfRangeMode::Clamp);
    EXPECT_EQ(*from_str<OutOfRangeMode>("wrap"), OutOfRangeMode::Wrap);
}

TEST(ModeParse, RejectsNearMissesWithTheTextUnchanged) {
    const std::string_view rounding[] = {"", "Nearest-Even", "nearest-even ", " nearest-even", "nearest", "NEAREST-AWAY",
                                         std::string_view("nearest-even\0", 13)};
    for (const auto text : rounding) {
        const auto parsed = from_str<RoundingMode>(text);
        ASSERT_FALSE(parsed);
        EXPECT_EQ(parsed.error(), "Unknown rounding mode: " + std::string(text));
    }
    const std::string_view policies[] = {"", "Clamp", "clamp ", "saturate", "wrap\n", "cla"};
    for (const auto text : policies) {
        const auto parsed = from_str<OutOfRangeMode>(text);
        ASSERT_FALSE(parsed);
        EXPECT_EQ(parsed.error(), "Unknown out_of_range mode: " + std::string(text));
    }
}

}  // namespace
}  // namespace tarnwell
