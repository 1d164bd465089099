// CHOLPK, INVRT, INVRTP and MATPRD: exact results, zero skips, pivot
// threshold, sizes and stops.
#include <gtest/gtest.h>
#include <xmmintrin.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kesta/matrix/gauss_jordan.h"
#include "kesta/matrix/kernels.h"
#include "records/records.h"

namespace {

const double INF = std::numeric_limits<double>::infinity();
const double NaN = std::numeric_limits<double>::quiet_NaN();

uint64_t bits(double x) {
  uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

bool same_bits(const std::vector<double>& x, const std::vector<double>& y) {
  return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0;
}

// Column-major matrix from its rows.
std::vector<double> from_rows(int n, std::initializer_list<double> rows) {
  std::vector<double> a(rows.size());
  const int cols = static_cast<int>(rows.size()) / n;
  int k = 0;
  for (double v : rows) {
    a[static_cast<size_t>(k % cols) * n + k / cols] = v;
    ++k;
  }
  return a;
}

// The listing line goes to standard output; death tests match standard error.
#define EXPECT_STOPS_WITH(stmt, line)                                             \
  EXPECT_EXIT(                                                                    \
      {                                                                           \
        dup2(2, 1);                                                               \
        RUNSTART("kesta");                                                        \
        stmt;                                                                     \
      },                                                                          \
      testing::ExitedWithCode(1), "^" line "\n$")

// ---- CHOLPK ------------------------------------------------------------------

TEST(Cholpk, FactorsExactlyRepresentableMatrix) {
  // A = U'U with U rows (2,1,1), (0,3,2), (0,0,4); packed upper by rows.
  std::vector<double> ap{4, 2, 2, 10, 7, 21};
  CHOLPK(ap.data(), 6, 3);
  EXPECT_EQ(ap, (std::vector<double>{2, 1, 1, 3, 2, 4}));
}

TEST(Cholpk, OrderOneIsTheSquareRoot) {
  double ap = 2.0;
  CHOLPK(&ap, 1, 1);
  EXPECT_EQ(bits(ap), bits(std::sqrt(2.0)));
}

TEST(Cholpk, DiagonalGivesRootsAndKeepsSignedZeros) {
  std::vector<double> ap{9, 0, -0.0, 4, -0.0, 16};
  CHOLPK(ap.data(), 6, 3);
  EXPECT_EQ(ap, (std::vector<double>{3, 0, 0, 2, 0, 4}));
  EXPECT_EQ(bits(ap[1]), bits(0.0));
  EXPECT_EQ(bits(ap[2]), bits(-0.0));
  EXPECT_EQ(bits(ap[4]), bits(-0.0));
}

TEST(Cholpk, ZeroMultiplierLeavesItsRowUnchanged) {
  // U(1,2) = 0: row 2 gets no update from row 1, so neither 0 * inf nor the
  // sign change -0 - (-1 * 0) = +0 reaches it.
  std::vector<double> ap{1, 0, INF, 4, -0.0, 9};
  CHOLPK(ap.data(), 6, 3);
  EXPECT_EQ(ap[3], 2.0);
  EXPECT_EQ(bits(ap[4]), bits(-0.0));
  ap = {1, 0, -1, 4, -0.0, 9};
  CHOLPK(ap.data(), 6, 3);
  EXPECT_EQ(bits(ap[4]), bits(-0.0));
  EXPECT_EQ(ap[5], std::sqrt(8.0));
}

TEST(Cholpk, NegativePivotGoesOnWithNaN) {
  std::vector<double> ap{-1, 1, 1};
  CHOLPK(ap.data(), 3, 2);
  EXPECT_TRUE(std::isnan(ap[0]) && std::isnan(ap[1]) && std::isnan(ap[2]));
}

TEST(Cholpk, NonPositiveOrderTouchesNothing) {
  std::vector<double> ap{5, 6, 7};
  CHOLPK(ap.data(), 3, 0);
  CHOLPK(ap.data(), 3, -2);
  EXPECT_EQ(ap, (std::vector<double>{5, 6, 7}));
}

// Each product is subtracted by itself, rows in ascending order: the same
// sequence of operations written out.
TEST(Cholpk, MatchesTheRowOrderOfUpdates) {
  std::mt19937_64 gen(11);
  std::uniform_real_distribution<double> u(-1, 1);
  const int n = 7;
  std::vector<double> full(n * n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) {
      double v = u(gen);
      if (i == j) v += n;
      full[i * n + j] = full[j * n + i] = v;
    }
  std::vector<double> ap;
  for (int r = 0; r < n; ++r)
    for (int c = r; c < n; ++c) ap.push_back(full[r * n + c]);
  CHOLPK(ap.data(), n * (n + 1) / 2, n);
  std::vector<double> w = full;
  for (int i = 0; i < n; ++i) {
    w[i * n + i] = std::sqrt(w[i * n + i]);
    for (int j = i + 1; j < n; ++j) w[i * n + j] = w[i * n + j] / w[i * n + i];
    for (int j = i + 1; j < n; ++j)
      for (int k = j; k < n; ++k) w[j * n + k] = w[j * n + k] - w[i * n + k] * w[i * n + j];
  }
  std::vector<double> want;
  for (int r = 0; r < n; ++r)
    for (int c = r; c < n; ++c) want.push_back(w[r * n + c]);
  EXPECT_TRUE(same_bits(ap, want));
}

// The packed upper triangle by rows of a symmetric matrix built from its
// lower triangle function.
template <class F>
std::vector<double> packed(int n, F f) {
  std::vector<double> ap;
  for (int r = 0; r < n; ++r)
    for (int c = r; c < n; ++c) ap.push_back(f(r, c));
  return ap;
}

TEST(CholpkBlocked, EveryBlockSizeGivesTheLiteralBits) {
  std::mt19937_64 gen(13);
  std::uniform_real_distribution<double> u(-1, 1);
  struct Case {
    std::string what;
    int n;
    std::vector<double> ap;
  };
  std::vector<Case> cases;
  for (int n : {1, 2, 5, 9, 33, 40, 70, 101}) {
    cases.push_back({"dense", n, packed(n, [&](int r, int c) { return r == c ? n + u(gen) : u(gen); })});
    // Sparse, as an A-inverse: most off-diagonal values exactly zero, some -0.
    cases.push_back({"sparse", n, packed(n, [&](int r, int c) {
                       if (r == c) return 4 + u(gen);
                       const int h = (r * 31 + c * 17) % 11;
                       return h == 0 ? u(gen) : h == 1 ? -0.0 : 0.0;
                     })});
    cases.push_back({"diagonal", n, packed(n, [&](int r, int c) { return r == c ? 2 + u(gen) : 0.0; })});
  }
  cases.push_back({"not positive definite", 50, packed(50, [&](int r, int c) { return r == c ? 0.1 : u(gen); })});
  cases.push_back({"infinite", 45, packed(45, [&](int r, int c) { return r == 3 && c == 40 ? INF : r == c ? 45.0 : u(gen); })});
  for (const auto& c : cases) {
    auto want = c.ap;
    cholpk_literal(want.data(), c.n);
    for (int b : {1, 2, 3, 8, 31, 64, c.n}) {
      SCOPED_TRACE(c.what + " n=" + std::to_string(c.n) + " b=" + std::to_string(b));
      auto got = c.ap;
      cholpk_blocked(got.data(), c.n, b);
      for (size_t i = 0; i < got.size(); ++i)
        ASSERT_TRUE(bits(got[i]) == bits(want[i]) || (std::isnan(got[i]) && std::isnan(want[i]))) << i;
    }
    auto got = c.ap;
    CHOLPK(got.data(), static_cast<int>(got.size()), c.n);
    for (size_t i = 0; i < got.size(); ++i)
      ASSERT_TRUE(bits(got[i]) == bits(want[i]) || (std::isnan(got[i]) && std::isnan(want[i]))) << c.what << i;
  }
}

// ---- INVRT -------------------------------------------------------------------

TEST(Invrt, TwoByTwoExample) {
  auto a = from_rows(2, {2, 1, 1, 1});
  INVRT(a.data(), 2, 2);
  EXPECT_EQ(a, from_rows(2, {1, -1, -1, 2}));
}

struct PivotCase {
  double p;
  bool stops;
};

TEST(Invrt, PivotThresholdIsStrictAndNaNPasses) {
  const double tiny = 1.0e-12;
  ASSERT_EQ(bits(tiny), 0x3D719799812DEA11u);
  const PivotCase cases[] = {
      {tiny, false},  {-tiny, false}, {std::nextafter(tiny, 0.0), true},
      {0.99e-12, true}, {-0.99e-12, true}, {0.0, true},
      {-0.0, true},   {NaN, false},   {INF, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.p);
    double a = c.p;
    if (c.stops) {
      EXPECT_STOPS_WITH(INVRT(&a, 1, 1), "0DIAGONAL ELEMENT = 0 ENCOUNTERED IN SUBR INVRT");
    } else {
      INVRT(&a, 1, 1);
      EXPECT_EQ(bits(a), bits(1.0 / c.p));
    }
  }
}

TEST(Invrt, SmallPivotAfterTheFirstStops) {
  auto a = from_rows(2, {1, 2, 2, 4});
  EXPECT_STOPS_WITH(INVRT(a.data(), 2, 2), "0DIAGONAL ELEMENT = 0 ENCOUNTERED IN SUBR INVRT");
  auto p = from_rows(2, {0, 1, 1, 0});
  EXPECT_STOPS_WITH(INVRT(p.data(), 2, 2), "0DIAGONAL ELEMENT = 0 ENCOUNTERED IN SUBR INVRT");
}

TEST(Invrt, OrderLargerThanLeadingDimensionStops) {
  std::vector<double> a(4, 1.0);
  EXPECT_STOPS_WITH(INVRT(a.data(), 1, 2), "0MATRIX DIMENSION LARGER THAN DECLARED");
}

TEST(Invrt, NonPositiveOrderTouchesNothing) {
  std::vector<double> a{0, 0, 0, 0};
  INVRT(a.data(), 2, 0);
  INVRT(a.data(), 2, -1);
  EXPECT_EQ(a, (std::vector<double>{0, 0, 0, 0}));
}

TEST(Invrt, RowsBeyondTheOrderAreNotTouched) {
  // ld = 3, n = 2: row 3 of each column holds a marker.
  std::vector<double> a{2, 1, 77, 1, 1, 88};
  INVRT(a.data(), 3, 2);
  EXPECT_EQ(a, (std::vector<double>{1, -1, 77, -1, 2, 88}));
}

// The inverse of a triangular matrix keeps an exactly zero triangle.
TEST(Invrt, TriangularInputKeepsItsZeroTriangle) {
  std::mt19937_64 gen(5);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int n : {2, 3, 6, 11}) {
    for (bool lower : {true, false}) {
      std::vector<double> a(n * n, 0.0);
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i)
          if (i == j)
            a[j * n + i] = 1.5 + u(gen);
          else if ((i > j) == lower)
            a[j * n + i] = u(gen);
      auto inv = a;
      INVRT(inv.data(), n, n);
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
          if (i != j && (i > j) != lower) {
            EXPECT_EQ(bits(inv[j * n + i]), bits(0.0));
          }
          double s = 0;
          for (int k = 0; k < n; ++k) s += inv[k * n + i] * a[j * n + k];
          EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-12);
        }
    }
  }
}

TEST(Invrt, ZeroInPivotRowKeepsMinusZero) {
  // Row 1 holds -0 in column 2: column 2 is passed over at step 1, so its -0
  // stays; eliminating with it would leave +0.
  auto a = from_rows(2, {2, -0.0, -1, 4});
  INVRT(a.data(), 2, 2);
  EXPECT_EQ(a, from_rows(2, {0.5, 0, 0.125, 0.25}));
  EXPECT_EQ(bits(a[2]), bits(-0.0));
}

TEST(Invrt, ZeroInPivotRowAvoidsZeroTimesInfinity) {
  // Column 1 becomes (1, inf) at step 1; row 1 holds 0 in column 2, so
  // a(2,2) is not given 1 - inf * 0.
  auto a = from_rows(2, {1, 0, INF, 1});
  INVRT(a.data(), 2, 2);
  EXPECT_EQ(a[3], 1.0);
  EXPECT_EQ(bits(a[2]), bits(0.0));
}

// ---- INVRT against its literal form -------------------------------------------

struct InvrtInput {
  const char* what;
  int ld, n;
  std::vector<double> a;
};

std::vector<InvrtInput> invrt_inputs() {
  std::mt19937_64 gen(31);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<InvrtInput> in;
  for (int n : {1, 2, 7, 8, 9, 33, 40, 70, 97}) {
    const int ld = n + n % 3;
    std::vector<double> a(static_cast<size_t>(ld) * n);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < ld; ++i) a[j * ld + i] = u(gen) + (i == j ? 3.0 : 0.0);
    in.push_back({"dense", ld, n, a});
    // Lower triangular, as the factor of the A-inverse, with signed zeros and
    // exact zeros below the diagonal too.
    auto lo = a;
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        double& x = lo[j * ld + i];
        if (i < j) x = (i + j) % 3 ? 0.0 : -0.0;
        else if (i > j && (i * 5 + j) % 7 == 0) x = 0.0;
      }
    in.push_back({"lower", ld, n, lo});
    auto up = a;
    for (int j = 0; j < n; ++j)
      for (int i = j + 1; i < n; ++i) up[j * ld + i] = 0.0;
    in.push_back({"upper", ld, n, up});
  }
  // Lower triangular over several blocks of pivots and every length of row
  // stretch: pivots of both signs (so the scaled zeros above them carry both
  // signs), zeros of both signs above and below the diagonal, subnormal
  // values (zero or not, depending on the floating-point mode), and an
  // infinity or a NaN among the multipliers.
  for (int n : {64, 65, 137, 203}) {
    const int ld = n + 1;
    std::vector<double> lo(static_cast<size_t>(ld) * n, 7.0);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        double& x = lo[j * ld + i];
        if (i < j)
          x = (i * 3 + j) % 5 ? 0.0 : -0.0;
        else if (i == j)
          x = (j % 3 ? 2.0 : -2.0) + u(gen);
        else
          x = (i * 5 + j) % 11 == 0 ? ((i + j) % 2 ? 0.0 : -0.0) : u(gen) / n;
      }
    for (int k = 0; k < n / 10; ++k) {
      const int i = (k * 37 + 1) % n, j = (k * 53) % n;
      if (i != j) lo[j * ld + i] = (k % 2 ? 1e-310 : -1e-310);  // either triangle
    }
    in.push_back({"lower, mixed", ld, n, lo});
    auto inf = lo;
    inf[(n / 3) * ld + n / 3 + 70 % (n - n / 3)] = n % 2 ? INF : NaN;
    in.push_back({"lower, non-finite", ld, n, inf});
  }
  // Sparse, diagonally dominant: mostly zeros of both signs, so that rows of
  // the kept columns are zero in some blocks and not in others, and a column
  // passed over in one block is changed in the next.
  for (int n : {12, 40, 75}) {
    for (int density : {10, 30}) {
      std::vector<double> a(static_cast<size_t>(n) * n);
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
          const int pick = static_cast<int>(gen() % 100);
          a[j * n + i] = i == j ? 3.0 + u(gen) : pick < density ? u(gen) / 4 : pick % 2 ? 0.0 : -0.0;
        }
      in.push_back({"sparse", n, n, a});
    }
  }
  {
    const int n = 45;
    std::vector<double> a(n * n);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) a[j * n + i] = u(gen) + (i == j ? 3.0 : 0.0);
    a[10 * n + 30] = INF;
    a[40 * n + 2] = NaN;
    in.push_back({"non-finite", n, n, a});
  }
  return in;
}

TEST(InvrtBlocked, EveryBlockSizeGivesTheLiteralBits) {
  for (const auto& c : invrt_inputs()) {
    auto want = c.a;
    invrt_literal(want.data(), c.ld, c.n);
    for (int b : {1, 2, 3, 8, 31, 64, c.n}) {
      SCOPED_TRACE(std::string(c.what) + " n=" + std::to_string(c.n) + " b=" + std::to_string(b));
      auto got = c.a;
      invrt_blocked(got.data(), c.ld, c.n, b);
      for (size_t i = 0; i < got.size(); ++i)
        ASSERT_TRUE(bits(got[i]) == bits(want[i]) || (std::isnan(got[i]) && std::isnan(want[i]))) << i;
    }
    auto got = c.a;
    INVRT(got.data(), c.ld, c.n);
    for (size_t i = 0; i < got.size(); ++i)
      ASSERT_TRUE(bits(got[i]) == bits(want[i]) || (std::isnan(got[i]) && std::isnan(want[i]))) << c.what << i;
  }
}

// The same under the run's floating-point mode, where subnormal values count
// as zero: a subnormal then passes for a zero of the kept columns and must not
// pass for a value that a signed zero leaves unchanged.
TEST(InvrtBlocked, SameBitsWithSubnormalsTakenAsZero) {
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(saved | 0x8040);  // flush-to-zero and denormals-are-zero
  for (const auto& c : invrt_inputs()) {
    SCOPED_TRACE(std::string(c.what) + " n=" + std::to_string(c.n));
    auto want = c.a, got = c.a;
    invrt_literal(want.data(), c.ld, c.n);
    INVRT(got.data(), c.ld, c.n);
    for (size_t i = 0; i < got.size(); ++i)
      if (!(bits(got[i]) == bits(want[i]) || (std::isnan(got[i]) && std::isnan(want[i])))) {
        _mm_setcsr(saved);
        FAIL() << i;
      }
  }
  _mm_setcsr(saved);
}

TEST(InvrtBlocked, SmallPivotInALaterBlockStops) {
  const int n = 70;
  std::vector<double> a(n * n, 0.0);
  for (int i = 0; i < n; ++i) a[i * n + i] = i == 66 ? 0.5e-12 : 1.0;
  EXPECT_STOPS_WITH(INVRT(a.data(), n, n), "0DIAGONAL ELEMENT = 0 ENCOUNTERED IN SUBR INVRT");
  EXPECT_STOPS_WITH(invrt_literal(a.data(), n, n), "0DIAGONAL ELEMENT = 0 ENCOUNTERED IN SUBR INVRT");
  EXPECT_STOPS_WITH(invrt_literal(a.data(), n - 1, n), "0MATRIX DIMENSION LARGER THAN DECLARED");
}

// ---- INVRTP ------------------------------------------------------------------

std::vector<double> random_matrix(std::mt19937_64& gen, int n, double diag) {
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> a(n * n);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) a[j * n + i] = u(gen) + (i == j ? diag : 0.0);
  return a;
}

TEST(Invrtp, SameBitsAsInvrtWheneverInvrtSucceeds) {
  std::mt19937_64 gen(42);
  for (int n = 1; n <= 12; ++n)
    for (int rep = 0; rep < 20; ++rep) {
      // Some dominant, some merely well-conditioned.
      auto a = random_matrix(gen, n, rep % 2 ? 3.0 : 0.5);
      auto x = a, y = a;
      INVRT(x.data(), n, n);
      INVRTP(y.data(), n, n);
      EXPECT_TRUE(same_bits(x, y)) << "n=" << n << " rep=" << rep;
    }
  // Exact zeros and triangles follow INVRT's skips as well.
  auto t = from_rows(3, {2, 0, 0, -1, 4, -0.0, 0, 3, 5});
  auto x = t, y = t;
  INVRT(x.data(), 3, 3);
  INVRTP(y.data(), 3, 3);
  EXPECT_TRUE(same_bits(x, y));
}

TEST(Invrtp, PermutationMatricesInvertToTheirTranspose) {
  for (int n : {2, 3, 4}) {
    std::vector<int> perm(n);
    for (int i = 0; i < n; ++i) perm[i] = i;
    do {
      std::vector<double> q(n * n, 0.0);
      for (int i = 0; i < n; ++i) q[perm[i] * n + i] = 1.0;  // row i has its 1 in column perm[i]
      auto inv = q;
      INVRTP(inv.data(), n, n);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) EXPECT_EQ(inv[j * n + i], q[i * n + j]);
    } while (std::next_permutation(perm.begin(), perm.end()));
  }
}

// The canonical transformation of R = diag(1, 2) with a diagonal S is a
// permutation scaled by 1/sqrt of the diagonal: its natural first pivot is 0.
TEST(Invrtp, ScaledPermutationOfTheDiagonalCase) {
  auto q = from_rows(2, {0, 1 / std::sqrt(2.0), 1, 0});
  auto inv = q;
  INVRTP(inv.data(), 2, 2);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      double s = 0;
      for (int k = 0; k < 2; ++k) s += inv[k * 2 + i] * q[j * 2 + k];
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-15);
    }
}

TEST(Invrtp, InvertibleMatricesWithSmallNaturalPivots) {
  std::mt19937_64 gen(7);
  for (int n = 2; n <= 9; ++n)
    for (int rep = 0; rep < 10; ++rep) {
      auto a = random_matrix(gen, n, 0.0);
      const int k = rep % (n - 1);
      a[k * n + k] = rep % 3 ? 0.0 : 1e-13;  // a small natural pivot at step k+1
      if (k > 0) {
        // Make the natural pivot at step k+1 vanish after elimination: row k
        // = row 0 on the first k+1 columns plus something afterwards.
        for (int j = 0; j <= k; ++j) a[j * n + k] = a[j * n + 0];
      }
      auto inv = a;
      INVRTP(inv.data(), n, n);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
          double s = 0;
          for (int l = 0; l < n; ++l) s += inv[l * n + i] * a[j * n + l];
          EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-9) << "n=" << n << " rep=" << rep;
        }
    }
}

TEST(Invrtp, FirstOfEqualCandidatesIsChosen) {
  // Column 1 below a zero pivot holds 2 and -2: row 2 is taken. Both orders
  // give the same inverse; the result is checked exactly.
  auto a = from_rows(3, {0, 1, 0, 2, 0, 1, -2, 0, 1});
  auto inv = a;
  INVRTP(inv.data(), 3, 3);
  EXPECT_EQ(inv, from_rows(3, {0, 0.25, -0.25, 1, 0, 0, 0, 0.5, 0.5}));
}

TEST(Invrtp, SingularMatrixStops) {
  auto a = from_rows(2, {1, 2, 2, 4});
  EXPECT_STOPS_WITH(INVRTP(a.data(), 2, 2), "0DIAGONAL ELEMENT = 0 ENCOUNTERED IN SUBR INVRT");
  std::vector<double> z(9, 0.0);
  EXPECT_STOPS_WITH(INVRTP(z.data(), 3, 3), "0DIAGONAL ELEMENT = 0 ENCOUNTERED IN SUBR INVRT");
  EXPECT_STOPS_WITH(INVRTP(z.data(), 1, 2), "0MATRIX DIMENSION LARGER THAN DECLARED");
}

TEST(Invrtp, NonPositiveOrderTouchesNothing) {
  std::vector<double> a{3, 4};
  INVRTP(a.data(), 2, 0);
  INVRTP(a.data(), 2, -3);
  EXPECT_EQ(a, (std::vector<double>{3, 4}));
}

// ---- MATPRD ------------------------------------------------------------------

TEST(Matprd, FourShapesOfProduct) {
  auto a = from_rows(2, {1, 2, 3, 4});
  auto b = from_rows(2, {5, 6, 7, 8});
  std::vector<double> c(4, -1.0);
  MATPRD(2, 2, 2, c.data(), a.data(), b.data(), 0, 0);
  EXPECT_EQ(c, from_rows(2, {19, 22, 43, 50}));
  MATPRD(2, 2, 2, c.data(), a.data(), b.data(), 1, 0);
  EXPECT_EQ(c, from_rows(2, {26, 30, 38, 44}));
  MATPRD(2, 2, 2, c.data(), a.data(), b.data(), 0, 1);
  EXPECT_EQ(c, from_rows(2, {17, 23, 39, 53}));
  MATPRD(2, 2, 2, c.data(), a.data(), b.data(), 1, 1);
  EXPECT_EQ(c, from_rows(2, {23, 31, 34, 46}));
}

TEST(Matprd, RectangularWithoutTransposeIsNotSizeTested) {
  // (3 x 2)(2 x 1).
  auto a = from_rows(3, {1, 2, 3, 4, 5, 6});
  std::vector<double> b{1, -1}, c(3);
  MATPRD(3, 2, 1, c.data(), a.data(), b.data(), 0, 0);
  EXPECT_EQ(c, (std::vector<double>{-1, -1, -1}));
}

TEST(Matprd, SumsFromPlusZeroInAscendingOrder) {
  // 1 + 1e16 rounds to 1e16, so ascending order gives 0 where descending gives 1.
  std::vector<double> row{1, 1e16, -1e16}, ones{1, 1, 1}, c(1);
  for (int ta : {0, 1}) {
    SCOPED_TRACE(ta);
    MATPRD(1, 3, 1, c.data(), row.data(), ones.data(), 0, 0);
    EXPECT_EQ(c[0], 0.0);
    // Starting from the first product would keep -0.
    double mz = -0.0, one = 1.0;
    MATPRD(1, 1, 1, c.data(), &mz, &one, ta, 0);
    EXPECT_EQ(bits(c[0]), bits(0.0));
    // No product is skipped for a zero factor.
    double zero = 0.0, inf = INF;
    MATPRD(1, 1, 1, c.data(), &zero, &inf, ta, 0);
    EXPECT_TRUE(std::isnan(c[0]));
  }
}

TEST(Matprd, EmptySizes) {
  std::vector<double> a(4, 1.0), b(4, 1.0), c{7, 7, 7, 7};
  MATPRD(2, 0, 2, c.data(), a.data(), b.data(), 0, 0);
  EXPECT_EQ(c, (std::vector<double>{0, 0, 0, 0}));
  c = {7, 7, 7, 7};
  MATPRD(0, 2, 2, c.data(), a.data(), b.data(), 0, 0);
  MATPRD(2, 2, 0, c.data(), a.data(), b.data(), 0, 0);
  MATPRD(2, 2, -1, c.data(), a.data(), b.data(), 0, 0);
  EXPECT_EQ(c, (std::vector<double>{7, 7, 7, 7}));
}

TEST(Matprd, NonConformingTransposeStops) {
  std::vector<double> a(6, 1.0), b(6, 1.0), c(6, 0.0);
  EXPECT_STOPS_WITH(MATPRD(2, 3, 2, c.data(), a.data(), b.data(), 1, 0),
                    "0ATTEMPT TO MULTIPLY NON-CONFORMING MATRICES");
  EXPECT_STOPS_WITH(MATPRD(2, 3, 2, c.data(), a.data(), b.data(), 0, 1),
                    "0ATTEMPT TO MULTIPLY NON-CONFORMING MATRICES");
}

}  // namespace
