// EIGVEC: decompositions of random symmetric matrices, the diagonal and tie
// cases, z in place of a, and an end on non-finite input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

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
