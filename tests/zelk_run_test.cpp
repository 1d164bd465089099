// Whole runs of zelk in a temporary directory: pedigree.dat in; zelk.coef,
// sire.list, the listing, the condition report and the exit status compared
// in full with the text that zelk must write.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/run.h"
#include "zelk_expect.h"

namespace {
using namespace zelkexp;

struct Zrun {
  int status;
  std::string out, err, coef, list, dir;
};

// The condition report from the word "severe" on, the directory as <dir>.
std::string severe(const std::string& err, const std::string& dir) {
  auto p = err.find("severe");
  if (p == std::string::npos) return err;
  std::string s = err.substr(p);
  if (!s.empty() && s.back() == '\n') s.pop_back();
  for (size_t q; (q = s.find(dir)) != std::string::npos;) s.replace(q, dir.size(), "<dir>");
  return s;
}

Zrun run(const std::string& pedigree, const std::map<std::string, std::string>& before = {}) {
  Zrun z;
  z.dir = make_tempdir();
  write_file(z.dir, "pedigree.dat", pedigree);
  for (const auto& [name, text] : before) write_file(z.dir, name, text);
  RunResult r = run_in(z.dir, ZELK_BIN);
  z.status = r.status;
  z.out = r.out;
  z.err = severe(r.err, z.dir);
  z.coef = read_file(z.dir, "zelk.coef");
  z.list = read_file(z.dir, "sire.list");
  std::filesystem::remove_all(z.dir);
  return z;
}

// The three bulls of the worked example.
const char THREE[] = "101 0 0 0 A 1990\n205 101 0 0 A 1995\n310 205 101 0 A 2000\n";

std::string three_out() {
  return std::string(FEMALE) + grpline(1, 100000001, 4) + yrline(1990, 1) + yrline(1995, 1) + yrline(2000, 1) +
         MALE + grpline(2, 200000001, 5) + summary(3, 101, 310, 2);
}
std::string three_coef() { return coef({1, 5, 5, 5, 4}, 1000) + coef({2, 1, 5, 5, 4}, 1100) + coef({3, 2, 1, 5, 4}, 1110); }
std::string three_list() {
  return bull(1000, 1990, 1, 101, 200000001, 200000001, 200000001) +
         bull(1100, 1995, 1, 205, 101, 200000001, 200000001) + bull(1110, 2000, 1, 310, 205, 101, 200000001) +
         group(1, 100000001) + group(2, 200000001);
}

TEST(ZelkRun, ThreeBullWorkedExample) {
  Zrun z = run(THREE);
  EXPECT_EQ(z.status, 0);
  EXPECT_EQ(z.err, "");
  EXPECT_EQ(z.out,
            "0GROUPS FOR UNKNOWN FEMALES\n"
            "0GROUP  1    GROUP CODE= 100000001     GROUP INDEX=         4\n"
            "          YEAR  1990    NUMBER OF BULLS=    1.000000\n"
            "          YEAR  1995    NUMBER OF BULLS=    1.000000\n"
            "          YEAR  2000    NUMBER OF BULLS=    1.000000\n"
            "0GROUPS FOR UNKNOWN MALE ANCESTORS\n"
            "0GROUP  2    GROUP CODE= 200000001     GROUP INDEX=         5\n"
            " \n"
            "           3  BULLS IN ORIGINAL FILE\n"
            " \n"
            "           0  BULLS WERE ADDED AS ANCESTORS OF BULLS WITH DATA\n"
            " \n"
            "           3  TOTAL NUMBER OF BULLS (NNS)\n"
            " \n"
            " FIRST BULL ID IN LIST WAS          101\n"
            " LAST  BULL ID IN LIST WAS          310\n"
            " \n"
            "           2  GROUPS FORMED (NG)\n"
            " \n"
            "          75  A-INVERSE COEFFICIENTS WERE OUTPUT\n"
            " \n"
            " RELATIONSHIPS TRACED THRU SIRE, MGS, AND MGGS (NPED = 4)\n"
            "0ZELK CONTAINS COEFFICIENTS FOR UNKNOWN ANCESTOR GROUPS\n"
            " (GRPTYP=2)\n"
            " \n"
            " Program zelk completed normally\n");
  EXPECT_EQ(z.out, three_out());
  EXPECT_EQ(z.list,
            " 1000 1990    1       101 200000001 200000001 200000001\n"
            " 1100 1995    1       205       101 200000001 200000001\n"
            " 1110 2000    1       310       205       101 200000001\n"
            "    0    0    1 100000001 100000001 100000001 100000001\n"
            "    0    0    2 200000001 200000001 200000001 200000001\n");
  EXPECT_EQ(z.coef, three_coef());
  // Where each bull's 25 lines begin, and the lines of the sire and the group.
  const std::string lines[3][3] = {
      {"    1    1  1.000000", "    1    5 -0.500000", "    1    5 -0.250000"},
      {"    2    2  1.333333", "    2    1 -0.666667", "    2    5 -0.333333"},
      {"    3    3  1.454545", "    3    2 -0.727273", "    3    1 -0.363636"}};
  for (int b = 0; b < 3; ++b)
    for (int l = 0; l < 3; ++l) EXPECT_EQ(z.coef.substr((25 * b + l) * 21, 21), lines[b][l] + "\n");
  EXPECT_EQ(z.coef.substr(5 * 21, 7 * 21),
            "    5    1 -0.500000\n    5    5  0.250000\n    5    5  0.125000\n    5    5  0.062500\n"
            "    5    4  0.062500\n    5    1 -0.250000\n    5    5  0.125000\n");
  EXPECT_EQ(z.coef.substr(23 * 21, 2 * 21), "    4    5  0.015625\n    4    4  0.015625\n");
}

TEST(ZelkRun, AllAncestorsUnknownWritesEveryRepeatedPair) {
  Zrun z = run("101 0 0 0 A 1990\n");
  ASSERT_EQ(z.status, 0);
  // Bull 1, male group 3, female group 2: every pair written separately.
  std::map<std::string, int> pairs;
  for (size_t p = 0; p + 21 <= z.coef.size(); p += 21) ++pairs[z.coef.substr(p, 10)];
  EXPECT_EQ(pairs["    3    3"], 9);
  EXPECT_EQ(pairs["    1    3"], 3);
  EXPECT_EQ(pairs["    3    1"], 3);
  EXPECT_EQ(pairs["    3    2"], 3);
  EXPECT_EQ(pairs["    1    1"], 1);
  EXPECT_EQ(z.coef, coef({1, 3, 3, 3, 2}, 1000));
  EXPECT_EQ(z.list, bull(1000, 1990, 1, 101, 200000001, 200000001, 200000001) + group(1, 100000001) +
                        group(2, 200000001));
}

// ---- The same pedigree in other free-format spellings ------------------------

struct Spelling {
  const char* name;
  const char* text;
};
const Spelling SPELLINGS[] = {
    {"commas", "101,0,0,0,A,1990\n205,101,0,0,A,1995\n310,205,101,0,A,2000\n"},
    {"commas with blanks", "101 , 0 ,0, 0,A ,1990\n205\t,101,0,0,A,1995\n310,205,101,0,A,2000\n"},
    {"tabs", "101\t0\t0\t0\tA\t1990\n205\t101\t0\t0\tA\t1995\n310\t205\t101\t0\tA\t2000\n"},
    {"quotes", "101 0 0 0 'A' 1990\n205 101 0 0 \"B C\" 1995\n310 205 101 0 'it''s' 2000\n"},
    {"a quoted text over a line end", "101 0 0 0 'A\nB' 1990\n205 101 0 0 A 1995\n310 205 101 0 A 2000\n"},
    {"records over two lines", "101 0 0\n0 A 1990\n205\n101 0 0 A\n1995\n310 205 101 0 A 2000\n"},
    {"CR LF", "101 0 0 0 A 1990\r\n205 101 0 0 A 1995\r\n310 205 101 0 A 2000\r\n"},
    {"no LF after the last line", "101 0 0 0 A 1990\n205 101 0 0 A 1995\n310 205 101 0 A 2000"},
    {"text after the last value", "101 0 0 0 A 1990 extra\n205 101 0 0 AB 1995 7 8 9\n310 205 101 0 A 2000 /\n"},
    {"blank lines between records", "\n101 0 0 0 A 1990\n\n   \n205 101 0 0 A 1995\n\t\n310 205 101 0 A 2000\n\n"},
    {"repeat counts", "101 3*0 A 1990\n205 101 2*0 A 1995\n310 205 101 0 A 2000\n"},
    {"numbers with a point", "101.0 0 0 0 A 1990.7\n205 101 0 0 A 1995.\n310 205 101 0 A 2.0e3\n"},
    {"a record ended by a slash", "101 0 0 0 A 1990\n205 101 0 0 A 1995 /\n310 205 101 0 A 2000\n"},
    // Null values in the first records read as zeros in both passes.
    {"null values in the first records", "101,,,,A,1990\n205,101,,,A,1995\n310 205 101 0 A 2000\n"},
    {"null values as repeat", "101 3* A 1990\n205,101,2*,A,1995\n310 205 101 0 A 2000\n"},
};

TEST(ZelkRun, FreeFormatSpellingsReadAlike) {
  for (const Spelling& s : SPELLINGS) {
    SCOPED_TRACE(s.name);
    Zrun z = run(s.text);
    EXPECT_EQ(z.status, 0);
    EXPECT_EQ(z.err, "");
    EXPECT_EQ(z.out, three_out());
    EXPECT_EQ(z.coef, three_coef());
    EXPECT_EQ(z.list, three_list());
  }
}

TEST(ZelkRun, SlashKeepsThePreviousRecordsValuesInBothPasses) {
  // Bull 205 keeps MGS, MGGS and YEAR of bull 101.
  Zrun z = run("101 0 0 0 A 1990\n205 101 /\n310 205 101 0 A 2000\n");
  EXPECT_EQ(z.status, 0);
  EXPECT_EQ(z.out, std::string(FEMALE) + grpline(1, 100000001, 4) + yrline(1990, 2) + yrline(2000, 1) + MALE +
                       grpline(2, 200000001, 5) + summary(3, 101, 310, 2));
  EXPECT_EQ(z.coef, three_coef());
  EXPECT_EQ(z.list, bull(1000, 1990, 1, 101, 200000001, 200000001, 200000001) +
                        bull(1100, 1990, 1, 205, 101, 200000001, 200000001) +
                        bull(1110, 2000, 1, 310, 205, 101, 200000001) + group(1, 100000001) + group(2, 200000001));
}

TEST(ZelkRun, LastRecordCutShortIsNotCounted) {
  Zrun z = run("101 0 0 0 A 1990\n205 101 0 0 A 1995\n310 205 101");
  EXPECT_EQ(z.status, 0);
  EXPECT_EQ(z.out, std::string(FEMALE) + grpline(1, 100000001, 3) + yrline(1990, 1) + yrline(1995, 1) + MALE +
                       grpline(2, 200000001, 4) + summary(2, 101, 205, 2));
  EXPECT_EQ(z.coef, coef({1, 4, 4, 4, 3}, 1000) + coef({2, 1, 4, 4, 3}, 1100));
}

TEST(ZelkRun, MalformedValueIsCondition59) {
  Zrun z = run("101 0 0 0 A 1990\n205 101 0 0 A 19x5\n", {{"zelk.coef", "old\n"}});
  EXPECT_EQ(z.status, 59);
  EXPECT_EQ(z.err, "severe (59): list-directed I/O syntax error, unit 10, file <dir>/pedigree.dat");
  EXPECT_EQ(z.out, "");
  EXPECT_EQ(z.coef, "old\n");
}

// ---- Ancestors -----------------------------------------------------------------

TEST(ZelkRun, AncestorListedAfterTheBullIsFound) {
  // NNS 2: female group equation 3, male group equation 4.
  Zrun z = run("101 205 0 0 A 1990\n205 0 0 0 A 1985\n");
  EXPECT_EQ(z.status, 0);
  EXPECT_EQ(z.coef, coef({1, 2, 4, 4, 3}, 1100) + coef({2, 4, 4, 4, 3}, 1000));
  EXPECT_EQ(z.list, bull(1100, 1990, 1, 101, 205, 200000001, 200000001) +
                        bull(1000, 1985, 1, 205, 200000001, 200000001, 200000001) + group(1, 100000001) +
                        group(2, 200000001));
}

TEST(ZelkRun, AncestorNotInTheFileStandsForTheMaleGroup) {
  Zrun z = run("101 0 0 0 A 1990\n205 999 101 100 A 1995\n310 205 150 101 A 2000\n");
  EXPECT_EQ(z.status, 0);
  EXPECT_EQ(z.coef, coef({1, 5, 5, 5, 4}, 1000) + coef({2, 5, 1, 5, 4}, 1010) + coef({3, 2, 5, 1, 4}, 1101));
  EXPECT_EQ(z.list, bull(1000, 1990, 1, 101, 200000001, 200000001, 200000001) +
                        bull(1010, 1995, 1, 205, 200000001, 101, 200000001) +
                        bull(1101, 2000, 1, 310, 205, 200000001, 101) + group(1, 100000001) + group(2, 200000001));
  EXPECT_EQ(z.out, three_out());
}

TEST(ZelkRun, EveryPedigreeCodeSelectsItsBlock) {
  // Bulls 1..3 known; bulls 4..11 take each combination of known ancestors
  // (an unknown one as 0 or as an ID that is no bull of the file).
  Zrun z = run(
      "10 0 0 0 A 1990\n20 0 0 0 A 1990\n30 0 0 0 A 1990\n"
      "41 0 0 0 A 2000\n42 0 0 30 A 2000\n43 0 20 0 A 2000\n44 15 20 30 A 2000\n"
      "45 10 0 0 A 2000\n46 10 25 30 A 2000\n47 10 20 0 A 2000\n48 10 20 30 A 2000\n");
  ASSERT_EQ(z.status, 0);
  // NNS 11: K1 = 1, T = 5.5; 1990 closes group 1 only when A = 3 > T: no.
  const int32_t M = 13, F = 12, U = 200000001;
  std::string want = coef({1, M, M, M, F}, 1000) + coef({2, M, M, M, F}, 1000) + coef({3, M, M, M, F}, 1000) +
                     coef({4, M, M, M, F}, 1000) + coef({5, M, M, 3, F}, 1001) + coef({6, M, 2, M, F}, 1010) +
                     coef({7, M, 2, 3, F}, 1011) + coef({8, 1, M, M, F}, 1100) + coef({9, 1, M, 3, F}, 1101) +
                     coef({10, 1, 2, M, F}, 1110) + coef({11, 1, 2, 3, F}, 1111);
  EXPECT_EQ(z.coef, want);
  EXPECT_EQ(z.list.substr(3 * 56),
            bull(1000, 2000, 1, 41, U, U, U) + bull(1001, 2000, 1, 42, U, U, 30) + bull(1010, 2000, 1, 43, U, 20, U) +
                bull(1011, 2000, 1, 44, U, 20, 30) + bull(1100, 2000, 1, 45, 10, U, U) +
                bull(1101, 2000, 1, 46, 10, U, 30) + bull(1110, 2000, 1, 47, 10, 20, U) +
                bull(1111, 2000, 1, 48, 10, 20, 30) + group(1, 100000001) + group(2, 200000001));
}

// ---- Groups --------------------------------------------------------------------

std::string bulls_by_year(const std::vector<std::pair<int, int>>& years) {
  std::string s;
  int id = 1000;
  for (auto [year, n] : years)
    for (int k = 0; k < n; ++k) s += std::to_string(++id) + " 0 0 0 A " + std::to_string(year) + "\n";
  return s;
}

TEST(ZelkRun, GroupsSplitWhenTotalAndRestExceedTheTarget) {
  // 30 bulls: K1 = 2, target 10. At 2000 the total 12 and the rest 18 exceed
  // it: a second group begins with 2001; at 2001 the rest 10 does not.
  Zrun z = run(bulls_by_year({{2000, 12}, {2001, 8}, {2002, 10}}));
  ASSERT_EQ(z.status, 0);
  EXPECT_EQ(z.out, std::string(FEMALE) + grpline(1, 100000001, 31) + yrline(2000, 12) +
                       grpline(2, 100000002, 32) + yrline(2001, 8) + yrline(2002, 10) + MALE +
                       grpline(3, 200000001, 33) + summary(30, 1001, 1030, 3));
  std::string list, cf;
  for (int k = 1; k <= 30; ++k) {
    const int year = k <= 12 ? 2000 : k <= 20 ? 2001 : 2002, x = k <= 12 ? 1 : 2;
    list += bull(1000, year, x, 1000 + k, 200000001, 200000001, 200000001);
    cf += coef({k, 33, 33, 33, 30 + x}, 1000);
  }
  EXPECT_EQ(z.list, list + group(1, 100000001) + group(2, 100000002) + group(3, 200000001));
  EXPECT_EQ(z.coef, cf);
}

TEST(ZelkRun, TotalEqualToTheTargetNeverSplits) {
  Zrun z = run(bulls_by_year({{2000, 10}, {2001, 10}, {2002, 10}}));
  ASSERT_EQ(z.status, 0);
  EXPECT_EQ(z.out, std::string(FEMALE) + grpline(1, 100000001, 31) + yrline(2000, 10) + yrline(2001, 10) +
                       yrline(2002, 10) + MALE + grpline(2, 200000001, 32) + summary(30, 1001, 1030, 2));
}

TEST(ZelkRun, YearsBeforeAndAfterTheSplitsTakeTheFirstAndLastGroups) {
  // 61 bulls: K1 = 3, target 15.25; groups close after 1990 and after 2000.
  Zrun z = run(bulls_by_year({{1990, 20}, {2000, 20}, {2010, 21}}));
  ASSERT_EQ(z.status, 0);
  EXPECT_EQ(z.out, std::string(FEMALE) + grpline(1, 100000001, 62) + yrline(1990, 20) +
                       grpline(2, 100000002, 63) + yrline(2000, 20) + grpline(3, 100000003, 64) +
                       yrline(2010, 21) + MALE + grpline(4, 200000001, 65) + summary(61, 1001, 1061, 4));
  EXPECT_EQ(z.list.substr(0, 56), bull(1000, 1990, 1, 1001, 200000001, 200000001, 200000001));
  EXPECT_EQ(z.list.substr(60 * 56, 56), bull(1000, 2010, 3, 1061, 200000001, 200000001, 200000001));
}

// ---- Empty pedigree ------------------------------------------------------------

std::string empty_out() {
  return std::string(FEMALE) + grpline(1, 100000001, 1) + MALE + grpline(2, 200000001, 2) + summary_head(0, 0);
}
const char LIST0[] = "severe (408): Subscript #1 of the array LIST has value 0 which is less than the lower bound of 1";

TEST(ZelkRun, EmptyPedigreeEndsAtTheLastBullLine) {
  for (const char* text : {"", "\n\n  \n", "\r\n"}) {
    Zrun z = run(text, {{"zelk.coef", "old coefficients\n"}});
    EXPECT_EQ(z.status, 152);
    EXPECT_EQ(z.err, LIST0);
    EXPECT_EQ(z.out, empty_out());
    EXPECT_EQ(z.list, group(1, 100000001) + group(2, 200000001));
    EXPECT_EQ(z.coef, "old coefficients\n");  // it receives no line
  }
}

TEST(ZelkRun, MissingPedigreeIsCreatedAndReadsAsEmpty) {
  const std::string dir = make_tempdir();
  RunResult r = run_in(dir, ZELK_BIN);
  EXPECT_EQ(r.status, 152);
  EXPECT_EQ(severe(r.err, dir), LIST0);
  EXPECT_EQ(r.out, empty_out());
  EXPECT_TRUE(file_exists(dir, "pedigree.dat"));
  EXPECT_EQ(read_file(dir, "pedigree.dat"), "");
  EXPECT_EQ(read_file(dir, "zelk.coef"), "");
  EXPECT_EQ(read_file(dir, "sire.list"), group(1, 100000001) + group(2, 200000001));
  std::filesystem::remove_all(dir);
}

// ---- Pass-1 checks -------------------------------------------------------------

struct Check {
  const char* name;
  std::string pedigree;
  std::string out;
};

const std::string OLD_COEF = "    9    9  9.999999\n";
const std::string OLD_LIST = "old bull list\nsecond line\n";

TEST(ZelkRun, EachPass1CheckStopsBeforeAnyOutputLine) {
  const Check checks[] = {
      {"not sorted", "205 0 0 0 A 1990\n101 0 0 0 A 1991\n", "0PEDIGREE FILES NOT SORTED PROPERLY\n"},
      {"sorting comes before the year", "205 0 0 0 A 1990\n101 0 0 0 A 5\n", "0PEDIGREE FILES NOT SORTED PROPERLY\n"},
      {"first ID negative", "-5 0 0 0 A 1990\n", "0PEDIGREE FILES NOT SORTED PROPERLY\n"},
      {"ID twice", "101 0 0 0 A 1990\n1234 0 0 0 A 1990\n1234 101 0 0 A 1991\n",
       "0BULL      1234 HAD MORE THAN 1 OBSERVATION, NOT LEGAL\n"},
      {"first ID 0", "0 0 0 0 A 1990\n", "0BULL         0 HAD MORE THAN 1 OBSERVATION, NOT LEGAL\n"},
      {"the ID twice comes before the year", "101 0 0 0 A 1990\n101 0 0 0 A 3\n",
       "0BULL       101 HAD MORE THAN 1 OBSERVATION, NOT LEGAL\n"},
      {"year 9", "101 0 0 0 A 1990\n205 0 0 0 A 9\n", "0BAD BIRTH YEAR         9\n"},
      {"year negative", "101 0 0 0 A -1990\n", "0BAD BIRTH YEAR     -1990\n"},
      {"year 0 left by a slash", "101 0 0 0 /\n", "0BAD BIRTH YEAR         0\n"},
      {"lowest year", "101 0 0 0 A -2147483648\n", "0BAD BIRTH YEAR**********\n"},
      {"the year comes before the pedigree", "205 205 0 0 A 9\n", "0BAD BIRTH YEAR         9\n"},
      {"sire is the bull", "101 0 0 0 A 1990\n205 205 0 0 A 1995\n",
       "0BAD PEDIGREE             205       205         0         0\n"},
      {"MGS is the bull", "205 101 205 0 A 1995\n",
       "0BAD PEDIGREE             205       101       205         0\n"},
      {"MGGS only is the bull", "205 0 0 205 A 1995\n",
       "0BAD PEDIGREE             205         0         0       205\n"},
  };
  for (const Check& c : checks) {
    SCOPED_TRACE(c.name);
    Zrun z = run(c.pedigree, {{"zelk.coef", OLD_COEF}, {"sire.list", OLD_LIST}});
    EXPECT_EQ(z.status, 1);
    EXPECT_EQ(z.err, "");
    EXPECT_EQ(z.out, c.out);
    EXPECT_EQ(z.coef, OLD_COEF);
    EXPECT_EQ(z.list, OLD_LIST);
  }
}

std::string many_bulls(int n, int year) {
  std::string s;
  s.reserve(n * 16);
  for (int k = 1; k <= n; ++k) s += std::to_string(k) + " 0 0 0 A " + std::to_string(year) + "\n";
  return s;
}

TEST(ZelkRun, MoreThan100000BullsStopAtThe100001st) {
  Zrun z = run(many_bulls(100001, 2000), {{"zelk.coef", OLD_COEF}, {"sire.list", OLD_LIST}});
  EXPECT_EQ(z.status, 1);
  EXPECT_EQ(z.out, "0MAXIMUM NUMBER OF SIRES =   100000\n EXCEEDED BY ACTUAL NUMBER =   100001\n");
  EXPECT_EQ(z.coef, OLD_COEF);
  EXPECT_EQ(z.list, OLD_LIST);
}

TEST(ZelkRun, EquationNumbersAbove99999AreRefusedBeforeAnyLine) {
  // 99990 bulls, 9999 in each of ten years: ten female groups and the male
  // group, so the last equation would be 100001.
  std::string ped;
  ped.reserve(99990 * 20);
  int id = 0;
  for (int year = 2000; year <= 2009; ++year)
    for (int k = 0; k < 9999; ++k) ped += std::to_string(++id) + " 0 0 0 A " + std::to_string(year) + "\n";
  Zrun z = run(ped, {{"zelk.coef", OLD_COEF}, {"sire.list", OLD_LIST}});
  std::string out = FEMALE;
  for (int g = 1; g <= 10; ++g) out += grpline(g, 100000000 + g, 99990 + g) + yrline(1999 + g, 9999);
  out += std::string(MALE) + grpline(11, 200000001, 100001);
  out += "0TOO MANY EQUATIONS FOR ZELK.COEF (MAX 99999): NNS =     99990  NG =        11\n";
  EXPECT_EQ(z.status, 1);
  EXPECT_EQ(z.err, "");
  EXPECT_EQ(z.out, out);
  EXPECT_EQ(z.coef, OLD_COEF);
  EXPECT_EQ(z.list, OLD_LIST);
}

// ---- Birth years at the ends of the tables -------------------------------------

TEST(ZelkRun, Year2028IsAcceptedAnd2029IsCondition408) {
  Zrun z = run("101 0 0 0 A 2028\n");
  EXPECT_EQ(z.status, 0);
  EXPECT_EQ(z.out, std::string(FEMALE) + grpline(1, 100000001, 2) + yrline(2028, 1) + MALE +
                       grpline(2, 200000001, 3) + summary(1, 101, 101, 2));
  EXPECT_EQ(z.list, bull(1000, 2028, 1, 101, 200000001, 200000001, 200000001) + group(1, 100000001) +
                        group(2, 200000001));

  z = run("101 0 0 0 A 1990\n205 0 0 0 A 2029\n", {{"zelk.coef", OLD_COEF}, {"sire.list", OLD_LIST}});
  EXPECT_EQ(z.status, 152);
  EXPECT_EQ(z.err,
            "severe (408): Subscript #1 of the array YRCNT has value 2029 which is greater than the upper bound of 2028");
  EXPECT_EQ(z.out, "");
  EXPECT_EQ(z.coef, OLD_COEF);
  EXPECT_EQ(z.list, OLD_LIST);

  z = run("101 0 0 0 A 2147483647\n");
  EXPECT_EQ(z.status, 152);
  EXPECT_EQ(z.err,
            "severe (408): Subscript #1 of the array YRCNT has value 2147483647 which is greater than the upper bound of 2028");
}

TEST(ZelkRun, Year10WithUnknownMggsIsCondition408OnYrfreq) {
  Zrun z = run("101 0 0 0 A 1990\n205 101 0 0 A 10\n310 205 101 0 A 2000\n");
  EXPECT_EQ(z.status, 152);
  EXPECT_EQ(z.err, "severe (408): Subscript #1 of the array YRFREQ has value 0 which is less than the lower bound of 1");
  // The groups are reported; bull 1 stands written, nothing of bull 2, no
  // group lines and no summary.
  EXPECT_EQ(z.out, std::string(FEMALE) + grpline(1, 100000001, 4) + yrline(10, 1) + yrline(1990, 1) +
                       yrline(2000, 1) + MALE + grpline(2, 200000001, 5));
  EXPECT_EQ(z.coef, coef({1, 5, 5, 5, 4}, 1000));
  EXPECT_EQ(z.list, bull(1000, 1990, 1, 101, 200000001, 200000001, 200000001));
}

TEST(ZelkRun, Year10WithKnownMggsRuns) {
  Zrun z = run("101 0 0 0 A 1990\n205 0 0 101 A 10\n");
  EXPECT_EQ(z.status, 0);
  EXPECT_EQ(z.coef, coef({1, 4, 4, 4, 3}, 1000) + coef({2, 4, 4, 1, 3}, 1001));
  EXPECT_EQ(z.list, bull(1000, 1990, 1, 101, 200000001, 200000001, 200000001) +
                        bull(1001, 10, 1, 205, 200000001, 200000001, 101) + group(1, 100000001) +
                        group(2, 200000001));
}

// ---- Output files ---------------------------------------------------------------

TEST(ZelkRun, LongerOldOutputFilesEndAfterTheNewLines) {
  std::string old;
  for (int k = 0; k < 500; ++k) old += "    1    1  1.000000\n";
  Zrun z = run(THREE, {{"zelk.coef", old}, {"sire.list", old}});
  EXPECT_EQ(z.status, 0);
  EXPECT_EQ(z.coef, three_coef());
  EXPECT_EQ(z.list, three_list());
}

// ---- Reference cases: pedigree.dat and every expected file ----------------------

TEST(ZelkRun, ReferenceCases) {
  namespace fs = std::filesystem;
  int cases = 0;
  for (const auto& c : fs::directory_iterator(std::string(FIXTURES_DIR) + "/zelk")) {
    if (!c.is_directory()) continue;
    SCOPED_TRACE(c.path().filename().string());
    ++cases;
    const std::string src = c.path().string(), exp = src + "/expected";
    const std::string dir = make_tempdir();
    write_file(dir, "pedigree.dat", read_file(src, "pedigree.dat"));
    RunResult r = run_in(dir, ZELK_BIN);
    EXPECT_EQ(std::to_string(r.status) + "\n", read_file(exp, "status"));
    EXPECT_EQ(r.out, read_file(exp, "stdout"));
    std::string want_err = read_file(exp, "stderr");
    if (!want_err.empty() && want_err.back() == '\n') want_err.pop_back();
    EXPECT_EQ(severe(r.err, dir), want_err);
    for (const char* f : {"zelk.coef", "sire.list"}) EXPECT_EQ(read_file(dir, f), read_file(exp, f)) << f;
    fs::remove_all(dir);
  }
  EXPECT_GE(cases, 5);
}

}  // namespace
