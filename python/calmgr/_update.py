"""IntensityCal.update: several settings changed, the table rebuilt once.

Every value is checked before the first control is called, so a bad value
changes nothing; the setters then run with the rebuild deferred, and one
rebuild follows.
"""

from __future__ import annotations

import ctypes
from typing import Any, Dict, List, Tuple

from . import constants as C
from ._checks import finite, finite_points, table_count, text
from .constants import fit_code


def apply_update(cal: Any, settings: Dict[str, Any]) -> None:
    """Applies ``settings`` (keywords of IntensityCal.update) to ``cal``."""
    known = {"range", "range_min", "range_max", "table_size", "points", "fit",
             "fit_type", "options", "monotonic", "clamp_negative", "black_level",
             "incident_level", "name", "units", "attribute"}
    unknown = set(settings) - known
    if unknown:
        raise TypeError(f"update() got unknown settings {sorted(unknown)}; use {sorted(known)}")
    cal.handle
    # Validate everything first so that a bad value changes nothing.
    plan: List[Tuple[int, int, Any]] = []
    keep: List[Any] = []
    r: Dict[str, float] = {}
    if "range" in settings:
        lo, hi = settings["range"]
        r["min"], r["max"] = finite(lo, "range minimum"), finite(hi, "range maximum")
    if "range_min" in settings:
        r["min"] = finite(settings["range_min"], "range_min")
    if "range_max" in settings:
        r["max"] = finite(settings["range_max"], "range_max")
    for key, code in (("min", C.ICAL_SET_RANGE_MIN), ("max", C.ICAL_SET_RANGE_MAX)):
        if key in r:
            v = ctypes.c_double(r[key])
            keep.append(v)
            plan.append((code, 0, ctypes.byref(v)))
    if "table_size" in settings:
        plan.append((C.ICAL_SET_TABLE_SIZE, table_count(settings["table_size"]), None))
    if "points" in settings:
        array = finite_points(settings["points"])
        keep.append(array)
        plan.append((C.ICAL_SET_POINTS, array.shape[0], array.ctypes.data))
    for key in ("fit", "fit_type"):
        if key in settings:
            plan.append((C.ICAL_SET_FIT_TYPE, fit_code(settings[key]), None))
    for key, code in (("black_level", C.ICAL_SET_BLACK_LEVEL),
                      ("incident_level", C.ICAL_SET_INCIDENT_LEVEL)):
        if key in settings:
            v = ctypes.c_double(finite(settings[key], key))
            keep.append(v)
            plan.append((code, 0, ctypes.byref(v)))
    if {"options", "monotonic", "clamp_negative"} & set(settings):
        opts = settings.get("options", cal.options)
        if isinstance(opts, bool) or not isinstance(opts, int) or not 0 <= opts <= 0xFFFF:
            raise ValueError(f"options must be an int in 0..65535, got {opts!r}")
        for key, bit in (("monotonic", C.ICAL_OPT_MONOTONIC),
                         ("clamp_negative", C.ICAL_OPT_CLAMP_NEGATIVE)):
            if key in settings:
                opts = (opts & ~bit) | (bit if settings[key] else 0)
        plan.append((C.ICAL_SET_OPTIONS, opts, None))
    texts = {k: text(settings[k], k) for k in ("name", "units") if k in settings}
    if "attribute" in settings:
        a = settings["attribute"]
        if isinstance(a, bool) or not isinstance(a, int) or not -32768 <= a <= 32767:
            raise ValueError(f"attribute must be an int in -32768..32767, got {a!r}")
    for code, value, data in plan:
        cal._control(code, value, 1, data)
    if "name" in texts:
        cal._control(C.ICAL_SET_NAME, 0, 0, texts["name"])
    if "units" in texts:
        cal._control(C.ICAL_SET_UNITS, 0, 0, texts["units"])
    if "attribute" in settings:
        cal._control(C.ICAL_SET_ATTRIBUTE, settings["attribute"], 0, None)
    cal.rebuild()
