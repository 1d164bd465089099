// MATPRD: c = op(a) op(b), op(x) = x when its flag is 0 and x' otherwise.
//
//   m, k, n  in   c is m x n, the inner dimension is k
//   c        out  m x n values, leading dimension m; must not overlap a or b
//   a        in   ta = 0: m x k, leading dimension m; ta = 1: square of order
//                 m = k, its transpose used
//   b        in   tb = 0: k x n, leading dimension k; tb = 1: square of order
//                 k = n, its transpose used
//   ta, tb   in   transpose flags
//
// Every element is its k products summed from +0 in ascending l, each product
// rounded before it is added; no product is skipped for a zero factor. m <= 0
// or n <= 0 leaves c as it was; k <= 0 sets c to zero.
//
// Any non-zero flag counts as a transpose, as in the size test. With both
// flags set (no caller does so) the result is a' b'.
//
// Stops (message on the listing, exit status 1):
//   (m - k) ta != 0 or (k - n) tb != 0
//                     "0ATTEMPT TO MULTIPLY NON-CONFORMING MATRICES", c untouched
#include <cstdint>

#include "kesta/matrix/kernels.h"
#include "kesta/model.h"
#include "records/records.h"

void MATPRD(int m, int k, int n, double* cp, const double* ap, const double* bp, int ta, int tb) {
  // In 64 bits: the products of the size test must not overflow.
  if ((int64_t(m) - k) * ta != 0 || (int64_t(k) - n) * tb != 0) {
    static const Format f("('0ATTEMPT TO MULTIPLY NON-CONFORMING MATRICES')");
    FMTWRT(LISTING, f);
    RUNSTOP();
  }
  const M c{cp, m};
  const M a{const_cast<double*>(ap), m};
  const M b{const_cast<double*>(bp), k};
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= m; ++i) c(i, j) = 0.0;
    if (ta != 0) {
      for (int i = 1; i <= m; ++i) {
        double s = 0.0;
        for (int l = 1; l <= k; ++l) s = s + a(l, i) * (tb != 0 ? b(j, l) : b(l, j));
        c(i, j) = s;
      }
    } else {
      for (int l = 1; l <= k; ++l) {
        const double beta = tb != 0 ? b(j, l) : b(l, j);
        for (int i = 1; i <= m; ++i) c(i, j) = c(i, j) + a(i, l) * beta;
      }
    }
  }
}
