#pragma once

#include <cmath>
#include <cstdint>
#include <type_traits>

#include "element_types.hpp"
#include "float16.hpp"
#include "float_bits.hpp"
#include "internal_failure.hpp"
#include "nearest_sum.hpp"
#include "policy.hpp"

namespace tarnwell {

namespace detail {

// Truncating a float below 2^p (p = significand precision) to this integer type is
// exact, and the truncating conversion ignores the environment's rounding direction.
template <BinaryFloat F>
using TruncatedInteger = std::conditional_t<std::is_same_v<F, float>, std::int32_t, std::int64_t>;

template <BinaryFloat F>
inline constexpr int precision = ElementTraits<F>::fraction_bits + 1;

}  // namespace detail

// x rounded to an integral value of its own type, for |x| < 2^p (p = the precision of F),
// with the sign of x kept on a zero result. Only exact operations are used (truncating
// conversion, subtraction of the integral part, a +1 step), so the result is the same in
// every floating-point environment and needs no rounding instruction.
template <RoundingMode Mode, BinaryFloat F>
constexpr F round_below_precision(F x) noexcept {
    constexpr int p = detail::precision<F>;
    const F a = magnitude(x);
    const auto whole = static_cast<detail::TruncatedInteger<F>>(a);
    const F fraction = a - static_cast<F>(whole);
    const bool odd = (whole & 1) != 0;

    // Whether the magnitude goes up to the next integer; the conditions are combined
    // bitwise so that the compiler emits no data-dependent branches.
    bool up = false;
    if constexpr (Mode == RoundingMode::NearestEven) {
        up = (fraction > F(0.5)) | ((fraction == F(0.5)) & odd);
    } else if constexpr (Mode == RoundingMode::TowardsPositive) {
        up = (fraction != F(0)) & !sign_bit(x);
    } else if constexpr (Mode == RoundingMode::TowardsNegative) {
        up = (fraction != F(0)) & sign_bit(x);
    } else if constexpr (Mode == RoundingMode::NearestAway) {
        // floor(a + 0.5) with the sum rounded to nearest even in F. That sum lands on the
        // next integer without reaching it exactly in two places only: the largest value
        // below one half (the sum ties up to 1), and odd integers from 2^(p-1) to 2^p
        // (the sum ties to the even neighbour above).
        constexpr F largest_below_half = F(0.5) - power_of_two<F>(-p - 1);
        up = (fraction >= F(0.5)) | (a == largest_below_half) | ((a >= power_of_two<F>(p - 1)) & odd);
    }
    // whole + 1 is at most 2^p, so the conversion back is exact.
    return copy_sign(static_cast<F>(whole + static_cast<int>(up)), x);
}

// x rounded to an integral value of its own type; NaN, infinities and every value from
// 2^p up, all integral already, come back unchanged.
template <RoundingMode Mode, BinaryFloat F>
constexpr F round_with_mode(F x) noexcept {
    if (!(magnitude(x) < power_of_two<F>(detail::precision<F>))) {
        return x;
    }
    return round_below_precision<Mode>(x);
}

template <BinaryFloat F>
constexpr F round_with_mode(F x, RoundingMode mode) {
    return with_rounding_mode(mode, [x]<RoundingMode M>() { return round_with_mode<M>(x); });
}

// binary16 rounds in binary32 and narrows back; the narrowing is exact, since every
// binary16 value of magnitude 1024 or more is integral and below that the result is at
// most 1024.
float16 round_with_mode(float16 x, RoundingMode mode);

namespace detail {

// A modulus that is a power of two of at least 1: dividing by it only moves the
// exponent, so the truncated remainder below is exact.
template <BinaryFloat F>
constexpr bool is_power_of_two_from_one(F m) noexcept {
    using Traits = ElementTraits<F>;
    constexpr auto fraction_mask = static_cast<FloatBits<F>>((FloatBits<F>{1} << Traits::fraction_bits) - 1);
    const auto bits = to_bits(m);
    return (bits & fraction_mask) == 0 && m >= F(1) && is_finite(m);
}

// a - trunc(a / m) * m for a power-of-two m >= 1: a / m is exact (or below 1 in
// magnitude, where it truncates to zero whatever its rounding), the product is a with
// its bits below m cleared, and the difference is those bits. The sign of a is put on
// the result so that a zero remainder keeps it too.
template <BinaryFloat F>
constexpr F remainder_by_power_of_two(F a, F m) noexcept {
    const F quotient = round_with_mode<RoundingMode::TowardsZero>(a * (F(1) / m));
    return copy_sign(a - quotient * m, a);
}

}  // namespace detail

// The Euclidean remainder: r = a - trunc(a / m) * m computed exactly (the sign of a,
// even for zero), then r + |m| rounded to nearest even when r is below zero, so the
// result may equal |m| when r is too small to register against it. For the power-of-two
// moduli of the float-to-integer wrap no library call is made.
template <BinaryFloat F>
F rem_euclid(F a, F m) noexcept {
    const F modulus = magnitude(m);
    const F r = detail::is_power_of_two_from_one(modulus) ? detail::remainder_by_power_of_two(a, modulus)
                                                          : std::fmod(a, modulus);
    return r < F(0) ? nearest_even_sum(r, modulus) : r;
}

}  // namespace tarnwell
