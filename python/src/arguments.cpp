#include "arguments.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "errors.hpp"

namespace tarnwell::py {
namespace {

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string quoted_list(const std::vector<std::string_view>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        }
        out += '\'';
        out += names[i];
        out += '\'';
    }
    return out;
}

bool report_missing(const Signature& signature, std::span<PyObject* const> slots, bool keyword_only) {
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
        const Parameter& p = signature.parameters[i];
        if (p.keyword_only == keyword_only && p.required && slots[i] == nullptr) {
            missing.push_back(p.name);
        }
    }
    if (missing.empty()) {
        return false;
    }
    std::string message(signature.display_name);
    message += " missing " + std::to_string(missing.size()) + " required ";
    message += keyword_only ? "keyword" : "positional";
    message += missing.size() == 1 ? " argument: " : " arguments: ";
    message += quoted_list(missing);
    raise(PyExc_TypeError, message);
    return true;
}

// The parameter a keyword names, compared as text without encoding it (a keyword may
// hold characters that UTF-8 cannot carry).
std::size_t find_parameter(const Signature& signature, PyObject* keyword) {
    const auto& parameters = signature.parameters;
    const auto found = std::find_if(parameters.begin(), parameters.end(), [&](const Parameter& p) {
        return PyUnicode_Check(keyword) && PyUnicode_CompareWithASCIIString(keyword, p.name) == 0;
    });
    return static_cast<std::size_t>(found - parameters.begin());
}

}  // namespace

bool match_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                     std::span<PyObject*> slots) {
    const auto& parameters = signature.parameters;
    std::fill(slots.begin(), slots.end(), nullptr);
    const auto positional_count = static_cast<Py_ssize_t>(
        std::count_if(parameters.begin(), parameters.end(), [](const Parameter& p) { return !p.keyword_only; }));
    const std::string display(signature.display_name);

    const Py_ssize_t given = PyVectorcall_NARGS(nargsf);
    if (given > positional_count) {
        PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd %s given", display.c_str(),
                     positional_count, given, given == 1 ? "was" : "were");
        return false;
    }
    std::copy(args, args + given, slots.begin());

    const Py_ssize_t keyword_count = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < keyword_count; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        const std::size_t index = find_parameter(signature, keyword);
        if (index == parameters.size()) {
            PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", display.c_str(), keyword);
            return false;
        }
        if (slots[index] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", display.c_str(),
                         parameters[index].name);
            return false;
        }
        slots[index] = args[given + k];
    }
    return !report_missing(signature, slots, false) && !report_missing(signature, slots, true);
}

}  // namespace tarnwell::py
