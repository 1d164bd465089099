// kesta: REML estimation of sire and error covariance matrices under a sire
// model with relationships, and the final evaluation of the sires.
// The main program is the run order: one call per phase.
#include "kesta/phases.h"
#include "records/records.h"

int main() {
  RUNSTART("kesta");
  FILOPN("pass.dat", PASS, BINFILE);
  FILOPN("zelk.coef", ZCOEF, TEXTFILE);
  FILOPN("sire.pta", PTA, TEXTFILE);
  FILOPN("sire.rel", REL, TEXTFILE);
  FILOPN("genphen.cor", GENPHEN, TEXTFILE);
  FILOPN("genetic.cor", GENETIC, TEXTFILE);
  FILOPN("environment.cor", ENVIRON, TEXTFILE);
  LSTWRT(LISTING, {"KESTA OUTPUT"});
  LSTWRT(LISTING);

  Model m;
  read_counts(m);
  size_model(m);
  read_trait_data(m);
  starting_values(m);
  ainverse_first(m);
  read_sire_matrix(m);
  absorb_groups(m);
  canonical_transform(m);
  reml_rounds(m);
  final_estimates(m);
  if (m.NTRAIT != 1) correlation_tables(m);
  final_pass(m);

  LSTWRT(LISTING);
  LSTWRT(LISTING, {"Program KESTA completed normally"});
  RUNEND();
}
