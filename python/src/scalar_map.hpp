#pragma once

#include <Python.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "cast_config.hpp"
#include "element_types.hpp"
#include "py_ref.hpp"

namespace tarnwell::py {

namespace detail {

// Reads an integer value; a non-int is first passed through its __index__.
template <class Read>
auto read_integer(PyObject* object, Read read) -> std::optional<decltype(read(object))> {
    PyRef index;
    if (!PyLong_Check(object)) {
        index = PyRef::steal(PyNumber_Index(object));
        if (!index) {
            return std::nullopt;
        }
        object = index.get();
    }
    const auto value = read(object);
    if (value == static_cast<decltype(value)>(-1) && PyErr_Occurred()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace detail

static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559,
              "binary64 to binary32 narrowing relies on IEEE rounding to nearest, overflow to infinity");
static_assert(sizeof(long) == sizeof(std::int64_t), "int64 map values are read as a C long");

// One Python object as a value of element type T, or nothing (with whatever exception
// the reading raised still pending; the caller replaces it).
template <Element T>
std::optional<T> extract_from_py(PyObject* object) {
    if constexpr (std::is_same_v<T, std::uint64_t>) {
        const auto value = detail::read_integer(object, PyLong_AsUnsignedLongLong);
        return value ? std::optional<T>(static_cast<T>(*value)) : std::nullopt;
    } else if constexpr (IntegerElement<T>) {
        const auto value = detail::read_integer(object, PyLong_AsLong);
        if (!value || *value < ElementTraits<T>::min || *value > ElementTraits<T>::max) {
            return std::nullopt;
        }
        return static_cast<T>(*value);
    } else {
        double value = 0.0;
        if (PyFloat_CheckExact(object)) {
            value = PyFloat_AS_DOUBLE(object);
        } else {
            value = PyFloat_AsDouble(object);
            if (value == -1.0 && PyErr_Occurred()) {
                return std::nullopt;
            }
        }
        if constexpr (std::is_same_v<T, double>) {
            return value;
        } else if constexpr (std::is_same_v<T, float>) {
            return static_cast<float>(value);
        } else {
            // Through binary32 first, so a binary64 value rounds twice.
            return float16(static_cast<float>(value));
        }
    }
}

// The raising side of reading a map, shared by every pair. Each drops the exception
// pending from the failed step and raises its own in its place.
void raise_map_value_error(PyObject* offending, bool is_source, const char* type_name);
void raise_map_entry_shape_error();
void raise_map_not_iterable();
void raise_map_length_error();

// Whether the object counts as a mapping: a dict, or an instance of
// collections.abc.Mapping. A failing isinstance test goes to the unraisable hook and
// counts as "no".
bool is_mapping(PyObject* object);

// Whether a mapping item is a tuple of two; otherwise raises TypeError (not a tuple) or
// ValueError (another length).
bool is_item_pair(PyObject* item);

// Subscript 0 or 1 of an iterable's entry; its exception passes through unchanged.
PyRef entry_element(PyObject* entry, long position);

// Turns a scalar-map argument (a mapping, or an iterable of pairs; null when absent) into
// the entry list of the pair, in the order given. Nothing on failure, with the
// exception pending.
template <Element S, Element D>
std::optional<std::vector<MapEntry<S, D>>> parse_map_entries(PyObject* scalar_map) {
    std::vector<MapEntry<S, D>> entries;
    if (scalar_map == nullptr) {
        return entries;
    }
    const auto source_of = [](PyObject* object) {
        const auto value = extract_from_py<S>(object);
        if (!value) {
            raise_map_value_error(object, true, ElementTraits<S>::name.data());
        }
        return value;
    };
    const auto target_of = [](PyObject* object) {
        const auto value = extract_from_py<D>(object);
        if (!value) {
            raise_map_value_error(object, false, ElementTraits<D>::name.data());
        }
        return value;
    };

    if (is_mapping(scalar_map)) {
        const Py_ssize_t length = PyMapping_Size(scalar_map);
        if (length < 0) {
            raise_map_length_error();
            return std::nullopt;
        }
        // A list of its own: changes to the mapping meanwhile do not reach it.
        const PyRef items = PyRef::steal(PyMapping_Items(scalar_map));
        if (!items) {
            return std::nullopt;
        }
        const Py_ssize_t count = PyList_GET_SIZE(items.get());
        // The length only sizes the reservation; a __len__ that lies must not allocate.
        entries.reserve(static_cast<std::size_t>(std::min(length, count)));
        for (Py_ssize_t i = 0; i < count; ++i) {
            const PyRef item = PyRef::borrow(PyList_GET_ITEM(items.get(), i));
            if (!is_item_pair(item.get())) {
                return std::nullopt;
            }
            const auto source = source_of(PyTuple_GET_ITEM(item.get(), 0));
            if (!source) {
                return std::nullopt;
            }
            const auto target = target_of(PyTuple_GET_ITEM(item.get(), 1));
            if (!target) {
                return std::nullopt;
            }
            entries.push_back({*source, *target});
        }
        return entries;
    }

    const PyRef iterator = PyRef::steal(PyObject_GetIter(scalar_map));
    if (!iterator) {
        raise_map_not_iterable();
        return std::nullopt;
    }
    while (const PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
        if (PyObject_Size(item.get()) != 2) {
            raise_map_entry_shape_error();
            return std::nullopt;
        }
        // Element 1 is fetched only once element 0 has been accepted.
        const PyRef source_object = entry_element(item.get(), 0);
        const auto source = source_object ? source_of(source_object.get()) : std::nullopt;
        if (!source) {
            return std::nullopt;
        }
        const PyRef target_object = entry_element(item.get(), 1);
        const auto target = target_object ? target_of(target_object.get()) : std::nullopt;
        if (!target) {
            return std::nullopt;
        }
        entries.push_back({*source, *target});
    }
    if (PyErr_Occurred()) {
        return std::nullopt;  // the iterator itself raised
    }
    return entries;
}

}  // namespace tarnwell::py
