// Included first in every kesta source of the fuzz build (clang): GCC's
// __builtin_shuffle, which the vector kernels use, as an element-by-element
// selection. It only moves values, so the results are the same bits.
#pragma once

#if defined(__clang__)
template <class Vec, class Idx>
static inline Vec fz_shuffle(Vec a, Vec b, Idx m) {
  constexpr int n = (int)(sizeof(Vec) / sizeof(a[0]));
  Vec r;
  for (int k = 0; k < n; ++k) {
    const int x = (int)(m[k] & (2 * n - 1));
    r[k] = x < n ? a[x] : b[x - n];
  }
  return r;
}
template <class Vec, class Idx>
static inline Vec fz_shuffle(Vec a, Idx m) {
  constexpr int n = (int)(sizeof(Vec) / sizeof(a[0]));
  Vec r;
  for (int k = 0; k < n; ++k) r[k] = a[(int)(m[k] & (n - 1))];
  return r;
}
#define __builtin_shuffle fz_shuffle
#endif
