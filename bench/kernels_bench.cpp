// Times the dense kernels and the sire solver against their literal forms and
// checks that both give the same bits:
//   EIGVEC on a random symmetric matrix with z the same array as a (as kesta
//     calls it on the q x q matrix), the fast form stage by stage (reduction,
//     accumulation, QL); the literal form has no stages of its own, so it is
//     timed as a whole only;
//   CHOLPK on a packed positive definite matrix; INVRT on a lower triangular
//     factor; the two triangular products of the canonical transformation;
//   SIRSOL on a dense absorbed sire matrix with a sparse A-inverse made from a
//     simulated sire / maternal-grandsire pedigree, t = 3, until it converges.
//
//   kernels_bench [--fast] [--reps R] [--only NAME] [n ...]   default sizes: 500 1000 2000
//     --fast       times the fast forms only
//     --reps R     runs each fast form R times, each on a fresh copy of its
//                  input, and reports the best time (default 1); on a shared
//                  machine single timings scatter by 10% and more
//     --only NAME  one kernel: eigvec, cholpk, invrt, products, sirsol
//
// One line per kernel and size:
//   kernel n literal-s fast-s speedup bits work unit note
// "work" is the arithmetic (unit flop: multiplies and adds, counted from the
// literal loop nests) or the memory traffic (unit byte) the kernel cannot do
// without; bench/phases.sh divides it by the fast time and by this machine's
// limit. "-" where a figure does not apply.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kesta/absorb.h"
#include "kesta/matrix/eigvec_tuning.h"
#include "kesta/matrix/kernels.h"
#include "kesta/phases.h"
#include "kesta/sirsol.h"
#include "records/records.h"

// Blocks of 4 MB and more on 2 MB pages, as kesta asks for its q x q arrays
// and its packed A-inverse, so that the kernels are timed on the pages they
// get in the program (with ordinary pages a walk across the columns of a
// large matrix misses the address translation cache at nearly every column).
void* operator new(size_t bytes) {
  constexpr size_t HUGE = size_t(2) << 20;
  if (bytes >= 2 * HUGE) {
    const size_t whole = (bytes + HUGE - 1) / HUGE * HUGE;
    if (void* p = std::aligned_alloc(HUGE, whole)) {
      madvise(p, whole, MADV_HUGEPAGE);
      return p;
    }
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(bytes ? bytes : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

double seconds(const std::function<void()>& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

bool same(const std::vector<double>& x, const std::vector<double>& y) {
  return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0;
}

bool fast_only = false;

// tl < 0: no literal time for this line.
void report(const char* kernel, int n, double tl, double tf, bool identical, double work, const char* unit,
            const std::string& note = "-") {
  char lit[32] = "-", ratio[32] = "-";
  const char* bits = "-";
  if (!fast_only && tl >= 0) {
    std::snprintf(lit, sizeof lit, "%.3f", tl);
    std::snprintf(ratio, sizeof ratio, "%.2f", tl / tf);
    bits = identical ? "identical" : "DIFFER";
  }
  char amount[32] = "-";
  if (work > 0) std::snprintf(amount, sizeof amount, "%.6e", work);
  std::printf("%-9s %6d %12s %12.3f %8s %-9s %14s %-4s %s\n", kernel, n, lit, tf, ratio, bits, amount, unit,
              note.c_str());
  std::fflush(stdout);
}

// Runs f with standard output (kesta's listing) sent to a temporary file and
// returns what was written there.
std::string captured(const std::function<void()>& f) {
  std::fflush(stdout);
  char path[] = "/tmp/kernels-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    std::perror("kernels_bench: mkstemp");
    std::exit(2);
  }
  const int saved = dup(1);
  dup2(fd, 1);
  f();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string text;
  char buf[4096];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t k; (k = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(k));
  close(fd);
  unlink(path);
  return text;
}

// The round at which the solver's listing says it converged; 2000 when it
// did not.
int rounds_of(const std::string& listing) {
  const char* key = "CONVERGENCE OF SIRE SOLUTIONS AT ROUND";
  const size_t at = listing.find(key);
  return at == std::string::npos ? 2000 : std::atoi(listing.c_str() + at + std::strlen(key));
}

// ---- Work each kernel cannot do without, from its literal loop nest --------

// CHOLPK: row i updates the trailing triangle of m = n - i rows, one multiply
// and one subtraction per element: sum of m(m+1) over m < n.
double cholpk_flops(double n) { return (n - 1) * n * (n + 1) / 3; }

// INVRT on a lower triangular matrix: step k changes columns j < k on rows
// i > k, one multiply and one subtraction each: sum of 2 (k-1)(n-k). (The
// literal loop also subtracts exact zeros on rows i < k, 2 (n-1)(k-1) per
// step in all, about n^3; those leave the elements as they are.)
double invrt_flops(double n) { return (n - 2) * (n - 1) * n / 3; }

// Each triangular product: output (i,k) is a sum of k products: n^2 (n+1).
double product_flops(double n) { return n * n * (n + 1); }

// Reduction, step of order l: it must read and write back the l(l+1)/2
// elements of the trailing lower triangle (8 bytes each way); summed over
// l = 1..n-1. Its arithmetic, for comparison: about 4 l^2 per step.
double reduce_bytes(double n) { return 16 * ((n - 1) * n * (n + 1) / 6); }

// Accumulation, step of order l: l columns, each a dot product of length l
// and an update of length l, two flops per term: 4 l^2, summed over l < n.
double accum_flops(double n) { return 4 * ((n - 1) * n * (2 * n - 1) / 6); }

// QL: each rotation takes 4 multiplies and 2 additions on every row of z.
double ql_flops(double n, double rotations) { return 6 * n * rotations; }

// SIRSOL, each round: K read once (8 n^2 bytes). Its arithmetic: 2 t n(n-1)
// for the sweep over K, 6 t per nonzero pair of the A-inverse.
double sirsol_bytes(double n, double rounds) { return 8 * n * n * rounds; }

// ---- SIRSOL's input ----------------------------------------------------------

// A sire system as kesta solves it at the end: K the sire coefficient matrix
// with two genetic groups absorbed (daughter counts on the diagonal, each pair
// of sires of one group coupled by -n_i n_j / N_group, so K is dense and
// singular within each group); AP the A-inverse of a pedigree in which a
// sire's own sire is known for 60% of the sires and his maternal grandsire
// for 50%, both among the earlier sires, packed lower by rows.
struct SireSystem {
  int n, t = 3;
  std::vector<double> K, AP, lambda{10.0, 14.0, 20.0}, Y, S0;
  size_t offdiagonal = 0;  // nonzero coefficients of AP below the diagonal

  explicit SireSystem(int n_) : n(n_) {
    std::mt19937_64 gen(1000003u + static_cast<unsigned>(n));
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<double> daughters(n);
    std::vector<int> group(n);
    double total[2] = {0, 0};
    for (int i = 0; i < n; ++i) {
      daughters[i] = 20 + std::floor(61 * u(gen));
      group[i] = u(gen) < 0.5 ? 0 : 1;
      total[group[i]] += daughters[i];
    }
    const size_t nn = static_cast<size_t>(n) * n;
    K.assign(nn, 0.0);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        double x = group[i] == group[j] ? -(daughters[i] * daughters[j]) / total[group[i]] : 0.0;
        if (i == j) x = daughters[i] + x;
        K[static_cast<size_t>(j) * n + i] = x;
      }
    AP.assign(static_cast<size_t>(n) * (n + 1) / 2, 0.0);
    auto ap = [&](int64_t r, int64_t c) -> double& {  // 1-based, any order
      if (r < c) std::swap(r, c);
      return AP[static_cast<size_t>(r * (r - 1) / 2 + c - 1)];
    };
    for (int j = 1; j <= n; ++j) {
      int s = 0, m = 0;
      if (j > 1 && u(gen) < 0.6) s = 1 + static_cast<int>(u(gen) * (j - 1));
      if (j > 1 && u(gen) < 0.5) m = 1 + static_cast<int>(u(gen) * (j - 1));
      if (m == s) m = 0;
      const double delta = 1 / (1 - (s ? 0.25 : 0) - (m ? 0.0625 : 0));
      const int who[3] = {j, s, m};
      const double b[3] = {1, -0.5, -0.25};
      for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y)
          if (who[x] && who[y] && who[x] >= who[y]) ap(who[x], who[y]) += delta * b[x] * b[y];
    }
    for (int64_t r = 2; r <= n; ++r)
      for (int64_t c = 1; c < r; ++c) offdiagonal += ap(r, c) != 0;
    Y.resize(static_cast<size_t>(n) * t);
    for (int l = 0; l < t; ++l)
      for (int i = 0; i < n; ++i) Y[static_cast<size_t>(l) * n + i] = daughters[i] * (u(gen) - 0.5) * 40;
    S0.assign(Y.size(), 0.0);
  }

  // Solves from S0; returns the listing and leaves every array written.
  struct Result {
    std::vector<double> S, WK, DG, u, v;
    std::string listing;
    double seconds = 0;
  };
  Result solve(bool fast) const {
    Result r;
    r.S = S0;
    r.WK.assign(Y.size(), 0.0);
    r.DG.assign(n, 0.0);
    r.u.assign(t, 0.0);
    r.v.assign(t, 0.0);
    r.listing = captured([&] {
      r.seconds = seconds([&] {
        (fast ? SIRSOL : SIRSOL_literal)(K.data(), AP.data(), lambda.data(), Y.data(), r.S.data(), r.WK.data(),
                                          r.DG.data(), r.u.data(), r.v.data(), n, t);
      });
    });
    return r;
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::string only;
  int reps = 1;
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--fast")
      fast_only = true;
    else if (arg == "--only" && i + 1 < argc)
      only = argv[++i];
    else if (arg == "--reps" && i + 1 < argc && std::atoi(argv[i + 1]) > 0)
      reps = std::atoi(argv[++i]);
    else if (std::atoi(argv[i]) > 0)
      sizes.push_back(std::atoi(argv[i]));
    else {
      std::fprintf(stderr,
                   "usage: kernels_bench [--fast] [--reps R] [--only eigvec|cholpk|invrt|products|sirsol] [n ...]\n");
      return 2;
    }
  }
  if (sizes.empty()) sizes = {500, 1000, 2000};
  // The floating-point mode kesta runs in (subnormals flushed to zero), and
  // the listing that SIRSOL writes to.
  RUNSTART("kernels_bench");
  auto run = [&](const char* name) { return only.empty() || only == name; };
  // The best of reps timings of body, each after prepare has laid out a
  // fresh copy of the input.
  auto best = [&](const std::function<void()>& prepare, const std::function<void()>& body) {
    double b = 0;
    for (int r = 0; r < reps; ++r) {
      prepare();
      const double t = seconds(body);
      if (r == 0 || t < b) b = t;
    }
    return b;
  };
  std::printf("%-9s %6s %12s %12s %8s %-9s %14s %-4s %s\n", "kernel", "n", "literal-s", "fast-s", "speedup", "bits",
              "work", "unit", "note");
  for (int n : sizes) {
    std::mt19937_64 gen(n);
    std::uniform_real_distribution<double> u(-1, 1);
    const size_t nn = static_cast<size_t>(n) * n;

    if (run("eigvec")) {
      std::vector<double> a(nn);
      for (int j = 0; j < n; ++j)
        for (int i = j; i < n; ++i) a[static_cast<size_t>(j) * n + i] = a[static_cast<size_t>(i) * n + j] = u(gen);
      std::vector<double> z1, z2, d1(n), d2(n), e(n);
      // The fast form stage by stage, as EIGVEC runs them; each stage's best.
      const EigvecTuning tuning = eigvec_tuning(n);
      size_t rotations = 0;
      double t1 = 0, t2 = 0, t3 = 0;
      for (int r = 0; r < reps; ++r) {
        z2 = a;
        const double s1 = seconds([&] { eigvec_stage_reduce(n, n, z2.data(), d2.data(), e.data(), z2.data()); });
        const double s2 = seconds([&] { eigvec_stage_accumulate(tuning, n, n, d2.data(), e.data(), z2.data()); });
        const double s3 =
            seconds([&] { rotations = eigvec_stage_ql(tuning, n, n, d2.data(), e.data(), z2.data()); });
        if (r == 0 || s1 < t1) t1 = s1;
        if (r == 0 || s2 < t2) t2 = s2;
        if (r == 0 || s3 < t3) t3 = s3;
      }
      double tl = -1;
      if (!fast_only) {
        z1 = a;
        tl = seconds([&] { eigvec_literal(n, n, z1.data(), d1.data(), e.data(), z1.data()); });
      }
      const bool identical = same(d1, d2) && same(z1, z2);
      report("EIGVEC", n, tl, t1 + t2 + t3, identical, 0, "-", "literal-timed-whole");
      report("reduce", n, -1, t1, identical, reduce_bytes(n), "byte");
      report("accum", n, -1, t2, identical, accum_flops(n), "flop");
      report("QL", n, -1, t3, identical, ql_flops(n, static_cast<double>(rotations)), "flop",
             "rotations=" + std::to_string(rotations));
    }

    if (run("cholpk")) {
      std::vector<double> p;
      for (int r = 0; r < n; ++r)
        for (int c = r; c < n; ++c) p.push_back(r == c ? n : u(gen));
      std::vector<double> p1, p2;
      const double cf = best([&] { p2 = p; }, [&] { CHOLPK(p2.data(), static_cast<int>(p2.size()), n); });
      double cl = -1;
      if (!fast_only) {
        p1 = p;
        cl = seconds([&] { cholpk_literal(p1.data(), n); });
      }
      report("CHOLPK", n, cl, cf, same(p1, p2), cholpk_flops(n), "flop");
    }

    // A lower triangular factor, as kesta's L and L^-1.
    std::vector<double> l(nn, 0.0);
    for (int j = 0; j < n; ++j)
      for (int i = j; i < n; ++i) l[static_cast<size_t>(j) * n + i] = i == j ? 1 + u(gen) / 2 : u(gen) / n;

    if (run("invrt")) {
      std::vector<double> l1, l2;
      const double vf = best([&] { l2 = l; }, [&] { INVRT(l2.data(), n, n); });
      double vl = -1;
      if (!fast_only) {
        l1 = l;
        vl = seconds([&] { invrt_literal(l1.data(), n, n); });
      }
      report("INVRT", n, vl, vf, same(l1, l2), invrt_flops(n), "flop");
    }

    if (run("products")) {
      std::vector<double> k(nn), w(n);
      for (auto& x : k) x = u(gen);
      std::vector<double> k1, k2, kp;
      const double rf = best([&] { k2 = k; }, [&] { mult_rows_linvt_tiled(k2.data(), l.data(), w.data(), n); });
      kp = k2;  // the second product's input
      double rl = -1;
      if (!fast_only) {
        k1 = k;
        rl = seconds([&] { mult_rows_linvt(k1.data(), l.data(), w.data(), n); });
      }
      report("PRODUCT1", n, rl, rf, same(k1, k2), product_flops(n), "flop");
      const double cf = best([&] { k2 = kp; }, [&] { mult_cols_linv_tiled(k2.data(), l.data(), w.data(), n); });
      double cl = -1;
      if (!fast_only) cl = seconds([&] { mult_cols_linv(k1.data(), l.data(), w.data(), n); });
      report("PRODUCT2", n, cl, cf, same(k1, k2), product_flops(n), "flop");
    }

    if (run("sirsol")) {
      l.clear();
      l.shrink_to_fit();
      const SireSystem sys(n);
      SireSystem::Result f = sys.solve(true);
      for (int r = 1; r < reps; ++r) {
        SireSystem::Result again = sys.solve(true);
        if (again.seconds < f.seconds) f = std::move(again);
      }
      SireSystem::Result lit;
      if (!fast_only) lit = sys.solve(false);
      const bool identical = same(f.S, lit.S) && same(f.WK, lit.WK) && same(f.DG, lit.DG) && same(f.u, lit.u) &&
                             same(f.v, lit.v) && f.listing == lit.listing;
      const int rounds = rounds_of(f.listing);
      report("SIRSOL", n, fast_only ? -1 : lit.seconds, f.seconds, identical, sirsol_bytes(n, rounds), "byte",
             "rounds=" + std::to_string(rounds) + ",t=3,nnz=" + std::to_string(sys.offdiagonal));
    }
  }
}
