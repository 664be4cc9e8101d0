"""Narrow float64 values to float16 rounding towards negative infinity, so that every
stored value is a lower bound of the original, and compare with NumPy's nearest rounding."""

import numpy as np

from _tarnwell import cast_array

values = np.array([0.1, 1 / 3, 2.0, 1000.7, -1000.7, 65519.0, 1e-8, -1e-8])

stored = cast_array(values, target_dtype="float16", rounding_mode="towards-negative")
nearest = values.astype(np.float16)

print(f"{'value':>22} {'towards-negative':>17} {'numpy nearest':>14}")
for value, low, near in zip(values, stored, nearest):
    print(f"{float(value)!r:>22} {float(low)!r:>17} {float(near)!r:>14}")

assert np.all(stored.astype(np.float64) <= values), "a directed mode never rounds upwards"
cost = np.abs(stored.astype(np.float64) - values)
cost_nearest = np.abs(nearest.astype(np.float64) - values)
print(f"bytes: {values.nbytes} -> {stored.nbytes}")
print(f"largest error: towards-negative {cost.max():.6g}, numpy nearest {cost_nearest.max():.6g}")
print(f"values numpy stored above the original: {np.count_nonzero(nearest.astype(np.float64) > values)}")

# Rounding down, 70000 lands on the largest float16 value, while -70000 lands on -inf:
# an overflow that is an error unless the caller accepts it with "clamp".
print(f"70000 is stored as {float(cast_array(np.array([70000.0]), target_dtype='float16', rounding_mode='towards-negative')[0])}")
try:
    cast_array(np.array([-70000.0]), target_dtype="float16", rounding_mode="towards-negative")
except ValueError as error:
    print(f"-70000: ValueError: {error}")
clamped = cast_array(np.array([-70000.0]), target_dtype="float16", rounding_mode="towards-negative",
                     out_of_range_mode="clamp")
print(f"-70000 with out_of_range_mode='clamp' is stored as {float(clamped[0])}")
