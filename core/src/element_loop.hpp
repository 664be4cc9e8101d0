#pragma once

#include <cstddef>
#include <span>

namespace tarnwell {

// dst[i] = convert(src[i]) for every i < src.size() (dst must be at least as long). The
// work goes in fixed blocks so that the compiler vectorises each block whole even at
// -O2, where its cheap cost model will not vectorise a loop of unknown length; the
// remainder runs one element at a time. Each block is read into a local buffer before
// any of it is written: types of one width may alias (int16 and the bits of float16),
// and the buffer spares the compiler a run-time overlap check it would not make.
template <class S, class D, class Convert>
inline void transform_elements(std::span<const S> src, std::span<D> dst, Convert convert) noexcept {
    constexpr std::size_t block = 16;
    const std::size_t n = src.size();
    const S* in = src.data();
    D* out = dst.data();
    std::size_t i = 0;
    for (; i + block <= n; i += block) {
        S buffer[block];
        for (std::size_t j = 0; j < block; ++j) {
            buffer[j] = in[i + j];
        }
        for (std::size_t j = 0; j < block; ++j) {
            out[i + j] = convert(buffer[j]);
        }
    }
    for (; i < n; ++i) {
        out[i] = convert(in[i]);
    }
}

// Like transform_elements, but stops at the first element for which fails(src[i], result)
// holds and returns its index (src.size() when none fails). Elements before it are
// written; it and the later ones are not. Each block is converted into a local buffer and
// screened with may_fail(result), a test on the results alone that holds whenever fails
// does, so that the common case is two branch-free loops; a block that may fail is redone
// one element at a time.
template <class S, class D, class Convert, class MayFail, class Fails>
inline std::size_t transform_elements_until(std::span<const S> src, std::span<D> dst, Convert convert,
                                            MayFail may_fail, Fails fails) noexcept {
    constexpr std::size_t block = 16;
    const std::size_t n = src.size();
    const S* in = src.data();
    D* out = dst.data();
    std::size_t i = 0;
    for (; i + block <= n; i += block) {
        S buffer[block];
        for (std::size_t j = 0; j < block; ++j) {
            buffer[j] = in[i + j];
        }
        D converted[block];
        for (std::size_t j = 0; j < block; ++j) {
            converted[j] = convert(buffer[j]);
        }
        unsigned suspect = 0;
        for (std::size_t j = 0; j < block; ++j) {
            suspect |= may_fail(converted[j]) ? 1u : 0u;
        }
        if (suspect != 0) {
            break;
        }
        for (std::size_t j = 0; j < block; ++j) {
            out[i + j] = converted[j];
        }
    }
    for (; i < n; ++i) {
        const D converted = convert(in[i]);
        if (fails(in[i], converted)) {
            return i;
        }
        out[i] = converted;
    }
    return n;
}

}  // namespace tarnwell
