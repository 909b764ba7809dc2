// Fuzzes the numeric builders with hostile doubles: NaN, infinities, huge
// and tiny ranges, unsorted and repeated points, every fit type and option,
// table sizes from 2 to past 4096; the polynomial fits and the elimination
// on arbitrary samples and matrices. Nothing may crash, read or write out
// of bounds, or convert a NaN or out-of-range double to an integer (the
// sanitizers watch for that), and a successful build leaves table_min <=
// every numeric entry <= table_max.
#include "calmgr.h"
#include "fit/lsq.h"
#include "fit/polyfit.h"
#include "fuzz_cal.h"
#include "fuzz_input.h"
#include "intensity/ical.h"
#include "intensity/piecewise.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void check_stats(const IntensityCal* cal) {
    for (uint16_t i = 0; i < cal->table_size; ++i) {
        const double v = cal->table[i];
        if (std::isnan(v)) continue;
        CHECK(cal->table_min <= v);
        CHECK(v <= cal->table_max);
    }
}

// After a successful fitted build (fit type 10 applies no repairs): with
// the clamp every entry is a number >= 0; with the monotonic repair alone a
// table of numbers runs in the points' overall direction.
void check_repairs(const IntensityCal* cal) {
    if (cal->cal_type != ICAL_TYPE_STANDARD || cal->num_points == 2 || cal->fit_type == 10) return;
    const double* t = cal->table;
    const uint16_t n = cal->table_size;
    if (cal->options & ICAL_OPT_CLAMP_NEGATIVE) {
        for (uint16_t i = 0; i < n; ++i) CHECK(t[i] >= 0.0);
    }
    // The repair cannot order entries across a NaN, and the clamp then turns
    // such a NaN into 0: only tables of numbers without the clamp are checked.
    if (!(cal->options & ICAL_OPT_MONOTONIC) || (cal->options & ICAL_OPT_CLAMP_NEGATIVE)) return;
    int32_t trend = 0;
    for (uint16_t k = 1; k < cal->num_points; ++k)
        trend += cal->points[k].calibrated - cal->points[k - 1].calibrated > 0.0 ? 1 : -1;
    for (uint16_t i = 0; i < n; ++i)
        if (std::isnan(t[i])) return;
    for (uint16_t i = 1; i < n; ++i) {
        if (trend > 0) CHECK(t[i] >= t[i - 1]);
        if (trend < 0) CHECK(t[i] <= t[i - 1]);
    }
}

// Settings stored field by field through the public control, then one
// rebuild: a status, never a crash, and consistent statistics on success.
void build_calibration(fuzz::Input& in) {
    IntensityCal* cal = ICalCreate();
    CHECK(cal != nullptr);
    for (int round = 0; round < 4 && !in.empty(); ++round) {
        const uint8_t what = in.u8();
        double d = in.real();
        if (what & 1) ICalControl(cal, ICAL_SET_RANGE_MIN, 0, 1, &d);
        d = in.real();
        if (what & 2) ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 1, &d);
        if (what & 4) {
            const uint16_t sizes[] = {2, 3, 5, 16, 255, 256, 257, 1000, 4095, 4096, 4097};
            const int32_t n = in.flag() ? sizes[in.below(11)] : 2 + in.below(600);
            ICalControl(cal, ICAL_SET_TABLE_SIZE, n, 1, nullptr);
        }
        if (what & 8) {
            const auto n = static_cast<uint16_t>(2 + in.below(30));
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
        static const int16_t kFits[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 21, 22, 23};
        ICalControl(cal, ICAL_SET_FIT_TYPE, kFits[in.below(17)], 1, nullptr);
        const int32_t status = ICalControl(cal, ICAL_SET_TYPE, in.below(5) == 0 ? 1 : 0, 0, nullptr);
        CHECK(status == CAL_OK || status == CAL_ERR_INVALID);
        if (status == CAL_OK) {
            check_stats(cal);
            check_repairs(cal);
        }
        if (status == CAL_ERR_INVALID) {  // only the refusals the builders know
            const bool density = cal->cal_type == ICAL_TYPE_DENSITY || cal->fit_type == 10;
            const bool exp_fit = cal->fit_type >= 11 && cal->fit_type <= 13;
            CHECK(density || exp_fit);
        }

        // Lookups through whatever table stands, of every width.
        double samples[8];
        for (double& s : samples) s = in.real();
        double out[24];
        float outf[24];
        ICalLookupEx(cal, ICAL_SAMPLE_F64, samples, 8, out);
        ICalLookupEx(cal, ICAL_SAMPLE_F64 | ICAL_LOOKUP_FLOAT, samples, 8, outf);
        uint16_t u16[24];
        for (uint16_t& s : u16) s = in.u16();
        ICalLookupEx(cal, ICAL_SAMPLE_U16_RGB, u16, 8, out);
        uint8_t u8[24];
        for (uint8_t& s : u8) s = in.u8();
        ICalLookupEx(cal, ICAL_SAMPLE_U8_RGB | ICAL_LOOKUP_FLOAT, u8, 8, outf);
        float f32[8];
        for (float& s : f32) {
            const double r = in.real();
            s = std::isnan(r) ? NAN : static_cast<float>(std::fmax(std::fmin(r, 3e38), -3e38));
        }
        ICalLookupEx(cal, ICAL_SAMPLE_F32, f32, 8, out);
    }
    CHECK(ICalDestroy(cal) == CAL_OK);
}

// recompute on a record whose fields are set directly: few points (two
// often, so the two-point line gets its share), any fit type including the
// negative ones of the default row, any range and levels.
void recompute_raw(fuzz::Input& in) {
    IntensityCal* cal = ICalCreate();
    CHECK(cal != nullptr);
    const auto n = static_cast<uint16_t>(in.flag() ? 2 : 2 + in.below(7));
    std::vector<CalPoint> points = fuzz::fuzz_points(in, n);
    CHECK(ICalControl(cal, ICAL_SET_POINTS, n, 1, points.data()) == CAL_OK);
    const uint16_t sizes[] = {2, 3, 4, 16, 256, 4096};
    CHECK(ICalControl(cal, ICAL_SET_TABLE_SIZE, sizes[in.below(6)], 1, nullptr) == CAL_OK);
    cal->range_min = in.flag() ? 0.0 : in.real();
    cal->range_max = in.flag() ? 255.0 : in.real();
    cal->black_level = in.real();
    cal->incident_level = in.real();
    cal->cal_type = in.below(4) == 0 ? ICAL_TYPE_DENSITY : ICAL_TYPE_STANDARD;
    cal->fit_type = static_cast<int16_t>(in.flag() ? in.below(24) : in.u16());
    cal->options = static_cast<uint16_t>(in.u8());
    const int32_t status = calmgr::recompute(cal);
    if (status == CAL_OK) {
        check_stats(cal);
        check_repairs(cal);
    } else {
        CHECK(status == CAL_ERR_INVALID);
        const bool density = cal->cal_type == ICAL_TYPE_DENSITY || cal->fit_type == 10;
        const bool exp_fit = cal->fit_type >= 11 && cal->fit_type <= 13;
        CHECK(n != 2 || cal->cal_type == ICAL_TYPE_DENSITY);
        CHECK(density || exp_fit);
    }
    CHECK(ICalDestroy(cal) == CAL_OK);
}

// Piecewise interpolation straight onto a bare table: it fills the table
// or leaves it exactly as it was, and never leaves it.
void interpolate_piecewise(fuzz::Input& in) {
    const auto n = static_cast<uint16_t>(in.below(24));
    std::vector<CalPoint> points = fuzz::fuzz_points(in, n);
    const uint16_t sizes[] = {0, 1, 2, 3, 4, 5, 7, 16, 256, 1000};
    const uint16_t size = in.flag() ? sizes[in.below(10)] : static_cast<uint16_t>(in.below(700));
    const auto order = static_cast<int16_t>(1 + in.below(3));
    double lo = in.flag() ? 0.0 : in.real();
    double hi = in.flag() ? 255.0 : in.real();
    std::vector<double> table(size + 1u, -9.75);  // one guard entry
    const int built = calmgr::build_piecewise_table(points.empty() ? nullptr : points.data(), n, table.data(), size,
                                                    order, lo, hi);
    CHECK(table[size] == -9.75);
    if (built == 0) {
        for (double v : table) CHECK(v == -9.75);
    } else {
        CHECK(built == 1);
    }
}

// The polynomial fits on arbitrary samples: only FIT_ERR_ARGS or 0.
void fit_polynomials(fuzz::Input& in) {
    const auto n = static_cast<int16_t>(1 + in.below(40));
    const auto degree = static_cast<int16_t>(1 + in.below(7));
    std::vector<RealPoint> samples(static_cast<size_t>(n));
    for (RealPoint& p : samples) p = {in.real(), in.real()};
    if (in.flag()) {
        std::sort(samples.begin(), samples.end(), [](const RealPoint& a, const RealPoint& b) { return a.x < b.x; });
    }
    const auto num_out = static_cast<int16_t>(2 + in.below(300));
    std::vector<double> values(static_cast<size_t>(num_out) + 1, -1.25);
    CHECK(PolynomialFitRange(samples.data(), n, values.data(), in.real(), in.real(), num_out, degree) == 0);
    CHECK(values[static_cast<size_t>(num_out)] == -1.25);

    std::vector<RealPoint> at(static_cast<size_t>(1 + in.below(16)) + 1);
    for (RealPoint& p : at) p = {in.real(), -1.25};
    const auto num_at = static_cast<int16_t>(at.size() - 1);
    CHECK(PolynomialFit(samples.data(), n, at.data(), num_at, degree) == 0);
    CHECK(at.back().y == -1.25);

    double coeffs[9];
    std::fill(coeffs, coeffs + 9, -1.25);
    CHECK(calmgr::PolynomialFitCoeffs(samples.data(), n, coeffs, degree) == 0);
    CHECK(coeffs[degree + 1] == -1.25);
}

// Gauss-Jordan elimination on an arbitrary matrix, NaN and zero pivots
// included: indices stay within 1..n whatever the elements.
void eliminate(fuzz::Input& in) {
    const int32_t n = static_cast<int32_t>(1 + in.below(8));
    const int32_t m = static_cast<int32_t>(1 + in.below(3));
    double** a = calmgr::rmatrix(1, n, 1, n);
    double** b = calmgr::rmatrix(1, n, 1, m);
    CHECK(a != nullptr && b != nullptr);
    const uint8_t shape = in.u8();
    for (int32_t i = 1; i <= n; ++i) {
        for (int32_t j = 1; j <= n; ++j) a[i][j] = (shape & 1) ? in.real() : static_cast<double>(in.below(3));
        for (int32_t j = 1; j <= m; ++j) b[i][j] = in.real();
    }
    CHECK(calmgr::gaussj(a, n, b, m));
    calmgr::rmatrix_release(b, 1, n, 1, m);
    calmgr::rmatrix_release(a, 1, n, 1, n);
}

// lfit with arbitrary standard deviations and held coefficients.
void least_squares(fuzz::Input& in) {
    const int32_t n = static_cast<int32_t>(1 + in.below(20));
    const int32_t mc = static_cast<int32_t>(1 + in.below(8));
    double* xs = calmgr::rvector(1, n);
    double* ys = calmgr::rvector(1, n);
    double* sig = calmgr::rvector(1, n);
    double* c = calmgr::rvector(1, mc);
    int32_t* mask = calmgr::ivector(1, mc);
    double** cov = calmgr::rmatrix(1, mc, 1, mc);
    CHECK(xs && ys && sig && c && mask && cov);
    for (int32_t i = 1; i <= n; ++i) {
        xs[i] = in.real();
        ys[i] = in.real();
        sig[i] = in.flag() ? 0.1 : in.real();
    }
    for (int32_t j = 1; j <= mc; ++j) {
        c[j] = in.real();
        mask[j] = in.below(4) != 0;
    }
    double chi = 0.0;
    CHECK(calmgr::lfit(xs, ys, sig, n, c, mask, mc, cov, &chi, calmgr::power_basis));
    calmgr::rmatrix_release(cov, 1, mc, 1, mc);
    calmgr::ivector_release(mask, 1, mc);
    calmgr::rvector_release(c, 1, mc);
    calmgr::rvector_release(sig, 1, n);
    calmgr::rvector_release(ys, 1, n);
    calmgr::rvector_release(xs, 1, n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    switch (in.below(8)) {
        case 0: case 1: build_calibration(in); break;
        case 6: case 7: recompute_raw(in); break;
        case 5: interpolate_piecewise(in); break;
        case 2: fit_polynomials(in); break;
        case 3: eliminate(in); break;
        default: least_squares(in); break;
    }
    return 0;
}
