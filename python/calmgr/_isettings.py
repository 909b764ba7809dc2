"""The settings of an intensity calibration as attributes: reading each
through ICalControl, changing them through one checked path that rebuilds
the table once (see :mod:`calmgr._changes`), and the table's grid."""

from __future__ import annotations

import ctypes
from typing import Any, Literal, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _changes, _diag, _lib
from . import _icontrol as I
from . import constants as C
from ._checks import MAX_COUNT, finite, point_index
from ._owned import Owned
from ._setting import Setting
from .constants import CalType, FitChoice, fit_name

Range = Tuple[float, float]
RangeLike = Sequence[float]
TypeChoice = Union[CalType, int, str]
Float64Array = npt.NDArray[np.float64]
GridRule = Literal["running_sum", "product"]

# Fits whose builders walk the grid by a running sum (through
# PolynomialFitRange or the density curve); the others interpolate on the
# product grid.
_RUNNING_SUM_FITS = frozenset([C.ICAL_FIT_POLY1, C.ICAL_FIT_POLY2, C.ICAL_FIT_POLY3,
                               C.ICAL_FIT_DENSITY, C.ICAL_FIT_EXP1, C.ICAL_FIT_EXP2,
                               C.ICAL_FIT_EXP3, C.ICAL_FIT_LOG1, C.ICAL_FIT_LOG2,
                               C.ICAL_FIT_LOG3])


class IntensitySettings(Owned):
    """The settings part of :class:`calmgr.IntensityCal`."""

    # False while the range is the library's default 0..255 that nobody
    # chose; lookups then warn about samples outside it.
    _range_chosen = True

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
        values = table_values(value)
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


def table_values(table: npt.ArrayLike) -> Float64Array:
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
