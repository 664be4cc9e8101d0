#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <type_traits>

#include "element_types.hpp"

namespace tarnwell::py {

namespace detail {

template <class T, class... Ts>
constexpr std::size_t index_in(TypeList<Ts...>) noexcept {
    constexpr std::array<bool, sizeof...(Ts)> matches{std::is_same_v<T, Ts>...};
    for (std::size_t i = 0; i < matches.size(); ++i) {
        if (matches[i]) {
            return i;
        }
    }
    return matches.size();
}

template <class... Ts>
constexpr auto names_of(TypeList<Ts...>) noexcept {
    return std::array<std::string_view, sizeof...(Ts)>{ElementTraits<Ts>::name...};
}

}  // namespace detail

// The canonical names in type-list order; a position in this table identifies a type
// across the binding (dispatch tables, NumPy type numbers).
inline constexpr auto element_names = detail::names_of(ElementTypes{});

template <Element T>
inline constexpr std::size_t element_index = detail::index_in<T>(ElementTypes{});

// The position of the type whose canonical name equals `name` byte for byte.
constexpr std::optional<std::size_t> find_element(std::string_view name) noexcept {
    for (std::size_t i = 0; i < element_names.size(); ++i) {
        if (element_names[i] == name) {
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace tarnwell::py
