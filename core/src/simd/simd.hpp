#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "../cast_error.hpp"
#include "../expected.hpp"
#include "../float16.hpp"
#include "../policy.hpp"

// Vector fast paths for the hottest pairs. Each operation either reports an error, or
// succeeds saying whether it handled the slice; declining writes nothing, and the
// caller then runs its element loop over the whole slice.
namespace tarnwell::simd {

enum class Coverage : bool { Declined, Handled };

using FastPathResult = Expected<Coverage, CastError>;

// Preconditions: dst holds at least src.size() elements; the rounding operations never
// receive NearestAway. A broken precondition throws InternalFailure.
FastPathResult try_f32_to_u8_clamp(std::span<const float> src, std::span<std::uint8_t> dst, RoundingMode mode);
FastPathResult try_f64_to_u8_clamp(std::span<const double> src, std::span<std::uint8_t> dst, RoundingMode mode);
FastPathResult try_f64_to_i32_clamp(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode);
FastPathResult try_f64_to_i32_check(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode);
FastPathResult try_f64_to_f32_nearest(std::span<const double> src, std::span<float> dst, bool test_overflow);

// The rounding kernels alone, for callers that convert the blocks a kernel stops at by
// their own rules (a scalar map that sends NaN to a value). Each converts whole blocks
// from the start of src up to the first block holding an element it does not convert
// itself (a NaN, or for the checking one a rounded value out of range) or too few
// elements to fill one, and returns how many elements it wrote: a multiple of
// kernel_block_u8 or kernel_block_i32, possibly stopping a few blocks before the one it
// could not convert. Empty on the declining level. Preconditions as above.
inline constexpr std::size_t kernel_block_u8 = 8;
inline constexpr std::size_t kernel_block_i32 = 2;
std::optional<std::size_t> convert_blocks_f32_to_u8_clamp(std::span<const float> src, std::span<std::uint8_t> dst,
                                                          RoundingMode mode);
std::optional<std::size_t> convert_blocks_f64_to_u8_clamp(std::span<const double> src, std::span<std::uint8_t> dst,
                                                          RoundingMode mode);
std::optional<std::size_t> convert_blocks_f64_to_i32_clamp(std::span<const double> src, std::span<std::int32_t> dst,
                                                           RoundingMode mode);
std::optional<std::size_t> convert_blocks_f64_to_i32_check(std::span<const double> src, std::span<std::int32_t> dst,
                                                           RoundingMode mode);

// binary16 conversions with the processor's half-precision instructions, for slices with
// no scalar map. Unlike the operations above they keep the element loop's outcome in
// full: after an overflow error the elements before the failing one are written and the
// rest are untouched. Narrowing rounds to nearest, ties to even (float64 through binary32
// first, as the element loop does).
FastPathResult try_f32_to_f16_nearest(std::span<const float> src, std::span<float16> dst, bool test_overflow);
FastPathResult try_f64_to_f16_nearest(std::span<const double> src, std::span<float16> dst, bool test_overflow);
FastPathResult try_f16_to_f32(std::span<const float16> src, std::span<float> dst);
FastPathResult try_f16_to_f64(std::span<const float16> src, std::span<double> dst);

// The float narrowings under the four rounding modes other than nearest-even, for slices
// with no scalar map: the vector conversion's nearest value, stepped by one unit where the
// mode asks, exactly as the element loop does. Each writes whole blocks from the start,
// stopping before the first block that holds an overflow when test_overflow is set, and
// returns the number of elements written; the element loop converts the rest and reports
// any error, so the outcome is the element loop's in full. Levels without these kernels
// write nothing and return 0. `mode` must not be NearestEven (InternalFailure).
std::size_t narrow_prefix_f64_to_f32(std::span<const double> src, std::span<float> dst, RoundingMode mode,
                                     bool test_overflow);
std::size_t narrow_prefix_f32_to_f16(std::span<const float> src, std::span<float16> dst, RoundingMode mode,
                                     bool test_overflow);
std::size_t narrow_prefix_f64_to_f16(std::span<const double> src, std::span<float16> dst, RoundingMode mode,
                                     bool test_overflow);

// The instruction sets the operations can run on. Declining makes every operation
// decline; it is always available and is what processors without a suitable vector
// unit get.
enum class Level : std::uint8_t { Declining, Neon, Sse41, Avx2, Avx512 };

std::string_view to_str(Level level) noexcept;

// The levels this build can run on this processor, Declining first and the fastest last.
// The fastest is chosen once, on first use, and serves every call unless pinned.
std::span<const Level> available_levels() noexcept;
Level active_level() noexcept;

// Pins the level for its lifetime, so that tests and benchmarks can run each
// implementation (or the element loops, through Declining) on one machine. Not meant
// for production code: it changes the level for every thread.
class ScopedLevel {
public:
    // Throws InternalFailure when the level is not available here.
    explicit ScopedLevel(Level level);
    ~ScopedLevel();
    ScopedLevel(const ScopedLevel&) = delete;
    ScopedLevel& operator=(const ScopedLevel&) = delete;

private:
    Level previous_;
};

}  // namespace tarnwell::simd
