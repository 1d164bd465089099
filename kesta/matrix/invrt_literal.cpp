// invrt_literal: INVRT with its loops as the elimination states them, one
// pivot step over the whole matrix at a time; INVRT computes the same bits
// faster and is held to this form. Its step is also INVRTP's.
//
// Inversion in place by Gauss-Jordan elimination, pivots in their natural
// order, no row or column exchanges.
//
//   a   in/out  at least ld x n values, column-major: the matrix in rows 1..n
//               of columns 1..n on entry, its inverse there on return; rows
//               n+1..ld are not touched
//   ld  in      leading dimension of a
//   n   in      the order; n <= 0 (with ld >= n) returns without touching a
//
// Stops (message on the listing, exit status 1):
//   n > ld                    "0MATRIX DIMENSION LARGER THAN DECLARED", a untouched
//   a pivot below 1.0e-12     "0DIAGONAL ELEMENT = 0 ENCOUNTERED IN SUBR INVRT",
//                             the earlier pivots already applied
#include <cmath>

#include "kesta/matrix/gauss_jordan.h"
#include "kesta/matrix/kernels.h"
#include "kesta/model.h"
#include "records/records.h"

void invrt_pivot_stop() {
  static const Format f("('0DIAGONAL ELEMENT = 0 ENCOUNTERED IN SUBR INVRT')");
  FMTWRT(LISTING, f);
  RUNSTOP();
}

void gauss_jordan_step(double* ap, int ld, int n, int k) {
  const M a{ap, ld};
  const double r = 1.0 / a(k, k);
  for (int i = 1; i <= n; ++i) a(i, k) = a(i, k) * r;
  a(k, k) = r;
  for (int j = 1; j <= n; ++j) {
    if (j == k) continue;
    const double e = a(k, j);
    // Exact zeros of the pivot row are passed over: a triangular matrix keeps
    // its zero triangle exactly, and 0 * inf never arises from them.
    if (e == 0.0) continue;
    for (int i = 1; i < k; ++i) a(i, j) = a(i, j) - a(i, k) * e;
    for (int i = k + 1; i <= n; ++i) a(i, j) = a(i, j) - a(i, k) * e;
    a(k, j) = -(e * r);
  }
}

void invrt_dimension_stop() {
  static const Format f("('0MATRIX DIMENSION LARGER THAN DECLARED')");
  FMTWRT(LISTING, f);
  RUNSTOP();
}

void invrt_literal(double* ap, int ld, int n) {
  if (n > ld) invrt_dimension_stop();
  const M a{ap, ld};
  for (int k = 1; k <= n; ++k) {
    if (std::fabs(a(k, k)) < INVRT_TINY) invrt_pivot_stop();
    gauss_jordan_step(ap, ld, n, k);
  }
}
