"""Diagnoses of intensity calibrations (ICalDiagnose) and the warnings that
announce new findings after a change.

A finding says what makes a calibration's numbers untrustworthy: points that
share an input but not a value, a range that does not hold the points, a
table that turns where the points do not. Each carries the library's own
one-line text (CalDiagText).
"""

from __future__ import annotations

import ctypes
import math
import os
import sys
import warnings
from typing import Iterable, List, NamedTuple, Optional, Set, Tuple

from . import _lib, _sync
from .constants import Diag


class CalibrationWarning(UserWarning):
    """A change left a calibration whose numbers may mislead (see
    :meth:`IntensityCal.diagnose`), or a lookup saw values outside the
    calibrated range that it clamped."""


class Finding(NamedTuple):
    """One finding of :meth:`IntensityCal.diagnose`.

    Attributes:
        code: the name of the finding, a member name of :class:`Diag`
            (``"DUPLICATE_INPUT"``).
        point: index of the point concerned (the later one of a pair), or None.
        entry: index of the table entry concerned, or None.
        value: the input or calibrated value concerned, or None.
        text: the library's one line of English for the code.
    """

    code: str
    point: Optional[int]
    entry: Optional[int]
    value: Optional[float]
    text: str

    def __str__(self) -> str:
        where = []
        if self.point is not None:
            where.append(f"point {self.point}")
        if self.entry is not None:
            where.append(f"table entry {self.entry}")
        place = " and ".join(where)
        if self.value is not None:
            place = f"{place} ({self.value:g})" if place else f"value {self.value:g}"
        return f"{place}: {self.text}" if place else self.text


def text(code: int) -> str:
    """CalDiagText: the library's line for a finding code."""
    raw = _lib.function("CalDiagText")(code)
    return str(raw.decode("utf-8", errors="replace")) if raw else "unknown finding"


def _name(code: int) -> str:
    try:
        return Diag(code).name
    except ValueError:
        return f"UNKNOWN_{code}"


def diagnose(handle: int) -> List[Finding]:
    """Every finding of the calibration ``handle``, in the library's order.
    The caller holds the calibration's lock."""
    fn = _lib.function("ICalDiagnose")
    count = ctypes.c_uint32(0)
    with _sync.registry:  # the library checks the calibration is registered
        _lib.check(fn(handle, None, 0, ctypes.byref(count)), "ICalDiagnose")
        while True:
            room = count.value
            found = (_lib.CalFinding * max(room, 1))()
            _lib.check(fn(handle, found, room, ctypes.byref(count)), "ICalDiagnose")
            if count.value <= room:
                break
    return [
        Finding(
            _name(f.code),
            None if f.point < 0 else int(f.point),
            None if f.entry < 0 else int(f.entry),
            None if math.isnan(f.value) else float(f.value),
            text(f.code),
        )
        for f in found[: count.value]
    ]


def available() -> bool:
    """Whether the loaded library can diagnose."""
    return _lib.has_function("ICalDiagnose")


def key(finding: Finding) -> Tuple[str, Optional[int], Optional[int]]:
    """What makes a finding the same one after a change."""
    return (finding.code, finding.point, finding.entry)


def new_findings(before: Iterable[Finding], after: Iterable[Finding]) -> List[Finding]:
    seen: Set[Tuple[str, Optional[int], Optional[int]]] = {key(f) for f in before}
    return [f for f in after if key(f) not in seen]


_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__)) + os.sep


def user_stacklevel() -> int:
    """The stacklevel, for warnings.warn called by the caller of this
    function, of the first frame outside this package."""
    level = 1
    frame = sys._getframe(1)
    while frame is not None and os.path.abspath(frame.f_code.co_filename).startswith(
            _PACKAGE_DIR):
        frame = frame.f_back  # type: ignore[assignment]
        level += 1
    return level


def warn(message: str) -> None:
    """A CalibrationWarning pointing at the user's line."""
    warnings.warn(message, CalibrationWarning, stacklevel=user_stacklevel())


def warn_findings(name: str, findings: Iterable[Finding]) -> None:
    for finding in findings:
        warnings.warn(f"calibration {name!r}: {finding}", CalibrationWarning,
                      stacklevel=user_stacklevel())
