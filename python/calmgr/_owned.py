"""What IntensityCal and SpatialCal share: owning one library handle.

The handle is destroyed exactly once, by close(), at the end of a ``with``
block or on garbage collection; copies and pickles are refused, since two
owners of one handle would destroy it twice. Saving and loading go through
:mod:`calmgr.io`.
"""

from __future__ import annotations

from typing import Any, Optional, Type, TypeVar

from . import _lib

T = TypeVar("T", bound="Owned")


class Owned:
    """Base of the calibration classes; not used on its own."""

    _destroy = ""  # name of the C function that destroys a handle
    _handle: Optional[int] = None

    def _take(self, create: str) -> None:
        handle = _lib.call(create)
        if not handle:
            raise MemoryError(f"{create} could not obtain memory for a calibration")
        self._handle = handle

    @classmethod
    def _adopt(cls: Type[T], handle: int) -> T:
        """Wraps (and takes ownership of) a handle made by the library."""
        self = cls.__new__(cls)
        self._handle = handle
        return self

    @property
    def handle(self) -> int:
        """The C handle (the calibration's address); ValueError when closed."""
        if self._handle is None:
            raise ValueError(
                f"this {type(self).__name__} is closed; create a new calibration to continue"
            )
        return self._handle

    @property
    def closed(self) -> bool:
        """True once :meth:`close` has destroyed the calibration."""
        return self._handle is None

    def close(self) -> None:
        """Destroys the calibration in the library. Safe to call repeatedly."""
        handle, self._handle = self._handle, None
        if handle is not None:
            _lib.call(self._destroy, handle)

    def __enter__(self: T) -> T:
        self.handle  # refuse a closed calibration up front
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
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

    def save(self, path: Any) -> None:
        """Writes this calibration to ``path`` as JSON (see :func:`calmgr.save`)."""
        from . import io

        io.save(self, path)

    def to_json(self) -> str:
        """The JSON document :meth:`save` would write."""
        from . import io

        return io.to_json(self)

    @classmethod
    def load(cls: Type[T], path: Any) -> T:
        """A new calibration from a file written by :meth:`save`.

        Raises:
            CalIOError: the file does not hold a valid saved calibration of
                this class.
        """
        from . import io

        return cls._expect(io.load(path), "load", f"{path} holds")

    @classmethod
    def from_json(cls: Type[T], document: Any) -> T:
        """A new calibration from a JSON document made by :meth:`to_json`."""
        from . import io

        return cls._expect(io.from_json(document), "from_json", "the document holds")

    @classmethod
    def _expect(cls: Type[T], cal: Any, call: str, where: str) -> T:
        from . import io

        if not isinstance(cal, cls):
            name = type(cal).__name__
            cal.close()
            raise io.CalIOError(None, call, f"{where} a {name}, not a {cls.__name__}")
        return cal
