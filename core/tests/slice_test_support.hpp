#pragma once

#include <bit>
#include <cstdint>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "cast_error.hpp"

namespace tarnwell::test_support {

// Errors compare by the bits of their numbers, so that a NaN's sign and payload count.
inline bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

inline bool same_error(const CastError& a, const CastError& b) {
    if (a.index() != b.index()) {
        return false;
    }
    if (const auto* x = std::get_if<NanOrInf>(&a)) {
        return same_bits(x->value, std::get<NanOrInf>(b).value);
    }
    const auto& x = std::get<OutOfRange>(a);
    const auto& y = std::get<OutOfRange>(b);
    return same_bits(x.value, y.value) && same_bits(x.lo, y.lo) && same_bits(x.hi, y.hi);
}

// Hexadecimal floats, so that a failure shows every bit.
inline std::string describe(const CastError& error) {
    char text[160];
    if (const auto* e = std::get_if<NanOrInf>(&error)) {
        std::snprintf(text, sizeof text, "NanOrInf(%a)", e->value);
    } else {
        const auto& o = std::get<OutOfRange>(error);
        std::snprintf(text, sizeof text, "OutOfRange(%a, %a, %a)", o.value, o.lo, o.hi);
    }
    return text;
}

// A destination prefilled with a pattern that no conversion writes in these tests, so that
// untouched elements show.
template <class D>
std::vector<D> untouched(std::size_t n) {
    std::vector<D> v(n);
    std::memset(static_cast<void*>(v.data()), 0x5a, v.size() * sizeof(D));
    return v;
}

}  // namespace tarnwell::test_support
