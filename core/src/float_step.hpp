#pragma once

#include "float_bits.hpp"

namespace tarnwell {

// IEEE 754 nextUp: the least value above x, found on the bit pattern. Both zeros step to
// the smallest positive subnormal, -infinity to the most negative finite value, and
// +infinity stays. A NaN is returned as it is.
template <FloatElement T>
constexpr T next_up(T x) noexcept {
    using Traits = ElementTraits<T>;
    const FloatBits<T> bits = to_bits(x);
    const FloatBits<T> magnitude = bits & Traits::magnitude_mask;
    if (magnitude > Traits::infinity_bits || bits == Traits::infinity_bits) {
        return x;
    }
    if (magnitude == 0) {
        return from_bits<T>(1);
    }
    // Ordered magnitudes have ordered patterns: a positive value grows away from zero,
    // a negative one shrinks towards it.
    const bool negative = (bits & Traits::sign_mask) != 0;
    return from_bits<T>(static_cast<FloatBits<T>>(negative ? bits - 1 : bits + 1));
}

// IEEE 754 nextDown: the greatest value below x, that is -nextUp(-x).
template <FloatElement T>
constexpr T next_down(T x) noexcept {
    constexpr FloatBits<T> sign = ElementTraits<T>::sign_mask;
    const T up = next_up(from_bits<T>(static_cast<FloatBits<T>>(to_bits(x) ^ sign)));
    return from_bits<T>(static_cast<FloatBits<T>>(to_bits(up) ^ sign));
}

}  // namespace tarnwell
