// Weighted linear least squares on a basis callback, with held
// coefficients: builds the normal equations of the fitted coefficients,
// solves them by Gauss-Jordan elimination and spreads the resulting
// covariance back over the full coefficient order. Every work array is
// obtained before anything is written, so a refused heap request leaves the
// caller's arrays as they were.
#include "fit/lsq.h"

namespace calmgr {

void sort_covariance(double** covariance, int32_t num_coeffs, const int32_t* fit_mask, int32_t num_fitted) {
    for (int32_t i = num_fitted + 1; i <= num_coeffs; ++i) {
        for (int32_t j = 1; j <= i; ++j) {
            covariance[j][i] = 0.0;
            covariance[i][j] = 0.0;
        }
    }
    int32_t k = num_fitted;
    for (int32_t j = num_coeffs; j >= 1; --j) {
        if (fit_mask[j] == 0) continue;
        for (int32_t i = 1; i <= num_coeffs; ++i) {
            const double t = covariance[i][k];
            covariance[i][k] = covariance[i][j];
            covariance[i][j] = t;
        }
        for (int32_t i = 1; i <= num_coeffs; ++i) {
            const double t = covariance[k][i];
            covariance[k][i] = covariance[j][i];
            covariance[j][i] = t;
        }
        --k;
    }
}

bool lfit(const double* xs, const double* ys, const double* sigmas, int32_t num_samples, double* coeffs,
          const int32_t* fit_mask, int32_t num_coeffs, double** covariance, double* chi_square, BasisFn basis) {
    double** rhs = rmatrix(1, num_coeffs, 1, 1);
    // A basis writes values[1] even for no coefficients, so v always has it.
    const int32_t v_hi = num_coeffs < 1 ? 1 : num_coeffs;
    double* v = rhs != nullptr ? rvector(1, v_hi) : nullptr;
    int32_t m = 0;
    for (int32_t j = 1; j <= num_coeffs; ++j) {
        if (fit_mask[j] != 0) ++m;
    }
    GaussjWork work{};
    if (v == nullptr || !gaussj_work_make(work, m)) {
        rvector_release(v, 1, v_hi);
        rmatrix_release(rhs, 1, num_coeffs, 1, 1);
        return false;
    }

    if (m == 0) fit_error("lfit: no parameters to be fitted");
    for (int32_t j = 1; j <= m; ++j) {
        for (int32_t k = 1; k <= m; ++k) covariance[j][k] = 0.0;
        rhs[j][1] = 0.0;
    }

    for (int32_t i = 1; i <= num_samples; ++i) {
        basis(xs[i], v, num_coeffs);
        double t = ys[i];
        if (m < num_coeffs) {
            for (int32_t j = 1; j <= num_coeffs; ++j) {
                if (fit_mask[j] == 0) t -= v[j] * coeffs[j];
            }
        }
        const double w = 1.0 / (sigmas[i] * sigmas[i]);
        int32_t j = 0;
        for (int32_t l = 1; l <= num_coeffs; ++l) {
            if (fit_mask[l] == 0) continue;
            const double q = w * v[l];
            ++j;
            int32_t k = 0;
            for (int32_t lp = 1; lp <= l; ++lp) {
                if (fit_mask[lp] != 0) covariance[j][++k] += q * v[lp];
            }
            rhs[j][1] += t * q;
        }
    }
    // Only the lower triangle was accumulated.
    for (int32_t j = 2; j <= m; ++j) {
        for (int32_t k = 1; k < j; ++k) covariance[k][j] = covariance[j][k];
    }

    gaussj_solve(covariance, m, rhs, 1, work);
    gaussj_work_release(work, m);

    int32_t j = 0;
    for (int32_t l = 1; l <= num_coeffs; ++l) {
        if (fit_mask[l] != 0) coeffs[l] = rhs[++j][1];
    }

    double chi = 0.0;
    for (int32_t i = 1; i <= num_samples; ++i) {
        basis(xs[i], v, num_coeffs);
        double s = 0.0;
        for (int32_t k = 1; k <= num_coeffs; ++k) s += v[k] * coeffs[k];
        const double d = (ys[i] - s) / sigmas[i];
        chi += d * d;
    }
    *chi_square = chi;

    sort_covariance(covariance, num_coeffs, fit_mask, m);
    rvector_release(v, 1, v_hi);
    rmatrix_release(rhs, 1, num_coeffs, 1, 1);
    return true;
}

}  // namespace calmgr
