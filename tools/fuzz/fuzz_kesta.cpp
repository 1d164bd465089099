// Fuzz target: a whole kesta run on a small pass.dat and zelk.coef pair.
// Input: two bytes (little-endian) giving the length of pass.dat, its bytes,
// then zelk.coef. Each run happens in the private directory, where the
// output files of the run before are still lying (kesta cuts them).
#include <cstring>

#include "tools/fuzz/driver.h"

int kesta_main();

namespace {

// The counts of records 1-3 when the file starts with three well-formed
// records of at least 4 bytes; kesta reads them the same way.
bool counts(const uint8_t* p, size_t n, int32_t c[3]) {
  size_t at = 0;
  for (int k = 0; k < 3; ++k) {
    uint32_t len, tail;
    if (n - at < 4) return false;
    std::memcpy(&len, p + at, 4);
    if (len < 4 || len > n - at - 4 || n - at - 4 - len < 4) return false;
    std::memcpy(&c[k], p + at + 4, 4);
    std::memcpy(&tail, p + at + 4 + len, 4);
    if (tail != len) return false;
    at += 8 + len;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 8192) return -1;
  size_t np = (size_t)(data[0] | data[1] << 8);
  if (np > size - 2) np = size - 2;
  const uint8_t* pass = data + 2;
  // Large counts only make the run allocate (the refusals of impossible
  // counts and the sizing conditions are tested through the real binary).
  int32_t c[3];
  if (counts(pass, np, c) && (c[1] > 48 || c[2] > 48)) return -1;
  fz::enter_private_dir();
  fz::put("pass.dat", pass, np);
  fz::put("zelk.coef", pass + np, size - 2 - np);
  fz::run([] { kesta_main(); });
  return 0;
}
