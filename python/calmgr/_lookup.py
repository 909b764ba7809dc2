"""Converting numpy arrays of samples through ICalLookupEx.

Picks the sample type from the array's dtype (a trailing axis of 3 on 8- and
16-bit data selects the RGB types), hands the library contiguous native
buffers, and splits runs longer than one call's 32-bit count. The values
themselves all come from the library.
"""

from __future__ import annotations

from typing import Any, Optional

import numpy as np

from . import _lib
from .constants import (
    ICAL_LOOKUP_FLOAT,
    ICAL_SAMPLE_BITS,
    ICAL_SAMPLE_F32,
    ICAL_SAMPLE_F64,
    ICAL_SAMPLE_U8,
    ICAL_SAMPLE_U8_RGB,
    ICAL_SAMPLE_U16,
    ICAL_SAMPLE_U16_RGB,
)

# Largest pixel count per call; a multiple of 8 keeps bit runs byte-aligned.
_CHUNK = 1 << 28

_PLAIN = {
    np.dtype(np.uint8): ICAL_SAMPLE_U8,
    np.dtype(np.uint16): ICAL_SAMPLE_U16,
    np.dtype(np.float32): ICAL_SAMPLE_F32,
    np.dtype(np.float64): ICAL_SAMPLE_F64,
}
_RGB = {np.dtype(np.uint8): ICAL_SAMPLE_U8_RGB, np.dtype(np.uint16): ICAL_SAMPLE_U16_RGB}

ACCEPTED = "bool, uint8, uint16, float32 or float64"


def output_dtype(dtype: Any) -> np.dtype:
    """The output dtype, float64 or float32; anything else is refused."""
    try:
        out = np.dtype(dtype)
    except TypeError:
        raise TypeError(f"dtype must be numpy.float64 or numpy.float32, not {dtype!r}") from None
    if out not in (np.dtype(np.float64), np.dtype(np.float32)):
        raise TypeError(f"dtype must be numpy.float64 or numpy.float32, not {out}")
    return out


def _samples(array: Any) -> np.ndarray:
    """The input as a numpy array of an accepted dtype, in native byte order."""
    if isinstance(array, np.ndarray):
        samples = array
    else:
        try:
            samples = np.asarray(array)
        except (TypeError, ValueError) as exc:
            raise TypeError(f"samples must be a numpy array of {ACCEPTED}: {exc}") from None
    dt = samples.dtype
    if dt.kind == "b":
        return samples
    native = dt.newbyteorder("=")
    if native not in _PLAIN:
        hint = ""
        if dt.kind in "iu":
            hint = (
                "; integer samples must be uint8 or uint16: check the value range and "
                "convert, e.g. samples.astype(numpy.uint16)"
            )
        elif dt.kind == "f":
            hint = "; convert with samples.astype(numpy.float64)"
        elif dt.kind == "c":
            hint = "; complex samples have no calibrated value: pass the real part or magnitude"
        elif dt.kind == "O":
            hint = "; object arrays are not samples: build a numeric array first"
        raise TypeError(f"cannot look up samples of dtype {dt}; use {ACCEPTED}{hint}")
    if native != dt:
        samples = samples.astype(native)
    return samples


def lookup(handle: Optional[int], array: Any, dtype: Any = np.float64) -> np.ndarray:
    """Converts every sample of ``array`` through the calibration ``handle``
    (None: values unchanged) and returns an array of the same shape."""
    out_dt = output_dtype(dtype)
    flag = ICAL_LOOKUP_FLOAT if out_dt == np.dtype(np.float32) else 0
    samples = _samples(array)
    out = np.empty(samples.shape, dtype=out_dt)
    if samples.size == 0:
        return out
    if samples.dtype.kind == "b":
        _lookup_bits(handle, samples, out, flag)
        return out
    if samples.ndim >= 1 and samples.shape[-1] == 3 and samples.dtype in _RGB:
        code, per_pixel = _RGB[samples.dtype], 3
    else:
        code, per_pixel = _PLAIN[samples.dtype], 1
    src = np.ascontiguousarray(samples).reshape(-1)
    dst = out.reshape(-1)
    pixels = src.size // per_pixel
    for start in range(0, pixels, _CHUNK):
        n = min(_CHUNK, pixels - start)
        lo = start * per_pixel
        _lib.check(
            _lib.call(
                "ICalLookupEx",
                handle,
                code | flag,
                src[lo:].ctypes.data,
                n,
                dst[lo:].ctypes.data,
            ),
            "ICalLookupEx",
        )
    return out


def _lookup_bits(handle: Optional[int], samples: np.ndarray, out: np.ndarray, flag: int) -> None:
    """Bool samples: each row (last axis) bit-packed on its own, as bilevel
    image rows are, and converted row by row. Rows of whole bytes follow one
    another without gaps, so they go through as one run."""
    width = samples.shape[-1] if samples.ndim else 1
    rows = samples.reshape(-1, width)
    packed = np.ascontiguousarray(np.packbits(rows, axis=-1))
    row_bytes = packed.shape[1]
    if width % 8 == 0:
        runs = [(0, 0, rows.shape[0] * width)]
    else:
        runs = [(r * row_bytes, r * width, width) for r in range(rows.shape[0])]
    src, dst, size = packed.ctypes.data, out.ctypes.data, out.itemsize
    code = ICAL_SAMPLE_BITS | flag
    with _lib._lock:
        fn = _lib.function("ICalLookupEx")
        for byte, value, count in runs:
            for start in range(0, count, _CHUNK):
                n = min(_CHUNK, count - start)
                _lib.check(fn(handle, code, src + byte + start // 8, n,
                              dst + (value + start) * size), "ICalLookupEx")
