// Group absorption and canonical sire transformation.
//
// absorb_groups:       K = W - N H^-1 N', y = r - N H^-1 GRPRHS, YMYPK less the
//                      group part, RHSWRK = L^-1 y.
// canonical_transform: L^-1 K L^-T in place, its eigen-decomposition in place,
//                      E' L^-1 y, and the six listing lines.
// reabsorb_groups:     in the final pass, K and y again from the W and r read
//                      again, with the group products kept from the first time.
#include "kesta/absorb.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "kesta/matrix/kernels.h"
#include "kesta/matrix/lanes.h"
#include "kesta/phases.h"
#include "records/records.h"

namespace {

// Column s of the sire coefficients loses its group products term by term,
// over the groups in order; each element on its own, both triangles, so K
// need not come out exactly symmetric. The first absorption and the final
// pass share this so that the final pass forms the same K bit for bit.
void absorb_column(Model& m, int s) {
  const int q = m.NSIRE, g = m.NGROUP;
  M SIRMAT = mat(m.SIRMAT, q), SIRGRP = mat(m.SIRGRP, q), NHINV = mat(m.NHINV, q);
  for (int k = 1; k <= g; ++k) {
    const double x = SIRGRP(s, k);
    for (int i = 1; i <= q; ++i) SIRMAT(i, s) = SIRMAT(i, s) - NHINV(i, k) * x;
  }
}

}  // namespace

void absorb_groups(Model& m) {
  const int q = m.NSIRE, t = m.NTRAIT, g = m.NGROUP;
  M SIRRHS = mat(m.SIRRHS, q), RHSWRK = mat(m.RHSWRK, q), NHINV = mat(m.NHINV, q);
  M GRPMAT = mat(m.GRPMAT, g), GRPRHS = mat(m.GRPRHS, g), GRPSOL = mat(m.GRPSOL, g);
  V GRPEFN = vec(m.GRPEFN), YMYPK = vec(m.YMYPK);

  for (int k = 1; k <= g; ++k) GRPEFN(k) = GRPMAT(k, k);
  // INVRTP gives INVRT's bits whenever the natural order works, and still
  // inverts an H whose natural order meets a pivot below 1.0e-12.
  INVRTP(m.GRPMAT.data(), g, g);
  MATPRD(q, g, g, m.NHINV.data(), m.SIRGRP.data(), m.GRPMAT.data(), 0, 0);
  MATPRD(g, g, t, m.GRPSOL.data(), m.GRPMAT.data(), m.GRPRHS.data(), 0, 0);

  // The group part leaves the sums of squares one product at a time.
  for (int i = 1; i <= t; ++i)
    for (int j = 1; j <= i; ++j) {
      double& y = YMYPK((int64_t)i * (i - 1) / 2 + j);
      for (int k = 1; k <= g; ++k) y = y - GRPRHS(k, i) * GRPSOL(k, j);
    }

  for (int s = 1; s <= q; ++s) {
    absorb_column(m, s);
    // Here the group products are summed from zero first and subtracted once.
    for (int j = 1; j <= t; ++j) {
      double z = 0.0;
      for (int k = 1; k <= g; ++k) z = z + NHINV(s, k) * GRPRHS(k, j);
      const double y = RHSWRK(s, j) - z;
      RHSWRK(s, j) = y;
      SIRRHS(s, j) = y;
    }
  }

  MATPRD(q, q, t, m.RHSWRK.data(), m.LINVA.data(), m.SIRRHS.data(), 0, 0);
}

void canonical_transform(Model& m) {
  const int q = m.NSIRE, t = m.NTRAIT;
  static const Format eigdone("(' EIGENVECTORS OF L ZSZ L'' OBTAINED')");

#ifdef KESTA_LITERAL_KERNELS
  mult_rows_linvt(m.SIRMAT.data(), m.LINVA.data(), m.SIRVEC.data(), q);
#else
  mult_rows_linvt_tiled(m.SIRMAT.data(), m.LINVA.data(), m.SIRVEC.data(), q);
#endif
  LSTWRT(LISTING);
  LSTWRT(LISTING, {"LARGE MATRIX MULTIPLICATION 1 DONE"});

#ifdef KESTA_LITERAL_KERNELS
  mult_cols_linv(m.SIRMAT.data(), m.LINVA.data(), m.SIRVEC.data(), q);
#else
  mult_cols_linv_tiled(m.SIRMAT.data(), m.LINVA.data(), m.SIRVEC.data(), q);
#endif
  LSTWRT(LISTING);
  LSTWRT(LISTING, {"LARGE MATRIX MULTIPLICATION 2 DONE"});
  // L^-1 has served its last use: its memory goes back before EIGVEC.
  clear_array(m.LINVA);

  EIGVEC(q, q, m.SIRMAT.data(), m.SIREIG.data(), m.SIRVEC.data(), m.SIRMAT.data());
  LSTWRT(LISTING);
  FMTWRT(LISTING, eigdone);

  MATPRD(q, q, t, m.SIRRHS.data(), m.SIRMAT.data(), m.RHSWRK.data(), 1, 0);
}

void reabsorb_groups(Model& m) {
  const int q = m.NSIRE, t = m.NTRAIT, g = m.NGROUP;
  M SIRRHS = mat(m.SIRRHS, q), NHINV = mat(m.NHINV, q), GRPRHS = mat(m.GRPRHS, g);

  for (int s = 1; s <= q; ++s) {
    absorb_column(m, s);
    // The right-hand sides lose their group products term by term this time.
    for (int j = 1; j <= t; ++j)
      for (int k = 1; k <= g; ++k) SIRRHS(s, j) = SIRRHS(s, j) - NHINV(s, k) * GRPRHS(k, j);
  }
}

// ---- The triangular products --------------------------------------------

void mult_rows_linvt(double* a, const double* linva, double* sirvec, int q) {
  M A{a, q}, L{const_cast<double*>(linva), q};
  V w{sirvec};
  for (int i = 1; i <= q; ++i) {
    for (int k = 1; k <= q; ++k) w(k) = 0.0;
    for (int j = 1; j <= q; ++j) {
      const double x = A(i, j);
      for (int k = j; k <= q; ++k) w(k) = w(k) + L(k, j) * x;
    }
    for (int k = 1; k <= q; ++k) A(i, k) = w(k);
  }
}

void mult_cols_linv(double* a, const double* linva, double* sirvec, int q) {
  M A{a, q}, L{const_cast<double*>(linva), q};
  V w{sirvec};
  for (int i = 1; i <= q; ++i) {
    for (int k = 1; k <= q; ++k) w(k) = 0.0;
    for (int j = 1; j <= q; ++j) {
      const double x = A(j, i);
      for (int k = j; k <= q; ++k) w(k) = w(k) + L(k, j) * x;
    }
    for (int k = 1; k <= q; ++k) A(k, i) = w(k);
  }
}

// ---- The same products, register-tiled --------------------------------------
//
// The outputs are taken in tiles of consecutive k, from the last tile down to
// the first: a tile needs the inputs j <= its largest k only, so its results
// can go in place over inputs that no lower tile reads. For each tile the rows
// k of L are first packed into a panel (j by j, the tile's k side by side),
// and each output is then one sum of L(k,j) x(j) over j = 1..k, from +0 in
// increasing j, exactly as in the literal loops: the tiles only hold several
// independent sums at once in vector lanes. The only extra storage is the
// panel and, for the rows product, the sums waiting between spans of j:
// q x (tile width) values each.

namespace {

typedef int64_t v8l __attribute__((vector_size(64)));

// Panel of the tile k0..k0+kb-1 (1-based): P[(j-1)*kw + kk] = L(k0+kk, j) for
// j <= k0+kk, zero otherwise (those entries are never part of a kept sum).
void pack_panel(std::vector<double>& P, const double* L, int64_t q, int k0, int kb, int kw) {
  const int jmax = k0 + kb - 1;
  for (int j = 1; j <= jmax; ++j) {
    double* p = P.data() + (int64_t)(j - 1) * kw;
    const double* col = L + (j - 1) * q - 1;  // col[k] = L(k, j)
    for (int kk = 0; kk < kw; ++kk) p[kk] = (kk < kb && j <= k0 + kk) ? col[k0 + kk] : 0.0;
  }
}

// One output row i of a tile, lane by lane (edges of the row tiles):
// out(kk) = sum over j = 1..k0+kk of P(j,kk) x(j), with x(j) = a[(j-1)*stride].
void tile_scalar(double* out, const double* P, int kw, int k0, int kb, const double* x, int64_t stride) {
  for (int kk = 0; kk < kb; ++kk) {
    double s = 0.0;
    for (int j = 1; j <= k0 + kk; ++j) s = s + P[(int64_t)(j - 1) * kw + kk] * x[(j - 1) * stride];
    out[kk] = s;
  }
}

// Rows product, NI rows by NV*8 consecutive k (vector lanes): the sums of
// the rows i0..i0+NI-1 carried on from acc (NI x KW values, row by row) over
// the terms j = ja..jb of the main part, where every lane takes every term.
template <int NV, int NI>
void rows_span(const double* a, int64_t q, const double* P, int ja, int jb, int64_t i0, double* acc) {
  constexpr int KW = 8 * NV;
  v8 s[NI][NV];
#pragma GCC unroll 8
  for (int c = 0; c < NI; ++c)
#pragma GCC unroll 4
    for (int v = 0; v < NV; ++v) s[c][v] = load8(acc + c * KW + 8 * v);
  for (int j = ja; j <= jb; ++j) {
    const double* p = P + (int64_t)(j - 1) * KW;
    const double* x = a + (int64_t)(j - 1) * q + (i0 - 1);  // x[c] = a(i0+c, j)
    __builtin_prefetch(x + 4 * NI);  // rows far down the column: many columns are read at once
    v8 pv[NV];
#pragma GCC unroll 4
    for (int v = 0; v < NV; ++v) pv[v] = load8(p + 8 * v);
#pragma GCC unroll 8
    for (int c = 0; c < NI; ++c) {
      const v8 b = splat8(x[c]);
#pragma GCC unroll 4
      for (int v = 0; v < NV; ++v) s[c][v] = s[c][v] + pv[v] * b;
    }
  }
#pragma GCC unroll 8
  for (int c = 0; c < NI; ++c)
#pragma GCC unroll 4
    for (int v = 0; v < NV; ++v) store8(acc + c * KW + 8 * v, s[c][v]);
}

// The triangle of the tile (j = k0+1..k0+kb-1) for the same rows: lanes k
// before j keep their sums unchanged.
template <int NV, int NI>
void rows_triangle(const double* a, int64_t q, const double* P, int k0, int kb, int64_t i0, double* acc) {
  constexpr int KW = 8 * NV;
  const v8l lane = {0, 1, 2, 3, 4, 5, 6, 7};
  for (int j = k0 + 1; j < k0 + kb; ++j) {
    const int64_t jj = j - k0;
    const double* p = P + (int64_t)(j - 1) * KW;
    const double* x = a + (int64_t)(j - 1) * q + (i0 - 1);
    for (int c = 0; c < NI; ++c) {
      const v8 b = splat8(x[c]);
#pragma GCC unroll 4
      for (int v = 0; v < NV; ++v) {
        const v8 old = load8(acc + c * KW + 8 * v);
        const v8 sum = old + load8(p + 8 * v) * b;
        store8(acc + c * KW + 8 * v, (lane + 8 * v >= jj) ? sum : old);
      }
    }
  }
}

// Columns product, tile of NV*8 consecutive k (vector lanes) by NI columns.
template <int NV, int NI>
void cols_tile(double* a, int64_t q, const double* P, int k0, int kb, int64_t i0) {
  constexpr int KW = 8 * NV;
  v8 acc[NI][NV];
#pragma GCC unroll 8
  for (int c = 0; c < NI; ++c)
#pragma GCC unroll 4
    for (int v = 0; v < NV; ++v) acc[c][v] = v8{};
  const double* x[NI];
#pragma GCC unroll 8
  for (int c = 0; c < NI; ++c) x[c] = a + (i0 - 1 + c) * q - 1;  // x[c][j] = a(j, i0+c)
  for (int j = 1; j <= k0; ++j) {
    const double* p = P + (int64_t)(j - 1) * KW;
    v8 pv[NV];
#pragma GCC unroll 4
    for (int v = 0; v < NV; ++v) pv[v] = load8(p + 8 * v);
#pragma GCC unroll 8
    for (int c = 0; c < NI; ++c) {
      const v8 b = splat8(x[c][j]);
#pragma GCC unroll 4
      for (int v = 0; v < NV; ++v) acc[c][v] = acc[c][v] + pv[v] * b;
    }
  }
  // The triangle of the tile: lanes k before j keep their sums unchanged.
  const v8l lane = {0, 1, 2, 3, 4, 5, 6, 7};
  for (int j = k0 + 1; j < k0 + kb; ++j) {
    const int64_t jj = j - k0;
    const double* p = P + (int64_t)(j - 1) * KW;
    v8 pv[NV];
#pragma GCC unroll 4
    for (int v = 0; v < NV; ++v) pv[v] = load8(p + 8 * v);
#pragma GCC unroll 8
    for (int c = 0; c < NI; ++c) {
      const v8 b = splat8(x[c][j]);
#pragma GCC unroll 4
      for (int v = 0; v < NV; ++v) {
        const v8 sum = acc[c][v] + pv[v] * b;
        acc[c][v] = (lane + 8 * v >= jj) ? sum : acc[c][v];
      }
    }
  }
#pragma GCC unroll 8
  for (int c = 0; c < NI; ++c) {
    double* out = a + (i0 - 1 + c) * q + (k0 - 1);
    if (kb == KW) {
#pragma GCC unroll 4
      for (int v = 0; v < NV; ++v) store8(out + 8 * v, acc[c][v]);
    } else {
      double tmp[KW];
#pragma GCC unroll 4
      for (int v = 0; v < NV; ++v) store8(tmp + 8 * v, acc[c][v]);
      for (int kk = 0; kk < kb; ++kk) out[kk] = tmp[kk];
    }
  }
}

}  // namespace

void mult_rows_linvt_tiled(double* a, const double* linva, double* sirvec, int q) {
  (void)sirvec;
  // A row of the matrix is spread over q columns, so the terms j are taken in
  // spans of JB columns (a contiguous stretch of the matrix) for all rows
  // before the next span, the sums waiting in acc between spans.
  constexpr int NV = 3, NI = 8, KW = 8 * NV, JB = 32;
  std::vector<double> P = work<double>((size_t)q * KW), acc = work<double>((size_t)q * KW);
  const int64_t qq = q, nfull = q / NI * NI;
  const int ntile = (q + KW - 1) / KW;
  for (int tl = ntile - 1; tl >= 0; --tl) {
    const int k0 = 1 + tl * KW, kb = q - k0 + 1 < KW ? q - k0 + 1 : KW;
    pack_panel(P, linva, qq, k0, kb, KW);
    std::fill(acc.begin(), acc.end(), 0.0);
    for (int ja = 1; ja <= k0; ja += JB) {
      const int jb = ja + JB - 1 < k0 ? ja + JB - 1 : k0;
      for (int64_t i0 = 1; i0 <= nfull; i0 += NI)
        rows_span<NV, NI>(a, qq, P.data(), ja, jb, i0, acc.data() + (i0 - 1) * KW);
    }
    for (int64_t i0 = 1; i0 <= nfull; i0 += NI) {
      double* ac = acc.data() + (i0 - 1) * KW;
      rows_triangle<NV, NI>(a, qq, P.data(), k0, kb, i0, ac);
      for (int c = 0; c < NI; ++c)
        for (int kk = 0; kk < kb; ++kk) a[(int64_t)(k0 + kk - 1) * qq + (i0 - 1 + c)] = ac[c * KW + kk];
    }
    for (int64_t i = nfull + 1; i <= qq; ++i) {
      double out[KW];
      tile_scalar(out, P.data(), KW, k0, kb, a + (i - 1), qq);
      for (int kk = 0; kk < kb; ++kk) a[(int64_t)(k0 + kk - 1) * qq + (i - 1)] = out[kk];
    }
  }
}

void mult_cols_linv_tiled(double* a, const double* linva, double* sirvec, int q) {
  (void)sirvec;
  constexpr int NV = 3, NI = 8, KW = 8 * NV;
  std::vector<double> P = work<double>((size_t)q * KW);
  const int ntile = (q + KW - 1) / KW;
  for (int tl = ntile - 1; tl >= 0; --tl) {
    const int k0 = 1 + tl * KW, kb = q - k0 + 1 < KW ? q - k0 + 1 : KW;
    pack_panel(P, linva, q, k0, kb, KW);
    int64_t i0 = 1;
    for (; i0 + NI - 1 <= q; i0 += NI) cols_tile<NV, NI>(a, q, P.data(), k0, kb, i0);
    for (; i0 <= q; ++i0) cols_tile<NV, 1>(a, q, P.data(), k0, kb, i0);
  }
}
