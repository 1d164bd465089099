// EIGVEC: decompositions of random symmetric matrices, the diagonal and tie
// cases, z in place of a, and an end on non-finite input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "kesta/matrix/eigvec_tuning.h"
#include "kesta/matrix/kernels.h"

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();

bool same_bits(const std::vector<double>& x, const std::vector<double>& y) {
  return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0;
}

// Random symmetric matrix of order n in an array with leading dimension nm;
// the upper triangle and the rows beyond n hold values EIGVEC must not read.
std::vector<double> random_symmetric(std::mt19937_64& gen, int nm, int n) {
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> a(static_cast<size_t>(nm) * n);
  for (auto& x : a) x = 1000 + u(gen);
  for (int j = 0; j < n; ++j)
    for (int i = j; i < n; ++i) a[j * nm + i] = u(gen);
  return a;
}

// Row and column r (0-based) of the lower triangle zero off the diagonal: the
// reduction meets a zero scale there, the accumulation a zero h.
void decouple(std::vector<double>& a, int nm, int n, int r) {
  for (int k = 0; k < n; ++k)
    if (k < r)
      a[k * nm + r] = 0.0;
    else if (k > r)
      a[r * nm + k] = 0.0;
}

struct Decomposition {
  std::vector<double> d, z;
};

Decomposition eigvec(const std::vector<double>& a, int nm, int n) {
  Decomposition r{std::vector<double>(n), std::vector<double>(static_cast<size_t>(nm) * n, 0.0)};
  std::vector<double> in = a, e(n);
  EIGVEC(nm, n, in.data(), r.d.data(), e.data(), r.z.data());
  EXPECT_TRUE(same_bits(in, a)) << "a changed with distinct arrays";
  return r;
}

TEST(Eigvec, RandomSymmetricOrdersOneToSixty) {
  std::mt19937_64 gen(2024);
  for (int n = 1; n <= 60; ++n) {
    SCOPED_TRACE(n);
    const int nm = n + n % 3;  // leading dimension above the order for some
    auto a = random_symmetric(gen, nm, n);
    auto r = eigvec(a, nm, n);
    auto sym = [&](int i, int j) { return i >= j ? a[j * nm + i] : a[i * nm + j]; };
    for (int j = 1; j < n; ++j) EXPECT_LE(r.d[j - 1], r.d[j]);
    // ||A Z - Z D|| and ||Z'Z - I||, largest element.
    double res = 0, orth = 0;
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        double az = 0, zz = 0;
        for (int k = 0; k < n; ++k) {
          az += sym(i, k) * r.z[j * nm + k];
          zz += r.z[i * nm + k] * r.z[j * nm + k];
        }
        res = std::max(res, std::fabs(az - r.z[j * nm + i] * r.d[j]));
        orth = std::max(orth, std::fabs(zz - (i == j ? 1.0 : 0.0)));
      }
    EXPECT_LT(res, 1e-13 * n);
    EXPECT_LT(orth, 1e-14 * n);
  }
}

TEST(Eigvec, InPlaceGivesTheSameBitsAsDistinctArrays) {
  std::mt19937_64 gen(99);
  for (int n : {1, 2, 3, 5, 8, 17, 33}) {
    SCOPED_TRACE(n);
    auto a = random_symmetric(gen, n, n);
    // With exact zeros too: a zero scale and a zero h take their own paths.
    if (n > 4) {
      decouple(a, n, n, n / 2);
      decouple(a, n, n, n - 1);
    }
    auto r = eigvec(a, n, n);
    auto z = a;
    std::vector<double> d(n), e(n);
    EIGVEC(n, n, z.data(), d.data(), e.data(), z.data());
    EXPECT_TRUE(same_bits(d, r.d));
    // Only the n x n block is compared: with distinct arrays z's rows are all
    // of it here (nm = n).
    EXPECT_TRUE(same_bits(z, r.z));
  }
}

TEST(Eigvec, UpperTriangleIsNotRead) {
  std::mt19937_64 gen(3);
  const int n = 9;
  auto a = random_symmetric(gen, n, n);
  auto s = a;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < j; ++i) s[j * n + i] = s[i * n + j];
  auto r1 = eigvec(a, n, n), r2 = eigvec(s, n, n);
  EXPECT_TRUE(same_bits(r1.d, r2.d));
  EXPECT_TRUE(same_bits(r1.z, r2.z));
}

std::vector<double> diagonal(std::initializer_list<double> v) {
  const int n = static_cast<int>(v.size());
  std::vector<double> a(n * n, 0.0);
  int i = 0;
  for (double x : v) a[i * n + i] = x, ++i;
  return a;
}

// Column j of z is the unit vector e(cols[j]).
std::vector<double> unit_columns(std::initializer_list<int> cols) {
  const int n = static_cast<int>(cols.size());
  std::vector<double> z(n * n, 0.0);
  int j = 0;
  for (int c : cols) z[j * n + (c - 1)] = 1.0, ++j;
  return z;
}

TEST(Eigvec, DiagonalMatricesSortWithoutTransformation) {
  struct Case {
    std::vector<double> a, d, z;
  } cases[] = {
      {diagonal({3, 1, 2}), {1, 2, 3}, unit_columns({2, 3, 1})},
      {diagonal({1, 1, 1, 1}), {1, 1, 1, 1}, unit_columns({1, 2, 3, 4})},
      // Equal values are not exchanged: the strict test keeps the first.
      {diagonal({2, 1, 2, 1}), {1, 1, 2, 2}, unit_columns({2, 4, 3, 1})},
      {diagonal({-5}), {-5}, unit_columns({1})},
  };
  for (const auto& c : cases) {
    const int n = static_cast<int>(c.d.size());
    SCOPED_TRACE(n);
    auto r = eigvec(c.a, n, n);
    EXPECT_EQ(r.d, c.d);
    EXPECT_EQ(r.z, c.z);
  }
}

TEST(Eigvec, TridiagonalInputConverges) {
  const int n = 12;
  std::vector<double> a(n * n, 0.0);
  for (int i = 0; i < n; ++i) {
    a[i * n + i] = 2.0;
    if (i + 1 < n) a[i * n + i + 1] = -1.0;
  }
  auto r = eigvec(a, n, n);
  // Eigenvalues of the second-difference matrix: 2 - 2 cos(k pi / (n + 1)).
  for (int k = 1; k <= n; ++k) EXPECT_NEAR(r.d[k - 1], 2 - 2 * std::cos(k * M_PI / (n + 1)), 1e-14);
}

TEST(Eigvec, NonPositiveOrderTouchesNothing) {
  std::vector<double> a{1, 2, 3, 4}, d{5, 6}, e{7, 8}, z{9, 9, 9, 9};
  EIGVEC(2, 0, a.data(), d.data(), e.data(), z.data());
  EIGVEC(2, -1, a.data(), d.data(), e.data(), z.data());
  EXPECT_EQ(a, (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(d, (std::vector<double>{5, 6}));
  EXPECT_EQ(e, (std::vector<double>{7, 8}));
  EXPECT_EQ(z, (std::vector<double>{9, 9, 9, 9}));
}

// A NaN or infinity anywhere in the lower triangle must not hang the
// iteration: the routine returns.
TEST(Eigvec, NonFiniteInputReturns) {
  std::mt19937_64 gen(8);
  for (double bad : {NaN, INF, -INF})
    for (int n : {2, 3, 6}) {
      for (int pos = 0; pos < n * n; ++pos) {
        if (pos % n < pos / n) continue;  // lower triangle only
        auto a = random_symmetric(gen, n, n);
        a[pos] = bad;
        std::vector<double> d(n), e(n), z(n * n);
        EIGVEC(n, n, a.data(), d.data(), e.data(), z.data());
      }
    }
  const int n = 4;
  std::vector<double> a(n * n, NaN), d(n), e(n), z(n * n);
  EIGVEC(n, n, a.data(), d.data(), e.data(), a.data());
  EXPECT_TRUE(std::isnan(d[0]));
}

}  // namespace

// ---- EIGVEC against its literal form -----------------------------------------

namespace {

struct Input {
  const char* what;
  int nm, n;
  std::vector<double> a;
};

std::vector<Input> fast_literal_inputs() {
  std::mt19937_64 gen(77);
  std::vector<Input> in;
  // Small and odd orders, and orders around the block widths (8, 32).
  for (int n : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 34, 40, 63, 64, 65, 70, 97})
    in.push_back({"random", n + (n % 2), n, random_symmetric(gen, n + (n % 2), n)});
  for (int n : {6, 33, 41}) {
    auto a = random_symmetric(gen, n, n);
    decouple(a, n, n, 0);
    decouple(a, n, n, n / 3);
    decouple(a, n, n, n - 1);
    // Scattered exact zeros of both signs as well.
    for (int j = 0; j < n; ++j)
      for (int i = j; i < n; ++i)
        if ((i * 7 + j * 3) % 5 == 0) a[j * n + i] = (i + j) % 2 ? 0.0 : -0.0;
    in.push_back({"zeros", n, n, a});
  }
  for (int n : {5, 36}) {
    std::vector<double> a(n * n, 0.0);
    for (int i = 0; i < n; ++i) a[i * n + i] = (i * 37) % 11 - 5.0;
    in.push_back({"diagonal", n, n, a});
    for (int i = 0; i + 1 < n; ++i) a[i * n + i + 1] = i % 4 ? 1.0 / (i + 1) : 0.0;
    in.push_back({"tridiagonal", n, n, a});
  }
  {
    // Repeated eigenvalues: a rotated identity plus a rank-one term.
    const int n = 35;
    std::vector<double> a(n * n, 0.0);
    for (int j = 0; j < n; ++j)
      for (int i = j; i < n; ++i) a[j * n + i] = (i == j ? 2.0 : 0.0) + 1.0 / ((i + 1) * (j + 1));
    in.push_back({"clustered", n, n, a});
  }
  {
    const int n = 20;
    auto a = random_symmetric(gen, n, n);
    a[3 * n + 7] = NaN;
    in.push_back({"nan", n, n, a});
  }
  return in;
}

// Same bits element by element, except that any two NaNs count as equal: the
// sign of a NaN from two NaN operands is the compiler's choice of operand
// order, and every NaN prints alike.
bool same_bits_or_nan(const std::vector<double>& x, const std::vector<double>& y) {
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (!(std::isnan(x[i]) && std::isnan(y[i])) && std::memcmp(&x[i], &y[i], sizeof(double)) != 0) return false;
  return true;
}

TEST(EigvecFast, SameBitsAsTheLiteralForm) {
  for (const auto& c : fast_literal_inputs()) {
    SCOPED_TRACE(std::string(c.what) + " n=" + std::to_string(c.n));
    const size_t size = static_cast<size_t>(c.nm) * c.n;
    std::vector<double> a1 = c.a, a2 = c.a, d1(c.n), d2(c.n), e1(c.n), e2(c.n);
    std::vector<double> z1(size, 5.0), z2(size, 5.0);
    eigvec_literal(c.nm, c.n, a1.data(), d1.data(), e1.data(), z1.data());
    EIGVEC(c.nm, c.n, a2.data(), d2.data(), e2.data(), z2.data());
    EXPECT_TRUE(same_bits_or_nan(d1, d2));
    EXPECT_TRUE(same_bits_or_nan(z1, z2));
    EXPECT_TRUE(same_bits(a2, c.a));
    // In place: z the same array as a.
    a1 = c.a;
    a2 = c.a;
    eigvec_literal(c.nm, c.n, a1.data(), d1.data(), e1.data(), a1.data());
    EIGVEC(c.nm, c.n, a2.data(), d2.data(), e2.data(), a2.data());
    EXPECT_TRUE(same_bits_or_nan(d1, d2));
    EXPECT_TRUE(same_bits_or_nan(a1, a2));
  }
}

// Every block width of the accumulation and a rotation store that fills
// after one sweep (so that z is brought up to date between sweeps).
TEST(EigvecFast, EveryTuningGivesTheSameBits) {
  for (const auto& c : fast_literal_inputs()) {
    if (c.n < 9 && c.n != 1) continue;
    const size_t size = static_cast<size_t>(c.nm) * c.n;
    std::vector<double> a1 = c.a, d1(c.n), e1(c.n), z1(size, 5.0);
    eigvec_literal(c.nm, c.n, a1.data(), d1.data(), e1.data(), z1.data());
    for (int v = 1; v <= 4; ++v)
      for (size_t cap : {size_t(1), size_t(3) * c.n, eigvec_tuning(c.n).rotation_capacity}) {
        SCOPED_TRACE(std::string(c.what) + " n=" + std::to_string(c.n) + " v=" + std::to_string(v) +
                     " cap=" + std::to_string(cap));
        std::vector<double> a2 = c.a, d2(c.n), e2(c.n);
        eigvec_tuned({v, cap}, c.nm, c.n, a2.data(), d2.data(), e2.data(), a2.data());
        EXPECT_TRUE(same_bits_or_nan(d1, d2));
        for (int j = 0; j < c.n; ++j)
          for (int i = 0; i < c.n; ++i)
            ASSERT_TRUE(same_bits_or_nan({z1[j * c.nm + i]}, {a2[j * c.nm + i]})) << i << "," << j;
      }
  }
}

}  // namespace
