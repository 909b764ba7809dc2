"""Converting samples through a calibration's lookup, with numpy's conventions.

Picks the sample route from the input (bool: bit-packed rows; uint8 and
uint16; any other integer type whose values fit 0..65535 goes the 16-bit
way after a range check; float16/32 and float64), hands the library
contiguous native buffers in the input's memory order, and writes into a
new array or the caller's ``out``, all through ICalLookupPolicy: values
outside the range clamped or NaN, NaN samples NaN or the first entry, and
the counts of each when asked. The values all come from the library.
"""

from __future__ import annotations

import contextlib
import ctypes
from typing import Any, ContextManager, Literal, NamedTuple, Optional, Tuple

import numpy as np
import numpy.typing as npt

from . import _lib
from . import constants as C

_ROUTES = {
    np.dtype(np.uint8): C.ICAL_SAMPLE_U8,
    np.dtype(np.uint16): C.ICAL_SAMPLE_U16,
    np.dtype(np.float32): C.ICAL_SAMPLE_F32,
    np.dtype(np.float64): C.ICAL_SAMPLE_F64,
}
_RGB = {np.dtype(np.uint8): C.ICAL_SAMPLE_U8_RGB, np.dtype(np.uint16): C.ICAL_SAMPLE_U16_RGB}
_OUTPUTS = (np.dtype(np.float64), np.dtype(np.float32))

Array = npt.NDArray[Any]

#: The choices of ``outside`` and ``nan`` in a lookup.
OutsideChoice = Literal["clamp", "nan"]
NanChoice = Literal["propagate", "first-entry"]
OUTSIDE = ("clamp", "nan")
NAN = ("propagate", "first-entry")

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


def policy_of(outside: str, nan: str) -> int:
    """The ICAL_POLICY_* bits for the ``outside`` and ``nan`` choices."""
    if outside not in OUTSIDE:
        raise ValueError(f"outside must be 'clamp' or 'nan', not {outside!r}")
    if nan not in NAN:
        raise ValueError(f"nan must be 'propagate' or 'first-entry', not {nan!r}")
    return ((C.ICAL_POLICY_OUTSIDE_NAN if outside == "nan" else 0)
            | (C.ICAL_POLICY_NAN_PROPAGATE if nan == "propagate" else 0))


def run(
    reading: ContextManager[Optional[int]],
    samples: Any,
    dtype: Any = None,
    out: Optional[Array] = None,
    policy: int = C.ICAL_POLICY_NAN_PROPAGATE,
    counted: bool = False,
) -> Tuple[Any, Optional[LookupStats]]:
    """Looks up ``samples`` through the calibration whose handle ``reading``
    yields (None: values unchanged) under its lock, with the ICAL_POLICY_*
    bits ``policy``; returns the values (a scalar for 0-d input) or ``out``,
    and the counts of values below, above and NaN when ``counted``."""
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
    call = _Call(policy, counted)
    if array.dtype.kind == "b":
        with reading as handle:  # entered even for no samples: a closed cal refuses
            if array.size:
                _bits(call, handle, array, result, flag)
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
                call(handle, code, src.ctypes.data, src.size // per, dst.ctypes.data)
    seen = call.stats() if counted else None
    if out is not None:
        if result is not out:
            out[...] = result
        return out, seen
    return (result[()] if result.ndim == 0 else result), seen


class _Call:
    """ICalLookupPolicy with one policy, adding up the counts of its runs."""

    def __init__(self, policy: int, counted: bool) -> None:
        self.policy = policy
        self.counts = _lib.CalLookupStats() if counted else None
        self.fn = _lib.function("ICalLookupPolicy")
        self.below = self.above = self.nan = 0

    def __call__(self, handle: Optional[int], code: int, src: int, pixels: int,
                 dst: int) -> None:
        stats = None if self.counts is None else ctypes.addressof(self.counts)
        _lib.check(self.fn(handle, code, src, pixels, dst, self.policy, stats),
                   "ICalLookupPolicy")
        if self.counts is not None:
            self.below += self.counts.below
            self.above += self.counts.above
            self.nan += self.counts.nan

    def stats(self) -> LookupStats:
        return LookupStats(self.below, self.above, self.nan)


def _bits(call: _Call, handle: Optional[int], samples: Array, out: Array, flag: int) -> None:
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
    code = C.ICAL_SAMPLE_BITS | flag
    for byte, value, count in runs:
        call(handle, code, src + byte, count, dst + value * size)
    if target is not out:
        out[...] = target


def no_calibration() -> ContextManager[Optional[int]]:
    """The ``reading`` of a lookup without a calibration."""
    return contextlib.nullcontext(None)

