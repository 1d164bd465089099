// Group absorption and canonical sire transformation.
//
// absorb_groups:       K = W - N H^-1 N', y = r - N H^-1 GRPRHS, YMYPK less the
//                      group part, RHSWRK = L^-1 y.
// canonical_transform: L^-1 K L^-T in place, its eigen-decomposition in place,
//                      E' L^-1 y, and the six listing lines.
// reabsorb_groups:     in the final pass, K and y again from the W and r read
//                      again, with the group products kept from the first time.
#include "kesta/absorb.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "kesta/matrix/kernels.h"
#include "kesta/phases.h"
#include "records/records.h"

void absorb_groups(Model& m) {
  const int q = m.NSIRE, t = m.NTRAIT, g = m.NGROUP;
  M SIRMAT = mat(m.SIRMAT, q), SIRRHS = mat(m.SIRRHS, q), RHSWRK = mat(m.RHSWRK, q);
  M SIRGRP = mat(m.SIRGRP, q), NHINV = mat(m.NHINV, q);
  M GRPMAT = mat(m.GRPMAT, g), GRPRHS = mat(m.GRPRHS, g), GRPSOL = mat(m.GRPSOL, g);
  V GRPEFN = vec(m.GRPEFN), YMYPK = vec(m.YMYPK);

  for (int k = 1; k <= g; ++k) GRPEFN(k) = GRPMAT(k, k);
  // H is small and often needs row exchanges to invert; INVRTP keeps INVRT's
  // bits whenever the natural order works.
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
    // Each element of column s loses its group products term by term; both
    // triangles on their own, so K need not come out exactly symmetric.
    for (int k = 1; k <= g; ++k) {
      const double x = SIRGRP(s, k);
      for (int i = 1; i <= q; ++i) SIRMAT(i, s) = SIRMAT(i, s) - NHINV(i, k) * x;
    }
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

  mult_rows_linvt_tiled(m.SIRMAT.data(), m.LINVA.data(), m.SIRVEC.data(), q);
  LSTWRT(LISTING);
  LSTWRT(LISTING, {"LARGE MATRIX MULTIPLICATION 1 DONE"});

  mult_cols_linv_tiled(m.SIRMAT.data(), m.LINVA.data(), m.SIRVEC.data(), q);
  LSTWRT(LISTING);
  LSTWRT(LISTING, {"LARGE MATRIX MULTIPLICATION 2 DONE"});

  EIGVEC(q, q, m.SIRMAT.data(), m.SIREIG.data(), m.SIRVEC.data(), m.SIRMAT.data());
  LSTWRT(LISTING);
  FMTWRT(LISTING, eigdone);

  MATPRD(q, q, t, m.SIRRHS.data(), m.SIRMAT.data(), m.RHSWRK.data(), 1, 0);
}

void reabsorb_groups(Model& m) {
  const int q = m.NSIRE, t = m.NTRAIT, g = m.NGROUP;
  M SIRMAT = mat(m.SIRMAT, q), SIRRHS = mat(m.SIRRHS, q);
  M SIRGRP = mat(m.SIRGRP, q), NHINV = mat(m.NHINV, q), GRPRHS = mat(m.GRPRHS, g);

  for (int s = 1; s <= q; ++s) {
    // The same products in the same order as the first absorption, so that K
    // comes out bit for bit as it did then.
    for (int k = 1; k <= g; ++k) {
      const double x = SIRGRP(s, k);
      for (int i = 1; i <= q; ++i) SIRMAT(i, s) = SIRMAT(i, s) - NHINV(i, k) * x;
    }
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

void mult_rows_linvt_tiled(double* a, const double* linva, double* sirvec, int q) {
  mult_rows_linvt(a, linva, sirvec, q);
}
void mult_cols_linv_tiled(double* a, const double* linva, double* sirvec, int q) {
  mult_cols_linv(a, linva, sirvec, q);
}
