#pragma once

#include <span>

#include "cast_config.hpp"
#include "cast_error.hpp"
#include "element_types.hpp"
#include "float_to_float.hpp"
#include "float_to_int.hpp"
#include "int_to_float.hpp"
#include "int_to_int.hpp"

namespace tarnwell::py {

// The slice conversion of the family that (S, D) belongs to, chosen by the two kinds.
template <Element S, Element D>
CastResult convert_slice(std::span<const S> src, std::span<D> dst, const CastConfig<S, D>& config) {
    if constexpr (IntegerElement<S> && IntegerElement<D>) {
        return convert_slice_int_to_int<S, D>(src, dst, config);
    } else if constexpr (FloatElement<S> && IntegerElement<D>) {
        return convert_slice_float_to_int<S, D>(src, dst, config);
    } else if constexpr (IntegerElement<S> && FloatElement<D>) {
        return convert_slice_int_to_float<S, D>(src, dst, config);
    } else {
        return convert_slice_float_to_float<S, D>(src, dst, config);
    }
}

}  // namespace tarnwell::py
