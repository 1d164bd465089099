// Times EIGVEC against its literal form on random symmetric matrices, z the
// same array as a (as kesta calls it on the q x q matrix), and checks that
// both give the same bits.
//
//   kernels_bench [n ...]        default: 500 1000 2000
//   kernels_bench --fast [n ...] times EIGVEC only
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kesta/matrix/kernels.h"

namespace {

using Kernel = void (*)(int, int, double*, double*, double*, double*);

double run(Kernel k, int n, const std::vector<double>& a, std::vector<double>& z, std::vector<double>& d) {
  std::vector<double> e(n);
  z = a;
  auto t0 = std::chrono::steady_clock::now();
  k(n, n, z.data(), d.data(), e.data(), z.data());
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  bool fast_only = false;
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--fast")
      fast_only = true;
    else
      sizes.push_back(std::atoi(argv[i]));
  }
  if (sizes.empty()) sizes = {500, 1000, 2000};
  std::printf("%6s %12s %12s %8s %s\n", "n", "literal s", "EIGVEC s", "speedup", "bits");
  for (int n : sizes) {
    std::mt19937_64 gen(n);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<double> a(static_cast<size_t>(n) * n);
    for (int j = 0; j < n; ++j)
      for (int i = j; i < n; ++i) a[static_cast<size_t>(j) * n + i] = a[static_cast<size_t>(i) * n + j] = u(gen);
    std::vector<double> z1, z2, d1(n), d2(n);
    const double tf = run(EIGVEC, n, a, z2, d2);
    if (fast_only) {
      std::printf("%6d %12s %12.3f\n", n, "-", tf);
      continue;
    }
    const double tl = run(eigvec_literal, n, a, z1, d1);
    const bool same = std::memcmp(d1.data(), d2.data(), n * sizeof(double)) == 0 &&
                      std::memcmp(z1.data(), z2.data(), z1.size() * sizeof(double)) == 0;
    std::printf("%6d %12.3f %12.3f %8.2f %s\n", n, tl, tf, tl / tf, same ? "identical" : "DIFFER");
    std::fflush(stdout);
  }
}
