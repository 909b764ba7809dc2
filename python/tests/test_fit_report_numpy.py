"""calmgr.fit_report (PolynomialFitReport) against numpy.polyfit: on the
NIST StRD polynomial datasets (against their certified values) and on
random well- and ill-conditioned problems (against an 80-digit solution of
the same double samples), the report's coefficients and standard errors are
never less accurate than numpy's."""

from __future__ import annotations

import math
import pathlib
import warnings

import mpmath
import numpy as np
import pytest

import calmgr

STRD = pathlib.Path(__file__).resolve().parents[2] / "tests" / "data" / "strd"
SETS = ["Norris", "Pontius", "Wampler1", "Wampler2", "Wampler3", "Wampler4", "Wampler5", "Filip"]
MAX_LRE = 15.0


@pytest.fixture(scope="module")
def fit_report():
    def run(x: np.ndarray, y: np.ndarray, degree: int) -> tuple[np.ndarray, np.ndarray]:
        report = calmgr.fit_report(x, y, degree)
        return report.coeffs, report.std_errors

    return run


def numpy_fit(x: np.ndarray, y: np.ndarray, degree: int) -> tuple[np.ndarray, np.ndarray]:
    """numpy's coefficients and standard errors, lowest power first; where
    it finds the design rank-deficient it has no covariance (NaN)."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # numpy's "poorly conditioned" warning
        c = np.polyfit(x, y, degree)
        try:
            _, cov = np.polyfit(x, y, degree, cov=True)
            se = np.sqrt(np.abs(np.diag(cov)))
        except ValueError:
            se = np.full(degree + 1, np.nan)
    return c[::-1], se[::-1]


def lre(estimate, reference) -> float:
    """Least number of agreeing significant digits over the components."""
    worst = MAX_LRE
    for e, r in zip(estimate, reference):
        r = float(r)
        if r == 0.0:
            continue
        err = abs(float(e) - r) / abs(r)
        if math.isnan(err):
            return 0.0
        worst = min(worst, MAX_LRE if err == 0.0 else max(0.0, -math.log10(err)))
    return worst


def exact_fit(x: np.ndarray, y: np.ndarray, degree: int) -> tuple[list, list]:
    """Coefficients and standard errors of the least-squares polynomial,
    by the normal equations in 80-digit arithmetic on the doubles given."""
    with mpmath.workdps(80):
        m = degree + 1
        xs = [mpmath.mpf(float(v)) for v in x]
        ys = [mpmath.mpf(float(v)) for v in y]
        g = mpmath.matrix(m, m)
        h = mpmath.matrix(m, 1)
        for xv, yv in zip(xs, ys):
            p = [xv**k for k in range(2 * m - 1)]
            for j in range(m):
                h[j] += yv * p[j]
                for k in range(m):
                    g[j, k] += p[j + k]
        b = mpmath.lu_solve(g, h)
        ssr = sum((yv - sum(b[k] * xv**k for k in range(m))) ** 2 for xv, yv in zip(xs, ys))
        s2 = ssr / (len(xs) - m)
        ginv = mpmath.inverse(g)
        return [b[k] for k in range(m)], [mpmath.sqrt(s2 * ginv[k, k]) for k in range(m)]


def read_set(name: str):
    def rows(path: pathlib.Path):
        return [ln.split() for ln in path.read_text().splitlines() if ln and not ln.startswith("#")]

    xy = np.array([[float(a), float(b)] for a, b in rows(STRD / f"{name}.xy")])
    cert = {r[0]: r[1:] for r in rows(STRD / f"{name}.cert")}
    coeffs = [float(cert[f"B{k}"][0]) for k in range(len(cert) - 2)]
    errors = [float(cert[f"B{k}"][1]) for k in range(len(cert) - 2)]
    return xy[:, 0], xy[:, 1], coeffs, errors


def expect_no_worse(fit_report, x, y, ref_c, ref_e, least: float, noise: float) -> None:
    """The report's coefficients and standard errors agree with the
    reference to `least` digits at least, and to numpy's digits less
    `noise` (where both are at the floor the doubles set, they differ by
    rounding alone)."""
    degree = len(ref_c) - 1
    ours_c, ours_e = fit_report(x, y, degree)
    np_c, np_e = numpy_fit(x, y, degree)
    for ours, theirs, ref in ((ours_c, np_c, ref_c), (ours_e, np_e, ref_e)):
        assert lre(ours, ref) >= least
        assert lre(ours, ref) >= min(lre(theirs, ref), MAX_LRE) - noise


@pytest.mark.parametrize("name", SETS)
def test_strd_certified_values_no_worse_than_numpy(fit_report, name):
    # The certified values are those of the decimal data; the doubles read
    # from it differ in the last bit, which costs a digit or two.
    x, y, coeffs, errors = read_set(name)
    expect_no_worse(fit_report, x, y, coeffs, errors, least=12.0, noise=0.5)


def random_problems():
    rng = np.random.default_rng(20240613)
    cases = []
    # Well conditioned: spread x, moderate degree, a little noise.
    for degree in (1, 2, 3, 5):
        x = rng.uniform(0.0, 10.0, 60)
        y = np.polyval(rng.normal(size=degree + 1), x) + rng.normal(scale=0.01, size=x.size)
        cases.append((f"spread-{degree}", x, y, degree))
    # Ill conditioned: x far from zero relative to its spread, high degrees,
    # large residuals (as Wampler5), and tiny x.
    for degree in (3, 4, 5):
        x = 1000.0 + rng.uniform(0.0, 2.0, 50)
        y = np.sin(x) + rng.normal(scale=0.1, size=x.size)
        cases.append((f"offset-{degree}", x, y, degree))
    for degree in (8, 10, 12):
        x = np.linspace(-1.0, 3.0, 45)
        y = np.exp(x) + rng.normal(scale=1e-3, size=x.size)
        cases.append((f"high-{degree}", x, y, degree))
    x = np.arange(21.0)
    cases.append(("large-residual", x, np.polyval(np.ones(6), x) + rng.normal(scale=1e7, size=21), 5))
    x = rng.uniform(1e-4, 2e-4, 40)
    cases.append(("tiny-x", x, 1.0 + 3e3 * x - 1e7 * x**2 + rng.normal(scale=1e-6, size=40), 2))
    return cases


@pytest.mark.parametrize("case", random_problems(), ids=lambda c: c[0])
def test_random_problems_no_worse_than_numpy(fit_report, case):
    _, x, y, degree = case
    ref_c, ref_e = exact_fit(x, y, degree)
    expect_no_worse(fit_report, x, y, ref_c, ref_e, least=13.0, noise=0.3)
