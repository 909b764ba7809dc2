// The least-squares engine: work-array layout, the power basis, Gauss-Jordan
// elimination (pivot choice, singular systems, the all-NaN first step), the
// covariance order, lfit with held coefficients, and refused heap requests.
#include "fit/lsq.h"
#include "unit/fit_heap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace calmgr;
using fit_test::CountingHeap;
using fit_test::MessageLog;

const std::string kSingular1 = "gaussj: Singular Matrix-1";
const std::string kSingular2 = "gaussj: Singular Matrix-2";

// An n x n matrix and an n x r right-hand side made by the engine, freed on
// scope exit.
struct System {
    int32_t n, r;
    double** a;
    double** b;
    System(int32_t n_, int32_t r_, std::initializer_list<double> av, std::initializer_list<double> bv)
        : n(n_), r(r_), a(rmatrix(1, n_, 1, n_)), b(rmatrix(1, n_, 1, r_)) {
        auto it = av.begin();
        for (int32_t i = 1; i <= n; ++i)
            for (int32_t j = 1; j <= n; ++j) a[i][j] = *it++;
        it = bv.begin();
        for (int32_t i = 1; i <= n; ++i)
            for (int32_t j = 1; j <= r; ++j) b[i][j] = *it++;
    }
    ~System() {
        rmatrix_release(b, 1, n, 1, r);
        rmatrix_release(a, 1, n, 1, n);
    }
};

TEST(WorkArrays, MatrixRowsFollowEachOtherInOneBlock) {
    CountingHeap heap;
    double** m = rmatrix(1, 3, 1, 4);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(heap.requests(), 2);
    EXPECT_EQ(m[2], m[1] + 4);
    EXPECT_EQ(m[3], m[2] + 4);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 4; ++j) m[i][j] = i * 10 + j;  // every element addressable
    double* v = rvector(1, 5);
    int32_t* iv = ivector(1, 5);
    ASSERT_NE(v, nullptr);
    ASSERT_NE(iv, nullptr);
    v[1] = v[5] = 1.0;
    iv[1] = iv[5] = 1;
    EXPECT_EQ(heap.requests(), 4);
    EXPECT_EQ(heap.live(), 4);
    ivector_release(iv, 1, 5);
    rvector_release(v, 1, 5);
    rmatrix_release(m, 1, 3, 1, 4);
    EXPECT_EQ(heap.live(), 0);
}

TEST(WorkArrays, RefusedRequestsReturnNullAndHoldNothing) {
    for (int k = 1; k <= 2; ++k) {
        CountingHeap heap(k);
        EXPECT_EQ(rmatrix(1, 2, 1, 2), nullptr) << k;
        EXPECT_EQ(heap.live(), 0) << k;
    }
    MessageLog log;
    {
        CountingHeap heap(1);
        EXPECT_EQ(rvector(1, 3), nullptr);
    }
    EXPECT_TRUE(log.texts().empty());  // only ivector reports a refusal
    {
        CountingHeap heap(1);
        EXPECT_EQ(ivector(1, 3), nullptr);
        EXPECT_EQ(heap.live(), 0);
    }
    EXPECT_EQ(log.texts(), std::vector<std::string>{"allocation failure in ivector()"});
}

TEST(PowerBasis, PowersByRepeatedMultiplication) {
    double v[6] = {-1, -1, -1, -1, -1, -1};
    power_basis(5.0, v, 1);
    EXPECT_EQ(v[1], 1.0);
    EXPECT_EQ(v[2], -1.0);  // nothing past n
    power_basis(7.0, v, 0);
    EXPECT_EQ(v[1], 1.0);   // written even for n below 1
    power_basis(0.0, v, 4);
    EXPECT_EQ(v[1], 1.0);
    EXPECT_EQ(v[2], 0.0);
    EXPECT_EQ(v[3], 0.0);
    EXPECT_EQ(v[4], 0.0);
    power_basis(2.0, v, 5);
    EXPECT_EQ(v[2], 2.0);
    EXPECT_EQ(v[3], 4.0);
    EXPECT_EQ(v[4], 8.0);
    EXPECT_EQ(v[5], 16.0);
    EXPECT_EQ(v[0], -1.0);
}

TEST(Gaussj, EmptySystemIsLeftAlone) {
    System s(1, 1, {3.0}, {4.0});
    ASSERT_TRUE(gaussj(s.a, 0, s.b, 1));
    EXPECT_EQ(s.a[1][1], 3.0);
    EXPECT_EQ(s.b[1][1], 4.0);
}

TEST(Gaussj, IdentityStaysIdentity) {
    MessageLog log;
    System s(3, 2, {1, 0, 0, 0, 1, 0, 0, 0, 1}, {1, -2, 3, 0.5, -7, 9});
    ASSERT_TRUE(gaussj(s.a, 3, s.b, 2));
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) EXPECT_EQ(s.a[i][j], i == j ? 1.0 : 0.0);
    const double b[] = {1, -2, 3, 0.5, -7, 9};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 2; ++j) EXPECT_EQ(s.b[i][j], b[(i - 1) * 2 + j - 1]);
    EXPECT_TRUE(log.texts().empty());
}

TEST(Gaussj, RowExchangeIsUndoneOnTheColumns) {
    System s(2, 1, {0, 2, 3, 0}, {4, 6});
    ASSERT_TRUE(gaussj(s.a, 2, s.b, 1));
    EXPECT_EQ(s.a[1][1], 0.0);
    EXPECT_EQ(s.a[1][2], 1.0 / 3.0);
    EXPECT_EQ(s.a[2][1], 0.5);
    EXPECT_EQ(s.a[2][2], 0.0);
    EXPECT_EQ(s.b[1][1], 2.0);
    EXPECT_EQ(s.b[2][1], 2.0);
}

TEST(Gaussj, GeneralSystemInverseAndSeveralRightHandSides) {
    const double a[3][3] = {{2, 1, 1}, {1, 3, 2}, {1, 0, 0}};
    System s(3, 2, {2, 1, 1, 1, 3, 2, 1, 0, 0}, {4, 1, 5, 0, 6, 2});
    ASSERT_TRUE(gaussj(s.a, 3, s.b, 2));
    // A times the returned inverse is the identity, and A times each
    // solution column gives its right-hand side back.
    const double rhs[3][2] = {{4, 1}, {5, 0}, {6, 2}};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += a[i][k] * s.a[k + 1][j + 1];
            EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-14) << i << "," << j;
        }
        for (int c = 0; c < 2; ++c) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += a[i][k] * s.b[k + 1][c + 1];
            EXPECT_NEAR(sum, rhs[i][c], 1e-13) << i << "," << c;
        }
    }
}

TEST(Gaussj, ZeroMatrixPivotsOnTheLastCandidate) {
    MessageLog log;
    System s(2, 1, {0, 0, 0, 0}, {1, 2});
    ASSERT_TRUE(gaussj(s.a, 2, s.b, 1));
    EXPECT_TRUE(std::isnan(s.a[1][1]));
    EXPECT_TRUE(std::isnan(s.a[1][2]));
    EXPECT_TRUE(std::isnan(s.a[2][1]));
    EXPECT_EQ(s.a[2][2], 0.0);  // the first pivot, (2, 2), reused by step 2
    EXPECT_TRUE(std::isnan(s.b[1][1]));
    EXPECT_TRUE(std::isnan(s.b[2][1]));
    EXPECT_EQ(log.texts(), std::vector<std::string>{kSingular2});
}

TEST(Gaussj, ZeroPivotInTheSecondStepGivesInfinities) {
    MessageLog log;
    System s(2, 1, {1, 1, 1, 1}, {1, 2});
    ASSERT_TRUE(gaussj(s.a, 2, s.b, 1));
    for (int i = 1; i <= 2; ++i) {
        for (int j = 1; j <= 2; ++j) EXPECT_TRUE(std::isinf(s.a[i][j])) << i << "," << j;
        EXPECT_TRUE(std::isinf(s.b[i][1])) << i;
    }
    EXPECT_EQ(log.texts(), std::vector<std::string>{kSingular2});
}

TEST(Gaussj, AllNaNMatrixStaysInsideTheArrays) {
    // No element ever qualifies as a pivot: the first step takes index 1 on
    // the diagonal and every later step reuses it, which the search of the
    // third step reports once per row it visits.
    MessageLog log;
    const double nan = std::nan("");
    System s(3, 1, {nan, nan, nan, nan, nan, nan, nan, nan, nan}, {1, 2, 3});
    ASSERT_TRUE(gaussj(s.a, 3, s.b, 1));
    for (int i = 1; i <= 3; ++i) {
        for (int j = 1; j <= 3; ++j) EXPECT_TRUE(std::isnan(s.a[i][j]));
        EXPECT_TRUE(std::isnan(s.b[i][1]));
    }
    EXPECT_EQ(log.texts(), std::vector<std::string>(3, kSingular1));
}

TEST(Gaussj, RefusedWorkVectorLeavesTheSystemUntouched) {
    for (int k = 1; k <= 3; ++k) {
        System s(2, 1, {0, 2, 3, 0}, {4, 6});
        CountingHeap heap(k);
        MessageLog log;
        EXPECT_FALSE(gaussj(s.a, 2, s.b, 1)) << k;
        EXPECT_EQ(heap.live(), 0) << k;
        EXPECT_EQ(s.a[1][2], 2.0);
        EXPECT_EQ(s.a[2][1], 3.0);
        EXPECT_EQ(s.b[1][1], 4.0);
        EXPECT_EQ(log.texts(), std::vector<std::string>{"allocation failure in ivector()"});
    }
}

TEST(SortCovariance, SpreadsTheFittedBlockOverTheCoefficients) {
    double** c = rmatrix(1, 3, 1, 3);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) c[i][j] = 99.0;
    c[1][1] = 11;
    c[1][2] = 12;
    c[2][1] = 21;
    c[2][2] = 22;
    int32_t mask[4] = {0, 1, 0, 1};
    sort_covariance(c, 3, mask, 2);
    const double want[3][3] = {{11, 0, 12}, {0, 0, 0}, {21, 0, 22}};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) EXPECT_EQ(c[i][j], want[i - 1][j - 1]) << i << "," << j;
    rmatrix_release(c, 1, 3, 1, 3);
}

// Samples, coefficients, mask and covariance for lfit, 1-based.
struct FitCase {
    std::vector<double> xs{0}, ys{0}, sigmas{0};
    std::vector<double> coeffs;
    std::vector<int32_t> mask;
    double** covariance;
    int32_t m;
    explicit FitCase(int32_t num_coeffs) : coeffs(num_coeffs + 1, 0.0), mask(num_coeffs + 1, 1), m(num_coeffs) {
        covariance = rmatrix(1, m, 1, m);
        for (int i = 1; i <= m; ++i)
            for (int j = 1; j <= m; ++j) covariance[i][j] = 99.0;
    }
    ~FitCase() { rmatrix_release(covariance, 1, m, 1, m); }
    void add(double x, double y, double sigma = 1.0) {
        xs.push_back(x);
        ys.push_back(y);
        sigmas.push_back(sigma);
    }
    int32_t n() const { return static_cast<int32_t>(xs.size()) - 1; }
    bool run(double* chi) {
        return lfit(xs.data(), ys.data(), sigmas.data(), n(), coeffs.data(), mask.data(), m, covariance, chi,
                    power_basis);
    }
};

TEST(Lfit, EveryCoefficientHeld) {
    MessageLog log;
    FitCase f(2);
    f.add(0, 1);
    f.add(1, 4);
    f.add(2, 5, 0.5);
    f.coeffs = {0, 1.0, 2.0};
    f.mask = {0, 0, 0};
    double chi = -1;
    ASSERT_TRUE(f.run(&chi));
    EXPECT_EQ(f.coeffs[1], 1.0);
    EXPECT_EQ(f.coeffs[2], 2.0);
    // Residuals 0, 1 and 0 against the line 1 + 2x.
    EXPECT_EQ(chi, 1.0);
    for (int i = 1; i <= 2; ++i)
        for (int j = 1; j <= 2; ++j) EXPECT_EQ(f.covariance[i][j], 0.0);
    EXPECT_EQ(log.texts(), std::vector<std::string>{"lfit: no parameters to be fitted"});
}

TEST(Lfit, HeldMiddleCoefficient) {
    // y = 1 + h x + 3 x^2 plus a wiggle, with h held: coefficients 1 and 3
    // are the least-squares fit of y - h x on the basis 1, x^2.
    const double h = 2.0;
    FitCase f(3);
    const double wiggle[] = {0.1, -0.2, 0.05, 0.15, -0.1};
    for (int i = 0; i < 5; ++i) f.add(i, 1 + h * i + 3.0 * i * i + wiggle[i], 0.5);
    f.coeffs = {0, -7.0, h, -7.0};
    f.mask = {0, 1, 0, 1};
    double chi = -1;
    ASSERT_TRUE(f.run(&chi));
    EXPECT_EQ(f.coeffs[2], h);

    // Independent solution of the 2 x 2 normal equations.
    double s00 = 0, s01 = 0, s11 = 0, r0 = 0, r1 = 0;
    for (int i = 1; i <= 5; ++i) {
        const double w = 1 / (f.sigmas[i] * f.sigmas[i]);
        const double x2 = f.xs[i] * f.xs[i];
        const double t = f.ys[i] - h * f.xs[i];
        s00 += w;
        s01 += w * x2;
        s11 += w * x2 * x2;
        r0 += w * t;
        r1 += w * t * x2;
    }
    const double det = s00 * s11 - s01 * s01;
    const double inv00 = s11 / det, inv01 = -s01 / det, inv11 = s00 / det;
    EXPECT_NEAR(f.coeffs[1], inv00 * r0 + inv01 * r1, 1e-12);
    EXPECT_NEAR(f.coeffs[3], inv01 * r0 + inv11 * r1, 1e-12);
    EXPECT_NEAR(f.covariance[1][1], inv00, 1e-12);
    EXPECT_NEAR(f.covariance[1][3], inv01, 1e-12);
    EXPECT_NEAR(f.covariance[3][1], inv01, 1e-12);
    EXPECT_NEAR(f.covariance[3][3], inv11, 1e-12);
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(f.covariance[2][k], 0.0);
        EXPECT_EQ(f.covariance[k][2], 0.0);
    }
    double want_chi = 0;
    for (int i = 1; i <= 5; ++i) {
        const double d = (f.ys[i] - (f.coeffs[1] + h * f.xs[i] + f.coeffs[3] * f.xs[i] * f.xs[i])) / f.sigmas[i];
        want_chi += d * d;
    }
    EXPECT_NEAR(chi, want_chi, 1e-12);
    EXPECT_GT(chi, 0.0);
}

TEST(Lfit, AsManyCoefficientsAsSamplesInterpolate) {
    FitCase f(4);
    f.add(-2, 3.5, 0.1);
    f.add(-0.5, -1.0, 0.1);
    f.add(1, 2.0, 0.1);
    f.add(3, 0.25, 0.1);
    double chi = -1;
    ASSERT_TRUE(f.run(&chi));
    double v[5];
    for (int i = 1; i <= 4; ++i) {
        power_basis(f.xs[i], v, 4);
        double s = 0;
        for (int j = 1; j <= 4; ++j) s += v[j] * f.coeffs[j];
        EXPECT_NEAR(s, f.ys[i], 1e-10) << i;
    }
    EXPECT_NEAR(chi, 0.0, 1e-12);
    // The covariance is the inverse of a symmetric matrix.
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j < i; ++j)
            EXPECT_NEAR(f.covariance[i][j], f.covariance[j][i], 1e-9 * std::fabs(f.covariance[i][j]));
}

TEST(Lfit, ZeroSigmaGivesNonFiniteResults) {
    FitCase f(2);
    f.add(0, 1);
    f.add(1, 2, 0.0);
    f.add(2, 2);
    double chi = 0;
    ASSERT_TRUE(f.run(&chi));
    EXPECT_FALSE(std::isfinite(f.coeffs[1]) && std::isfinite(f.coeffs[2]) && std::isfinite(chi));
}

TEST(Lfit, RefusedHeapRequestWritesNothing) {
    int total = 0;
    {
        FitCase f(3);
        f.add(0, 1);
        f.add(1, 2);
        f.add(2, 5);
        f.add(3, 9);
        CountingHeap heap;
        double chi;
        ASSERT_TRUE(f.run(&chi));
        total = heap.requests();
        EXPECT_EQ(heap.live(), 0);
    }
    EXPECT_EQ(total, 6);  // right-hand side (two blocks), basis values, three elimination vectors
    for (int k = 1; k <= total; ++k) {
        FitCase f(3);
        f.add(0, 1);
        f.add(1, 2);
        f.add(2, 5);
        f.add(3, 9);
        f.coeffs = {0, 7, 7, 7};
        double chi = -3.0;
        CountingHeap heap(k);
        EXPECT_FALSE(f.run(&chi)) << k;
        EXPECT_EQ(heap.live(), 0) << k;
        EXPECT_EQ(chi, -3.0);
        for (int j = 1; j <= 3; ++j) {
            EXPECT_EQ(f.coeffs[j], 7.0);
            for (int l = 1; l <= 3; ++l) EXPECT_EQ(f.covariance[j][l], 99.0);
        }
    }
}

}  // namespace
