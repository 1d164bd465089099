// The sire solver's sweep over K, fast form against the plain loop nest, on
// the shapes that take its separate paths: a single short block, blocks of 8
// with a shorter last one, tails shorter than one chunk, tiles laid beside
// the tails and the ones left over at the end of a block, slices of 8 traits
// and a short last slice; signed zeros and non-finite coefficients where a
// tile reads them (above the diagonal) and where a tail does (below it).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kesta/phases.h"
#include "kesta/sirsol.h"
#include "records/records.h"
#include "support/sirsol_both.h"

namespace {

enum class Shape { Dense, SignedZeros, InfAbove, NaNBelow };

struct Case {
  const char* name;
  Shape shape;
  int n, t;
};

struct System {
  std::vector<double> K, AP, lambda, Y, S0;
};

System make_system(const Case& c) {
  const int n = c.n, t = c.t;
  std::mt19937_64 gen(7919u * n + 31u * t + static_cast<unsigned>(c.shape));
  std::uniform_real_distribution<double> U(-1, 1);
  System s;
  s.K.assign(static_cast<size_t>(n) * n, 0.0);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      double x = i == j ? n + 4 + U(gen) : U(gen);
      if (c.shape == Shape::SignedZeros && i != j && U(gen) < 0.2) x = U(gen) < 0 ? -0.0 : 0.0;
      s.K[static_cast<size_t>(j) * n + i] = x;  // not symmetric
    }
  if (c.shape == Shape::InfAbove) s.K[static_cast<size_t>(n - 1) * n + 2] = INFINITY;  // K(3, n): a tile's row
  if (c.shape == Shape::NaNBelow) s.K[static_cast<size_t>(1) * n + n - 1] = NAN;       // K(n, 2): a tail's row
  for (int r = 1; r <= n; ++r)
    for (int q = 1; q <= r; ++q) {
      double a = r == q ? 1.5 + std::fabs(U(gen)) : (U(gen) < -0.6 ? 0.3 * U(gen) : 0.0);
      if (r != q && a == 0 && U(gen) < 0.1) a = -0.0;
      s.AP.push_back(a);
    }
  for (int l = 0; l < t; ++l) s.lambda.push_back(0.5 + std::fabs(U(gen)));
  for (int l = 0; l < t; ++l)
    for (int i = 0; i < n; ++i) s.Y.push_back(l % 4 == 3 ? 0.0 : U(gen));  // some all-zero traits
  for (size_t i = 0; i < s.Y.size(); ++i) {
    double x = s.Y[i] * 0.1;
    if (c.shape == Shape::SignedZeros && i % 3 == 0) x = -0.0;
    s.S0.push_back(x);
  }
  return s;
}

// Runs both forms in a child process (the solver writes the listing, which
// needs the run started) and returns the differences found.
std::string differences(const Case& c) {
  const System s = make_system(c);
  int rep[2];
  if (pipe(rep) != 0) return "pipe failed";
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(rep[0]);
    RUNSTART("kesta");
    const std::string text = sirsol_both_ways(s.K, s.AP, s.lambda, s.Y, s.S0, c.n, c.t);
    if (write(rep[1], text.data(), text.size()) < 0) _exit(3);
    close(rep[1]);
    _exit(0);
  }
  close(rep[1]);
  std::string text;
  char b[4096];
  for (ssize_t k; (k = read(rep[0], b, sizeof b)) > 0;) text.append(b, static_cast<size_t>(k));
  close(rep[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) text += "the child did not end normally\n";
  return text;
}

class SireSweep : public ::testing::TestWithParam<Case> {};

TEST_P(SireSweep, SameBitsAsThePlainLoopNest) { EXPECT_EQ("", differences(GetParam())); }

const Case kCases[] = {
    // one block, shorter than 8 sires; tails shorter than a chunk
    {"n1_t1", Shape::Dense, 1, 1},
    {"n5_t3", Shape::Dense, 5, 3},
    {"n7_t8", Shape::Dense, 7, 8},
    // whole blocks and a short last one, every lane width of the traits
    {"n8_t2", Shape::Dense, 8, 2},
    {"n9_t4", Shape::Dense, 9, 4},
    {"n16_t5", Shape::Dense, 16, 5},
    {"n23_t6", Shape::Dense, 23, 6},
    {"n25_t7", Shape::Dense, 25, 7},
    // tiles beside the tails, and tiles left over where the tails are short
    {"n64_t1", Shape::Dense, 64, 1},
    {"n100_t3", Shape::Dense, 100, 3},
    {"n131_t6", Shape::Dense, 131, 6},
    {"n97_t8", Shape::Dense, 97, 8},
    // slices of 8 traits and a shorter last slice
    {"n41_t9", Shape::Dense, 41, 9},
    {"n70_t19", Shape::Dense, 70, 19},
    // signed zeros in K, in the start values and the A-inverse
    {"zeros_n57_t3", Shape::SignedZeros, 57, 3},
    {"zeros_n33_t10", Shape::SignedZeros, 33, 10},
    // non-finite coefficients: never converges, 2000 rounds
    {"inf_above_n27_t2", Shape::InfAbove, 27, 2},
    {"inf_above_n40_t6", Shape::InfAbove, 40, 6},
    {"nan_below_n19_t1", Shape::NaNBelow, 19, 1},
    {"nan_below_n26_t9", Shape::NaNBelow, 26, 9},
};

INSTANTIATE_TEST_SUITE_P(Shapes, SireSweep, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
