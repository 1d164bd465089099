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
//
// Stage C passes over work whose result is known bit for bit: where all the
// kept columns are exactly zero on a stretch of rows (above the block, for a
// lower triangular matrix) and a column's multipliers are finite, every
// product is a signed zero, and x - (+-0) is x itself for every x but -0, a
// NaN or a subnormal (which the run may take as zero); a stretch without such
// values is left as it stands.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "kesta/matrix/gauss_jordan.h"
#include "kesta/matrix/kernels.h"
#include "kesta/matrix/lanes.h"
#include "kesta/model.h"

namespace {

typedef long long v8l __attribute__((vector_size(64)));

// Whether every lane of x is unchanged by subtracting a signed zero: +0, or
// a normal number or an infinity in magnitude (a NaN compares false).
inline bool keeps_under_zero(v8 x) {
  v8l bits;
  std::memcpy(&bits, &x, sizeof bits);
  v8l mag = bits & (v8l{} + 0x7fffffffffffffffLL);
  v8 ax;
  std::memcpy(&ax, &mag, sizeof ax);
  const v8l ok = (ax >= splat8(DBL_MIN)) | (bits == 0);
  long long all = -1;
  for (int c = 0; c < 8; ++c) all &= ok[c];
  return all != 0;
}

// Whether the kept columns kk < bw are exactly zero on rows i0..i0+count-1.
bool kept_zero(const double* p, int n, int i0, int count, int bw) {
  for (int kk = 0; kk < bw; ++kk) {
    const double* pk = p + static_cast<size_t>(kk) * n + (i0 - 1);
    for (int r = 0; r < count; ++r)
      if (pk[r] != 0.0) return false;
  }
  return true;
}

// Rows i0..i0+len-1 (len 32, 8 or 1) of one column col: the block's kept
// columns p (column kk at p + kk n) times the column's multipliers e, an
// exact zero passed over, each element its terms in ascending kk.
void apply_stretch(double* col, const double* p0, size_t n, int len, const double* e, int bw) {
  if (len == 32) {
    v8 x0 = load8(col), x1 = load8(col + 8), x2 = load8(col + 16), x3 = load8(col + 24);
    for (int kk = 0; kk < bw; ++kk) {
      if (e[kk] == 0.0) continue;
      const v8 ev = splat8(e[kk]);
      const double* pk = p0 + static_cast<size_t>(kk) * n;
      x0 = x0 - load8(pk) * ev;
      x1 = x1 - load8(pk + 8) * ev;
      x2 = x2 - load8(pk + 16) * ev;
      x3 = x3 - load8(pk + 24) * ev;
    }
    store8(col, x0);
    store8(col + 8, x1);
    store8(col + 16, x2);
    store8(col + 24, x3);
  } else if (len == 8) {
    v8 x = load8(col);
    for (int kk = 0; kk < bw; ++kk)
      if (e[kk] != 0.0) x = x - load8(p0 + static_cast<size_t>(kk) * n) * splat8(e[kk]);
    store8(col, x);
  } else {
    double x = *col;
    for (int kk = 0; kk < bw; ++kk)
      if (e[kk] != 0.0) x = x - p0[static_cast<size_t>(kk) * n] * e[kk];
    *col = x;
  }
}

// apply_stretch on 32 rows of two columns at once, so that each kept value
// loaded serves both; each column's terms as there.
void apply_stretch_pair(double* ca, double* cb, const double* p0, size_t n, const double* ea, const double* eb,
                        int bw) {
  v8 x0 = load8(ca), x1 = load8(ca + 8), x2 = load8(ca + 16), x3 = load8(ca + 24);
  v8 y0 = load8(cb), y1 = load8(cb + 8), y2 = load8(cb + 16), y3 = load8(cb + 24);
  for (int kk = 0; kk < bw; ++kk) {
    const bool use_a = ea[kk] != 0.0, use_b = eb[kk] != 0.0;
    if (!use_a && !use_b) continue;
    const double* pk = p0 + static_cast<size_t>(kk) * n;
    const v8 p0v = load8(pk), p1v = load8(pk + 8), p2v = load8(pk + 16), p3v = load8(pk + 24);
    if (use_a) {
      const v8 ev = splat8(ea[kk]);
      x0 = x0 - p0v * ev;
      x1 = x1 - p1v * ev;
      x2 = x2 - p2v * ev;
      x3 = x3 - p3v * ev;
    }
    if (use_b) {
      const v8 ev = splat8(eb[kk]);
      y0 = y0 - p0v * ev;
      y1 = y1 - p1v * ev;
      y2 = y2 - p2v * ev;
      y3 = y3 - p3v * ev;
    }
  }
  store8(ca, x0);
  store8(ca + 8, x1);
  store8(ca + 16, x2);
  store8(ca + 24, x3);
  store8(cb, y0);
  store8(cb + 8, y1);
  store8(cb + 16, y2);
  store8(cb + 24, y3);
}

// The block's steps on LEN rows (32, 8 or 1) below it, with the multipliers
// E and the reciprocal pivots r that the steps had on the block's rows:
// column j's rows at a + j ld, its kept rows at p + j n. Row i of column j
// receives, in the order of the steps, x - x_k E(k,j) from each step k < j,
// then the scaling x r_j (which is also what the later steps and stage C
// use as column j), then x - x_j' E(k,j) from each step k > j, an exact
// zero multiplier passed over: so the columns go in order, each taking the
// steps before its own and its scaling, and then each the steps after it.
// The scaled stretches are kept side by side in buf (column kk at kk LEN).
template <int LEN>
void steps_below(double* a, size_t ld, double* p, size_t n, const double* E, int b, const double* r, int bw,
                 double* buf) {
  constexpr int V = LEN / 8;
  auto e = [&](int k, int j) { return E[static_cast<size_t>(k) * b + j]; };
  for (int j = 0; j < bw; ++j) {
    double* col = a + static_cast<size_t>(j) * ld;
    double* bj = buf + static_cast<size_t>(j) * LEN;
    if (j + 2 < bw)
      for (int q = 0; q < LEN; q += 8) __builtin_prefetch(col + 2 * ld + q, 1);
    if constexpr (LEN == 1) {
      double x = *col;
      for (int k = 0; k < j; ++k)
        if (e(k, j) != 0.0) x = x - buf[k] * e(k, j);
      x = x * r[j];
      *bj = x;
    } else {
      v8 x[V];
      for (int v = 0; v < V; ++v) x[v] = load8(col + 8 * v);
      for (int k = 0; k < j; ++k) {
        const double ek = e(k, j);
        if (ek == 0.0) continue;
        const v8 ev = splat8(ek);
        for (int v = 0; v < V; ++v) x[v] = x[v] - load8(buf + static_cast<size_t>(k) * LEN + 8 * v) * ev;
      }
      const v8 rv = splat8(r[j]);
      for (int v = 0; v < V; ++v) store8(bj + 8 * v, x[v] * rv);
    }
    std::memcpy(p + static_cast<size_t>(j) * n, bj, LEN * sizeof(double));
  }
  for (int j = 0; j < bw; ++j) {
    double* col = a + static_cast<size_t>(j) * ld;
    const double* bj = buf + static_cast<size_t>(j) * LEN;
    if constexpr (LEN == 1) {
      double x = *bj;
      for (int k = j + 1; k < bw; ++k)
        if (e(k, j) != 0.0) x = x - buf[k] * e(k, j);
      *col = x;
    } else {
      v8 x[V];
      for (int v = 0; v < V; ++v) x[v] = load8(bj + 8 * v);
      for (int k = j + 1; k < bw; ++k) {
        const double ek = e(k, j);
        if (ek == 0.0) continue;
        const v8 ev = splat8(ek);
        for (int v = 0; v < V; ++v) x[v] = x[v] - load8(buf + static_cast<size_t>(k) * LEN + 8 * v) * ev;
      }
      for (int v = 0; v < V; ++v) store8(col + 8 * v, x[v]);
    }
  }
}

// Whether rows i0..i0+len-1 of col are all unchanged by subtracting signed
// zeros.
bool stretch_keeps(const double* col, int len) {
  if (len == 1) {
    const double x = *col;
    return std::fabs(x) >= DBL_MIN || (x == 0.0 && !std::signbit(x));
  }
  for (int r = 0; r < len; r += 8)
    if (!keeps_under_zero(load8(col + r))) return false;
  return true;
}

// Whether rows 1..count of col are all unchanged by subtracting signed zeros.
bool rows_keep(const double* col, int count) {
  int r = 0;
  for (; r + 8 <= count; r += 8)
    if (!keeps_under_zero(load8(col + r))) return false;
  for (; r < count; ++r)
    if (!stretch_keeps(col + r, 1)) return false;
  return true;
}

// Whether rows 1..count of col are all exactly zero.
bool rows_zero(const double* col, int count) {
  for (int r = 0; r < count; ++r)
    if (col[r] != 0.0) return false;
  return true;
}

struct Stretch {
  int i0, len;
  bool pzero;  // the kept columns are exactly zero on these rows
};

}  // namespace

void invrt_blocked(double* ap, int ld, int n, int b) {
  if (n > ld) invrt_dimension_stop();
  if (n <= 0) return;
  b = std::max(1, std::min(b, n));
  const M a{ap, ld};
  std::vector<double> kept = work<double>(static_cast<size_t>(n) * b);  // column k0+kk at kk n
  std::vector<double> mult = work<double>(static_cast<size_t>(n) * b);  // column j's multipliers at (j-1) b
  AlignedWork<double> kbuf = aligned_work<double>(static_cast<size_t>(32) * b);  // a stretch of the kept columns
  std::vector<double> r(b);
  std::vector<double> E = work<double>(static_cast<size_t>(b) * b);     // step k's multiplier of column j at (k-k0) b + j-k0
  AlignedWork<double> sbuf = aligned_work<double>(static_cast<size_t>(32) * b);  // a stretch of the block's kept columns
  std::vector<char> keeps(b);  // block column's rows above the block unchanged by signed zeros
  std::vector<int> active, unfinite, quads, rest;
  active.reserve(n);
  unfinite.reserve(n);
  quads.reserve(n);
  rest.reserve(n);
  std::vector<char> finite(static_cast<size_t>(n) + 1);  // column j's multipliers all finite
  std::vector<Stretch> stretches;
  // Column j's rows 1..good[j] hold only values that a signed zero
  // subtracted leaves as they are. The stretch that extends it must begin
  // right after it, so it never reaches past the rows above a block, which
  // stages A and B leave alone (the block's own columns start again at 0).
  std::vector<int> good(static_cast<size_t>(n) + 1, 0);
  for (int k0 = 1; k0 <= n; k0 += b) {
    const int k1 = std::min(n, k0 + b - 1);
    const int bw = k1 - k0 + 1;
    auto p = [&](int i, int k) -> double& { return kept[static_cast<size_t>(k - k0) * n + (i - 1)]; };

    // A. The block's steps on its own columns: first on rows 1..k1, step
    // by step, which gives each step's multipliers E(k,j) (column j's row k
    // when step k comes); then on the rows below, stretch by stretch. On the
    // rows above the block a step changes nothing where column k is exactly
    // zero there (as in a lower triangular matrix), its multiplier is finite
    // and column j holds only values that a signed zero subtracted leaves as
    // they are: those rows are passed over while that holds.
    const int above = k0 - 1;
    for (int j = k0; j <= k1; ++j) {
      good[j] = 0;
      keeps[j - k0] = rows_keep(&a(1, j), above);
    }
    for (int k = k0; k <= k1; ++k) {
      if (std::fabs(a(k, k)) < INVRT_TINY) invrt_pivot_stop();
      const double rk = 1.0 / a(k, k);
      r[k - k0] = rk;
      for (int i = 1; i <= k1; ++i) a(i, k) = a(i, k) * rk;
      a(k, k) = rk;
      std::memcpy(&p(1, k), &a(1, k), k1 * sizeof(double));
      const bool zero_above = rows_zero(&a(1, k), above);
      for (int j = k0; j <= k1; ++j) {
        if (j == k) continue;
        const double e = a(k, j);
        E[static_cast<size_t>(k - k0) * b + (j - k0)] = e;
        if (e == 0.0) continue;
        if (zero_above && keeps[j - k0] && std::fabs(e) <= DBL_MAX) {
          subtract_multiple(&a(k0, j), &a(k0, k), e, k - k0);
        } else {
          subtract_multiple(&a(1, j), &a(1, k), e, k - 1);
          keeps[j - k0] = false;
        }
        subtract_multiple(&a(k + 1, j), &a(k + 1, k), e, k1 - k);
        a(k, j) = -(e * rk);
      }
    }
    {
      int i = k1 + 1;
      for (; i + 31 <= n; i += 32) steps_below<32>(&a(i, k0), ld, &p(i, k0), n, E.data(), b, r.data(), bw, sbuf.data());
      for (; i + 7 <= n; i += 8) steps_below<8>(&a(i, k0), ld, &p(i, k0), n, E.data(), b, r.data(), bw, sbuf.data());
      for (; i <= n; ++i) steps_below<1>(&a(i, k0), ld, &p(i, k0), n, E.data(), b, r.data(), bw, sbuf.data());
    }

    // B. Rows K of every other column, step by step: the multipliers.
    // Columns whose multipliers are all nonzero go to stage C four at a
    // time; the others, and the last few of those, one or two at a time.
    active.clear();
    quads.clear();
    rest.clear();
    for (int j = 1; j <= n; ++j) {
      if (j == k0) {
        j = k1;
        continue;
      }
      // The columns lie far apart: fetch a later column's rows K meanwhile.
      if (j + 2 <= n)
        for (int r = k0; r <= k1; r += 8) __builtin_prefetch(&a(r, j + 2));
      double* e = &mult[static_cast<size_t>(j - 1) * b];
      bool any = false;
      bool fin = true;
      bool all = true;
      for (int k = k0; k <= k1; ++k) {
        const double ek = a(k, j);
        e[k - k0] = ek;
        if (ek == 0.0) {
          all = false;
          continue;
        }
        fin = fin && std::fabs(ek) <= DBL_MAX;
        any = true;
        subtract_multiple(&a(k0, j), &p(k0, k), ek, k - k0);
        subtract_multiple(&a(k + 1, j), &p(k + 1, k), ek, k1 - k);
        a(k, j) = -(ek * r[k - k0]);
      }
      finite[j] = fin;
      if (any) {
        active.push_back(j);
        (all ? quads : rest).push_back(j);
      }
    }
    if (active.empty()) continue;
    while (quads.size() % 4) {
      rest.push_back(quads.back());
      quads.pop_back();
    }

    // C. The other rows of those columns, in stretches of 32, 8 and 1 rows.
    stretches.clear();
    for (const auto& range : {std::make_pair(1, k0 - 1), std::make_pair(k1 + 1, n)}) {
      int i = range.first;
      for (const int len : {32, 8, 1})
        for (; i + len - 1 <= range.second; i += len) stretches.push_back({i, len, kept_zero(kept.data(), n, i, len, bw)});
    }
    // Where the products are all signed zeros, each column is read down its
    // stretches and changed only where it must be; rows 1..good(j), found
    // unchanged by signed zeros before and not changed since, are not read
    // again.
    for (int j : active) {
      if (!finite[j]) continue;
      const double* e = &mult[static_cast<size_t>(j - 1) * b];
      int g = good[j];
      for (const Stretch& st : stretches) {
        if (!st.pzero || st.i0 + st.len - 1 <= g) continue;
        if (stretch_keeps(&a(st.i0, j), st.len)) {
          if (st.i0 == g + 1) g = st.i0 + st.len - 1;
        } else {
          apply_stretch(&a(st.i0, j), &kept[st.i0 - 1], n, st.len, e, bw);
        }
      }
      good[j] = g;
    }
    // Everywhere else, stretch by stretch so that the kept rows stay in the
    // first-level cache: every active column where the kept columns are not
    // zero, the columns with a multiplier that is not finite where they are.
    unfinite.clear();
    for (int j : active)
      if (!finite[j]) unfinite.push_back(j);
    for (const Stretch& st : stretches) {
      const std::vector<int>& cols = st.pzero ? unfinite : rest;
      if (cols.empty() && (st.pzero || quads.empty())) continue;
      // The kept rows of the stretch side by side (column kk at kk len), so
      // that they stay in the first-level cache whatever the order n.
      double* kb = kbuf.data();
      for (int kk = 0; kk < bw; ++kk)
        std::memcpy(kb + static_cast<size_t>(kk) * st.len, &kept[static_cast<size_t>(kk) * n + (st.i0 - 1)],
                    st.len * sizeof(double));
      auto e = [&](int j) { return &mult[static_cast<size_t>(j - 1) * b]; };
      if (!st.pzero && st.len == 32)
        for (size_t t = 0; t < quads.size(); t += 4) {
          double* c[4];
          const double* ec[4];
          for (int m = 0; m < 4; ++m) {
            const int j = quads[t + m];
            c[m] = &a(st.i0, j);
            ec[m] = e(j);
            good[j] = std::min(good[j], st.i0 - 1);
            if (t + 4 + m < quads.size())
              for (int r = 0; r < 32; r += 8) __builtin_prefetch(&a(st.i0 + r, quads[t + 4 + m]), 1);
          }
          subtract_products4x32(c, kb, st.len, ec, bw);
        }
      else if (!st.pzero)
        for (int j : quads) {
          apply_stretch(&a(st.i0, j), kb, st.len, st.len, e(j), bw);
          good[j] = std::min(good[j], st.i0 - 1);
        }
      size_t t = 0;
      if (st.len == 32)
        for (; t + 1 < cols.size(); t += 2) {
          const int j = cols[t], j2 = cols[t + 1];
          // The columns lie far apart: fetch the next pair's stretches meanwhile.
          if (t + 3 < cols.size())
            for (int r = 0; r < 32; r += 8) {
              __builtin_prefetch(&a(st.i0 + r, cols[t + 2]), 1);
              __builtin_prefetch(&a(st.i0 + r, cols[t + 3]), 1);
            }
          apply_stretch_pair(&a(st.i0, j), &a(st.i0, j2), kb, st.len, e(j), e(j2), bw);
          good[j] = std::min(good[j], st.i0 - 1);
          good[j2] = std::min(good[j2], st.i0 - 1);
        }
      for (; t < cols.size(); ++t) {
        const int j = cols[t];
        if (t + 2 < cols.size())
          for (int r = 0; r < st.len; r += 8) __builtin_prefetch(&a(st.i0 + r, cols[t + 2]), 1);
        apply_stretch(&a(st.i0, j), kb, st.len, st.len, e(j), bw);
        good[j] = std::min(good[j], st.i0 - 1);
      }
    }
  }
}

void INVRT(double* a, int ld, int n) {
#ifdef KESTA_LITERAL_KERNELS
  invrt_literal(a, ld, n);
#else
  invrt_blocked(a, ld, n, 64);
#endif
}
