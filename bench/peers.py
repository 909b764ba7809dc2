#!/usr/bin/env python3
"""Times the peers users compare the lookups with, on the same tables and
data as the lookup benchmarks: numpy.take for the direct routes (a double
table indexed by the samples, into a preallocated output) and numpy.interp
for the interpolating ones. Prints JSON: {"route/length": CPU ns per value}, as the suite measures."""
import json
import sys
import time
import timeit

import numpy as np

LENGTHS = [4096, 1 << 20, 1 << 26]


def gamma(n):
    return 1000.0 * (np.arange(n, dtype=np.float64) / (n - 1)) ** 0.45


def length_name(n):
    return f"{n >> 20}M" if n >= 1 << 20 else str(n)


def best_ns_per_value(fn, n):
    reps = 1 if n >= 1 << 26 else 5
    number = max(1, (1 << 22) // n)
    return min(timeit.repeat(fn, number=number, repeat=reps, timer=time.process_time)) / number / n * 1e9


def main():
    rng = np.random.default_rng(7)
    out = {}
    for n in LENGTHS:
        u8 = rng.integers(0, 256, n, dtype=np.uint8)
        u16_12 = rng.integers(0, 4096, n, dtype=np.uint16)
        u16 = rng.integers(0, 65536, n, dtype=np.uint16)
        f64 = rng.uniform(-0.02, 1.02, n)
        f32 = f64.astype(np.float32)
        res = np.empty(n, dtype=np.float64)
        t256, t4096, t1000 = gamma(256), gamma(4096), gamma(1000)
        g255, g65535, g1 = np.linspace(0, 255, 1000), np.linspace(0, 65535, 1000), np.linspace(0, 1, 1000)
        cases = {
            "u8_direct": lambda: np.take(t256, u8, out=res),
            "u16_direct": lambda: np.take(t4096, u16_12, out=res),
            "u8_interp": lambda: np.interp(u8, g255, t1000),
            "u16_interp": lambda: np.interp(u16, g65535, t1000),
            "f32": lambda: np.interp(f32, g1, t1000),
            "f64": lambda: np.interp(f64, g1, t1000),
        }
        for name, fn in cases.items():
            out[f"{name}/{length_name(n)}"] = best_ns_per_value(fn, n)
        print(f"peers: {length_name(n)} done", file=sys.stderr)
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    main()
