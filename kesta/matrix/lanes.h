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

// Transposes the 8 x 8 block t0..t7 (element c of t_r becomes element r of
// t_c); values are only moved, never changed.
inline void transpose8(v8& t0, v8& t1, v8& t2, v8& t3, v8& t4, v8& t5, v8& t6, v8& t7) {
  typedef long long idx __attribute__((vector_size(64)));
  const idx lo = {0, 8, 2, 10, 4, 12, 6, 14}, hi = {1, 9, 3, 11, 5, 13, 7, 15};
  const idx lo2 = {0, 1, 8, 9, 4, 5, 12, 13}, hi2 = {2, 3, 10, 11, 6, 7, 14, 15};
  const idx lo4 = {0, 1, 2, 3, 8, 9, 10, 11}, hi4 = {4, 5, 6, 7, 12, 13, 14, 15};
  const v8 b0 = __builtin_shuffle(t0, t1, lo), b1 = __builtin_shuffle(t0, t1, hi);
  const v8 b2 = __builtin_shuffle(t2, t3, lo), b3 = __builtin_shuffle(t2, t3, hi);
  const v8 b4 = __builtin_shuffle(t4, t5, lo), b5 = __builtin_shuffle(t4, t5, hi);
  const v8 b6 = __builtin_shuffle(t6, t7, lo), b7 = __builtin_shuffle(t6, t7, hi);
  const v8 c0 = __builtin_shuffle(b0, b2, lo2), c2 = __builtin_shuffle(b0, b2, hi2);
  const v8 c1 = __builtin_shuffle(b1, b3, lo2), c3 = __builtin_shuffle(b1, b3, hi2);
  const v8 c4 = __builtin_shuffle(b4, b6, lo2), c6 = __builtin_shuffle(b4, b6, hi2);
  const v8 c5 = __builtin_shuffle(b5, b7, lo2), c7 = __builtin_shuffle(b5, b7, hi2);
  t0 = __builtin_shuffle(c0, c4, lo4), t4 = __builtin_shuffle(c0, c4, hi4);
  t1 = __builtin_shuffle(c1, c5, lo4), t5 = __builtin_shuffle(c1, c5, hi4);
  t2 = __builtin_shuffle(c2, c6, lo4), t6 = __builtin_shuffle(c2, c6, hi4);
  t3 = __builtin_shuffle(c3, c7, lo4), t7 = __builtin_shuffle(c3, c7, hi4);
}

// y(i) = y(i) - x(i) e for i = 0..count-1.
inline void subtract_multiple(double* y, const double* x, double e, int64_t count) {
  int64_t i = 0;
  const v8 ev = splat8(e);
  for (; i + 8 <= count; i += 8) store8(y + i, load8(y + i) - load8(x + i) * ev);
  for (; i < count; ++i) y[i] = y[i] - x[i] * e;
}

// Four stretches of 32 values y[m]: element r of y[m] takes
// y - u_i(r) e[m][i] for i = 0..count-1 in ascending order, u_i the 32 values
// at u + i stride. Every term is taken (the callers' multipliers are all
// nonzero), so no term needs a test, and each u_i loaded serves all four.
inline void subtract_products4x32(double* const* y, const double* u, size_t stride, const double* const* e,
                                  int count) {
  v8 x[4][4];
  for (int m = 0; m < 4; ++m)
    for (int r = 0; r < 4; ++r) x[m][r] = load8(y[m] + 8 * r);
  for (int i = 0; i < count; ++i) {
    const double* ui = u + static_cast<size_t>(i) * stride;
    const v8 u0 = load8(ui), u1 = load8(ui + 8), u2 = load8(ui + 16), u3 = load8(ui + 24);
#pragma GCC unroll 4
    for (int m = 0; m < 4; ++m) {
      const v8 ev = splat8(e[m][i]);
      x[m][0] = x[m][0] - u0 * ev;
      x[m][1] = x[m][1] - u1 * ev;
      x[m][2] = x[m][2] - u2 * ev;
      x[m][3] = x[m][3] - u3 * ev;
    }
  }
  for (int m = 0; m < 4; ++m)
    for (int r = 0; r < 4; ++r) store8(y[m] + 8 * r, x[m][r]);
}

// q(i) = y(i) / u for i = 0..count-1, one division each (q may be y).
inline void divide(double* q, const double* y, double u, int64_t count) {
  int64_t i = 0;
  const v8 uv = splat8(u);
  for (; i + 8 <= count; i += 8) store8(q + i, load8(y + i) / uv);
  for (; i < count; ++i) q[i] = y[i] / u;
}

// Storage on 64-byte boundaries, for buffers whose rows are read with 8-lane
// loads: a row that starts on a line boundary is read a line at a time,
// where one that straddles two lines costs a second access for every load
// (and made a kernel's speed depend on where its buffer happened to fall).
template <class T>
struct Aligned64 {
  typedef T value_type;
  Aligned64() = default;
  template <class U>
  Aligned64(const Aligned64<U>&) {}
  T* allocate(size_t count) {
    if (count > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(::operator new(count * sizeof(T), std::align_val_t(64)));
  }
  void deallocate(T* p, size_t) { ::operator delete(p, std::align_val_t(64)); }
  template <class U>
  bool operator==(const Aligned64<U>&) const {
    return true;
  }
  template <class U>
  bool operator!=(const Aligned64<U>&) const {
    return false;
  }
};
template <class T>
using AlignedWork = std::vector<T, Aligned64<T>>;

// Work storage of the fast loops (O(n) or O(n b) values); condition 41 when
// it cannot be had.
template <class T, class Alloc = std::allocator<T>>
std::vector<T, Alloc> work(size_t count) {
  try {
    return std::vector<T, Alloc>(count);
  } catch (const std::bad_alloc&) {
    RUNERR(41);
  }
}

// work() on 64-byte boundaries.
template <class T>
AlignedWork<T> aligned_work(size_t count) {
  return work<T, Aligned64<T>>(count);
}
