"""Reading scalar_map_entries: the accepted forms, the value ranges of each element type,
every error and its message, and objects that misbehave while they are read."""

import collections.abc
import sys

import numpy as np
import pytest

from _tarnwell import cast_array, cast_array_into

MODES = dict(rounding_mode="nearest-even")


def convert(data, source, target, scalar_map, **policies):
    arr = np.array(data, dtype=source)
    return cast_array(arr, target_dtype=target, scalar_map_entries=scalar_map, **MODES, **policies).tolist()


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Items(collections.abc.Mapping):
    """A mapping that is no dict and whose items are whatever it is given."""

    def __init__(self, items, length=None):
        self._items = items
        self._length = len(items) if length is None else length

    def __getitem__(self, key):
        raise KeyError(key)

    def __iter__(self):
        return iter(())

    def __len__(self):
        return self._length

    def items(self):
        return list(self._items)


@pytest.mark.parametrize("scalar_map, expected", [
    (None, [1, 2, 3]),
    ({}, [1, 2, 3]),
    ([], [1, 2, 3]),
    ({1: 10}, [10, 2, 3]),
    ([(1, 10), (1, 20)], [10, 2, 3]),  # the first of equal sources wins
    ([[1, 10]], [10, 2, 3]),
    ([{0: 1, 1: 10}], [10, 2, 3]),
    ([np.array([1, 10])], [10, 2, 3]),
    (((1, 10), (3, 30)), [10, 2, 30]),
    ((pair for pair in [(2, 20)]), [1, 20, 3]),
    ({1: 10}.items(), [10, 2, 3]),
    (Items([(3, 30), (3, 31)]), [1, 2, 30]),
    (Items([(2, 20)], length=2**62), [1, 20, 3]),  # the length only sizes a reservation
    (type("D", (dict,), {})({3: 30}), [1, 2, 30]),
    ([(True, 10)], [10, 2, 3]),
    ({np.int64(2): np.int8(20)}, [1, 20, 3]),
    ({Index(3): Index(-30)}, [1, 2, -30]),
    ({1: 127, 2: -128}, [127, -128, 3]),  # a target may hold any value of its type
])
def test_accepted_forms(scalar_map, expected):
    assert convert([1, 2, 3], "int16", "int8", scalar_map) == expected


def test_map_bypasses_range_checks_and_policies():
    assert convert([300, 301], "int16", "int8", {300: -1}, out_of_range_mode="clamp") == [-1, 127]
    with pytest.raises(ValueError, match=r"^Value 301 out of range \[-128, 127\]"):
        convert([300, 301], "int16", "int8", {300: -1})


@pytest.mark.parametrize("source, key", [
    ("int8", -128), ("int8", 127), ("uint8", 255), ("int16", -32768), ("uint16", 65535), ("int32", -2**31),
    ("uint32", 2**32 - 1), ("int64", -2**63), ("int64", 2**63 - 1), ("uint64", 2**64 - 1),
])
def test_integer_sources_accept_their_whole_range(source, key):
    assert convert([key], source, "uint8", {key: 9}) == [9]


VALUE_ERRORS = [
    # (scalar_map, source, target, exception, message)
    (5, "int8", "int8", TypeError, "scalar_map_entries must be a dict or an iterable of (source, target) pairs"),
    ([(1, 2, 3)], "int8", "int8", ValueError, "Each scalar_map entry must be a (source, target) pair"),
    ([5], "int8", "int8", ValueError, "Each scalar_map entry must be a (source, target) pair"),
    ("ab", "int8", "int8", ValueError, "Each scalar_map entry must be a (source, target) pair"),
    ([(1, 2), "x"], "int8", "int8", ValueError, "Each scalar_map entry must be a (source, target) pair"),
    (["ab"], "int8", "int8", TypeError, "scalar_map source value 'a': expected a value convertible to source dtype int8"),
    ([(3.0, 1)], "int16", "int8", TypeError,
     "scalar_map source value 3.0: expected a value convertible to source dtype int16"),
    ({1: 300}, "int32", "uint8", TypeError,
     "scalar_map target value 300: expected a value convertible to target dtype uint8"),
    ({-1: 0}, "uint64", "int8", TypeError, "scalar_map source value -1: expected a value convertible to source dtype uint64"),
    ({2**64: 0}, "uint64", "int8", TypeError,
     "scalar_map source value 18446744073709551616: expected a value convertible to source dtype uint64"),
    ({2**63: 0}, "int64", "int8", TypeError,
     "scalar_map source value 9223372036854775808: expected a value convertible to source dtype int64"),
    ({128: 0}, "int8", "int8", TypeError, "scalar_map source value 128: expected a value convertible to source dtype int8"),
    ({0: -1}, "int8", "uint16", TypeError, "scalar_map target value -1: expected a value convertible to target dtype uint16"),
    ({0: 2**31}, "int8", "int32", TypeError,
     "scalar_map target value 2147483648: expected a value convertible to target dtype int32"),
    ({None: 1}, "int8", "int8", TypeError, "scalar_map source value None: expected a value convertible to source dtype int8"),
    ({"a": "b"}, "int8", "int8", TypeError, "scalar_map source value 'a': expected a value convertible to source dtype int8"),
    ({1: None}, "int8", "int8", TypeError, "scalar_map target value None: expected a value convertible to target dtype int8"),
    ({"nan": 0}, "float64", "int8", TypeError,
     "scalar_map source value 'nan': expected a value convertible to source dtype float64"),
    ({0: "1.5"}, "int8", "float32", TypeError,
     "scalar_map target value '1.5': expected a value convertible to target dtype float32"),
    ({2**1024: 0}, "float16", "int8", TypeError,
     f"scalar_map source value {2**1024}: expected a value convertible to source dtype float16"),
    (Items([[1, 2]]), "int8", "int8", TypeError, "'list' object cannot be converted to 'tuple'"),
    (Items([(1, 2, 3)]), "int8", "int8", ValueError, "expected a tuple of length 2, got a tuple of length 3"),
]


@pytest.mark.parametrize("scalar_map, source, target, error, message", VALUE_ERRORS)
def test_errors(scalar_map, source, target, error, message):
    for call in (lambda: convert([0], source, target, scalar_map),
                 lambda: cast_array_into(np.zeros(1, source), np.zeros(1, target), scalar_map_entries=scalar_map,
                                         **MODES)):
        with pytest.raises(error) as raised:
            call()
        assert type(raised.value) is error and str(raised.value) == message
        assert raised.value.__cause__ is None


def test_subscript_errors_pass_through_unchanged():
    with pytest.raises(TypeError, match="'set' object is not subscriptable"):
        convert([1], "int8", "int8", [{1, 2}])


@pytest.mark.parametrize("source", ["float16", "float32", "float64"])
@pytest.mark.parametrize("key", [1, True, 2.5, np.float32(2.5), np.int8(3), Index(4), float("inf"), float("nan")])
def test_float_sources_read_numbers_and_index_objects(source, key):
    assert convert([], source, "int8", {key: 1}) == []


# Conversion outcomes for float pairs.

def test_nan_key_maps_every_nan():
    data = np.array([np.nan, -np.nan, 1.0, np.float64("nan")], np.float64)
    data[3] = np.frombuffer(np.uint64(0x7FF0000000000123).tobytes(), np.float64)[0]
    result = cast_array(data, target_dtype="uint8", scalar_map_entries={float("nan"): 0}, **MODES)
    assert result.tolist() == [0, 0, 1, 0]


def test_float16_keys_round_through_binary32():
    data = np.array([1.0, 1.0009765625], np.float16)
    assert convert(data, "float16", "uint8", {1.0004882812509095: 0}) == [0, 1]
    inf = np.array([np.inf, -np.inf, 65504], np.float16)
    assert convert(inf, "float16", "int8", {70000.0: 1, -70000.0: 2, 65504.0: 3}) == [1, 2, 3]


def test_float32_keys_round_to_binary32():
    data = np.array([0.1, 0.2], np.float32)
    assert convert(data, "float32", "int8", {0.1: 5, 0.2: 6}) == [5, 6]


def test_float_targets_are_written_unchanged():
    result = cast_array(np.array([0, 1, 2], np.int8), target_dtype="float16",
                        scalar_map_entries={0: float("nan"), 1: float("-inf"), 2: 1e10}, **MODES)
    assert np.isnan(result[0]) and result[1] == -np.inf and result[2] == np.inf


# Objects that misbehave while they are read.

def hostile(*methods, base=object, extra=None):
    """An object whose named methods raise RuntimeError("boom")."""
    namespace = {name: (lambda *args: (_ for _ in ()).throw(RuntimeError("boom"))) for name in methods}
    namespace.update(extra or {})
    return type("Hostile", (base,), namespace)()


@pytest.mark.parametrize("scalar_map, source, error, message", [
    ([(hostile("__index__"), 1)], "int8", TypeError, "scalar_map source value <test_scalar_map.Hostile object at 0x"),
    ([(hostile("__index__", "__repr__", extra={"__str__": lambda self: "shown by str"}), 1)], "int8", TypeError,
     "scalar_map source value shown by str: expected a value convertible to source dtype int8"),
    ([(hostile("__index__", "__repr__", "__str__"), 1)], "int8", TypeError, "scalar_map source value <unprintable"),
    ([(hostile("__float__", extra={"__repr__": lambda self: "F"}), 1)], "float64", TypeError,
     "scalar_map source value F: expected a value convertible to source dtype float64"),
    ([hostile("__len__", extra={"__getitem__": lambda self, i: 1})], "int8", ValueError,
     "Each scalar_map entry must be a (source, target) pair"),
    ([hostile("__getitem__", extra={"__len__": lambda self: 2})], "int8", RuntimeError, "boom"),
    (hostile("__iter__"), "int8", TypeError, "scalar_map_entries must be a dict or an iterable of (source, target) pairs"),
    (hostile("__next__", extra={"__iter__": lambda self: self}), "int8", RuntimeError, "boom"),
    (hostile("__len__", base=Items, extra={"__init__": lambda self: None}), "int8", TypeError,
     "Failed to get length of scalar_map dict."),
    (hostile("items", base=Items, extra={"__init__": lambda self: None, "__len__": lambda self: 1}), "int8",
     RuntimeError, "boom"),
])
def test_misbehaving_objects_raise_python_exceptions(scalar_map, source, error, message):
    with pytest.raises(error) as raised:
        convert([0], source, "int8", scalar_map)
    assert type(raised.value) is error and str(raised.value).startswith(message)


def test_failing_mapping_test_goes_to_the_unraisable_hook(monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)

    class Disguised(list):
        @property
        def __class__(self):
            raise RuntimeError("no class")

    assert convert([1, 2], "int8", "int8", Disguised([(1, 10)])) == [10, 2]
    assert len(reported) == 1 and isinstance(reported[0].exc_value, RuntimeError)


def test_entries_that_grow_the_list_being_read():
    entries = []

    class Grow:
        def __index__(self):
            entries.append((2, 20))  # an entry added meanwhile is read in the same call
            return 1

    entries.append((Grow(), 10))
    assert convert([1, 2, 3], "int8", "int8", entries) == [10, 20, 3]
    assert len(entries) == 2


def test_mapping_changed_while_it_is_read_keeps_the_listed_items():
    mapping = {}

    class Clears:
        def __index__(self):
            mapping.clear()
            mapping[3] = 30
            return 1

        def __hash__(self):
            return 0

    mapping[Clears()] = 10
    mapping[2] = 20
    assert convert([1, 2, 3], "int8", "int8", mapping) == [10, 20, 3]


def test_items_view_of_a_dict_changed_while_it_is_read():
    mapping = {}

    class Grows:
        def __index__(self):
            mapping[len(mapping) + 10] = 0
            return 1

    mapping[Grows()] = 10
    mapping[2] = 20
    with pytest.raises(RuntimeError, match="changed size during iteration"):
        convert([1, 2], "int8", "int8", mapping.items())
