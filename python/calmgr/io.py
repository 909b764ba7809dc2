"""Saving and loading calibrations as JSON through libcalmgr_io.so.

The saved-calibrations library is found through ``CALMGR_IO_LIBRARY`` (a
file or a directory), beside the loaded libcalmgr.so (or in ``src/io/`` of
the same build tree), beside this package, or on the system's library path.
It is loaded after libcalmgr.so and binds to that same copy, so the
calibrations it creates are ordinary ones of this process.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import json
import os
from ctypes import c_char_p, c_int32, c_size_t, c_void_p
from typing import Any, List, Optional, Tuple, Union

from . import _lib

_ERRLEN = 1024
_io: Optional[ctypes.CDLL] = None

_PROTOTYPES = {
    "CalSaveIntensity": (c_int32, [c_void_p, c_char_p, c_char_p, c_size_t]),
    "CalLoadIntensity": (c_void_p, [c_char_p, c_char_p, c_size_t]),
    "CalSaveSpatial": (c_int32, [c_void_p, c_char_p, c_char_p, c_size_t]),
    "CalLoadSpatial": (c_void_p, [c_char_p, c_char_p, c_size_t]),
    "CalIntensityToJson": (c_void_p, [c_void_p, c_char_p, c_size_t]),
    "CalSpatialToJson": (c_void_p, [c_void_p, c_char_p, c_size_t]),
    "CalIntensityFromJson": (c_void_p, [c_char_p, c_char_p, c_size_t]),
    "CalSpatialFromJson": (c_void_p, [c_char_p, c_char_p, c_size_t]),
    "CalFreeJson": (None, [c_void_p]),
}


class CalIOError(_lib.CalError):
    """Saving or loading failed. ``message`` is the library's one-line
    account (it names the file and the field at fault); ``status`` is the
    status code when the call returned one, else None."""

    def __init__(self, status: Optional[int], call: str, message: str) -> None:
        self.message = message
        if status is None:
            Exception.__init__(self, f"{call} failed: {message}")
            self.status = None  # type: ignore[assignment]
            self.name = "null result"
            self.call = call
        else:
            super().__init__(status, call, message)


def _candidates() -> List[Tuple[str, str]]:
    chosen = _lib.env_choice("CALMGR_IO_LIBRARY", "libcalmgr_io.so")
    if chosen:
        return chosen
    found: List[Tuple[str, str]] = []
    core = _lib.library_path()
    if os.sep in core:
        core_dir = os.path.dirname(os.path.abspath(core))
        found.append(("beside libcalmgr.so", os.path.join(core_dir, "libcalmgr_io.so")))
        found.append(("build tree of libcalmgr.so",
                      os.path.join(core_dir, "src", "io", "libcalmgr_io.so")))
    here = os.path.dirname(os.path.abspath(__file__))
    found.append(("beside the package", os.path.join(here, "libcalmgr_io.so")))
    system = ctypes.util.find_library("calmgr_io")
    if system:
        found.append(("system library path", system))
    found.append(("system library path", "libcalmgr_io.so.1"))
    found.append(("system library path", "libcalmgr_io.so"))
    return found


def _load() -> ctypes.CDLL:
    global _io
    if _io is not None:
        return _io
    _lib._load()  # the core first, so that libcalmgr_io binds to this copy
    lib, _, tried = _lib.load_first(_candidates(), "CalLoadIntensity", _PROTOTYPES, "calmgr_io")
    if lib is not None:
        _io = lib
        return lib
    raise _lib.LibraryNotFoundError(
        "cannot load the saved-calibrations library libcalmgr_io.so; tried:\n"
        + "\n".join(tried)
        + "\nBuild calmgr with CALMGR_BUILD_IO=ON (the default), then set "
        "CALMGR_IO_LIBRARY to the full path of libcalmgr_io.so, or place it beside "
        "libcalmgr.so."
    )


def _call(name: str, *args: Any) -> Any:
    with _lib._lock:
        return getattr(_load(), name)(*args)


def _path(path: Union[str, "os.PathLike[str]"]) -> bytes:
    return os.fsencode(os.fspath(path))


def _err() -> ctypes.Array:
    return ctypes.create_string_buffer(_ERRLEN)


def _text(err: ctypes.Array) -> str:
    return err.value.decode("utf-8", errors="replace")


def _by_kind(cal: Any, intensity: str, spatial: str, caller: str) -> str:
    """The C function for ``cal``'s family; TypeError for anything else."""
    from .intensity import IntensityCal
    from .spatial import SpatialCal

    if isinstance(cal, IntensityCal):
        return intensity
    if isinstance(cal, SpatialCal):
        return spatial
    raise TypeError(f"{caller}() takes an IntensityCal or SpatialCal, not {type(cal).__name__}")


def save(cal: Any, path: Union[str, "os.PathLike[str]"]) -> None:
    """Writes an :class:`IntensityCal` or :class:`SpatialCal` to ``path`` as
    JSON. Every double reads back bit for bit. On failure no file is left
    and an existing one is unchanged.

    Raises:
        CalIOError: the library could not save (unwritable place, a value the
            format cannot keep); the message names the file and field.
    """
    name = _by_kind(cal, "CalSaveIntensity", "CalSaveSpatial", "save")
    err = _err()
    status = _call(name, cal.handle, _path(path), err, _ERRLEN)
    if status != _lib.CAL_OK:
        raise CalIOError(status, name, _text(err))


def load(path: Union[str, "os.PathLike[str]"]) -> Any:
    """Reads a saved calibration into a new :class:`IntensityCal` or
    :class:`SpatialCal`, whichever the file holds.

    Raises:
        FileNotFoundError: no such file.
        CalIOError: the document is malformed, of a later version, or has a
            missing or wrong field (named in the message); nothing is created.
    """
    from .intensity import IntensityCal
    from .spatial import SpatialCal

    fs = os.fspath(path)
    if not os.path.isfile(fs):
        raise FileNotFoundError(f"no saved calibration at {fs!r}")
    spatial = False
    try:
        with open(fs, "rb") as f:
            doc = json.loads(f.read())
        spatial = isinstance(doc, dict) and doc.get("format") == "calmgr.spatial"
    except (ValueError, OSError):
        pass  # the library reads it again and names the fault
    name = "CalLoadSpatial" if spatial else "CalLoadIntensity"
    err = _err()
    handle = _call(name, _path(fs), err, _ERRLEN)
    if not handle:
        raise CalIOError(None, name, _text(err))
    return SpatialCal._adopt(handle) if spatial else IntensityCal._adopt(handle)


def to_json(cal: Any) -> str:
    """The JSON document :func:`save` would write for ``cal``."""
    name = _by_kind(cal, "CalIntensityToJson", "CalSpatialToJson", "to_json")
    err = _err()
    ptr = _call(name, cal.handle, err, _ERRLEN)
    if not ptr:
        raise CalIOError(None, name, _text(err))
    try:
        return ctypes.string_at(ptr).decode("utf-8")
    finally:
        _call("CalFreeJson", ptr)


def from_json(document: Union[str, bytes]) -> Any:
    """A new calibration from a JSON document (as :func:`load`, in memory)."""
    from .intensity import IntensityCal
    from .spatial import SpatialCal

    raw = document.encode("utf-8") if isinstance(document, str) else bytes(document)
    if b"\0" in raw:
        raise ValueError("a JSON document must not contain NUL characters")
    spatial = False
    try:
        doc = json.loads(raw)
        spatial = isinstance(doc, dict) and doc.get("format") == "calmgr.spatial"
    except ValueError:
        pass
    name = "CalSpatialFromJson" if spatial else "CalIntensityFromJson"
    err = _err()
    handle = _call(name, raw, err, _ERRLEN)
    if not handle:
        raise CalIOError(None, name, _text(err))
    return SpatialCal._adopt(handle) if spatial else IntensityCal._adopt(handle)
