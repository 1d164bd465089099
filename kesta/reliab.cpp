// RELAPX: approximate reliabilities of the sires' PTAs, trait by trait, from
// the sire's own effective number, its diagonal coefficient of the A-inverse
// and the relatives with negative coefficients.
//
//   K      in   n x n, the absorbed sire coefficient matrix (only the diagonal read)
//   AP     in   n(n+1)/2, the A-inverse packed lower by rows, (r,c) at r(r-1)/2 + c
//   D      out  n, the effective numbers K(j,j)
//   acc    work t, per-trait sums of the current sire
//   lambda in   t, error-to-sire variance ratio of each trait
//   REL    out  n x t, the reliabilities as fractions
//
// Nothing is tested; zero denominators and infinite ratios propagate.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "kesta/matrix/lanes.h"
#include "kesta/phases.h"

namespace {
inline int64_t pk(int64_t r, int64_t c) { return r * (r - 1) / 2 + c; }  // 1-based position
}  // namespace

void RELAPX(const double* K, const double* AP, double* D, double* acc, const double* lambda, double* REL, int n,
            int t) {
  const int64_t nn = n;
  for (int64_t j = 1; j <= nn; ++j) D[j - 1] = K[(j - 1) * nn + (j - 1)];

  // Sire j's relatives are row j of the lower triangle (k < j) and column j
  // (k > j), the latter a strided walk through the whole triangle. The
  // relatives that count are gathered once, in storage order, which puts
  // every sire's list in ascending k as its sums need. A NaN coefficient
  // counts as negative; 0 and -0 do not.
  std::vector<int64_t> first = work<int64_t>(nn + 2);
  for (int64_t r = 2; r <= nn; ++r)
    for (int64_t c = 1; c < r; ++c)
      if (!(AP[pk(r, c) - 1] >= 0)) ++first[r + 1], ++first[c + 1];
  for (int64_t j = 1; j <= nn; ++j) first[j + 1] += first[j];
  std::vector<int32_t> rk = work<int32_t>(first[nn + 1]);
  std::vector<double> rw = work<double>(first[nn + 1]);
  std::vector<int64_t> fill = work<int64_t>(nn + 2);
  std::copy(first.begin(), first.end(), fill.begin());
  for (int64_t r = 2; r <= nn; ++r)
    for (int64_t c = 1; c < r; ++c) {
      double a = AP[pk(r, c) - 1];
      if (a >= 0) continue;
      // The weight is the squared coefficient rounded to single precision.
      double w = (float)(a * a);
      rk[fill[r]] = (int32_t)c, rw[fill[r]++] = w;
      rk[fill[c]] = (int32_t)r, rw[fill[c]++] = w;
    }

  for (int64_t j = 1; j <= nn; ++j) {
    for (int l = 0; l < t; ++l) acc[l] = 0;
    double sw = 0;
    for (int64_t e = first[j]; e < first[j + 1]; ++e) {
      double w = rw[e], dk = D[rk[e] - 1];
      for (int l = 0; l < t; ++l) acc[l] = (w * dk) / (lambda[l] + dk) + acc[l];
      sw = sw + w;
    }
    double ajj = AP[pk(j, j) - 1];
    for (int l = 0; l < t; ++l) {
      double e = 1;
      if (!(sw == 0)) e = (float)(acc[l] / sw);
      double den = (float)((e * ajj + (1 - e)) * lambda[l] + D[j - 1]);
      REL[l * nn + (j - 1)] = 1 - lambda[l] / den;
    }
  }
}
