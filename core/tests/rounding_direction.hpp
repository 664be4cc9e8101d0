#pragma once

#include <gtest/gtest.h>

#include <cfenv>

namespace tarnwell::testing {

// Runs `compute` in the default rounding direction and again under each directed one,
// expecting the same result every time. Only the test changes the environment, and it
// always puts the default back.
template <class Compute>
void expect_same_in_every_rounding_direction(Compute compute) {
    const auto expected = compute();
    for (const int direction : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        ASSERT_EQ(std::fesetround(direction), 0);
        const auto actual = compute();
        std::fesetround(FE_TONEAREST);
        EXPECT_EQ(actual, expected) << "rounding direction " << direction;
    }
}

}  // namespace tarnwell::testing
