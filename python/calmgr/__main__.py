"""``python -m calmgr --version``: the package's version and the loaded
library's, with where the library was found. Exits with status 1 when they
differ or the library cannot be loaded."""

from __future__ import annotations

import argparse
import sys
from typing import List, Optional

from . import LibraryNotFoundError, __version__, library_path, library_version


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python -m calmgr",
        description="calmgr for Python: image calibrations over numpy.")
    parser.add_argument("--version", action="store_true",
                        help="print the package's and the loaded library's versions")
    args = parser.parse_args(argv)
    if not args.version:
        parser.print_help()
        return 0
    print(f"calmgr {__version__} (package)")
    try:
        lib_version, where = library_version(), library_path()
    except LibraryNotFoundError as exc:
        print(f"error: {exc}", file=sys.stderr)
        return 1
    print(f"libcalmgr {lib_version} ({where})")
    if lib_version != __version__:
        print(f"error: the package is {__version__} but the library is {lib_version}; "
              "install both from the same calmgr source", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
