#!/usr/bin/env python3
"""Lookups from several threads: four threads on four calibrations against
one thread doing the same four lookups one after the other.

Each lookup converts 16M samples into a preallocated output, so the figure
is the library's work and the locking around it, not page faults. The best
of several rounds is taken for each side; the machine should be quiet.

    python3 python/benchmarks/threads.py       (after pip install ./python), or
    CALMGR_LIBRARY=build/release/libcalmgr.so PYTHONPATH=python python3 python/benchmarks/threads.py
"""

from __future__ import annotations

import argparse
import os
import threading
import time
from typing import Callable, List

import numpy as np

import calmgr

WEDGE = [(200.0, 2.5), (9000.0, 1.9), (18000.0, 1.2), (29000.0, 0.6), (39000.0, 0.1),
         (65000.0, 0.02)]


def best_of(rounds: int, run: Callable[[], None]) -> float:
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def measure(label: str, cals: List[calmgr.IntensityCal], samples: List[np.ndarray],
            outs: List[np.ndarray], rounds: int) -> float:
    def serial() -> None:
        for cal, s, o in zip(cals, samples, outs):
            cal.lookup(s, out=o)

    def parallel() -> None:
        gate = threading.Barrier(len(cals))

        def work(i: int) -> None:
            gate.wait()
            cals[i].lookup(samples[i], out=outs[i])

        threads = [threading.Thread(target=work, args=(i,)) for i in range(len(cals))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    serial()  # warm: pages of the outputs touched, kernels chosen
    one = best_of(rounds, serial)
    four = best_of(rounds, parallel)
    n = sum(s.size for s in samples)
    print(f"{label:34s} 1 thread {one * 1e3:7.1f} ms ({n / one / 1e6:6.0f} M/s)   "
          f"4 threads {four * 1e3:7.1f} ms ({n / four / 1e6:6.0f} M/s)   "
          f"speed-up {one / four:4.2f}x")
    return one / four


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--samples", type=int, default=16 << 20, help="samples per lookup")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    rng = np.random.default_rng(1)
    cals = [calmgr.IntensityCal.from_points(WEDGE, fit, range=(0, 65535), table_size=4096)
            for fit in ("poly3", "interp2", "density", "piecewise")]
    print(f"{os.cpu_count()} processors; {args.samples} samples per lookup, best of "
          f"{args.rounds}")
    u16 = [rng.integers(0, 65536, args.samples, dtype=np.uint16) for _ in cals]
    measure("uint16 -> float32 (interpolated)", cals, u16,
            [np.zeros(args.samples, np.float32) for _ in cals], args.rounds)
    f64 = [rng.uniform(-100.0, 66000.0, args.samples) for _ in cals]
    measure("float64 -> float64 (interpolated)", cals, f64,
            [np.zeros(args.samples, np.float64) for _ in cals], args.rounds)
    for cal in cals:
        cal.close()


if __name__ == "__main__":
    main()
