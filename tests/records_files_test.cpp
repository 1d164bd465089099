// Output files (never shortened on opening, cut after the first line written
// after an open or a rewind, kept when no line is written), the ends of a run
// (RUNEND, RUNSTOP, RUNERR and its report), and failed opens and writes.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "records/records.h"
#include "records_child.h"

using recchild::Child;
using recchild::note;
using recchild::run_child;
using recchild::TempDir;

namespace {

const char* kOld = "old line 1\nold line 2\nold line 3\nold line 4\n";

// From here on a file cannot grow past `bytes`: a write beyond fails (EFBIG).
void limit_file_size(rlim_t bytes) {
  ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit r = {bytes, bytes};
  ::setrlimit(RLIMIT_FSIZE, &r);
}

std::string file_now(const char* name) {
  std::string s;
  FILE* f = std::fopen(name, "rb");
  if (!f) return "<missing>";
  char b[4096];
  size_t n;
  while ((n = std::fread(b, 1, sizeof b, f)) > 0) s.append(b, n);
  std::fclose(f);
  return s;
}

TEST(RecordsFiles, OpeningNeverShortens) {
  TempDir dir;
  dir.write("genetic.cor", kOld);
  Child c = run_child(dir, "kesta", [] {
    FILOPN("genetic.cor", 15, TEXTFILE);
    note(file_now("genetic.cor"));
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.notes, std::string(kOld) + "\n");
  EXPECT_EQ(dir.read("genetic.cor"), kOld);  // no line written: the old content stays
}

TEST(RecordsFiles, MissingFileIsCreatedEmpty) {
  TempDir dir;
  Child c = run_child(dir, "zelk", [] {
    ::umask(022);
    FILOPN("pedigree.dat", 10, TEXTFILE);
    FILOPN("pass.dat", 11, BINFILE);
  });
  EXPECT_EQ(c.status, 0);
  for (const char* n : {"pedigree.dat", "pass.dat"}) {
    struct stat st;
    ASSERT_EQ(::stat((dir.path + "/" + n).c_str(), &st), 0) << n;
    EXPECT_EQ(st.st_size, 0) << n;
    EXPECT_EQ(st.st_mode & 0777, 0644u) << n;  // read and write for all, less the mask
  }
}

// The first line cuts the file right after it at once; later lines follow.
TEST(RecordsFiles, FirstLineCutsTheFile) {
  TempDir dir;
  dir.write("sire.pta", kOld);
  Child c = run_child(dir, "kesta", [] {
    FILOPN("sire.pta", 12, TEXTFILE);
    LSTWRT(12, {"new 1"});
    note(file_now("sire.pta"));
    LSTWRT(12, {"new 2"});
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.notes, " new 1\n\n");
  EXPECT_EQ(dir.read("sire.pta"), " new 1\n new 2\n");  // the longer old file ends after this run's last line
}

TEST(RecordsFiles, RewindMarksTheFileToBeCut) {
  TempDir dir;
  dir.write("a", kOld);
  dir.write("b", kOld);
  Child c = run_child(dir, "kesta", [] {
    static const Format f("(I5)");
    FILOPN("a", 12, TEXTFILE);
    FILOPN("b", 13, TEXTFILE);
    for (int32_t k = 1; k <= 3; ++k) FMTWRT(12, f, {k}), FMTWRT(13, f, {k});
    FILREW(12);
    FILREW(13);
    FMTWRT(12, f, {(int32_t)9});  // b receives nothing after its rewind
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(dir.read("a"), "    9\n");
  EXPECT_EQ(dir.read("b"), "    1\n    2\n    3\n");
}

// Many buffered lines, to a file and to standard output, are all there at the end.
TEST(RecordsFiles, BufferedLinesAreCompleted) {
  TempDir dir;
  Child c = run_child(dir, "zelk", [] {
    static const Format f("(2I5,F10.6)");
    FILOPN("zelk.coef", 15, TEXTFILE);
    for (int32_t k = 1; k <= 20000; ++k) FMTWRT(15, f, {k % 99999, k % 7, (float)k / 64});
    for (int32_t k = 1; k <= 5000; ++k) LSTWRT(LISTING, {k});
  });
  EXPECT_EQ(c.status, 0);
  std::string want, out;
  char b[64];
  for (int k = 1; k <= 20000; ++k) {
    std::snprintf(b, sizeof b, "%5d%5d%10.6f\n", k % 99999, k % 7, (double)k / 64);
    want += b;
  }
  for (int k = 1; k <= 5000; ++k) {
    std::snprintf(b, sizeof b, "%12d\n", k);
    out += b;
  }
  EXPECT_EQ(dir.read("zelk.coef"), want);
  EXPECT_EQ(c.out, out);
}

// ---- Ends of a run -------------------------------------------------------------

TEST(RecordsRunEnd, NormalEndAndProgramStop) {
  for (bool stop : {false, true}) {
    TempDir dir;
    Child c = run_child(dir, "zelk", [&] {
      static const Format f("('0PEDIGREE FILES NOT SORTED PROPERLY')");
      FILOPN("sire.list", 16, TEXTFILE);
      LSTWRT(16, {(int32_t)101});
      LSTWRT(16, {(int32_t)205});
      FMTWRT(LISTING, f);
      if (stop) RUNSTOP();
    });
    EXPECT_EQ(c.status, stop ? 1 : 0);
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(c.out, "0PEDIGREE FILES NOT SORTED PROPERLY\n");
    EXPECT_EQ(dir.read("sire.list"), "         101\n         205\n");
  }
}

// A tiny program that writes some lines and then meets an unhandled condition:
// the report on the error stream with the file's full path, every line
// written before it in its file, the number modulo 256 as exit status.
TEST(RecordsRunErr, ReportStatusAndCompletedFiles) {
  struct C {
    int cond;
    int unit;
    const char* text;  // "@" stands for the full path of pedigree.dat
  } cases[] = {
      {24, 10, "end-of-file during read, unit 10, file @"},
      {38, 10, "error during write, unit 10, file @"},
      {41, 0, "insufficient virtual memory"},
      {59, 10, "list-directed I/O syntax error, unit 10, file @"},
      {64, 10, "input conversion error, unit 10, file @"},
      {67, 10, "input statement requires too much data, unit 10, file @"},
      {179, 0, "Cannot allocate array - overflow on array size calculation."},
  };
  for (const C& cs : cases) {
    SCOPED_TRACE(cs.cond);
    TempDir dir;
    Child c = run_child(dir, "zelk", [&] {
      static const Format f("(2I5,F10.6)");
      FILOPN("pedigree.dat", 10, TEXTFILE);
      FILOPN("zelk.coef", 15, TEXTFILE);
      FMTWRT(15, f, {(int32_t)1, (int32_t)1, 2.0f});
      FMTWRT(15, f, {(int32_t)1, (int32_t)2, -0.5f});
      LSTWRT(LISTING, {(int32_t)2, " BULLS"});
      RUNERR(cs.cond, cs.unit);
    });
    std::string text = cs.text;
    size_t at = text.find('@');
    if (at != std::string::npos) text.replace(at, 1, dir.path + "/pedigree.dat");
    EXPECT_EQ(c.status, cs.cond % 256);
    EXPECT_EQ(c.err, "zelk: severe (" + std::to_string(cs.cond) + "): " + text + "\n");
    EXPECT_EQ(dir.read("zelk.coef"), "    1    1  2.000000\n    1    2 -0.500000\n");
    EXPECT_EQ(c.out, "           2  BULLS\n");
  }
}

TEST(RecordsRunErr, SubscriptReportExitsWith152) {
  struct C {
    bool upper;
    long value, bound;
    std::string err;
  } cases[] = {
      {true, 2029, 2028,
       "zelk: severe (408): Subscript #1 of the array YRCNT has value 2029 which is greater than the upper bound of 2028\n"},
      {false, 0, 1, "zelk: severe (408): Subscript #1 of the array YRCNT has value 0 which is less than the lower bound of 1\n"},
  };
  for (const C& cs : cases) {
    TempDir dir;
    Child c = run_child(dir, "zelk", [&] {
      FILOPN("sire.list", 16, TEXTFILE);
      LSTWRT(16, {(int32_t)7});
      RUNERR408(1, "YRCNT", cs.value, cs.bound, cs.upper);
    });
    EXPECT_EQ(c.status, 152);
    EXPECT_EQ(c.err, cs.err);
    EXPECT_EQ(dir.read("sire.list"), "           7\n");
  }
}

// The listing goes out line by line, so with standard output and error in
// one file its lines stand before the report, which is the last line.
TEST(RecordsRunErr, ListingLinesPrecedeTheReport) {
  TempDir dir;
  Child c = run_child(
      dir, "kesta",
      [] {
        FILOPN("pass.dat", 10, BINFILE);
        LSTWRT(LISTING, {"before"});
        RUNERR(24, 10);
      },
      true);
  EXPECT_EQ(c.status, 24);
  EXPECT_EQ(c.out, " before\nkesta: severe (24): end-of-file during read, unit 10, file " + dir.path + "/pass.dat\n");
}

// A completion that fails after the report adds no second report: the
// condition's report and status stand.
TEST(RecordsRunErr, ReportBeforeCompletion) {
  TempDir dir;
  Child c = run_child(dir, "zelk", [] {
    static const Format f("(2I5,F10.6)");
    FILOPN("zelk.coef", 15, TEXTFILE);
    FMTWRT(15, f, {(int32_t)1, (int32_t)1, 1.0f});  // written at once
    limit_file_size(100);
    for (int32_t k = 1; k <= 10; ++k) FMTWRT(15, f, {k, k, 1.0f});  // buffered: fail at completion
    RUNERR(59, 15);
  });
  EXPECT_EQ(c.status, 59);
  EXPECT_EQ(c.err, "zelk: severe (59): list-directed I/O syntax error, unit 15, file " + dir.path + "/zelk.coef\n");
}

// ---- Failed opens and writes ---------------------------------------------------

TEST(RecordsFiles, FileThatCannotBeOpened) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir.path + "/sire.rel").c_str(), 0755), 0);
  Child c = run_child(dir, "kesta", [] {
    FILOPN("sire.pta", 12, TEXTFILE);
    LSTWRT(12, {"written"});
    FILOPN("sire.rel", 13, TEXTFILE);
  });
  EXPECT_EQ(c.status, 30);
  EXPECT_EQ(c.err, "kesta: severe (30): open failure, unit 13, file " + dir.path + "/sire.rel\n");
  EXPECT_EQ(dir.read("sire.pta"), " written\n");
}

// A file that stands on a full disk: the first line is written at once and
// fails there; never silent.
TEST(RecordsFiles, FailedWriteIsCondition38) {
  TempDir dir;
  ASSERT_EQ(::symlink("/dev/full", (dir.path + "/zelk.coef").c_str()), 0);
  Child c = run_child(dir, "zelk", [] {
    static const Format f("(2I5,F10.6)");
    FILOPN("zelk.coef", 15, TEXTFILE);
    FMTWRT(15, f, {(int32_t)1, (int32_t)1, 2.0f});
    note("not reached");
  });
  EXPECT_EQ(c.status, 38);
  EXPECT_EQ(c.err, "zelk: severe (38): error during write, unit 15, file " + dir.path + "/zelk.coef\n");
  EXPECT_EQ(c.notes, "");
}

// An output file linked to a device is written in sequence and never cut:
// discarding a file through /dev/null is no failure.
TEST(RecordsFiles, OutputToDevice) {
  TempDir dir;
  ASSERT_EQ(::symlink("/dev/null", (dir.path + "/genphen.cor").c_str()), 0);
  Child c = run_child(dir, "kesta", [] {
    FILOPN("genphen.cor", 14, TEXTFILE);
    for (int32_t k = 0; k < 3; ++k) LSTWRT(14, {k});
    FILREW(14);
    LSTWRT(14, {"again"});
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.err, "");
}

// Buffered lines that cannot be completed when the run ends: condition 38,
// never a silent status 0.
TEST(RecordsFiles, FailedCompletionIsCondition38) {
  for (bool stop : {false, true}) {
    TempDir dir;
    Child c = run_child(dir, "zelk", [stop] {
      static const Format f("(2I5,F10.6)");
      FILOPN("zelk.coef", 15, TEXTFILE);
      FMTWRT(15, f, {(int32_t)1, (int32_t)1, 1.0f});
      limit_file_size(100);
      for (int32_t k = 1; k <= 10; ++k) FMTWRT(15, f, {k, k, 1.0f});
      note("written");
      if (stop) RUNSTOP();
    });
    EXPECT_EQ(c.status, 38);
    EXPECT_EQ(c.notes, "written\n");
    EXPECT_EQ(c.err, "zelk: severe (38): error during write, unit 15, file " + dir.path + "/zelk.coef\n");
  }
}

// A listing that cannot be written (standard output on a full disk): condition 38.
TEST(RecordsFiles, FailedListingIsCondition38) {
  TempDir dir;
  Child c = run_child(dir, "zelk", [] {
    int full = ::open("/dev/full", O_WRONLY);
    if (full < 0 || ::dup2(full, 1) < 0) ::_exit(99);
    LSTWRT(LISTING, {"line"});
    RUNEND();
  });
  EXPECT_EQ(c.status, 38);
  EXPECT_EQ(c.err, "zelk: severe (38): error during write, unit 6, file stdout\n");
}

}  // namespace
