"""The library version as the public header states it.

This module imports nothing from the package, so that the build (setup.py)
can load it on its own to stamp the version into the wheel; a source
checkout without that stamp reads the header beside the package instead.
"""

from __future__ import annotations

import importlib
import os
import re

_VERSION_LINE = re.compile(r"^#define\s+CALMGR_VERSION_(MAJOR|MINOR|PATCH)\s+(\d+)\b", re.M)


def version_from_header(path: str) -> str:
    """"MAJOR.MINOR.PATCH" from the ``CALMGR_VERSION_*`` lines of ``path``.

    Raises:
        ValueError: the file does not define all three parts.
    """
    with open(path, encoding="utf-8") as f:
        parts = dict(_VERSION_LINE.findall(f.read()))
    try:
        return f"{parts['MAJOR']}.{parts['MINOR']}.{parts['PATCH']}"
    except KeyError as missing:
        raise ValueError(f"{path} does not define CALMGR_VERSION_{missing.args[0]}") from None


def source_header() -> str:
    """The public header of the source tree this package directory lies in."""
    here = os.path.dirname(os.path.abspath(__file__))
    return os.path.join(here, os.pardir, os.pardir, "include", "calmgr.h")


def package_version() -> str:
    """The version stamped in at build time, or the source tree's header's."""
    try:  # written by the build; absent in a source checkout
        stamp = importlib.import_module(f"{__package__}._version")
    except ImportError:
        return version_from_header(source_header())
    return str(stamp.VERSION)
