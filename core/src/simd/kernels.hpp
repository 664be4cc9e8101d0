#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "../internal_failure.hpp"
#include "../policy.hpp"
#include "simd.hpp"

// What each processor family's source provides: the vector loops of one level, without
// the error reporting, which the block rules do in scalar code for every level alike.
namespace tarnwell::simd::detail {

// The rounding kernels convert whole blocks from the start and stop before the first
// block holding an element they do not convert themselves (a NaN, or for the checking
// variant a rounded value out of range), or when too few elements remain. They return
// the number of elements written: a multiple of the operation's block size (8 for
// uint8 targets, 2 for int32), which may internally be processed several at a time.
//
// The float32 kernel converts all n elements and returns the index from which the
// overflow scan must look: n when test_overflow is clear or no element overflowed.
struct KernelTable {
    std::size_t (*f32_to_u8_clamp)(const float* src, std::uint8_t* dst, std::size_t n, RoundingMode mode);
    std::size_t (*f64_to_u8_clamp)(const double* src, std::uint8_t* dst, std::size_t n, RoundingMode mode);
    std::size_t (*f64_to_i32_clamp)(const double* src, std::int32_t* dst, std::size_t n, RoundingMode mode);
    std::size_t (*f64_to_i32_check)(const double* src, std::int32_t* dst, std::size_t n, RoundingMode mode);
    std::size_t (*f64_to_f32_nearest)(const double* src, float* dst, std::size_t n, bool test_overflow);

    // The binary16 kernels, null where the level has no half-precision conversions (the
    // operations then decline). Narrowing writes whole blocks up to the first block that
    // holds an overflow when test_overflow is set, and returns the number written;
    // widening converts all n elements.
    std::size_t (*f32_to_f16_nearest)(const float* src, float16* dst, std::size_t n, bool test_overflow);
    std::size_t (*f64_to_f16_nearest)(const double* src, float16* dst, std::size_t n, bool test_overflow);
    void (*f16_to_f32)(const float16* src, float* dst, std::size_t n);
    void (*f16_to_f64)(const float16* src, double* dst, std::size_t n);
};

struct LevelKernels {
    Level level;
    const KernelTable* kernels;
};

// The vector levels of this build that the running processor supports, slowest first.
std::span<const LevelKernels> platform_levels() noexcept;

// Instantiates a kernel for the rounding mode once per slice, so that rounding is an
// immediate operand in the loop.
template <class Kernel, class S, class D>
std::size_t with_rounding(const S* src, D* dst, std::size_t n, RoundingMode mode) {
    switch (mode) {
        case RoundingMode::NearestEven:
            return Kernel::template run<RoundingMode::NearestEven>(src, dst, n);
        case RoundingMode::TowardsZero:
            return Kernel::template run<RoundingMode::TowardsZero>(src, dst, n);
        case RoundingMode::TowardsPositive:
            return Kernel::template run<RoundingMode::TowardsPositive>(src, dst, n);
        case RoundingMode::TowardsNegative:
            return Kernel::template run<RoundingMode::TowardsNegative>(src, dst, n);
        case RoundingMode::NearestAway:
            break;
    }
    throw InternalFailure("vector fast path called with a rounding mode it does not support");
}

}  // namespace tarnwell::simd::detail
