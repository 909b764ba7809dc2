"""Shared fixtures: the C library itself, declared here independently of the
package, as the reference every result is compared with; and a check that no
test leaves a calibration behind."""

from __future__ import annotations

import ctypes
import gc
from ctypes import c_double, c_int16, c_int32, c_uint32, c_void_p
from typing import Any, Iterator

import numpy as np
import pytest

import calmgr


class CLib:
    """Direct ctypes access to libcalmgr.so, with the C prototypes."""

    def __init__(self, path: str) -> None:
        self.lib = ctypes.CDLL(path)
        for name, res, args in (
            ("ICalCreate", c_void_p, []),
            ("ICalDestroy", c_int32, [c_void_p]),
            ("ICalControl", c_int32, [c_void_p, c_uint32, c_int32, c_int32, c_void_p]),
            ("ICalLookupEx", c_int32, [c_void_p, c_uint32, c_void_p, c_uint32, c_void_p]),
            ("SCalCreate", c_void_p, []),
            ("SCalDestroy", c_int32, [c_void_p]),
            ("SCalControl", c_int32, [c_void_p, c_uint32, c_int32, c_int32, c_void_p]),
            ("SCalPixToCU", c_int32, [c_void_p, c_void_p, c_void_p, c_uint32]),
            ("PolynomialFit", c_int32, [c_void_p, c_int16, c_void_p, c_int16, c_int16]),
            ("PolynomialFitRange", c_int32,
             [c_void_p, c_int16, c_void_p, c_double, c_double, c_int16, c_int16]),
        ):
            fn = getattr(self.lib, name, None)
            if fn is not None:
                fn.restype, fn.argtypes = res, args

    def lookup(self, handle: Any, code: int, samples: np.ndarray, count: int,
               nvalues: int, out_dtype: Any) -> np.ndarray:
        """ICalLookupEx on a contiguous buffer; code includes the float flag."""
        out = np.empty(nvalues, dtype=out_dtype)
        src = np.ascontiguousarray(samples)
        assert self.lib.ICalLookupEx(handle, code, src.ctypes.data, count, out.ctypes.data) == 0
        return out

    def table(self, handle: int) -> np.ndarray:
        n = ctypes.c_uint16()
        assert self.lib.ICalControl(handle, 20, 0, 0, ctypes.byref(n)) == 0
        out = np.empty(n.value, dtype=np.float64)
        assert self.lib.ICalControl(handle, 22, 0, 0, out.ctypes.data) == 0
        return out

    def set_double(self, handle: int, code: int, value: float, defer: int) -> int:
        v = ctypes.c_double(value)
        return self.lib.ICalControl(handle, code, 0, defer, ctypes.byref(v))


@pytest.fixture(scope="session")
def clib() -> CLib:
    return CLib(calmgr.library_path())


def bits_equal(a: np.ndarray, b: np.ndarray) -> bool:
    """Same shape, dtype and bytes (NaN payloads and signed zeros included)."""
    return a.shape == b.shape and a.dtype == b.dtype and a.tobytes() == b.tobytes()


@pytest.fixture(autouse=True)
def no_leftover_calibrations() -> Iterator[None]:
    gc.collect()
    before_i = set(calmgr.intensity_registry())
    before_s = set(calmgr.spatial_registry())
    yield
    gc.collect()
    assert set(calmgr.intensity_registry()) == before_i, "intensity calibrations left behind"
    assert set(calmgr.spatial_registry()) == before_s, "spatial calibrations left behind"
