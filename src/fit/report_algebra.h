// Small dense linear algebra for the fit reports, on at most 16 x 16
// matrices: the Cholesky factor of a normal matrix and its solves and
// inverse in double-double, the change of a polynomial's variable by a
// shift, and the largest singular value of a double matrix.
#pragma once

#include "fit/ddouble.h"

namespace calmgr::fitalg {

constexpr int kMaxCoeffs = 16;

using dd::DD;
using Matrix = DD[kMaxCoeffs][kMaxCoeffs];
using DMatrix = double[kMaxCoeffs][kMaxCoeffs];

// Upper-triangular r with r'r = g for the symmetric m x m matrix g (upper
// triangle read). False when a pivot is not positive: g is not positive
// definite to double-double precision.
bool cholesky(const Matrix g, int m, Matrix r);

// b with r'r b = h, by the two triangular solves.
void cholesky_solve(const Matrix r, int m, const DD* h, DD* b);

// The inverse of the upper-triangular r (upper triangular; the rest 0).
void upper_inverse(const Matrix r, int m, Matrix inv);

// Coefficients a[0..m-1] (constant first) of p(t) become those of
// q(v) = p(v + shift).
void taylor_shift(DD* a, int m, double shift);

// Largest singular value of the m x m matrix a (by one-sided Jacobi).
double largest_singular_value(const DMatrix a, int m);

}  // namespace calmgr::fitalg
