// This core's limits for the kernels' fast loops: double-precision multiply
// and add throughput without fused multiply-add (8-lane vectors, many
// independent chains), and memory bandwidth over arrays far larger than the
// caches: read (one array summed), update (one array read and written back
// in place, the reduction's pattern), copy and triad (a = b + s c; counted as
// 24 bytes an element, as is usual, though the store also reads a first); and
// the latency of one addition in a chain of dependent ones. Prints one
// "name value unit" line per measurement, the best of several repetitions;
// bench/phases.sh reads them.
//
//   peak [--mb M]     M: megabytes per bandwidth array (default 256)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kesta/matrix/lanes.h"

namespace {

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// The multiplier and addend come from memory the compiler cannot see into,
// so x * 1 and x + 0 stay real instructions.
volatile double one = 1.0, zero = 0.0;

constexpr int CHAINS = 16;  // enough independent chains to hide the latency

// Each step: CHAINS vector multiplies (kind 0), adds (kind 1), or half of
// each (kind 2). Returns lane operations per second.
template <int KIND>
double flops(long steps) {
  const v8 c = splat8(KIND == 1 ? zero : one), a = splat8(zero);
  v8 x[CHAINS];
  for (int i = 0; i < CHAINS; ++i) x[i] = splat8(1.0 + i);
  const double t0 = now();
  for (long s = 0; s < steps; ++s) {
#pragma GCC unroll 16
    for (int i = 0; i < CHAINS; ++i) {
      if (KIND == 0 || (KIND == 2 && i % 2 == 0))
        x[i] = x[i] * c;
      else
        x[i] = x[i] + a;
    }
  }
  const double t = now() - t0;
  double sink = 0;
  for (int i = 0; i < CHAINS; ++i) sink += x[i][0];
  if (sink == 12345.678) std::puts("");
  return static_cast<double>(steps) * CHAINS * 8 / t;
}

// One chain of dependent additions: seconds per addition, the latency that
// bounds a sum taken term by term (the sire solver's critical path).
double add_latency(long steps) {
  double x = one;
  const double a = zero;
  const double t0 = now();
  for (long s = 0; s < steps; ++s) {
    x = x + a;
    asm volatile("" : "+x"(x));
  }
  const double t = now() - t0;
  if (x == 12345.678) std::puts("");
  return t / static_cast<double>(steps);
}

template <class F>
double best(int reps, F f) {
  double b = 0;
  for (int r = 0; r < reps; ++r) b = std::max(b, f());
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  size_t mb = 256;
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--mb" && i + 1 < argc) mb = std::strtoul(argv[++i], nullptr, 10);

  const long steps = 20000000;
  std::printf("mul %.2f GFLOP/s\n", best(5, [&] { return flops<0>(steps); }) / 1e9);
  std::printf("add %.2f GFLOP/s\n", best(5, [&] { return flops<1>(steps); }) / 1e9);
  std::printf("mul+add %.2f GFLOP/s\n", best(5, [&] { return flops<2>(steps); }) / 1e9);
  std::printf("add-latency %.4f ns\n", 1e9 / best(5, [&] { return 1 / add_latency(steps); }));

  const size_t n = mb * (1u << 20) / sizeof(double);
  std::vector<double> a(n, 1.0), b(n, 2.0), c(n, 3.0);
  const double s = one * 0.5;
  auto timed = [&](size_t bytes, auto body) {
    return best(5, [&] {
      const double t0 = now();
      body();
      return static_cast<double>(bytes) / (now() - t0);
    });
  };
  const double rd = timed(n * 8, [&] {
    v8 acc[8];
    for (auto& v : acc) v = splat8(0.0);
    for (size_t i = 0; i + 64 <= n; i += 64)
      for (int j = 0; j < 8; ++j) acc[j] = acc[j] + load8(&b[i + 8 * j]);
    double t = 0;
    for (auto& v : acc) t += v[0];
    if (t == -1) std::puts("");
  });
  const double cp = timed(n * 16, [&] { std::memcpy(a.data(), b.data(), n * 8); });
  const double tr = timed(n * 24, [&] {
    for (size_t i = 0; i < n; ++i) a[i] = b[i] + s * c[i];
    asm volatile("" ::"r"(a.data()) : "memory");
  });
  const double up = timed(n * 16, [&] {
    for (size_t i = 0; i < n; ++i) a[i] = a[i] * s;
    asm volatile("" ::"r"(a.data()) : "memory");
  });
  std::printf("read %.2f GB/s\n", rd / 1e9);
  std::printf("update %.2f GB/s\n", up / 1e9);
  std::printf("copy %.2f GB/s\n", cp / 1e9);
  std::printf("triad %.2f GB/s\n", tr / 1e9);
}
