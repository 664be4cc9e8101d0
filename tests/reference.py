"""Exact per-element model of the conversions, used as the oracle of the pair tests.

Everything here is computed with Python integers and `fractions.Fraction`; NumPy is only
used to move raw bit patterns in and out of arrays. Values travel as "raw" Python ints:
the number itself for an integer type, the unsigned bit pattern for a float type.
"""

from __future__ import annotations

import functools
import math
import platform
from dataclasses import dataclass
from fractions import Fraction

import numpy as np

INT_TYPES = ("int8", "int16", "int32", "int64", "uint8", "uint16", "uint32", "uint64")
FLOAT_TYPES = ("float16", "float32", "float64")
ALL_TYPES = INT_TYPES + FLOAT_TYPES
MODES = ("nearest-even", "towards-zero", "towards-positive", "towards-negative", "nearest-away")
POLICIES = (None, "clamp", "wrap")


def is_int(dtype: str) -> bool:
    return dtype in INT_TYPES


def int_limits(dtype: str) -> tuple[int, int]:
    bits = np.dtype(dtype).itemsize * 8
    if dtype.startswith("u"):
        return 0, (1 << bits) - 1
    return -(1 << (bits - 1)), (1 << (bits - 1)) - 1


def int_bits(dtype: str) -> int:
    return np.dtype(dtype).itemsize * 8


# ---------------------------------------------------------------------------------------
# IEEE binary formats, exact


@dataclass(frozen=True)
class Fmt:
    name: str
    exp_bits: int
    frac_bits: int

    @property
    def width(self) -> int:
        return 1 + self.exp_bits + self.frac_bits

    @property
    def bias(self) -> int:
        return (1 << (self.exp_bits - 1)) - 1

    @property
    def sign_bit(self) -> int:
        return 1 << (self.width - 1)

    @property
    def inf_bits(self) -> int:
        return ((1 << self.exp_bits) - 1) << self.frac_bits

    @property
    def quiet_bit(self) -> int:
        return 1 << (self.frac_bits - 1)

    @property
    def frac_mask(self) -> int:
        return (1 << self.frac_bits) - 1

    @property
    def max_bits(self) -> int:
        return self.inf_bits - 1


F16 = Fmt("float16", 5, 10)
F32 = Fmt("float32", 8, 23)
F64 = Fmt("float64", 11, 52)
FMT = {"float16": F16, "float32": F32, "float64": F64}


@dataclass(frozen=True)
class Decoded:
    kind: str  # "nan", "inf" or "fin"
    neg: bool
    mag: Fraction = Fraction(0)

    @property
    def value(self) -> Fraction:
        assert self.kind == "fin"
        return -self.mag if self.neg else self.mag


def decode(bits: int, fmt: Fmt) -> Decoded:
    neg = bool(bits & fmt.sign_bit)
    mag_bits = bits & (fmt.sign_bit - 1)
    exp = mag_bits >> fmt.frac_bits
    frac = mag_bits & fmt.frac_mask
    if exp == (1 << fmt.exp_bits) - 1:
        return Decoded("nan" if frac else "inf", neg)
    if exp == 0:
        mant, e = frac, 1 - fmt.bias - fmt.frac_bits
    else:
        mant, e = frac | (1 << fmt.frac_bits), exp - fmt.bias - fmt.frac_bits
    mag = Fraction(mant << e) if e >= 0 else Fraction(mant, 1 << -e)
    return Decoded("fin", neg, mag)


def is_nan(bits: int, fmt: Fmt) -> bool:
    return (bits & (fmt.sign_bit - 1)) > fmt.inf_bits


def _floor_log2(q: Fraction) -> int:
    e = q.numerator.bit_length() - q.denominator.bit_length()
    if Fraction(2) ** e > q:
        e -= 1
    return e


def _round_half_even(q: Fraction) -> int:
    fl = math.floor(q)
    rest = q - fl
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and fl % 2 == 1):
        return fl + 1
    return fl


def encode_nearest(value: Fraction, fmt: Fmt, neg_zero: bool = False) -> int:
    """Round an exact value to the format: nearest, ties to even, overflow to infinity,
    gradual underflow. `neg_zero` gives the sign of a zero value (and of a result that
    underflows to zero when the value itself is zero)."""
    neg = value < 0 or (value == 0 and neg_zero)
    sign = fmt.sign_bit if neg else 0
    mag = abs(value)
    if mag == 0:
        return sign
    emin = 1 - fmt.bias
    e = max(_floor_log2(mag), emin)
    quantum_exp = e - fmt.frac_bits
    scaled = mag * (Fraction(2) ** -quantum_exp)
    n = _round_half_even(scaled)
    if n == 1 << (fmt.frac_bits + 1):
        n >>= 1
        e += 1
    if e > fmt.bias:
        return sign | fmt.inf_bits
    if n < (1 << fmt.frac_bits):  # subnormal (or zero after underflow)
        return sign | n
    return sign | ((e + fmt.bias) << fmt.frac_bits) | (n - (1 << fmt.frac_bits))


def value_of(bits: int, fmt: Fmt) -> float:
    """A non-NaN value of any format as a Python float (exact: every binary16/32 value
    is a binary64 value)."""
    d = decode(bits, fmt)
    if d.kind == "inf":
        return -math.inf if d.neg else math.inf
    if d.kind == "nan":
        return math.nan
    v = float(d.mag)
    return -v if d.neg else v


def f64_bits(x: float) -> int:
    return int(np.array([x], dtype=np.float64).view(np.uint64)[0])


def from_f64(x: float, fmt: Fmt) -> int:
    """Exact encoding of a binary64 value that the format holds (or any value if fmt is
    binary64)."""
    b = f64_bits(x)
    if fmt is F64:
        return b
    if math.isnan(x):
        raise ValueError("use nan_narrow for NaNs")
    if math.isinf(x):
        return (fmt.sign_bit if x < 0 else 0) | fmt.inf_bits
    out = encode_nearest(Fraction(x), fmt, neg_zero=math.copysign(1.0, x) < 0)
    assert value_of(out, fmt) == x, "value not representable"
    return out


def next_up(bits: int, fmt: Fmt) -> int:
    if bits == fmt.inf_bits:
        return bits
    if bits & (fmt.sign_bit - 1) == 0:
        return 1
    return bits + 1 if not bits & fmt.sign_bit else bits - 1


def next_down(bits: int, fmt: Fmt) -> int:
    if bits == fmt.sign_bit | fmt.inf_bits:
        return bits
    if bits & (fmt.sign_bit - 1) == 0:
        return fmt.sign_bit | 1
    return bits - 1 if not bits & fmt.sign_bit else bits + 1


def nan_widen(bits: int, src: Fmt, dst: Fmt) -> int:
    """A NaN widened: quiet, same sign, fraction bits moved to the top of the wider fraction."""
    sign = dst.sign_bit if bits & src.sign_bit else 0
    frac = (bits & src.frac_mask) << (dst.frac_bits - src.frac_bits)
    return sign | dst.inf_bits | frac | dst.quiet_bit


def nan_narrow(bits: int, src: Fmt, dst: Fmt) -> int:
    """A NaN narrowed: quiet, same sign, leading fraction bits kept."""
    sign = dst.sign_bit if bits & src.sign_bit else 0
    frac = (bits & src.frac_mask) >> (src.frac_bits - dst.frac_bits)
    return sign | dst.inf_bits | frac | dst.quiet_bit


def narrow_nearest(bits: int, src: Fmt, dst: Fmt) -> int:
    """Nearest-even narrowing of one format into a narrower one (a single rounding)."""
    d = decode(bits, src)
    if d.kind == "nan":
        return nan_narrow(bits, src, dst)
    if d.kind == "inf":
        return (dst.sign_bit if d.neg else 0) | dst.inf_bits
    return encode_nearest(d.value, dst, neg_zero=d.neg)


# ---------------------------------------------------------------------------------------
# Errors and their messages


def format_number(x: float) -> str:
    """Shortest round-trip digits, written positionally."""
    if math.isnan(x):
        return "NaN"
    if math.isinf(x):
        return "-inf" if x < 0 else "inf"
    if x == 0:
        return "-0" if math.copysign(1.0, x) < 0 else "0"
    text = repr(abs(x))
    mant, _, exp = text.partition("e")
    int_part, _, frac_part = mant.partition(".")
    digits = int_part + frac_part
    point = len(int_part) + (int(exp) if exp else 0)
    stripped = digits.lstrip("0")
    point -= len(digits) - len(stripped)
    digits = stripped.rstrip("0")
    if point >= len(digits):
        body = digits + "0" * (point - len(digits))
    elif point <= 0:
        body = "0." + "0" * (-point) + digits
    else:
        body = digits[:point] + "." + digits[point:]
    return ("-" if x < 0 else "") + body


@dataclass(frozen=True)
class NanOrInf:
    value: float

    def message(self) -> str:
        return f"Cannot cast {format_number(self.value)} to integer type without scalar_map"


@dataclass(frozen=True)
class OutOfRange:
    value: float
    lo: float
    hi: float

    def message(self) -> str:
        return (
            f"Value {format_number(self.value)} out of range [{format_number(self.lo)}, "
            f"{format_number(self.hi)}]. Set out_of_range='clamp' or out_of_range='wrap' to handle this."
        )


CastError = NanOrInf | OutOfRange


# ---------------------------------------------------------------------------------------
# Scalar-map values


def extract(dtype: str, obj) -> int:
    """The raw value that the module stores for a Python int or float given as a scalar-map
    source or target (floats are rounded to binary32 first, then to binary16)."""
    if is_int(dtype):
        assert isinstance(obj, int)
        lo, hi = int_limits(dtype)
        assert lo <= obj <= hi
        return obj
    b64 = f64_bits(float(obj))
    if dtype == "float64":
        return b64
    b32 = narrow_nearest(b64, F64, F32)
    return b32 if dtype == "float32" else narrow_nearest(b32, F32, F16)


def map_lookup(src: str, entries, raw: int):
    """The target of the first matching entry, or None. Entries hold raw values."""
    if is_int(src):
        for s, t in entries:
            if s == raw:
                return t
        return None
    fmt = FMT[src]
    if is_nan(raw, fmt):
        for s, t in entries:
            if is_nan(s, fmt):
                return t
        return None
    x = decode(raw, fmt)
    for s, t in entries:
        if is_nan(s, fmt):
            continue
        e = decode(s, fmt)
        if x.kind == "inf" or e.kind == "inf":
            if x.kind == e.kind and x.neg == e.neg:
                return t
        elif x.value == e.value:
            return t
    return None


# ---------------------------------------------------------------------------------------
# Integer to integer


def int_to_int(src: str, dst: str, policy, v: int) -> int | CastError:
    smin, smax = int_limits(src)
    dmin, dmax = int_limits(dst)
    lo, hi = max(smin, dmin), min(smax, dmax)
    if lo <= v <= hi:
        return v
    if policy is None:
        return OutOfRange(float(v), float(lo), float(hi))
    if policy == "clamp":
        return lo if v < lo else hi
    w = int_bits(dst)
    low = v & ((1 << w) - 1)
    return low - (1 << w) if not dst.startswith("u") and low >= 1 << (w - 1) else low


# ---------------------------------------------------------------------------------------
# Float rounding to integral values and float to integer


def round_float_sum(value: Fraction, fmt: Fmt) -> Fraction:
    """An ordinary addition result in a format: the exact sum rounded to nearest-even."""
    d = decode(encode_nearest(value, fmt), fmt)
    assert d.kind == "fin"
    return d.value


def round_integral(x: Decoded, mode: str, work: Fmt) -> Decoded:
    """Rounding of a float to an integral value of its type; `work` is the format whose
    addition the nearest-away rule uses (binary32 for a binary16 value)."""
    if x.kind != "fin":
        return x
    v = x.value
    if mode == "nearest-even":
        r = Fraction(_round_half_even(v))
    elif mode == "towards-zero":
        r = Fraction(math.trunc(v))
    elif mode == "towards-positive":
        r = Fraction(math.ceil(v))
    elif mode == "towards-negative":
        r = Fraction(math.floor(v))
    else:
        r = Fraction(math.floor(round_float_sum(x.mag + Fraction(1, 2), work)))
        r = -r if x.neg else r
    return Decoded("fin", x.neg, abs(r))  # the sign of a zero result is the sign of x


def working_format(src: str) -> Fmt:
    return F32 if src == "float16" else FMT[src]


def float_int_bounds(src: str, dst: str) -> tuple[Decoded, Decoded]:
    """The target's limits rounded to nearest into the source float type (binary16 through
    binary32), an infinity beyond its range."""
    fmt = FMT[src]
    out = []
    for limit in int_limits(dst):
        bits = encode_nearest(Fraction(limit), F32 if src == "float16" else fmt)
        if src == "float16":
            bits = narrow_nearest(bits, F32, F16)
        out.append(decode(bits, fmt))
    return out[0], out[1]


def _as_float(d: Decoded) -> float:
    if d.kind == "inf":
        return -math.inf if d.neg else math.inf
    if d.kind == "nan":
        return math.nan
    return float(d.value) if d.mag != 0 else (-0.0 if d.neg else 0.0)


def _less(a: Decoded, b: Decoded) -> bool:
    return _as_key(a) < _as_key(b)


def _as_key(d: Decoded):
    if d.kind == "inf":
        return -math.inf if d.neg else math.inf
    return d.value


def saturate_trunc(d: Decoded, dst: str) -> int:
    lo, hi = int_limits(dst)
    if d.kind == "inf":
        return lo if d.neg else hi
    return min(max(math.trunc(d.value), lo), hi)


def float_to_int(src: str, dst: str, mode: str, policy, raw: int, *, fast_check: bool = False) -> int | CastError:
    fmt = FMT[src]
    x = decode(raw, fmt)
    if x.kind == "nan":
        return NanOrInf(math.nan if not x.neg else -math.nan)
    work = working_format(src)
    r = round_integral(x, mode, work)
    lo, hi = float_int_bounds(src, dst)
    below, above = _less(r, lo), _less(hi, r)
    if policy is None:
        if below or above:
            reported = _as_float(x) if fast_check else _as_float(r)
            return OutOfRange(reported, _as_float(lo), _as_float(hi))
        return saturate_trunc(r, dst)
    if policy == "clamp":
        return saturate_trunc(lo if below else hi if above else r, dst)
    if r.kind == "inf":
        return NanOrInf(_as_float(r))
    if not (below or above):
        return saturate_trunc(r, dst)
    modulus = Fraction(1 << int_bits(dst))
    a = round_float_sum(r.value - lo.value, work)
    rem = a - modulus * math.trunc(a / modulus)
    m = round_float_sum(rem + modulus, work) if rem < 0 else rem
    v = round_float_sum(m + lo.value, work)
    return saturate_trunc(Decoded("fin", v < 0, abs(v)), dst)


# ---------------------------------------------------------------------------------------
# Integer to float


def int_to_float(dst: str, mode: str, x: int) -> int:
    fmt = FMT[dst]
    if dst == "float16":
        r = narrow_nearest(encode_nearest(Fraction(x), F32), F32, F16)
    else:
        r = encode_nearest(Fraction(x), fmt)
    if mode == "nearest-even":
        return r
    e = float(x)  # Python's int to float conversion rounds to nearest, ties to even
    f = value_of(r, fmt)
    if e == f:
        return r
    if mode == "towards-zero":
        if abs(e) < abs(f):
            return next_down(r, fmt) if x >= 0 else next_up(r, fmt)
        return r
    if mode == "towards-positive":
        return next_up(r, fmt) if e > f else r
    if mode == "towards-negative":
        return next_down(r, fmt) if e < f else r
    k = next_up(r, fmt) if e > f else next_down(r, fmt)
    kf = value_of(k, fmt)
    return k if e == (f + kf) * 0.5 and abs(kf) > abs(f) else r


# ---------------------------------------------------------------------------------------
# Float to float


def float_to_float(src: str, dst: str, mode: str, policy, raw: int) -> int | CastError:
    sf, df = FMT[src], FMT[dst]
    if src == dst:
        return raw
    x = decode(raw, sf)
    if df.frac_bits > sf.frac_bits:
        if x.kind == "nan":
            return nan_widen(raw, sf, df)
        if x.kind == "inf":
            return (df.sign_bit if x.neg else 0) | df.inf_bits
        return encode_nearest(x.value, df, neg_zero=x.neg)
    if src == "float64" and dst == "float16":
        r = narrow_nearest(narrow_nearest(raw, F64, F32), F32, F16)
    else:
        r = narrow_nearest(raw, sf, df)
    if x.kind == "nan":
        return r
    if mode != "nearest-even":
        xv = _as_float(x)
        f = value_of(r, df)
        if xv != f:
            if mode == "towards-zero":
                if abs(xv) < abs(f):
                    r = next_down(r, df) if not x.neg else next_up(r, df)
            elif mode == "towards-positive":
                if xv > f:
                    r = next_up(r, df)
            elif mode == "towards-negative":
                if xv < f:
                    r = next_down(r, df)
            else:
                k = next_up(r, df) if xv > f else next_down(r, df)
                kf = value_of(k, df)
                if xv == (f + kf) * 0.5 and abs(kf) > abs(f):
                    r = k
    if x.kind == "fin" and decode(r, df).kind == "inf" and policy != "clamp":
        top = value_of(df.max_bits, df)
        return OutOfRange(_as_float(x), -top, top)
    return r


# ---------------------------------------------------------------------------------------
# One element, one slice


def convert_element(src: str, dst: str, mode: str, policy, raw: int, entries=(), *, fast_check=False):
    """The raw destination value of one source element, or the CastError it raises."""
    if entries:
        hit = map_lookup(src, entries, raw)
        if hit is not None:
            return hit
    if is_int(src):  # the family ignores the other setting: share cached results
        mode, policy = (None, policy) if is_int(dst) else (mode, None)
    return _convert_unmapped(src, dst, mode, policy, raw, fast_check)


@functools.lru_cache(maxsize=1 << 20)
def _convert_unmapped(src: str, dst: str, mode, policy, raw: int, fast_check: bool):
    if is_int(src) and is_int(dst):
        return int_to_int(src, dst, policy, raw)
    if is_int(src):
        return int_to_float(dst, mode, raw)
    if is_int(dst):
        return float_to_int(src, dst, mode, policy, raw, fast_check=fast_check)
    return float_to_float(src, dst, mode, policy, raw)


def is_error(result) -> bool:
    return isinstance(result, (NanOrInf, OutOfRange))


# Processors whose build carries the vector fast paths.
HAS_FAST_PATHS = platform.machine().lower() in ("x86_64", "amd64", "aarch64", "arm64")

# (source, target, policy) -> block size of the float-to-integer fast paths.
FLOAT_INT_FAST_PATHS = {
    ("float32", "uint8", "clamp"): 8,
    ("float64", "uint8", "clamp"): 8,
    ("float64", "int32", "clamp"): 2,
    ("float64", "int32", None): 2,
}


def fast_path_kind(src, dst, mode, policy, entries):
    """Which fast path takes a whole slice: ("block", size, checks_range), ("f64_f32",)
    or None for the element loop."""
    if not HAS_FAST_PATHS or entries:
        return None
    if (src, dst) == ("float64", "float32"):
        return ("f64_f32",) if mode == "nearest-even" else None
    size = FLOAT_INT_FAST_PATHS.get((src, dst, policy))
    if size is None or mode == "nearest-away":
        return None
    return ("block", size, policy is None)


def convert_slice(src, dst, mode, policy, raws, out, entries=()):
    """Model of a whole conversion into the destination `out` (a list of raw values,
    modified in place). Returns the CastError or None."""
    kind = fast_path_kind(src, dst, mode, policy, entries)
    if kind is None:
        for i, raw in enumerate(raws):
            result = convert_element(src, dst, mode, policy, raw, entries)
            if is_error(result):
                return result
            out[i] = result
        return None
    if kind[0] == "f64_f32":
        results = [convert_element(src, dst, mode, "clamp", raw) for raw in raws]
        out[: len(raws)] = results
        if policy == "clamp":
            return None
        for raw in raws:
            result = convert_element(src, dst, mode, policy, raw)
            if is_error(result):
                return result
        return None
    _, size, checks_range = kind
    n = len(raws)
    whole = n - n % size
    for start in range(0, whole, size):
        block = raws[start : start + size]
        nans = [raw for raw in block if is_nan(raw, FMT[src])]
        if nans:
            return convert_element(src, dst, mode, policy, nans[0])
        results = [convert_element(src, dst, mode, policy, raw, fast_check=checks_range) for raw in block]
        for result in results:
            if is_error(result):
                return result
        out[start : start + size] = results
    for i in range(whole, n):
        result = convert_element(src, dst, mode, policy, raws[i], fast_check=checks_range)
        if is_error(result):
            return result
        out[i] = result
    return None


# ---------------------------------------------------------------------------------------
# Arrays of raw values


def raw_dtype(dtype: str) -> np.dtype:
    return np.dtype(dtype) if is_int(dtype) else np.dtype(f"uint{np.dtype(dtype).itemsize * 8}")


def to_array(dtype: str, raws) -> np.ndarray:
    return np.array(list(raws), dtype=raw_dtype(dtype)).view(dtype)


def to_raws(arr: np.ndarray) -> list[int]:
    dtype = arr.dtype.name
    return [int(v) for v in np.ascontiguousarray(arr).reshape(-1).view(raw_dtype(dtype)).tolist()]


def raw_of(dtype: str, x) -> int:
    """The raw value of a number that the type holds exactly (a float NaN gives the quiet
    NaN of that sign)."""
    if is_int(dtype):
        return int(x)
    fmt = FMT[dtype]
    x = float(x)
    if math.isnan(x):
        return (fmt.sign_bit if math.copysign(1.0, x) < 0 else 0) | fmt.inf_bits | fmt.quiet_bit
    return from_f64(x, fmt)
