// One build serves NumPy 1.x and 2.x: compiled against the 2.x headers, but restricted to
// the C interface that NumPy 1.23 already offers.
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define NPY_TARGET_VERSION NPY_1_23_API_VERSION
#include "numpy_api.hpp"

#include <numpy/arrayobject.h>

#include <array>
#include <string>

#include "element_index.hpp"
#include "errors.hpp"
#include "internal_failure.hpp"
#include "py_ref.hpp"

namespace tarnwell::py::numpy {
namespace {

// NumPy type numbers in type-list order; NPY_HALF is binary16.
constexpr std::array<int, element_names.size()> type_numbers{
    NPY_INT8, NPY_INT16, NPY_INT32, NPY_INT64, NPY_UINT8, NPY_UINT16, NPY_UINT32, NPY_UINT64, NPY_HALF, NPY_FLOAT, NPY_DOUBLE,
};
static_assert(element_index<float16> == 8 && element_index<double> == 10);

PyArrayObject* as_array(PyObject* object) noexcept { return reinterpret_cast<PyArrayObject*>(object); }

std::string pending_error_text() {
    const PyRef error = take_exception();
    const PyRef text = PyRef::steal(error ? PyObject_Str(error.get()) : nullptr);
    Py_ssize_t size = 0;
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
    PyErr_Clear();
    return utf8 != nullptr ? std::string(utf8, static_cast<std::size_t>(size)) : std::string("unknown error");
}

}  // namespace

void ensure_imported() {
    if (PyArray_API != nullptr) {
        return;
    }
    // NumPy's own import reads the interface table from numpy._core (numpy.core before
    // NumPy 2) and checks that the running NumPy offers what this build uses.
    if (_import_array() < 0) {
        PyArray_API = nullptr;
        throw InternalFailure("NumPy's C interface could not be obtained: " + pending_error_text());
    }
}

bool is_array(PyObject* object) { return PyArray_Check(object); }

ArrayLayout layout_of(PyObject* array) {
    PyArrayObject* a = as_array(array);
    const auto rank = static_cast<std::size_t>(PyArray_NDIM(a));
    return ArrayLayout{
        .data = static_cast<std::byte*>(PyArray_DATA(a)),
        .shape = {PyArray_DIMS(a), rank},
        .strides = {PyArray_STRIDES(a), rank},
        .item_size = PyArray_ITEMSIZE(a),
        .c_contiguous = PyArray_IS_C_CONTIGUOUS(a) != 0,
        .writeable = PyArray_ISWRITEABLE(a) != 0,
    };
}

bool holds_native(PyObject* array, std::size_t element) {
    PyArray_Descr* native = PyArray_DescrFromType(type_numbers.at(element));
    if (native == nullptr) {
        throw InternalFailure("NumPy has no descriptor for " + std::string(element_names.at(element)));
    }
    const bool equivalent = PyArray_EquivTypes(PyArray_DESCR(as_array(array)), native) != 0;
    Py_DECREF(native);
    return equivalent;
}

PyObject* new_zeros(std::span<const std::intptr_t> shape, std::size_t element) {
    PyArray_Descr* descriptor = PyArray_DescrFromType(type_numbers.at(element));
    if (descriptor == nullptr) {
        return nullptr;
    }
    // PyArray_Zeros takes over the descriptor reference, on failure too.
    return PyArray_Zeros(static_cast<int>(shape.size()), const_cast<npy_intp*>(shape.data()), descriptor, 0);
}

}  // namespace tarnwell::py::numpy
