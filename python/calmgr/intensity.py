"""Intensity calibrations: raw pixel values to calibrated values."""

from __future__ import annotations

import ctypes
from typing import Any, List, Optional, Tuple

import numpy as np

from . import _lib, _lookup
from . import constants as C
from ._checks import MAX_COUNT as _MAX_COUNT
from ._checks import finite as _finite
from ._checks import finite_points as _finite_points
from ._checks import point_index as _point_index
from ._checks import table_count as _table_count
from ._checks import text as _string
from ._owned import Owned
from .constants import CalType, FitChoice, fit_code

_CONTROL_NAMES = {v: k for k, v in vars(C).items() if k.startswith("ICAL_") and "SAMPLE" not in k
                  and k not in ("ICAL_LOOKUP_FLOAT", "ICAL_OPT_MONOTONIC",
                                "ICAL_OPT_CLAMP_NEGATIVE")}

_Range = Tuple[float, float]


class IntensityCal(Owned):
    """An intensity calibration: a lookup table that maps raw pixel values to
    calibrated values, built from points, optical density or a given table.

    The calibration lives in the library until :meth:`close` (or the end of a
    ``with`` block, or garbage collection). Setting a property rebuilds the
    table at once; :meth:`update` changes several settings and rebuilds once.

    >>> with IntensityCal.from_points([(0, 0), (255, 2.0)]) as cal:
    ...     cal.lookup(numpy.array([0, 128, 255], numpy.uint8))
    array([0.        , 1.00392157, 2.        ])
    """

    _destroy = "ICalDestroy"

    def __init__(self, *, name: Optional[str] = None, units: Optional[str] = None) -> None:
        """A calibration with the library's defaults: points (0, 0) and
        (255, 255), a 256-entry identity table over 0..255."""
        self._take("ICalCreate")
        try:
            if name is not None:
                self.name = name
            if units is not None:
                self.units = units
        except BaseException:
            self.close()
            raise

    # -- construction ------------------------------------------------------

    @classmethod
    def from_points(
        cls,
        points: Any,
        fit: FitChoice = "default",
        *,
        range: Optional[_Range] = None,
        table_size: Optional[int] = None,
        monotonic: bool = False,
        clamp_negative: bool = False,
        name: Optional[str] = None,
        units: Optional[str] = None,
    ) -> "IntensityCal":
        """A standard calibration through (input, calibrated) ``points``.

        Args:
            points: (N, 2) array-like, N >= 2, all finite.
            fit: fit name (``poly1``..``poly3`` least squares, ``interp1``..
                ``interp3`` piecewise interpolation, ``od`` optical-density
                model, ``exp1``..``exp3``, ``log1``..``log3``, ``default``)
                or its code. Two points always give the straight line.
            range: (min, max) input range of the table (default 0..255).
            table_size: table entries (default 256).
            monotonic, clamp_negative: the builder's options.
        Raises:
            CalError: the library refused to build the table (for example
                ``exp1`` with fewer than two positive calibrated values).
        """
        array = _finite_points(points)
        code = fit_code(fit)
        cal = cls(name=name, units=units)
        try:
            cal._set_range_size(range, table_size)
            options = (C.ICAL_OPT_MONOTONIC if monotonic else 0) | (
                C.ICAL_OPT_CLAMP_NEGATIVE if clamp_negative else 0
            )
            cal._control(C.ICAL_SET_OPTIONS, options, 1, None)
            cal._set_points(array, defer=True)
            cal._control(C.ICAL_SET_FIT_TYPE, code, 0, None)
        except BaseException:
            cal.close()
            raise
        return cal

    @classmethod
    def from_density(
        cls,
        black_level: float,
        incident_level: float,
        *,
        range: Optional[_Range] = None,
        table_size: Optional[int] = None,
        name: Optional[str] = None,
        units: Optional[str] = None,
    ) -> "IntensityCal":
        """An optical-density calibration from the dark (``black_level``) and
        unattenuated (``incident_level``) readings.

        Raises:
            CalError: the library refused the levels (incident not above black).
        """
        black = _finite(black_level, "black_level")
        incident = _finite(incident_level, "incident_level")
        cal = cls(name=name, units=units)
        try:
            cal._set_range_size(range, table_size)
            cal._set_double(C.ICAL_SET_BLACK_LEVEL, black, defer=True)
            cal._set_double(C.ICAL_SET_INCIDENT_LEVEL, incident, defer=True)
            cal._control(C.ICAL_SET_TYPE, int(CalType.DENSITY), 0, None)
        except BaseException:
            cal.close()
            raise
        return cal

    @classmethod
    def from_table(
        cls,
        table: Any,
        *,
        range: Optional[_Range] = None,
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
        values = np.array(table, dtype=np.float64, order="C")
        if values.ndim != 1 or not 2 <= values.size <= _MAX_COUNT:
            raise ValueError(
                f"a table is a 1-D array of 2 to {_MAX_COUNT} values, got shape {values.shape}"
            )
        if range is None:
            range = (0.0, float(values.size - 1))
        cal = cls(name=name, units=units)
        try:
            cal._control(C.ICAL_SET_TYPE, int(CalType.TABLE), 1, None)
            cal._set_range_size(range, None)
            cal._set_table(values)
        except BaseException:
            cal.close()
            raise
        return cal

    def __repr__(self) -> str:
        if self._handle is None:
            return "<IntensityCal closed>"
        return (
            f"<IntensityCal {self.name!r} type={self.type.name} "
            f"points={self.num_points} table={self.table_size}>"
        )

    # -- plumbing ----------------------------------------------------------

    def _control(self, code: int, value: int, index: int, data: Any) -> None:
        status = _lib.call("ICalControl", self.handle, code, value, index, data)
        _lib.check(status, f"ICalControl({_CONTROL_NAMES.get(code, code)})")

    def _get(self, code: int, ctype: Any) -> Any:
        v = ctype()
        self._control(code, 0, 0, ctypes.byref(v))
        return v.value

    def _set_double(self, code: int, value: float, defer: bool = False) -> None:
        v = ctypes.c_double(value)
        self._control(code, 0, 1 if defer else 0, ctypes.byref(v))

    def _get_string(self, code: int) -> str:
        buf = ctypes.create_string_buffer(128)
        self._control(code, 0, 0, buf)
        return buf.value.decode("utf-8", errors="replace")

    def _set_range_size(self, range: Optional[_Range], table_size: Optional[int]) -> None:
        if range is not None:
            lo, hi = range
            self._set_double(C.ICAL_SET_RANGE_MIN, _finite(lo, "range minimum"), defer=True)
            self._set_double(C.ICAL_SET_RANGE_MAX, _finite(hi, "range maximum"), defer=True)
        if table_size is not None:
            self._control(C.ICAL_SET_TABLE_SIZE, _table_count(table_size), 1, None)

    def _set_points(self, array: np.ndarray, defer: bool) -> None:
        self._control(C.ICAL_SET_POINTS, array.shape[0], 1 if defer else 0, array.ctypes.data)

    def _set_table(self, values: np.ndarray) -> None:
        self._control(C.ICAL_SET_TABLE, values.size, 0, values.ctypes.data)

    # -- settings ----------------------------------------------------------

    @property
    def name(self) -> str:
        """Name (at most 127 bytes of UTF-8; longer names are cut)."""
        return self._get_string(C.ICAL_GET_NAME)

    @name.setter
    def name(self, value: str) -> None:
        self._control(C.ICAL_SET_NAME, 0, 0, _string(value, "name"))

    @property
    def units(self) -> str:
        """Name of the calibrated unit (at most 127 bytes of UTF-8)."""
        return self._get_string(C.ICAL_GET_UNITS)

    @units.setter
    def units(self, value: str) -> None:
        self._control(C.ICAL_SET_UNITS, 0, 0, _string(value, "units"))

    @property
    def type(self) -> CalType:
        """How the table is made; setting it rebuilds (NONE drops points and table)."""
        return CalType(self._get(C.ICAL_GET_TYPE, ctypes.c_uint32))

    @type.setter
    def type(self, value: Any) -> None:
        code = int(CalType(value))
        self._control(C.ICAL_SET_TYPE, code, 0, None)

    @property
    def range_min(self) -> float:
        """Input value of the first table entry."""
        return self._get(C.ICAL_GET_RANGE_MIN, ctypes.c_double)

    @range_min.setter
    def range_min(self, value: float) -> None:
        self._set_double(C.ICAL_SET_RANGE_MIN, _finite(value, "range_min"))

    @property
    def range_max(self) -> float:
        """Input value of the last table entry."""
        return self._get(C.ICAL_GET_RANGE_MAX, ctypes.c_double)

    @range_max.setter
    def range_max(self, value: float) -> None:
        self._set_double(C.ICAL_SET_RANGE_MAX, _finite(value, "range_max"))

    @property
    def range(self) -> _Range:
        """(range_min, range_max); setting both rebuilds once."""
        return (self.range_min, self.range_max)

    @range.setter
    def range(self, value: _Range) -> None:
        lo, hi = value
        self._set_double(C.ICAL_SET_RANGE_MIN, _finite(lo, "range minimum"), defer=True)
        self._set_double(C.ICAL_SET_RANGE_MAX, _finite(hi, "range maximum"))

    @property
    def num_points(self) -> int:
        """Number of calibration points."""
        return self._get(C.ICAL_GET_NUM_POINTS, ctypes.c_uint16)

    @property
    def points(self) -> np.ndarray:
        """Calibration points as an (N, 2) float64 array (a copy).
        Setting replaces them (2 to 32767 finite points) and rebuilds."""
        array = np.zeros((self.num_points, 2), dtype=np.float64)
        if array.size:
            self._control(C.ICAL_GET_POINTS, 0, 0, array.ctypes.data)
        return array

    @points.setter
    def points(self, value: Any) -> None:
        self._set_points(_finite_points(value), defer=False)

    def point(self, index: int) -> Tuple[float, float]:
        """Point ``index`` as (input, calibrated)."""
        i = _point_index(index)
        a, b = ctypes.c_double(), ctypes.c_double()
        self._control(C.ICAL_GET_POINT, 0, i, ctypes.byref(a))
        self._control(C.ICAL_GET_POINT, 1, i, ctypes.byref(b))
        return (a.value, b.value)

    def set_point(
        self, index: int, input: Optional[float] = None, calibrated: Optional[float] = None
    ) -> None:
        """Changes one or both values of point ``index``; a standard
        calibration rebuilds after each value."""
        i = _point_index(index)
        if input is not None:
            v = ctypes.c_double(_finite(input, "input"))
            self._control(C.ICAL_SET_POINT, 0, i, ctypes.byref(v))
        if calibrated is not None:
            v = ctypes.c_double(_finite(calibrated, "calibrated"))
            self._control(C.ICAL_SET_POINT, 1, i, ctypes.byref(v))

    @property
    def black_level(self) -> float:
        """Dark reading of the optical-density calibration."""
        return self._get(C.ICAL_GET_BLACK_LEVEL, ctypes.c_double)

    @black_level.setter
    def black_level(self, value: float) -> None:
        self._set_double(C.ICAL_SET_BLACK_LEVEL, _finite(value, "black_level"))

    @property
    def incident_level(self) -> float:
        """Unattenuated reading of the optical-density calibration."""
        return self._get(C.ICAL_GET_INCIDENT_LEVEL, ctypes.c_double)

    @incident_level.setter
    def incident_level(self, value: float) -> None:
        self._set_double(C.ICAL_SET_INCIDENT_LEVEL, _finite(value, "incident_level"))

    @property
    def table_min(self) -> float:
        """Smallest table entry."""
        return self._get(C.ICAL_GET_TABLE_MIN, ctypes.c_double)

    @property
    def table_max(self) -> float:
        """Largest table entry."""
        return self._get(C.ICAL_GET_TABLE_MAX, ctypes.c_double)

    @property
    def table_size(self) -> int:
        """Number of table entries; setting (2..32767) rebuilds."""
        return self._get(C.ICAL_GET_TABLE_SIZE, ctypes.c_uint16)

    @table_size.setter
    def table_size(self, value: int) -> None:
        self._control(C.ICAL_SET_TABLE_SIZE, _table_count(value), 0, None)

    @property
    def table(self) -> np.ndarray:
        """The lookup table as a float64 array (a copy). Setting hands in a
        whole table (2 to 32767 values); a standard or density calibration
        replaces it again at its next rebuild."""
        array = np.zeros(self.table_size, dtype=np.float64)
        if array.size:
            self._control(C.ICAL_GET_TABLE, 0, 0, array.ctypes.data)
        return array

    @table.setter
    def table(self, value: Any) -> None:
        values = np.array(value, dtype=np.float64, order="C")
        if values.ndim != 1 or not 2 <= values.size <= _MAX_COUNT:
            raise ValueError(
                f"a table is a 1-D array of 2 to {_MAX_COUNT} values, got shape {values.shape}"
            )
        self._set_table(values)

    @property
    def fit_type(self) -> int:
        """Fit type code (see :data:`calmgr.FIT_TYPES`); set by name or code."""
        return self._get(C.ICAL_GET_FIT_TYPE, ctypes.c_int16)

    @property
    def fit(self) -> str:
        """Fit type as a name (``"poly2"``); set by name or code."""
        code = self.fit_type
        for name, value in C.FIT_TYPES.items():
            if value == code:
                return name
        return str(code)

    @fit_type.setter
    def fit_type(self, value: FitChoice) -> None:
        self._control(C.ICAL_SET_FIT_TYPE, fit_code(value), 0, None)

    @fit.setter
    def fit(self, value: FitChoice) -> None:
        self.fit_type = value

    @property
    def options(self) -> int:
        """Option bits (ICAL_OPT_MONOTONIC 1, ICAL_OPT_CLAMP_NEGATIVE 2)."""
        return self._get(C.ICAL_GET_OPTIONS, ctypes.c_uint16)

    @options.setter
    def options(self, value: int) -> None:
        if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value <= 0xFFFF:
            raise ValueError(f"options must be an int in 0..65535, got {value!r}")
        self._control(C.ICAL_SET_OPTIONS, value, 0, None)

    @property
    def monotonic(self) -> bool:
        """Whether the fitted table is forced monotonic."""
        return bool(self.options & C.ICAL_OPT_MONOTONIC)

    @monotonic.setter
    def monotonic(self, value: bool) -> None:
        bit = C.ICAL_OPT_MONOTONIC
        self.options = (self.options & ~bit) | (bit if value else 0)

    @property
    def clamp_negative(self) -> bool:
        """Whether negative table values are replaced by 0."""
        return bool(self.options & C.ICAL_OPT_CLAMP_NEGATIVE)

    @clamp_negative.setter
    def clamp_negative(self, value: bool) -> None:
        bit = C.ICAL_OPT_CLAMP_NEGATIVE
        self.options = (self.options & ~bit) | (bit if value else 0)

    @property
    def attribute(self) -> int:
        """An application's 16-bit value, signed (-32768..32767)."""
        return self._get(C.ICAL_GET_ATTRIBUTE, ctypes.c_int16)

    @attribute.setter
    def attribute(self, value: int) -> None:
        if isinstance(value, bool) or not isinstance(value, int) or not -32768 <= value <= 32767:
            raise ValueError(f"attribute must be an int in -32768..32767, got {value!r}")
        self._control(C.ICAL_SET_ATTRIBUTE, value, 0, None)

    # -- several settings at once -----------------------------------------

    def rebuild(self) -> None:
        """Rebuilds the table from the current settings (whatever the type)."""
        self._set_double(C.ICAL_SET_RANGE_MIN, self.range_min)

    def update(self, **settings: Any) -> None:
        """Changes several settings and rebuilds the table once at the end.

        Keywords: ``range``, ``range_min``, ``range_max``, ``table_size``,
        ``points``, ``fit``, ``options``, ``monotonic``, ``clamp_negative``,
        ``black_level``, ``incident_level``, ``name``, ``units``,
        ``attribute``. Every value is checked before anything changes.
        """
        from ._update import apply_update

        apply_update(self, settings)

    # -- use ---------------------------------------------------------------

    def lookup(self, samples: Any, dtype: Any = np.float64) -> np.ndarray:
        """Calibrated values of ``samples``, an array of any shape.

        Args:
            samples: bool (bilevel: each row along the last axis is
                bit-packed), uint8, uint16, float32 or float64. A last axis
                of length 3 on uint8 or uint16 data is read as RGB pixels.
                Non-contiguous or byte-swapped input is copied first.
            dtype: ``numpy.float64`` (default) or ``numpy.float32``.
        Returns:
            An array of ``samples.shape`` and ``dtype``.
        Raises:
            TypeError: any other sample dtype (int64, complex, object ...).
        """
        return _lookup.lookup(self.handle, samples, dtype)


def lookup(samples: Any, cal: Optional[IntensityCal] = None, dtype: Any = np.float64) -> np.ndarray:
    """As :meth:`IntensityCal.lookup`; without a calibration the values come
    back unchanged (bilevel samples as 0.0 and 1.0)."""
    return _lookup.lookup(None if cal is None else cal.handle, samples, dtype)


def intensity_registry() -> List[int]:
    """Handles of every live intensity calibration in the process, newest first."""
    handles: List[int] = []
    cur = ctypes.c_void_p(None)
    while True:
        _lib.check(_lib.call("ICalControl", cur, C.ICAL_GET_NEXT, 0, 0, ctypes.byref(cur)),
                   "ICalControl(ICAL_GET_NEXT)")
        if not cur.value:
            return handles
        handles.append(cur.value)
