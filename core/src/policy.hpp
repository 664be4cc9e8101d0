#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "expected.hpp"

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

}  // namespace tarnwell
