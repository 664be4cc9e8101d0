#pragma once

#include <Python.h>

#include <optional>
#include <string_view>

#include "policy.hpp"

namespace tarnwell::py {

// One of the eleven element types, as its canonical name (a view of the stored copy).
struct DtypeKey {
    std::string_view name;
};

// The element type of an array by NumPy's name for it ("dtype" then "name"), or nothing
// with a TypeError (unsupported type) or the attribute lookup's exception pending.
std::optional<DtypeKey> array_dtype_key(PyObject* array);

// The policies of one call, passed to each driver as far as its family reads them.
struct CallPolicies {
    RoundingMode rounding;
    std::optional<OutOfRangeMode> out_of_range;
    PyObject* scalar_map;  // borrowed; null when absent
};

// Runs the allocating driver of (source, target): the new array, or null with an exception.
PyObject* dispatch_alloc(PyObject* arr, std::string_view source, std::string_view target, const CallPolicies& policies);

// Runs the writing driver of (source, target): None, or null with an exception.
PyObject* dispatch_into(PyObject* arr, PyObject* out, std::string_view source, std::string_view target,
                        const CallPolicies& policies);

}  // namespace tarnwell::py
