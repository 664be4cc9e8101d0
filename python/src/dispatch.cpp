#include "dispatch.hpp"

#include <array>
#include <string>

#include "drivers.hpp"
#include "element_index.hpp"
#include "errors.hpp"
#include "py_ref.hpp"

namespace tarnwell::py {
namespace {

// Each pair reaches its family's driver with the policies that family reads.
template <Element S, Element D>
PyObject* alloc_pair(PyObject* arr, const CallPolicies& p) {
    if constexpr (IntegerElement<S> && IntegerElement<D>) {
        return do_int_to_int_alloc<S, D>(arr, p.scalar_map, p.out_of_range);
    } else if constexpr (FloatElement<S> && IntegerElement<D>) {
        return do_float_to_int_alloc<S, D>(arr, p.scalar_map, p.rounding, p.out_of_range);
    } else if constexpr (IntegerElement<S> && FloatElement<D>) {
        return do_int_to_float_alloc<S, D>(arr, p.scalar_map, p.rounding);
    } else {
        return do_float_to_float_alloc<S, D>(arr, p.scalar_map, p.rounding, p.out_of_range);
    }
}

template <Element S, Element D>
PyObject* into_pair(PyObject* arr, PyObject* out, const CallPolicies& p) {
    if constexpr (IntegerElement<S> && IntegerElement<D>) {
        return do_int_to_int_into<S, D>(arr, out, p.scalar_map, p.out_of_range);
    } else if constexpr (FloatElement<S> && IntegerElement<D>) {
        return do_float_to_int_into<S, D>(arr, out, p.scalar_map, p.rounding, p.out_of_range);
    } else if constexpr (IntegerElement<S> && FloatElement<D>) {
        return do_int_to_float_into<S, D>(arr, out, p.scalar_map, p.rounding);
    } else {
        return do_float_to_float_into<S, D>(arr, out, p.scalar_map, p.rounding, p.out_of_range);
    }
}

using AllocDriver = PyObject* (*)(PyObject*, const CallPolicies&);
using IntoDriver = PyObject* (*)(PyObject*, PyObject*, const CallPolicies&);
constexpr std::size_t type_count = element_names.size();

template <Element S, Element... Ds>
constexpr std::array<AllocDriver, type_count> alloc_row(TypeList<Ds...>) {
    return {&alloc_pair<S, Ds>...};
}
template <Element S, Element... Ds>
constexpr std::array<IntoDriver, type_count> into_row(TypeList<Ds...>) {
    return {&into_pair<S, Ds>...};
}
// Tables indexed [source][target] in type-list order, generated from the one type list.
template <Element... Ss>
constexpr std::array<std::array<AllocDriver, type_count>, type_count> alloc_table(TypeList<Ss...> types) {
    return {alloc_row<Ss>(types)...};
}
template <Element... Ss>
constexpr std::array<std::array<IntoDriver, type_count>, type_count> into_table(TypeList<Ss...> types) {
    return {into_row<Ss>(types)...};
}

constexpr auto alloc_drivers = alloc_table(ElementTypes{});
constexpr auto into_drivers = into_table(ElementTypes{});

// The source is looked up first, so a call in which both names are wrong reports it.
std::optional<std::pair<std::size_t, std::size_t>> find_pair(std::string_view source, std::string_view target) {
    const auto s = find_element(source);
    if (!s) {
        raise(PyExc_TypeError, "Unsupported source dtype: " + std::string(source));
        return std::nullopt;
    }
    const auto t = find_element(target);
    if (!t) {
        raise(PyExc_TypeError, "Unsupported target dtype: " + std::string(target));
        return std::nullopt;
    }
    return std::pair{*s, *t};
}

}  // namespace

std::optional<DtypeKey> array_dtype_key(PyObject* array) {
    const PyRef dtype = PyRef::steal(PyObject_GetAttrString(array, "dtype"));
    const PyRef name = PyRef::steal(dtype ? PyObject_GetAttrString(dtype.get(), "name") : nullptr);
    if (!name) {
        return std::nullopt;
    }
    if (!PyUnicode_Check(name.get())) {
        raise_type_check(name.get(), text_kind);
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size);
    if (text == nullptr) {
        return std::nullopt;
    }
    const std::string_view view(text, static_cast<std::size_t>(size));
    if (const auto index = find_element(view)) {
        return DtypeKey{element_names[*index]};
    }
    raise(PyExc_TypeError, "Unsupported numpy dtype: " + std::string(view));
    return std::nullopt;
}

PyObject* dispatch_alloc(PyObject* arr, std::string_view source, std::string_view target, const CallPolicies& policies) {
    const auto pair = find_pair(source, target);
    return pair ? alloc_drivers[pair->first][pair->second](arr, policies) : nullptr;
}

PyObject* dispatch_into(PyObject* arr, PyObject* out, std::string_view source, std::string_view target,
                        const CallPolicies& policies) {
    const auto pair = find_pair(source, target);
    return pair ? into_drivers[pair->first][pair->second](arr, out, policies) : nullptr;
}

}  // namespace tarnwell::py
