#include <span>

#include "../internal_failure.hpp"
#include "narrowing_kernels.hpp"
#include "simd.hpp"

namespace tarnwell::simd {
namespace {

template <class S, class D>
std::size_t run_narrowing(detail::NarrowingKernel<S, D> detail::NarrowingKernels::*kernel, std::span<const S> src,
                          std::span<D> dst, RoundingMode mode, bool test_overflow) {
    if (mode == RoundingMode::NearestEven) {
        throw InternalFailure("vector narrowing prefix called with nearest-even rounding");
    }
    if (dst.size() < src.size()) {
        throw InternalFailure("vector fast path called with a destination shorter than its source");
    }
    const detail::NarrowingKernels* kernels = detail::narrowing_kernels(active_level());
    if (kernels == nullptr || kernels->*kernel == nullptr) {
        return 0;
    }
    return (kernels->*kernel)(src.data(), dst.data(), src.size(), mode, test_overflow);
}

}  // namespace

std::size_t narrow_prefix_f64_to_f32(std::span<const double> src, std::span<float> dst, RoundingMode mode,
                                     bool test_overflow) {
    return run_narrowing(&detail::NarrowingKernels::f64_to_f32, src, dst, mode, test_overflow);
}

std::size_t narrow_prefix_f32_to_f16(std::span<const float> src, std::span<float16> dst, RoundingMode mode,
                                     bool test_overflow) {
    return run_narrowing(&detail::NarrowingKernels::f32_to_f16, src, dst, mode, test_overflow);
}

std::size_t narrow_prefix_f64_to_f16(std::span<const double> src, std::span<float16> dst, RoundingMode mode,
                                     bool test_overflow) {
    return run_narrowing(&detail::NarrowingKernels::f64_to_f16, src, dst, mode, test_overflow);
}

}  // namespace tarnwell::simd
