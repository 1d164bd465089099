// cholpk_literal: CHOLPK with its loops as the factorisation states them, each
// row's updates applied to the whole trailing triangle at once; CHOLPK
// computes the same bits faster and is held to this form.
//
// Cholesky factorisation A = U'U in place, right-looking, row by row.
//
//   ap   in/out  n(n+1)/2 values: on entry the symmetric A as its packed upper
//                triangle by rows, on return the upper factor U in that order
//   npk  in      the packed length; not read
//   n    in      the order; n <= 0 returns without touching ap
//
// Stops: none. No pivot is tested; a zero or negative pivot leaves infinities
// or NaNs that spread through the rest of the factor.
#include <cmath>
#include <cstdint>

#include "kesta/matrix/kernels.h"

void cholpk_literal(double* ap, int n) {
  // Element (r,c), r <= c, of the packed upper triangle by rows. The value
  // numbers are formed in 64 bits; they are those of 32-bit arithmetic for
  // every order whose packed length fits it.
  const int64_t nn = n;
  auto A = [ap, nn](int64_t r, int64_t c) -> double& { return ap[(r - 1) * (2 * nn - r) / 2 + c - 1]; };

  for (int i = 1; i <= n; ++i) {
    A(i, i) = std::sqrt(A(i, i));
    if (i == n) return;
    const double uii = A(i, i);
    // A division for each element, not a product with the reciprocal.
    for (int j = i + 1; j <= n; ++j) A(i, j) = A(i, j) / uii;
    // Each trailing element receives the rows i in ascending order, each
    // product rounded and subtracted by itself. An exactly zero multiplier
    // leaves its row unchanged (a NaN does not count as zero).
    for (int j = i + 1; j <= n; ++j) {
      const double e = A(i, j);
      if (e == 0.0) continue;
      for (int k = j; k <= n; ++k) A(j, k) = A(j, k) - A(i, k) * e;
    }
  }
}
