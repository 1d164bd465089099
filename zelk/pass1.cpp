// Pedigree intake: pass 1 over pedigree.dat with its checks, the bull list
// LIST and the bulls per birth year YRCNT.
#include "zelk/zelk.h"

int PEDRD(PEDREC& R, bool eofok) {
  return LSTRD(PEDIGR, {in(R.ID), in(R.SIRE), in(R.MGS), in(R.MGGS), intext(&R.CH, 1), in(R.YEAR)},
               eofok);
}

void ZERYR(ZELK& Z) {
  for (int32_t y = 1; y <= MAXYR; ++y) {
    Z.YRFREQ(y) = 0.0f;
    Z.YRCNT(y) = 0.0f;
  }
}

void PASS1(ZELK& Z) {
  static const Format notsrt("('0PEDIGREE FILES NOT SORTED PROPERLY')");
  static const Format twice("('0BULL',I10,' HAD MORE THAN 1 OBSERVATION, NOT LEGAL')");
  static const Format badyr("('0BAD BIRTH YEAR',I10)");
  static const Format badped("('0BAD PEDIGREE      ',4I10)");
  static const Format maxns("('0MAXIMUM NUMBER OF SIRES =',I9,/,' EXCEEDED BY ACTUAL NUMBER =',I9)");

  Z.NNS = 0;
  int32_t prev = 0;
  PEDREC R;  // zeros and a blank, as pass 2 starts
  // A last record that the end of the file cuts short ends the pass uncounted.
  while (PEDRD(R, true) == 0) {
    if (R.ID < prev) {
      FMTWRT(LISTING, notsrt);
      RUNSTOP();
    }
    if (R.ID == prev) {
      FMTWRT(LISTING, twice, {R.ID});
      RUNSTOP();
    }
    if (R.YEAR < 10) {
      FMTWRT(LISTING, badyr, {R.YEAR});
      RUNSTOP();
    }
    if (R.ID == R.SIRE || R.ID == R.MGS || R.ID == R.MGGS) {
      FMTWRT(LISTING, badped, {R.ID, R.SIRE, R.MGS, R.MGGS});
      RUNSTOP();
    }
    Z.NNS = Z.NNS + 1;
    if (Z.NNS > MAXNS) {
      FMTWRT(LISTING, maxns, {MAXNS, Z.NNS});
      RUNSTOP();
    }
    Z.LIST(Z.NNS) = R.ID;
    prev = R.ID;
    // A YEAR above 2028 has no entry: condition 408 on YRCNT.
    Z.YRCNT(R.YEAR) = Z.YRCNT(R.YEAR) + 1.0f;
  }
}
