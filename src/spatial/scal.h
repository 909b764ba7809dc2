// The spatial calibration record and its internal routines. A spatial
// calibration maps pixel coordinates to calibrated units by a scale (pixels
// per unit) and an origin (in pixels) per axis; the record's address is the
// handle callers hold.
#pragma once

#include "calmgr.h"
#include "frame/registry.h"

struct SpatialCal {
    SpatialCal* next;             // link in the spatial registry
    char name[calmgr::kNameSize];
    char units[calmgr::kNameSize];
    double x_scale;               // pixels per unit along x; never 0 or NaN
    double y_scale;               // pixels per unit along y; never 0 or NaN
    double x_origin;              // pixel x that maps to 0 units
    double y_origin;              // pixel y that maps to 0 units
    double pixel_area;            // 1 / (y_scale * x_scale), square units
    double aux_value;             // stored and returned, never interpreted
};

namespace calmgr {

// Head of the spatial registry, newest first.
extern SpatialCal* g_scal_head;

// Sets pixel_area from both scales as they now stand.
void update_pixel_area(SpatialCal* cal);

}  // namespace calmgr
