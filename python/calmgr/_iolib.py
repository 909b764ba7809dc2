"""Loading libcalmgr_io.so, the saved-calibrations library, for ctypes.

It is found through ``CALMGR_IO_LIBRARY`` (a file or a directory), beside the
loaded libcalmgr.so (or in ``src/io/`` of the same build tree), beside this
package, or on the system's library path. It is loaded after libcalmgr.so
and binds to that same copy, so the calibrations it creates are ordinary
ones of this process.
"""

from __future__ import annotations

import ctypes
import os
import threading
from ctypes import c_char_p, c_int32, c_size_t, c_void_p
from typing import Any, Callable, Dict, List, Optional, Tuple

from . import _lib

#: Room for the library's one-line account of a failure.
ERRLEN = 1024

_PROTOTYPES: Dict[str, Tuple[Any, List[Any]]] = {
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

_load_lock = threading.Lock()
_io: Optional[ctypes.CDLL] = None


class CalIOError(_lib.CalError):
    """Saving or loading failed. ``message`` is the library's one-line
    account (it names the file and the field at fault); ``status`` is the
    status code when the call returned one, else None."""

    def __init__(self, status: Optional[int], call: str, message: str) -> None:
        self.message: str = message
        super().__init__(status, call, f"{call} failed: {message}")


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
    found.append(("beside the package", os.path.join(_lib.package_dir(), "libcalmgr_io.so")))
    return found + _lib.on_system_path("calmgr_io")


def load() -> ctypes.CDLL:
    """The saved-calibrations library, loaded on first use (after the core,
    so that it binds to the copy this package uses)."""
    global _io
    if _io is not None:
        return _io
    _lib.load()
    with _load_lock:
        if _io is None:
            lib, _, tried = _lib.load_first(_candidates(), "CalLoadIntensity", _PROTOTYPES,
                                            "calmgr_io")
            if lib is None:
                raise _lib.LibraryNotFoundError(
                    "cannot load the saved-calibrations library libcalmgr_io.so; tried:\n"
                    + "\n".join(tried)
                    + "\nInstall the package with its libraries (pip install ./python), or "
                    "set CALMGR_IO_LIBRARY to the full path of libcalmgr_io.so, or place it "
                    "beside libcalmgr.so."
                )
            _io = lib
        return _io


def function(name: str) -> Callable[..., Any]:
    """The C function ``name`` of libcalmgr_io."""
    fn: Callable[..., Any] = getattr(load(), name)
    return fn


def error_buffer() -> "ctypes.Array[ctypes.c_char]":
    return ctypes.create_string_buffer(ERRLEN)


def error_text(buffer: "ctypes.Array[ctypes.c_char]") -> str:
    return buffer.value.decode("utf-8", errors="replace")
