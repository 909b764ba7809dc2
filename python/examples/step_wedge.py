#!/usr/bin/env python3
"""Calibrate a 16-bit image in optical density from a step wedge.

A synthetic transmission image of an 8-step density wedge is made, the raw
level of each step is measured, and the (raw level, known density) pairs
become an intensity calibration fitted with the optical-density model. The
whole image is then converted to densities, and the curve with its points is
plotted to a PNG.

    python3 python/examples/step_wedge.py [out.png]      (after pip install ./python)
"""

from __future__ import annotations

import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import calmgr  # noqa: E402

# Known densities of the wedge's steps, and the camera's dark and open levels.
STEP_OD = np.array([0.05, 0.35, 0.65, 0.95, 1.25, 1.55, 1.85, 2.15])
BLACK, INCIDENT = 800.0, 60000.0


def synthetic_wedge(rng: np.random.Generator) -> np.ndarray:
    """A 256 x 512 16-bit image: eight vertical steps with shot-like noise."""
    level = BLACK + (INCIDENT - BLACK) * 10.0 ** -STEP_OD
    image = np.repeat(level, 64)[np.newaxis, :].repeat(256, axis=0)
    image = image + rng.normal(0.0, 0.01, image.shape) * image
    return np.clip(np.rint(image), 0, 65535).astype(np.uint16)


def main(out_png: str) -> None:
    rng = np.random.default_rng(1)
    image = synthetic_wedge(rng)

    # Measure each step away from its edges.
    raw = np.array([image[:, 64 * k + 8: 64 * k + 56].mean() for k in range(8)])
    points = np.column_stack([raw, STEP_OD])

    with calmgr.IntensityCal.from_points(points, "density", dtype=np.uint16, table_size=4096,
                                         clamp_negative=True, name="step wedge",
                                         units="OD") as cal:
        density = cal.lookup(image, dtype=np.float32)
        print(f"calibration {cal.name!r}: fit {cal.fit}, {cal.num_points} points, "
              f"table {cal.table_size} entries over {cal.range_min:g}..{cal.range_max:g}")
        print(" step  raw mean   known OD  calibrated OD")
        for k in range(8):
            step = density[:, 64 * k + 8: 64 * k + 56]
            print(f"  {k}   {raw[k]:9.1f}   {STEP_OD[k]:6.2f}     {step.mean():6.3f}")

        fig, (ax, ax_img) = plt.subplots(1, 2, figsize=(11, 4.5))
        ax.plot(cal.grid, cal.table, label=f"calibration curve ({cal.fit} fit)")
        ax.plot(raw, STEP_OD, "o", color="C3", label="step wedge points")
        ax.set_xlabel("raw pixel value (16-bit)")
        ax.set_ylabel(f"calibrated value ({cal.units})")
        ax.set_title("Intensity calibration")
        ax.set_xlim(0, 65535)
        ax.set_ylim(bottom=0)
        ax.grid(True, alpha=0.3)
        ax.legend()
        shown = ax_img.imshow(density, cmap="gray_r", aspect="auto")
        ax_img.set_title("Calibrated image")
        fig.colorbar(shown, ax=ax_img, label=cal.units)
        fig.tight_layout()
        fig.savefig(out_png, dpi=100)
    print(f"plot written to {out_png}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "step_wedge.png")
