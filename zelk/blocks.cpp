// The eight coefficient blocks A1000 .. A1111 and CPYMAT.
//
// Element (i, j) of the block of code 1abc is q_i q_j / d with
// q = (1, -1/2, -1/4, -1/8, -1/8) over the positions bull, sire, MGS, MGGS and
// the group of the unknown maternal great-granddam, and d = 1 - a/4 - b/16 - c/64.
#include "zelk/zelk.h"

void BLDBLK(ZELK& Z) {
  static const float q[5] = {1.0f, -0.5f, -0.25f, -0.125f, -0.125f};
  // A1111 first holds q q' (every value a signed power of two, so exact).
  for (int j = 1; j <= 5; ++j)
    for (int i = 1; i <= 5; ++i) Z.A1111(i, j) = q[i - 1] * q[j - 1];
  // One single-precision division per element, each from q q' itself and
  // never from another divided value; A1111 last, in place.
  for (int i = 1; i <= 5; ++i)
    for (int j = 1; j <= 5; ++j) {
      const float qq = Z.A1111(i, j);
      Z.A1000(i, j) = qq;
      Z.A1001(i, j) = qq / 0.984375f;
      Z.A1010(i, j) = qq / 0.9375f;
      Z.A1011(i, j) = qq / 0.921875f;
      Z.A1100(i, j) = qq / 0.75f;
      Z.A1101(i, j) = qq / 0.734375f;
      Z.A1110(i, j) = qq / 0.6875f;
      Z.A1111(i, j) = qq / 0.671875f;
    }
}

const Block& BLKSEL(const ZELK& Z, int32_t code) {
  switch (code) {
    case 1000: return Z.A1000;
    case 1001: return Z.A1001;
    case 1010: return Z.A1010;
    case 1011: return Z.A1011;
    case 1100: return Z.A1100;
    case 1101: return Z.A1101;
    case 1110: return Z.A1110;
    default: return Z.A1111;  // 1111, the only code left
  }
}

void CPYMAT(const Block& AMATRX, Block& AOUT, const int32_t& N) {
  // A block has five rows and columns: a larger N would leave it.
  if (N > 5) RUNERR408(1, "AMATRX", N, 5, true);
  for (int j = 1; j <= N; ++j)
    for (int i = 1; i <= N; ++i) AOUT(i, j) = AMATRX(i, j);
}
