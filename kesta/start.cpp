// Starting values and within-subclass report: R is the within-smallest-
// subclass covariance matrix, S one ninth of it; RHSWRK starts as SIRRHS;
// the listing gets the within-subclass correlations and standard deviations.
#include <cmath>

#include "kesta/phases.h"
#include "records/records.h"

void starting_values(Model& m) {
  const int32_t t = m.NTRAIT;
  const int64_t q = m.NSIRE;
  M R = mat(m.RESCOV, t), S = mat(m.SIRCOV, t);
  V WSSPK = vec(m.WSSPK);

  LSTWRT(LISTING, {"WITHIN SMALLEST SUBCLASS CORRELATIONS AMONG TRAITS"});

  for (int64_t k = 0; k < q * t; ++k) m.RHSWRK[k] = m.SIRRHS[k];

  // 25 fields where the system had 20: with 21 to 25 traits a row keeps all
  // its values on its one line; up to 20 traits the lines are unchanged.
  static const Format fcor("(I5,2X,A,25F7.3)");
  for (int32_t j = 1; j <= t; ++j) {
    for (int32_t i = 1; i <= j; ++i) {
      const double w = WSSPK((int64_t)j * (j - 1) / 2 + i);
      R(i, j) = w;
      R(j, i) = w;
      S(i, j) = w / 9.0;
      S(j, i) = w / 9.0;
    }
    Items line{j, trait_name(m, j)};
    for (int32_t i = 1; i <= j; ++i) line.push_back(R(j, i) / std::sqrt(R(i, i) * R(j, j)));
    FMTWRT(LISTING, fcor, line);
  }

  LSTWRT(LISTING);
  LSTWRT(LISTING, {"WITHIN SMALLEST SUBCLASS STANDARD DEVIATIONS"});
  static const Format fsd("(I5,2X,A,2X,20F15.6)");
  for (int32_t i = 1; i <= t; ++i) FMTWRT(LISTING, fsd, {i, trait_name(m, i), std::sqrt(R(i, i))});
}
