"""Least-squares polynomial fits: fitted values (PolynomialFit and
PolynomialFitRange)."""

from __future__ import annotations

import warnings
from typing import Optional, Tuple

import numpy as np
import numpy.typing as npt

from . import _lib

_MAX = 32767  # counts are signed 16-bit in the C interface


def fit_values(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    degree: int,
    at: Optional[npt.ArrayLike] = None,
    *,
    grid: Optional[Tuple[float, float, int]] = None,
) -> npt.NDArray[np.float64]:
    """Fits a polynomial of ``degree`` (1..7) to the samples (x, y) by least
    squares and gives its values (not its coefficients: see
    :func:`calmgr.fit_report`).

    Args:
        x, y: 1-D sequences of equal length (1 to 32767 samples). With fewer
            samples than degree + 1 the library lowers the degree.
        degree: 1..7.
        at: abscissae of any shape to evaluate at (default: x itself).
        grid: (start, end, count) instead of ``at``: ``count`` (2..32767)
            evenly spaced abscissae from start to end.
    Returns:
        float64 values, of the shape of ``at`` or (count,) for a grid.
    Raises:
        CalError: the library refused the arguments (``FIT_ERR_ARGS``, for
            example a degree outside 1..7).
    """
    xs = np.asarray(x, dtype=np.float64)
    ys = np.asarray(y, dtype=np.float64)
    if xs.ndim != 1 or ys.shape != xs.shape:
        raise ValueError(f"x and y must be 1-D and of equal length, got {xs.shape} and {ys.shape}")
    if not 1 <= xs.size <= _MAX:
        raise ValueError(f"fit_values needs 1 to {_MAX} samples, got {xs.size}")
    if isinstance(degree, bool) or not isinstance(degree, (int, np.integer)):
        raise TypeError(f"degree must be an int, not {type(degree).__name__}")
    # Out-of-range degrees reach the library's own check, not a 16-bit wrap.
    deg = int(min(max(int(degree), -1), 8))
    samples = np.ascontiguousarray(np.stack([xs, ys], axis=1))
    hint = "degree must be 1..7"
    if grid is not None:
        if at is not None:
            raise ValueError("give at or grid, not both")
        start, end, count = grid
        if isinstance(count, bool) or not isinstance(count, (int, np.integer)):
            raise TypeError("grid count must be an int")
        if not 2 <= count <= _MAX:
            raise ValueError(f"grid count must be 2..{_MAX}, got {count}")
        values = np.empty(int(count), dtype=np.float64)
        _lib.check(
            _lib.function("PolynomialFitRange")(samples.ctypes.data, xs.size, values.ctypes.data,
                                                float(start), float(end), int(count), deg),
            "PolynomialFitRange", hint)
        return values
    where = xs if at is None else np.asarray(at, dtype=np.float64)
    flat = where.reshape(-1)
    result = np.empty(flat.shape, dtype=np.float64)
    fit = _lib.function("PolynomialFit")
    # Each call fits the same samples afresh, so splitting long runs of
    # abscissae leaves every value as one call would give it.
    for lo in range(0, flat.size, _MAX):
        chunk = np.zeros((min(_MAX, flat.size - lo), 2), dtype=np.float64)
        chunk[:, 0] = flat[lo:lo + chunk.shape[0]]
        _lib.check(
            fit(samples.ctypes.data, xs.size, chunk.ctypes.data, chunk.shape[0], deg),
            "PolynomialFit", hint)
        result[lo:lo + chunk.shape[0]] = chunk[:, 1]
    return result.reshape(where.shape)


def polyfit(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    degree: int,
    at: Optional[npt.ArrayLike] = None,
    *,
    grid: Optional[Tuple[float, float, int]] = None,
) -> npt.NDArray[np.float64]:
    """Deprecated name of :func:`fit_values`. Unlike ``numpy.polyfit`` it
    returns fitted values, not coefficients."""
    warnings.warn(
        "calmgr.polyfit returns fitted values, not coefficients as numpy.polyfit does; "
        "use calmgr.fit_values (or calmgr.fit_report for the coefficients)",
        DeprecationWarning, stacklevel=2)
    return fit_values(x, y, degree, at, grid=grid)
