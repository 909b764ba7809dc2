"""Ownership: every calibration is destroyed exactly once, by close(), a
with block or garbage collection, and nothing is left in the registries."""

from __future__ import annotations

import gc

import numpy as np
import pytest

import calmgr


def test_ten_thousand_create_destroy_cycles_leave_nothing() -> None:
    before_i = set(calmgr.intensity_registry())
    before_s = set(calmgr.spatial_registry())
    for i in range(10000):
        with calmgr.IntensityCal() as cal:
            cal.points = [(0, i), (255, i + 1.0)]
        cal.close()  # again: harmless
        s = calmgr.SpatialCal(scale=1.0 + i)
        s.close()
        calmgr.IntensityCal.from_density(1.0, 2.0)  # dropped at once: collected
    gc.collect()
    assert set(calmgr.intensity_registry()) == before_i
    assert set(calmgr.spatial_registry()) == before_s


def test_garbage_collection_destroys_cycles_too() -> None:
    before = set(calmgr.intensity_registry())
    a, b = calmgr.IntensityCal(), calmgr.IntensityCal()
    a.partner, b.partner = b, a  # a reference cycle
    handles = {a.handle, b.handle}
    assert handles <= set(calmgr.intensity_registry())
    del a, b
    gc.collect()
    assert set(calmgr.intensity_registry()) == before


def test_failed_construction_destroys_the_half_made_calibration() -> None:
    before = set(calmgr.intensity_registry())
    for _ in range(50):
        with pytest.raises(calmgr.CalError):
            calmgr.IntensityCal.from_density(5.0, 5.0)
        with pytest.raises(TypeError):
            calmgr.IntensityCal(name=3)
        with pytest.raises(ValueError):
            calmgr.SpatialCal(scale=0.0)
    gc.collect()
    assert set(calmgr.intensity_registry()) == before


def test_closed_calibrations_refuse_every_use_with_a_clear_message() -> None:
    cal = calmgr.IntensityCal()
    cal.close()
    assert cal.closed and repr(cal) == "<IntensityCal closed>"
    for use in (lambda: cal.name, lambda: cal.table, lambda: setattr(cal, "range_min", 1.0),
                lambda: cal.update(table_size=10), lambda: cal.__enter__(),
                lambda: calmgr.lookup(np.zeros(2, np.uint8), cal)):
        with pytest.raises(ValueError, match="closed; create a new calibration"):
            use()


def test_copies_and_pickles_are_refused_rather_than_sharing_a_handle() -> None:
    import copy
    import pickle

    for cal in (calmgr.IntensityCal(), calmgr.SpatialCal()):
        with cal:
            for attempt in (copy.copy, copy.deepcopy, pickle.dumps):
                with pytest.raises(TypeError, match="cannot be"):
                    attempt(cal)
