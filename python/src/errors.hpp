#pragma once

#include <Python.h>

#include <exception>
#include <new>
#include <string_view>

#include "internal_failure.hpp"
#include "py_ref.hpp"

namespace tarnwell::py {

// The expected kinds named by type-check messages.
inline constexpr const char* array_kind = "ndarray";
inline constexpr const char* text_kind = "str";
// An array of the named element type in the machine's byte order.
inline constexpr const char* typed_array_kind = "native-byte-order ndarray";

// Sets an exception of `type` whose message is the UTF-8 text `message`, embedded NULs
// included (a mode text may hold one).
void raise(PyObject* type, std::string_view message);

// "'{type qualname}' object cannot be converted to '{kind}'" as a TypeError.
void raise_type_check(PyObject* object, const char* kind);

// A new reference to the __qualname__ of the object's type, or to a fixed stand-in when
// it cannot be read. Null only when even the stand-in cannot be made.
PyObject* type_qualname(PyObject* object);

// The pending exception, normalised and cleared from the interpreter; and its reverse.
PyRef take_exception();
void restore_exception(PyRef exception);

// If the pending exception is exactly a TypeError, replaces it with
// "argument '{parameter}': {message}" keeping its cause; any other exception stays.
void relabel_type_error(const char* parameter);

// Creates the exception type for internal failures, derived directly from
// BaseException. Called once, from module initialisation.
bool create_internal_failure_type();
void raise_internal_failure(std::string_view what);

// Runs one entry function so that no C++ exception crosses the module boundary: an
// internal failure becomes the dedicated exception type, exhausted memory MemoryError.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const InternalFailure& failure) {
        raise_internal_failure(failure.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& failure) {
        raise_internal_failure(failure.what());
    } catch (...) {
        raise_internal_failure("unidentified internal failure");
    }
    return nullptr;
}

}  // namespace tarnwell::py
