#pragma once

#include <Python.h>

#include <utility>

namespace tarnwell::py {

// Owns one strong reference to a Python object (or nothing) and releases it on every
// exit path, exceptions included.
class PyRef {
public:
    PyRef() = default;
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        PyRef(std::move(other)).swap(*this);
        return *this;
    }
    ~PyRef() { Py_XDECREF(object_); }

    // Takes over a new reference, as returned by most interpreter calls (null allowed).
    static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
    // Adds a reference of its own to a borrowed object.
    static PyRef borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return PyRef(object);
    }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // Hands the reference to the caller, typically as a function's result.
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    void swap(PyRef& other) noexcept { std::swap(object_, other.object_); }

private:
    explicit PyRef(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace tarnwell::py
