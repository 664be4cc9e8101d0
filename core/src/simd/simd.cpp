#include "simd.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <string>

#include "../internal_failure.hpp"
#include "block_rules.hpp"
#include "kernels.hpp"

namespace tarnwell::simd {
namespace {

using detail::KernelTable;

struct LevelRegistry {
    std::array<Level, 8> levels{};
    std::size_t count = 0;
};

const LevelRegistry& registry() noexcept {
    static const LevelRegistry instance = [] {
        LevelRegistry r;
        r.levels[r.count++] = Level::Declining;
        for (const auto& entry : detail::platform_levels()) {
            r.levels[r.count++] = entry.level;
        }
        return r;
    }();
    return instance;
}

const KernelTable* kernels_of(Level level) noexcept {
    for (const auto& entry : detail::platform_levels()) {
        if (entry.level == level) {
            return entry.kernels;
        }
    }
    return nullptr;
}

// The kernels every call uses; null declines. Starts at the fastest level.
std::atomic<const KernelTable*>& active_kernels() noexcept {
    static std::atomic<const KernelTable*> active{kernels_of(available_levels().back())};
    return active;
}

void require_rounding_mode(RoundingMode mode) {
    if (mode == RoundingMode::NearestAway) {
        throw InternalFailure("vector fast path called with nearest-away rounding");
    }
}

template <class S, class D>
void require_room(std::span<const S> src, std::span<D> dst) {
    if (dst.size() < src.size()) {
        throw InternalFailure("vector fast path called with a destination shorter than its source");
    }
}

template <class S, class D>
using RoundingKernel = std::size_t (*)(const S*, D*, std::size_t, RoundingMode);

// Shared shape of the four rounding operations: vector blocks first, then the block
// rules from where the kernel stopped.
template <std::size_t Block, class S, class D>
FastPathResult run_rounding(RoundingKernel<S, D> KernelTable::*kernel, std::span<const S> src, std::span<D> dst,
                            RoundingMode mode, detail::IntegerRule rule) {
    require_rounding_mode(mode);
    require_room(src, dst);
    const KernelTable* kernels = active_kernels().load(std::memory_order_relaxed);
    if (kernels == nullptr) {
        return Coverage::Declined;
    }
    const std::size_t done = (kernels->*kernel)(src.data(), dst.data(), src.size(), mode);
    return detail::finish_rounding<Block>(src, dst, mode, rule, done);
}

template <class S, class D>
std::optional<std::size_t> run_blocks(RoundingKernel<S, D> KernelTable::*kernel, std::span<const S> src,
                                      std::span<D> dst, RoundingMode mode) {
    require_rounding_mode(mode);
    require_room(src, dst);
    const KernelTable* kernels = active_kernels().load(std::memory_order_relaxed);
    if (kernels == nullptr) {
        return std::nullopt;
    }
    return (kernels->*kernel)(src.data(), dst.data(), src.size(), mode);
}

// The binary16 operations decline on levels without half-precision kernels.
template <class S>
FastPathResult run_float16_narrowing(std::size_t (*KernelTable::*kernel)(const S*, float16*, std::size_t, bool),
                                     std::span<const S> src, std::span<float16> dst, bool test_overflow) {
    require_room(src, dst);
    const KernelTable* kernels = active_kernels().load(std::memory_order_relaxed);
    if (kernels == nullptr || kernels->*kernel == nullptr) {
        return Coverage::Declined;
    }
    const std::size_t done = (kernels->*kernel)(src.data(), dst.data(), src.size(), test_overflow);
    return detail::finish_float16_narrowing(src, dst, test_overflow, done);
}

template <class D>
FastPathResult run_float16_widening(void (*KernelTable::*kernel)(const float16*, D*, std::size_t),
                                    std::span<const float16> src, std::span<D> dst) {
    require_room(src, dst);
    const KernelTable* kernels = active_kernels().load(std::memory_order_relaxed);
    if (kernels == nullptr || kernels->*kernel == nullptr) {
        return Coverage::Declined;
    }
    (kernels->*kernel)(src.data(), dst.data(), src.size());
    return Coverage::Handled;
}

}  // namespace

FastPathResult try_f32_to_u8_clamp(std::span<const float> src, std::span<std::uint8_t> dst, RoundingMode mode) {
    return run_rounding<kernel_block_u8>(&KernelTable::f32_to_u8_clamp, src, dst, mode, detail::uint8_clamp);
}

FastPathResult try_f64_to_u8_clamp(std::span<const double> src, std::span<std::uint8_t> dst, RoundingMode mode) {
    return run_rounding<kernel_block_u8>(&KernelTable::f64_to_u8_clamp, src, dst, mode, detail::uint8_clamp);
}

FastPathResult try_f64_to_i32_clamp(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode) {
    return run_rounding<kernel_block_i32>(&KernelTable::f64_to_i32_clamp, src, dst, mode, detail::int32_clamp);
}

FastPathResult try_f64_to_i32_check(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode) {
    return run_rounding<kernel_block_i32>(&KernelTable::f64_to_i32_check, src, dst, mode, detail::int32_check);
}

std::optional<std::size_t> convert_blocks_f32_to_u8_clamp(std::span<const float> src, std::span<std::uint8_t> dst,
                                                          RoundingMode mode) {
    return run_blocks(&KernelTable::f32_to_u8_clamp, src, dst, mode);
}

std::optional<std::size_t> convert_blocks_f64_to_u8_clamp(std::span<const double> src, std::span<std::uint8_t> dst,
                                                          RoundingMode mode) {
    return run_blocks(&KernelTable::f64_to_u8_clamp, src, dst, mode);
}

std::optional<std::size_t> convert_blocks_f64_to_i32_clamp(std::span<const double> src, std::span<std::int32_t> dst,
                                                           RoundingMode mode) {
    return run_blocks(&KernelTable::f64_to_i32_clamp, src, dst, mode);
}

std::optional<std::size_t> convert_blocks_f64_to_i32_check(std::span<const double> src, std::span<std::int32_t> dst,
                                                           RoundingMode mode) {
    return run_blocks(&KernelTable::f64_to_i32_check, src, dst, mode);
}

FastPathResult try_f64_to_f32_nearest(std::span<const double> src, std::span<float> dst, bool test_overflow) {
    require_room(src, dst);
    const KernelTable* kernels = active_kernels().load(std::memory_order_relaxed);
    if (kernels == nullptr) {
        return Coverage::Declined;
    }
    const std::size_t scan_from = kernels->f64_to_f32_nearest(src.data(), dst.data(), src.size(), test_overflow);
    return detail::find_float32_overflow(src, dst, scan_from);
}

FastPathResult try_f32_to_f16_nearest(std::span<const float> src, std::span<float16> dst, bool test_overflow) {
    return run_float16_narrowing(&KernelTable::f32_to_f16_nearest, src, dst, test_overflow);
}

FastPathResult try_f64_to_f16_nearest(std::span<const double> src, std::span<float16> dst, bool test_overflow) {
    return run_float16_narrowing(&KernelTable::f64_to_f16_nearest, src, dst, test_overflow);
}

FastPathResult try_f16_to_f32(std::span<const float16> src, std::span<float> dst) {
    return run_float16_widening(&KernelTable::f16_to_f32, src, dst);
}

FastPathResult try_f16_to_f64(std::span<const float16> src, std::span<double> dst) {
    return run_float16_widening(&KernelTable::f16_to_f64, src, dst);
}

std::string_view to_str(Level level) noexcept {
    switch (level) {
        case Level::Declining:
            return "declining";
        case Level::Neon:
            return "neon";
        case Level::Sse41:
            return "sse4.1";
        case Level::Avx2:
            return "avx2";
        case Level::Avx512:
            return "avx512";
    }
    return "unknown";
}

std::span<const Level> available_levels() noexcept {
    const auto& r = registry();
    return {r.levels.data(), r.count};
}

Level active_level() noexcept {
    const KernelTable* kernels = active_kernels().load(std::memory_order_relaxed);
    for (const auto& entry : detail::platform_levels()) {
        if (entry.kernels == kernels) {
            return entry.level;
        }
    }
    return Level::Declining;
}

ScopedLevel::ScopedLevel(Level level) : previous_(active_level()) {
    const auto levels = available_levels();
    if (std::find(levels.begin(), levels.end(), level) == levels.end()) {
        throw InternalFailure("vector level not available on this processor: " + std::string(to_str(level)));
    }
    active_kernels().store(kernels_of(level), std::memory_order_relaxed);
}

ScopedLevel::~ScopedLevel() { active_kernels().store(kernels_of(previous_), std::memory_order_relaxed); }

}  // namespace tarnwell::simd
