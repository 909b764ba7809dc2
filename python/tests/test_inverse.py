"""Inverse lookups against ICalInverse called directly, and back through
the forward lookup; shapes, scalars and what stays unresolved."""

from __future__ import annotations

import ctypes

import numpy as np
import pytest

import calmgr
from conftest import CLib, bits_equal

WEDGE = [(200.0, 2.5), (900.0, 1.9), (1800.0, 1.2), (2900.0, 0.6), (3900.0, 0.1)]


def c_inverse(clib: CLib, handle: int, values: np.ndarray) -> np.ndarray:
    fn = clib.lib.ICalInverse
    fn.restype = ctypes.c_int32
    fn.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint64, ctypes.c_void_p,
                   ctypes.c_void_p]
    src = np.ascontiguousarray(values, np.float64).reshape(-1)
    out = np.empty_like(src)
    assert fn(handle, src.ctypes.data, src.size, out.ctypes.data, None) == 0
    return out


@pytest.mark.parametrize("fit", ["poly3", "interp2", "density", "log2"])
def test_inverse_matches_the_library_and_looks_up_to_the_value(clib: CLib, fit: str) -> None:
    with calmgr.IntensityCal.from_points(WEDGE, fit, range=(0, 4095),
                                         table_size=4096) as cal:
        values = np.linspace(cal.table_min, cal.table_max, 600).reshape(20, 30)
        inputs = cal.inverse(values)
        assert inputs.shape == (20, 30) and inputs.dtype == np.float64
        assert bits_equal(inputs.reshape(-1), c_inverse(clib, cal.handle, values))
        resolved = ~np.isnan(inputs)
        assert resolved.mean() > 0.9
        # Back within 4 ulps of the table's scale, plus what one ulp of the
        # input moves the value on a steep segment.
        x = inputs[resolved]
        back = cal.lookup(x)
        table, lo, hi = cal.table, cal.range_min, cal.range_max
        step = (hi - lo) / (table.size - 1)
        seg = np.clip(((x - lo) / step).astype(int), 0, table.size - 2)
        slope = np.abs(table[seg + 1] - table[seg]) / step
        bound = 4 * np.spacing(np.abs(table).max()) + 2 * slope * np.spacing(x)
        assert np.all(np.abs(back - values[resolved]) <= bound)


def test_values_no_input_reaches_or_several_do_are_nan() -> None:
    # A table that rises and falls again: values on both sides are ambiguous.
    with calmgr.IntensityCal.from_table([0.0, 1.0, 2.0, 1.0, 0.5], range=(0, 4)) as cal:
        got = cal.inverse([1.5, 0.25, 5.0, -1.0, np.nan, 2.0])
        assert np.isnan(got[[0, 2, 3, 4]]).all()
        assert got[1] == pytest.approx(0.25)
        assert got[5] == pytest.approx(2.0)


def test_scalars_lists_and_integers_are_accepted() -> None:
    with calmgr.IntensityCal.from_points([(0, 0.0), (255, 2.55)]) as cal:
        one = cal.inverse(1.0)
        assert isinstance(one, np.float64) and one == pytest.approx(100.0)
        assert cal.inverse([1, 2]).tolist() == pytest.approx([100.0, 200.0])
        assert cal.inverse(np.zeros((0, 4))).shape == (0, 4)
        with pytest.raises(TypeError, match="numbers"):
            cal.inverse(["a"])
    with pytest.raises(ValueError, match="closed"):
        cal.inverse(1.0)
