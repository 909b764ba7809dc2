"""Lookups over numpy arrays against ICalLookupEx called directly: every
sample type, both output types, shapes, layouts and refusals."""

from __future__ import annotations


import numpy as np
import pytest

import calmgr
from conftest import CLib, bits_equal

FLOAT = 0x1000
rng = np.random.default_rng(20261208)


def interpolating_cal() -> calmgr.IntensityCal:
    """A calibration whose table is not one entry per integer input, so
    every route interpolates (and clamps outside -10..1000)."""
    cal = calmgr.IntensityCal.from_points([(0.0, 0.5), (1000.0, 3.25)],
                                         range=(-10.0, 1000.0), table_size=301)
    return cal


def twelve_bit_cal() -> calmgr.IntensityCal:
    """4096 entries over 0..4095: 16-bit samples index the table directly."""
    return calmgr.IntensityCal.from_points([(0.0, 4.0), (4095.0, -1.0)],
                                          range=(0.0, 4095.0), table_size=4096)


CALS = {
    "default": lambda: calmgr.IntensityCal(),
    "interpolating": interpolating_cal,
    "twelve_bit": twelve_bit_cal,
    "density": lambda: calmgr.IntensityCal.from_density(5.0, 250.0),
}

SAMPLES = {
    "uint8": (np.arange(600).reshape(20, 30) * 7 % 256).astype(np.uint8),
    "uint16": rng.integers(0, 65536, size=(7, 11), dtype=np.uint16),
    "float32": np.concatenate([rng.uniform(-50, 1100, 60).astype(np.float32),
                               np.array([np.nan, np.inf, -np.inf, -0.0], np.float32)]),
    "float64": np.concatenate([rng.uniform(-50, 1100, 60),
                               np.array([np.nan, np.inf, -np.inf, 255.0, 4095.0])]).reshape(5, 13),
}
CODES = {"uint8": 1, "uint16": 4, "float32": 5, "float64": 7}


@pytest.mark.parametrize("cal_kind", sorted(CALS))
@pytest.mark.parametrize("kind", sorted(SAMPLES))
@pytest.mark.parametrize("out", [np.float64, np.float32])
def test_plain_samples_match_the_c_lookup(clib: CLib, cal_kind: str, kind: str, out) -> None:
    samples = SAMPLES[kind]
    with CALS[cal_kind]() as cal:
        got = cal.lookup(samples, dtype=out)
        flag = FLOAT if out is np.float32 else 0
        ref = clib.lookup(cal.handle, CODES[kind] | flag, samples, samples.size,
                          samples.size, out)
        assert got.shape == samples.shape and got.dtype == np.dtype(out)
        assert bits_equal(got.reshape(-1), ref)


@pytest.mark.parametrize("cal_kind", sorted(CALS))
@pytest.mark.parametrize("kind,code", [("uint8", 3), ("uint16", 8)])
@pytest.mark.parametrize("out", [np.float64, np.float32])
def test_rgb_samples_use_the_rgb_types(clib: CLib, cal_kind: str, kind: str, code: int,
                                       out) -> None:
    dt = np.dtype(kind)
    image = rng.integers(0, np.iinfo(dt).max + 1, size=(4, 5, 3), dtype=dt)
    with CALS[cal_kind]() as cal:
        got = cal.lookup(image, dtype=out)
        flag = FLOAT if out is np.float32 else 0
        ref = clib.lookup(cal.handle, code | flag, image, 20, 60, out)
        assert got.shape == (4, 5, 3)
        assert bits_equal(got.reshape(-1), ref)
        # Each channel goes through the same table as plain samples do.
        assert bits_equal(got, cal.lookup(image.reshape(-1), dtype=out).reshape(4, 5, 3))


@pytest.mark.parametrize("cal_kind", sorted(CALS))
@pytest.mark.parametrize("width", [1, 7, 8, 13, 64])
@pytest.mark.parametrize("out", [np.float64, np.float32])
def test_bool_rows_are_packed_and_match_the_bit_route(clib: CLib, cal_kind: str, width: int,
                                                       out) -> None:
    image = rng.integers(0, 2, size=(3, width)).astype(bool)
    with CALS[cal_kind]() as cal:
        got = cal.lookup(image, dtype=out)
        flag = FLOAT if out is np.float32 else 0
        for r in range(3):
            packed = np.packbits(image[r])
            ref = clib.lookup(cal.handle, 0 | flag, packed, width, width, out)
            assert bits_equal(got[r], ref)
        table = cal.table
        expected = np.where(image, table[-1], table[0]).astype(out)
        assert bits_equal(got, expected)


def test_without_a_calibration_values_pass_through(clib: CLib) -> None:
    for kind, samples in SAMPLES.items():
        got = calmgr.lookup(samples)
        ref = clib.lookup(None, CODES[kind], samples, samples.size, samples.size, np.float64)
        assert bits_equal(got.reshape(-1), ref)
    assert calmgr.lookup(np.array([True, False])).tolist() == [1.0, 0.0]
    assert calmgr.lookup(np.array([65535], np.uint16), dtype=np.float32).tolist() == [65535.0]


def test_any_layout_of_the_same_values_gives_the_same_result() -> None:
    base = rng.integers(0, 4096, size=(6, 8, 5), dtype=np.uint16)
    with twelve_bit_cal() as cal:
        expected = cal.lookup(base)
        assert bits_equal(cal.lookup(np.asfortranarray(base)), expected)
        assert bits_equal(cal.lookup(base[:, ::2, 1:4]), expected[:, ::2, 1:4])
        assert bits_equal(cal.lookup(base.T), expected.T)
        swapped = base.astype(base.dtype.newbyteorder(">"))
        assert bits_equal(cal.lookup(swapped), expected)
        scalar = cal.lookup(np.uint16(100))
        assert scalar.shape == () and scalar == cal.lookup(np.array([100], np.uint16))[0]
        empty = cal.lookup(np.zeros((0, 3), np.uint8), dtype=np.float32)
        assert empty.shape == (0, 3) and empty.dtype == np.float32
        # Lists of floats are accepted like float64 arrays.
        assert bits_equal(cal.lookup([1.5, 2.5]), cal.lookup(np.array([1.5, 2.5])))


def test_input_is_not_modified() -> None:
    samples = np.arange(256, dtype=np.uint8)
    keep = samples.copy()
    with calmgr.IntensityCal.from_density(5.0, 250.0) as cal:
        cal.lookup(samples, dtype=np.float32)
    assert np.array_equal(samples, keep)


@pytest.mark.parametrize("bad", [
    np.array([1, 2], np.int64), np.array([1, 2], np.int8), np.array([1, 2], np.int32),
    np.array([1, 2], np.uint32), np.array([1 + 2j]), np.array([1.0], np.float16),
    np.array([object(), 1], dtype=object), np.array(["a"]), [1, 2, 3],
])
def test_unsupported_sample_dtypes_raise_type_error(bad) -> None:
    with calmgr.IntensityCal() as cal:
        with pytest.raises(TypeError, match="uint8, uint16, float32 or float64"):
            cal.lookup(bad)


@pytest.mark.parametrize("dtype", [np.int32, np.float16, np.complex128, "u1", object])
def test_output_dtypes_other_than_float32_and_float64_are_refused(dtype) -> None:
    with calmgr.IntensityCal() as cal:
        with pytest.raises(TypeError, match="float64 or numpy.float32"):
            cal.lookup(np.zeros(3, np.uint8), dtype=dtype)


def test_a_closed_calibration_refuses_lookups() -> None:
    cal = calmgr.IntensityCal()
    cal.close()
    with pytest.raises(ValueError, match="closed"):
        cal.lookup(np.zeros(3, np.uint8))


def test_lookup_matches_the_16bit_count_entry_point_beyond_65535(clib: CLib) -> None:
    # More values than ICalLookup's 16-bit count: one call of the 32-bit form.
    samples = rng.integers(0, 65536, size=70000, dtype=np.uint16)
    with interpolating_cal() as cal:
        got = cal.lookup(samples)
        ref = clib.lookup(cal.handle, 4, samples, 70000, 70000, np.float64)
        assert bits_equal(got, ref)
