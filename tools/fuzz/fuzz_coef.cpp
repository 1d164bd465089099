// Fuzz target: coefficient records "(2I5,F10.6)" read as kesta reads
// zelk.coef, to the end of the file, twice (with a rewind between).
#include <cmath>

#include "tools/fuzz/driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return -1;
  fz::enter_private_dir();
  fz::put("zelk.coef", data, size);
  fz::run([] {
    static const Format f("(2I5,F10.6)");
    FILOPN("zelk.coef", 11, TEXTFILE);
    for (int pass = 0; pass < 2; ++pass) {
      int32_t i, j;
      float a;
      volatile double sum = 0;
      while (FMTRD(11, f, {in(i), in(j), in(a)}) != -1) sum = sum + (double)a + i - j;
      FILREW(11);
    }
  });
  return 0;
}
