// Whole analyses, pedigree.dat through zelk and kesta, compared byte for byte
// with text derived by an independent calculation
// (tests/fixtures/kesta-final/kesta_ref.py, which also wrote pass.dat).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/run.h"

namespace {

const std::string kDir = std::string(FIXTURES_DIR) + "/kesta-final/";

struct Case {
  const char* name;
  const char* shows;
};

const Case kCases[] = {
    {"one-trait-no-groups",
     "relatives in the A-inverse, no genetic group, a sire numbered above the base group, a bull without "
     "daughters or relatives"},
    {"two-traits-two-groups",
     "two traits, two groups with their solutions and standard errors, sires of the base group and of a "
     "group above it"},
    {"diverging-solver", "a diverging solver stops the run before sire.pta and sire.rel are written"},
};

TEST(FinalPassEndToEnd, ListingSirePtaAndSireRelAsDerived) {
  const std::string old = "a line of an earlier run\n";
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.shows);
    const std::string src = kDir + c.name;
    std::string dir = make_tempdir();
    write_file(dir, "pedigree.dat", read_file(src, "pedigree.dat"));
    write_file(dir, "pass.dat", read_file(src, "pass.dat"));
    write_file(dir, "sire.pta", old);
    write_file(dir, "sire.rel", old);

    RunResult z = run_in(dir, ZELK_BIN);
    ASSERT_EQ(z.status, 0) << z.out << z.err;
    EXPECT_EQ(read_file(dir, "zelk.coef"), read_file(src, "zelk.coef"));

    RunResult k = run_in(dir, KESTA_BIN);
    EXPECT_EQ(std::to_string(k.status) + "\n", read_file(src, "status"));
    EXPECT_EQ(k.out, read_file(src, "stdout"));
    EXPECT_EQ(k.err, "");
    if (k.status == 0) {
      EXPECT_EQ(read_file(dir, "sire.pta"), read_file(src, "sire.pta"));
      EXPECT_EQ(read_file(dir, "sire.rel"), read_file(src, "sire.rel"));
    } else {
      EXPECT_EQ(read_file(dir, "sire.pta"), old);
      EXPECT_EQ(read_file(dir, "sire.rel"), old);
    }
    if (!::testing::Test::HasFailure()) std::filesystem::remove_all(dir);
  }
}

}  // namespace
