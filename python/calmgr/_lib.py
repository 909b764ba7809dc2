"""Loading libcalmgr.so and declaring its C functions and records for ctypes.

The shared library is found, in this order, through the ``CALMGR_LIBRARY``
environment variable (a file, or a directory holding ``libcalmgr.so``),
beside this package (where an installed wheel keeps it), and on the system's
library path. It is loaded on first use, so ``import calmgr`` works (and
documents itself) without it.

ctypes releases the interpreter lock during each call, so calls from several
threads run in parallel; :mod:`calmgr._sync` says which may overlap.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from ctypes import (
    POINTER,
    c_char_p,
    c_double,
    c_int16,
    c_int32,
    c_uint32,
    c_uint64,
    c_void_p,
)
from typing import Any, Callable, Dict, List, Optional, Tuple

from . import constants as C

__all__ = ["CalError", "LibraryNotFoundError", "library_path", "library_version", "status_name"]

_STATUS_NAMES: Dict[int, str] = {
    getattr(C, name): name
    for name in ("CAL_OK", "CAL_ERR_INVALID", "CAL_ERR_TARGET", "CAL_ERR_NOMEM", "FIT_ERR_ARGS",
                 "CALIO_ERR_FILE", "CALIO_ERR_FORMAT", "CALIO_ERR_VERSION", "CALIO_ERR_VALUE")
}


def status_name(status: int) -> str:
    """The symbolic name of a status code of the C interface."""
    return _STATUS_NAMES.get(status, f"unknown status {status}")


class CalError(Exception):
    """The library refused a call. The message gives the cause in words.

    Attributes:
        status: the status code (for example -985), or None when the call
            returns a null result instead of a status.
        name: its symbolic name (for example ``"CAL_ERR_INVALID"``).
        call: the C function (and control) that refused.
    """

    def __init__(self, status: Optional[int], call: str, cause: str = "") -> None:
        self.status: Optional[int] = status
        self.name: str = "null result" if status is None else status_name(status)
        self.call: str = call
        super().__init__(cause or f"{call} was refused with {self.name}")


class LibraryNotFoundError(OSError):
    """libcalmgr.so could not be loaded; the message lists every place tried."""


class CalFinding(ctypes.Structure):
    """One finding of ICalDiagnose (24 bytes)."""

    _fields_ = [("code", c_uint32), ("point", c_int32), ("entry", c_int32), ("value", c_double)]


class CalLookupStats(ctypes.Structure):
    """Counts of samples below, above and NaN from ICalLookupPolicy."""

    _fields_ = [("below", c_uint64), ("above", c_uint64), ("nan", c_uint64)]


_N = C.CAL_FIT_MAX_COEFFS


class CalFitReport(ctypes.Structure):
    """A least-squares fit with its statistics (PolynomialFitReport)."""

    _fields_ = [
        ("degree", c_int16),
        ("reserved", c_int16),
        ("num_samples", c_int32),
        ("coeffs", c_double * _N),
        ("std_errors", c_double * _N),
        ("covariance", (c_double * _N) * _N),
        ("residual_sd", c_double),
        ("r_squared", c_double),
        ("ssr", c_double),
        ("condition", c_double),
    ]


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
    "CalVersion": (c_char_p, []),
    "ICalDiagnose": (c_int32, [c_void_p, c_void_p, c_uint32, POINTER(c_uint32)]),
    "CalDiagText": (c_char_p, [c_uint32]),
    "ICalLookupPolicy": (
        c_int32,
        [c_void_p, c_uint32, c_void_p, c_uint64, c_void_p, c_uint32, c_void_p],
    ),
    "ICalInverse": (c_int32, [c_void_p, c_void_p, c_uint64, c_void_p, c_void_p]),
    "PolynomialFitReport": (c_int32, [c_void_p, c_int32, c_int16, c_void_p]),
    "ICalFitReport": (c_int32, [c_void_p, c_void_p]),
}

_load_lock = threading.Lock()
_lib: Optional[ctypes.CDLL] = None
_lib_path: Optional[str] = None
_functions: Dict[str, Callable[..., Any]] = {}


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


def package_dir() -> str:
    """The directory of this package, where a wheel keeps the libraries."""
    return os.path.dirname(os.path.abspath(__file__))


def _candidates() -> List[Tuple[str, str]]:
    """(how, path-or-name) pairs to try, in order."""
    chosen = env_choice("CALMGR_LIBRARY", "libcalmgr.so")
    if chosen:
        return chosen
    return [("beside the package", os.path.join(package_dir(), "libcalmgr.so"))] + \
        on_system_path("calmgr")


def on_system_path(name: str) -> List[Tuple[str, str]]:
    """The candidates for lib<name>.so on the system's library path."""
    found = [("system library path", f"lib{name}.so.1"), ("system library path", f"lib{name}.so")]
    system = ctypes.util.find_library(name)
    return ([("system library path", system)] if system else []) + found


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


def load() -> ctypes.CDLL:
    """The core library, loaded on first use."""
    global _lib, _lib_path
    if _lib is not None:
        return _lib
    with _load_lock:
        if _lib is not None:
            return _lib
        lib, where, tried = load_first(_candidates(), "ICalCreate", _PROTOTYPES, "calmgr")
        if lib is None:
            raise LibraryNotFoundError(
                "cannot load the calmgr shared library; tried:\n"
                + "\n".join(tried)
                + "\nInstall the package with its libraries (pip install ./python from a "
                "calmgr checkout), or build calmgr (cmake --preset release && cmake --build "
                "--preset release) and set CALMGR_LIBRARY to the full path of libcalmgr.so."
            )
        _lib_path = where
        _lib = lib
        return lib


def library_path() -> str:
    """The path or name under which libcalmgr.so was loaded (loads it)."""
    load()
    assert _lib_path is not None
    return _lib_path


def function(name: str) -> Callable[..., Any]:
    """The C function ``name`` of the loaded library."""
    fn = _functions.get(name)
    if fn is None:
        found: Any = getattr(load(), name, None)
        if not callable(found):
            raise LibraryNotFoundError(
                f"{_lib_path} has no function {name}: it is an older calmgr build than this "
                f"package ({C.VERSION}); rebuild calmgr or point CALMGR_LIBRARY at a current "
                "libcalmgr.so"
            )
        fn = _functions[name] = found
    return fn


def has_function(name: str) -> bool:
    """Whether the loaded library exports ``name``."""
    try:
        function(name)
    except LibraryNotFoundError:
        return False
    return True


def library_version() -> str:
    """The loaded library's own version, "MAJOR.MINOR.PATCH" (CalVersion)."""
    raw = function("CalVersion")()
    return str(raw.decode("ascii")) if raw else "unknown"


def check(status: int, call: str, cause: str = "") -> None:
    """Raises CalError unless status is CAL_OK."""
    if status != C.CAL_OK:
        raise CalError(status, call, cause)
