// kesta's first phases: the analysis input and its sizing, the starting
// values with the within-subclass report, and the A-inverse assembly.
//
// End-to-end runs compare the whole listing; every run here stops within
// these phases (at the diagonal message, a refusal, a condition, or a record
// of the sire matrix cut short), except the few that compare only the lines
// up to " INVERSION OF CHOLESKY MATRIX DONE" because the run goes on.
// The readings that only the final pass performs, and the array contents,
// are checked by calling the phases in a child process (the record module's
// files are process-wide).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "kesta/phases.h"
#include "records/records.h"
#include "support/arrays.h"
#include "support/passdat.h"
#include "support/run.h"

namespace {

// A pass.dat of t traits, q sires and g groups with plain values: unit
// within-subclass matrix, W = 2I, every sire in the base group.
PassData plain(int t, int q, int g) {
  PassData p;
  p.t = t, p.q = q, p.g = g;
  p.rhs.assign((size_t)q * t, 1.0);
  for (int r = 1; r <= t; ++r)
    for (int c = 1; c <= r; ++c) {
      p.wss.push_back(r == c ? 1.0 : 0.0);
      p.ymy.push_back(r == c ? 10.0 : 0.0);
    }
  p.nfixlv = 1, p.nrec = 100, p.ndfded = 1;
  p.W.assign((size_t)q * q, 0.0);
  for (int s = 0; s < q; ++s) p.W[(size_t)s * q + s] = 2.0;
  for (int s = 0; s < q; ++s) p.id.push_back(1000 + s), p.gr.push_back(g + 1);
  p.N.assign((size_t)q * g, 0.0);
  p.H.assign((size_t)g * g, 0.0);
  for (int k = 0; k < g; ++k) p.H[(size_t)k * g + k] = 1.0;
  p.grhs.assign((size_t)g * t, 0.0);
  p.baseen = 3.5f;
  return p;
}

using Coef = std::tuple<int, int, double>;

// zelk.coef lines in their layout (2I5,F10.6).
std::string coefs(const std::vector<Coef>& c) {
  std::string s;
  char b[64];
  for (auto [i, j, a] : c) {
    std::snprintf(b, sizeof b, "%5d%5d%10.6f\n", i, j, a);
    s += b;
  }
  return s;
}

// The unit A-inverse of q sires.
std::string unit_coefs(int q) {
  std::vector<Coef> c;
  for (int s = 1; s <= q; ++s) c.emplace_back(s, s, 1.0);
  return coefs(c);
}

// Only records 1-3.
std::string counts_only(int32_t t, int32_t q, int32_t g) {
  return binrec(raw(&t, 1)) + binrec(raw(&q, 1)) + binrec(raw(&g, 1));
}

const char* const BANNER = " KESTA OUTPUT\n \n";
const char* const AINV_DONE =
    " \n CHOLESKY DECOMPOSITION OF A-INVERSE DONE\n \n INVERSION OF CHOLESKY MATRIX DONE\n";

// The listing of a 1-trait, q-sire run up to the standard deviation line,
// with NREC = 100 and a unit within-subclass variance.
std::string one_trait_head(int q) {
  char b[80];
  std::snprintf(b, sizeof b, "         100  RECORDS AND %12d  SIRES IN ANALYSIS\n", q);
  return std::string(BANNER) + b +
         " \n"
         " WITHIN SMALLEST SUBCLASS CORRELATIONS AMONG TRAITS\n"
         "    1  TRAIT1    1.000\n"
         " \n"
         " WITHIN SMALLEST SUBCLASS STANDARD DEVIATIONS\n"
         "    1  TRAIT1           1.000000\n";
}

std::string first_lines(const std::string& s, int n) {
  size_t p = 0;
  for (int k = 0; k < n && p != std::string::npos; ++k) {
    p = s.find('\n', p);
    if (p != std::string::npos) ++p;
  }
  return p == std::string::npos ? s : s.substr(0, p);
}

class KestaInput : public ::testing::Test {
 protected:
  std::string dir = make_tempdir();
  void TearDown() override { std::filesystem::remove_all(dir); }
  void pass(const PassData& p) { write_file(dir, "pass.dat", pass_bytes(p)); }
  void pass(const std::string& bytes) { write_file(dir, "pass.dat", bytes); }
  void coef(const std::string& text) { write_file(dir, "zelk.coef", text); }
  RunResult run() { return run_in(dir, KESTA_BIN); }
  std::string path(const char* name) { return std::filesystem::canonical(dir).string() + "/" + name; }
};

// ---- Counts line and within-subclass report ---------------------------------

TEST_F(KestaInput, CountsLinePrintsNrecAndNsireInTwelveColumns) {
  PassData p = plain(1, 678, 0);
  p.names = {"MILK"};
  p.wss = {4.0};
  p.nrec = 12345;
  pass(p);
  RunResult r = run();
  EXPECT_EQ(r.out, std::string(BANNER) +
                       "       12345  RECORDS AND          678  SIRES IN ANALYSIS\n"
                       " \n"
                       " WITHIN SMALLEST SUBCLASS CORRELATIONS AMONG TRAITS\n"
                       "    1  MILK      1.000\n"
                       " \n"
                       " WITHIN SMALLEST SUBCLASS STANDARD DEVIATIONS\n"
                       "    1  MILK             2.000000\n"
                       "           0  ZELK COEFS READ\n"
                       "DIAGONAL OF ZELK =  0.000000  FOR EQ. NUMBER     1\n"
                       "PROGRAM QUIT\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 1);
}

TEST_F(KestaInput, ThreeTraitBlocksShowTheLowerTriangleRowByRow) {
  PassData p = plain(3, 2, 0);
  p.names = {"MILK", "FAT", "PROTEIN8"};
  // (1,1) (2,1) (2,2) (3,1) (3,2) (3,3); a negative zero prints without sign.
  p.wss = {4.0, 1.0, 9.0, -2.0, -0.0, 2.0};
  pass(p);
  RunResult r = run();
  EXPECT_EQ(r.out, std::string(BANNER) +
                       "         100  RECORDS AND            2  SIRES IN ANALYSIS\n"
                       " \n"
                       " WITHIN SMALLEST SUBCLASS CORRELATIONS AMONG TRAITS\n"
                       "    1  MILK      1.000\n"
                       "    2  FAT       0.167  1.000\n"
                       "    3  PROTEIN8 -0.707  0.000  1.000\n"
                       " \n"
                       " WITHIN SMALLEST SUBCLASS STANDARD DEVIATIONS\n"
                       "    1  MILK             2.000000\n"
                       "    2  FAT              3.000000\n"
                       "    3  PROTEIN8         1.414214\n"
                       "           0  ZELK COEFS READ\n"
                       "DIAGONAL OF ZELK =  0.000000  FOR EQ. NUMBER     1\n"
                       "PROGRAM QUIT\n");
  EXPECT_EQ(r.status, 1);
}

TEST_F(KestaInput, NonPositiveVarianceIsPrintedNotStopped) {
  PassData p = plain(2, 1, 0);
  p.wss = {0.0, 0.0, -1.0};
  pass(p);
  RunResult r = run();
  EXPECT_EQ(r.out, std::string(BANNER) +
                       "         100  RECORDS AND            1  SIRES IN ANALYSIS\n"
                       " \n"
                       " WITHIN SMALLEST SUBCLASS CORRELATIONS AMONG TRAITS\n"
                       "    1  TRAIT1      NaN\n"
                       "    2  TRAIT2      NaN -1.000\n"
                       " \n"
                       " WITHIN SMALLEST SUBCLASS STANDARD DEVIATIONS\n"
                       "    1  TRAIT1           0.000000\n"
                       "    2  TRAIT2                NaN\n"
                       "           0  ZELK COEFS READ\n"
                       "DIAGONAL OF ZELK =  0.000000  FOR EQ. NUMBER     1\n"
                       "PROGRAM QUIT\n");
}

// With up to 25 traits every correlation row stays on its one line.
TEST_F(KestaInput, TwentyFiveTraitsKeepEachCorrelationRowOnOneLine) {
  const int t = 25;
  pass(plain(t, 1, 0));
  RunResult r = run();
  std::string want = std::string(BANNER) +
                     "         100  RECORDS AND            1  SIRES IN ANALYSIS\n"
                     " \n"
                     " WITHIN SMALLEST SUBCLASS CORRELATIONS AMONG TRAITS\n";
  char b[64];
  for (int j = 1; j <= t; ++j) {
    std::snprintf(b, sizeof b, "%5d  %-8s", j, ("TRAIT" + std::to_string(j)).c_str());
    want += b;
    for (int i = 1; i < j; ++i) want += "  0.000";
    want += "  1.000\n";
  }
  want += " \n WITHIN SMALLEST SUBCLASS STANDARD DEVIATIONS\n";
  for (int j = 1; j <= t; ++j) {
    std::snprintf(b, sizeof b, "%5d  %-8s         1.000000\n", j, ("TRAIT" + std::to_string(j)).c_str());
    want += b;
  }
  want += "           0  ZELK COEFS READ\n"
          "DIAGONAL OF ZELK =  0.000000  FOR EQ. NUMBER     1\n"
          "PROGRAM QUIT\n";
  EXPECT_EQ(r.out, want);
  EXPECT_EQ(r.status, 1);
}

// ---- Reference analyses -----------------------------------------------------

// Two traits of a real analysis without zelk.coef: the whole listing.
TEST_F(KestaInput, ReferenceTwoTraitsWithoutZelkCoef) {
  const std::string fx = std::string(FIXTURES_DIR) + "/kesta-input/missing-coef";
  write_file(dir, "pass.dat", read_file(fx, "pass.dat"));
  RunResult r = run();
  EXPECT_EQ(r.out, read_file(fx, "listing"));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 1);
}

// Eight traits, 30 sires, 3 groups: the run goes on past these phases, so
// only the listing up to the inverse of the factor is compared.
TEST_F(KestaInput, ReferenceEightTraitsUpToTheInverseFactor) {
  const std::string fx = std::string(FIXTURES_DIR) + "/kesta-input/eight-traits";
  write_file(dir, "pass.dat", read_file(fx, "pass.dat"));
  write_file(dir, "zelk.coef", read_file(fx, "zelk.coef"));
  RunResult r = run();
  EXPECT_EQ(first_lines(r.out, 28), read_file(fx, "listing-head"));
}

// ---- zelk.coef: count line and diagonal test --------------------------------

struct DiagonalCase {
  const char* name;
  int q;
  bool present;      // zelk.coef exists
  std::string coef;  // its content
  const char* tail;  // the listing after the standard deviations
};
void PrintTo(const DiagonalCase& c, std::ostream* os) { *os << c.name; }

class DiagonalStop : public KestaInput, public ::testing::WithParamInterface<DiagonalCase> {};

TEST_P(DiagonalStop, CountLineThenTheFirstFailingDiagonal) {
  const DiagonalCase& c = GetParam();
  pass(plain(1, c.q, 0));
  if (c.present) coef(c.coef);
  write_file(dir, "sire.pta", "old pta\n");
  RunResult r = run();
  EXPECT_EQ(r.out, one_trait_head(c.q) + c.tail);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 1);
  // zelk.coef is only read (created empty when missing); the output files
  // are created, and one with content keeps it.
  EXPECT_EQ(read_file(dir, "zelk.coef"), c.present ? c.coef : "");
  EXPECT_EQ(read_file(dir, "sire.pta"), "old pta\n");
  for (const char* f : {"sire.rel", "genphen.cor", "genetic.cor", "environment.cor"}) {
    EXPECT_TRUE(file_exists(dir, f)) << f;
    EXPECT_EQ(read_file(dir, f), "") << f;
  }
}

const char* const ZERO_AT_1 =
    "           0  ZELK COEFS READ\n"
    "DIAGONAL OF ZELK =  0.000000  FOR EQ. NUMBER     1\n"
    "PROGRAM QUIT\n";

INSTANTIATE_TEST_SUITE_P(
    KestaInput, DiagonalStop,
    ::testing::Values(
        DiagonalCase{"Missing", 2, false, "", ZERO_AT_1},
        DiagonalCase{"Empty", 2, true, "", ZERO_AT_1},
        DiagonalCase{"JustBelowOne", 2, true, coefs({{1, 1, 1.0}, {2, 2, 0.999999}}),
                     "           2  ZELK COEFS READ\n"
                     "DIAGONAL OF ZELK =  0.999999  FOR EQ. NUMBER     2\n"
                     "PROGRAM QUIT\n"},
        // Repeated pairs are summed; only the first failing equation is named.
        DiagonalCase{"RepeatsSummed", 3, true,
                     coefs({{1, 1, 0.5}, {2, 2, 0.25}, {1, 1, 0.25}, {3, 3, 0.5}}),
                     "           4  ZELK COEFS READ\n"
                     "DIAGONAL OF ZELK =  0.750000  FOR EQ. NUMBER     1\n"
                     "PROGRAM QUIT\n"},
        // The first reading keeps the upper triangle: (2,1) is counted only.
        DiagonalCase{"LowerTriangleCountedOnly", 2, true, coefs({{1, 1, 1.0}, {2, 1, 5.0}, {2, 2, 0.5}}),
                     "           3  ZELK COEFS READ\n"
                     "DIAGONAL OF ZELK =  0.500000  FOR EQ. NUMBER     2\n"
                     "PROGRAM QUIT\n"},
        // Equations above q are counted and passed over.
        DiagonalCase{"AboveNsireCountedOnly", 1, true, coefs({{1, 1, 0.5}, {1, 2, 3.0}, {2, 2, 9.0}}),
                     "           3  ZELK COEFS READ\n"
                     "DIAGONAL OF ZELK =  0.500000  FOR EQ. NUMBER     1\n"
                     "PROGRAM QUIT\n"},
        // Equation numbers below 1 (an empty line reads as 0, 0, 0.0) lie
        // outside the A-inverse: counted and passed over.
        DiagonalCase{"BelowOneCountedOnly", 2, true,
                     "\n" + coefs({{0, 1, 5.0}, {-3, 2, 5.0}, {1, 1, 2.0}, {0, 0, 9.0}, {2, 2, 0.5}}),
                     "           6  ZELK COEFS READ\n"
                     "DIAGONAL OF ZELK =  0.500000  FOR EQ. NUMBER     2\n"
                     "PROGRAM QUIT\n"},
        // The coefficient is single precision: 0.9999999 rounds to the float
        // below 1.0, which prints as 1.000000 and still fails.
        DiagonalCase{"SinglePrecisionBelowOne", 1, true, "    1    1 0.9999999\n",
                     "           1  ZELK COEFS READ\n"
                     "DIAGONAL OF ZELK =  1.000000  FOR EQ. NUMBER     1\n"
                     "PROGRAM QUIT\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KestaInput, BadCharacterInZelkCoefIsCondition64AfterTheReport) {
  pass(plain(1, 1, 0));
  coef("    1    1  1.000000\n    1    1  x\n");
  RunResult r = run();
  EXPECT_EQ(r.out, one_trait_head(1));
  EXPECT_EQ(r.err, "kesta: severe (64): input conversion error, unit 11, file " + path("zelk.coef") + "\n");
  EXPECT_EQ(r.status, 64);
}

// ---- A-inverse: factor and inverse, run stopped in the sire matrix ---------

// The two-sire example: (1,1,1.5) (1,2,-0.5) (2,1,-0.5) (2,2,1.5) (1,1,0.5).
const std::vector<Coef> EXAMPLE = {{1, 1, 1.5}, {1, 2, -0.5}, {2, 1, -0.5}, {2, 2, 1.5}, {1, 1, 0.5}};

TEST_F(KestaInput, AinverseExampleListingUpToAShortColumnOfW) {
  PassData p = plain(1, 2, 0);
  std::string f = pass_bytes(p);
  // Records 1-6 as they stand, then a whole first column of W and a second
  // one a value short.
  const size_t rec6_end = f.size() - 2 * (8 + 16) - (8 + 16) - 8 - (8 + 4);
  pass(f.substr(0, rec6_end) + binrec(raw(p.W.data(), 2)) + binrec(raw(p.W.data() + 2, 1)));
  coef(coefs(EXAMPLE));
  RunResult r = run();
  EXPECT_EQ(r.out, one_trait_head(2) + "           5  ZELK COEFS READ\n" + AINV_DONE);
  EXPECT_EQ(r.err, "kesta: severe (67): input statement requires too much data, unit 10, file " +
                       path("pass.dat") + "\n");
  EXPECT_EQ(r.status, 67);
}

// A diagonal of exactly 1.0 passes; the run goes on past these phases, so
// only its first lines are compared.
TEST_F(KestaInput, DiagonalOfExactlyOnePasses) {
  pass(plain(1, 3, 0));
  coef(unit_coefs(3));
  RunResult r = run();
  const std::string want = one_trait_head(3) + "           3  ZELK COEFS READ\n" + AINV_DONE;
  EXPECT_EQ(first_lines(r.out, 14), want);
}

// ---- pass.dat: missing and short records ------------------------------------

TEST_F(KestaInput, MissingPassDatIsCondition24AfterTheBanner) {
  RunResult r = run();
  EXPECT_EQ(r.out, BANNER);
  EXPECT_EQ(r.err, "kesta: severe (24): end-of-file during read, unit 10, file " + path("pass.dat") + "\n");
  EXPECT_EQ(r.status, 24);
  EXPECT_TRUE(file_exists(dir, "pass.dat"));
  EXPECT_EQ(read_file(dir, "pass.dat"), "");
}

struct ShortCase {
  const char* name;
  int record;  // the record given one value (or byte) too few
};
void PrintTo(const ShortCase& c, std::ostream* os) { *os << c.name; }

class ShortRecord : public KestaInput, public ::testing::WithParamInterface<ShortCase> {};

// Records 1 to 6 are read before the counts line: a short one stops the run
// right after the banner.
TEST_P(ShortRecord, IsCondition67BeforeTheCountsLine) {
  PassData p = plain(2, 3, 1);
  int32_t t = 2, q = 3, g = 1;
  std::string f;
  auto rec = [&](int k, const std::string& data) {
    f += binrec(GetParam().record == k ? data.substr(0, data.size() - (k <= 3 ? 4 : 8)) : data);
  };
  rec(1, raw(&t, 1));
  rec(2, raw(&q, 1));
  rec(3, raw(&g, 1));
  rec(4, "MILK    FAT     ");
  rec(5, raw(p.rhs.data(), p.rhs.size()));
  rec(6, raw(p.wss.data(), 3) + raw(p.ymy.data(), 3) + raw(&p.nfixlv, 1) + raw(&p.nrec, 1) +
             raw(&p.ndfded, 1));
  pass(f);
  RunResult r = run();
  EXPECT_EQ(r.out, BANNER);
  EXPECT_EQ(r.err, "kesta: severe (67): input statement requires too much data, unit 10, file " +
                       path("pass.dat") + "\n");
  EXPECT_EQ(r.status, 67);
}

INSTANTIATE_TEST_SUITE_P(KestaInput, ShortRecord,
                         ::testing::Values(ShortCase{"Ntrait", 1}, ShortCase{"Nsire", 2},
                                           ShortCase{"Ngroup", 3}, ShortCase{"Tname", 4},
                                           ShortCase{"Sirrhs", 5}, ShortCase{"Counts6", 6}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(KestaInput, ShortSireGroupRecordIsCondition67AfterTheAinverse) {
  PassData p = plain(1, 2, 0);
  p.gr.pop_back();
  pass(p);
  coef(unit_coefs(2));
  RunResult r = run();
  EXPECT_EQ(r.out, one_trait_head(2) + "           2  ZELK COEFS READ\n" + AINV_DONE);
  EXPECT_EQ(r.status, 67);
}

// ---- Sizing ---------------------------------------------------------------

TEST_F(KestaInput, ArraySizeOverflowIsCondition179) {
  pass(counts_only(1, 1, 2147483647));
  RunResult r = run();
  EXPECT_EQ(r.out, BANNER);
  EXPECT_EQ(r.err, "kesta: severe (179): Cannot allocate array - overflow on array size calculation.\n");
  EXPECT_EQ(r.status, 179);
}

TEST_F(KestaInput, ImpossibleArrayIsCondition41) {
  // GRPMAT: 1.1e9 squared doubles fit 64 bits but no address space.
  pass(counts_only(1, 1, 1100000000));
  RunResult r = run();
  EXPECT_EQ(r.out, BANNER);
  EXPECT_EQ(r.err, "kesta: severe (41): insufficient virtual memory\n");
  EXPECT_EQ(r.status, 41);
}

TEST(KestaSizing, ThirtySevenArraysFromTheCounts) {
  Model m;
  m.NTRAIT = 3, m.NSIRE = 7, m.NGROUP = 2;
  size_model(m);
  EXPECT_EQ(m.NTRH, 6);
  EXPECT_EQ(m.NSIRH, 28);
  EXPECT_EQ(m.NGRP1, 3);
  const size_t q = 7, t = 3, g = 2;
  // Two q x q arrays and no more.
  EXPECT_EQ(m.LINVA.size(), q * q);
  EXPECT_EQ(m.SIRMAT.size(), q * q);
  EXPECT_EQ(m.SIRVEC.size(), q);
  EXPECT_EQ(m.SIREIG.size(), q);
  EXPECT_EQ(m.RINVPK.size(), 28u);
  for (auto* a : {&m.SIRRHS, &m.RHSWRK, &m.SOLCAN, &m.RELIAB}) EXPECT_EQ(a->size(), q * t);
  for (auto* a : {&m.RESCOV, &m.SIRCOV, &m.WRKT1, &m.PHECOV, &m.TRANSF, &m.TRANSK, &m.LRINV, &m.WRKT2})
    EXPECT_EQ(a->size(), t * t);
  for (auto* a : {&m.RATIOS, &m.WRKV1, &m.WRKV2, &m.TRACE2, &m.TRACE1}) EXPECT_EQ(a->size(), t);
  for (auto* a : {&m.RESPK, &m.UUPK, &m.YMYPK, &m.WSSPK}) EXPECT_EQ(a->size(), 6u);
  for (auto* a : {&m.GRPRHS, &m.GRPSOL}) EXPECT_EQ(a->size(), g * t);
  EXPECT_EQ(m.GRPEFN.size(), g);
  for (auto* a : {&m.SIRGRP, &m.NHINV}) EXPECT_EQ(a->size(), q * g);
  EXPECT_EQ(m.GRPMAT.size(), g * g);
  EXPECT_EQ(m.SIREID.size(), q);
  EXPECT_EQ(m.SIREGR.size(), q);
  EXPECT_EQ(m.TRNUM.size(), t);
  EXPECT_EQ(m.TNAME.size(), 8 * t);
  EXPECT_EQ(m.CELL12.size(), 12 * t);
}

TEST(KestaSizing, SirvecHoldsTheTraitSumsWhenTraitsOutnumberSires) {
  Model m;
  m.NTRAIT = 5, m.NSIRE = 2, m.NGROUP = 0;
  size_model(m);
  EXPECT_EQ(m.SIRVEC.size(), 5u);
  EXPECT_EQ(m.SIREIG.size(), 2u);
  EXPECT_TRUE(m.GRPMAT.empty());
  EXPECT_TRUE(m.SIRGRP.empty());
}

// ---- Refusals of impossible input -------------------------------------------

struct RefusalCase {
  const char* name;
  std::string pass;      // pass.dat
  std::string coef;      // zelk.coef
  std::string listing;   // the whole listing
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class Refusal : public KestaInput, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusal, OneLineOfItsOwnThenTheFatalStop) {
  pass(GetParam().pass);
  coef(GetParam().coef);
  RunResult r = run();
  EXPECT_EQ(r.out, GetParam().listing);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 1);
}

PassData with_df(int32_t nrec, int32_t nfixlv, int32_t g, int32_t ndfded) {
  PassData p = plain(1, 1, g);
  p.nrec = nrec, p.nfixlv = nfixlv, p.ndfded = ndfded;
  return p;
}

std::string counts_head(const char* nrec) {
  return std::string(BANNER) + nrec + "  RECORDS AND            1  SIRES IN ANALYSIS\n \n";
}

PassData group_zero_at_2() {
  PassData p = plain(1, 2, 0);
  p.gr = {1, 0};
  return p;
}

INSTANTIATE_TEST_SUITE_P(
    KestaInput, Refusal,
    ::testing::Values(
        RefusalCase{"NoTraits", counts_only(0, 1, 0), "",
                    std::string(BANNER) + "0NUMBER OF TRAITS MUST BE 1 TO 25, NTRAIT =           0\n"},
        RefusalCase{"NegativeTraits", counts_only(-1, 1, 0), "",
                    std::string(BANNER) + "0NUMBER OF TRAITS MUST BE 1 TO 25, NTRAIT =          -1\n"},
        RefusalCase{"TwentySixTraits", counts_only(26, 1, 0), "",
                    std::string(BANNER) + "0NUMBER OF TRAITS MUST BE 1 TO 25, NTRAIT =          26\n"},
        RefusalCase{"NoSires", counts_only(1, 0, 0), "",
                    std::string(BANNER) + "0NUMBER OF SIRES MUST BE 1 TO 46340, NSIRE =           0\n"},
        RefusalCase{"TooManySires", counts_only(1, 46341, 0), "",
                    std::string(BANNER) + "0NUMBER OF SIRES MUST BE 1 TO 46340, NSIRE =       46341\n"},
        RefusalCase{"NegativeGroups", counts_only(1, 1, -1), "",
                    std::string(BANNER) + "0NUMBER OF GROUPS MUST NOT BE NEGATIVE, NGROUP =          -1\n"},
        // NREC - NFIXLV - NGROUP = 0.
        RefusalCase{"ZeroResidualDf", pass_bytes(with_df(10, 5, 5, 0)), "",
                    counts_head("          10") +
                        "0RESIDUAL DEGREES OF FREEDOM NREC - NFIXLV - NGROUP MUST BE 1 TO 2147483647,"
                        " NREC, NFIXLV, NGROUP =          10           5           5\n"},
        // In 32 bits this difference would wrap round to 1.
        RefusalCase{"WrappingResidualDf", pass_bytes(with_df(-2147483647 - 1, 2147483647, 0, 0)), "",
                    counts_head(" -2147483648") +
                        "0RESIDUAL DEGREES OF FREEDOM NREC - NFIXLV - NGROUP MUST BE 1 TO 2147483647,"
                        " NREC, NFIXLV, NGROUP = -2147483648  2147483647           0\n"},
        RefusalCase{"OverflowingErrorDf", pass_bytes(with_df(2147483647, 0, 0, -1)), "",
                    counts_head("  2147483647") +
                        "0DEGREES OF FREEDOM NREC - NDFDED MUST FIT 32 BITS, NREC, NDFDED =  2147483647"
                        "          -1\n"},
        // Read with record 7+q, after the A-inverse.
        RefusalCase{"GroupNumberBelowOne", pass_bytes(group_zero_at_2()), unit_coefs(2),
                    one_trait_head(2) + "           2  ZELK COEFS READ\n" + AINV_DONE +
                        "0GROUP NUMBER BELOW 1 FOR SIRE     2, SIREGR =           0\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// A residual df of 1 and an error df of 0 or below are valid input.
TEST_F(KestaInput, SmallestResidualDfIsAccepted) {
  pass(with_df(10, 5, 4, 10));
  RunResult r = run();
  EXPECT_EQ(first_lines(r.out, 5), counts_head("          10") + " WITHIN SMALLEST SUBCLASS CORRELATIONS AMONG TRAITS\n");
}

// ---- Phases called directly, in a child process -----------------------------

// Runs body in a forked child whose working directory is dir and whose
// listing goes to dir/listing; body ends the child with RUNEND (success,
// status 0), RUNSTOP, or a status of its own on a failed check.
template <class F>
void in_child(const std::string& dir, F body, int status) {
  EXPECT_EXIT(
      {
        if (chdir(dir.c_str()) != 0) _exit(90);
        int fd = ::open("listing", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        RUNSTART("kesta");
        body();
        _exit(91);
      },
      ::testing::ExitedWithCode(status), "");
}

#define CHILD_CHECK(cond) \
  if (!(cond)) _exit(100 + __LINE__ % 100)

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct ReadingCase {
  const char* name;
  std::string coef;
  const char* count_line;
};
void PrintTo(const ReadingCase& c, std::ostream* os) { *os << c.name; }

class AinverseReadings : public KestaInput, public ::testing::WithParamInterface<ReadingCase> {};

// The first reading keeps the upper triangle (2.0, -0.5, 1.5), factorised
// into U and turned into L^-1 in SIRMAT; the second keeps the lower
// triangle (2.0, -0.5, 1.5) in RINVPK.
TEST_P(AinverseReadings, UpperThenLowerTriangle) {
  coef(GetParam().coef);
  in_child(
      dir,
      [] {
        Model m;
        m.NTRAIT = 1, m.NSIRE = 2, m.NGROUP = 0;
        size_model(m);
        FILOPN("zelk.coef", ZCOEF, TEXTFILE);
        ainverse_first(m);
        const double u11 = std::sqrt(2.0), u12 = -0.5 / u11, u22 = std::sqrt(1.5 - u12 * u12);
        // L^-1 of L = U', as the elimination forms it, with an exactly zero
        // upper triangle; U itself is not kept.
        M Li = mat(m.SIRMAT, 2);
        const double r1 = 1.0 / u11, r2 = 1.0 / u22;
        CHILD_CHECK(same_bits(Li(1, 2), 0.0) && same_bits(Li(1, 1), r1) && same_bits(Li(2, 2), r2));
        CHILD_CHECK(same_bits(Li(2, 1), -((u12 * r1) * r2)));
        CHILD_CHECK(m.RINVPK[0] == 0.0 && m.RINVPK[1] == 0.0 && m.RINVPK[2] == 0.0);
        ainverse_second(m);
        CHILD_CHECK(m.RINVPK[0] == 2.0 && m.RINVPK[1] == -0.5 && m.RINVPK[2] == 1.5);
        RUNEND();
      },
      0);
  EXPECT_EQ(read_file(dir, "listing"), std::string(GetParam().count_line) + AINV_DONE);
}

INSTANTIATE_TEST_SUITE_P(
    KestaInput, AinverseReadings,
    ::testing::Values(
        ReadingCase{"Example", coefs(EXAMPLE), "           5  ZELK COEFS READ\n"},
        // (2,0) would land on (1,1) in the lower packing, (0,2) before the
        // start of the upper one; equation 3 lies above q.
        ReadingCase{"BelowOneAndAboveNsirePassedOver",
                    coefs({{2, 0, 7.0}, {1, 1, 1.5}, {0, 2, 7.0}, {1, 2, -0.5}, {3, 1, 4.0}, {2, 1, -0.5},
                           {1, 3, 4.0}, {2, 2, 1.5}, {0, 0, 7.0}, {1, 1, 0.5}}),
                    "          10  ZELK COEFS READ\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// The whole first reading of pass.dat and the second reading of the final
// pass: W reaches SIRMAT while L^-1 moves into LINVA, the group records
// fill their arrays, and reading again restores what the phases overwrite.
TEST_F(KestaInput, SecondReadingRestoresTheFileAndKeepsLinva) {
  PassData p = plain(2, 3, 1);
  p.names = {"MILK", "FAT"};
  for (size_t k = 0; k < p.rhs.size(); ++k) p.rhs[k] = 0.5 + (double)k;
  p.wss = {4.0, 1.0, 9.0};
  p.ymy = {40.0, 10.0, 90.0};
  for (size_t k = 0; k < p.W.size(); ++k) p.W[k] = 1.0 / (3.0 + (double)k);
  p.gr = {1, 2, 7};  // above NGROUP+1 is valid
  p.N = {0.25, 0.5, 0.75};
  p.H = {3.0};
  p.grhs = {5.5, 6.5};
  p.baseen = 2.25f;
  std::string bytes = pass_bytes(p) + binrec("records after 9+q are never read");
  pass(bytes);
  coef(coefs({{1, 1, 2.0}, {1, 2, -0.5}, {2, 2, 1.5}, {2, 3, 0.25}, {3, 3, 1.0}}));
  in_child(
      dir,
      [&p] {
        Model m;
        FILOPN("pass.dat", PASS, BINFILE);
        FILOPN("zelk.coef", ZCOEF, TEXTFILE);
        read_counts(m);
        size_model(m);
        read_trait_data(m);
        starting_values(m);
        ainverse_first(m);
        const auto Linv = m.SIRMAT;
        read_sire_matrix(m);
        CHILD_CHECK(m.LINVA == Linv && m.SIRMAT == p.W);
        CHILD_CHECK(m.SIREID == p.id && m.SIREGR == p.gr && m.SIRGRP == p.N && m.GRPMAT == p.H);
        CHILD_CHECK(m.GRPRHS == p.grhs && m.BASEEN == 2.25f);
        CHILD_CHECK(m.NFIXLV == 1 && m.NREC == 100 && m.NDFDED == 1);
        // Starting values: R = WSS, S = WSS / 9, RHSWRK = SIRRHS.
        CHILD_CHECK(m.RESCOV == std::vector<double>({4.0, 1.0, 1.0, 9.0}));
        CHILD_CHECK(m.SIRCOV == std::vector<double>({4.0 / 9.0, 1.0 / 9.0, 1.0 / 9.0, 1.0}));
        CHILD_CHECK(m.RHSWRK == p.rhs);

        // What the later phases overwrite.
        for (auto* a : {&m.SIRMAT, &m.SIRRHS, &m.WSSPK, &m.YMYPK}) a->assign(a->size(), -1.0);
        m.TNAME.assign(m.TNAME.size(), '?');
        m.NFIXLV = m.NREC = m.NDFDED = -9;
        reread_input(m);
        CHILD_CHECK(m.NTRAIT == 2 && m.NSIRE == 3 && m.NGROUP == 1);
        CHILD_CHECK(m.NTRH == 3 && m.NSIRH == 6 && m.NGRP1 == 2);
        CHILD_CHECK(m.SIRMAT == p.W && m.LINVA == Linv && m.SIRRHS == p.rhs);
        CHILD_CHECK(m.WSSPK == p.wss && m.YMYPK == p.ymy);
        CHILD_CHECK(std::string(m.TNAME.begin(), m.TNAME.end()) == "MILK    FAT     ");
        CHILD_CHECK(m.NFIXLV == 1 && m.NREC == 100 && m.NDFDED == 1);
        RUNEND();
      },
      0);
}

// The arrays are shaped by the first counts: a pass.dat whose counts change
// during the run is refused in the final pass.
TEST_F(KestaInput, CountsChangedBeforeTheFinalPassAreRefused) {
  pass(plain(1, 2, 0));
  coef(unit_coefs(2));
  const std::string changed = pass_bytes(plain(1, 3, 0));
  const std::string d = dir;
  in_child(
      dir,
      [&] {
        Model m;
        FILOPN("pass.dat", PASS, BINFILE);
        FILOPN("zelk.coef", ZCOEF, TEXTFILE);
        read_counts(m);
        size_model(m);
        read_trait_data(m);
        starting_values(m);
        ainverse_first(m);
        read_sire_matrix(m);
        write_file(".", "pass.dat", changed);  // the same file, rewritten in place
        reread_input(m);
        _exit(92);
      },
      1);
  EXPECT_EQ(read_file(dir, "listing"),
            one_trait_head(2).substr(std::strlen(BANNER)) +
                "           2  ZELK COEFS READ\n" + AINV_DONE +
                "0COUNTS OF PASS.DAT CHANGED DURING THE RUN, NTRAIT, NSIRE, NGROUP =           1           3"
                "           0\n");
}

}  // namespace

// Clearing an array gives every element +0, at its page-aligned middle and
// at both unaligned ends alike, and the array can be written again after.
TEST(ClearArray, EveryElementBecomesPositiveZeroAndStaysWritable) {
  for (size_t n : {size_t(1), size_t(7), size_t(513), size_t(20000)}) {
    Array<double> a(n);
    for (int round = 0; round < 2; ++round) {
      for (size_t i = 0; i < n; ++i) a[i] = i % 2 ? -0.0 : -1.5 - round;
      clear_array(a);
      ASSERT_EQ(a.size(), n);
      for (size_t i = 0; i < n; ++i) ASSERT_TRUE(a[i] == 0.0 && !std::signbit(a[i])) << "n " << n << " element " << i;
    }
  }
}
