"""Lookups with a policy for values outside the range and NaN samples, and
their counts, against ICalLookupEx with the policy applied by numpy; and the
warning about samples outside a range nobody chose."""

from __future__ import annotations

import warnings

import numpy as np
import pytest

import calmgr
from conftest import CLib, bits_equal
from test_lookup import CALS, CODES, FLOAT, SAMPLES, interpolating_cal, twelve_bit_cal

pytestmark = pytest.mark.filterwarnings("ignore::calmgr.CalibrationWarning")

RGB_CODES = {"uint8": 3, "uint16": 8}


def expected(clib: CLib, cal: calmgr.IntensityCal, samples: np.ndarray, code: int,
             pixels: int, out, outside: str, nan: str):
    """ICalLookupEx's values with the policy applied, and the counts."""
    ref = clib.lookup(cal.handle, code, samples, pixels, samples.size, out)
    values = np.asarray(samples, np.float64).reshape(-1)
    lo, hi = cal.range
    below, above, missing = values < lo, values > hi, np.isnan(values)
    if outside == "nan":
        ref[below | above] = np.nan
    if nan == "propagate":
        ref[missing] = np.nan
    return ref, calmgr.LookupStats(int(below.sum()), int(above.sum()), int(missing.sum()))


@pytest.mark.parametrize("cal_kind", sorted(CALS))
@pytest.mark.parametrize("kind", sorted(SAMPLES) + ["rgb8", "rgb16"])
@pytest.mark.parametrize("out", [np.float64, np.float32])
@pytest.mark.parametrize("outside,nan", [("clamp", "propagate"), ("nan", "first-entry"),
                                         ("nan", "propagate"), ("clamp", "first-entry")])
def test_every_route_applies_the_policy_and_counts(clib: CLib, cal_kind: str, kind: str, out,
                                                   outside: str, nan: str) -> None:
    if kind.startswith("rgb"):
        dt = np.dtype(np.uint8 if kind == "rgb8" else np.uint16)
        samples = np.random.default_rng(5).integers(0, np.iinfo(dt).max + 1, (4, 5, 3), dt)
        code, pixels = RGB_CODES[dt.name], 20
    else:
        samples, code, pixels = SAMPLES[kind], CODES[kind], SAMPLES[kind].size
    flag = FLOAT if out is np.float32 else 0
    with CALS[cal_kind]() as cal:
        got, seen = cal.lookup(samples, dtype=out, outside=outside, nan=nan, stats=True)
        ref, counts = expected(clib, cal, samples, code | flag, pixels, out, outside, nan)
        assert bits_equal(got.reshape(-1), ref)
        assert seen == counts


def test_nan_samples_give_nan_by_default_and_outside_values_are_clamped() -> None:
    with interpolating_cal() as cal:
        table = cal.table
        got = cal.lookup([np.nan, -1e9, 1e9, np.inf])
        assert np.isnan(got[0]) and got[1] == table[0] and got[2:].tolist() == [table[-1]] * 2
        assert cal.lookup(np.nan, nan="first-entry") == table[0]
        assert np.isnan(cal.lookup(np.float32(-11.0), outside="nan"))
        # The range's ends are inside.
        assert not np.isnan(cal.lookup([-10.0, 1000.0], outside="nan")).any()


def test_sixteen_bit_samples_past_a_direct_table_are_above() -> None:
    samples = np.array([[0, 4095], [4096, 65535]], np.uint16)
    with twelve_bit_cal() as cal:
        got, seen = cal.lookup(samples, outside="nan", stats=True)
        assert seen == (0, 2, 0)
        assert np.isnan(got[1]).all() and not np.isnan(got[0]).any()


def test_stats_come_with_out_bits_and_no_calibration() -> None:
    with interpolating_cal() as cal:
        out = np.empty((2, 2), np.float32)
        result, seen = cal.lookup(np.array([[-20.0, 5.0], [np.nan, 2e3]]), out=out, stats=True)
        assert result is out and seen == calmgr.LookupStats(below=1, above=1, nan=1)
        _, bits = cal.lookup(np.ones((3, 13), bool), stats=True)
        assert bits == (0, 0, 0)
        one, single = cal.lookup(-50.0, stats=True)
        assert isinstance(one, np.float64) and single.below == 1
    values, none = calmgr.lookup(np.array([np.nan, 7.0]), stats=True)
    assert np.isnan(values[0]) and values[1] == 7.0 and none.nan == 1


@pytest.mark.parametrize("kwargs,match", [
    ({"outside": "zero"}, "outside must be 'clamp' or 'nan'"),
    ({"nan": "keep"}, "nan must be 'propagate' or 'first-entry'"),
])
def test_unknown_policies_are_refused(kwargs, match) -> None:
    with interpolating_cal() as cal:
        with pytest.raises(ValueError, match=match):
            cal.lookup([1.0], **kwargs)
    with pytest.raises(ValueError, match=match):
        calmgr.lookup([1.0], **kwargs)


@pytest.mark.filterwarnings("error::calmgr.CalibrationWarning")
def test_samples_outside_the_default_range_warn() -> None:
    image = np.array([[10, 300], [70000 // 2, 65535]], np.uint16)
    with calmgr.IntensityCal.from_points([(0, 0.0), (255, 1.0)], name="wedge") as cal:
        with pytest.warns(calmgr.CalibrationWarning,
                          match=r"'wedge': 75 % of the samples lie above the default "
                                r"calibrated range 0\.\.255") as record:
            cal.lookup(image)
        assert record[0].filename == __file__  # the user's line
        with pytest.warns(calmgr.CalibrationWarning, match="25 % .* below"):
            cal.lookup([-1.0, 1.0, 2.0, 3.0])
        cal.lookup(np.arange(256, dtype=np.uint8))  # all inside: no warning
        cal.lookup(image, outside="nan")  # asked for: no warning
        cal.range = (0, 255)  # chosen now
        cal.lookup(image)
    with calmgr.IntensityCal.from_points([(0, 0.0), (255, 1.0)], dtype=np.uint16) as cal:
        cal.lookup(image)


def test_policy_lookups_of_long_runs_match_the_plain_ones() -> None:
    samples = np.random.default_rng(9).uniform(-100, 1100, 300_000)
    samples[::1000] = np.nan
    with interpolating_cal() as cal:
        plain = cal.lookup(samples, nan="first-entry")
        policy, seen = cal.lookup(samples, outside="nan", stats=True)
        inside = (samples >= -10) & (samples <= 1000)
        assert bits_equal(policy[inside], plain[inside]) and np.isnan(policy[~inside]).all()
        assert seen.nan == 300 and seen.below + seen.above + seen.nan == (~inside).sum()
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            cal.lookup(samples)
