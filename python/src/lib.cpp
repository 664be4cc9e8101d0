// The module _tarnwell: initialisation and the two entry functions.
#include <Python.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "arguments.hpp"
#include "dispatch.hpp"
#include "errors.hpp"
#include "numpy_api.hpp"
#include "policy.hpp"
#include "py_ref.hpp"

namespace tarnwell::py {
namespace {

// A policy read from a Python str by its exact text.
template <class Mode>
struct PyMode {
    static std::optional<Mode> from_py(PyObject* object);
};
using PyRoundingMode = PyMode<RoundingMode>;
using PyOutOfRangeMode = PyMode<OutOfRangeMode>;

// The UTF-8 text of a str (or subclass); a text that UTF-8 cannot carry raises the
// interpreter's encoding error.
std::optional<std::string_view> text_of(PyObject* object) {
    if (!PyUnicode_Check(object)) {
        raise_type_check(object, text_kind);
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (text == nullptr) {
        return std::nullopt;
    }
    return std::string_view(text, static_cast<std::size_t>(size));
}

template <class Mode>
std::optional<Mode> PyMode<Mode>::from_py(PyObject* object) {
    const auto text = text_of(object);
    if (!text) {
        return std::nullopt;
    }
    const auto mode = from_str<Mode>(*text);
    if (!mode) {
        raise(PyExc_ValueError, mode.error());
        return std::nullopt;
    }
    return *mode;
}

bool is_array(PyObject* object) {
    numpy::ensure_imported();
    if (!numpy::is_array(object)) {
        raise_type_check(object, array_kind);
        return false;
    }
    return true;
}

// Ends a call whose parameter `name` could not be read; a TypeError is relabelled with
// the name.
PyObject* failed_reading(const char* name) {
    relabel_type_error(name);
    return nullptr;
}

// The policy is absent when the argument is missing or None. False with an exception
// pending when the argument cannot be read.
bool read_out_of_range(PyObject* object, std::optional<OutOfRangeMode>& policy) {
    if (object == nullptr || object == Py_None) {
        policy.reset();
        return true;
    }
    const auto mode = PyOutOfRangeMode::from_py(object);
    policy = mode;
    return mode.has_value();
}

PyObject* optional_object(PyObject* object) { return object == Py_None ? nullptr : object; }

std::string shape_text(PyObject* array) {
    std::string text = "[";
    const auto shape = numpy::layout_of(array).shape;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        text += (i > 0 ? ", " : "") + std::to_string(shape[i]);
    }
    return text + "]";
}

PyObject* cast_array(PyObject* arr, std::string_view target_dtype, const CallPolicies& policies) {
    const auto source = array_dtype_key(arr);
    return source ? dispatch_alloc(arr, source->name, target_dtype, policies) : nullptr;
}

PyObject* cast_array_into(PyObject* arr, PyObject* out, const CallPolicies& policies) {
    const auto source = array_dtype_key(arr);
    if (!source) {
        return nullptr;
    }
    const auto target = array_dtype_key(out);
    if (!target) {
        return nullptr;
    }
    const auto in_shape = numpy::layout_of(arr).shape, out_shape = numpy::layout_of(out).shape;
    if (!std::equal(in_shape.begin(), in_shape.end(), out_shape.begin(), out_shape.end())) {
        raise(PyExc_ValueError, "Shape mismatch: input shape " + shape_text(arr) + " != output shape " + shape_text(out));
        return nullptr;
    }
    return dispatch_into(arr, out, source->name, target->name, policies);
}

constexpr Parameter cast_array_parameters[] = {
    {"arr", false, true},
    {"target_dtype", true, true},
    {"rounding_mode", true, true},
    {"out_of_range_mode", true, false},
    {"scalar_map_entries", true, false},
};

constexpr Parameter cast_array_into_parameters[] = {
    {"arr", false, true},
    {"out", false, true},
    {"rounding_mode", true, true},
    {"out_of_range_mode", true, false},
    {"scalar_map_entries", true, false},
};

PyObject* cast_array_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        PyObject* slots[5];
        if (!match_arguments({"cast_array()", cast_array_parameters}, args, nargsf, kwnames, slots)) {
            return nullptr;
        }
        PyObject* const arr = slots[0];
        if (!is_array(arr)) {
            return failed_reading("arr");
        }
        const auto target_dtype = text_of(slots[1]);
        if (!target_dtype) {
            return failed_reading("target_dtype");
        }
        const auto rounding = PyRoundingMode::from_py(slots[2]);
        if (!rounding) {
            return failed_reading("rounding_mode");
        }
        std::optional<OutOfRangeMode> out_of_range;
        if (!read_out_of_range(slots[3], out_of_range)) {
            return failed_reading("out_of_range_mode");
        }
        return cast_array(arr, *target_dtype, {*rounding, out_of_range, optional_object(slots[4])});
    });
}

PyObject* cast_array_into_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        PyObject* slots[5];
        if (!match_arguments({"cast_array_into()", cast_array_into_parameters}, args, nargsf, kwnames, slots)) {
            return nullptr;
        }
        PyObject* const arr = slots[0];
        PyObject* const out = slots[1];
        if (!is_array(arr)) {
            return failed_reading("arr");
        }
        if (!is_array(out)) {
            return failed_reading("out");
        }
        const auto rounding = PyRoundingMode::from_py(slots[2]);
        if (!rounding) {
            return failed_reading("rounding_mode");
        }
        std::optional<OutOfRangeMode> out_of_range;
        if (!read_out_of_range(slots[3], out_of_range)) {
            return failed_reading("out_of_range_mode");
        }
        return cast_array_into(arr, out, {*rounding, out_of_range, optional_object(slots[4])});
    });
}

// The first lines give the signature that introspection reads.
constexpr const char cast_array_doc[] =
    "cast_array(arr, *, target_dtype, rounding_mode, out_of_range_mode=None, scalar_map_entries=None)\n"
    "--\n"
    "\n"
    "Cast a numpy array to a new dtype, allocating a new output array.\n"
    "\n"
    "# Arguments\n"
    "\n"
    "* `arr` - Input numpy array\n"
    "* `target_dtype` - Target dtype string (e.g. \"uint8\", \"float32\")\n"
    "* `rounding_mode` - Rounding mode string (e.g. \"nearest-even\")\n"
    "* `out_of_range_mode` - Optional out-of-range handling (\"clamp\" or \"wrap\")\n"
    "* `scalar_map_entries` - Optional list of [source, target] pairs\n"
    "\n"
    "# Returns\n"
    "\n"
    "A new numpy array with the target dtype.\n"
    "\n"
    "# Errors\n"
    "\n"
    "Raises ValueError for an invalid rounding or out-of-range mode and for conversion\n"
    "errors, and TypeError for unsupported element types.";

constexpr const char cast_array_into_doc[] =
    "cast_array_into(arr, out, *, rounding_mode, out_of_range_mode=None, scalar_map_entries=None)\n"
    "--\n"
    "\n"
    "Cast a numpy array into a pre-allocated output array.\n"
    "\n"
    "# Arguments\n"
    "\n"
    "* `arr` - Input numpy array\n"
    "* `out` - Pre-allocated output numpy array (must match input shape)\n"
    "* `rounding_mode` - Rounding mode string (e.g. \"nearest-even\")\n"
    "* `out_of_range_mode` - Optional out-of-range handling (\"clamp\" or \"wrap\")\n"
    "* `scalar_map_entries` - Optional list of [source, target] pairs\n"
    "\n"
    "# Returns\n"
    "\n"
    "None on success.\n"
    "\n"
    "# Errors\n"
    "\n"
    "Raises ValueError for a shape mismatch, an invalid rounding or out-of-range mode and\n"
    "for conversion errors, and TypeError for unsupported element types.";

// Fast-call functions are stored under the generic function pointer type.
template <class Function>
PyCFunction as_method(Function* function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef cast_array_def{"cast_array", as_method(cast_array_entry), METH_FASTCALL | METH_KEYWORDS, cast_array_doc};
PyMethodDef cast_array_into_def{"cast_array_into", as_method(cast_array_into_entry), METH_FASTCALL | METH_KEYWORDS,
                                cast_array_into_doc};

PyModuleDef module_def{PyModuleDef_HEAD_INIT, "_tarnwell", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

// Adds a function bound to the module under its __name__ and lists that name in __all__.
bool add_function(PyObject* module, PyMethodDef* definition) {
    const PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    const PyRef function = PyRef::steal(module_name ? PyCFunction_NewEx(definition, module, module_name.get()) : nullptr);
    const PyRef name = PyRef::steal(function ? PyObject_GetAttrString(function.get(), "__name__") : nullptr);
    if (!name) {
        return false;
    }
    PyObject* module_dict = PyModule_GetDict(module);  // borrowed
    PyRef all = PyRef::borrow(PyDict_GetItemString(module_dict, "__all__"));
    if (!all) {
        all = PyRef::steal(PyList_New(0));
        if (!all || PyDict_SetItemString(module_dict, "__all__", all.get()) < 0) {
            return false;
        }
    }
    return PyList_Append(all.get(), name.get()) == 0 && PyObject_SetAttr(module, name.get(), function.get()) == 0;
}

PyObject* initialise() {
    static PyObject* module = nullptr;  // created once per process, kept for its life
    if (module != nullptr) {
        Py_INCREF(module);
        return module;
    }
    if (!create_internal_failure_type()) {
        return nullptr;
    }
    PyRef created = PyRef::steal(PyModule_Create(&module_def));
    if (!created || !add_function(created.get(), &cast_array_def) ||
        !add_function(created.get(), &cast_array_into_def)) {
        return nullptr;
    }
    module = created.get();
    Py_INCREF(module);
    return created.release();
}

}  // namespace
}  // namespace tarnwell::py

PyMODINIT_FUNC PyInit__tarnwell() {
    return tarnwell::py::guarded(tarnwell::py::initialise);
}
