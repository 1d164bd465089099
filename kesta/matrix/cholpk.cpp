// CHOLPK: Cholesky factorisation A = U'U in place, right-looking, row by row.
//
//   ap   in/out  n(n+1)/2 values: on entry the symmetric A as its packed upper
//                triangle by rows, on return the upper factor U in that order
//   npk  in      the packed length; not read
//   n    in      the order; n <= 0 returns without touching ap
//
// Stops: none. No pivot is tested; a zero or negative pivot leaves infinities
// or NaNs that spread through the rest of the factor.
//
// Row i of U is U(i,i) = sqrt(A(i,i)) and U(i,j) = A(i,j) / U(i,i) (a division
// each), and every element A(j,k) of the trailing triangle receives
// A(j,k) = A(j,k) - U(i,k) U(i,j) from the rows i < j in ascending order,
// passed over where U(i,j) is exactly zero. The results are those of
// cholpk_literal to the bit (a NaN may come out with the other sign), but the
// rows go in blocks: the block's rows are factored as in the literal form
// within the block's own columns; then, a strip of columns at a time, the
// block's rows are made final in the strip (each element's updates from the
// block's rows above it, then its division) and the rows below receive the
// block's updates, each element its terms in ascending i, while the block's
// strip stays in the cache. The trailing triangle is passed over once per
// block instead of once per row.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "kesta/matrix/kernels.h"
#include "kesta/matrix/lanes.h"

namespace {

// A full strip of 32 columns of two rows ya and yb: the block's rows u (row
// i - i0 of the block at u[i - i0]) times each row's multipliers ea and eb,
// an exact zero passed over, each element its terms in ascending i.
void strip_pair(double* ya, double* yb, const double* const* u, const double* ea, const double* eb, int bw) {
  v8 x0 = load8(ya), x1 = load8(ya + 8), x2 = load8(ya + 16), x3 = load8(ya + 24);
  v8 y0 = load8(yb), y1 = load8(yb + 8), y2 = load8(yb + 16), y3 = load8(yb + 24);
  for (int i = 0; i < bw; ++i) {
    const bool use_a = ea[i] != 0.0, use_b = eb[i] != 0.0;
    if (!use_a && !use_b) continue;
    const double* ui = u[i];
    const v8 u0 = load8(ui), u1 = load8(ui + 8), u2 = load8(ui + 16), u3 = load8(ui + 24);
    if (use_a) {
      const v8 ev = splat8(ea[i]);
      x0 = x0 - u0 * ev;
      x1 = x1 - u1 * ev;
      x2 = x2 - u2 * ev;
      x3 = x3 - u3 * ev;
    }
    if (use_b) {
      const v8 ev = splat8(eb[i]);
      y0 = y0 - u0 * ev;
      y1 = y1 - u1 * ev;
      y2 = y2 - u2 * ev;
      y3 = y3 - u3 * ev;
    }
  }
  store8(ya, x0);
  store8(ya + 8, x1);
  store8(ya + 16, x2);
  store8(ya + 24, x3);
  store8(yb, y0);
  store8(yb + 8, y1);
  store8(yb + 16, y2);
  store8(yb + 24, y3);
}

}  // namespace

void cholpk_blocked(double* ap, int n, int b) {
  if (n <= 0) return;
  b = std::max(1, std::min(b, n));
  constexpr int S = 32;  // columns per strip
  // Element (r,c), r <= c, of the packed upper triangle by rows.
  const int64_t nn = n;
  auto A = [ap, nn](int64_t r, int64_t c) -> double& { return ap[(r - 1) * (2 * nn - r) / 2 + c - 1]; };
  // Row j's multipliers U(i,j), i in the block, at (j-1) b.
  std::vector<double> mult = work<double>(static_cast<size_t>(n) * b);
  // The rows below the block with a nonzero multiplier; those whose
  // multipliers are all nonzero (dense) and the others (sparse) apart.
  std::vector<int> active, dense, sparse;
  active.reserve(n);
  dense.reserve(n);
  sparse.reserve(n);
  std::vector<const double*> urow(b);  // the block's rows at the strip's first column
  AlignedWork<double> ubuf = aligned_work<double>(static_cast<size_t>(b) * S);
  std::vector<int> rest;  // the rows of a strip taken one by one
  rest.reserve(n);

  for (int i0 = 1; i0 <= n; i0 += b) {
    const int i1 = std::min(n, i0 + b - 1);
    // The block's rows within the block's own columns; their columns beyond
    // go strip by strip below, each strip just before it serves the rows
    // under the block.
    for (int i = i0; i <= i1; ++i) {
      A(i, i) = std::sqrt(A(i, i));
      if (i == n) return;
      divide(&A(i, i + 1), &A(i, i + 1), A(i, i), i1 - i);
      for (int j = i + 1; j <= i1; ++j) {
        const double e = A(i, j);
        if (e == 0.0) continue;
        subtract_multiple(&A(j, j), &A(i, j), e, i1 - j + 1);
      }
    }
    // The rows below, strip by strip; a row joins the strip that holds its
    // diagonal, with its multipliers (the block's column there, final by then).
    active.clear();
    dense.clear();
    sparse.clear();
    auto em = [&](int j) { return &mult[static_cast<size_t>(j - 1) * b]; };
    size_t na = 0, nd = 0, ns = 0;  // active, dense and sparse rows left of the strip
    for (int k0 = i1 + 1; k0 <= n; k0 += S) {
      const int k1 = std::min(n, k0 + S - 1);
      const bool full = k1 - k0 + 1 == S;
      // The block's rows of the strip, made final: each element its updates
      // from the block's rows above in ascending order, then its division by
      // the row's diagonal. A full strip's rows are kept side by side as
      // well, so that they stay in the first-level cache whatever their
      // places in the triangle.
      for (int i = i0; i <= i1; ++i) {
        double* y = &A(i, k0);
        if (full) {
          double* out = &ubuf[static_cast<size_t>(i - i0) * S];
          v8 x0 = load8(y), x1 = load8(y + 8), x2 = load8(y + 16), x3 = load8(y + 24);
          for (int h = i0; h < i; ++h) {
            const double e = A(h, i);
            if (e == 0.0) continue;
            const v8 ev = splat8(e);
            const double* u = &ubuf[static_cast<size_t>(h - i0) * S];
            x0 = x0 - load8(u) * ev;
            x1 = x1 - load8(u + 8) * ev;
            x2 = x2 - load8(u + 16) * ev;
            x3 = x3 - load8(u + 24) * ev;
          }
          const v8 d = splat8(A(i, i));
          x0 = x0 / d, x1 = x1 / d, x2 = x2 / d, x3 = x3 / d;
          store8(y, x0), store8(y + 8, x1), store8(y + 16, x2), store8(y + 24, x3);
          store8(out, x0), store8(out + 8, x1), store8(out + 16, x2), store8(out + 24, x3);
          urow[i - i0] = out;
        } else {
          for (int h = i0; h < i; ++h) {
            const double e = A(h, i);
            if (e == 0.0) continue;
            subtract_multiple(y, &A(h, k0), e, k1 - k0 + 1);
          }
          divide(y, y, A(i, i), k1 - k0 + 1);
          urow[i - i0] = y;
        }
      }
      for (int j = k0; j <= k1; ++j) {
        double* e = em(j);
        bool any = false, all = true;
        for (int i = i0; i <= i1; ++i) {
          e[i - i0] = A(i, j);
          any = any || e[i - i0] != 0.0;
          all = all && e[i - i0] != 0.0;
        }
        if (any) {
          active.push_back(j);
          (all ? dense : sparse).push_back(j);
        }
      }
      // The rows lie far apart in the packed triangle: a later row's strip
      // is fetched while one is being updated.
      auto fetch = [&](const std::vector<int>& rows, size_t t) {
        if (t < rows.size() && rows[t] < k0)
          for (int r = 0; r < S; r += 8) __builtin_prefetch(&A(rows[t], k0 + r), 1);
      };
      while (na < active.size() && active[na] < k0) ++na;
      while (nd < dense.size() && dense[nd] < k0) ++nd;
      while (ns < sparse.size() && sparse[ns] < k0) ++ns;
      // The rows wholly to the left of the strip: the dense ones four at a
      // time, the sparse ones two at a time, so that each block value loaded
      // serves them all; the rest one by one below.
      size_t td = 0, ts = 0;
      if (full) {
        for (; td + 4 <= nd; td += 4) {
          double* y[4];
          const double* e[4];
          for (int m = 0; m < 4; ++m) {
            fetch(dense, td + 8 + m);
            y[m] = &A(dense[td + m], k0);
            e[m] = em(dense[td + m]);
          }
          subtract_products4x32(y, ubuf.data(), S, e, i1 - i0 + 1);
        }
        for (; ts + 2 <= ns; ts += 2) {
          fetch(sparse, ts + 2);
          fetch(sparse, ts + 3);
          strip_pair(&A(sparse[ts], k0), &A(sparse[ts + 1], k0), urow.data(), em(sparse[ts]), em(sparse[ts + 1]),
                     i1 - i0 + 1);
        }
      }
      // The rows left over, then those whose own diagonal falls in the strip.
      rest.clear();
      if (full) {
        rest.insert(rest.end(), dense.begin() + td, dense.begin() + nd);
        rest.insert(rest.end(), sparse.begin() + ts, sparse.begin() + ns);
      } else {
        rest.insert(rest.end(), active.begin(), active.begin() + na);
      }
      for (size_t u = na; u < active.size() && active[u] <= k1; ++u) rest.push_back(active[u]);
      for (size_t t = 0; t < rest.size(); ++t) {
        const int j = rest[t];
        fetch(rest, t + 2);
        const double* e = em(j);
        const int kf = std::max(j, k0);
        double* y = &A(j, kf);
        if (kf == k0 && full) {
          v8 x0 = load8(y), x1 = load8(y + 8), x2 = load8(y + 16), x3 = load8(y + 24);
          for (int i = i0; i <= i1; ++i) {
            if (e[i - i0] == 0.0) continue;
            const v8 ev = splat8(e[i - i0]);
            const double* u = urow[i - i0];
            x0 = x0 - load8(u) * ev;
            x1 = x1 - load8(u + 8) * ev;
            x2 = x2 - load8(u + 16) * ev;
            x3 = x3 - load8(u + 24) * ev;
          }
          store8(y, x0);
          store8(y + 8, x1);
          store8(y + 16, x2);
          store8(y + 24, x3);
        } else {
          for (int i = i0; i <= i1; ++i)
            if (e[i - i0] != 0.0) subtract_multiple(y, &A(i, kf), e[i - i0], k1 - kf + 1);
        }
      }
    }
  }
}

void CHOLPK(double* ap, int npk, int n) {
  (void)npk;
#ifdef KESTA_LITERAL_KERNELS
  cholpk_literal(ap, n);
#else
  cholpk_blocked(ap, n, 192);
#endif
}
