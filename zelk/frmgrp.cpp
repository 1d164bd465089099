// FRMGRP(FREQ, GRPLST, NG, K, base, NNS): groups of one kind over the years.
//
// FREQ (in/out): counts by year 1..2028 in; the group number of each year out.
// GRPLST (out): the codes base + g of the groups g that this call forms.
// NG (in/out): groups formed before; groups formed in all.
// K: the requested number of groups; base: the code base of this kind;
// NNS: only for the group index NNS + g in the report.
//
// The years are cut into groups of about S / (K + 1) bulls: a group closes
// only when both its own total and the rest after it exceed the target.
#include "zelk/zelk.h"

static void grpline(GRTAB& GRPLST, int32_t NG, int32_t base, int32_t NNS) {
  static const Format fmt("('0GROUP',I3,'    GROUP CODE=',I10,'     GROUP INDEX=',I10)");
  GRPLST(NG) = base + NG;
  FMTWRT(LISTING, fmt, {NG, GRPLST(NG), NNS + NG});
}

void FRMGRP(YRTAB& FREQ, GRTAB& GRPLST, int32_t& NG, int32_t K, int32_t base, int32_t NNS) {
  static const Format year("('          YEAR',I6,'    NUMBER OF BULLS=',F12.6)");
  // The total in double precision, in ascending year order.
  double S = 0.0;
  for (int32_t J = 1; J <= MAXYR; ++J) S = S + (double)FREQ(J);
  // K + 1 as a 32-bit integer (wrapping as the hardware would, never UB):
  // K = -1 gives a target of plus infinity, the lowest K minus zero.
  const int32_t kp1 = (int32_t)((uint32_t)K + 1u);
  const double T = S / (double)kp1;

  NG = NG + 1;
  grpline(GRPLST, NG, base, NNS);
  double R = S;    // what is left after the years done so far
  double A = 0.0;  // the total of the group being filled
  for (int32_t J = 1; J <= MAXYR; ++J) {
    const float f = FREQ(J);
    FREQ(J) = (float)NG;  // year J stays in the group current now
    if (f > 0.0f) FMTWRT(LISTING, year, {J, f});
    R = R - (double)f;
    if (T >= R) continue;
    A = A + (double)f;
    if (T >= A) continue;
    NG = NG + 1;
    grpline(GRPLST, NG, base, NNS);
    A = 0.0;
  }
}
