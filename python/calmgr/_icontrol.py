"""ICalControl for the package: typed reads of a calibration's settings and
the words for what each control does. The caller holds the calibration's
lock; nothing here takes one."""

from __future__ import annotations

import ctypes
from typing import Any, Dict

import numpy as np
import numpy.typing as npt

from . import _lib
from . import constants as C

#: What each setting control does, for messages.
ACTIONS: Dict[int, str] = {
    C.ICAL_SET_NAME: "set the name",
    C.ICAL_SET_TYPE: "set the calibration type",
    C.ICAL_SET_RANGE_MIN: "set the range minimum",
    C.ICAL_SET_RANGE_MAX: "set the range maximum",
    C.ICAL_SET_POINTS: "set the points",
    C.ICAL_SET_POINT: "set a point",
    C.ICAL_SET_BLACK_LEVEL: "set the black level",
    C.ICAL_SET_INCIDENT_LEVEL: "set the incident level",
    C.ICAL_SET_TABLE_SIZE: "set the table size",
    C.ICAL_SET_FIT_TYPE: "set the fit type",
    C.ICAL_SET_UNITS: "set the units",
    C.ICAL_SET_TABLE: "set the table",
    C.ICAL_SET_ATTRIBUTE: "set the attribute",
    C.ICAL_SET_OPTIONS: "set the options",
}

# Names of the codes, for CalError.call.
_NAMES = {v: k for k, v in vars(C).items()
          if k.startswith(("ICAL_GET_", "ICAL_SET_")) and isinstance(v, int)}


def call_name(code: int) -> str:
    return f"ICalControl({_NAMES.get(code, code)})"


def control(handle: Any, code: int, value: int = 0, index: int = 0, data: Any = None) -> int:
    """ICalControl's status."""
    status: int = _lib.function("ICalControl")(handle, code, value, index, data)
    return status


def get(handle: int, code: int, ctype: Any) -> Any:
    """One value read by a getter control, of the given ctypes type."""
    v = ctype()
    _lib.check(control(handle, code, 0, 0, ctypes.byref(v)), call_name(code))
    return v.value


def get_text(handle: int, code: int) -> str:
    buf = ctypes.create_string_buffer(128)
    _lib.check(control(handle, code, 0, 0, buf), call_name(code))
    return buf.value.decode("utf-8", errors="replace")


def get_points(handle: int) -> npt.NDArray[np.float64]:
    """The points as a new (N, 2) array."""
    array = np.zeros((get(handle, C.ICAL_GET_NUM_POINTS, ctypes.c_uint16), 2), np.float64)
    if array.size:
        _lib.check(control(handle, C.ICAL_GET_POINTS, 0, 0, array.ctypes.data),
                   call_name(C.ICAL_GET_POINTS))
    return array


def get_table(handle: int) -> npt.NDArray[np.float64]:
    """The table as a new array."""
    array = np.zeros(get(handle, C.ICAL_GET_TABLE_SIZE, ctypes.c_uint16), np.float64)
    if array.size:
        _lib.check(control(handle, C.ICAL_GET_TABLE, 0, 0, array.ctypes.data),
                   call_name(C.ICAL_GET_TABLE))
    return array


def set_double(handle: int, code: int, value: float, defer: bool) -> int:
    v = ctypes.c_double(value)
    return control(handle, code, 0, 1 if defer else 0, ctypes.byref(v))
