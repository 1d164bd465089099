// SIRSOL: iterative solution of (K + lambda(l) A^-1) s(l) = y(l) for every
// canonical trait l at once, with under-relaxation 0.6.
//
//   K      in   n x n, the absorbed sire coefficient matrix (column j read as K(.,j))
//   AP     in   n(n+1)/2, the A-inverse packed lower by rows, (r,c) at r(r-1)/2 + c
//   lambda in   t, variance ratio of each canonical trait
//   Y      in   n x t, right-hand sides
//   S      i/o  n x t, start values on entry, solutions of the last round on return
//   WK     work n x t, off-diagonal sums of the round
//   DG     work n, the diagonal of the A-inverse
//   u, v   work t, per trait the sums of squared solutions and of squared changes
//
// Each round takes the relationship part from the solutions as they stood at
// the start of the round and the coefficient part from the newest ones. At
// most 2000 rounds; progress lines go to the listing. Nothing is tested: a
// trait whose sum of squares is not finite simply never converges, and the
// caller decides what to do with solutions that are not finite.
#include "kesta/sirsol.h"

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "kesta/matrix/lanes.h"
#include "kesta/phases.h"
#include "records/records.h"

namespace {

constexpr int MAXRND = 2000;
// Single-precision constants, widened: 0.6, and the threshold, which is the
// single-precision number just below the one nearest to 4e-8.
constexpr double RELAX = 0.6000000238418579;
constexpr double CRIT = 3.999999620418748e-08;

// The read-only counterpart of M (model.h): a 1-based view of an n-row
// matrix. pk is the 1-based position in the packed triangle.
struct CMat {
  const double* p;
  int64_t n;
  double operator()(int64_t i, int64_t j) const { return p[(j - 1) * n + (i - 1)]; }
};
inline int64_t pk(int64_t r, int64_t c) { return r * (r - 1) / 2 + c; }  // 1-based position

void start_round(M WK, double* u, double* v, int n, int t) {
  for (int l = 1; l <= t; ++l) {
    v[l - 1] = 0;
    u[l - 1] = 0;
    for (int i = 1; i <= n; ++i) WK(i, l) = 0;
  }
}

// New values of sire j from its completed off-diagonal sums.
inline void update_sire(int j, CMat K, const double* lambda, CMat Y, M S, M WK, const double* DG, double* u,
                        double* v, int t) {
  for (int l = 1; l <= t; ++l) {
    double old = S(j, l);
    double g = (Y(j, l) - WK(j, l)) / (lambda[l - 1] * DG[j - 1] + K(j, j));
    double nw = (g - old) * RELAX + old;
    S(j, l) = nw;
    u[l - 1] = nw * nw + u[l - 1];
    // The change is squared in single precision and added in double.
    float x = (float)std::fabs(nw - old);
    float xx = x * x;
    v[l - 1] = (double)xx + v[l - 1];
  }
}

// Progress line and convergence test of round r; true when converged.
bool end_round(int r, const double* u, const double* v, int t) {
  bool conv = true;
  for (int l = 0; l < t; ++l) {
    // A 0/0 quotient (a trait with all-zero solutions) does not hold up
    // convergence. Mend: once a trait's sum of squares has overflowed the
    // quotient is inf/inf = NaN too, and such a diverging trait must never
    // count as converged.
    if (v[l] / u[l] > CRIT || !std::isfinite(u[l])) conv = false;
  }
  if (r < 10 || r % 10 == 0) {
    static const Format fit("(A,I4,A,50F8.5)");
    Items it{"Iteration ", (int32_t)r, "  Converge stats = "};
    for (int l = 0; l < t; ++l) it.push_back(std::sqrt(v[l] / u[l]));
    FMTWRT(LISTING, fit, it);
  }
  if (conv) {
    static const Format fcv("('  CONVERGENCE OF SIRE SOLUTIONS AT ROUND',I6)");
    FMTWRT(LISTING, fcv, {(int32_t)r});
  }
  return conv;
}

void not_converged() {
  LSTWRT(LISTING);
  LSTWRT(LISTING, {" WARNING!!!  SIRE SOLUTIONS DID NOT CONVERGE BY ROUND", (int32_t)(MAXRND + 1)});
}

void diagonal(const double* AP, double* DG, int n) {
  for (int64_t j = 1; j <= n; ++j) DG[j - 1] = AP[pk(j, j) - 1];
}

// The coefficient part and the update of one round, sire by sire, for T
// traits. Each sire's sum for trait l is one chain from WK(j,l) over
// k = 1..n (k /= j) in ascending order. ST holds S trait-major
// (ST[(k-1)T + l-1] = S(k,l)) and is kept equal to S.
//
// A chain for sire j needs the new solutions of sires 1..j-1, so the chains
// of P consecutive sires j0..j0+P-1 run their first j0-1 terms side by side
// (those solutions are all new already); then each finishes in turn, in sire
// order, from k = j0 on. Every chain keeps its order; only independent
// chains overlap, which hides the latency of the additions when T is small.
template <int T, int P>
void sires_round(const double* Kp, const double* lambda, CMat Y, M S, M WK, const double* DG, double* u,
                 double* v, double* ST, int n) {
  CMat K{Kp, n};
  for (int j0 = 1; j0 <= n;) {
    const int np = n - j0 + 1 < P ? 1 : P;  // the last few sires one at a time
    double acc[P][T];
    const double* kc[P];
    for (int p = 0; p < P; ++p) {
      kc[p] = Kp + (int64_t)(j0 + (p < np ? p : 0) - 1) * n;
      for (int b = 0; b < T; ++b) acc[p][b] = WK(j0 + (p < np ? p : 0), b + 1);
    }
    for (int k = 1; k < j0; ++k) {
      const double* sk = ST + (int64_t)(k - 1) * T;
#pragma GCC unroll 8
      for (int p = 0; p < P; ++p) {
        const double c = kc[p][k - 1];
#pragma GCC unroll 32
        for (int b = 0; b < T; ++b) acc[p][b] = sk[b] * c + acc[p][b];
      }
    }
    for (int p = 0; p < np; ++p) {
      const int j = j0 + p;
      const double* kj = kc[p];
      double a[T];
      for (int b = 0; b < T; ++b) a[b] = acc[p][b];
      for (int k = j0; k < j; ++k) {
        const double c = kj[k - 1], *sk = ST + (int64_t)(k - 1) * T;
#pragma GCC unroll 32
        for (int b = 0; b < T; ++b) a[b] = sk[b] * c + a[b];
      }
      for (int k = j + 1; k <= n; ++k) {
        const double c = kj[k - 1], *sk = ST + (int64_t)(k - 1) * T;
#pragma GCC unroll 32
        for (int b = 0; b < T; ++b) a[b] = sk[b] * c + a[b];
      }
      for (int b = 0; b < T; ++b) WK(j, b + 1) = a[b];
      update_sire(j, K, lambda, Y, S, WK, DG, u, v, T);
      for (int b = 0; b < T; ++b) ST[(int64_t)(j - 1) * T + b] = S(j, b + 1);
    }
    j0 += np;
  }
}

using Round = void (*)(const double*, const double*, CMat, M, M, const double*, double*, double*, double*, int);

// Up to 8 chains overlap: several sires' when there are few traits.
template <int... T>
Round pick(int t, std::integer_sequence<int, T...>) {
  Round r = nullptr;
  ((t == T + 1 ? (r = sires_round<T + 1, (T + 1 < 8 ? 8 / (T + 1) : 1)>, 0) : 0), ...);
  return r;
}

// Any other trait count: chain after chain.
void sires_round_any(const double* Kp, const double* lambda, CMat Y, M S, M WK, const double* DG, double* u,
                     double* v, int n, int t) {
  CMat K{Kp, n};
  for (int j = 1; j <= n; ++j) {
    for (int l = 1; l <= t; ++l) {
      double acc = WK(j, l);
      for (int k = 1; k <= n; ++k)
        if (k != j) acc = S(k, l) * K(k, j) + acc;
      WK(j, l) = acc;
    }
    update_sire(j, K, lambda, Y, S, WK, DG, u, v, t);
  }
}

}  // namespace

void SIRSOL_literal(const double* Kp, const double* AP, const double* lambda, const double* Yp, double* Sp,
                    double* WKp, double* DG, double* u, double* v, int n, int t) {
  CMat K{Kp, n}, Y{Yp, n};
  M S{Sp, n}, WK{WKp, n};
  diagonal(AP, DG, n);
  LSTWRT(LISTING);
  for (int r = 1; r <= MAXRND; ++r) {
    start_round(WK, u, v, n, t);
    for (int64_t j = 1; j <= n; ++j) {
      for (int64_t k = 1; k <= j; ++k) {
        double a = AP[pk(j, k) - 1];
        if (k == j || a == 0) continue;  // 0 and -0 are passed over, a NaN is not
        for (int l = 1; l <= t; ++l) {
          WK(j, l) = (S(k, l) * a) * lambda[l - 1] + WK(j, l);
          WK(k, l) = (S(j, l) * a) * lambda[l - 1] + WK(k, l);
        }
      }
    }
    for (int j = 1; j <= n; ++j) {
      for (int k = 1; k <= n; ++k) {
        if (k == j) continue;
        for (int l = 1; l <= t; ++l) WK(j, l) = S(k, l) * K(k, j) + WK(j, l);
      }
      update_sire(j, K, lambda, Y, S, WK, DG, u, v, t);
    }
    if (end_round(r, u, v, t)) return;
  }
  not_converged();
}

// The same rounds, bit for bit: the nonzero off-diagonal coefficients are
// listed once in storage order, so a round walks only those; the sweep over
// K overlaps independent chains (sires_round). O(nnz + n t) extra memory.
void SIRSOL(const double* Kp, const double* AP, const double* lambda, const double* Yp, double* Sp, double* WKp,
            double* DG, double* u, double* v, int n, int t) {
#ifdef KESTA_LITERAL_KERNELS
  SIRSOL_literal(Kp, AP, lambda, Yp, Sp, WKp, DG, u, v, n, t);
  return;
#endif
  CMat Y{Yp, n};
  M S{Sp, n}, WK{WKp, n};
  diagonal(AP, DG, n);
  LSTWRT(LISTING);

  struct Off {
    int32_t k, j;
    double a;
  };
  size_t nnz = 0;
  for (int64_t j = 2; j <= n; ++j)
    for (int64_t k = 1; k < j; ++k) nnz += !(AP[pk(j, k) - 1] == 0);
  std::vector<Off> off = work<Off>(nnz);
  size_t e = 0;
  for (int64_t j = 2; j <= n; ++j)
    for (int64_t k = 1; k < j; ++k) {
      double a = AP[pk(j, k) - 1];
      if (!(a == 0)) off[e++] = {(int32_t)k, (int32_t)j, a};
    }
  std::vector<double> ST = work<double>((size_t)n * (size_t)(t > 0 ? t : 0));
  for (int k = 1; k <= n; ++k)
    for (int l = 1; l <= t; ++l) ST[(size_t)(k - 1) * t + (l - 1)] = S(k, l);
  const Round sires = pick(t, std::make_integer_sequence<int, 32>{});

  for (int r = 1; r <= MAXRND; ++r) {
    start_round(WK, u, v, n, t);
    for (const Off& e : off) {
      for (int l = 1; l <= t; ++l) {
        WK(e.j, l) = (S(e.k, l) * e.a) * lambda[l - 1] + WK(e.j, l);
        WK(e.k, l) = (S(e.j, l) * e.a) * lambda[l - 1] + WK(e.k, l);
      }
    }
    if (sires)
      sires(Kp, lambda, Y, S, WK, DG, u, v, ST.data(), n);
    else
      sires_round_any(Kp, lambda, Y, S, WK, DG, u, v, n, t);
    if (end_round(r, u, v, t)) return;
  }
  not_converged();
}
