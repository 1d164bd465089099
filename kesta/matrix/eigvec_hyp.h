// The hypotenuse of EIGVEC's QL stage, shared by its literal and fast forms
// so that both take the same bits from it.
#pragma once

#include <cmath>
#include <limits>

// sqrt(x^2 + y^2) without destructive overflow or underflow; the loop and its
// t = 4 test are those the results depend on. A NaN would keep t from ever
// reaching 4: it gives a NaN result instead, so that the routine still ends.
inline double eigvec_hyp(double x, double y) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (std::isnan(x) || std::isnan(y)) return nan;
  const double ax = std::fabs(x), ay = std::fabs(y);
  double p = ax < ay ? ay : ax;
  const double q = ax < ay ? ax : ay;
  if (p == 0.0) return 0.0;
  const double w = q / p;
  double r = w * w;
  for (;;) {
    const double t = 4.0 + r;
    if (t == 4.0) break;
    if (std::isnan(t)) return nan;  // both infinite
    const double s = r / t;
    const double u = (1.0 + s) + s;
    p = p * u;
    const double v = s / u;
    r = (v * v) * r;
  }
  return p;
}

