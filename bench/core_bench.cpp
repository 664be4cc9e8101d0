// Throughput of the vector fast paths against the element loops they replace and against
// memcpy moving the same number of bytes (read plus written), for arrays far larger than
// the caches and for cache-resident chunks. Every figure is the median of repeated runs,
// with the variants interleaved so that a noisy neighbour hits them alike.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "simd/simd.hpp"

namespace {

using namespace tarnwell;
using Clock = std::chrono::steady_clock;

constexpr std::size_t large_elements = 10'000'000;
constexpr std::size_t chunk_bytes = 64 * 1024;
// A chunk is converted this many times per timed run, so that a run is long enough to
// time and the chunk stays in the cache.
constexpr std::size_t chunk_passes = 400;
constexpr int repetitions = 15;

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Times each variant `repetitions` times, interleaved, and returns the medians in seconds.
std::vector<double> median_seconds(const std::vector<std::function<void()>>& variants) {
    std::vector<std::vector<double>> samples(variants.size());
    for (const auto& run : variants) {
        run();  // warm up: page faults, caches, frequency
    }
    for (int r = 0; r < repetitions; ++r) {
        for (std::size_t v = 0; v < variants.size(); ++v) {
            const auto start = Clock::now();
            variants[v]();
            samples[v].push_back(std::chrono::duration<double>(Clock::now() - start).count());
        }
    }
    std::vector<double> medians;
    for (auto& s : samples) {
        medians.push_back(median(std::move(s)));
    }
    return medians;
}

template <class T>
std::vector<T> uniform(std::size_t n, double lo, double hi, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> dist(lo, hi);
    std::vector<T> v(n);
    for (auto& x : v) {
        x = static_cast<T>(dist(rng));
    }
    return v;
}

struct Operation {
    const char* name;
    // Converts src into dst (both `n` elements, starting at the buffers' beginning) with
    // whatever level is active; aborts on an unexpected outcome.
    std::function<void(std::size_t n)> convert;
    std::size_t source_size;
    std::size_t target_size;
};

void require_handled(const simd::FastPathResult& result, const char* name) {
    if (!result || *result != simd::Coverage::Handled) {
        std::fprintf(stderr, "%s: fast path did not handle the slice\n", name);
        std::exit(1);
    }
}

template <class S, class D>
Operation rounding_operation(const char* name, simd::FastPathResult (*path)(std::span<const S>, std::span<D>, RoundingMode),
                             double lo, double hi) {
    auto src = std::make_shared<std::vector<S>>(uniform<S>(large_elements, lo, hi, 42));
    auto dst = std::make_shared<std::vector<D>>(large_elements);
    return {name,
            [=](std::size_t n) {
                require_handled(path(std::span<const S>(*src).first(n), std::span<D>(*dst).first(n),
                                     RoundingMode::NearestEven),
                                name);
            },
            sizeof(S), sizeof(D)};
}

Operation narrowing_operation() {
    auto src = std::make_shared<std::vector<double>>(uniform<double>(large_elements, -1e30, 1e30, 43));
    auto dst = std::make_shared<std::vector<float>>(large_elements);
    return {"f64->f32 nearest, tested",
            [=](std::size_t n) {
                require_handled(
                    simd::try_f64_to_f32_nearest(std::span<const double>(*src).first(n), std::span<float>(*dst).first(n), true),
                    "f64->f32");
            },
            sizeof(double), sizeof(float)};
}

void report(const Operation& op, const char* size_label, std::size_t n, std::size_t passes) {
    const std::size_t copy_bytes = n * (op.source_size + op.target_size) / 2;
    std::vector<char> copy_src(copy_bytes, 1);
    std::vector<char> copy_dst(copy_bytes, 2);
    std::vector<std::function<void()>> variants;
    std::vector<simd::Level> levels(simd::available_levels().begin() + 1, simd::available_levels().end());
    for (const simd::Level level : levels) {
        variants.push_back([&, level] {
            const simd::ScopedLevel pinned(level);
            for (std::size_t p = 0; p < passes; ++p) {
                op.convert(n);
            }
        });
    }
    variants.push_back([&] {
        for (std::size_t p = 0; p < passes; ++p) {
            std::memcpy(copy_dst.data(), copy_src.data(), copy_bytes);
        }
    });
    const auto seconds = median_seconds(variants);
    const double copy = seconds.back();
    std::printf("%-26s %-12s memcpy %8.3f ms |", op.name, size_label, copy * 1e3 / passes);
    for (std::size_t l = 0; l < levels.size(); ++l) {
        std::printf(" %s %8.3f ms (%.2fx memcpy)", std::string(simd::to_str(levels[l])).c_str(),
                    seconds[l] * 1e3 / passes, seconds[l] / copy);
    }
    std::printf("\n");
}

}  // namespace

int main() {
    const Operation operations[] = {
        rounding_operation<float, std::uint8_t>("f32->u8 clamp", simd::try_f32_to_u8_clamp, -10.0, 265.0),
        rounding_operation<double, std::uint8_t>("f64->u8 clamp", simd::try_f64_to_u8_clamp, -10.0, 265.0),
        rounding_operation<double, std::int32_t>("f64->i32 clamp", simd::try_f64_to_i32_clamp, -3e9, 3e9),
        rounding_operation<double, std::int32_t>("f64->i32 check", simd::try_f64_to_i32_check, -2e9, 2e9),
        narrowing_operation(),
    };
    std::printf("medians of %d runs, nearest-even\n", repetitions);
    for (const auto& op : operations) {
        report(op, "1e7 elements", large_elements, 1);
        report(op, "64 KiB chunk", chunk_bytes / op.source_size, chunk_passes);
    }
}
