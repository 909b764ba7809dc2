"""Spatial calibrations: pixel coordinates to calibrated units."""

from __future__ import annotations

import ctypes
import math
from typing import Any, List, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _lib, _sync
from . import constants as C
from ._checks import text as _string
from ._owned import Owned
from ._setting import Setting

_CONTROL_NAMES = {v: k for k, v in vars(C).items() if k.startswith("SCAL_")}
_CHUNK = 0xFFFF  # SCalPixToCU reads a 16-bit count

_Pair = Union[float, Tuple[float, float]]
Pair = Tuple[float, float]


def _pair(value: Any, what: str) -> Tuple[float, float]:
    """(x, y) from a number (both axes) or a pair of numbers."""
    if isinstance(value, (tuple, list, np.ndarray)):
        if len(value) != 2:
            raise ValueError(f"{what} must be a number or an (x, y) pair, got {value!r}")
        x, y = value
    else:
        x = y = value
    try:
        return (float(x), float(y))
    except (TypeError, ValueError):
        raise TypeError(f"{what} must be numbers, got {value!r}") from None


class SpatialCal(Owned):
    """A spatial calibration: per-axis scale (pixels per unit) and origin
    (pixels), converting pixel positions to calibrated units.

    >>> with SpatialCal(pixel_size=0.5, units="mm") as cal:
    ...     cal.to_units(numpy.array([[10, 4]]))
    array([[5., 2.]])
    """

    _create = "SCalCreate"
    _destroy = "SCalDestroy"
    _c_save = "CalSaveSpatial"
    _c_to_json = "CalSpatialToJson"
    _c_from_json = "CalSpatialFromJson"
    _format = "calmgr.spatial"

    def __init__(
        self,
        *,
        scale: Optional[_Pair] = None,
        pixel_size: Optional[_Pair] = None,
        origin: Optional[_Pair] = None,
        units: Optional[str] = None,
        name: Optional[str] = None,
        aux_value: Optional[float] = None,
    ) -> None:
        """A new calibration (scales 1, origins 0, units "Pixels"), then the
        given settings. ``scale``, ``pixel_size`` and ``origin`` take one
        number for both axes or an (x, y) pair; give scale or pixel_size."""
        if scale is not None and pixel_size is not None:
            raise ValueError("give scale or pixel_size, not both (one is 1 / the other)")
        self._take()
        try:
            if scale is not None:
                self.scale = scale
            if pixel_size is not None:
                self.pixel_size = pixel_size
            if origin is not None:
                self.origin = origin
            if units is not None:
                self.units = units
            if name is not None:
                self.name = name
            if aux_value is not None:
                self.aux_value = aux_value
        except BaseException:
            self.close()
            raise

    def __repr__(self) -> str:
        if self._handle is None:
            return "<SpatialCal closed>"
        return f"<SpatialCal {self.name!r} scale={self.scale} origin={self.origin} {self.units!r}>"

    # -- plumbing ----------------------------------------------------------

    def _control(self, handle: int, code: int, axis: int, data: Any) -> None:
        status = _lib.function("SCalControl")(handle, code, axis, 0, data)
        _lib.check(status, f"SCalControl({_CONTROL_NAMES.get(code, code)})",
                   "scales and pixel sizes must not be 0 or NaN"
                   if code in (C.SCAL_SET_SCALE, C.SCAL_SET_PIXEL_SIZE) else "")

    def _get(self, code: int, axis: int = 0) -> float:
        v = ctypes.c_double()
        with self._reading() as handle:
            self._control(handle, code, axis, ctypes.byref(v))
        return v.value

    def _get_pair(self, code: int) -> Pair:
        x, y = ctypes.c_double(), ctypes.c_double()
        with self._reading() as handle:
            self._control(handle, code, 0, ctypes.byref(x))
            self._control(handle, code, 1, ctypes.byref(y))
        return (x.value, y.value)

    def _set(self, code: int, values: Tuple[float, ...]) -> None:
        """Sets axis 0, then axis 1 (when two values are given), as one change."""
        with self._writing() as handle:
            for axis, value in enumerate(values):
                v = ctypes.c_double(value)
                self._control(handle, code, axis, ctypes.byref(v))

    def _set_pair(self, code: int, value: Any, what: str) -> None:
        x, y = _pair(value, what)
        if code in (C.SCAL_SET_SCALE, C.SCAL_SET_PIXEL_SIZE) and (x == 0 or y == 0
                                                                   or math.isnan(x)
                                                                   or math.isnan(y)):
            raise ValueError(f"{what} must not be 0 or NaN, got ({x}, {y})")
        self._set(code, (x, y))

    def _get_string(self, code: int) -> str:
        buf = ctypes.create_string_buffer(128)
        with self._reading() as handle:
            self._control(handle, code, 0, buf)
        return buf.value.decode("utf-8", errors="replace")

    def _set_string(self, code: int, value: str, what: str) -> None:
        data = _string(value, what)
        with self._writing() as handle:
            self._control(handle, code, 0, data)

    # -- settings ----------------------------------------------------------

    @property
    def name(self) -> str:
        """Name (at most 127 bytes of UTF-8)."""
        return self._get_string(C.SCAL_GET_NAME)

    @name.setter
    def name(self, value: str) -> None:
        self._set_string(C.SCAL_SET_NAME, value, "name")

    @property
    def units(self) -> str:
        """Name of the calibrated unit (at most 127 bytes of UTF-8)."""
        return self._get_string(C.SCAL_GET_UNITS)

    @units.setter
    def units(self, value: str) -> None:
        self._set_string(C.SCAL_SET_UNITS, value, "units")

    def _get_scale(self) -> Pair:
        """(x, y) pixels per unit; set one number for both axes or a pair."""
        return self._get_pair(C.SCAL_GET_SCALE)

    def _set_scale(self, value: _Pair) -> None:
        self._set_pair(C.SCAL_SET_SCALE, value, "scale")

    scale = Setting(_get_scale, _set_scale)

    def _get_pixel_size(self) -> Pair:
        """(x, y) units per pixel, 1 / scale; set one number or a pair."""
        return self._get_pair(C.SCAL_GET_PIXEL_SIZE)

    def _set_pixel_size(self, value: _Pair) -> None:
        self._set_pair(C.SCAL_SET_PIXEL_SIZE, value, "pixel_size")

    pixel_size = Setting(_get_pixel_size, _set_pixel_size)

    def _get_origin(self) -> Pair:
        """(x, y) pixel position of the units' zero; set one number or a pair."""
        return self._get_pair(C.SCAL_GET_ORIGIN)

    def _set_origin(self, value: _Pair) -> None:
        self._set_pair(C.SCAL_SET_ORIGIN, value, "origin")

    origin = Setting(_get_origin, _set_origin)

    @property
    def aux_value(self) -> float:
        """An application's value, stored and returned unchanged."""
        return self._get(C.SCAL_GET_AUX_VALUE)

    @aux_value.setter
    def aux_value(self, value: float) -> None:
        self._set(C.SCAL_SET_AUX_VALUE, (float(value),))

    @property
    def pixel_area(self) -> float:
        """Area of one pixel in square units."""
        return self._get(C.SCAL_GET_PIXEL_AREA)

    # -- use ---------------------------------------------------------------

    def to_units(self, points: npt.ArrayLike) -> npt.NDArray[np.float64]:
        """Calibrated positions of pixel ``points``.

        Args:
            points: integer array of shape (N, 2) (or any shape ending in 2)
                holding (x, y) pixel positions within the int32 range.
        Returns:
            float64 array of the same shape.
        Raises:
            TypeError: non-integer points (round them first, e.g.
                ``numpy.rint(p).astype(numpy.int32)``).
            ValueError: a wrong shape or coordinates beyond int32.
        """
        array = np.asarray(points)
        if array.dtype.kind not in "iu":
            raise TypeError(
                f"pixel points must be an integer array, not {array.dtype}; round them "
                "first, e.g. numpy.rint(points).astype(numpy.int32)"
            )
        if array.ndim == 0 or array.shape[-1] != 2:
            raise ValueError(f"pixel points must have shape (N, 2), got {array.shape}")
        if array.size and (array.min() < -(2**31) or array.max() > 2**31 - 1):
            raise ValueError("pixel coordinates must lie within the int32 range")
        pixels = np.ascontiguousarray(array, dtype=np.int32).reshape(-1, 2)
        out = np.empty(pixels.shape, dtype=np.float64)
        fn = _lib.function("SCalPixToCU")
        with self._reading() as handle:
            for start in range(0, pixels.shape[0], _CHUNK):
                n = min(_CHUNK, pixels.shape[0] - start)
                _lib.check(fn(handle, pixels[start:].ctypes.data, out[start:].ctypes.data, n),
                           "SCalPixToCU")
        return out.reshape(array.shape)


def spatial_registry() -> List[int]:
    """Handles of every live spatial calibration in the process, newest first."""
    handles: List[int] = []
    cur = ctypes.c_void_p(None)
    fn = _lib.function("SCalControl")
    with _sync.registry:
        while True:
            _lib.check(fn(cur, C.SCAL_GET_NEXT, 0, 0, ctypes.byref(cur)),
                       "SCalControl(SCAL_GET_NEXT)")
            if not cur.value:
                return handles
            handles.append(cur.value)
