// What zelk writes, built from the printed block values and the layouts of
// its files (not from the program), for the tests of routines and whole runs.
#pragma once

#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace zelkexp {

const float Q[5] = {1.0f, -0.5f, -0.25f, -0.125f, -0.125f};
// |q_i q_j| is 2^-(E[i] + E[j]).
const int E[5] = {0, 1, 2, 3, 3};

struct BlockCase {
  int32_t code;
  float inv;             // single-precision value nearest to 1/d (1 for A1000)
  const char* shown[7];  // F10.6 of 1, 1/2, ..., 1/64 times 1/d
};
const BlockCase BLOCKS[] = {
    {1000, 1.0f, {"1.000000", "0.500000", "0.250000", "0.125000", "0.062500", "0.031250", "0.015625"}},
    {1001, 1.01587307453155517578125f, {"1.015873", "0.507937", "0.253968", "0.126984", "0.063492", "0.031746", "0.015873"}},
    {1010, 1.06666672229766845703125f, {"1.066667", "0.533333", "0.266667", "0.133333", "0.066667", "0.033333", "0.016667"}},
    {1011, 1.08474576473236083984375f, {"1.084746", "0.542373", "0.271186", "0.135593", "0.067797", "0.033898", "0.016949"}},
    {1100, 1.33333337306976318359375f, {"1.333333", "0.666667", "0.333333", "0.166667", "0.083333", "0.041667", "0.020833"}},
    {1101, 1.36170208454132080078125f, {"1.361702", "0.680851", "0.340426", "0.170213", "0.085106", "0.042553", "0.021277"}},
    {1110, 1.454545497894287109375f, {"1.454545", "0.727273", "0.363636", "0.181818", "0.090909", "0.045455", "0.022727"}},
    {1111, 1.4883720874786376953125f, {"1.488372", "0.744186", "0.372093", "0.186047", "0.093023", "0.046512", "0.023256"}},
};

inline const BlockCase& block(int32_t code) {
  for (const BlockCase& c : BLOCKS)
    if (c.code == code) return c;
  return BLOCKS[0];
}

// Element (i, j) of a block as F10.6 prints it: negative in the bull's row
// and column off the diagonal.
inline std::string shown(const BlockCase& c, int i, int j) {
  std::string s = c.shown[E[i - 1] + E[j - 1]];
  if ((i == 1) != (j == 1)) s = "-" + s;
  return std::string(10 - s.size(), ' ') + s;
}

inline std::string fmt(const char* f, ...) __attribute__((format(printf, 1, 2)));
inline std::string fmt(const char* f, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, f);
  vsnprintf(buf, sizeof buf, f, ap);
  va_end(ap);
  return buf;
}

// The 25 zelk.coef lines of one bull: positions (bull, sire, MGS, MGGS,
// female group) and its pedigree code.
inline std::string coef(const int32_t (&ind)[5], int32_t code) {
  std::string s;
  for (int i = 1; i <= 5; ++i)
    for (int j = 1; j <= 5; ++j) s += fmt("%5d%5d", ind[i - 1], ind[j - 1]) + shown(block(code), i, j) + "\n";
  return s;
}

// sire.list line of a bull: code, YEAR, X, ID and the three ancestors or codes.
inline std::string bull(int32_t code, int32_t year, int32_t x, int32_t id, int32_t s, int32_t m, int32_t mm) {
  return fmt("%5d%5d%5d%10d%10d%10d%10d\n", code, year, x, id, s, m, mm);
}
// sire.list line of a group.
inline std::string group(int32_t g, int32_t code) { return bull(0, 0, g, code, code, code, code); }

// Group report lines.
inline std::string grpline(int32_t g, int32_t code, int32_t index) {
  return fmt("0GROUP%3d    GROUP CODE=%10d     GROUP INDEX=%10d\n", g, code, index);
}
inline std::string yrline(int32_t year, int32_t count) {
  return fmt("          YEAR%6d    NUMBER OF BULLS=%12.6f\n", year, (double)count);
}
const char FEMALE[] = "0GROUPS FOR UNKNOWN FEMALES\n";
const char MALE[] = "0GROUPS FOR UNKNOWN MALE ANCESTORS\n";

// The summary lines 1..8 and the rest up to the closing line.
inline std::string summary_head(int32_t nns, int32_t first) {
  return " \n" + fmt("%12d  BULLS IN ORIGINAL FILE\n", nns) + " \n" +
         "           0  BULLS WERE ADDED AS ANCESTORS OF BULLS WITH DATA\n" + " \n" +
         fmt("%12d  TOTAL NUMBER OF BULLS (NNS)\n", nns) + " \n" +
         fmt(" FIRST BULL ID IN LIST WAS %12d\n", first);
}
inline std::string summary(int32_t nns, int32_t first, int32_t last, int32_t ng) {
  return summary_head(nns, first) + fmt(" LAST  BULL ID IN LIST WAS %12d\n", last) + " \n" +
         fmt("%12d  GROUPS FORMED (NG)\n", ng) + " \n" +
         fmt("%12d  A-INVERSE COEFFICIENTS WERE OUTPUT\n", 25 * nns) + " \n" +
         " RELATIONSHIPS TRACED THRU SIRE, MGS, AND MGGS (NPED = 4)\n" +
         "0ZELK CONTAINS COEFFICIENTS FOR UNKNOWN ANCESTOR GROUPS\n" + " (GRPTYP=2)\n" + " \n" +
         " Program zelk completed normally\n";
}

}  // namespace zelkexp
