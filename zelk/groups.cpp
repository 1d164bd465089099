// Unknown-ancestor groups: the female groups over the birth years of the
// bulls, then the one male group, and the check that their equation numbers
// fit in zelk.coef.
#include <cmath>

#include "zelk/zelk.h"

void KGROUP(int32_t NNS, int32_t& K1, int32_t& K2) {
  // Single-precision count and logarithm; for NNS = 0 the logarithm is minus
  // infinity and both counts are the lowest integer.
  const float x = (float)NNS / 3.0f;
  const float lx = std::log(x);
  K1 = ITRUNC(lx);
  const float p = lx * 0.3f;  // rounded to single precision before truncation
  K2 = ITRUNC(p);
}

void GROUPS(ZELK& Z) {
  static const Format female("('0GROUPS FOR UNKNOWN FEMALES')");
  static const Format male("('0GROUPS FOR UNKNOWN MALE ANCESTORS')");
  int32_t K1, K2;
  KGROUP(Z.NNS, K1, K2);

  Z.NG = 0;
  FMTWRT(LISTING, female);
  FRMGRP(Z.YRCNT, Z.GRPLST, Z.NG, K1, IBASE, Z.NNS);
  // The first male group's code is 200000001 whatever the female groups.
  const int32_t mbase = 2 * IBASE - Z.NG;
  FMTWRT(LISTING, male);
  FRMGRP(Z.YRFREQ, Z.GRPLST, Z.NG, K2, mbase, Z.NNS);
}

void EQNCHK(int32_t NNS, int32_t NG) {
  // Equation numbers are written in five columns: above 99999 they would be
  // asterisks that kesta cannot read, so refuse before any line is written.
  static const Format toomny("('0TOO MANY EQUATIONS FOR ZELK.COEF (MAX 99999): NNS =',I10,'  NG =',I10)");
  if ((int64_t)NNS + NG > MAXEQ) {
    FMTWRT(LISTING, toomny, {NNS, NG});
    RUNSTOP();
  }
}
