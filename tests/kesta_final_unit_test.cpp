// The sire solver, the group-record layout of the final pass and the
// reliabilities, on small designed systems. Expected values come from an
// independent calculation (sirsol and relapx in tests/reference/kesta_model.py).
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kesta/phases.h"
#include "kesta/sirsol.h"
#include "records/records.h"

namespace {

// Runs `body` in a child process whose standard output is captured; `body`
// hands results back through `shared` (memory shared with the parent).
struct Child {
  int status;
  std::string out;
};

template <class F>
Child in_child(F body) {
  int fds[2];
  if (pipe(fds) != 0) abort();
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 1);
    close(fds[1]);
    RUNSTART("kesta");
    // Lines the test process itself may still hold for the listing come
    // before this mark and are dropped.
    LSTWRT(LISTING, {"@@@ child output"});
    body();
    RUNEND();
  }
  close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t k;
  while ((k = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, (size_t)k);
  close(fds[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  const std::string mark = " @@@ child output\n";
  size_t at = out.find(mark);
  out = at == std::string::npos ? std::string("(no mark) ") + out : out.substr(at + mark.size());
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

// Memory shared with a child, n doubles.
struct Shared {
  double* p;
  size_t n;
  explicit Shared(size_t n_) : n(n_) {
    void* m = mmap(nullptr, n * sizeof(double) + 8, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) abort();
    p = static_cast<double*>(m);
  }
  ~Shared() { munmap(p, n * sizeof(double) + 8); }
};

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> v;
  size_t b = 0;
  for (size_t e; (e = s.find('\n', b)) != std::string::npos; b = e + 1) v.push_back(s.substr(b, e - b));
  return v;
}

// Three sires, the second a son of the first and the third a son of the
// second: a tridiagonal K with off-diagonal c and the matching A-inverse.
struct Chain3 {
  int n = 3, t;
  std::vector<double> K, AP{1.5, -0.5, 1.75, 0.0, -0.5, 1.25}, lambda, Y, S, WK, DG, u, v;
  Chain3(double c, std::vector<double> lam) : t((int)lam.size()), lambda(lam) {
    K.assign(9, 0.0);
    for (int i = 0; i < 3; ++i) K[i * 3 + i] = 4.0;
    K[0 * 3 + 1] = K[1 * 3 + 0] = K[1 * 3 + 2] = K[2 * 3 + 1] = c;
    Y.assign(3 * t, 0.0);
    for (int j = 0; j < 3; ++j) Y[j] = 1.0 + j;  // trait 1; any further trait all zero
    S.assign(3 * t, 0.0);
    WK.assign(3 * t, 0.0);
    DG.assign(3, 0.0);
    u.assign(t, 0.0);
    v.assign(t, 0.0);
  }
  // Solves in a child; returns the listing and leaves S, u, v as solved.
  std::string solve() {
    Shared sh(S.size() + 2 * t);
    Child c = in_child([&] {
      SIRSOL(K.data(), AP.data(), lambda.data(), Y.data(), S.data(), WK.data(), DG.data(), u.data(), v.data(), n,
             t);
      std::memcpy(sh.p, S.data(), S.size() * 8);
      std::memcpy(sh.p + S.size(), u.data(), t * 8);
      std::memcpy(sh.p + S.size() + t, v.data(), t * 8);
    });
    EXPECT_EQ(c.status, 0);
    std::memcpy(S.data(), sh.p, S.size() * 8);
    std::memcpy(u.data(), sh.p + S.size(), t * 8);
    std::memcpy(v.data(), sh.p + S.size() + t, t * 8);
    return c.out;
  }
};

struct ConvergingCase {
  const char* name;
  double c;
  std::vector<double> lambda;
  const char* listing;
  std::vector<double> S;  // column-major, bit for bit
};

const ConvergingCase kConverging[] = {
    {"round 13 is not printed; an all-zero trait prints NaN and keeps zeros", 0.2, {2.0, 0.5},
     " \n"
     "Iteration    1  Converge stats =  1.00000     NaN\n"
     "Iteration    2  Converge stats =  0.32411     NaN\n"
     "Iteration    3  Converge stats =  0.13647     NaN\n"
     "Iteration    4  Converge stats =  0.06296     NaN\n"
     "Iteration    5  Converge stats =  0.03024     NaN\n"
     "Iteration    6  Converge stats =  0.01481     NaN\n"
     "Iteration    7  Converge stats =  0.00733     NaN\n"
     "Iteration    8  Converge stats =  0.00364     NaN\n"
     "Iteration    9  Converge stats =  0.00182     NaN\n"
     "Iteration   10  Converge stats =  0.00091     NaN\n"
     "  CONVERGENCE OF SIRE SOLUTIONS AT ROUND    13\n",
     {0x1.7405b73026dffp-3, 0x1.5bd71a4478c3ap-2, 0x1.01b1f22ec3026p-1, 0.0, 0.0, 0.0}},
    {"round 20 prints its progress line before the convergence line", 4.0, {2.0},
     " \n"
     "Iteration    1  Converge stats =  1.00000\n"
     "Iteration    2  Converge stats =  0.27679\n"
     "Iteration    3  Converge stats =  0.13299\n"
     "Iteration    4  Converge stats =  0.08135\n"
     "Iteration    5  Converge stats =  0.05471\n"
     "Iteration    6  Converge stats =  0.03775\n"
     "Iteration    7  Converge stats =  0.02600\n"
     "Iteration    8  Converge stats =  0.01776\n"
     "Iteration    9  Converge stats =  0.01203\n"
     "Iteration   10  Converge stats =  0.00810\n"
     "Iteration   20  Converge stats =  0.00014\n"
     "  CONVERGENCE OF SIRE SOLUTIONS AT ROUND    20\n",
     {0x1.027274c815ebep-3, 0x1.3d97905dff403p-5, 0x1.c648488caacd2p-2}},
};

TEST(SireSolver, ConvergesWithTheListedProgressAndExactSolutions) {
  for (const ConvergingCase& tc : kConverging) {
    SCOPED_TRACE(tc.name);
    Chain3 sys(tc.c, tc.lambda);
    EXPECT_EQ(sys.solve(), tc.listing);
    ASSERT_EQ(sys.S.size(), tc.S.size());
    for (size_t i = 0; i < tc.S.size(); ++i) {
      EXPECT_EQ(sys.S[i], tc.S[i]) << "element " << i;
      EXPECT_FALSE(std::signbit(sys.S[i])) << "element " << i;
    }
  }
}

TEST(SireSolver, WarnsWith2001AfterTwoThousandRounds) {
  Chain3 sys(6.03, {2.0});
  std::vector<std::string> l = lines_of(sys.solve());
  // The blank line, rounds 1-9, every tenth round to 2000, then the warning.
  ASSERT_EQ(l.size(), 1u + 9 + 200 + 2);
  EXPECT_EQ(l[l.size() - 3], "Iteration 2000  Converge stats =  0.00074");
  EXPECT_EQ(l[l.size() - 2], " ");
  EXPECT_EQ(l[l.size() - 1], "  WARNING!!!  SIRE SOLUTIONS DID NOT CONVERGE BY ROUND        2001");
  for (double s : sys.S) EXPECT_TRUE(std::isfinite(s));
}

// Mend: once the sums of squares overflow the quotient is inf/inf = NaN; such
// a trait must not pass for converged.
TEST(SireSolver, ADivergingTraitNeverCountsAsConverged) {
  Chain3 sys(10.0, {2.0});
  std::string out = sys.solve();
  EXPECT_EQ(out.find("CONVERGENCE"), std::string::npos);
  std::vector<std::string> l = lines_of(out);
  ASSERT_EQ(l.size(), 212u);
  EXPECT_EQ(l[l.size() - 3], "Iteration 2000  Converge stats =      NaN");
  EXPECT_EQ(l.back(), "  WARNING!!!  SIRE SOLUTIONS DID NOT CONVERGE BY ROUND        2001");
  EXPECT_FALSE(std::isfinite(sys.u[0]));
  for (double s : sys.S) EXPECT_TRUE(std::isnan(s));
}

// The fast solver against the plain loop nest, bit for bit, on random sparse
// systems: the trait counts cover every way the sweep overlaps its chains;
// zero, -0 and NaN coefficients of the A-inverse are among the entries.
TEST(SireSolver, FastRoundsEqualThePlainLoopNestBitForBit) {
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  for (int t : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16, 25}) {
    SCOPED_TRACE("t = " + std::to_string(t));
    const int n = 17 + t % 5;  // two or more blocks of sires and a shorter last one
    std::vector<double> K(n * n), AP(n * (n + 1) / 2), lambda(t), Y(n * t), S0(n * t);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i <= j; ++i) {
        double x = (i == j) ? 8.0 + U(rng) : (U(rng) < -0.3 ? 0.0 : 0.4 * U(rng));
        K[j * n + i] = x;
        K[i * n + j] = i == j ? x : x * (1 + 1e-3 * U(rng));  // not exactly symmetric
      }
    for (int r = 1; r <= n; ++r)
      for (int c = 1; c <= r; ++c) {
        double x = (r == c) ? 1.0 + std::fabs(U(rng)) : U(rng);
        if (r != c && x > 0.2) x = 0.0;
        if (r != c && x > 0.1 && x <= 0.2) x = -0.0;
        AP[r * (r - 1) / 2 + c - 1] = r != c ? x * 0.5 : x;
      }
    if (t == 3) AP[5 * 4 / 2 + 2 - 1] = NAN;
    for (int l = 0; l < t; ++l) lambda[l] = 0.5 + std::fabs(U(rng));
    for (double& y : Y) y = U(rng);
    for (int l = 0; l < t; ++l)
      if (l % 5 == 4)
        for (int i = 0; i < n; ++i) Y[l * n + i] = 0.0;  // an all-zero trait
    for (size_t i = 0; i < S0.size(); ++i) S0[i] = Y[i] * 0.1;

    const size_t nres = S0.size() * 2 + 2 * t + n;
    auto run = [&](bool fast, std::vector<double>& res) {
      Shared sh(nres);
      Child c = in_child([&] {
        std::vector<double> S = S0, WK(n * t, 7.0), DG(n), u(t), v(t);
        (fast ? SIRSOL : SIRSOL_literal)(K.data(), AP.data(), lambda.data(), Y.data(), S.data(), WK.data(),
                                          DG.data(), u.data(), v.data(), n, t);
        double* p = sh.p;
        for (auto* a : {&S, &WK, &u, &v, &DG}) p = std::copy(a->begin(), a->end(), p);
      });
      res.assign(sh.p, sh.p + nres);
      return c;
    };
    std::vector<double> a, b;
    Child ca = run(true, a), cb = run(false, b);
    EXPECT_EQ(ca.status, 0);
    EXPECT_EQ(ca.out, cb.out);
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), nres * sizeof(double)));
  }
}

// The group records of the final pass, by trait count: one line up to 8
// traits, an empty line after exactly 8 and 16 values, continuation lines of
// 33 blanks.
TEST(GroupRecords, LayoutByTraitCount) {
  const std::string head = "         3    3      152.38      ";
  auto vals = [](int from, int k) {
    std::string s;
    char b[16];
    for (int i = 0; i < k; ++i) {
      snprintf(b, sizeof b, "%12.6f", 0.001 * (from + i));
      s += b;
    }
    return s;
  };
  const std::string cont(33, ' ');
  struct Case {
    int t;
    std::string text;
  } cases[] = {
      {1, head + vals(1, 1) + "\n"},
      {8, head + vals(1, 8) + "\n\n"},
      {9, head + vals(1, 8) + "\n" + cont + vals(9, 1) + "\n"},
      {16, head + vals(1, 8) + "\n" + cont + vals(9, 8) + "\n\n"},
      {20, head + vals(1, 8) + "\n" + cont + vals(9, 8) + "\n\n" + cont + vals(17, 4) + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("t = " + std::to_string(c.t));
    Child ch = in_child([&] {
      static const Format f("(' ',I9,I5,F12.2,6X,8F12.6,/,(33X,8F12.6,/))");
      Items it{(int32_t)3, (int32_t)3, 152.38};
      for (int i = 1; i <= c.t; ++i) it.push_back(0.001 * i);
      FMTWRT(LISTING, f, it);
    });
    EXPECT_EQ(ch.out, c.text);
  }
}

// RELAPX on a designed pedigree of four sires (packed lower by rows):
// sire 1 has relatives 2 (-0.5) and 4 (+0.25, ignored); sire 3 has none of
// negative coefficient (e = 1) and no effective number (D = 0, a33 = 1).
TEST(Reliabilities, WeightsOnlyNegativeRelativesAndRoundsWhereStated) {
  const int n = 4, t = 2;
  std::vector<double> AP{1.5, -0.5, 2.0, 0.0, -0.0, 1.0, 0.25, -0.5, 0.0, 1.25};
  std::vector<double> K(16, 0.0);
  const double d[4] = {12.0, 5.5, 0.0, 30.0};
  for (int j = 0; j < 4; ++j) K[j * 4 + j] = d[j];
  K[1] = K[4] = 3.0;  // off-diagonals of K are not read
  // Error-to-sire ratios: single(0.7) is below 0.7, single(0.1) above 0.1.
  std::vector<double> lambda{0.7, 15.0};
  std::vector<double> D(n), acc(n), REL(n * t, -1.0);
  RELAPX(K.data(), AP.data(), D.data(), acc.data(), lambda.data(), REL.data(), n, t);
  for (int j = 0; j < 4; ++j) EXPECT_EQ(D[j], d[j]);
  const double expect[8] = {// trait 1, sires 1-4; trait 2, sires 1-4
                            0x1.e473f6c750b71p-1, 0x1.cbda137f5f762p-1, -0x1.2492498p-26, 0x1.f4626c98e53acp-1,
                            0x1.ee9145f6b35d0p-2, 0x1.eb4882fd4e3d0p-2, 0.0, 0x1.5910cb2e268ddp-1};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(REL[i], expect[i]) << "element " << i;
  const char* printed[8] = {"  95.", "  90.", "  -0.", "  98.", "  48.", "  48.", "   0.", "  67."};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(EDITF(100 * REL[i], 5, 0), printed[i]) << "element " << i;

  // Sire 3 with a ratio whose single-precision value lies above it.
  std::vector<double> up{0.1}, REL1(n);
  RELAPX(K.data(), AP.data(), D.data(), acc.data(), up.data(), REL1.data(), n, 1);
  EXPECT_EQ(REL1[2], 0x1.ffffff8p-27);
  EXPECT_EQ(EDITF(100 * REL1[2], 5, 0), "   0.");
}

}  // namespace
