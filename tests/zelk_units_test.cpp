// zelk routines on their own: group counts, coefficient blocks, BINSRC, the
// checked tables and the equation-number limit.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "zelk/zelk.h"
#include "zelk_expect.h"

namespace {
using namespace zelkexp;

// The requested numbers of groups by NNS, range by range: (first NNS of the
// range, K1) and (first NNS, K2).
struct Range {
  int32_t from, k;
};
const Range K1TAB[] = {{1, -1},    {2, 0},     {9, 1},     {23, 2},    {61, 3},    {164, 4},
                       {446, 5},   {1211, 6},  {3290, 7},  {8943, 8},  {24310, 9}, {66080, 10}};
const Range K2TAB[] = {{1, 0}, {85, 1}, {2358, 2}, {66080, 3}};

template <size_t N>
int32_t lookup(const Range (&tab)[N], int32_t nns) {
  int32_t k = tab[0].k;
  for (const Range& r : tab)
    if (nns >= r.from) k = r.k;
  return k;
}

TEST(ZelkGroupCounts, FollowTheTableForEveryNNS) {
  int32_t K1 = 0, K2 = 0;
  KGROUP(0, K1, K2);
  EXPECT_EQ(K1, INT32_MIN);
  EXPECT_EQ(K2, INT32_MIN);
  int bad = 0;
  for (int32_t nns = 1; nns <= 100000; ++nns) {
    KGROUP(nns, K1, K2);
    if (K1 != lookup(K1TAB, nns) || K2 != lookup(K2TAB, nns)) {
      if (++bad <= 10) ADD_FAILURE() << "NNS " << nns << ": K1 " << K1 << ", K2 " << K2;
    }
  }
  EXPECT_EQ(bad, 0);
}

TEST(ZelkTruncation, UndefinedConversionsGiveTheLowestInteger) {
  EXPECT_EQ(ITRUNC(-std::numeric_limits<float>::infinity()), INT32_MIN);
  EXPECT_EQ(ITRUNC(std::numeric_limits<float>::infinity()), INT32_MIN);
  EXPECT_EQ(ITRUNC(std::numeric_limits<float>::quiet_NaN()), INT32_MIN);
  EXPECT_EQ(ITRUNC(3.0e9f), INT32_MIN);
  EXPECT_EQ(ITRUNC(-2147483648.0f), INT32_MIN);
  EXPECT_EQ(ITRUNC(2147483520.0f), 2147483520);
  EXPECT_EQ(ITRUNC(2.9f), 2);
  EXPECT_EQ(ITRUNC(-2.9f), -2);
  EXPECT_EQ(ITRUNC(-0.5f), 0);
}

// ---- Coefficient blocks ------------------------------------------------------

std::unique_ptr<ZELK> built() {
  auto Z = std::make_unique<ZELK>();
  BLDBLK(*Z);
  return Z;
}

TEST(ZelkBlocks, EveryElementIsQQTimesTheNearestReciprocal) {
  auto Z = built();
  for (const BlockCase& c : BLOCKS) {
    const Block& B = BLKSEL(*Z, c.code);
    for (int i = 1; i <= 5; ++i)
      for (int j = 1; j <= 5; ++j) {
        SCOPED_TRACE(testing::Message() << "block " << c.code << " (" << i << "," << j << ")");
        EXPECT_EQ(B(i, j), Q[i - 1] * Q[j - 1] * c.inv);
        EXPECT_EQ(B(i, j), B(j, i));
        EXPECT_EQ(EDITF(B(i, j), 10, 6), shown(c, i, j));
      }
    EXPECT_GE(B(1, 1), 1.0f);
  }
}

TEST(ZelkBlocks, CpymatCopiesTheLeadingPart) {
  auto Z = built();
  Block all;
  CPYMAT(Z->A1101, all, 5);
  for (int k = 0; k < 25; ++k) EXPECT_EQ(all.v[k], Z->A1101.v[k]);

  Block part;
  for (float& x : part.v) x = 7.0f;
  CPYMAT(Z->A1111, part, 3);
  for (int i = 1; i <= 5; ++i)
    for (int j = 1; j <= 5; ++j) EXPECT_EQ(part(i, j), i <= 3 && j <= 3 ? Z->A1111(i, j) : 7.0f);

  Block none;
  for (float& x : none.v) x = 7.0f;
  CPYMAT(Z->A1111, none, 0);
  CPYMAT(Z->A1111, none, -3);
  for (float x : none.v) EXPECT_EQ(x, 7.0f);
}

// ---- BINSRC and the checked tables -------------------------------------------

TEST(ZelkBinsrc, FindsEachEntryAndNothingElse) {
  auto Z = std::make_unique<ZELK>();
  const int32_t ids[] = {-40, 7, 101, 205, 310, 2147483647};
  const int32_t n = 6;
  for (int32_t k = 1; k <= n; ++k) Z->LIST(k) = ids[k - 1];
  for (int32_t k = 1; k <= n; ++k) EXPECT_EQ(BINSRC(ids[k - 1], Z->LIST, n), k);
  for (int32_t key : {INT32_MIN, -41, 0, 8, 150, 309, 311, 2147483646}) EXPECT_EQ(BINSRC(key, Z->LIST, n), 0) << key;
  EXPECT_EQ(BINSRC(7, Z->LIST, 0), 0);
  EXPECT_EQ(BINSRC(-40, Z->LIST, 1), 1);
  EXPECT_EQ(BINSRC(7, Z->LIST, 1), 0);
  // A full table: the last entry is found.
  for (int32_t k = 1; k <= MAXNS; ++k) Z->LIST(k) = 2 * k;
  EXPECT_EQ(BINSRC(2 * MAXNS, Z->LIST, MAXNS), MAXNS);
  EXPECT_EQ(BINSRC(2 * MAXNS + 1, Z->LIST, MAXNS), 0);
}

using ZelkDeathTest = testing::Test;

TEST_F(ZelkDeathTest, AnIndexOutsideATableIsCondition408) {
  auto Z = std::make_unique<ZELK>();
  EXPECT_EXIT({ RUNSTART("zelk"); Z->LIST(0) = 1; }, testing::ExitedWithCode(152),
              "severe \\(408\\): Subscript #1 of the array LIST has value 0 which is less than the lower bound of 1");
  EXPECT_EXIT({ RUNSTART("zelk"); Z->YRCNT(2029) = 1.0f; }, testing::ExitedWithCode(152),
              "severe \\(408\\): Subscript #1 of the array YRCNT has value 2029 which is greater than the upper bound of 2028");
  EXPECT_EXIT({ RUNSTART("zelk"); (void)BINSRC(5, Z->LIST, MAXNS + 5); }, testing::ExitedWithCode(152),
              "array LIST has value 10000[1-5] which is greater than the upper bound of 100000");
  Block out;
  EXPECT_EXIT({ RUNSTART("zelk"); CPYMAT(Z->A1000, out, 6); }, testing::ExitedWithCode(152),
              "array AMATRX has value 6 which is greater than the upper bound of 5");
}

TEST_F(ZelkDeathTest, EquationNumbersAbove99999AreRefused) {
  // Up to 99999 every equation number fits its five columns.
  EQNCHK(99988, 11);
  EQNCHK(99997, 2);
  EQNCHK(0, 2);
  EXPECT_EXIT({ RUNSTART("zelk"); EQNCHK(99989, 11); }, testing::ExitedWithCode(1), "");
  EXPECT_EXIT({ RUNSTART("zelk"); EQNCHK(99998, 2); }, testing::ExitedWithCode(1), "");
  EXPECT_EXIT({ RUNSTART("zelk"); EQNCHK(100000, 2); }, testing::ExitedWithCode(1), "");
}

}  // namespace
