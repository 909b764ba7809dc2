"""calmgr: intensity and spatial calibrations for images, over numpy.

A thin layer over the C library libcalmgr.so (loaded through ctypes on first
use; see :func:`library_path` for where it is looked for). Every number comes
from the library unchanged.

>>> import numpy, calmgr
>>> cal = calmgr.IntensityCal.from_points([(0, 2.5), (1000, 1.9), (4000, 0.1)],
...                                       fit="poly2", range=(0, 4095), table_size=4096)
>>> od = cal.lookup(numpy.array([[0, 2000], [3000, 4095]], numpy.uint16))
"""

from ._lib import CalError, LibraryNotFoundError, library_path, status_name
from .constants import FIT_TYPES, CalType
from .fit import polyfit
from .intensity import IntensityCal, intensity_registry, lookup
from .io import CalIOError, from_json, load, save, to_json
from .spatial import SpatialCal, spatial_registry

__all__ = [
    "CalError",
    "CalIOError",
    "CalType",
    "FIT_TYPES",
    "IntensityCal",
    "LibraryNotFoundError",
    "SpatialCal",
    "intensity_registry",
    "from_json",
    "library_path",
    "load",
    "lookup",
    "polyfit",
    "save",
    "spatial_registry",
    "status_name",
    "to_json",
]

__version__ = "1.0.0"
