"""The examples in the package's docstrings run as written, and the package
and user code that uses it type-check under mypy --strict."""

from __future__ import annotations

import doctest
import importlib
import os
import shutil
import subprocess

import numpy as np
import pytest

import calmgr

PKG_PARENT = os.path.dirname(os.path.dirname(os.path.abspath(calmgr.__file__)))
MODULES = sorted(f"calmgr.{name[:-3]}" for name in os.listdir(calmgr.__path__[0])
                 if name.endswith(".py") and name not in ("__init__.py", "__main__.py"))


@pytest.mark.parametrize("name", ["calmgr"] + MODULES)
def test_docstring_examples_run(name: str) -> None:
    if name == "calmgr.dask":
        pytest.importorskip("dask.array")
    module = importlib.import_module(name)
    finder = doctest.DocTestFinder()
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    for test in finder.find(module, name, globs={"numpy": np, "calmgr": calmgr,
                                                  **vars(calmgr)}):
        runner.run(test)
    result = runner.summarize(verbose=False)
    assert result.failed == 0
    if name == "calmgr.dask":
        module.forget()  # the calibrations it rebuilt for chunks


USER_CODE = """
import numpy as np
import numpy.typing as npt
import calmgr

cal = calmgr.IntensityCal.from_points([(0, 0.0), (255, 1.0)], "poly1", dtype=np.uint8)
cal.fit = "poly2"
cal.fit = 3
cal.points = [(0, 0.0), (10, 2.0)]
cal.range = [0, 4095]
cal.type = calmgr.CalType.DENSITY
cal.monotonic = True
image = np.zeros((4, 4), np.uint16)
f64: npt.NDArray[np.float64] = cal.lookup(image)
f32: npt.NDArray[np.float32] = cal.lookup(image, dtype=np.float32)
into: npt.NDArray[np.float32] = cal.lookup(image, out=np.empty((4, 4), np.float32))
one: np.float64 = cal.lookup(3)
loaded = calmgr.load("cal.json")
if isinstance(loaded, calmgr.SpatialCal):
    loaded.scale = (1.0, 2.0)
points: npt.NDArray[np.float64] = cal.points
lo, hi = cal.range
cal.name = 5
wrong: npt.NDArray[np.float32] = cal.lookup(image)
"""


@pytest.mark.skipif(shutil.which("mypy") is None, reason="mypy is not installed")
def test_mypy_strict_passes_the_package_and_checks_user_code(tmp_path) -> None:
    env = dict(os.environ, MYPYPATH=PKG_PARENT)
    user = tmp_path / "user.py"
    user.write_text(USER_CODE)
    r = subprocess.run(["mypy", "--strict", "--no-incremental", "--cache-dir", str(tmp_path),
                        "calmgr", str(user)], capture_output=True, text=True, env=env,
                       cwd=PKG_PARENT, timeout=600)
    errors = [line for line in r.stdout.splitlines() if ": error:" in line]
    # Exactly the two mistakes in the user code: a name is a str, and float64
    # values are not float32.
    lines = USER_CODE.splitlines()
    name_line = lines.index("cal.name = 5") + 1
    wrong_line = name_line + 1
    assert len(errors) == 2, r.stdout
    assert errors[0].startswith(f"{user}:{name_line}:") and 'type "str"' in errors[0]
    assert errors[1].startswith(f"{user}:{wrong_line}:") and "floating[_64Bit]" in errors[1]
