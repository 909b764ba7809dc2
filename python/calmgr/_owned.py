"""What IntensityCal and SpatialCal share: owning one library handle, its
lock, and keeping it in a saved-calibration document.

The handle is destroyed exactly once, by close(), at the end of a ``with``
block or on garbage collection; copies and pickles are refused, since two
owners of one handle would destroy it twice. Each subclass names its own C
functions and document format; :mod:`calmgr.io` finds the class for a
document through :data:`FORMATS`, which subclasses join as they are defined.
"""

from __future__ import annotations

import contextlib
import ctypes
import os
import re
from typing import Any, ClassVar, Dict, Iterator, Optional, Type, TypeVar, Union

from . import _iolib, _lib, _sync
from . import constants as C

T = TypeVar("T", bound="Owned")
PathLike = Union[str, "os.PathLike[str]"]

#: Document format name ("calmgr.intensity") to the class that holds it.
FORMATS: Dict[str, Type["Owned"]] = {}

# The top-level "format" member of a document. Inside a JSON string every
# quote is escaped, so an unescaped "format" followed by a colon is a key.
_FORMAT_KEY = re.compile(rb'(?:^|[{,\s])"format"\s*:\s*"([^"\\]*)"')


def document_format(raw: bytes) -> Optional[str]:
    """The format a saved-calibration document declares, found without
    parsing it (the library parses it once, and names any fault)."""
    match = _FORMAT_KEY.search(raw)
    return match.group(1).decode("utf-8", errors="replace") if match else None


def read_document(path: PathLike) -> bytes:
    """A document's bytes, read once."""
    fs = os.fspath(path)
    if not os.path.isfile(fs):
        raise FileNotFoundError(f"no saved calibration at {fs!r}")
    with open(fs, "rb") as f:
        return f.read()


class Owned:
    """Base of the calibration classes; not used on its own."""

    # The C functions and document format of a subclass.
    _create: ClassVar[str] = ""
    _destroy: ClassVar[str] = ""
    _c_save: ClassVar[str] = ""
    _c_to_json: ClassVar[str] = ""
    _c_from_json: ClassVar[str] = ""
    _format: ClassVar[str] = ""

    _handle: Optional[int] = None
    _lock: _sync.RWLock

    def __init_subclass__(cls, **kwargs: Any) -> None:
        super().__init_subclass__(**kwargs)
        if cls._format:
            FORMATS[cls._format] = cls

    def _take(self) -> None:
        """Creates this object's calibration in the library."""
        self._lock = _sync.RWLock()
        with _sync.registry:
            handle = _lib.function(self._create)()
        if not handle:
            raise MemoryError(f"{self._create} could not obtain memory for a calibration")
        self._handle = handle

    @classmethod
    def _adopt(cls: Type[T], handle: int) -> T:
        """Wraps (and takes ownership of) a handle made by the library."""
        self = cls.__new__(cls)
        self._lock = _sync.RWLock()
        self._handle = handle
        self._adopted()
        return self

    def _adopted(self) -> None:
        """Called on a calibration wrapped by :meth:`_adopt`."""

    @property
    def handle(self) -> int:
        """The C handle (the calibration's address); ValueError when closed.

        Calls made through the handle directly bypass this object's lock:
        the caller must not overlap them with changes from other threads."""
        handle = self._handle
        if handle is None:
            raise ValueError(
                f"this {type(self).__name__} is closed; create a new calibration to continue"
            )
        return handle

    @property
    def closed(self) -> bool:
        """True once :meth:`close` has destroyed the calibration."""
        return self._handle is None

    @contextlib.contextmanager
    def _reading(self) -> Iterator[int]:
        """The handle, while no other thread changes or closes the calibration."""
        with self._lock.reading():
            yield self.handle

    @contextlib.contextmanager
    def _writing(self) -> Iterator[int]:
        """The handle, used by this thread alone."""
        with self._lock.writing():
            yield self.handle

    def close(self) -> None:
        """Destroys the calibration in the library. Safe to call repeatedly,
        and from any thread: it waits for lookups in progress."""
        if self._handle is None:
            return
        with self._lock.writing():
            handle, self._handle = self._handle, None
            if handle is not None:
                with _sync.registry:
                    _lib.function(self._destroy)(handle)

    def __enter__(self: T) -> T:
        self.handle  # refuse a closed calibration up front
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            if getattr(self, "_handle", None) is not None:
                self.close()
        except Exception:  # interpreter shutdown: the library may be gone
            pass

    def __copy__(self: T) -> T:
        raise TypeError(
            f"a {type(self).__name__} owns its calibration and cannot be copied; make a "
            "new one from its settings, or use to_json()/from_json()"
        )

    def __deepcopy__(self: T, memo: Any) -> T:
        return self.__copy__()

    def __reduce__(self) -> Any:
        raise TypeError(
            f"a {type(self).__name__} cannot be pickled; save it with to_json() or save()"
        )

    # -- saved calibrations ------------------------------------------------

    def save(self, path: PathLike) -> None:
        """Writes this calibration to ``path`` as JSON. Every double reads
        back bit for bit. On failure no file is left and an existing one is
        unchanged.

        Raises:
            CalIOError: the library could not save (unwritable place, a value
                the format cannot keep); the message names the file and field.
        """
        err = _iolib.error_buffer()
        with self._reading() as handle:
            status = _iolib.function(self._c_save)(handle, os.fsencode(os.fspath(path)), err,
                                                   _iolib.ERRLEN)
        if status != C.CAL_OK:
            raise _iolib.CalIOError(status, self._c_save, _iolib.error_text(err))

    def to_json(self) -> str:
        """The JSON document :meth:`save` would write."""
        err = _iolib.error_buffer()
        with self._reading() as handle:
            ptr = _iolib.function(self._c_to_json)(handle, err, _iolib.ERRLEN)
        if not ptr:
            raise _iolib.CalIOError(None, self._c_to_json, _iolib.error_text(err))
        try:
            return ctypes.string_at(ptr).decode("utf-8")
        finally:
            _iolib.function("CalFreeJson")(ptr)

    @classmethod
    def from_json(cls: Type[T], document: Union[str, bytes]) -> T:
        """A new calibration from a JSON document made by :meth:`to_json`.

        Raises:
            CalIOError: the document is malformed, of a later version, of the
                other kind, or has a missing or wrong field (named).
        """
        raw = document.encode("utf-8") if isinstance(document, str) else bytes(document)
        return cls._from_document(raw, "document")

    @classmethod
    def load(cls: Type[T], path: PathLike) -> T:
        """A new calibration from a file written by :meth:`save`.

        Raises:
            FileNotFoundError: no such file.
            CalIOError: as :meth:`from_json`; the message names the file.
        """
        return cls._from_document(read_document(path), os.fspath(path))

    @classmethod
    def _from_document(cls: Type[T], raw: bytes, source: str) -> T:
        """A new calibration from a document's bytes; ``source`` names the
        document in messages."""
        if b"\0" in raw:
            raise _iolib.CalIOError(None, cls._c_from_json,
                                    f"{source}: contains a NUL byte; not a calibration document")
        declared = document_format(raw)
        if declared in FORMATS and declared != cls._format:
            raise _iolib.CalIOError(
                None, cls._c_from_json,
                f"{source}: holds a {FORMATS[declared].__name__}, not a {cls.__name__}")
        err = _iolib.error_buffer()
        fn = _iolib.function(cls._c_from_json)
        with _sync.registry:
            handle = fn(raw, err, _iolib.ERRLEN)
        if not handle:
            text = _iolib.error_text(err)
            if text.startswith("document: "):
                text = text[len("document: "):]
            raise _iolib.CalIOError(None, cls._c_from_json, f"{source}: {text}")
        return cls._adopt(handle)
