// The record module: the only door through which zelk and kesta open, read,
// write and end their files.
//
// Files are known by their file number (the "unit" of the condition reports).
// Standard output is always open as file LISTING.
//
// Output files: opening or rewinding marks a file to be cut; the first line
// written after the mark cuts the file right after that line, later lines are
// appended. A file that receives no line keeps its previous content.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// File number of standard output.
constexpr int LISTING = 6;

enum FileKind { TEXTFILE, BINFILE };

// Start of a run: remembers the program's name (the prefix of condition
// reports, "zelk: severe (24): ...") and sets flush-to-zero and
// denormals-are-zero for the whole process.
void RUNSTART(const char* program);

// Opens (creating it empty when missing, never shortening it) the file `name`
// in the working directory under file number `unit`.
void FILOPN(const char* name, int unit, FileKind kind);

// Positions the file at its first record; an output file is marked to be cut.
void FILREW(int unit);

// ---- Items handed to the writers -------------------------------------------

// One value for a write: a 32-bit integer, a single- or double-precision real,
// or a text of fixed length (all its characters, trailing blanks included).
struct Item {
  enum Type { INT, REAL4, REAL8, TEXT } type;
  int32_t i = 0;
  double r = 0;  // a REAL4 holds its exact single-precision value
  std::string_view s;

  Item(int32_t v) : type(INT), i(v) {}
  Item(float v) : type(REAL4), r(widen(v)) {}
  Item(double v) : type(REAL8), r(v) {}
  Item(std::string_view v) : type(TEXT), s(v) {}
  Item(const char* v) : type(TEXT), s(v) {}

  // The exact value of a single-precision real in double precision, also for
  // a subnormal one, which a plain conversion under denormals-are-zero (set
  // by RUNSTART) would turn into zero.
  static double widen(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    if ((b & 0x7f800000u) != 0 || (b & 0x007fffffu) == 0) return v;
    double m = (double)(int32_t)(b & 0x007fffffu) * 0x1p-149;
    return (b >> 31) ? -m : m;
  }
};
using Items = std::vector<Item>;

// ---- Edit formats ----------------------------------------------------------

// A parsed edit format such as "(2I5,F10.6)". Parse each distinct format once
// (a function-local static), then hand it to the writers and readers.
struct Format {
  struct Elem {
    enum Kind { LIT, I, F, A, X, SLASH, GROUP } kind;
    int w = 0, d = 0;        // I, F widths; X count
    int rep = 1;             // repeat count (I, F, A, GROUP)
    std::string lit;         // LIT text (doubled apostrophes already undone)
    std::vector<Elem> body;  // GROUP contents
  };
  std::string text;
  std::vector<Elem> elems;  // top level
  int revert = 0;           // index in elems of the last top-level group (or 0)
  explicit Format(const char* text);
};

// Writes the items through the edit format as one or more lines.
void FMTWRT(int unit, const Format& fmt, const Item* items, int n);
inline void FMTWRT(int unit, const Format& fmt, std::initializer_list<Item> items = {}) {
  FMTWRT(unit, fmt, items.begin(), (int)items.size());
}
inline void FMTWRT(int unit, const Format& fmt, const Items& items) {
  FMTWRT(unit, fmt, items.data(), (int)items.size());
}

// Writes one free-format line from integer and text items (no items: " ").
void LSTWRT(int unit, std::initializer_list<Item> items = {});

// Edits one value by the single Fw.d of `fmt` into `cell` (w characters).
void CELWRT(char* cell, const Format& fmt, double value);

// Edits one value by Fw.d exactly as a write does; for tests and for CELWRT.
std::string EDITF(double x, int w, int d);

// ---- Ends of a run ---------------------------------------------------------

// Normal end: completes and closes every file, exit status 0.
[[noreturn]] void RUNEND();
// End after one of the programs' own fatal messages: as RUNEND, exit status 1,
// so that "zelk && kesta" does not go on after a failed run.
[[noreturn]] void RUNSTOP();
// Unhandled condition with its standard text (24, 38, 41, 59, 64, 67, 179);
// `unit` fills the file fields where the text has them.
[[noreturn]] void RUNERR(int cond, int unit = 0);
// Unhandled condition with a text of the caller's own (already filled in).
[[noreturn]] void RUNERR(int cond, const std::string& text);
// Condition 408: subscript #`subscript` of table `table` has `value`, outside
// the bound `bound` (upper when `upper`, else lower). Exit status 152.
[[noreturn]] void RUNERR408(int subscript, const char* table, long value, long bound, bool upper);

// ---- Items filled by the readers -------------------------------------------

// Where a read puts one value or an array of values.
struct InItem {
  enum Type { INT, REAL4, REAL8, TEXT } type;
  void* p;
  int64_t n;    // number of values
  int len = 0;  // TEXT: characters per value
};
inline InItem in(int32_t& x) { return {InItem::INT, &x, 1}; }
inline InItem in(float& x) { return {InItem::REAL4, &x, 1}; }
inline InItem in(double& x) { return {InItem::REAL8, &x, 1}; }
inline InItem in(int32_t* p, int64_t n) { return {InItem::INT, p, n}; }
inline InItem in(float* p, int64_t n) { return {InItem::REAL4, p, n}; }
inline InItem in(double* p, int64_t n) { return {InItem::REAL8, p, n}; }
// n texts of `len` characters each, one after the other.
inline InItem intext(char* p, int len, int64_t n = 1) { return {InItem::TEXT, p, n, len}; }

// Reads the next line through the edit format: 0, or -1 (items unchanged)
// when no line is left.
int FMTRD(int unit, const Format& fmt, std::initializer_list<InItem> items);

// Reads one free-format record: 0, or -1 at the end of the file when
// `eof_ok`; otherwise the end of the file is condition 24.
int LSTRD(int unit, std::initializer_list<InItem> items, bool eof_ok);

// Reads the next whole binary record into the items (24 when none is left,
// 67 when it is too short).
void BINRD(int unit, std::initializer_list<InItem> items);
