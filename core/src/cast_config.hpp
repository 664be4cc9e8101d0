#pragma once

#include <optional>
#include <span>
#include <vector>

#include "element_types.hpp"
#include "policy.hpp"

namespace tarnwell {

// One scalar-map pair: an element equal to `source` is written as `target`.
template <Element S, Element D>
struct MapEntry {
    S source;
    D target;
};

// The per-call record handed to a slice conversion. Families ignore the fields that
// do not apply to them (integer pairs never round; integer-to-float never fails).
template <Element S, Element D>
struct CastConfig {
    std::vector<MapEntry<S, D>> entries;
    std::optional<OutOfRangeMode> out_of_range;
    RoundingMode rounding = RoundingMode::NearestEven;
};

// Whether an element matches a map key: integer equality; for floats a NaN matches
// any NaN key and other values compare by IEEE equality (so 0.0 matches -0.0).
template <Element T>
constexpr bool matches_key(T element, T key) noexcept {
    if constexpr (std::is_same_v<T, float16>) {
        const auto e = element.bits(), k = key.bits();
        const bool e_nan = (e & 0x7fffu) > 0x7c00u, k_nan = (k & 0x7fffu) > 0x7c00u;
        if (e_nan || k_nan) {
            return e_nan && k_nan;
        }
        return e == k || ((e & 0x7fffu) == 0 && (k & 0x7fffu) == 0);
    } else if constexpr (IntegerElement<T>) {
        return element == key;
    } else {
        return element == key || (element != element && key != key);
    }
}

// The first entry whose source matches, or null.
template <Element S, Element D>
constexpr const MapEntry<S, D>* find_entry(std::span<const MapEntry<S, D>> entries, S element) noexcept {
    for (const auto& entry : entries) {
        if (matches_key(element, entry.source)) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace tarnwell
