// The readers: FMTRD through "(2I5,F10.6)", LSTRD free-format records and
// BINRD sequential binary records, with their ends of file and conditions.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "records/records.h"
#include "records_child.h"
#include "support/passdat.h"

using recchild::Child;
using recchild::note;
using recchild::run_child;
using recchild::TempDir;

namespace {

std::string fmt_float(float x) {
  char b[64];
  std::snprintf(b, sizeof b, "%.9g", (double)x);
  return b;
}

// ---- FMTRD ----------------------------------------------------------------------

// Reads zelk.coef to its end in a child; one note per read: "i j x", and
// "end i j x" for the -1 that ends the loop (the items as it left them).
Child read_coef(const TempDir& dir) {
  return run_child(dir, "kesta", [] {
    static const Format f("(2I5,F10.6)");
    FILOPN("zelk.coef", 11, TEXTFILE);
    int32_t i = -7, j = -7;
    float x = -7;
    for (;;) {
      int rc = FMTRD(11, f, {in(i), in(j), in(x)});
      note((rc == -1 ? "end " : "") + std::to_string(i) + " " + std::to_string(j) + " " + fmt_float(x));
      if (rc == -1) break;
    }
  });
}

TEST(RecordsFmtrd, FieldRules) {
  struct C {
    const char* line;
    const char* want;
  } cases[] = {
      {"    1    2  1.500000", "1 2 1.5"},
      {"    3    4   1000000", "3 4 1"},          // no '.': the last 6 digits are decimals
      {"  1 2    3", "12 3 0"},                  // blanks ignored; a short line reads as blanks
      {"", "0 0 0"},                             // an empty line
      {"    1    2 1.5E1", "1 2 15"},
      {"    1    2   1.5e+1", "1 2 15"},
      {"    1    2   1.5D-1", "1 2 0.150000006"},
      {"    1    2    1.5d2", "1 2 150"},
      {"    1    2     1.5+2", "1 2 150"},        // the sign-only exponent form
      {"    1    2     1.5-2", "1 2 0.0149999997"},
      {"    1    2      25-1", "1 2 2.49999994e-06"},  // 25e-6, scaled by the exponent
      {"    1    215000000E1", "1 2 150"},
      {"   -5   +6 -0.250000", "-5 6 -0.25"},
      {"    7    8 1 2 3 . 5", "7 8 123.5"},
      {"    9   10       0.1", "9 10 0.100000001"},   // rounded once, to single precision
      {"   11   12  3.14159265358979", "11 12 3.14159203"},  // columns after the last field are ignored
      {"    -    +         -", "0 0 0"},        // a lone sign reads as zero
      {"99999-9999 -.5", "99999 -9999 -0.5"},
      {"   13   14  0.750000\r", "13 14 0.75"},   // CR LF
  };
  std::string file, want;
  for (const C& c : cases) {
    file += std::string(c.line) + "\n";
    want += std::string(c.want) + "\n";
  }
  TempDir dir;
  dir.write("zelk.coef", file);
  Child c = read_coef(dir);
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.notes, want + "end 13 14 0.75\n");
}

// Random real fields against the exact conversion of their digits, read
// into single- and double-precision items: every value correctly rounded.
TEST(RecordsFmtrd, RealFieldsRoundCorrectly) {
  std::mt19937 g(4242);
  std::string file;
  std::vector<float> want4;
  std::vector<double> want8;
  for (int k = 0; k < 3000; ++k) {
    std::string digits;
    int nd = 1 + (int)(g() % 9);
    for (int j = 0; j < nd; ++j) digits.push_back((char)('0' + g() % 10));
    bool point = g() % 3 != 0;
    int at = (int)(g() % (nd + 1));
    bool neg = g() % 2;
    int exp = g() % 4 == 0 ? (int)(g() % 31) - 15 : 0;
    std::string field = (neg ? "-" : "") + (point ? digits.substr(0, at) + "." + digits.substr(at) : digits);
    if (exp != 0) field += (exp < 0 ? "E" : "E+") + std::to_string(exp);
    if (field.size() > 10) continue;
    // The value: the digits, scaled by the decimals (6 without a point) and the exponent.
    int scale = exp - (point ? nd - at : 6);
    std::string exact = (neg ? "-" : "") + digits + "e" + std::to_string(scale);
    want4.push_back(std::strtof(exact.c_str(), nullptr));
    want8.push_back(std::strtod(exact.c_str(), nullptr));
    file += "    1    2" + std::string(10 - field.size(), ' ') + field + "\n";
  }
  TempDir dir;
  dir.write("zelk.coef", file);
  Child c = run_child(dir, "kesta", [] {
    static const Format f("(2I5,F10.6)");
    FILOPN("zelk.coef", 11, TEXTFILE);
    int32_t i, j;
    float x;
    double y;
    char b[64];
    while (FMTRD(11, f, {in(i), in(j), in(x)}) == 0) {
      std::snprintf(b, sizeof b, "%a", (double)x);
      note(b);
    }
    FILREW(11);
    while (FMTRD(11, f, {in(i), in(j), in(y)}) == 0) {
      std::snprintf(b, sizeof b, "%a", y);
      note(b);
    }
  });
  ASSERT_EQ(c.status, 0) << c.err;
  std::string want;
  char b[64];
  for (float x : want4) std::snprintf(b, sizeof b, "%a\n", (double)x), want += b;
  for (double y : want8) std::snprintf(b, sizeof b, "%a\n", y), want += b;
  EXPECT_EQ(c.notes, want);
}

TEST(RecordsFmtrd, LastLineWithoutLfAndRewind) {
  TempDir dir;
  dir.write("zelk.coef", "    1    1  2.000000\r\n    1    2 -0.500000");
  Child c = run_child(dir, "kesta", [] {
    static const Format f("(2I5,F10.6)");
    FILOPN("zelk.coef", 11, TEXTFILE);
    for (int pass = 1; pass <= 2; ++pass) {
      int32_t i = 0, j = 0;
      float x = 0;
      int n = 0;
      while (FMTRD(11, f, {in(i), in(j), in(x)}) == 0) ++n;
      note(std::to_string(n) + " " + std::to_string(i) + " " + std::to_string(j) + " " + fmt_float(x));
      FILREW(11);
    }
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.notes, "2 1 2 -0.5\n2 1 2 -0.5\n");
  EXPECT_EQ(dir.read("zelk.coef"), "    1    1  2.000000\r\n    1    2 -0.500000");  // reading writes nothing
}

TEST(RecordsFmtrd, EmptyFile) {
  TempDir dir;
  Child c = read_coef(dir);  // created empty by the open
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.notes, "end -7 -7 -7\n");
}

TEST(RecordsFmtrd, BadCharacterIsCondition64) {
  for (const char* line : {"    1    2  x", "   1a    2  1.0", "  1.5    2  1.0", "    1\t   2  1.0", "    1    2 1.5.5",
                           "    1    2  1.5E", "    1    2  --1.5"}) {
    SCOPED_TRACE(line);
    TempDir dir;
    dir.write("zelk.coef", std::string("    1    1  1.000000\n") + line + "\n");
    Child c = read_coef(dir);
    EXPECT_EQ(c.status, 64);
    EXPECT_EQ(c.notes, "1 1 1\n");
    EXPECT_EQ(c.err, "kesta: severe (64): input conversion error, unit 11, file " + dir.path + "/zelk.coef\n");
  }
}

// An item that does not suit its descriptor is condition 61, before anything
// is stored; a text item under F gets no number written over its characters.
TEST(RecordsFmtrd, ItemThatDoesNotSuitItsDescriptorIsCondition61) {
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    TempDir dir;
    dir.write("zelk.coef", "    1    2  1.500000\n");
    Child c = run_child(dir, "kesta", [kind] {
      static const Format f("(2I5,F10.6)");
      FILOPN("zelk.coef", 11, TEXTFILE);
      int32_t i = 0, j = 0;
      float x = 0;
      char t[2] = {'?', '#'};
      if (kind == 0) FMTRD(11, f, {in(i), in(j), intext(t, 1)});
      if (kind == 1) FMTRD(11, f, {in(i), in(x), in(x)});
      if (kind == 2) FMTRD(11, f, {in(i), in(j), in(j)});
      note("not reached");
    });
    EXPECT_EQ(c.status, 61);
    EXPECT_EQ(c.notes, "");
    EXPECT_EQ(c.err, "kesta: severe (61): format/variable-type mismatch, unit 11, file " + dir.path + "/zelk.coef\n");
  }
}

// ---- LSTRD ----------------------------------------------------------------------

// Reads pedigree.dat with zelk's items (four integers, a text of one
// character, one integer) until the end; one note per record.
Child read_pedigree(const TempDir& dir, bool eof_ok = true) {
  return run_child(dir, "zelk", [eof_ok] {
    FILOPN("pedigree.dat", 10, TEXTFILE);
    int32_t a = -1, b = -1, c = -1, d = -1, y = -1;
    char t = '?';
    for (;;) {
      int rc = LSTRD(10, {in(a), in(b), in(c), in(d), intext(&t, 1), in(y)}, eof_ok);
      std::string s = std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " " +
                      std::to_string(d) + " " + t + " " + std::to_string(y);
      note(rc == -1 ? "end " + s : s);
      if (rc == -1) break;
    }
  });
}

TEST(RecordsLstrd, RecordForms) {
  struct C {
    const char* what;
    const char* file;
    const char* notes;
  } cases[] = {
      {"blanks, commas, quotes read alike", "101 0 0 0 A 1990\n205,101,0,0,A,1995\n310 205 101 0 'A' 2000\n",
       "101 0 0 0 A 1990\n205 101 0 0 A 1995\n310 205 101 0 A 2000\nend 310 205 101 0 A 2000\n"},
      {"tabs, double quotes, CR LF, CR between values", "310\t205\t101 0 \"C\" 2000.0\r\n320\r0 0 0 D 2001\r\n",
       "310 205 101 0 C 2000\n320 0 0 0 D 2001\nend 320 0 0 0 D 2001\n"},
      {"a record over two lines, empty lines between", "101 0 0\n\n   \n0 A 1990\n",
       "101 0 0 0 A 1990\nend 101 0 0 0 A 1990\n"},
      {"the rest of the line is ignored", "101 0 0 0 A 1990 extra\n102 0 0 0 B 1991, 7 / x\n",
       "101 0 0 0 A 1990\n102 0 0 0 B 1991\nend 102 0 0 0 B 1991\n"},
      {"a null value keeps the previous value", "1 2 3 4 A 5\n205,101,,0,B,1995\n206,101, ,0,C,1996\n",
       "1 2 3 4 A 5\n205 101 3 0 B 1995\n206 101 3 0 C 1996\nend 206 101 3 0 C 1996\n"},
      {"a comma after a line end separates", "1 2\n, 3 4 A 5\n", "1 2 3 4 A 5\nend 1 2 3 4 A 5\n"},
      {"a slash ends the record", "1 2 3 4 A 5\n205 101 / 9 9 9\n206 102/\n207 0 0 0 B 1999\n",
       "1 2 3 4 A 5\n205 101 3 4 A 5\n206 102 3 4 A 5\n207 0 0 0 B 1999\nend 207 0 0 0 B 1999\n"},
      {"repeat counts", "320 3*0 D 2001\n1 2 3 4 A 5\n2*7 2* Q 9\n4*1 1*'B' 1*8\n6*\n",
       "320 0 0 0 D 2001\n1 2 3 4 A 5\n7 7 3 4 Q 9\n1 1 1 1 B 8\n1 1 1 1 B 8\nend 1 1 1 1 B 8\n"},
      {"numbers truncated toward zero", "12.7 -5.9 1e3 12.0 A +7\n-0.5 .5 2.5D1 1q2 A -2147483648\n2147483647.9 0 0 0 A 0\n",
       "12 -5 1000 12 A 7\n0 0 25 100 A -2147483648\n2147483647 0 0 0 A 0\nend 2147483647 0 0 0 A 0\n"},
      {"a one-character text keeps the first character", "101 0 0 0 AB 1990\n102 0 0 0 'XY Z' 1991\n",
       "101 0 0 0 A 1990\n102 0 0 0 X 1991\nend 102 0 0 0 X 1991\n"},
      {"a file of empty lines", "\n\n   \n\t\n", "end -1 -1 -1 -1 ? -1\n"},
      {"an empty file", "", "end -1 -1 -1 -1 ? -1\n"},
      {"a last record broken off keeps what it read", "101 0 0 0 A 1990\n102 7 8\n",
       "101 0 0 0 A 1990\nend 102 7 8 0 A 1990\n"},
  };
  for (const C& cs : cases) {
    SCOPED_TRACE(cs.what);
    TempDir dir;
    dir.write("pedigree.dat", cs.file);
    Child c = read_pedigree(dir);
    EXPECT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(c.notes, cs.notes);
  }
}

// "205 101 , 0 A 1995": the comma and its blanks are one separator, so the
// record has five values; with six integer items the sixth comes from the
// next line.
TEST(RecordsLstrd, CommaWithBlanksIsOneSeparator) {
  TempDir dir;
  dir.write("pedigree.dat", "205 101 , 0 7 1995\n8 9\n");
  Child c = run_child(dir, "zelk", [] {
    FILOPN("pedigree.dat", 10, TEXTFILE);
    int32_t v[6] = {-1, -1, -1, -1, -1, -1};
    LSTRD(10, {in(v, 6)}, false);
    std::string s;
    for (int32_t x : v) s += std::to_string(x) + " ";
    note(s);
    note(std::to_string(LSTRD(10, {in(v, 1)}, true)));  // the record ended on "8 9": nothing is left
  });
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.notes, "205 101 0 7 1995 8 \n-1\n");
}

// Quoted texts: both quote kinds, the quote doubled, over line ends, and the
// characters that end an unquoted value.
TEST(RecordsLstrd, Texts) {
  TempDir dir;
  dir.write("names.dat",
            "'it''s' 1\n"
            "\"say \"\"hi\"\"\" 2\n"
            "'ab\ncd' 3\n"
            "'a, b/c' 4\n"
            "abc,5\n"
            "ab/cd 6\n"
            "'' 7\n"
            "2*'xy' 8\n"
            "TOOLONGTEXT 9\n");
  Child c = run_child(dir, "zelk", [] {
    FILOPN("names.dat", 10, TEXTFILE);
    char t[9] = "????????", u[9] = "????????";
    int32_t k = -1;
    for (int n = 0; n < 9; ++n) {
      if (n == 7) {
        LSTRD(10, {intext(t, 8), intext(u, 8), in(k)}, false);
        note(std::string("[") + t + "] [" + u + "] " + std::to_string(k));
      } else {
        LSTRD(10, {intext(t, 8), in(k)}, false);
        note(std::string("[") + t + "] " + std::to_string(k));
      }
    }
  });
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.notes,
            "[it's    ] 1\n"
            "[say \"hi\"] 2\n"
            "[abcd    ] 3\n"
            "[a, b/c  ] 4\n"
            "[abc     ] 5\n"
            "[ab      ] 5\n"  // '/' ends the record: the integer keeps its value
            "[        ] 7\n"
            "[xy      ] [xy      ] 8\n"
            "[TOOLONGT] 9\n");
}

// Real items (the module reads them, though the system's free-format file
// holds none): each value converted once, to the item's own precision.
TEST(RecordsLstrd, RealItems) {
  TempDir dir;
  dir.write("reals.dat", "1.000000059604644775390626 0.1 2.5e1 1d2 -3Q0 ,,\n0x10\n");
  Child c = run_child(dir, "zelk", [] {
    FILOPN("reals.dat", 10, TEXTFILE);
    float a = 0, b = 0;
    double x[4] = {0, 0, 0, 7};
    LSTRD(10, {in(a), in(b), in(x, 4)}, false);
    char buf[200];
    std::snprintf(buf, sizeof buf, "%a %a %g %g %g %g", (double)a, (double)b, x[0], x[1], x[2], x[3]);
    note(buf);
    LSTRD(10, {in(a)}, false);
  });
  EXPECT_EQ(c.notes, "0x1.000002p+0 0x1.99999ap-4 25 100 -3 7\n");  // above the midpoint: rounded up, not to even
  EXPECT_EQ(c.status, 59);                                               // a hexadecimal form is no number here
}

// Malformed values and ends of file.
TEST(RecordsLstrd, Conditions) {
  std::string long_value(2050, '7'), max_value = "'" + std::string(2049, 'Z') + "'";
  struct C {
    std::string file;
    bool eof_ok;
    int status;
    const char* text;  // the condition's text before ", unit"
    const char* notes;
  } cases[] = {
      {"12a 0 0 0 A 1990\n", true, 59, "list-directed I/O syntax error", ""},
      {"101 0 0 0 A 19x0\n", true, 59, "list-directed I/O syntax error", ""},
      {"205 101 , 0 A 1995\n", true, 59, "list-directed I/O syntax error", ""},  // "A" meets the fourth integer
      {"+ 0 0 0 A 1990\n", true, 59, "list-directed I/O syntax error", ""},
      {"1 0 0 0 'A 1990\n", true, 59, "list-directed I/O syntax error", ""},  // the file ends inside the quotes
      {"1 0 0 " + long_value + " A 1990\n", true, 59, "list-directed I/O syntax error", ""},
      {"1 0 0 0 " + max_value + " 5\n1 0 0 0 '" + std::string(2050, 'Z') + "' 5\n", true, 59,
       "list-directed I/O syntax error", "1 0 0 0 Z 5\n"},
      {"1 0 0 0 'A' 2147483648\n", true, 64, "input conversion error", ""},
      {"1 0 0 0 A -1e10\n", true, 64, "input conversion error", ""},
      {"101 0 0 0 A 1990\n", false, 24, "end-of-file during read", "101 0 0 0 A 1990\n"},
      {"101 0 0 0 A 1990\n102 7 8\n", false, 24, "end-of-file during read", "101 0 0 0 A 1990\n"},
      {"", false, 24, "end-of-file during read", ""},
  };
  for (const C& cs : cases) {
    SCOPED_TRACE(cs.file.substr(0, 40));
    TempDir dir;
    dir.write("pedigree.dat", cs.file);
    Child c = read_pedigree(dir, cs.eof_ok);
    EXPECT_EQ(c.status, cs.status);
    EXPECT_EQ(c.err, std::string("zelk: severe (") + std::to_string(cs.status) + "): " + cs.text + ", unit 10, file " +
                         dir.path + "/pedigree.dat\n");
    EXPECT_EQ(c.notes, cs.notes);
  }
}

TEST(RecordsLstrd, RewindStartsAgain) {
  TempDir dir;
  dir.write("pedigree.dat", "101 0 0 0 A 1990\n205 101 0 0 B 1995");
  Child c = run_child(dir, "zelk", [] {
    FILOPN("pedigree.dat", 10, TEXTFILE);
    int32_t a, b, d, e, y;
    char t;
    for (int pass = 1; pass <= 2; ++pass) {
      int n = 0;
      while (LSTRD(10, {in(a), in(b), in(d), in(e), intext(&t, 1), in(y)}, pass == 1) == 0) {
        ++n;
        if (pass == 2 && n == 2) break;  // the second pass reads exactly the records counted
      }
      note(std::to_string(n) + " " + std::to_string(a) + " " + t);
      FILREW(10);
    }
  });
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.notes, "2 205 B\n2 205 B\n");
}

// ---- BINRD ------------------------------------------------------------------------

std::string ints(std::initializer_list<int32_t> v) { return raw(v.begin(), v.size()); }

TEST(RecordsBinrd, RecordsAndItems) {
  TempDir dir;
  float f = 1.5f;
  double dv[2] = {-2.25, 1e300};
  std::string data = ints({3}) + raw(&f, 1) + raw(dv, 2) + "TRAIT001" + ints({-1, 7});
  dir.write("pass.dat", binrec(ints({7, 8, 9})) + binrec(data) + binrec("") + binrec(ints({42})));
  Child c = run_child(dir, "kesta", [] {
    FILOPN("pass.dat", 10, BINFILE);
    for (int pass = 1; pass <= 2; ++pass) {
      int32_t a = 0, k = 0, arr[2] = {0, 0};
      float x = 0;
      double y[2] = {0, 0};
      char name[9] = {};
      BINRD(10, {in(a)});  // 12 data bytes, one item: the other 8 are skipped
      BINRD(10, {in(k), in(x), in(y, 2), intext(name, 8), in(arr, 2)});
      BINRD(10, {});  // a record of no data
      int32_t last = 0;
      BINRD(10, {in(last)});
      char b[200];
      std::snprintf(b, sizeof b, "%d %d %g %g %g %s %d %d %d", a, k, (double)x, y[0], y[1], name, arr[0], arr[1], last);
      note(b);
      FILREW(10);
    }
  });
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.notes, "7 3 1.5 -2.25 1e+300 TRAIT001 -1 7 42\n7 3 1.5 -2.25 1e+300 TRAIT001 -1 7 42\n");
}

TEST(RecordsBinrd, Conditions) {
  std::string rec12 = binrec(ints({7, 8, 9}));
  std::string twelve = ints({12});
  struct C {
    const char* what;
    std::string file;
    int items;  // 4-byte integer items of the read after the first record
    int status;
    const char* text;
  } cases[] = {
      {"four items from 12 bytes", rec12 + rec12, 4, 67, "input statement requires too much data"},
      {"one item from an empty record", rec12 + binrec(""), 1, 67, "input statement requires too much data"},
      {"no record left", rec12, 1, 24, "end-of-file during read"},
      {"the file ends inside a record", rec12 + twelve + ints({1}), 1, 39, "error during read"},
      {"the file ends inside the length word", rec12 + twelve.substr(0, 2), 1, 39, "error during read"},
      {"the file ends before the trailing word", rec12 + twelve + ints({1, 2, 3}), 1, 39, "error during read"},
      {"the trailing word disagrees", rec12 + twelve + ints({1, 2, 3, 16}), 1, 39, "error during read"},
      {"a length beyond the largest record", rec12 + ints({-1}) + ints({1, 2, 3, -1}), 1, 39, "error during read"},
  };
  for (const C& cs : cases) {
    SCOPED_TRACE(cs.what);
    TempDir dir;
    dir.write("pass.dat", cs.file);
    int items = cs.items;
    Child c = run_child(dir, "kesta", [items] {
      FILOPN("pass.dat", 10, BINFILE);
      int32_t v[4];
      BINRD(10, {in(v, 3)});
      note("first");
      BINRD(10, {in(v, items)});
      note("second");
    });
    EXPECT_EQ(c.status, cs.status);
    EXPECT_EQ(c.notes, "first\n");
    EXPECT_EQ(c.err, std::string("kesta: severe (") + std::to_string(cs.status) + "): " + cs.text + ", unit 10, file " +
                         dir.path + "/pass.dat\n");
  }
}

}  // namespace
