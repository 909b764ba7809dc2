// Fuzzes the extension functions over fuzzed calibrations of every type
// (fitted, density, supplied tables with flat runs, turns, NaN and infinite
// entries, none), with the image library's allocator refusing requests on
// command. Each section states the invariants it checks.
#include "calmgr.h"
#include "fuzz_cal.h"
#include "fuzz_input.h"
#include "support/failing_allocator.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <set>
#include <vector>

// Heap allocations are counted through the sanitizers' hooks where the
// build has them (the fuzz and sanitizer builds); plain builds skip that.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*)) __attribute__((weak));

namespace {

using calmgr_test::FailingAllocator;

uint64_t g_heap_allocations = 0;
// Only the fuzzing thread's allocations count: libFuzzer's own threads
// allocate whenever they like.
thread_local bool t_counting = false;

void count_malloc(const volatile void*, size_t) {
    if (t_counting) ++g_heap_allocations;
}
void ignore_free(const volatile void*) {}

bool heap_counted() {
    t_counting = true;
    static const bool installed = __sanitizer_install_malloc_and_free_hooks != nullptr &&
                                  __sanitizer_install_malloc_and_free_hooks(count_malloc, ignore_free) != 0;
    return installed;
}

bool same_bits(const void* a, const void* b, size_t n) { return std::memcmp(a, b, n) == 0; }

template <class T>
bool untouched(const T& v) {
    const auto* b = reinterpret_cast<const unsigned char*>(&v);
    return std::all_of(b, b + sizeof v, [](unsigned char c) { return c == 0xA5; });
}

template <class T>
void poison(T& v) {
    std::memset(static_cast<void*>(&v), 0xA5, sizeof v);
}

// The table as it stands, and what the checks need to know about it.
struct TableView {
    uint32_t type = ICAL_TYPE_NONE;
    double lo = 0, hi = 0;  // range
    std::vector<double> table;
    uint16_t num_points = 0;
    std::vector<CalPoint> points;
    int16_t fit_type = 0;

    // A range lookups interpolate over: a finite positive span.
    bool usable() const { return type != ICAL_TYPE_NONE && table.size() >= 2 && hi - lo > 0 && std::isfinite(hi - lo); }
};

TableView view(IntensityCal* cal) {
    TableView v;
    v.type = fuzz::read_control<uint32_t>(cal, ICAL_GET_TYPE);
    v.lo = fuzz::read_control<double>(cal, ICAL_GET_RANGE_MIN);
    v.hi = fuzz::read_control<double>(cal, ICAL_GET_RANGE_MAX);
    v.num_points = fuzz::read_control<uint16_t>(cal, ICAL_GET_NUM_POINTS);
    v.points.resize(v.num_points);
    if (!v.points.empty()) CHECK(ICalControl(cal, ICAL_GET_POINTS, 0, 0, v.points.data()) == CAL_OK);
    v.fit_type = fuzz::read_control<int16_t>(cal, ICAL_GET_FIT_TYPE);
    v.table.resize(fuzz::read_control<uint16_t>(cal, ICAL_GET_TABLE_SIZE));
    if (!v.table.empty()) CHECK(ICalControl(cal, ICAL_GET_TABLE, 0, 0, v.table.data()) == CAL_OK);
    return v;
}

// ---- building calibrations -------------------------------------------------------

// A supplied table: a ramp, a walk with flat runs and turns, or arbitrary
// doubles.
std::vector<double> fuzz_table(fuzz::Input& in) {
    static const uint16_t kSizes[] = {2, 3, 4, 16, 255, 256, 257, 1000, 4096};
    const uint16_t n = in.flag() ? kSizes[in.below(9)] : static_cast<uint16_t>(2 + in.below(64));
    std::vector<double> t(n);
    const uint8_t shape = in.below(3);
    double v = in.real(), step = static_cast<double>(static_cast<int8_t>(in.u8())) / 4.0;
    for (uint16_t i = 0; i < n; ++i) {
        if (shape == 0) {
            t[i] = v + step * i;
        } else if (shape == 1) {
            t[i] = v;
            const uint8_t turn = in.below(16);
            if (turn == 0) step = -step;
            if (turn == 1) step = 0.0;
            if (turn == 2) step = static_cast<double>(static_cast<int8_t>(in.u8())) / 4.0;
            v += step;
        } else {
            t[i] = in.real();
        }
    }
    return t;
}

IntensityCal* make_calibration(fuzz::Input& in) {
    IntensityCal* cal = ICalCreate();
    CHECK(cal != nullptr);
    const uint8_t what = in.u8();
    double d = 0;
    if (what & 1) {
        d = in.real();
        ICalControl(cal, ICAL_SET_RANGE_MIN, 0, 1, &d);
    }
    if (what & 2) {
        d = in.real();
        ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 1, &d);
    }
    if (what & 4) {
        static const uint16_t kSizes[] = {2, 3, 16, 255, 256, 257, 1000, 4095, 4096};
        const int32_t n = in.flag() ? kSizes[in.below(9)] : 2 + in.below(600);
        ICalControl(cal, ICAL_SET_TABLE_SIZE, n, 1, nullptr);
    }
    if (what & 8) {
        const auto n = static_cast<uint16_t>(2 + in.below(40));
        std::vector<CalPoint> points = fuzz::fuzz_points(in, n);
        ICalControl(cal, ICAL_SET_POINTS, n, 1, points.data());
    }
    if (what & 16) {
        d = in.real();
        ICalControl(cal, ICAL_SET_BLACK_LEVEL, 0, 1, &d);
        d = in.real();
        ICalControl(cal, ICAL_SET_INCIDENT_LEVEL, 0, 1, &d);
    }
    ICalControl(cal, ICAL_SET_OPTIONS, in.below(4), 1, nullptr);
    static const int16_t kFits[] = {0, 1, 2, 3, 4, 5, 6, 10, 11, 12, 13, 21, 22, 23};
    ICalControl(cal, ICAL_SET_FIT_TYPE, kFits[in.below(14)], 1, nullptr);
    const uint8_t type = in.below(8);  // mostly standard curves
    if (type == 1 || type == 2) {
        ICalControl(cal, ICAL_SET_TYPE, type, 0, nullptr);
    } else if (type == 3) {
        ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_TABLE, 0, nullptr);
        std::vector<double> table = fuzz_table(in);
        CHECK(ICalControl(cal, ICAL_SET_TABLE, static_cast<int32_t>(table.size()), 0, table.data()) == CAL_OK);
    } else if (type == 4) {
        ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_NONE, 0, nullptr);
    } else {
        ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_STANDARD, 0, nullptr);  // the rebuild, whatever it says
    }
    return cal;
}

// Arms the allocator to refuse one request (or every one from some request
// on) of the next call, or not at all.
void arm(FailingAllocator& alloc, fuzz::Input& in) {
    const uint8_t r = in.u8();
    if (r < 192) {
        alloc.stop_failing();
    } else {
        alloc.fail((r & 1) != 0 ? FailingAllocator::Mode::FromK : FailingAllocator::Mode::Once, 1 + (r >> 1) % 8);
    }
}

// ---- diagnosis -------------------------------------------------------------------

// ICalDiagnose allocates nothing (neither from the image library nor from
// the heap), changes nothing, refuses exactly what it documents, writes at
// most `capacity` findings of known codes about existing points and entries
// in the documented order, and reports the same findings whatever the
// capacity.

void diagnose(IntensityCal* cal, FailingAllocator& alloc, fuzz::Input& in) {
    alignas(16) static unsigned char fake[4096];  // never registered
    const uint8_t who = in.below(16);
    const IntensityCal* target = who == 0 ? nullptr : who == 1 ? reinterpret_cast<const IntensityCal*>(fake) : cal;
    const uint32_t capacity = in.below(24);
    const bool null_findings = in.below(8) == 0, null_count = in.below(16) == 0;
    std::vector<CalFinding> findings(capacity + 1);
    for (CalFinding& f : findings) poison(f);
    uint32_t count;
    poison(count);

    const std::vector<unsigned char> before = fuzz::intensity_bytes(cal);
    const bool counted = heap_counted();
    const uint64_t heap_before = g_heap_allocations, requests_before = alloc.requests();
    const int32_t status = ICalDiagnose(target, null_findings ? nullptr : findings.data(), capacity,
                                        null_count ? nullptr : &count);
    CHECK(alloc.requests() == requests_before);
    if (counted) CHECK(g_heap_allocations == heap_before);
    CHECK(fuzz::intensity_bytes(cal) == before);

    const bool refused = target != cal || null_count || (null_findings && capacity != 0);
    if (refused) {
        CHECK(status == CAL_ERR_INVALID);
        CHECK(untouched(count));
        for (const CalFinding& f : findings) CHECK(untouched(f));
        return;
    }
    CHECK(status == CAL_OK);
    const uint32_t written = std::min(count, capacity);
    for (size_t k = written; k < findings.size(); ++k) CHECK(untouched(findings[k]));
    if (null_findings) return;

    // Known codes about existing points and entries, in the documented
    // order: the range; each point's findings (ascending codes); the points
    // as a whole; the table in entry order.
    const TableView v = view(cal);
    auto phase = [](const CalFinding& f) {
        if (f.code == ICAL_DIAG_EMPTY_RANGE) return 0;
        if (f.point >= 0) return 1;
        if (f.entry >= 0) return 3;
        return 2;
    };
    for (uint32_t k = 0; k < written; ++k) {
        const CalFinding& f = findings[k];
        CHECK(f.code >= ICAL_DIAG_EMPTY_RANGE && f.code <= ICAL_DIAG_POINTS_DROPPED);
        const char* text = CalDiagText(f.code);
        CHECK(text != nullptr && std::strcmp(text, "unknown finding") != 0 && std::strchr(text, '\n') == nullptr);
        CHECK(f.point >= -1 && f.point < static_cast<int32_t>(v.num_points));
        CHECK(f.entry >= -1 && f.entry < static_cast<int32_t>(v.table.size()));
        CHECK(f.point < 0 || f.entry < 0);
        if (k == 0) continue;
        const CalFinding& e = findings[k - 1];
        CHECK(phase(e) <= phase(f));
        if (phase(e) == 1 && phase(f) == 1) CHECK(e.point < f.point || (e.point == f.point && e.code <= f.code));
        if (phase(e) == 3 && phase(f) == 3) CHECK(e.entry <= f.entry);
    }
    // A range without a finite positive span is reported first, for every
    // type but none, and only then.
    const double span = v.hi - v.lo;
    const bool empty_range = v.type != ICAL_TYPE_NONE && !(span > 0.0 && std::isfinite(span));
    if (written > 0) CHECK((findings[0].code == ICAL_DIAG_EMPTY_RANGE) == empty_range);
    if (empty_range) CHECK(count > 0);

    // The same findings whatever the capacity.
    std::vector<CalFinding> all(count + 1);
    uint32_t again = 0;
    CHECK(ICalDiagnose(cal, all.data(), count + 1, &again) == CAL_OK);
    CHECK(again == count);
    for (uint32_t k = 0; k < written; ++k) {
        const CalFinding &a = all[k], &f = findings[k];
        CHECK(a.code == f.code && a.point == f.point && a.entry == f.entry && same_bits(&a.value, &f.value, 8));
    }
}

// ---- inverse lookup --------------------------------------------------------------

// ICalInverse allocates nothing, changes nothing, refuses exactly what it
// documents, resolves values only on a usable range and inside the values
// the table takes, resolves every such value of a strictly monotonic table,
// settles each input where its lookup comes closest, and counts what it
// leaves unresolved.

double lookup_f64(IntensityCal* cal, double x) {
    double y = NAN;
    CHECK(ICalLookupEx(cal, ICAL_SAMPLE_F64, &x, 1, &y) == CAL_OK);
    return y;
}

double ulp(double x) {
    x = std::fabs(x);
    return std::nextafter(x, INFINITY) - x;
}

// A resolved input lies inside the range and looks up to a number within
// 4 ulps of the largest entry's magnitude of the value. Only a steep
// segment (where the smallest move of the lookup exceeds one ulp of that
// magnitude) excuses a larger miss, and then no neighbouring double comes
// closer.
void check_resolved(IntensityCal* cal, const TableView& v, double x, double want, double magnitude) {
    CHECK(x >= v.lo && x <= v.hi);
    const double got = lookup_f64(cal, x);
    if (std::isnan(got)) std::fprintf(stderr, "inverse of %.17g is %.17g, which looks up NaN\n", want, x);
    CHECK(!std::isnan(got));
    const double miss = std::fabs(got - want);
    if (miss <= 4 * ulp(magnitude)) return;
    // The lookup moves in steps: of x - range_min, and of the grid position
    // computed from it, times the height of the segments around x.
    const size_t last = v.table.size() - 1;
    const double per_input = static_cast<double>(last) / (v.hi - v.lo);
    const double pos = (x - v.lo) * per_input;
    const size_t i = std::min(static_cast<size_t>(std::max(pos, 0.0)), last - 1);
    double height = std::fabs(v.table[i + 1] - v.table[i]);
    if (i > 0) height = std::fmax(height, std::fabs(v.table[i] - v.table[i - 1]));
    if (i + 2 <= last) height = std::fmax(height, std::fabs(v.table[i + 2] - v.table[i + 1]));
    const double resolution = std::fmax(per_input * std::fmax(ulp(x), ulp(x - v.lo)), ulp(pos));
    const bool steep = !(height * resolution <= ulp(magnitude));
    bool closer = false;
    for (double y : {std::nextafter(x, -INFINITY), std::nextafter(x, INFINITY)})
        closer = closer || (y >= v.lo && y <= v.hi && std::fabs(lookup_f64(cal, y) - want) < miss);
    if (!steep || closer)
        std::fprintf(stderr, "inverse of %.17g is %.17g, which looks up %.17g away%s (range %.17g .. %.17g, %zu entries)\n",
                     want, x, miss, closer ? ", farther than a neighbour's" : "", v.lo, v.hi, v.table.size());
    CHECK(steep && !closer);
}

void inverse(IntensityCal* cal, FailingAllocator& alloc, fuzz::Input& in) {
    const TableView v = view(cal);
    const uint32_t count = in.below(65);
    std::vector<double> values(count);
    for (double& x : values) {
        const uint8_t kind = in.below(4);
        if (kind == 0 || v.table.size() < 2) {
            x = in.real();
        } else if (kind == 1) {
            x = v.table[in.below(static_cast<uint32_t>(v.table.size()))];
        } else {  // between two neighbouring entries
            const uint32_t i = in.below(static_cast<uint32_t>(v.table.size() - 1));
            const double t = static_cast<double>(in.u8()) / 255.0;
            x = v.table[i] + t * (v.table[i + 1] - v.table[i]);
        }
    }
    const uint8_t nulls = in.below(32);
    const IntensityCal* target = nulls == 0 ? nullptr : cal;
    const bool null_values = nulls == 1, null_inputs = nulls == 2, null_unresolved = in.flag();
    const bool in_place = in.below(4) == 0;
    std::vector<double> inputs(count + 1);
    for (double& x : inputs) poison(x);
    if (in_place) std::copy(values.begin(), values.end(), inputs.begin());
    uint64_t unresolved;
    poison(unresolved);

    const std::vector<unsigned char> before = fuzz::intensity_bytes(cal);
    const bool counted = heap_counted();
    const uint64_t heap_before = g_heap_allocations, requests_before = alloc.requests();
    const int32_t status = ICalInverse(target, null_values ? nullptr : in_place ? inputs.data() : values.data(), count,
                                       null_inputs ? nullptr : inputs.data(), null_unresolved ? nullptr : &unresolved);
    CHECK(alloc.requests() == requests_before);
    if (counted) CHECK(g_heap_allocations == heap_before);
    CHECK(fuzz::intensity_bytes(cal) == before);
    if (count != 0 && (target == nullptr || null_values || null_inputs)) {
        CHECK(status == CAL_ERR_INVALID);
        for (uint32_t k = 0; k < count; ++k) CHECK(in_place ? same_bits(&inputs[k], &values[k], 8) : untouched(inputs[k]));
        CHECK(untouched(unresolved));
        return;
    }
    if (target == nullptr) return;
    CHECK(status == CAL_OK);
    CHECK(untouched(inputs[count]));

    // The numeric extremes of the table, its largest finite magnitude, and
    // whether it runs strictly one way through finite entries (then every
    // value between its ends is reached exactly once).
    double lo = INFINITY, hi = -INFINITY, magnitude = 0;
    bool rising = v.table.size() >= 2, falling = rising;
    for (size_t i = 0; i < v.table.size(); ++i) {
        const double e = v.table[i];
        if (!std::isfinite(e)) rising = falling = false;
        if (std::isnan(e)) continue;
        lo = std::min(lo, e);
        hi = std::max(hi, e);
        if (std::isfinite(e)) magnitude = std::max(magnitude, std::fabs(e));
        if (i > 0 && !(e > v.table[i - 1])) rising = false;
        if (i > 0 && !(e < v.table[i - 1])) falling = false;
    }
    // The lookup follows the table continuously only where an input's grid
    // position is finite: a span too small for the table gives no position
    // between the ends.
    const bool continuous = v.usable() && std::isfinite(static_cast<double>(v.table.size() - 1) / (v.hi - v.lo));
    uint64_t nan = 0;
    for (uint32_t k = 0; k < count; ++k) {
        const double x = inputs[k], want = values[k];
        if (std::isnan(x)) {
            ++nan;
            if (continuous && (rising || falling) && want >= lo && want <= hi)
                std::fprintf(stderr, "%.17g is unresolved on a monotonic table of %zu entries from %.17g to %.17g over %.17g .. %.17g\n",
                             want, v.table.size(), v.table.front(), v.table.back(), v.lo, v.hi);
            CHECK(!(continuous && (rising || falling) && want >= lo && want <= hi));
            continue;
        }
        CHECK(v.usable());
        CHECK(want >= lo && want <= hi);
        check_resolved(cal, v, x, want, magnitude);
    }
    if (!null_unresolved) CHECK(unresolved == nan);
}

// ---- fit reports -----------------------------------------------------------------

// PolynomialFitReport and ICalFitReport refuse exactly what they document
// (CAL_ERR_NOMEM exactly when the allocator refused), write nothing when
// they refuse, and give reports of the asked degree whose covariance is
// symmetric and whose standard errors are the roots of its diagonal.

bool same_or_both_nan(double a, double b) { return (std::isnan(a) && std::isnan(b)) || same_bits(&a, &b, sizeof a); }

// What every report holds, whoever made it.
void check_report(const CalFitReport& r, int16_t degree, int32_t n) {
    CHECK(r.degree == degree);
    CHECK(r.reserved == 0);
    CHECK(r.num_samples == n);
    const bool exact = n == degree + 1;  // no degree of freedom left
    for (int i = 0; i < CAL_FIT_MAX_COEFFS; ++i) {
        if (i > degree) CHECK(r.coeffs[i] == 0.0 && r.std_errors[i] == 0.0);
        for (int j = 0; j < CAL_FIT_MAX_COEFFS; ++j) {
            if (i > degree || j > degree || exact) CHECK(r.covariance[i][j] == 0.0);
        }
        if (i > degree) continue;
        for (int j = 0; j < i; ++j) CHECK(same_or_both_nan(r.covariance[i][j], r.covariance[j][i]));
        const double root = std::sqrt(r.covariance[i][i]), se = r.std_errors[i];
        // Where the variance overflows or underflows, its root need not.
        const double var = r.covariance[i][i];
        const bool consistent = root == INFINITY          ? se >= 0x1p511
                                : !std::isfinite(root)  ? same_or_both_nan(se, root)
                                : var < DBL_MIN         ? se >= 0.0 && se < 0x1p-510
                                                        : std::fabs(se - root) <= 4 * (std::nextafter(root, INFINITY) - root);
        if (!consistent) std::fprintf(stderr, "c%d: covariance %.17g, standard error %.17g\n", i, r.covariance[i][i], se);
        CHECK(consistent);
    }
    CHECK(!(r.ssr < 0.0) && !(r.residual_sd < 0.0));
    CHECK(!(r.r_squared > 1.0));
    CHECK(r.condition >= 1.0 && r.condition <= 1e15);
    if (exact) CHECK(r.residual_sd == 0.0);
}

void polynomial_fit_report(FailingAllocator& alloc, fuzz::Input& in) {
    int32_t n = static_cast<int32_t>(in.below(80));
    int16_t degree = static_cast<int16_t>(in.below(18));
    if (in.below(32) == 0) degree = static_cast<int16_t>(in.u16());
    if (in.below(32) == 0) n = -static_cast<int32_t>(in.u8());
    std::vector<RealPoint> samples(n > 0 ? n : 0);
    const uint8_t shape = in.below(5);
    double c[4] = {in.real(), in.real(), in.real(), in.real()};
    if (shape == 4) {  // small integers: the cubic's values are exact doubles
        for (double& ck : c) ck = static_cast<double>(static_cast<int8_t>(in.u8()));
    }
    for (size_t i = 0; i < samples.size(); ++i) {
        if (shape == 0) {  // arbitrary doubles
            samples[i] = {in.real(), in.real()};
        } else if (shape == 1 || shape == 4) {  // a cubic on small integers, sometimes repeated x
            const double x = static_cast<double>(static_cast<int8_t>(in.u8()));
            samples[i] = {x, ((c[3] * x + c[2]) * x + c[1]) * x + c[0]};
        } else if (shape == 2) {  // huge or tiny magnitudes
            const double s = in.flag() ? 1e300 : 1e-300;
            samples[i] = {s * (static_cast<double>(in.u8()) - 128), s * static_cast<double>(static_cast<int8_t>(in.u8()))};
        } else {  // a line through close abscissae
            samples[i] = {1e6 + static_cast<double>(in.u8()) * 1e-9, static_cast<double>(i)};
        }
    }
    const bool null_samples = in.below(32) == 0, null_report = in.below(32) == 0;
    arm(alloc, in);
    const uint64_t refused_before = alloc.refused();
    CalFitReport report;
    poison(report);
    const bool counted = heap_counted();
    const uint64_t heap_before = g_heap_allocations;
    const int32_t status = PolynomialFitReport(null_samples ? nullptr : samples.data(), n, degree,
                                               null_report ? nullptr : &report);
    const bool refused = alloc.refused() != refused_before;
    alloc.stop_failing();
    if (counted) CHECK(g_heap_allocations == heap_before);  // nothing beyond the stack

    bool finite = true;
    std::set<double> xs;
    for (const RealPoint& p : samples) {
        finite = finite && std::isfinite(p.x) && std::isfinite(p.y);
        if (std::isfinite(p.x)) xs.insert(p.x == 0.0 ? 0.0 : p.x);  // -0.0 and 0.0 are one abscissa
    }
    const bool bad_args = null_samples || null_report || degree < 1 || degree > 15 || n < degree + 1 || !finite;
    CHECK((status == FIT_ERR_ARGS) == bad_args);
    CHECK((status == CAL_ERR_NOMEM) == refused);
    if (!bad_args && !refused && xs.size() < static_cast<size_t>(degree) + 1) CHECK(status == CAL_ERR_INVALID);
    if (status != CAL_OK) {
        CHECK(status == FIT_ERR_ARGS || status == CAL_ERR_NOMEM || status == CAL_ERR_INVALID);
        CHECK(untouched(report));
        return;
    }
    check_report(report, degree, n);
    bool flat = true;
    for (const RealPoint& p : samples) flat = flat && p.y == samples[0].y;
    if (flat) CHECK(report.r_squared == 1.0);

    // Samples exactly on a cubic: a fit of degree 3 or more gives the
    // cubic back and leaves no residual to speak of. Where few distinct
    // abscissae barely determine a high degree, the coefficients are only
    // as good as the design's condition allows (condition x unit roundoff,
    // the bound of any backward-stable solver), never worse.
    if (shape != 4 || degree < 3) return;
    double xmax = 0, ymax = 0;
    for (const RealPoint& p : samples) {
        xmax = std::fmax(xmax, std::fabs(p.x));
        ymax = std::fmax(ymax, std::fabs(p.y));
    }
    const double digits = 1e-9 + report.condition * 0x1p-53;
    double power = 1;
    for (int k = 0; k <= degree; ++k, power *= xmax) {
        const double want = k < 4 ? c[k] : 0.0;
        const double allowed = digits * ymax / power + 1e-12 * std::fabs(want);
        if (!(std::fabs(report.coeffs[k] - want) <= allowed))
            std::fprintf(stderr, "degree %d through %d samples on a cubic (condition %g): c%d = %.17g, not %.17g\n",
                         degree, n, report.condition, k, report.coeffs[k], want);
        CHECK(std::fabs(report.coeffs[k] - want) <= allowed);
    }
    CHECK(report.ssr <= 1e-20 * n * ymax * ymax);
}

// The report behind a calibration's table is PolynomialFitReport's on the
// samples its builder fits (the points, or input against ln of the positive
// calibrated values, e^-calibrated or 10^-calibrated), bit for bit; when
// that one refuses, or no fit lies behind the table, it is refused too.
void ical_fit_report(IntensityCal* cal, FailingAllocator& alloc, fuzz::Input& in) {
    const bool null_cal = in.below(32) == 0, null_report = in.below(32) == 0;
    arm(alloc, in);
    const uint64_t refused_before = alloc.refused();
    const std::vector<unsigned char> before = fuzz::intensity_bytes(cal);
    CalFitReport report;
    poison(report);
    const int32_t status = ICalFitReport(null_cal ? nullptr : cal, null_report ? nullptr : &report);
    const bool refused = alloc.refused() != refused_before;
    alloc.stop_failing();
    CHECK(fuzz::intensity_bytes(cal) == before);
    CHECK((status == CAL_ERR_NOMEM) == refused);

    const TableView v = view(cal);
    const int16_t ft = v.fit_type;
    int16_t degree = 0;
    if (ft >= 1 && ft <= 3) degree = ft;
    if (ft == ICAL_FIT_DENSITY) degree = 1;
    if (ft >= 11 && ft <= 13) degree = static_cast<int16_t>(ft - 10);
    if (ft >= 21 && ft <= 23) degree = static_cast<int16_t>(ft - 20);
    std::vector<RealPoint> samples;
    for (const CalPoint& p : v.points) {
        if (ft >= 11 && ft <= 13) {
            if (p.calibrated > 0.0) samples.push_back({p.input, std::log(p.calibrated)});
        } else if (ft >= 21 && ft <= 23) {
            samples.push_back({p.input, std::exp(-p.calibrated)});
        } else if (ft == ICAL_FIT_DENSITY) {
            samples.push_back({p.input, std::pow(10.0, -p.calibrated)});
        } else {
            samples.push_back({p.input, p.calibrated});
        }
    }
    CalFitReport want;
    poison(want);
    const bool fitted = !null_cal && !null_report && v.type == ICAL_TYPE_STANDARD && v.points.size() >= 3 &&
                        degree != 0 &&
                        PolynomialFitReport(samples.data(), static_cast<int32_t>(samples.size()), degree, &want) ==
                            CAL_OK;
    if (!fitted) {
        CHECK(status == CAL_ERR_INVALID);
        CHECK(untouched(report));
        return;
    }
    CHECK(status == CAL_OK);
    CHECK(same_bits(&report, &want, sizeof report));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    FailingAllocator alloc;
    IntensityCal* cal = make_calibration(in);
    for (int op = 0; op < 8 && !in.empty(); ++op) {
        switch (in.below(6)) {
            case 0: diagnose(cal, alloc, in); break;
            case 2: inverse(cal, alloc, in); break;
            case 3: polynomial_fit_report(alloc, in); break;
            case 4: ical_fit_report(cal, alloc, in); break;
            default:
                CHECK(ICalDestroy(cal) == CAL_OK);
                cal = make_calibration(in);
                break;
        }
    }
    CHECK(ICalDestroy(cal) == CAL_OK);
    CHECK(alloc.live() == 0);
    return 0;
}
