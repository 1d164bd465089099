// Whole analyses on simulated data whose truth is known: the simulator's
// files checked against each other and against the layouts the programs
// read, the shipped example checked against the command that made it, and
// simulate -> zelk -> kesta runs whose estimates, PTAs and reliabilities are
// checked against the true values.
#include <gtest/gtest.h>

#ifdef SIMULATE_BIN

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/run.h"

namespace {

// ---- Running the simulator -------------------------------------------------

struct Sim {
  int status;
  std::string err;
};

Sim simulate(const std::string& dir, const std::string& args) {
  std::string cmd = "cd '" + dir + "' && '" SIMULATE_BIN "' " + args + " </dev/null >.sim.out 2>.sim.err";
  int rc = std::system(cmd.c_str());
  Sim s{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, read_file(dir, ".sim.err")};
  std::filesystem::remove(dir + "/.sim.out");
  std::filesystem::remove(dir + "/.sim.err");
  return s;
}

struct TempDir {
  std::string path = make_tempdir();
  ~TempDir() { std::filesystem::remove_all(path); }
};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> v;
  std::istringstream in(line);
  for (std::string w; in >> w;) v.push_back(w);
  return v;
}

// ---- truth.txt ---------------------------------------------------------------

struct TrueBull {
  int32_t id;
  int group, daughters;
  std::vector<double> ta;
};

struct Truth {
  std::string command;
  int t = 0, q = 0, g = 0, records = 0, classes = 0, ndfded = 0;
  std::map<std::string, std::vector<std::vector<double>>> matrix;  // sire_cov, genetic_cor, ...
  std::vector<double> h2;
  std::vector<std::vector<double>> group;  // g+1 rows of t effects
  std::vector<TrueBull> bulls;
};

Truth read_truth(const std::string& dir) {
  Truth tr;
  for (const auto& l : lines(read_file(dir, "truth.txt"))) {
    auto w = words(l);
    if (w.empty() || w[0][0] == '#') continue;
    auto reals = [&](size_t from) {
      std::vector<double> v;
      for (size_t k = from; k < w.size(); ++k) v.push_back(std::stod(w[k]));
      return v;
    };
    const std::string& key = w[0];
    if (key == "command") tr.command = l.substr(8);
    else if (key == "traits") tr.t = std::stoi(w[1]);
    else if (key == "sires") tr.q = std::stoi(w[1]);
    else if (key == "groups") tr.g = std::stoi(w[1]);
    else if (key == "records") tr.records = std::stoi(w[1]);
    else if (key == "classes") tr.classes = std::stoi(w[1]);
    else if (key == "ndfded") tr.ndfded = std::stoi(w[1]);
    else if (key == "heritability") tr.h2 = reals(1);
    else if (key == "group") tr.group.push_back(reals(2));
    else if (key == "bull") tr.bulls.push_back({std::stoi(w[1]), std::stoi(w[2]), std::stoi(w[3]), reals(4)});
    else if (key.size() > 4 && (key.substr(key.size() - 4) == "_cov" || key.substr(key.size() - 4) == "_cor"))
      tr.matrix[key].push_back(reals(2));
  }
  return tr;
}

// ---- pass.dat ----------------------------------------------------------------

struct Pass {
  std::vector<std::string> rec;  // the data of each record
  bool framed = true;            // every record's two length words agree and the file ends after the last
};

Pass read_records(const std::string& bytes) {
  Pass p;
  size_t at = 0;
  auto u32 = [&](size_t k) {
    uint32_t v = 0;
    for (int b = 3; b >= 0; --b) v = v << 8 | uint8_t(bytes[k + size_t(b)]);
    return v;
  };
  while (at + 4 <= bytes.size()) {
    uint32_t n = u32(at);
    if (at + 8 + n > bytes.size() || u32(at + 4 + n) != n) {
      p.framed = false;
      return p;
    }
    p.rec.push_back(bytes.substr(at + 4, n));
    at += 8 + n;
  }
  p.framed = at == bytes.size();
  return p;
}

template <class T>
T item(const std::string& rec, size_t byte) {
  T v;
  std::memcpy(&v, rec.data() + byte, sizeof v);  // little-endian host, as the programs' own
  return v;
}

// ---- kesta's outputs ---------------------------------------------------------

struct Estimates {
  std::vector<double> e, s, h, se_e, se_s, se_h;
  std::vector<std::vector<double>> cor;  // genetic above the diagonal, phenotypic below
};

double field(const std::string& l, size_t from, size_t width) {
  return from < l.size() ? std::stod(l.substr(from, width)) : NAN;
}

Estimates read_listing(const std::string& out, int t) {
  Estimates est;
  auto v = lines(out);
  for (size_t k = 0; k < v.size(); ++k) {
    if (v[k] == "FINAL ESTIMATES:")
      for (int i = 0; i < t && k + 2 + size_t(i) < v.size(); ++i) {
        const auto& l = v[k + 2 + size_t(i)];  // (I5,2X,A,2X,20F15.6)
        est.e.push_back(field(l, 17, 15));
        est.s.push_back(field(l, 32, 15));
        est.h.push_back(field(l, 47, 15));
      }
    if (v[k] == "STANDARD ERRORS OF CORRESPONDING PARAMETERS ABOVE")
      for (int i = 0; i < t && k + 1 + size_t(i) < v.size(); ++i) {
        const auto& l = v[k + 1 + size_t(i)];
        est.se_e.push_back(field(l, 17, 15));
        est.se_s.push_back(field(l, 32, 15));
        est.se_h.push_back(field(l, 47, 15));
      }
    if (v[k].rfind("NAME    ", 0) == 0)
      for (int i = 0; i < t && k + 1 + size_t(i) < v.size(); ++i) {
        std::vector<double> row;  // (I3,2X,A,2X,25F12.7)
        for (int j = 0; j < t; ++j) row.push_back(field(v[k + 1 + size_t(i)], 15 + 12 * size_t(j), 12));
        est.cor.push_back(row);
      }
  }
  return est;
}

struct SireLine {
  int32_t id;
  int group;
  double effnum;
  std::vector<double> v;
};

// sire.pta "(I10,I3,F7.1,25F10.4)" and sire.rel "(I10,I3,F7.1,25F5.0)".
std::vector<SireLine> read_sires(const std::string& text, int t, size_t width) {
  std::vector<SireLine> out;
  for (const auto& l : lines(text)) {
    SireLine s{std::stoi(l.substr(0, 10)), std::stoi(l.substr(10, 3)), field(l, 13, 7), {}};
    for (int i = 0; i < t; ++i) s.v.push_back(field(l, 20 + width * size_t(i), width));
    out.push_back(s);
  }
  return out;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const double n = double(a.size());
  double ma = 0, mb = 0;
  for (size_t k = 0; k < a.size(); ++k) ma += a[k], mb += b[k];
  ma /= n, mb /= n;
  double ab = 0, aa = 0, bb = 0;
  for (size_t k = 0; k < a.size(); ++k) {
    ab += (a[k] - ma) * (b[k] - mb);
    aa += (a[k] - ma) * (a[k] - ma);
    bb += (b[k] - mb) * (b[k] - mb);
  }
  return ab / std::sqrt(aa * bb);
}

struct Pipeline {
  RunResult zelk, kesta;
  Truth truth;
  std::string pedigree;
  std::vector<SireLine> pta, rel;
};

Pipeline run_pipeline(const std::string& args) {
  TempDir d;
  Pipeline p;
  Sim s = simulate(d.path, args);
  EXPECT_EQ(s.status, 0) << s.err;
  p.zelk = run_in(d.path, ZELK_BIN);
  p.kesta = run_in(d.path, KESTA_BIN);
  p.truth = read_truth(d.path);
  p.pedigree = read_file(d.path, "pedigree.dat");
  p.pta = read_sires(read_file(d.path, "sire.pta"), p.truth.t, 10);
  p.rel = read_sires(read_file(d.path, "sire.rel"), p.truth.t, 5);
  return p;
}

// ---- The simulator's files ---------------------------------------------------

// A small analysis with every feature: two traits, two groups and the base
// group, herdmates, imported IDs.
const char SMALL[] = "--bulls 80 --traits 2 --groups 2 --daughters 30 --h2 0.3,0.2 --rg -0.4 --re 0.25 "
                     "--names MILK,FAT --sd 2,1.5 --seed 11";

TEST(SimulatedFiles, PedigreeIsSortedAndItsAncestryConsistent) {
  TempDir d;
  ASSERT_EQ(simulate(d.path, SMALL).status, 0);
  Truth tr = read_truth(d.path);
  auto ped = lines(read_file(d.path, "pedigree.dat"));
  ASSERT_EQ(ped.size(), 80u);
  std::map<int32_t, int> year;
  std::vector<std::vector<int32_t>> rows;
  for (const auto& l : ped) {
    auto w = words(l);
    ASSERT_EQ(w.size(), 6u) << l;
    ASSERT_EQ(w[4].size(), 1u) << l;
    rows.push_back({std::stoi(w[0]), std::stoi(w[1]), std::stoi(w[2]), std::stoi(w[3]), std::stoi(w[5])});
    year[rows.back()[0]] = rows.back()[4];
  }
  int unknown = 0, in_file = 0, outside = 0, later_id = 0;
  const int older[3] = {5, 8, 12};  // sire, MGS, MGGS at least this many years older
  for (size_t k = 0; k < rows.size(); ++k) {
    const auto& r = rows[k];
    if (k > 0) {
      EXPECT_GE(r[0] - rows[k - 1][0], 2) << "IDs must ascend with gaps: " << ped[k];
    }
    EXPECT_GT(r[0], 0);
    EXPECT_GE(r[4], 1975);
    EXPECT_LE(r[4], 2005);
    EXPECT_EQ(tr.bulls[k].id, r[0]) << "truth.txt lists the bulls in pedigree.dat order";
    for (int a = 1; a <= 3; ++a) {
      EXPECT_NE(r[a], r[0]) << ped[k];
      for (int b = 1; b < a; ++b)
        if (r[a] != 0) {
          EXPECT_NE(r[a], r[b]) << "sire, MGS and MGGS are distinct: " << ped[k];
        }
      if (r[a] == 0) {
        ++unknown;
      } else if (year.count(r[a])) {
        ++in_file;
        EXPECT_LE(year[r[a]], r[4] - older[a - 1]) << ped[k];
        if (r[a] > r[0]) ++later_id;
      } else {
        ++outside;
      }
    }
  }
  EXPECT_GT(unknown, 0);
  EXPECT_GT(in_file, 0);
  EXPECT_GT(outside, 0);
  EXPECT_GT(later_id, 0) << "an ancestor standing after its son in the file";
}

TEST(SimulatedFiles, PassDatHoldsTheAbsorbedEquationsInKestasLayout) {
  TempDir d;
  ASSERT_EQ(simulate(d.path, SMALL).status, 0);
  Truth tr = read_truth(d.path);
  Pass p = read_records(read_file(d.path, "pass.dat"));
  const int t = 2, q = 80, g = 2, ntrh = 3;
  ASSERT_TRUE(p.framed);
  ASSERT_EQ(p.rec.size(), size_t(9 + q));

  // Record lengths, counts and names.
  const size_t len[6] = {4, 4, 4, 8 * t, 8 * q * t, 16 * ntrh + 12};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(p.rec[size_t(k)].size(), len[k]) << "record " << k + 1;
  for (int m = 1; m <= q; ++m) ASSERT_EQ(p.rec[size_t(5 + m)].size(), size_t(8 * q));
  EXPECT_EQ(p.rec[size_t(6 + q)].size(), size_t(8 * q));
  EXPECT_EQ(p.rec[size_t(7 + q)].size(), size_t(8 * q * g));
  EXPECT_EQ(p.rec[size_t(8 + q)].size(), size_t(8 * g * g + 8 * g * t + 4));
  EXPECT_EQ(item<int32_t>(p.rec[0], 0), t);
  EXPECT_EQ(item<int32_t>(p.rec[1], 0), q);
  EXPECT_EQ(item<int32_t>(p.rec[2], 0), g);
  EXPECT_EQ(p.rec[3], "MILK    FAT     ");
  const std::string& r6 = p.rec[5];
  const int nfixlv = item<int32_t>(r6, 16 * ntrh), nrec = item<int32_t>(r6, 16 * ntrh + 4),
            ndfded = item<int32_t>(r6, 16 * ntrh + 8);
  EXPECT_EQ(nrec, tr.records);
  EXPECT_EQ(nfixlv, tr.classes);
  EXPECT_EQ(ndfded, nfixlv + q);
  EXPECT_GT(nrec - nfixlv - g, 0);

  // WSSPK is positive definite and near the true error covariance (about
  // 3000 records within subclasses: a variance is within a few per cent).
  auto wss = [&](int k) { return item<double>(r6, 8 * size_t(k)); };
  ASSERT_GT(wss(0), 0);
  ASSERT_GT(wss(0) * wss(2) - wss(1) * wss(1), 0);
  EXPECT_NEAR(wss(0) / tr.matrix["error_cov"][0][0], 1.0, 0.15);
  EXPECT_NEAR(wss(2) / tr.matrix["error_cov"][1][1], 1.0, 0.15);
  EXPECT_NEAR(wss(1) / std::sqrt(wss(0) * wss(2)), 0.25, 0.1);
  auto ymy = [&](int k) { return item<double>(r6, 8 * size_t(ntrh + k)); };
  EXPECT_GT(ymy(0) * ymy(2) - ymy(1) * ymy(1), 0);

  // W: exactly symmetric, positive definite, diagonal at most the daughters.
  std::vector<double> W(size_t(q) * q);
  for (int m = 0; m < q; ++m)
    for (int s = 0; s < q; ++s) W[size_t(m) * q + s] = item<double>(p.rec[size_t(6 + m)], 8 * size_t(s));
  auto w = [&](int s, int m) { return W[size_t(m) * q + s]; };
  for (int m = 0; m < q; ++m) {
    EXPECT_GT(w(m, m), 0);
    EXPECT_LE(w(m, m), tr.bulls[size_t(m)].daughters);
    for (int s = 0; s < m; ++s) ASSERT_EQ(w(s, m), w(m, s)) << s << "," << m;
  }
  std::vector<double> L(W);  // Cholesky in place, lower triangle
  for (int j = 0; j < q; ++j) {
    double dj = L[size_t(j) * q + j];
    for (int k = 0; k < j; ++k) dj -= L[size_t(k) * q + j] * L[size_t(k) * q + j];
    ASSERT_GT(dj, 1e-9) << "W is not positive definite at " << j;
    L[size_t(j) * q + j] = std::sqrt(dj);
    for (int i = j + 1; i < q; ++i) {
      double x = L[size_t(j) * q + i];
      for (int k = 0; k < j; ++k) x -= L[size_t(k) * q + i] * L[size_t(k) * q + j];
      L[size_t(j) * q + i] = x / L[size_t(j) * q + j];
    }
  }

  // Sire IDs in pedigree.dat order, groups as truth.txt has them.
  const std::string& r7 = p.rec[size_t(6 + q)];
  std::vector<int> gr(static_cast<size_t>(q));
  std::set<int> seen;
  for (int s = 0; s < q; ++s) {
    EXPECT_EQ(item<int32_t>(r7, 4 * size_t(s)), tr.bulls[size_t(s)].id);
    gr[size_t(s)] = item<int32_t>(r7, 4 * size_t(q + s));
    EXPECT_EQ(gr[size_t(s)], tr.bulls[size_t(s)].group);
    EXPECT_GE(gr[size_t(s)], 1);
    EXPECT_LE(gr[size_t(s)], g + 1);
    seen.insert(gr[size_t(s)]);
  }
  EXPECT_EQ(seen.size(), size_t(g + 1));

  // N = WQ, H = Q'WQ (exactly symmetric), GRPRHS = Q'r, BASEEN = 1'W1 over
  // the base group.
  const std::string &r8 = p.rec[size_t(7 + q)], &r9 = p.rec[size_t(8 + q)];
  const double tol = 1e-9;
  for (int k = 1; k <= g; ++k)
    for (int s = 0; s < q; ++s) {
      double n = 0;
      for (int m = 0; m < q; ++m)
        if (gr[size_t(m)] == k) n += w(s, m);
      EXPECT_NEAR(item<double>(r8, 8 * size_t((k - 1) * q + s)), n, tol);
    }
  for (int k = 1; k <= g; ++k) {
    for (int l = 1; l <= g; ++l) {
      double h = 0;
      for (int s = 0; s < q; ++s)
        for (int m = 0; m < q; ++m)
          if (gr[size_t(s)] == k && gr[size_t(m)] == l) h += w(s, m);
      EXPECT_NEAR(item<double>(r9, 8 * size_t((l - 1) * g + k - 1)), h, tol * std::fabs(h) + tol);
      EXPECT_EQ(item<double>(r9, 8 * size_t((l - 1) * g + k - 1)), item<double>(r9, 8 * size_t((k - 1) * g + l - 1)));
    }
    for (int j = 0; j < t; ++j) {
      double z = 0;
      for (int s = 0; s < q; ++s)
        if (gr[size_t(s)] == k) z += item<double>(p.rec[4], 8 * size_t(j * q + s));
      EXPECT_NEAR(item<double>(r9, 8 * size_t(g * g + j * g + k - 1)), z, tol);
    }
  }
  double base = 0;
  for (int s = 0; s < q; ++s)
    for (int m = 0; m < q; ++m)
      if (gr[size_t(s)] == g + 1 && gr[size_t(m)] == g + 1) base += w(s, m);
  EXPECT_NEAR(item<float>(r9, 8 * size_t(g * g + g * t)), base, 1e-6 * base);
}

TEST(SimulatedFiles, TruthHoldsTheParametersAsked) {
  TempDir d;
  ASSERT_EQ(simulate(d.path, SMALL).status, 0);
  Truth tr = read_truth(d.path);
  EXPECT_EQ(tr.t, 2);
  EXPECT_EQ(tr.q, 80);
  EXPECT_EQ(tr.g, 2);
  ASSERT_EQ(tr.h2.size(), 2u);
  EXPECT_NEAR(tr.h2[0], 0.3, 1e-9);
  EXPECT_NEAR(tr.h2[1], 0.2, 1e-9);
  EXPECT_NEAR(tr.matrix["genetic_cor"][0][1], -0.4, 1e-9);
  EXPECT_NEAR(tr.matrix["error_cor"][1][0], 0.25, 1e-9);
  // Phenotypic variance sd^2 = S + R; sire variance h2 sd^2 / 4.
  EXPECT_NEAR(tr.matrix["sire_cov"][0][0] + tr.matrix["error_cov"][0][0], 4.0, 1e-9);
  EXPECT_NEAR(tr.matrix["sire_cov"][1][1], 0.2 * 2.25 / 4, 1e-9);
  // Group effects rise by half a sire standard deviation per group; base 0.
  ASSERT_EQ(tr.group.size(), 3u);
  EXPECT_NEAR(tr.group[0][0], 0.5 * std::sqrt(0.3), 1e-9);
  EXPECT_NEAR(tr.group[1][0], 1.0 * std::sqrt(0.3), 1e-9);
  EXPECT_EQ(tr.group[2][0], 0.0);
  EXPECT_EQ(tr.bulls.size(), 80u);
}

TEST(SimulatedFiles, SameSeedSameBytesOtherSeedOtherData) {
  TempDir a, b, c;
  ASSERT_EQ(simulate(a.path, SMALL).status, 0);
  ASSERT_EQ(simulate(b.path, SMALL).status, 0);
  ASSERT_EQ(simulate(c.path, std::string(SMALL) + "1").status, 0);  // seed 111
  for (const char* f : {"pedigree.dat", "pass.dat", "truth.txt"}) {
    EXPECT_EQ(read_file(a.path, f), read_file(b.path, f)) << f;
    EXPECT_NE(read_file(a.path, f), read_file(c.path, f)) << f;
  }
}

TEST(SimulatedFiles, RefusesWhatTheProgramsCannotTake) {
  const char* bad[] = {
      "--bulls 1",                 // kesta needs two sires for its standard errors
      "--bulls 46341",             // q(q+1) must fit kesta's 32-bit count
      "--traits 21",               // the within-subclass lines hold 20 traits
      "--traits 3 --bulls 2 --groups 0",// kesta keeps per-trait sums in a vector of q
      "--groups 5 --bulls 5",      // every group needs a bull
      "--years 5-2000",            // zelk needs the year ten before an unknown MGGS
      "--years 1990-2030",         // zelk's years end in 2028
      "--h2 1.2",
      "--h2 0.3,0.3",              // three traits need one or three values
      "--rg 0.9,0.9,-0.9",         // not a covariance matrix
      "--names ABCDEFGHI,B,C",     // names are 8 characters
      "--bulls ten",
      "--bulls 4294967298",        // wraps to 2 in 32 bits
      "--bulls 99999999999999999999",
      "--colour blue",
  };
  for (const char* args : bad) {
    TempDir d;
    Sim s = simulate(d.path, args);
    EXPECT_EQ(s.status, 2) << args;
    EXPECT_EQ(s.err.rfind("simulate: ", 0), 0u) << args << ": " << s.err;
    EXPECT_FALSE(file_exists(d.path, "pass.dat")) << args;
  }
  TempDir d;
  EXPECT_EQ(simulate(d.path, "--help").status, 0);
}

// The shipped example is what the command in its truth.txt makes, byte for
// byte (the simulator draws from its own generator; only the C library's
// log, sin and cos enter, and they are the same on the project's machines).
TEST(ShippedExample, IsWhatItsCommandMakes) {
  const std::string example = std::string(FIXTURES_DIR) + "/../../examples/analysis";
  ASSERT_TRUE(file_exists(example, "truth.txt"));
  Truth shipped = read_truth(example);
  ASSERT_EQ(shipped.command.rfind("simulate ", 0), 0u);
  ASSERT_EQ(shipped.command.find("--out"), std::string::npos);
  TempDir d;
  ASSERT_EQ(simulate(d.path, shipped.command.substr(9)).status, 0);
  for (const char* f : {"pedigree.dat", "pass.dat", "truth.txt"})
    EXPECT_TRUE(read_file(example, f) == read_file(d.path, f)) << f << " differs from the command's";
  EXPECT_EQ(shipped.q, 300);
  EXPECT_EQ(shipped.t, 3);
  EXPECT_EQ(shipped.g, 2);
}

// ---- Whole analyses ----------------------------------------------------------

void expect_complete(const Pipeline& p) {
  ASSERT_EQ(p.zelk.status, 0) << p.zelk.out << p.zelk.err;
  ASSERT_EQ(p.kesta.status, 0) << p.kesta.out << p.kesta.err;
  ASSERT_NE(p.zelk.out.find(" Program zelk completed normally\n"), std::string::npos);
  ASSERT_NE(p.kesta.out.find(" Program KESTA completed normally\n"), std::string::npos);
  const size_t q = p.truth.bulls.size();
  ASSERT_EQ(p.pta.size(), q);
  ASSERT_EQ(p.rel.size(), q);
  auto ped = lines(p.pedigree);
  for (size_t s = 0; s < q; ++s) {
    EXPECT_EQ(p.pta[s].id, std::stoi(words(ped[s])[0])) << "sire.pta in pedigree.dat order";
    EXPECT_EQ(p.rel[s].id, p.pta[s].id);
    EXPECT_EQ(p.pta[s].group, p.truth.bulls[s].group);
    EXPECT_EQ(p.rel[s].effnum, p.pta[s].effnum);
    // K = W - N H^-1 N' cannot hold more than the daughters of the sire.
    EXPECT_GT(p.pta[s].effnum, 0);
    EXPECT_LE(p.pta[s].effnum, p.truth.bulls[s].daughters + 0.05);
    for (int i = 0; i < p.truth.t; ++i) {
      EXPECT_GE(p.rel[s].v[size_t(i)], 0) << p.rel[s].id;
      EXPECT_LE(p.rel[s].v[size_t(i)], 100) << p.rel[s].id;
      EXPECT_TRUE(std::isfinite(p.pta[s].v[size_t(i)])) << p.pta[s].id;
    }
  }
}

// A small analysis, run in every build (the sanitizer build included).
TEST(Pipeline, SmallSimulatedAnalysisRunsThrough) {
  Pipeline p = run_pipeline("--bulls 150 --traits 2 --groups 1 --daughters 30 --seed 5");
  expect_complete(p);
}

#if defined(__SANITIZE_ADDRESS__)
#define SLOW_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SLOW_BUILD 1
#endif
#endif
#if !defined(__OPTIMIZE__)
#define SLOW_BUILD 1
#endif

// 1,500 bulls with three traits and known parameters. kesta's order-q^3
// phases (the eigen-decomposition and the two triangular products) take a few
// seconds here in an optimised build, minutes in an unoptimised or sanitizer
// build: there the test is skipped; the small analysis above covers those
// builds.
TEST(Pipeline, EstimatesPtasAndReliabilitiesAgreeWithTheTruth) {
#ifdef SLOW_BUILD
  GTEST_SKIP() << "1,500 sires take minutes in an unoptimised or sanitizer build";
#endif
  const int t = 3;
  Pipeline p = run_pipeline("--bulls 1500 --traits 3 --groups 2 --daughters 50 "
                            "--h2 0.30,0.20,0.40 --rg 0.5,-0.3,0.2 --re 0.3,0.1,-0.2 --seed 1");
  expect_complete(p);
  if (HasFatalFailure()) return;
  const Truth& tr = p.truth;
  Estimates est = read_listing(p.kesta.out, t);
  ASSERT_EQ(est.h.size(), size_t(t));
  ASSERT_EQ(est.se_h.size(), size_t(t));
  ASSERT_EQ(est.cor.size(), size_t(t));

  // Variances and heritabilities within three of kesta's own standard errors.
  for (int i = 0; i < t; ++i) {
    const double S = tr.matrix.at("sire_cov")[size_t(i)][size_t(i)], R = tr.matrix.at("error_cov")[size_t(i)][size_t(i)];
    EXPECT_NEAR(est.h[size_t(i)], tr.h2[size_t(i)], 3 * est.se_h[size_t(i)]) << "heritability of trait " << i + 1;
    EXPECT_NEAR(est.s[size_t(i)], S, 3 * est.se_s[size_t(i)]) << "sire variance of trait " << i + 1;
    EXPECT_NEAR(est.e[size_t(i)], R, 3 * est.se_e[size_t(i)]) << "error variance of trait " << i + 1;
  }
  // kesta gives no standard error for a correlation; the usual approximation
  // for a genetic correlation from sire components, (1 - r^2)/sqrt(2) times
  // sqrt(SE(h_i) SE(h_j) / (h_i h_j)), stands in for it. Phenotypic
  // correlations from some 90,000 records have a standard error near
  // (1 - r^2)/sqrt(NREC) = 0.003; 0.02 leaves room for the sire part.
  for (int i = 0; i < t; ++i)
    for (int j = i + 1; j < t; ++j) {
      const double r = est.cor[size_t(i)][size_t(j)];
      const double se = (1 - r * r) / std::sqrt(2.0) *
                        std::sqrt(est.se_h[size_t(i)] * est.se_h[size_t(j)] / (est.h[size_t(i)] * est.h[size_t(j)]));
      EXPECT_NEAR(r, tr.matrix.at("genetic_cor")[size_t(i)][size_t(j)], 3 * se)
          << "genetic correlation of traits " << i + 1 << " and " << j + 1;
      EXPECT_NEAR(est.cor[size_t(j)][size_t(i)], tr.matrix.at("phenotypic_cor")[size_t(j)][size_t(i)], 0.02)
          << "phenotypic correlation of traits " << i + 1 << " and " << j + 1;
    }

  const size_t q = tr.bulls.size();
  for (int i = 0; i < t; ++i) {
    // PTAs against the true transmitting abilities: for an unselected set of
    // bulls the squared correlation is about the mean reliability; among the
    // bulls above 80 the correlation exceeds 0.8.
    std::vector<double> pta, ta, hp, ht;
    double rel = 0;
    for (size_t s = 0; s < q; ++s) {
      pta.push_back(p.pta[s].v[size_t(i)]);
      ta.push_back(tr.bulls[s].ta[size_t(i)]);
      rel += p.rel[s].v[size_t(i)] / 100 / double(q);
      if (p.rel[s].v[size_t(i)] > 80) hp.push_back(pta.back()), ht.push_back(ta.back());
    }
    EXPECT_GT(correlation(pta, ta), std::sqrt(rel) - 0.05) << "trait " << i + 1;
    ASSERT_GE(hp.size(), 100u) << "trait " << i + 1;
    EXPECT_GT(correlation(hp, ht), 0.8) << "bulls above 80, trait " << i + 1;

    // Reliabilities rise with daughters: the mean of each fifth of the bulls,
    // in order of daughters, lies above the fifth before it.
    std::vector<size_t> by(q);
    for (size_t s = 0; s < q; ++s) by[s] = s;
    std::stable_sort(by.begin(), by.end(), [&](size_t a, size_t b) { return tr.bulls[a].daughters < tr.bulls[b].daughters; });
    double last = -1;
    for (size_t f = 0; f < 5; ++f) {
      double m = 0;
      for (size_t k = f * q / 5; k < (f + 1) * q / 5; ++k) m += p.rel[by[k]].v[size_t(i)];
      m /= double((f + 1) * q / 5 - f * q / 5);
      EXPECT_GT(m, last + 2) << "fifth " << f + 1 << " of the bulls by daughters, trait " << i + 1;
      last = m;
    }
  }

  // Group solutions follow the true trend: base 0 < group 1 < group 2.
  auto v = lines(p.kesta.out);
  auto head = std::find(v.begin(), v.end(), "            GROUP  EFF.NUM.     GROUP SOLUTIONS");
  ASSERT_NE(head, v.end());
  ASSERT_GE(v.end() - head, 3);
  for (int i = 0; i < t; ++i) {
    const double g1 = field(head[1], 33 + 12 * size_t(i), 12), g2 = field(head[2], 33 + 12 * size_t(i), 12);
    EXPECT_GT(g1, 0) << "trait " << i + 1;
    EXPECT_GT(g2, g1) << "trait " << i + 1;
  }
}

}  // namespace

#endif  // SIMULATE_BIN
