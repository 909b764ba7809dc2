"""A property whose setter may take more than its getter gives back.

``cal.points`` reads an (N, 2) float64 array but takes any array-like;
``cal.fit`` reads a name but takes a name or a code. A plain ``property``
makes type checkers hold assignments to the getter's type, so these
settings are descriptors with their own ``__set__`` type instead.
"""

from __future__ import annotations

from typing import Any, Callable, Generic, Optional, Type, TypeVar, overload

G = TypeVar("G")
S = TypeVar("S")


class Setting(Generic[G, S]):
    """A settable attribute: reads give ``G``, assignments take ``S``."""

    def __init__(self, fget: Callable[[Any], G], fset: Callable[[Any, S], None]) -> None:
        self._fget = fget
        self._fset = fset
        self.__doc__ = fget.__doc__

    @overload
    def __get__(self, obj: None, owner: Optional[Type[Any]] = None) -> "Setting[G, S]": ...

    @overload
    def __get__(self, obj: object, owner: Optional[Type[Any]] = None) -> G: ...

    def __get__(self, obj: Any, owner: Any = None) -> Any:
        if obj is None:
            return self
        return self._fget(obj)

    def __set__(self, obj: Any, value: S) -> None:
        self._fset(obj, value)
