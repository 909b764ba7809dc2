// Conversion between calibrations and their JSON documents, through the
// public calmgr interface only. Failures raise IoError.
#pragma once

#include "calmgr.h"

#include <string>

namespace calmgr::io {

std::string intensity_to_json(const IntensityCal* cal);
IntensityCal* intensity_from_json(const std::string& text);

std::string spatial_to_json(const SpatialCal* cal);
SpatialCal* spatial_from_json(const std::string& text);

}  // namespace calmgr::io
