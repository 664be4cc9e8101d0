#include "simd.hpp"

// Processors without a vector implementation decline every call; the element loops
// then do all the work.
namespace tarnwell::simd {

FastPathResult try_f32_to_u8_clamp(std::span<const float>, std::span<std::uint8_t>, RoundingMode) {
    return Coverage::Declined;
}
FastPathResult try_f64_to_u8_clamp(std::span<const double>, std::span<std::uint8_t>, RoundingMode) {
    return Coverage::Declined;
}
FastPathResult try_f64_to_i32_clamp(std::span<const double>, std::span<std::int32_t>, RoundingMode) {
    return Coverage::Declined;
}
FastPathResult try_f64_to_i32_check(std::span<const double>, std::span<std::int32_t>, RoundingMode) {
    return Coverage::Declined;
}
FastPathResult try_f64_to_f32_nearest(std::span<const double>, std::span<float>, bool) {
    return Coverage::Declined;
}

}  // namespace tarnwell::simd
