// ICalDiagnose: what makes a calibration's table untrustworthy, found by
// reading the calibration the way its builder reads it. The checks run in a
// fixed order (the range, each point in index order, the points as a whole,
// the table in entry order), make one or two passes over the points and one
// over the table, and neither change nor allocate anything.
#include "intensity/ical.h"

#include <cmath>
#include <limits>

namespace calmgr {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// A table turn counts when it goes against the points' direction by more
// than this share of the points' calibrated span: rounding in a flat or
// straight stretch of the table stays far below it.
constexpr double kTurnTolerance = 1e-9;

// Writes the first `capacity` findings and counts them all.
class Report {
public:
    Report(CalFinding* out, uint32_t capacity) : out_(out), capacity_(capacity) {}
    void add(uint32_t code, int32_t point, int32_t entry, double value) {
        if (count_ < capacity_) out_[count_] = CalFinding{code, point, entry, value};
        ++count_;  // at most a few findings per point and per entry: far below 2^32
    }
    uint32_t count() const { return count_; }

private:
    CalFinding* out_;
    uint32_t capacity_;
    uint32_t count_ = 0;
};

// How the table came about, as recompute chooses it.
enum class Builder { none, table, density, two_point, piecewise, polynomial, density_fit, exponential, logarithmic };

struct Build {
    Builder builder;
    int16_t degree;  // polynomial degree or interpolation order
};

Build build_of(const IntensityCal* cal) {
    switch (cal->cal_type) {
        case ICAL_TYPE_STANDARD: break;
        case ICAL_TYPE_DENSITY: return {Builder::density, 0};
        case ICAL_TYPE_NONE: return {Builder::none, 0};
        default: return {Builder::table, 0};
    }
    if (cal->num_points == 2) return {Builder::two_point, 1};
    const FitModel m = fit_model(cal->fit_type);
    switch (m.kind) {
        case FitKind::piecewise: return {Builder::piecewise, m.degree};
        case FitKind::polynomial: return {Builder::polynomial, m.degree};
        case FitKind::density: return {Builder::density_fit, m.degree};
        case FitKind::exponential: return {Builder::exponential, m.degree};
        case FitKind::logarithmic: return {Builder::logarithmic, m.degree};
    }
    return {Builder::piecewise, 1};
}

bool finite(const CalPoint& p) { return std::isfinite(p.input) && std::isfinite(p.calibrated); }

// The distinct values among those added, counted up to `cap` (at most 4,
// the coefficients of a cubic): enough to tell whether a fit is determined.
class Distinct {
public:
    explicit Distinct(int cap) : cap_(cap) {}
    void add(double x) {
        if (n_ == cap_) return;
        for (int j = 0; j < n_; ++j) {
            if (v_[j] == x) return;
        }
        v_[n_++] = x;
    }
    int count() const { return n_; }

private:
    double v_[4] = {};
    int cap_;
    int n_ = 0;
};

// What the point pass learns for the later checks. The turns are measured
// along the points in index order: the deepest fall below the highest
// calibrated value before it, and the highest rise above the lowest.
struct PointSummary {
    bool all_finite = true;
    bool sorted = true;  // input values non-decreasing in index order
    bool any = false;    // at least one finite point
    double first = 0.0, last = 0.0;  // calibrated values of the first and last finite point
    double high = 0.0, low = 0.0;    // highest and lowest so far
    double fall = 0.0, rise = 0.0;   // deepest turn against rising, against falling

    void add(double y) {
        if (!any) {
            first = high = low = y;
            any = true;
        }
        last = y;
        high = std::fmax(high, y);
        low = std::fmin(low, y);
        fall = std::fmax(fall, high - y);
        rise = std::fmax(rise, y - low);
    }
};

struct Context {
    const IntensityCal* cal;
    Build build;
    bool range_ok;  // range_max - range_min finite and positive
    double step;    // the grid step, +inf without a grid
};

// Per-point findings, in ascending code order within a point.
PointSummary check_points(const Context& c, Report& r) {
    PointSummary s;
    const CalPoint* pts = c.cal->points;
    const uint32_t n = c.cal->num_points;
    const Builder b = c.build.builder;
    const bool piecewise = b == Builder::piecewise;
    // The order of the points matters to the piecewise walk and to the
    // monotonic repair's trend; the fits and the two-point line take any.
    const bool order_matters =
        piecewise || (b != Builder::two_point && b != Builder::density_fit && (c.cal->options & ICAL_OPT_MONOTONIC));
    uint32_t last_kept = 0;  // the piecewise builder drops consecutive repeats
    int64_t prev = -1;       // last finite point
    for (uint32_t i = 0; i < n; ++i) {
        const CalPoint& p = pts[i];
        const CalPoint& k = pts[last_kept];
        const bool kept = i == 0 || p.input != k.input || p.calibrated != k.calibrated;
        const bool after_kept = kept && i > 0 && finite(k);
        if (kept) last_kept = i;
        if (!finite(p)) {
            s.all_finite = false;
            r.add(ICAL_DIAG_NONFINITE, static_cast<int32_t>(i), -1, std::isfinite(p.input) ? p.calibrated : p.input);
            continue;
        }
        const auto point = static_cast<int32_t>(i);
        if (prev >= 0) {
            const CalPoint& q = pts[prev];
            if (p.input < q.input) {
                s.sorted = false;
                if (order_matters) r.add(ICAL_DIAG_UNSORTED, point, -1, p.input);
            }
        }
        if (piecewise && after_kept && p.input == k.input) r.add(ICAL_DIAG_DUPLICATE_INPUT, point, -1, p.input);
        if (c.range_ok && (p.input < c.cal->range_min || p.input > c.cal->range_max))
            r.add(ICAL_DIAG_OUTSIDE_RANGE, point, -1, p.input);
        if (piecewise && after_kept && c.range_ok) {
            const double gap = std::fabs(p.input - k.input);
            if (gap > 0.0 && gap < c.step) r.add(ICAL_DIAG_DENSE_POINTS, point, -1, p.input);
        }
        if (b == Builder::exponential && !(p.calibrated > 0.0))
            r.add(ICAL_DIAG_POINTS_DROPPED, point, -1, p.calibrated);
        s.add(p.calibrated);
        prev = i;
    }
    return s;
}

// The least-squares line T = c0 + c1 x through the points' transmittances
// 10^-calibrated, centred for accuracy. False when it is not determined.
bool transmittance_line(const IntensityCal* cal, double& c0, double& c1) {
    const CalPoint* pts = cal->points;
    const uint32_t n = cal->num_points;
    double sx = 0.0, st = 0.0;
    for (uint32_t i = 0; i < n; ++i) {
        sx += pts[i].input;
        st += std::pow(10.0, -pts[i].calibrated);
    }
    const double mx = sx / n, mt = st / n;
    double sxx = 0.0, sxt = 0.0;
    for (uint32_t i = 0; i < n; ++i) {
        const double dx = pts[i].input - mx;
        sxx += dx * dx;
        sxt += dx * (std::pow(10.0, -pts[i].calibrated) - mt);
    }
    c1 = sxt / sxx;
    c0 = mt - c1 * mx;
    return std::isfinite(c0) && std::isfinite(c1);
}

// The density fit: the builder derives the levels from the transmittance
// line, falls back to the range's own levels when the line does not rise,
// and limits the stored levels to the range after building.
void check_density_fit(const Context& c, Report& r) {
    const IntensityCal* cal = c.cal;
    double c0 = 0.0, c1 = 0.0;
    if (!transmittance_line(cal, c0, c1)) return;
    const double black = c1 != 0.0 ? -c0 / c1 : kNaN;
    const double incident = black + 1.0 / c1;
    if (c1 == 0.0 || black >= incident) {
        r.add(ICAL_DIAG_DENSITY_RISES, -1, -1, kNaN);
        return;
    }
    if (!c.range_ok) return;
    if (black < cal->range_min || black >= cal->range_max) r.add(ICAL_DIAG_LEVELS_LIMITED, -1, -1, black);
    if (incident >= cal->range_max || incident <= cal->range_min) r.add(ICAL_DIAG_LEVELS_LIMITED, -1, -1, incident);
}

// The density type: levels the builder refuses (the table then stays as
// it was), or fewer than two grid inputs between them (a flat table).
void check_density_levels(const Context& c, Report& r) {
    const IntensityCal* cal = c.cal;
    const double black = cal->black_level, incident = cal->incident_level;
    const double value = !std::isfinite(black) || black >= cal->range_max ? black : incident;
    const double span = incident - black;
    if (!(span > 0.0) || !std::isfinite(span)) {
        r.add(ICAL_DIAG_LEVELS_LIMITED, -1, -1, value);
        return;
    }
    if (!c.range_ok || cal->table_size < 2) return;
    const double n = cal->table_size;
    const double first = black < cal->range_min ? 0.0 : std::fmin(std::ceil((black - cal->range_min) / c.step), n);
    const double last =
        incident > cal->range_max ? n - 1.0 : std::fmax(std::floor((incident - cal->range_min) / c.step), -1.0);
    if (last - first < 1.0) r.add(ICAL_DIAG_LEVELS_LIMITED, -1, -1, value);
}

// Whether the samples of a fit of `degree` determine it: fewer distinct
// input values than coefficients leave it singular; fewer samples than
// degree + 1 (all distinct) reduce the degree. Returns true when singular.
bool check_determined(const CalPoint* pts, uint32_t n, int degree, bool positive_only, Report& r) {
    uint32_t samples = 0;
    for (uint32_t i = 0; i < n; ++i) samples += !positive_only || pts[i].calibrated > 0.0;
    if (samples < 2) {
        r.add(ICAL_DIAG_FIT_SINGULAR, -1, -1, kNaN);
        return true;
    }
    const int wanted = degree + 1;
    const int coeffs = samples < static_cast<uint32_t>(wanted) ? static_cast<int>(samples) : wanted;
    Distinct distinct(coeffs);
    for (uint32_t i = 0; i < n && distinct.count() < coeffs; ++i) {
        if (!positive_only || pts[i].calibrated > 0.0) distinct.add(pts[i].input);
    }
    if (distinct.count() < coeffs) {
        r.add(ICAL_DIAG_FIT_SINGULAR, -1, -1, kNaN);
        return true;
    }
    if (coeffs < wanted) r.add(ICAL_DIAG_DEGREE_REDUCED, -1, -1, coeffs - 1);
    return false;
}

// Findings about the points as a whole. Returns true when the points do
// not determine the curve (the table's content then says nothing). A
// non-finite point spoils any curve through it; the table shows how.
bool check_fit(const Context& c, const PointSummary& s, Report& r) {
    if (!s.all_finite) return false;
    const IntensityCal* cal = c.cal;
    const CalPoint* pts = cal->points;
    const uint32_t n = cal->num_points;
    switch (c.build.builder) {
        case Builder::density: check_density_levels(c, r); return false;
        case Builder::two_point:
        case Builder::piecewise: return check_determined(pts, n, 1, false, r);
        case Builder::polynomial:
        case Builder::logarithmic: return check_determined(pts, n, c.build.degree, false, r);
        case Builder::exponential: return check_determined(pts, n, c.build.degree, true, r);
        case Builder::density_fit:
            if (check_determined(pts, n, 1, false, r)) return true;
            check_density_fit(c, r);
            return false;
        default: return false;
    }
}

// The table in entry order: one finding per run of non-finite entries and,
// where the points go one way from first to last, one per run of entries
// that turn back against that way further than the points ever do.
void check_table(const Context& c, const PointSummary& s, bool singular, Report& r) {
    const IntensityCal* cal = c.cal;
    const Builder b = c.build.builder;
    const bool from_points = b == Builder::two_point || b == Builder::piecewise || b == Builder::polynomial ||
                             b == Builder::exponential || b == Builder::logarithmic;
    const int direction = s.last > s.first ? 1 : (s.last < s.first ? -1 : 0);
    const bool turns = from_points && !singular && c.range_ok && s.any && s.sorted && s.all_finite && direction != 0;
    const double allowed = (direction > 0 ? s.fall : s.rise) + kTurnTolerance * (s.high - s.low);
    bool in_nonfinite = false, in_turn = false, started = false;
    double extreme = 0.0;  // highest (rising) or lowest (falling) entry so far
    for (uint32_t i = 0; i < cal->table_size; ++i) {
        const double v = cal->table[i];
        if (!std::isfinite(v)) {
            if (!singular && !in_nonfinite) r.add(ICAL_DIAG_NONFINITE, -1, static_cast<int32_t>(i), v);
            in_nonfinite = true;
            continue;
        }
        in_nonfinite = false;
        if (!turns) continue;
        if (!started) {
            extreme = v;
            started = true;
        }
        const bool against = direction > 0 ? v < extreme - allowed : v > extreme + allowed;
        if (against && !in_turn) r.add(ICAL_DIAG_NOT_MONOTONIC, -1, static_cast<int32_t>(i), v);
        in_turn = against;
        extreme = direction > 0 ? std::fmax(extreme, v) : std::fmin(extreme, v);
    }
}

bool registered(const IntensityCal* cal) {
    for (const IntensityCal* r = g_ical_head; r != nullptr; r = r->next) {
        if (r == cal) return true;
    }
    return false;
}

int32_t diagnose(const IntensityCal* cal, CalFinding* findings, uint32_t capacity, uint32_t* count) {
    if (cal == nullptr || count == nullptr || (findings == nullptr && capacity != 0) || !registered(cal))
        return CAL_ERR_INVALID;
    Report r(findings, capacity);
    const Build build = build_of(cal);
    if (build.builder != Builder::none) {
        const double span = cal->range_max - cal->range_min;
        const bool range_ok = span > 0.0 && std::isfinite(span);
        if (!range_ok) r.add(ICAL_DIAG_EMPTY_RANGE, -1, -1, span);
        const double step = cal->table_size >= 2 ? span / (cal->table_size - 1) : kInfinity;
        const Context c{cal, build, range_ok, step};
        PointSummary s;
        const bool has_points = cal->points != nullptr && cal->num_points > 0 &&
                                (build.builder != Builder::table && build.builder != Builder::density);
        if (has_points) s = check_points(c, r);
        const bool singular = (has_points || build.builder == Builder::density) && check_fit(c, s, r);
        if (cal->table != nullptr) check_table(c, s, singular, r);
    }
    *count = r.count();
    return CAL_OK;
}

const char* const kTexts[] = {
    "unknown finding",
    // ICAL_DIAG_EMPTY_RANGE
    "the range maximum is not above the range minimum, or a limit is not finite; lookups pass values through "
    "unchanged",
    // ICAL_DIAG_UNSORTED
    "this point's input value is below the previous point's; the table is built for points in ascending order",
    // ICAL_DIAG_DUPLICATE_INPUT
    "another point has this input value but a different calibrated value; the table drops to 0 there",
    // ICAL_DIAG_OUTSIDE_RANGE
    "this point lies outside the range; lookups stop at the range's ends and never reach it",
    // ICAL_DIAG_DENSE_POINTS
    "this point lies less than one table step from the point before it; the table lags behind the points",
    // ICAL_DIAG_NONFINITE
    "a value here is NaN or infinite",
    // ICAL_DIAG_NOT_MONOTONIC
    "the table turns back here, against the way the points go and further than they do",
    // ICAL_DIAG_DENSITY_RISES
    "density fit: the points' density does not fall with input; the table is the density curve of the range, "
    "not of the points",
    // ICAL_DIAG_LEVELS_LIMITED
    "density: this black or incident level lies outside the range or leaves no curve within it; the stored levels "
    "are not the ones the table rests on, or the table is flat",
    // ICAL_DIAG_FIT_SINGULAR
    "the points do not determine the curve (too few distinct input values); the table holds NaN, a constant or "
    "what it held before",
    // ICAL_DIAG_DEGREE_REDUCED
    "fewer distinct input values than the fit's degree needs; a lower degree was fitted",
    // ICAL_DIAG_POINTS_DROPPED
    "exponential fit: this point's calibrated value is not above 0, so the fit leaves it out",
};

const char* diag_text(uint32_t code) {
    return code < sizeof kTexts / sizeof kTexts[0] ? kTexts[code] : kTexts[0];
}

}  // namespace

}  // namespace calmgr

extern "C" CALMGR_API int32_t ICalDiagnose(const IntensityCal* cal, CalFinding* findings, uint32_t capacity,
                                           uint32_t* count) {
    return calmgr::diagnose(cal, findings, capacity, count);
}

extern "C" CALMGR_API const char* CalDiagText(uint32_t code) { return calmgr::diag_text(code); }
