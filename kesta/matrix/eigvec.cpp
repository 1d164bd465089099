// EIGVEC: all eigenvalues and a full set of orthonormal eigenvectors of a real
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
// Stops (message on the listing, exit status 1):
//   n > nm      "0MATRIX DIMENSION LARGER THAN DECLARED" (nothing fits)
//   30 QL iterations for one eigenvalue without convergence
//               " PROBLEMS IN SUBROUTINE EIGVEC AT ROW" and the row l
//               (its place in the tridiagonal matrix, before the sort)
//
// The results are those of eigvec_literal to the bit: every element receives
// the same rounded operations in the same order (only a NaN may come out with
// the other sign, as the compiler orders the operands of one operation; every
// NaN prints alike). Only the order in which independent elements are
// visited differs:
//   - reduction: the column dot products of A u run as eight separate chains
//     at once (products transposed across the lanes), each still in
//     ascending row order; one step's update and the next step's A u share
//     one pass over the block;
//   - accumulation: a block of columns is carried through all the
//     transformations in turn (each column depends only on itself and on the
//     Householder vectors), each dot product still summed from +0 in
//     ascending k;
//   - QL: the (c, s) of each rotation depend only on d and e, never on z, so
//     they are recorded and applied later, in their original order, to blocks
//     of rows of z across vector lanes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "kesta/matrix/eigvec_hyp.h"
#include "kesta/matrix/eigvec_tuning.h"
#include "kesta/matrix/kernels.h"
#include "kesta/matrix/lanes.h"
#include "kesta/model.h"
#include "records/records.h"

namespace {

// ---- Reduction to tridiagonal form ----------------------------------------

// One tile of the product A u: rows k..k+7 (ek, xk point at e(k), u(k)) of a
// group's eight columns c0..c7 with their values u[0..7]. Each row's sum
// takes the columns in ascending order; each column's chain (lane c of gv)
// takes the rows in ascending order, its products moved across the lanes.
inline void product_tile(v8 c0, v8 c1, v8 c2, v8 c3, v8 c4, v8 c5, v8 c6, v8 c7, const double* u, double* ek,
                         const double* xk, v8& gv) {
  v8 ev = load8(ek);
  ev = ev + c0 * splat8(u[0]);
  ev = ev + c1 * splat8(u[1]);
  ev = ev + c2 * splat8(u[2]);
  ev = ev + c3 * splat8(u[3]);
  ev = ev + c4 * splat8(u[4]);
  ev = ev + c5 * splat8(u[5]);
  ev = ev + c6 * splat8(u[6]);
  ev = ev + c7 * splat8(u[7]);
  store8(ek, ev);
  const v8 x = load8(xk);
  v8 t0 = c0 * x, t1 = c1 * x, t2 = c2 * x, t3 = c3 * x, t4 = c4 * x, t5 = c5 * x, t6 = c6 * x, t7 = c7 * x;
  transpose8(t0, t1, t2, t3, t4, t5, t6, t7);
  gv = gv + t0;
  gv = gv + t1;
  gv = gv + t2;
  gv = gv + t3;
  gv = gv + t4;
  gv = gv + t5;
  gv = gv + t6;
  gv = gv + t7;
}

// e(k) = sum over j of A(k,j) u(j), A the lower triangle of the leading l x l
// block of z read symmetrically and u = d(1..l); each e(k) summed from +0 in
// ascending j, exactly as the column-by-column loop of the procedure forms it
// (the part left of the diagonal by additions into e(k), the rest as the dot
// product of column k). Columns go in groups of eight so that their dot
// products run as separate chains. Also stores u into column i of z.
void symv_lower_chains(const M& z, const V& d, const V& e, int l, int i) {
  constexpr int B = 8;
  for (int j = 1; j <= l; ++j) e(j) = 0.0;
  for (int j0 = 1; j0 <= l; j0 += B) {
    const int j1 = std::min(l, j0 + B - 1);
    const int w = j1 - j0 + 1;
    double g[B];
    // The triangle of the group, in the procedure's order.
    for (int j = j0; j <= j1; ++j) {
      const double f = d(j);
      z(j, i) = f;
      double gj = e(j) + z(j, j) * f;
      for (int k = j + 1; k <= j1; ++k) {
        gj = gj + z(k, j) * d(k);
        e(k) = e(k) + z(k, j) * f;
      }
      g[j - j0] = gj;
    }
    // The rows below it: row k gets the group's columns in ascending order,
    // each column's chain gets row k.
    // 0-based: col[c][k] = z(k+1, j0+c), dk[k] = d(k+1), ek[k] = e(k+1).
    const double* col[B];
    double u[B];
    for (int c = 0; c < w; ++c) {
      col[c] = &z(1, j0 + c);
      u[c] = d(j0 + c);
    }
    const double* dk = &d(1);
    double* ek = &e(1);
    int k = j1;
    if (w == B) {
      // Eight rows at a time: the additions into e(k) across the lanes, the
      // products of the dot products transposed so that lane c carries
      // column c's chain, which then takes the eight rows in order.
      v8 gv = load8(g);
      for (; k + 8 <= l; k += 8)
        product_tile(load8(col[0] + k), load8(col[1] + k), load8(col[2] + k), load8(col[3] + k), load8(col[4] + k),
                     load8(col[5] + k), load8(col[6] + k), load8(col[7] + k), u, ek + k, dk + k, gv);
      store8(g, gv);
    }
    // The rows left over, and groups of fewer than eight columns.
    for (; k < l; ++k) {
      double s = ek[k];
      for (int c = 0; c < w; ++c) {
        g[c] = g[c] + col[c][k] * dk[k];
        s = s + col[c][k] * u[c];
      }
      ek[k] = s;
    }
    for (int c = 0; c < w; ++c) e(j0 + c) = g[c];
  }
}

// z(k,j) = (z(k,j) - f e(k)) - g d(k) for k = j..l, f = d(j), g = e(j); zc, ev
// and dv point at z(j,j), e(j) and d(j).
void rank2_column(double* zc, const double* ev, const double* dv, int count, double f, double g) {
  int k = 0;
  const v8 fv = splat8(f), gv = splat8(g);
  for (; k + 8 <= count; k += 8)
    store8(zc + k, (load8(zc + k) - fv * load8(ev + k)) - gv * load8(dv + k));
  for (; k < count; ++k) zc[k] = (zc[k] - f * ev[k]) - g * dv[k];
}

// Step i's update of columns 1..l-1, rows j..l-1 (row l is already done),
// fused with step i-1's product e2 = A' u2 over the updated block of order
// l-1: each tile of z is updated and then goes straight into the product, in
// the same groups of eight columns and the same orders as above. u2 and e2
// are 1-based.
void rank2_fused_symv(const M& z, const V& d, const V& e, int l, const double* u2, double* e2) {
  constexpr int B = 8;
  const int l2 = l - 1;
  for (int j = 1; j <= l2; ++j) e2[j] = 0.0;
  for (int j0 = 1; j0 <= l2; j0 += B) {
    const int j1 = std::min(l2, j0 + B - 1);
    const int w = j1 - j0 + 1;
    double g[B];
    for (int j = j0; j <= j1; ++j) {
      const double f = d(j), gg = e(j);
      for (int k = j; k <= j1; ++k) z(k, j) = (z(k, j) - f * e(k)) - gg * d(k);
    }
    for (int j = j0; j <= j1; ++j) {
      const double f = u2[j];
      double gj = e2[j] + z(j, j) * f;
      for (int k = j + 1; k <= j1; ++k) {
        gj = gj + z(k, j) * u2[k];
        e2[k] = e2[k] + z(k, j) * f;
      }
      g[j - j0] = gj;
    }
    // 0-based from here: col[c][k] = z(k+1, j0+c).
    double* col[B];
    double f[B], gg[B], u[B];
    for (int c = 0; c < w; ++c) {
      col[c] = &z(1, j0 + c);
      f[c] = d(j0 + c);
      gg[c] = e(j0 + c);
      u[c] = u2[j0 + c];
    }
    const double* dk = &d(1);
    const double* ek = &e(1);
    const double* xk = u2 + 1;
    double* sk = e2 + 1;
    int k = j1;
    if (w == B) {
      v8 gv = load8(g);
      for (; k + 8 <= l2; k += 8) {
        const v8 ep = load8(ek + k), dp = load8(dk + k);
        v8 c0 = load8(col[0] + k), c1 = load8(col[1] + k), c2 = load8(col[2] + k), c3 = load8(col[3] + k);
        v8 c4 = load8(col[4] + k), c5 = load8(col[5] + k), c6 = load8(col[6] + k), c7 = load8(col[7] + k);
        c0 = (c0 - splat8(f[0]) * ep) - splat8(gg[0]) * dp;
        c1 = (c1 - splat8(f[1]) * ep) - splat8(gg[1]) * dp;
        c2 = (c2 - splat8(f[2]) * ep) - splat8(gg[2]) * dp;
        c3 = (c3 - splat8(f[3]) * ep) - splat8(gg[3]) * dp;
        c4 = (c4 - splat8(f[4]) * ep) - splat8(gg[4]) * dp;
        c5 = (c5 - splat8(f[5]) * ep) - splat8(gg[5]) * dp;
        c6 = (c6 - splat8(f[6]) * ep) - splat8(gg[6]) * dp;
        c7 = (c7 - splat8(f[7]) * ep) - splat8(gg[7]) * dp;
        store8(col[0] + k, c0), store8(col[1] + k, c1), store8(col[2] + k, c2), store8(col[3] + k, c3);
        store8(col[4] + k, c4), store8(col[5] + k, c5), store8(col[6] + k, c6), store8(col[7] + k, c7);
        product_tile(c0, c1, c2, c3, c4, c5, c6, c7, u, sk + k, xk + k, gv);
      }
      store8(g, gv);
    }
    for (; k < l2; ++k) {
      double sv = sk[k];
      for (int c = 0; c < w; ++c) {
        const double zkc = (col[c][k] - f[c] * ek[k]) - gg[c] * dk[k];
        col[c][k] = zkc;
        g[c] = g[c] + zkc * xk[k];
        sv = sv + zkc * u[c];
      }
      sk[k] = sv;
    }
    for (int c = 0; c < w; ++c) e2[j0 + c] = g[c];
  }
}

// The reduction, one Householder step per row i from the last. Each step's
// update of the block is a pass over it, and so is the next step's product
// A u; wherever the next step takes its ordinary path the two are done in one
// pass, its Householder vector formed first from the updated row l alone.
void tred2_reduce(const M& z, const V& d, const V& e, int n) {
  std::vector<double> row = work<double>(static_cast<size_t>(n) + 1);
  std::vector<double> u2 = work<double>(static_cast<size_t>(n) + 9), e2 = work<double>(static_cast<size_t>(n) + 9);
  bool ready = false;  // step i has its vector in d, its p in e and its h
  double h = 0.0;
  for (int i = n; i >= 2;) {
    const int l = i - 1;
    if (!ready) {
      double scale = 0.0;
      h = 0.0;
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
        --i;
        continue;
      }
      for (int k = 1; k <= l; ++k) {
        d(k) = d(k) / scale;
        h = h + d(k) * d(k);
      }
      const double f = d(l);
      const double g = f < 0.0 ? std::sqrt(h) : -std::sqrt(h);
      e(i) = scale * g;
      h = h - f * g;
      d(l) = f - g;
      symv_lower_chains(z, d, e, l, i);
    }
    {
      double f = 0.0;
      for (int j = 1; j <= l; ++j) {
        e(j) = e(j) / h;
        f = f + e(j) * d(j);
      }
      const double hh = f / (h + h);
      for (int j = 1; j <= l; ++j) e(j) = e(j) - hh * d(j);
    }
    // Row l of the updated block: the next step's row.
    for (int j = 1; j <= l; ++j) row[j] = (z(l, j) - d(j) * e(l)) - e(j) * d(l);
    for (int j = 1; j <= l; ++j) z(l, j) = row[j];
    // The next step's scale, and its vector when it takes the ordinary path.
    const int i2 = l, l2 = l - 1;
    double scale2 = 0.0;
    if (l2 >= 2)
      for (int k = 1; k <= l2; ++k) scale2 = scale2 + std::fabs(row[k]);
    if (l2 >= 2 && scale2 != 0.0) {
      double h2 = 0.0;
      for (int k = 1; k <= l2; ++k) {
        u2[k] = row[k] / scale2;
        h2 = h2 + u2[k] * u2[k];
      }
      const double f2 = u2[l2];
      const double g2 = f2 < 0.0 ? std::sqrt(h2) : -std::sqrt(h2);
      const double ei2 = scale2 * g2;
      h2 = h2 - f2 * g2;
      u2[l2] = f2 - g2;
      rank2_fused_symv(z, d, e, l, u2.data(), e2.data());
      for (int j = 1; j <= l; ++j) z(i, j) = 0.0;
      d(i) = h;
      for (int j = 1; j <= l2; ++j) {
        d(j) = u2[j];
        e(j) = e2[j];
        z(j, i2) = u2[j];
      }
      d(l) = row[l];
      e(i2) = ei2;
      h = h2;
      ready = true;
    } else {
      for (int j = 1; j < l; ++j) rank2_column(&z(j, j), &e(j), &d(j), l - j, d(j), e(j));
      for (int j = 1; j <= l; ++j) {
        d(j) = row[j];
        z(i, j) = 0.0;
      }
      d(i) = h;
      ready = false;
    }
    i = i2;
  }
}

// ---- Accumulation of the transformations ----------------------------------

// Step i of the accumulation changes only columns j < i, each from itself and
// from column i (the Householder vector, left as it is until step i zeroes
// it). So a block of columns can be taken through every step on its own,
// blocks from the left, in a transposed copy where each row of the block is
// one run of vector lanes.
//
// Once every column of a block takes part, one pass over the rows serves two
// steps: row k gets step i's update and then goes into step i+1's dot
// products, which still take the rows in ascending k.
template <int NV>
void tred2_accumulate_blocked(const M& z, const V& d, int n) {
  constexpr int W = 8 * NV;  // columns per block
  std::vector<double> blk = work<double>(static_cast<size_t>(n + 1) * W);
  std::vector<double> ub = work<double>(2 * (static_cast<size_t>(n) + 1)), dub = work<double>(static_cast<size_t>(n) + 1);
  auto b = [&](int k, int jj) -> double& { return blk[static_cast<size_t>(k) * W + jj]; };
  for (int j0 = 1; j0 <= n; j0 += W) {
    const int j1 = std::min(n, j0 + W - 1);
    const int w = j1 - j0 + 1;
    for (int k = 1; k <= n; ++k)
      for (int jj = 0; jj < W; ++jj) b(k, jj) = jj < w ? z(k, j0 + jj) : 0.0;

    // Steps in which the block's own columns start: one column at a time.
    const int ifull = w == W ? j1 + 1 : n + 1;  // first step of the fused passes
    for (int i = std::max(2, j0); i <= n && i < ifull; ++i) {
      const int l = i - 1;
      if (l >= j0 && l <= j1) {
        b(n, l - j0) = b(l, l - j0);  // z(n,l) = z(l,l)
        b(l, l - j0) = 1.0;
      }
      const double h = d(i);
      const int jlast = std::min(j1, l);
      if (h != 0.0 && jlast >= j0) {
        double* u = ub.data();
        if (i <= j1)
          for (int k = 1; k <= l; ++k) u[k] = b(k, i - j0);
        else
          for (int k = 1; k <= l; ++k) u[k] = z(k, i);
        divide(dub.data() + 1, u + 1, h, l);
        for (int jj = 0; jj <= jlast - j0; ++jj) {
          double g = 0.0;
          for (int k = 1; k <= l; ++k) g = g + u[k] * b(k, jj);
          for (int k = 1; k <= l; ++k) b(k, jj) = b(k, jj) - g * dub[k];
        }
      }
      if (i <= j1)
        for (int k = 1; k <= l; ++k) b(k, i - j0) = 0.0;
    }

    if (ifull <= n) {
      // Step ifull begins with the block's last column.
      b(n, W - 1) = b(j1, W - 1);
      b(j1, W - 1) = 1.0;
      // g: the dot products of step i, formed in the pass before.
      v8 g[NV];
      #pragma GCC unroll 4
      for (int v = 0; v < NV; ++v) g[v] = splat8(0.0);
      double* ucur = ub.data();
      double* unext = ub.data() + n + 1;
      if (d(ifull) != 0.0) {
        const int l = ifull - 1;
        std::memcpy(ucur + 1, &z(1, ifull), l * sizeof(double));
        for (int k = 1; k <= l; ++k) {
          const double* row = &b(k, 0);
          const v8 x = splat8(ucur[k]);
          #pragma GCC unroll 4
          for (int v = 0; v < NV; ++v) g[v] = g[v] + x * load8(row + 8 * v);
        }
      }
      for (int i = ifull; i <= n; ++i) {
        const int l = i - 1;
        const double h = d(i);
        const bool now = h != 0.0;
        const bool next = i < n && d(i + 1) != 0.0;
        if (next) std::memcpy(unext + 1, &z(1, i + 1), i * sizeof(double));
        if (now) divide(dub.data() + 1, ucur + 1, h, l);
        v8 gn[NV];
        #pragma GCC unroll 4
        for (int v = 0; v < NV; ++v) gn[v] = splat8(0.0);
        if (now && next) {
          for (int k = 1; k <= l; ++k) {
            double* row = &b(k, 0);
            const v8 y = splat8(dub[k]), x = splat8(unext[k]);
            #pragma GCC unroll 4
            for (int v = 0; v < NV; ++v) {
              const v8 r = load8(row + 8 * v) - g[v] * y;
              store8(row + 8 * v, r);
              gn[v] = gn[v] + x * r;
            }
          }
        } else if (now) {
          for (int k = 1; k <= l; ++k) {
            double* row = &b(k, 0);
            const v8 y = splat8(dub[k]);
            #pragma GCC unroll 4
            for (int v = 0; v < NV; ++v) store8(row + 8 * v, load8(row + 8 * v) - g[v] * y);
          }
        } else if (next) {
          for (int k = 1; k <= l; ++k) {
            const double* row = &b(k, 0);
            const v8 x = splat8(unext[k]);
            #pragma GCC unroll 4
            for (int v = 0; v < NV; ++v) gn[v] = gn[v] + x * load8(row + 8 * v);
          }
        }
        if (next) {
          // Row i takes no part in step i; it ends step i+1's sums.
          const double* row = &b(i, 0);
          const v8 x = splat8(unext[i]);
          #pragma GCC unroll 4
          for (int v = 0; v < NV; ++v) gn[v] = gn[v] + x * load8(row + 8 * v);
        }
        #pragma GCC unroll 4
        for (int v = 0; v < NV; ++v) g[v] = gn[v];
        std::swap(ucur, unext);
      }
    }
    for (int k = 1; k <= n; ++k)
      for (int jj = 0; jj < w; ++jj) z(k, j0 + jj) = b(k, jj);
  }
}

void tred2_accumulate(const M& z, const V& d, int n, int vectors) {
  switch (vectors) {
    case 4: tred2_accumulate_blocked<4>(z, d, n); break;
    case 3: tred2_accumulate_blocked<3>(z, d, n); break;
    case 2: tred2_accumulate_blocked<2>(z, d, n); break;
    default: tred2_accumulate_blocked<1>(z, d, n); break;
  }
}

// ---- QL iterations --------------------------------------------------------

// The rotations of the QL sweeps, kept in the order they arise: a sweep
// (l, m) rotates column pairs (i, i+1) for i = m-1 down to l.
struct Rotations {
  struct Sweep {
    int l, m;
    size_t first;
  };
  std::vector<Sweep> sweeps;
  std::vector<double> c, s;
  std::vector<double> pack;  // a block of rows of z, copied out
  size_t used = 0;
};

// One sweep on a block of 8 NV rows held contiguously, column j at p + j R:
// the new column i is carried to the next rotation in registers.
template <int NV>
inline void sweep_rows(double* p, int l, int m, const double* cs, const double* ss) {
  constexpr int R = 8 * NV;
  double* hi = p + static_cast<size_t>(m) * R;
  v8 h[NV];
  for (int v = 0; v < NV; ++v) h[v] = load8(hi + 8 * v);
  for (int i = m - 1, r = 0; i >= l; --i, ++r) {
    const v8 c = splat8(cs[r]), s = splat8(ss[r]);
    double* lo = p + static_cast<size_t>(i) * R;
    for (int v = 0; v < NV; ++v) {
      const v8 x = load8(lo + 8 * v);
      store8(hi + 8 * v, s * x + c * h[v]);
      h[v] = c * x - s * h[v];
    }
    hi = lo;
  }
  for (int v = 0; v < NV; ++v) store8(hi + 8 * v, h[v]);
}

// Applies the recorded sweeps, in order, to every row of z. Rows go in blocks
// across vector lanes, each block copied out to contiguous storage first: the
// columns of z lie far apart, and a block read in place would miss the caches
// and the page tables at every column.
void apply_rotations(const M& z, int n, Rotations& rot) {
  if (rot.sweeps.empty()) return;
  constexpr int NV = 2, R = 8 * NV;
  int jlo = n, jhi = 1;
  for (const auto& sw : rot.sweeps) {
    jlo = std::min(jlo, sw.l);
    jhi = std::max(jhi, sw.m);
  }
  const int cols = jhi - jlo + 1;
  if (rot.pack.size() < static_cast<size_t>(cols) * R) rot.pack = work<double>(static_cast<size_t>(cols) * R);
  double* p = rot.pack.data();  // column j at p + (j - jlo) R
  int k0 = 1;
  for (; k0 + R - 1 <= n; k0 += R) {
    for (int j = jlo; j <= jhi; ++j) std::memcpy(p + static_cast<size_t>(j - jlo) * R, &z(k0, j), R * sizeof(double));
    for (const auto& sw : rot.sweeps)
      sweep_rows<NV>(p, sw.l - jlo, sw.m - jlo, rot.c.data() + sw.first, rot.s.data() + sw.first);
    for (int j = jlo; j <= jhi; ++j) std::memcpy(&z(k0, j), p + static_cast<size_t>(j - jlo) * R, R * sizeof(double));
  }
  // The rows left over, one at a time.
  for (int k = k0; k <= n; ++k)
    for (const auto& sw : rot.sweeps) {
      const double* cs = rot.c.data() + sw.first;
      const double* ss = rot.s.data() + sw.first;
      double h = z(k, sw.m);
      for (int i = sw.m - 1, r = 0; i >= sw.l; --i, ++r) {
        const double x = z(k, i);
        z(k, i + 1) = ss[r] * x + cs[r] * h;
        h = cs[r] * x - ss[r] * h;
      }
      z(k, sw.l) = h;
    }
  rot.sweeps.clear();
  rot.used = 0;
}

size_t tql2_rotations_recorded(const M& z, const V& d, const V& e, int n, size_t capacity) {
  Rotations rot;
  size_t total = 0;
  const size_t cap = std::max<size_t>(n, capacity);  // never less than one sweep
  rot.c = work<double>(cap);
  rot.s = work<double>(cap);

  for (int i = 2; i <= n; ++i) e(i - 1) = e(i);
  double f = 0.0, tst1 = 0.0;
  e(n) = 0.0;
  for (int l = 1; l <= n; ++l) {
    int iter = 0;
    double h = std::fabs(d(l)) + std::fabs(e(l));
    if (tst1 < h) tst1 = h;
    int m = l;
    while (m < n && !(tst1 + std::fabs(e(m)) == tst1)) ++m;
    if (m != l) {
      do {
        if (iter == 30) {
          LSTWRT(LISTING, {" PROBLEMS IN SUBROUTINE EIGVEC AT ROW", l});
          RUNSTOP();
        }
        ++iter;
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
        if (cap - rot.used < static_cast<size_t>(m - l)) apply_rotations(z, n, rot);
        total += static_cast<size_t>(m - l);
        rot.sweeps.push_back({l, m, rot.used});
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
          rot.c[rot.used] = c;
          rot.s[rot.used] = s;
          ++rot.used;
        }
        p = -(s * s2 * c3 * el1 * e(l)) / dl1;
        e(l) = s * p;
        d(l) = c * p;
      } while (tst1 + std::fabs(e(l)) > tst1);
    }
    d(l) = d(l) + f;
  }
  apply_rotations(z, n, rot);
  return total;
}

}  // namespace

EigvecTuning eigvec_tuning(int n) {
  EigvecTuning t;
  // The widest accumulation block: each block reads all the Householder
  // vectors once more, and that stream costs more than a transposed copy
  // (n x 32 values) that overflows the second-level cache.
  t.accumulate_vectors = 4;
  // Many sweeps between passes over z, in at most 32 MB.
  t.rotation_capacity = std::min<size_t>(static_cast<size_t>(256) * std::max(n, 1), size_t(1) << 21);
  return t;
}

void EIGVEC(int nm, int n, double* a, double* d, double* e, double* z) {
#ifdef KESTA_LITERAL_KERNELS
  eigvec_literal(nm, n, a, d, e, z);
#else
  eigvec_tuned(eigvec_tuning(n), nm, n, a, d, e, z);
#endif
}

void eigvec_stage_reduce(int nm, int n, double* ap, double* dp, double* ep, double* zp) {
  const M a{ap, nm}, z{zp, nm};
  const V d{dp}, e{ep};
  for (int i = 1; i <= n; ++i) {
    for (int j = i; j <= n; ++j) z(j, i) = a(j, i);
    d(i) = a(n, i);
  }
  if (n > 1) tred2_reduce(z, d, e, n);
}

void eigvec_stage_accumulate(const EigvecTuning& tuning, int nm, int n, double* dp, double* ep, double* zp) {
  const M z{zp, nm};
  const V d{dp}, e{ep};
  if (n > 1) tred2_accumulate(z, d, n, tuning.accumulate_vectors);
  for (int i = 1; i <= n; ++i) {
    d(i) = z(n, i);
    z(n, i) = 0.0;
  }
  z(n, n) = 1.0;
  e(1) = 0.0;
}

size_t eigvec_stage_ql(const EigvecTuning& tuning, int nm, int n, double* dp, double* ep, double* zp) {
  const M z{zp, nm};
  const V d{dp}, e{ep};
  if (n == 1) return 0;
  const size_t rotations = tql2_rotations_recorded(z, d, e, n, tuning.rotation_capacity);

  // Sort, ascending; the test is strict so equal values keep their order.
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
      for (int j = 1; j <= n; ++j) std::swap(z(j, i), z(j, k));
    }
  }
  return rotations;
}

void eigvec_tuned(const EigvecTuning& tuning, int nm, int n, double* a, double* d, double* e, double* z) {
  if (n < 1) return;
  if (n > nm) {
    static const Format f("('0MATRIX DIMENSION LARGER THAN DECLARED')");
    FMTWRT(LISTING, f);
    RUNSTOP();
  }
  eigvec_stage_reduce(nm, n, a, d, e, z);
  eigvec_stage_accumulate(tuning, nm, n, d, e, z);
  eigvec_stage_ql(tuning, nm, n, d, e, z);
}
