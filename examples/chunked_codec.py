"""A codec's hot loop at realistic scale: ten million float64 humidity readings (percent,
sampled every second, with sensor drift past the limits and NaN gaps where the logger
was down) stored chunk by chunk, first as uint8 with a NaN sentinel, then as float16
lower bounds. Prints what was stored and the time taken next to NumPy's nearest
equivalent, which needs several passes and temporaries for the same policy."""

import time
import warnings

import numpy as np

from _tarnwell import cast_array, cast_array_into

N = 10_000_000
CHUNK = 1 << 20
SENTINEL = 255

rng = np.random.default_rng(7)
t = np.arange(N) / 86_400.0
readings = 55 + 30 * np.sin(2 * np.pi * t) + rng.normal(0, 8, N)  # drifts below 0 and above 100
for start in rng.integers(0, N - 600, 400):  # logger outages of up to ten minutes
    readings[start:start + rng.integers(1, 600)] = np.nan


def best_of(run, repeats=5):
    times = []
    for _ in range(repeats):
        begin = time.perf_counter()
        run()
        times.append(time.perf_counter() - begin)
    return min(times)


def tarnwell_uint8():
    out = np.empty(N, dtype=np.uint8)
    for start in range(0, N, CHUNK):
        cast_array_into(readings[start:start + CHUNK], out[start:start + CHUNK], rounding_mode="nearest-even",
                        out_of_range_mode="clamp", scalar_map_entries={float("nan"): SENTINEL})
    return out


def numpy_uint8():
    out = np.empty(N, dtype=np.uint8)
    for start in range(0, N, CHUNK):
        chunk = readings[start:start + CHUNK]
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            out[start:start + CHUNK] = np.where(np.isnan(chunk), SENTINEL, np.clip(np.rint(chunk), 0, 255))
    return out


def tarnwell_float16():
    out = np.empty(N, dtype=np.float16)
    for start in range(0, N, CHUNK):
        cast_array_into(readings[start:start + CHUNK], out[start:start + CHUNK], rounding_mode="towards-negative")
    return out


stored = tarnwell_uint8()
reference = numpy_uint8()
gaps = np.isnan(readings)
print(f"{N:,} readings, {np.count_nonzero(gaps):,} in gaps, "
      f"{np.count_nonzero(readings < 0):,} below 0 % (clamped to 0)")
print(f"uint8: {readings.nbytes / 1e6:.0f} MB -> {stored.nbytes / 1e6:.0f} MB, "
      f"gaps kept as {SENTINEL}: {np.array_equal(stored == SENTINEL, gaps | (reference == SENTINEL))}, "
      f"same bytes as NumPy's equivalent: {np.array_equal(stored, reference)}")
ours, theirs = best_of(tarnwell_uint8), best_of(numpy_uint8)
print(f"  tarnwell {ours * 1e3:6.1f} ms   numpy {theirs * 1e3:6.1f} ms   ({theirs / ours:.1f}x)")

lower = tarnwell_float16()
present = ~gaps
print(f"float16 towards-negative: every stored value <= its reading: "
      f"{bool(np.all(lower[present].astype(np.float64) <= readings[present]))}, "
      f"numpy's nearest rounds {np.count_nonzero(readings.astype(np.float16)[present] > readings[present]):,} upwards")
ours, theirs = best_of(tarnwell_float16), best_of(lambda: readings.astype(np.float16))
print(f"  tarnwell {ours * 1e3:6.1f} ms   numpy nearest {theirs * 1e3:6.1f} ms   ({theirs / ours:.1f}x)")

try:
    cast_array(readings, target_dtype="uint8", rounding_mode="nearest-even")
except ValueError as error:
    print(f"with no policy and no scalar map the codec refuses: ValueError: {error}")
