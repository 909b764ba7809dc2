// Linear least-squares engine: 1-based work arrays from the process heap,
// Gauss-Jordan elimination with full pivoting and the weighted linear fit
// on a basis callback. Internal to the library; its only user is the
// polynomial fit. Numeric trouble (singular systems, nothing to fit) only
// goes to fit_error; a refused heap request is the one failure the routines
// report, so that no caller ever works on an array it did not obtain.
#pragma once

#include <cstddef>
#include <cstdint>

namespace calmgr {

// ---- Heap and diagnostics -------------------------------------------------

using FitAllocFn = void* (*)(std::size_t size);
using FitFreeFn = void (*)(void* block);

// Replaces the heap the work arrays come from (std::malloc / std::free by
// default; a null argument restores its default). Lets tests refuse chosen
// requests and count live blocks.
void set_fit_heap(FitAllocFn alloc_fn, FitFreeFn free_fn);

// The engine's single diagnostic sink. It does nothing with the text:
// callers never learn of a message and carry on.
void fit_error(const char* message);

// Observes every text passed to fit_error (null by default, nothing
// observes). For tests only; it does not change what the engine does.
using FitErrorObserver = void (*)(const char* message);
void set_fit_error_observer(FitErrorObserver observer);

// ---- Work arrays ------------------------------------------------------------
// A vector lo..hi is one heap block of hi - lo + 2 elements with index lo at
// the block's second element (the first is a spare nothing touches). A
// matrix is an array of row pointers (the slot in front of row_lo keeps the
// element block's address) and one block of rows * cols + 1 doubles holding
// the rows one after another, element (row_lo, col_lo) at the block's second
// element. Contents are not initialised. The base pointers are offset so
// that [lo] is the first element; only lower bounds 0 and 1 are accepted
// (the library uses 1), which keeps them inside their blocks. Each maker
// returns null when the heap refuses a block (or the bounds describe no
// array) and then holds nothing.

double* rvector(int32_t lo, int32_t hi);
void rvector_release(double* vector, int32_t lo, int32_t hi);

// Passes "allocation failure in ivector()" to fit_error when the heap
// refuses the block.
int32_t* ivector(int32_t lo, int32_t hi);
void ivector_release(int32_t* vector, int32_t lo, int32_t hi);

// Releases the element block, then the row-pointer array.
double** rmatrix(int32_t row_lo, int32_t row_hi, int32_t col_lo, int32_t col_hi);
void rmatrix_release(double** matrix, int32_t row_lo, int32_t row_hi, int32_t col_lo, int32_t col_hi);

// ---- Basis --------------------------------------------------------------------

// Fills values[1..n] with f1(x)..fn(x).
using BasisFn = void (*)(double x, double* values, int32_t n);

// values[1] = 1.0 (written even when n < 1), values[j] = values[j-1] * x.
void power_basis(double x, double* values, int32_t n);

// ---- Gauss-Jordan elimination ----------------------------------------------

// The three integer work vectors 1..n of an elimination: pivot column and
// pivot row of each step, use count per index.
struct GaussjWork {
    int32_t* pivot_col;
    int32_t* pivot_row;
    int32_t* use_count;
};

// Makes the three vectors in that order; false (nothing held) when the heap
// refuses one.
[[nodiscard]] bool gaussj_work_make(GaussjWork& work, int32_t n);
void gaussj_work_release(GaussjWork& work, int32_t n);

// Replaces matrix[1..n][1..n] by its inverse and each column of
// rhs[1..n][1..num_rhs] by the solution for it, on work made for n.
void gaussj_solve(double** matrix, int32_t n, double** rhs, int32_t num_rhs, const GaussjWork& work);

// gaussj_solve on its own work vectors. False when they could not be made;
// matrix and rhs are then untouched.
[[nodiscard]] bool gaussj(double** matrix, int32_t n, double** rhs, int32_t num_rhs);

// ---- Linear least squares --------------------------------------------------

// Moves the covariance of the num_fitted fitted coefficients, held in the
// top-left block in fitted order, to their own positions 1..num_coeffs;
// rows and columns of held coefficients become zero.
void sort_covariance(double** covariance, int32_t num_coeffs, const int32_t* fit_mask, int32_t num_fitted);

// Fits the coefficients marked nonzero in fit_mask[1..num_coeffs] to the
// samples xs/ys/sigmas[1..num_samples]; held coefficients keep their values
// in coeffs. Writes coeffs, covariance[1..num_coeffs][1..num_coeffs] and
// *chi_square. False when a work array could not be obtained: then nothing
// has been written.
[[nodiscard]] bool lfit(const double* xs, const double* ys, const double* sigmas, int32_t num_samples,
                        double* coeffs, const int32_t* fit_mask, int32_t num_coeffs, double** covariance,
                        double* chi_square, BasisFn basis);

}  // namespace calmgr
