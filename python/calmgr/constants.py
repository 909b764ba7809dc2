"""Every code of the C interface (calmgr.h and calmgr_io.h) under its C name,
and the enumerations and fit names the package builds on them.

This is the package's one copy of the headers' numbers; the test suite
parses the headers and checks each value and that none is missing. The
version numbers are not copied: they come from the build's stamp (or, in a
source checkout, from the header itself).
"""

from __future__ import annotations

import enum
import numbers
from typing import Dict, FrozenSet, Union

from ._header import package_version

# Status codes.
CAL_OK = 0
CAL_ERR_INVALID = -985
CAL_ERR_TARGET = -987
CAL_ERR_NOMEM = -999
FIT_ERR_ARGS = -1

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

# Calibration types.
ICAL_TYPE_STANDARD = 0
ICAL_TYPE_DENSITY = 1
ICAL_TYPE_TABLE = 2
ICAL_TYPE_NONE = 3

# Option bits of the fitted-curve builder.
ICAL_OPT_MONOTONIC = 1
ICAL_OPT_CLAMP_NEGATIVE = 2

# Lookup sample types and the float-output flag.
ICAL_LOOKUP_FLOAT = 0x1000
ICAL_SAMPLE_BITS = 0
ICAL_SAMPLE_U8 = 1
ICAL_SAMPLE_U8_RGB = 3
ICAL_SAMPLE_U16 = 4
ICAL_SAMPLE_F32 = 5
ICAL_SAMPLE_F64 = 7
ICAL_SAMPLE_U16_RGB = 8

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

# Property tags on image handles.
PROP_SCAL = -950
PROP_SCAL_INST = -949
PROP_ICAL = -948
PROP_ICAL_INST = -947

# Allocation flags of the image-library services.
CAL_MEM_PLAIN = 0x02
CAL_MEM_ZERO = 0x42

# Version of the library this package was built with.
VERSION = package_version()
CALMGR_VERSION_MAJOR, CALMGR_VERSION_MINOR, CALMGR_VERSION_PATCH = (
    int(part) for part in VERSION.split(".")
)

# Fit types (ICAL_SET_FIT_TYPE).
ICAL_FIT_PIECEWISE = 0
ICAL_FIT_POLY1 = 1
ICAL_FIT_POLY2 = 2
ICAL_FIT_POLY3 = 3
ICAL_FIT_INTERP1 = 4
ICAL_FIT_INTERP2 = 5
ICAL_FIT_INTERP3 = 6
ICAL_FIT_DENSITY = 10
ICAL_FIT_EXP1 = 11
ICAL_FIT_EXP2 = 12
ICAL_FIT_EXP3 = 13
ICAL_FIT_LOG1 = 21
ICAL_FIT_LOG2 = 22
ICAL_FIT_LOG3 = 23

# Diagnostic findings (ICalDiagnose).
ICAL_DIAG_EMPTY_RANGE = 1
ICAL_DIAG_UNSORTED = 2
ICAL_DIAG_DUPLICATE_INPUT = 3
ICAL_DIAG_OUTSIDE_RANGE = 4
ICAL_DIAG_DENSE_POINTS = 5
ICAL_DIAG_NONFINITE = 6
ICAL_DIAG_NOT_MONOTONIC = 7
ICAL_DIAG_DENSITY_RISES = 8
ICAL_DIAG_LEVELS_LIMITED = 9
ICAL_DIAG_FIT_SINGULAR = 10
ICAL_DIAG_DEGREE_REDUCED = 11
ICAL_DIAG_POINTS_DROPPED = 12

# Lookup policy bits (ICalLookupPolicy).
ICAL_POLICY_CLAMP = 0
ICAL_POLICY_OUTSIDE_NAN = 1
ICAL_POLICY_NAN_PROPAGATE = 2

# Room for coefficients in a fit report.
CAL_FIT_MAX_COEFFS = 16

# Saved calibrations (calmgr_io.h).
CALIO_FORMAT_VERSION = 1
CALIO_ERR_FILE = -1101
CALIO_ERR_FORMAT = -1102
CALIO_ERR_VERSION = -1103
CALIO_ERR_VALUE = -1104


class CalType(enum.IntEnum):
    """How an intensity calibration's table is made."""

    STANDARD = ICAL_TYPE_STANDARD  #: from the calibration points
    DENSITY = ICAL_TYPE_DENSITY  #: optical density from black and incident levels
    TABLE = ICAL_TYPE_TABLE  #: supplied whole by the caller
    NONE = ICAL_TYPE_NONE  #: no calibration: lookups pass values through


class Diag(enum.IntEnum):
    """What a diagnosis found (see :meth:`IntensityCal.diagnose`)."""

    EMPTY_RANGE = ICAL_DIAG_EMPTY_RANGE
    UNSORTED = ICAL_DIAG_UNSORTED
    DUPLICATE_INPUT = ICAL_DIAG_DUPLICATE_INPUT
    OUTSIDE_RANGE = ICAL_DIAG_OUTSIDE_RANGE
    DENSE_POINTS = ICAL_DIAG_DENSE_POINTS
    NONFINITE = ICAL_DIAG_NONFINITE
    NOT_MONOTONIC = ICAL_DIAG_NOT_MONOTONIC
    DENSITY_RISES = ICAL_DIAG_DENSITY_RISES
    LEVELS_LIMITED = ICAL_DIAG_LEVELS_LIMITED
    FIT_SINGULAR = ICAL_DIAG_FIT_SINGULAR
    DEGREE_REDUCED = ICAL_DIAG_DEGREE_REDUCED
    POINTS_DROPPED = ICAL_DIAG_POINTS_DROPPED


#: Fit names with their codes: each ICAL_FIT_* name in lower case without
#: its prefix. These are the names :attr:`IntensityCal.fit` gives back.
FIT_TYPES: Dict[str, int] = {
    name[len("ICAL_FIT_"):].lower(): value
    for name, value in list(globals().items())
    if name.startswith("ICAL_FIT_")
}

#: Other names accepted for a fit: ``default`` (the library's default,
#: piecewise linear) and ``od`` (optical density).
FIT_ALIASES: Dict[str, str] = {"default": "piecewise", "od": "density"}

#: Every fit type code the library accepts; 7 to 9 build as piecewise linear.
FIT_CODES: FrozenSet[int] = frozenset(list(range(0, 14)) + [21, 22, 23])

FitChoice = Union[str, int]


def fit_code(fit: FitChoice) -> int:
    """The fit type code for a fit name (``"poly2"``, ``"density"``) or code.

    Raises:
        ValueError: an unknown name, or a code the library does not know (it
            would keep the code and build nothing sensible from it).
        TypeError: neither a str nor an int.
    """
    if isinstance(fit, str):
        key = fit.lower()
        key = FIT_ALIASES.get(key, key)
        if key in FIT_TYPES:
            return FIT_TYPES[key]
        names = ", ".join(list(FIT_TYPES) + list(FIT_ALIASES))
        raise ValueError(f"unknown fit name {fit!r}; use one of {names}")
    if isinstance(fit, bool) or not isinstance(fit, numbers.Integral):
        raise TypeError(f"fit must be a fit name or an int code, not {type(fit).__name__}")
    if int(fit) not in FIT_CODES:
        raise ValueError(
            f"unknown fit type code {fit}; use 0..13 or 21..23, or a name: "
            + ", ".join(FIT_TYPES)
        )
    return int(fit)


def fit_name(code: int) -> str:
    """The name of a fit type code (the code as text when it has none)."""
    for name, value in FIT_TYPES.items():
        if value == code:
            return name
    return str(code)
