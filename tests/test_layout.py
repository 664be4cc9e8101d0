"""Which array layouts are read and written in place, which are refused, and what a call
leaves behind in the destination on success and on failure."""

import numpy as np
import pytest
from numpy.lib.stride_tricks import as_strided

from _tarnwell import cast_array, cast_array_into

MODES = dict(rounding_mode="nearest-even")
INPUT_REFUSED = "Input array must be row-major (C-contiguous)"
OUTPUT_REFUSED = "Output array must be row-major (C-contiguous) and writeable"

PACKED = np.dtype([("a", "<i4"), ("b", "u1")], align=False)  # item size 5: field "a" steps by 5 bytes


def grid():
    return np.arange(12, dtype=np.int16).reshape(3, 4)


def read_only(array):
    array.flags.writeable = False
    return array


def misaligned(dtype, count):
    """A C-contiguous array of `count` elements that starts one byte past an aligned address."""
    itemsize = np.dtype(dtype).itemsize
    raw = np.zeros(count * itemsize + 16, np.uint8)
    start = 1 + (-raw.ctypes.data) % 16
    return raw[start:start + count * itemsize].view(dtype)


def packed_field(count):
    records = np.zeros(count, PACKED)
    records["b"] = 7
    return records["a"]


@pytest.mark.parametrize("make, accepted", [
    (lambda: grid(), True),
    (lambda: read_only(grid()), True),
    (lambda: grid().T, False),
    (lambda: np.asfortranarray(grid()), False),
    (lambda: grid()[:, ::2], False),
    (lambda: grid()[::-1], False),
    (lambda: grid().ravel()[2:3:5], True),  # one element taken with a step: NumPy marks it contiguous
    (lambda: as_strided(grid(), shape=(3, 1), strides=(2, 7)), True),  # a length-1 axis may step anyhow
    (lambda: np.array(5, dtype=np.int16), True),
    (lambda: np.zeros((0, 3), np.int16), True),
    (lambda: packed_field(4), False),  # NumPy compares byte strides with the item size
])
def test_input_layouts(make, accepted):
    arr = make()
    if accepted:
        result = cast_array(arr, target_dtype="int64", **MODES)
        assert result.shape == arr.shape and result.flags.c_contiguous and result.tolist() == arr.tolist()
    else:
        with pytest.raises(ValueError) as raised:
            cast_array(arr, target_dtype="int64", **MODES)
        assert str(raised.value) == INPUT_REFUSED


@pytest.mark.parametrize("make, accepted", [
    (lambda: np.zeros((3, 4), np.int32), True),
    (lambda: np.zeros((4, 3), np.int32).T, False),
    (lambda: np.zeros((3, 4), np.int32, order="F"), False),
    (lambda: np.zeros((3, 8), np.int32)[:, ::2], False),
    (lambda: np.zeros(12, np.int32)[::-1], False),
    (lambda: read_only(np.zeros((3, 4), np.int32)), False),
    (lambda: as_strided(np.zeros(3, np.int32), shape=(3, 1), strides=(4, 7)), True),
    (lambda: np.zeros((), np.int32), True),
    # Byte strides that are no multiple of the item size: stepping by elements would
    # write across neighbouring bytes.
    (lambda: as_strided(np.zeros(8, np.int32), shape=(3,), strides=(6,)), False),
    (lambda: as_strided(np.zeros(16, np.int32), shape=(2, 3), strides=(14, 4)), False),
    (lambda: packed_field(4), False),
])
def test_output_layouts(make, accepted):
    out = make()
    arr = np.arange(out.size, dtype=np.int8).reshape(out.shape)
    before = out.copy()
    if accepted:
        assert cast_array_into(arr, out, **MODES) is None
        assert out.tolist() == arr.tolist()
    else:
        with pytest.raises(ValueError) as raised:
            cast_array_into(arr, out, **MODES)
        assert str(raised.value) == OUTPUT_REFUSED
        assert out.tolist() == before.tolist()


def test_packed_record_field_keeps_its_neighbours():
    records = np.zeros(4, PACKED)
    records["b"] = 7
    with pytest.raises(ValueError, match="row-major"):
        cast_array_into(np.array([-1, -1, -1, -1], np.int32), records["a"], **MODES)
    assert records["a"].tolist() == [0, 0, 0, 0] and records["b"].tolist() == [7, 7, 7, 7]


@pytest.mark.parametrize("source, target", [("int16", "int32"), ("int64", "int64"), ("uint32", "int8")])
def test_misaligned_arrays_convert_correctly(source, target):
    arr = misaligned(source, 37)
    arr[:] = np.arange(37)
    assert not arr.flags.aligned
    assert cast_array(arr, target_dtype=target, **MODES).tolist() == list(range(37))
    out = misaligned(target, 37)
    assert cast_array_into(arr, out, **MODES) is None
    assert out.tolist() == list(range(37))


def test_failure_on_misaligned_destination_keeps_partial_write():
    out = misaligned("int16", 4)
    out[:] = 9
    with pytest.raises(ValueError):
        cast_array_into(np.array([1, 2, 40000, 4], np.int32), out, **MODES)
    assert out.tolist() == [1, 2, 9, 9]


def test_conversion_failure_leaves_out_partly_written_and_returns_nothing():
    arr = np.array([1, 2, 300, 4], np.int16)
    out = np.full(4, 9, np.uint8)
    message = "Value 300 out of range [0, 255]. Set out_of_range='clamp' or out_of_range='wrap' to handle this."
    with pytest.raises(ValueError) as raised:
        cast_array_into(arr, out, **MODES)
    assert str(raised.value) == message and out.tolist() == [1, 2, 9, 9]
    with pytest.raises(ValueError) as raised:
        cast_array(arr, target_dtype="uint8", **MODES)
    assert str(raised.value) == message
    assert arr.tolist() == [1, 2, 300, 4]


def test_nan_sentinel_failure_leaves_every_element_before_the_failing_one():
    # Long enough for the vector kernels, with the failure just after a NaN in one block.
    arr = np.full(40, 4.0)
    arr[20] = np.nan
    arr[21] = 2147483647.6
    out = np.full(40, 9, np.int32)
    with pytest.raises(ValueError) as raised:
        cast_array_into(arr, out, scalar_map_entries={float("nan"): -1}, **MODES)
    assert str(raised.value).startswith("Value 2147483648 out of range")
    assert out.tolist() == [4] * 20 + [-1] + [9] * 19


def test_failures_before_the_conversion_leave_out_untouched():
    out = np.full(4, 9, np.uint8)
    for kwargs in (dict(scalar_map_entries={1: 300}), dict(scalar_map_entries=5), dict(rounding_mode="x")):
        call = dict(MODES, **kwargs)
        with pytest.raises((TypeError, ValueError)):
            cast_array_into(np.array([1, 2, 3, 4], np.int16), out, **call)
        assert out.tolist() == [9, 9, 9, 9]


def test_empty_arrays_still_validate_the_scalar_map():
    arr = np.zeros((0, 3), np.int16)
    result = cast_array(arr, target_dtype="float32", **MODES)
    assert result.shape == (0, 3) and result.dtype == np.float32
    assert cast_array_into(arr, read_only(np.zeros((0, 3), np.uint8)), **MODES) is None
    assert cast_array_into(arr, np.zeros((3, 0), np.uint8).T, **MODES) is None
    for call in (lambda: cast_array(arr, target_dtype="uint8", scalar_map_entries=5, **MODES),
                 lambda: cast_array_into(arr, np.zeros((0, 3), np.uint8), scalar_map_entries=5, **MODES)):
        with pytest.raises(TypeError, match="scalar_map_entries must be a dict"):
            call()


def test_zero_dimensional_arrays_convert():
    result = cast_array(np.array(-3, np.int64), target_dtype="int8", **MODES)
    assert result.shape == () and result.dtype == np.int8 and int(result) == -3
    out = np.zeros((), np.uint16)
    cast_array_into(np.array(7, np.int8), out, **MODES)
    assert int(out) == 7


def test_the_same_array_as_input_and_output_converts_in_place():
    a = np.array([[1, 5], [5, 2]], np.int32)
    cast_array_into(a, a, **MODES)
    assert a.tolist() == [[1, 5], [5, 2]]
    cast_array_into(a, a, scalar_map_entries={5: 7}, **MODES)
    assert a.tolist() == [[1, 7], [7, 2]]


@pytest.mark.parametrize("shift", [1, -1])
def test_overlapping_views_read_the_input_before_it_is_overwritten(shift):
    base = np.arange(10, dtype=np.int32)
    expected = base.copy()
    arr, out = (base[1:], base[:-1]) if shift == 1 else (base[:-1], base[1:])
    cast_array_into(arr, out, **MODES)
    assert out.tolist() == (expected[1:] if shift == 1 else expected[:-1]).tolist()


def test_overlap_between_different_element_types():
    base = np.array([300, -2, 1000, 7, 5, 6, 0, 1], np.int16)
    arr = base.copy()
    out = base.view(np.uint8)[:8]  # the low and high bytes of the first four input elements
    cast_array_into(base, out, out_of_range_mode="clamp", **MODES)
    assert out.tolist() == np.clip(arr, 0, 255).tolist()


def test_arrays_of_many_dimensions():
    if np.__version__.startswith("1."):
        pytest.skip("NumPy 1 allows at most 32 dimensions")
    arr = np.arange(3, dtype=np.int16).reshape((1,) * 39 + (3,))
    result = cast_array(arr, target_dtype="int64", **MODES)
    assert result.shape == arr.shape and result.ravel().tolist() == [0, 1, 2]
    out = np.zeros(arr.shape, np.int8)
    cast_array_into(arr, out, **MODES)
    assert out.ravel().tolist() == [0, 1, 2]


def test_identity_pair_returns_an_exact_copy():
    arr = np.array([-128, 5, 127], np.int8)
    result = cast_array(arr, target_dtype="int8", **MODES)
    assert result.tolist() == [-128, 5, 127] and not np.shares_memory(result, arr)
    assert cast_array(arr, target_dtype="int8", scalar_map_entries=[(5, 7)], **MODES).tolist() == [-128, 7, 127]
