// Times the dense kernels against their literal forms and checks that both
// give the same bits: EIGVEC on random symmetric matrices with z the same
// array as a (as kesta calls it on the q x q matrix), with the time of each
// of its stages; CHOLPK on a packed positive definite matrix; INVRT on a
// lower triangular factor; the two triangular products of the canonical
// transformation.
//
//   kernels_bench [--fast] [--only NAME] [n ...]   default sizes: 500 1000 2000
//     --fast       times the fast forms only
//     --only NAME  one kernel: eigvec, cholpk, invrt, products
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "kesta/absorb.h"
#include "kesta/matrix/eigvec_tuning.h"
#include "kesta/matrix/kernels.h"

namespace {

double seconds(const std::function<void()>& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

bool same(const std::vector<double>& x, const std::vector<double>& y) {
  return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0;
}

void report(const char* kernel, int n, double tl, double tf, bool fast_only, bool identical) {
  if (fast_only)
    std::printf("%-9s %6d %12s %12.3f\n", kernel, n, "-", tf);
  else
    std::printf("%-9s %6d %12.3f %12.3f %8.2f %s\n", kernel, n, tl, tf, tl / tf, identical ? "identical" : "DIFFER");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  bool fast_only = false;
  std::string only;
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--fast")
      fast_only = true;
    else if (arg == "--only" && i + 1 < argc)
      only = argv[++i];
    else
      sizes.push_back(std::atoi(argv[i]));
  }
  if (sizes.empty()) sizes = {500, 1000, 2000};
  auto run = [&](const char* name) { return only.empty() || only == name; };
  std::printf("%-9s %6s %12s %12s %8s %s\n", "kernel", "n", "literal s", "fast s", "speedup", "bits");
  for (int n : sizes) {
    std::mt19937_64 gen(n);
    std::uniform_real_distribution<double> u(-1, 1);
    const size_t nn = static_cast<size_t>(n) * n;

    if (run("eigvec")) {
      std::vector<double> a(nn);
      for (int j = 0; j < n; ++j)
        for (int i = j; i < n; ++i) a[static_cast<size_t>(j) * n + i] = a[static_cast<size_t>(i) * n + j] = u(gen);
      std::vector<double> z1, z2 = a, d1(n), d2(n), e(n);
      // The fast form stage by stage, as EIGVEC runs them.
      const EigvecTuning tuning = eigvec_tuning(n);
      const double t1 = seconds([&] { eigvec_stage_reduce(n, n, z2.data(), d2.data(), e.data(), z2.data()); });
      const double t2 = seconds([&] { eigvec_stage_accumulate(tuning, n, n, d2.data(), e.data(), z2.data()); });
      const double t3 = seconds([&] { eigvec_stage_ql(tuning, n, n, d2.data(), e.data(), z2.data()); });
      double tl = 0;
      if (!fast_only) {
        z1 = a;
        tl = seconds([&] { eigvec_literal(n, n, z1.data(), d1.data(), e.data(), z1.data()); });
      }
      report("EIGVEC", n, tl, t1 + t2 + t3, fast_only, same(d1, d2) && same(z1, z2));
      std::printf("%-9s %6d %12s %12.3f\n", " reduce", n, "", t1);
      std::printf("%-9s %6d %12s %12.3f\n", " accum", n, "", t2);
      std::printf("%-9s %6d %12s %12.3f\n", " QL", n, "", t3);
    }

    if (run("cholpk")) {
      std::vector<double> p;
      for (int r = 0; r < n; ++r)
        for (int c = r; c < n; ++c) p.push_back(r == c ? n : u(gen));
      std::vector<double> p1, p2 = p;
      const double cf = seconds([&] { CHOLPK(p2.data(), static_cast<int>(p2.size()), n); });
      double cl = 0;
      if (!fast_only) {
        p1 = p;
        cl = seconds([&] { cholpk_literal(p1.data(), n); });
      }
      report("CHOLPK", n, cl, cf, fast_only, same(p1, p2));
    }

    // A lower triangular factor, as kesta's L and L^-1.
    std::vector<double> l(nn, 0.0);
    for (int j = 0; j < n; ++j)
      for (int i = j; i < n; ++i) l[static_cast<size_t>(j) * n + i] = i == j ? 1 + u(gen) / 2 : u(gen) / n;

    if (run("invrt")) {
      std::vector<double> l1, l2 = l;
      const double vf = seconds([&] { INVRT(l2.data(), n, n); });
      double vl = 0;
      if (!fast_only) {
        l1 = l;
        vl = seconds([&] { invrt_literal(l1.data(), n, n); });
      }
      report("INVRT", n, vl, vf, fast_only, same(l1, l2));
    }

    if (run("products")) {
      std::vector<double> k(nn), w(n);
      for (auto& x : k) x = u(gen);
      std::vector<double> k1, k2 = k;
      const double rf = seconds([&] { mult_rows_linvt_tiled(k2.data(), l.data(), w.data(), n); });
      double rl = 0;
      if (!fast_only) {
        k1 = k;
        rl = seconds([&] { mult_rows_linvt(k1.data(), l.data(), w.data(), n); });
      }
      report("PRODUCT1", n, rl, rf, fast_only, same(k1, k2));
      const double cf = seconds([&] { mult_cols_linv_tiled(k2.data(), l.data(), w.data(), n); });
      double cl = 0;
      if (!fast_only) cl = seconds([&] { mult_cols_linv(k1.data(), l.data(), w.data(), n); });
      report("PRODUCT2", n, cl, cf, fast_only, same(k1, k2));
    }
  }
}
