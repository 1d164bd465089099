// INVRTP: inversion in place of the small t x t and g x g matrices (the
// canonical trait transformation, the group block), with partial pivoting as
// a fallback.
//
//   a   in/out  at least ld x n values, column-major: the matrix in rows 1..n
//               of columns 1..n on entry, its inverse there on return
//   ld  in      leading dimension of a
//   n   in      the order; n <= 0 (with ld >= n) returns without touching a
//
// INVRT alone stops on matrices that are invertible but meet a small pivot in
// the natural order (a permutation, as round 1 gives for uncorrelated traits).
// Here the natural order runs first, exactly as INVRT runs it, so every matrix
// INVRT inverts gets the same bits; only when it meets a pivot below 1.0e-12
// is the kept copy inverted again, choosing at step k the row i >= k with the
// largest |a(i,k)| (the first on ties). Row exchanges of the working array
// leave the inverse with its columns exchanged; they are undone in reverse
// order at the end.
//
// Stops (message on the listing, exit status 1):
//   n > ld                    as INVRT
//   a chosen pivot below 1.0e-12 as well
//                             "0DIAGONAL ELEMENT = 0 ENCOUNTERED IN SUBR INVRT"
#include <cmath>
#include <utility>
#include <vector>

#include "kesta/matrix/gauss_jordan.h"
#include "kesta/matrix/kernels.h"
#include "kesta/model.h"

void INVRTP(double* ap, int ld, int n) {
  if (n > ld) invrt_dimension_stop();
  if (n <= 0) return;
  const M a{ap, ld};
  std::vector<double> kept(static_cast<size_t>(n) * n);
  const M c{kept.data(), n};
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) c(i, j) = a(i, j);

  bool natural = true;
  for (int k = 1; k <= n && natural; ++k) {
    if (std::fabs(a(k, k)) < INVRT_TINY)
      natural = false;
    else
      gauss_jordan_step(ap, ld, n, k);
  }
  if (natural) return;

  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) a(i, j) = c(i, j);
  std::vector<int> piv(static_cast<size_t>(n) + 1);
  for (int k = 1; k <= n; ++k) {
    int p = k;
    double big = std::fabs(a(k, k));
    for (int i = k + 1; i <= n; ++i)
      if (std::fabs(a(i, k)) > big) {
        p = i;
        big = std::fabs(a(i, k));
      }
    piv[k] = p;
    if (p != k)
      for (int j = 1; j <= n; ++j) std::swap(a(k, j), a(p, j));
    if (std::fabs(a(k, k)) < INVRT_TINY) invrt_pivot_stop();
    gauss_jordan_step(ap, ld, n, k);
  }
  for (int k = n; k >= 1; --k)
    if (piv[k] != k)
      for (int i = 1; i <= n; ++i) std::swap(a(i, k), a(i, piv[k]));
}
