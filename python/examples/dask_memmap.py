#!/usr/bin/env python3
"""Calibrate a 16-bit image larger than you would like to hold in memory.

A 2 GiB raw 16-bit image (32768 x 32768 pixels) is written to disk band by
band, opened as a dask array whose chunks each map their own piece of the
file with numpy.memmap, and converted to optical density with
calmgr.dask.lookup. The densities are reduced to a mean and a histogram
(and, with --out, written to a float32 raw file chunk by chunk), so no more
than a few chunks are ever in memory. The peak resident memory of the
process is reported at the end.

    python3 python/examples/dask_memmap.py [--image big.raw] [--out od.raw]
"""

from __future__ import annotations

import argparse
import os
import resource
import tempfile
import time
from typing import Any, Tuple

import dask
import dask.array as da
import numpy as np

import calmgr
import calmgr.dask

BLACK, INCIDENT = 800.0, 60000.0
WEDGE_OD = np.array([0.05, 0.35, 0.65, 0.95, 1.25, 1.55, 1.85, 2.15])


def peak_mib() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0  # KiB on Linux


class MappedFile:
    """A raw image file as an array dask can slice: each slice maps the file,
    copies its piece and unmaps it again, so pages do not pile up in this
    process as one long-lived mapping's would."""

    def __init__(self, path: str, shape: Tuple[int, ...], dtype: Any, mode: str = "r") -> None:
        self.path, self.shape, self.dtype, self.mode = path, shape, np.dtype(dtype), mode
        self.ndim = len(shape)

    @classmethod
    def create(cls, path: str, shape: Tuple[int, ...], dtype: Any) -> "MappedFile":
        """A new file of the array's full size, to be written slice by slice."""
        np.memmap(path, dtype=dtype, mode="w+", shape=shape).flush()
        return cls(path, shape, dtype, mode="r+")

    def _map(self) -> np.memmap:
        return np.memmap(self.path, dtype=self.dtype, mode=self.mode, shape=self.shape)

    def __getitem__(self, index: Any) -> np.ndarray:
        mapped = self._map()
        try:
            return np.array(mapped[index])
        finally:
            del mapped

    def __setitem__(self, index: Any, value: np.ndarray) -> None:
        mapped = self._map()
        try:
            mapped[index] = value
            mapped.flush()
        finally:
            del mapped


def write_image(path: str, side: int) -> None:
    """A synthetic transmission image: density rising left to right, with
    noise, written 512 rows at a time."""
    rng = np.random.default_rng(3)
    od = np.linspace(0.0, 2.4, side)
    level = BLACK + (INCIDENT - BLACK) * 10.0 ** -od
    with open(path, "wb") as f:
        for top in range(0, side, 512):
            band = level * (1.0 + rng.normal(0.0, 0.01, (min(512, side - top), side)))
            f.write(np.clip(np.rint(band), 0, 65535).astype(np.uint16).tobytes())


def calibration() -> calmgr.IntensityCal:
    """Optical density from the wedge's known steps at their raw levels."""
    raw = BLACK + (INCIDENT - BLACK) * 10.0 ** -WEDGE_OD
    return calmgr.IntensityCal.from_points(np.column_stack([raw, WEDGE_OD]), "density",
                                           dtype=np.uint16, table_size=4096, units="OD")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--image", help="raw uint16 image to use or create "
                        "(default: a temporary file, removed afterwards)")
    parser.add_argument("--out", help="also write the densities to this raw float32 file")
    parser.add_argument("--chunk", type=int, default=2048, help="chunk side in pixels")
    parser.add_argument("--side", type=int, default=32768,
                        help="image side in pixels (32768: 2 GiB of uint16)")
    args = parser.parse_args()
    start_mib = peak_mib()
    side = args.side

    if args.image:
        path = args.image
        made = not os.path.exists(path)
    else:
        handle, path = tempfile.mkstemp(suffix=".raw")
        os.close(handle)
        made = True
    if made:
        t = time.perf_counter()
        write_image(path, args.side)
        print(f"wrote {path}: {os.path.getsize(path) / 2**20:.0f} MiB in "
              f"{time.perf_counter() - t:.1f} s")
    try:
        image = da.from_array(MappedFile(path, (side, side), np.uint16),
                              chunks=(args.chunk, args.chunk), asarray=False,
                              meta=np.empty((0, 0), np.uint16))
        with calibration() as cal:
            density = calmgr.dask.lookup(cal, image, np.float32)
        mean = density.mean(dtype=np.float64)
        counts, edges = da.histogram(density, bins=12, range=(0.0, 2.4))
        work = [mean, counts]
        if args.out:
            target = MappedFile.create(args.out, (side, side), np.float32)
            work.append(da.store(density, target, lock=False, compute=False))
        t = time.perf_counter()
        with dask.config.set(scheduler="threads", num_workers=2):
            results = dask.compute(*work)
        seconds = time.perf_counter() - t
        print(f"calibrated {side * side / 1e9:.2f} G pixels in {seconds:.1f} s "
              f"({side * side / seconds / 1e6:.0f} M pixels/s), chunks of "
              f"{args.chunk} x {args.chunk}")
        print(f"mean density {results[0]:.4f} OD")
        for lo, hi, n in zip(edges[:-1], edges[1:], results[1]):
            print(f"  OD {lo:4.1f}..{hi:4.1f}: {n / (side * side) * 100:5.1f} %")
        if args.out:
            print(f"densities written to {args.out}")
    finally:
        if made and not args.image:
            os.remove(path)
    image_mib = side * side * 2 / 2**20
    print(f"peak resident memory {peak_mib():.0f} MiB (at start {start_mib:.0f} MiB) for a "
          f"{image_mib:.0f} MiB image")


if __name__ == "__main__":
    main()
