// Files, ends of a run and condition reports.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xmmintrin.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "records/records.h"
#include "records/rec_internal.h"
#include "records/runhook.h"

namespace rec {

static std::string g_program = "program";
static std::vector<File*> g_files;
static File g_listing;
static bool g_ending = false;  // a report is being written: no second one

File* find(int unit) {
  if (unit == LISTING) return &g_listing;
  for (File* f : g_files)
    if (f->unit == unit) return f;
  return nullptr;
}

File& file(int unit) {
  File* f = find(unit);
  if (!f) RUNERR(101, "file number " + std::to_string(unit) + " used but never opened");
  return *f;
}

std::string cond_text(int cond, const File* f) {
  std::string unit = f ? std::to_string(f->unit) : "0";
  std::string path = f ? f->path : "";
  switch (cond) {
    case 24: return "end-of-file during read, unit " + unit + ", file " + path;
    case 30: return "open failure, unit " + unit + ", file " + path;
    case 38: return "error during write, unit " + unit + ", file " + path;
    case 39: return "error during read, unit " + unit + ", file " + path;
    case 41: return "insufficient virtual memory";
    case 59: return "list-directed I/O syntax error, unit " + unit + ", file " + path;
    case 61: return "format/variable-type mismatch, unit " + unit + ", file " + path;
    case 64: return "input conversion error, unit " + unit + ", file " + path;
    case 67: return "input statement requires too much data, unit " + unit + ", file " + path;
    case 179: return "Cannot allocate array - overflow on array size calculation.";
    default: return "unhandled condition, unit " + unit + ", file " + path;
  }
}

// Writes the buffered lines of one output file at its position; the first
// write after an open or a rewind cuts the file after what it wrote.
static bool flush_file(File& f) {
  if (f.obuf.empty()) return true;
  const off_t start = f.wpos;  // the buffer starts a line; so does the file here
  const char* p = f.obuf.data();
  size_t left = f.obuf.size();
  while (left > 0) {
    ssize_t n = f.unit == LISTING || !f.regular ? ::write(f.fd, p, left) : ::pwrite(f.fd, p, left, f.wpos);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      size_t done = f.obuf.size() - left;
      // Mend: a full disk takes part of a line; the file is cut back after
      // its last whole line, so that it never ends in half a line.
      if (f.regular && f.unit != LISTING) {
        size_t keep = done;
        while (keep > 0 && f.obuf[keep - 1] != '\n') --keep;
        if (keep < done && ::ftruncate(f.fd, start + (off_t)keep) == 0) {
          f.wpos = start + (off_t)keep;
          done = keep;
        }
      }
      // Keep only what is still unwritten: a later completion goes on after
      // the bytes that did go out instead of writing them again past them.
      f.obuf.erase(0, done);
      return false;
    }
    p += n;
    left -= (size_t)n;
    f.wpos += n;
  }
  f.obuf.clear();
  if (f.cut && f.unit != LISTING) {
    // Only a regular file can be cut (a file linked to /dev/null is fine).
    if (f.regular && ::ftruncate(f.fd, f.wpos) != 0) return false;
    f.cut = false;
  }
  return true;
}

void line_done(File& f) {
  f.obuf.push_back('\n');
  // The first line after a mark is written at once so that the cut happens
  // right after it; later lines are buffered.
  if (f.obuf.size() >= (1u << 16) || f.cut || f.tty) {
    if (!flush_file(f)) RUNERR(38, f.unit);
  }
}

void put_line(File& f, const char* s, size_t n) {
  if (f.readonly) RUNERR(38, f.unit);
  f.obuf.append(s, n);
  line_done(f);
}

// Completes every file; false when a write failed.
static bool complete_all(File** failed) {
  bool ok = true;
  if (!flush_file(g_listing)) { ok = false; *failed = &g_listing; }
  for (File* f : g_files) {
    if (!flush_file(*f)) {
      if (ok) *failed = f;
      ok = false;
    }
  }
  return ok;
}

// The process ends here, always by _Exit (no static destructors, no atexit
// handlers). Drivers that run a program in-process get an exception instead.
[[noreturn]] static void end_process(int status) {
#ifdef RECORDS_RUN_THROWS
  throw RunEnded{status};
#else
  std::_Exit(status);
#endif
}

[[noreturn]] static void report_and_exit(int cond, const std::string& text) {
  if (!g_ending) {
    g_ending = true;
    std::string line = g_program + ": severe (" + std::to_string(cond) + "): " + text + "\n";
    (void)!::write(2, line.data(), line.size());
    File* failed = nullptr;
    complete_all(&failed);
  }
  end_process(cond % 256);
}

[[noreturn]] static void finish(int status) {
  File* failed = nullptr;
  if (!complete_all(&failed)) {
    g_ending = true;
    // Every file has had its completion: the report and the status remain.
    std::string line = g_program + ": severe (38): " + cond_text(38, failed) + "\n";
    (void)!::write(2, line.data(), line.size());
    end_process(38);
  }
  for (File* f : g_files) ::close(f->fd);
#ifdef RECORDS_RUN_THROWS
  for (File* f : g_files) f->fd = -1;
#endif
  end_process(status);
}

}  // namespace rec

using namespace rec;

void RUNSTART(const char* program) {
  g_program = program;
  // Subnormal results flushed to zero, subnormal operands taken as zero.
  _mm_setcsr(_mm_getcsr() | 0x8040);
  g_listing.unit = LISTING;
  g_listing.name = "stdout";
  g_listing.path = "stdout";
  g_listing.fd = 1;
  // The listing goes out line by line: a user (or a script) following a long
  // run sees each phase's lines when the phase ends.
  g_listing.tty = true;
}

void FILOPN(const char* name, int unit, FileKind kind) {
  File* f = new File;
  f->unit = unit;
  f->name = name;
  f->kind = kind;
  char cwd[4096];
  f->path = (::getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string(".")) + "/" + name;
  g_files.push_back(f);
  // Never O_TRUNC: an output file keeps its content until a line is written.
  int fd = ::open(name, O_RDWR | O_CREAT, 0666);
  if (fd < 0 && (errno == EACCES || errno == EROFS)) {
    fd = ::open(name, O_RDONLY);
    f->readonly = true;
  }
  if (fd < 0) RUNERR(30, unit);
  struct stat st;
  bool known = ::fstat(fd, &st) == 0;
  if (known && S_ISDIR(st.st_mode)) RUNERR(30, unit);
  f->regular = !known || S_ISREG(st.st_mode);
  f->fd = fd;
  f->cut = true;
}

void FILREW(int unit) {
  File& f = file(unit);
  if (!flush_file(f)) RUNERR(38, unit);
  f.wpos = 0;
  f.cut = true;
  f.rpos = 0;
  f.ibuf.clear();
  f.ipos = 0;
  f.ieof = false;
}

void RUNEND() { finish(0); }
void RUNSTOP() { finish(1); }

void RUNERR(int cond, int unit) {
  File* f = unit ? find(unit) : nullptr;
  report_and_exit(cond, cond_text(cond, f));
}

void RUNERR(int cond, const std::string& text) { report_and_exit(cond, text); }

void RUNERR408(int subscript, const char* table, long value, long bound, bool upper) {
  report_and_exit(408, "Subscript #" + std::to_string(subscript) + " of the array " + table + " has value " +
                           std::to_string(value) + " which is " + (upper ? "greater" : "less") +
                           " than the " + (upper ? "upper" : "lower") + " bound of " +
                           std::to_string(bound));
}

#ifdef RECORDS_RUN_THROWS
void RUNRESET() {
  for (File* f : g_files) {
    if (f->fd >= 0) ::close(f->fd);
    delete f;
  }
  g_files.clear();
  g_listing.obuf.clear();
  g_ending = false;
}
#endif
