"""Locks that let several threads use the library at once.

Each calibration has its own reader-writer lock: lookups, conversions and
getters share it, changes hold it alone, so threads working on different
calibrations never wait for each other and lookups on one calibration run
side by side. One re-entrant lock guards the process-wide registries of the
library (creating, destroying and walking calibrations). A thread that holds
a calibration's lock may take the registry lock, never the other way round.
"""

from __future__ import annotations

import threading
from typing import Any, Dict, Optional

#: Guards the library's registries: create, destroy, walk, diagnose.
registry = threading.RLock()


class RWLock:
    """Shared (``reading``) or exclusive (``writing``) access to one object.

    Both are re-entrant within a thread, and the writing thread may also
    read. Waiting writers go first, so a stream of lookups cannot starve a
    change. A thread that holds only the shared lock cannot upgrade it:
    that would deadlock with a second reader doing the same, so it raises.
    """

    __slots__ = ("_cond", "_readers", "_writer", "_depth", "_waiting")

    def __init__(self) -> None:
        self._cond = threading.Condition(threading.Lock())
        self._readers: Dict[int, int] = {}  # thread ident: depth
        self._writer: Optional[int] = None
        self._depth = 0
        self._waiting = 0

    def reading(self) -> "_Held":
        return _Held(self, False)

    def writing(self) -> "_Held":
        return _Held(self, True)

    def _acquire(self, exclusive: bool) -> bool:
        """Takes the lock; False when this thread already holds it as writer
        and a shared request is folded into that."""
        me = threading.get_ident()
        with self._cond:
            if self._writer == me:
                if not exclusive:
                    return False
                self._depth += 1
                return True
            if me in self._readers:
                if exclusive:
                    raise RuntimeError(
                        "a calibration cannot be changed by a thread that is reading it "
                        "(for example from inside a lookup)"
                    )
                self._readers[me] += 1
                return True
            if exclusive:
                self._waiting += 1
                try:
                    while self._writer is not None or self._readers:
                        self._cond.wait()
                finally:
                    self._waiting -= 1
                self._writer, self._depth = me, 1
            else:
                while self._writer is not None or self._waiting:
                    self._cond.wait()
                self._readers[me] = 1
            return True

    def _release(self, exclusive: bool) -> None:
        me = threading.get_ident()
        with self._cond:
            if exclusive:
                self._depth -= 1
                if self._depth == 0:
                    self._writer = None
                    self._cond.notify_all()
                return
            left = self._readers[me] - 1
            if left:
                self._readers[me] = left
            else:
                del self._readers[me]
                if not self._readers:
                    self._cond.notify_all()


class _Held:
    """Context manager of one acquisition of an RWLock."""

    __slots__ = ("_lock", "_exclusive", "_taken")

    def __init__(self, lock: RWLock, exclusive: bool) -> None:
        self._lock, self._exclusive, self._taken = lock, exclusive, False

    def __enter__(self) -> None:
        self._taken = self._lock._acquire(self._exclusive)

    def __exit__(self, *exc: Any) -> None:
        if self._taken:
            self._lock._release(self._exclusive)
