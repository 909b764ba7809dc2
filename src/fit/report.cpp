// PolynomialFitReport and the report behind it: the least-squares
// polynomial with its coefficients, their covariance and standard errors,
// the residual spread, R² and the design's condition number, computed to
// the digits the data allow.
//
// The samples are read in three passes and never copied, so no memory is
// needed: a scan (finite values, the x and y spans, enough distinct x), the
// moments of the normal equations, and the residuals. x is centred on the
// middle of its span and divided by a power of two covering half the span,
// y by a power of two covering its largest magnitude; both are exact, so
// magnitudes near the ends of the double range neither overflow nor lose
// digits. In that centred, scaled variable the moments, the Cholesky
// factor of the normal matrix, the solution and the residuals are all
// computed in double-double, which holds about twice the digits that the
// squared condition number of the normal equations costs. The coefficients
// and the covariance are carried back to powers of x by a Taylor shift in
// double-double, and only the powers of two are applied at the end.
#include "fit/report.h"

#include "fit/ddouble.h"
#include "fit/report_algebra.h"

#include <cfloat>
#include <cmath>
#include <cstring>

namespace calmgr {
namespace {

using dd::DD;
using fitalg::kMaxCoeffs;

// A design whose condition number exceeds this determines no digit of the
// coefficients through the normal equations in double-double.
constexpr double kMaxCondition = 1e15;

// 2^k as two factors, each a double, so exponents beyond the double range
// still scale exactly (unless the result itself leaves the range).
struct Pow2 {
    double f1 = 1.0, f2 = 1.0;
    explicit Pow2(int k = 0) : f1(std::ldexp(1.0, k / 2)), f2(std::ldexp(1.0, k - k / 2)) {}
    double apply(double v) const { return v * f1 * f2; }
};

// The centred, scaled variable u = (x - centre) / 2^x_exp and the scaled
// y = y / 2^y_exp.
struct Scaling {
    double centre = 0.0;
    int x_exp = 0, y_exp = 0;
    Pow2 x_down, y_down;
    double centre_scaled = 0.0;  // centre / 2^x_exp
    double half_ratio = 1.0;     // 2^x_exp over half the span of x

    DD u(double x) const {
        const DD d = dd::two_sum(x, -centre);
        return {x_down.apply(d.hi), x_down.apply(d.lo)};
    }
    double y(double v) const { return y_down.apply(v); }
};

struct Scan {
    uint64_t used = 0;
    double x_min = INFINITY, x_max = -INFINITY, y_max = 0.0;
};

// Pass 1: every used sample finite; the spans of x and |y|.
bool scan(const FitSamples& s, Scan& out) {
    for (uint64_t i = 0; i < s.count; ++i) {
        double x, y;
        if (!sample_at(s, i, x, y)) continue;
        if (!std::isfinite(x) || !std::isfinite(y)) return false;
        ++out.used;
        out.x_min = std::fmin(out.x_min, x);
        out.x_max = std::fmax(out.x_max, x);
        out.y_max = std::fmax(out.y_max, std::fabs(y));
    }
    return true;
}

// At least `needed` distinct x values among the used samples.
bool distinct_at_least(const FitSamples& s, int needed) {
    double seen[kMaxCoeffs];
    int found = 0;
    for (uint64_t i = 0; i < s.count && found < needed; ++i) {
        double x, y;
        if (!sample_at(s, i, x, y)) continue;
        bool known = false;
        for (int k = 0; k < found && !known; ++k) known = seen[k] == x;
        if (!known) seen[found++] = x;
    }
    return found >= needed;
}

Scaling scaling_of(const Scan& sc) {
    Scaling out;
    out.centre = 0.5 * sc.x_min + 0.5 * sc.x_max;
    // span = f 2^k with f in [0.5, 1): half the span is at most 2^(k-1).
    int k = 0;
    double f = 0.0;
    const double span = sc.x_max - sc.x_min;
    if (std::isfinite(span)) {
        f = std::frexp(span, &k);
        out.x_exp = k - 1;
    } else {
        f = std::frexp(0.5 * sc.x_max - 0.5 * sc.x_min, &k);
        out.x_exp = k;
    }
    out.half_ratio = 1.0 / f;
    out.x_down = Pow2(-out.x_exp);
    out.centre_scaled = out.x_down.apply(out.centre);
    if (sc.y_max > 0.0) std::frexp(sc.y_max, &out.y_exp);
    out.y_down = Pow2(-out.y_exp);
    return out;
}

struct Moments {
    DD power_sums[2 * kMaxCoeffs - 1];  // sum of u^p, p = 1 .. 2 * degree
    DD y_sums[kMaxCoeffs];              // sum of y u^j, j = 0 .. degree
};

// Pass 2: the moments of the normal equations.
void accumulate(const FitSamples& s, const Scaling& sc, int degree, Moments& mo) {
    for (uint64_t i = 0; i < s.count; ++i) {
        double x, y;
        if (!sample_at(s, i, x, y)) continue;
        const DD u = sc.u(x);
        const double v = sc.y(y);
        mo.y_sums[0] = dd::add(mo.y_sums[0], v);
        DD power = u;
        for (int p = 1; p <= 2 * degree; ++p) {
            if (p > 1) power = dd::mul(power, u);
            mo.power_sums[p] = dd::add(mo.power_sums[p], power);
            if (p <= degree) mo.y_sums[p] = dd::add(mo.y_sums[p], dd::mul(power, v));
        }
    }
}

// Pass 3: the residual sum of squares of the fit b (in u) and the total
// sum of squares about the mean.
void residuals(const FitSamples& s, const Scaling& sc, int degree, const DD* b, const DD& mean, DD& ssr, DD& sst) {
    for (uint64_t i = 0; i < s.count; ++i) {
        double x, y;
        if (!sample_at(s, i, x, y)) continue;
        const DD u = sc.u(x);
        const double v = sc.y(y);
        DD fit = b[degree];
        for (int k = degree - 1; k >= 0; --k) fit = dd::add(dd::mul(fit, u), b[k]);
        ssr = dd::add(ssr, dd::sqr(dd::add(dd::neg(fit), v)));
        sst = dd::add(sst, dd::sqr(dd::add(dd::neg(mean), v)));
    }
}

// Condition number of the design with columns ((x - centre) / half span)^k:
// that of its triangular factor, the scaled variable's factor times
// half_ratio^k by column.
double condition_of(const fitalg::Matrix r, const fitalg::Matrix r_inv, int m, double half_ratio) {
    fitalg::DMatrix a, a_inv;
    double col = 1.0;
    for (int j = 0; j < m; ++j) {
        for (int i = 0; i < m; ++i) {
            a[i][j] = dd::to_double(r[i][j]) * col;
            a_inv[j][i] = dd::to_double(r_inv[j][i]) / col;
        }
        col *= half_ratio;
    }
    return fitalg::largest_singular_value(a, m) * fitalg::largest_singular_value(a_inv, m);
}

double scaled(const DD& v, int exponent) { return std::ldexp(dd::to_double(v), exponent); }

}  // namespace

int32_t fit_report(const FitSamples& s, int16_t degree, CalFitReport* report) {
    if (degree < 1 || degree > kMaxCoeffs - 1 || report == nullptr) return FIT_ERR_ARGS;
    const int m = degree + 1;
    Scan sc;
    if (!scan(s, sc) || sc.used < static_cast<uint64_t>(m) || sc.used > INT32_MAX) return FIT_ERR_ARGS;
    if (!distinct_at_least(s, m)) return CAL_ERR_INVALID;
    const Scaling scale = scaling_of(sc);

    Moments mo;
    accumulate(s, scale, degree, mo);
    fitalg::Matrix g, r, r_inv;
    for (int j = 0; j < m; ++j) {
        for (int k = 0; k < m; ++k) g[j][k] = j + k == 0 ? dd::from(static_cast<double>(sc.used)) : mo.power_sums[j + k];
    }
    if (!fitalg::cholesky(g, m, r)) return CAL_ERR_INVALID;
    fitalg::upper_inverse(r, m, r_inv);
    const double condition = condition_of(r, r_inv, m, scale.half_ratio);
    if (!(condition <= kMaxCondition)) return CAL_ERR_INVALID;

    DD b[kMaxCoeffs];
    fitalg::cholesky_solve(r, m, mo.y_sums, b);
    const double n = static_cast<double>(sc.used);
    const DD mean = dd::div(mo.y_sums[0], dd::from(n));
    DD ssr{}, sst{};
    residuals(s, scale, degree, b, mean, ssr, sst);
    const double dof = n - m;
    const DD variance = dof > 0.0 ? dd::div(ssr, dd::from(dof)) : DD{};

    // Powers of x: shift the polynomial in u = x / 2^x_exp - centre_scaled
    // to one in x / 2^x_exp, coefficients and covariance factor alike.
    DD coeffs[kMaxCoeffs];
    for (int k = 0; k < m; ++k) coeffs[k] = b[k];
    fitalg::taylor_shift(coeffs, m, -scale.centre_scaled);
    fitalg::Matrix w;  // covariance = variance * w w'
    for (int col = 0; col < m; ++col) {
        DD column[kMaxCoeffs];
        for (int k = 0; k < m; ++k) column[k] = r_inv[k][col];
        fitalg::taylor_shift(column, m, -scale.centre_scaled);
        for (int k = 0; k < m; ++k) w[k][col] = column[k];
    }
    // Each row of w brought to magnitude about one by a power of two (an
    // exact scaling): far from the data the rows grow so large that their
    // products would overflow the double-double arithmetic and give NaN
    // where the covariance is merely large, or infinite.
    int w_exp[kMaxCoeffs] = {};
    for (int j = 0; j < m; ++j) {
        double big = 0.0;
        for (int k = 0; k < m; ++k) big = std::fmax(big, std::fabs(w[j][k].hi));
        if (!(big > 0.0 && big <= DBL_MAX)) continue;
        w_exp[j] = std::ilogb(big);
        for (int k = 0; k < m; ++k) w[j][k] = dd::ldexp(w[j][k], -w_exp[j]);
    }

    CalFitReport out;
    std::memset(&out, 0, sizeof out);
    out.degree = degree;
    out.num_samples = static_cast<int32_t>(sc.used);
    for (int j = 0; j < m; ++j) {
        const int j_exp = scale.y_exp - j * scale.x_exp;
        out.coeffs[j] = scaled(coeffs[j], j_exp);
        for (int l = 0; l < m; ++l) {
            DD sum{};
            for (int k = 0; k < m; ++k) sum = dd::add(sum, dd::mul(w[j][k], w[l][k]));
            const DD cov = dd::mul(sum, variance);
            out.covariance[j][l] = scaled(cov, j_exp + scale.y_exp - l * scale.x_exp + w_exp[j] + w_exp[l]);
            if (j == l) out.std_errors[j] = scaled(dd::sqrt(cov), j_exp + w_exp[j]);
        }
    }
    out.residual_sd = scaled(dd::sqrt(variance), scale.y_exp);
    out.ssr = scaled(ssr, 2 * scale.y_exp);
    out.r_squared = sst.hi > 0.0 ? dd::to_double(dd::sub(dd::from(1.0), dd::div(ssr, sst))) : 1.0;
    out.condition = condition;
    for (int j = 0; j < m; ++j) {
        if (std::isnan(out.coeffs[j]) || std::isnan(out.std_errors[j])) return CAL_ERR_INVALID;
    }
    std::memcpy(report, &out, sizeof out);
    return CAL_OK;
}

}  // namespace calmgr

extern "C" CALMGR_API int32_t PolynomialFitReport(const RealPoint* samples, int32_t num_samples, int16_t degree,
                                                  CalFitReport* report) {
    if (samples == nullptr || report == nullptr || num_samples < 1) return FIT_ERR_ARGS;
    calmgr::FitSamples s;
    s.points = samples;
    s.count = static_cast<uint64_t>(num_samples);
    return calmgr::fit_report(s, degree, report);
}
