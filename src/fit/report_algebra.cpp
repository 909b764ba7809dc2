// Small dense linear algebra for the fit reports: Cholesky factor, solves
// and triangular inverse in double-double, the Taylor shift of polynomial
// coefficients, and the largest singular value by one-sided Jacobi.
#include "fit/report_algebra.h"

#include <cmath>

namespace calmgr::fitalg {

using dd::add;
using dd::div;
using dd::mul;
using dd::sub;

bool cholesky(const Matrix g, int m, Matrix r) {
    for (int j = 0; j < m; ++j) {
        for (int i = 0; i < m; ++i) r[j][i] = DD{};
    }
    for (int j = 0; j < m; ++j) {
        DD d = g[j][j];
        for (int k = 0; k < j; ++k) d = sub(d, mul(r[k][j], r[k][j]));
        if (!(d.hi > 0.0)) return false;
        r[j][j] = dd::sqrt(d);
        for (int i = j + 1; i < m; ++i) {
            DD s = g[j][i];
            for (int k = 0; k < j; ++k) s = sub(s, mul(r[k][j], r[k][i]));
            r[j][i] = div(s, r[j][j]);
        }
    }
    return true;
}

void cholesky_solve(const Matrix r, int m, const DD* h, DD* b) {
    DD z[kMaxCoeffs];
    for (int j = 0; j < m; ++j) {  // r' z = h
        DD s = h[j];
        for (int k = 0; k < j; ++k) s = sub(s, mul(r[k][j], z[k]));
        z[j] = div(s, r[j][j]);
    }
    for (int j = m - 1; j >= 0; --j) {  // r b = z
        DD s = z[j];
        for (int k = j + 1; k < m; ++k) s = sub(s, mul(r[j][k], b[k]));
        b[j] = div(s, r[j][j]);
    }
}

void upper_inverse(const Matrix r, int m, Matrix inv) {
    for (int i = 0; i < m; ++i) {
        for (int j = 0; j < m; ++j) inv[i][j] = DD{};
    }
    for (int j = 0; j < m; ++j) {
        inv[j][j] = div(dd::from(1.0), r[j][j]);
        for (int i = j - 1; i >= 0; --i) {
            DD s{};
            for (int k = i + 1; k <= j; ++k) s = add(s, mul(r[i][k], inv[k][j]));
            inv[i][j] = dd::neg(div(s, r[i][i]));
        }
    }
}

void taylor_shift(DD* a, int m, double shift) {
    for (int i = 0; i + 1 < m; ++i) {
        for (int k = m - 2; k >= i; --k) a[k] = add(a[k], mul(a[k + 1], shift));
    }
}

double largest_singular_value(const DMatrix a, int m) {
    // Work on a copy scaled by a power of two to magnitudes near 1, so no
    // sum of squares overflows or underflows.
    double biggest = 0.0;
    for (int i = 0; i < m; ++i) {
        for (int j = 0; j < m; ++j) biggest = std::fmax(biggest, std::fabs(a[i][j]));
    }
    if (!(biggest > 0.0) || !std::isfinite(biggest)) return biggest;
    int exponent = 0;
    std::frexp(biggest, &exponent);
    DMatrix w;
    for (int i = 0; i < m; ++i) {
        for (int j = 0; j < m; ++j) w[i][j] = std::ldexp(a[i][j], -exponent);
    }
    // Rotate column pairs until all are orthogonal; the singular values are
    // then the column norms.
    for (int sweep = 0; sweep < 80; ++sweep) {
        bool rotated = false;
        for (int p = 0; p + 1 < m; ++p) {
            for (int q = p + 1; q < m; ++q) {
                double alpha = 0.0, beta = 0.0, gamma = 0.0;
                for (int i = 0; i < m; ++i) {
                    alpha += w[i][p] * w[i][p];
                    beta += w[i][q] * w[i][q];
                    gamma += w[i][p] * w[i][q];
                }
                if (gamma == 0.0 || std::fabs(gamma) <= 1e-15 * std::sqrt(alpha) * std::sqrt(beta)) continue;
                rotated = true;
                const double zeta = (beta - alpha) / (2.0 * gamma);
                const double t = std::fabs(zeta) > 1e150
                                     ? 0.5 / zeta
                                     : std::copysign(1.0, zeta) / (std::fabs(zeta) + std::sqrt(1.0 + zeta * zeta));
                const double c = 1.0 / std::sqrt(1.0 + t * t), s = c * t;
                for (int i = 0; i < m; ++i) {
                    const double wp = w[i][p], wq = w[i][q];
                    w[i][p] = c * wp - s * wq;
                    w[i][q] = s * wp + c * wq;
                }
            }
        }
        if (!rotated) break;
    }
    double largest = 0.0;
    for (int j = 0; j < m; ++j) {
        double n2 = 0.0;
        for (int i = 0; i < m; ++i) n2 += w[i][j] * w[i][j];
        largest = std::fmax(largest, std::sqrt(n2));
    }
    return std::ldexp(largest, exponent);
}

}  // namespace calmgr::fitalg
