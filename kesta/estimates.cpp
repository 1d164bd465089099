// Final estimates and standard errors: per trait the error variance, sire
// variance and heritability of the last round, then approximate standard
// errors of the three, with the single-precision rounding points of the
// method kept exactly where they stand.
#include <cmath>
#include <cstdint>

#include "kesta/phases.h"
#include "records/records.h"

namespace {
double single(double x) { return (double)(float)x; }
}  // namespace

void final_estimates(Model& m) {
  const int t = m.NTRAIT;
  static const Format singular("('GENETIC VARIANCE MATRIX APPROACHING SINGULARITY')");
  static const Format header(
      "('FINAL ESTIMATES:',/,'  TRAIT NAME       ERROR VAR.','      SIRE VAR.     HERITABILITY')");
  static const Format line("(I5,2X,A,2X,20F15.6)");
  static const Format seheader("('STANDARD ERRORS OF CORRESPONDING PARAMETERS ABOVE')");

  M R = mat(m.RESCOV, t), S = mat(m.SIRCOV, t);
  V SIREIG = vec(m.SIREIG), TRACE2 = vec(m.TRACE2), RATIOS = vec(m.RATIOS);

  LSTWRT(LISTING);
  if (RATIOS(1) >= 99000.0) FMTWRT(LISTING, singular);
  LSTWRT(LISTING);
  FMTWRT(LISTING, header);
  for (int i = 1; i <= t; ++i) {
    const double e = R(i, i), s = S(i, i);
    const float h = (float)((4.0 * s) / (s + e));
    FMTWRT(LISTING, line, {(int32_t)i, trait_name(m, i), e, s, h});
  }

  LSTWRT(LISTING);
  FMTWRT(LISTING, seheader);

  const int q = m.NSIRE;
  const double dq = (double)q;
  const float qs = (float)q;
  const double q1 = single((double)qs - 1.0);
  // The analysis input has refused a difference outside 32 bits; taken
  // unsigned all the same, so that no count can make it overflow.
  const double d = single((double)(int32_t)((uint32_t)m.NREC - (uint32_t)m.NDFDED));
  const double c1 = std::sqrt(2.0 / d);
  const double c2 = (double)qs / q1;
  const double c3 = 2.0 * ((q1 * q1) / d + q1);

  for (int i = 1; i <= t; ++i) {
    const double e = R(i, i), s = S(i, i);
    const double k = single(e / s);
    const float see = (float)(c1 * e);
    const float p = (float)(e + s);
    double tr = 0.0;
    for (int j = 1; j <= q; ++j) tr = tr + 1.0 / (SIREIG(j) + k);
    TRACE2(i) = tr;
    const double k2 = single(k / (dq / (dq - tr * k) - c2));
    const double ek = (e / k2) / dq;
    const double a = single((ek * ek) * c3);
    const double b = single((((4.0 * e) * s) / k2) / dq + a);
    const float v = (float)((2.0 * (s * s)) / q1 + b);
    const float ses = std::sqrt(v);  // the single-precision square root
    const double hp = single((4.0 * s) / (double)p);
    // X wholly in single precision, then added as a double.
    const float X = (see * see + v) / (p * p);
    const double x = single((double)v / (s * s) + (double)X);
    const float vv = v + v;
    const double y = ((double)vv / s) / (double)p;
    const float seh = (float)(std::sqrt(x - y) * hp);
    FMTWRT(LISTING, line, {(int32_t)i, trait_name(m, i), see, ses, seh});
  }
}
