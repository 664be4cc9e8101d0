#pragma once

#include <cmath>
#include <type_traits>

#include "element_types.hpp"
#include "float_bits.hpp"
#include "policy.hpp"

namespace tarnwell {

// Turns `nearest`, the round-to-nearest-even value of a source whose value is `exact`, into
// the value that Mode asks for. Both are compared in binary64: when they differ, the
// source lies strictly between `nearest` and its neighbour on the source's side, so one
// unit step (nextUp or nextDown) reaches the directed result, and NearestAway moves only
// off an exact halfway point towards the larger magnitude. `exact` must not be NaN.
//
// The step is taken on the bit pattern as plus or minus one on the magnitude, chosen
// without branches, because whether a value is exact varies from element to element. This
// is nextUp/nextDown because `nearest` carries the source's sign: a zero never has to step
// across the sign (+0 only stands for a source >= 0, -0 for one <= 0), and an infinity
// steps back to the largest finite value.
template <RoundingMode Mode, FloatElement D>
constexpr D apply_rounding_mode(double exact, D nearest) noexcept {
    if constexpr (Mode == RoundingMode::NearestEven) {
        return nearest;
    } else {
        using Bits = FloatBits<D>;
        constexpr Bits away_from_zero = 1;
        constexpr auto towards_zero = static_cast<Bits>(-1);
        const Bits bits = to_bits(nearest);
        const double near = to_double(nearest);
        const bool negative = (bits & ElementTraits<D>::sign_mask) != 0;
        Bits step = 0;
        if constexpr (Mode == RoundingMode::TowardsZero) {
            step = std::fabs(exact) < std::fabs(near) ? towards_zero : 0;
        } else if constexpr (Mode == RoundingMode::TowardsPositive) {
            step = exact > near ? (negative ? towards_zero : away_from_zero) : 0;
        } else if constexpr (Mode == RoundingMode::TowardsNegative) {
            step = exact < near ? (negative ? away_from_zero : towards_zero) : 0;
        } else {
            // Only a source halfway to the next larger magnitude can equal this midpoint (one
            // on the zero side lies beyond `nearest` from it; past an infinity it is NaN).
            // Adjacent values of a narrower format sum exactly in binary64.
            const double farther = to_double(from_bits<D>(static_cast<Bits>(bits + 1)));
            const bool halfway = exact == (near + farther) * 0.5;
            step = halfway ? away_from_zero : 0;
        }
        return from_bits<D>(static_cast<Bits>(bits + step));
    }
}

}  // namespace tarnwell
