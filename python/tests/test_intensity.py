"""IntensityCal: builders against the same controls called directly, every
property read back, fit names, and every refusal as a Python exception."""

from __future__ import annotations


import numpy as np
import pytest

import calmgr
from conftest import CLib, bits_equal

WEDGE = [(200.0, 2.5), (900.0, 1.9), (1800.0, 1.2), (2900.0, 0.6), (3900.0, 0.1)]
FIT_CODES = {"default": 0, "poly1": 1, "poly2": 2, "poly3": 3, "interp1": 4, "interp2": 5,
             "interp3": 6, "od": 10, "exp1": 11, "exp2": 12, "exp3": 13, "log1": 21,
             "log2": 22, "log3": 23}


def c_points_table(clib: CLib, points, fit: int, lo: float, hi: float, size: int,
                   options: int = 0) -> np.ndarray:
    """The table the C controls build for these settings."""
    h = clib.lib.ICalCreate()
    try:
        assert clib.set_double(h, 5, lo, 1) == 0
        assert clib.set_double(h, 7, hi, 1) == 0
        assert clib.lib.ICalControl(h, 21, size, 1, None) == 0
        assert clib.lib.ICalControl(h, 31, options, 1, None) == 0
        pts = np.ascontiguousarray(points, dtype=np.float64)
        assert clib.lib.ICalControl(h, 11, len(pts), 1, pts.ctypes.data) == 0
        assert clib.lib.ICalControl(h, 23, fit, 0, None) == 0
        return clib.table(h)
    finally:
        clib.lib.ICalDestroy(h)


@pytest.mark.parametrize("fit", sorted(FIT_CODES))
def test_fit_names_build_the_table_of_their_code(clib: CLib, fit: str) -> None:
    with calmgr.IntensityCal.from_points(WEDGE, fit, range=(0, 4095), table_size=4096) as cal:
        assert cal.fit_type == FIT_CODES[fit]
        assert cal.fit == fit
        ref = c_points_table(clib, WEDGE, FIT_CODES[fit], 0.0, 4095.0, 4096)
        assert bits_equal(cal.table, ref)
        assert cal.table_min == ref.min() and cal.table_max == ref.max()


def test_options_reach_the_builder(clib: CLib) -> None:
    wiggly = [(0, 0.0), (60, 50.0), (120, 20.0), (200, -30.0), (255, 80.0)]
    with calmgr.IntensityCal.from_points(wiggly, "poly3", monotonic=True,
                                         clamp_negative=True) as cal:
        assert cal.options == 3 and cal.monotonic and cal.clamp_negative
        assert bits_equal(cal.table, c_points_table(clib, wiggly, 3, 0.0, 255.0, 256, 3))
        assert cal.table.min() >= 0.0
        cal.monotonic = False
        assert cal.options == 2
        assert bits_equal(cal.table, c_points_table(clib, wiggly, 3, 0.0, 255.0, 256, 2))


def test_density_and_table_builders(clib: CLib) -> None:
    with calmgr.IntensityCal.from_density(5.0, 250.0) as cal:
        assert cal.type == calmgr.CalType.DENSITY
        assert (cal.black_level, cal.incident_level) == (5.0, 250.0)
        h = clib.lib.ICalCreate()
        clib.set_double(h, 15, 5.0, 1)
        clib.set_double(h, 17, 250.0, 1)
        assert clib.lib.ICalControl(h, 3, 1, 0, None) == 0
        assert bits_equal(cal.table, clib.table(h))
        clib.lib.ICalDestroy(h)
    table = [0.0, 10.0, 30.0, 60.0, 100.0]
    with calmgr.IntensityCal.from_table(table, range=(0, 8)) as cal:
        assert cal.type == calmgr.CalType.TABLE
        assert cal.table.tolist() == table
        assert cal.lookup(np.array([3.0, 8.0, 9.0, -0.5])).tolist() == [20.0, 100.0, 100.0, 0.0]
    with calmgr.IntensityCal.from_table(np.linspace(0, 1, 4096)) as cal:
        assert cal.range == (0.0, 4095.0)


def test_properties_read_back_and_rebuild(clib: CLib) -> None:
    with calmgr.IntensityCal(name="wedge", units="OD") as cal:
        assert (cal.name, cal.units) == ("wedge", "OD")
        cal.name = "x" * 200
        assert cal.name == "x" * 127
        cal.name = "é" * 100  # 200 bytes of UTF-8: cut on a character boundary
        assert cal.name == "é" * 63
        cal.attribute = -5
        assert cal.attribute == -5
        cal.points = [(0, 1.0), (255, 3.0)]
        assert cal.points.tolist() == [[0.0, 1.0], [255.0, 3.0]]
        assert cal.table[0] == 1.0 and cal.table[-1] == 3.0
        cal.set_point(1, calibrated=5.0)
        assert cal.point(1) == (255.0, 5.0)
        assert cal.table[-1] == 5.0
        cal.range = (0.0, 4095.0)
        cal.table_size = 4096
        assert cal.table_size == 4096 and cal.table.size == 4096
        assert cal.range_max == 4095.0
        cal.range_min = 10.0
        assert cal.range_min == 10.0
        cal.type = calmgr.CalType.NONE
        assert cal.num_points == 0 and cal.points.shape == (0, 2) and cal.table.size == 0
        assert cal.lookup(np.array([200], np.uint8)).tolist() == [200.0]
        assert "NONE" in repr(cal)


def test_update_applies_everything_and_rebuilds_once(clib: CLib) -> None:
    with calmgr.IntensityCal() as cal:
        cal.update(range=(0, 4095), table_size=4096, points=WEDGE, fit="interp2",
                   monotonic=True, units="OD", name="w", attribute=3)
        ref = c_points_table(clib, WEDGE, 5, 0.0, 4095.0, 4096, 1)
        assert bits_equal(cal.table, ref)
        assert (cal.units, cal.name, cal.attribute, cal.options) == ("OD", "w", 3, 1)
        before = cal.table
        with pytest.raises(ValueError, match="NaN"):
            cal.update(table_size=300, points=[(0, 1), (np.nan, 2)])
        assert cal.table_size == 4096 and bits_equal(cal.table, before)
        with pytest.raises(TypeError, match="unknown settings"):
            cal.update(colour="red")


@pytest.mark.parametrize("points,error,match", [
    ([(0, 1), (np.nan, 2)], ValueError, "NaN or infinite"),
    ([(0, 1), (5, np.inf)], ValueError, "NaN or infinite"),
    ([(0, 1)], ValueError, "2 to 32767 points"),
    ([(0, 1, 2), (3, 4, 5)], ValueError, r"shape \(N, 2\)"),
    ([[(0, 1)], [(2, 3)]], ValueError, r"shape \(N, 2\)"),
    ([("a", "b"), (1, 2)], TypeError, "array of numbers"),
    (np.zeros((40000, 2)), ValueError, "2 to 32767 points"),
])
def test_bad_points_are_refused_and_nothing_is_left(points, error, match) -> None:
    with pytest.raises(error, match=match):
        calmgr.IntensityCal.from_points(points, "poly2")
    with calmgr.IntensityCal() as cal:
        with pytest.raises(error, match=match):
            cal.points = points
        assert cal.points.tolist() == [[0.0, 0.0], [255.0, 255.0]]


def test_refusals_of_the_library_raise_cal_error_with_the_status_name() -> None:
    # Exponential fits need two positive calibrated values; the library says no.
    with pytest.raises(calmgr.CalError) as info:
        calmgr.IntensityCal.from_points([(0, -1.0), (100, 0.0), (200, 1.0)], "exp1")
    assert info.value.status == -985 and info.value.name == "CAL_ERR_INVALID"
    assert "ICAL_SET_FIT_TYPE" in str(info.value) and "CAL_ERR_INVALID" in str(info.value)
    with pytest.raises(calmgr.CalError, match="CAL_ERR_INVALID"):
        calmgr.IntensityCal.from_density(200.0, 100.0)
    with calmgr.IntensityCal() as cal:
        with pytest.raises(calmgr.CalError):
            cal.point(2)
        with pytest.raises(IndexError):
            cal.point(70000)


@pytest.mark.parametrize("fit,error", [("poly9", ValueError), (14, ValueError), (20, ValueError),
                                      (2.0, TypeError), (True, TypeError)])
def test_unknown_fits_are_refused_before_the_library_ignores_them(fit, error) -> None:
    with pytest.raises(error):
        calmgr.IntensityCal.from_points(WEDGE, fit)
    with calmgr.IntensityCal() as cal:
        with pytest.raises(error):
            cal.fit = fit
        assert cal.fit_type == 0


@pytest.mark.parametrize("setter,value,error", [
    ("range_min", float("nan"), ValueError), ("range_max", "x", TypeError),
    ("black_level", float("inf"), ValueError), ("table_size", 1, ValueError),
    ("table_size", 40000, ValueError), ("table_size", 2.5, TypeError),
    ("attribute", 40000, ValueError), ("options", -1, ValueError), ("name", 5, TypeError),
    ("units", "a\0b", ValueError), ("table", [1.0], ValueError),
    ("table", np.zeros((2, 2)), ValueError), ("type", 7, ValueError),
])
def test_bad_settings_raise_and_change_nothing(setter: str, value, error) -> None:
    with calmgr.IntensityCal() as cal:
        before = (cal.range, cal.table_size, cal.attribute, cal.options, cal.name, cal.units)
        with pytest.raises(error):
            setattr(cal, setter, value)
        assert (cal.range, cal.table_size, cal.attribute, cal.options, cal.name,
                cal.units) == before
