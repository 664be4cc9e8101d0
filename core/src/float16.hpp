#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>

namespace tarnwell {

// IEEE 754 binary16, stored as its bit pattern. Conversions are done on the bits so
// that every platform gives the same results, NaN payloads included.
class float16 {
public:
    float16() = default;
    explicit float16(float value) noexcept : bits_(narrow(value)) {}

    static constexpr float16 from_bits(std::uint16_t bits) noexcept {
        float16 h;
        h.bits_ = bits;
        return h;
    }
    constexpr std::uint16_t bits() const noexcept { return bits_; }

    explicit operator float() const noexcept { return widen(bits_); }
    explicit operator double() const noexcept { return static_cast<double>(widen(bits_)); }

    constexpr bool is_nan() const noexcept { return (bits_ & 0x7fffu) > 0x7c00u; }
    constexpr bool is_inf() const noexcept { return (bits_ & 0x7fffu) == 0x7c00u; }
    constexpr bool signbit() const noexcept { return (bits_ & 0x8000u) != 0; }

    // binary32 carries 24 >= 2 * 11 + 2 significand bits, so rounding the binary32 sum
    // of two binary16 values to binary16 is the correctly rounded binary16 sum.
    friend float16 operator+(float16 a, float16 b) noexcept { return float16(float(a) + float(b)); }
    friend float16 operator-(float16 a, float16 b) noexcept { return float16(float(a) - float(b)); }
    friend constexpr float16 abs(float16 h) noexcept { return from_bits(h.bits_ & 0x7fffu); }

    // binary32 to binary16, round to nearest with ties to even. Every case is computed and
    // the right one selected, with no branches, so that loops over it vectorise where the
    // processor has per-lane shifts.
    static constexpr std::uint16_t narrow(float value) noexcept {
        const std::uint32_t x = std::bit_cast<std::uint32_t>(value);
        const std::uint32_t sign = (x >> 16) & 0x8000u;
        const std::uint32_t magnitude = x & 0x7fffffffu;
        // Normal: rebias the exponent (127 - 15 = 112) and round away the low 13 bits; a
        // carry out of the fraction correctly bumps the exponent.
        const std::uint32_t rebiased = magnitude - 0x38000000u;
        const std::uint32_t normal = (rebiased + 0x0fffu + ((rebiased >> 13) & 1u)) >> 13;
        // Subnormal: the count of 2^-24 units in the significand, rounded to nearest even.
        // Shifts beyond 25 leave nothing (at most 2^-25, which ties to the even zero).
        const auto shift =
            static_cast<std::uint32_t>(std::clamp(126 - static_cast<int>(magnitude >> 23), 14, 25));
        const std::uint32_t significand = (magnitude & 0x007fffffu) | 0x00800000u;
        const std::uint32_t subnormal =
            (significand + (1u << (shift - 1)) - 1u + ((significand >> shift) & 1u)) >> shift;
        std::uint32_t result = magnitude >= 0x38800000u ? normal : subnormal;
        result = magnitude >= 0x477ff000u ? 0x7c00u : result;  // 65520 and beyond round to infinity
        // A NaN stays a quiet NaN with its sign and its leading fraction bits.
        result = magnitude > 0x7f800000u ? (0x7e00u | ((magnitude >> 13) & 0x03ffu)) : result;
        return static_cast<std::uint16_t>(sign | result);
    }

    // binary16 to binary32, exact; a NaN becomes quiet with its fraction at the top. Like
    // narrow, it selects among all cases without branches.
    static constexpr float widen(std::uint16_t h) noexcept {
        const std::uint32_t sign = static_cast<std::uint32_t>(h & 0x8000u) << 16;
        const std::uint32_t exponent = (h >> 10) & 0x1fu;
        const std::uint32_t fraction = h & 0x03ffu;
        const std::uint32_t normal = ((exponent + 112u) << 23) | (fraction << 13);
        const std::uint32_t quiet = fraction != 0 ? 0x00400000u : 0u;
        const std::uint32_t special = 0x7f800000u | quiet | (fraction << 13);
        // A subnormal is its fraction in units of 2^-24, normalised in integer arithmetic:
        // with its top bit at position p it is 1.f * 2^(p - 24), binary32 exponent p + 103,
        // and the shifted fraction brings its own leading 1 into the exponent field.
        const auto top = static_cast<std::uint32_t>(31 - std::countl_zero(fraction | 1u));
        const std::uint32_t subnormal = fraction != 0 ? ((top + 102u) << 23) + (fraction << (23u - top)) : 0u;
        const std::uint32_t magnitude = exponent == 0x1fu ? special : exponent == 0 ? subnormal : normal;
        return std::bit_cast<float>(sign | magnitude);
    }

private:
    std::uint16_t bits_ = 0;
};

}  // namespace tarnwell
