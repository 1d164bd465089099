// INVRT: inversion in place by Gauss-Jordan elimination, pivots in their
// natural order, no row or column exchanges.
//
//   a   in/out  at least ld x n values, column-major: the matrix in rows 1..n
//               of columns 1..n on entry, its inverse there on return; rows
//               n+1..ld are not touched
//   ld  in      leading dimension of a
//   n   in      the order; n <= 0 (with ld >= n) returns without touching a
//
// Stops (message on the listing, exit status 1):
//   n > ld                    "0MATRIX DIMENSION LARGER THAN DECLARED", a untouched
//   a pivot below 1.0e-12     "0DIAGONAL ELEMENT = 0 ENCOUNTERED IN SUBR INVRT"
//
// Each pivot step k changes every column j whose row k is not exactly zero:
// a(i,j) = a(i,j) - a(i,k) e for i != k, with e = a(k,j) and a(i,k) the
// scaled column k of that step, then a(k,j) = -(e r). The results are those
// of invrt_literal to the bit (a NaN may come out with the other sign), but
// the steps go in blocks of pivots K, so that the matrix is passed over once
// per block instead of once per pivot:
//   A. the block's own columns take their steps as in the literal form, and
//      column k is kept as it stands right after its scaling;
//   B. every other column runs the block's steps on its rows K alone, which
//      gives its multipliers e step by step (an exact zero passed over);
//   C. its remaining rows then receive the products of the kept columns with
//      those multipliers, each element its terms in ascending k.
// Every element thus receives the same operations in the same order.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "kesta/matrix/gauss_jordan.h"
#include "kesta/matrix/kernels.h"
#include "kesta/matrix/lanes.h"
#include "kesta/model.h"

namespace {

// Stage C for rows i0..i0+31 of the active columns: the block's kept columns
// p (column kk at p + kk n) times each column's multipliers mult (b per
// column), an exact zero passed over, across the lanes.
void apply_block32(const M& a, int i0, const double* p, int n, const std::vector<int>& active, const double* mult,
                   int b, int bw) {
  for (int j : active) {
    double* col = &a(i0, j);
    v8 x0 = load8(col), x1 = load8(col + 8), x2 = load8(col + 16), x3 = load8(col + 24);
    const double* e = mult + static_cast<size_t>(j - 1) * b;
    for (int kk = 0; kk < bw; ++kk) {
      if (e[kk] == 0.0) continue;
      const v8 ev = splat8(e[kk]);
      const double* pk = p + static_cast<size_t>(kk) * n + (i0 - 1);
      x0 = x0 - load8(pk) * ev;
      x1 = x1 - load8(pk + 8) * ev;
      x2 = x2 - load8(pk + 16) * ev;
      x3 = x3 - load8(pk + 24) * ev;
    }
    store8(col, x0);
    store8(col + 8, x1);
    store8(col + 16, x2);
    store8(col + 24, x3);
  }
}

// The same for rows i0..i0+7.
void apply_block8(const M& a, int i0, const double* p, int n, const std::vector<int>& active, const double* mult,
                  int b, int bw) {
  for (int j : active) {
    double* col = &a(i0, j);
    v8 x = load8(col);
    const double* e = mult + static_cast<size_t>(j - 1) * b;
    for (int kk = 0; kk < bw; ++kk)
      if (e[kk] != 0.0) x = x - load8(p + static_cast<size_t>(kk) * n + (i0 - 1)) * splat8(e[kk]);
    store8(col, x);
  }
}

}  // namespace

void invrt_blocked(double* ap, int ld, int n, int b) {
  if (n > ld) invrt_dimension_stop();
  if (n <= 0) return;
  b = std::max(1, std::min(b, n));
  const M a{ap, ld};
  std::vector<double> kept = work<double>(static_cast<size_t>(n) * b);  // column k0+kk at kk n
  std::vector<double> mult = work<double>(static_cast<size_t>(n) * b);  // column j's multipliers at (j-1) b
  std::vector<double> r(b);
  std::vector<int> active;
  active.reserve(n);
  for (int k0 = 1; k0 <= n; k0 += b) {
    const int k1 = std::min(n, k0 + b - 1);
    const int bw = k1 - k0 + 1;
    auto p = [&](int i, int k) -> double& { return kept[static_cast<size_t>(k - k0) * n + (i - 1)]; };

    // A. The block's steps on its own columns.
    for (int k = k0; k <= k1; ++k) {
      if (std::fabs(a(k, k)) < INVRT_TINY) invrt_pivot_stop();
      const double rk = 1.0 / a(k, k);
      r[k - k0] = rk;
      for (int i = 1; i <= n; ++i) a(i, k) = a(i, k) * rk;
      a(k, k) = rk;
      std::memcpy(&p(1, k), &a(1, k), n * sizeof(double));
      for (int j = k0; j <= k1; ++j) {
        if (j == k) continue;
        const double e = a(k, j);
        if (e == 0.0) continue;
        subtract_multiple(&a(1, j), &a(1, k), e, k - 1);
        subtract_multiple(&a(k + 1, j), &a(k + 1, k), e, n - k);
        a(k, j) = -(e * rk);
      }
    }

    // B. Rows K of every other column, step by step: the multipliers.
    active.clear();
    for (int j = 1; j <= n; ++j) {
      if (j == k0) {
        j = k1;
        continue;
      }
      double* e = &mult[static_cast<size_t>(j - 1) * b];
      bool any = false;
      for (int k = k0; k <= k1; ++k) {
        const double ek = a(k, j);
        e[k - k0] = ek;
        if (ek == 0.0) continue;
        any = true;
        for (int i = k0; i <= k1; ++i)
          if (i != k) a(i, j) = a(i, j) - p(i, k) * ek;
        a(k, j) = -(ek * r[k - k0]);
      }
      if (any) active.push_back(j);
    }
    if (active.empty()) continue;

    // C. The other rows of those columns, 32 rows at a time.
    for (const auto& range : {std::make_pair(1, k0 - 1), std::make_pair(k1 + 1, n)}) {
      int i = range.first;
      for (; i + 31 <= range.second; i += 32) apply_block32(a, i, kept.data(), n, active, mult.data(), b, bw);
      for (; i + 7 <= range.second; i += 8) apply_block8(a, i, kept.data(), n, active, mult.data(), b, bw);
      for (; i <= range.second; ++i)
        for (int j : active) {
          const double* e = &mult[static_cast<size_t>(j - 1) * b];
          double x = a(i, j);
          for (int k = k0; k <= k1; ++k)
            if (e[k - k0] != 0.0) x = x - p(i, k) * e[k - k0];
          a(i, j) = x;
        }
    }
  }
}

void INVRT(double* a, int ld, int n) { invrt_blocked(a, ld, n, 64); }
