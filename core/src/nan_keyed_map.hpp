#pragma once

#include <optional>
#include <vector>

#include "cast_config.hpp"
#include "element_types.hpp"
#include "float_bits.hpp"

namespace tarnwell {

// The target of a NaN-keyed map, one whose every key is a NaN; empty for any other
// map, including the empty one. Every NaN element matches the first entry of such a
// map and no other element matches any entry, so a loop can test elements for NaN in
// place of searching the map.
template <FloatElement S, Element D>
std::optional<D> nan_keyed_target(const std::vector<MapEntry<S, D>>& entries) noexcept {
    if (entries.empty()) {
        return std::nullopt;
    }
    for (const auto& entry : entries) {
        if (!is_nan(entry.source)) {
            return std::nullopt;
        }
    }
    return entries.front().target;
}

}  // namespace tarnwell
