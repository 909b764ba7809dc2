/*
 * calmgr/registry.hpp - the live calibrations of both kinds, as non-owning
 * views.
 * Part of the header-only C++ layer; include <calmgr.hpp>.
 */
#ifndef CALMGR_REGISTRY_HPP
#define CALMGR_REGISTRY_HPP

#include "calmgr/intensity_view.hpp"
#include "calmgr/spatial.hpp"

namespace calmgr {

/* Every live intensity calibration, newest first. The views own nothing:
 * they cannot be adopted, and they must not outlive their calibrations. */
[[nodiscard]] inline std::vector<IntensityView> intensity_registry() {
    std::vector<IntensityView> all;
    IntensityCal* cal = nullptr;
    for (;;) {
        detail::check(ICalControl(cal, ICAL_GET_NEXT, 0, 0, &cal), "ICalControl(ICAL_GET_NEXT)");
        if (cal == nullptr) return all;
        all.emplace_back(cal);
    }
}

/* Every live spatial calibration, newest first (non-owning views). */
[[nodiscard]] inline std::vector<SpatialView> spatial_registry() {
    std::vector<SpatialView> all;
    SpatialCal* cal = nullptr;
    for (;;) {
        detail::check(SCalControl(cal, SCAL_GET_NEXT, 0, 0, &cal), "SCalControl(SCAL_GET_NEXT)");
        if (cal == nullptr) return all;
        all.emplace_back(cal);
    }
}

}  // namespace calmgr

#endif /* CALMGR_REGISTRY_HPP */
