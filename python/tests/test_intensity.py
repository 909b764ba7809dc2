"""IntensityCal: builders against the same controls called directly, every
property read back, fit names, and every refusal as a Python exception."""

from __future__ import annotations


import numpy as np
import pytest

import calmgr
from conftest import CLib, bits_equal

WEDGE = [(200.0, 2.5), (900.0, 1.9), (1800.0, 1.2), (2900.0, 0.6), (3900.0, 0.1)]
FIT_CODES = {"piecewise": 0, "poly1": 1, "poly2": 2, "poly3": 3, "interp1": 4, "interp2": 5,
             "interp3": 6, "density": 10, "exp1": 11, "exp2": 12, "exp3": 13, "log1": 21,
             "log2": 22, "log3": 23}
ALIASES = {"default": "piecewise", "od": "density", "POLY2": "poly2"}


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


@pytest.mark.parametrize("alias,name", sorted(ALIASES.items()))
def test_fit_aliases_name_the_same_fit(alias: str, name: str) -> None:
    with calmgr.IntensityCal.from_points(WEDGE, alias, range=(0, 4095)) as cal:
        assert cal.fit == name
        cal.fit = FIT_CODES[name]
        assert cal.fit == name


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


def test_refusals_of_the_library_name_their_cause_and_change_nothing() -> None:
    # Exponential fits need two positive calibrated values; the library says no.
    with pytest.raises(calmgr.CalError) as info:
        calmgr.IntensityCal.from_points([(0, -1.0), (100, 0.0), (200, 1.0)], "exp1")
    assert info.value.status == -985 and info.value.name == "CAL_ERR_INVALID"
    assert str(info.value).startswith(
        "exp1 needs at least two points with a positive calibrated value")
    with pytest.raises(calmgr.CalError, match="incident level above the black level"):
        calmgr.IntensityCal.from_density(200.0, 100.0)
    # A refused change on a live calibration puts back what it had changed.
    with calmgr.IntensityCal.from_points(WEDGE, "poly2", range=(0, 4095)) as cal:
        before = (cal.fit_type, cal.points.tobytes(), cal.range, cal.table.tobytes())
        with pytest.raises(calmgr.CalError, match="exp2 needs at least two points"):
            cal.update(points=[(0, -1.0), (100, 0.0), (200, 1.0)], fit="exp2",
                       range=(0, 255))
        assert (cal.fit_type, cal.points.tobytes(), cal.range, cal.table.tobytes()) == before
    with calmgr.IntensityCal.from_density(5.0, 250.0) as cal:
        table = cal.table
        with pytest.raises(calmgr.CalError, match=r"black 300, incident 250"):
            cal.black_level = 300.0
        assert cal.black_level == 5.0 and bits_equal(cal.table, table)
    with calmgr.IntensityCal() as cal:
        with pytest.raises(IndexError, match="has 2 points"):
            cal.point(2)
        with pytest.raises(IndexError):
            cal.point(70000)
        cal.type = "none"
        with pytest.raises(calmgr.CalError, match="type NONE; set its type first"):
            cal.points = WEDGE


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


@pytest.mark.parametrize("dtype,expected", [(np.uint8, (0.0, 255.0)), (np.uint16, (0.0, 65535.0)),
                                            ("uint16", (0.0, 65535.0))])
def test_the_range_follows_the_samples_dtype(dtype, expected) -> None:
    with calmgr.IntensityCal.from_points(WEDGE, "poly2", dtype=dtype) as cal:
        assert cal.range == expected


@pytest.mark.parametrize("kwargs,error,match", [
    (dict(dtype=np.float32), ValueError, "uint8 and uint16"),
    (dict(dtype=np.int32), ValueError, "uint8 and uint16"),
    (dict(dtype="no such type"), TypeError, "numpy.uint8 or numpy.uint16"),
    (dict(dtype=np.uint16, range=(0, 10)), ValueError, "not both"),
])
def test_a_range_is_inferred_only_for_sample_dtypes(kwargs, error, match) -> None:
    with pytest.raises(error, match=match):
        calmgr.IntensityCal.from_points(WEDGE, "poly2", **kwargs)


BAD_RANGES = [((255, 0), "inverted"), ((5.0, 5.0), "empty"), ((0, float("nan")), "finite"),
              ((float("-inf"), 1), "finite")]


@pytest.mark.parametrize("bad,match", BAD_RANGES)
def test_inverted_empty_or_infinite_ranges_are_refused_everywhere(bad, match) -> None:
    makers = [lambda: calmgr.IntensityCal.from_points(WEDGE, range=bad),
              lambda: calmgr.IntensityCal.from_density(5, 250, range=bad),
              lambda: calmgr.IntensityCal.from_table([0, 1, 2], range=bad)]
    for make in makers:
        with pytest.raises(ValueError, match=match):
            make()
    with calmgr.IntensityCal.from_points(WEDGE, "poly2", range=(0, 4095)) as cal:
        table = cal.table
        with pytest.raises(ValueError, match=match):
            cal.range = bad
        with pytest.raises(ValueError, match=match):
            cal.update(range=bad, fit="poly3")
        assert cal.range == (0.0, 4095.0) and cal.fit == "poly2"
        assert bits_equal(cal.table, table)


def test_setting_one_end_past_the_other_says_to_set_both() -> None:
    with calmgr.IntensityCal() as cal:
        with pytest.raises(ValueError, match=r"inverted.*set both ends at once"):
            cal.range_min = 300.0
        with pytest.raises(ValueError, match="empty"):
            cal.range_max = 0.0
        cal.range = (300.0, 600.0)
        cal.range_max = 700.0
        assert cal.range == (300.0, 700.0)


def test_the_grid_is_the_one_the_library_builds_on() -> None:
    # Over this range the accumulated grid and min + i * step part ways in
    # the last bit, so only the library's own walk reproduces the table.
    lo, hi, n = 0.1, 1000.7, 777
    x0, y0, x1, y1 = 3.0, 0.25, 997.0, 7.5
    with calmgr.IntensityCal.from_points([(x0, y0), (x1, y1)], range=(lo, hi),
                                         table_size=n) as cal:
        grid = cal.grid
        assert grid[0] == lo and grid.size == n
        slope = (y1 - y0) / (x1 - x0)
        intercept = y0 - x0 * slope
        assert bits_equal(cal.table, slope * grid + intercept)
        assert cal.grid_rule == "running_sum"
        by_index = calmgr.table_grid(lo, hi, n, "product")
        assert not bits_equal(by_index, grid)
        assert bits_equal(calmgr.table_grid(lo, hi, n), grid)
    # Piecewise interpolation places entry i at min + i * step. Through these
    # points it gives back its input exactly (every operation is exact).
    with calmgr.IntensityCal.from_points([(0, 0), (512, 512), (1024, 1024)], "interp1",
                                         range=(0, 1024), table_size=1000) as cal:
        assert cal.grid_rule == "product"
        assert bits_equal(cal.table, cal.grid)
        assert not bits_equal(cal.grid, calmgr.table_grid(0, 1024, 1000))
