"""Every path through both functions, success and each failure, releases what it takes:
the reference counts of the arguments and the interpreter's allocated blocks stay flat
over thousands of calls."""

import gc
import sys

import numpy as np
import pytest

from _tarnwell import cast_array, cast_array_into

CALLS = 3000


class Hostile:
    def __index__(self):
        raise RuntimeError("index")

    def __repr__(self):
        raise RuntimeError("repr")

    def __str__(self):
        raise RuntimeError("str")


class Disguised(list):
    @property
    def __class__(self):
        raise RuntimeError("no class")


ARR = np.arange(64, dtype=np.int16).reshape(8, 8)
OUT = np.zeros((8, 8), np.uint8)
MAP = {1: 2, 3: 4}
PAIRS = [(1, 2), [3, 4]]
OVERLAP = np.arange(65, dtype=np.int32)


def cases():
    r = dict(rounding_mode="nearest-even")
    yield "alloc", lambda: cast_array(ARR, target_dtype="uint8", out_of_range_mode="clamp", **r)
    yield "into", lambda: cast_array_into(ARR, OUT, scalar_map_entries=MAP, **r)
    yield "pairs", lambda: cast_array(ARR, target_dtype="int8", scalar_map_entries=PAIRS, out_of_range_mode="wrap", **r)
    yield "overlap", lambda: cast_array_into(OVERLAP[1:], OVERLAP[:-1], **r)
    yield "conversion error", lambda: cast_array(ARR * 10, target_dtype="int8", **r)
    yield "conversion error into", lambda: cast_array_into(ARR * 10, OUT, **r)
    yield "missing", lambda: cast_array(ARR)
    yield "unexpected keyword", lambda: cast_array(ARR, target_dtype="uint8", bogus=1, **r)
    yield "multiple values", lambda: cast_array_into(ARR, OUT, out=OUT, **r)
    yield "too many", lambda: cast_array(ARR, "uint8", "nearest-even")
    yield "arr type", lambda: cast_array([1], target_dtype="uint8", **r)
    yield "target type", lambda: cast_array(ARR, target_dtype=np.uint8, **r)
    yield "rounding", lambda: cast_array(ARR, target_dtype="uint8", rounding_mode="x")
    yield "policy", lambda: cast_array(ARR, target_dtype="uint8", out_of_range_mode=1, **r)
    yield "encoding", lambda: cast_array(ARR, target_dtype="\udc80", **r)
    yield "dtype", lambda: cast_array(ARR.astype(bool), target_dtype="uint8", **r)
    yield "target name", lambda: cast_array(ARR, target_dtype="float", **r)
    yield "shape", lambda: cast_array_into(ARR, OUT.ravel(), **r)
    yield "input layout", lambda: cast_array(ARR.T, target_dtype="uint8", **r)
    yield "byte order", lambda: cast_array(ARR.astype(">i2"), target_dtype="uint8", **r)
    yield "output layout", lambda: cast_array_into(ARR, OUT.T, **r)
    yield "not iterable", lambda: cast_array(ARR, target_dtype="uint8", scalar_map_entries=5, **r)
    yield "entry shape", lambda: cast_array(ARR, target_dtype="uint8", scalar_map_entries=[(1, 2, 3)], **r)
    yield "source value", lambda: cast_array(ARR, target_dtype="uint8", scalar_map_entries={"a": 1}, **r)
    yield "target value", lambda: cast_array_into(ARR, OUT, scalar_map_entries=[(1, 300)], **r)
    yield "hostile", lambda: cast_array(ARR, target_dtype="uint8", scalar_map_entries=[(Hostile(), 1)], **r)
    yield "subscript", lambda: cast_array(ARR, target_dtype="uint8", scalar_map_entries=[{1, 2}], **r)
    yield "mapping test", lambda: cast_array(ARR, target_dtype="uint8", scalar_map_entries=Disguised([(1, 2)]), **r)


def run(call):
    try:
        call()
    except Exception:
        pass


@pytest.mark.parametrize("name, call", list(cases()), ids=[name for name, _ in cases()])
def test_no_reference_or_memory_leaks(name, call, monkeypatch):
    monkeypatch.setattr(sys, "unraisablehook", lambda report: None)
    watched = [ARR, OUT, MAP, PAIRS, OVERLAP]
    for _ in range(CALLS // 2):  # fills the interpreter's and NumPy's caches first
        run(call)
    gc.collect()
    counts = [sys.getrefcount(obj) for obj in watched]
    blocks = sys.getallocatedblocks()
    for _ in range(CALLS):
        run(call)
    gc.collect()
    assert [sys.getrefcount(obj) for obj in watched] == counts
    assert sys.getallocatedblocks() - blocks < CALLS // 10
