// SIRSOL: iterative solution of (K + lambda(l) A^-1) s(l) = y(l) for every
// canonical trait l at once, with under-relaxation 0.6.
//
//   K      in   n x n, the absorbed sire coefficient matrix (column j read as K(.,j))
//   AP     in   n(n+1)/2, the A-inverse packed lower by rows, (r,c) at r(r-1)/2 + c
//   lambda in   t, variance ratio of each canonical trait
//   Y      in   n x t, right-hand sides
//   S      i/o  n x t, start values on entry, solutions of the last round on return
//   WK     work n x t, off-diagonal sums of the round
//   DG     work n, the diagonal of the A-inverse
//   u, v   work t, per trait the sums of squared solutions and of squared changes
//
// Each round takes the relationship part from the solutions as they stood at
// the start of the round and the coefficient part from the newest ones. At
// most 2000 rounds; progress lines go to the listing. Nothing is tested: a
// trait whose sum of squares is not finite simply never converges, and the
// caller decides what to do with solutions that are not finite.
#include "kesta/sirsol.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "kesta/matrix/lanes.h"
#include "kesta/phases.h"
#include "records/records.h"

namespace {

constexpr int MAXRND = 2000;
// Single-precision constants, widened: 0.6, and the threshold, which is the
// single-precision number just below the one nearest to 4e-8.
constexpr double RELAX = 0.6000000238418579;
constexpr double CRIT = 3.999999620418748e-08;

// The read-only counterpart of M (model.h): a 1-based view of an n-row
// matrix. pk is the 1-based position in the packed triangle.
struct CMat {
  const double* p;
  int64_t n;
  double operator()(int64_t i, int64_t j) const { return p[(j - 1) * n + (i - 1)]; }
};
inline int64_t pk(int64_t r, int64_t c) { return r * (r - 1) / 2 + c; }  // 1-based position

void start_round(M WK, double* u, double* v, int n, int t) {
  for (int l = 1; l <= t; ++l) {
    v[l - 1] = 0;
    u[l - 1] = 0;
    for (int i = 1; i <= n; ++i) WK(i, l) = 0;
  }
}

// New values of sire j from its completed off-diagonal sums.
inline void update_sire(int j, CMat K, const double* lambda, CMat Y, M S, M WK, const double* DG, double* u,
                        double* v, int t) {
  for (int l = 1; l <= t; ++l) {
    double old = S(j, l);
    double g = (Y(j, l) - WK(j, l)) / (lambda[l - 1] * DG[j - 1] + K(j, j));
    double nw = (g - old) * RELAX + old;
    S(j, l) = nw;
    u[l - 1] = nw * nw + u[l - 1];
    // The change is squared in single precision and added in double.
    float x = (float)std::fabs(nw - old);
    float xx = x * x;
    v[l - 1] = (double)xx + v[l - 1];
  }
}

// Progress line and convergence test of round r; true when converged.
bool end_round(int r, const double* u, const double* v, int t) {
  bool conv = true;
  for (int l = 0; l < t; ++l) {
    // A 0/0 quotient (a trait with all-zero solutions) does not hold up
    // convergence. Mend: once a trait's sum of squares has overflowed the
    // quotient is inf/inf = NaN too, and such a diverging trait must never
    // count as converged.
    if (v[l] / u[l] > CRIT || !std::isfinite(u[l])) conv = false;
  }
  if (r < 10 || r % 10 == 0) {
    static const Format fit("(A,I4,A,50F8.5)");
    Items it{"Iteration ", (int32_t)r, "  Converge stats = "};
    for (int l = 0; l < t; ++l) it.push_back(std::sqrt(v[l] / u[l]));
    FMTWRT(LISTING, fit, it);
  }
  if (conv) {
    static const Format fcv("('  CONVERGENCE OF SIRE SOLUTIONS AT ROUND',I6)");
    FMTWRT(LISTING, fcv, {(int32_t)r});
  }
  return conv;
}

void not_converged() {
  LSTWRT(LISTING);
  LSTWRT(LISTING, {" WARNING!!!  SIRE SOLUTIONS DID NOT CONVERGE BY ROUND", (int32_t)(MAXRND + 1)});
}

void diagonal(const double* AP, double* DG, int n) {
  for (int64_t j = 1; j <= n; ++j) DG[j - 1] = AP[pk(j, j) - 1];
}

// ---- The sweep over K --------------------------------------------------------
//
// Sire j's sum for trait l is one chain from WK(j,l) over k = 1..n (k /= j)
// in ascending order; terms k < j take this round's new S(k,l), terms k > j
// the old ones. So the tail of chain j (k > j) can only start once sire j-1
// is done, and the tails of all sires, one after another, are the round's
// critical path: about n^2/2 dependent additions. Everything else is laid
// under that path:
//
// - Sires go in blocks of 8 (j0..j0+7). A block's chains over k < j0 (the
//   prefix) use only values that were final before the block began, so the
//   next block's prefix runs while this block's sires finish their tails:
//   8 consecutive rows of the next block's 8 columns are read as an 8 x 8
//   tile, transposed in registers (K is not assumed symmetric), and row k of
//   the tile is added to the 8 chains of each trait, sires in the lanes. The
//   tiles are spread evenly over the tail loops of the block; the one tile
//   of rows j0..j0+7, whose values this block makes, follows the block.
// - Within a block, sire j0+p takes the terms k = j0..j0+p-1 (new values of
//   its own block) after its prefix, then its tail.
// - The traits of one sire are the lanes of the tail's vector (at most 8 at
//   a time; more traits are swept in slices of 8, each slice a system of its
//   own, so every element still sees its own chain). The update of a sire
//   runs across the same lanes.
// Every chain still takes its terms one at a time in ascending k, each term
// the product S(k,l) * K(k,j) added to the chain; only independent chains
// share a vector or overlap in time.

// Lanes of the trait vector of a slice of T traits (the trait-major copies
// below are padded to this width with zeros).
template <int T>
constexpr int lanes_of() {
  return T <= 2 ? 2 : T <= 4 ? 4 : 8;
}

template <int W>
struct Vec;
template <>
struct Vec<2> {
  typedef double d __attribute__((vector_size(16)));
  typedef float f __attribute__((vector_size(8)));
  typedef int64_t i __attribute__((vector_size(16)));
};
template <>
struct Vec<4> {
  typedef double d __attribute__((vector_size(32)));
  typedef float f __attribute__((vector_size(16)));
  typedef int64_t i __attribute__((vector_size(32)));
};
template <>
struct Vec<8> {
  typedef double d __attribute__((vector_size(64)));
  typedef float f __attribute__((vector_size(32)));
  typedef int64_t i __attribute__((vector_size(64)));
};

template <class V>
inline V ld(const double* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class V>
inline void st(double* p, V v) {
  std::memcpy(p, &v, sizeof v);
}

// Prefetch distances in rows: the tail's stream, the tiles' columns.
constexpr int PF = 256, PFT = 64;

// The next block's side of the sweep while this block's sires finish: its
// chains (trait by trait, sire by lane), its columns, the tiles still due and
// how they are spread over this block's chunks of 8 tail terms, and the
// fetching of its own rows and tails.
struct Next {
  v8 acc[8];
  const double* col[8];
  int jn, nbn;            // its first sire and how many it has (0: none)
  int kt, kend;           // next tile's first row; the tiles now due end at kend
  int64_t ntile, chunks;  // tiles due, this block's chunks
  int64_t err;            // the spreading's remainder
  int pc, pr;             // column and row of the next line to fetch
};

// Rows k0..k0+7 of the next block's columns as rows: t_i holds row k0+i.
__attribute__((always_inline)) inline void tile_rows(const double* const* col, int k0, int kmax, v8& t0, v8& t1,
                                                     v8& t2, v8& t3, v8& t4, v8& t5, v8& t6, v8& t7) {
  t0 = load8(col[0] + k0 - 1), t1 = load8(col[1] + k0 - 1), t2 = load8(col[2] + k0 - 1);
  t3 = load8(col[3] + k0 - 1), t4 = load8(col[4] + k0 - 1), t5 = load8(col[5] + k0 - 1);
  t6 = load8(col[6] + k0 - 1), t7 = load8(col[7] + k0 - 1);
  // The tiles' loads must not wait on memory: a late one holds up the
  // retirement of the tail's additions behind it.
  const int kp = std::min(k0 + PFT, kmax) - 1;
  for (int p = 0; p < 8; ++p) __builtin_prefetch(col[p] + kp);
  transpose8(t0, t1, t2, t3, t4, t5, t6, t7);
}

// Row k of the tile, r = K(k, next block's columns), into the next block's
// chains of every trait; sk = S(k, .) trait-major.
template <int T>
__attribute__((always_inline)) inline void tile_row(v8* acc, v8 r, const double* sk) {
#pragma GCC unroll 8
  for (int l = 0; l < T; ++l) acc[l] = splat8(sk[l]) * r + acc[l];
}

// A whole tile, row after row.
template <int T, int W>
__attribute__((always_inline)) inline void tile(v8* acc, const double* const* col, const double* ST, int k0,
                                                int kmax) {
  v8 r0, r1, r2, r3, r4, r5, r6, r7;
  tile_rows(col, k0, kmax, r0, r1, r2, r3, r4, r5, r6, r7);
  const double* s = ST + (int64_t)(k0 - 1) * W;
  tile_row<T>(acc, r0, s + 0 * W);
  tile_row<T>(acc, r1, s + 1 * W);
  tile_row<T>(acc, r2, s + 2 * W);
  tile_row<T>(acc, r3, s + 3 * W);
  tile_row<T>(acc, r4, s + 4 * W);
  tile_row<T>(acc, r5, s + 5 * W);
  tile_row<T>(acc, r6, s + 6 * W);
  tile_row<T>(acc, r7, s + 7 * W);
}

// Chain j from its prefix sum a (rows 1..j0-1) to its end: rows j0..j-1
// (new values of its own block), then its tail, rows j+1..n, with the next
// block's tiles that are due laid between runs of tail terms. On its own so
// that the chain stays in a register.
template <int T>
__attribute__((noinline)) typename Vec<lanes_of<T>()>::d chain(typename Vec<lanes_of<T>()>::d a,
                                                               const double* Kp, const double* ST, int j0, int j,
                                                               int n, Next& x) {
  constexpr int W = lanes_of<T>();
  typedef typename Vec<W>::d V;
  const double* kj = Kp + (int64_t)(j - 1) * n;
  for (int k = j0; k < j; ++k) a = ld<V>(ST + (int64_t)(k - 1) * W) * kj[k - 1] + a;

  // One stream runs through the tails, this sire's and then the next one's
  // (rows j+2.. of column j+1); it is fetched PF rows ahead, since a single
  // stream from memory would not keep up with the additions. The next
  // sire's rows of its own block go along at once.
  const double* kn = j < n ? kj + n : nullptr;
  if (kn) {
    __builtin_prefetch(kn + std::max(j0, j - 7) - 1);
    __builtin_prefetch(kn + j - 1);
  }
  auto pf = [&](int r) __attribute__((always_inline)) {
    if (r <= n)
      __builtin_prefetch(kj + r - 1);
    else if (kn)
      __builtin_prefetch(kn + std::min(j + 1 + (r - n), n) - 1);
  };
  // The next block's own rows and tails (rows jn..n of its columns) go into
  // the cache meanwhile, two lines a chunk, so that its tails in turn do not
  // wait on memory.
  auto pf_next = [&]() __attribute__((always_inline)) {
    if (x.pc < x.nbn) {
      const double* c = Kp + (int64_t)(x.jn + x.pc - 1) * n;
      __builtin_prefetch(c + x.pr - 1, 0, 2);
      x.pr += 8;
      if (x.pr > n) {
        __builtin_prefetch(c + n - 1, 0, 2);  // the column's last line
        x.pr = x.jn;
        ++x.pc;
      }
    }
  };

  v8 acc[T];
  for (int l = 0; l < T; ++l) acc[l] = x.acc[l];
  const int kmax = x.jn - 1;
  int k = j + 1;
  // Chunks of 8 terms. The chunk at which a tile falls due carries it, row
  // i of the tile beside term i of the chain, so that neither waits for the
  // other; tiles due beyond that (late in the sweep, where the tails are
  // short) follow it whole.
  auto fetch = [&]() __attribute__((always_inline)) {
    pf(k + PF);
    pf_next();
    pf_next();
  };
  auto term = [&](int i) __attribute__((always_inline)) {
    a = ld<V>(ST + (int64_t)(k - 1 + i) * W) * kj[k - 1 + i] + a;
  };
  for (int64_t left = (n - j) / 8; left > 0;) {
    const bool due = x.kt < x.kend;
    const int64_t need = due ? (x.chunks - x.err + x.ntile - 1) / x.ntile : left + 1;
    const int64_t plain = std::min(left, need - 1);
    for (int64_t i = 0; i < plain; ++i, k += 8) {
      fetch();
      term(0);
      term(1);
      term(2);
      term(3);
      term(4);
      term(5);
      term(6);
      term(7);
    }
    left -= plain;
    if (due) x.err += plain * x.ntile;
    if (left == 0) break;
    // the chunk that carries a tile
    v8 r0, r1, r2, r3, r4, r5, r6, r7;
    tile_rows(x.col, x.kt, kmax, r0, r1, r2, r3, r4, r5, r6, r7);
    const double* s = ST + (int64_t)(x.kt - 1) * W;
    fetch();
    term(0);
    tile_row<T>(acc, r0, s + 0 * W);
    term(1);
    tile_row<T>(acc, r1, s + 1 * W);
    term(2);
    tile_row<T>(acc, r2, s + 2 * W);
    term(3);
    tile_row<T>(acc, r3, s + 3 * W);
    term(4);
    tile_row<T>(acc, r4, s + 4 * W);
    term(5);
    tile_row<T>(acc, r5, s + 5 * W);
    term(6);
    tile_row<T>(acc, r6, s + 6 * W);
    term(7);
    tile_row<T>(acc, r7, s + 7 * W);
    k += 8;
    left -= 1;
    x.kt += 8;
    x.err += x.ntile - x.chunks;
    for (; x.err >= x.chunks && x.kt < x.kend; x.err -= x.chunks, x.kt += 8) tile<T, W>(acc, x.col, ST, x.kt, kmax);
  }
  for (; k <= n; ++k) a = ld<V>(ST + (int64_t)(k - 1) * W) * kj[k - 1] + a;
  for (int l = 0; l < T; ++l) x.acc[l] = acc[l];
  return a;
}

// One slice of T traits (1..8), its columns of S and WK seen through S and
// WK, u and v pointing at its first trait. ST, YT and DEN are trait-major
// copies padded to W lanes, row k at (k-1)W: S (kept equal to S, padding 0),
// Y (padding 0) and the denominators lambda(l) DG(k) + K(k,k) (padding 1).
template <int T>
void sires_round(const double* Kp, M S, M WK, double* u, double* v, double* ST, const double* YT,
                 const double* DEN, int n) {
  constexpr int W = lanes_of<T>();
  typedef typename Vec<W>::d V;
  typedef typename Vec<W>::f VF;
  typedef typename Vec<W>::i VI;
  // Vectors go in and out of lanes through small arrays only: a lane taken
  // by index would keep the vector in memory.
  int64_t lanes[2][W];
  double su[W], sv[W];
  for (int l = 0; l < W; ++l) {
    lanes[0][l] = l < T ? -1 : 0;
    lanes[1][l] = INT64_MIN;
    su[l] = l < T ? u[l] : 0;
    sv[l] = l < T ? v[l] : 0;
  }
  VI used, sign;
  std::memcpy(&used, lanes[0], sizeof used);
  std::memcpy(&sign, lanes[1], sizeof sign);
  V uacc = ld<V>(su), vacc = ld<V>(sv);  // the round's sums of squares, trait by lane

  double pre[8][W];  // this block's chains after their prefix, sire by sire
  for (int p = 0; p < 8; ++p)
    for (int l = 0; l < W; ++l) pre[p][l] = p < n && l < T ? WK(1 + p, l + 1) : 0;
  double lane[8][8];

  Next x;
  for (int j0 = 1; j0 <= n; j0 += 8) {
    const int nb = std::min(8, n - j0 + 1);
    x.jn = j0 + 8;
    x.nbn = x.jn <= n ? std::min(8, n - x.jn + 1) : 0;  // with a next block this one has all 8 sires
    x.kt = 1;
    x.kend = x.nbn ? j0 : 1;
    x.ntile = (x.kend - 1) / 8;
    x.chunks = 0;
    for (int p = 0; p < nb; ++p) x.chunks += (n - (j0 + p)) / 8;
    x.err = 0;
    x.pc = 0;
    x.pr = x.jn;
    if (x.nbn) {
      // A short last block repeats its first column in the unused lanes.
      for (int p = 0; p < 8; ++p) x.col[p] = Kp + (int64_t)(x.jn + (p < x.nbn ? p : 0) - 1) * n;
      for (int l = 0; l < T; ++l) {
        for (int p = 0; p < 8; ++p) lane[l][p] = p < x.nbn ? WK(x.jn + p, l + 1) : 0;
        x.acc[l] = load8(lane[l]);
      }
    }

    for (int p = 0; p < nb; ++p) {
      const int j = j0 + p;
      V a = chain<T>(ld<V>(pre[p]), Kp, ST, j0, j, n, x);
      if (p == nb - 1)  // the tiles the tails could not take
        for (; x.kt < x.kend; x.kt += 8) tile<T, W>(x.acc, x.col, ST, x.kt, x.jn - 1);

      // The update of sire j, trait by lane.
      const int64_t o = (int64_t)(j - 1) * W;
      const V old = ld<V>(ST + o);
      const V g = (ld<V>(YT + o) - a) / ld<V>(DEN + o);
      const V nw = (g - old) * RELAX + old;
      st(ST + o, (V)((VI)nw & used));
      uacc = nw * nw + uacc;
      // The change is squared in single precision and added in double.
      const VF d = __builtin_convertvector((V)((VI)(nw - old) & ~sign), VF);
      const VF dd = d * d;
      vacc = __builtin_convertvector(dd, V) + vacc;
      double sa[W], sn[W];
      st(sa, a);
      st(sn, nw);
      for (int l = 0; l < T; ++l) {
        WK(j, l + 1) = sa[l];
        S(j, l + 1) = sn[l];
      }
    }
    if (x.nbn) {
      tile<T, W>(x.acc, x.col, ST, j0, x.jn - 1);  // rows j0..j0+7: the values this block has just made
      for (int l = 0; l < T; ++l) store8(lane[l], x.acc[l]);
      for (int p = 0; p < 8; ++p)
        for (int l = 0; l < W; ++l) pre[p][l] = l < T ? lane[l][p] : 0;
    }
  }
  st(su, uacc);
  st(sv, vacc);
  for (int l = 0; l < T; ++l) {
    u[l] = su[l];
    v[l] = sv[l];
  }
}

using Round = void (*)(const double*, M, M, double*, double*, double*, const double*, const double*, int);

Round pick(int t) {
  static const Round r[8] = {sires_round<1>, sires_round<2>, sires_round<3>, sires_round<4>,
                             sires_round<5>, sires_round<6>, sires_round<7>, sires_round<8>};
  return r[t - 1];
}

}  // namespace

void SIRSOL_literal(const double* Kp, const double* AP, const double* lambda, const double* Yp, double* Sp,
                    double* WKp, double* DG, double* u, double* v, int n, int t) {
  CMat K{Kp, n}, Y{Yp, n};
  M S{Sp, n}, WK{WKp, n};
  diagonal(AP, DG, n);
  LSTWRT(LISTING);
  for (int r = 1; r <= MAXRND; ++r) {
    start_round(WK, u, v, n, t);
    for (int64_t j = 1; j <= n; ++j) {
      for (int64_t k = 1; k <= j; ++k) {
        double a = AP[pk(j, k) - 1];
        if (k == j || a == 0) continue;  // 0 and -0 are passed over, a NaN is not
        for (int l = 1; l <= t; ++l) {
          WK(j, l) = (S(k, l) * a) * lambda[l - 1] + WK(j, l);
          WK(k, l) = (S(j, l) * a) * lambda[l - 1] + WK(k, l);
        }
      }
    }
    for (int j = 1; j <= n; ++j) {
      for (int k = 1; k <= n; ++k) {
        if (k == j) continue;
        for (int l = 1; l <= t; ++l) WK(j, l) = S(k, l) * K(k, j) + WK(j, l);
      }
      update_sire(j, K, lambda, Y, S, WK, DG, u, v, t);
    }
    if (end_round(r, u, v, t)) return;
  }
  not_converged();
}

// The same rounds, bit for bit: the nonzero off-diagonal coefficients are
// listed once in storage order, so a round walks only those; the sweep over
// K overlaps independent chains (sires_round). O(nnz + n t) extra memory.
void SIRSOL(const double* Kp, const double* AP, const double* lambda, const double* Yp, double* Sp, double* WKp,
            double* DG, double* u, double* v, int n, int t) {
#ifdef KESTA_LITERAL_KERNELS
  SIRSOL_literal(Kp, AP, lambda, Yp, Sp, WKp, DG, u, v, n, t);
  return;
#endif
  CMat K{Kp, n}, Y{Yp, n};
  M S{Sp, n}, WK{WKp, n};
  diagonal(AP, DG, n);
  LSTWRT(LISTING);

  struct Off {
    int32_t k, j;
    double a;
  };
  size_t nnz = 0;
  for (int64_t j = 2; j <= n; ++j)
    for (int64_t k = 1; k < j; ++k) nnz += !(AP[pk(j, k) - 1] == 0);
  std::vector<Off> off = work<Off>(nnz);
  size_t e = 0;
  for (int64_t j = 2; j <= n; ++j)
    for (int64_t k = 1; k < j; ++k) {
      double a = AP[pk(j, k) - 1];
      if (!(a == 0)) off[e++] = {(int32_t)k, (int32_t)j, a};
    }

  // The traits in slices of at most 8, each with its trait-major copies of
  // S, Y and the denominators (which depend on nothing that changes), their
  // rows on 64-byte boundaries so that no row's load straddles two lines.
  struct Slice {
    int l0, t, w;
    AlignedWork<double> buf;
    double *ST, *YT, *DEN;
  };
  std::vector<Slice> slices;
  for (int l0 = 0; l0 < t; l0 += 8) {
    Slice s;
    s.l0 = l0;
    s.t = std::min(8, t - l0);
    s.w = s.t <= 2 ? 2 : s.t <= 4 ? 4 : 8;
    const size_t len = (size_t)n * s.w;
    s.buf = aligned_work<double>(3 * len);
    s.ST = s.buf.data();
    s.YT = s.ST + len;
    s.DEN = s.YT + len;
    for (int k = 1; k <= n; ++k)
      for (int c = 0; c < s.w; ++c) {
        const size_t i = (size_t)(k - 1) * s.w + c;
        const int l = l0 + c + 1;
        s.ST[i] = c < s.t ? S(k, l) : 0;
        s.YT[i] = c < s.t ? Y(k, l) : 0;
        s.DEN[i] = c < s.t ? lambda[l - 1] * DG[k - 1] + K(k, k) : 1;
      }
    slices.push_back(std::move(s));
  }

  for (int r = 1; r <= MAXRND; ++r) {
    start_round(WK, u, v, n, t);
    for (const Off& e : off) {
      for (int l = 1; l <= t; ++l) {
        WK(e.j, l) = (S(e.k, l) * e.a) * lambda[l - 1] + WK(e.j, l);
        WK(e.k, l) = (S(e.j, l) * e.a) * lambda[l - 1] + WK(e.k, l);
      }
    }
    for (Slice& s : slices)
      pick(s.t)(Kp, M{Sp + (int64_t)s.l0 * n, n}, M{WKp + (int64_t)s.l0 * n, n}, u + s.l0, v + s.l0, s.ST, s.YT,
                s.DEN, n);
    if (end_round(r, u, v, t)) return;
  }
  not_converged();
}
