#pragma once

#include <algorithm>
#include <limits>
#include <span>
#include <type_traits>

#include "cast_config.hpp"
#include "cast_error.hpp"
#include "element_loop.hpp"
#include "element_types.hpp"
#include "rounding_step.hpp"

namespace tarnwell {

// The nearest value of D, ties to even. binary16 goes through binary32: every integer
// below 2^24 in magnitude is exact there, and every larger one overflows binary16 either
// way, so the two steps round only once.
template <IntegerElement S, FloatElement D>
constexpr D nearest_float(S x) noexcept {
    if constexpr (std::is_same_v<D, float16>) {
        return float16(static_cast<float>(x));
    } else {
        return static_cast<D>(x);
    }
}

// Whether every rounding mode gives the nearest value: S fits D's significand, or D is
// binary64, where the exactness test compares the binary64 rounding of x with itself.
template <IntegerElement S, FloatElement D>
inline constexpr bool int_to_float_always_nearest =
    std::is_same_v<D, double> || std::numeric_limits<S>::digits <= ElementTraits<D>::fraction_bits + 1;

namespace detail {

template <RoundingMode Mode, IntegerElement S, FloatElement D>
void int_to_float_rounded(std::span<const S> src, std::span<D> dst, std::span<const MapEntry<S, D>> entries) noexcept {
    for (std::size_t i = 0; i < src.size(); ++i) {
        const S x = src[i];
        if (!entries.empty()) {
            if (const auto* hit = find_entry(entries, x)) {
                dst[i] = hit->target;
                continue;
            }
        }
        // The binary64 test is exact up to 2^53; beyond that x is judged by its binary64
        // rounding, and is left as it is when that rounding equals the nearest value.
        dst[i] = apply_rounding_mode<Mode>(to_double(x), nearest_float<S, D>(x));
    }
}

}  // namespace detail

// Converts min(src.size(), dst.size()) integers to floats: map lookup first, then the
// nearest value stepped once when the rounding mode wants the neighbour. Never fails: a
// value beyond binary16's range becomes an infinity or the largest finite value.
template <IntegerElement S, FloatElement D>
CastResult convert_slice_int_to_float(std::span<const S> src, std::span<D> dst,
                                      const CastConfig<S, D>& config) noexcept {
    const std::size_t n = std::min(src.size(), dst.size());
    src = src.first(n);
    dst = dst.first(n);
    const std::span<const MapEntry<S, D>> entries(config.entries);
    const bool nearest_only = int_to_float_always_nearest<S, D> || config.rounding == RoundingMode::NearestEven;
    if (nearest_only) {
        if (entries.empty()) {
            transform_elements(src, dst, nearest_float<S, D>);
        } else {
            detail::int_to_float_rounded<RoundingMode::NearestEven>(src, dst, entries);
        }
    } else if constexpr (!int_to_float_always_nearest<S, D>) {
        with_rounding_mode(config.rounding, [&]<RoundingMode Mode>() {
            detail::int_to_float_rounded<Mode>(src, dst, entries);
        });
    }
    return {};
}

}  // namespace tarnwell
