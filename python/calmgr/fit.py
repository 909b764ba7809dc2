"""Least-squares polynomial fits: fitted values (PolynomialFit and
PolynomialFitRange) and reports of the fit itself, its coefficients and
their statistics (PolynomialFitReport, ICalFitReport)."""

from __future__ import annotations

import ctypes
import warnings
from dataclasses import dataclass
from typing import Any, Optional, Tuple

import numpy as np
import numpy.typing as npt

from . import _icontrol as I
from . import _lib
from . import constants as C

_MAX = 32767  # counts are signed 16-bit in the C interface
_MAX_SAMPLES = 2**31 - 1  # PolynomialFitReport's count is signed 32-bit
_MAX_DEGREE = C.CAL_FIT_MAX_COEFFS - 1

# What a calibration's fit relates the input to, by fit type.
_SPACES = {
    C.ICAL_FIT_POLY1: "calibrated", C.ICAL_FIT_POLY2: "calibrated",
    C.ICAL_FIT_POLY3: "calibrated", C.ICAL_FIT_DENSITY: "10**-calibrated",
    C.ICAL_FIT_EXP1: "ln(calibrated)", C.ICAL_FIT_EXP2: "ln(calibrated)",
    C.ICAL_FIT_EXP3: "ln(calibrated)", C.ICAL_FIT_LOG1: "exp(-calibrated)",
    C.ICAL_FIT_LOG2: "exp(-calibrated)", C.ICAL_FIT_LOG3: "exp(-calibrated)",
}

Float64Array = npt.NDArray[np.float64]


@dataclass(frozen=True)
class FitReport:
    """A least-squares polynomial y = c0 + c1 x + ... + c[degree] x^degree
    and its statistics, to the digits the data determine.

    Attributes:
        degree: the degree fitted.
        num_samples: n, the samples fitted.
        coeffs: c0 ... c[degree], lowest power first (numpy.polyfit gives
            them highest first: ``coeffs[::-1]`` matches it).
        std_errors: the standard error of each coefficient.
        covariance: their (degree + 1) x (degree + 1) covariance
            s^2 (X'X)^-1.
        residual_sd: s = sqrt(ssr / (n - degree - 1)); 0.0 with exactly
            degree + 1 samples (and then so are the standard errors).
        r_squared: 1 - ssr / (sum of squares about the mean of y).
        ssr: the sum of squared residuals.
        condition: the condition number of the centred, scaled design.
        space: what was fitted against the input: ``"y"`` for
            :func:`fit_report`; for a calibration's report ``"calibrated"``,
            ``"ln(calibrated)"``, ``"exp(-calibrated)"`` or
            ``"10**-calibrated"``, the space of every statistic here.
    """

    degree: int
    num_samples: int
    coeffs: Float64Array
    std_errors: Float64Array
    covariance: Float64Array
    residual_sd: float
    r_squared: float
    ssr: float
    condition: float
    space: str = "y"

    def __call__(self, x: npt.ArrayLike) -> Float64Array:
        """The polynomial's values at ``x`` (in the fitted space), by Horner's rule."""
        xs = np.asarray(x, np.float64)
        values = np.zeros(xs.shape, np.float64)
        for c in self.coeffs[::-1]:
            values = values * xs + c
        return values


def _report(raw: "_lib.CalFitReport", space: str) -> FitReport:
    m = int(raw.degree) + 1

    def frozen(values: Any, shape: Tuple[int, ...]) -> Float64Array:
        array = np.array(values, np.float64)[tuple(slice(0, k) for k in shape)].copy()
        array.flags.writeable = False
        return array

    return FitReport(
        degree=int(raw.degree), num_samples=int(raw.num_samples),
        coeffs=frozen(raw.coeffs, (m,)), std_errors=frozen(raw.std_errors, (m,)),
        covariance=frozen(raw.covariance, (m, m)), residual_sd=float(raw.residual_sd),
        r_squared=float(raw.r_squared), ssr=float(raw.ssr), condition=float(raw.condition),
        space=space)


def fit_report(x: npt.ArrayLike, y: npt.ArrayLike, degree: int) -> FitReport:
    """The least-squares polynomial of ``degree`` (1..15) through the
    samples (x, y) with its statistics, computed stably (double-double
    arithmetic in a centred, scaled variable): as accurate as the data
    allow, never less than ``numpy.polyfit``.

    Args:
        x, y: 1-D sequences of equal length, finite, at least degree + 1
            samples with at least degree + 1 distinct x values.
        degree: 1..15.
    Returns:
        A :class:`FitReport`.
    Raises:
        TypeError: degree is not an int.
        ValueError: x and y not 1-D and of one length, a NaN or infinite
            sample, too few samples or a degree outside 1..15.
        CalError: the samples do not determine the polynomial (too few
            distinct x values, or nearly so).

    >>> r = fit_report([0.0, 1.0, 2.0, 3.0], [1.0, 3.0, 5.0, 7.0], 1)
    >>> r.coeffs.tolist(), r.r_squared
    ([1.0, 2.0], 1.0)
    """
    samples = _samples(x, y)
    if isinstance(degree, bool) or not isinstance(degree, (int, np.integer)):
        raise TypeError(f"degree must be an int, not {type(degree).__name__}")
    if not 1 <= degree <= _MAX_DEGREE:
        raise ValueError(f"degree must be 1..{_MAX_DEGREE}, got {degree}")
    n = samples.shape[0]
    if not degree + 1 <= n <= _MAX_SAMPLES:
        raise ValueError(f"a fit of degree {degree} needs {degree + 1} to {_MAX_SAMPLES} "
                         f"samples, got {n}")
    if not np.isfinite(samples).all():
        bad = int(np.argmax(~np.isfinite(samples).all(axis=1)))
        x_bad, y_bad = (float(v) for v in samples[bad])
        raise ValueError(f"sample {bad} ({x_bad!r}, {y_bad!r}) is not finite")
    raw = _lib.CalFitReport()
    status = _lib.function("PolynomialFitReport")(samples.ctypes.data, n, int(degree),
                                                  ctypes.addressof(raw))
    if status == C.CAL_ERR_INVALID:
        raise _lib.CalError(status, "PolynomialFitReport",
                            f"the samples do not determine a polynomial of degree {degree}: it "
                            f"needs {degree + 1} distinct x values, not too close together "
                            f"(there are {np.unique(samples[:, 0]).size})")
    _lib.check(status, "PolynomialFitReport")
    return _report(raw, "y")


def calibration_report(handle: int) -> FitReport:
    """ICalFitReport on the calibration ``handle``, whose lock the caller holds."""
    raw = _lib.CalFitReport()
    status = _lib.function("ICalFitReport")(handle, ctypes.addressof(raw))
    fit = I.get(handle, C.ICAL_GET_FIT_TYPE, ctypes.c_int16)
    if status != C.CAL_OK:
        raise _lib.CalError(status, "ICalFitReport", _no_report(handle, fit))
    return _report(raw, _SPACES[fit])


def _no_report(handle: int, fit: int) -> str:
    """Why a calibration has no fit report, in words."""
    kind = I.get(handle, C.ICAL_GET_TYPE, ctypes.c_uint32)
    if kind != C.ICAL_TYPE_STANDARD:
        return (f"a calibration of type {C.CalType(kind).name} has no fitted curve; only one "
                "built from points with a poly, exp, log or density fit has a fit report")
    if fit not in _SPACES:
        return (f"a {C.fit_name(fit)} table is interpolated, not fitted; only the poly, exp, "
                "log and density fits have a fit report")
    if I.get(handle, C.ICAL_GET_NUM_POINTS, ctypes.c_uint16) == 2:
        return "a calibration of two points has the line through both as its table, not a fit"
    return (f"the {C.fit_name(fit)} fit is not determined by the points: it needs more "
            "distinct (for exp, positive) finite values than its degree")


def _samples(x: npt.ArrayLike, y: npt.ArrayLike) -> Float64Array:
    """x and y as a contiguous (n, 2) array of (x, y) samples."""
    xs = np.asarray(x, dtype=np.float64)
    ys = np.asarray(y, dtype=np.float64)
    if xs.ndim != 1 or ys.shape != xs.shape:
        raise ValueError(f"x and y must be 1-D and of equal length, got {xs.shape} and {ys.shape}")
    return np.ascontiguousarray(np.stack([xs, ys], axis=1))


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
    samples = _samples(x, y)
    xs = samples[:, 0]
    if not 1 <= xs.size <= _MAX:
        raise ValueError(f"fit_values needs 1 to {_MAX} samples, got {xs.size}")
    if isinstance(degree, bool) or not isinstance(degree, (int, np.integer)):
        raise TypeError(f"degree must be an int, not {type(degree).__name__}")
    # Out-of-range degrees reach the library's own check, not a 16-bit wrap.
    deg = int(min(max(int(degree), -1), 8))
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


def polyfit(*args: Any, **kwargs: Any) -> npt.NDArray[np.float64]:
    """Deprecated name of :func:`fit_values` (same arguments). Unlike
    ``numpy.polyfit`` it returns fitted values, not coefficients."""
    warnings.warn(
        "calmgr.polyfit returns fitted values, not coefficients as numpy.polyfit does; "
        "use calmgr.fit_values (or calmgr.fit_report for the coefficients)",
        DeprecationWarning, stacklevel=2)
    return fit_values(*args, **kwargs)
