#pragma once

#include <bit>
#include <concepts>
#include <type_traits>

#include "element_types.hpp"

namespace tarnwell {

// The binary floats the processor computes with; float16 arithmetic goes through binary32.
template <class T>
concept BinaryFloat = std::same_as<T, float> || std::same_as<T, double>;

// The unsigned integer that holds a float element's bit pattern.
template <FloatElement T>
using FloatBits = typename ElementTraits<T>::BitPattern;

// Tests and sign handling work on the bit pattern: exact, constexpr, the same for all
// three widths, and independent of the floating-point environment.
template <FloatElement T>
constexpr FloatBits<T> to_bits(T value) noexcept {
    if constexpr (std::is_same_v<T, float16>) {
        return value.bits();
    } else {
        return std::bit_cast<FloatBits<T>>(value);
    }
}

template <FloatElement T>
constexpr T from_bits(FloatBits<T> bits) noexcept {
    if constexpr (std::is_same_v<T, float16>) {
        return float16::from_bits(bits);
    } else {
        return std::bit_cast<T>(bits);
    }
}

template <FloatElement T>
constexpr bool is_nan(T value) noexcept {
    return (to_bits(value) & ElementTraits<T>::magnitude_mask) > ElementTraits<T>::infinity_bits;
}

template <FloatElement T>
constexpr bool is_infinite(T value) noexcept {
    return (to_bits(value) & ElementTraits<T>::magnitude_mask) == ElementTraits<T>::infinity_bits;
}

template <FloatElement T>
constexpr bool is_finite(T value) noexcept {
    return (to_bits(value) & ElementTraits<T>::magnitude_mask) < ElementTraits<T>::infinity_bits;
}

template <FloatElement T>
constexpr bool sign_bit(T value) noexcept {
    return (to_bits(value) & ElementTraits<T>::sign_mask) != 0;
}

template <BinaryFloat F>
constexpr F magnitude(F x) noexcept {
    return from_bits<F>(to_bits(x) & ElementTraits<F>::magnitude_mask);
}

// The magnitude of `value` with the sign bit of `sign`.
template <BinaryFloat F>
constexpr F copy_sign(F value, F sign) noexcept {
    using Traits = ElementTraits<F>;
    return from_bits<F>(static_cast<FloatBits<F>>((to_bits(value) & Traits::magnitude_mask) |
                                                  (to_bits(sign) & Traits::sign_mask)));
}

// 2^k, for k within the normal exponent range of F.
template <BinaryFloat F>
constexpr F power_of_two(int k) noexcept {
    using Traits = ElementTraits<F>;
    constexpr int bias = (1 << (Traits::exponent_bits - 1)) - 1;
    return from_bits<F>(static_cast<FloatBits<F>>(static_cast<FloatBits<F>>(k + bias) << Traits::fraction_bits));
}

}  // namespace tarnwell
