#pragma once

#include <cmath>
#include <type_traits>

#include "element_types.hpp"
#include "float_step.hpp"
#include "policy.hpp"

namespace tarnwell {

template <RoundingMode Mode>
using RoundingModeConstant = std::integral_constant<RoundingMode, Mode>;

// Calls f(RoundingModeConstant<mode>{}), so that a loop picks its mode once per slice and
// carries no mode test per element.
template <class F>
decltype(auto) with_rounding_mode(RoundingMode mode, F&& f) {
    switch (mode) {
        case RoundingMode::TowardsZero:
            return f(RoundingModeConstant<RoundingMode::TowardsZero>{});
        case RoundingMode::TowardsPositive:
            return f(RoundingModeConstant<RoundingMode::TowardsPositive>{});
        case RoundingMode::TowardsNegative:
            return f(RoundingModeConstant<RoundingMode::TowardsNegative>{});
        case RoundingMode::NearestAway:
            return f(RoundingModeConstant<RoundingMode::NearestAway>{});
        case RoundingMode::NearestEven:
            break;
    }
    return f(RoundingModeConstant<RoundingMode::NearestEven>{});
}

// Turns `nearest`, the round-to-nearest-even value of a source whose value is `exact`, into
// the value that Mode asks for. Both are compared in binary64: when they differ, the
// source lies strictly between `nearest` and its neighbour on the source's side, so one
// unit step reaches the directed result, and NearestAway moves only off an exact halfway
// point towards the larger magnitude. `exact` must not be NaN.
template <RoundingMode Mode, FloatElement D>
constexpr D apply_rounding_mode(double exact, D nearest) noexcept {
    if constexpr (Mode == RoundingMode::NearestEven) {
        return nearest;
    }
    const double near = to_double(nearest);
    if (exact == near) {
        return nearest;
    }
    if constexpr (Mode == RoundingMode::TowardsZero) {
        if (std::fabs(exact) >= std::fabs(near)) {
            return nearest;
        }
        return exact < 0 ? next_up(nearest) : next_down(nearest);
    } else if constexpr (Mode == RoundingMode::TowardsPositive) {
        return exact > near ? next_up(nearest) : nearest;
    } else if constexpr (Mode == RoundingMode::TowardsNegative) {
        return exact < near ? next_down(nearest) : nearest;
    } else {
        const D other = exact > near ? next_up(nearest) : next_down(nearest);
        const double far = to_double(other);
        // Adjacent values of a narrower format sum exactly in binary64.
        const bool halfway = exact == (near + far) * 0.5;
        return halfway && std::fabs(far) > std::fabs(near) ? other : nearest;
    }
}

}  // namespace tarnwell
