#pragma once

#include <cmath>
#include <type_traits>

#include "float16.hpp"
#include "policy.hpp"

namespace tarnwell::testing {

// A value of F from a binary64 literal; binary16 through binary32 (exact for the
// literals the tests use).
template <class F>
F make(double value) {
    if constexpr (std::is_same_v<F, float16>) {
        return float16(static_cast<float>(value));
    } else {
        return static_cast<F>(value);
    }
}

// The rounding defined directly by the C library and, for NearestAway, by the formula
// floor(|x| + 0.5) with the hardware addition (default environment) and the sign of x.
template <class F>
F reference_round(F x, RoundingMode mode) {
    switch (mode) {
        case RoundingMode::NearestEven:
            return std::nearbyint(x);
        case RoundingMode::TowardsZero:
            return std::trunc(x);
        case RoundingMode::TowardsPositive:
            return std::ceil(x);
        case RoundingMode::TowardsNegative:
            return std::floor(x);
        case RoundingMode::NearestAway:
            return std::copysign(std::floor(std::fabs(x) + F(0.5)), x);
    }
    return x;
}

}  // namespace tarnwell::testing
