"""Loading libcalmgr.so and declaring its C functions for ctypes.

The shared library is found, in this order, through the ``CALMGR_LIBRARY``
environment variable (a file, or a directory holding ``libcalmgr.so``),
beside this package, and on the system's library path. It is loaded on first
use, so ``import calmgr`` works (and documents itself) without it.

The library keeps process-wide state without locks; every call from this
package goes through :func:`call`, which serialises them across threads.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from ctypes import POINTER, c_char_p, c_double, c_int16, c_int32, c_uint32, c_void_p
from typing import Any, Callable, Dict, List, Optional, Tuple

__all__ = [
    "CalError",
    "LibraryNotFoundError",
    "call",
    "library_path",
    "status_name",
]

# Status codes of the C interface.
CAL_OK = 0
CAL_ERR_INVALID = -985
CAL_ERR_TARGET = -987
CAL_ERR_NOMEM = -999
FIT_ERR_ARGS = -1

_STATUS_NAMES: Dict[int, str] = {
    CAL_OK: "CAL_OK",
    CAL_ERR_INVALID: "CAL_ERR_INVALID",
    CAL_ERR_TARGET: "CAL_ERR_TARGET",
    CAL_ERR_NOMEM: "CAL_ERR_NOMEM",
    FIT_ERR_ARGS: "FIT_ERR_ARGS",
    -1101: "CALIO_ERR_FILE",
    -1102: "CALIO_ERR_FORMAT",
    -1103: "CALIO_ERR_VERSION",
    -1104: "CALIO_ERR_VALUE",
}


def status_name(status: int) -> str:
    """The symbolic name of a status code of the C interface."""
    return _STATUS_NAMES.get(status, f"unknown status {status}")


class CalError(Exception):
    """A call into the library returned a status other than ``CAL_OK``.

    Attributes:
        status: the status code (for example -985).
        name: its symbolic name (for example ``"CAL_ERR_INVALID"``).
        call: the C function (and control) that returned it.
    """

    def __init__(self, status: int, call: str, hint: str = "") -> None:
        self.status: int = status
        self.name: str = status_name(status)
        self.call: str = call
        message = f"{call} failed with {self.name} ({status})"
        if hint:
            message += f": {hint}"
        super().__init__(message)


class LibraryNotFoundError(OSError):
    """libcalmgr.so could not be loaded; the message lists every place tried."""


class _CPoint(ctypes.Structure):
    """CalPoint and RealPoint: two doubles, 16 bytes."""

    _fields_ = [("x", c_double), ("y", c_double)]


# name: (restype, argtypes)
_PROTOTYPES: Dict[str, Tuple[Any, List[Any]]] = {
    "ICalCreate": (c_void_p, []),
    "ICalDestroy": (c_int32, [c_void_p]),
    "ICalControl": (c_int32, [c_void_p, c_uint32, c_int32, c_int32, c_void_p]),
    "ICalLookup": (c_int32, [c_void_p, c_uint32, c_void_p, c_uint32, c_void_p]),
    "ICalLookupEx": (c_int32, [c_void_p, c_uint32, c_void_p, c_uint32, c_void_p]),
    "SCalCreate": (c_void_p, []),
    "SCalDestroy": (c_int32, [c_void_p]),
    "SCalControl": (c_int32, [c_void_p, c_uint32, c_int32, c_int32, c_void_p]),
    "SCalPixToCU": (c_int32, [c_void_p, c_void_p, c_void_p, c_uint32]),
    "PolynomialFit": (c_int32, [c_void_p, c_int16, c_void_p, c_int16, c_int16]),
    "PolynomialFitRange": (
        c_int32,
        [c_void_p, c_int16, c_void_p, c_double, c_double, c_int16, c_int16],
    ),
}

_lock = threading.RLock()
_lib: Optional[ctypes.CDLL] = None
_lib_path: Optional[str] = None


def env_choice(variable: str, file_name: str) -> List[Tuple[str, str]]:
    """The library an environment variable names (a file, or a folder
    holding ``file_name``), as the only candidate; none when it is unset.
    An explicit choice is the only one tried: silently falling back to
    another copy would hide a mistake in the variable."""
    env = os.environ.get(variable)
    if not env:
        return []
    if os.path.isdir(env):
        return [(variable, os.path.join(env, file_name))]
    return [(variable, env)]


def _candidates() -> List[Tuple[str, str]]:
    """(how, path-or-name) pairs to try, in order."""
    chosen = env_choice("CALMGR_LIBRARY", "libcalmgr.so")
    if chosen:
        return chosen
    here = os.path.dirname(os.path.abspath(__file__))
    found: List[Tuple[str, str]] = [
        ("beside the package", os.path.join(here, "libcalmgr.so")),
        ("beside the package", os.path.join(here, "libcalmgr.so.1")),
    ]
    system = ctypes.util.find_library("calmgr")
    if system:
        found.append(("system library path", system))
    found.append(("system library path", "libcalmgr.so.1"))
    found.append(("system library path", "libcalmgr.so"))
    return found


def load_first(
    candidates: List[Tuple[str, str]], marker: str, prototypes: Dict[str, Any], what: str
) -> Tuple[Optional[ctypes.CDLL], Optional[str], List[str]]:
    """The first candidate that loads and exports ``marker``, with the C
    prototypes applied, and where it was found; else None, None and one line
    per candidate saying why it was passed over."""
    tried: List[str] = []
    for how, where in candidates:
        if os.sep in where and not os.path.exists(where):
            tried.append(f"  {where} ({how}): no such file")
            continue
        try:
            lib = ctypes.CDLL(where)
        except OSError as exc:
            tried.append(f"  {where} ({how}): {exc}")
            continue
        if not hasattr(lib, marker):
            tried.append(f"  {where} ({how}): loaded, but it is not {what} (no {marker})")
            continue
        for name, (restype, argtypes) in prototypes.items():
            fn = getattr(lib, name, None)
            if fn is not None:
                fn.restype, fn.argtypes = restype, argtypes
        return lib, where, tried
    return None, None, tried


def _load() -> ctypes.CDLL:
    global _lib, _lib_path
    if _lib is not None:
        return _lib
    lib, where, tried = load_first(_candidates(), "ICalCreate", _PROTOTYPES, "calmgr")
    if lib is not None:
        _lib, _lib_path = lib, where
        return lib
    raise LibraryNotFoundError(
        "cannot load the calmgr shared library; tried:\n"
        + "\n".join(tried)
        + "\nBuild and install calmgr (cmake --preset release && cmake --build --preset "
        "release && cmake --install build/release), then set CALMGR_LIBRARY to the "
        "full path of libcalmgr.so, or copy libcalmgr.so beside the calmgr package, "
        "or put its directory on LD_LIBRARY_PATH."
    )


def library_path() -> str:
    """The path or name under which libcalmgr.so was loaded (loads it)."""
    with _lock:
        _load()
        assert _lib_path is not None
        return _lib_path


def function(name: str) -> Callable[..., Any]:
    """The C function ``name`` of the loaded library."""
    lib = _load()
    fn = getattr(lib, name, None)
    if fn is None:
        raise LibraryNotFoundError(
            f"{_lib_path} has no function {name}: it is an older calmgr build; "
            "rebuild calmgr or point CALMGR_LIBRARY at a current libcalmgr.so"
        )
    return fn


def call(name: str, *args: Any) -> Any:
    """Calls the C function ``name`` under the package's lock; returns its result."""
    with _lock:
        return function(name)(*args)


def check(status: int, what: str, hint: str = "") -> None:
    """Raises CalError unless status is CAL_OK."""
    if status != CAL_OK:
        raise CalError(status, what, hint)


# Re-exported for the other modules.
CPoint = _CPoint
char_p = c_char_p
double_p = POINTER(c_double)
