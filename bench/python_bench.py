"""Module-level throughput on 10^7-element arrays: each conversion next to NumPy's nearest
equivalent and a memcpy that reads and writes as many bytes in all as the conversion
does, medians of interleaved runs in one process. Run with the module installed:
python bench/python_bench.py"""

import statistics
import time
import warnings

import numpy as np

from _tarnwell import cast_array_into

N = 10_000_000
REPEATS = 11
rng = np.random.default_rng(1)
f64 = rng.normal(100, 60, N)
f64_gaps = f64.copy()
f64_gaps[rng.random(N) < 0.01] = np.nan
i32 = rng.integers(-1000, 1000, N, dtype=np.int32)


def numpy_quiet(run):
    def quiet():
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            run()
    return quiet


# (label, source, target dtype, keyword arguments, NumPy's nearest equivalent)
CASES = [
    ("float64 -> uint8, clamp", f64, np.uint8, dict(rounding_mode="nearest-even", out_of_range_mode="clamp"),
     lambda out: np.copyto(out, np.clip(np.rint(f64), 0, 255), casting="unsafe")),
    ("float64 -> uint8, clamp, NaN -> 255", f64_gaps, np.uint8,
     dict(rounding_mode="nearest-even", out_of_range_mode="clamp", scalar_map_entries={float("nan"): 255}),
     lambda out: np.copyto(out, np.where(np.isnan(f64_gaps), 255, np.clip(np.rint(f64_gaps), 0, 255)),
                           casting="unsafe")),
    ("float64 -> int32, checked", f64, np.int32, dict(rounding_mode="towards-zero"),
     lambda out: np.copyto(out, f64, casting="unsafe")),
    ("float64 -> float32", f64, np.float32, dict(rounding_mode="nearest-even"),
     lambda out: np.copyto(out, f64, casting="unsafe")),
    ("float64 -> float16", f64, np.float16, dict(rounding_mode="nearest-even"),
     lambda out: np.copyto(out, f64, casting="unsafe")),
    ("float64 -> float16, towards-negative", f64, np.float16, dict(rounding_mode="towards-negative"),
     lambda out: np.copyto(out, f64, casting="unsafe")),
    ("int32 -> uint8, clamp", i32, np.uint8, dict(rounding_mode="nearest-even", out_of_range_mode="clamp"),
     lambda out: np.copyto(out, np.clip(i32, 0, 255), casting="unsafe")),
]


def medians(runs):
    samples = [[] for _ in runs]
    for run in runs:
        run()
    for _ in range(REPEATS):
        for i, run in enumerate(runs):
            start = time.perf_counter()
            run()
            samples[i].append(time.perf_counter() - start)
    return [statistics.median(s) for s in samples]


print(f"{'conversion':40} {'tarnwell':>9} {'numpy':>9} {'memcpy':>9} {'numpy/ours':>11} {'ours/memcpy':>12}")
for label, src, dtype, kwargs, numpy_run in CASES:
    out = np.empty(N, dtype=dtype)
    half = (src.nbytes + out.nbytes) // 2
    copy_from, copy_to = np.ones(half, dtype=np.uint8), np.empty(half, dtype=np.uint8)
    ours, theirs, copy = medians([
        lambda: cast_array_into(src, out, **kwargs),
        numpy_quiet(lambda: numpy_run(out)),
        lambda: np.copyto(copy_to, copy_from),
    ])
    print(f"{label:40} {ours * 1e3:7.1f}ms {theirs * 1e3:7.1f}ms {copy * 1e3:7.1f}ms {theirs / ours:10.2f}x "
          f"{ours / copy:11.2f}x")
