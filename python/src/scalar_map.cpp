#include "scalar_map.hpp"

#include "errors.hpp"

namespace tarnwell::py {
namespace {

// The object as messages show it: its repr, else its str, else a stand-in naming its
// type, so that an object whose repr and str both raise still gets a message.
PyRef printable(PyObject* object) {
    if (PyObject* repr = PyObject_Repr(object)) {
        return PyRef::steal(repr);
    }
    PyErr_Clear();
    if (PyObject* str = PyObject_Str(object)) {
        return PyRef::steal(str);
    }
    PyErr_Clear();
    const PyRef name = PyRef::steal(type_qualname(object));
    return PyRef::steal(name ? PyUnicode_FromFormat("<unprintable %U object>", name.get()) : nullptr);
}

}  // namespace

void raise_map_value_error(PyObject* offending, bool is_source, const char* type_name) {
    PyErr_Clear();
    const PyRef shown = printable(offending);
    if (!shown) {
        return;
    }
    const char* side = is_source ? "source" : "target";
    PyErr_Format(PyExc_TypeError, "scalar_map %s value %U: expected a value convertible to %s dtype %s", side,
                 shown.get(), side, type_name);
}

void raise_map_entry_shape_error() {
    PyErr_Clear();
    PyErr_SetString(PyExc_ValueError, "Each scalar_map entry must be a (source, target) pair");
}

void raise_map_not_iterable() {
    PyErr_Clear();
    PyErr_SetString(PyExc_TypeError, "scalar_map_entries must be a dict or an iterable of (source, target) pairs");
}

void raise_map_length_error() {
    PyErr_Clear();
    PyErr_SetString(PyExc_TypeError, "Failed to get length of scalar_map dict.");
}

bool is_mapping(PyObject* object) {
    if (PyDict_Check(object)) {
        return true;
    }
    static PyObject* mapping_type = nullptr;  // kept for the life of the process
    if (mapping_type == nullptr) {
        const PyRef abc = PyRef::steal(PyImport_ImportModule("collections.abc"));
        mapping_type = abc ? PyObject_GetAttrString(abc.get(), "Mapping") : nullptr;
    }
    const int answer = mapping_type != nullptr ? PyObject_IsInstance(object, mapping_type) : -1;
    if (answer < 0) {
        PyErr_WriteUnraisable(object);
        return false;
    }
    return answer == 1;
}

bool is_item_pair(PyObject* item) {
    if (!PyTuple_Check(item)) {
        raise_type_check(item, "tuple");
        return false;
    }
    if (PyTuple_GET_SIZE(item) != 2) {
        PyErr_Format(PyExc_ValueError, "expected a tuple of length 2, got a tuple of length %zd", PyTuple_GET_SIZE(item));
        return false;
    }
    return true;
}

PyRef entry_element(PyObject* entry, long position) {
    const PyRef key = PyRef::steal(PyLong_FromLong(position));
    return PyRef::steal(key ? PyObject_GetItem(entry, key.get()) : nullptr);
}

}  // namespace tarnwell::py
