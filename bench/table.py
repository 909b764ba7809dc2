#!/usr/bin/env python3
"""Prints the lookup benchmark results as one table of ratios.

For each route and output type, at each run length: x ref = the reference
loop's time over the fast route's (the speed-up); %ceil = the write-only
streaming fill's time over the route's (the share of the write ceiling
reached), the fill writing values like the route's output; %zero 64M =
the same against a fill of zeros, which some memory systems take much
faster than real data; x np = numpy's time per value over the route's (double output). Where
the benchmark was built with OpenCV, a second table compares cv::LUT on
the direct 8-bit routes. A further table gives ICalLookupPolicy's time over
ICalLookupEx's on the same route: counting (stats) and the NaN policies
(nan: values outside the range and NaN samples give NaN). Then the fit
report's time over PolynomialFit's on the same samples, the inverse
lookup's values per second, and the time per call of the builders and fits.
Each time is the least CPU time over the repetitions of the run (wall time
for OpenCV, whose pool threads this thread's CPU time would not show)."""
import json
import sys

LENGTHS = ["16", "4096", "1M", "64M"]


def least_times(data):
    """{name: (least CPU time, items per second of that repetition)}"""
    t = {}
    for b in data["benchmarks"]:
        if b.get("run_type", "iteration") != "iteration":
            continue
        name = b["name"].removesuffix("/real_time")
        time_taken = b["real_time"] if name != b["name"] else b["cpu_time"]
        old = t.get(name)
        if old is None or time_taken < old[0]:
            t[name] = (time_taken, b.get("items_per_second", 0.0))
    return t


def main(lookup_path, peers_path, sse2_path=None):
    with open(lookup_path) as f:
        data = json.load(f)
    with open(peers_path) as f:
        peers = json.load(f)
    t = least_times(data)
    ctx = data.get("context", {})
    print(f"lookup benchmarks: {ctx.get('isa', '?')} kernels, {ctx.get('num_cpus', '?')} CPUs at "
          f"{ctx.get('mhz_per_cpu', '?')} MHz, load {ctx.get('load_avg', '?')}")
    routes = []
    for name in t:
        parts = name.split("/")
        if parts[0] == "lookup" and parts[1] not in routes:
            routes.append(parts[1])
    head = f"{'route':<14}{'out':<7}" + "".join(f"{'x ref ' + L:>12}" for L in LENGTHS)
    head += "".join(f"{'%ceil ' + L:>11}" for L in LENGTHS[1:]) + f"{'%zero 64M':>11}"
    head += "".join(f"{'x np ' + L:>10}" for L in LENGTHS[1:])
    print(head)
    print("-" * len(head))
    for out in ("double", "float"):
        for r in routes:
            row = f"{r:<14}{out:<7}"
            for L in LENGTHS:
                f, ref = t.get(f"lookup/{r}/{out}/{L}/fast"), t.get(f"lookup/{r}/{out}/{L}/ref")
                row += f"{ref[0] / f[0]:>12.2f}" if f and ref else f"{'-':>12}"
            for L in LENGTHS[1:]:
                f, ceil = t.get(f"lookup/{r}/{out}/{L}/fast"), t.get(f"base/stream_fill/{out}/{L}")
                row += f"{100 * f[1] / ceil[1]:>10.0f}%" if f and ceil else f"{'-':>11}"
            f, zero = t.get(f"lookup/{r}/{out}/64M/fast"), t.get(f"base/stream_fill_zero/{out}/64M")
            row += f"{100 * f[1] / zero[1]:>10.0f}%" if f and zero else f"{'-':>11}"
            for L in LENGTHS[1:]:
                f, np_ns = t.get(f"lookup/{r}/{out}/{L}/fast"), peers.get(f"{r}/{L}")
                row += f"{np_ns / (1e9 / f[1]):>10.1f}" if f and np_ns and out == "double" else f"{'-':>10}"
            print(row)
        for base in ("memcpy", "widen_u8"):
            row = f"{base:<14}{out:<7}" + f"{'':>48}"
            for L in LENGTHS[1:]:
                b, ceil = t.get(f"base/{base}/{out}/{L}"), t.get(f"base/stream_fill/{out}/{L}")
                row += f"{100 * b[1] / ceil[1]:>10.0f}%" if b and ceil else f"{'-':>11}"
            print(row)
        for label, fill in (("ceiling ns/v", "stream_fill"), ("zeros ns/v", "stream_fill_zero")):
            row = f"{label:<14}{out:<7}" + f"{'':>48}"
            for L in LENGTHS[1:]:
                ceil = t.get(f"base/{fill}/{out}/{L}")
                row += f"{1e9 / ceil[1]:>11.3f}" if ceil else f"{'-':>11}"
            print(row)
        print()
    policy = [(r, out) for out in ("double", "float") for r in routes
              if any(f"lookup/{r}/{out}/{L}/stats" in t for L in LENGTHS)]
    if policy:
        print("ICalLookupPolicy: its time over ICalLookupEx's (stats: counting; nan: OUTSIDE_NAN|NAN_PROPAGATE)")
        print(f"{'route':<14}{'out':<7}" + "".join(f"{'stats ' + L:>11}" for L in LENGTHS[1:])
              + "".join(f"{'nan ' + L:>11}" for L in LENGTHS[1:]))
        for r, out in policy:
            row = f"{r:<14}{out:<7}"
            for mode in ("stats", "nan"):
                for L in LENGTHS[1:]:
                    f, p = t.get(f"lookup/{r}/{out}/{L}/fast"), t.get(f"lookup/{r}/{out}/{L}/{mode}")
                    row += f"{p[0] / f[0]:>11.2f}" if f and p else f"{'-':>11}"
            print(row)
        print()
    cv = [(r, out) for out in ("double", "float") for r in routes
          if any(f"peer/cv_lut_1t/{r}/{out}/{L}" in t for L in LENGTHS[1:])]
    if cv:
        print("OpenCV cv::LUT on the same samples and table: its time per value over the route's")
        print(f"{'route':<14}{'out':<7}" + "".join(f"{'1 thread ' + L:>14}" for L in LENGTHS[1:])
              + "".join(f"{'pool ' + L:>11}" for L in LENGTHS[1:]))
        for r, out in cv:
            row = f"{r:<14}{out:<7}"
            for peer, width in (("cv_lut_1t", 14), ("cv_lut", 11)):
                for L in LENGTHS[1:]:
                    f, p = t.get(f"lookup/{r}/{out}/{L}/fast"), t.get(f"peer/{peer}/{r}/{out}/{L}")
                    row += f"{f[1] / p[1]:>{width}.2f}" if f and p else f"{'-':>{width}}"
            print(row)
        print()
    if sse2_path:
        with open(sse2_path) as f:
            s2 = least_times(json.load(f))
        names = [n for n in s2 if n.endswith("/fast")]
        if names:
            print("SSE2 kernels alone (x ref):", "  ".join(
                f"{n.split('/')[1]} {n.split('/')[3]} {s2[n[:-5] + '/ref'][0] / s2[n][0]:.2f}"
                for n in names if n[:-5] + "/ref" in s2))
            print()
    fit, ref = t.get("fit/PolynomialFitReport_deg3/1000"), t.get("fit/PolynomialFit_deg3/1000")
    if fit and ref:
        print(f"PolynomialFitReport over PolynomialFit (1000 samples, degree 3): {fit[0] / ref[0]:.2f}x the time")
    for n in t:
        if n.startswith("inverse/"):
            print(f"ICalInverse, {n.split('/')[1]}, {n.split('/')[2]} values a call: "
                  f"{t[n][1] / 1e6:.1f} M values/s")
    others = [n for n in t if not n.startswith(("lookup/", "base/", "peer/", "inverse/"))]
    if others:
        print(f"{'builders and fits':<48}{'time per call':>16}")
        for n in others:
            print(f"{n:<48}{t[n][0] / 1e3:>13.1f} us")


if __name__ == "__main__":
    main(*sys.argv[1:4])
