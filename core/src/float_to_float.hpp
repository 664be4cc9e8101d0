#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <type_traits>

#include "cast_config.hpp"
#include "cast_error.hpp"
#include "element_loop.hpp"
#include "element_types.hpp"
#include "float_bits.hpp"
#include "nan_keyed_map.hpp"
#include "rounding_step.hpp"
#include "simd/simd.hpp"

namespace tarnwell {

// The nearest value of D, ties to even: exact when widening (a NaN comes out quiet with its
// fraction at the top), rounded once when narrowing, and binary64 to binary16 rounded twice,
// through binary32.
template <FloatElement S, FloatElement D>
constexpr D float_to_float_nearest(S x) noexcept {
    if constexpr (std::is_same_v<S, D>) {
        return x;
    } else if constexpr (std::is_same_v<D, float16>) {
        return float16(static_cast<float>(x));
    } else {
        return static_cast<D>(x);
    }
}

template <FloatElement S, FloatElement D>
inline constexpr bool float_narrowing = sizeof(D) < sizeof(S);

// A finite source whose result is infinite has overflowed the target.
template <FloatElement S, FloatElement D>
constexpr bool float_overflowed(S x, D result) noexcept {
    return is_infinite(result) && !is_infinite(x) && !is_nan(x);
}

template <FloatElement S, FloatElement D>
constexpr OutOfRange float_out_of_range(S x) noexcept {
    return OutOfRange{to_double(x), -ElementTraits<D>::max_finite, ElementTraits<D>::max_finite};
}

namespace detail {

template <RoundingMode Mode, FloatElement S, FloatElement D>
CastResult narrow_floats(std::span<const S> src, std::span<D> dst, std::span<const MapEntry<S, D>> entries,
                         bool clamp) noexcept {
    for (std::size_t i = 0; i < src.size(); ++i) {
        const S x = src[i];
        if (!entries.empty()) {
            if (const auto* hit = find_entry(entries, x)) {
                dst[i] = hit->target;
                continue;
            }
        }
        D result = float_to_float_nearest<S, D>(x);
        if (!is_nan(x)) {
            // Every float is exact in binary64, so this step is exact for every pair.
            result = apply_rounding_mode<Mode>(to_double(x), result);
        }
        if (!clamp && float_overflowed(x, result)) {
            return Unexpected{float_out_of_range<S, D>(x)};
        }
        dst[i] = result;
    }
    return {};
}

// The pair's vector fast path for a slice with no scalar map: float64 to float32 and the
// binary16 narrowings under nearest-even (testing for overflow unless the policy is Clamp),
// and the binary16 widenings, which no mode or policy affects. Other cases decline.
template <FloatElement S, FloatElement D>
simd::FastPathResult float_fast_path(std::span<const S> src, std::span<D> dst, const CastConfig<S, D>& config) {
    const bool nearest = config.rounding == RoundingMode::NearestEven;
    const bool test_overflow = config.out_of_range != OutOfRangeMode::Clamp;
    if constexpr (std::is_same_v<S, double> && std::is_same_v<D, float>) {
        if (nearest) {
            return simd::try_f64_to_f32_nearest(src, dst, test_overflow);
        }
    } else if constexpr (std::is_same_v<S, float> && std::is_same_v<D, float16>) {
        if (nearest) {
            return simd::try_f32_to_f16_nearest(src, dst, test_overflow);
        }
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<D, float16>) {
        if (nearest) {
            return simd::try_f64_to_f16_nearest(src, dst, test_overflow);
        }
    } else if constexpr (std::is_same_v<S, float16> && std::is_same_v<D, float>) {
        return simd::try_f16_to_f32(src, dst);
    } else if constexpr (std::is_same_v<S, float16> && std::is_same_v<D, double>) {
        return simd::try_f16_to_f64(src, dst);
    }
    return simd::Coverage::Declined;
}

// The length of the prefix that the pair's vector narrowing under a mode other than
// nearest-even converts (for a slice with no scalar map); 0 where there is none.
template <FloatElement S, FloatElement D>
std::size_t float_vector_prefix(std::span<const S> src, std::span<D> dst, const CastConfig<S, D>& config) {
    const bool test_overflow = config.out_of_range != OutOfRangeMode::Clamp;
    if constexpr (std::is_same_v<S, double> && std::is_same_v<D, float>) {
        return simd::narrow_prefix_f64_to_f32(src, dst, config.rounding, test_overflow);
    } else if constexpr (std::is_same_v<S, float> && std::is_same_v<D, float16>) {
        return simd::narrow_prefix_f32_to_f16(src, dst, config.rounding, test_overflow);
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<D, float16>) {
        return simd::narrow_prefix_f64_to_f16(src, dst, config.rounding, test_overflow);
    }
    return 0;
}

// A slice under a NaN-keyed map, for the pairs and modes the unmapped loops serve in
// branch-free blocks (all but narrowing in a directed mode): NaN elements take the target
// and the rest the unmapped conversion. Empty for the others, which the general loop
// converts.
template <FloatElement S, FloatElement D>
std::optional<CastResult> convert_nan_keyed_floats(std::span<const S> src, std::span<D> dst,
                                                   const CastConfig<S, D>& config, D nan_target) noexcept {
    const auto convert = [nan_target](S x) { return is_nan(x) ? nan_target : float_to_float_nearest<S, D>(x); };
    if constexpr (float_narrowing<S, D>) {
        if (config.rounding != RoundingMode::NearestEven) {
            return std::nullopt;
        }
        if (config.out_of_range != OutOfRangeMode::Clamp) {
            // A NaN is never an overflow, even when its target is an infinity.
            const std::size_t failed =
                transform_elements_until(src, dst, convert, is_infinite<D>, float_overflowed<S, D>);
            if (failed != src.size()) {
                return CastResult{Unexpected{float_out_of_range<S, D>(src[failed])}};
            }
            return CastResult{};
        }
    }
    transform_elements(src, dst, convert);
    return CastResult{};
}

}  // namespace detail

// The element loops alone, with no vector fast path; convert_slice_float_to_float gives the
// same results.
template <FloatElement S, FloatElement D>
CastResult convert_slice_float_to_float_scalar(std::span<const S> src, std::span<D> dst,
                                               const CastConfig<S, D>& config) noexcept {
    const std::size_t n = std::min(src.size(), dst.size());
    src = src.first(n);
    dst = dst.first(n);
    const std::span<const MapEntry<S, D>> entries(config.entries);
    if constexpr (!float_narrowing<S, D>) {
        // Identity copies keep every bit (signalling NaNs, -0); widening is exact. Neither
        // rounds nor overflows, so the mode and the policy play no part.
        if (entries.empty()) {
            if constexpr (std::is_same_v<S, D>) {
                if (n != 0) {
                    std::memcpy(dst.data(), src.data(), n * sizeof(S));
                }
            } else {
                transform_elements(src, dst, float_to_float_nearest<S, D>);
            }
            return {};
        }
        for (std::size_t i = 0; i < n; ++i) {
            const auto* hit = find_entry(entries, src[i]);
            dst[i] = hit ? hit->target : float_to_float_nearest<S, D>(src[i]);
        }
        return {};
    } else {
        const bool clamp = config.out_of_range == OutOfRangeMode::Clamp;
        if (entries.empty() && config.rounding == RoundingMode::NearestEven) {
            if (clamp) {
                transform_elements(src, dst, float_to_float_nearest<S, D>);
                return {};
            }
            const std::size_t failed = transform_elements_until(src, dst, float_to_float_nearest<S, D>,
                                                                is_infinite<D>, float_overflowed<S, D>);
            if (failed != n) {
                return Unexpected{float_out_of_range<S, D>(src[failed])};
            }
            return {};
        }
        return with_rounding_mode(config.rounding, [&]<RoundingMode Mode>() {
            return detail::narrow_floats<Mode>(src, dst, entries, clamp);
        });
    }
}

// Converts min(src.size(), dst.size()) floats: map lookup first, then a bit copy (same
// type), an exact widening, or a narrowing under the rounding mode. A finite value that
// becomes infinite is written under Clamp and is an OutOfRange error otherwise.
template <FloatElement S, FloatElement D>
CastResult convert_slice_float_to_float(std::span<const S> src, std::span<D> dst,
                                        const CastConfig<S, D>& config) noexcept {
    if (const auto nan_target = nan_keyed_target(config.entries)) {
        const std::size_t n = std::min(src.size(), dst.size());
        if (auto converted = detail::convert_nan_keyed_floats(src.first(n), dst.first(n), config, *nan_target)) {
            return *converted;
        }
    }
    if (config.entries.empty()) {
        const std::size_t n = std::min(src.size(), dst.size());
        const auto fast = detail::float_fast_path(src.first(n), dst.first(n), config);
        if (!fast) {
            return Unexpected{fast.error()};
        }
        if (*fast == simd::Coverage::Handled) {
            return {};
        }
        if (config.rounding != RoundingMode::NearestEven) {
            // The prefix stops before any overflow, so the element loop meets the first
            // failing element exactly where it would have.
            const std::size_t done = detail::float_vector_prefix(src.first(n), dst.first(n), config);
            return convert_slice_float_to_float_scalar(src.subspan(done, n - done), dst.subspan(done, n - done),
                                                       config);
        }
    }
    return convert_slice_float_to_float_scalar(src, dst, config);
}

}  // namespace tarnwell
