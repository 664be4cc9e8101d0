#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <span>

#include "../cast_error.hpp"
#include "../cast_float.hpp"
#include "../float16.hpp"
#include "../policy.hpp"
#include "simd.hpp"

// The fast paths' outcome rules in scalar code: whole blocks are all-or-nothing, the
// NaN test of a block comes before any rounding or range test, and the elements after
// the last whole block go one at a time. The vector kernels hand over at the first block
// they cannot convert themselves, so errors are found and reported here for every level.
namespace tarnwell::simd::detail {

// The integer range of a rounding fast path, and whether leaving it is an error
// (checked) or saturates (clamped).
struct IntegerRule {
    double lo;
    double hi;
    bool checked;
};

inline constexpr IntegerRule uint8_clamp{0.0, 255.0, false};
inline constexpr IntegerRule int32_clamp{-2147483648.0, 2147483647.0, false};
inline constexpr IntegerRule int32_check{-2147483648.0, 2147483647.0, true};

// The error a unit (a block, or one tail element) raises: its first NaN, else, when
// checked, its first element whose rounded value is out of range, carrying the value
// as it was before rounding.
template <class S>
std::optional<CastError> unit_error(std::span<const S> unit, RoundingMode mode, IntegerRule rule) noexcept {
    for (const S x : unit) {
        if (std::isnan(x)) {
            return NanOrInf{static_cast<double>(x)};
        }
    }
    if (rule.checked) {
        for (const S x : unit) {
            const double r = round_with_mode(x, mode);
            if (r < rule.lo || r > rule.hi) {
                return OutOfRange{static_cast<double>(x), rule.lo, rule.hi};
            }
        }
    }
    return std::nullopt;
}

// Converts the elements from `from` on, in blocks of Block and then one at a time, and
// reports the first unit's error; units before it stay written.
template <std::size_t Block, class S, class D>
FastPathResult finish_rounding(std::span<const S> src, std::span<D> dst, RoundingMode mode, IntegerRule rule,
                               std::size_t from) {
    const auto convert_unit = [&](std::size_t start, std::size_t size) -> std::optional<CastError> {
        const auto unit = src.subspan(start, size);
        if (auto error = unit_error(unit, mode, rule)) {
            return error;
        }
        for (std::size_t k = 0; k < size; ++k) {
            const double r = round_with_mode(unit[k], mode);
            dst[start + k] = static_cast<D>(std::min(std::max(r, rule.lo), rule.hi));
        }
        return std::nullopt;
    };
    std::size_t i = from;
    for (; src.size() - i >= Block; i += Block) {
        if (auto error = convert_unit(i, Block)) {
            return Unexpected{*error};
        }
    }
    for (; i < src.size(); ++i) {
        if (auto error = convert_unit(i, 1)) {
            return Unexpected{*error};
        }
    }
    return Coverage::Handled;
}

// After the whole destination is written: the first finite source whose binary32
// result is infinite, from `from` on.
inline FastPathResult find_float32_overflow(std::span<const double> src, std::span<const float> dst,
                                            std::size_t from) {
    constexpr double max_finite = std::numeric_limits<float>::max();
    for (std::size_t i = from; i < src.size(); ++i) {
        if (std::isfinite(src[i]) && std::isinf(dst[i])) {
            return Unexpected{OutOfRange{src[i], -max_finite, max_finite}};
        }
    }
    return Coverage::Handled;
}

// Narrows the elements from `from` on one at a time, as the element loop does: an
// overflow (a finite source with an infinite result), when tested, stops before the
// failing element is written.
template <class S>
FastPathResult finish_float16_narrowing(std::span<const S> src, std::span<float16> dst, bool test_overflow,
                                        std::size_t from) {
    for (std::size_t i = from; i < src.size(); ++i) {
        const float16 r(static_cast<float>(src[i]));
        if (test_overflow && std::isfinite(src[i]) && (r.bits() & 0x7fffu) == 0x7c00u) {
            return Unexpected{OutOfRange{static_cast<double>(src[i]), -65504.0, 65504.0}};
        }
        dst[i] = r;
    }
    return Coverage::Handled;
}

}  // namespace tarnwell::simd::detail
