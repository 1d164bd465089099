// Correlation tables: genetic correlations above the diagonal and phenotypic
// ones below, on the listing and in genphen.cor (with S, R + S and the last
// round's trait transformation); genetic correlations with the genetic
// standard deviations in genetic.cor; environmental correlations in
// environment.cor. Only with more than one trait.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "kesta/phases.h"
#include "records/records.h"

namespace {

// One row: the leading items, then t values. The analysis input refuses more
// than 25 traits, so the values always fit the row layouts' 25 fields.
void write_row(int unit, const Format& fmt, Items lead, const double* v, int t) {
  for (int j = 0; j < t; ++j) lead.push_back(Item(v[j]));
  FMTWRT(unit, fmt, lead);
}

}  // namespace

void correlation_tables(Model& m) {
  const int t = m.NTRAIT;
  static const Format heading(
      "(15X,'GENETIC CORRELATIONS ARE ABOVE DIAGONAL',/,15X,"
      "'PHENOTYPIC CORRELATIONS ARE BELOW DIAGONAL',/,'TRAIT    ',25I12)");
  static const Format names("('NAME         ',25(5X,A))");
  static const Format filenames("(999(4X,A))");
  static const Format listrow("(I3,2X,A,2X,25F12.7)");
  static const Format corrow("(I3,2X,A,2X,25F16.7)");
  static const Format matrow("(' ',I2,1X,A,25F16.7)");
  static const Format cellf("(F12.7)");
  static const Format cells("(999A)");

  M R = mat(m.RESCOV, t), S = mat(m.SIRCOV, t), P = mat(m.PHECOV, t);
  V WRKV2 = vec(m.WRKV2);
  auto cell = [&m](int j) { return m.CELL12.data() + 12 * (j - 1); };

  for (int o = 1; o <= t; ++o) {
    m.TRNUM[o - 1] = o;
    for (int j = 1; j <= t; ++j) P(o, j) = R(o, j) + S(o, j);
  }

  Items nums, tnames;
  for (int o = 1; o <= t; ++o) {
    nums.push_back(Item(m.TRNUM[o - 1]));
    tnames.push_back(Item(trait_name(m, o)));
  }
  LSTWRT(LISTING);
  FMTWRT(LISTING, heading, nums);
  FMTWRT(LISTING, names, tnames);

  LSTWRT(GENETIC, {"Genetic correlations"});
  FMTWRT(GENETIC, filenames, tnames);
  LSTWRT(ENVIRON, {"Environmental correlations"});
  FMTWRT(ENVIRON, filenames, tnames);

  // R need not be symmetric after the rounds: row o always takes row o of
  // each matrix.
  auto envcov = [&](int o, int j) { return R(o, j) - 3.0 * S(o, j); };

  // The cell items view CELL12, so they are written with whatever the cells
  // hold at each FMTWRT.
  Items cellrow;
  for (int j = 1; j <= t; ++j) cellrow.push_back(Item(std::string_view(cell(j), 12)));

  for (int o = 1; o <= t; ++o) {
    for (int j = 1; j <= t; ++j) {
      if (j > o)
        WRKV2(j) = S(o, j) / std::sqrt(S(o, o) * S(j, j));
      else if (j < o)
        WRKV2(j) = P(o, j) / std::sqrt(P(o, o) * P(j, j));
      else
        WRKV2(j) = 1.0;
    }
    write_row(LISTING, listrow, {(int32_t)o, trait_name(m, o)}, m.WRKV2.data(), t);
    write_row(GENPHEN, corrow, {(int32_t)o, trait_name(m, o)}, m.WRKV2.data(), t);

    std::memset(m.CELL12.data(), ' ', m.CELL12.size());
    for (int j = o; j <= t; ++j) CELWRT(cell(j), cellf, WRKV2(j));
    CELWRT(cell(o), cellf, 2.0 * std::sqrt(S(o, o)));
    FMTWRT(GENETIC, cells, cellrow);

    std::memset(m.CELL12.data(), ' ', m.CELL12.size());
    for (int j = 1; j <= o; ++j)
      CELWRT(cell(j), cellf, envcov(o, j) / std::sqrt(envcov(o, o) * envcov(j, j)));
    FMTWRT(ENVIRON, cells, cellrow);
  }

  // S, then R + S, then the last round's trait transformation, row by row.
  std::vector<double> row(t);
  for (Array<double>* a : {&m.SIRCOV, &m.PHECOV, &m.TRANSK}) {
    M A = mat(*a, t);
    for (int i = 1; i <= t; ++i) {
      for (int j = 1; j <= t; ++j) row[j - 1] = A(i, j);
      write_row(GENPHEN, matrow, {(int32_t)i, trait_name(m, i)}, row.data(), t);
    }
  }
}
