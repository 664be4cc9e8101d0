#pragma once

#include <bit>

#include "element_types.hpp"

namespace tarnwell {

// The unsigned integer that holds a float element's bit pattern.
template <FloatElement T>
using FloatBits = typename ElementTraits<T>::BitPattern;

template <FloatElement T>
constexpr FloatBits<T> float_to_bits(T value) noexcept {
    if constexpr (std::is_same_v<T, float16>) {
        return value.bits();
    } else {
        return std::bit_cast<FloatBits<T>>(value);
    }
}

template <FloatElement T>
constexpr T float_from_bits(FloatBits<T> bits) noexcept {
    if constexpr (std::is_same_v<T, float16>) {
        return float16::from_bits(bits);
    } else {
        return std::bit_cast<T>(bits);
    }
}

// Tests on the bit pattern, so that they read the same for all three widths and never
// touch the floating-point unit.
template <FloatElement T>
constexpr bool float_is_nan(T value) noexcept {
    return (float_to_bits(value) & ElementTraits<T>::magnitude_mask) > ElementTraits<T>::infinity_bits;
}

template <FloatElement T>
constexpr bool float_is_inf(T value) noexcept {
    return (float_to_bits(value) & ElementTraits<T>::magnitude_mask) == ElementTraits<T>::infinity_bits;
}

}  // namespace tarnwell
