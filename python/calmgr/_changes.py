"""Changing an intensity calibration: every value checked before anything
changes, the table rebuilt once, nothing left half-changed, and a warning
for each new finding.

Every setter and :meth:`IntensityCal.update` come here. The changes are made
with the rebuild deferred and one rebuild follows; when the library refuses
(a fit it cannot make, memory it cannot have), the settings that were
changed are put back and rebuilt, and the refusal is raised with its cause
in words.
"""

from __future__ import annotations

import ctypes
from typing import Any, Dict, List, Optional, Tuple

import numpy as np

from . import _diag, _lib
from . import _icontrol as I
from . import constants as C
from ._checks import checked_range, finite, finite_points, input_range, table_count, text
from .constants import CalType, fit_code, fit_name

# Settings that rebuild the table, in the order they are applied, with
# their getter and setter codes.
_DOUBLES = {
    "range_min": (C.ICAL_GET_RANGE_MIN, C.ICAL_SET_RANGE_MIN),
    "range_max": (C.ICAL_GET_RANGE_MAX, C.ICAL_SET_RANGE_MAX),
    "black_level": (C.ICAL_GET_BLACK_LEVEL, C.ICAL_SET_BLACK_LEVEL),
    "incident_level": (C.ICAL_GET_INCIDENT_LEVEL, C.ICAL_SET_INCIDENT_LEVEL),
}
_INTS = {
    "type": (C.ICAL_GET_TYPE, C.ICAL_SET_TYPE, ctypes.c_uint32),
    "table_size": (C.ICAL_GET_TABLE_SIZE, C.ICAL_SET_TABLE_SIZE, ctypes.c_uint16),
    "fit_type": (C.ICAL_GET_FIT_TYPE, C.ICAL_SET_FIT_TYPE, ctypes.c_int16),
    "options": (C.ICAL_GET_OPTIONS, C.ICAL_SET_OPTIONS, ctypes.c_uint16),
}
_ORDER = ("type", "range_min", "range_max", "table_size", "points", "fit_type", "options",
          "black_level", "incident_level")
_TEXTS = {"name": C.ICAL_SET_NAME, "units": C.ICAL_SET_UNITS}

KEYWORDS = ("range", "range_min", "range_max", "table_size", "points", "fit", "fit_type",
            "options", "monotonic", "clamp_negative", "black_level", "incident_level",
            "type", "name", "units", "attribute")


def _flag_options(value: Any) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)) \
            or not 0 <= int(value) <= 0xFFFF:
        raise ValueError(f"options must be an int in 0..65535, got {value!r}")
    return int(value)


def _attribute(value: Any) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)) \
            or not -32768 <= int(value) <= 32767:
        raise ValueError(f"attribute must be an int in -32768..32767, got {value!r}")
    return int(value)


def _cal_type(value: Any) -> int:
    if isinstance(value, str):
        try:
            return int(CalType[value.upper()])
        except KeyError:
            raise ValueError(f"unknown calibration type {value!r}; use one of "
                             f"{', '.join(t.name for t in CalType)}") from None
    try:
        return int(CalType(value))
    except ValueError:
        raise ValueError(f"unknown calibration type {value!r}; use one of "
                         f"{', '.join(f'{t.name} ({t.value})' for t in CalType)}") from None


def plan(handle: int, settings: Dict[str, Any]) -> Dict[str, Any]:
    """The settings checked and in the library's terms; raises TypeError or
    ValueError (and changes nothing) for anything the library would not
    take or would take wrongly. ``handle`` gives the current values that a
    partial range or option change combines with."""
    unknown = set(settings) - set(KEYWORDS)
    if unknown:
        raise TypeError(f"unknown settings {sorted(unknown)}; use {', '.join(KEYWORDS)}")
    out: Dict[str, Any] = {}
    if "type" in settings:
        out["type"] = _cal_type(settings["type"])
    if {"range", "range_min", "range_max"} & set(settings):
        if "range" in settings:
            lo, hi = input_range(settings["range"])
        else:
            lo = I.get(handle, C.ICAL_GET_RANGE_MIN, ctypes.c_double)
            hi = I.get(handle, C.ICAL_GET_RANGE_MAX, ctypes.c_double)
        if "range_min" in settings:
            lo = finite(settings["range_min"], "range_min")
        if "range_max" in settings:
            hi = finite(settings["range_max"], "range_max")
        partial = "range" not in settings and len({"range_min", "range_max"} & set(settings)) < 2
        out["range_min"], out["range_max"] = checked_range(
            lo, hi, "range", "; set both ends at once with cal.range = (min, max)" if partial
            else "")
    if "table_size" in settings:
        out["table_size"] = table_count(settings["table_size"])
    if "points" in settings:
        out["points"] = finite_points(settings["points"])
    for key in ("fit", "fit_type"):
        if key in settings:
            out["fit_type"] = fit_code(settings[key])
    for key in ("black_level", "incident_level"):
        if key in settings:
            out[key] = finite(settings[key], key)
    if {"options", "monotonic", "clamp_negative"} & set(settings):
        opts = _flag_options(settings["options"]) if "options" in settings else \
            I.get(handle, C.ICAL_GET_OPTIONS, ctypes.c_uint16)
        for key, bit in (("monotonic", C.ICAL_OPT_MONOTONIC),
                         ("clamp_negative", C.ICAL_OPT_CLAMP_NEGATIVE)):
            if key in settings:
                opts = (opts & ~bit) | (bit if settings[key] else 0)
        out["options"] = opts
    for key in _TEXTS:
        if key in settings:
            out[key] = text(settings[key], key)
    if "attribute" in settings:
        out["attribute"] = _attribute(settings["attribute"])
    return out


def _snapshot(handle: int, keys: List[str]) -> Dict[str, Any]:
    """The current values of the rebuilding settings about to change."""
    kind = I.get(handle, C.ICAL_GET_TYPE, ctypes.c_uint32)
    snap: Dict[str, Any] = {"type": kind}
    if kind == C.ICAL_TYPE_NONE:
        return snap
    for key in keys:
        if key in _DOUBLES:
            snap[key] = I.get(handle, _DOUBLES[key][0], ctypes.c_double)
        elif key in _INTS:
            getter, _, ctype = _INTS[key]
            snap[key] = I.get(handle, getter, ctype)
        elif key == "points":
            snap[key] = I.get_points(handle)
    if kind == C.ICAL_TYPE_TABLE:
        snap["table"] = I.get_table(handle)
    return snap


def _set(handle: int, key: str, value: Any) -> int:
    """One rebuilding setting, deferred; the library's status."""
    if key in _DOUBLES:
        return I.set_double(handle, _DOUBLES[key][1], value, defer=True)
    if key == "points":
        return I.control(handle, C.ICAL_SET_POINTS, value.shape[0], 1, value.ctypes.data)
    return I.control(handle, _INTS[key][1], value, 1, None)


def rebuild(handle: int) -> int:
    """Rebuilds the table from the current settings; the library's status."""
    lo = I.get(handle, C.ICAL_GET_RANGE_MIN, ctypes.c_double)
    return I.set_double(handle, C.ICAL_SET_RANGE_MIN, lo, defer=False)


def _restore(handle: int, snap: Dict[str, Any]) -> None:
    """Puts back what _snapshot saw. Statuses are not checked: the old
    settings were accepted before."""
    _set(handle, "type", snap["type"])
    if snap["type"] == C.ICAL_TYPE_NONE:
        return
    for key in _ORDER:
        if key in snap and key != "type":
            _set(handle, key, snap[key])
    if "table" in snap:
        table = snap["table"]
        I.control(handle, C.ICAL_SET_TABLE, table.size, 0, table.ctypes.data)
    rebuild(handle)


def cause_of(handle: int, code: Optional[int], status: int) -> str:
    """Why the library refused, in words; ``code`` is the control that was
    refused, None for the rebuild. Read before the settings are restored."""
    if status == C.CAL_ERR_NOMEM:
        return "the library could not obtain memory; the calibration is unchanged"
    kind = I.get(handle, C.ICAL_GET_TYPE, ctypes.c_uint32)
    if code is not None:
        if kind == C.ICAL_TYPE_NONE:
            return (f"cannot {I.ACTIONS.get(code, 'change this')} of a calibration of type "
                    "NONE; set its type first")
        if kind == C.ICAL_TYPE_TABLE and code == C.ICAL_SET_TABLE_SIZE:
            return "a supplied table keeps its size; hand in a new table instead"
        return f"the library refused to {I.ACTIONS.get(code, 'change this')}"
    if kind == C.ICAL_TYPE_DENSITY:
        black = I.get(handle, C.ICAL_GET_BLACK_LEVEL, ctypes.c_double)
        incident = I.get(handle, C.ICAL_GET_INCIDENT_LEVEL, ctypes.c_double)
        lead = (f"optical density needs an incident level above the black level "
                f"(black {black:g}, incident {incident:g})")
    else:
        fit = I.get(handle, C.ICAL_GET_FIT_TYPE, ctypes.c_int16)
        if C.ICAL_FIT_EXP1 <= fit <= C.ICAL_FIT_EXP3:
            positive = int((I.get_points(handle)[:, 1] > 0).sum())
            lead = (f"{fit_name(fit)} needs at least two points with a positive calibrated "
                    f"value (it has {positive})")
        else:
            lead = "the table cannot be built from these settings"
    # The library's findings on the refused settings say what is wrong in detail.
    found = [str(f) for f in _diag.diagnose(handle)] if _diag.available() else []
    return f"{lead}: {'; '.join(found)}" if found else lead


def apply(handle: int, values: Dict[str, Any]) -> List[_diag.Finding]:
    """Applies planned ``values``; returns the findings that are new after
    the change. The caller holds the calibration's lock for writing.

    Raises:
        CalError: the library refused; the settings are as they were.
    """
    keys = [k for k in _ORDER if k in values]
    diagnosing = bool(keys) and _diag.available()
    before = _diag.diagnose(handle) if diagnosing else []
    if keys:
        snap = _snapshot(handle, keys)
        refused: Optional[Tuple[Optional[int], int]] = None
        for key in keys:
            status = _set(handle, key, values[key])
            if status != C.CAL_OK:
                refused = (_INTS[key][1] if key in _INTS else
                           _DOUBLES[key][1] if key in _DOUBLES else C.ICAL_SET_POINTS, status)
                break
        else:
            status = rebuild(handle)
            if status != C.CAL_OK:
                refused = (None, status)
        if refused is not None:
            code, status = refused
            cause = cause_of(handle, code, status)
            _restore(handle, snap)
            raise _lib.CalError(status, I.call_name(code if code is not None
                                                    else C.ICAL_SET_RANGE_MIN), cause)
    for key, code in _TEXTS.items():
        if key in values:
            _lib.check(I.control(handle, code, 0, 0, values[key]), I.call_name(code))
    if "attribute" in values:
        _lib.check(I.control(handle, C.ICAL_SET_ATTRIBUTE, values["attribute"], 0, None),
                   I.call_name(C.ICAL_SET_ATTRIBUTE))
    return _diag.new_findings(before, _diag.diagnose(handle)) if diagnosing else []
