#include <arm_neon.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "kernels.hpp"

// 64-bit Arm kernels on 128-bit NEON vectors, which every such processor has: blocks of
// 8 elements for uint8 targets and 2 for int32, exactly the blocks of the outcome rules.
// A block holding a NaN (or, when checking, an out-of-range value) is left to the block
// rules, which report it.
namespace tarnwell::simd::detail {
namespace {

template <RoundingMode M>
float64x2_t round_to_integral(float64x2_t x) {
    if constexpr (M == RoundingMode::TowardsZero) {
        return vrndq_f64(x);
    } else if constexpr (M == RoundingMode::TowardsPositive) {
        return vrndpq_f64(x);
    } else if constexpr (M == RoundingMode::TowardsNegative) {
        return vrndmq_f64(x);
    } else {
        return vrndnq_f64(x);
    }
}

template <RoundingMode M>
float32x4_t round_to_integral(float32x4_t x) {
    if constexpr (M == RoundingMode::TowardsZero) {
        return vrndq_f32(x);
    } else if constexpr (M == RoundingMode::TowardsPositive) {
        return vrndpq_f32(x);
    } else if constexpr (M == RoundingMode::TowardsNegative) {
        return vrndmq_f32(x);
    } else {
        return vrndnq_f32(x);
    }
}

// Round, then the larger of the value and lo, then the smaller of that and hi.
template <RoundingMode M>
float64x2_t round_clamp(float64x2_t x, float64x2_t lo, float64x2_t hi) {
    return vminq_f64(vmaxq_f64(round_to_integral<M>(x), lo), hi);
}

// All lanes equal to themselves: no NaN among them.
bool no_nan(float64x2_t a, float64x2_t b, float64x2_t c, float64x2_t d) {
    const uint64x2_t ordered = vandq_u64(vandq_u64(vceqq_f64(a, a), vceqq_f64(b, b)),
                                         vandq_u64(vceqq_f64(c, c), vceqq_f64(d, d)));
    return vminvq_u32(vreinterpretq_u32_u64(ordered)) != 0;
}

// Integral, in-range values: the 64-bit conversion is exact and each saturating narrowing
// step keeps the value.
int32x4_t to_int32(float64x2_t low, float64x2_t high) {
    return vcombine_s32(vqmovn_s64(vcvtq_s64_f64(low)), vqmovn_s64(vcvtq_s64_f64(high)));
}

struct F32ToU8 {
    template <RoundingMode M>
    static std::size_t run(const float* src, std::uint8_t* dst, std::size_t n) {
        const float32x4_t zero = vdupq_n_f32(0.0f);
        const float32x4_t top = vdupq_n_f32(255.0f);
        std::size_t i = 0;
        for (; n - i >= 8; i += 8) {
            float32x4_t a = vld1q_f32(src + i);
            float32x4_t b = vld1q_f32(src + i + 4);
            if (vminvq_u32(vandq_u32(vceqq_f32(a, a), vceqq_f32(b, b))) == 0) {
                break;
            }
            a = vminq_f32(vmaxq_f32(round_to_integral<M>(a), zero), top);
            b = vminq_f32(vmaxq_f32(round_to_integral<M>(b), zero), top);
            const int16x8_t words = vcombine_s16(vqmovn_s32(vcvtq_s32_f32(a)), vqmovn_s32(vcvtq_s32_f32(b)));
            vst1_u8(dst + i, vqmovun_s16(words));
        }
        return i;
    }
};

struct F64ToU8 {
    template <RoundingMode M>
    static std::size_t run(const double* src, std::uint8_t* dst, std::size_t n) {
        const float64x2_t zero = vdupq_n_f64(0.0);
        const float64x2_t top = vdupq_n_f64(255.0);
        std::size_t i = 0;
        for (; n - i >= 8; i += 8) {
            const float64x2_t a = vld1q_f64(src + i);
            const float64x2_t b = vld1q_f64(src + i + 2);
            const float64x2_t c = vld1q_f64(src + i + 4);
            const float64x2_t d = vld1q_f64(src + i + 6);
            if (!no_nan(a, b, c, d)) {
                break;
            }
            const int32x4_t low = to_int32(round_clamp<M>(a, zero, top), round_clamp<M>(b, zero, top));
            const int32x4_t high = to_int32(round_clamp<M>(c, zero, top), round_clamp<M>(d, zero, top));
            vst1_u8(dst + i, vqmovun_s16(vcombine_s16(vqmovn_s32(low), vqmovn_s32(high))));
        }
        return i;
    }
};

struct F64ToI32Clamp {
    template <RoundingMode M>
    static std::size_t run(const double* src, std::int32_t* dst, std::size_t n) {
        const float64x2_t lo = vdupq_n_f64(-2147483648.0);
        const float64x2_t hi = vdupq_n_f64(2147483647.0);
        std::size_t i = 0;
        for (; n - i >= 2; i += 2) {
            const float64x2_t x = vld1q_f64(src + i);
            if (vminvq_u32(vreinterpretq_u32_u64(vceqq_f64(x, x))) == 0) {
                break;
            }
            vst1_s32(dst + i, vqmovn_s64(vcvtq_s64_f64(round_clamp<M>(x, lo, hi))));
        }
        return i;
    }
};

struct F64ToI32Check {
    template <RoundingMode M>
    static std::size_t run(const double* src, std::int32_t* dst, std::size_t n) {
        const float64x2_t lo = vdupq_n_f64(-2147483648.0);
        const float64x2_t hi = vdupq_n_f64(2147483647.0);
        std::size_t i = 0;
        for (; n - i >= 2; i += 2) {
            const float64x2_t x = vld1q_f64(src + i);
            if (vminvq_u32(vreinterpretq_u32_u64(vceqq_f64(x, x))) == 0) {
                break;
            }
            const float64x2_t r = round_to_integral<M>(x);
            const uint64x2_t inside = vandq_u64(vcgeq_f64(r, lo), vcleq_f64(r, hi));
            if (vminvq_u32(vreinterpretq_u32_u64(inside)) == 0) {
                break;
            }
            vst1_s32(dst + i, vqmovn_s64(vcvtq_s64_f64(r)));
        }
        return i;
    }
};

// Converts everything with no branch in the loop, then, when overflow matters, finds the
// first pair holding a finite source at or above the binary32 overflow threshold (the
// largest binary32 value plus half its unit in the last place; the tie goes to the even
// significand, the next power of two, so it overflows too).
std::size_t f64_to_f32_nearest(const double* src, float* dst, std::size_t n, bool test_overflow) {
    const std::size_t whole = n & ~std::size_t{1};
    for (std::size_t i = 0; i < whole; i += 2) {
        vst1_f32(dst + i, vcvt_f32_f64(vld1q_f64(src + i)));
    }
    if (whole < n) {
        dst[whole] = static_cast<float>(src[whole]);
    }
    if (!test_overflow) {
        return n;
    }
    const float64x2_t threshold = vdupq_n_f64(3.4028235677973366e38);
    const float64x2_t infinity = vdupq_n_f64(__builtin_inf());
    for (std::size_t i = 0; i < whole; i += 2) {
        const float64x2_t magnitude = vabsq_f64(vld1q_f64(src + i));
        const uint64x2_t overflows = vandq_u64(vcgeq_f64(magnitude, threshold), vcltq_f64(magnitude, infinity));
        if (vmaxvq_u32(vreinterpretq_u32_u64(overflows)) != 0) {
            return i;
        }
    }
    return whole;
}

// binary16 widening with the half-precision instructions: exact, with NaNs quietened
// keeping their sign and fraction, as in software. Narrowing is left to the element loop:
// the instructions round in the processor's current direction, while the loop's binary16
// rounding works on bit patterns and holds whatever that direction is.
float32x4_t widen_halves(const float16* src) {
    return vcvt_f32_f16(vreinterpret_f16_u16(vld1_u16(reinterpret_cast<const std::uint16_t*>(src))));
}

void f16_to_f32(const float16* src, float* dst, std::size_t n) {
    std::size_t i = 0;
    for (; n - i >= 4; i += 4) {
        vst1q_f32(dst + i, widen_halves(src + i));
    }
    for (; i < n; ++i) {
        dst[i] = static_cast<float>(src[i]);
    }
}

void f16_to_f64(const float16* src, double* dst, std::size_t n) {
    std::size_t i = 0;
    for (; n - i >= 4; i += 4) {
        const float32x4_t x = widen_halves(src + i);
        vst1q_f64(dst + i, vcvt_f64_f32(vget_low_f32(x)));
        vst1q_f64(dst + i + 2, vcvt_high_f64_f32(x));
    }
    for (; i < n; ++i) {
        dst[i] = static_cast<double>(src[i]);
    }
}

constexpr KernelTable neon_kernels = {
    &with_rounding<F32ToU8, float, std::uint8_t>,
    &with_rounding<F64ToU8, double, std::uint8_t>,
    &with_rounding<F64ToI32Clamp, double, std::int32_t>,
    &with_rounding<F64ToI32Check, double, std::int32_t>,
    &f64_to_f32_nearest,
    nullptr,
    nullptr,
    &f16_to_f32,
    &f16_to_f64,
};

constexpr std::array<LevelKernels, 1> levels = {{{Level::Neon, &neon_kernels}}};

}  // namespace

std::span<const LevelKernels> platform_levels() noexcept { return levels; }

}  // namespace tarnwell::simd::detail
