// kesta's middle phases: group absorption, the canonical sire transformation,
// the REML rounds, the final estimates with their standard errors and the
// correlation tables and files.
//
// End-to-end runs compare the block of the listing that these phases write:
// from the blank line before " LARGE MATRIX MULTIPLICATION 1 DONE" up to the
// line before the blank line that opens the sire solver's lines. The expected
// blocks and correlation files of the fixture cases (tests/fixtures/kesta-reml)
// come from an independent calculation, tests/fixtures/kesta-reml/derive.py.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "kesta/absorb.h"
#include "kesta/matrix/kernels.h"
#include "kesta/phases.h"
#include "support/arrays.h"
#include "support/passdat.h"
#include "support/run.h"

namespace {

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> v;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

// The lines of the block, each ended by LF; empty when the markers are
// missing.
std::string block_of(const std::string& listing) {
  std::vector<std::string> v = lines_of(listing);
  size_t from = 0, to = v.size();
  for (size_t i = 1; i < v.size(); ++i)
    if (v[i] == " LARGE MATRIX MULTIPLICATION 1 DONE") {
      from = i - 1;
      break;
    }
  if (from == 0) return "";
  for (size_t i = from; i < v.size(); ++i)
    if (v[i].rfind("Iteration", 0) == 0) {
      to = i - 1;
      break;
    }
  std::string s;
  for (size_t i = from; i < to; ++i) s += v[i] + "\n";
  return s;
}

// The one-trait worked examples: W = diag(SIREIG), an identity A-inverse,
// r = SIRRHS, WSSPK = 4 (so R = 4 and S = 4/9 at the start), YMYPK = 500,
// NREC - NFIXLV - NGROUP = 100.
std::string one_trait_dir(const std::vector<double>& eig, const std::vector<double>& rhs) {
  PassData p;
  p.t = 1, p.q = (int32_t)eig.size(), p.g = 0;
  p.names = {"MILK"};
  p.rhs = rhs;
  p.wss = {4.0};
  p.ymy = {500.0};
  p.nfixlv = 0, p.nrec = 100, p.ndfded = 1;
  p.W.assign(eig.size() * eig.size(), 0.0);
  std::string coef;
  char b[48];
  for (size_t s = 0; s < eig.size(); ++s) {
    p.W[s * eig.size() + s] = eig[s];
    p.id.push_back(101 + (int32_t)s);
    p.gr.push_back(1);
    std::snprintf(b, sizeof b, "%5d%5d%10.6f\n", (int)s + 1, (int)s + 1, 1.0);
    coef += b;
  }
  p.baseen = 7.5f;
  std::string dir = make_tempdir();
  write_file(dir, "pass.dat", pass_bytes(p));
  write_file(dir, "zelk.coef", coef);
  return dir;
}

const char* kHead =
    " \n"
    " LARGE MATRIX MULTIPLICATION 1 DONE\n"
    " \n"
    " LARGE MATRIX MULTIPLICATION 2 DONE\n"
    " \n"
    " EIGENVECTORS OF L ZSZ L' OBTAINED\n";

struct WorkedExample {
  const char* name;
  std::vector<double> eig, rhs;
  const char* rounds_and_estimates;
};

class OneTraitWorkedExample : public testing::TestWithParam<WorkedExample> {};

TEST_P(OneTraitWorkedExample, ListsEveryRoundAndTheEstimatesItConvergesTo) {
  const WorkedExample& c = GetParam();
  std::string dir = one_trait_dir(c.eig, c.rhs);
  RunResult r = run_in(dir, KESTA_BIN);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(block_of(r.out), std::string(kHead) + c.rounds_and_estimates);
}

INSTANTIATE_TEST_SUITE_P(
    Kesta, OneTraitWorkedExample,
    testing::Values(
        // Neither limit of the update applies; round 7 converges.
        WorkedExample{"FiveSires",
                      {0.5, 1, 2, 6, 10},
                      {1.4, 2.2, -3, -7.5, 9},
                      " \n"
                      " RATIOS FOR DIAGONAL =       9.000\n"
                      " ROUND   1 COMPLETED.\n"
                      " \n"
                      " RATIOS FOR DIAGONAL =       8.671\n"
                      " ROUND   2 COMPLETED.\n"
                      " \n"
                      " RATIOS FOR DIAGONAL =      12.169\n"
                      " ROUND   3 COMPLETED.\n"
                      " \n"
                      " RATIOS FOR DIAGONAL =      12.037\n"
                      " ROUND   4 COMPLETED.\n"
                      " \n"
                      " RATIOS FOR DIAGONAL =      12.130\n"
                      " ROUND   5 COMPLETED.\n"
                      " \n"
                      " RATIOS FOR DIAGONAL =      12.126\n"
                      " ROUND   6 COMPLETED.\n"
                      " \n"
                      " RATIOS FOR DIAGONAL =      12.128\n"
                      " ROUND   7 COMPLETED.\n"
                      " \n"
                      " \n"
                      "FINAL ESTIMATES:\n"
                      "  TRAIT NAME       ERROR VAR.      SIRE VAR.     HERITABILITY\n"
                      "    1  MILK             4.920756       0.405739       0.304695\n"
                      " \n"
                      "STANDARD ERRORS OF CORRESPONDING PARAMETERS ABOVE\n"
                      "    1  MILK             0.699406       1.115354       0.774820\n"},
        // The update is limited (m = single(h / a1)) and the canonical sire
        // variance meets the ceiling in every round from round 1 on.
        WorkedExample{"ThreeSiresAtTheCeiling",
                      {0.1, 0.2, 0.3},
                      {5, -4, 6},
                      " \n"
                      " RATIOS FOR DIAGONAL =       9.000\n"
                      " ROUND   1 COMPLETED.\n"
                      " \n"
                      " RATIOS FOR DIAGONAL =       3.687\n"
                      " ROUND   2 COMPLETED.\n"
                      " \n"
                      " RATIOS FOR DIAGONAL =       3.000\n"
                      " ROUND   3 COMPLETED.\n"
                      " \n"
                      " RATIOS FOR DIAGONAL =       3.000\n"
                      " ROUND   4 COMPLETED.\n"
                      " \n"
                      " RATIOS FOR DIAGONAL =       3.000\n"
                      " ROUND   5 COMPLETED.\n"
                      " \n"
                      " \n"
                      "FINAL ESTIMATES:\n"
                      "  TRAIT NAME       ERROR VAR.      SIRE VAR.     HERITABILITY\n"
                      "    1  MILK             4.760264       1.586755       1.000000\n"
                      " \n"
                      "STANDARD ERRORS OF CORRESPONDING PARAMETERS ABOVE\n"
                      "    1  MILK             0.676594      17.233963       8.146552\n"}),
    [](const testing::TestParamInfo<WorkedExample>& i) { return std::string(i.param.name); });

// ---- Fixture cases ----------------------------------------------------------

struct FixtureCase {
  const char* dir;
  const char* shows;
};

class RemlFixture : public testing::TestWithParam<FixtureCase> {};

TEST_P(RemlFixture, BlockAndCorrelationFilesMatchByteForByte) {
  const std::string src = std::string(FIXTURES_DIR) + "/kesta-reml/" + GetParam().dir;
  std::string dir = make_tempdir();
  copy_dir_files(src, dir);
  RunResult r = run_in(dir, KESTA_BIN);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(block_of(r.out), read_file(src + "/expected", "block"));
  for (const char* f : {"genphen.cor", "genetic.cor", "environment.cor"})
    EXPECT_EQ(read_file(dir, f), read_file(src + "/expected", f)) << f;
}

INSTANTIATE_TEST_SUITE_P(
    Kesta, RemlFixture,
    testing::Values(
        FixtureCase{"t2-g0", "two traits, no groups; the singularity line"},
        FixtureCase{"t2-g1-negenv",
                    "one group; 500 rounds without convergence; a negative environmental "
                    "variance (-1.0000000 on the diagonal, NaN beside it)"},
        FixtureCase{"t3-g3", "three traits, three groups"},
        FixtureCase{"t8-g0", "eight traits: two ratios lines per round"},
        FixtureCase{"t1-keepcor", "one trait: the existing correlation files stay as they were"},
        FixtureCase{"diag12",
                    "a diagonal starting R = diag(1, 2): Q of round 1 is a permutation with "
                    "Q(1,1) = 0, and the run goes on"}),
    [](const testing::TestParamInfo<FixtureCase>& i) {
      std::string n = i.param.dir;
      for (char& c : n)
        if (c == '-') c = '_';
      return n;
    });

TEST(KestaRatios, EightTraitsWriteTheTextAndSevenValuesThenTheEighthAlone) {
  const std::string src = std::string(FIXTURES_DIR) + "/kesta-reml/t8-g0";
  std::vector<std::string> v = lines_of(read_file(src + "/expected", "block"));
  int seen = 0;
  for (size_t i = 0; i + 1 < v.size(); ++i)
    if (v[i].rfind(" RATIOS FOR DIAGONAL = ", 0) == 0) {
      EXPECT_EQ(v[i].size(), 100u) << i;
      EXPECT_EQ(v[i + 1].size(), 11u) << i;
      ++seen;
    }
  EXPECT_EQ(seen, 500);
}

// ---- Fatal stop after the rounds --------------------------------------------

TEST(KestaRemlStop, ASireVarianceThatIsNotANumberStopsTheRunRightAfterTheRounds) {
  // With every right-hand side zero the update factor is 0/0: S becomes NaN,
  // and the NaN relative change ends the rounds as converged.
  std::string dir = one_trait_dir({0.5, 1, 2}, {0, 0, 0});
  RunResult r = run_in(dir, KESTA_BIN);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(block_of(r.out), std::string(kHead) +
                                 " \n"
                                 " RATIOS FOR DIAGONAL =       9.000\n"
                                 " ROUND   1 COMPLETED.\n"
                                 "0SIRE OR ERROR COVARIANCE NOT A NUMBER OR INFINITE AFTER REML ROUNDS\n");
}

// ---- The inversion of Q with row exchanges -----------------------------------

TEST(KestaRemlQ, DiagonalRAndSOutOfTraitOrderGiveAPermutationThatIsStillInverted) {
  // R = diag(1, 2), S = diag(0.3, 0.2): the eigenvalues are 0.1 (trait 2)
  // and 0.3 (trait 1), so Q(1,1) = 0; the steps of a round up to Q.
  const int t = 2;
  std::vector<double> R = {1, 0, 0, 2}, S = {0.3, 0, 0, 0.2};
  std::vector<double> respk = {R[0], R[2], R[3]}, lrinv(4), w1(4), w2(4), th(2), wv(2), Q(4);
  CHOLPK(respk.data(), 3, t);
  lrinv = {respk[0], respk[1], 0.0, respk[2]};
  INVRT(lrinv.data(), t, t);
  MATPRD(t, t, t, w1.data(), S.data(), lrinv.data(), 0, 1);
  MATPRD(t, t, t, w2.data(), lrinv.data(), w1.data(), 0, 0);
  EIGVEC(t, t, w2.data(), th.data(), wv.data(), w1.data());
  MATPRD(t, t, t, Q.data(), w1.data(), lrinv.data(), 1, 0);
  ASSERT_EQ(Q[0], 0.0);
  std::vector<double> Qinv = Q, I(4);
  INVRTP(Qinv.data(), t, t);
  MATPRD(t, t, t, I.data(), Qinv.data(), Q.data(), 0, 0);
  EXPECT_NEAR(I[0], 1.0, 1e-15);
  EXPECT_EQ(I[1], 0.0);
  EXPECT_EQ(I[2], 0.0);
  EXPECT_NEAR(I[3], 1.0, 1e-15);
}

// ---- Group absorption --------------------------------------------------------

// A model with only what the absorption reads, filled with fixed values.
Model absorption_model(int q, int t, int g, unsigned seed) {
  Model m;
  m.NSIRE = q, m.NTRAIT = t, m.NGROUP = g, m.NTRH = t * (t + 1) / 2;
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  auto fill = [&](auto& a, size_t n) {
    a.resize(n);
    for (double& x : a) x = u(gen);
  };
  fill(m.SIRMAT, (size_t)q * q);
  fill(m.SIRRHS, (size_t)q * t);
  m.RHSWRK = m.SIRRHS;
  fill(m.SIRGRP, (size_t)q * g);
  fill(m.GRPMAT, (size_t)g * g);
  for (int k = 0; k < g; ++k) m.GRPMAT[(size_t)k * g + k] += 4.0;
  fill(m.GRPRHS, (size_t)g * t);
  fill(m.YMYPK, (size_t)m.NTRH);
  m.LINVA.assign((size_t)q * q, 0.0);
  for (int i = 0; i < q; ++i) m.LINVA[(size_t)i * q + i] = 1.0;
  m.NHINV.resize((size_t)q * g);
  m.GRPSOL.resize((size_t)g * t);
  m.GRPEFN.resize(g);
  return m;
}

TEST(KestaAbsorb, TheFinalPassFormsTheSameKBitForBit) {
  for (int g : {1, 3}) {
    Model m = absorption_model(7, 2, g, 5u + g);
    const auto W = m.SIRMAT, r = m.SIRRHS, H = m.GRPMAT;
    absorb_groups(m);
    const auto K = m.SIRMAT, y = m.SIRRHS;
    for (int k = 0; k < g; ++k) EXPECT_EQ(m.GRPEFN[k], H[(size_t)k * g + k]);
    m.SIRMAT = W;
    m.SIRRHS = r;
    reabsorb_groups(m);
    EXPECT_EQ(0, std::memcmp(m.SIRMAT.data(), K.data(), K.size() * sizeof(double))) << g;
    // One group: one product per right-hand side, so both orders agree.
    if (g == 1) {
      EXPECT_EQ(0, std::memcmp(m.SIRRHS.data(), y.data(), y.size() * sizeof(double)));
    }
  }
}

TEST(KestaAbsorb, RightHandSidesSumTheGroupProductsFirstAndTheFinalPassSubtractsThemOneByOne) {
  // H = I, so N H^-1 = N; the sire's two products are 0.3 and 0.6.
  Model m = absorption_model(1, 1, 2, 1u);
  m.SIRMAT = {5.0};
  m.SIRRHS = m.RHSWRK = {1.0};
  m.SIRGRP = {0.3, 0.6};
  m.GRPMAT = {1, 0, 0, 1};
  m.GRPRHS = {1.0, 1.0};
  m.YMYPK = {1.0};
  absorb_groups(m);
  EXPECT_EQ(m.SIRRHS[0], 1.0 - (0.3 + 0.6));
  EXPECT_EQ(m.RHSWRK[0], 1.0 - (0.3 + 0.6));
  m.SIRMAT = {5.0};
  m.SIRRHS = {1.0};
  reabsorb_groups(m);
  EXPECT_EQ(m.SIRRHS[0], (1.0 - 0.3) - 0.6);
  EXPECT_NE(m.SIRRHS[0], 1.0 - (0.3 + 0.6));
  EXPECT_EQ(m.SIRMAT[0], (5.0 - 0.3 * 0.3) - 0.6 * 0.6);
}

TEST(KestaAbsorb, NoGroupsLeaveWAndTheRightHandSidesAsRead) {
  Model m = absorption_model(5, 2, 0, 9u);
  const auto W = m.SIRMAT, r = m.SIRRHS, ymy = m.YMYPK;
  absorb_groups(m);
  EXPECT_EQ(m.SIRMAT, W);
  EXPECT_EQ(m.SIRRHS, r);
  EXPECT_EQ(m.RHSWRK, r);  // L^-1 = I
  EXPECT_EQ(m.YMYPK, ymy);
}

// ---- The triangular products: literal and tiled ------------------------------

// Equal bit for bit, any NaN matching any NaN (a payload is never printed).
bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::isnan(a[i]) && std::isnan(b[i])) continue;
    if (std::memcmp(&a[i], &b[i], sizeof(double)) != 0) return false;
  }
  return true;
}

struct ProductInputs {
  std::vector<double> a, L;
};

// A lower triangular L (NaN above the diagonal, which must never be read) and
// a full matrix; `special` sprinkles zeros of both signs, infinities and NaNs.
ProductInputs product_inputs(int q, unsigned seed, bool special) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  std::uniform_int_distribution<int> pick(0, 40);
  ProductInputs in;
  in.a.resize((size_t)q * q);
  in.L.resize((size_t)q * q);
  auto value = [&]() -> double {
    double x = u(gen);
    if (!special) return x;
    switch (pick(gen)) {
      case 0: return 0.0;
      case 1: return -0.0;
      case 2: return INFINITY;
      case 3: return -INFINITY;
      case 4: return (double)NAN;
      case 5: return 1e-300;
      default: return x;
    }
  };
  for (int j = 0; j < q; ++j)
    for (int i = 0; i < q; ++i) {
      in.a[(size_t)j * q + i] = value();
      in.L[(size_t)j * q + i] = i >= j ? value() : (double)NAN;
    }
  return in;
}

TEST(KestaProducts, TiledLoopsGiveTheLiteralLoopsBitsOnManyInputs) {
  for (int q : {1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 23, 24, 25, 31, 32, 33, 47, 48, 49, 63, 64, 65, 97})
    for (bool special : {false, true})
      for (unsigned seed : {1u, 2u}) {
        ProductInputs in = product_inputs(q, seed * 1000u + q, special);
        std::vector<double> w(q), lit = in.a, fast = in.a;
        mult_rows_linvt(lit.data(), in.L.data(), w.data(), q);
        mult_rows_linvt_tiled(fast.data(), in.L.data(), w.data(), q);
        EXPECT_TRUE(same_bits(lit, fast)) << "rows q=" << q << " special=" << special;
        lit = fast = in.a;
        mult_cols_linv(lit.data(), in.L.data(), w.data(), q);
        mult_cols_linv_tiled(fast.data(), in.L.data(), w.data(), q);
        EXPECT_TRUE(same_bits(lit, fast)) << "cols q=" << q << " special=" << special;
      }
}

TEST(KestaProducts, SumsStartFromPlusZeroAndSkipNothing) {
  // Row (-0, -0) times L = I: the literal sums give +0 (+0 + -0), and a NaN
  // or an infinity times a zero of L still reaches the sum.
  const int q = 2;
  std::vector<double> L = {1.0, 0.0, (double)NAN, 1.0}, w(q);
  for (auto f : {mult_rows_linvt, mult_rows_linvt_tiled, mult_cols_linv, mult_cols_linv_tiled}) {
    std::vector<double> a = {-0.0, -0.0, -0.0, -0.0};
    f(a.data(), L.data(), w.data(), q);
    for (double x : a) EXPECT_FALSE(std::signbit(x));
    a = {INFINITY, 1.0, 1.0, 1.0};
    f(a.data(), L.data(), w.data(), q);
    // Element (1,1) is inf in both products; the other element that sums
    // 0 * inf is NaN.
    EXPECT_TRUE(std::isinf(a[0]));
    EXPECT_TRUE(std::isnan(f == mult_rows_linvt || f == mult_rows_linvt_tiled ? a[2] : a[1]));
  }
}

}  // namespace
