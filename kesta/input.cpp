// Analysis input: the counts of pass.dat, the sizing of the data model, the
// trait data and the counts line, the sire coefficient matrix W with the group
// blocks, and the second reading of the final pass.
//
// pass.dat is a sequential binary record file:
//   1 NTRAIT   2 NSIRE   3 NGROUP   4 TNAME   5 SIRRHS
//   6 WSSPK, YMYPK, NFIXLV, NREC, NDFDED
//   6+m (m = 1..q) column m of W
//   7+q SIREID, SIREGR   8+q SIRGRP   9+q GRPMAT, GRPRHS, BASEEN
#include <cstdint>
#include <new>
#include <stdexcept>

#include "kesta/phases.h"
#include "records/records.h"

namespace {

constexpr int32_t MAXTRT = 25;     // no layout of the listing or the files holds more traits
constexpr int32_t MAXSIR = 46340;  // the largest q for which q(q+1) fits 32 bits (NSIRH)

// A refusal of impossible input: one line of the program's own, then the
// fatal stop.
[[noreturn]] void refuse(const Format& f, std::initializer_list<Item> items) {
  FMTWRT(LISTING, f, items);
  RUNSTOP();
}

// Records 1-3 into the three counts.
void read_three(int32_t& t, int32_t& q, int32_t& g) {
  BINRD(PASS, {in(t)});
  BINRD(PASS, {in(q)});
  BINRD(PASS, {in(g)});
}

// Records 4-6; the byte counts come from the sized arrays.
void read_trait_records(Model& m) {
  const int64_t t = m.NTRAIT, q = m.NSIRE;
  BINRD(PASS, {intext(m.TNAME.data(), 8, t)});
  BINRD(PASS, {in(m.SIRRHS.data(), q * t)});
  BINRD(PASS, {in(m.WSSPK.data(), m.NTRH), in(m.YMYPK.data(), m.NTRH), in(m.NFIXLV), in(m.NREC),
               in(m.NDFDED)});
}

// An extent of an array: its count, or 0 (an empty array) when the count is
// 0 or negative.
uint64_t extent(int64_t n) { return n > 0 ? (uint64_t)n : 0; }

template <class T>
void grab(Array<T>& a, uint64_t bytes) {
  try {
    a = Array<T>(bytes / sizeof(T));
  } catch (const std::bad_alloc&) {
    RUNERR(41);
  } catch (const std::length_error&) {
    RUNERR(41);
  }
}

// The 37 arrays in their order of sizing, each with its two extents:
// f(array, extent, extent). TNAME and CELL12 hold 8 and 12 characters a
// trait.
template <class F>
void each_array(Model& m, F f) {
  const uint64_t t = extent(m.NTRAIT), q = extent(m.NSIRE), g = extent(m.NGROUP);
  const uint64_t th = extent(m.NTRH), sh = extent(m.NSIRH);
  // SIRVEC also holds the per-trait sums of the reliabilities, which need t
  // values when there are more traits than sires.
  const uint64_t qv = q > t ? q : t;
  f(m.LINVA, q, q), f(m.SIRMAT, q, q), f(m.SIRVEC, qv, 1), f(m.SIREIG, q, 1), f(m.RINVPK, sh, 1);
  f(m.SIRRHS, q, t), f(m.RHSWRK, q, t), f(m.SOLCAN, q, t), f(m.RELIAB, q, t);
  f(m.RESCOV, t, t), f(m.SIRCOV, t, t), f(m.WRKT1, t, t), f(m.PHECOV, t, t);
  f(m.RATIOS, t, 1), f(m.WRKV1, t, 1);
  f(m.TRANSF, t, t), f(m.TRANSK, t, t), f(m.LRINV, t, t), f(m.WRKT2, t, t);
  f(m.WRKV2, t, 1);
  f(m.RESPK, th, 1), f(m.UUPK, th, 1), f(m.YMYPK, th, 1), f(m.WSSPK, th, 1);
  f(m.TRACE2, t, 1), f(m.TRACE1, t, 1);
  f(m.GRPRHS, g, t), f(m.GRPSOL, g, t), f(m.GRPEFN, g, 1);
  f(m.SIRGRP, q, g), f(m.NHINV, q, g), f(m.GRPMAT, g, g);
  f(m.SIREID, q, 1), f(m.SIREGR, q, 1), f(m.TRNUM, t, 1);
  f(m.TNAME, t, 8), f(m.CELL12, t, 12);
}

}  // namespace

void read_counts(Model& m) {
  read_three(m.NTRAIT, m.NSIRE, m.NGROUP);

  // Counts that would push the run outside its arrays or its layouts are
  // refused here, before anything is sized from them.
  static const Format ftrt("('0NUMBER OF TRAITS MUST BE 1 TO 25, NTRAIT =',I12)");
  static const Format fsir("('0NUMBER OF SIRES MUST BE 1 TO 46340, NSIRE =',I12)");
  static const Format fgrp("('0NUMBER OF GROUPS MUST NOT BE NEGATIVE, NGROUP =',I12)");
  if (m.NTRAIT < 1 || m.NTRAIT > MAXTRT) refuse(ftrt, {m.NTRAIT});
  if (m.NSIRE < 1 || m.NSIRE > MAXSIR) refuse(fsir, {m.NSIRE});
  if (m.NGROUP < 0) refuse(fgrp, {m.NGROUP});
}

void size_model(Model& m) {
  // Formed in 64 bits; with the counts that read_counts lets through these
  // are the 32-bit values q(q+1)/2 and t(t+1)/2.
  m.NTRH = (int32_t)((int64_t)m.NTRAIT * ((int64_t)m.NTRAIT + 1) / 2);
  m.NSIRH = (int32_t)((int64_t)m.NSIRE * ((int64_t)m.NSIRE + 1) / 2);

  // Every byte size is formed, and every impossible request refused, before
  // anything is allocated, so that a hopeless sizing fails at once instead
  // of after the arrays before it have been had and cleared.
  uint64_t bytes[37];
  int k = 0;
  each_array(m, [&](auto& a, uint64_t e1, uint64_t e2) {
    uint64_t e;
    if (__builtin_mul_overflow(e1, e2, &e) || __builtin_mul_overflow(e, sizeof a[0], &bytes[k]))
      RUNERR(179);
    ++k;
  });
  for (uint64_t b : bytes)
    if (b > (uint64_t)PTRDIFF_MAX) RUNERR(41);

  // Formed once the sizes are known to be possible: NGROUP + 1 cannot
  // overflow then.
  m.NGRP1 = m.NGROUP + 1;

  k = 0;
  each_array(m, [&](auto& a, uint64_t, uint64_t) { grab(a, bytes[k++]); });
  // The two q x q arrays and the packed A-inverse that CHOLPK factors.
  for (Array<double>* a : {&m.LINVA, &m.SIRMAT, &m.RINVPK}) page_size_hint(*a, true);
}

void read_trait_data(Model& m) {
  read_trait_records(m);
  LSTWRT(LISTING, {m.NREC, " RECORDS AND ", m.NSIRE, " SIRES IN ANALYSIS"});
  LSTWRT(LISTING);

  // The degrees of freedom are formed in 64 bits and must fit the 32-bit
  // arithmetic of the phases that use them; a residual df of 0 or below
  // would run the REML rounds on infinities.
  static const Format fdf(
      "('0RESIDUAL DEGREES OF FREEDOM NREC - NFIXLV - NGROUP MUST BE 1 TO 2147483647,"
      " NREC, NFIXLV, NGROUP =',3I12)");
  static const Format fdd(
      "('0DEGREES OF FREEDOM NREC - NDFDED MUST FIT 32 BITS, NREC, NDFDED =',2I12)");
  const int64_t df = (int64_t)m.NREC - m.NFIXLV - m.NGROUP;
  if (df < 1 || df > INT32_MAX) refuse(fdf, {m.NREC, m.NFIXLV, m.NGROUP});
  const int64_t dd = (int64_t)m.NREC - m.NDFDED;
  if (dd < INT32_MIN || dd > INT32_MAX) refuse(fdd, {m.NREC, m.NDFDED});
}

void read_sire_matrix(Model& m) {
  const int32_t q = m.NSIRE, g = m.NGROUP, t = m.NTRAIT;
  M LINVA = mat(m.LINVA, q), SIRMAT = mat(m.SIRMAT, q);
  V SIRVEC = vec(m.SIRVEC);
  // Each column of L^-1 moves into LINVA just before its column of W takes
  // its place, so no third q x q array is needed.
  for (int32_t j = 1; j <= q; ++j) {
    BINRD(PASS, {in(m.SIRVEC.data(), q)});
    for (int32_t s = 1; s <= q; ++s) {
      LINVA(s, j) = SIRMAT(s, j);
      SIRMAT(s, j) = SIRVEC(s);
    }
  }

  BINRD(PASS, {in(m.SIREID.data(), q), in(m.SIREGR.data(), q)});
  // A group number below 1 would send the final pass outside GRPSOL.
  static const Format fgr("('0GROUP NUMBER BELOW 1 FOR SIRE',I6,', SIREGR =',I12)");
  for (int32_t s = 1; s <= q; ++s)
    if (m.SIREGR[s - 1] < 1) refuse(fgr, {s, m.SIREGR[s - 1]});

  BINRD(PASS, {in(m.SIRGRP.data(), (int64_t)q * g)});
  BINRD(PASS, {in(m.GRPMAT.data(), (int64_t)g * g), in(m.GRPRHS.data(), (int64_t)g * t), in(m.BASEEN)});
}

void reread_input(Model& m) {
  FILREW(PASS);
  // The arrays were sized from the first counts: a pass.dat changed during
  // the run would be read into arrays of the wrong shape.
  int32_t t, q, g;
  read_three(t, q, g);
  static const Format fch("('0COUNTS OF PASS.DAT CHANGED DURING THE RUN, NTRAIT, NSIRE, NGROUP =',3I12)");
  if (t != m.NTRAIT || q != m.NSIRE || g != m.NGROUP) refuse(fch, {t, q, g});

  read_trait_records(m);

  M SIRMAT = mat(m.SIRMAT, q);
  V SIRVEC = vec(m.SIRVEC);
  for (int32_t j = 1; j <= q; ++j) {
    BINRD(PASS, {in(m.SIRVEC.data(), q)});
    for (int32_t s = 1; s <= q; ++s) SIRMAT(s, j) = SIRVEC(s);
  }
}
