#pragma once

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

    // binary32 to binary16, round to nearest with ties to even.
    static constexpr std::uint16_t narrow(float value) noexcept {
        const std::uint32_t x = std::bit_cast<std::uint32_t>(value);
        const auto sign = static_cast<std::uint16_t>((x >> 16) & 0x8000u);
        const std::uint32_t magnitude = x & 0x7fffffffu;
        if (magnitude > 0x7f800000u) {
            // A NaN stays a quiet NaN with its sign and its leading fraction bits.
            return static_cast<std::uint16_t>(sign | 0x7e00u | ((magnitude >> 13) & 0x03ffu));
        }
        if (magnitude >= 0x477ff000u) {
            return static_cast<std::uint16_t>(sign | 0x7c00u);  // 65520 and beyond round to infinity
        }
        if (magnitude >= 0x38800000u) {
            // Normal: rebias the exponent (127 - 15 = 112) and round away the low 13 bits.
            std::uint32_t m = magnitude - 0x38000000u;
            m += 0x0fffu + ((m >> 13) & 1u);
            return static_cast<std::uint16_t>(sign | (m >> 13));
        }
        if (magnitude <= 0x33000000u) {
            return sign;  // at most 2^-25, half the smallest subnormal: ties to even zero
        }
        // Subnormal result: the count of 2^-24 units, rounded to nearest even.
        const std::uint32_t exponent = magnitude >> 23;
        const std::uint32_t significand = (magnitude & 0x007fffffu) | 0x00800000u;
        const std::uint32_t shift = 126u - exponent;
        std::uint32_t units = significand >> shift;
        const std::uint32_t rest = significand & ((1u << shift) - 1u);
        const std::uint32_t half = 1u << (shift - 1u);
        if (rest > half || (rest == half && (units & 1u))) {
            ++units;
        }
        return static_cast<std::uint16_t>(sign | units);
    }

    // binary16 to binary32, exact; a NaN becomes quiet with its fraction at the top.
    static constexpr float widen(std::uint16_t h) noexcept {
        const std::uint32_t sign = static_cast<std::uint32_t>(h & 0x8000u) << 16;
        const std::uint32_t exponent = (h >> 10) & 0x1fu;
        const std::uint32_t fraction = h & 0x03ffu;
        if (exponent == 0x1fu) {
            const std::uint32_t quiet = fraction != 0 ? 0x00400000u : 0u;
            return std::bit_cast<float>(sign | 0x7f800000u | quiet | (fraction << 13));
        }
        if (exponent == 0) {
            const float magnitude = static_cast<float>(fraction) * 0x1p-24f;
            return sign ? -magnitude : magnitude;
        }
        return std::bit_cast<float>(sign | ((exponent + 112u) << 23) | (fraction << 13));
    }

private:
    std::uint16_t bits_ = 0;
};

}  // namespace tarnwell
