// zelk: inverse-relationship coefficients of a sorted pedigree of bulls.
// The main program is the run order.
#include "zelk/zelk.h"

int main() {
  RUNSTART("zelk");  // flush-to-zero and denormals-are-zero for the whole run
  FILOPN("pedigree.dat", PEDIGR, TEXTFILE);
  FILOPN("zelk.coef", COEF, TEXTFILE);
  FILOPN("sire.list", SIRLST, TEXTFILE);

  static ZELK Z;
  BLDBLK(Z);
  ZERYR(Z);
  PASS1(Z);
  FILREW(PEDIGR);
  GROUPS(Z);
  EQNCHK(Z.NNS, Z.NG);
  PASS2(Z);
  GRPOUT(Z);
  SUMMRY(Z);
  RUNEND();
}
