"""SpatialCal and fit_values against SCalPixToCU, PolynomialFit and
PolynomialFitRange called directly; shapes and refusals."""

from __future__ import annotations


import numpy as np
import pytest

import calmgr
from conftest import CLib, bits_equal

rng = np.random.default_rng(7)


def test_settings_read_back() -> None:
    with calmgr.SpatialCal(scale=(2.0, 4.0), origin=(10, -3), units="mm", name="stage",
                           aux_value=1.5) as cal:
        assert cal.scale == (2.0, 4.0)
        assert cal.pixel_size == (0.5, 0.25)
        assert cal.pixel_area == 0.125
        assert cal.origin == (10.0, -3.0)
        assert (cal.units, cal.name, cal.aux_value) == ("mm", "stage", 1.5)
        cal.pixel_size = 0.5
        assert cal.scale == (2.0, 2.0)
        assert "stage" in repr(cal)


def test_to_units_matches_the_c_conversion_across_16bit_runs(clib: CLib) -> None:
    pts = rng.integers(-2**31, 2**31, size=(70000, 2), dtype=np.int64)
    with calmgr.SpatialCal(scale=(3.0, -7.0), origin=(0.25, 1e6)) as cal:
        got = cal.to_units(pts)
        src = np.ascontiguousarray(pts, dtype=np.int32)
        ref = np.empty((70000, 2))
        assert clib.lib.SCalPixToCU(cal.handle, src.ctypes.data, ref.ctypes.data, 65535) == 0
        assert clib.lib.SCalPixToCU(cal.handle, src[65535:].ctypes.data,
                                    ref[65535:].ctypes.data, 70000 - 65535) == 0
        assert bits_equal(got, ref)
        # Other integer dtypes and layouts give the same numbers.
        small = pts[:50] // 65536
        expected = cal.to_units(small)
        assert bits_equal(cal.to_units(small.astype(np.int16)), expected)
        assert bits_equal(cal.to_units(np.asfortranarray(small)), expected)
        assert bits_equal(cal.to_units(small.T.copy().T), expected)
        assert cal.to_units(np.zeros((0, 2), np.int32)).shape == (0, 2)
        assert cal.to_units(np.array([[14, 1]], np.uint8)).shape == (1, 2)


@pytest.mark.parametrize("points,error", [
    (np.array([[1.5, 2.0]]), TypeError), (np.array([[1, 2]], dtype=object), TypeError),
    (np.array([[1 + 1j, 2]]), TypeError), (np.array([[True, False]]), TypeError),
    (np.array([[1, 2, 3]]), ValueError), (np.array(5), ValueError),
    (np.array([[2**31, 0]]), ValueError), (np.array([[0, -2**31 - 1]]), ValueError),
])
def test_to_units_refuses_what_is_not_pixel_positions(points, error) -> None:
    with calmgr.SpatialCal() as cal:
        with pytest.raises(error):
            cal.to_units(points)


@pytest.mark.parametrize("setting,value", [("scale", 0.0), ("scale", (1.0, float("nan"))),
                                           ("pixel_size", -0.0)])
def test_zero_or_nan_scales_are_refused_and_change_nothing(setting: str, value) -> None:
    with calmgr.SpatialCal(scale=2.0) as cal:
        with pytest.raises(ValueError, match="0 or NaN"):
            setattr(cal, setting, value)
        assert cal.scale == (2.0, 2.0) and cal.pixel_area == 0.25
    with pytest.raises(ValueError):
        calmgr.SpatialCal(scale=1.0, pixel_size=1.0)


def test_closed_spatial_calibration_refuses_use() -> None:
    cal = calmgr.SpatialCal()
    with cal:
        pass
    assert cal.closed
    with pytest.raises(ValueError, match="closed"):
        cal.to_units(np.zeros((1, 2), np.int32))
    with pytest.raises(ValueError, match="closed"):
        cal.scale = 2.0


X = np.array([0.0, 1.0, 2.0, 3.0, 4.0, 5.5])
Y = np.array([1.1, 2.9, 5.2, 6.8, 9.3, 14.0])
SAMPLES = np.ascontiguousarray(np.stack([X, Y], axis=1))


@pytest.mark.parametrize("degree", [1, 2, 3, 7])
def test_fit_values_at_abscissae_matches_polynomial_fit(clib: CLib, degree: int) -> None:
    at = np.linspace(-3, 9, 40000).reshape(200, 200)
    got = calmgr.fit_values(X, Y, degree, at)
    assert got.shape == (200, 200)
    flat = at.reshape(-1)
    ref = np.zeros((flat.size, 2))
    ref[:, 0] = flat
    # The library takes at most 32767 abscissae per call.
    for lo in range(0, flat.size, 32767):
        n = min(32767, flat.size - lo)
        assert clib.lib.PolynomialFit(SAMPLES.ctypes.data, 6, ref[lo:].ctypes.data, n,
                                      degree) == 0
    assert bits_equal(got.reshape(-1), np.ascontiguousarray(ref[:, 1]))
    assert bits_equal(calmgr.fit_values(X, Y, degree), calmgr.fit_values(X, Y, degree, X))


def test_fit_values_over_a_grid_matches_polynomial_fit_range(clib: CLib) -> None:
    got = calmgr.fit_values(X, Y, 3, grid=(0.0, 255.0, 256))
    ref = np.empty(256)
    assert clib.lib.PolynomialFitRange(SAMPLES.ctypes.data, 6, ref.ctypes.data, 0.0, 255.0,
                                       256, 3) == 0
    assert bits_equal(got, ref)
    line = calmgr.fit_values([0, 1, 2], [1, 3, 5], 1, [10.0])
    assert abs(line[0] - 21.0) < 1e-9


@pytest.mark.parametrize("kwargs,error,match", [
    (dict(degree=0), calmgr.CalError, "degree must be 1..7"),
    (dict(degree=8), calmgr.CalError, "degree must be 1..7"),
    (dict(degree=65537), calmgr.CalError, "degree must be 1..7"),
    (dict(degree=2.0), TypeError, "int"),
    (dict(degree=2, grid=(0, 1, 1)), ValueError, "grid count"),
    (dict(degree=2, grid=(0, 1, 5), at=[1.0]), ValueError, "not both"),
    (dict(degree=2, y=[1.0, 2.0]), ValueError, "equal length"),
    (dict(degree=2, x=[], y=[]), ValueError, "1 to 32767"),
])
def test_fit_values_refusals(kwargs, error, match) -> None:
    args = dict(x=X, y=Y)
    args.update(kwargs)
    with pytest.raises(error, match=match) as info:
        calmgr.fit_values(**args)
    if error is calmgr.CalError:
        assert info.value.status == -1 and info.value.name == "FIT_ERR_ARGS"


def test_polyfit_is_a_deprecated_alias_that_says_what_it_returns() -> None:
    with pytest.warns(DeprecationWarning, match="fitted values, not coefficients"):
        got = calmgr.polyfit(X, Y, 2, [1.0, 2.0])
    assert bits_equal(got, calmgr.fit_values(X, Y, 2, [1.0, 2.0]))
