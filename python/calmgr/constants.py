"""Codes of the C interface: controls, calibration types, options, sample types."""

from __future__ import annotations

import enum
from typing import Dict, Union

# Intensity calibration controls (ICalControl).
ICAL_GET_NAME = 0
ICAL_SET_NAME = 1
ICAL_GET_TYPE = 2
ICAL_SET_TYPE = 3
ICAL_GET_RANGE_MIN = 4
ICAL_SET_RANGE_MIN = 5
ICAL_GET_RANGE_MAX = 6
ICAL_SET_RANGE_MAX = 7
ICAL_GET_NEXT = 8
ICAL_GET_NUM_POINTS = 9
ICAL_GET_POINTS = 10
ICAL_SET_POINTS = 11
ICAL_GET_POINT = 12
ICAL_SET_POINT = 13
ICAL_GET_BLACK_LEVEL = 14
ICAL_SET_BLACK_LEVEL = 15
ICAL_GET_INCIDENT_LEVEL = 16
ICAL_SET_INCIDENT_LEVEL = 17
ICAL_GET_TABLE_MIN = 18
ICAL_GET_TABLE_MAX = 19
ICAL_GET_TABLE_SIZE = 20
ICAL_SET_TABLE_SIZE = 21
ICAL_GET_TABLE = 22
ICAL_SET_FIT_TYPE = 23
ICAL_GET_FIT_TYPE = 24
ICAL_GET_UNITS = 25
ICAL_SET_UNITS = 26
ICAL_SET_TABLE = 27
ICAL_GET_ATTRIBUTE = 28
ICAL_SET_ATTRIBUTE = 29
ICAL_GET_OPTIONS = 30
ICAL_SET_OPTIONS = 31

# Spatial calibration controls (SCalControl).
SCAL_GET_NAME = 0
SCAL_SET_NAME = 1
SCAL_GET_UNITS = 2
SCAL_SET_UNITS = 3
SCAL_GET_SCALE = 4
SCAL_SET_SCALE = 5
SCAL_GET_PIXEL_SIZE = 6
SCAL_SET_PIXEL_SIZE = 7
SCAL_GET_ORIGIN = 8
SCAL_SET_ORIGIN = 9
SCAL_GET_AUX_VALUE = 10
SCAL_SET_AUX_VALUE = 11
SCAL_GET_PIXEL_AREA = 12
SCAL_GET_NEXT = 13

# Lookup sample types and the float-output flag.
ICAL_SAMPLE_BITS = 0
ICAL_SAMPLE_U8 = 1
ICAL_SAMPLE_U8_RGB = 3
ICAL_SAMPLE_U16 = 4
ICAL_SAMPLE_F32 = 5
ICAL_SAMPLE_F64 = 7
ICAL_SAMPLE_U16_RGB = 8
ICAL_LOOKUP_FLOAT = 0x1000

ICAL_OPT_MONOTONIC = 1
ICAL_OPT_CLAMP_NEGATIVE = 2


class CalType(enum.IntEnum):
    """How an intensity calibration's table is made."""

    STANDARD = 0  #: from the calibration points
    DENSITY = 1  #: optical density from black and incident levels
    TABLE = 2  #: supplied whole by the caller
    NONE = 3  #: no calibration: lookups pass values through


#: Fit names accepted wherever a fit type is asked for, with their codes.
FIT_TYPES: Dict[str, int] = {
    "default": 0,
    "poly1": 1,
    "poly2": 2,
    "poly3": 3,
    "interp1": 4,
    "interp2": 5,
    "interp3": 6,
    "od": 10,
    "exp1": 11,
    "exp2": 12,
    "exp3": 13,
    "log1": 21,
    "log2": 22,
    "log3": 23,
}

#: Every fit type code the library accepts.
FIT_CODES = frozenset(list(range(0, 14)) + [21, 22, 23])

FitChoice = Union[str, int]


def fit_code(fit: FitChoice) -> int:
    """The fit type code for a fit name (``"poly2"``) or code (``2``).

    Raises:
        ValueError: for an unknown name or a code the library does not know
            (the library would silently ignore it).
    """
    if isinstance(fit, str):
        try:
            return FIT_TYPES[fit.lower()]
        except KeyError:
            raise ValueError(
                f"unknown fit name {fit!r}; use one of {', '.join(FIT_TYPES)}"
            ) from None
    if isinstance(fit, bool) or not isinstance(fit, int):
        raise TypeError(f"fit must be a fit name or an int code, not {type(fit).__name__}")
    if fit not in FIT_CODES:
        raise ValueError(
            f"unknown fit type code {fit}; use 0..13 or 21..23, or a name: "
            + ", ".join(FIT_TYPES)
        )
    return fit
