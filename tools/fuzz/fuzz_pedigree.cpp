// Fuzz target: free-format pedigree records read as zelk reads pedigree.dat,
// four integers, a one-character text and an integer per record: a first
// pass to the end of the file, a rewind, a second pass over as many records
// with the end of the file not allowed.
#include "tools/fuzz/driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return -1;
  fz::enter_private_dir();
  fz::put("pedigree.dat", data, size);
  fz::run([] {
    FILOPN("pedigree.dat", 10, TEXTFILE);
    int32_t id = 0, sire = 0, mgs = 0, mggs = 0, year = 0;
    char code = ' ';
    long nns = 0;
    while (LSTRD(10, {in(id), in(sire), in(mgs), in(mggs), intext(&code, 1), in(year)}, true) != -1) ++nns;
    FILREW(10);
    for (long k = 0; k < nns; ++k) {
      id = sire = mgs = mggs = year = 0;
      code = ' ';
      LSTRD(10, {in(id), in(sire), in(mgs), in(mggs), intext(&code, 1), in(year)}, false);
    }
    // One more record than the first pass found: the end of the file, 24.
    LSTRD(10, {in(id), in(sire), in(mgs), in(mggs), intext(&code, 1), in(year)}, false);
    std::abort();  // unreachable: the read above ends the run
  });
  return 0;
}
