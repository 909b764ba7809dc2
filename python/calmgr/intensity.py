"""Intensity calibrations: raw pixel values to calibrated values."""

from __future__ import annotations

import ctypes
from typing import (Any, Dict, List, Literal, Optional, Sequence, Tuple, Type, TypeVar, Union,
                    overload)

import numpy as np
import numpy.typing as npt

from . import _changes, _diag, _lib, _lookup, _sync
from . import _icontrol as I
from . import constants as C
from ._checks import MAX_COUNT, dtype_range, finite, finite_points, input_range, point_index
from ._owned import Owned
from ._setting import Setting
from .constants import CalType, FitChoice, fit_name

Range = Tuple[float, float]
RangeLike = Sequence[float]
TypeChoice = Union[CalType, int, str]
Float64Array = npt.NDArray[np.float64]
#: Single samples; a lookup of one gives one value back.
Scalar = Union[bool, int, float, np.bool_, np.integer[Any], np.floating[Any]]
F = TypeVar("F", np.float64, np.float32)
GridRule = Literal["running_sum", "product"]

# Fits whose builders walk the grid by a running sum (through
# PolynomialFitRange or the density curve); the others interpolate on the
# product grid.
_RUNNING_SUM_FITS = frozenset([C.ICAL_FIT_POLY1, C.ICAL_FIT_POLY2, C.ICAL_FIT_POLY3,
                               C.ICAL_FIT_DENSITY, C.ICAL_FIT_EXP1, C.ICAL_FIT_EXP2,
                               C.ICAL_FIT_EXP3, C.ICAL_FIT_LOG1, C.ICAL_FIT_LOG2,
                               C.ICAL_FIT_LOG3])


class IntensityCal(Owned):
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

    # False while the range is the library's default 0..255 that nobody
    # chose; lookups then warn about samples outside it.
    _range_chosen = True

    def __init__(self, *, name: Optional[str] = None, units: Optional[str] = None) -> None:
        """A calibration with the library's defaults: points (0, 0) and
        (255, 255), a 256-entry identity table over 0..255."""
        self._take()
        self._range_chosen = False
        try:
            settings = {k: v for k, v in (("name", name), ("units", units)) if v is not None}
            if settings:
                self.update(**settings)
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
        if table_size is not None:
            settings["table_size"] = table_size
        if name is not None:
            settings["name"] = name
        if units is not None:
            settings["units"] = units
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
        if table_size is not None:
            settings["table_size"] = table_size
        if name is not None:
            settings["name"] = name
        if units is not None:
            settings["units"] = units
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
        values = _table_values(table)
        lo_hi = input_range(range) if range is not None else (0.0, float(values.size - 1))
        cal = cls._made({"type": CalType.TABLE, "range": lo_hi})
        try:
            cal.table = values
            if name is not None or units is not None:
                cal.update(**{k: v for k, v in (("name", name), ("units", units))
                              if v is not None})
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

    # -- reading and changing ------------------------------------------------

    def _get(self, code: int, ctype: Any) -> Any:
        with self._reading() as handle:
            return I.get(handle, code, ctype)

    def update(self, **settings: Any) -> None:
        """Changes several settings and rebuilds the table once at the end.

        Keywords: ``range``, ``range_min``, ``range_max``, ``table_size``,
        ``points``, ``fit`` (or ``fit_type``), ``options``, ``monotonic``,
        ``clamp_negative``, ``black_level``, ``incident_level``, ``type``,
        ``name``, ``units``, ``attribute``. Every value is checked before
        anything changes, and a refusal of the library puts back what had
        changed.

        Raises:
            TypeError, ValueError: a bad or unknown setting (nothing changed).
            CalError: the library refused (nothing changed).
        Warns:
            CalibrationWarning: for each new finding of :meth:`diagnose`.
        """
        with self._writing() as handle:
            values = _changes.plan(handle, settings)
            found = _changes.apply(handle, values)
            if "range_min" in values:
                self._range_chosen = True
        _diag.warn_findings(self.name, found)

    def rebuild(self) -> None:
        """Rebuilds the table from the current settings (whatever the type)."""
        with self._writing() as handle:
            _lib.check(_changes.rebuild(handle), I.call_name(C.ICAL_SET_RANGE_MIN))

    # -- settings ------------------------------------------------------------

    def _get_name(self) -> str:
        """Name (at most 127 bytes of UTF-8; longer names are cut)."""
        with self._reading() as handle:
            return I.get_text(handle, C.ICAL_GET_NAME)

    def _set_name(self, value: str) -> None:
        self.update(name=value)

    name = Setting(_get_name, _set_name)

    def _get_units(self) -> str:
        """Name of the calibrated unit (at most 127 bytes of UTF-8)."""
        with self._reading() as handle:
            return I.get_text(handle, C.ICAL_GET_UNITS)

    def _set_units(self, value: str) -> None:
        self.update(units=value)

    units = Setting(_get_units, _set_units)

    def _get_type(self) -> CalType:
        """How the table is made (a :class:`CalType`); set by member, code
        or name. Setting rebuilds; NONE drops points and table."""
        return CalType(self._get(C.ICAL_GET_TYPE, ctypes.c_uint32))

    def _set_type(self, value: TypeChoice) -> None:
        self.update(type=value)

    type = Setting(_get_type, _set_type)

    def _get_range_min(self) -> float:
        """Input value of the first table entry; must stay below range_max."""
        return float(self._get(C.ICAL_GET_RANGE_MIN, ctypes.c_double))

    def _set_range_min(self, value: float) -> None:
        self.update(range_min=value)

    range_min = Setting(_get_range_min, _set_range_min)

    def _get_range_max(self) -> float:
        """Input value of the last table entry; must stay above range_min."""
        return float(self._get(C.ICAL_GET_RANGE_MAX, ctypes.c_double))

    def _set_range_max(self, value: float) -> None:
        self.update(range_max=value)

    range_max = Setting(_get_range_max, _set_range_max)

    def _get_range(self) -> Range:
        """(range_min, range_max); setting both checks and rebuilds once."""
        with self._reading() as handle:
            return (I.get(handle, C.ICAL_GET_RANGE_MIN, ctypes.c_double),
                    I.get(handle, C.ICAL_GET_RANGE_MAX, ctypes.c_double))

    def _set_range(self, value: RangeLike) -> None:
        self.update(range=value)

    range = Setting(_get_range, _set_range)

    @property
    def num_points(self) -> int:
        """Number of calibration points."""
        return int(self._get(C.ICAL_GET_NUM_POINTS, ctypes.c_uint16))

    def _get_points(self) -> Float64Array:
        """Calibration points as an (N, 2) float64 array (a copy).
        Setting replaces them (2 to 32767 finite points) and rebuilds."""
        with self._reading() as handle:
            return I.get_points(handle)

    def _set_points(self, value: npt.ArrayLike) -> None:
        self.update(points=value)

    points = Setting(_get_points, _set_points)

    def point(self, index: int) -> Tuple[float, float]:
        """Point ``index`` as (input, calibrated)."""
        i = point_index(index)
        points = self.points
        if i >= points.shape[0]:
            raise IndexError(f"point {i} does not exist: the calibration has "
                             f"{points.shape[0]} points")
        return (float(points[i, 0]), float(points[i, 1]))

    def set_point(
        self, index: int, input: Optional[float] = None, calibrated: Optional[float] = None
    ) -> None:
        """Changes one or both values of point ``index`` and rebuilds once."""
        i = point_index(index)
        with self._writing():
            points = self.points
            if i >= points.shape[0]:
                raise IndexError(f"point {i} does not exist: the calibration has "
                                 f"{points.shape[0]} points")
            if input is not None:
                points[i, 0] = finite(input, "input")
            if calibrated is not None:
                points[i, 1] = finite(calibrated, "calibrated")
            self.update(points=points)

    def _get_black_level(self) -> float:
        """Dark reading of the optical-density calibration."""
        return float(self._get(C.ICAL_GET_BLACK_LEVEL, ctypes.c_double))

    def _set_black_level(self, value: float) -> None:
        self.update(black_level=value)

    black_level = Setting(_get_black_level, _set_black_level)

    def _get_incident_level(self) -> float:
        """Unattenuated reading of the optical-density calibration."""
        return float(self._get(C.ICAL_GET_INCIDENT_LEVEL, ctypes.c_double))

    def _set_incident_level(self, value: float) -> None:
        self.update(incident_level=value)

    incident_level = Setting(_get_incident_level, _set_incident_level)

    @property
    def table_min(self) -> float:
        """Smallest table entry."""
        return float(self._get(C.ICAL_GET_TABLE_MIN, ctypes.c_double))

    @property
    def table_max(self) -> float:
        """Largest table entry."""
        return float(self._get(C.ICAL_GET_TABLE_MAX, ctypes.c_double))

    def _get_table_size(self) -> int:
        """Number of table entries; setting (2..32767) rebuilds."""
        return int(self._get(C.ICAL_GET_TABLE_SIZE, ctypes.c_uint16))

    def _set_table_size(self, value: int) -> None:
        self.update(table_size=value)

    table_size = Setting(_get_table_size, _set_table_size)

    def _get_table(self) -> Float64Array:
        """The lookup table as a float64 array (a copy). Setting hands in a
        whole table (2 to 32767 values); a standard or density calibration
        replaces it again at its next rebuild."""
        with self._reading() as handle:
            return I.get_table(handle)

    def _set_table(self, value: npt.ArrayLike) -> None:
        values = _table_values(value)
        with self._writing() as handle:
            status = I.control(handle, C.ICAL_SET_TABLE, values.size, 0, values.ctypes.data)
            if status != C.CAL_OK:
                raise _lib.CalError(status, I.call_name(C.ICAL_SET_TABLE),
                                    _changes.cause_of(handle, C.ICAL_SET_TABLE, status))

    table = Setting(_get_table, _set_table)

    @property
    def grid(self) -> Float64Array:
        """The input value of each table entry, bit for bit as the library
        computed it (see :func:`table_grid` and :attr:`grid_rule`). Plot
        ``cal.table`` against it."""
        with self._reading() as handle:
            lo = I.get(handle, C.ICAL_GET_RANGE_MIN, ctypes.c_double)
            hi = I.get(handle, C.ICAL_GET_RANGE_MAX, ctypes.c_double)
            size = I.get(handle, C.ICAL_GET_TABLE_SIZE, ctypes.c_uint16)
            rule = self.grid_rule
        return table_grid(lo, hi, size, rule)

    @property
    def grid_rule(self) -> GridRule:
        """How this calibration's table places its entries on the range:
        ``"running_sum"`` (x starts at range_min and grows by one step per
        entry) for the two-point line, the least-squares, exponential,
        logarithmic and density fits and optical density;
        ``"product"`` (range_min + i * step) for piecewise interpolation and
        a supplied table. The two differ in the last bits."""
        with self._reading() as handle:
            kind = I.get(handle, C.ICAL_GET_TYPE, ctypes.c_uint32)
            if kind == C.ICAL_TYPE_DENSITY:
                return "running_sum"
            if kind != C.ICAL_TYPE_STANDARD:
                return "product"
            if I.get(handle, C.ICAL_GET_NUM_POINTS, ctypes.c_uint16) == 2:
                return "running_sum"
            fit = I.get(handle, C.ICAL_GET_FIT_TYPE, ctypes.c_int16)
        return "running_sum" if fit in _RUNNING_SUM_FITS else "product"

    def _get_fit_type(self) -> int:
        """Fit type code (see :data:`calmgr.FIT_TYPES`); set by name or code."""
        return int(self._get(C.ICAL_GET_FIT_TYPE, ctypes.c_int16))

    def _set_fit_type(self, value: FitChoice) -> None:
        self.update(fit=value)

    fit_type = Setting(_get_fit_type, _set_fit_type)

    def _get_fit(self) -> str:
        """Fit type as a name (``"poly2"``); set by name or code."""
        return fit_name(self.fit_type)

    fit = Setting(_get_fit, _set_fit_type)

    def _get_options(self) -> int:
        """Option bits (ICAL_OPT_MONOTONIC 1, ICAL_OPT_CLAMP_NEGATIVE 2)."""
        return int(self._get(C.ICAL_GET_OPTIONS, ctypes.c_uint16))

    def _set_options(self, value: int) -> None:
        self.update(options=value)

    options = Setting(_get_options, _set_options)

    def _get_monotonic(self) -> bool:
        """Whether the fitted table is forced monotonic."""
        return bool(self.options & C.ICAL_OPT_MONOTONIC)

    def _set_monotonic(self, value: bool) -> None:
        self.update(monotonic=value)

    monotonic = Setting(_get_monotonic, _set_monotonic)

    def _get_clamp_negative(self) -> bool:
        """Whether negative table values are replaced by 0."""
        return bool(self.options & C.ICAL_OPT_CLAMP_NEGATIVE)

    def _set_clamp_negative(self, value: bool) -> None:
        self.update(clamp_negative=value)

    clamp_negative = Setting(_get_clamp_negative, _set_clamp_negative)

    def _get_attribute(self) -> int:
        """An application's 16-bit value, signed (-32768..32767)."""
        return int(self._get(C.ICAL_GET_ATTRIBUTE, ctypes.c_int16))

    def _set_attribute(self, value: int) -> None:
        self.update(attribute=value)

    attribute = Setting(_get_attribute, _set_attribute)

    # -- use -----------------------------------------------------------------

    # A scalar gives a scalar, an array an array; float32 asked for gives
    # float32. mypy sees these overlap (a scalar is array-like, a type could
    # derive from both float types), as it does in numpy's own signatures.
    @overload
    def lookup(self, samples: Scalar, dtype: Type[np.float32], *,  # type: ignore[misc]
               out: None = ...) -> np.float32: ...

    @overload
    def lookup(self, samples: Scalar, dtype: Optional[Type[np.float64]] = ...,  # type: ignore[misc]
               *, out: None = ...) -> np.float64: ...

    @overload
    def lookup(self, samples: npt.ArrayLike, dtype: Type[np.float32], *,  # type: ignore[misc]
               out: None = ...) -> npt.NDArray[np.float32]: ...

    @overload
    def lookup(self, samples: npt.ArrayLike, dtype: Optional[Type[np.float64]] = ..., *,
               out: None = ...) -> Float64Array: ...

    @overload
    def lookup(self, samples: npt.ArrayLike, dtype: None = ..., *,
               out: npt.NDArray[F]) -> npt.NDArray[F]: ...

    @overload
    def lookup(self, samples: npt.ArrayLike, dtype: npt.DTypeLike = ..., *,
               out: Optional[npt.NDArray[Any]] = ...) -> Any: ...

    def lookup(self, samples: npt.ArrayLike, dtype: npt.DTypeLike = None, *,
               out: Optional[npt.NDArray[Any]] = None) -> Any:
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
        Returns:
            An array of the samples' shape and memory order (``out`` when
            given); a scalar for a scalar or 0-d input.
        Raises:
            TypeError: any other sample dtype (complex, object, float128 ...).
            ValueError: an integer sample outside 0..65535 (named), or
                ``out`` of the wrong shape.
        """
        return _lookup.run(self._reading(), samples, dtype, out)

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


def _table_values(table: npt.ArrayLike) -> Float64Array:
    values = np.array(table, dtype=np.float64, order="C")
    if values.ndim != 1 or not 2 <= values.size <= MAX_COUNT:
        raise ValueError(
            f"a table is a 1-D array of 2 to {MAX_COUNT} values, got shape {values.shape}"
        )
    return values


def table_grid(range_min: float, range_max: float, table_size: int,
               rule: GridRule = "running_sum") -> Float64Array:
    """The input values of a table's entries exactly as the library's
    builders compute them, with step = (max - min) / (size - 1):
    ``"running_sum"`` starts at range_min and adds the step entry by entry;
    ``"product"`` gives range_min + i * step."""
    if rule not in ("running_sum", "product"):
        raise ValueError(f"rule must be 'running_sum' or 'product', not {rule!r}")
    if table_size < 1:
        return np.zeros(0, np.float64)
    step = (range_max - range_min) / max(table_size - 1, 1)
    if rule == "product":
        return range_min + np.arange(table_size, dtype=np.float64) * step
    steps = np.full(table_size, step)
    steps[0] = range_min
    return np.add.accumulate(steps)  # sequential: x += step, as the builders do


@overload
def lookup(samples: Scalar, cal: Optional[IntensityCal],  # type: ignore[misc]
           dtype: Type[np.float32], *, out: None = ...) -> np.float32: ...


@overload
def lookup(samples: Scalar, cal: Optional[IntensityCal] = ...,  # type: ignore[misc]
           dtype: Optional[Type[np.float64]] = ..., *, out: None = ...) -> np.float64: ...


@overload
def lookup(samples: npt.ArrayLike, cal: Optional[IntensityCal],  # type: ignore[misc]
           dtype: Type[np.float32], *, out: None = ...) -> npt.NDArray[np.float32]: ...


@overload
def lookup(samples: npt.ArrayLike, cal: Optional[IntensityCal] = ...,
           dtype: Optional[Type[np.float64]] = ..., *, out: None = ...) -> Float64Array: ...


@overload
def lookup(samples: npt.ArrayLike, cal: Optional[IntensityCal] = ..., dtype: None = ..., *,
           out: npt.NDArray[F]) -> npt.NDArray[F]: ...


@overload
def lookup(samples: npt.ArrayLike, cal: Optional[IntensityCal] = ...,
           dtype: npt.DTypeLike = ..., *, out: Optional[npt.NDArray[Any]] = ...) -> Any: ...


def lookup(samples: npt.ArrayLike, cal: Optional[IntensityCal] = None,
           dtype: npt.DTypeLike = None, *, out: Optional[npt.NDArray[Any]] = None) -> Any:
    """As :meth:`IntensityCal.lookup`; without a calibration the values come
    back unchanged (bilevel samples as 0.0 and 1.0)."""
    reading = _lookup.no_calibration() if cal is None else cal._reading()
    return _lookup.run(reading, samples, dtype, out)


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
