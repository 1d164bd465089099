// The fast dense kernels and the fast sire solver against their literal loop
// nests, bit for bit in every output array: a table of kernels x input kinds,
// each row run over every order 1..64 and a spread up to 300, and in an
// optimised build a few larger orders (see reach()). The inputs include the
// A-inverse of a real pedigree (zelk run on a generated pedigree.dat), its
// Cholesky factor and the inverse of that factor, as kesta forms them.
//
// Everything runs with flush-to-zero and denormals-are-zero set, as the
// programs run: no input is subnormal, but tiny and huge magnitudes make
// products underflow and sums overflow.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "kesta/absorb.h"
#include "kesta/matrix/eigvec_tuning.h"
#include "kesta/matrix/gauss_jordan.h"
#include "kesta/matrix/kernels.h"
#include "kesta/phases.h"
#include "kesta/sirsol.h"
#include "records/records.h"
#include "support/run.h"
#include "support/sirsol_both.h"

#if defined(__SANITIZE_ADDRESS__)
#define IDENTITY_SLOW_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define IDENTITY_SLOW_BUILD 1
#endif
#endif
#if !defined(__OPTIMIZE__)
#define IDENTITY_SLOW_BUILD 1
#endif

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();

#ifdef IDENTITY_SLOW_BUILD
constexpr bool kSlowBuild = true;
#else
constexpr bool kSlowBuild = false;
#endif

// How far up a table row goes: every order 1..64 always, then a spread
// around the powers of two up to 129 (Short) or 300 (Full), and with Large
// two larger orders too.
enum class Reach { Short, Full, Large };

std::vector<int> orders(Reach reach) {
  std::vector<int> o;
  for (int n = 1; n <= 64; ++n) o.push_back(n);
  for (int n : {65, 96, 127, 128, 129}) o.push_back(n);
  if (reach != Reach::Short)
    for (int n : {200, 255, 256, 257, 300}) o.push_back(n);
  if (reach == Reach::Large)
    for (int n : {511, 700}) o.push_back(n);
  return o;
}
constexpr int kPedigreeBulls = 720;  // above the largest order

// The programs' floating-point mode for the life of a test.
struct ProgramFpMode {
  unsigned saved = _mm_getcsr();
  ProgramFpMode() { _mm_setcsr(saved | 0x8040); }  // flush-to-zero, denormals-are-zero
  ~ProgramFpMode() { _mm_setcsr(saved); }
};

// ---- Input kinds ---------------------------------------------------------------

enum class Kind {
  Random,         // dense, dominant diagonal, not symmetric
  Pedigree,       // leading block of a real A-inverse (sparse, exact zeros)
  Factor,         // its Cholesky factor L (lower triangular, +0 above)
  FactorInverse,  // L^-1 as INVRT leaves it (exact zeros above and below)
  Diagonal,       // exactly repeated positive values, zeros of both signs off it
  Zeros,          // random with most elements +0 or -0 and one decoupled row
  Repeated,       // a rotated diagonal of 2s and 3s plus rank one
  Blocks,         // one symmetric block repeated down the diagonal
  Tiny,           // random scaled by 2^-500
  Huge,           // random scaled by 2^+500
  Graded,         // D random D, D = 2^0 .. 2^120 along the diagonal
  NonFinite,      // random with a NaN below the diagonal and an infinity above
};

const char* kind_name(Kind k) {
  switch (k) {
    case Kind::Random: return "random";
    case Kind::Pedigree: return "pedigree";
    case Kind::Factor: return "factor";
    case Kind::FactorInverse: return "factor_inverse";
    case Kind::Diagonal: return "diagonal";
    case Kind::Zeros: return "signed_zeros";
    case Kind::Repeated: return "repeated";
    case Kind::Blocks: return "blocks";
    case Kind::Tiny: return "tiny";
    case Kind::Huge: return "huge";
    case Kind::Graded: return "graded";
    case Kind::NonFinite: return "non_finite";
  }
  return "?";
}

// A column-major n x n matrix, 0-based.
struct Mat {
  int n = 0;
  std::vector<double> v;
  explicit Mat(int n_ = 0, double fill = 0.0) : n(n_), v(static_cast<size_t>(n_) * n_, fill) {}
  double& operator()(int i, int j) { return v[static_cast<size_t>(j) * n + i]; }
  double operator()(int i, int j) const { return v[static_cast<size_t>(j) * n + i]; }
};

// The bulls' A-inverse of a generated pedigree of kPedigreeBulls bulls as
// zelk writes it and kesta assembles it: each coefficient read in single
// precision and added, widened, in file order; the pairs (i, j), i <= j, of
// the bulls only (group equations come after them). Symmetric.
const Mat& pedigree_ainverse() {
  static Mat a = [] {
    const int N = kPedigreeBulls;
    std::mt19937_64 gen(1954);
    std::uniform_real_distribution<double> u(0, 1);
    std::string ped;
    auto id = [](int k) { return 10000 + 7 * k; };  // bull k (1-based), ascending
    for (int k = 1; k <= N; ++k) {
      // Ancestors among the older bulls, some unknown, some IDs not in the
      // file (unknown too, through the search); years ascend with k.
      auto ancestor = [&](double known) -> int {
        if (k == 1 || u(gen) >= known) return u(gen) < 0.2 ? 3 : 0;
        const int lo = k > 150 ? k - 150 : 1;
        return id(lo + static_cast<int>(u(gen) * (k - lo)));
      };
      const int sire = ancestor(0.85), mgs = ancestor(0.7), mggs = ancestor(0.5);
      char line[80];
      snprintf(line, sizeof line, "%9d %9d %9d %9d H %4d\n", id(k), sire, mgs, mggs, 1970 + k * 40 / N);
      ped += line;
    }
    Mat m(N);
    const std::string dir = make_tempdir();
    write_file(dir, "pedigree.dat", ped);
    RunResult r = run_in(dir, ZELK_BIN);
    const std::string coef = read_file(dir, "zelk.coef");
    std::filesystem::remove_all(dir);
    if (r.status != 0 || coef.size() != static_cast<size_t>(N) * 25 * 21) {
      ADD_FAILURE() << "zelk on the generated pedigree: status " << r.status << "\n" << r.out << r.err;
      // The identity in its place keeps the factor's inversion from stopping.
      for (int i = 0; i < N; ++i) m(i, i) = 1.0;
      return m;
    }
    for (size_t p = 0; p + 21 <= coef.size(); p += 21) {
      const int i = std::atoi(coef.substr(p, 5).c_str()), j = std::atoi(coef.substr(p + 5, 5).c_str());
      const float x = std::strtof(coef.substr(p + 10, 10).c_str(), nullptr);
      if (i < 1 || i > j || j > N) continue;
      m(i - 1, j - 1) += static_cast<double>(x);
      if (i != j) m(j - 1, i - 1) = m(i - 1, j - 1);
    }
    return m;
  }();
  return a;
}

Mat leading_block(const Mat& a, int n) {
  Mat b(n);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) b(i, j) = a(i, j);
  return b;
}

// The packed upper triangle by rows of a.
std::vector<double> packed_upper(const Mat& a) {
  std::vector<double> ap;
  ap.reserve(static_cast<size_t>(a.n) * (a.n + 1) / 2);
  for (int r = 0; r < a.n; ++r)
    for (int c = r; c < a.n; ++c) ap.push_back(a(r, c));
  return ap;
}

// The factor and its inverse of the pedigree block of order n, formed as
// kesta forms them (literal kernels: these are inputs, not results).
struct PedigreeFactors {
  Mat L, Linv;
};
const PedigreeFactors& pedigree_factors(int n) {
  static std::map<int, PedigreeFactors> cache;
  auto it = cache.find(n);
  if (it != cache.end()) return it->second;
  std::vector<double> ap = packed_upper(leading_block(pedigree_ainverse(), n));
  cholpk_literal(ap.data(), n);
  PedigreeFactors f{Mat(n), Mat(n)};
  size_t p = 0;
  for (int c = 0; c < n; ++c)
    for (int r = c; r < n; ++r) f.L(r, c) = ap[p++];
  f.Linv = f.L;
  invrt_literal(f.Linv.v.data(), n, n);
  return cache.emplace(n, std::move(f)).first->second;
}

// The seed of input `which` of a case; failure reports name it.
unsigned seed_of(Kind kind, int n, int which) {
  return 1000003u * (static_cast<unsigned>(kind) + 1) + 7919u * n + which;
}

Mat make(Kind kind, int n, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-1, 1);
  auto random = [&] {
    Mat a(n);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) a(i, j) = u(gen) + (i == j ? n : 0.0);
    return a;
  };
  switch (kind) {
    case Kind::Random: return random();
    case Kind::Pedigree: return leading_block(pedigree_ainverse(), n);
    case Kind::Factor: return pedigree_factors(n).L;
    case Kind::FactorInverse: return pedigree_factors(n).Linv;
    case Kind::Diagonal: {
      Mat a(n);
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i)
          a(i, j) = i == j ? (1 + (i * 7) % 5) * (i % 2 ? 0.75 : 1.0) : (i + 2 * j) % 5 == 0 ? -0.0 : 0.0;
      return a;
    }
    case Kind::Zeros: {
      Mat a = random();
      const int r = n / 2;
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
          if (i == j) continue;
          const unsigned pick = static_cast<unsigned>(gen() % 10);
          if (i == r || j == r || pick < 7) a(i, j) = pick % 2 ? -0.0 : 0.0;
        }
      return a;
    }
    case Kind::Repeated: {
      // H D H + x x' with the reflection H = I - 2 w w' / w'w and D holding
      // 2 and 3 over and over: eigenvalues repeated up to the rounding of
      // the rotation, and a rank-one term on top.
      std::vector<double> w(n), x(n), lam(n), dw(n);
      double ww = 0, wdw = 0;
      for (int i = 0; i < n; ++i) {
        w[i] = u(gen), x[i] = u(gen) / 2, lam[i] = i % 4 == 3 ? 3.0 : 2.0;
        dw[i] = lam[i] * w[i];
        ww += w[i] * w[i];
        wdw += w[i] * dw[i];
      }
      Mat a(n);
      for (int j = 0; j < n; ++j)
        for (int i = j; i < n; ++i) {
          const double hdh = (i == j ? lam[i] : 0.0) - 2 * (w[i] * dw[j] + dw[i] * w[j]) / ww +
                             4 * w[i] * w[j] * wdw / (ww * ww);
          a(i, j) = a(j, i) = hdh + x[i] * x[j];
        }
      return a;
    }
    case Kind::Blocks: {
      const int b = 1 + n % 4;
      Mat blk(b);
      for (int j = 0; j < b; ++j)
        for (int i = j; i < b; ++i) blk(i, j) = blk(j, i) = i == j ? b + 1 + u(gen) : u(gen);
      Mat a(n);
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i)
          a(i, j) = i / b == j / b ? blk(i % b, j % b) : (i * 3 + j) % 7 == 0 ? -0.0 : 0.0;
      return a;
    }
    case Kind::Tiny:
    case Kind::Huge: {
      Mat a = random();
      for (double& x : a.v) x = std::ldexp(x, kind == Kind::Tiny ? -500 : 500);
      return a;
    }
    case Kind::Graded: {
      Mat a = random();
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) a(i, j) = std::ldexp(a(i, j), 2 * ((i * 37) % 61) + 2 * ((j * 37) % 61));
      return a;
    }
    case Kind::NonFinite: {
      Mat a = random();
      if (n >= 2) {
        const int j = static_cast<int>(gen() % (n - 1)), i = j + 1 + static_cast<int>(gen() % (n - 1 - j));
        a(i, j) = NaN;
        const int j2 = 1 + static_cast<int>(gen() % (n - 1)), i2 = static_cast<int>(gen() % j2);
        a(i2, j2) = seed % 2 ? INF : -INF;
      }
      return a;
    }
  }
  return Mat(n);
}

// ---- Comparison ----------------------------------------------------------------

// Collects differences for one table row; reports the first few in full.
struct Check {
  std::string row;  // kernel and kind
  int reported = 0;
  std::string where;  // order and seed of the case in hand

  // Bit for bit, except that any two NaNs count as equal: the sign of a NaN
  // from two NaN operands (an input NaN meeting a generated one) is the
  // compiler's choice of operand order, and every NaN prints alike.
  void same(const char* array, const double* want, const double* got, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      if (std::isnan(want[i]) && std::isnan(got[i])) continue;
      if (std::memcmp(&want[i], &got[i], sizeof(double)) == 0) continue;
      if (reported++ < 12) {
        char b[200];
        snprintf(b, sizeof b, "%s: first difference at [%zu]: literal %a, fast %a", array, i, want[i], got[i]);
        ADD_FAILURE() << row << " " << where << " " << b;
      }
      return;
    }
  }
  void same(const char* array, const std::vector<double>& want, const std::vector<double>& got) {
    if (want.size() != got.size()) {
      ADD_FAILURE() << row << " " << where << " " << array << ": sizes differ";
      return;
    }
    same(array, want.data(), got.data(), want.size());
  }
};

// Embeds a in an array of leading dimension ld >= n; the rows beyond n hold
// values no kernel may touch.
std::vector<double> with_leading_dimension(const Mat& a, int ld) {
  std::vector<double> x(static_cast<size_t>(ld) * a.n);
  for (int j = 0; j < a.n; ++j)
    for (int i = 0; i < ld; ++i) x[static_cast<size_t>(j) * ld + i] = i < a.n ? a(i, j) : 1000.0 + i + 0.5 * j;
  return x;
}
int leading_dimension(int n) { return n + (n % 3 == 1 ? 2 : 0); }

// ---- The kernels -------------------------------------------------------------

// CHOLPK and cholpk_blocked (one block size per order) on the packed upper
// triangle of the input.
void cholpk_case(Kind kind, int n, Check& c) {
  const std::vector<double> ap = packed_upper(make(kind, n, seed_of(kind, n, 0)));
  std::vector<double> want = ap, got = ap, blocked = ap;
  cholpk_literal(want.data(), n);
  CHOLPK(got.data(), static_cast<int>(got.size()), n);
  c.same("CHOLPK ap", want, got);
  const int b = 1 + (n * 5) % 13;
  cholpk_blocked(blocked.data(), n, b);
  c.same(("cholpk_blocked b=" + std::to_string(b) + " ap").c_str(), want, blocked);
}

// INVRT and invrt_blocked (one block size per order), leading dimension
// above the order for a third of the orders.
void invrt_case(Kind kind, int n, Check& c) {
  const int ld = leading_dimension(n);
  const std::vector<double> a = with_leading_dimension(make(kind, n, seed_of(kind, n, 0)), ld);
  std::vector<double> want = a, got = a, blocked = a;
  invrt_literal(want.data(), ld, n);
  INVRT(got.data(), ld, n);
  c.same("INVRT a", want, got);
  static const int sizes[] = {1, 2, 3, 5, 8, 16, 32, 64};
  const int b = sizes[n % 8];
  invrt_blocked(blocked.data(), ld, n, b);
  c.same(("invrt_blocked b=" + std::to_string(b) + " a").c_str(), want, blocked);
}

// EIGVEC with z distinct from a and z the same array as a (as kesta calls
// it), and eigvec_tuned in place with one tuning per order. A slow build
// runs the distinct arrays up to order 64 only.
void eigvec_case(Kind kind, int n, Check& c) {
  const int nm = leading_dimension(n);
  const std::vector<double> a = with_leading_dimension(make(kind, n, seed_of(kind, n, 0)), nm);
  const size_t size = a.size();
  if (!kSlowBuild || n <= 64) {
    std::vector<double> a1 = a, a2 = a, d1(n, 9.0), d2(n, 9.0), e1(n), e2(n), z1(size, 5.0), z2(size, 5.0);
    eigvec_literal(nm, n, a1.data(), d1.data(), e1.data(), z1.data());
    EIGVEC(nm, n, a2.data(), d2.data(), e2.data(), z2.data());
    c.same("EIGVEC distinct d", d1, d2);
    c.same("EIGVEC distinct z", z1, z2);
    c.same("EIGVEC distinct a", a1, a2);
  }
  std::vector<double> a1 = a, d1(n, 9.0), e1(n);
  eigvec_literal(nm, n, a1.data(), d1.data(), e1.data(), a1.data());
  {
    std::vector<double> a2 = a, d2(n, 9.0), e2(n);
    EIGVEC(nm, n, a2.data(), d2.data(), e2.data(), a2.data());
    c.same("EIGVEC in place d", d1, d2);
    c.same("EIGVEC in place z", a1, a2);
  }
  {
    const size_t caps[] = {1, static_cast<size_t>(3) * n, eigvec_tuning(n).rotation_capacity};
    const EigvecTuning t{1 + n % 4, caps[n % 3]};
    std::vector<double> a2 = a, d2(n, 9.0), e2(n);
    eigvec_tuned(t, nm, n, a2.data(), d2.data(), e2.data(), a2.data());
    const std::string tag = "eigvec_tuned(" + std::to_string(t.accumulate_vectors) + "," +
                            std::to_string(t.rotation_capacity) + ") in place ";
    c.same((tag + "d").c_str(), d1, d2);
    c.same((tag + "z").c_str(), a1, a2);
  }
}

// a := a L' then a := L a, literal and tiled, as the canonical transformation
// chains them; the upper triangle of L holds NaN, which must never be read.
// For the pedigree row a is a dense matrix and L the pedigree's inverse
// factor, as kesta forms L^-1 K L^-T; the factor rows use their own
// triangle as L; every other row takes a and L of its kind.
void products_case(Kind kind, int n, Check& c) {
  Mat a(n), L(n);
  if (kind == Kind::Pedigree || kind == Kind::Factor || kind == Kind::FactorInverse) {
    a = make(Kind::Random, n, seed_of(kind, n, 0));
    L = kind == Kind::Factor ? pedigree_factors(n).L : pedigree_factors(n).Linv;
  } else {
    a = make(kind, n, seed_of(kind, n, 0));
    L = make(kind, n, seed_of(kind, n, 1));
  }
  for (int j = 1; j < n; ++j)
    for (int i = 0; i < j; ++i) L(i, j) = NaN;
  std::vector<double> lit = a.v, fast = a.v, w1(n, 7.0), w2(n, 7.0);
  mult_rows_linvt(lit.data(), L.v.data(), w1.data(), n);
  mult_rows_linvt_tiled(fast.data(), L.v.data(), w2.data(), n);
  c.same("mult_rows_linvt a", lit, fast);
  // The next product from the same input either way.
  fast = lit;
  mult_cols_linv(lit.data(), L.v.data(), w1.data(), n);
  mult_cols_linv_tiled(fast.data(), L.v.data(), w2.data(), n);
  c.same("mult_cols_linv a", lit, fast);
}

// ---- SIRSOL ------------------------------------------------------------------

// One sire system: K (dense, dominant diagonal, not exactly symmetric), the
// A-inverse packed lower by rows, t traits (1..9 mostly, some counts from 10
// to 32, and 33, above the counts the solver has fixed loops for),
// right-hand sides and start values.
struct SireSystem {
  int n, t;
  std::vector<double> K, AP, lambda, Y, S0;
};

SireSystem sire_system(Kind kind, int n) {
  SireSystem s;
  s.n = n;
  s.t = n % 16 == 0 ? 33 : n % 16 == 8 ? 10 + n % 23 : 1 + (n + static_cast<int>(kind)) % 9;
  std::mt19937_64 gen(seed_of(kind, n, 2));
  std::uniform_real_distribution<double> u(-1, 1);
  // The relationships: the pedigree's, or a matrix of the kind with the
  // diagonal of an A-inverse; K of the kind where the kind shapes K too.
  Mat A(n), K(n);
  switch (kind) {
    case Kind::Pedigree: A = make(Kind::Pedigree, n, 0); break;
    case Kind::Diagonal:
    case Kind::Zeros:
    case Kind::Blocks:
    case Kind::NonFinite:
      A = make(kind, n, seed_of(kind, n, 0));
      for (int i = 0; i < n; ++i) A(i, i) = 1 + std::fabs(u(gen));
      break;
    default:
      A = make(Kind::Random, n, seed_of(kind, n, 0));
      for (int i = 0; i < n; ++i) A(i, i) = 1 + std::fabs(u(gen));
      for (int j = 0; j < n; ++j)
        for (int i = j + 1; i < n; ++i) A(i, j) = u(gen) < 0.6 ? (u(gen) < 0 ? -0.0 : 0.0) : A(i, j) / n;
      break;
  }
  const bool k_of_kind = kind == Kind::Diagonal || kind == Kind::Zeros || kind == Kind::Blocks;
  K = make(k_of_kind ? kind : Kind::Random, n, seed_of(kind, n, 1));
  if (kind == Kind::NonFinite && n >= 2) K(n - 1, 0) = INF;
  for (int r = 0; r < n; ++r)
    for (int c = 0; c <= r; ++c) s.AP.push_back(A(r, c));
  s.K = K.v;
  for (int l = 0; l < s.t; ++l) s.lambda.push_back(0.5 + std::fabs(u(gen)));
  for (int l = 0; l < s.t; ++l) {
    // With tiny right-hand sides the single-precision squares of the
    // changes flush to zero after a few rounds, which ends the iteration;
    // huge ones stay below their overflow.
    const int scale = kind == Kind::Tiny ? -56 : kind == Kind::Huge ? 56 : kind == Kind::Graded ? 8 * (l % 11) - 40 : 0;
    for (int i = 0; i < n; ++i) s.Y.push_back(l % 7 == 6 ? 0.0 : std::ldexp(u(gen), scale));  // some all-zero traits
  }
  for (size_t i = 0; i < s.Y.size(); ++i) s.S0.push_back(n % 2 ? 0.0 : s.Y[i] * 0.1);
  return s;
}

// Runs SIRSOL and SIRSOL_literal on every order of the row in one child
// process (the solver writes the listing, which needs the run started) and
// returns the differences found: listing text, S, WK, DG, u and v.
std::string sirsol_differences(Kind kind, Reach reach) {
  int rep[2];
  if (pipe(rep) != 0) return "pipe failed";
  // The case in hand, for a child that ends before its report.
  char* current = static_cast<char*>(mmap(nullptr, 256, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  current[0] = 0;
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(rep[0]);
    RUNSTART("kesta");
    for (int n : orders(reach)) {
      // A non-finite system never converges: 2000 rounds, small orders only.
      if (kind == Kind::NonFinite && n > 16) break;
      const SireSystem s = sire_system(kind, n);
      const std::string where = "n=" + std::to_string(n) + " t=" + std::to_string(s.t) +
                                " seed=" + std::to_string(seed_of(kind, n, 2));
      snprintf(current, 256, "%s", where.c_str());
      const std::string text = sirsol_both_ways(s.K, s.AP, s.lambda, s.Y, s.S0, n, s.t, where);
      if (!text.empty() && write(rep[1], text.data(), text.size()) < 0) _exit(3);
    }
    close(rep[1]);
    _exit(0);
  }
  close(rep[1]);
  std::string text;
  char b[4096];
  ssize_t k;
  while ((k = read(rep[0], b, sizeof b)) > 0) text.append(b, static_cast<size_t>(k));
  close(rep[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  if (!WIFEXITED(st) || WEXITSTATUS(st) != 0)
    text += "the child ended with status " + std::to_string(WIFEXITED(st) ? WEXITSTATUS(st) : -1) +
            " during the case " + current + "\n";
  munmap(current, 256);
  return text;
}

// ---- The table ---------------------------------------------------------------

enum class Kernel { CHOLPK, INVRT, EIGVEC, PRODUCTS, SIRSOL };

const char* kernel_name(Kernel k) {
  switch (k) {
    case Kernel::CHOLPK: return "CHOLPK";
    case Kernel::INVRT: return "INVRT";
    case Kernel::EIGVEC: return "EIGVEC";
    case Kernel::PRODUCTS: return "products";
    case Kernel::SIRSOL: return "SIRSOL";
  }
  return "?";
}

struct Row {
  Kernel kernel;
  Kind kind;
};

// The orders a row runs. In an optimised build every row goes up to 300, and
// the rows of the inputs kesta gives each kernel at large orders (all rows
// of CHOLPK, which is cheap) further. An unoptimised or sanitizer build is
// some twenty times slower: there one row per kernel, of the input kesta
// gives it, goes up to 300 and the others stop at 129.
Reach reach(const Row& r) {
  if (kSlowBuild) {
    switch (r.kernel) {
      case Kernel::CHOLPK: return r.kind == Kind::Pedigree ? Reach::Full : Reach::Short;
      case Kernel::INVRT: return r.kind == Kind::Factor ? Reach::Full : Reach::Short;
      case Kernel::EIGVEC: return r.kind == Kind::Random ? Reach::Full : Reach::Short;
      case Kernel::PRODUCTS: return r.kind == Kind::Pedigree ? Reach::Full : Reach::Short;
      case Kernel::SIRSOL: return r.kind == Kind::Pedigree ? Reach::Full : Reach::Short;
    }
    return Reach::Short;
  }
  bool large = false;
  switch (r.kernel) {
    case Kernel::CHOLPK: large = true; break;
    case Kernel::INVRT: large = r.kind == Kind::Factor || r.kind == Kind::Random; break;
    case Kernel::EIGVEC: large = r.kind == Kind::Pedigree || r.kind == Kind::Random; break;
    case Kernel::PRODUCTS: large = r.kind == Kind::Pedigree || r.kind == Kind::Zeros; break;
    case Kernel::SIRSOL: large = r.kind == Kind::Pedigree || r.kind == Kind::Random || r.kind == Kind::Zeros; break;
  }
  return large ? Reach::Large : Reach::Full;
}

// Which kinds each kernel takes. CHOLPK reads the upper triangle only, so the
// triangular factors are no input of its; INVRT stops on a pivot below
// 1.0e-12, which every tiny matrix has; SIRSOL takes the kinds that shape a
// sire system.
std::vector<Row> table() {
  const Kind all[] = {Kind::Random, Kind::Pedigree, Kind::Factor, Kind::FactorInverse, Kind::Diagonal, Kind::Zeros,
                      Kind::Repeated, Kind::Blocks, Kind::Tiny, Kind::Huge, Kind::Graded, Kind::NonFinite};
  std::vector<Row> rows;
  for (Kernel k : {Kernel::CHOLPK, Kernel::INVRT, Kernel::EIGVEC, Kernel::PRODUCTS, Kernel::SIRSOL})
    for (Kind d : all) {
      if (k == Kernel::CHOLPK && (d == Kind::Factor || d == Kind::FactorInverse)) continue;
      if (k == Kernel::INVRT && d == Kind::Tiny) continue;
      if (k == Kernel::SIRSOL && (d == Kind::Factor || d == Kind::FactorInverse || d == Kind::Repeated)) continue;
      rows.push_back({k, d});
    }
  return rows;
}

void PrintTo(const Row& r, std::ostream* os) { *os << kernel_name(r.kernel) << " on " << kind_name(r.kind); }

class KernelIdentity : public testing::TestWithParam<Row> {};

TEST_P(KernelIdentity, SameBitsAsTheLiteralFormAtEveryOrder) {
  const Row row = GetParam();
  ProgramFpMode mode;
  Check c;
  c.row = std::string(kernel_name(row.kernel)) + " " + kind_name(row.kind);
  if (row.kernel == Kernel::SIRSOL) {
    EXPECT_EQ(sirsol_differences(row.kind, reach(row)), "") << c.row;
    return;
  }
  for (int n : orders(reach(row))) {
    c.where = "n=" + std::to_string(n) + " seed=" + std::to_string(seed_of(row.kind, n, 0));
    switch (row.kernel) {
      case Kernel::CHOLPK: cholpk_case(row.kind, n, c); break;
      case Kernel::INVRT: invrt_case(row.kind, n, c); break;
      case Kernel::EIGVEC: eigvec_case(row.kind, n, c); break;
      case Kernel::PRODUCTS: products_case(row.kind, n, c); break;
      case Kernel::SIRSOL: break;
    }
  }
  EXPECT_EQ(c.reported, 0) << c.row << ": orders with differences";
}

INSTANTIATE_TEST_SUITE_P(Table, KernelIdentity, testing::ValuesIn(table()),
                         [](const testing::TestParamInfo<Row>& p) {
                           return std::string(kernel_name(p.param.kernel)) + "_" + kind_name(p.param.kind);
                         });

// The inputs are what they claim to be: the pedigree's A-inverse is sparse
// and its factor reproduces it; the factor inverse keeps exact zeros above
// the diagonal and has some below it.
TEST(KernelIdentityInputs, PedigreeMatricesAreSparseWithExactZeros) {
  ProgramFpMode mode;
  const Mat& a = pedigree_ainverse();
  ASSERT_EQ(a.n, kPedigreeBulls);
  size_t zeros = 0, diag_below_one = 0;
  for (int j = 0; j < a.n; ++j) {
    diag_below_one += a(j, j) < 1.0;
    for (int i = 0; i < a.n; ++i) zeros += a(i, j) == 0.0;
  }
  EXPECT_EQ(diag_below_one, 0u);
  EXPECT_GT(zeros, a.v.size() * 9 / 10);
  EXPECT_LT(zeros, a.v.size() - 2 * static_cast<size_t>(a.n));
  const int n = 200;
  const PedigreeFactors& f = pedigree_factors(n);
  double worst = 0;
  for (int j = 0; j < n; ++j)
    for (int i = j; i < n; ++i) {
      double s = 0;
      for (int k = 0; k <= j; ++k) s += f.L(i, k) * f.L(j, k);
      worst = std::max(worst, std::fabs(s - a(i, j)));
    }
  EXPECT_LT(worst, 1e-12);
  size_t above_zero = 0, below_zero = 0;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const double x = f.Linv(i, j);
      if (i < j) above_zero += x == 0.0;
      if (i > j) below_zero += x == 0.0;
    }
  EXPECT_EQ(above_zero, static_cast<size_t>(n) * (n - 1) / 2);
  EXPECT_GT(below_zero, 0u);
}

}  // namespace
