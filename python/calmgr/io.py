"""Saving and loading calibrations as JSON, whichever kind they are.

The work is done by libcalmgr_io through the calibration classes, each of
which knows its own C functions and document format; this module picks the
class from a calibration or from the format a document declares.
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Union

from ._iolib import CalIOError
from ._owned import FORMATS, Owned, PathLike, document_format, read_document

if TYPE_CHECKING:  # the classes join FORMATS at import; named here for types only
    from .intensity import IntensityCal
    from .spatial import SpatialCal

__all__ = ["CalIOError", "from_json", "load", "save", "to_json"]


def _owned(cal: object, caller: str) -> Owned:
    if not isinstance(cal, Owned) or not cal._format:
        raise TypeError(f"{caller}() takes an IntensityCal or SpatialCal, not {type(cal).__name__}")
    return cal


def save(cal: "IntensityCal | SpatialCal", path: PathLike) -> None:
    """Writes ``cal`` to ``path`` as JSON (see :meth:`IntensityCal.save`)."""
    _owned(cal, "save").save(path)


def to_json(cal: "IntensityCal | SpatialCal") -> str:
    """The JSON document :func:`save` would write for ``cal``."""
    return _owned(cal, "to_json").to_json()


def _from_document(raw: bytes, source: str) -> "IntensityCal | SpatialCal":
    # A document of no known format goes to the intensity reader, which
    # names what is wrong with it.
    cls = FORMATS.get(document_format(raw) or "", FORMATS["calmgr.intensity"])
    return cls._from_document(raw, source)  # type: ignore[return-value]


def load(path: PathLike) -> "IntensityCal | SpatialCal":
    """Reads a saved calibration into a new :class:`IntensityCal` or
    :class:`SpatialCal`, whichever the file holds. The file is read and
    parsed once.

    Raises:
        FileNotFoundError: no such file.
        CalIOError: the document is malformed, of a later version, or has a
            missing or wrong field (named in the message); nothing is created.
    """
    return _from_document(read_document(path), os.fspath(path))


def from_json(document: Union[str, bytes]) -> "IntensityCal | SpatialCal":
    """A new calibration from a JSON document (as :func:`load`, in memory)."""
    raw = document.encode("utf-8") if isinstance(document, str) else bytes(document)
    return _from_document(raw, "document")
