"""Calibrating dask arrays chunk by chunk: images larger than memory, or
spread over a cluster.

``calmgr.dask.lookup(cal, darray)`` gives a lazy dask array whose chunks are
the calibrated values of the input's chunks, bit for bit what
``cal.lookup`` gives for the whole array in memory. The calibration travels
with the task graph as its saved JSON document, never as a pointer, so the
graph runs on the threaded scheduler, on processes and on distributed
workers alike; each process rebuilds it once from the document and reuses it
for every chunk (lookups from the worker's threads share it).

Needs ``dask[array]`` (Debian: python3-dask; for clusters python3-distributed).
"""

from __future__ import annotations

import threading
from collections import OrderedDict
from typing import Any, Optional

import numpy as np
import numpy.typing as npt
from dask.array.core import Array, asarray

from . import _diag, _lookup
from ._lookup import NanChoice, OutsideChoice
from .intensity import IntensityCal

__all__ = ["forget", "lookup"]

_asarray: Any = asarray  # dask's own functions carry no types

# Sample dtypes that cannot leave the default range 0..255.
_WITHIN_DEFAULT = (np.dtype(np.uint8), np.dtype(np.bool_))

# Calibrations rebuilt in this process, by document; the last few are kept
# (one dropped from here is destroyed once no lookup holds it any more).
_KEEP = 8
_cache: "OrderedDict[str, IntensityCal]" = OrderedDict()
_cache_lock = threading.Lock()


def _calibration(document: str) -> IntensityCal:
    """The calibration a document describes, made once per process."""
    with _cache_lock:
        cal = _cache.get(document)
        if cal is None:
            cal = IntensityCal.from_json(document)
            _cache[document] = cal
            while len(_cache) > _KEEP:
                _cache.popitem(last=False)
        else:
            _cache.move_to_end(document)
        return cal


def forget() -> None:
    """Drops the calibrations this process rebuilt for chunks (each is
    destroyed once no lookup holds it any more)."""
    with _cache_lock:
        _cache.clear()


def _block(block: npt.NDArray[Any], document: str, out_dtype: str, outside: OutsideChoice,
           nan: NanChoice) -> npt.NDArray[Any]:
    """One chunk's calibrated values (always an array, 0-d chunks included)."""
    out = np.empty(block.shape, out_dtype)
    _calibration(document).lookup(block, out=out, outside=outside, nan=nan)
    return out


def lookup(cal: IntensityCal, darray: Any, dtype: npt.DTypeLike = None, *,
           outside: OutsideChoice = "clamp", nan: NanChoice = "propagate") -> Array:
    """The calibrated values of a dask array, computed chunk by chunk.

    Args:
        cal: the calibration; later changes to it do not reach the result
            (the graph holds its state as it is now).
        darray: a dask array (or anything ``dask.array.asarray`` takes) of
            samples that :meth:`IntensityCal.lookup` accepts. Bool samples
            are bit-packed row by row within each chunk, with the same values
            as over whole rows.
        dtype: numpy.float64 (default) or numpy.float32.
        outside, nan: what values outside the range and NaN samples give,
            as in :meth:`IntensityCal.lookup`.
    Returns:
        A dask array of the input's shape and chunks.

    >>> import dask.array
    >>> cal = calmgr.IntensityCal.from_points([(0, 0.0), (4095, 1.0)], dtype=numpy.uint16)
    >>> image = dask.array.from_array(numpy.arange(12, dtype=numpy.uint16).reshape(3, 4),
    ...                               chunks=2)
    >>> calmgr.dask.lookup(cal, image, numpy.float32).compute().dtype
    dtype('float32')
    """
    out_dtype = _lookup.output_dtype(dtype, None)
    _lookup.policy_of(outside, nan)  # refused now, not in the middle of a computation
    if not isinstance(cal, IntensityCal):
        raise TypeError(f"lookup() takes an IntensityCal, not {type(cal).__name__}")
    samples: Any = _asarray(darray)
    # Refuse a sample dtype now rather than in the middle of a computation.
    _lookup.samples_array(np.zeros((0,) * max(samples.ndim, 1), samples.dtype))
    if not cal._range_chosen and outside == "clamp" and samples.dtype not in _WITHIN_DEFAULT:
        # Chunks are counted where they run, out of the caller's sight: say it now.
        lo, hi = cal.range
        _diag.warn(f"calibration {cal.name!r} keeps the default range {lo:g}..{hi:g} that "
                   f"nobody chose: {samples.dtype} samples beyond it would take the table's "
                   "end values unnoticed; build it with range=(min, max) or dtype=, or look up "
                   "with outside='nan'")
    document = cal.to_json()
    meta: Optional[npt.NDArray[Any]] = np.empty((0,) * samples.ndim, out_dtype)
    result: Array = samples.map_blocks(_block, document, out_dtype.str, outside, nan,
                                       dtype=out_dtype, meta=meta)
    return result
