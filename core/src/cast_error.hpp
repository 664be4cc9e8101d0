#pragma once

#include <string>
#include <variant>

#include "expected.hpp"

namespace tarnwell {

// An unmapped NaN (any policy), or an infinity under Wrap, met by a float-to-integer cast.
struct NanOrInf {
    double value;
    friend bool operator==(const NanOrInf&, const NanOrInf&) = default;
};

// An element outside the pair's allowed range [lo, hi] with no policy to handle it.
struct OutOfRange {
    double value;
    double lo;
    double hi;
    friend bool operator==(const OutOfRange&, const OutOfRange&) = default;
};

using CastError = std::variant<NanOrInf, OutOfRange>;

// What every slice conversion returns: success, or the first element's error.
using CastResult = Expected<void, CastError>;

// The exact message shown to the user for an error.
std::string message(const CastError& error);

// A binary64 value as messages print it: shortest round-trip digits laid out
// positionally, never with an exponent; NaN, inf, -inf, 0 and -0 by name.
std::string format_number(double value);

}  // namespace tarnwell
