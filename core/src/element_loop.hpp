#pragma once

#include <cstddef>
#include <span>

namespace tarnwell {

// dst[i] = convert(src[i]) for every i < src.size() (dst must be at least as long). The
// work goes in fixed blocks so that the compiler vectorises each block whole even at
// -O2, where its cheap cost model will not vectorise a loop of unknown length; the
// remainder runs one element at a time.
template <class S, class D, class Convert>
inline void transform_elements(std::span<const S> src, std::span<D> dst, Convert convert) noexcept {
    constexpr std::size_t block = 16;
    const std::size_t n = src.size();
    const S* in = src.data();
    D* out = dst.data();
    std::size_t i = 0;
    for (; i + block <= n; i += block) {
        for (std::size_t j = 0; j < block; ++j) {
            out[i + j] = convert(in[i + j]);
        }
    }
    for (; i < n; ++i) {
        out[i] = convert(in[i]);
    }
}

}  // namespace tarnwell
