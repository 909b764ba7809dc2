"""Intensity calibrations: raw pixel values to calibrated values."""

from __future__ import annotations

import ctypes
from typing import Any, Dict, List, Literal, Optional, Tuple, Type, TypeVar, Union, overload

import numpy as np
import numpy.typing as npt

from . import _changes, _diag, _lib, _lookup, _sync
from . import fit as _fit
from . import _icontrol as I
from . import constants as C
from ._checks import dtype_range, finite, finite_points, input_range
from ._isettings import IntensitySettings, RangeLike, table_grid, table_values
from ._lookup import LookupStats, NanChoice, OutsideChoice
from .fit import FitReport
from .constants import CalType, FitChoice

#: Single samples; a lookup of one gives one value back.
Scalar = Union[bool, int, float, np.bool_, np.integer[Any], np.floating[Any]]
F = TypeVar("F", np.float64, np.float32)
Float64Array = npt.NDArray[np.float64]

__all__ = ["IntensityCal", "intensity_registry", "lookup", "table_grid"]


class IntensityCal(IntensitySettings):
    """An intensity calibration: a lookup table that maps raw pixel values to
    calibrated values, built from points, optical density or a given table.

    The calibration lives in the library until :meth:`close` (or the end of a
    ``with`` block, or garbage collection). Setting a property rebuilds the
    table at once; :meth:`update` changes several settings and rebuilds once.
    Lookups from several threads run in parallel; a change waits for the
    lookups in progress and holds the next ones back until it is done.

    >>> with IntensityCal.from_points([(0, 0), (255, 2.0)]) as cal:
    ...     cal.lookup(numpy.array([0, 128, 255], numpy.uint8))
    array([0.        , 1.00392157, 2.        ])
    """

    _create = "ICalCreate"
    _destroy = "ICalDestroy"
    _c_save = "CalSaveIntensity"
    _c_to_json = "CalIntensityToJson"
    _c_from_json = "CalIntensityFromJson"
    _format = "calmgr.intensity"

    def __init__(self, *, name: Optional[str] = None, units: Optional[str] = None) -> None:
        """A calibration with the library's defaults: points (0, 0) and
        (255, 255), a 256-entry identity table over 0..255."""
        self._take()
        self._range_chosen = False
        try:
            self.update(**_given(name=name, units=units))
        except BaseException:
            self.close()
            raise

    # -- construction ------------------------------------------------------

    @classmethod
    def from_points(
        cls,
        points: npt.ArrayLike,
        fit: FitChoice = "piecewise",
        *,
        range: Optional[RangeLike] = None,
        dtype: npt.DTypeLike = None,
        table_size: Optional[int] = None,
        monotonic: bool = False,
        clamp_negative: bool = False,
        name: Optional[str] = None,
        units: Optional[str] = None,
    ) -> "IntensityCal":
        """A standard calibration through (input, calibrated) ``points``.

        Args:
            points: (N, 2) array-like, 2 <= N <= 32767, all finite.
            fit: fit name or code: ``piecewise`` (the default, also
                ``default``), ``poly1``..``poly3`` (least squares),
                ``interp1``..``interp3`` (piecewise interpolation),
                ``density`` (optical-density model, also ``od``),
                ``exp1``..``exp3``, ``log1``..``log3``. Two points always
                give the straight line.
            range: (min, max) input range of the table; max above min.
            dtype: instead of ``range``, the samples' dtype, numpy.uint8
                (0..255) or numpy.uint16 (0..65535). Without either the
                range is 0..255, and lookups warn about samples outside it.
            table_size: table entries, 2..32767 (default 256).
            monotonic, clamp_negative: the builder's options.
        Raises:
            ValueError, TypeError: bad points, fit, range or size (nothing
                is created).
            CalError: the library refused to build the table (for example
                ``exp1`` with fewer than two positive calibrated values).
        Warns:
            CalibrationWarning: for each finding of :meth:`diagnose`.

        >>> cal = IntensityCal.from_points([(0, 0.1), (30000, 1.2), (65535, 2.0)],
        ...                                "poly2", dtype=numpy.uint16)
        >>> cal.range
        (0.0, 65535.0)
        """
        settings: Dict[str, Any] = {"points": finite_points(points), "fit": fit,
                          "monotonic": monotonic, "clamp_negative": clamp_negative}
        if range is not None and dtype is not None:
            raise ValueError("give range or dtype, not both")
        chosen = range is not None or dtype is not None
        if range is not None:
            settings["range"] = input_range(range)
        elif dtype is not None:
            settings["range"] = dtype_range(dtype)
        settings.update(_given(table_size=table_size, name=name, units=units))
        cal = cls._made(settings)
        cal._range_chosen = chosen
        return cal

    @classmethod
    def from_density(
        cls,
        black_level: float,
        incident_level: float,
        *,
        range: Optional[RangeLike] = None,
        table_size: Optional[int] = None,
        name: Optional[str] = None,
        units: Optional[str] = None,
    ) -> "IntensityCal":
        """An optical-density calibration from the dark (``black_level``) and
        unattenuated (``incident_level``) readings.

        Raises:
            CalError: the library refused the levels (incident not above black).
        """
        settings: Dict[str, Any] = {"type": CalType.DENSITY,
                          "black_level": finite(black_level, "black_level"),
                          "incident_level": finite(incident_level, "incident_level")}
        if range is not None:
            settings["range"] = input_range(range)
        settings.update(_given(table_size=table_size, name=name, units=units))
        cal = cls._made(settings)
        cal._range_chosen = range is not None
        return cal

    @classmethod
    def from_table(
        cls,
        table: npt.ArrayLike,
        *,
        range: Optional[RangeLike] = None,
        name: Optional[str] = None,
        units: Optional[str] = None,
    ) -> "IntensityCal":
        """A calibration with a table supplied whole (type TABLE).

        Args:
            table: 2 to 32767 values; entry i stands for the input
                min + i * (max - min) / (len - 1).
            range: (min, max); by default (0, len(table) - 1), one entry per
                integer input.
        """
        values = table_values(table)
        lo_hi = input_range(range) if range is not None else (0.0, float(values.size - 1))
        cal = cls._made({"type": CalType.TABLE, "range": lo_hi})
        try:
            cal.table = values
            cal.update(**_given(name=name, units=units))
        except BaseException:
            cal.close()
            raise
        return cal

    @classmethod
    def _made(cls, settings: Dict[str, Any]) -> "IntensityCal":
        """A new calibration with ``settings`` applied; nothing is left
        behind when they are refused."""
        cal = cls.__new__(cls)
        cal._take()
        try:
            with cal._writing() as handle:
                found = _changes.apply(handle, _changes.plan(handle, settings))
            # Warnings made errors by a filter leave nothing behind either.
            _diag.warn_findings(cal.name, found)
        except BaseException:
            cal.close()
            raise
        return cal

    def _adopted(self) -> None:
        self._range_chosen = True

    def __repr__(self) -> str:
        if self._handle is None:
            return "<IntensityCal closed>"
        return (
            f"<IntensityCal {self.name!r} type={self.type.name} "
            f"points={self.num_points} table={self.table_size}>"
        )

    # -- use -----------------------------------------------------------------

    # A scalar gives a scalar, an array an array; float32 asked for gives
    # float32; stats=True gives the values and their counts. mypy sees these
    # overlap (a scalar is array-like, a type could derive from both float
    # types), as it does in numpy's own signatures.
    @overload
    def lookup(self, samples: Scalar, dtype: Type[np.float32], *,  # type: ignore[misc]
               out: None = ..., outside: OutsideChoice = ..., nan: NanChoice = ...,
               stats: Literal[False] = ...) -> np.float32: ...

    @overload
    def lookup(self, samples: Scalar, dtype: Optional[Type[np.float64]] = ...,  # type: ignore[misc]
               *, out: None = ..., outside: OutsideChoice = ..., nan: NanChoice = ...,
               stats: Literal[False] = ...) -> np.float64: ...

    @overload
    def lookup(self, samples: npt.ArrayLike, dtype: Type[np.float32], *,  # type: ignore[misc]
               out: None = ..., outside: OutsideChoice = ..., nan: NanChoice = ...,
               stats: Literal[False] = ...) -> npt.NDArray[np.float32]: ...

    @overload
    def lookup(self, samples: npt.ArrayLike, dtype: Optional[Type[np.float64]] = ..., *,
               out: None = ..., outside: OutsideChoice = ..., nan: NanChoice = ...,
               stats: Literal[False] = ...) -> Float64Array: ...

    @overload
    def lookup(self, samples: npt.ArrayLike, dtype: None = ..., *,
               out: npt.NDArray[F], outside: OutsideChoice = ..., nan: NanChoice = ...,
               stats: Literal[False] = ...) -> npt.NDArray[F]: ...

    @overload
    def lookup(self, samples: npt.ArrayLike, dtype: npt.DTypeLike = ..., *,
               out: Optional[npt.NDArray[Any]] = ..., outside: OutsideChoice = ...,
               nan: NanChoice = ..., stats: Literal[True]) -> Tuple[Any, LookupStats]: ...

    @overload
    def lookup(self, samples: npt.ArrayLike, dtype: npt.DTypeLike = ..., *,
               out: Optional[npt.NDArray[Any]] = ..., outside: OutsideChoice = ...,
               nan: NanChoice = ..., stats: bool = ...) -> Any: ...

    def lookup(self, samples: npt.ArrayLike, dtype: npt.DTypeLike = None, *,
               out: Optional[npt.NDArray[Any]] = None, outside: OutsideChoice = "clamp",
               nan: NanChoice = "propagate", stats: bool = False) -> Any:
        """Calibrated values of ``samples``, an array of any shape.

        Args:
            samples: an array, list or scalar of bool (bilevel: each row
                along the last axis is bit-packed), integers within
                0..65535 (uint8 and uint16 as they are, others after a
                check), float16, float32 or float64. A last axis of length 3
                on uint8 or uint16 data is read as RGB pixels.
            dtype: ``numpy.float64`` (default) or ``numpy.float32``.
            out: an array of the samples' shape, float64 or float32, any
                memory order, to write the values into.
            outside: ``"clamp"`` (default): values below ``range_min`` or
                above ``range_max`` take the table's first or last entry;
                ``"nan"``: they give NaN.
            nan: ``"propagate"`` (default, numpy's convention): NaN samples
                give NaN; ``"first-entry"``: they take the first table
                entry, as the C library's plain lookup does.
            stats: also return a :class:`LookupStats`, the numbers of values
                below and above the range and NaN (three per RGB pixel).
        Returns:
            An array of the samples' shape and memory order (``out`` when
            given); a scalar for a scalar or 0-d input. With ``stats``, a
            tuple of that and the :class:`LookupStats`.
        Raises:
            TypeError: any other sample dtype (complex, object, float128 ...).
            ValueError: an integer sample outside 0..65535 (named), ``out``
                of the wrong shape, or an unknown ``outside`` or ``nan``.
        Warns:
            CalibrationWarning: samples outside the range of a calibration
                whose range nobody chose (the default 0..255) were clamped.

        >>> cal = IntensityCal.from_points([(0, 0.0), (100, 1.0)], range=(0, 100))
        >>> cal.lookup([-5.0, 50.0, 120.0, numpy.nan], outside="nan", stats=True)
        (array([nan, 0.5, nan, nan]), LookupStats(below=1, above=1, nan=1))
        """
        policy = _lookup.policy_of(outside, nan)
        guessed = not self._range_chosen and outside == "clamp"
        values, seen = _lookup.run(self._reading(), samples, dtype, out, policy,
                                   stats or guessed)
        if guessed and seen is not None and (seen.below or seen.above):
            self._warn_clamped(seen, np.size(values))
        return (values, seen) if stats else values

    def _warn_clamped(self, seen: LookupStats, total: int) -> None:
        """Says that samples outside the default range were clamped."""
        lo, hi = self.range
        parts = [f"{100.0 * n / total:.3g} % of the samples lie {where}"
                 for n, where in ((seen.below, "below"), (seen.above, "above")) if n]
        _diag.warn(f"calibration {self.name!r}: {' and '.join(parts)} the default calibrated "
                   f"range {lo:g}..{hi:g} and took the table's end values; build it with "
                   "range=(min, max) or dtype=, or look up with outside='nan'")

    def inverse(self, values: npt.ArrayLike) -> Any:
        """The input value whose (interpolated) lookup gives each calibrated
        value: "which raw level is OD 1.0?". NaN where the value lies outside
        the table's values, is NaN, or is reached at more than one input
        (the table turns or is flat there).

        Args:
            values: calibrated values, an array of any shape, list or scalar.
        Returns:
            float64 inputs of the same shape; a scalar for a scalar.

        >>> cal = IntensityCal.from_points([(0, 0.0), (255, 2.55)])
        >>> cal.inverse([[1.0, 2.0], [3.0, -1.0]]).round(9)
        array([[100., 200.],
               [ nan,  nan]])
        """
        array = np.asarray(values)
        if array.dtype.kind not in "biuf":
            raise TypeError(f"calibrated values must be numbers, not {array.dtype}")
        src = np.asarray(array, dtype=np.float64, order="C")  # 0-d stays 0-d
        result = np.empty(src.shape, np.float64)
        with self._reading() as handle:
            _lib.check(_lib.function("ICalInverse")(handle, src.ctypes.data, src.size,
                                                    result.ctypes.data, None), "ICalInverse")
        return result[()] if result.ndim == 0 else result

    def fit_report(self) -> FitReport:
        """The least-squares fit behind this calibration's table, with its
        statistics (see :func:`calmgr.fit_report`), for the poly, exp, log
        and density fits of a calibration built from three or more points.
        The statistics are those of the space fitted against the input
        (``report.space``): the calibrated values for poly fits, their
        logarithm for exp fits, e^-calibrated for log fits and the
        transmittance 10^-calibrated for the density fit.

        Raises:
            CalError: the calibration has no fitted curve (another type or
                fit, two points) or its fit is not determined (the cause
                in words).

        >>> cal = IntensityCal.from_points([(0, 1.0), (1, 3.0), (2, 5.0)], "poly1")
        >>> report = cal.fit_report()
        >>> report.space, report.coeffs.round(12).tolist()
        ('calibrated', [1.0, 2.0])
        """
        with self._reading() as handle:
            return _fit.calibration_report(handle)

    def diagnose(self) -> List[_diag.Finding]:
        """What makes this calibration's numbers untrustworthy, in a fixed
        order (range, then points, then table); empty when a careful user
        would accept the table. Each finding is a :class:`Finding`; printed,
        it names its place and says what is wrong.

        >>> import warnings
        >>> with warnings.catch_warnings():  # building warns of the same findings
        ...     warnings.simplefilter("ignore")
        ...     cal = IntensityCal.from_points([(0, 0), (64, 1), (64, 2), (255, 3)])
        >>> for finding in cal.diagnose():
        ...     print(finding)
        point 2 (64): another point has this input value but a different calibrated value; the table drops to 0 there
        table entry 64 (0): the table turns back here, against the way the points go and further than they do
        """
        with self._reading() as handle:
            return _diag.diagnose(handle)


def _given(**settings: Any) -> Dict[str, Any]:
    """The settings that were given (not None)."""
    return {key: value for key, value in settings.items() if value is not None}


@overload
def lookup(samples: Scalar, cal: Optional[IntensityCal],  # type: ignore[misc]
           dtype: Type[np.float32], *, out: None = ..., outside: OutsideChoice = ...,
           nan: NanChoice = ..., stats: Literal[False] = ...) -> np.float32: ...


@overload
def lookup(samples: Scalar, cal: Optional[IntensityCal] = ...,  # type: ignore[misc]
           dtype: Optional[Type[np.float64]] = ..., *, out: None = ...,
           outside: OutsideChoice = ..., nan: NanChoice = ...,
           stats: Literal[False] = ...) -> np.float64: ...


@overload
def lookup(samples: npt.ArrayLike, cal: Optional[IntensityCal],  # type: ignore[misc]
           dtype: Type[np.float32], *, out: None = ..., outside: OutsideChoice = ...,
           nan: NanChoice = ..., stats: Literal[False] = ...) -> npt.NDArray[np.float32]: ...


@overload
def lookup(samples: npt.ArrayLike, cal: Optional[IntensityCal] = ...,
           dtype: Optional[Type[np.float64]] = ..., *, out: None = ...,
           outside: OutsideChoice = ..., nan: NanChoice = ...,
           stats: Literal[False] = ...) -> Float64Array: ...


@overload
def lookup(samples: npt.ArrayLike, cal: Optional[IntensityCal] = ..., dtype: None = ..., *,
           out: npt.NDArray[F], outside: OutsideChoice = ..., nan: NanChoice = ...,
           stats: Literal[False] = ...) -> npt.NDArray[F]: ...


@overload
def lookup(samples: npt.ArrayLike, cal: Optional[IntensityCal] = ...,
           dtype: npt.DTypeLike = ..., *, out: Optional[npt.NDArray[Any]] = ...,
           outside: OutsideChoice = ..., nan: NanChoice = ...,
           stats: Literal[True]) -> Tuple[Any, LookupStats]: ...


@overload
def lookup(samples: npt.ArrayLike, cal: Optional[IntensityCal] = ...,
           dtype: npt.DTypeLike = ..., *, out: Optional[npt.NDArray[Any]] = ...,
           outside: OutsideChoice = ..., nan: NanChoice = ..., stats: bool = ...) -> Any: ...


def lookup(samples: npt.ArrayLike, cal: Optional[IntensityCal] = None,
           dtype: npt.DTypeLike = None, *, out: Optional[npt.NDArray[Any]] = None,
           outside: OutsideChoice = "clamp", nan: NanChoice = "propagate",
           stats: bool = False) -> Any:
    """As :meth:`IntensityCal.lookup`; without a calibration the values come
    back unchanged (bilevel samples as 0.0 and 1.0; nothing is outside)."""
    if cal is not None:
        return cal.lookup(samples, dtype, out=out, outside=outside, nan=nan, stats=stats)
    values, seen = _lookup.run(_lookup.no_calibration(), samples, dtype, out,
                               _lookup.policy_of(outside, nan), stats)
    return (values, seen) if stats else values


def intensity_registry() -> List[int]:
    """Handles of every live intensity calibration in the process, newest first."""
    handles: List[int] = []
    cur = ctypes.c_void_p(None)
    with _sync.registry:
        while True:
            _lib.check(I.control(cur, C.ICAL_GET_NEXT, 0, 0, ctypes.byref(cur)),
                       I.call_name(C.ICAL_GET_NEXT))
            if not cur.value:
                return handles
            handles.append(cur.value)
