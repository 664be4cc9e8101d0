#include "drivers.hpp"


namespace tarnwell::py {

void cast_error_to_pyerr(const CastError& error) { raise(PyExc_ValueError, message(error)); }

std::size_t element_count(std::span<const std::intptr_t> shape) noexcept {
    std::size_t count = 1;
    for (const std::intptr_t length : shape) {
        count *= static_cast<std::size_t>(length);
    }
    return count;
}

bool is_row_major(const numpy::ArrayLayout& layout) noexcept {
    std::intptr_t expected = layout.item_size;
    for (std::size_t axis = layout.shape.size(); axis-- > 0;) {
        if (layout.shape[axis] == 1) {
            continue;
        }
        if (layout.strides[axis] != expected) {
            return false;
        }
        expected *= layout.shape[axis];
    }
    return true;
}

void raise_input_not_row_major() { raise(PyExc_ValueError, "Input array must be row-major (C-contiguous)"); }

void raise_output_not_row_major() {
    raise(PyExc_ValueError, "Output array must be row-major (C-contiguous) and writeable");
}

void raise_new_array_not_row_major() { raise(PyExc_ValueError, "Failed to get mutable slice from output array"); }

namespace detail {

bool overlaps(const void* a, std::size_t a_bytes, const void* b, std::size_t b_bytes) noexcept {
    const auto a_begin = reinterpret_cast<std::uintptr_t>(a), b_begin = reinterpret_cast<std::uintptr_t>(b);
    return a_bytes != 0 && b_bytes != 0 && a_begin < b_begin + b_bytes && b_begin < a_begin + a_bytes;
}

}  // namespace detail

}  // namespace tarnwell::py
