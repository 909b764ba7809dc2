"""Saving and loading through libcalmgr_io: bitwise round trips of every
kind of calibration, and refused files that create nothing."""

from __future__ import annotations

import json
import math
import struct

import numpy as np
import pytest

import calmgr
from conftest import bits_equal

AWKWARD = [0.1, 1.0 / 3.0, 5e-324, 2.2250738585072014e-308, -0.0, 0.0,
           1.7976931348623157e308, -1.7976931348623157e308, 1e-300, math.pi]
WEDGE = [(200.0, 2.5), (900.0, 1.9), (1800.0, 1.2), (2900.0, 0.6), (3900.0, 0.1)]


def same_double(a: float, b: float) -> bool:
    return struct.pack("<d", a) == struct.pack("<d", b)


def intensity_state(cal: calmgr.IntensityCal):
    return (cal.name, cal.units, cal.type, cal.range_min, cal.range_max, cal.table_size,
            cal.points.tobytes(), cal.fit_type, cal.options, cal.black_level,
            cal.incident_level, cal.attribute, cal.table.tobytes(),
            struct.pack("<dd", cal.table_min, cal.table_max))


def makers():
    def fitted():
        cal = calmgr.IntensityCal.from_points(WEDGE, "poly3", range=(0, 4095), table_size=4096,
                                              monotonic=True, name="wedge ✓", units="OD")
        cal.attribute = -7
        return cal

    def density():
        cal = calmgr.IntensityCal.from_density(1.0 / 3.0, 250.1, range=(0.1, 255.7))
        return cal

    def table():
        values = AWKWARD + [float("inf"), float("-inf"), float("nan")]
        return calmgr.IntensityCal.from_table(values, range=(-0.1, 1.0 / 3.0))

    def none():
        cal = calmgr.IntensityCal()
        cal.type = calmgr.CalType.NONE
        return cal

    return {"fitted": fitted, "density": density, "table": table, "none": none}


@pytest.mark.parametrize("kind", sorted(makers()))
def test_intensity_round_trips_bit_for_bit(tmp_path, kind: str) -> None:
    path = tmp_path / f"{kind}.json"
    samples = np.linspace(-10, 5000, 777)
    with makers()[kind]() as cal:
        cal.save(path)
        with calmgr.IntensityCal.load(path) as back:
            assert back.handle in calmgr.intensity_registry()  # the same library copy
            assert back.handle != cal.handle
            assert intensity_state(back) == intensity_state(cal)
            assert bits_equal(back.lookup(samples), cal.lookup(samples))
        with calmgr.load(str(path)) as again:
            assert isinstance(again, calmgr.IntensityCal)
        with calmgr.IntensityCal.from_json(cal.to_json()) as mem:
            assert intensity_state(mem) == intensity_state(cal)


def test_spatial_round_trips_bit_for_bit(tmp_path) -> None:
    path = tmp_path / "stage.json"
    with calmgr.SpatialCal(scale=(1.0 / 3.0, 5e-324), origin=(-0.0, 0.1),
                           units="µm", name="stage", aux_value=float("nan")) as cal:
        cal.save(path)
        with calmgr.load(path) as back:
            assert isinstance(back, calmgr.SpatialCal)
            assert back.handle in calmgr.spatial_registry()
            for attr in ("scale", "origin", "pixel_size"):
                for a, b in zip(getattr(back, attr), getattr(cal, attr)):
                    assert same_double(a, b)
            assert same_double(back.pixel_area, cal.pixel_area)
            assert math.isnan(back.aux_value)
            assert (back.units, back.name) == ("µm", "stage")
            pts = np.array([[0, 0], [-5, 7], [2**31 - 1, -2**31]])
            assert bits_equal(back.to_units(pts), cal.to_units(pts))
        doc = json.loads(cal.to_json())
        assert doc["format"] == "calmgr.spatial"
        with calmgr.SpatialCal.from_json(json.dumps(doc)) as mem:
            assert mem.units == "µm"


def write(tmp_path, name: str, text: str):
    p = tmp_path / name
    p.write_text(text)
    return p


def test_refused_files_raise_and_create_nothing(tmp_path) -> None:
    with calmgr.IntensityCal.from_points(WEDGE, "interp1") as cal:
        good = json.loads(cal.to_json())
    cases = {
        "truncated.json": json.dumps(good)[:-20],
        "version.json": json.dumps(dict(good, version=99)),
        "missing.json": json.dumps({k: v for k, v in good.items() if k != "range_max"}),
        "mistyped.json": json.dumps(dict(good, table_size="big")),
        "empty.json": "",
    }
    for name, text in cases.items():
        p = write(tmp_path, name, text)
        with pytest.raises(calmgr.CalIOError) as info:
            calmgr.load(p)
        assert name in str(info.value), str(info.value)
        assert info.value.message
    with pytest.raises(calmgr.CalIOError, match="range_max"):
        calmgr.load(tmp_path / "missing.json")
    with pytest.raises(FileNotFoundError):
        calmgr.load(tmp_path / "nowhere.json")
    with pytest.raises(calmgr.CalIOError):
        calmgr.from_json(b"{not json")


def test_loading_the_other_kind_is_refused_without_leftovers(tmp_path) -> None:
    with calmgr.SpatialCal() as s:
        s.save(tmp_path / "s.json")
    with pytest.raises(calmgr.CalIOError, match="not a IntensityCal"):
        calmgr.IntensityCal.load(tmp_path / "s.json")
    with calmgr.IntensityCal() as i:
        with pytest.raises(calmgr.CalIOError, match="not a SpatialCal"):
            calmgr.SpatialCal.from_json(i.to_json())


def test_save_failures_leave_no_file(tmp_path) -> None:
    with calmgr.IntensityCal() as cal:
        target = tmp_path / "no" / "such" / "dir" / "cal.json"
        with pytest.raises(calmgr.CalIOError) as info:
            cal.save(target)
        assert info.value.name == "CALIO_ERR_FILE"
        assert not target.exists()
        existing = write(tmp_path, "keep.json", "precious")
        cal.range = (0.0, float(np.nextafter(0.0, 1.0)))  # fine: finite
        cal.save(existing)
        assert json.loads(existing.read_text())["format"] == "calmgr.intensity"
    closed = calmgr.IntensityCal()
    closed.close()
    with pytest.raises(ValueError, match="closed"):
        closed.save(tmp_path / "x.json")
    with pytest.raises(TypeError):
        calmgr.save("not a calibration", tmp_path / "x.json")
    assert not (tmp_path / "x.json").exists()


def test_load_reads_each_file_once_and_the_library_parses_it_once(tmp_path,
                                                                   monkeypatch) -> None:
    from calmgr import _iolib

    calls = []
    real_function = _iolib.function

    def counted(name: str):
        fn = real_function(name)

        def call(*args):
            calls.append(name)
            return fn(*args)
        return call

    for cls, parser in ((calmgr.IntensityCal, "CalIntensityFromJson"),
                        (calmgr.SpatialCal, "CalSpatialFromJson")):
        path = tmp_path / f"{cls.__name__}.json"
        with cls() as cal:
            cal.save(path)
        opened = []
        real_open = open
        with monkeypatch.context() as patch:
            patch.setattr(_iolib, "function", counted)
            patch.setattr("builtins.open",
                          lambda *a, **k: (opened.append(str(a[0])), real_open(*a, **k))[1])
            calls.clear()
            with calmgr.load(path) as loaded:
                assert isinstance(loaded, cls)
        assert opened == [str(path)] and calls == [parser]
