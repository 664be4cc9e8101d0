#include "policy.hpp"

#include <array>
#include <utility>

namespace tarnwell {
namespace {

constexpr std::array<std::pair<RoundingMode, std::string_view>, 5> rounding_names{{
    {RoundingMode::NearestEven, "nearest-even"},
    {RoundingMode::TowardsZero, "towards-zero"},
    {RoundingMode::TowardsPositive, "towards-positive"},
    {RoundingMode::TowardsNegative, "towards-negative"},
    {RoundingMode::NearestAway, "nearest-away"},
}};

constexpr std::array<std::pair<OutOfRangeMode, std::string_view>, 2> out_of_range_names{{
    {OutOfRangeMode::Clamp, "clamp"},
    {OutOfRangeMode::Wrap, "wrap"},
}};

template <class Mode, std::size_t N>
Expected<Mode, std::string> parse(const std::array<std::pair<Mode, std::string_view>, N>& names,
                                  std::string_view error_prefix, std::string_view text) {
    for (const auto& [mode, name] : names) {
        if (name == text) {
            return mode;
        }
    }
    std::string message(error_prefix);
    message.append(text);
    return Unexpected{std::move(message)};
}

template <class Mode, std::size_t N>
std::string_view name_of(const std::array<std::pair<Mode, std::string_view>, N>& names, Mode mode) noexcept {
    return names[static_cast<std::size_t>(mode)].second;
}

}  // namespace

std::string_view to_str(RoundingMode mode) noexcept { return name_of(rounding_names, mode); }
std::string_view to_str(OutOfRangeMode mode) noexcept { return name_of(out_of_range_names, mode); }

template <>
Expected<RoundingMode, std::string> from_str<RoundingMode>(std::string_view text) {
    return parse(rounding_names, "Unknown rounding mode: ", text);
}

template <>
Expected<OutOfRangeMode, std::string> from_str<OutOfRangeMode>(std::string_view text) {
    return parse(out_of_range_names, "Unknown out_of_range mode: ", text);
}

}  // namespace tarnwell
