// The records: daughters of the bulls and herdmates by sires outside the
// analysis, in herd-year-season classes.
#include <algorithm>
#include <cmath>

#include "rng.h"
#include "simulate.h"

void simulate_records(const Options& o, Truth& tr, Records& rec) {
  const int t = tr.t, q = tr.q;
  Rng rng(o.seed, 3);

  // Daughters per bull, log-normal around the mean.
  int64_t nd = 0;
  for (int n = 0; n < q; ++n) {
    Bull& x = tr.bulls[tr.file[n]];
    double s = o.spread;
    double v = o.daughters * std::exp(s * rng.normal() - s * s / 2);
    x.daughters = int(std::max(1.0, std::min(1.0e6, std::round(v))));
    nd += x.daughters;
  }
  const int64_t nh = int64_t(std::llround(o.herdmates * double(nd)));
  int64_t classes = o.hys > 0 ? o.hys : std::max<int64_t>(1, (nd + nh + 10) / 20);
  if (nd + nh + classes > 2000000000) fail("too many records for the 32-bit counts of pass.dat");
  rec.t = t;
  rec.classes = int(classes);

  // Classes of unequal size: each batch falls in a class drawn with these
  // weights. Class effects are absorbed by kesta's equations; they only make
  // the records look like records.
  std::vector<double> cum(static_cast<size_t>(classes));
  std::vector<double> effect(size_t(classes) * t);
  double total = 0;
  for (int64_t h = 0; h < classes; ++h) {
    total += std::exp(0.8 * rng.normal());
    cum[size_t(h)] = total;
    for (int i = 0; i < t; ++i) effect[size_t(h) * t + i] = o.hys_sd * o.sd[i] * rng.normal();
  }
  auto draw_class = [&]() {
    double u = rng.uniform() * total;
    auto it = std::upper_bound(cum.begin(), cum.end(), u);
    return int(std::min<int64_t>(it - cum.begin(), classes - 1));
  };

  // Errors with covariance R0.
  const std::vector<double> LR = cholesky(tr.R0, t, "error");
  std::vector<double> z(t);
  auto add = [&](int h, int sire, const std::vector<double>* ta) {
    for (int i = 0; i < t; ++i) z[i] = rng.normal();
    rec.cls.push_back(h);
    rec.sire.push_back(sire);
    for (int i = 0; i < t; ++i) {
      double e = 0;
      for (int j = 0; j <= i; ++j) e += LR[j * t + i] * z[j];
      double v = o.mean[i] + effect[size_t(h) * t + i] + e;
      if (ta) v += (*ta)[i];
      rec.y.push_back(v);
    }
  };

  // Daughters in herd batches of 1 to 4.
  std::vector<char> has_daughter(size_t(classes), 0), has_mate(size_t(classes), 0);
  for (int n = 0; n < q; ++n) {
    const Bull& x = tr.bulls[tr.file[n]];
    for (int left = x.daughters; left > 0;) {
      int batch = int(std::min<int64_t>(left, rng.between(1, 4)));
      int h = draw_class();
      has_daughter[size_t(h)] = 1;
      for (int k = 0; k < batch; ++k) add(h, n + 1, &x.ta);
      left -= batch;
    }
  }
  for (int64_t left = nh; left > 0;) {
    int batch = int(std::min<int64_t>(left, rng.between(1, 4)));
    int h = draw_class();
    has_mate[size_t(h)] = 1;
    for (int k = 0; k < batch; ++k) add(h, 0, nullptr);
    left -= batch;
  }
  // A herdmate in every class with daughters keeps W positive definite: Zx
  // constant within each class and zero on the herdmates forces x = 0.
  if (o.herdmates > 0)
    for (int64_t h = 0; h < classes; ++h)
      if (has_daughter[size_t(h)] && !has_mate[size_t(h)]) add(int(h), 0, nullptr);
}
