"""calmgr.dask: dask arrays calibrated chunk by chunk give the bits of one
lookup over the whole array, on the threaded scheduler and on a local
cluster of worker processes (where only the saved document can travel)."""

from __future__ import annotations

import warnings

import numpy as np
import pytest

import calmgr
from conftest import bits_equal

da = pytest.importorskip("dask.array")
import calmgr.dask  # noqa: E402

rng = np.random.default_rng(5)


@pytest.fixture(autouse=True)
def forget_rebuilt_calibrations():
    yield
    calmgr.dask.forget()
WEDGE = [(200.0, 2.5), (900.0, 1.9), (1800.0, 1.2), (2900.0, 0.6), (3900.0, 0.1)]


def samples():
    floats = rng.uniform(-50, 4200, (37, 53))
    floats[3, 4] = np.nan
    return {
        "uint16": rng.integers(0, 65536, (37, 53), dtype=np.uint16),
        "float64": floats,
        "int64": rng.integers(0, 5000, (37, 53)),
        "bool": rng.integers(0, 2, (37, 53)).astype(bool),
        "rgb": rng.integers(0, 256, (20, 9, 3), dtype=np.uint8),
    }


@pytest.mark.parametrize("out", [np.float64, np.float32])
def test_chunked_lookups_give_the_in_memory_bits(out) -> None:
    with calmgr.IntensityCal.from_points(WEDGE, "poly3", range=(0, 4095),
                                         table_size=1000) as cal:
        for name, image in samples().items():
            chunks = (7, 11) if image.ndim == 2 else (6, 4, 2)  # uneven, rows split
            result = calmgr.dask.lookup(cal, da.from_array(image, chunks=chunks), out)
            assert result.dtype == np.dtype(out) and result.chunks == da.from_array(
                image, chunks=chunks).chunks
            got = result.compute(scheduler="threads")
            assert bits_equal(got, cal.lookup(image, dtype=out)), name
            policy = calmgr.dask.lookup(cal, da.from_array(image, chunks=chunks), out,
                                        outside="nan", nan="first-entry")
            assert bits_equal(policy.compute(scheduler="threads"),
                              cal.lookup(image, dtype=out, outside="nan", nan="first-entry"))


def test_the_graph_keeps_the_calibration_as_it_was_and_refuses_bad_samples() -> None:
    image = rng.integers(0, 4096, (16, 16), dtype=np.uint16)
    with calmgr.IntensityCal.from_points(WEDGE, "poly2", range=(0, 4095)) as cal:
        before = cal.lookup(image)
        lazy = calmgr.dask.lookup(cal, da.from_array(image, chunks=8))
        cal.fit = "interp1"
    assert bits_equal(lazy.compute(scheduler="threads"), before)
    with calmgr.IntensityCal() as cal:
        with pytest.raises(TypeError, match="complex"):
            calmgr.dask.lookup(cal, da.zeros(4, dtype=complex))
        with pytest.raises(ValueError, match="outside must be"):
            calmgr.dask.lookup(cal, da.zeros(4), outside="drop")
        negative = da.from_array(np.array([1, 2, -5, 4]), chunks=2)
        # In this thread: a pool's worker may hold the failed chunk's frames
        # (and the calibration rebuilt for it) a moment after the error
        # reaches the caller, which the leak check would count.
        with pytest.raises(ValueError, match="sample -5"):
            calmgr.dask.lookup(cal, negative, outside="nan").compute(scheduler="synchronous")


def test_a_local_cluster_of_two_workers_gives_the_same_bits() -> None:
    distributed = pytest.importorskip("distributed")
    image = rng.integers(0, 65536, (300, 200), dtype=np.uint16)
    with calmgr.IntensityCal.from_points(WEDGE, "density", dtype=np.uint16,
                                         table_size=4096) as cal:
        expected = cal.lookup(image, dtype=np.float32)
        lazy = calmgr.dask.lookup(cal, da.from_array(image, chunks=(50, 100)), np.float32)
    # The calibration is gone here: the workers rebuild it from its document.
    with distributed.LocalCluster(n_workers=2, threads_per_worker=2, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        got = client.compute(lazy).result()
        workers = client.run(lambda: __import__("os").getpid())
    assert len(set(workers.values())) == 2
    assert bits_equal(got, expected)


def test_the_on_disk_example_writes_the_in_memory_bits(tmp_path) -> None:
    import importlib.util
    import os
    import subprocess
    import sys

    example = os.path.join(os.path.dirname(__file__), "..", "examples", "dask_memmap.py")
    image, out = tmp_path / "image.raw", tmp_path / "od.raw"
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(calmgr.__file__)))
    r = subprocess.run([sys.executable, example, "--side", "1000", "--chunk", "300",
                        "--image", str(image), "--out", str(out)], env=env,
                       capture_output=True, text=True, timeout=600)
    assert r.returncode == 0, r.stderr
    assert "peak resident memory" in r.stdout
    found = importlib.util.spec_from_file_location("dask_memmap", example)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    raw = np.fromfile(image, np.uint16).reshape(1000, 1000)
    with module.calibration() as cal:
        expected = cal.lookup(raw, dtype=np.float32)
    assert bits_equal(np.fromfile(out, np.float32).reshape(1000, 1000), expected)


def test_a_default_range_is_questioned_before_the_chunks_run_out_of_sight() -> None:
    wide = da.from_array(np.array([10, 300, 4000], dtype=np.uint16), chunks=2)
    with calmgr.IntensityCal.from_points([(0, 0.0), (255, 1.0)]) as cal:
        with pytest.warns(calmgr.CalibrationWarning, match="default range 0..255.*uint16"):
            calmgr.dask.lookup(cal, wide)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            calmgr.dask.lookup(cal, da.zeros(4, dtype=np.uint8))  # cannot leave it
            calmgr.dask.lookup(cal, wide, outside="nan")  # nothing is clamped
    with calmgr.IntensityCal.from_points([(0, 0.0), (255, 1.0)], dtype=np.uint16) as cal, \
            warnings.catch_warnings():
        warnings.simplefilter("error")
        calmgr.dask.lookup(cal, wide)
