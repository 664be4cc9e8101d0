from collections.abc import Iterable, Mapping
from typing import Any, Literal, Optional, Union

import numpy as np

__all__ = ["cast_array", "cast_array_into"]

DtypeName = Literal[
    "int8", "int16", "int32", "int64", "uint8", "uint16", "uint32", "uint64", "float16", "float32", "float64"
]
RoundingMode = Literal["nearest-even", "towards-zero", "towards-positive", "towards-negative", "nearest-away"]
OutOfRangeMode = Literal["clamp", "wrap"]
ScalarMap = Union[Mapping[Any, Any], Iterable[Any]]

def cast_array(
    arr: np.ndarray,
    *,
    target_dtype: DtypeName,
    rounding_mode: RoundingMode,
    out_of_range_mode: Optional[OutOfRangeMode] = None,
    scalar_map_entries: Optional[ScalarMap] = None,
) -> np.ndarray: ...
def cast_array_into(
    arr: np.ndarray,
    out: np.ndarray,
    *,
    rounding_mode: RoundingMode,
    out_of_range_mode: Optional[OutOfRangeMode] = None,
    scalar_map_entries: Optional[ScalarMap] = None,
) -> None: ...
