#pragma once

#include <Python.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "cast_config.hpp"
#include "cast_error.hpp"
#include "conversions.hpp"
#include "element_index.hpp"
#include "errors.hpp"
#include "numpy_api.hpp"
#include "policy.hpp"
#include "py_ref.hpp"
#include "scalar_map.hpp"

namespace tarnwell::py {

// Raises the error's message text as a ValueError.
void cast_error_to_pyerr(const CastError& error);

// The product of the dimension lengths: 1 for a zero-dimensional array.
std::size_t element_count(std::span<const std::intptr_t> shape) noexcept;

// Whether the array's elements form one run in row-major order: each axis longer than 1
// steps by exactly the item size times the number of elements of the axes after it.
// Comparing byte strides (not strides divided by the item size) refuses a record field
// whose stride is no multiple of its size, which would interleave with its neighbours.
bool is_row_major(const numpy::ArrayLayout& layout) noexcept;

void raise_input_not_row_major();
void raise_output_not_row_major();
void raise_new_array_not_row_major();

template <Element S>
struct InputView {
    PyRef array;  // held for the duration of the call
    std::span<const S> elements;
};

// A read-only view of a C-contiguous array of native S elements, read in place.
template <Element S>
std::optional<InputView<S>> readonly_row_major(PyObject* arr) {
    const numpy::ArrayLayout layout = numpy::layout_of(arr);
    if (!layout.c_contiguous) {
        raise_input_not_row_major();
        return std::nullopt;
    }
    if (!numpy::holds_native(arr, element_index<S>)) {
        raise_type_check(arr, typed_array_kind);
        return std::nullopt;
    }
    return InputView<S>{PyRef::borrow(arr),
                        {reinterpret_cast<const S*>(layout.data), element_count(layout.shape)}};
}

namespace detail {

bool overlaps(const void* a, std::size_t a_bytes, const void* b, std::size_t b_bytes) noexcept;

template <class T>
bool is_aligned(const void* address) noexcept {
    return reinterpret_cast<std::uintptr_t>(address) % alignof(T) == 0;
}

// Runs the conversion on memory the core may address as S and D. An input that shares
// any memory with the destination is converted from a copy, so no element is read after
// it has been overwritten (the same array passed twice is an identity pair, for which
// the copy changes nothing). An array that NumPy holds misaligned is moved through an
// aligned copy; destination elements that the conversion does not reach keep their
// contents either way.
template <Element S, Element D>
CastResult convert_checked(std::span<const S> src, std::span<D> dst, const CastConfig<S, D>& config) {
    std::vector<S> src_copy;
    if (!is_aligned<S>(src.data()) || overlaps(src.data(), src.size_bytes(), dst.data(), dst.size_bytes())) {
        src_copy.resize(src.size());
        std::memcpy(src_copy.data(), src.data(), src.size_bytes());
        src = src_copy;
    }
    if (is_aligned<D>(dst.data())) {
        return convert_slice<S, D>(src, dst, config);
    }
    std::vector<D> dst_copy(dst.size());
    std::memcpy(dst_copy.data(), dst.data(), dst.size_bytes());
    const CastResult result = convert_slice<S, D>(src, std::span<D>(dst_copy), config);
    std::memcpy(dst.data(), dst_copy.data(), dst.size_bytes());
    return result;
}

// The writing driver shared by the four families: `config` arrives with the family's
// policies set and receives the scalar map here. Gives None or null with an exception.
template <Element S, Element D>
PyObject* write_into(PyObject* arr, PyObject* out, PyObject* scalar_map, CastConfig<S, D> config) {
    const auto input = readonly_row_major<S>(arr);
    if (!input) {
        return nullptr;
    }
    auto entries = parse_map_entries<S, D>(scalar_map);
    if (!entries) {
        return nullptr;
    }
    if (!numpy::holds_native(out, element_index<D>)) {
        raise_type_check(out, typed_array_kind);
        return nullptr;
    }
    const numpy::ArrayLayout layout = numpy::layout_of(out);
    const std::size_t count = element_count(layout.shape);
    if (count == 0) {
        Py_RETURN_NONE;
    }
    if (!layout.writeable || !is_row_major(layout)) {
        raise_output_not_row_major();
        return nullptr;
    }
    config.entries = std::move(*entries);
    const CastResult result =
        convert_checked<S, D>(input->elements, {reinterpret_cast<D*>(layout.data), count}, config);
    if (!result) {
        cast_error_to_pyerr(result.error());
        return nullptr;
    }
    Py_RETURN_NONE;
}

// The allocating driver shared by the four families. Gives the new array or null.
template <Element S, Element D>
PyObject* allocate_and_convert(PyObject* arr, PyObject* scalar_map, CastConfig<S, D> config) {
    const auto input = readonly_row_major<S>(arr);
    if (!input) {
        return nullptr;
    }
    auto entries = parse_map_entries<S, D>(scalar_map);
    if (!entries) {
        return nullptr;
    }
    const numpy::ArrayLayout input_layout = numpy::layout_of(arr);
    const std::vector<std::intptr_t> shape(input_layout.shape.begin(), input_layout.shape.end());
    PyRef result_array = PyRef::steal(numpy::new_zeros(shape, element_index<D>));
    if (!result_array) {
        return nullptr;
    }
    const numpy::ArrayLayout layout = numpy::layout_of(result_array.get());
    const std::size_t count = element_count(layout.shape);
    if (count == 0) {
        return result_array.release();
    }
    if (!is_row_major(layout)) {
        raise_new_array_not_row_major();
        return nullptr;
    }
    config.entries = std::move(*entries);
    const CastResult result =
        convert_checked<S, D>(input->elements, {reinterpret_cast<D*>(layout.data), count}, config);
    if (!result) {
        cast_error_to_pyerr(result.error());
        return nullptr;  // the partial result is released with result_array
    }
    return result_array.release();
}

template <Element S, Element D>
CastConfig<S, D> config_with(std::optional<OutOfRangeMode> out_of_range, RoundingMode rounding) {
    CastConfig<S, D> config;
    config.out_of_range = out_of_range;
    config.rounding = rounding;
    return config;
}

}  // namespace detail

// One driver pair per family. Each takes only the policies its family reads.

template <IntegerElement S, IntegerElement D>
PyObject* do_int_to_int_into(PyObject* arr, PyObject* out, PyObject* scalar_map,
                             std::optional<OutOfRangeMode> out_of_range) {
    return detail::write_into<S, D>(arr, out, scalar_map, detail::config_with<S, D>(out_of_range, {}));
}
template <IntegerElement S, IntegerElement D>
PyObject* do_int_to_int_alloc(PyObject* arr, PyObject* scalar_map, std::optional<OutOfRangeMode> out_of_range) {
    return detail::allocate_and_convert<S, D>(arr, scalar_map, detail::config_with<S, D>(out_of_range, {}));
}

template <FloatElement S, IntegerElement D>
PyObject* do_float_to_int_into(PyObject* arr, PyObject* out, PyObject* scalar_map, RoundingMode rounding,
                               std::optional<OutOfRangeMode> out_of_range) {
    return detail::write_into<S, D>(arr, out, scalar_map, detail::config_with<S, D>(out_of_range, rounding));
}
template <FloatElement S, IntegerElement D>
PyObject* do_float_to_int_alloc(PyObject* arr, PyObject* scalar_map, RoundingMode rounding,
                                std::optional<OutOfRangeMode> out_of_range) {
    return detail::allocate_and_convert<S, D>(arr, scalar_map, detail::config_with<S, D>(out_of_range, rounding));
}

template <IntegerElement S, FloatElement D>
PyObject* do_int_to_float_into(PyObject* arr, PyObject* out, PyObject* scalar_map, RoundingMode rounding) {
    return detail::write_into<S, D>(arr, out, scalar_map, detail::config_with<S, D>(std::nullopt, rounding));
}
template <IntegerElement S, FloatElement D>
PyObject* do_int_to_float_alloc(PyObject* arr, PyObject* scalar_map, RoundingMode rounding) {
    return detail::allocate_and_convert<S, D>(arr, scalar_map, detail::config_with<S, D>(std::nullopt, rounding));
}

template <FloatElement S, FloatElement D>
PyObject* do_float_to_float_into(PyObject* arr, PyObject* out, PyObject* scalar_map, RoundingMode rounding,
                                 std::optional<OutOfRangeMode> out_of_range) {
    return detail::write_into<S, D>(arr, out, scalar_map, detail::config_with<S, D>(out_of_range, rounding));
}
template <FloatElement S, FloatElement D>
PyObject* do_float_to_float_alloc(PyObject* arr, PyObject* scalar_map, RoundingMode rounding,
                                  std::optional<OutOfRangeMode> out_of_range) {
    return detail::allocate_and_convert<S, D>(arr, scalar_map, detail::config_with<S, D>(out_of_range, rounding));
}

}  // namespace tarnwell::py
