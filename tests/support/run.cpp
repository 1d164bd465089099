#include "support/run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

std::string make_tempdir() {
  std::string tmpl = (fs::temp_directory_path() / "sirereml-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  return tmpl;
}

void write_file(const std::string& dir, const std::string& name, const std::string& content) {
  std::ofstream f(dir + "/" + name, std::ios::binary | std::ios::trunc);
  f << content;
}

std::string read_file(const std::string& dir, const std::string& name) {
  std::ifstream f(dir + "/" + name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool file_exists(const std::string& dir, const std::string& name) {
  return fs::exists(dir + "/" + name);
}

RunResult run_in(const std::string& dir, const std::string& exe) {
  std::string cmd = "cd '" + dir + "' && '" + exe + "' </dev/null >.stdout 2>.stderr";
  int rc = std::system(cmd.c_str());
  RunResult r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = read_file(dir, ".stdout");
  r.err = read_file(dir, ".stderr");
  fs::remove(dir + "/.stdout");
  fs::remove(dir + "/.stderr");
  return r;
}

void copy_dir_files(const std::string& src, const std::string& dir) {
  for (const auto& e : fs::directory_iterator(src))
    if (e.is_regular_file()) fs::copy_file(e.path(), fs::path(dir) / e.path().filename(),
                                           fs::copy_options::overwrite_existing);
}
