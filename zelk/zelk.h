// zelk: the fixed tables, counts and routines of the program that turns a
// sorted pedigree of bulls into inverse-relationship coefficients.
#pragma once

#include <cstdint>

#include "records/records.h"

// File numbers of zelk.
constexpr int PEDIGR = 10;  // pedigree.dat, free-format records, read twice
constexpr int COEF = 15;    // zelk.coef, (2I5,F10.6) lines
constexpr int SIRLST = 16;  // sire.list, (3I5,4I10) lines

constexpr int32_t MAXNS = 100000;     // bulls that LIST holds
constexpr int32_t MAXYR = 2028;       // birth years 1..2028, and as many group codes
constexpr int32_t IBASE = 100000000;  // female group g has the code IBASE + g
constexpr int32_t MAXEQ = 99999;      // largest equation number an I5 field holds

// A fixed table of N entries, indexed 1..N through one checked accessor: an
// index outside the table ends the run with condition 408 naming the table,
// so that no access ever leaves it.
template <class T, int32_t N>
struct Table {
  const char* name;
  T v[N] = {};
  explicit Table(const char* table) : name(table) {}
  T& operator()(int64_t k) {
    check(k);
    return v[k - 1];
  }
  const T& operator()(int64_t k) const {
    check(k);
    return v[k - 1];
  }
  void check(int64_t k) const {
    if (k < 1) RUNERR408(1, name, (long)k, 1, false);
    if (k > N) RUNERR408(1, name, (long)k, N, true);
  }
};

using IDTAB = Table<int32_t, MAXNS>;  // LIST
using YRTAB = Table<float, MAXYR>;    // YRCNT, YRFREQ
using GRTAB = Table<int32_t, MAXYR>;  // GRPLST

// A 5 x 5 single-precision coefficient block, held by columns, element
// (i, j) for i, j = 1..5. Unchecked: callers loop over 1..5, or 1..N after
// CPYMAT has checked N.
struct Block {
  float v[25] = {};
  float& operator()(int i, int j) { return v[(j - 1) * 5 + (i - 1)]; }
  float operator()(int i, int j) const { return v[(j - 1) * 5 + (i - 1)]; }
};

// The tables and counts of one run; they live for the whole run.
struct ZELK {
  int32_t NNS = 0;                // bulls accepted by pass 1; bull k is equation k
  int32_t NG = 0;                 // groups formed: the female groups, then the male group
  int32_t NCOEF = 0;              // lines written to zelk.coef
  IDTAB LIST{"LIST"};             // LIST(k): ID of bull k, strictly ascending in 1..NNS
  YRTAB YRCNT{"YRCNT"};           // bulls per birth year; after the groups, female group of the year
  YRTAB YRFREQ{"YRFREQ"};         // never counted; after the groups, male group of every year
  GRTAB GRPLST{"GRPLST"};         // GRPLST(g): code of group g
  // The eight blocks, named by pedigree code 1abc: a, b, c = 1 when the
  // sire, MGS, MGGS is a bull of the file.
  Block A1000, A1001, A1010, A1011, A1100, A1101, A1110, A1111;
};

// One pedigree record: ID, SIRE, MGS, MGGS, a character read and not used,
// YEAR. A new record starts from zeros and a blank, and each pass reads into
// a fresh one, so that a null value or a '/' reads alike in both passes.
struct PEDREC {
  int32_t ID = 0, SIRE = 0, MGS = 0, MGGS = 0;
  char CH = ' ';
  int32_t YEAR = 0;
};

// Reads the next record of pedigree.dat into R: 0, or -1 at the end of the
// file when eofok (otherwise the end of the file is condition 24).
int PEDRD(PEDREC& R, bool eofok);

// A single-precision value truncated toward zero to a 32-bit integer. Values
// without a 32-bit integer (minus infinity for NNS = 0, NaN, huge values)
// give the lowest integer, as the hardware conversion does.
inline int32_t ITRUNC(float x) {
  if (!(x >= -2147483648.0f && x < 2147483648.0f)) return INT32_MIN;
  return (int32_t)x;
}

// The eight coefficient blocks A1000 .. A1111.
void BLDBLK(ZELK& Z);
// The block of pedigree code `code` (1000, 1001, ..., 1111).
const Block& BLKSEL(const ZELK& Z, int32_t code);
// Copies the leading N x N part of AMATRX into AOUT, column by column.
void CPYMAT(const Block& AMATRX, Block& AOUT, const int32_t& N);

// YRFREQ and YRCNT to 0.
void ZERYR(ZELK& Z);
// Pass 1 over pedigree.dat: checks, LIST, NNS, YRCNT.
void PASS1(ZELK& Z);
// Position of key in table(1..n), or 0.
int32_t BINSRC(int32_t key, const IDTAB& table, int32_t n);

// The requested numbers of female (K1) and male (K2) groups for NNS bulls.
void KGROUP(int32_t NNS, int32_t& K1, int32_t& K2);
// Groups of one kind from the counts by year in FREQ.
void FRMGRP(YRTAB& FREQ, GRTAB& GRPLST, int32_t& NG, int32_t K, int32_t base, int32_t NNS);
// The female groups, then the male group, with the group report.
void GROUPS(ZELK& Z);
// Refuses a run whose equation numbers would not fit in zelk.coef.
void EQNCHK(int32_t NNS, int32_t NG);

// Pass 2: 25 lines of zelk.coef and one line of sire.list per bull.
void PASS2(ZELK& Z);
// One line of sire.list per group.
void GRPOUT(ZELK& Z);
// The summary and the closing line on the listing.
void SUMMRY(ZELK& Z);
