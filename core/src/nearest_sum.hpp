#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <utility>

#include "float_bits.hpp"

namespace tarnwell {

// x + y rounded to nearest, ties to even, done in integer arithmetic on the bit patterns.
// The hardware addition rounds in whatever direction the floating-point environment
// holds; this one gives the default-environment sum whatever the environment says.
template <BinaryFloat F>
constexpr F nearest_even_sum(F x, F y) noexcept {
    using Traits = ElementTraits<F>;
    constexpr int fraction_bits = Traits::fraction_bits;

    if (!is_finite(x) || !is_finite(y)) {
        return x + y;  // infinities and NaN: exact in every rounding direction
    }
    auto x_bits = to_bits(x) & Traits::magnitude_mask;
    auto y_bits = to_bits(y) & Traits::magnitude_mask;
    if (x_bits < y_bits) {
        std::swap(x, y);
        std::swap(x_bits, y_bits);
    }
    if (y_bits == 0) {
        // A zero addend: the sum of two zeros is -0 only when both are -0.
        return x_bits != 0 ? x : (sign_bit(x) && sign_bit(y) ? x : F(0));
    }

    // Significands with the implicit bit, scaled by 2^exponent, plus three guard bits
    // (guard, round, sticky) below the last place; a subnormal counts as exponent 1.
    struct Scaled {
        std::uint64_t significand;
        int exponent;
    };
    const auto decode = [](FloatBits<F> bits) {
        const int field = static_cast<int>(bits >> fraction_bits);
        const std::uint64_t fraction = bits & ((FloatBits<F>{1} << fraction_bits) - 1);
        const std::uint64_t implicit = field != 0 ? std::uint64_t{1} << fraction_bits : 0;
        return Scaled{(fraction | implicit) << 3, field != 0 ? field : 1};
    };
    const Scaled big = decode(x_bits);
    Scaled small = decode(y_bits);

    // Align the smaller operand, folding every bit shifted out into the sticky bit.
    const int shift = big.exponent - small.exponent;
    if (shift >= fraction_bits + 4) {
        small.significand = 1;
    } else if (shift > 0) {
        const bool sticky = (small.significand & ((std::uint64_t{1} << shift) - 1)) != 0;
        small.significand = (small.significand >> shift) | (sticky ? 1u : 0u);
    }

    std::uint64_t sum = sign_bit(x) == sign_bit(y) ? big.significand + small.significand
                                                   : big.significand - small.significand;
    if (sum == 0) {
        return F(0);  // exact cancellation is +0 under round to nearest
    }
    int exponent = big.exponent;
    constexpr std::uint64_t carry = std::uint64_t{1} << (fraction_bits + 4);
    if (sum >= carry) {
        sum = (sum >> 1) | (sum & 1);
        ++exponent;
    }
    // Cancellation: shift left back to a leading implicit bit, stopping at the subnormal
    // exponent. With a sticky bit in play this shifts by at most one place.
    const int normalise = std::min(std::countl_zero(sum) - std::countl_zero(carry >> 1), exponent - 1);
    if (normalise > 0) {
        sum <<= normalise;
        exponent -= normalise;
    }

    const auto guard = static_cast<unsigned>(sum & 7);
    sum >>= 3;
    if (guard > 4 || (guard == 4 && (sum & 1) != 0)) {
        ++sum;
    }
    // The implicit bit (or a rounding carry) adds one to the exponent field; a subnormal
    // result has exponent 1 and no implicit bit, so its field stays 0.
    const std::uint64_t result = (static_cast<std::uint64_t>(exponent - 1) << fraction_bits) + sum;
    const auto result_magnitude = result >= Traits::infinity_bits ? Traits::infinity_bits
                                                                   : static_cast<FloatBits<F>>(result);
    return copy_sign(from_bits<F>(result_magnitude), x);
}

}  // namespace tarnwell
