#pragma once

#include <Python.h>

#include <span>
#include <string_view>

namespace tarnwell::py {

struct Parameter {
    const char* name;
    bool keyword_only;
    bool required;
};

// A function's parameters: the positional ones first, then the keyword-only ones.
struct Signature {
    std::string_view display_name;  // the name followed by "()", as messages show it
    std::span<const Parameter> parameters;
};

// Matches a fast call's arguments to the parameters, one borrowed object or null per
// parameter in `slots`. On a mismatch returns false with the TypeError pending.
bool match_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                     std::span<PyObject*> slots);

}  // namespace tarnwell::py
