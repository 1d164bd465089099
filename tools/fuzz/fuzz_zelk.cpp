// Fuzz target: a whole zelk run on a small pedigree.dat. The run's tables
// live in its main program as one static block, which each run sets up
// afresh (counts, years, groups) as the program does at its start.
#include "tools/fuzz/driver.h"

int zelk_main();

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return -1;
  fz::enter_private_dir();
  fz::put("pedigree.dat", data, size);
  fz::run([] { zelk_main(); });
  return 0;
}
