"""Every (source, target) pair under every rounding mode and out-of-range policy, checked
element by element against the exact model in reference.py: converted values bit for bit,
error messages, and what cast_array_into leaves in the destination after an error."""

import itertools
import math
import re
import zlib
from fractions import Fraction

import numpy as np
import pytest

import reference as ref
from reference import ALL_TYPES, FLOAT_TYPES, FMT, MODES, POLICIES

_tarnwell = pytest.importorskip("_tarnwell")

PAIRS = list(itertools.product(ALL_TYPES, ALL_TYPES))
ERROR_ARRAY_LENGTH = 19  # two blocks of 8 and a tail of 3
ERROR_POSITIONS = (0, 1, 7, 8, 10, 17, 18)
ERRORS_PER_CALL_SET = 5


# -------------------------------------------------------------------------------------
# Data


def _interesting_magnitudes():
    two = Fraction(2)
    values = [
        0, Fraction(1, 4), Fraction(1, 2), 1, Fraction(3, 2), 2, Fraction(5, 2), Fraction(7, 2),
        two**-25, two**-24, two**-14, two**-14 - two**-24, 1 + two**-11, 1 + two**-11 + two**-30,
        Fraction(2047, 2), 2049, 2**24 + 1, 2**24 + 3, 8388609, 2**52 + 1, 2**53 + 1, 2**53 + 3,
        2**31, 2**31 - Fraction(1, 2), 2**32, 2**63, 2**64, 2**60 + 2**36, 3 * 10**9, 10**19,
        32767, 32768, 40000, 65504, 65505, 65519, 65520, Fraction(65519.998046875), Fraction(1e300),
        Fraction(3.4028234663852886e38), Fraction(3.4028235677973366e38), 300, 128, 129,
        Fraction(511, 2), 256,
    ]
    return [Fraction(v) for v in values]


def _target_limits(dst):
    if ref.is_int(dst):
        lo, hi = ref.int_limits(dst)
        w = ref.int_bits(dst)
        return [lo, hi, lo - 1, hi + 1, lo - Fraction(1, 2), hi + Fraction(1, 2), 2**w, 2**w - 1, 2**w + 2, -(2**w)]
    top = ref.decode(FMT[dst].max_bits, FMT[dst]).value
    return [top, -top]


def _candidates(src, dst):
    mags = _interesting_magnitudes()
    values = set(mags) | {-m for m in mags} | set(Fraction(v) for v in _target_limits(dst))
    if ref.is_int(src):
        values |= set(Fraction(v) for v in _target_limits(src))
    return values


def _float_specials(fmt):
    s = fmt.sign_bit
    return [
        0, s, fmt.inf_bits, s | fmt.inf_bits,
        fmt.inf_bits | fmt.quiet_bit, s | fmt.inf_bits | fmt.quiet_bit,  # quiet NaNs
        fmt.inf_bits | 1, s | fmt.inf_bits | fmt.frac_mask,  # signalling NaN, full payload
        fmt.inf_bits | fmt.quiet_bit | 0x15,  # quiet NaN with a payload
        1, s | 1, fmt.frac_mask, 1 << fmt.frac_bits, fmt.max_bits, s | fmt.max_bits,
    ]


def _raws_near(src, values):
    """Source values at and around the given exact values (one step on either side)."""
    out = []
    if ref.is_int(src):
        lo, hi = ref.int_limits(src)
        for v in values:
            for n in (math.floor(v) - 1, math.floor(v), math.ceil(v), math.ceil(v) + 1):
                if lo <= n <= hi:
                    out.append(n)
        return out
    fmt = FMT[src]
    for v in values:
        r = ref.encode_nearest(v, fmt)
        out += [r, ref.next_up(r, fmt), ref.next_down(r, fmt)]
    return out


def boundary_raws(src, dst):
    out = _raws_near(src, sorted(_candidates(src, dst)))
    if not ref.is_int(src):
        out += _float_specials(FMT[src])
    return list(dict.fromkeys(out))


def random_raws(src, dst, rng, count=64):
    """A quarter uniform over the whole source type, the rest around the target's range."""
    if ref.is_int(src):
        lo, hi = ref.int_limits(src)
        out = [int(v) for v in rng.integers(lo, hi, count // 4, endpoint=True, dtype=np.dtype(src))]
    else:
        width = FMT[src].width
        out = [int(v) for v in rng.integers(0, 2**width - 1, count // 4, endpoint=True, dtype=np.uint64)]
    rest = count - len(out)
    if ref.is_int(dst):
        dlo, dhi = ref.int_limits(dst)
        span = dhi - dlo
        values = [Fraction(float(v)) for v in rng.uniform(dlo - span / 4 - 2, dhi + span / 4 + 2, rest)]
        values[: rest // 2] = [Fraction(round(v * 4), 4) for v in values[: rest // 2]]  # halves, quarters
    else:
        top = float(ref.decode(FMT[dst].max_bits, FMT[dst]).value)
        with np.errstate(over="ignore"):
            mags = np.minimum(np.exp2(rng.uniform(-26, math.log2(top) + 0.01, rest)), top)
        values = [Fraction(float(m * s)) for m, s in zip(mags, rng.choice([-1.0, 1.0], rest))]
        values[: rest // 2] = [_random_midpoint(dst, rng) for _ in range(rest // 2)]
    if ref.is_int(src):
        lo, hi = ref.int_limits(src)
        out += [min(max(math.floor(v), lo), hi) for v in values]
    else:
        fmt = FMT[src]
        near = [ref.encode_nearest(v, fmt) for v in values]
        steps = rng.integers(-1, 1, len(near), endpoint=True)  # exactly at, or one step off
        out += [ref.next_up(r, fmt) if k > 0 else ref.next_down(r, fmt) if k < 0 else r for r, k in zip(near, steps)]
    return out


def _random_midpoint(dst, rng):
    """The point halfway between two neighbouring finite values of a float type."""
    fmt = FMT[dst]
    lower = int(rng.integers(0, fmt.max_bits, endpoint=False))
    mid = (ref.decode(lower, fmt).value + ref.decode(lower + 1, fmt).value) / 2
    return -mid if rng.integers(2) else mid


def pair_data(src, dst):
    rng = np.random.default_rng(zlib.crc32(f"{src}>{dst}".encode()))
    return boundary_raws(src, dst) + random_raws(src, dst, rng)


_DATA = {}


def data_for(src, dst):
    if (src, dst) not in _DATA:
        _DATA[(src, dst)] = pair_data(src, dst)
    return _DATA[(src, dst)]


def sentinel(dst):
    """A recognisable destination value for elements that must stay untouched."""
    if ref.is_int(dst):
        return ref.int_limits(dst)[1] - 13
    return ref.raw_of(dst, -123.25)


# -------------------------------------------------------------------------------------
# Calls and comparisons


def cast_array(raws, src, dst, mode, policy, entries=None):
    out = _tarnwell.cast_array(
        ref.to_array(src, raws),
        target_dtype=dst,
        rounding_mode=mode,
        out_of_range_mode=policy,
        scalar_map_entries=entries,
    )
    assert out.dtype == np.dtype(dst) and out.shape == (len(raws),)
    return ref.to_raws(out)


def cast_array_into(raws, src, dst, mode, policy, entries=None):
    """The destination after the call (pre-filled with the sentinel) and the error text."""
    out = ref.to_array(dst, [sentinel(dst)] * len(raws))
    try:
        _tarnwell.cast_array_into(
            ref.to_array(src, raws), out, rounding_mode=mode, out_of_range_mode=policy, scalar_map_entries=entries
        )
        error = None
    except ValueError as e:
        error = str(e)
    return ref.to_raws(out), error


def describe(src, dst, raws, got, want):
    lines = []
    for i, (x, g, w) in enumerate(zip(raws, got, want)):
        if g != w:
            lines.append(f"  [{i}] source {_show(src, x)}: got {_show(dst, g)}, want {_show(dst, w)}")
    return f"{len(lines)} element(s) differ:\n" + "\n".join(lines[:8])


def _show(dtype, raw):
    if ref.is_int(dtype):
        return str(raw)
    fmt = FMT[dtype]
    if ref.is_nan(raw, fmt):
        return f"NaN(0x{raw:0{fmt.width // 4}x})"
    return f"{ref.value_of(raw, fmt)!r}(0x{raw:0{fmt.width // 4}x})"


def expected_slice(src, dst, mode, policy, raws, entries=()):
    out = [sentinel(dst)] * len(raws)
    error = ref.convert_slice(src, dst, mode, policy, raws, out, entries)
    return out, (error.message() if error else None)


def check_slice(src, dst, mode, policy, raws, py_entries=None, model_entries=()):
    """Both entry points on one array: values bit for bit, or the exact error and the
    destination contents it leaves."""
    want_out, want_error = expected_slice(src, dst, mode, policy, raws, model_entries)
    got_out, got_error = cast_array_into(raws, src, dst, mode, policy, py_entries)
    assert got_error == want_error
    assert got_out == want_out, describe(src, dst, raws, got_out, want_out)
    if want_error is None:
        got = cast_array(raws, src, dst, mode, policy, py_entries)
        assert got == want_out, describe(src, dst, raws, got, want_out)
    else:
        with pytest.raises(ValueError, match=f"^{re.escape(want_error)}$"):
            cast_array(raws, src, dst, mode, policy, py_entries)


# -------------------------------------------------------------------------------------
# All pairs, modes and policies


def _ids(pair):
    return f"{pair[0]}-{pair[1]}"


@pytest.mark.parametrize("policy", POLICIES, ids=lambda p: str(p))
@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("pair", PAIRS, ids=_ids)
def test_pair(pair, mode, policy):
    src, dst = pair
    raws = data_for(src, dst)
    results = [ref.convert_element(src, dst, mode, policy, x) for x in raws]
    good = [x for x, r in zip(raws, results) if not ref.is_error(r)]
    bad = [x for x, r in zip(raws, results) if ref.is_error(r)]

    check_slice(src, dst, mode, policy, good)

    # Error arrays: successful elements around one failing element at a varying position,
    # sometimes followed by a second failing one (only the first may be reported, except
    # where a vector path looks at a NaN of the same block first).
    if not bad:
        return
    picks = bad[:: max(1, len(bad) // ERRORS_PER_CALL_SET)][:ERRORS_PER_CALL_SET]
    for j, failing in enumerate(picks):
        position = ERROR_POSITIONS[j % len(ERROR_POSITIONS)]
        raws = [good[(j * 7 + k) % len(good)] for k in range(ERROR_ARRAY_LENGTH)]
        raws[position] = failing
        if j % 2 and position + 1 < ERROR_ARRAY_LENGTH:
            nans = [x for x in bad if not ref.is_int(src) and ref.is_nan(x, FMT[src])]
            raws[position + 1] = nans[0] if nans else bad[-1]
        check_slice(src, dst, mode, policy, raws)


# -------------------------------------------------------------------------------------
# Scalar maps across the families

NAN = math.nan
INF = math.inf

SCALAR_MAP_CASES = [
    # (src, dst, mode, policy, entries, data) -- data values are exact in the source type
    ("float64", "uint8", "nearest-even", None, [(NAN, 0), (NAN, 1)], [1.0, NAN, -NAN, "nan_payload", 300.0]),
    ("float32", "int8", "nearest-even", None, [(0.0, 7)], [0.0, -0.0, 1.0, 0.5]),
    ("float16", "int8", "towards-zero", "wrap", [(NAN, 7), (0.0, 9)], [NAN, -0.0, 5.5, 300.0, INF]),
    ("float16", "uint16", "nearest-even", None, [(1.0004882812509095, 3), (70000.0, 4)], [1.0, INF, 2.0, -INF]),
    ("float16", "uint16", "nearest-even", None, [(70000.0, 4)], [65504.0, -1.0]),
    ("int16", "int8", "nearest-even", None, [(5, 1), (5, 2), (300, -1)], [5, 300, 7, 301]),
    ("uint64", "int64", "nearest-even", None, [(2**64 - 1, 0)], [2**64 - 1, 3, 2**63]),
    ("int8", "int8", "nearest-even", None, [(5, 7), (-128, 127)], [5, -128, 6, 127]),
    ("int32", "float16", "towards-zero", None, [(0, NAN), (70000, 1.0), (1, 70000.0)], [0, 70000, 1, 70001, 2049]),
    ("uint64", "float32", "towards-positive", "wrap", [(3, 0.1)], [3, 2**64 - 1, 2**24 + 1]),
    ("float64", "float32", "nearest-even", None, [(1e300, 2.0), (NAN, -INF)], [1e300, NAN, 1.0, 1e39, 5.0]),
    ("float64", "float16", "nearest-away", "clamp", [(INF, 1.0), (-0.0, -2.0)], [INF, 0.0, -INF, 1e10]),
    ("float32", "float32", "towards-zero", None, [(1.5, NAN)], [1.5, "snan", -0.0]),
    ("float64", "float64", "nearest-even", None, [(-0.0, 5.0)], [0.0, -0.0, 1.0]),
    ("float16", "float64", "nearest-even", "wrap", [(NAN, 0.25)], [NAN, "nan_payload", 65504.0]),
    # a scalar map turns the vector paths off: the element loop's errors and writes apply
    ("float64", "int32", "towards-zero", None, [(3e9, 5)], [1.0, 3e9, 2.5, 4e9, 6.0]),
    ("float64", "int32", "nearest-even", "clamp", [(-1.0, 42)], [float(i) for i in range(10)] + [NAN] + [1.0] * 5),
    ("float64", "uint8", "towards-negative", "clamp", [(7.0, 8)], [7.0] * 9 + [NAN] + [7.0] * 6),
    ("float32", "uint8", "nearest-even", "clamp", [(NAN, 200)], [NAN] * 9 + [-5.0, 300.0]),
]


def _source_raw(src, x):
    if x == "nan_payload":
        fmt = FMT[src]
        return fmt.sign_bit | fmt.inf_bits | fmt.quiet_bit | 0x2A5
    if x == "snan":
        return FMT[src].inf_bits | 3
    return ref.raw_of(src, x)


@pytest.mark.parametrize("src, dst, mode, policy, entries, data", SCALAR_MAP_CASES)
@pytest.mark.parametrize("form", ["list", "dict"])
def test_scalar_map(src, dst, mode, policy, entries, data, form):
    if form == "dict":
        keys = [repr(s) for s, _ in entries]
        if len(set(keys)) < len(keys):
            pytest.skip("duplicate keys need the list form")
    py_entries = dict(entries) if form == "dict" else list(entries)
    model_entries = [(ref.extract(src, s), ref.extract(dst, t)) for s, t in entries]
    check_slice(src, dst, mode, policy, [_source_raw(src, x) for x in data], py_entries, model_entries)


@pytest.mark.parametrize("src", FLOAT_TYPES)
def test_identity_copies_every_bit_pattern(src):
    fmt = FMT[src]
    rng = np.random.default_rng(1)
    raws = _float_specials(fmt) + [int(v) for v in rng.integers(0, 2**fmt.width - 1, 200, endpoint=True, dtype=np.uint64)]
    for mode in MODES:
        for policy in POLICIES:
            assert cast_array(raws, src, src, mode, policy) == raws


@pytest.mark.parametrize(
    "src, dst, policy",
    [
        ("float32", "uint8", "clamp"),
        ("float64", "uint8", "clamp"),
        ("float64", "int32", "clamp"),
        ("float64", "int32", None),
        ("float64", "float32", None),
    ],
)
def test_slice_lengths_around_vector_blocks(src, dst, policy):
    """Every length up to two blocks and a tail, with and without a failing last element."""
    mode = "nearest-even"
    raws = data_for(src, dst)
    results = [ref.convert_element(src, dst, mode, policy, x) for x in raws]
    good = [x for x, r in zip(raws, results) if not ref.is_error(r)]
    failing = next(x for x, r in zip(raws, results) if ref.is_error(r))
    for n in range(18):
        check_slice(src, dst, mode, policy, good[:n])
        check_slice(src, dst, mode, policy, good[:n] + [failing])
