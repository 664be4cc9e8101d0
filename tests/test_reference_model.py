"""Checks of the exact model itself against hand-worked cases and independent roundings,
so that the pair tests compare the module with something trustworthy."""

import math
import random
from fractions import Fraction

import numpy as np
import pytest

import reference as ref
from reference import F16, F32, F64, MODES

NE, TZ, TP, TN, NA = MODES
ALL_MODES = MODES
INF = math.inf
NAN = math.nan
OOR_TAIL = ". Set out_of_range='clamp' or out_of_range='wrap' to handle this."


def oor(value, lo, hi):
    return f"Value {value} out of range [{lo}, {hi}]{OOR_TAIL}"


def nan_or_inf(value):
    return f"Cannot cast {value} to integer type without scalar_map"


def run(src, dst, mode, policy, x, entries=()):
    result = ref.convert_element(src, dst, mode, policy, ref.raw_of(src, x), entries)
    return result.message() if ref.is_error(result) else result


def expect(dst, expected, got):
    if isinstance(expected, str):
        assert got == expected
    elif ref.is_int(dst):
        assert got == expected
    elif math.isnan(expected):
        assert isinstance(got, int) and ref.is_nan(got, ref.FMT[dst])
    else:
        assert got == ref.raw_of(dst, expected), (hex(got), expected)


@pytest.mark.parametrize(
    "x, text",
    [
        (255.0, "255"),
        (1.5, "1.5"),
        (0.1, "0.1"),
        (1e-7, "0.0000001"),
        (2.0**64, "18446744073709552000"),
        (-(2.0**63), "-9223372036854776000"),
        (3.4028234663852886e38, "340282346638528860000000000000000000000"),
        (1e300, "1" + "0" * 300),
        (2147483647.5, "2147483647.5"),
        (65519.998046875, "65519.998046875"),
        (NAN, "NaN"),
        (-NAN, "NaN"),
        (INF, "inf"),
        (-INF, "-inf"),
        (0.0, "0"),
        (-0.0, "-0"),
    ],
)
def test_number_printing(x, text):
    assert ref.format_number(x) == text


def _round(src, mode, x):
    d = ref.round_integral(ref.decode(ref.raw_of(src, x), ref.FMT[src]), mode, ref.working_format(src))
    return math.copysign(float(d.mag), -1.0 if d.neg else 1.0)


@pytest.mark.parametrize(
    "src, mode, x, expected",
    [
        ("float64", NE, 2.5, 2.0),
        ("float64", NE, 3.5, 4.0),
        ("float64", NE, -2.5, -2.0),
        ("float64", NE, 0.5, 0.0),
        ("float64", NE, -0.4, -0.0),
        ("float64", TZ, -2.7, -2.0),
        ("float64", TZ, -0.7, -0.0),
        ("float64", TP, 2.1, 3.0),
        ("float64", TP, -0.5, -0.0),
        ("float64", TN, -2.1, -3.0),
        ("float64", TN, 0.7, 0.0),
        ("float64", NA, 2.5, 3.0),
        ("float64", NA, -2.5, -3.0),
        ("float64", NA, 2.49, 2.0),
        ("float64", NA, -0.3, -0.0),
        # the addition of one half rounds in binary32 and binary64, not in binary16
        ("float32", NA, 0.5 - 2**-25, 1.0),
        ("float32", NA, 8388609.0, 8388610.0),
        ("float32", NA, -8388609.0, -8388610.0),
        ("float32", NA, 8388610.0, 8388610.0),
        ("float32", NA, 16777216.0, 16777216.0),
        ("float64", NA, 0.49999999999999994, 1.0),
        ("float64", NA, 4503599627370497.0, 4503599627370498.0),
        ("float16", NA, 0.5 - 2**-12, 0.0),
        ("float16", NE, 1023.5, 1024.0),
        ("float16", NA, 1023.5, 1024.0),
        ("float16", TZ, 1023.5, 1023.0),
        ("float16", TN, 1023.5, 1023.0),
    ],
)
def test_round_integral(src, mode, x, expected):
    got = _round(src, mode, x)
    assert got == expected and math.copysign(1.0, got) == math.copysign(1.0, expected)


F64_I32_BOUNDS = ("-2147483648", "2147483647")

FLOAT_TO_INT_CASES = [
    # (src, dst, modes, policies, x, expected)
    ("float64", "uint8", [NE], [None], 255.5, oor(256, 0, 255)),
    ("float64", "uint8", [TZ], [None], 255.9, 255),
    ("float64", "uint8", [TZ], [None], -0.9, 0),
    ("float64", "uint8", [NE], [None], -0.6, oor(-1, 0, 255)),
    ("float64", "uint8", [NE], [None], -0.4, 0),
    ("float64", "uint8", [NE], ["clamp"], 254.5, 254),
    ("float64", "uint8", [NA], ["clamp"], 254.5, 255),
    ("float64", "uint8", [NA], ["clamp"], -0.5, 0),
    ("float32", "uint8", [NA], ["clamp"], 0.5 - 2**-25, 1),
    ("float64", "int8", [NE], [None], INF, oor("inf", -128, 127)),
    ("float64", "int8", [NE], ["clamp"], INF, 127),
    ("float64", "int8", [NE], ["clamp"], -INF, -128),
    ("float64", "int8", [NE], ["wrap"], -INF, nan_or_inf("-inf")),
    ("float64", "int8", ALL_MODES, ["clamp"], NAN, nan_or_inf("NaN")),
    ("float64", "int8", [NE], [None], -NAN, nan_or_inf("NaN")),
    ("float64", "int8", [NE], ["wrap"], 300.0, 44),
    ("float64", "int8", [NE], ["wrap"], -300.0, -44),
    ("float64", "int8", [NE], ["wrap"], -129.0, 127),
    ("float64", "int8", [NE], ["wrap"], 128.0, -128),
    ("float64", "int8", [NE], ["wrap"], 1e300, -128),
    ("float64", "int64", [NE], [None, "clamp", "wrap"], 2.0**63, 2**63 - 1),
    ("float64", "int64", [NE], [None], 1e19, oor(10000000000000000000, -9223372036854776000, 9223372036854776000)),
    ("float64", "int64", [NE], ["wrap"], 1e19, -8446744073709551616),
    ("float64", "int64", [NE], ["wrap"], 2.0**64, 0),
    ("float32", "int32", [NE], [None, "clamp", "wrap"], 2.0**31, 2**31 - 1),
    ("float32", "int32", [NE], [None], 3e9, oor(3000000000, -2147483648, 2147483648)),
    ("float64", "int32", [NE], [None], 2.0**31, oor(2147483648, *F64_I32_BOUNDS)),
    ("float64", "int32", [NE], ["clamp"], 2.0**31, 2**31 - 1),
    ("float64", "int32", [NE], ["wrap"], 2.0**31, -(2**31)),
    ("float64", "uint64", [NE], [None], 2.0**64, 2**64 - 1),
    ("float64", "uint64", [NE], ["wrap"], -1.0, 2**64 - 1),
    ("float64", "uint64", [NE], ["wrap"], -2.0, 2**64 - 1),
    ("float32", "uint32", [NE], ["wrap"], -2.0, 2**32 - 1),
    ("float32", "uint32", [NE], ["wrap"], -3000.0, 4294964224),
    ("float16", "int16", [NE], [None, "clamp", "wrap"], 32768.0, 32767),
    ("float16", "int16", [NE], [None], 40000.0, oor(40000, -32768, 32768)),
    ("float16", "int16", [NE], ["clamp"], 40000.0, 32767),
    ("float16", "int16", [NE], ["clamp"], -40000.0, -32768),
    ("float16", "int16", [NE], ["wrap"], 40000.0, -25536),
    ("float16", "int16", [NE], ["wrap"], -40000.0, 25536),
    ("float16", "int16", [NE], ["wrap"], 65504.0, -32),
    ("float16", "uint16", [NE], ["wrap"], -1.0, 65535),
    ("float16", "uint16", [NE], ["wrap"], -2.0, 65534),
    ("float16", "uint16", [NE], ["wrap"], -40000.0, 25536),
    ("float16", "uint16", [NE], ["wrap"], INF, nan_or_inf("inf")),
    ("float16", "uint16", [NE], [None], INF, 65535),
    ("float16", "uint16", [NE], [None], -1.0, oor(-1, 0, "inf")),
    ("float16", "uint16", [NE], [None], -INF, oor("-inf", 0, "inf")),
    ("float16", "uint32", [NE], ["wrap"], -2.0, 2**32 - 1),
    ("float16", "int8", [NE], ["wrap"], 65504.0, -32),
    ("float16", "int8", [NE], ["wrap"], 40000.0, 64),
    ("float16", "int8", [NE], ["wrap"], -40000.0, -64),
    ("float16", "int8", [NE], ["wrap"], 300.0, 44),
    ("float16", "int32", [NE], [None, "clamp"], INF, 2**31 - 1),
    ("float16", "int32", [NE], [None, "clamp"], -INF, -(2**31)),
    ("float16", "int32", [NE], ["wrap"], INF, nan_or_inf("inf")),
    ("float16", "int32", [NE], ["wrap"], -INF, nan_or_inf("-inf")),
    ("float16", "int32", [NE], [None, "clamp", "wrap"], 65504.0, 65504),
]


def _expand(cases):
    for src, dst, modes, policies, x, expected in cases:
        for mode in modes:
            for policy in policies:
                yield pytest.param(src, dst, mode, policy, x, expected, id=f"{src}-{dst}-{mode}-{policy}-{x}")


@pytest.mark.parametrize("src, dst, mode, policy, x, expected", list(_expand(FLOAT_TO_INT_CASES)))
def test_float_to_int(src, dst, mode, policy, x, expected):
    expect(dst, expected, run(src, dst, mode, policy, x))


INT_TO_FLOAT_CASES = [
    ("uint16", "float16", [NE, NA, TP], 65535, INF),
    ("uint16", "float16", [TZ, TN], 65535, 65504.0),
    ("int32", "float16", [TP], -70000, -65504.0),
    ("int32", "float16", [TN], -70000, -INF),
    ("int32", "float16", [TZ], -65519, -65504.0),
    ("int32", "float16", [NE, NA], -65519, -65504.0),
    ("int32", "float16", [NE, NA], -65520, -INF),
    ("int16", "float16", [NE, NA, TP], 32767, 32768.0),
    ("int16", "float16", [TZ, TN], 32767, 32752.0),
    ("uint16", "float16", [NE, TZ], 2049, 2048.0),
    ("uint16", "float16", [NA, TP], 2049, 2050.0),
    ("int16", "float16", [NE, TZ, TP], -2049, -2048.0),
    ("int16", "float16", [NA, TN], -2049, -2050.0),
    ("int32", "float32", [NE, TZ], 16777217, 16777216.0),
    ("int32", "float32", [NA, TP], 16777217, 16777218.0),
    ("int32", "float32", [NA, TN], -16777217, -16777218.0),
    ("int64", "float32", [TP], 2**53 + 1, 2.0**53),
    ("int64", "float64", ALL_MODES, 2**53 + 1, 2.0**53),
    ("uint64", "float32", ALL_MODES, 2**64 - 1, 2.0**64),
    ("uint64", "float64", ALL_MODES, 2**64 - 1, 2.0**64),
    ("int8", "float16", ALL_MODES, 0, 0.0),
    ("uint64", "float32", ALL_MODES, 0, 0.0),
    # Above 2^53 the exactness test sees the binary64 rounding of x: just below a binary32
    # halfway point, x rounds to the halfway value in binary64 and moves away from zero.
    ("int64", "float32", [NA], 2**60 + 2**36 - 1, 2.0**60 + 2**37),
    ("int64", "float32", [NE], 2**60 + 2**36 - 1, 2.0**60),
    ("int64", "float32", [TZ], 2**60 + 2**36 + 1, 2.0**60),
    ("int64", "float32", [TN], -(2**60) - 1, -(2.0**60)),
]


@pytest.mark.parametrize(
    "src, dst, mode, x, expected",
    [(s, d, m, x, e) for s, d, modes, x, e in INT_TO_FLOAT_CASES for m in modes],
)
def test_int_to_float(src, dst, mode, x, expected):
    for policy in ref.POLICIES:  # no policy ever applies
        expect(dst, expected, run(src, dst, mode, policy, x))


F32_MAX = 3.4028234663852886e38
F32_BOUNDS = ("-340282346638528860000000000000000000000", "340282346638528860000000000000000000000")
BIG = "1" + "0" * 300

FLOAT_TO_FLOAT_CASES = [
    ("float64", "float32", [NE], ["clamp"], 1e300, INF),
    ("float64", "float32", [NE], [None, "wrap"], 1e300, oor(BIG, *F32_BOUNDS)),
    ("float64", "float32", [TZ], [None, "clamp", "wrap"], 1e300, F32_MAX),
    ("float64", "float32", [TN], [None], -1e300, oor("-" + BIG, *F32_BOUNDS)),
    ("float64", "float32", [TN], [None], 1e300, F32_MAX),
    ("float64", "float32", [NE], [None], 3.4028235677973362e38, F32_MAX),
    ("float64", "float32", [NE], [None], 3.4028235677973366e38, oor("340282356779733660000000000000000000000", *F32_BOUNDS)),
    ("float32", "float16", [NE], [None], 65519.0, 65504.0),
    ("float32", "float16", [NE], ["clamp"], 65520.0, INF),
    ("float32", "float16", [NE], [None, "wrap"], 65520.0, oor(65520, -65504, 65504)),
    ("float32", "float16", [TP], ["clamp"], 65505.0, INF),
    ("float32", "float16", [TP], [None], 65505.0, oor(65505, -65504, 65504)),
    ("float64", "float16", [NE], [None], 65519.999, oor(65519.999, -65504, 65504)),
    ("float64", "float16", [NE], ["clamp"], 65519.999, INF),
    ("float64", "float16", [NE], [None], 65519.998046875, oor(65519.998046875, -65504, 65504)),
    ("float64", "float16", [NE], [None], 65519.998046874, 65504.0),
    ("float32", "float16", [NE], [None], 2**-25, 0.0),
    ("float32", "float16", [NA, TP], [None], 2**-25, 2**-24),
    ("float32", "float16", [NE], [None], -(2**-25), -0.0),
    ("float32", "float16", [NA, TN], [None], -(2**-25), -(2**-24)),
    ("float32", "float16", [TZ], [None], -(2**-25), -0.0),
    ("float32", "float16", [NE], [None], 1 + 2**-11, 1.0),
    ("float32", "float16", [NA], [None], 1 + 2**-11, 1 + 2**-10),
    ("float64", "float16", [NE, NA], [None], 1 + 2**-11 + 2**-30, 1.0),
    ("float64", "float16", [TP], [None], 1 + 2**-11 + 2**-30, 1 + 2**-10),
    ("float64", "float16", ALL_MODES, [None, "clamp", "wrap"], INF, INF),
    ("float64", "float32", ALL_MODES, [None, "clamp", "wrap"], -INF, -INF),
    ("float64", "float16", ALL_MODES, [None, "wrap"], NAN, NAN),
    ("float16", "float64", ALL_MODES, [None], 65504.0, 65504.0),
    ("float16", "float64", ALL_MODES, [None], 2**-14 - 2**-24, 2**-14 - 2**-24),
    ("float32", "float32", ALL_MODES, [None], -0.0, -0.0),
]


@pytest.mark.parametrize("src, dst, mode, policy, x, expected", list(_expand(FLOAT_TO_FLOAT_CASES)))
def test_float_to_float(src, dst, mode, policy, x, expected):
    expect(dst, expected, run(src, dst, mode, policy, x))


@pytest.mark.parametrize(
    "src, dst, raw, expected",
    [
        ("float32", "float32", 0x7F800001, 0x7F800001),  # a signalling NaN is copied bit for bit
        ("float16", "float32", 0xFC01, 0xFFC02000),  # widened NaNs are quiet, payload on top
        ("float32", "float64", 0x7F812345, 0x7FF0_0000_0000_0000 | (0x12345 << 29) | (1 << 51)),
        ("float64", "float32", 0xFFF0_0000_2000_0001, 0xFFC00001),  # narrowed: leading bits kept
        ("float64", "float16", 0x7FF4_0000_0000_0000, 0x7F00),
        ("float32", "float16", 0x7F802001, 0x7E01),
    ],
)
def test_nan_payloads(src, dst, raw, expected):
    for mode in MODES:
        assert ref.convert_element(src, dst, mode, None, raw) == expected


INT_TO_INT_CASES = [
    ("int8", "uint8", [None], -1, oor(-1, 0, 127)),
    ("int8", "uint8", ["clamp"], -128, 0),
    ("int8", "uint8", ["wrap"], -128, 128),
    ("int8", "uint8", ["wrap"], -1, 255),
    ("uint8", "int8", ["clamp"], 200, 127),
    ("uint8", "int8", ["clamp"], 128, 127),
    ("uint8", "int8", ["wrap"], 200, -56),
    ("uint8", "int8", ["wrap"], 128, -128),
    ("int32", "int16", ["wrap"], 32768, -32768),
    ("int32", "int16", ["wrap"], -32769, 32767),
    ("int32", "int16", ["clamp"], -32769, -32768),
    ("int64", "uint64", [None], -1, oor(-1, 0, 9223372036854776000)),
    ("uint64", "int64", ["clamp"], 2**64 - 1, 2**63 - 1),
    ("uint64", "int64", ["wrap"], 2**64 - 1, -1),
    ("uint64", "int64", ["wrap"], 2**63, -(2**63)),
    ("uint64", "int64", [None], 2**64 - 1, oor(18446744073709552000, 0, 9223372036854776000)),
    ("int64", "int8", [None], -(2**63), oor(-9223372036854776000, -128, 127)),
    ("int8", "uint64", ["wrap"], -1, 2**64 - 1),
    ("int8", "uint64", ["clamp"], -1, 0),
    ("int16", "int8", ["wrap"], 300, 44),
    ("int16", "int8", ["wrap"], -300, -44),
    ("int32", "int8", ["wrap"], -129, 127),
    ("int64", "uint32", ["wrap"], -1, 4294967295),
    ("int16", "uint32", ["wrap"], -2, 4294967294),
    ("int8", "int64", [None, "clamp", "wrap"], -128, -128),
    ("uint32", "int64", [None], 4294967295, 4294967295),
]


@pytest.mark.parametrize(
    "src, dst, policy, x, expected",
    [(s, d, p, x, e) for s, d, policies, x, e in INT_TO_INT_CASES for p in policies],
)
def test_int_to_int(src, dst, policy, x, expected):
    for mode in MODES:  # the rounding mode plays no part
        expect(dst, expected, run(src, dst, mode, policy, x))


def _entries(src, dst, pairs):
    return [(ref.extract(src, s), ref.extract(dst, t)) for s, t in pairs]


@pytest.mark.parametrize(
    "src, dst, policy, pairs, x, expected",
    [
        ("float64", "uint8", None, [(NAN, 1), (NAN, 2)], -NAN, 1),
        ("float32", "int8", None, [(0.0, 7)], -0.0, 7),
        ("float32", "int8", "wrap", [(NAN, 7), (0.0, 9)], 5.0, 5),
        ("int16", "int8", None, [(5, 1), (5, 2)], 5, 1),
        ("int16", "int8", None, [(300, -1)], 300, -1),
        ("int16", "int8", None, [(300, -1)], 301, oor(301, -128, 127)),
        ("float16", "uint8", None, [(1.0004882812509095, 3)], 1.0, 3),
        ("float16", "uint8", None, [(70000.0, 4)], INF, 4),
        ("float16", "uint8", None, [(70000.0, 4)], 65504.0, oor(65504, 0, 255)),
        ("float64", "float32", None, [(1e300, NAN)], 1e300, NAN),
        ("float64", "float16", None, [(INF, 1.0)], -INF, -INF),
        ("int64", "float16", None, [(0, 65520.0)], 0, INF),
    ],
)
def test_scalar_map(src, dst, policy, pairs, x, expected):
    expect(dst, expected, run(src, dst, NE, policy, x, _entries(src, dst, pairs)))


def _slice(src, dst, mode, policy, xs, sentinel, entries=()):
    out = [ref.raw_of(dst, sentinel)] * len(xs)
    error = ref.convert_slice(src, dst, mode, policy, [ref.raw_of(src, x) for x in xs], out, entries)
    return (error.message() if error else None), out


def test_fast_path_contracts():
    if not ref.HAS_FAST_PATHS:
        pytest.skip("no vector fast paths on this processor")
    raw = lambda dtype, xs: [ref.raw_of(dtype, x) for x in xs]  # noqa: E731
    # the range-checking path reports the unrounded value and writes no part of the pair
    assert _slice("float64", "int32", TZ, None, [1.0, 3e9], 9) == (oor(3000000000, *F64_I32_BOUNDS), [9, 9])
    assert _slice("float64", "int32", NA, None, [1.0, 3e9], 9) == (oor(3000000000, *F64_I32_BOUNDS), [1, 9])
    assert _slice("float64", "int32", NE, None, [2147483647.5, 1.0], 9)[0] == oor(2147483647.5, *F64_I32_BOUNDS)
    assert _slice("float64", "int32", TZ, None, [2147483647.5, 1.0], 9) == (None, [2**31 - 1, 1])
    assert _slice("float64", "int32", NE, None, [3e9, NAN], 9)[0] == nan_or_inf("NaN")
    assert _slice("float64", "int32", NE, None, [0.0, 3e9, 2.0], 9) == (oor(3000000000, *F64_I32_BOUNDS), [9, 9, 9])
    assert _slice("float64", "int32", NE, None, [0.0, 1.0, 2.0, 3e9, 4.0], 9)[1] == [0, 1, 9, 9, 9]
    assert _slice("float64", "int32", NE, None, [0.0, 1.0, -3e9], 9)[1] == [0, 1, 9]
    # the clamping paths write whole blocks of 8 before the block with the NaN
    xs = [float(i) for i in range(16)]
    xs[10] = NAN
    assert _slice("float64", "uint8", NE, "clamp", xs, 99) == (nan_or_inf("NaN"), list(range(8)) + [99] * 8)
    assert _slice("float32", "uint8", NE, "clamp", [-0.0, -1.0, np.float32(255.4), np.float32(255.6), INF, -INF, 0.5, 1.5], 99) == (
        None,
        [0, 0, 255, 255, 255, 0, 0, 2],
    )
    assert _slice("float64", "int32", TN, "clamp", [-1e300, INF], 9) == (None, [-(2**31), 2**31 - 1])
    assert _slice("float64", "int32", TN, "clamp", [1.0, 2.0, 3.0, NAN], 9) == (nan_or_inf("NaN"), [1, 2, 9, 9])
    # the float64 to float32 path writes everything before it looks for an overflow
    error, out = _slice("float64", "float32", NE, None, [1e39, 1.0, NAN, 2.0], 7.0)
    assert error == oor("1" + "0" * 39, *F32_BOUNDS)
    assert out[:2] + out[3:] == raw("float32", [INF, 1.0, 2.0]) and ref.is_nan(out[2], F32)
    assert _slice("float64", "float32", TZ, None, [1.0, 1e39], 7.0) == (None, raw("float32", [1.0, F32_MAX]))
    assert _slice("float64", "float32", TP, None, [1.0, 1e39, 2.0], 7.0)[1] == raw("float32", [1.0, 7.0, 7.0])


def test_element_loop_contracts():
    assert _slice("int16", "uint8", NE, None, [1, 2, 300, 4], 9) == (oor(300, 0, 255), [1, 2, 9, 9])
    assert _slice("float64", "int8", NE, "clamp", [1.0, NAN, 2.0], 5) == (nan_or_inf("NaN"), [1, 5, 5])
    entries = _entries("float64", "uint8", [(1e300, 3)])
    assert _slice("float64", "uint8", NE, None, [1e300, -5.0], 9, entries) == (oor(-5, 0, 255), [3, 9])
    entries = _entries("int16", "int8", [(5, 9), (1000, 3)])
    assert _slice("int16", "int8", NE, None, [5, 1000, 1001], 0, entries) == (oor(1001, -128, 127), [9, 3, 0])
    entries = _entries("float32", "int8", [(NAN, 7), (0.0, 9)])
    assert _slice("float32", "int8", NE, "wrap", [NAN, -0.0, 5.0], 0, entries) == (None, [7, 9, 5])


# -------------------------------------------------------------------------------------
# Cross-checks against independent derivations


def _directed(value: Fraction, fmt, mode) -> int:
    """Correctly directed rounding of an exact value onto the grid of the format."""
    if value == 0:
        return 0
    mag = abs(value)
    e = min(max(math.floor(math.log2(mag)) + 2, 1 - fmt.bias), fmt.bias)
    while Fraction(2) ** e > mag and e > 1 - fmt.bias:
        e -= 1
    q = Fraction(2) ** (e - fmt.frac_bits)
    top = ref.decode(fmt.max_bits, fmt).value
    lower = max(math.floor(value / q) * q, -top - 1)  # -top - 1 stands for -infinity
    upper = min(math.ceil(value / q) * q, top + 1)  # top + 1 stands for +infinity
    lower, upper = min(lower, top), max(upper, -top)
    if mode == TZ:
        pick = lower if value > 0 else upper
    elif mode == TP:
        pick = upper
    else:
        pick = lower
    if abs(pick) > top:
        return (fmt.sign_bit if pick < 0 else 0) | fmt.inf_bits
    return ref.encode_nearest(pick, fmt, neg_zero=value < 0)


def _random_finite(rng, fmt, count):
    out = []
    while len(out) < count:
        bits = rng.getrandbits(fmt.width)
        if ref.decode(bits, fmt).kind == "fin":
            out.append(bits)
    return out


@pytest.mark.parametrize("src, dst", [("float32", "float16"), ("float64", "float16"), ("float64", "float32")])
def test_narrowing_directed_modes_are_correctly_directed(src, dst):
    rng = random.Random(src + dst)
    sf, df = ref.FMT[src], ref.FMT[dst]
    near = [ref.encode_nearest(Fraction(rng.uniform(-70000, 70000)), sf) for _ in range(300)]
    for bits in _random_finite(rng, sf, 300) + near:
        x = ref.decode(bits, sf).value
        for mode in (TZ, TP, TN):
            got = ref.convert_element(src, dst, mode, "clamp", bits)
            want = _directed(x, df, mode)
            if x == 0 or ref.decode(got, df).mag == 0:
                assert ref.decode(got, df).mag == ref.decode(want, df).mag
            else:
                assert got == want, (hex(bits), mode)


@pytest.mark.parametrize("src, dst", [("int32", "float16"), ("int32", "float32"), ("int64", "float32")])
def test_int_to_float_directed_modes_are_correctly_directed_up_to_2_53(src, dst):
    rng = random.Random(src + dst)
    df = ref.FMT[dst]
    lo, hi = ref.int_limits(src)
    xs = [rng.randint(max(lo, -(2**53)), min(hi, 2**53)) for _ in range(500)]
    xs += [rng.randint(-70000, 70000) for _ in range(500)]
    for x in xs:
        for mode in (TZ, TP, TN):
            want = _directed(Fraction(x), df, mode)
            assert ref.convert_element(src, dst, mode, None, x) == want, (x, mode)


def test_encoder_agrees_with_hardware_nearest_narrowing():
    rng = np.random.default_rng(7)
    b64 = rng.integers(0, 2**64, 4000, dtype=np.uint64)
    b64 = np.concatenate([b64, np.array([ref.f64_bits(v) for v in rng.uniform(-7e4, 7e4, 2000)], dtype=np.uint64)])
    x64 = b64.view(np.float64)
    x64 = x64[~np.isnan(x64)]
    with np.errstate(over="ignore"):
        f32 = x64.astype(np.float32)
    for x, want in zip(x64.tolist(), f32.view(np.uint32).tolist()):
        assert ref.narrow_nearest(ref.f64_bits(x), F64, F32) == want
    b32 = rng.integers(0, 2**32, 4000, dtype=np.uint64).astype(np.uint32)
    b32 = np.concatenate([b32, rng.uniform(-7e4, 7e4, 2000).astype(np.float32).view(np.uint32)])
    x32 = b32.view(np.float32)
    x32 = x32[~np.isnan(x32)]
    with np.errstate(over="ignore"):
        f16 = x32.astype(np.float16)
    for bits, want in zip(x32.view(np.uint32).tolist(), f16.view(np.uint16).tolist()):
        assert ref.narrow_nearest(bits, F32, F16) == want


def test_float64_to_float16_rounds_twice():
    x = 1 + 2**-11 + 2**-30
    assert ref.narrow_nearest(ref.f64_bits(x), F64, F16) == ref.raw_of("float16", 1 + 2**-10)  # single rounding
    assert ref.convert_element("float64", "float16", NE, None, ref.f64_bits(x)) == ref.raw_of("float16", 1.0)
