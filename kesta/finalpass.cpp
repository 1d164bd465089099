// Final solution pass: the sire equations solved once more with the final
// variance ratios, relationships and genetic groups; PTAs back on the trait
// scale, group solutions and their standard errors on the listing, sire.pta,
// then the reliabilities and sire.rel.
#include <cmath>
#include <cstdint>

#include "kesta/matrix/kernels.h"
#include "kesta/phases.h"
#include "records/records.h"

namespace {

// Mend: a diverging solver leaves infinities and NaNs; they are not written
// out as evaluations.
void check_finite(Model& m) {
  for (double x : m.SOLCAN) {
    if (std::isfinite(x)) continue;
    static const Format f("('0SIRE SOLUTIONS ARE NOT FINITE, NO PTAS WRITTEN')");
    FMTWRT(LISTING, f);
    RUNSTOP();
  }
}

// One record of the group blocks: number twice, effective number, values.
void group_line(int32_t k, Item efn, const Items& vals) {
  static const Format f("(' ',I9,I5,F12.2,6X,8F12.6,/,(33X,8F12.6,/))");
  Items it{k, k, efn};
  it.insert(it.end(), vals.begin(), vals.end());
  FMTWRT(LISTING, f, it);
}

void base_line(Model& m) {
  Items zeros(m.NTRAIT, Item(0.0f));
  group_line(m.NGRP1, Item(m.BASEEN), zeros);
}

}  // namespace

void final_pass(Model& m) {
  const int t = m.NTRAIT, q = m.NSIRE, g = m.NGROUP;
  reread_input(m);
  reabsorb_groups(m);

  M K = mat(m.SIRMAT, q);
  M RHSWRK = mat(m.RHSWRK, q), SOLCAN = mat(m.SOLCAN, q), RELIAB = mat(m.RELIAB, q);
  M SIRGRP = mat(m.SIRGRP, q), NHINV = mat(m.NHINV, q);
  M GRPRHS = mat(m.GRPRHS, g), GRPSOL = mat(m.GRPSOL, g), GRPMAT = mat(m.GRPMAT, g);
  M RESCOV = mat(m.RESCOV, t), SIRCOV = mat(m.SIRCOV, t);
  V RATIOS = vec(m.RATIOS), GRPEFN = vec(m.GRPEFN), WRKV2 = vec(m.WRKV2);

  // Right-hand sides on the canonical trait scale, y Q', and start values.
  MATPRD(q, t, t, m.RHSWRK.data(), m.SIRRHS.data(), m.TRANSK.data(), 0, 1);
  for (int s = 1; s <= q; ++s)
    for (int i = 1; i <= t; ++i) SOLCAN(s, i) = RHSWRK(s, i) / (RATIOS(i) + K(s, s));

  ainverse_second(m);
  SIRSOL(m.SIRMAT.data(), m.RINVPK.data(), m.RATIOS.data(), m.RHSWRK.data(), m.SOLCAN.data(), m.RELIAB.data(),
         m.SIRVEC.data(), m.WRKV2.data(), m.WRKV1.data(), q, t);
  check_finite(m);

  // Q^-1 (with the pivoting fallback), then the PTAs on the trait scale.
  INVRTP(m.TRANSK.data(), t, t);
  MATPRD(q, t, t, m.RHSWRK.data(), m.SOLCAN.data(), m.TRANSK.data(), 0, 1);

  // Group right-hand sides less N' PTA, each sum from zero in sire order.
  for (int k = 1; k <= g; ++k)
    for (int l = 1; l <= t; ++l) {
      double sum = 0;
      for (int s = 1; s <= q; ++s) sum = sum + SIRGRP(s, k) * RHSWRK(s, l);
      GRPRHS(k, l) = GRPRHS(k, l) - sum;
    }
  MATPRD(g, g, t, m.GRPSOL.data(), m.GRPMAT.data(), m.GRPRHS.data(), 0, 0);

  // The base group, and any number above it, has no solution to add; numbers
  // below 1 were refused when pass.dat was read.
  for (int s = 1; s <= q; ++s) {
    int k = m.SIREGR[s - 1];
    if (k > g) continue;
    for (int l = 1; l <= t; ++l) RHSWRK(s, l) = RHSWRK(s, l) + GRPSOL(k, l);
  }

  LSTWRT(LISTING);
  static const Format fhead("(12X,'GROUP  EFF.NUM.     GROUP SOLUTIONS')");
  FMTWRT(LISTING, fhead);
  for (int k = 1; k <= g; ++k) {
    Items vals;
    for (int l = 1; l <= t; ++l) vals.push_back(GRPSOL(k, l));
    group_line(k, Item(GRPEFN(k)), vals);
  }
  base_line(m);

  LSTWRT(LISTING);
  static const Format fse("('                STANDARD ERRORS OF GROUP SOLUTIONS')");
  FMTWRT(LISTING, fse);
  for (int k = 1; k <= g; ++k) {
    double w = 0;
    for (int s = 1; s <= q; ++s) w = w + NHINV(s, k) * NHINV(s, k);
    Items vals;
    for (int i = 1; i <= t; ++i) {
      WRKV2(i) = std::sqrt(((w / RATIOS(i)) * 0.5 + GRPMAT(k, k)) * RESCOV(i, i));
      vals.push_back(WRKV2(i));
    }
    group_line(k, Item(GRPEFN(k)), vals);
  }
  base_line(m);

  static const Format fpta("(I10,I3,F7.1,25F10.4)");
  for (int s = 1; s <= q; ++s) {
    Items it{m.SIREID[s - 1], m.SIREGR[s - 1], K(s, s)};
    for (int l = 1; l <= t; ++l) it.push_back(RHSWRK(s, l));
    FMTWRT(PTA, fpta, it);
  }

  // Reliabilities with the error-to-sire ratios of the untransformed traits.
  for (int i = 1; i <= t; ++i) WRKV2(i) = RESCOV(i, i) / SIRCOV(i, i);
  RELAPX(m.SIRMAT.data(), m.RINVPK.data(), m.SIREIG.data(), m.SIRVEC.data(), m.WRKV2.data(), m.RELIAB.data(), q,
         t);
  static const Format frel("(I10,I3,F7.1,25F5.0)");
  for (int s = 1; s <= q; ++s) {
    Items it{m.SIREID[s - 1], m.SIREGR[s - 1], K(s, s)};
    for (int l = 1; l <= t; ++l) it.push_back(100 * RELIAB(s, l));
    FMTWRT(REL, frel, it);
  }
}
