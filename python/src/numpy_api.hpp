#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>

// The few NumPy operations the binding needs, behind plain types so that NumPy's own
// headers and their import machinery stay inside one source file.
namespace tarnwell::py::numpy {

// Obtains NumPy's C interface on first use and keeps it for the life of the process.
// Throws InternalFailure, with the import error's text, when NumPy cannot be imported.
void ensure_imported();

// After ensure_imported: whether the object is an ndarray or an instance of a subclass.
bool is_array(PyObject* object);

struct ArrayLayout {
    std::byte* data;
    std::span<const std::intptr_t> shape;
    std::span<const std::intptr_t> strides;  // in bytes
    std::intptr_t item_size;
    bool c_contiguous;  // NumPy's own flag
    bool writeable;
};

ArrayLayout layout_of(PyObject* array);

// Whether the array's elements are, by NumPy's type equivalence, the element type at
// `element` of the type list in the machine's byte order.
bool holds_native(PyObject* array, std::size_t element);

// A new zero-filled C-ordered array of that element type, or null with NumPy's
// exception pending.
PyObject* new_zeros(std::span<const std::intptr_t> shape, std::size_t element);

}  // namespace tarnwell::py::numpy
