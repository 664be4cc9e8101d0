#pragma once

#include <cstddef>

#include "../float16.hpp"
#include "../policy.hpp"
#include "simd.hpp"

// Kernels of the float narrowings under the four rounding modes other than nearest-even,
// kept apart from the other kernels. Each converts whole blocks from the start and stops
// before the first block holding an overflow (a finite source whose result is infinite)
// when test_overflow is set, or when too few elements remain; it returns the number of
// elements written. A null kernel writes nothing.
namespace tarnwell::simd::detail {

template <class S, class D>
using NarrowingKernel = std::size_t (*)(const S* src, D* dst, std::size_t n, RoundingMode mode, bool test_overflow);

struct NarrowingKernels {
    NarrowingKernel<double, float> f64_to_f32;
    NarrowingKernel<float, float16> f32_to_f16;
    NarrowingKernel<double, float16> f64_to_f16;
};

// The kernels of a level of this build, or null where it has none (Declining included).
const NarrowingKernels* narrowing_kernels(Level level) noexcept;

}  // namespace tarnwell::simd::detail
