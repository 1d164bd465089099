// pedigree.dat and truth.txt.
#include <cmath>
#include <cstdio>

#include "simulate.h"

namespace {

struct Out {
  explicit Out(const std::string& path) : path_(path) {
    f = std::fopen(path.c_str(), "w");
    if (!f) fail("cannot write " + path);
  }
  ~Out() {
    if (std::fclose(f) != 0) fail("cannot write " + path_);
  }
  std::FILE* f;
  std::string path_;
};

}  // namespace

void write_pedigree(const Options& o, const Truth& tr) {
  Out out(o.out + "/pedigree.dat");
  for (int k : tr.file) {
    const Bull& x = tr.bulls[size_t(k)];
    int32_t anc[3];
    for (int r = 0; r < 3; ++r) anc[r] = x.anc[r] < 0 ? 0 : tr.bulls[size_t(x.anc[r])].id;
    std::fprintf(out.f, "%10d %10d %10d %10d %c %4d\n", x.id, anc[0], anc[1], anc[2], x.origin, x.year);
  }
}

void write_truth(const Options& o, const Truth& tr, const Counts& c) {
  const int t = tr.t, g = tr.g;
  Out out(o.out + "/truth.txt");
  std::FILE* f = out.f;
  auto S = [&](int i, int j) { return tr.S0[size_t(j) * t + i]; };
  auto R = [&](int i, int j) { return tr.R0[size_t(j) * t + i]; };
  auto E = [&](int i, int j) { return R(i, j) - 3.0 * S(i, j); };
  auto P = [&](int i, int j) { return R(i, j) + S(i, j); };
  auto matrix = [&](const char* name, auto m, bool correlation) {
    for (int i = 0; i < t; ++i) {
      std::fprintf(f, "%s %d", name, i + 1);
      for (int j = 0; j < t; ++j)
        std::fprintf(f, " %.10g", correlation ? m(i, j) / std::sqrt(m(i, i) * m(j, j)) : m(i, j));
      std::fprintf(f, "\n");
    }
  };

  std::fprintf(f, "# True values of a simulated analysis; 'simulate --help' describes the model.\n");
  std::fprintf(f, "command %s\n", o.command.c_str());
  std::fprintf(f, "seed %llu\n", static_cast<unsigned long long>(o.seed));
  std::fprintf(f, "traits %d\nsires %d\ngroups %d\n", t, tr.q, g);
  std::fprintf(f, "records %d\nclasses %d\nndfded %d\n", c.NREC, c.NFIXLV, c.NDFDED);
  std::fprintf(f, "names");
  for (const auto& n : o.names) std::fprintf(f, " %s", n.c_str());
  std::fprintf(f, "\n# Sire and error covariance matrices, as kesta estimates them.\n");
  matrix("sire_cov", S, false);
  matrix("error_cov", R, false);
  std::fprintf(f, "# Heritability 4S/(S+R) and genetic standard deviation 2 sqrt(S).\n");
  std::fprintf(f, "heritability");
  for (int i = 0; i < t; ++i) std::fprintf(f, " %.10g", 4.0 * S(i, i) / (S(i, i) + R(i, i)));
  std::fprintf(f, "\ngenetic_sd");
  for (int i = 0; i < t; ++i) std::fprintf(f, " %.10g", 2.0 * std::sqrt(S(i, i)));
  std::fprintf(f, "\n# Correlations: genetic (S), error (R), phenotypic (R+S), environmental (R-3S).\n");
  matrix("genetic_cor", S, true);
  matrix("error_cor", R, true);
  matrix("phenotypic_cor", P, true);
  matrix("environmental_cor", E, true);
  std::fprintf(f, "# Group effects per trait; group %d is the base group.\n", g + 1);
  for (int k = 0; k <= g; ++k) {
    std::fprintf(f, "group %d", k + 1);
    for (int i = 0; i < t; ++i) std::fprintf(f, " %.10g", tr.gamma[size_t(i) * (g + 1) + k]);
    std::fprintf(f, "\n");
  }
  std::fprintf(f, "# Bulls in pedigree.dat order: ID, group, daughters, true transmitting abilities.\n");
  for (int k : tr.file) {
    const Bull& x = tr.bulls[size_t(k)];
    std::fprintf(f, "bull %d %d %d", x.id, x.group, x.daughters);
    for (int i = 0; i < t; ++i) std::fprintf(f, " %.10g", x.ta[size_t(i)]);
    std::fprintf(f, "\n");
  }
}
