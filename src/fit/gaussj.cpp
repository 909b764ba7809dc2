// Gauss-Jordan elimination with full pivoting: inverts a matrix in place and
// solves it for several right-hand sides at once. The pivot choice is fixed
// to the last candidate of greatest magnitude in row-major order, and a
// singular system runs to the end with infinities and NaN rather than
// stopping, so results are reproducible bit for bit.
#include "fit/lsq.h"

#include <cmath>

namespace calmgr {

bool gaussj_work_make(GaussjWork& work, int32_t n) {
    work.pivot_col = ivector(1, n);
    work.pivot_row = work.pivot_col != nullptr ? ivector(1, n) : nullptr;
    work.use_count = work.pivot_row != nullptr ? ivector(1, n) : nullptr;
    if (work.use_count == nullptr) {
        gaussj_work_release(work, n);
        return false;
    }
    return true;
}

void gaussj_work_release(GaussjWork& work, int32_t n) {
    ivector_release(work.use_count, 1, n);
    ivector_release(work.pivot_row, 1, n);
    ivector_release(work.pivot_col, 1, n);
    work = GaussjWork{nullptr, nullptr, nullptr};
}

void gaussj_solve(double** matrix, int32_t n, double** rhs, int32_t num_rhs, const GaussjWork& work) {
    int32_t* const pivot_col = work.pivot_col;
    int32_t* const pivot_row = work.pivot_row;
    int32_t* const use_count = work.use_count;
    for (int32_t j = 1; j <= n; ++j) use_count[j] = 0;

    // 0 means no pivot yet; a step without a candidate keeps the previous
    // step's pivot.
    int32_t row = 0;
    int32_t col = 0;
    for (int32_t step = 1; step <= n; ++step) {
        double big = 0.0;
        for (int32_t j = 1; j <= n; ++j) {
            if (use_count[j] == 1) continue;
            for (int32_t k = 1; k <= n; ++k) {
                if (use_count[k] == 0) {
                    // >= lets the last of equal magnitudes win; NaN never
                    // compares, so it is never taken.
                    const double size = std::fabs(matrix[j][k]);
                    if (size >= big) {
                        big = size;
                        row = j;
                        col = k;
                    }
                } else if (use_count[k] > 1) {
                    fit_error("gaussj: Singular Matrix-1");
                }
            }
        }
        if (col == 0) {
            // Only a first step whose every element is NaN gets here: there
            // is no previous pivot. Take the first unused index on the
            // diagonal, which keeps every index inside 1..n; the elimination
            // then spreads the NaN like any later step without a candidate.
            int32_t k = 1;
            while (k < n && use_count[k] != 0) ++k;
            row = k;
            col = k;
        }
        ++use_count[col];

        if (row != col) {
            for (int32_t l = 1; l <= n; ++l) {
                const double t = matrix[row][l];
                matrix[row][l] = matrix[col][l];
                matrix[col][l] = t;
            }
            for (int32_t l = 1; l <= num_rhs; ++l) {
                const double t = rhs[row][l];
                rhs[row][l] = rhs[col][l];
                rhs[col][l] = t;
            }
        }
        pivot_row[step] = row;
        pivot_col[step] = col;

        if (matrix[col][col] == 0.0) fit_error("gaussj: Singular Matrix-2");
        const double inverse = 1.0 / matrix[col][col];
        matrix[col][col] = 1.0;
        for (int32_t l = 1; l <= n; ++l) matrix[col][l] *= inverse;
        for (int32_t l = 1; l <= num_rhs; ++l) rhs[col][l] *= inverse;

        for (int32_t i = 1; i <= n; ++i) {
            if (i == col) continue;
            const double factor = matrix[i][col];
            matrix[i][col] = 0.0;
            for (int32_t l = 1; l <= n; ++l) matrix[i][l] -= matrix[col][l] * factor;
            for (int32_t l = 1; l <= num_rhs; ++l) rhs[i][l] -= rhs[col][l] * factor;
        }
    }

    // Undo the row exchanges as column exchanges of the inverse, last first.
    for (int32_t step = n; step >= 1; --step) {
        const int32_t a = pivot_row[step];
        const int32_t b = pivot_col[step];
        if (a == b) continue;
        for (int32_t i = 1; i <= n; ++i) {
            const double t = matrix[i][a];
            matrix[i][a] = matrix[i][b];
            matrix[i][b] = t;
        }
    }
}

bool gaussj(double** matrix, int32_t n, double** rhs, int32_t num_rhs) {
    GaussjWork work{};
    if (!gaussj_work_make(work, n)) return false;
    gaussj_solve(matrix, n, rhs, num_rhs, work);
    gaussj_work_release(work, n);
    return true;
}

}  // namespace calmgr
