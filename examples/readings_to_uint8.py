"""Store float64 sensor readings with gaps as uint8: NaN gaps become the sentinel 255,
readings are rounded to whole percent and drift below 0 % is clamped to 0."""

import warnings

import numpy as np

from _tarnwell import cast_array

readings = np.array([12.4, np.nan, 99.5, -3.2, 100.5, 47.5, np.nan, 3.49999])
SENTINEL = 255

stored = cast_array(readings, target_dtype="uint8", rounding_mode="nearest-even", out_of_range_mode="clamp",
                    scalar_map_entries={float("nan"): SENTINEL})

# NumPy's nearest equivalent: round, then convert. A NaN has no uint8 value, so NumPy
# stores whatever the processor gives and at most warns.
with warnings.catch_warnings():
    warnings.simplefilter("ignore")
    numpy_stored = np.rint(readings).astype(np.uint8)

print(f"{'reading':>10} {'stored':>7} {'numpy':>6}")
for reading, ours, theirs in zip(readings, stored, numpy_stored):
    print(f"{reading:>10} {ours:>7} {theirs:>6}")

present = ~np.isnan(readings)
error = np.abs(stored[present].astype(np.float64) - readings[present])
print(f"bytes: {readings.nbytes} -> {stored.nbytes}; largest error {error.max():.5f} "
      f"(reading {readings[present][np.argmax(error)]})")
print(f"gaps recovered from the sentinel: {np.count_nonzero(stored == SENTINEL)} of {np.count_nonzero(~present)}")

try:
    cast_array(readings, target_dtype="uint8", rounding_mode="nearest-even")
except ValueError as error:
    print(f"without a scalar map: ValueError: {error}")
