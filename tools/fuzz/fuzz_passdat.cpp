// Fuzz target: sequential binary records read by BINRD. The first bytes of
// the input choose the items of each read (kinds and counts as kesta's
// records have them: integers, doubles, 8-character texts, a single
// precision value); the rest is pass.dat. Every read takes at least 4 data
// bytes, so the reads go on until the file ends (condition 24) or a record
// does not fit (67, 39).
#include <vector>

#include "tools/fuzz/driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > 1 << 16) return -1;
  // Four plan bytes: per read one of four shapes, from two bits each.
  const uint8_t* plan = data;
  fz::enter_private_dir();
  fz::put("pass.dat", data + 4, size - 4);
  fz::run([plan] {
    FILOPN("pass.dat", 10, BINFILE);
    std::vector<int32_t> iv(64);
    std::vector<double> dv(512);
    std::vector<char> tv(8 * 32);
    float f;
    for (int r = 0;; ++r) {
      const uint8_t b = plan[(r / 4) % 4] >> (2 * (r % 4));
      const int n = 1 + (plan[(r + 1) % 4] % 32);
      switch (b & 3) {
        case 0: BINRD(10, {in(iv[0])}); break;
        case 1: BINRD(10, {in(dv.data(), n * 16)}); break;
        case 2: BINRD(10, {intext(tv.data(), 8, n)}); break;
        default: BINRD(10, {in(dv.data(), n), in(dv.data() + n, n), in(iv[0]), in(iv[1]), in(iv[2]), in(f)}); break;
      }
    }
  });
  return 0;
}
