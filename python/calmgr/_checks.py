"""Checks of values handed to the library, with messages that say what to do.

Everything the controls would silently truncate or wrap (16-bit counts,
128-byte strings) or that makes no calibration (NaN points) is refused here
with TypeError or ValueError before any call.
"""

from __future__ import annotations

import math
from typing import Any, Tuple

import numpy as np
import numpy.typing as npt

#: Point and table counts are signed 16-bit in the controls.
MAX_COUNT = 32767


def finite_points(points: Any) -> npt.NDArray[np.float64]:
    """Points as a C-contiguous (N, 2) float64 array, checked."""
    try:
        array = np.array(points, dtype=np.float64, order="C", ndmin=2)
    except (TypeError, ValueError) as exc:
        raise TypeError(
            f"points must be an (N, 2) array of numbers (input, calibrated): {exc}"
        ) from None
    if array.ndim != 2 or array.shape[1] != 2:
        raise ValueError(
            f"points must have shape (N, 2) as (input, calibrated) pairs, got {array.shape}"
        )
    if not 2 <= array.shape[0] <= MAX_COUNT:
        raise ValueError(f"a calibration needs 2 to {MAX_COUNT} points, got {array.shape[0]}")
    bad = np.flatnonzero(~np.isfinite(array).all(axis=1))
    if bad.size:
        raise ValueError(
            f"points at rows {bad[:10].tolist()} are NaN or infinite; remove or correct them"
        )
    return array


def finite(value: Any, what: str) -> float:
    try:
        v = float(value)
    except (TypeError, ValueError):
        raise TypeError(f"{what} must be a number, not {type(value).__name__}") from None
    if not math.isfinite(v):
        raise ValueError(f"{what} must be finite, got {v}")
    return v


def input_range(value: Any, what: str = "range") -> Tuple[float, float]:
    """A (min, max) input range: two finite numbers, max above min.

    An inverted or empty range would make every lookup pass its samples
    through unchanged, so it is refused here."""
    try:
        lo, hi = value
    except (TypeError, ValueError):
        raise TypeError(f"{what} must be a (min, max) pair, not {value!r}") from None
    return checked_range(finite(lo, f"{what} minimum"), finite(hi, f"{what} maximum"), what)


def checked_range(lo: float, hi: float, what: str = "range",
                  hint: str = "") -> Tuple[float, float]:
    if not hi > lo:
        raise ValueError(
            f"{what} ({lo:g}, {hi:g}) is {'empty' if hi == lo else 'inverted'}: its maximum "
            f"must lie above its minimum{hint}"
        )
    return (lo, hi)


#: Input ranges of the integer sample types a range can be inferred from.
SAMPLE_RANGES = {np.dtype(np.uint8): (0.0, 255.0), np.dtype(np.uint16): (0.0, 65535.0)}


def dtype_range(dtype: Any) -> Tuple[float, float]:
    """The input range that covers every value of a sample dtype."""
    try:
        dt = np.dtype(dtype)
    except TypeError:
        raise TypeError(f"dtype must be numpy.uint8 or numpy.uint16, not {dtype!r}") from None
    if dt not in SAMPLE_RANGES:
        raise ValueError(
            f"a range can be inferred for uint8 and uint16 samples, not {dt}; give "
            "range=(min, max) for the values the calibration must cover"
        )
    return SAMPLE_RANGES[dt]


def text(value: Any, what: str) -> bytes:
    if not isinstance(value, str):
        raise TypeError(f"{what} must be a str, not {type(value).__name__}")
    data = value.encode("utf-8")
    if b"\0" in data:
        raise ValueError(f"{what} must not contain NUL characters")
    # The library keeps at most 127 bytes; cut on a character boundary.
    while len(data) > 127:
        value = value[:-1]
        data = value.encode("utf-8")
    return data


def point_index(index: Any) -> int:
    if isinstance(index, bool) or not isinstance(index, (int, np.integer)):
        raise TypeError(f"point index must be an int, not {type(index).__name__}")
    if not 0 <= int(index) <= 0xFFFF:
        raise IndexError(f"point index {index} out of range")
    return int(index)


def table_count(n: Any) -> int:
    if isinstance(n, bool) or not isinstance(n, (int, np.integer)):
        raise TypeError(f"table_size must be an int, not {type(n).__name__}")
    if not 2 <= int(n) <= MAX_COUNT:
        raise ValueError(f"table_size must be 2..{MAX_COUNT}, got {n}")
    return int(n)
