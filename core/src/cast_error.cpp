#include "cast_error.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace tarnwell {

std::string format_number(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    if (value == 0.0) {
        return std::signbit(value) ? "-0" : "0";
    }

    // Shortest round-trip digits come from the standard library in scientific form,
    // "d.ddde+XX"; only the positional layout is done here.
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
    const std::string_view scientific(buffer, static_cast<std::size_t>(end - buffer));
    const std::size_t e = scientific.find('e');
    std::string digits;
    for (const char c : scientific.substr(0, e)) {
        if (c != '.') {
            digits.push_back(c);
        }
    }
    const int exponent = std::atoi(std::string(scientific.substr(e + 1)).c_str());

    std::string out = value < 0 ? "-" : "";
    const int point = exponent + 1;  // digits before the decimal point
    const int count = static_cast<int>(digits.size());
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (point >= count) {
        out += digits;
        out.append(static_cast<std::size_t>(point - count), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out += '.';
        out.append(digits, static_cast<std::size_t>(point));
    }
    return out;
}

std::string message(const CastError& error) {
    struct Formatter {
        std::string operator()(const NanOrInf& e) const {
            return "Cannot cast " + format_number(e.value) + " to integer type without scalar_map";
        }
        std::string operator()(const OutOfRange& e) const {
            return "Value " + format_number(e.value) + " out of range [" + format_number(e.lo) + ", " +
                   format_number(e.hi) + "]. Set out_of_range='clamp' or out_of_range='wrap' to handle this.";
        }
    };
    return std::visit(Formatter{}, error);
}

}  // namespace tarnwell
