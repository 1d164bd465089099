// The bulls: birth years, IDs, ancestry, genetic groups and true transmitting
// abilities.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "rng.h"
#include "simulate.h"

std::vector<double> cholesky(const std::vector<double>& a, int t, const char* what) {
  std::vector<double> l(size_t(t) * t, 0.0);
  for (int j = 0; j < t; ++j) {
    double d = a[j * t + j];
    for (int k = 0; k < j; ++k) d -= l[k * t + j] * l[k * t + j];
    if (!(d > 0)) fail(std::string(what) + " covariance matrix is not positive definite: check --rg/--re");
    l[j * t + j] = std::sqrt(d);
    for (int i = j + 1; i < t; ++i) {
      double s = a[j * t + i];
      for (int k = 0; k < j; ++k) s -= l[k * t + i] * l[k * t + j];
      l[j * t + i] = s / l[j * t + j];
    }
  }
  return l;
}

// Correlation of traits i and j (0-based, i != j) from a list in the order
// (2,1), (3,1), (3,2), ... of 1-based traits.
static double pair(const std::vector<double>& v, int i, int j) {
  if (i < j) std::swap(i, j);
  return v[size_t(i) * (i - 1) / 2 + j];
}

void build_truth(const Options& o, Truth& tr) {
  const int t = o.traits, q = o.bulls, g = o.groups;
  tr.t = t;
  tr.q = q;
  tr.g = g;

  // True covariance matrices: kesta's heritability 4S/(S+R) is h2 when the
  // phenotypic variance P = S + R.
  tr.S0.assign(size_t(t) * t, 0.0);
  tr.R0.assign(size_t(t) * t, 0.0);
  for (int i = 0; i < t; ++i) {
    double p = o.sd[i] * o.sd[i];
    tr.S0[i * t + i] = o.h2[i] * p / 4.0;
    tr.R0[i * t + i] = p - tr.S0[i * t + i];
  }
  for (int i = 0; i < t; ++i)
    for (int j = 0; j < t; ++j)
      if (i != j) {
        tr.S0[j * t + i] = pair(o.rg, i, j) * std::sqrt(tr.S0[i * t + i] * tr.S0[j * t + j]);
        tr.R0[j * t + i] = pair(o.re, i, j) * std::sqrt(tr.R0[i * t + i] * tr.R0[j * t + j]);
      }
  const std::vector<double> LS = cholesky(tr.S0, t, "sire");
  cholesky(tr.R0, t, "error");  // refused here, before anything is drawn

  Rng rng(o.seed, 1);

  // Birth years: the pedigree's bulls evenly over the years; ancestors that
  // are not in the file are spread from 25 years before the first year on.
  const int ny = o.last_year - o.first_year + 1;
  const int nout = std::max(10, q / 5);
  std::vector<Bull>& b = tr.bulls;
  b.clear();
  std::vector<double> key;
  for (int k = 0; k < q; ++k) {
    Bull x;
    x.year = o.first_year + int(int64_t(k) * ny / q);
    x.in_file = true;
    b.push_back(x);
  }
  for (int k = 0; k < nout; ++k) {
    Bull x;
    x.year = int(rng.between(o.first_year - 25, o.last_year - 5));
    b.push_back(x);
  }
  for (size_t k = 0; k < b.size(); ++k) key.push_back(rng.uniform());
  std::vector<int> order(b.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int x, int y) {
    return b[x].year != b[y].year ? b[x].year < b[y].year : key[x] < key[y];
  });
  {
    std::vector<Bull> sorted;
    for (int k : order) sorted.push_back(b[k]);
    b.swap(sorted);
  }

  // IDs ascending in birth order with gaps, in two series: the domestic one
  // and, for imported bulls, a later one, so that an ancestor's ID can be
  // larger than its son's.
  int32_t dom = 100000, imp = 70000000;
  for (auto& x : b) {
    if (x.in_file && rng.chance(o.imported)) {
      x.origin = 'I';
      x.id = imp += int32_t(rng.between(2, 20));
    } else {
      x.id = dom += int32_t(rng.between(2, 20));
    }
  }

  // Indices of the pedigree's bulls and of the outside ancestors, by birth.
  std::vector<int> fb, ob;
  std::vector<int> fy, oy;
  for (int k = 0; k < int(b.size()); ++k) {
    if (b[k].in_file) fb.push_back(k), fy.push_back(b[k].year);
    else ob.push_back(k), oy.push_back(b[k].year);
  }
  std::vector<double> popularity(b.size());
  for (auto& w : popularity) {
    double u = rng.uniform();
    w = 0.05 + 0.95 * u * u;
  }

  // Ancestry. Ages in years of sire, MGS and MGGS, and how often each is a
  // bull of the file when one of the right age exists.
  const int lo[3] = {5, 8, 12}, hi[3] = {12, 18, 25};
  const double known[3] = {0.85, 0.75, 0.60};
  for (int k : fb) {
    Bull& x = b[k];
    for (int r = 0; r < 3; ++r) {
      for (int attempt = 0; attempt < 10; ++attempt) {
        int pick = -1;
        auto f0 = std::lower_bound(fy.begin(), fy.end(), x.year - hi[r]) - fy.begin();
        auto f1 = std::upper_bound(fy.begin(), fy.end(), x.year - lo[r]) - fy.begin();
        auto o0 = std::lower_bound(oy.begin(), oy.end(), x.year - hi[r]) - oy.begin();
        auto o1 = std::upper_bound(oy.begin(), oy.end(), x.year - lo[r]) - oy.begin();
        if (f1 > f0 && rng.chance(known[r])) {
          // Popular sires are used more: accept a candidate by its weight.
          for (int tries = 0; tries < 100; ++tries) {
            pick = fb[size_t(rng.between(f0, f1 - 1))];
            if (rng.chance(popularity[size_t(pick)])) break;
          }
        } else if (o1 > o0 && rng.chance(0.5)) {
          pick = ob[size_t(rng.between(o0, o1 - 1))];
        }
        bool same = false;
        for (int e = 0; e < r; ++e) same = same || (pick >= 0 && pick == x.anc[e]);
        if (!same) {
          x.anc[r] = pick;
          break;
        }
      }
    }
  }

  // Genetic groups: birth cohorts of equal size, the oldest the base group.
  for (int n = 0; n < q; ++n) {
    int band = int(int64_t(n) * (g + 1) / q);
    b[fb[n]].group = band == 0 ? g + 1 : band;
  }
  tr.gamma.assign(size_t(g + 1) * t, 0.0);
  for (int k = 1; k <= g; ++k)
    for (int i = 0; i < t; ++i)
      tr.gamma[size_t(i) * (g + 1) + (k - 1)] = k * o.trend * std::sqrt(tr.S0[i * t + i]);

  // Genetic deviations in birth order (every known ancestor is older): an
  // ancestor outside the file counts with its group's mean deviation, 0.
  Rng gen(o.seed, 2);
  std::vector<std::vector<double>> dev(b.size());
  const double share[3] = {0.5, 0.25, 0.125};
  const double dshare[3] = {0.25, 0.0625, 0.015625};
  std::vector<double> z(t);
  for (int k : fb) {
    Bull& x = b[k];
    double d = 1.0;
    std::vector<double> a(t, 0.0);
    for (int r = 0; r < 3; ++r) {
      int p = x.anc[r];
      if (p >= 0 && b[p].in_file) {
        d -= dshare[r];
        for (int i = 0; i < t; ++i) a[i] += share[r] * dev[p][i];
      }
    }
    for (int i = 0; i < t; ++i) z[i] = gen.normal();
    double sd = std::sqrt(d);
    for (int i = 0; i < t; ++i) {
      double m = 0;
      for (int j = 0; j <= i; ++j) m += LS[j * t + i] * z[j];
      a[i] += sd * m;
    }
    dev[k] = a;
    x.ta.resize(t);
    for (int i = 0; i < t; ++i) x.ta[i] = a[i] + tr.gamma[size_t(i) * (g + 1) + (x.group - 1)];
  }

  // pedigree.dat order: ascending IDs.
  tr.file = fb;
  std::sort(tr.file.begin(), tr.file.end(), [&](int x, int y) { return b[x].id < b[y].id; });
}
