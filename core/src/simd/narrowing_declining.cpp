#include "narrowing_kernels.hpp"

// Processors without vector narrowing kernels: the element loops do all the work. The
// 64-bit Arm narrowing instructions round in the processor's current rounding direction,
// so they cannot give the nearest value these kernels start from on every thread.
namespace tarnwell::simd::detail {

const NarrowingKernels* narrowing_kernels(Level) noexcept { return nullptr; }

}  // namespace tarnwell::simd::detail
