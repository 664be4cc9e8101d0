#pragma once

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>
#include <span>
#include <sstream>
#include <string>

#include "element_types.hpp"
#include "float_bits.hpp"
#include "float_step.hpp"
#include "policy.hpp"

namespace tarnwell::testing {

// Exact comparisons need a format that holds every 64-bit integer and the midpoint of any
// two adjacent binary64 values: long double has 64 significand bits on x86-64 and 113 on
// 64-bit Arm.
static_assert(std::numeric_limits<long double>::digits >= 64);

template <FloatElement D>
long double exact_value(D v) {
    return static_cast<long double>(to_double(v));
}

// Stand-in for an infinite neighbour when placing a midpoint: the next power of two above
// the largest finite value, which is where round-to-nearest starts to overflow.
template <FloatElement D>
long double midpoint_value(D v) {
    if (!is_infinite(v)) {
        return exact_value(v);
    }
    const long double beyond = std::ldexp(1.0L, (1 << (ElementTraits<D>::exponent_bits - 1)));
    return to_bits(v) & ElementTraits<D>::sign_mask ? -beyond : beyond;
}

inline const char* mode_name(RoundingMode mode) {
    return to_str(mode).data();
}

// Whether `result` is `source` (given exactly) rounded to D under `mode`. The result's own
// neighbours must bracket the source, so it is one of the two values around it; the mode
// then decides which one, by exact comparison with their midpoint for the nearest modes.
template <FloatElement D>
::testing::AssertionResult is_correctly_rounded(long double source, D result, RoundingMode mode) {
    const long double r = exact_value(result);
    const auto failure = [&](const char* why) {
        std::ostringstream text;
        text << why << ": source " << std::to_string(source) << " gave " << std::to_string(r) << " (bits 0x"
             << std::hex << +to_bits(result) << ") under " << mode_name(mode);
        return ::testing::AssertionFailure() << text.str();
    };
    if (is_nan(result)) {
        return failure("NaN result");
    }
    if (r == source) {
        if (r == 0 && std::signbit(r) != std::signbit(source)) {
            return failure("zero of the wrong sign");
        }
        return ::testing::AssertionSuccess();
    }
    if (r == 0 && std::signbit(r) != std::signbit(source)) {
        return failure("zero of the wrong sign");
    }
    D lower = result, upper = result;
    if (r > source) {
        lower = next_down(result);
        if (!(exact_value(lower) < source)) {
            return failure("not a neighbour of the source (too large)");
        }
    } else {
        upper = next_up(result);
        if (!(exact_value(upper) > source)) {
            return failure("not a neighbour of the source (too small)");
        }
    }
    const bool got_upper = to_bits(result) == to_bits(upper);
    bool want_upper = false;
    switch (mode) {
        case RoundingMode::TowardsPositive:
            want_upper = true;
            break;
        case RoundingMode::TowardsNegative:
            want_upper = false;
            break;
        case RoundingMode::TowardsZero:
            want_upper = source < 0;
            break;
        case RoundingMode::NearestEven:
        case RoundingMode::NearestAway: {
            const long double mid = (midpoint_value(lower) + midpoint_value(upper)) / 2;
            if (source != mid) {
                want_upper = source > mid;
            } else if (mode == RoundingMode::NearestAway) {
                want_upper = source > 0;
            } else {
                // Ties go to the even significand; past the largest finite value (odd) that
                // is the infinity.
                want_upper = (to_bits(upper) & 1u) == 0;
            }
            break;
        }
    }
    if (got_upper != want_upper) {
        return failure(want_upper ? "should be the upper neighbour" : "should be the lower neighbour");
    }
    return ::testing::AssertionSuccess();
}

// Runs `body` with the processor's rounding direction set to `direction`, then restores
// round-to-nearest. The barriers, which see the buffers that `body` reads and writes, keep
// the compiler from moving its loads, conversions and stores across the mode changes.
template <class F>
void with_rounding_direction(int direction, const void* input, void* output, F&& body) {
    std::fesetround(direction);
    asm volatile("" : : "r"(input), "r"(output) : "memory");
    body();
    asm volatile("" : : "r"(input), "r"(output) : "memory");
    std::fesetround(FE_TONEAREST);
}

inline constexpr RoundingMode all_modes[] = {RoundingMode::NearestEven, RoundingMode::TowardsZero,
                                              RoundingMode::TowardsPositive, RoundingMode::TowardsNegative,
                                              RoundingMode::NearestAway};

}  // namespace tarnwell::testing
