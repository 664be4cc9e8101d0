#include <cpuid.h>
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "kernels.hpp"

// x86-64 kernels for three instruction-set levels in one source built for plain x86-64:
// each kernel carries its level as a target attribute, and the levels the processor
// supports are found once at run time. Larger levels convert several blocks per step;
// a step that meets a NaN (or, when checking, an out-of-range value) is left to the block
// rules, which find the failing block, so the outcome is that of 8- and 2-element blocks.
// The binary16 kernels need the half-precision instructions, which SSE4.1 lacks.
namespace tarnwell::simd::detail {
namespace {

// Round-to-integral immediates: the same encoding serves roundps/roundpd and vrndscale
// (with a scale of zero); exceptions are suppressed since nothing reads the flags.
template <RoundingMode M>
constexpr int rounding_imm = [] {
    switch (M) {
        case RoundingMode::TowardsZero:
            return _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC;
        case RoundingMode::TowardsPositive:
            return _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC;
        case RoundingMode::TowardsNegative:
            return _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;
        default:
            return _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
    }
}();

constexpr double int32_lo = -2147483648.0;
constexpr double int32_hi = 2147483647.0;
// The smallest binary64 magnitude that rounds to infinity in binary32: the largest
// binary32 value plus half its unit in the last place (the tie goes to the even
// significand, which is the next power of two, so the tie itself overflows).
constexpr double float32_overflow = 3.4028235677973366e38;
// The float32 kernels flag overflow per run of this many elements, so that the scan for
// the failing element starts near it instead of at the beginning.
constexpr std::size_t overflow_chunk = 1024;

// Converts the elements after the last whole vector step of a float32 narrowing and says
// where the overflow scan must begin, given the first flagged chunk.
inline std::size_t finish_narrowing(const double* src, float* dst, std::size_t n, std::size_t whole,
                                    std::size_t first_flagged, bool test_overflow) {
    for (std::size_t i = whole; i < n; ++i) {
        dst[i] = static_cast<float>(src[i]);
    }
    return test_overflow ? std::min(first_flagged, whole) : n;
}

namespace sse41 {

#define TARNWELL_TARGET __attribute__((target("sse4.1")))

template <RoundingMode M>
TARNWELL_TARGET inline __m128d round_clamp(__m128d x, __m128d lo, __m128d hi) {
    return _mm_min_pd(_mm_max_pd(_mm_round_pd(x, rounding_imm<M>), lo), hi);
}

struct F32ToU8 {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const float* src, std::uint8_t* dst, std::size_t n) {
        const __m128 zero = _mm_setzero_ps();
        const __m128 top = _mm_set1_ps(255.0f);
        std::size_t i = 0;
        for (; n - i >= 8; i += 8) {
            __m128 a = _mm_loadu_ps(src + i);
            __m128 b = _mm_loadu_ps(src + i + 4);
            if (_mm_movemask_ps(_mm_cmpunord_ps(a, b)) != 0) {
                break;
            }
            a = _mm_min_ps(_mm_max_ps(_mm_round_ps(a, rounding_imm<M>), zero), top);
            b = _mm_min_ps(_mm_max_ps(_mm_round_ps(b, rounding_imm<M>), zero), top);
            const __m128i words = _mm_packs_epi32(_mm_cvttps_epi32(a), _mm_cvttps_epi32(b));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(words, words));
        }
        return i;
    }
};

struct F64ToU8 {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const double* src, std::uint8_t* dst, std::size_t n) {
        const __m128d zero = _mm_setzero_pd();
        const __m128d top = _mm_set1_pd(255.0);
        std::size_t i = 0;
        for (; n - i >= 8; i += 8) {
            __m128d a = _mm_loadu_pd(src + i);
            __m128d b = _mm_loadu_pd(src + i + 2);
            __m128d c = _mm_loadu_pd(src + i + 4);
            __m128d d = _mm_loadu_pd(src + i + 6);
            if (_mm_movemask_pd(_mm_or_pd(_mm_cmpunord_pd(a, b), _mm_cmpunord_pd(c, d))) != 0) {
                break;
            }
            a = round_clamp<M>(a, zero, top);
            b = round_clamp<M>(b, zero, top);
            c = round_clamp<M>(c, zero, top);
            d = round_clamp<M>(d, zero, top);
            const __m128i low = _mm_unpacklo_epi64(_mm_cvttpd_epi32(a), _mm_cvttpd_epi32(b));
            const __m128i high = _mm_unpacklo_epi64(_mm_cvttpd_epi32(c), _mm_cvttpd_epi32(d));
            const __m128i words = _mm_packs_epi32(low, high);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(words, words));
        }
        return i;
    }
};

struct F64ToI32Clamp {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const double* src, std::int32_t* dst, std::size_t n) {
        const __m128d lo = _mm_set1_pd(int32_lo);
        const __m128d hi = _mm_set1_pd(int32_hi);
        std::size_t i = 0;
        for (; n - i >= 4; i += 4) {
            const __m128d a = _mm_loadu_pd(src + i);
            const __m128d b = _mm_loadu_pd(src + i + 2);
            if (_mm_movemask_pd(_mm_cmpunord_pd(a, b)) != 0) {
                break;
            }
            const __m128i ints = _mm_unpacklo_epi64(_mm_cvttpd_epi32(round_clamp<M>(a, lo, hi)),
                                                    _mm_cvttpd_epi32(round_clamp<M>(b, lo, hi)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), ints);
        }
        return i;
    }
};

struct F64ToI32Check {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const double* src, std::int32_t* dst, std::size_t n) {
        const __m128d lo = _mm_set1_pd(int32_lo);
        const __m128d hi = _mm_set1_pd(int32_hi);
        std::size_t i = 0;
        for (; n - i >= 4; i += 4) {
            const __m128d a = _mm_loadu_pd(src + i);
            const __m128d b = _mm_loadu_pd(src + i + 2);
            const __m128d ra = _mm_round_pd(a, rounding_imm<M>);
            const __m128d rb = _mm_round_pd(b, rounding_imm<M>);
            // NaN rounds to NaN, which fails the ordered "within range" test.
            const __m128d inside = _mm_and_pd(_mm_and_pd(_mm_cmpge_pd(ra, lo), _mm_cmple_pd(ra, hi)),
                                              _mm_and_pd(_mm_cmpge_pd(rb, lo), _mm_cmple_pd(rb, hi)));
            if (_mm_movemask_pd(inside) != 0b11) {
                break;
            }
            const __m128i ints = _mm_unpacklo_epi64(_mm_cvttpd_epi32(ra), _mm_cvttpd_epi32(rb));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), ints);
        }
        return i;
    }
};

TARNWELL_TARGET std::size_t f64_to_f32_nearest(const double* src, float* dst, std::size_t n, bool test_overflow) {
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7fff'ffff'ffff'ffff));
    const __m128d threshold = _mm_set1_pd(float32_overflow);
    const __m128d infinity = _mm_set1_pd(__builtin_inf());
    const std::size_t whole = n & ~std::size_t{3};
    std::size_t first_flagged = n;
    for (std::size_t chunk = 0; chunk < whole; chunk += overflow_chunk) {
        const std::size_t end = std::min(chunk + overflow_chunk, whole);
        __m128d flagged = _mm_setzero_pd();
        for (std::size_t i = chunk; i < end; i += 4) {
            const __m128d a = _mm_loadu_pd(src + i);
            const __m128d b = _mm_loadu_pd(src + i + 2);
            _mm_storeu_ps(dst + i, _mm_movelh_ps(_mm_cvtpd_ps(a), _mm_cvtpd_ps(b)));
            const __m128d ma = _mm_and_pd(a, magnitude);
            const __m128d mb = _mm_and_pd(b, magnitude);
            flagged = _mm_or_pd(flagged, _mm_and_pd(_mm_cmpge_pd(ma, threshold), _mm_cmplt_pd(ma, infinity)));
            flagged = _mm_or_pd(flagged, _mm_and_pd(_mm_cmpge_pd(mb, threshold), _mm_cmplt_pd(mb, infinity)));
        }
        if (first_flagged == n && _mm_movemask_pd(flagged) != 0) {
            first_flagged = chunk;
        }
    }
    return finish_narrowing(src, dst, n, whole, first_flagged, test_overflow);
}

#undef TARNWELL_TARGET

}  // namespace sse41

namespace avx2 {

#define TARNWELL_TARGET __attribute__((target("avx2")))

template <RoundingMode M>
TARNWELL_TARGET inline __m256d round_clamp(__m256d x, __m256d lo, __m256d hi) {
    return _mm256_min_pd(_mm256_max_pd(_mm256_round_pd(x, rounding_imm<M>), lo), hi);
}

template <RoundingMode M>
TARNWELL_TARGET inline __m256i round_clamp_to_int(__m256 x) {
    const __m256 rounded = _mm256_round_ps(x, rounding_imm<M>);
    return _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(rounded, _mm256_setzero_ps()), _mm256_set1_ps(255.0f)));
}

// A lane compares unordered when either operand is NaN, so one compare tests two vectors.
TARNWELL_TARGET inline bool any_nan(__m256d a, __m256d b) {
    const __m256d unordered = _mm256_cmp_pd(a, b, _CMP_UNORD_Q);
    return _mm256_testz_pd(unordered, unordered) == 0;
}

TARNWELL_TARGET inline bool any_nan(__m256d a, __m256d b, __m256d c, __m256d d) {
    const __m256d unordered = _mm256_or_pd(_mm256_cmp_pd(a, b, _CMP_UNORD_Q), _mm256_cmp_pd(c, d, _CMP_UNORD_Q));
    return _mm256_testz_pd(unordered, unordered) == 0;
}

struct F32ToU8 {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const float* src, std::uint8_t* dst, std::size_t n) {
        // The 256-bit packs work within 128-bit halves; this permutation restores order.
        const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
        std::size_t i = 0;
        for (; n - i >= 32; i += 32) {
            const __m256 a = _mm256_loadu_ps(src + i);
            const __m256 b = _mm256_loadu_ps(src + i + 8);
            const __m256 c = _mm256_loadu_ps(src + i + 16);
            const __m256 d = _mm256_loadu_ps(src + i + 24);
            const __m256 unordered = _mm256_or_ps(_mm256_cmp_ps(a, b, _CMP_UNORD_Q), _mm256_cmp_ps(c, d, _CMP_UNORD_Q));
            if (_mm256_testz_ps(unordered, unordered) == 0) {
                break;
            }
            const __m256i ab = _mm256_packs_epi32(round_clamp_to_int<M>(a), round_clamp_to_int<M>(b));
            const __m256i cd = _mm256_packs_epi32(round_clamp_to_int<M>(c), round_clamp_to_int<M>(d));
            const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(ab, cd), order);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), bytes);
        }
        return i;
    }
};

struct F64ToU8 {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const double* src, std::uint8_t* dst, std::size_t n) {
        const __m256d zero = _mm256_setzero_pd();
        const __m256d top = _mm256_set1_pd(255.0);
        std::size_t i = 0;
        for (; n - i >= 16; i += 16) {
            const __m256d a = _mm256_loadu_pd(src + i);
            const __m256d b = _mm256_loadu_pd(src + i + 4);
            const __m256d c = _mm256_loadu_pd(src + i + 8);
            const __m256d d = _mm256_loadu_pd(src + i + 12);
            if (any_nan(a, b, c, d)) {
                break;
            }
            const __m128i ab = _mm_packs_epi32(_mm256_cvttpd_epi32(round_clamp<M>(a, zero, top)),
                                               _mm256_cvttpd_epi32(round_clamp<M>(b, zero, top)));
            const __m128i cd = _mm_packs_epi32(_mm256_cvttpd_epi32(round_clamp<M>(c, zero, top)),
                                               _mm256_cvttpd_epi32(round_clamp<M>(d, zero, top)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(ab, cd));
        }
        return i;
    }
};

struct F64ToI32Clamp {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const double* src, std::int32_t* dst, std::size_t n) {
        const __m256d lo = _mm256_set1_pd(int32_lo);
        const __m256d hi = _mm256_set1_pd(int32_hi);
        std::size_t i = 0;
        for (; n - i >= 8; i += 8) {
            const __m256d a = _mm256_loadu_pd(src + i);
            const __m256d b = _mm256_loadu_pd(src + i + 4);
            if (any_nan(a, b)) {
                break;
            }
            const __m256i ints = _mm256_set_m128i(_mm256_cvttpd_epi32(round_clamp<M>(b, lo, hi)),
                                                  _mm256_cvttpd_epi32(round_clamp<M>(a, lo, hi)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), ints);
        }
        return i;
    }
};

struct F64ToI32Check {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const double* src, std::int32_t* dst, std::size_t n) {
        const __m256d lo = _mm256_set1_pd(int32_lo);
        const __m256d hi = _mm256_set1_pd(int32_hi);
        std::size_t i = 0;
        for (; n - i >= 8; i += 8) {
            const __m256d ra = _mm256_round_pd(_mm256_loadu_pd(src + i), rounding_imm<M>);
            const __m256d rb = _mm256_round_pd(_mm256_loadu_pd(src + i + 4), rounding_imm<M>);
            // NaN rounds to NaN, which fails the ordered "within range" test.
            const __m256d inside = _mm256_and_pd(
                _mm256_and_pd(_mm256_cmp_pd(ra, lo, _CMP_GE_OQ), _mm256_cmp_pd(ra, hi, _CMP_LE_OQ)),
                _mm256_and_pd(_mm256_cmp_pd(rb, lo, _CMP_GE_OQ), _mm256_cmp_pd(rb, hi, _CMP_LE_OQ)));
            if (_mm256_movemask_pd(inside) != 0b1111) {
                break;
            }
            const __m256i ints = _mm256_set_m128i(_mm256_cvttpd_epi32(rb), _mm256_cvttpd_epi32(ra));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), ints);
        }
        return i;
    }
};

TARNWELL_TARGET std::size_t f64_to_f32_nearest(const double* src, float* dst, std::size_t n, bool test_overflow) {
    const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fff'ffff'ffff'ffff));
    const __m256d threshold = _mm256_set1_pd(float32_overflow);
    const __m256d infinity = _mm256_set1_pd(__builtin_inf());
    const std::size_t whole = n & ~std::size_t{7};
    std::size_t first_flagged = n;
    for (std::size_t chunk = 0; chunk < whole; chunk += overflow_chunk) {
        const std::size_t end = std::min(chunk + overflow_chunk, whole);
        __m256d flagged = _mm256_setzero_pd();
        for (std::size_t i = chunk; i < end; i += 8) {
            const __m256d a = _mm256_loadu_pd(src + i);
            const __m256d b = _mm256_loadu_pd(src + i + 4);
            _mm256_storeu_ps(dst + i, _mm256_set_m128(_mm256_cvtpd_ps(b), _mm256_cvtpd_ps(a)));
            const __m256d ma = _mm256_and_pd(a, magnitude);
            const __m256d mb = _mm256_and_pd(b, magnitude);
            flagged = _mm256_or_pd(flagged, _mm256_and_pd(_mm256_cmp_pd(ma, threshold, _CMP_GE_OQ),
                                                          _mm256_cmp_pd(ma, infinity, _CMP_LT_OQ)));
            flagged = _mm256_or_pd(flagged, _mm256_and_pd(_mm256_cmp_pd(mb, threshold, _CMP_GE_OQ),
                                                          _mm256_cmp_pd(mb, infinity, _CMP_LT_OQ)));
        }
        if (first_flagged == n && _mm256_testz_pd(flagged, flagged) == 0) {
            first_flagged = chunk;
        }
    }
    return finish_narrowing(src, dst, n, whole, first_flagged, test_overflow);
}

#undef TARNWELL_TARGET

}  // namespace avx2

// binary16 conversions with the half-precision instructions, which every processor with
// AVX2 here also has; the AVX-512 level uses them too. The instructions round to nearest,
// ties to even, and quieten NaNs keeping their sign and leading fraction bits, exactly as
// the software conversions do.
namespace f16c {

#define TARNWELL_TARGET __attribute__((target("avx2,f16c")))

// Finite magnitudes from which binary16 rounding overflows: 65504 plus half its unit in
// the last place; from binary64 a little lower, since the values from there up round to
// 65520 in binary32 first.
constexpr float float32_to_f16_overflow = 65520.0f;
constexpr double float64_to_f16_overflow = 65519.998046875;

TARNWELL_TARGET inline bool any_overflow(__m256 x) {
    const __m256 magnitude = _mm256_and_ps(x, _mm256_castsi256_ps(_mm256_set1_epi32(0x7fff'ffff)));
    const __m256 overflows =
        _mm256_and_ps(_mm256_cmp_ps(magnitude, _mm256_set1_ps(float32_to_f16_overflow), _CMP_GE_OQ),
                      _mm256_cmp_ps(magnitude, _mm256_set1_ps(__builtin_inff()), _CMP_LT_OQ));
    return _mm256_testz_ps(overflows, overflows) == 0;
}

TARNWELL_TARGET inline bool any_overflow(__m256d x) {
    const __m256d magnitude = _mm256_and_pd(x, _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fff'ffff'ffff'ffff)));
    const __m256d overflows =
        _mm256_and_pd(_mm256_cmp_pd(magnitude, _mm256_set1_pd(float64_to_f16_overflow), _CMP_GE_OQ),
                      _mm256_cmp_pd(magnitude, _mm256_set1_pd(__builtin_inf()), _CMP_LT_OQ));
    return _mm256_testz_pd(overflows, overflows) == 0;
}

TARNWELL_TARGET inline void store_halves(float16* dst, __m256 x) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_cvtps_ph(x, _MM_FROUND_TO_NEAREST_INT));
}

TARNWELL_TARGET inline __m256 load_halves(const float16* src) {
    return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
}

TARNWELL_TARGET std::size_t f32_to_f16_nearest(const float* src, float16* dst, std::size_t n, bool test_overflow) {
    std::size_t i = 0;
    for (; n - i >= 8; i += 8) {
        const __m256 x = _mm256_loadu_ps(src + i);
        if (test_overflow && any_overflow(x)) {
            break;
        }
        store_halves(dst + i, x);
    }
    return i;
}

TARNWELL_TARGET std::size_t f64_to_f16_nearest(const double* src, float16* dst, std::size_t n, bool test_overflow) {
    std::size_t i = 0;
    for (; n - i >= 8; i += 8) {
        const __m256d a = _mm256_loadu_pd(src + i);
        const __m256d b = _mm256_loadu_pd(src + i + 4);
        if (test_overflow && (any_overflow(a) || any_overflow(b))) {
            break;
        }
        store_halves(dst + i, _mm256_set_m128(_mm256_cvtpd_ps(b), _mm256_cvtpd_ps(a)));
    }
    return i;
}

TARNWELL_TARGET void f16_to_f32(const float16* src, float* dst, std::size_t n) {
    std::size_t i = 0;
    for (; n - i >= 8; i += 8) {
        _mm256_storeu_ps(dst + i, load_halves(src + i));
    }
    for (; i < n; ++i) {
        dst[i] = static_cast<float>(src[i]);
    }
}

TARNWELL_TARGET void f16_to_f64(const float16* src, double* dst, std::size_t n) {
    std::size_t i = 0;
    for (; n - i >= 8; i += 8) {
        const __m256 x = load_halves(src + i);
        _mm256_storeu_pd(dst + i, _mm256_cvtps_pd(_mm256_castps256_ps128(x)));
        _mm256_storeu_pd(dst + i + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(x, 1)));
    }
    for (; i < n; ++i) {
        dst[i] = static_cast<double>(src[i]);
    }
}

#undef TARNWELL_TARGET

}  // namespace f16c

// GCC 12's AVX-512 intrinsics pass an undefined vector as the unused merge operand of
// unmasked operations, which its flow analysis then reports as uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace avx512 {

#define TARNWELL_TARGET __attribute__((target("avx512f")))


template <RoundingMode M>
TARNWELL_TARGET inline __m512d round_clamp(__m512d x, __m512d lo, __m512d hi) {
    return _mm512_min_pd(_mm512_max_pd(_mm512_roundscale_pd(x, rounding_imm<M>), lo), hi);
}

template <RoundingMode M>
TARNWELL_TARGET inline __m128i round_clamp_to_bytes(__m512 x) {
    const __m512 rounded = _mm512_roundscale_ps(x, rounding_imm<M>);
    const __m512 clamped = _mm512_min_ps(_mm512_max_ps(rounded, _mm512_setzero_ps()), _mm512_set1_ps(255.0f));
    return _mm512_cvtepi32_epi8(_mm512_cvttps_epi32(clamped));
}

// Sixteen in-range integral doubles to sixteen bytes.
TARNWELL_TARGET inline __m128i to_bytes(__m512d low, __m512d high) {
    const __m512i ints =
        _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(low)), _mm512_cvttpd_epi32(high), 1);
    return _mm512_cvtepi32_epi8(ints);
}

struct F32ToU8 {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const float* src, std::uint8_t* dst, std::size_t n) {
        std::size_t i = 0;
        for (; n - i >= 32; i += 32) {
            const __m512 a = _mm512_loadu_ps(src + i);
            const __m512 b = _mm512_loadu_ps(src + i + 16);
            if (_mm512_cmp_ps_mask(a, b, _CMP_UNORD_Q) != 0) {
                break;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), round_clamp_to_bytes<M>(a));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 16), round_clamp_to_bytes<M>(b));
        }
        return i;
    }
};

struct F64ToU8 {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const double* src, std::uint8_t* dst, std::size_t n) {
        const __m512d zero = _mm512_setzero_pd();
        const __m512d top = _mm512_set1_pd(255.0);
        std::size_t i = 0;
        for (; n - i >= 32; i += 32) {
            const __m512d a = _mm512_loadu_pd(src + i);
            const __m512d b = _mm512_loadu_pd(src + i + 8);
            const __m512d c = _mm512_loadu_pd(src + i + 16);
            const __m512d d = _mm512_loadu_pd(src + i + 24);
            if ((_mm512_cmp_pd_mask(a, b, _CMP_UNORD_Q) | _mm512_cmp_pd_mask(c, d, _CMP_UNORD_Q)) != 0) {
                break;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                             to_bytes(round_clamp<M>(a, zero, top), round_clamp<M>(b, zero, top)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 16),
                             to_bytes(round_clamp<M>(c, zero, top), round_clamp<M>(d, zero, top)));
        }
        return i;
    }
};

struct F64ToI32Clamp {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const double* src, std::int32_t* dst, std::size_t n) {
        const __m512d lo = _mm512_set1_pd(int32_lo);
        const __m512d hi = _mm512_set1_pd(int32_hi);
        std::size_t i = 0;
        for (; n - i >= 16; i += 16) {
            const __m512d a = _mm512_loadu_pd(src + i);
            const __m512d b = _mm512_loadu_pd(src + i + 8);
            if (_mm512_cmp_pd_mask(a, b, _CMP_UNORD_Q) != 0) {
                break;
            }
            const __m256i low = _mm512_cvttpd_epi32(round_clamp<M>(a, lo, hi));
            const __m256i high = _mm512_cvttpd_epi32(round_clamp<M>(b, lo, hi));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), low);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 8), high);
        }
        return i;
    }
};

struct F64ToI32Check {
    template <RoundingMode M>
    TARNWELL_TARGET static std::size_t run(const double* src, std::int32_t* dst, std::size_t n) {
        const __m512d lo = _mm512_set1_pd(int32_lo);
        const __m512d hi = _mm512_set1_pd(int32_hi);
        std::size_t i = 0;
        for (; n - i >= 16; i += 16) {
            const __m512d ra = _mm512_roundscale_pd(_mm512_loadu_pd(src + i), rounding_imm<M>);
            const __m512d rb = _mm512_roundscale_pd(_mm512_loadu_pd(src + i + 8), rounding_imm<M>);
            // NaN rounds to NaN, which fails the ordered "within range" test.
            const __mmask8 above_lo = _mm512_cmp_pd_mask(ra, lo, _CMP_GE_OQ) & _mm512_cmp_pd_mask(rb, lo, _CMP_GE_OQ);
            const __mmask8 below_hi = _mm512_cmp_pd_mask(ra, hi, _CMP_LE_OQ) & _mm512_cmp_pd_mask(rb, hi, _CMP_LE_OQ);
            if ((above_lo & below_hi) != 0xff) {
                break;
            }
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm512_cvttpd_epi32(ra));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 8), _mm512_cvttpd_epi32(rb));
        }
        return i;
    }
};

TARNWELL_TARGET std::size_t f64_to_f32_nearest(const double* src, float* dst, std::size_t n, bool test_overflow) {
    const __m512d threshold = _mm512_set1_pd(float32_overflow);
    const __m512d infinity = _mm512_set1_pd(__builtin_inf());
    const std::size_t whole = n & ~std::size_t{15};
    std::size_t first_flagged = n;
    for (std::size_t chunk = 0; chunk < whole; chunk += overflow_chunk) {
        const std::size_t end = std::min(chunk + overflow_chunk, whole);
        __mmask8 flagged = 0;
        for (std::size_t i = chunk; i < end; i += 16) {
            const __m512d a = _mm512_loadu_pd(src + i);
            const __m512d b = _mm512_loadu_pd(src + i + 8);
            _mm256_storeu_ps(dst + i, _mm512_cvtpd_ps(a));
            _mm256_storeu_ps(dst + i + 8, _mm512_cvtpd_ps(b));
            const __m512d ma = _mm512_abs_pd(a);
            const __m512d mb = _mm512_abs_pd(b);
            flagged |= _mm512_mask_cmp_pd_mask(_mm512_cmp_pd_mask(ma, infinity, _CMP_LT_OQ), ma, threshold, _CMP_GE_OQ);
            flagged |= _mm512_mask_cmp_pd_mask(_mm512_cmp_pd_mask(mb, infinity, _CMP_LT_OQ), mb, threshold, _CMP_GE_OQ);
        }
        if (first_flagged == n && flagged != 0) {
            first_flagged = chunk;
        }
    }
    return finish_narrowing(src, dst, n, whole, first_flagged, test_overflow);
}

#undef TARNWELL_TARGET

}  // namespace avx512

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

constexpr KernelTable sse41_kernels = {
    &with_rounding<sse41::F32ToU8, float, std::uint8_t>,
    &with_rounding<sse41::F64ToU8, double, std::uint8_t>,
    &with_rounding<sse41::F64ToI32Clamp, double, std::int32_t>,
    &with_rounding<sse41::F64ToI32Check, double, std::int32_t>,
    &sse41::f64_to_f32_nearest,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

constexpr KernelTable avx2_kernels = {
    &with_rounding<avx2::F32ToU8, float, std::uint8_t>,
    &with_rounding<avx2::F64ToU8, double, std::uint8_t>,
    &with_rounding<avx2::F64ToI32Clamp, double, std::int32_t>,
    &with_rounding<avx2::F64ToI32Check, double, std::int32_t>,
    &avx2::f64_to_f32_nearest,
    &f16c::f32_to_f16_nearest,
    &f16c::f64_to_f16_nearest,
    &f16c::f16_to_f32,
    &f16c::f16_to_f64,
};

constexpr KernelTable avx512_kernels = {
    &with_rounding<avx512::F32ToU8, float, std::uint8_t>,
    &with_rounding<avx512::F64ToU8, double, std::uint8_t>,
    &with_rounding<avx512::F64ToI32Clamp, double, std::int32_t>,
    &with_rounding<avx512::F64ToI32Check, double, std::int32_t>,
    &avx512::f64_to_f32_nearest,
    &f16c::f32_to_f16_nearest,
    &f16c::f64_to_f16_nearest,
    &f16c::f16_to_f32,
    &f16c::f16_to_f64,
};

// Not every compiler's feature test knows F16C, so ask the processor directly.
bool has_f16c() noexcept {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_F16C) != 0;
}

}  // namespace

std::span<const LevelKernels> platform_levels() noexcept {
    static const auto supported = [] {
        __builtin_cpu_init();
        std::array<LevelKernels, 3> levels{};
        std::size_t count = 0;
        if (__builtin_cpu_supports("sse4.1")) {
            levels[count++] = {Level::Sse41, &sse41_kernels};
        }
        // The processors with AVX2 or AVX-512 also have the half-precision conversions;
        // the test only keeps a level from a processor that lacks them.
        const bool halves = __builtin_cpu_supports("avx2") && has_f16c();
        if (halves) {
            levels[count++] = {Level::Avx2, &avx2_kernels};
        }
        if (halves && __builtin_cpu_supports("avx512f")) {
            levels[count++] = {Level::Avx512, &avx512_kernels};
        }
        return std::pair{levels, count};
    }();
    return {supported.first.data(), supported.second};
}

}  // namespace tarnwell::simd::detail
