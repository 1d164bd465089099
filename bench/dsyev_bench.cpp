// EIGVEC against an optimised library's symmetric eigensolvers on the same
// matrix in the same run: LAPACK's dsyev (QL/QR on the tridiagonal form, with
// vectors) and dsyevd (divide and conquer, with vectors), from the OpenBLAS
// it is linked with. Benchmark only: bench/dsyev.sh builds it by hand, apart
// from the project's targets, so that nothing else needs OpenBLAS.
//
//   dsyev_bench [n ...]     default 1000; run with OPENBLAS_NUM_THREADS=1
//
// The matrix is the one kernels_bench gives EIGVEC for the same n. Prints
// one line per solver: "solver n seconds max|d - d(EIGVEC)|".
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "kesta/matrix/kernels.h"
#include "records/records.h"

extern "C" {
void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w, double* work,
            const int* lwork, int* info);
void dsyevd_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w, double* work,
             const int* lwork, int* iwork, const int* liwork, int* info);
char* openblas_get_config(void);
char* openblas_get_corename(void);
int openblas_get_num_threads(void);
}

namespace {

double seconds(const std::function<void()>& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double maxdiff(const std::vector<double>& x, const std::vector<double>& y) {
  double m = 0;
  for (size_t i = 0; i < x.size(); ++i) m = std::max(m, std::fabs(x[i] - y[i]));
  return m;
}

void fail(const char* what, int info) {
  std::fprintf(stderr, "dsyev_bench: %s returned info = %d\n", what, info);
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {1000};
  // kesta's floating-point mode (subnormals flushed); the library runs in it too.
  RUNSTART("dsyev_bench");
  std::printf("# OpenBLAS %s, core %s, %d thread(s)\n", openblas_get_config(), openblas_get_corename(),
              openblas_get_num_threads());
  std::printf("%-8s %6s %10s %14s\n", "solver", "n", "seconds", "max|d-d(EIGVEC)|");
  for (int n : sizes) {
    if (n < 1) continue;
    std::mt19937_64 gen(n);
    std::uniform_real_distribution<double> u(-1, 1);
    const size_t nn = static_cast<size_t>(n) * n;
    std::vector<double> a(nn);
    for (int j = 0; j < n; ++j)
      for (int i = j; i < n; ++i) a[static_cast<size_t>(j) * n + i] = a[static_cast<size_t>(i) * n + j] = u(gen);

    std::vector<double> z = a, d(n), e(n);
    const double te = seconds([&] { EIGVEC(n, n, z.data(), d.data(), e.data(), z.data()); });
    std::printf("%-8s %6d %10.3f %14s\n", "EIGVEC", n, te, "-");
    std::fflush(stdout);

    const char jobz = 'V', uplo = 'L';
    int info = 0, lwork = -1, liwork = -1, iw = 0;
    double wq = 0;
    std::vector<double> w(n), b = a;
    dsyev_(&jobz, &uplo, &n, b.data(), &n, w.data(), &wq, &lwork, &info);
    lwork = static_cast<int>(wq);
    std::vector<double> work(static_cast<size_t>(lwork));
    const double ts = seconds([&] { dsyev_(&jobz, &uplo, &n, b.data(), &n, w.data(), work.data(), &lwork, &info); });
    if (info != 0) fail("dsyev", info);
    std::printf("%-8s %6d %10.3f %14.3e\n", "dsyev", n, ts, maxdiff(w, d));
    std::fflush(stdout);

    b = a;
    lwork = -1;
    dsyevd_(&jobz, &uplo, &n, b.data(), &n, w.data(), &wq, &lwork, &iw, &liwork, &info);
    lwork = static_cast<int>(wq);
    liwork = iw;
    work.assign(static_cast<size_t>(lwork), 0.0);
    std::vector<int> iwork(static_cast<size_t>(liwork));
    const double td = seconds([&] {
      dsyevd_(&jobz, &uplo, &n, b.data(), &n, w.data(), work.data(), &lwork, iwork.data(), &liwork, &info);
    });
    if (info != 0) fail("dsyevd", info);
    std::printf("%-8s %6d %10.3f %14.3e\n", "dsyevd", n, td, maxdiff(w, d));
    std::fflush(stdout);
  }
}
