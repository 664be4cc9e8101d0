#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace tarnwell {

// The error side of an Expected, spelled out at the point of failure.
template <class E>
struct Unexpected {
    E error;
};
template <class E>
Unexpected(E) -> Unexpected<E>;

// A value or an error, never both (std::expected only arrives with C++23).
template <class T, class E>
class [[nodiscard]] Expected {
public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    template <class G>
        requires std::is_constructible_v<E, G>
    Expected(Unexpected<G> failure) : state_(std::in_place_index<1>, E(std::move(failure.error))) {}

    bool has_value() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }
    const T& value() const { return std::get<0>(state_); }
    const T& operator*() const { return value(); }
    const E& error() const { return std::get<1>(state_); }

private:
    std::variant<T, E> state_;
};

// Success carries nothing; failure carries the error.
template <class E>
class [[nodiscard]] Expected<void, E> {
public:
    Expected() = default;
    template <class G>
        requires std::is_constructible_v<E, G>
    Expected(Unexpected<G> failure) : error_(E(std::move(failure.error))) {}

    bool has_value() const noexcept { return !error_.has_value(); }
    explicit operator bool() const noexcept { return has_value(); }
    const E& error() const { return *error_; }

private:
    std::optional<E> error_;
};

}  // namespace tarnwell
