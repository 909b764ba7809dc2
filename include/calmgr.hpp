/*
 * calmgr.hpp - header-only C++17 layer over the C interface of calmgr.
 *
 * Every number comes from the C functions unchanged; this layer checks
 * buffer sizes and ranges, splits runs that exceed the C interface's
 * counts, and turns every status other than CAL_OK into calmgr::Error.
 *
 * Objects and ownership:
 *  - IntensityCalibration, SpatialCalibration own their calibration: move
 *    only, destroyed with the object. A moved-from or released object is
 *    empty and throws calmgr::Error (CAL_ERR_INVALID) on every use, lookups
 *    included. A raw handle becomes owned only through the explicit
 *    adopt_owned(handle).
 *  - IntensityView, SpatialView see a calibration someone else owns (the
 *    registries give these). They read and look up, never destroy, and
 *    give only a const handle, which adopt_owned does not take.
 *  - Buffers travel as calmgr::Span (pointer and length; std::span needs
 *    C++20). Output spans bind only to lvalue containers or views, never to
 *    temporaries whose results would be lost.
 *
 * Names shared with the Python package (same meaning, same spelling):
 *
 *   C++                        C constant                  Python
 *   Fit::Piecewise             ICAL_FIT_PIECEWISE          "piecewise" (alias "default";
 *                                                          C++ keeps Fit::Default too)
 *   Fit::Poly1..Poly3          ICAL_FIT_POLY1..3           "poly1".."poly3"
 *   Fit::Interp1..Interp3      ICAL_FIT_INTERP1..3         "interp1".."interp3"
 *   Fit::Density               ICAL_FIT_DENSITY            "density" (alias "od")
 *   Fit::Exp1..Exp3            ICAL_FIT_EXP1..3            "exp1".."exp3"
 *   Fit::Log1..Log3            ICAL_FIT_LOG1..3            "log1".."log3"
 *   CalType::Standard, Density, Table, None
 *                              ICAL_TYPE_*                 CalType.STANDARD, ...
 *   Options::Monotonic         ICAL_OPT_MONOTONIC          monotonic=True
 *   Options::ClampNegative     ICAL_OPT_CLAMP_NEGATIVE     clamp_negative=True
 *   Policy::Clamp (no bits)    ICAL_POLICY_CLAMP           outside="clamp", nan="first-entry"
 *   Policy::OutsideNan         ICAL_POLICY_OUTSIDE_NAN     outside="nan"
 *   Policy::NanPropagate       ICAL_POLICY_NAN_PROPAGATE   nan="propagate"
 *   Layout::Rgb                ICAL_SAMPLE_U8_RGB/U16_RGB  three values per pixel
 *   Diag::EmptyRange, ...      ICAL_DIAG_EMPTY_RANGE, ...  "empty_range", ... (the suffix
 *                                                          in lower case; diag_name())
 *   Finding{code, point, entry, value, text}
 *                              CalFinding, CalDiagText     the same fields
 *   LookupStats{below, above, nan}
 *                              CalLookupStats              LookupStats(below, above, nan)
 *   lookup(in, policy)         ICalLookupPolicy            lookup(..., outside=, nan=, stats=True)
 *   inverse(values)            ICalInverse                 inverse(values) (NaN where unresolved)
 *   fit_report(x, y, degree), polynomial_fit_report(samples, degree), view.fit_report()
 *                              PolynomialFitReport,        fit_report(x, y, degree),
 *                              ICalFitReport               cal.fit_report()
 *   Range{min, max}            range_min, range_max        range=(min, max)
 *   grid_inputs, GridRule      (the builders' grid)        the same two rules
 *
 * fit_name(), fit_from_name() and fit_names[] give the fit names in code.
 *
 * Like the library itself, the layer takes no locks: serialise calls that
 * change a calibration.
 */
#ifndef CALMGR_HPP
#define CALMGR_HPP

#include "calmgr/core.hpp"
#include "calmgr/types.hpp"
#include "calmgr/findings.hpp"
#include "calmgr/lookup.hpp"
#include "calmgr/inverse.hpp"
#include "calmgr/fit_report.hpp"
#include "calmgr/intensity_view.hpp"
#include "calmgr/intensity.hpp"
#include "calmgr/spatial.hpp"
#include "calmgr/registry.hpp"
#include "calmgr/fit.hpp"

#endif /* CALMGR_HPP */
