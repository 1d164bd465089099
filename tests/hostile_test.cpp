// Hostile input and failing outputs, through the real programs.
//
// pass.dat cut short at every record and inside records, with length words
// and counts that do not fit its records, with NaN and infinities; zelk.coef
// and pedigree.dat holding garbage, odd numbers and overlong text; outputs
// that cannot be written (a full device, a directory in their place, a file
// size limit). Every case checks the expected message or condition report
// and exit status, that the error stream holds nothing else (no sanitizer
// report), and that every output file either keeps its previous content
// (each is seeded with a sentinel line) or holds whole lines only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "support/passdat.h"
#include "support/run.h"

namespace fs = std::filesystem;

namespace {

const std::string SENTINEL = "SENTINEL LINE OF AN EARLIER RUN\n";
const std::vector<std::string> KESTA_OUT = {"sire.pta", "sire.rel", "genphen.cor", "genetic.cor",
                                            "environment.cor"};
const std::vector<std::string> ZELK_OUT = {"zelk.coef", "sire.list"};

// Two traits, eight sires, two groups: a run that goes through to the end.
const std::string CASE = std::string(FIXTURES_DIR) + "/kesta-final/two-traits-two-groups";
std::string fixture(const std::string& name) { return read_file(CASE, name); }

// ---- pass.dat as a list of records ------------------------------------------

using Records = std::vector<std::string>;  // the data of each record

Records records_of(const std::string& bytes) {
  Records r;
  size_t at = 0;
  while (at + 4 <= bytes.size()) {
    uint32_t n;
    std::memcpy(&n, bytes.data() + at, 4);
    r.push_back(bytes.substr(at + 4, n));
    at += 8 + n;
  }
  return r;
}

std::string join(const Records& r) {
  std::string s;
  for (const std::string& d : r) s += binrec(d);
  return s;
}

const Records& base_records() {
  static const Records r = records_of(fixture("pass.dat"));
  return r;
}

// Record k (1-based) with value number idx (0-based) replaced.
std::string with_double(int k, size_t idx, double v) {
  Records r = base_records();
  std::memcpy(&r[k - 1][8 * idx], &v, 8);
  return join(r);
}
std::string with_int(int k, size_t idx, int32_t v) {
  Records r = base_records();
  std::memcpy(&r[k - 1][4 * idx], &v, 4);
  return join(r);
}
// The whole file with the 4 bytes at `at` replaced by a length word.
std::string with_word(size_t at, uint32_t v) {
  std::string s = join(base_records());
  std::memcpy(&s[at], &v, 4);
  return s;
}
// Byte offset of record k's leading length word.
size_t record_at(int k) {
  size_t at = 0;
  for (int j = 1; j < k; ++j) at += 8 + base_records()[j - 1].size();
  return at;
}

// ---- Running and checking ---------------------------------------------------

bool whole_lines(const std::string& s) { return s.empty() || s.back() == '\n'; }

bool sanitizer_report(const std::string& err) {
  return err.find("AddressSanitizer") != std::string::npos || err.find("runtime error") != std::string::npos ||
         err.find("LeakSanitizer") != std::string::npos;
}

std::string cond_text(int cond) {
  switch (cond) {
    case 24: return "end-of-file during read";
    case 30: return "open failure";
    case 38: return "error during write";
    case 39: return "error during read";
    case 59: return "list-directed I/O syntax error";
    case 64: return "input conversion error";
    case 67: return "input statement requires too much data";
    default: return "?";
  }
}

// Runs `exe` in `dir` like run_in, with the size of every file it writes
// limited to `limit` bytes (a disk that fills up); SIGXFSZ is ignored, so
// the write that passes the limit fails with EFBIG.
RunResult run_limited(const std::string& dir, const std::string& exe, rlim_t limit) {
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    int in = open("/dev/null", O_RDONLY);
    int out = open(".stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0), dup2(out, 1), dup2(err, 2);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(127);
    execl(exe.c_str(), exe.c_str(), (char*)nullptr);
    _exit(127);
  }
  int rc = 0;
  waitpid(pid, &rc, 0);
  RunResult r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = read_file(dir, ".stdout");
  r.err = read_file(dir, ".stderr");
  fs::remove(dir + "/.stdout");
  fs::remove(dir + "/.stderr");
  return r;
}

class Hostile : public ::testing::Test {
 protected:
  std::string dir = make_tempdir();
  void TearDown() override { fs::remove_all(dir); }
  std::string path(const std::string& name) { return fs::canonical(dir).string() + "/" + name; }
  void seed(const std::vector<std::string>& outs) {
    for (const std::string& f : outs) write_file(dir, f, SENTINEL);
  }
  // The report line of a condition naming a file of the run.
  std::string report(const char* prog, int cond, int unit, const std::string& name) {
    return std::string(prog) + ": severe (" + std::to_string(cond) + "): " + cond_text(cond) + ", unit " +
           std::to_string(unit) + ", file " + path(name) + "\n";
  }
  RunResult kesta(const std::string& pass, const std::string& coef) {
    write_file(dir, "pass.dat", pass);
    write_file(dir, "zelk.coef", coef);
    seed(KESTA_OUT);
    return run_in(dir, KESTA_BIN);
  }
  // What a clean end leaves, whatever the case: a listing of whole lines and
  // every output either as it was or of whole lines.
  void clean(const RunResult& r, const std::vector<std::string>& outs) {
    EXPECT_FALSE(sanitizer_report(r.err)) << r.err;
    EXPECT_TRUE(whole_lines(r.out));
    for (const std::string& f : outs) {
      if (!fs::is_regular_file(dir + "/" + f)) continue;
      EXPECT_TRUE(whole_lines(read_file(dir, f))) << f;
    }
  }
  void untouched(const std::vector<std::string>& outs) {
    for (const std::string& f : outs) EXPECT_EQ(read_file(dir, f), SENTINEL) << f;
  }
};

// The outputs of the unchanged case, for the cases that must give the same.
struct Baseline {
  RunResult run;
  std::vector<std::string> files;
};
const Baseline& kesta_baseline() {
  static const Baseline b = [] {
    Baseline x;
    std::string d = make_tempdir();
    write_file(d, "pass.dat", fixture("pass.dat"));
    write_file(d, "zelk.coef", fixture("zelk.coef"));
    x.run = run_in(d, KESTA_BIN);
    for (const std::string& f : KESTA_OUT) x.files.push_back(read_file(d, f));
    fs::remove_all(d);
    return x;
  }();
  return b;
}

std::string last_line(const std::string& s) {
  if (s.empty()) return "";
  size_t e = s.size() - 1, b = s.rfind('\n', e - 1);
  return s.substr(b == std::string::npos ? 0 : b + 1, e - (b == std::string::npos ? 0 : b + 1));
}

bool starts_with(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }

// ---- pass.dat cut short -----------------------------------------------------

// At every record boundary the next read finds no record (24); inside a
// length word, inside the data or inside the trailing length word the file
// ends inside a record (39). The run ends in the first reading, before any
// output file receives a line.
TEST_F(Hostile, PassDatCutAtEveryRecordBoundaryAndInsideEachRecord) {
  ASSERT_EQ(kesta_baseline().run.status, 0);
  const std::string whole = join(base_records());
  const int nrec = (int)base_records().size();
  for (int k = 1; k <= nrec; ++k) {
    const size_t at = record_at(k), n = base_records()[k - 1].size();
    struct Cut {
      size_t len;
      int cond;
    };
    std::vector<Cut> cuts = {{at, 24}, {at + 2, 39}, {at + 4 + n + 2, 39}};
    if (n > 1) cuts.push_back({at + 4 + n / 2, 39});
    for (const Cut& c : cuts) {
      SCOPED_TRACE("record " + std::to_string(k) + ", " + std::to_string(c.len) + " bytes");
      RunResult r = kesta(whole.substr(0, c.len), fixture("zelk.coef"));
      EXPECT_EQ(r.status, c.cond);
      EXPECT_EQ(r.err, report("kesta", c.cond, 10, "pass.dat"));
      EXPECT_TRUE(starts_with(kesta_baseline().run.out, r.out)) << r.out;
      clean(r, KESTA_OUT);
      untouched(KESTA_OUT);
    }
  }
}

// ---- pass.dat records that do not fit ---------------------------------------

struct PassCase {
  const char* name;
  std::string bytes;
  int status;
  int cond;               // condition on unit 10, or 0 for none
  const char* last;       // the last line of the listing
  bool through;           // ran to its end: outputs of whole lines; else untouched
};

class HostilePass : public Hostile, public ::testing::WithParamInterface<PassCase> {};

TEST_P(HostilePass, EndsWithItsMessageOrCondition) {
  const PassCase& c = GetParam();
  RunResult r = kesta(c.bytes, fixture("zelk.coef"));
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.err, c.cond ? report("kesta", c.cond, 10, "pass.dat") : "");
  EXPECT_EQ(last_line(r.out), c.last);
  clean(r, KESTA_OUT);
  if (!c.through) untouched(KESTA_OUT);
}

const char* const NOT_FINITE = "0SIRE OR ERROR COVARIANCE NOT A NUMBER OR INFINITE AFTER REML ROUNDS";
const char* const COMPLETED = " Program KESTA completed normally";
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

// Records: 1-3 counts, 4 names, 5 SIRRHS, 6 WSSPK/YMYPK/df counts, 7-14 the
// columns of W, 15 SIREID/SIREGR, 16 SIRGRP, 17 GRPMAT/GRPRHS/BASEEN.
INSTANTIATE_TEST_SUITE_P(
    Records, HostilePass,
    ::testing::Values(
        // Length words.
        PassCase{"TrailingWordDisagrees", with_word(record_at(6) + 4 + 60, 61), 39, 39, " ", false},
        PassCase{"LeadingWordBeyondTheFile", with_word(record_at(5), 1000000), 39, 39, " ", false},
        PassCase{"LeadingWordAboveTheLimit", with_word(record_at(5), 0x7fffffffu), 39, 39, " ", false},
        PassCase{"LeadingWordAllOnes", with_word(record_at(1), 0xffffffffu), 39, 39, " ", false},
        PassCase{"CountRecordWithoutData",
                 [] {
                   Records r = base_records();
                   r[1].clear();
                   return join(r);
                 }(),
                 67, 67, " ", false},
        // Counts that do not fit the records that follow.
        PassCase{"MoreSiresThanTheRecordsHold", with_int(2, 0, 9), 67, 67, " ", false},
        PassCase{"FewerSiresReadTheGroupRecordAsTheirGroups", with_int(2, 0, 4), 1, 0,
                 "0GROUP NUMBER BELOW 1 FOR SIRE     2, SIREGR = -1075005493", false},
        PassCase{"ManyGroupsFindTheirBlockShort", with_int(3, 0, 50), 67, 67, " INVERSION OF CHOLESKY MATRIX DONE",
                 false},
        PassCase{"NoGroupsPassOverTheGroupBlocks", with_int(3, 0, 0), 0, 0, COMPLETED, true},
        PassCase{"GroupNumberFarAboveTheGroups", with_int(15, 8, 1000000), 0, 0, COMPLETED, true},
        // Non-finite values: the REML rounds end and the run stops on them.
        PassCase{"NanOnTheDiagonalOfW", with_double(7, 0, NaN), 1, 0, NOT_FINITE, false},
        PassCase{"InfinityOnTheDiagonalOfW", with_double(7, 0, Inf), 1, 0, NOT_FINITE, false},
        PassCase{"NanOffTheDiagonalOfW", with_double(7, 3, NaN), 1, 0, NOT_FINITE, false},
        PassCase{"NanInTheRightHandSides", with_double(5, 0, NaN), 1, 0, NOT_FINITE, false},
        PassCase{"MinusInfinityInTheRightHandSides", with_double(5, 9, -Inf), 1, 0, NOT_FINITE, false},
        PassCase{"NanInTheWithinSubclassMatrix", with_double(6, 0, NaN), 1, 0, NOT_FINITE, false},
        PassCase{"NanInTheSumsOfSquares", with_double(6, 3, NaN), 1, 0, NOT_FINITE, false},
        PassCase{"InfinityInTheSumsOfSquares", with_double(6, 3, Inf), 1, 0,
                 "0DIAGONAL ELEMENT = 0 ENCOUNTERED IN SUBR INVRT", false},
        PassCase{"NanInTheGroupBlock", with_double(17, 0, NaN), 1, 0, NOT_FINITE, false},
        PassCase{"NanInTheSireByGroupBlock", with_double(16, 0, NaN), 1, 0, NOT_FINITE, false},
        PassCase{"NanInTheGroupRightHandSides", with_double(17, 4, NaN), 1, 0, NOT_FINITE, false},
        // A within-subclass matrix that is not positive definite.
        PassCase{"WithinSubclassNotPositiveDefinite",
                 [] {
                   Records r = base_records();
                   const double v[3] = {1.0, 2.0, 1.0};
                   std::memcpy(&r[5][0], v, sizeof v);
                   return join(r);
                 }(),
                 1, 0, NOT_FINITE, false},
        PassCase{"NegativeWithinSubclassVariance", with_double(6, 0, -1.0), 1, 0, NOT_FINITE, false}),
    [](const auto& i) { return std::string(i.param.name); });

// ---- zelk.coef --------------------------------------------------------------

struct CoefCase {
  const char* name;
  std::string text;
  int status;
  int cond;      // condition on unit 11, or 0
  bool same;     // the same results as the unchanged case (lines passed over)
  const char* last;
};

class HostileCoef : public Hostile, public ::testing::WithParamInterface<CoefCase> {};

// Outside the A-inverse, a line is passed over (and counted); a character
// that belongs to no number in a field is condition 64 right after the
// within-subclass report.
TEST_P(HostileCoef, EndsWithItsMessageOrCondition) {
  const CoefCase& c = GetParam();
  RunResult r = kesta(fixture("pass.dat"), c.text);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.err, c.cond ? report("kesta", c.cond, 11, "zelk.coef") : "");
  EXPECT_EQ(last_line(r.out), c.last);
  clean(r, KESTA_OUT);
  if (c.same) {
    for (size_t k = 0; k < KESTA_OUT.size(); ++k)
      EXPECT_EQ(read_file(dir, KESTA_OUT[k]), kesta_baseline().files[k]) << KESTA_OUT[k];
  } else if (c.status != 0) {
    untouched(KESTA_OUT);
  }
}

std::string coef_plus(const std::string& head) { return head + fixture("zelk.coef"); }

std::string overlong_first_line() {
  std::string c = fixture("zelk.coef");
  return c.insert(c.find('\n'), std::string(100000, ' ') + "trailing text past the fields");
}

std::string cr_lf() {
  std::string c, f = fixture("zelk.coef");
  for (char ch : f) {
    if (ch == '\n') c += '\r';
    c += ch;
  }
  return c;
}

std::string all_bytes() {
  std::string s;
  for (int k = 0; k < 1024; ++k) s += (char)(k & 255);
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HostileCoef,
    ::testing::Values(
        CoefCase{"Garbage", "hello world, this is not a coefficient file\n", 64, 64, false,
                 "    2  FAT PCT          2.334235"},
        CoefCase{"GarbageAfterTheCoefficients", fixture("zelk.coef") + "# end\n", 64, 64, false,
                 "    2  FAT PCT          2.334235"},
        CoefCase{"BinaryBytes", all_bytes(), 64, 64, false, "    2  FAT PCT          2.334235"},
        CoefCase{"NulBytes", coef_plus(std::string(20, '\0') + "\n"), 64, 64, false,
                 "    2  FAT PCT          2.334235"},
        CoefCase{"AsterisksForAnEquationNumber", coef_plus("*****    1  1.000000\n"), 64, 64, false,
                 "    2  FAT PCT          2.334235"},
        CoefCase{"AsterisksForACoefficient", coef_plus("    1    1**********\n"), 64, 64, false,
                 "    2  FAT PCT          2.334235"},
        CoefCase{"NanForACoefficient", coef_plus("    1    1       NaN\n"), 64, 64, false,
                 "    2  FAT PCT          2.334235"},
        CoefCase{"EquationZero", coef_plus("    0    0  5.000000\n"), 0, 0, true, COMPLETED},
        CoefCase{"RowZero", coef_plus("    0    3  5.000000\n"), 0, 0, true, COMPLETED},
        CoefCase{"NegativeEquations", coef_plus("   -3   -3  5.000000\n"), 0, 0, true, COMPLETED},
        CoefCase{"NegativeRow", coef_plus("   -3    2  5.000000\n"), 0, 0, true, COMPLETED},
        CoefCase{"EquationsFarAboveNsire", coef_plus("99999999999  5.000000\n"), 0, 0, true, COMPLETED},
        CoefCase{"ColumnFarAboveNsire", coef_plus("    199999  5.000000\n"), 0, 0, true, COMPLETED},
        CoefCase{"OverlongLine", overlong_first_line(), 0, 0, true, COMPLETED},
        CoefCase{"CrLfLineEnds", cr_lf(), 0, 0, true, COMPLETED},
        CoefCase{"LastLineWithoutLf", fixture("zelk.coef").substr(0, fixture("zelk.coef").size() - 1), 0, 0,
                 true, COMPLETED},
        // Read as an infinity: the diagonal test passes and the sire's
        // relationship coefficient outweighs its data.
        CoefCase{"CoefficientBeyondSinglePrecision", coef_plus("    1    1   1.0e99\n"), 0, 0, false, COMPLETED},
        CoefCase{"CoefficientBeyondSinglePrecisionBelowZero", coef_plus("    1    1  -1.0e99\n"), 1, 0, false,
                 "PROGRAM QUIT"}),
    [](const auto& i) { return std::string(i.param.name); });

// ---- pedigree.dat -----------------------------------------------------------

struct PedCase {
  const char* name;
  std::string tail;  // added after the eight bulls of the case
  int status;
  int cond;  // condition on unit 10, or 0 for a normal end
};

class HostilePedigree : public Hostile, public ::testing::WithParamInterface<PedCase> {};

// Every case here fails in the first pass, before zelk.coef and sire.list
// receive a line; those that read cleanly run to the normal end.
TEST_P(HostilePedigree, EndsWithItsConditionBeforeAnyOutputLine) {
  const PedCase& c = GetParam();
  write_file(dir, "pedigree.dat", fixture("pedigree.dat") + c.tail);
  seed(ZELK_OUT);
  RunResult r = run_in(dir, ZELK_BIN);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.err, c.cond ? report("zelk", c.cond, 10, "pedigree.dat") : "");
  clean(r, ZELK_OUT);
  if (c.cond) {
    EXPECT_EQ(r.out, "");
    untouched(ZELK_OUT);
  } else {
    EXPECT_EQ(last_line(r.out), " Program zelk completed normally");
  }
}

std::string bytes_0_to_255() {
  std::string s;
  for (int k = 0; k < 256; ++k) s += (char)k;
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Records, HostilePedigree,
    ::testing::Values(PedCase{"BinaryBytes", bytes_0_to_255(), 59, 59},
                      PedCase{"NulInsideAValue", std::string("99 0 0 0 A 19\0\0", 15) + "99\n", 59, 59},
                      PedCase{"ControlCharacterAlone", "\x1a\n", 59, 59},
                      PedCase{"OverlongNumber", std::string(3000, '9') + " 0 0 0 A 1999\n", 59, 59},
                      PedCase{"OverlongText", "999 0 0 0 " + std::string(2050, 'A') + " 1999\n", 59, 59},
                      PedCase{"LongestText", "999 0 0 0 " + std::string(2049, 'A') + " 1999\n", 0, 0},
                      PedCase{"IntegerBeyond32Bits", "4294967296 0 0 0 A 1999\n", 64, 64},
                      PedCase{"LargestInteger", "2147483647 0 0 0 A 1999\n", 0, 0},
                      PedCase{"YearBeyond32Bits", "999 0 0 0 A 99999999999\n", 64, 64},
                      PedCase{"YearBeyondDoublePrecision", "999 0 0 0 A 1e400\n", 64, 64},
                      PedCase{"CutInsideAQuotedText", "999 0 0 0 'A", 59, 59},
                      PedCase{"CutInsideAQuotedTextOverLines", "999 0 0 0 \"A\nB", 59, 59},
                      PedCase{"QuotedTextOverLines", "999 0 0 0 \"A\nB\" 1999\n", 0, 0}),
    [](const auto& i) { return std::string(i.param.name); });

// An integer far below 32 bits in the first record, and a huge repeat count.
TEST_F(Hostile, PedigreeLowIntegerAndHugeRepeatCount) {
  write_file(dir, "pedigree.dat", "-2147483649 0 0 0 A 1999\n" + fixture("pedigree.dat"));
  seed(ZELK_OUT);
  RunResult r = run_in(dir, ZELK_BIN);
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(r.err, report("zelk", 64, 10, "pedigree.dat"));
  untouched(ZELK_OUT);

  // 2^46 values of 0: the record takes six of them, ID 0 is then refused.
  write_file(dir, "pedigree.dat", "99999999999999*0\n");
  r = run_in(dir, ZELK_BIN);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "0BULL         0 HAD MORE THAN 1 OBSERVATION, NOT LEGAL\n");
  untouched(ZELK_OUT);
}

// ---- Outputs that cannot be written -----------------------------------------

struct WriteCase {
  const char* name;
  const char* file;  // made a link to /dev/full, or a directory
  bool directory;
  int cond, unit;
  std::vector<std::string> intact;    // as in the normal run
  std::vector<std::string> unwritten; // still holding the sentinel
};

class HostileWrite : public Hostile, public ::testing::WithParamInterface<WriteCase> {};

// The failed file ends the run with its report; what went to the files
// before is there whole, and the listing is the normal one up to the stop.
TEST_P(HostileWrite, EndsWithTheReportAndKeepsWhatWasWritten) {
  const WriteCase& c = GetParam();
  write_file(dir, "pass.dat", fixture("pass.dat"));
  write_file(dir, "zelk.coef", fixture("zelk.coef"));
  seed(KESTA_OUT);
  fs::remove(dir + "/" + c.file);
  if (c.directory) fs::create_directory(dir + "/" + c.file);
  else fs::create_symlink("/dev/full", dir + "/" + c.file);
  RunResult r = run_in(dir, KESTA_BIN);
  EXPECT_EQ(r.status, c.cond);
  EXPECT_EQ(r.err, report("kesta", c.cond, c.unit, c.file));
  EXPECT_TRUE(starts_with(kesta_baseline().run.out, r.out)) << r.out;
  clean(r, KESTA_OUT);
  // Every file written at all holds the normal run's lines up to the stop.
  for (size_t k = 0; k < KESTA_OUT.size(); ++k) {
    if (KESTA_OUT[k] == c.file) continue;
    const std::string got = read_file(dir, KESTA_OUT[k]);
    if (got != SENTINEL) {
      EXPECT_TRUE(starts_with(kesta_baseline().files[k], got)) << KESTA_OUT[k];
    }
  }
  for (const std::string& f : c.intact) {
    size_t k = std::find(KESTA_OUT.begin(), KESTA_OUT.end(), f) - KESTA_OUT.begin();
    EXPECT_EQ(read_file(dir, f), kesta_baseline().files[k]) << f;
  }
  untouched(c.unwritten);
}

INSTANTIATE_TEST_SUITE_P(
    Kesta, HostileWrite,
    ::testing::Values(
        WriteCase{"SirePtaOnAFullDevice", "sire.pta", false, 38, 12,
                  {"genphen.cor", "genetic.cor", "environment.cor"}, {"sire.rel"}},
        WriteCase{"SireRelOnAFullDevice", "sire.rel", false, 38, 13,
                  {"sire.pta", "genphen.cor", "genetic.cor", "environment.cor"}, {}},
        WriteCase{"GenphenOnAFullDevice", "genphen.cor", false, 38, 14, {}, {"sire.pta", "sire.rel"}},
        // Its title comes right after the first two lines of genetic.cor.
        WriteCase{"EnvironmentOnAFullDevice", "environment.cor", false, 38, 16, {},
                  {"sire.pta", "sire.rel", "genphen.cor"}},
        WriteCase{"SirePtaIsADirectory", "sire.pta", true, 30, 12, {},
                  {"sire.rel", "genphen.cor", "genetic.cor", "environment.cor"}},
        WriteCase{"GeneticIsADirectory", "genetic.cor", true, 30, 15, {},
                  {"sire.pta", "sire.rel", "genphen.cor", "environment.cor"}}),
    [](const auto& i) { return std::string(i.param.name); });

// An input that is a pipe cannot be read by position (nor read twice):
// condition 39 on its first read.
TEST_F(Hostile, InputsThatArePipes) {
  ASSERT_EQ(mkfifo((dir + "/pass.dat").c_str(), 0644), 0);
  seed(KESTA_OUT);
  RunResult r = run_in(dir, KESTA_BIN);
  EXPECT_EQ(r.status, 39);
  EXPECT_EQ(r.err, report("kesta", 39, 10, "pass.dat"));
  EXPECT_EQ(r.out, " KESTA OUTPUT\n \n");
  untouched(KESTA_OUT);

  ASSERT_EQ(mkfifo((dir + "/pedigree.dat").c_str(), 0644), 0);
  seed(ZELK_OUT);
  r = run_in(dir, ZELK_BIN);
  EXPECT_EQ(r.status, 39);
  EXPECT_EQ(r.err, report("zelk", 39, 10, "pedigree.dat"));
  untouched(ZELK_OUT);
}

// The listing on a full device: its first line fails, before any file has
// received a line.
TEST_F(Hostile, ListingOnAFullDevice) {
  write_file(dir, "pass.dat", fixture("pass.dat"));
  write_file(dir, "zelk.coef", fixture("zelk.coef"));
  write_file(dir, "pedigree.dat", fixture("pedigree.dat"));
  for (const char* prog : {"kesta", "zelk"}) {
    SCOPED_TRACE(prog);
    const bool k = std::string(prog) == "kesta";
    seed(k ? KESTA_OUT : ZELK_OUT);
    const std::string cmd = "cd '" + dir + "' && '" + (k ? KESTA_BIN : ZELK_BIN) + "' </dev/null >/dev/full 2>.stderr";
    const int rc = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 38);
    EXPECT_EQ(read_file(dir, ".stderr"), std::string(prog) + ": severe (38): error during write, unit 6, file stdout\n");
    untouched(k ? KESTA_OUT : ZELK_OUT);
  }
}

// zelk writes 25 lines of zelk.coef and one of sire.list per bull.
TEST_F(Hostile, ZelkOutputsOnAFullDevice) {
  for (const char* full : {"zelk.coef", "sire.list"}) {
    SCOPED_TRACE(full);
    const std::string other = std::string(full) == "zelk.coef" ? "sire.list" : "zelk.coef";
    fs::remove_all(dir);
    fs::create_directory(dir);
    write_file(dir, "pedigree.dat", fixture("pedigree.dat"));
    seed(ZELK_OUT);
    fs::remove(dir + "/" + full);
    fs::create_symlink("/dev/full", dir + "/" + full);
    RunResult r = run_in(dir, ZELK_BIN);
    EXPECT_EQ(r.status, 38);
    EXPECT_EQ(r.err, report("zelk", 38, std::string(full) == "zelk.coef" ? 15 : 16, full));
    clean(r, {other});
    const std::string o = read_file(dir, other);
    if (other == "sire.list") {
      EXPECT_EQ(o, SENTINEL);  // its first line comes after the first of zelk.coef
    } else {
      EXPECT_TRUE(starts_with(fixture("zelk.coef"), o));  // zelk's own coefficients, up to the stop
      EXPECT_FALSE(o.empty());
    }
  }
}

// A disk that fills up part way through a line: the file is cut back after
// its last whole line, and holds the normal run's lines up to there.
TEST_F(Hostile, FileSizeLimitLeavesWholeLinesOnly) {
  const std::string sim = std::string(FIXTURES_DIR) + "/zelk/sim-300";
  write_file(dir, "pedigree.dat", read_file(sim, "pedigree.dat"));
  seed(ZELK_OUT);
  // 50000 bytes end 20 characters into a 21-byte line of zelk.coef; the
  // listing and sire.list stay below the limit.
  RunResult r = run_limited(dir, ZELK_BIN, 50000);
  EXPECT_EQ(r.status, 38);
  EXPECT_EQ(r.err, report("zelk", 38, 15, "zelk.coef"));
  clean(r, ZELK_OUT);
  const std::string coef = read_file(dir, "zelk.coef");
  EXPECT_EQ(coef.size(), 50000u / 21 * 21);
  EXPECT_TRUE(starts_with(read_file(sim + "/expected", "zelk.coef"), coef));
  const std::string list = read_file(dir, "sire.list");
  EXPECT_TRUE(starts_with(read_file(sim + "/expected", "sire.list"), list));
}

}  // namespace
