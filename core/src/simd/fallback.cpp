#include "kernels.hpp"

// Processors without a vector implementation have no levels beyond Declining: every
// operation declines and the element loops do all the work.
namespace tarnwell::simd::detail {

std::span<const LevelKernels> platform_levels() noexcept { return {}; }

}  // namespace tarnwell::simd::detail
