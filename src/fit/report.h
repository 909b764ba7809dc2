// Internal side of the fit reports: the report of a least-squares
// polynomial over samples read through a map, shared by PolynomialFitReport
// (samples as given) and ICalFitReport (a calibration's points, possibly
// transformed as the fitted-curve builder transforms them).
#pragma once

#include "calmgr.h"

#include <cmath>
#include <cstdint>

namespace calmgr {

// How a sample (x, y) is read: as it stands, or with y replaced by ln y
// (samples with y <= 0 or NaN left out), by e^-y or by 10^-y.
enum class SampleMap : uint8_t { plain, log_positive, exp_negative, transmittance };

struct FitSamples {
    const RealPoint* points;
    uint64_t count;
    SampleMap map;
};

// Sample i through the map; false when the map leaves it out.
inline bool sample_at(const FitSamples& s, uint64_t i, double& x, double& y) {
    const RealPoint& p = s.points[i];
    x = p.x;
    switch (s.map) {
        case SampleMap::plain: y = p.y; return true;
        case SampleMap::log_positive:
            if (!(p.y > 0.0)) return false;
            y = std::log(p.y);
            return true;
        case SampleMap::exp_negative: y = std::exp(-p.y); return true;
        case SampleMap::transmittance: y = std::pow(10.0, -p.y); return true;
    }
    return false;
}

// The report of the least-squares polynomial of the given degree (1..15)
// through the samples. Returns CAL_OK; FIT_ERR_ARGS for a degree outside
// 1..15, fewer samples than degree + 1 or a sample that is not finite;
// CAL_ERR_INVALID when fewer than degree + 1 distinct x values exist or the
// polynomial is not determined in double-double precision. Writes the
// report only on CAL_OK.
int32_t fit_report(const FitSamples& samples, int16_t degree, CalFitReport* report);

}  // namespace calmgr
