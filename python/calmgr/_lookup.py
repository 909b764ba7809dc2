"""Converting samples through a calibration's lookup, with numpy's conventions.

Picks the sample route from the input (bool: bit-packed rows; uint8 and
uint16; any other integer type whose values fit 0..65535 goes the 16-bit
way after a range check; float16/32 and float64), hands the library
contiguous native buffers in the input's memory order, and writes into a
new array or the caller's ``out``. The values all come from the library.
"""

from __future__ import annotations

import contextlib
from typing import Any, ContextManager, Literal, NamedTuple, Optional, Tuple

import numpy as np
import numpy.typing as npt

from . import _lib
from . import constants as C

# Longest run per ICalLookupEx call (a 32-bit count); a multiple of 8 keeps
# bit runs byte-aligned.
_CHUNK = 1 << 28

_ROUTES = {
    np.dtype(np.uint8): C.ICAL_SAMPLE_U8,
    np.dtype(np.uint16): C.ICAL_SAMPLE_U16,
    np.dtype(np.float32): C.ICAL_SAMPLE_F32,
    np.dtype(np.float64): C.ICAL_SAMPLE_F64,
}
_RGB = {np.dtype(np.uint8): C.ICAL_SAMPLE_U8_RGB, np.dtype(np.uint16): C.ICAL_SAMPLE_U16_RGB}
_OUTPUTS = (np.dtype(np.float64), np.dtype(np.float32))

Array = npt.NDArray[Any]

ACCEPTED = "bool, integers within 0..65535, float16, float32 or float64"


class LookupStats(NamedTuple):
    """How many samples of a lookup lay below or above the calibrated range,
    and how many were NaN."""

    below: int
    above: int
    nan: int


def output_dtype(dtype: Any, out: Optional[Array]) -> "np.dtype[Any]":
    """The output dtype, float64 (default) or float32, agreeing with ``out``."""
    if out is not None:
        if not isinstance(out, np.ndarray):
            raise TypeError(f"out must be a numpy array, not {type(out).__name__}")
        if out.dtype not in _OUTPUTS:
            raise TypeError(f"out must have dtype float64 or float32, not {out.dtype}")
        if not out.flags.writeable:
            raise ValueError("out is read-only")
        if dtype is not None and np.dtype(dtype) != out.dtype:
            raise TypeError(f"dtype {np.dtype(dtype)} disagrees with out's dtype {out.dtype}")
        return np.dtype(out.dtype)
    if dtype is None:
        return np.dtype(np.float64)
    try:
        chosen = np.dtype(dtype)
    except TypeError:
        raise TypeError(f"dtype must be numpy.float64 or numpy.float32, not {dtype!r}") from None
    if chosen not in _OUTPUTS:
        raise TypeError(f"dtype must be numpy.float64 or numpy.float32, not {chosen}")
    return np.dtype(chosen)


def _integers(samples: Array) -> Array:
    """Integer samples as uint16, after checking each fits."""
    if samples.size and (samples.min() < 0 or samples.max() > 0xFFFF):
        bad = (samples < 0) | (samples > 0xFFFF)
        where = np.unravel_index(int(np.argmax(bad)), samples.shape)
        value = samples[where]
        at = f" at index {tuple(int(i) for i in where)}" if samples.ndim else ""
        raise ValueError(
            f"sample {value}{at} lies outside 0..65535: integer samples are looked up as "
            "16-bit values; scale them, or convert to float64 to interpolate the table"
        )
    return samples.astype(np.uint16, order="K")


def samples_array(samples: Any) -> Tuple[Array, bool]:
    """The input as a native array of a route's dtype (or bool), and whether
    it kept its own dtype (only then is a trailing 3 read as RGB)."""
    array = samples if isinstance(samples, np.ndarray) else np.asarray(samples)
    dt = array.dtype
    if dt.kind == "b":
        return array, True
    if dt.kind in "iu":
        if dt.newbyteorder("=") in _RGB:
            return array.astype(dt.newbyteorder("="), copy=False), True
        return _integers(array), False
    if dt.kind == "f" and dt.itemsize <= 8:
        native = dt.newbyteorder("=")
        if native == np.dtype(np.float16):
            return array.astype(np.float32), False  # exact
        return array.astype(native, copy=False), True
    hint = {
        "f": "; convert with samples.astype(numpy.float64), knowing that this rounds",
        "c": "; complex samples have no calibrated value: pass the real part or magnitude",
        "O": "; object arrays are not samples: build a numeric array first",
    }.get(dt.kind, "")
    raise TypeError(f"cannot look up samples of dtype {dt}; use {ACCEPTED}{hint}")


def _order(samples: Array, out: Optional[Array]) -> Literal["C", "F"]:
    """The memory order to work in: out's when given, else the input's."""
    ref = out if out is not None else samples
    if ref.ndim > 1 and ref.flags.f_contiguous and not ref.flags.c_contiguous:
        return "F"
    return "C"


def run(
    reading: ContextManager[Optional[int]],
    samples: Any,
    dtype: Any = None,
    out: Optional[Array] = None,
) -> Any:
    """Looks up ``samples`` through the calibration whose handle ``reading``
    yields (None: values unchanged) under its lock; returns the values
    (a scalar for 0-d input) or ``out``."""
    out_dt = output_dtype(dtype, out)
    array, native = samples_array(samples)
    if out is not None and out.shape != array.shape:
        raise ValueError(f"out has shape {out.shape}, the samples {array.shape}")
    order = _order(array, out)
    direct = out is not None and (out.flags.c_contiguous if order == "C"
                                  else out.flags.f_contiguous)
    result = out if direct else np.empty(array.shape, out_dt, order=order)
    assert result is not None
    flag = C.ICAL_LOOKUP_FLOAT if out_dt == np.dtype(np.float32) else 0
    if array.dtype.kind == "b":
        with reading as handle:  # entered even for no samples: a closed cal refuses
            if array.size:
                _bits(handle, array, result, flag)
    else:
        src = array.ravel(order=order)
        dst = result.reshape(-1, order=order)
        if out is not None and np.may_share_memory(src, dst):
            src = src.copy()
        per = 3 if native and order == "C" and array.ndim and array.shape[-1] == 3 \
            and array.dtype in _RGB else 1
        code = (_RGB if per == 3 else _ROUTES)[array.dtype] | flag
        with reading as handle:
            if array.size:
                _runs(handle, code, src, dst, src.size // per, per)
    if out is not None:
        if result is not out:
            out[...] = result
        return out
    return result[()] if result.ndim == 0 else result


def _runs(handle: Optional[int], code: int, src: Array, dst: Array, pixels: int,
          per: int) -> None:
    fn = _lib.function("ICalLookupEx")
    for start in range(0, pixels, _CHUNK):
        n = min(_CHUNK, pixels - start)
        lo = start * per
        _lib.check(fn(handle, code, src[lo:].ctypes.data, n, dst[lo:].ctypes.data),
                   "ICalLookupEx")


def _bits(handle: Optional[int], samples: Array, out: Array, flag: int) -> None:
    """Bool samples: each row (last axis) bit-packed on its own, as bilevel
    image rows are, and converted row by row. Rows of whole bytes follow one
    another without gaps, so they go through as one run."""
    width = samples.shape[-1] if samples.ndim else 1
    rows = samples.reshape(-1, width)
    packed = np.ascontiguousarray(np.packbits(rows, axis=-1))
    target = out if out.flags.c_contiguous else np.empty(out.shape, out.dtype)
    row_bytes = packed.shape[1]
    if width % 8 == 0:
        runs = [(0, 0, rows.shape[0] * width)]
    else:
        runs = [(r * row_bytes, r * width, width) for r in range(rows.shape[0])]
    src, dst, size = packed.ctypes.data, target.ctypes.data, target.itemsize
    fn = _lib.function("ICalLookupEx")
    code = C.ICAL_SAMPLE_BITS | flag
    for byte, value, count in runs:
        for start in range(0, count, _CHUNK):
            n = min(_CHUNK, count - start)
            _lib.check(fn(handle, code, src + byte + start // 8, n,
                          dst + (value + start) * size), "ICalLookupEx")
    if target is not out:
        out[...] = target


def no_calibration() -> ContextManager[Optional[int]]:
    """The ``reading`` of a lookup without a calibration."""
    return contextlib.nullcontext(None)

