// Edit formats and the writers: Fw.d and Iw editing, FMTWRT walks (literals,
// groups, reversion, the stop at the first descriptor without an item, the
// empty-line rule), LSTWRT lines and CELWRT cells.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "records/rec_internal.h"
#include "records/records.h"
#include "records_child.h"

using recchild::Child;
using recchild::run_child;
using recchild::TempDir;

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string edit4(float x, int w, int d) { return rec::edit_real(x, true, w, d); }
std::string edit8(double x, int w, int d) { return rec::edit_real(x, false, w, d); }

// ---- Fw.d ---------------------------------------------------------------------

struct FCase {
  double x;
  int w, d;
  const char* want;
};

// Values that are exact in single precision too: each is checked as a
// double-precision value, as a single-precision value, and through EDITF.
const FCase kExactCases[] = {
    // Ties on the exact binary value go to the even digit.
    {0.125, 5, 2, " 0.12"},
    {0.375, 5, 2, " 0.38"},
    {12.5, 5, 0, "  12."},
    {13.5, 5, 0, "  14."},
    {2.5, 5, 0, "   2."},
    {12.25, 7, 1, "   12.2"},
    {0.625, 4, 2, "0.62"},
    {0.875, 4, 2, "0.88"},
    {0.5, 3, 0, " 0."},
    {1.5, 3, 0, " 2."},
    // The optional '0' before the point: with d = 0 always, else when there is room.
    {0.5, 8, 5, " 0.50000"},
    {0.5, 7, 5, "0.50000"},
    {0.5, 6, 5, ".50000"},
    {0.5, 5, 5, "*****"},
    {0.0, 2, 0, "0."},
    {0.0, 1, 0, "*"},
    {0.0, 3, 2, ".00"},
    {0.0, 10, 4, "    0.0000"},
    // Negative values that round to zero keep their '-'; negative zero has none.
    {-0.0, 10, 4, "    0.0000"},
    {-0.0, 5, 0, "   0."},
    {-0.25, 4, 0, " -0."},
    {-0.25, 2, 0, "**"},
    {-0.25, 3, 1, "-.2"},
    {-0.25, 4, 1, "-0.2"},
    // Carries into a new integer digit, and asterisks.
    {9.9375, 5, 2, " 9.94"},
    {9.9375, 4, 1, " 9.9"},
    {9.96875, 4, 1, "10.0"},
    {9.96875, 3, 1, "***"},
    {123456.0, 10, 4, "**********"},
    {123456.0, 11, 4, "123456.0000"},
    {-123456.0, 11, 4, "***********"},
    {100000.0, 10, 3, "100000.000"},
    {1.0, 12, 7, "   1.0000000"},
    {-1.0, 12, 7, "  -1.0000000"},
    {1.5, 10, 6, "  1.500000"},
    {-0.0625, 10, 6, " -0.062500"},
    {3.0, 11, 3, "      3.000"},
    {1048576.5, 10, 0, "  1048576."},
    {1048577.5, 10, 0, "  1048578."},
    // NaN and the infinities.
    {kNaN, 8, 5, "     NaN"},
    {-kNaN, 8, 5, "     NaN"},
    {kNaN, 3, 1, "NaN"},
    {kNaN, 2, 1, "**"},
    {kInf, 8, 5, "Infinity"},
    {kInf, 12, 7, "    Infinity"},
    {-kInf, 8, 5, "    -Inf"},
    {-kInf, 9, 5, "-Infinity"},
    {-kInf, 12, 7, "   -Infinity"},
    {kInf, 7, 2, "    Inf"},
    {kInf, 3, 1, "Inf"},
    {-kInf, 4, 1, "-Inf"},
    {-kInf, 3, 1, "***"},
    {kInf, 2, 1, "**"},
};

// Values whose double-precision form has no exact single-precision twin.
const FCase kDoubleCases[] = {
    {12.35, 7, 1, "   12.3"},  // held as 12.3499999999999996...
    {0.4, 5, 0, "   0."},
    {-0.00001, 10, 4, "   -0.0000"},
    {-0.00001, 6, 4, "-.0000"},
    {-0.00001, 5, 4, "*****"},
    {-0.3, 5, 0, "  -0."},
    {9.9996, 6, 3, "10.000"},
    {0.005, 5, 2, " 0.01"},  // 0.005000000000000000104...
    {0.015, 5, 2, " 0.01"},  // 0.01499999999999999944...
    {2.675, 5, 2, " 2.67"},  // 2.67499999999999982236...
    {0.1, 12, 9, " 0.100000000"},
    {1.0 / 0.984375, 12, 9, " 1.015873016"},
    {123456789.125, 14, 2, "  123456789.12"},
    {1e22, 26, 1, " 10000000000000000000000.0"},
    {std::numeric_limits<double>::max(), 12, 7, "************"},
    {std::numeric_limits<double>::denorm_min(), 10, 4, "    0.0000"},
    {-std::numeric_limits<double>::denorm_min(), 10, 4, "   -0.0000"},
};

TEST(RecordsEditF, ExactValuesAllPaths) {
  for (const FCase& c : kExactCases) {
    SCOPED_TRACE(std::string("F") + std::to_string(c.w) + "." + std::to_string(c.d) + " of " +
                 std::to_string(c.x));
    EXPECT_EQ(EDITF(c.x, c.w, c.d), c.want);
    EXPECT_EQ(edit8(c.x, c.w, c.d), c.want);
    EXPECT_EQ(edit4((float)c.x, c.w, c.d), c.want);
  }
}

TEST(RecordsEditF, DoubleValues) {
  for (const FCase& c : kDoubleCases) {
    SCOPED_TRACE(std::string("F") + std::to_string(c.w) + "." + std::to_string(c.d) + " of " +
                 std::to_string(c.x));
    EXPECT_EQ(EDITF(c.x, c.w, c.d), c.want);
  }
}

// A single-precision item is edited on its own exact value, which differs from
// the double-precision value of the same decimal text.
TEST(RecordsEditF, SingleAgainstDouble) {
  struct C {
    float f;
    double x;
    int w, d;
    const char* single;
    const char* dbl;
  } cases[] = {
      {1.0f / 0.984375f, 1.0 / 0.984375, 10, 6, "  1.015873", "  1.015873"},
      {-0.5f / 0.984375f, -0.5 / 0.984375, 10, 6, " -0.507937", " -0.507937"},
      {1.0f / 0.984375f, 1.0 / 0.984375, 12, 9, " 1.015873075", " 1.015873016"},
      {0.1f, 0.1, 12, 9, " 0.100000001", " 0.100000000"},
      {0.3f, 0.3, 11, 9, "0.300000012", "0.300000000"},
      {12.35f, 12.35, 7, 1, "   12.4", "   12.3"},  // 12.3500003814697265625 against 12.3499...
      {0.15f, 0.15, 4, 1, " 0.2", " 0.1"},         // 0.1500000059604644775 against 0.1499...
      {2.675f, 2.675, 5, 2, " 2.67", " 2.67"},
      {0.1f, 0.1, 20, 15, "   0.100000001490116", "   0.100000000000000"},  // d above 10
      {1e20f, 1e20, 25, 1, "  100000002004087734272.0", "  100000000000000000000.0"},
      {16777217.0f, 16777217.0, 10, 0, " 16777216.", " 16777217."},
      {-1e-40f, -1e-40, 10, 4, "   -0.0000", "   -0.0000"},  // a subnormal single
  };
  for (const C& c : cases) {
    SCOPED_TRACE(std::to_string(c.x));
    EXPECT_EQ(edit4(c.f, c.w, c.d), c.single);
    EXPECT_EQ(edit8(c.x, c.w, c.d), c.dbl);
  }
}

// The text of Fw.d built independently from the exact decimal conversion.
std::string reference_f(double x, int w, int d) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", d, std::fabs(x));
  std::string mag = buf;
  bool below_one = mag[0] == '0' && (mag.size() == 1 || mag[1] == '.');
  std::string t = std::signbit(x) && x != 0 ? "-" : "";
  std::string core = below_one ? mag.substr(1) : mag;  // without the leading '0'
  if (d == 0) core = below_one ? "0." : mag + ".";
  else if (below_one && (int)(t.size() + core.size()) < w) core = "0" + core;
  t += core;
  if ((int)t.size() > w) return std::string((size_t)w, '*');
  return std::string((size_t)w - t.size(), ' ') + t;
}

// The single-precision fast path (an exact product rounded to an integer)
// against the exact decimal conversion, for random values of all magnitudes
// that matter, values just around ties, and every d of the programs' layouts.
TEST(RecordsEditF, SingleFastPathMatchesExactConversion) {
  std::mt19937 g(20240611);
  std::vector<float> vals;
  for (int i = 0; i < 12000; ++i) {
    uint32_t bits = (uint32_t)g();
    // Exponents 2^-30 .. 2^33: from values that round to zero to values past
    // the product limit of the fast path at d = 7.
    uint32_t e = 97 + (uint32_t)(g() % 64);
    bits = (bits & 0x807fffffu) | (e << 23);
    float f;
    std::memcpy(&f, &bits, 4);
    vals.push_back(f);
    // Near a tie of some d: k + 1/2 at 10^-d, and its neighbours.
    int d = (int)(g() % 8);
    float t = (float)(((double)(g() % 2000000) + 0.5) / std::pow(10.0, d));
    vals.push_back(t);
    vals.push_back(std::nextafter(t, 0.0f));
    vals.push_back(std::nextafter(t, 1e30f));
  }
  // Exact ties in binary: multiples of 2^-k.
  for (int k = 1; k <= 12; ++k)
    for (int m = -40; m <= 40; ++m) vals.push_back((float)std::ldexp((double)m, -k));
  int bad = 0;
  for (float f : vals)
    for (int d = 0; d <= 7; ++d) {
      std::string got = edit4(f, 30, d), want = reference_f(f, 30, d);
      if (got != want && ++bad <= 10) ADD_FAILURE() << "F30." << d << " of " << f << ": " << got << " want " << want;
      // Narrow fields: the optional '0' and the asterisks.
      int w = 2 + d;
      got = edit4(f, w, d);
      want = reference_f(f, w, d);
      if (got != want && ++bad <= 10) ADD_FAILURE() << "F" << w << "." << d << " of " << f << ": " << got << " want " << want;
    }
  EXPECT_EQ(bad, 0);
}

TEST(RecordsEditF, DoublePathMatchesExactConversion) {
  std::mt19937_64 g(77);
  int bad = 0;
  for (int i = 0; i < 4000; ++i) {
    double x = std::ldexp((double)(g() >> 11), (int)(g() % 80) - 90) * ((g() & 1) ? -1 : 1);
    for (int d = 0; d <= 7; ++d)
      for (int w : {12, 3 + d}) {
        std::string got = EDITF(x, w, d), want = reference_f(x, w, d);
        if (got != want && ++bad <= 10) ADD_FAILURE() << "F" << w << "." << d << " of " << x << ": " << got;
      }
  }
  EXPECT_EQ(bad, 0);
}

// ---- FMTWRT --------------------------------------------------------------------

std::string cells(const std::vector<double>& v, size_t from, size_t to) {
  std::string s;
  for (size_t k = from; k < to; ++k) s += EDITF(v[k], 12, 6);
  return s;
}

struct WCase {
  std::string name;
  const char* format;
  Items items;
  std::string want;  // every line with its LF
};

std::vector<WCase> write_cases() {
  std::vector<WCase> cs;
  auto add = [&](const char* n, const char* f, Items it, std::string w) { cs.push_back({n, f, std::move(it), std::move(w)}); };

  // Literals.
  add("doubled apostrophe", "(' EIGENVECTORS OF L ZSZ L'' OBTAINED')", {}, " EIGENVECTORS OF L ZSZ L' OBTAINED\n");
  add("apostrophes only", "('IT''S','''','',A)", {"x"}, "IT'S'x\n");
  add("message without items", "('0PEDIGREE FILES NOT SORTED PROPERLY')", {}, "0PEDIGREE FILES NOT SORTED PROPERLY\n");
  add("leading 1 and blank kept", "('1',/,' ',/,A)", {"  x"}, "1\n \n  x\n");
  add("two-line message", "('0MAXIMUM NUMBER OF SIRES =',I9,/,' EXCEEDED BY ACTUAL NUMBER =',I9)",
      {(int32_t)46340, (int32_t)46341}, "0MAXIMUM NUMBER OF SIRES =    46340\n EXCEEDED BY ACTUAL NUMBER =    46341\n");
  add("diagonal message", "('DIAGONAL OF ZELK =',F10.6,'  FOR EQ. NUMBER',I6,/,'PROGRAM QUIT')", {0.0, (int32_t)17},
      "DIAGONAL OF ZELK =  0.000000  FOR EQ. NUMBER    17\nPROGRAM QUIT\n");

  // Iw.
  add("Iw and asterisks", "(I5,I5,I5,I3,I1,I1)",
      {(int32_t)0, (int32_t)-1, (int32_t)100000, (int32_t)-99, (int32_t)7, (int32_t)-7}, "    0   -1*****-997*\n");
  add("lowest integer", "(I11,I10,I12)", {INT32_MIN, INT32_MIN, INT32_MAX}, "-2147483648**********  2147483647\n");

  // Fw.d with single- and double-precision items.
  add("coefficient line", "(2I5,F10.6)", {(int32_t)1, (int32_t)2, 1.5f}, "    1    2  1.500000\n");
  add("coefficient line, single quotients", "(2I5,F10.6)", {(int32_t)99999, (int32_t)1, -0.5f / 0.984375f},
      "99999    1 -0.507937\n");
  add("single and double items", "(F12.9,F12.9)", {0.1f, 0.1}, " 0.100000001 0.100000000\n");
  add("progress line", "(A,I4,A,50F8.5)", {"Iteration ", (int32_t)3, "  Converge stats = ", 0.01234, 0.00056},
      "Iteration    3  Converge stats =  0.01234 0.00056\n");
  add("PTA line", "(I10,I3,F7.1,25F10.4)", {(int32_t)101, (int32_t)2, 87.25, -0.00001, 123456.0, kNaN},
      "       101  2   87.2   -0.0000**********       NaN\n");

  // A, nX, '/', and the empty-line rule.
  add("A keeps trailing blanks", "(A,1X,A)", {"AB  ", "C"}, "AB   C\n");
  add("positioning after the last character adds nothing", "(A,5X)", {"X"}, "X\n");
  add("positioning before a text", "(5X,A)", {"X"}, "     X\n");
  add("only positioning is an empty line", "(3X)", {}, "\n");
  add("slash lines", "('A',/,3X,/,'B',/)", {}, "A\n\nB\n\n");
  add("literal after positioning", "(2X,'ab',3X,'c')", {}, "  ab   c\n");

  // Repeat counts and groups.
  add("repeat count", "(3I3)", {(int32_t)1, (int32_t)2, (int32_t)3}, "  1  2  3\n");
  add("repeated text", "(999A)", {"ab", "c ", "d"}, "abc d\n");
  add("group with a count", "(I2,2(1X,A),I2)", {(int32_t)1, "a", "b", (int32_t)2}, " 1 a b 2\n");
  add("names line", "('NAME         ',25(5X,A))", {"TRAIT001", "TRAIT002", "TRAIT003"},
      "NAME              TRAIT001     TRAIT002     TRAIT003\n");
  add("names of genetic.cor", "(999(4X,A))", {"MILK    ", "FAT     "}, "    MILK        FAT     \n");

  // The stop at the first descriptor without an item: what stands before it
  // is carried out, nothing after it.
  add("stop after a literal", "(I3,' a',I3,' b')", {(int32_t)1}, "  1 a\n");
  add("stop with no item at all", "(' x',I3,' y')", {}, " x\n");
  add("stop after a slash", "(I3,/,' z',I3)", {(int32_t)1}, "  1\n z\n");
  add("stop after positioning", "(I3,4X,I3)", {(int32_t)1}, "  1\n");

  // Reversion: at the start of the format when it has no group...
  add("reversion to the start", "(2I3)", {(int32_t)1, (int32_t)2, (int32_t)3, (int32_t)4, (int32_t)5},
      "  1  2\n  3  4\n  5\n");
  add("format used up exactly", "(2I3)", {(int32_t)1, (int32_t)2}, "  1  2\n");
  {
    const char* hdr =
        "(15X,'GENETIC CORRELATIONS ARE ABOVE DIAGONAL',/,15X,'PHENOTYPIC CORRELATIONS ARE BELOW DIAGONAL',/,"
        "'TRAIT    ',25I12)";
    std::string g = std::string(15, ' ') + "GENETIC CORRELATIONS ARE ABOVE DIAGONAL\n";
    std::string p = std::string(15, ' ') + "PHENOTYPIC CORRELATIONS ARE BELOW DIAGONAL\n";
    Items t25, t27;
    std::string row25 = "TRAIT    ", row2 = "TRAIT    ";
    for (int k = 1; k <= 27; ++k) {
      char b[16];
      std::snprintf(b, sizeof b, "%12d", k);
      if (k <= 25) t25.push_back((int32_t)k), row25 += b;
      else row2 += b;
      t27.push_back((int32_t)k);
    }
    add("correlation header, 25 traits", hdr, t25, g + p + row25 + "\n");
    add("correlation header, 27 traits reverts to the start", hdr, t27, g + p + row25 + "\n" + g + p + row2 + "\n");
  }
  // ... and at the last group of the outer parentheses otherwise.
  {
    Items r;
    std::vector<double> v = {3.5, 100000.0, 1.0 / 3.0, 12.0625, 4.0, 5.0, 6.0, 7.75, 3.0000001788139343};
    for (double x : v) r.push_back(x);
    std::string l1 = " RATIOS FOR DIAGONAL = ", l2;
    for (size_t k = 0; k < 7; ++k) l1 += EDITF(v[k], 11, 3);
    for (size_t k = 7; k < 9; ++k) l2 += EDITF(v[k], 11, 3);
    EXPECT_EQ(l1, " RATIOS FOR DIAGONAL =       3.500 100000.000      0.333     12.062      4.000      5.000      6.000");
    add("ratios line, 9 values", "(' RATIOS FOR DIAGONAL = ',(7F11.3))", r, l1 + "\n" + l2 + "\n");
  }
  {
    const char* grp = "(' ',I9,I5,F12.2,6X,8F12.6,/,(33X,8F12.6,/))";
    std::vector<double> v;
    for (int k = 0; k < 20; ++k) v.push_back(k + 0.25 + (k % 3 ? -1.0 / 7 : 0));
    const std::string head = "       101    7     1234.50      ", pad(33, ' ');
    EXPECT_EQ(head.size(), 33u);
    for (int k : {0, 3, 8, 12, 16, 20}) {
      Items it{(int32_t)101, (int32_t)7, 1234.5};
      for (int j = 0; j < k; ++j) it.push_back(v[(size_t)j]);
      std::string want;
      if (k <= 8) want = head + cells(v, 0, (size_t)k) + "\n" + (k == 8 ? "\n" : "");
      else if (k == 12) want = head + cells(v, 0, 8) + "\n" + pad + cells(v, 8, 12) + "\n";
      else if (k == 16) want = head + cells(v, 0, 8) + "\n" + pad + cells(v, 8, 16) + "\n\n";
      else want = head + cells(v, 0, 8) + "\n" + pad + cells(v, 8, 16) + "\n\n" + pad + cells(v, 16, 20) + "\n";
      if (k == 0) want = head.substr(0, 27) + "\n";  // the 6X before the first missing value adds nothing
      cs.push_back({"group record, k = " + std::to_string(k), grp, it, want});
    }
  }
  {
    Items it;
    std::string want = "  1 x";
    for (int k = 0; k < 25; ++k) {
      it.push_back(k * 1.5f);
      want += EDITF(k * 1.5, 16, 7);
    }
    it.insert(it.begin(), {(int32_t)1, "x"});
    add("long matrix row", "(' ',I2,1X,A,25F16.7)", it, want + "\n");
  }
  return cs;
}

// Each case is written by one child to a file of its own; one child for all.
TEST(RecordsFmtwrt, Layouts) {
  std::vector<WCase> cs = write_cases();
  TempDir dir;
  Child c = run_child(dir, "kesta", [&] {
    for (size_t k = 0; k < cs.size(); ++k) {
      std::string name = "case" + std::to_string(k);
      FILOPN(name.c_str(), 20 + (int)k, TEXTFILE);
      Format f(cs[k].format);
      FMTWRT(20 + (int)k, f, cs[k].items);
    }
  });
  ASSERT_EQ(c.status, 0) << c.err;
  for (size_t k = 0; k < cs.size(); ++k)
    EXPECT_EQ(dir.read("case" + std::to_string(k)), cs[k].want) << cs[k].name << ": " << cs[k].format;
}

// Under denormals-are-zero (set by RUNSTART) a subnormal double or single
// value is still edited on its exact value, with its '-'.
TEST(RecordsFmtwrt, SubnormalSignUnderRunStart) {
  TempDir dir;
  Child c = run_child(dir, "kesta", [] {
    static const Format f("(F10.4,F10.4)");
    FMTWRT(LISTING, f, {-std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::denorm_min()});
    static const Format g("(F10.4,F50.47)");
    volatile float tiny = -1e-40f;  // a subnormal single, kept out of constant folding
    FMTWRT(LISTING, g, {(float)tiny, -std::numeric_limits<float>::denorm_min()});
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.out, "   -0.0000    0.0000\n   -0.0000-0.00000000000000000000000000000000000000000000140\n");
}

// An item that does not suit its descriptor, or items that a format without
// descriptors cannot take: condition 61; the lines finished before it stay,
// the half-built line is not written.
TEST(RecordsFmtwrt, TypeMismatchEndsTheRun) {
  struct C {
    const char* format;
    Items items;
    std::string before;  // what the file holds at the end
  } cases[] = {
      {"(I5)", {1.5f}, ""},
      {"(F10.6)", {(int32_t)1}, ""},
      {"(A)", {(int32_t)1}, ""},
      {"(I5)", {"a"}, ""},
      {"(I3,/,I3)", {(int32_t)1, 2.0f}, "  1\n"},
      {"('abc')", {(int32_t)1}, ""},
      {"(I3,('x'))", {(int32_t)1, (int32_t)2}, "  1x\n"},
      {"(I10,I3,F7.1,25F10.4)", {}, ""},  // filled below: 29 values meet I10 again
  };
  cases[7].items = {(int32_t)1, (int32_t)2, 3.0};
  for (int k = 0; k < 26; ++k) cases[7].items.push_back(0.5);
  cases[7].before = "         1  2    3.0";
  for (int k = 0; k < 25; ++k) cases[7].before += "    0.5000";
  cases[7].before += "\n";
  for (const C& cs : cases) {
    SCOPED_TRACE(cs.format);
    TempDir dir;
    Child c = run_child(dir, "kesta", [&] {
      FILOPN("sire.pta", 12, TEXTFILE);
      Format f(cs.format);
      FMTWRT(12, f, cs.items);
    });
    EXPECT_EQ(c.status, 61);
    EXPECT_EQ(c.err, "kesta: severe (61): format/variable-type mismatch, unit 12, file " + dir.path + "/sire.pta\n");
    EXPECT_EQ(dir.read("sire.pta"), cs.before);
  }
}

// A malformed edit format is a fault of the program: condition 62.
TEST(RecordsFormat, MalformedFormatEndsTheRun) {
  for (const char* f : {"(I5", "I5)", "(Q5)", "(F5)", "(F5.)", "(X)", "('abc)", "(2(I5,(I3)))", "(I5))"}) {
    SCOPED_TRACE(f);
    TempDir dir;
    Child c = run_child(dir, "zelk", [&] { Format bad(f); });
    EXPECT_EQ(c.status, 62);
    EXPECT_EQ(c.err, std::string("zelk: severe (62): syntax error in format ") + f + "\n");
  }
}

// ---- LSTWRT and CELWRT ---------------------------------------------------------

TEST(RecordsLstwrt, FreeFormatLines) {
  TempDir dir;
  Child c = run_child(dir, "zelk", [] {
    LSTWRT(LISTING, {(int32_t)12345, " RECORDS AND ", (int32_t)678, " SIRES IN ANALYSIS"});
    LSTWRT(LISTING, {"FIRST BULL ID IN LIST WAS ", (int32_t)101});
    LSTWRT(LISTING, {(int32_t)0, " BULLS WERE ADDED AS ANCESTORS OF BULLS ", "WITH DATA"});
    LSTWRT(LISTING);
    LSTWRT(LISTING, {(int32_t)-5, (int32_t)INT32_MIN});
    LSTWRT(LISTING, {"Genetic correlations"});
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.out,
            "       12345  RECORDS AND          678  SIRES IN ANALYSIS\n"
            " FIRST BULL ID IN LIST WAS          101\n"
            "           0  BULLS WERE ADDED AS ANCESTORS OF BULLS WITH DATA\n"
            " \n"
            "          -5 -2147483648\n"
            " Genetic correlations\n");
}

TEST(RecordsCelwrt, TwelveCharacterCells) {
  static const Format cellf("(F12.7)");
  struct C {
    double x;
    const char* want;
  } cases[] = {
      {1.0, "   1.0000000"},   {0.0, "   0.0000000"},  {-0.0, "   0.0000000"}, {-0.5, "  -0.5000000"},
      {0.123456789, "   0.1234568"}, {-1e-9, "  -0.0000000"}, {1234.5, "1234.5000000"}, {12345.0, "************"},
      {kNaN, "         NaN"}, {kInf, "    Infinity"}, {-kInf, "   -Infinity"},
  };
  for (const C& c : cases) {
    char cell[14];
    std::memset(cell, '#', sizeof cell);
    CELWRT(cell + 1, cellf, c.x);
    EXPECT_EQ(std::string(cell + 1, 12), c.want);
    EXPECT_EQ(cell[0], '#');  // nothing outside the cell
    EXPECT_EQ(cell[13], '#');
  }
}

}  // namespace
