// A-inverse assembly from zelk.coef, read twice.
//
// First reading: the upper triangle into RINVPK (packed upper by rows), the
// count line, the diagonal test, CHOLPK, L = U' into SIRMAT and its inverse
// by INVRT. Second reading (final pass): the lower triangle into RINVPK
// (packed lower by rows), with no count, message or test.
//
// Each coefficient is read in single precision and added, widened to double,
// in file order, so repeated pairs are summed in that order.
#include <cstdint>

#include "kesta/matrix/kernels.h"
#include "kesta/phases.h"
#include "records/records.h"

static const Format& coef_format() {
  static const Format f("(2I5,F10.6)");
  return f;
}

// 1-based positions of (i,j) in the packed triangles of order q: upper by
// rows (i <= j) and lower by rows (j <= i). Formed in 64 bits.
static int64_t upper_pos(int64_t i, int64_t j, int64_t q) { return (i - 1) * (2 * q - i) / 2 + j; }
static int64_t lower_pos(int64_t i, int64_t j) { return i * (i - 1) / 2 + j; }

void ainverse_first(Model& m) {
  const int32_t q = m.NSIRE;
  V RINVPK = vec(m.RINVPK);
  M SIRMAT = mat(m.SIRMAT, q);

  clear_array(m.RINVPK);
  int32_t count = 0;
  int32_t i, j;
  float a;
  while (FMTRD(ZCOEF, coef_format(), {in(i), in(j), in(a)}) != -1) {
    // Counted in unsigned arithmetic: it wraps like the 32-bit count it is
    // instead of overflowing.
    count = (int32_t)((uint32_t)count + 1u);
    if (i > j) continue;
    if (j > q) continue;
    // An equation number below 1 (an empty line reads as 0) lies outside
    // the A-inverse: passed over.
    if (i < 1) continue;
    RINVPK(upper_pos(i, j, q)) += (double)a;
  }
  LSTWRT(LISTING, {count, " ZELK COEFS READ"});

  // A NaN is not below 1.0 and passes.
  static const Format fdiag("('DIAGONAL OF ZELK =',F10.6,'  FOR EQ. NUMBER',I6,/,'PROGRAM QUIT')");
  for (int32_t k = 1; k <= q; ++k) {
    const double d = RINVPK(upper_pos(k, k, q));
    if (d < 1.0) {
      FMTWRT(LISTING, fdiag, {d, k});
      RUNSTOP();
    }
  }

  CHOLPK(m.RINVPK.data(), m.NSIRH, q);
  LSTWRT(LISTING);
  LSTWRT(LISTING, {"CHOLESKY DECOMPOSITION OF A-INVERSE DONE"});

  // L = U': column i of SIRMAT is row i of the packed U below the diagonal
  // and zero above it. Filled column by column; every element is written.
  int64_t p = 0;
  for (int32_t c = 1; c <= q; ++c) {
    for (int32_t r = 1; r < c; ++r) SIRMAT(r, c) = 0.0;
    for (int32_t r = c; r <= q; ++r) SIRMAT(r, c) = m.RINVPK[p++];
  }
  // U is not needed again: its memory goes back until the final pass.
  clear_array(m.RINVPK);

  INVRT(m.SIRMAT.data(), q, q);
  LSTWRT(LISTING);
  LSTWRT(LISTING, {"INVERSION OF CHOLESKY MATRIX DONE"});
}

void ainverse_second(Model& m) {
  const int32_t q = m.NSIRE;
  V RINVPK = vec(m.RINVPK);

  FILREW(ZCOEF);
  // Only the pages that receive a coefficient come back into use: ordinary
  // pages, so that each coefficient brings back 4 kB and not 2 MB.
  page_size_hint(m.RINVPK, false);
  clear_array(m.RINVPK);
  int32_t i, j;
  float a;
  while (FMTRD(ZCOEF, coef_format(), {in(i), in(j), in(a)}) != -1) {
    if (j > i) continue;
    if (i > q) continue;
    // Guarded on the numbers: (i, 0) would land on another element.
    if (j < 1) continue;
    RINVPK(lower_pos(i, j)) += (double)a;
  }
}
