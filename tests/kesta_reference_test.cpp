// Whole kesta runs on reference analyses: pass.dat and zelk.coef in, and the
// listing, every output file, the exit status and the condition report out,
// each compared byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/run.h"

namespace {

namespace fs = std::filesystem;

const char* const OUTPUTS[] = {"sire.pta", "sire.rel", "genphen.cor", "genetic.cor", "environment.cor"};

// The report from the word "severe" on, with the working directory as <dir>.
std::string severe(const std::string& err, const std::string& dir) {
  size_t at = err.find("severe");
  if (at == std::string::npos) return "";
  std::string s = err.substr(at);
  if (!s.empty() && s.back() == '\n') s.pop_back();
  for (size_t p; (p = s.find(dir)) != std::string::npos;) s.replace(p, dir.size(), "<dir>");
  return s;
}

TEST(KestaReference, WholeRunsMatchEveryFile) {
  int cases = 0;
  for (const auto& c : fs::directory_iterator(std::string(FIXTURES_DIR) + "/kesta-reference")) {
    if (!c.is_directory()) continue;
    SCOPED_TRACE(c.path().filename().string());
    ++cases;
    const std::string src = c.path().string(), exp = src + "/expected";
    const std::string dir = make_tempdir();
    for (const char* f : {"pass.dat", "zelk.coef"})
      if (file_exists(src, f)) write_file(dir, f, read_file(src, f));
    RunResult r = run_in(dir, KESTA_BIN);
    EXPECT_EQ(std::to_string(r.status) + "\n", read_file(exp, "status"));
    EXPECT_EQ(r.out, read_file(exp, "stdout"));
    std::string want_err = read_file(exp, "stderr");
    if (!want_err.empty() && want_err.back() == '\n') want_err.pop_back();
    EXPECT_EQ(severe(r.err, dir), want_err);
    for (const char* f : OUTPUTS) EXPECT_EQ(read_file(dir, f), read_file(exp, f)) << f;
    fs::remove_all(dir);
  }
  EXPECT_GE(cases, 7);
}

}  // namespace
