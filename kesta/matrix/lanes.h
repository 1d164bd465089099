// Eight doubles operated on elementwise, for the kernels' fast loops: each
// lane is one IEEE operation, so a lane computes exactly what the scalar loop
// computes for its element. GCC lowers the type to the machine's widest
// vectors; -ffp-contract=off keeps every product rounded on its own.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "records/records.h"

typedef double v8 __attribute__((vector_size(64), aligned(8), may_alias));

inline v8 load8(const double* p) {
  v8 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void store8(double* p, v8 v) { std::memcpy(p, &v, sizeof v); }
inline v8 splat8(double x) { return v8{x, x, x, x, x, x, x, x}; }

// y(i) = y(i) - x(i) e for i = 0..count-1.
inline void subtract_multiple(double* y, const double* x, double e, int64_t count) {
  int64_t i = 0;
  const v8 ev = splat8(e);
  for (; i + 8 <= count; i += 8) store8(y + i, load8(y + i) - load8(x + i) * ev);
  for (; i < count; ++i) y[i] = y[i] - x[i] * e;
}

// q(i) = y(i) / u for i = 0..count-1, one division each (q may be y).
inline void divide(double* q, const double* y, double u, int64_t count) {
  int64_t i = 0;
  const v8 uv = splat8(u);
  for (; i + 8 <= count; i += 8) store8(q + i, load8(y + i) / uv);
  for (; i < count; ++i) q[i] = y[i] / u;
}

// Work storage of the fast loops (O(n) or O(n b) values); condition 41 when
// it cannot be had.
template <class T>
std::vector<T> work(size_t count) {
  try {
    return std::vector<T>(count);
  } catch (const std::bad_alloc&) {
    RUNERR(41);
  }
}
