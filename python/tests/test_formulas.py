"""Results against numpy's own formulas, and the example run end to end."""

from __future__ import annotations

import os
import subprocess
import sys

import numpy as np
import pytest

import calmgr

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "examples", "step_wedge.py")


def test_density_lookup_follows_the_optical_density_formula() -> None:
    samples = np.arange(1, 256, dtype=np.uint8)
    with calmgr.IntensityCal.from_density(0.0, 255.0) as cal:
        od = cal.lookup(samples)
    np.testing.assert_allclose(od, -np.log10(samples / 255.0), rtol=1e-13, atol=1e-15)


def test_two_point_line_and_interpolation_follow_numpy_interp() -> None:
    x = np.linspace(-5.0, 1005.0, 997)
    with calmgr.IntensityCal.from_points([(0.0, 0.5), (1000.0, 3.25)],
                                         range=(0.0, 1000.0), table_size=101) as cal:
        got = cal.lookup(x)
        grid = np.linspace(0.0, 1000.0, 101)
        np.testing.assert_allclose(got, np.interp(x, grid, cal.table), rtol=1e-12)
        np.testing.assert_allclose(cal.table, 0.5 + grid * 2.75 / 1000.0, rtol=1e-12)


def test_fit_values_agree_with_numpy_polyfit() -> None:
    x = np.linspace(0.0, 3.0, 25)
    y = 1.0 - 2.0 * x + 0.5 * x ** 3 + np.sin(7 * x) * 0.01
    at = np.linspace(-1.0, 4.0, 50)
    expected = np.polyval(np.polyfit(x, y, 3), at)
    np.testing.assert_allclose(calmgr.fit_values(x, y, 3, at), expected, rtol=1e-9, atol=1e-9)


def test_step_wedge_example_recovers_the_wedge_and_writes_a_png(tmp_path) -> None:
    pytest.importorskip("matplotlib")
    png = tmp_path / "wedge.png"
    env = dict(os.environ, CALMGR_LIBRARY=calmgr.library_path(),
               PYTHONPATH=os.path.dirname(os.path.dirname(os.path.abspath(calmgr.__file__))))
    r = subprocess.run([sys.executable, EXAMPLE, str(png)], env=env, capture_output=True,
                       text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    rows = [line.split() for line in r.stdout.splitlines() if line.strip()[:1].isdigit()]
    assert len(rows) == 8
    known = np.array([float(row[2]) for row in rows])
    calibrated = np.array([float(row[3]) for row in rows])
    np.testing.assert_allclose(calibrated, known, atol=0.03)
