// ICalFitReport: the report of the least-squares fit behind a standard
// curve's table, computed on the same samples the fitted-curve builder
// fits: the points themselves (fit types 1-3), input against ln of the
// positive calibrated values (11-13), against e^-calibrated (21-23), or
// against the transmittance 10^-calibrated with a straight line (10).
#include "fit/report.h"
#include "intensity/ical.h"

namespace calmgr {
namespace {

// The samples and degree behind the table of a calibration, or false when
// no least-squares fit lies behind it.
bool fit_behind(const IntensityCal* cal, FitSamples& samples, int16_t& degree) {
    if (cal->cal_type != ICAL_TYPE_STANDARD || cal->points == nullptr || cal->num_points == 2) return false;
    samples.points = reinterpret_cast<const RealPoint*>(cal->points);
    samples.count = cal->num_points;
    const uint16_t type = static_cast<uint16_t>(cal->fit_type);
    if (type >= 1 && type <= 3) {
        samples.map = SampleMap::plain;
        degree = static_cast<int16_t>(type);
    } else if (type == 10) {
        samples.map = SampleMap::transmittance;
        degree = 1;
    } else if (type >= 11 && type <= 13) {
        samples.map = SampleMap::log_positive;
        degree = static_cast<int16_t>(type - 10);
    } else if (type >= 21 && type <= 23) {
        samples.map = SampleMap::exp_negative;
        degree = static_cast<int16_t>(type - 20);
    } else {
        return false;
    }
    return true;
}

}  // namespace
}  // namespace calmgr

extern "C" CALMGR_API int32_t ICalFitReport(const IntensityCal* cal, CalFitReport* report) {
    if (cal == nullptr || report == nullptr) return CAL_ERR_INVALID;
    calmgr::FitSamples samples{};
    int16_t degree = 0;
    if (!calmgr::fit_behind(cal, samples, degree)) return CAL_ERR_INVALID;
    const int32_t status = calmgr::fit_report(samples, degree, report);
    return status == CAL_OK ? CAL_OK : CAL_ERR_INVALID;
}
