/*
 * calmgr/findings.hpp - what makes a calibration's numbers untrustworthy:
 * the finding codes, their names and texts, and a finding as one line.
 * IntensityView::diagnose() gives them.
 * Part of the header-only C++ layer; include <calmgr.hpp>.
 */
#ifndef CALMGR_FINDINGS_HPP
#define CALMGR_FINDINGS_HPP

#include "calmgr/types.hpp"

#include <cstdio>

namespace calmgr {

/* The finding codes; the rule behind each is written in calmgr.h. */
enum class Diag : uint32_t {
    EmptyRange = ICAL_DIAG_EMPTY_RANGE,
    Unsorted = ICAL_DIAG_UNSORTED,
    DuplicateInput = ICAL_DIAG_DUPLICATE_INPUT,
    OutsideRange = ICAL_DIAG_OUTSIDE_RANGE,
    DensePoints = ICAL_DIAG_DENSE_POINTS,
    Nonfinite = ICAL_DIAG_NONFINITE,
    NotMonotonic = ICAL_DIAG_NOT_MONOTONIC,
    DensityRises = ICAL_DIAG_DENSITY_RISES,
    LevelsLimited = ICAL_DIAG_LEVELS_LIMITED,
    FitSingular = ICAL_DIAG_FIT_SINGULAR,
    DegreeReduced = ICAL_DIAG_DEGREE_REDUCED,
    PointsDropped = ICAL_DIAG_POINTS_DROPPED
};

/* The name shared with Python: the C constant's suffix in lower case
 * ("duplicate_input" for ICAL_DIAG_DUPLICATE_INPUT); "" for unknown codes. */
constexpr std::string_view diag_name(Diag code) noexcept {
    switch (code) {
        case Diag::EmptyRange: return "empty_range";
        case Diag::Unsorted: return "unsorted";
        case Diag::DuplicateInput: return "duplicate_input";
        case Diag::OutsideRange: return "outside_range";
        case Diag::DensePoints: return "dense_points";
        case Diag::Nonfinite: return "nonfinite";
        case Diag::NotMonotonic: return "not_monotonic";
        case Diag::DensityRises: return "density_rises";
        case Diag::LevelsLimited: return "levels_limited";
        case Diag::FitSingular: return "fit_singular";
        case Diag::DegreeReduced: return "degree_reduced";
        case Diag::PointsDropped: return "points_dropped";
    }
    return {};
}

/* One finding, as ICalDiagnose reports it. */
struct Finding {
    Diag code;
    int32_t point;     // index of the point concerned (the later of a pair), or -1
    int32_t entry;     // index of the table entry concerned, or -1
    double value;      // the input or calibrated value concerned, or NaN
    const char* text;  // CalDiagText(code): one line of English, static storage

    /* The finding as one line for people: "point 3 (64): <text>",
     * "entry 12 (0.5): <text>", or "<text> (value)" for the calibration
     * as a whole. */
    [[nodiscard]] std::string describe() const {
        char number[32] = "";
        if (!std::isnan(value)) std::snprintf(number, sizeof number, "%g", value);
        const std::string at = number[0] != '\0' ? std::string(" (") + number + ")" : std::string();
        if (point >= 0) return "point " + std::to_string(point) + at + ": " + text;
        if (entry >= 0) return "entry " + std::to_string(entry) + at + ": " + text;
        return text + at;
    }
};

namespace detail {
inline Finding finding_of(const CalFinding& f) {
    return Finding{static_cast<Diag>(f.code), f.point, f.entry, f.value, CalDiagText(f.code)};
}
}  // namespace detail

}  // namespace calmgr

#endif /* CALMGR_FINDINGS_HPP */
