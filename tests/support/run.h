// Running the real programs in a fresh temporary directory.
#pragma once

#include <string>

struct RunResult {
  int status;       // exit status
  std::string out;  // standard output
  std::string err;  // standard error
};

// A new empty directory under the system's temporary directory.
std::string make_tempdir();
void write_file(const std::string& dir, const std::string& name, const std::string& content);
std::string read_file(const std::string& dir, const std::string& name);
bool file_exists(const std::string& dir, const std::string& name);
// Runs `exe` with no arguments in `dir`, standard input from /dev/null.
RunResult run_in(const std::string& dir, const std::string& exe);
// Copies every regular file of `src` into `dir`.
void copy_dir_files(const std::string& src, const std::string& dir);
