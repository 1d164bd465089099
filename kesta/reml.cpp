// REML rounds: each round takes the traits to the doubly canonical scale of
// the R and S it begins with, solves the t one-trait problems there by one
// division per sire, forms the new S (bounded) and the new R, and stops when S
// no longer changes, after at most 500 rounds.
#include <cmath>
#include <cstdint>

#include "kesta/matrix/kernels.h"
#include "kesta/phases.h"
#include "records/records.h"

namespace {

// Single-precision constants held in double precision, with exactly these
// values: the ceiling of a canonical sire variance (not 1/3), its floor, and
// 0.95 as a single-precision number.
constexpr double CEIL = 0.3333333134651184;
constexpr double FLOOR = 9.999999747378752e-06;
constexpr float F95 = 0.95f;
constexpr double D95 = 0.949999988079071;
constexpr float TOL = 1.0e-4f;
constexpr int MAXRND = 500;

double single(double x) { return (double)(float)x; }

// True when an element on the diagonal or in the lower triangle of the t x t
// matrix is not a finite number.
bool nonfinite_lower(M a, int t) {
  for (int j = 1; j <= t; ++j)
    for (int i = j; i <= t; ++i)
      if (!std::isfinite(a(i, j))) return true;
  return false;
}

}  // namespace

void reml_rounds(Model& m) {
  const int q = m.NSIRE, t = m.NTRAIT;
  static const Format ratios("(' RATIOS FOR DIAGONAL = ',(7F11.3))");
  static const Format round("(' ROUND',I4,' COMPLETED.')");
  static const Format nonconv("('CONVERGENCE CRITERION NOT MET AFTER',I5,'  ROUNDS')");
  static const Format notfinite("('0SIRE OR ERROR COVARIANCE NOT A NUMBER OR INFINITE AFTER REML ROUNDS')");

  M RESCOV = mat(m.RESCOV, t), SIRCOV = mat(m.SIRCOV, t), LRINV = mat(m.LRINV, t);
  M WRKT1 = mat(m.WRKT1, t);
  M RHSWRK = mat(m.RHSWRK, q), SOLCAN = mat(m.SOLCAN, q);
  V SIREIG = vec(m.SIREIG), RATIOS = vec(m.RATIOS), TRACE1 = vec(m.TRACE1), WRKV2 = vec(m.WRKV2);
  V RESPK = vec(m.RESPK), UUPK = vec(m.UUPK), YMYPK = vec(m.YMYPK);
  Items items(t, Item(0.0));

  // The analysis input has refused a df outside 1..2^31-1; the differences
  // are taken unsigned so that the partial one, NREC - NFIXLV, cannot
  // overflow on the way.
  const int32_t df = (int32_t)((uint32_t)m.NREC - (uint32_t)m.NFIXLV - (uint32_t)m.NGROUP);
  const double dq = (double)q;

  for (int r = 1;; ++r) {
    // R packed upper by rows; only the upper triangle of RESCOV is read.
    int64_t n = 0;
    for (int i = 1; i <= t; ++i)
      for (int j = i; j <= t; ++j) RESPK(++n) = RESCOV(i, j);
    CHOLPK(m.RESPK.data(), m.NTRH, t);
    n = 0;
    for (int i = 1; i <= t; ++i) {
      for (int j = 1; j < i; ++j) LRINV(j, i) = 0.0;
      for (int j = i; j <= t; ++j) LRINV(j, i) = RESPK(++n);
    }
    INVRT(m.LRINV.data(), t, t);
    MATPRD(t, t, t, m.WRKT1.data(), m.SIRCOV.data(), m.LRINV.data(), 0, 1);
    MATPRD(t, t, t, m.WRKT2.data(), m.LRINV.data(), m.WRKT1.data(), 0, 0);
    EIGVEC(t, t, m.WRKT2.data(), m.RATIOS.data(), m.WRKV2.data(), m.WRKT1.data());
    MATPRD(t, t, t, m.TRANSF.data(), m.WRKT1.data(), m.LRINV.data(), 1, 0);
    MATPRD(t, t, t, m.TRANSK.data(), m.WRKT1.data(), m.LRINV.data(), 1, 0);
    MATPRD(q, t, t, m.RHSWRK.data(), m.SIRRHS.data(), m.TRANSF.data(), 0, 1);

    for (int i = 1; i <= t; ++i) {
      TRACE1(i) = 0.0;
      WRKV2(i) = 0.0;
    }
    // Bounded ratios; the comparisons are written so that a NaN eigenvalue
    // gives a NaN ratio.
    for (int i = 1; i <= t; ++i) {
      double x = CEIL < RATIOS(i) ? CEIL : RATIOS(i);
      if (FLOOR > x) x = FLOOR;
      RATIOS(i) = 1.0 / x;
    }
    for (int i = 1; i <= t; ++i) items[i - 1] = Item(RATIOS(i));
    LSTWRT(LISTING);
    FMTWRT(LISTING, ratios, items);

    // Canonical solutions and trace sums, sire by sire.
    for (int s = 1; s <= q; ++s)
      for (int i = 1; i <= t; ++i) {
        const double e = RATIOS(i) + SIREIG(s);
        TRACE1(i) = TRACE1(i) + 1.0 / e;
        SOLCAN(s, i) = RHSWRK(s, i) / e;
        WRKV2(i) = WRKV2(i) + SIREIG(s) / (e * e);
      }
    // The full M: M(i,j) and M(j,i) differ when the ratios differ.
    for (int j = 1; j <= t; ++j)
      for (int i = 1; i <= t; ++i) {
        double z = 0.0;
        for (int s = 1; s <= q; ++s) z = z + SOLCAN(s, i) * RHSWRK(s, j);
        LRINV(i, j) = z;
      }
    for (int i = 1; i <= t; ++i)
      for (int j = 1; j <= i; ++j) {
        double z = 0.0;
        for (int s = 1; s <= q; ++s) z = z + SOLCAN(s, i) * SOLCAN(s, j);
        UUPK((int64_t)i * (i - 1) / 2 + j) = z;
      }

    // Update factors, with the single-precision rounding points of the method.
    for (int i = 1; i <= t; ++i) {
      const double a = RATIOS(i), T = TRACE1(i), Vi = WRKV2(i);
      const double p = UUPK((int64_t)i * (i + 1) / 2);
      const float a1 = (float)a;
      const float f = (float)(dq - a * T);
      const float h = F95 * f;
      double mm = D95 * p < Vi ? D95 * p : Vi;
      if ((double)a1 * mm > (double)h) mm = (double)(h / a1);
      WRKV2(i) = (1.0 - mm / p) / ((double)f - (double)a1 * mm);
    }

    // New canonical sire covariances; the old S is kept in WRKT1's lower
    // triangle for the convergence test.
    for (int i = 1; i <= t; ++i)
      for (int j = 1; j <= i; ++j) {
        WRKT1(i, j) = SIRCOV(i, j);
        const double sc = std::sqrt(WRKV2(j) * WRKV2(i)) * UUPK((int64_t)i * (i - 1) / 2 + j);
        SIRCOV(i, j) = sc;
        SIRCOV(j, i) = sc;
      }
    // Ceiling: row and column scaled, the diagonal element twice.
    for (int i = 1; i <= t; ++i) {
      if (CEIL > SIRCOV(i, i)) continue;
      const double g = single(std::sqrt(CEIL / SIRCOV(i, i)));
      for (int k = 1; k <= t; ++k) {
        SIRCOV(i, k) = SIRCOV(i, k) * g;
        SIRCOV(k, i) = SIRCOV(k, i) * g;
      }
    }

    // Q of diagonal R and S is a permutation whenever the eigenvalues come out
    // out of trait order, so its inverse needs row exchanges; INVRTP keeps the
    // bits of the natural order whenever that order works.
    INVRTP(m.TRANSF.data(), t, t);
    MATPRD(t, t, t, m.WRKT2.data(), m.SIRCOV.data(), m.TRANSF.data(), 0, 1);
    MATPRD(t, t, t, m.SIRCOV.data(), m.TRANSF.data(), m.WRKT2.data(), 0, 0);
    MATPRD(t, t, t, m.WRKT2.data(), m.LRINV.data(), m.TRANSF.data(), 0, 1);
    MATPRD(t, t, t, m.LRINV.data(), m.TRANSF.data(), m.WRKT2.data(), 0, 0);

    // Relative change over the lower triangle, compared in single precision;
    // a NaN change does not count against convergence.
    bool converged = true;
    for (int i = 1; i <= t; ++i)
      for (int j = 1; j <= i; ++j) {
        const double x = (SIRCOV(i, j) - WRKT1(i, j)) / std::sqrt(WRKT1(j, j) * WRKT1(i, i));
        if ((float)std::fabs(x) > TOL) converged = false;
      }

    for (int j = 1; j <= t; ++j)
      for (int i = 1; i <= t; ++i) {
        const int64_t hi = i > j ? i : j, lo = i > j ? j : i;
        RESCOV(i, j) = (YMYPK(hi * (hi - 1) / 2 + lo) - LRINV(i, j)) / (double)df;
      }

    if (r < 10 || r % 10 == 0) FMTWRT(LISTING, round, {(int32_t)r});
    if (converged) break;
    if (r + 1 > MAXRND) {
      LSTWRT(LISTING);
      FMTWRT(LISTING, nonconv, {(int32_t)MAXRND});
      break;
    }
  }

  // A NaN relative change ends the rounds as converged; going on would print
  // NaN evaluations as if all were well, so the run stops here instead.
  if (nonfinite_lower(SIRCOV, t) || nonfinite_lower(RESCOV, t)) {
    FMTWRT(LISTING, notfinite);
    RUNSTOP();
  }
}
