#pragma once

#include <bit>
#include <concepts>

#include "element_types.hpp"

namespace tarnwell {

// The binary floats the processor computes with; float16 arithmetic goes through binary32.
template <class T>
concept BinaryFloat = std::same_as<T, float> || std::same_as<T, double>;

template <BinaryFloat F>
using BinaryBits = typename ElementTraits<F>::BitPattern;

// Sign and magnitude are handled on the bit pattern: exact, constexpr, and independent
// of the floating-point environment.
template <BinaryFloat F>
constexpr BinaryBits<F> to_bits(F x) noexcept {
    return std::bit_cast<BinaryBits<F>>(x);
}

template <BinaryFloat F>
constexpr F from_bits(BinaryBits<F> bits) noexcept {
    return std::bit_cast<F>(bits);
}

template <BinaryFloat F>
constexpr bool sign_bit(F x) noexcept {
    return (to_bits(x) & ElementTraits<F>::sign_mask) != 0;
}

template <BinaryFloat F>
constexpr F magnitude(F x) noexcept {
    return from_bits<F>(to_bits(x) & ElementTraits<F>::magnitude_mask);
}

// The magnitude of `value` with the sign bit of `sign`.
template <BinaryFloat F>
constexpr F copy_sign(F value, F sign) noexcept {
    using Traits = ElementTraits<F>;
    return from_bits<F>(static_cast<BinaryBits<F>>((to_bits(value) & Traits::magnitude_mask) |
                                                  (to_bits(sign) & Traits::sign_mask)));
}

template <BinaryFloat F>
constexpr bool is_finite(F x) noexcept {
    return (to_bits(x) & ElementTraits<F>::magnitude_mask) < ElementTraits<F>::infinity_bits;
}

template <BinaryFloat F>
constexpr bool is_infinite(F x) noexcept {
    return (to_bits(x) & ElementTraits<F>::magnitude_mask) == ElementTraits<F>::infinity_bits;
}

// 2^k, for k within the normal exponent range of F.
template <BinaryFloat F>
constexpr F power_of_two(int k) noexcept {
    using Traits = ElementTraits<F>;
    constexpr int bias = (1 << (Traits::exponent_bits - 1)) - 1;
    return from_bits<F>(static_cast<BinaryBits<F>>(static_cast<BinaryBits<F>>(k + bias) << Traits::fraction_bits));
}

}  // namespace tarnwell
