#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>

#include "cast_config.hpp"
#include "cast_error.hpp"
#include "cast_float.hpp"
#include "element_types.hpp"
#include "float16.hpp"
#include "float_bits.hpp"
#include "nan_keyed_map.hpp"
#include "simd/simd.hpp"

namespace tarnwell {

// The float type the arithmetic of a source float is done in: binary16 elements are
// widened (exactly) to binary32 and rounded, compared and wrapped there.
template <FloatElement F>
using ArithmeticFloat = std::conditional_t<std::is_same_v<F, float16>, float, F>;

template <FloatElement F>
constexpr ArithmeticFloat<F> widen_for_arithmetic(F x) noexcept {
    return static_cast<ArithmeticFloat<F>>(x);
}

// An integer rounded to nearest even in F, infinite beyond F's range, held exactly in
// the arithmetic type. binary16 goes through binary32, which gives the same results.
template <FloatElement F, IntegerElement I>
constexpr ArithmeticFloat<F> integer_in_precision_of(I value) noexcept {
    if constexpr (std::is_same_v<F, float16>) {
        return float16::widen(float16::narrow(static_cast<float>(value)));
    } else {
        return static_cast<F>(value);
    }
}

// The allowed range [lo, hi] of a float-to-integer pair: D's limits in the precision of
// the source type. A rounded-up upper bound (float32 to int32: 2^31) admits one value
// that D cannot hold; the conversion saturates it.
template <FloatElement F, IntegerElement D>
struct FloatToIntRange {
    using Arithmetic = ArithmeticFloat<F>;
    static constexpr Arithmetic lo = integer_in_precision_of<F>(ElementTraits<D>::min);
    static constexpr Arithmetic hi = integer_in_precision_of<F>(ElementTraits<D>::max);
    // 2^w, the number of values of D.
    static constexpr Arithmetic modulus = power_of_two<Arithmetic>(ElementTraits<D>::bits);
    // D's minimum and the power of two just above D's maximum: below the one and from
    // the other up there is no value of D to truncate to.
    static constexpr Arithmetic low_limit = static_cast<Arithmetic>(ElementTraits<D>::min);
    static constexpr Arithmetic high_limit =
        power_of_two<Arithmetic>(ElementTraits<D>::bits - (ElementTraits<D>::min < 0 ? 1 : 0));
    // The largest value of the arithmetic type below high_limit, and whether it is D's
    // maximum itself (false for the 64-bit types in binary64 and 32-bit ones in binary32).
    static constexpr Arithmetic below_high_limit = from_bits<Arithmetic>(to_bits(high_limit) - 1);
    static constexpr bool max_is_exact = static_cast<Arithmetic>(ElementTraits<D>::max) < high_limit;
    // Whether a value inside [lo, hi] can still lie outside D (only at a rounded-up or
    // infinite bound).
    static constexpr bool low_may_overflow = lo < low_limit;
    static constexpr bool high_may_overflow = hi >= high_limit;
};

template <FloatElement F, IntegerElement D>
OutOfRange float_to_int_out_of_range(double value) noexcept {
    using Range = FloatToIntRange<F, D>;
    return OutOfRange{value, static_cast<double>(Range::lo), static_cast<double>(Range::hi)};
}

namespace detail {

// The way a float-to-integer loop treats a rounded value outside [lo, hi].
enum class RangePolicy { Check, Clamp, Wrap };

constexpr RangePolicy range_policy(std::optional<OutOfRangeMode> mode) noexcept {
    if (!mode) {
        return RangePolicy::Check;
    }
    return *mode == OutOfRangeMode::Clamp ? RangePolicy::Clamp : RangePolicy::Wrap;
}

// An integral or infinite value truncated to D with saturation at both ends, without
// branches: the value is clamped to the powers of two around D (the upper one minus one
// unit, so that the conversion is defined), and where D's maximum is not a value of the
// arithmetic type a select puts it in. Unless `any_value`, only the limits that values
// inside [lo, hi] can pass are applied.
template <FloatElement F, IntegerElement D, bool any_value>
constexpr D saturating_truncate(ArithmeticFloat<F> v) noexcept {
    using Range = FloatToIntRange<F, D>;
    constexpr bool clamp_low = any_value || Range::low_may_overflow;
    constexpr bool clamp_high = any_value || Range::high_may_overflow;
    auto clamped = v;
    if constexpr (clamp_low) {
        clamped = std::max(clamped, Range::low_limit);
    }
    if constexpr (clamp_high) {
        clamped = std::min(clamped, Range::below_high_limit);
    }
    const auto converted = static_cast<D>(clamped);
    if constexpr (clamp_high && !Range::max_is_exact) {
        return v >= Range::high_limit ? ElementTraits<D>::max : converted;
    }
    return converted;
}

// Wrap of a finite rounded value r outside [lo, hi]: a = r - lo, m = rem_euclid(a, 2^w),
// v = m + lo, each rounded to nearest even in the arithmetic type, then saturated. A
// large r loses low bits in these steps (float64 1e300 wraps to int8 -128), so the
// steps are kept as they are, with sums that ignore the environment's rounding
// direction.
template <FloatElement F, IntegerElement D>
[[gnu::noinline]] D wrap_out_of_range(ArithmeticFloat<F> r) noexcept {
    using Range = FloatToIntRange<F, D>;
    using Arithmetic = ArithmeticFloat<F>;
    if constexpr (Range::lo == 0) {
        return saturating_truncate<F, D, true>(rem_euclid(r, Range::modulus));  // both sums with 0 are exact
    } else {
        const Arithmetic a = nearest_even_sum(r, -Range::lo);
        const Arithmetic m = rem_euclid(a, Range::modulus);
        return saturating_truncate<F, D, true>(nearest_even_sum(m, Range::lo));
    }
}

// Converts one unmapped element into `out`. Returns false, writing nothing, when the
// element fails; the error is then rebuilt off the hot path by float_to_int_error.
template <FloatElement F, IntegerElement D, RoundingMode Mode, RangePolicy Policy>
[[gnu::always_inline]] inline bool convert_element(F element, D& out) noexcept {
    using Range = FloatToIntRange<F, D>;
    const auto x = widen_for_arithmetic(element);
    if (x != x) {
        return false;
    }
    if constexpr (Policy == RangePolicy::Clamp && Range::max_is_exact) {
        // Rounding is monotonic and D's limits are integral values of the arithmetic
        // type, below its precision limit, so clamping before rounding gives the same
        // result; in this order the rounding needs no test for large values and the
        // compiler keeps the clamp free of branches.
        constexpr auto min = static_cast<ArithmeticFloat<F>>(ElementTraits<D>::min);
        constexpr auto max = static_cast<ArithmeticFloat<F>>(ElementTraits<D>::max);
        out = static_cast<D>(round_below_precision<Mode>(std::min(std::max(x, min), max)));
        return true;
    }
    const auto r = round_with_mode<Mode>(x);
    if constexpr (Policy == RangePolicy::Check) {
        if (r < Range::lo || r > Range::hi) {
            return false;
        }
        out = saturating_truncate<F, D, false>(r);
    } else if constexpr (Policy == RangePolicy::Clamp) {
        // The bounds are D's limits rounded outward to F, so clamping to them and
        // truncating is a saturating truncation.
        out = saturating_truncate<F, D, true>(r);
    } else {
        using Arithmetic = ArithmeticFloat<F>;
        constexpr int p = precision<Arithmetic>;
        // With 2^w <= 2^(p-1) and |r| < 2^(p-1), the steps of the reduction never round
        // (|r - lo|, |m| + 2^w and |m + lo| stay below 2^p), so the result is r modulo
        // 2^w, except for a rounded-up upper bound, which is in range and saturates.
        if constexpr (ElementTraits<D>::bits < p) {
            if (magnitude(r) < power_of_two<Arithmetic>(p - 1)) {
                if constexpr (Range::high_may_overflow) {
                    if (r == Range::hi) {
                        out = ElementTraits<D>::max;
                        return true;
                    }
                }
                out = static_cast<D>(static_cast<TruncatedInteger<Arithmetic>>(r));
                return true;
            }
        }
        if (is_infinite(r)) {
            return false;  // even inside infinite bounds, an infinity never wraps
        }
        if (r >= Range::lo && r <= Range::hi) {
            out = saturating_truncate<F, D, false>(r);
        } else {
            out = wrap_out_of_range<F, D>(r);
        }
    }
    return true;
}

// The error of an element that convert_element refused.
template <FloatElement F, IntegerElement D>
[[gnu::cold]] CastError float_to_int_error(F element, RoundingMode mode, RangePolicy policy) {
    const auto x = widen_for_arithmetic(element);
    if (x != x) {
        return NanOrInf{static_cast<double>(x)};
    }
    const auto r = static_cast<double>(round_with_mode(x, mode));
    if (policy == RangePolicy::Wrap) {
        return NanOrInf{r};
    }
    return float_to_int_out_of_range<F, D>(r);
}

template <FloatElement F, IntegerElement D, RoundingMode Mode, RangePolicy Policy>
CastResult float_to_int_loop(std::span<const F> src, std::span<D> dst) {
    for (std::size_t i = 0; i < src.size(); ++i) {
        if (!convert_element<F, D, Mode, Policy>(src[i], dst[i])) {
            return Unexpected{float_to_int_error<F, D>(src[i], Mode, Policy)};
        }
    }
    return {};
}

template <FloatElement F, IntegerElement D>
CastResult float_to_int_mapped_loop(std::span<const F> src, std::span<D> dst, const CastConfig<F, D>& config) {
    const std::span<const MapEntry<F, D>> entries(config.entries);
    const RangePolicy policy = range_policy(config.out_of_range);
    for (std::size_t i = 0; i < src.size(); ++i) {
        if (const auto* hit = find_entry(entries, src[i])) {
            dst[i] = hit->target;
            continue;
        }
        const bool converted = with_rounding_mode(config.rounding, [&]<RoundingMode Mode>() {
            switch (policy) {
                case RangePolicy::Check:
                    return convert_element<F, D, Mode, RangePolicy::Check>(src[i], dst[i]);
                case RangePolicy::Clamp:
                    return convert_element<F, D, Mode, RangePolicy::Clamp>(src[i], dst[i]);
                case RangePolicy::Wrap:
                    break;
            }
            return convert_element<F, D, Mode, RangePolicy::Wrap>(src[i], dst[i]);
        });
        if (!converted) {
            return Unexpected{float_to_int_error<F, D>(src[i], config.rounding, policy)};
        }
    }
    return {};
}

// The element loop under a NaN-keyed map: a NaN element becomes `nan_target` and every
// other element takes the unmapped rule, exactly as the general mapped loop would do it,
// without a map search per element.
template <FloatElement F, IntegerElement D, RoundingMode Mode, RangePolicy Policy>
CastResult float_to_int_nan_keyed_loop(std::span<const F> src, std::span<D> dst, D nan_target) {
    for (std::size_t i = 0; i < src.size(); ++i) {
        if (is_nan(src[i])) {
            dst[i] = nan_target;
        } else if (!convert_element<F, D, Mode, Policy>(src[i], dst[i])) {
            return Unexpected{float_to_int_error<F, D>(src[i], Mode, Policy)};
        }
    }
    return {};
}

template <FloatElement F, IntegerElement D>
CastResult float_to_int_nan_keyed_loop(std::span<const F> src, std::span<D> dst, const CastConfig<F, D>& config,
                                       D nan_target) {
    return with_rounding_mode(config.rounding, [&]<RoundingMode Mode>() {
        switch (range_policy(config.out_of_range)) {
            case RangePolicy::Check:
                return float_to_int_nan_keyed_loop<F, D, Mode, RangePolicy::Check>(src, dst, nan_target);
            case RangePolicy::Clamp:
                return float_to_int_nan_keyed_loop<F, D, Mode, RangePolicy::Clamp>(src, dst, nan_target);
            case RangePolicy::Wrap:
                break;
        }
        return float_to_int_nan_keyed_loop<F, D, Mode, RangePolicy::Wrap>(src, dst, nan_target);
    });
}

// The vector fast paths by pair; `clamp` serves the Clamp policy and `check` the absent
// policy. Pairs without one hold null. `clamp_blocks` and `check_blocks` are the same
// kernels without the block rules, converting `block`-element blocks.
template <FloatElement F, IntegerElement D>
struct FloatToIntFastPaths {
    static constexpr std::nullptr_t clamp = nullptr;
    static constexpr std::nullptr_t check = nullptr;
    static constexpr std::nullptr_t clamp_blocks = nullptr;
    static constexpr std::nullptr_t check_blocks = nullptr;
    static constexpr std::size_t block = 1;
};
template <>
struct FloatToIntFastPaths<float, std::uint8_t> {
    static constexpr auto clamp = &simd::try_f32_to_u8_clamp;
    static constexpr std::nullptr_t check = nullptr;
    static constexpr auto clamp_blocks = &simd::convert_blocks_f32_to_u8_clamp;
    static constexpr std::nullptr_t check_blocks = nullptr;
    static constexpr std::size_t block = simd::kernel_block_u8;
};
template <>
struct FloatToIntFastPaths<double, std::uint8_t> {
    static constexpr auto clamp = &simd::try_f64_to_u8_clamp;
    static constexpr std::nullptr_t check = nullptr;
    static constexpr auto clamp_blocks = &simd::convert_blocks_f64_to_u8_clamp;
    static constexpr std::nullptr_t check_blocks = nullptr;
    static constexpr std::size_t block = simd::kernel_block_u8;
};
template <>
struct FloatToIntFastPaths<double, std::int32_t> {
    static constexpr auto clamp = &simd::try_f64_to_i32_clamp;
    static constexpr auto check = &simd::try_f64_to_i32_check;
    static constexpr auto clamp_blocks = &simd::convert_blocks_f64_to_i32_clamp;
    static constexpr auto check_blocks = &simd::convert_blocks_f64_to_i32_check;
    static constexpr std::size_t block = simd::kernel_block_i32;
};

// The NaN-keyed element loop sped up by a block kernel: the kernel converts up to the
// block it stops at, the element loop takes over block by block until it has passed a
// block holding a NaN (a kernel may stop a few blocks early), and the kernel resumes.
// The element loop does all the mapping and finds every error, so the outcome, error
// and partial destination alike, is the element loop's. A declining kernel leaves the
// rest to the element loop.
template <FloatElement F, IntegerElement D, RangePolicy Policy, class Blocks>
CastResult convert_nan_keyed_by_blocks(Blocks convert_blocks, std::size_t block, std::span<const F> src,
                                       std::span<D> dst, RoundingMode mode, D nan_target) {
    return with_rounding_mode(mode, [&]<RoundingMode Mode>() -> CastResult {
        const auto element_loop = [&](std::size_t from, std::size_t count) {
            return float_to_int_nan_keyed_loop<F, D, Mode, Policy>(src.subspan(from, count), dst.subspan(from, count),
                                                                   nan_target);
        };
        std::size_t i = 0;
        while (i < src.size()) {
            const std::optional<std::size_t> converted = convert_blocks(src.subspan(i), dst.subspan(i), mode);
            if (!converted) {
                return element_loop(i, src.size() - i);
            }
            i += *converted;
            for (bool passed_nan = false; !passed_nan && i < src.size();) {
                const std::size_t count = std::min(block, src.size() - i);
                const auto unit = src.subspan(i, count);
                passed_nan = std::any_of(unit.begin(), unit.end(), [](F x) { return is_nan(x); });
                if (CastResult result = element_loop(i, count); !result) {
                    return result;
                }
                i += count;
            }
        }
        return {};
    });
}

// Offers a slice under a NaN-keyed map to the pair's block kernel for its policy. Empty
// when there is none.
template <FloatElement F, IntegerElement D>
std::optional<CastResult> try_nan_keyed_fast_path(std::span<const F> src, std::span<D> dst,
                                                  const CastConfig<F, D>& config, D nan_target) {
    using Paths = FloatToIntFastPaths<F, D>;
    if (!config.out_of_range) {
        if constexpr (!std::is_null_pointer_v<decltype(Paths::check_blocks)>) {
            return convert_nan_keyed_by_blocks<F, D, RangePolicy::Check>(Paths::check_blocks, Paths::block, src, dst,
                                                                         config.rounding, nan_target);
        }
    } else if (*config.out_of_range == OutOfRangeMode::Clamp) {
        if constexpr (!std::is_null_pointer_v<decltype(Paths::clamp_blocks)>) {
            return convert_nan_keyed_by_blocks<F, D, RangePolicy::Clamp>(Paths::clamp_blocks, Paths::block, src, dst,
                                                                         config.rounding, nan_target);
        }
    }
    return std::nullopt;
}

// Offers the whole slice to the pair's fast path for its policy. Empty when the fast
// path does not apply or declined, so that the element loop converts everything.
template <FloatElement F, IntegerElement D>
std::optional<CastResult> try_fast_path(std::span<const F> src, std::span<D> dst, const CastConfig<F, D>& config) {
    using Paths = FloatToIntFastPaths<F, D>;
    if (config.rounding == RoundingMode::NearestAway || dst.size() < src.size()) {
        return std::nullopt;
    }
    if (!config.entries.empty()) {
        if (const auto nan_target = nan_keyed_target(config.entries)) {
            return try_nan_keyed_fast_path(src, dst.first(src.size()), config, *nan_target);
        }
        return std::nullopt;
    }
    const auto run = [&](auto fast_path) -> std::optional<CastResult> {
        const simd::FastPathResult outcome = fast_path(src, dst.first(src.size()), config.rounding);
        if (!outcome) {
            return CastResult{Unexpected{outcome.error()}};
        }
        if (*outcome == simd::Coverage::Handled) {
            return CastResult{};
        }
        return std::nullopt;
    };
    if (!config.out_of_range) {
        if constexpr (!std::is_null_pointer_v<decltype(Paths::check)>) {
            return run(Paths::check);
        }
    } else if (*config.out_of_range == OutOfRangeMode::Clamp) {
        if constexpr (!std::is_null_pointer_v<decltype(Paths::clamp)>) {
            return run(Paths::clamp);
        }
    }
    return std::nullopt;
}

}  // namespace detail

// Converts min(src.size(), dst.size()) floats by the element loop alone: map lookup (a
// NaN test for a NaN-keyed map), NaN error, rounding with the configured mode, then the
// range test with Clamp, Wrap or an OutOfRange error, and a saturating truncation to D.
// The mode and policy branches are taken once per slice.
template <FloatElement F, IntegerElement D>
CastResult convert_slice_float_to_int_scalar(std::span<const F> src, std::span<D> dst,
                                             const CastConfig<F, D>& config) {
    using detail::RangePolicy;
    const std::size_t n = std::min(src.size(), dst.size());
    src = src.first(n);
    dst = dst.first(n);
    if (!config.entries.empty()) {
        if (const auto nan_target = nan_keyed_target(config.entries)) {
            return detail::float_to_int_nan_keyed_loop(src, dst, config, *nan_target);
        }
        return detail::float_to_int_mapped_loop(src, dst, config);
    }
    return with_rounding_mode(config.rounding, [&]<RoundingMode Mode>() {
        switch (detail::range_policy(config.out_of_range)) {
            case RangePolicy::Check:
                return detail::float_to_int_loop<F, D, Mode, RangePolicy::Check>(src, dst);
            case RangePolicy::Clamp:
                return detail::float_to_int_loop<F, D, Mode, RangePolicy::Clamp>(src, dst);
            case RangePolicy::Wrap:
                break;
        }
        return detail::float_to_int_loop<F, D, Mode, RangePolicy::Wrap>(src, dst);
    });
}

// The float-to-integer slice conversion: the pair's vector fast path when one applies
// and accepts the slice, otherwise the element loop.
template <FloatElement F, IntegerElement D>
CastResult convert_slice_float_to_int(std::span<const F> src, std::span<D> dst, const CastConfig<F, D>& config) {
    if (auto handled = detail::try_fast_path(src, dst, config)) {
        return *std::move(handled);
    }
    return convert_slice_float_to_int_scalar(src, dst, config);
}

}  // namespace tarnwell
