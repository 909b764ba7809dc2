"""Several threads at once: lookups in parallel give the serial bits, a
change is seen whole or not at all, closing waits for lookups in progress,
and the registries survive creation and destruction from many threads.
The sanitizer builds run these too, where a race would be reported."""

from __future__ import annotations

import threading
import time
from concurrent.futures import ThreadPoolExecutor
from typing import Callable, List

import numpy as np
import pytest

import calmgr
from calmgr._sync import RWLock
from conftest import bits_equal

rng = np.random.default_rng(99)
WEDGE = [(200.0, 2.5), (900.0, 1.9), (1800.0, 1.2), (2900.0, 0.6), (3900.0, 0.1)]


def cals() -> List[calmgr.IntensityCal]:
    return [
        calmgr.IntensityCal.from_points(WEDGE, "poly3", range=(0, 4095), table_size=4096),
        calmgr.IntensityCal.from_points(WEDGE, "interp2", range=(-10, 5000), table_size=777),
        calmgr.IntensityCal.from_density(5.0, 4000.0, range=(0, 4095)),
        calmgr.IntensityCal.from_table(np.linspace(3, -1, 300), range=(0, 65535)),
    ]


def test_parallel_lookups_give_the_serial_bits() -> None:
    samples = [rng.integers(0, 65536, 200_000, dtype=np.uint16),
               rng.uniform(-100, 5100, 200_000),
               rng.integers(0, 256, (300, 300, 3), dtype=np.uint8)]
    calibrations = cals()
    try:
        expected = [[c.lookup(s, dtype=np.float32) for s in samples] for c in calibrations]
        jobs = [(ci, si) for ci in range(4) for si in range(3)] * 4
        with ThreadPoolExecutor(8) as pool:
            results = list(pool.map(
                lambda job: calibrations[job[0]].lookup(samples[job[1]], dtype=np.float32), jobs))
        for (ci, si), got in zip(jobs, results):
            assert bits_equal(got, expected[ci][si])
    finally:
        for c in calibrations:
            c.close()


def test_a_change_during_lookups_is_seen_whole_or_not_at_all() -> None:
    # The two states differ in range, size and points at once: a lookup that
    # saw a half-made change would match neither.
    states = [dict(range=(0, 255), table_size=256, points=[(0, 0.0), (255, 1.0)]),
              dict(range=(0, 4095), table_size=4096, points=WEDGE, fit="poly2")]
    samples = rng.integers(0, 4096, 300_000, dtype=np.uint16)
    with calmgr.IntensityCal.from_points(WEDGE, "poly2", range=(0, 4095)) as cal:
        expected = []
        for state in states:
            cal.update(**state)
            expected.append(cal.lookup(samples).tobytes())
        stop = threading.Event()
        seen: List[bytes] = []

        def reader() -> None:
            while not stop.is_set():
                seen.append(cal.lookup(samples).tobytes())

        threads = [threading.Thread(target=reader) for _ in range(3)]
        for t in threads:
            t.start()
        for i in range(40):
            cal.update(**states[i % 2])
        stop.set()
        for t in threads:
            t.join()
    assert seen and all(s in expected for s in seen)


def test_close_waits_for_lookups_in_progress() -> None:
    samples = rng.uniform(0, 4095, 4_000_000)
    for _ in range(5):
        cal = calmgr.IntensityCal.from_points(WEDGE, "poly3", range=(0, 4095))
        expected = cal.lookup(samples[:1000])
        outcome: List[object] = []
        started = threading.Event()

        def look(c: calmgr.IntensityCal = cal) -> None:
            started.set()
            try:
                outcome.append(c.lookup(samples))
            except ValueError as exc:  # closed before the lookup began
                outcome.append(exc)

        t = threading.Thread(target=look)
        t.start()
        started.wait()
        cal.close()
        t.join()
        got = outcome[0]
        if isinstance(got, np.ndarray):
            assert bits_equal(got[:1000], expected)
        else:
            assert "closed" in str(got)


def test_creating_and_destroying_from_threads_keeps_the_registries_whole() -> None:
    before = set(calmgr.intensity_registry()), set(calmgr.spatial_registry())

    def churn(seed: int) -> int:
        made = 0
        for i in range(300):
            with calmgr.IntensityCal.from_points([(0, seed), (255, i)]) as cal:
                cal.lookup(np.arange(256, dtype=np.uint8))
                made += cal.handle in calmgr.intensity_registry()
            with calmgr.SpatialCal(scale=1.0 + i):
                made += 1
        return made

    with ThreadPoolExecutor(4) as pool:
        assert list(pool.map(churn, range(4))) == [600] * 4
    assert (set(calmgr.intensity_registry()), set(calmgr.spatial_registry())) == before


def run_in_thread(fn: Callable[[], None]) -> threading.Thread:
    t = threading.Thread(target=fn, daemon=True)
    t.start()
    return t


def holding(lock: RWLock, exclusive: bool, order: List[str], name: str,
            until: threading.Event) -> Callable[[], None]:
    """A thread body: take the lock, note it, hold it until ``until``."""
    def body() -> None:
        with (lock.writing() if exclusive else lock.reading()):
            order.append(name)
            until.wait(10)
    return body


def test_the_lock_shares_reading_and_gives_writing_alone() -> None:
    lock = RWLock()
    inside = threading.Barrier(3, timeout=10)

    def read_together() -> None:
        with lock.reading():
            inside.wait()  # all three readers are inside at once

    threads = [run_in_thread(read_together) for _ in range(2)]
    read_together()
    for t in threads:
        t.join()

    order: List[str] = []
    go = threading.Event()
    go.set()
    with lock.writing():
        reader = run_in_thread(holding(lock, False, order, "read", go))
        time.sleep(0.05)
        order.append("written")  # the reader is still held back
    reader.join(10)
    assert order == ["written", "read"]


def test_the_lock_is_reentrant_and_refuses_to_upgrade() -> None:
    lock = RWLock()
    with lock.writing():
        with lock.writing():
            with lock.reading():
                pass
    with lock.reading():
        with lock.reading():
            with pytest.raises(RuntimeError, match="cannot be changed"):
                with lock.writing():
                    pass
    # Everything was released: another thread can write.
    go = threading.Event()
    go.set()
    order: List[str] = []
    run_in_thread(holding(lock, True, order, "writer", go)).join(10)
    assert order == ["writer"]


def wait_for(condition: Callable[[], bool]) -> None:
    deadline = time.monotonic() + 10
    while not condition():
        assert time.monotonic() < deadline, "timed out"
        time.sleep(0.001)


def test_a_waiting_writer_goes_before_new_readers() -> None:
    lock = RWLock()
    order: List[str] = []
    release_first, release_writer, release_late = (threading.Event() for _ in range(3))
    first = run_in_thread(holding(lock, False, order, "first reader", release_first))
    wait_for(lambda: order == ["first reader"])
    writer = run_in_thread(holding(lock, True, order, "writer", release_writer))
    wait_for(lambda: lock._waiting == 1)  # the writer waits for the first reader
    late = run_in_thread(holding(lock, False, order, "late reader", release_late))
    time.sleep(0.05)
    assert order == ["first reader"]  # the late reader queues behind the writer
    release_first.set()
    wait_for(lambda: len(order) == 2)
    assert order == ["first reader", "writer"]
    release_writer.set()
    release_late.set()
    for t in (first, writer, late):
        t.join(10)
    assert order == ["first reader", "writer", "late reader"]
