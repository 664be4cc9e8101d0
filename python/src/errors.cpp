#include "errors.hpp"

#include "py_ref.hpp"

namespace tarnwell::py {
namespace {

PyObject* internal_failure_type_object = nullptr;

}  // namespace

void raise(PyObject* type, std::string_view message) {
    // "replace" keeps a message readable even if a caller ever hands in broken UTF-8.
    const PyRef text = PyRef::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) {
        PyErr_SetObject(type, text.get());
    }
}

PyObject* type_qualname(PyObject* object) {
    PyObject* name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__");
    if (name != nullptr && PyUnicode_Check(name)) {
        return name;
    }
    Py_XDECREF(name);
    PyErr_Clear();
    return PyUnicode_FromString("<failed to extract type name>");
}

void raise_type_check(PyObject* object, const char* kind) {
    const PyRef name = PyRef::steal(type_qualname(object));
    if (name) {
        PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name.get(), kind);
    }
}

PyRef take_exception() {
#if PY_VERSION_HEX >= 0x030C0000
    return PyRef::steal(PyErr_GetRaisedException());
#else
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr && traceback != nullptr) {
        PyException_SetTraceback(value, traceback);
    }
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return PyRef::steal(value);
#endif
}

void restore_exception(PyRef exception) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception.release());
#else
    PyObject* value = exception.release();
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    Py_INCREF(type);
    PyErr_Restore(type, value, PyException_GetTraceback(value));
#endif
}

void relabel_type_error(const char* parameter) {
    PyObject* pending = PyErr_Occurred();
    if (pending == nullptr || pending != PyExc_TypeError) {
        return;
    }
    const PyRef original = take_exception();
    const PyRef text = PyRef::steal(PyObject_Str(original.get()));
    if (!text) {
        return;
    }
    PyErr_Format(PyExc_TypeError, "argument '%s': %U", parameter, text.get());
    PyRef relabelled = take_exception();
    PyException_SetCause(relabelled.get(), PyException_GetCause(original.get()));  // steals the cause
    restore_exception(std::move(relabelled));
}

bool create_internal_failure_type() {
    if (internal_failure_type_object == nullptr) {
        internal_failure_type_object = PyErr_NewExceptionWithDoc(
            "_tarnwell.InternalFailure",
            "A broken internal precondition of _tarnwell; ordinary arguments never cause it.",
            PyExc_BaseException, nullptr);
    }
    return internal_failure_type_object != nullptr;
}

void raise_internal_failure(std::string_view what) {
    raise(internal_failure_type_object != nullptr ? internal_failure_type_object : PyExc_SystemError, what);
}

}  // namespace tarnwell::py
