// Internal state of the record module, shared by its source files.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "records/records.h"

namespace rec {

struct File {
  int unit = 0;
  std::string name, path;  // path: working directory, '/', name
  FileKind kind = TEXTFILE;
  int fd = -1;
  bool readonly = false;  // opened for reading only (no write permission)
  bool regular = true;    // a regular file; else (a device, a pipe) written in sequence, never cut
  bool tty = false;       // each line goes out at once (the listing)
  // Output.
  bool cut = false;  // the next line written cuts the file after it
  std::string obuf;
  off_t wpos = 0;
  // Input.
  std::vector<char> ibuf;
  size_t ipos = 0;
  off_t rpos = 0;
  bool ieof = false;
  // Free-format reading: the line in hand and the position on it (a record
  // never takes over the line on which the one before it ended).
  std::string line;
  size_t lpos = 0;
};

File& file(int unit);
File* find(int unit);
std::string cond_text(int cond, const File* f);
void put_line(File& f, const char* s, size_t n);
// Ends the line that has just been built at the end of f.obuf (adds its LF).
void line_done(File& f);
// Fw.d editing of one item (single: a single-precision item).
std::string edit_real(double x, bool single, int w, int d);

// Reads up to n bytes at the file's read position; returns the count.
size_t read_bytes(File& f, char* dst, size_t n);
// Next text line without its LF and one trailing CR; false when none is left.
bool next_line(File& f, std::string& out);

}  // namespace rec
