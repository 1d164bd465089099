// Pass 2 over pedigree.dat: the equation numbers of the five block positions
// of every bull, its block, 25 lines of zelk.coef and one line of sire.list;
// then one line of sire.list per group.
#include "zelk/zelk.h"

void PASS2(ZELK& Z) {
  static const Format coef("(2I5,F10.6)");
  static const Format bull("(3I5,4I10)");
  PEDREC R;  // zeros and a blank, as pass 1 started: both passes read alike
  Z.NCOEF = 0;
  for (int32_t I = 1; I <= Z.NNS; ++I) {
    int32_t INDVEC[6];  // positions 1..5: bull, sire, MGS, MGGS, female group
    int32_t IDTEMP[5];  // positions 1..4: the bull's ID, then ancestor IDs or group codes
    INDVEC[1] = I;
    int32_t code = 1000;
    PEDRD(R, false);  // a record that pass 1 accepted: the end is never met here
    IDTEMP[1] = R.ID;
    IDTEMP[2] = R.SIRE;
    IDTEMP[3] = R.MGS;
    IDTEMP[4] = R.MGGS;
    static const int32_t digit[5] = {0, 0, 100, 10, 1};
    for (int L = 2; L <= 4; ++L) {
      const int32_t k = IDTEMP[L] != 0 ? BINSRC(IDTEMP[L], Z.LIST, Z.NNS) : 0;
      if (k != 0) {
        INDVEC[L] = k;
        code = code + digit[L];
      } else {
        // The male group of the year YEAR - 6, - 8 or - 10; a bull of year 10
        // without MGGS asks for year 0: condition 408 on YRFREQ, before any
        // line of this bull is written.
        const int32_t g = ITRUNC(Z.YRFREQ((int64_t)R.YEAR - 2 * L - 2));
        INDVEC[L] = Z.NNS + g;
        IDTEMP[L] = Z.GRPLST(g);
      }
    }
    Block AOUT;
    CPYMAT(BLKSEL(Z, code), AOUT, 5);
    Z.NCOEF = Z.NCOEF + 25;
    const int32_t X = ITRUNC(Z.YRCNT(R.YEAR));  // the female group of the birth year
    INDVEC[5] = Z.NNS + X;

    for (int i = 1; i <= 5; ++i)
      for (int j = 1; j <= 5; ++j) FMTWRT(COEF, coef, {INDVEC[i], INDVEC[j], AOUT(i, j)});
    FMTWRT(SIRLST, bull, {code, R.YEAR, X, IDTEMP[1], IDTEMP[2], IDTEMP[3], IDTEMP[4]});
  }
}

void GRPOUT(ZELK& Z) {
  static const Format group("(3I5,4I10)");
  for (int32_t g = 1; g <= Z.NG; ++g) {
    const int32_t c = Z.GRPLST(g);
    FMTWRT(SIRLST, group, {0, 0, g, c, c, c, c});
  }
}
