"""calmgr: intensity and spatial calibrations for images, over numpy.

A thin layer over the C library libcalmgr.so (loaded through ctypes on first
use; see :func:`library_path` for where it is looked for). Every number comes
from the library unchanged.

>>> import numpy, calmgr
>>> cal = calmgr.IntensityCal.from_points([(0, 2.5), (1000, 1.9), (4000, 0.1)],
...                                       fit="poly2", range=(0, 4095), table_size=4096)
>>> cal.lookup(numpy.array([[0, 2000], [3000, 4095]], numpy.uint16)).shape
(2, 2)
"""

from ._diag import CalibrationWarning, Finding
from ._iolib import CalIOError
from ._lib import CalError, LibraryNotFoundError, library_path, library_version, status_name
from ._lookup import LookupStats
from .constants import FIT_TYPES, VERSION, CalType, Diag
from .fit import FitReport, fit_report, fit_values, polyfit
from .intensity import IntensityCal, intensity_registry, lookup, table_grid
from .io import from_json, load, save, to_json
from .spatial import SpatialCal, spatial_registry

__all__ = [
    "CalError",
    "CalIOError",
    "CalType",
    "CalibrationWarning",
    "Diag",
    "FIT_TYPES",
    "Finding",
    "FitReport",
    "IntensityCal",
    "LibraryNotFoundError",
    "LookupStats",
    "SpatialCal",
    "fit_report",
    "fit_values",
    "from_json",
    "intensity_registry",
    "library_path",
    "library_version",
    "load",
    "lookup",
    "polyfit",
    "save",
    "spatial_registry",
    "status_name",
    "table_grid",
    "to_json",
]

#: The package's version: the C library's it was built with.
__version__ = VERSION
