// eigvec_literal: EIGVEC with its loop nests exactly as the procedure states
// them, one rotation applied to every row of z as soon as it is known. EIGVEC
// computes the same bits faster; this version is the reference it is held to.
//
// All eigenvalues and a full set of orthonormal eigenvectors of a real
// symmetric matrix: Householder reduction to tridiagonal form with the
// transformations accumulated, then the QL algorithm with implicit shifts on
// the accumulated transformations, the eigenvalues sorted at the end.
//
//   nm  in      leading dimension of a and z
//   n   in      the order, 1 <= n <= nm; n < 1 returns without touching
//               anything
//   a   in      nm x n: the symmetric matrix; only a(i,j), i >= j, is read;
//               nothing is written into a unless z is the same array
//   d   out     n values: the eigenvalues in ascending order
//   e   work    n values
//   z   out     nm x n: column j the normalised eigenvector of d(j); may be
//               the same array as a (the result is the same bits)
//
// Every operation is one rounded double-precision operation in the order
// below; sums run in the index order shown.
//
// Stops (message on the listing, exit status 1):
//   n > nm      "0MATRIX DIMENSION LARGER THAN DECLARED" (nothing fits)
//   30 QL iterations for one eigenvalue without convergence
//               " PROBLEMS IN SUBROUTINE EIGVEC AT ROW" and the row l
//               (its place in the tridiagonal matrix, before the sort)
#include <cmath>

#include "kesta/matrix/eigvec_hyp.h"
#include "kesta/matrix/kernels.h"
#include "kesta/model.h"
#include "records/records.h"


void eigvec_literal(int nm, int n, double* ap, double* dp, double* ep, double* zp) {
  if (n < 1) return;
  if (n > nm) {
    static const Format f("('0MATRIX DIMENSION LARGER THAN DECLARED')");
    FMTWRT(LISTING, f);
    RUNSTOP();
  }
  const M a{ap, nm}, z{zp, nm};
  const V d{dp}, e{ep};

  // ---- Reduction to tridiagonal form ----
  for (int i = 1; i <= n; ++i) {
    for (int j = i; j <= n; ++j) z(j, i) = a(j, i);
    d(i) = a(n, i);
  }
  if (n > 1) {
    for (int i = n; i >= 2; --i) {
      const int l = i - 1;
      double h = 0.0, scale = 0.0;
      if (l >= 2)
        for (int k = 1; k <= l; ++k) scale = scale + std::fabs(d(k));
      if (l < 2 || scale == 0.0) {
        e(i) = d(l);
        for (int j = 1; j <= l; ++j) {
          d(j) = z(l, j);
          z(i, j) = 0.0;
          z(j, i) = 0.0;
        }
        d(i) = 0.0;
        continue;
      }
      // The scaled row stays in d.
      for (int k = 1; k <= l; ++k) {
        d(k) = d(k) / scale;
        h = h + d(k) * d(k);
      }
      double f = d(l);
      // A comparison with zero: f = -0.0 takes the negative root.
      double g = f < 0.0 ? std::sqrt(h) : -std::sqrt(h);
      e(i) = scale * g;
      h = h - f * g;
      d(l) = f - g;
      // e = A u, the lower triangle read column by column.
      for (int j = 1; j <= l; ++j) e(j) = 0.0;
      for (int j = 1; j <= l; ++j) {
        f = d(j);
        z(j, i) = f;
        g = e(j) + z(j, j) * f;
        for (int k = j + 1; k <= l; ++k) {
          g = g + z(k, j) * d(k);
          e(k) = e(k) + z(k, j) * f;
        }
        e(j) = g;
      }
      f = 0.0;
      for (int j = 1; j <= l; ++j) {
        e(j) = e(j) / h;
        f = f + e(j) * d(j);
      }
      const double hh = f / (h + h);
      for (int j = 1; j <= l; ++j) e(j) = e(j) - hh * d(j);
      // Rank-two update of the lower triangle.
      for (int j = 1; j <= l; ++j) {
        f = d(j);
        g = e(j);
        for (int k = j; k <= l; ++k) z(k, j) = (z(k, j) - f * e(k)) - g * d(k);
        d(j) = z(l, j);
        z(i, j) = 0.0;
      }
      d(i) = h;
    }

    // ---- Accumulation of the transformations ----
    for (int i = 2; i <= n; ++i) {
      const int l = i - 1;
      z(n, l) = z(l, l);
      z(l, l) = 1.0;
      const double h = d(i);
      if (h != 0.0) {
        for (int k = 1; k <= l; ++k) d(k) = z(k, i) / h;
        for (int j = 1; j <= l; ++j) {
          double g = 0.0;
          for (int k = 1; k <= l; ++k) g = g + z(k, i) * z(k, j);
          for (int k = 1; k <= l; ++k) z(k, j) = z(k, j) - g * d(k);
        }
      }
      for (int k = 1; k <= l; ++k) z(k, i) = 0.0;
    }
  }
  for (int i = 1; i <= n; ++i) {
    d(i) = z(n, i);
    z(n, i) = 0.0;
  }
  z(n, n) = 1.0;
  e(1) = 0.0;
  if (n == 1) return;

  // ---- Implicit QL ----
  for (int i = 2; i <= n; ++i) e(i - 1) = e(i);
  double f = 0.0, tst1 = 0.0;
  e(n) = 0.0;
  for (int l = 1; l <= n; ++l) {
    int iter = 0;
    double h = std::fabs(d(l)) + std::fabs(e(l));
    if (tst1 < h) tst1 = h;
    // The first negligible subdiagonal element from l on; e(n) is zero, and a
    // NaN that never tests negligible ends the search at n as well.
    int m = l;
    while (m < n && !(tst1 + std::fabs(e(m)) == tst1)) ++m;
    if (m != l) {
      do {
        if (iter == 30) {
          LSTWRT(LISTING, {" PROBLEMS IN SUBROUTINE EIGVEC AT ROW", l});
          RUNSTOP();
        }
        ++iter;
        // Shift.
        double g = d(l);
        double p = (d(l + 1) - g) / (2.0 * e(l));
        double r = eigvec_hyp(p, 1.0);
        const double sigma = p < 0.0 ? -r : r;
        d(l) = e(l) / (p + sigma);
        d(l + 1) = e(l) * (p + sigma);
        const double dl1 = d(l + 1);
        h = g - d(l);
        for (int i = l + 2; i <= n; ++i) d(i) = d(i) - h;
        f = f + h;
        // QL transformation.
        p = d(m);
        double c = 1.0, c2 = c, c3 = c;
        const double el1 = e(l + 1);
        double s = 0.0, s2 = 0.0;
        for (int i = m - 1; i >= l; --i) {
          c3 = c2;
          c2 = c;
          s2 = s;
          g = c * e(i);
          h = c * p;
          r = eigvec_hyp(p, e(i));
          e(i + 1) = s * r;
          s = e(i) / r;
          c = p / r;
          p = c * d(i) - s * g;
          d(i + 1) = h + s * (c * g + s * d(i));
          for (int k = 1; k <= n; ++k) {
            const double zk = z(k, i + 1);
            z(k, i + 1) = s * z(k, i) + c * zk;
            z(k, i) = c * z(k, i) - s * zk;
          }
        }
        p = -(s * s2 * c3 * el1 * e(l)) / dl1;
        e(l) = s * p;
        d(l) = c * p;
      } while (tst1 + std::fabs(e(l)) > tst1);
    }
    d(l) = d(l) + f;
  }

  // ---- Sort, ascending; the test is strict so equal values keep their order ----
  for (int i = 1; i <= n - 1; ++i) {
    int k = i;
    double p = d(i);
    for (int j = i + 1; j <= n; ++j)
      if (!(d(j) >= p)) {
        k = j;
        p = d(j);
      }
    if (k != i) {
      d(k) = d(i);
      d(i) = p;
      for (int j = 1; j <= n; ++j) {
        const double t = z(j, i);
        z(j, i) = z(j, k);
        z(j, k) = t;
      }
    }
  }
}
