// BINSRC(key, table, n): the position of key in the strictly ascending
// table(1..n), or 0 when it is not there. Changes nothing.
#include "zelk/zelk.h"

int32_t BINSRC(int32_t key, const IDTAB& table, int32_t n) {
  int32_t lo = 1, hi = n;
  while (lo <= hi) {
    // Summed in 64 bits so that no n can overflow it; the same mid.
    const int32_t mid = (int32_t)(((int64_t)lo + hi) / 2);
    if (key > table(mid)) {
      lo = mid + 1;
    } else if (key == table(mid)) {
      return mid;
    } else {
      hi = mid - 1;
    }
  }
  return 0;
}
