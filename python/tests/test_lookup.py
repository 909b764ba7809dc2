"""Lookups over numpy arrays against ICalLookupEx called directly: every
sample type, both output types, shapes, layouts and refusals. NaN samples
take the first entry there, as ICalLookupEx gives them, with nan="first-entry"."""

from __future__ import annotations

import re

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


@pytest.mark.filterwarnings("ignore::calmgr.CalibrationWarning")  # the default range
@pytest.mark.parametrize("cal_kind", sorted(CALS))
@pytest.mark.parametrize("kind", sorted(SAMPLES))
@pytest.mark.parametrize("out", [np.float64, np.float32])
def test_plain_samples_match_the_c_lookup(clib: CLib, cal_kind: str, kind: str, out) -> None:
    samples = SAMPLES[kind]
    with CALS[cal_kind]() as cal:
        got = cal.lookup(samples, dtype=out, nan="first-entry")
        flag = FLOAT if out is np.float32 else 0
        ref = clib.lookup(cal.handle, CODES[kind] | flag, samples, samples.size,
                          samples.size, out)
        assert got.shape == samples.shape and got.dtype == np.dtype(out)
        assert bits_equal(got.reshape(-1), ref)


@pytest.mark.filterwarnings("ignore::calmgr.CalibrationWarning")  # the default range
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
        assert bits_equal(cal.lookup(np.asfortranarray(base)), np.asfortranarray(expected))
        assert bits_equal(cal.lookup(base[:, ::2, 1:4]), expected[:, ::2, 1:4])
        assert bits_equal(cal.lookup(base.T), expected.T)
        swapped = base.astype(base.dtype.newbyteorder(">"))
        assert bits_equal(cal.lookup(swapped), expected)
        empty = cal.lookup(np.zeros((0, 3), np.uint8), dtype=np.float32)
        assert empty.shape == (0, 3) and empty.dtype == np.float32


def test_the_memory_order_of_the_input_is_kept() -> None:
    image = rng.integers(0, 256, size=(5, 7), dtype=np.uint8)
    with interpolating_cal() as cal:
        c_order = cal.lookup(image)
        f_order = cal.lookup(np.asfortranarray(image))
        assert c_order.flags.c_contiguous and f_order.flags.f_contiguous
        assert np.array_equal(c_order, f_order)
        rgb = np.asfortranarray(rng.integers(0, 65536, size=(4, 6, 3), dtype=np.uint16))
        got = cal.lookup(rgb, dtype=np.float32)
        assert got.flags.f_contiguous
        assert bits_equal(np.ascontiguousarray(got),
                          cal.lookup(np.ascontiguousarray(rgb), dtype=np.float32))


INT_DTYPES = [np.int8, np.int16, np.int32, np.int64, np.uint32, np.uint64, np.intp]


@pytest.mark.parametrize("dtype", INT_DTYPES)
def test_any_integer_dtype_within_16_bits_takes_the_16_bit_route(dtype) -> None:
    top = min(np.iinfo(dtype).max, 65535)
    values = np.array([[0, 1, 2], [top // 2, top - 1, top]], dtype)
    with interpolating_cal() as cal:
        assert bits_equal(cal.lookup(values), cal.lookup(values.astype(np.uint16)))
        assert bits_equal(cal.lookup(values, dtype=np.float32),
                          cal.lookup(values.astype(np.uint16), dtype=np.float32))


@pytest.mark.parametrize("samples,offender", [
    (np.array([[3, 7], [-1, 70000]], np.int64), "sample -1 at index (1, 0)"),
    (np.array([5, 65536, -4], np.int32), "sample 65536 at index (1,)"),
    (np.array([2 ** 63], np.uint64), f"sample {2 ** 63} at index (0,)"),
    ([1, 2, -3], "sample -3 at index (2,)"),
    (-7, "sample -7 "),
])
def test_integers_outside_16_bits_are_refused_naming_the_first(samples, offender) -> None:
    with calmgr.IntensityCal() as cal:
        with pytest.raises(ValueError, match=re.escape(offender) + ".*outside 0..65535"):
            cal.lookup(samples)


def test_python_scalars_and_lists_and_0d_arrays_give_scalars() -> None:
    with interpolating_cal() as cal:
        ref = cal.lookup(np.array([100, 7.25, 0], np.float64))
        ref16 = cal.lookup(np.array([100], np.uint16))
        assert bits_equal(cal.lookup([1.5, 2.5]), cal.lookup(np.array([1.5, 2.5])))
        assert bits_equal(cal.lookup([100, 7, 0]), cal.lookup(np.array([100, 7, 0], np.uint16)))
        for scalar, expected in ((100, ref16[0]), (7.25, ref[1]), (np.uint16(100), ref16[0]),
                                 (np.array(7.25), ref[1])):
            got = cal.lookup(scalar)
            assert isinstance(got, np.float64) and got == expected
        single = cal.lookup(np.float32(7.25), dtype=np.float32)
        assert isinstance(single, np.float32)
        assert isinstance(cal.lookup(True), np.float64)


@pytest.mark.parametrize("order", ["C", "F"])
@pytest.mark.parametrize("out_dtype", [np.float64, np.float32])
def test_out_is_written_in_place_in_any_order(order: str, out_dtype) -> None:
    samples = rng.uniform(-20, 1020, size=(9, 4))
    with interpolating_cal() as cal:
        expected = cal.lookup(samples, dtype=out_dtype)
        out = np.full((9, 4), -1.0, dtype=out_dtype, order=order)
        assert cal.lookup(samples, out=out) is out
        assert np.array_equal(out, expected)
        # A strided view is written through too.
        wide = np.zeros((9, 8), dtype=out_dtype)
        cal.lookup(samples, out=wide[:, ::2])
        assert np.array_equal(wide[:, ::2], expected) and not wide[:, 1::2].any()
        # Bilevel samples as well.
        bits = rng.integers(0, 2, size=(9, 4)).astype(bool)
        cal.lookup(bits, out=out)
        assert np.array_equal(out, cal.lookup(bits, dtype=out_dtype))


def test_out_may_be_the_samples_themselves() -> None:
    samples = rng.uniform(-20, 1020, size=1000)
    with interpolating_cal() as cal:
        expected = cal.lookup(samples)
        in_place = samples.copy()
        cal.lookup(in_place, out=in_place)
        assert bits_equal(in_place, expected)
        # Overlapping but shifted: the input is read before it is overwritten.
        shifted = samples.copy()
        cal.lookup(shifted[:-1], out=shifted[1:])
        assert bits_equal(shifted[1:], expected[:-1])


@pytest.mark.parametrize("out,kwargs,error,match", [
    (np.zeros(3), {}, ValueError, "shape"),
    (np.zeros((2, 2), np.int32), {}, TypeError, "float64 or float32"),
    (np.zeros((2, 2)), {"dtype": np.float32}, TypeError, "disagrees"),
    ([0.0, 0.0], {}, TypeError, "numpy array"),
    (np.broadcast_to(np.zeros(2), (2, 2)), {}, ValueError, "read-only"),
])
def test_bad_out_is_refused_before_anything_is_written(out, kwargs, error, match) -> None:
    samples = np.array([[1, 2], [3, 4]], np.uint8)
    with calmgr.IntensityCal() as cal:
        with pytest.raises(error, match=match):
            cal.lookup(samples, out=out, **kwargs)


def test_input_is_not_modified() -> None:
    samples = np.arange(256, dtype=np.uint8)
    keep = samples.copy()
    with calmgr.IntensityCal.from_density(5.0, 250.0) as cal:
        cal.lookup(samples, dtype=np.float32)
    assert np.array_equal(samples, keep)


@pytest.mark.parametrize("bad", [
    np.array([1 + 2j]), np.array([1.0], np.longdouble),
    np.array([object(), 1], dtype=object), np.array(["a"]), [1, "a"],
])
def test_unsupported_sample_dtypes_raise_type_error(bad) -> None:
    with calmgr.IntensityCal() as cal:
        with pytest.raises(TypeError, match="cannot look up samples of dtype"):
            cal.lookup(bad)


def test_float16_samples_are_looked_up_exactly_as_float32() -> None:
    half = rng.uniform(-10, 1000, 50).astype(np.float16)
    with interpolating_cal() as cal:
        assert bits_equal(cal.lookup(half), cal.lookup(half.astype(np.float32)))


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
