"""calmgr.fit_report and IntensityCal.fit_report: the report's arrays and
numbers, the space a calibration's fit lives in, and the refusals."""

from __future__ import annotations

import dataclasses
import math
import warnings

import numpy as np
import pytest

import calmgr

rng = np.random.default_rng(13)
POINTS = [(100.0, 2.4), (700.0, 1.8), (1500.0, 1.15), (2600.0, 0.62), (3800.0, 0.12),
          (4000.0, 0.1)]


def test_a_report_matches_numpy_on_a_well_conditioned_fit() -> None:
    x = rng.uniform(0.0, 10.0, 80)
    y = 0.5 - 1.5 * x + 0.25 * x**2 + rng.normal(scale=0.05, size=x.size)
    report = calmgr.fit_report(x, y, 2)
    coeffs, cov = np.polyfit(x, y, 2, cov="unscaled")
    residuals = y - np.polyval(coeffs, x)
    ssr = float(residuals @ residuals)
    s2 = ssr / (x.size - 3)
    assert report.degree == 2 and report.num_samples == 80 and report.space == "y"
    assert report.coeffs.shape == report.std_errors.shape == (3,)
    assert report.covariance.shape == (3, 3)
    np.testing.assert_allclose(report.coeffs, coeffs[::-1], rtol=1e-12)
    np.testing.assert_allclose(report.covariance, s2 * cov[::-1, ::-1], rtol=1e-10)
    np.testing.assert_allclose(report.std_errors, np.sqrt(np.diag(report.covariance)),
                               rtol=1e-14)
    assert report.ssr == pytest.approx(ssr, rel=1e-10)
    assert report.residual_sd == pytest.approx(math.sqrt(s2), rel=1e-10)
    assert report.r_squared == pytest.approx(1 - ssr / float(((y - y.mean()) ** 2).sum()),
                                             rel=1e-12)
    assert 1.0 <= report.condition < 100.0
    np.testing.assert_allclose(report(x), np.polyval(coeffs, x), rtol=1e-12)


def test_a_report_is_frozen_and_its_arrays_read_only() -> None:
    report = calmgr.fit_report([0, 1, 2, 3], [1, 3, 5, 7.5], 1)
    with pytest.raises(dataclasses.FrozenInstanceError):
        report.degree = 3  # type: ignore[misc]
    for array in (report.coeffs, report.std_errors, report.covariance):
        with pytest.raises(ValueError, match="read-only"):
            array[0] = 1.0


def test_exactly_degree_plus_one_samples_pass_through_them_all() -> None:
    report = calmgr.fit_report([1.0, 2.0, 4.0], [1.0, 4.0, 16.0], 2)
    np.testing.assert_allclose(report.coeffs, [0.0, 0.0, 1.0], atol=1e-13)
    assert report.residual_sd == 0.0 and not report.std_errors.any()


def test_high_degrees_beyond_the_fixed_fits() -> None:
    x = np.linspace(-1.0, 1.0, 40)
    y = np.cos(3 * x)
    report = calmgr.fit_report(x, y, 15)
    assert report.coeffs.shape == (16,)
    assert np.abs(report(x) - y).max() < 1e-9


@pytest.mark.parametrize("x,y,degree,error,match", [
    ([0, 1, 2], [0, 1], 1, ValueError, "equal length"),
    ([[0, 1]], [[0, 1]], 1, ValueError, "1-D"),
    ([0, 1, 2], [0, 1, 2], 0, ValueError, "degree must be 1..15"),
    ([0, 1, 2], [0, 1, 2], 16, ValueError, "degree must be 1..15"),
    ([0, 1, 2], [0, 1, 2], 2.0, TypeError, "int"),
    ([0, 1], [0, 1], 2, ValueError, "needs 3"),
    ([0, 1, np.nan], [0, 1, 2], 1, ValueError, "sample 2 .* not finite"),
    ([0, 1, 2], [0, np.inf, 2], 1, ValueError, "sample 1 .* not finite"),
    ([1, 1, 1, 2], [0, 1, 2, 3], 2, calmgr.CalError, "3 distinct x values.*there are 2"),
])
def test_bad_samples_and_degrees_are_refused(x, y, degree, error, match) -> None:
    with pytest.raises(error, match=match):
        calmgr.fit_report(x, y, degree)


def fitted(fit: str, **kwargs) -> calmgr.IntensityCal:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", calmgr.CalibrationWarning)
        return calmgr.IntensityCal.from_points(POINTS, fit, range=(0, 4095), table_size=4096,
                                               **kwargs)


@pytest.mark.parametrize("fit,degree,space,transform", [
    ("poly1", 1, "calibrated", lambda y: y),
    ("poly3", 3, "calibrated", lambda y: y),
    ("exp2", 2, "ln(calibrated)", np.log),
    ("log3", 3, "exp(-calibrated)", lambda y: np.exp(-y)),
    ("density", 1, "10**-calibrated", lambda y: 10.0 ** -y),
])
def test_a_calibrations_report_is_the_fit_of_its_points_in_its_space(
        fit: str, degree: int, space: str, transform) -> None:
    x, y = np.array(POINTS).T
    with fitted(fit) as cal:
        report = cal.fit_report()
        assert report.space == space and report.degree == degree
        direct = calmgr.fit_report(x, transform(y), degree)
        np.testing.assert_array_equal(report.coeffs, direct.coeffs)
        np.testing.assert_array_equal(report.covariance, direct.covariance)


def test_exp_fits_leave_out_points_that_are_not_positive() -> None:
    points = POINTS[:-1] + [(4000.0, -0.05)]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", calmgr.CalibrationWarning)
        cal = calmgr.IntensityCal.from_points(points, "exp1", range=(0, 4095))
    with cal:
        assert cal.fit_report().num_samples == len(points) - 1


@pytest.mark.parametrize("make,match", [
    (lambda: fitted("interp2"), "interp2 table is interpolated, not fitted"),
    (lambda: calmgr.IntensityCal.from_points([(0, 0.0), (9, 1.0)], "poly2"),
     "two points has the line through both"),
    (lambda: calmgr.IntensityCal.from_table([0.0, 1.0, 4.0]), "type TABLE has no fitted"),
    (lambda: calmgr.IntensityCal.from_density(5.0, 250.0), "type DENSITY has no fitted"),
])
def test_calibrations_without_a_fit_say_why(make, match) -> None:
    with make() as cal:
        with pytest.raises(calmgr.CalError, match=match):
            cal.fit_report()
