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
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "cast_config.hpp"
#include "float_to_float.hpp"
#include "float_to_int.hpp"
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
        if constexpr (std::is_same_v<T, float16>) {
            x = float16(static_cast<float>(dist(rng)));
        } else {
            x = static_cast<T>(dist(rng));
        }
    }
    return v;
}

// One pair under one policy, converted through the library's slice conversion, so that
// the element loop runs when the Declining level is pinned and the fast path otherwise.
struct Operation {
    const char* name;
    std::function<CastResult(std::size_t n)> convert;  // the first n elements
    std::size_t source_size;
    std::size_t target_size;
};

template <class S, class D>
Operation float_to_int(const char* name, std::optional<OutOfRangeMode> policy, double lo, double hi) {
    auto src = std::make_shared<std::vector<S>>(uniform<S>(large_elements, lo, hi, 42));
    auto dst = std::make_shared<std::vector<D>>(large_elements);
    const CastConfig<S, D> config{{}, policy, RoundingMode::NearestEven};
    return {name,
            [=](std::size_t n) {
                return convert_slice_float_to_int<S, D>(std::span<const S>(*src).first(n), std::span<D>(*dst).first(n),
                                                        config);
            },
            sizeof(S), sizeof(D)};
}

template <class S, class D>
Operation float_to_float(const char* name, std::optional<OutOfRangeMode> policy, double lo, double hi,
                         RoundingMode mode = RoundingMode::NearestEven) {
    auto src = std::make_shared<std::vector<S>>(uniform<S>(large_elements, lo, hi, 43));
    auto dst = std::make_shared<std::vector<D>>(large_elements);
    const CastConfig<S, D> config{{}, policy, mode};
    return {name,
            [=](std::size_t n) {
                return convert_slice_float_to_float<S, D>(std::span<const S>(*src).first(n),
                                                          std::span<D>(*dst).first(n), config);
            },
            sizeof(S), sizeof(D)};
}

// Times memcpy, the element loop and every vector level on the first n elements, each
// run making `passes` conversions, and prints microseconds per conversion and ratios.
void report(const Operation& op, const char* size_label, std::size_t n, std::size_t passes) {
    const std::size_t copy_bytes = n * (op.source_size + op.target_size) / 2;
    std::vector<char> copy_src(copy_bytes, 1);
    std::vector<char> copy_dst(copy_bytes, 2);
    const auto levels = simd::available_levels();  // Declining first: the element loop
    std::vector<std::function<void()>> variants;
    variants.push_back([&] {
        for (std::size_t p = 0; p < passes; ++p) {
            std::memcpy(copy_dst.data(), copy_src.data(), copy_bytes);
        }
    });
    for (const simd::Level level : levels) {
        variants.push_back([&, level] {
            const simd::ScopedLevel pinned(level);
            for (std::size_t p = 0; p < passes; ++p) {
                if (!op.convert(n)) {
                    std::fprintf(stderr, "%s failed\n", op.name);
                    std::exit(1);
                }
            }
        });
    }
    const auto seconds = median_seconds(variants);
    const double copy = seconds[0];
    const double loop = seconds[1];
    const double best = seconds.back();
    const auto micros = [&](double s) { return s * 1e6 / static_cast<double>(passes); };
    std::printf("%-22s %-13s memcpy %9.1f us  loop %9.1f us", op.name, size_label, micros(copy), micros(loop));
    for (std::size_t l = 1; l < levels.size(); ++l) {
        std::printf("  %s %9.1f us", std::string(simd::to_str(levels[l])).c_str(), micros(seconds[l + 1]));
    }
    std::printf("  | best/memcpy %.2f  loop/best %.1f\n", best / copy, loop / best);
}

// Measurements with NaN gaps: about 1% of the elements are NaN, in runs of 1 to 16.
template <class T>
std::vector<T> with_nan_gaps(std::vector<T> v, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<std::size_t> run_length(1, 16);
    std::uniform_int_distribution<std::size_t> position(0, v.size() - 1);
    for (std::size_t nans = 0; nans < v.size() / 100;) {
        const std::size_t start = position(rng);
        const std::size_t end = std::min(v.size(), start + run_length(rng));
        for (std::size_t i = start; i < end; ++i, ++nans) {
            v[i] = std::numeric_limits<T>::quiet_NaN();
        }
    }
    return v;
}

// A float-to-integer pair whose map sends NaN to a sentinel, through the library's slice
// conversion on each level and through the general mapped element loop, which searches
// the map for every element.
struct NanSentinelOperation {
    Operation op;
    std::function<CastResult(std::size_t n)> general_loop;
};

template <class S, class D>
NanSentinelOperation nan_sentinel(const char* name, double lo, double hi) {
    auto src = std::make_shared<std::vector<S>>(with_nan_gaps(uniform<S>(large_elements, lo, hi, 44), 45));
    auto dst = std::make_shared<std::vector<D>>(large_elements);
    const CastConfig<S, D> config{
        {{std::numeric_limits<S>::quiet_NaN(), ElementTraits<D>::max}}, OutOfRangeMode::Clamp, RoundingMode::NearestEven};
    const auto slices = [=](std::size_t n) {
        return std::pair{std::span<const S>(*src).first(n), std::span<D>(*dst).first(n)};
    };
    return {{name,
             [=](std::size_t n) {
                 const auto [s, d] = slices(n);
                 return convert_slice_float_to_int<S, D>(s, d, config);
             },
             sizeof(S), sizeof(D)},
            [=](std::size_t n) {
                const auto [s, d] = slices(n);
                return detail::float_to_int_mapped_loop<S, D>(s, d, config);
            }};
}

// Like report, with the general mapped loop in place of the Declining level's loop;
// "loop" (Declining pinned) is the loop that maps NaN without searching the map.
void report_nan_sentinel(const NanSentinelOperation& sentinel, const char* size_label, std::size_t n,
                         std::size_t passes) {
    const Operation& op = sentinel.op;
    const std::size_t copy_bytes = n * (op.source_size + op.target_size) / 2;
    std::vector<char> copy_src(copy_bytes, 1);
    std::vector<char> copy_dst(copy_bytes, 2);
    const auto levels = simd::available_levels();
    const auto repeat = [&](const std::function<CastResult(std::size_t)>& convert) {
        for (std::size_t p = 0; p < passes; ++p) {
            if (!convert(n)) {
                std::fprintf(stderr, "%s failed\n", op.name);
                std::exit(1);
            }
        }
    };
    std::vector<std::function<void()>> variants;
    variants.push_back([&] {
        for (std::size_t p = 0; p < passes; ++p) {
            std::memcpy(copy_dst.data(), copy_src.data(), copy_bytes);
        }
    });
    variants.push_back([&] { repeat(sentinel.general_loop); });
    for (const simd::Level level : levels) {
        variants.push_back([&, level] {
            const simd::ScopedLevel pinned(level);
            repeat(op.convert);
        });
    }
    const auto seconds = median_seconds(variants);
    const double copy = seconds[0];
    const double general = seconds[1];
    const double best = *std::min_element(seconds.begin() + 2, seconds.end());
    const auto micros = [&](double s) { return s * 1e6 / static_cast<double>(passes); };
    std::printf("%-22s %-13s memcpy %9.1f us  mapped loop %9.1f us", op.name, size_label, micros(copy),
                micros(general));
    for (std::size_t l = 0; l < levels.size(); ++l) {
        std::printf("  %s %9.1f us", std::string(simd::to_str(levels[l])).c_str(), micros(seconds[l + 2]));
    }
    std::printf("  | best/memcpy %.2f  mapped/best %.1f\n", best / copy, general / best);
}

}  // namespace

// With an argument, only the rows whose name contains it run.
int main(int argc, char** argv) {
    const std::string_view filter = argc > 1 ? argv[1] : "";
    const auto selected = [&](const char* name) { return std::string_view(name).find(filter) != std::string_view::npos; };
    const Operation operations[] = {
        float_to_int<float, std::uint8_t>("f32->u8 clamp", OutOfRangeMode::Clamp, -10.0, 265.0),
        float_to_int<double, std::uint8_t>("f64->u8 clamp", OutOfRangeMode::Clamp, -10.0, 265.0),
        float_to_int<double, std::int32_t>("f64->i32 clamp", OutOfRangeMode::Clamp, -3e9, 3e9),
        float_to_int<double, std::int32_t>("f64->i32 no policy", std::nullopt, -2e9, 2e9),
        float_to_float<double, float>("f64->f32 no policy", std::nullopt, -1e30, 1e30),
        float_to_float<double, float>("f64->f32 clamp", OutOfRangeMode::Clamp, -1e30, 1e30),
        float_to_float<float, float16>("f32->f16 no policy", std::nullopt, -6e4, 6e4),
        float_to_float<double, float16>("f64->f16 no policy", std::nullopt, -6e4, 6e4),
        float_to_float<float16, float>("f16->f32", std::nullopt, -6e4, 6e4),
        float_to_float<float16, double>("f16->f64", std::nullopt, -6e4, 6e4),
        float_to_float<double, float>("f64->f32 zero", std::nullopt, -1e30, 1e30, RoundingMode::TowardsZero),
        float_to_float<double, float>("f64->f32 positive", std::nullopt, -1e30, 1e30, RoundingMode::TowardsPositive),
        float_to_float<double, float>("f64->f32 negative", std::nullopt, -1e30, 1e30, RoundingMode::TowardsNegative),
        float_to_float<double, float>("f64->f32 away", std::nullopt, -1e30, 1e30, RoundingMode::NearestAway),
        float_to_float<float, float16>("f32->f16 zero", std::nullopt, -6e4, 6e4, RoundingMode::TowardsZero),
        float_to_float<float, float16>("f32->f16 positive", std::nullopt, -6e4, 6e4, RoundingMode::TowardsPositive),
        float_to_float<float, float16>("f32->f16 negative", std::nullopt, -6e4, 6e4, RoundingMode::TowardsNegative),
        float_to_float<float, float16>("f32->f16 away", std::nullopt, -6e4, 6e4, RoundingMode::NearestAway),
        float_to_float<double, float16>("f64->f16 zero", std::nullopt, -6e4, 6e4, RoundingMode::TowardsZero),
        float_to_float<double, float16>("f64->f16 positive", std::nullopt, -6e4, 6e4, RoundingMode::TowardsPositive),
        float_to_float<double, float16>("f64->f16 negative", std::nullopt, -6e4, 6e4, RoundingMode::TowardsNegative),
        float_to_float<double, float16>("f64->f16 away", std::nullopt, -6e4, 6e4, RoundingMode::NearestAway),
        float_to_float<double, float16>("f64->f16 neg clamp", OutOfRangeMode::Clamp, -6e4, 6e4,
                                        RoundingMode::TowardsNegative),
    };
    std::printf("nearest-even unless a mode is named; medians of %d interleaved runs; memcpy moves the\n"
                "bytes read plus written (half each way); loop = element loop (Declining pinned);\n"
                "best = fastest level here\n",
                repetitions);
    for (const auto& op : operations) {
        if (!selected(op.name)) {
            continue;
        }
        report(op, "1e7 elements", large_elements, 1);
        report(op, "64 KiB chunk", chunk_bytes / op.source_size, chunk_passes);
    }
    const NanSentinelOperation sentinels[] = {
        nan_sentinel<double, std::uint8_t>("f64->u8 clamp NaN=255", -10.0, 265.0),
        nan_sentinel<double, std::uint16_t>("f64->u16 clamp NaN=max", -10.0, 70000.0),
    };
    std::printf("\nNaN mapped to a sentinel, 1%% NaNs in runs of 1-16; mapped loop = the element loop searching\n"
                "the map for every element; declining = the loop that maps NaN without a search\n");
    for (const auto& sentinel : sentinels) {
        if (!selected(sentinel.op.name)) {
            continue;
        }
        report_nan_sentinel(sentinel, "1e7 elements", large_elements, 1);
        report_nan_sentinel(sentinel, "64 KiB chunk", chunk_bytes / sentinel.op.source_size, chunk_passes);
    }
}
