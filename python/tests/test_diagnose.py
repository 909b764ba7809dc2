"""Diagnoses: findings with their place and the library's words, and a
CalibrationWarning for each finding a change brings, pointing at the line
that made it."""

from __future__ import annotations

import ctypes
import warnings

import numpy as np
import pytest

import calmgr
from conftest import CLib

DUPLICATE = [(0, 0.0), (64, 1.0), (64, 2.0), (255, 3.0)]
WEDGE = [(200.0, 2.5), (900.0, 1.9), (1800.0, 1.2), (2900.0, 0.6), (3900.0, 0.1)]
# Points each model follows without turning: optical densities read at
# black 100 and incident 4000, and an exponential decay.
DENSITIES = [(100 + 3900 * 10 ** -od, od) for od in (0.05, 0.4, 0.8, 1.2, 1.6, 2.0)]
DECAY = [(x, 2.5 * np.exp(-x / 1500)) for x, _ in WEDGE]
CAREFUL = {"density": DENSITIES, "exp2": DECAY, "log1": DECAY}


def diag_text(clib: CLib, code: int) -> str:
    fn = clib.lib.CalDiagText
    fn.restype, fn.argtypes = ctypes.c_char_p, [ctypes.c_uint32]
    return fn(code).decode()


def test_a_finding_names_its_place_and_says_what_is_wrong(clib: CLib) -> None:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", calmgr.CalibrationWarning)
        cal = calmgr.IntensityCal.from_points(DUPLICATE, "interp1")
    with cal:
        findings = cal.diagnose()
        dup = [f for f in findings if f.code == "DUPLICATE_INPUT"]
        assert len(dup) == 1
        assert (dup[0].point, dup[0].entry, dup[0].value) == (2, None, 64.0)
        assert dup[0].text == diag_text(clib, calmgr.Diag.DUPLICATE_INPUT)
        assert str(dup[0]) == f"point 2 (64): {dup[0].text}"
        assert calmgr.Diag[dup[0].code] == 3


@pytest.mark.parametrize("fit", sorted(calmgr.FIT_TYPES))
def test_a_careful_calibration_has_no_findings_and_warns_of_nothing(fit: str) -> None:
    with warnings.catch_warnings():
        warnings.simplefilter("error", calmgr.CalibrationWarning)
        with calmgr.IntensityCal.from_points(CAREFUL.get(fit, WEDGE), fit, range=(0, 4095),
                                             table_size=4096) as cal:
            assert cal.diagnose() == []


def test_a_warning_made_an_error_leaves_no_calibration_behind() -> None:
    before = set(calmgr.intensity_registry())
    with warnings.catch_warnings():
        warnings.simplefilter("error", calmgr.CalibrationWarning)
        with pytest.raises(calmgr.CalibrationWarning, match="another point has this input"):
            calmgr.IntensityCal.from_points(DUPLICATE, "interp1")
    assert set(calmgr.intensity_registry()) == before


def test_building_warns_once_for_each_finding_at_the_callers_line() -> None:
    with pytest.warns(calmgr.CalibrationWarning) as caught:
        cal = calmgr.IntensityCal.from_points(DUPLICATE, "interp1")
    with cal:
        assert [str(w.message) for w in caught] == [
            f"calibration {cal.name!r}: {f}" for f in cal.diagnose()]
        assert {w.filename for w in caught} == {__file__}


def test_a_change_warns_only_of_what_is_new() -> None:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", calmgr.CalibrationWarning)
        cal = calmgr.IntensityCal.from_points(DUPLICATE, "interp1")
    with cal:
        with warnings.catch_warnings():
            warnings.simplefilter("error", calmgr.CalibrationWarning)
            cal.fit = "interp2"  # the same duplicate: nothing new
            cal.name = "renamed"
        with pytest.warns(calmgr.CalibrationWarning, match=r"point 3 \(255\)") as caught:
            cal.range = (0, 200)  # the last point now lies outside
        assert len(caught) == 1 and caught[0].filename == __file__
        with pytest.warns(calmgr.CalibrationWarning) as caught:
            cal.set_point(0, input=300.0)
        assert any("point 1" in str(w.message) for w in caught)


def test_every_finding_is_reported_however_many() -> None:
    rng = np.random.default_rng(2)
    points = np.column_stack([rng.permutation(3000).astype(float), np.arange(3000.0)])
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", calmgr.CalibrationWarning)
        cal = calmgr.IntensityCal.from_points(points, "interp1", range=(0, 3000),
                                              table_size=30000)
    with cal:
        findings = cal.diagnose()
        unsorted = [f for f in findings if f.code == "UNSORTED"]
        assert len(unsorted) == sum(points[i, 0] < points[i - 1, 0] for i in range(1, 3000))
        assert len(caught) == len(findings)
