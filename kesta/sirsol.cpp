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
#include <vector>

#include "kesta/phases.h"
#include "records/records.h"

namespace {

constexpr int MAXRND = 2000;
// 0.6 and 4e-8 as the single-precision constants they were, widened.
constexpr double RELAX = 0.6000000238418579;
constexpr double CRIT = 3.999999620418748e-08;

// 1-based access to the n-row matrices and the packed triangle.
struct Mat {
  double* p;
  int64_t n;
  double& operator()(int64_t i, int64_t j) const { return p[(j - 1) * n + (i - 1)]; }
};
struct CMat {
  const double* p;
  int64_t n;
  double operator()(int64_t i, int64_t j) const { return p[(j - 1) * n + (i - 1)]; }
};
inline int64_t pk(int64_t r, int64_t c) { return r * (r - 1) / 2 + c; }  // 1-based position

void start_round(Mat WK, double* u, double* v, int n, int t) {
  for (int l = 1; l <= t; ++l) {
    v[l - 1] = 0;
    u[l - 1] = 0;
    for (int i = 1; i <= n; ++i) WK(i, l) = 0;
  }
}

// New values of sire j from its completed off-diagonal sums.
inline void update_sire(int j, CMat K, const double* lambda, CMat Y, Mat S, Mat WK, const double* DG, double* u,
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

// Off-diagonal sums of sire j over the coefficients, for traits l0..l0+B-1:
// B separate chains, each in ascending k and started from WK(j,l).
template <int B>
inline void sweep(int j, int l0, CMat K, Mat S, Mat WK, int n) {
  double acc[B];
  const double* s[B];
  for (int b = 0; b < B; ++b) {
    acc[b] = WK(j, l0 + b);
    s[b] = &S(1, l0 + b);  // s[b][k-1] = S(k, l0+b)
  }
  const double* kj = K.p + (int64_t)(j - 1) * K.n;
  for (int k = 1; k < j; ++k) {
    double c = kj[k - 1];
    for (int b = 0; b < B; ++b) acc[b] = s[b][k - 1] * c + acc[b];
  }
  for (int k = j + 1; k <= n; ++k) {
    double c = kj[k - 1];
    for (int b = 0; b < B; ++b) acc[b] = s[b][k - 1] * c + acc[b];
  }
  for (int b = 0; b < B; ++b) WK(j, l0 + b) = acc[b];
}

}  // namespace

void SIRSOL_literal(const double* Kp, const double* AP, const double* lambda, const double* Yp, double* Sp,
                    double* WKp, double* DG, double* u, double* v, int n, int t) {
  CMat K{Kp, n}, Y{Yp, n};
  Mat S{Sp, n}, WK{WKp, n};
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
// K runs up to eight traits' chains side by side, each in its own order.
void SIRSOL(const double* Kp, const double* AP, const double* lambda, const double* Yp, double* Sp, double* WKp,
            double* DG, double* u, double* v, int n, int t) {
  CMat K{Kp, n}, Y{Yp, n};
  Mat S{Sp, n}, WK{WKp, n};
  diagonal(AP, DG, n);
  LSTWRT(LISTING);

  struct Off {
    int32_t k, j;
    double a;
  };
  std::vector<Off> off;
  for (int64_t j = 2; j <= n; ++j)
    for (int64_t k = 1; k < j; ++k) {
      double a = AP[pk(j, k) - 1];
      if (!(a == 0)) off.push_back({(int32_t)k, (int32_t)j, a});
    }

  for (int r = 1; r <= MAXRND; ++r) {
    start_round(WK, u, v, n, t);
    for (const Off& e : off) {
      for (int l = 1; l <= t; ++l) {
        WK(e.j, l) = (S(e.k, l) * e.a) * lambda[l - 1] + WK(e.j, l);
        WK(e.k, l) = (S(e.j, l) * e.a) * lambda[l - 1] + WK(e.k, l);
      }
    }
    for (int j = 1; j <= n; ++j) {
      int l = 1;
      for (; l + 7 <= t; l += 8) sweep<8>(j, l, K, S, WK, n);
      if (l + 3 <= t) sweep<4>(j, l, K, S, WK, n), l += 4;
      if (l + 1 <= t) sweep<2>(j, l, K, S, WK, n), l += 2;
      if (l <= t) sweep<1>(j, l, K, S, WK, n);
      update_sire(j, K, lambda, Y, S, WK, DG, u, v, t);
    }
    if (end_round(r, u, v, t)) return;
  }
  not_converged();
}
