// The metadata a converted page keeps from its source page: size-related
// resolution and unit, orientation, subfile type and page number, the
// georeferencing (GeoTIFF) tags and the descriptive text tags. libtiff does
// not know the GeoTIFF tags itself: they are registered here so that they
// are read with their types and written back unchanged.
#pragma once

#include <tiffio.h>

#include <string>

namespace tool {

// Registers the GeoTIFF tags with libtiff for every handle opened from now
// on (once per process; idempotent).
void register_geotiff_tags();

// Copies the kept tags of the current directory of `in` to that of `out`.
// Software becomes `software`; ImageDescription is the input's, or
// `description` where the input had none.
void copy_page_metadata(TIFF* in, TIFF* out, const std::string& software, const std::string& description);

}  // namespace tool
