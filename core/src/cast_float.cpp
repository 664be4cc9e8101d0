#include "cast_float.hpp"

namespace tarnwell {

float16 round_with_mode(float16 x, RoundingMode mode) {
    return float16(round_with_mode(static_cast<float>(x), mode));
}

}  // namespace tarnwell
