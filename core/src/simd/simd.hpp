#pragma once

#include <cstdint>
#include <span>

#include "../cast_error.hpp"
#include "../expected.hpp"
#include "../policy.hpp"

// Vector fast paths for the hottest pairs. Each operation either reports an error, or
// succeeds saying whether it handled the slice; declining writes nothing, and the
// caller then runs its element loop over the whole slice.
namespace tarnwell::simd {

enum class Coverage : bool { Declined, Handled };

using FastPathResult = Expected<Coverage, CastError>;

// Preconditions: dst holds at least src.size() elements; the rounding operations never
// receive NearestAway (they throw InternalFailure if they do).
FastPathResult try_f32_to_u8_clamp(std::span<const float> src, std::span<std::uint8_t> dst, RoundingMode mode);
FastPathResult try_f64_to_u8_clamp(std::span<const double> src, std::span<std::uint8_t> dst, RoundingMode mode);
FastPathResult try_f64_to_i32_clamp(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode);
FastPathResult try_f64_to_i32_check(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode);
FastPathResult try_f64_to_f32_nearest(std::span<const double> src, std::span<float> dst, bool test_overflow);

}  // namespace tarnwell::simd
