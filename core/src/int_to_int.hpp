#pragma once

#include <algorithm>
#include <cstring>
#include <span>
#include <utility>
#include <type_traits>

#include "cast_config.hpp"
#include "cast_error.hpp"
#include "element_types.hpp"

namespace tarnwell {

// The source values that D represents: [max(min S, min D), min(max S, max D)], held in S.
template <IntegerElement S, IntegerElement D>
struct IntegerRange {
    static constexpr S lo = std::cmp_less(ElementTraits<S>::min, ElementTraits<D>::min)
                                ? static_cast<S>(ElementTraits<D>::min)
                                : ElementTraits<S>::min;
    static constexpr S hi = std::cmp_greater(ElementTraits<S>::max, ElementTraits<D>::max)
                                ? static_cast<S>(ElementTraits<D>::max)
                                : ElementTraits<S>::max;
    // Every value of S fits: the policy is never consulted.
    static constexpr bool lossless = lo == ElementTraits<S>::min && hi == ElementTraits<S>::max;
};

template <IntegerElement S, IntegerElement D>
constexpr OutOfRange integer_out_of_range(S value) noexcept {
    using Range = IntegerRange<S, D>;
    return OutOfRange{to_double(value), to_double(Range::lo), to_double(Range::hi)};
}

namespace detail {

// Conversion of one unmapped element under a policy. Integer conversion is modular in
// C++20, so Wrap (and any in-range value) is a plain static_cast.
template <IntegerElement S, IntegerElement D>
constexpr D clamp_integer(S v) noexcept {
    using Range = IntegerRange<S, D>;
    return static_cast<D>(std::clamp(v, Range::lo, Range::hi));
}

template <IntegerElement S, IntegerElement D>
CastResult int_to_int_checked(std::span<const S> src, std::span<D> dst) noexcept {
    using Range = IntegerRange<S, D>;
    for (std::size_t i = 0; i < src.size(); ++i) {
        const S v = src[i];
        if (v < Range::lo || v > Range::hi) {
            return Unexpected{integer_out_of_range<S, D>(v)};
        }
        dst[i] = static_cast<D>(v);
    }
    return {};
}

template <IntegerElement S, IntegerElement D>
CastResult int_to_int_mapped(std::span<const S> src, std::span<D> dst, const CastConfig<S, D>& config) noexcept {
    using Range = IntegerRange<S, D>;
    const std::span<const MapEntry<S, D>> entries(config.entries);
    for (std::size_t i = 0; i < src.size(); ++i) {
        const S v = src[i];
        if (const auto* hit = find_entry(entries, v)) {
            dst[i] = hit->target;
        } else if (v >= Range::lo && v <= Range::hi) {
            dst[i] = static_cast<D>(v);
        } else if (!config.out_of_range) {
            return Unexpected{integer_out_of_range<S, D>(v)};
        } else if (*config.out_of_range == OutOfRangeMode::Clamp) {
            dst[i] = clamp_integer<S, D>(v);
        } else {
            dst[i] = static_cast<D>(v);
        }
    }
    return {};
}

}  // namespace detail

// Converts min(src.size(), dst.size()) integers: map lookup first, then an exact copy
// of in-range values, and Clamp, Wrap or an OutOfRange error for the rest.
template <IntegerElement S, IntegerElement D>
CastResult convert_slice_int_to_int(std::span<const S> src, std::span<D> dst, const CastConfig<S, D>& config) noexcept {
    const std::size_t n = std::min(src.size(), dst.size());
    src = src.first(n);
    dst = dst.first(n);
    if (!config.entries.empty()) {
        return detail::int_to_int_mapped(src, dst, config);
    }
    if constexpr (std::is_same_v<S, D>) {
        if (n != 0) {
            std::memcpy(dst.data(), src.data(), n * sizeof(S));
        }
        return {};
    } else if constexpr (IntegerRange<S, D>::lossless) {
        std::transform(src.begin(), src.end(), dst.begin(), [](S v) { return static_cast<D>(v); });
        return {};
    } else {
        if (!config.out_of_range) {
            return detail::int_to_int_checked(src, dst);
        }
        if (*config.out_of_range == OutOfRangeMode::Clamp) {
            std::transform(src.begin(), src.end(), dst.begin(), detail::clamp_integer<S, D>);
        } else {
            std::transform(src.begin(), src.end(), dst.begin(), [](S v) { return static_cast<D>(v); });
        }
        return {};
    }
}

}  // namespace tarnwell
