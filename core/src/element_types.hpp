#pragma once

#include <cstdint>
#include <limits>
#include <string_view>
#include <type_traits>

#include "float16.hpp"

namespace tarnwell {

enum class Kind { SignedInteger, UnsignedInteger, Float };

// One row per element type: its canonical name, kind and finite limits.
template <class T>
struct ElementTraits;

template <class T, Kind K>
struct IntegerTraitsBase {
    static constexpr Kind kind = K;
    static constexpr int bits = static_cast<int>(sizeof(T) * 8);
    static constexpr T min = std::numeric_limits<T>::min();
    static constexpr T max = std::numeric_limits<T>::max();
};

template <> struct ElementTraits<std::int8_t> : IntegerTraitsBase<std::int8_t, Kind::SignedInteger> { static constexpr std::string_view name = "int8"; };
template <> struct ElementTraits<std::int16_t> : IntegerTraitsBase<std::int16_t, Kind::SignedInteger> { static constexpr std::string_view name = "int16"; };
template <> struct ElementTraits<std::int32_t> : IntegerTraitsBase<std::int32_t, Kind::SignedInteger> { static constexpr std::string_view name = "int32"; };
template <> struct ElementTraits<std::int64_t> : IntegerTraitsBase<std::int64_t, Kind::SignedInteger> { static constexpr std::string_view name = "int64"; };
template <> struct ElementTraits<std::uint8_t> : IntegerTraitsBase<std::uint8_t, Kind::UnsignedInteger> { static constexpr std::string_view name = "uint8"; };
template <> struct ElementTraits<std::uint16_t> : IntegerTraitsBase<std::uint16_t, Kind::UnsignedInteger> { static constexpr std::string_view name = "uint16"; };
template <> struct ElementTraits<std::uint32_t> : IntegerTraitsBase<std::uint32_t, Kind::UnsignedInteger> { static constexpr std::string_view name = "uint32"; };
template <> struct ElementTraits<std::uint64_t> : IntegerTraitsBase<std::uint64_t, Kind::UnsignedInteger> { static constexpr std::string_view name = "uint64"; };

// Float rows also carry the IEEE layout: the unsigned type of the bit pattern, the
// number of explicit fraction bits and the largest finite value.
template <class T, class Bits, int FractionBits, int ExponentBits>
struct FloatTraitsBase {
    static constexpr Kind kind = Kind::Float;
    static constexpr int bits = static_cast<int>(sizeof(T) * 8);
    using BitPattern = Bits;
    static constexpr int fraction_bits = FractionBits;
    static constexpr int exponent_bits = ExponentBits;
    static constexpr Bits sign_mask = Bits{1} << (sizeof(T) * 8 - 1);
    static constexpr Bits magnitude_mask = static_cast<Bits>(~sign_mask);
    static constexpr Bits infinity_bits = static_cast<Bits>(((Bits{1} << ExponentBits) - 1) << FractionBits);
};

template <> struct ElementTraits<float16> : FloatTraitsBase<float16, std::uint16_t, 10, 5> {
    static constexpr std::string_view name = "float16";
    static constexpr double max_finite = 65504.0;
};
template <> struct ElementTraits<float> : FloatTraitsBase<float, std::uint32_t, 23, 8> {
    static constexpr std::string_view name = "float32";
    static constexpr double max_finite = static_cast<double>(std::numeric_limits<float>::max());
};
template <> struct ElementTraits<double> : FloatTraitsBase<double, std::uint64_t, 52, 11> {
    static constexpr std::string_view name = "float64";
    static constexpr double max_finite = std::numeric_limits<double>::max();
};

template <class T>
concept Element = requires { ElementTraits<T>::name; };
template <class T>
concept IntegerElement = Element<T> && ElementTraits<T>::kind != Kind::Float;
template <class T>
concept FloatElement = Element<T> && ElementTraits<T>::kind == Kind::Float;

template <class... Ts>
struct TypeList {};

// The single list of the eleven element types, in canonical order; every per-pair
// table in the library and the binding is generated from it.
using ElementTypes = TypeList<std::int8_t, std::int16_t, std::int32_t, std::int64_t, std::uint8_t, std::uint16_t,
                              std::uint32_t, std::uint64_t, float16, float, double>;

// Calls f.template operator()<T>() for each type of the list, in order.
template <class... Ts, class F>
constexpr void for_each_type(TypeList<Ts...>, F&& f) {
    (f.template operator()<Ts>(), ...);
}

// Widens any element value to binary64, rounding 64-bit integers to nearest.
template <Element T>
constexpr double to_double(T value) noexcept {
    return static_cast<double>(value);
}

}  // namespace tarnwell
