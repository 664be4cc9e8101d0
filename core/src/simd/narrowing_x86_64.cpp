#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "../internal_failure.hpp"
#include "narrowing_kernels.hpp"

// x86-64 narrowing kernels under the four rounding modes other than nearest-even. The
// conversion instructions round to nearest, ties to even (float64 to float16 rounds twice,
// through binary32, as the element loop does); the result is widened back exactly and
// compared with the source in binary64 (binary32 for a binary32 source, where the
// comparison comes out the same), and stepped by one unit on its bit pattern where the mode
// asks: the element loop's rule, lane by lane. The steps are formed as +-1.0 or 0.0 in the
// comparison's lanes and converted to integers, which also narrows them to the result's width.
namespace tarnwell::simd::detail {
namespace {

// Without the half-precision conversions this level steps float64 to float32 only.
namespace sse41 {

#define TARNWELL_TARGET __attribute__((target("sse4.1")))

// The unit step, as +-1.0 or 0.0 per lane, that takes `near` (the nearest result widened
// back) to the mode's result for the source x. `farther` (the neighbour of `near` one unit
// farther from zero, widened back) is read by NearestAway only. NaN compares false
// everywhere, so a NaN source keeps its converted NaN.
template <RoundingMode M>
TARNWELL_TARGET inline __m128d unit_step(__m128d x, __m128d near, [[maybe_unused]] __m128d farther) {
    const __m128d sign = _mm_set1_pd(-0.0);
    if constexpr (M == RoundingMode::TowardsZero) {
        const __m128d inside = _mm_cmplt_pd(_mm_andnot_pd(sign, x), _mm_andnot_pd(sign, near));
        return _mm_and_pd(inside, _mm_set1_pd(-1.0));
    } else if constexpr (M == RoundingMode::TowardsPositive) {
        // Upwards is away from zero for a positive result and towards it for a negative one.
        return _mm_and_pd(_mm_cmpgt_pd(x, near), _mm_xor_pd(_mm_and_pd(near, sign), _mm_set1_pd(1.0)));
    } else if constexpr (M == RoundingMode::TowardsNegative) {
        return _mm_and_pd(_mm_cmplt_pd(x, near), _mm_xor_pd(_mm_and_pd(near, sign), _mm_set1_pd(-1.0)));
    } else {
        const __m128d midpoint = _mm_mul_pd(_mm_add_pd(near, farther), _mm_set1_pd(0.5));
        return _mm_and_pd(_mm_cmpeq_pd(x, midpoint), _mm_set1_pd(1.0));
    }
}

// Two binary64 values to binary32 under M, as bit patterns in the low half.
template <RoundingMode M>
TARNWELL_TARGET inline __m128i to_float32(__m128d x) {
    const __m128i nearest = _mm_castps_si128(_mm_cvtpd_ps(x));
    const __m128d near = _mm_cvtps_pd(_mm_castsi128_ps(nearest));
    __m128d farther = near;
    if constexpr (M == RoundingMode::NearestAway) {
        farther = _mm_cvtps_pd(_mm_castsi128_ps(_mm_add_epi32(nearest, _mm_set1_epi32(1))));
    }
    return _mm_add_epi32(nearest, _mm_cvttpd_epi32(unit_step<M>(x, near, farther)));
}

// Lanes whose source is finite, one bit per lane.
TARNWELL_TARGET inline int finite_lanes(__m128d a, __m128d b) {
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128d infinity = _mm_set1_pd(__builtin_inf());
    return _mm_movemask_pd(_mm_cmplt_pd(_mm_andnot_pd(sign, a), infinity)) |
           _mm_movemask_pd(_mm_cmplt_pd(_mm_andnot_pd(sign, b), infinity)) << 2;
}

struct F64ToF32 {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const double* src, float* dst, std::size_t n, bool test_overflow) {
        std::size_t i = 0;
        for (; n - i >= 4; i += 4) {
            const __m128d a = _mm_loadu_pd(src + i);
            const __m128d b = _mm_loadu_pd(src + i + 2);
            const __m128i r = _mm_unpacklo_epi64(to_float32<M>(a), to_float32<M>(b));
            if (test_overflow) {
                const __m128i magnitude = _mm_and_si128(r, _mm_set1_epi32(0x7fff'ffff));
                const int infinite =
                    _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(magnitude, _mm_set1_epi32(0x7f80'0000))));
                if (infinite != 0 && (infinite & finite_lanes(a, b)) != 0) {
                    break;
                }
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), r);
        }
        return i;
    }
};

#undef TARNWELL_TARGET

}  // namespace sse41

// The level's instruction sets are named in each kernel's target attribute; the AVX2
// level's processors all have the half-precision conversions (the level requires them).
namespace avx2 {

#define TARNWELL_TARGET __attribute__((target("avx2,f16c")))

// The steps of sse41::unit_step on wider vectors.
template <RoundingMode M>
TARNWELL_TARGET inline __m256d unit_step(__m256d x, __m256d near, [[maybe_unused]] __m256d farther) {
    const __m256d sign = _mm256_set1_pd(-0.0);
    if constexpr (M == RoundingMode::TowardsZero) {
        const __m256d inside = _mm256_cmp_pd(_mm256_andnot_pd(sign, x), _mm256_andnot_pd(sign, near), _CMP_LT_OQ);
        return _mm256_and_pd(inside, _mm256_set1_pd(-1.0));
    } else if constexpr (M == RoundingMode::TowardsPositive) {
        const __m256d above = _mm256_cmp_pd(x, near, _CMP_GT_OQ);
        return _mm256_and_pd(above, _mm256_xor_pd(_mm256_and_pd(near, sign), _mm256_set1_pd(1.0)));
    } else if constexpr (M == RoundingMode::TowardsNegative) {
        const __m256d below = _mm256_cmp_pd(x, near, _CMP_LT_OQ);
        return _mm256_and_pd(below, _mm256_xor_pd(_mm256_and_pd(near, sign), _mm256_set1_pd(-1.0)));
    } else {
        const __m256d midpoint = _mm256_mul_pd(_mm256_add_pd(near, farther), _mm256_set1_pd(0.5));
        return _mm256_and_pd(_mm256_cmp_pd(x, midpoint, _CMP_EQ_OQ), _mm256_set1_pd(1.0));
    }
}

template <RoundingMode M>
TARNWELL_TARGET inline __m256 unit_step(__m256 x, __m256 near, [[maybe_unused]] __m256 farther) {
    const __m256 sign = _mm256_set1_ps(-0.0f);
    if constexpr (M == RoundingMode::TowardsZero) {
        const __m256 inside = _mm256_cmp_ps(_mm256_andnot_ps(sign, x), _mm256_andnot_ps(sign, near), _CMP_LT_OQ);
        return _mm256_and_ps(inside, _mm256_set1_ps(-1.0f));
    } else if constexpr (M == RoundingMode::TowardsPositive) {
        const __m256 above = _mm256_cmp_ps(x, near, _CMP_GT_OQ);
        return _mm256_and_ps(above, _mm256_xor_ps(_mm256_and_ps(near, sign), _mm256_set1_ps(1.0f)));
    } else if constexpr (M == RoundingMode::TowardsNegative) {
        const __m256 below = _mm256_cmp_ps(x, near, _CMP_LT_OQ);
        return _mm256_and_ps(below, _mm256_xor_ps(_mm256_and_ps(near, sign), _mm256_set1_ps(-1.0f)));
    } else {
        const __m256 midpoint = _mm256_mul_ps(_mm256_add_ps(near, farther), _mm256_set1_ps(0.5f));
        return _mm256_and_ps(_mm256_cmp_ps(x, midpoint, _CMP_EQ_OQ), _mm256_set1_ps(1.0f));
    }
}

// Lanes whose source is finite (not infinite, not NaN), one bit per lane.
TARNWELL_TARGET inline int finite_lanes(__m256d x) {
    const __m256d magnitude = _mm256_andnot_pd(_mm256_set1_pd(-0.0), x);
    return _mm256_movemask_pd(_mm256_cmp_pd(magnitude, _mm256_set1_pd(__builtin_inf()), _CMP_LT_OQ));
}

TARNWELL_TARGET inline int finite_lanes(__m256 x) {
    const __m256 magnitude = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), x);
    return _mm256_movemask_ps(_mm256_cmp_ps(magnitude, _mm256_set1_ps(__builtin_inff()), _CMP_LT_OQ));
}

// Whether a lane with an infinite result (one bit per lane) has a finite source. The
// sources are only tested when a result is infinite, which is rare.
TARNWELL_TARGET inline bool overflowed(int infinite, __m256 x) {
    return infinite != 0 && (infinite & finite_lanes(x)) != 0;
}

TARNWELL_TARGET inline bool overflowed(int infinite, __m256d a, __m256d b) {
    return infinite != 0 && (infinite & (finite_lanes(a) | finite_lanes(b) << 4)) != 0;
}

// Four binary64 values to binary32 under M, as bit patterns.
template <RoundingMode M>
TARNWELL_TARGET inline __m128i to_float32(__m256d x) {
    const __m128i nearest = _mm_castps_si128(_mm256_cvtpd_ps(x));
    const __m256d near = _mm256_cvtps_pd(_mm_castsi128_ps(nearest));
    __m256d farther = near;
    if constexpr (M == RoundingMode::NearestAway) {
        farther = _mm256_cvtps_pd(_mm_castsi128_ps(_mm_add_epi32(nearest, _mm_set1_epi32(1))));
    }
    return _mm_add_epi32(nearest, _mm256_cvttpd_epi32(unit_step<M>(x, near, farther)));
}

// Lanes holding a binary32 infinity, one bit per lane.
TARNWELL_TARGET inline int infinite_float32_lanes(__m128i bits) {
    const __m128i magnitude = _mm_and_si128(bits, _mm_set1_epi32(0x7fff'ffff));
    return _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(magnitude, _mm_set1_epi32(0x7f80'0000))));
}

// Eight binary16 patterns to their binary16 neighbours one unit farther from zero
// (infinity beyond the largest finite value), widened to binary32.
TARNWELL_TARGET inline __m256 farther_float16(__m128i halves) {
    return _mm256_cvtph_ps(_mm_add_epi16(halves, _mm_set1_epi16(1)));
}

// Lanes holding a binary16 infinity, one bit per lane.
TARNWELL_TARGET inline int infinite_float16_lanes(__m128i halves) {
    const __m128i magnitude = _mm_and_si128(halves, _mm_set1_epi16(0x7fff));
    const __m128i infinite = _mm_cmpeq_epi16(magnitude, _mm_set1_epi16(0x7c00));
    return _mm_movemask_epi8(_mm_packs_epi16(infinite, _mm_setzero_si128()));
}

// Eight binary32 values to binary16 under M, as bit patterns.
template <RoundingMode M>
TARNWELL_TARGET inline __m128i to_float16(__m256 x) {
    const __m128i nearest = _mm256_cvtps_ph(x, _MM_FROUND_TO_NEAREST_INT);
    const __m256 near = _mm256_cvtph_ps(nearest);
    __m256 farther = near;
    if constexpr (M == RoundingMode::NearestAway) {
        farther = farther_float16(nearest);
    }
    const __m256i step = _mm256_cvttps_epi32(unit_step<M>(x, near, farther));
    return _mm_add_epi16(nearest, _mm_packs_epi32(_mm256_castsi256_si128(step), _mm256_extracti128_si256(step, 1)));
}

// Eight binary64 values (a, then b) to binary16 under M, rounding through binary32 first.
template <RoundingMode M>
TARNWELL_TARGET inline __m128i to_float16(__m256d a, __m256d b) {
    const __m128i nearest = _mm256_cvtps_ph(_mm256_set_m128(_mm256_cvtpd_ps(b), _mm256_cvtpd_ps(a)),
                                            _MM_FROUND_TO_NEAREST_INT);
    const __m256 near = _mm256_cvtph_ps(nearest);
    __m256 farther = near;
    if constexpr (M == RoundingMode::NearestAway) {
        farther = farther_float16(nearest);
    }
    const __m256d step_a = unit_step<M>(a, _mm256_cvtps_pd(_mm256_castps256_ps128(near)),
                                        _mm256_cvtps_pd(_mm256_castps256_ps128(farther)));
    const __m256d step_b = unit_step<M>(b, _mm256_cvtps_pd(_mm256_extractf128_ps(near, 1)),
                                        _mm256_cvtps_pd(_mm256_extractf128_ps(farther, 1)));
    return _mm_add_epi16(nearest, _mm_packs_epi32(_mm256_cvttpd_epi32(step_a), _mm256_cvttpd_epi32(step_b)));
}

struct F64ToF32 {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const double* src, float* dst, std::size_t n, bool test_overflow) {
        std::size_t i = 0;
        for (; n - i >= 8; i += 8) {
            const __m256d a = _mm256_loadu_pd(src + i);
            const __m256d b = _mm256_loadu_pd(src + i + 4);
            const __m128i ra = to_float32<M>(a);
            const __m128i rb = to_float32<M>(b);
            if (test_overflow && overflowed(infinite_float32_lanes(ra) | infinite_float32_lanes(rb) << 4, a, b)) {
                break;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), ra);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 4), rb);
        }
        return i;
    }
};

struct F32ToF16 {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const float* src, float16* dst, std::size_t n, bool test_overflow) {
        std::size_t i = 0;
        for (; n - i >= 8; i += 8) {
            const __m256 x = _mm256_loadu_ps(src + i);
            const __m128i r = to_float16<M>(x);
            if (test_overflow && overflowed(infinite_float16_lanes(r), x)) {
                break;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), r);
        }
        return i;
    }
};

struct F64ToF16 {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const double* src, float16* dst, std::size_t n, bool test_overflow) {
        std::size_t i = 0;
        for (; n - i >= 8; i += 8) {
            const __m256d a = _mm256_loadu_pd(src + i);
            const __m256d b = _mm256_loadu_pd(src + i + 4);
            const __m128i r = to_float16<M>(a, b);
            if (test_overflow && overflowed(infinite_float16_lanes(r), a, b)) {
                break;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), r);
        }
        return i;
    }
};

#undef TARNWELL_TARGET

}  // namespace avx2

// GCC 12's AVX-512 intrinsics pass an undefined vector as the unused merge operand of
// unmasked operations, which its flow analysis then reports as uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The same steps on 512-bit vectors, twice the elements per step; comparisons give lane
// masks, so the lanes of a result and of its source are matched by mask bits.
namespace avx512 {

#define TARNWELL_TARGET __attribute__((target("avx512f")))

// +-`one` with its sign flipped where `near` is negative: the unit step upwards (one = 1)
// or downwards (one = -1) on the bit pattern of `near`.
TARNWELL_TARGET inline __m512d signed_unit(__m512d near, double one) {
    const __m512i sign = _mm512_and_epi64(_mm512_castpd_si512(near), _mm512_set1_epi64(INT64_MIN));
    return _mm512_castsi512_pd(_mm512_xor_epi64(sign, _mm512_castpd_si512(_mm512_set1_pd(one))));
}

TARNWELL_TARGET inline __m512 signed_unit(__m512 near, float one) {
    const __m512i sign = _mm512_and_epi32(_mm512_castps_si512(near), _mm512_set1_epi32(INT32_MIN));
    return _mm512_castsi512_ps(_mm512_xor_epi32(sign, _mm512_castps_si512(_mm512_set1_ps(one))));
}

template <RoundingMode M>
TARNWELL_TARGET inline __m512d unit_step(__m512d x, __m512d near, [[maybe_unused]] __m512d farther) {
    if constexpr (M == RoundingMode::TowardsZero) {
        const __mmask8 inside = _mm512_cmp_pd_mask(_mm512_abs_pd(x), _mm512_abs_pd(near), _CMP_LT_OQ);
        return _mm512_maskz_mov_pd(inside, _mm512_set1_pd(-1.0));
    } else if constexpr (M == RoundingMode::TowardsPositive) {
        return _mm512_maskz_mov_pd(_mm512_cmp_pd_mask(x, near, _CMP_GT_OQ), signed_unit(near, 1.0));
    } else if constexpr (M == RoundingMode::TowardsNegative) {
        return _mm512_maskz_mov_pd(_mm512_cmp_pd_mask(x, near, _CMP_LT_OQ), signed_unit(near, -1.0));
    } else {
        const __m512d midpoint = _mm512_mul_pd(_mm512_add_pd(near, farther), _mm512_set1_pd(0.5));
        return _mm512_maskz_mov_pd(_mm512_cmp_pd_mask(x, midpoint, _CMP_EQ_OQ), _mm512_set1_pd(1.0));
    }
}

template <RoundingMode M>
TARNWELL_TARGET inline __m512 unit_step(__m512 x, __m512 near, [[maybe_unused]] __m512 farther) {
    if constexpr (M == RoundingMode::TowardsZero) {
        const __mmask16 inside = _mm512_cmp_ps_mask(_mm512_abs_ps(x), _mm512_abs_ps(near), _CMP_LT_OQ);
        return _mm512_maskz_mov_ps(inside, _mm512_set1_ps(-1.0f));
    } else if constexpr (M == RoundingMode::TowardsPositive) {
        return _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(x, near, _CMP_GT_OQ), signed_unit(near, 1.0f));
    } else if constexpr (M == RoundingMode::TowardsNegative) {
        return _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(x, near, _CMP_LT_OQ), signed_unit(near, -1.0f));
    } else {
        const __m512 midpoint = _mm512_mul_ps(_mm512_add_ps(near, farther), _mm512_set1_ps(0.5f));
        return _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(x, midpoint, _CMP_EQ_OQ), _mm512_set1_ps(1.0f));
    }
}

TARNWELL_TARGET inline __mmask8 finite_lanes(__m512d x) {
    return _mm512_cmp_pd_mask(_mm512_abs_pd(x), _mm512_set1_pd(__builtin_inf()), _CMP_LT_OQ);
}

TARNWELL_TARGET inline __mmask16 finite_lanes(__m512 x) {
    return _mm512_cmp_ps_mask(_mm512_abs_ps(x), _mm512_set1_ps(__builtin_inff()), _CMP_LT_OQ);
}

TARNWELL_TARGET inline __mmask8 infinite_float32_lanes(__m256i bits) {
    const __m512i magnitude = _mm512_and_si512(_mm512_cvtepu32_epi64(bits), _mm512_set1_epi64(0x7fff'ffff));
    return _mm512_cmpeq_epi64_mask(magnitude, _mm512_set1_epi64(0x7f80'0000));
}

TARNWELL_TARGET inline __mmask16 infinite_float16_lanes(__m256i halves) {
    const __m512i magnitude = _mm512_and_si512(_mm512_cvtepu16_epi32(halves), _mm512_set1_epi32(0x7fff));
    return _mm512_cmpeq_epi32_mask(magnitude, _mm512_set1_epi32(0x7c00));
}

// Eight binary64 values to binary32 under M, as bit patterns.
template <RoundingMode M>
TARNWELL_TARGET inline __m256i to_float32(__m512d x) {
    const __m256i nearest = _mm256_castps_si256(_mm512_cvtpd_ps(x));
    const __m512d near = _mm512_cvtps_pd(_mm256_castsi256_ps(nearest));
    __m512d farther = near;
    if constexpr (M == RoundingMode::NearestAway) {
        farther = _mm512_cvtps_pd(_mm256_castsi256_ps(_mm256_add_epi32(nearest, _mm256_set1_epi32(1))));
    }
    return _mm256_add_epi32(nearest, _mm512_cvttpd_epi32(unit_step<M>(x, near, farther)));
}

// Sixteen binary16 patterns to their neighbours one unit farther from zero, widened.
TARNWELL_TARGET inline __m512 farther_float16(__m256i halves) {
    return _mm512_cvtph_ps(_mm256_add_epi16(halves, _mm256_set1_epi16(1)));
}

// Sixteen binary32 values to binary16 under M, as bit patterns.
template <RoundingMode M>
TARNWELL_TARGET inline __m256i to_float16(__m512 x) {
    const __m256i nearest = _mm512_cvtps_ph(x, _MM_FROUND_TO_NEAREST_INT);
    const __m512 near = _mm512_cvtph_ps(nearest);
    __m512 farther = near;
    if constexpr (M == RoundingMode::NearestAway) {
        farther = farther_float16(nearest);
    }
    const __m512i step = _mm512_cvttps_epi32(unit_step<M>(x, near, farther));
    return _mm256_add_epi16(nearest, _mm512_cvtepi32_epi16(step));
}

TARNWELL_TARGET inline __m512d low_half_widened(__m512 x) { return _mm512_cvtps_pd(_mm512_castps512_ps256(x)); }

TARNWELL_TARGET inline __m512d high_half_widened(__m512 x) {
    return _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(x), 1)));
}

// Sixteen binary64 values (a, then b) to binary16 under M, rounding through binary32 first.
template <RoundingMode M>
TARNWELL_TARGET inline __m256i to_float16(__m512d a, __m512d b) {
    const __m512d singles = _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(_mm512_cvtpd_ps(a))),
                                               _mm256_castps_pd(_mm512_cvtpd_ps(b)), 1);
    const __m256i nearest = _mm512_cvtps_ph(_mm512_castpd_ps(singles), _MM_FROUND_TO_NEAREST_INT);
    const __m512 near = _mm512_cvtph_ps(nearest);
    __m512 farther = near;
    if constexpr (M == RoundingMode::NearestAway) {
        farther = farther_float16(nearest);
    }
    const __m256i step_a = _mm512_cvttpd_epi32(unit_step<M>(a, low_half_widened(near), low_half_widened(farther)));
    const __m256i step_b = _mm512_cvttpd_epi32(unit_step<M>(b, high_half_widened(near), high_half_widened(farther)));
    const __m512i steps = _mm512_inserti64x4(_mm512_castsi256_si512(step_a), step_b, 1);
    return _mm256_add_epi16(nearest, _mm512_cvtepi32_epi16(steps));
}

struct F64ToF32 {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const double* src, float* dst, std::size_t n, bool test_overflow) {
        std::size_t i = 0;
        for (; n - i >= 16; i += 16) {
            const __m512d a = _mm512_loadu_pd(src + i);
            const __m512d b = _mm512_loadu_pd(src + i + 8);
            const __m256i ra = to_float32<M>(a);
            const __m256i rb = to_float32<M>(b);
            if (test_overflow) {
                const unsigned infinite = infinite_float32_lanes(ra) | infinite_float32_lanes(rb) << 8;
                if (infinite != 0 && (infinite & (finite_lanes(a) | finite_lanes(b) << 8)) != 0) {
                    break;
                }
            }
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), ra);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 8), rb);
        }
        return i;
    }
};

struct F32ToF16 {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const float* src, float16* dst, std::size_t n, bool test_overflow) {
        std::size_t i = 0;
        for (; n - i >= 16; i += 16) {
            const __m512 x = _mm512_loadu_ps(src + i);
            const __m256i r = to_float16<M>(x);
            if (test_overflow) {
                const __mmask16 infinite = infinite_float16_lanes(r);
                if (infinite != 0 && (infinite & finite_lanes(x)) != 0) {
                    break;
                }
            }
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), r);
        }
        return i;
    }
};

struct F64ToF16 {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const double* src, float16* dst, std::size_t n, bool test_overflow) {
        std::size_t i = 0;
        for (; n - i >= 16; i += 16) {
            const __m512d a = _mm512_loadu_pd(src + i);
            const __m512d b = _mm512_loadu_pd(src + i + 8);
            const __m256i r = to_float16<M>(a, b);
            if (test_overflow) {
                const unsigned infinite = infinite_float16_lanes(r);
                if (infinite != 0 && (infinite & (finite_lanes(a) | finite_lanes(b) << 8)) != 0) {
                    break;
                }
            }
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), r);
        }
        return i;
    }
};

#undef TARNWELL_TARGET

}  // namespace avx512

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// Instantiates a kernel for the rounding mode once per slice, so that the mode's
// comparisons are fixed in the loop.
template <class Kernel, class S, class D>
std::size_t with_mode(const S* src, D* dst, std::size_t n, RoundingMode mode, bool test_overflow) {
    switch (mode) {
        case RoundingMode::TowardsZero:
            return Kernel::template run<RoundingMode::TowardsZero>(src, dst, n, test_overflow);
        case RoundingMode::TowardsPositive:
            return Kernel::template run<RoundingMode::TowardsPositive>(src, dst, n, test_overflow);
        case RoundingMode::TowardsNegative:
            return Kernel::template run<RoundingMode::TowardsNegative>(src, dst, n, test_overflow);
        case RoundingMode::NearestAway:
            return Kernel::template run<RoundingMode::NearestAway>(src, dst, n, test_overflow);
        case RoundingMode::NearestEven:
            break;
    }
    throw InternalFailure("vector narrowing kernel called with a rounding mode it does not support");
}

constexpr NarrowingKernels sse41_kernels = {
    &with_mode<sse41::F64ToF32, double, float>,
    nullptr,
    nullptr,
};

constexpr NarrowingKernels avx2_kernels = {
    &with_mode<avx2::F64ToF32, double, float>,
    &with_mode<avx2::F32ToF16, float, float16>,
    &with_mode<avx2::F64ToF16, double, float16>,
};

constexpr NarrowingKernels avx512_kernels = {
    &with_mode<avx512::F64ToF32, double, float>,
    &with_mode<avx512::F32ToF16, float, float16>,
    &with_mode<avx512::F64ToF16, double, float16>,
};

}  // namespace

const NarrowingKernels* narrowing_kernels(Level level) noexcept {
    switch (level) {
        case Level::Sse41:
            return &sse41_kernels;
        case Level::Avx2:
            return &avx2_kernels;
        case Level::Avx512:
            return &avx512_kernels;
        default:
            return nullptr;
    }
}

}  // namespace tarnwell::simd::detail
