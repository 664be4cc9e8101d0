#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "expected.hpp"
#include "internal_failure.hpp"

namespace tarnwell {

enum class RoundingMode : std::uint8_t {
    NearestEven = 0,
    TowardsZero = 1,
    TowardsPositive = 2,
    TowardsNegative = 3,
    NearestAway = 4,
};

enum class OutOfRangeMode : std::uint8_t {
    Clamp = 0,
    Wrap = 1,
};

std::string_view to_str(RoundingMode mode) noexcept;
std::string_view to_str(OutOfRangeMode mode) noexcept;

// Parses a mode from its exact text (case-sensitive, no trimming). A failure is the
// message shown to the user: the fixed prefix followed by the text unchanged.
template <class Mode>
Expected<Mode, std::string> from_str(std::string_view text);

template <>
Expected<RoundingMode, std::string> from_str<RoundingMode>(std::string_view text);
template <>
Expected<OutOfRangeMode, std::string> from_str<OutOfRangeMode>(std::string_view text);

// Calls visit.template operator()<M>() with the mode as a compile-time constant, so
// that loops can be instantiated once per mode with the mode branch outside them.
template <class Visitor>
constexpr decltype(auto) with_rounding_mode(RoundingMode mode, Visitor&& visit) {
    switch (mode) {
        case RoundingMode::NearestEven:
            return visit.template operator()<RoundingMode::NearestEven>();
        case RoundingMode::TowardsZero:
            return visit.template operator()<RoundingMode::TowardsZero>();
        case RoundingMode::TowardsPositive:
            return visit.template operator()<RoundingMode::TowardsPositive>();
        case RoundingMode::TowardsNegative:
            return visit.template operator()<RoundingMode::TowardsNegative>();
        case RoundingMode::NearestAway:
            return visit.template operator()<RoundingMode::NearestAway>();
    }
    throw InternalFailure("rounding mode outside its enumeration");
}

}  // namespace tarnwell
