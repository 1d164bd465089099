// pass.dat: the sire equations with the herd-year-season classes absorbed,
// built class by class, and written as kesta's sequential binary records.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <utility>

#include "simulate.h"

namespace {

// One record of a sequential binary file: its little-endian length, the data
// and the length again. The items are encoded little-endian byte by byte, so
// the file is the same on any host.
class RecordFile {
 public:
  explicit RecordFile(const std::string& path) {
    f_ = std::fopen(path.c_str(), "wb");
    if (!f_) fail("cannot write " + path);
    std::setvbuf(f_, nullptr, _IOFBF, 1 << 22);
    path_ = path;
  }
  ~RecordFile() {
    if (f_ && std::fclose(f_) != 0) fail("cannot write " + path_);
  }
  void i32(int32_t v) { u32(uint32_t(v)); }
  void f32(float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    u32(u);
  }
  void f64(double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int k = 0; k < 8; ++k) buf_.push_back(static_cast<unsigned char>(u >> (8 * k)));
  }
  void text(const std::string& s, size_t n) {
    for (size_t k = 0; k < n; ++k) buf_.push_back(static_cast<unsigned char>(k < s.size() ? s[k] : ' '));
  }
  // Ends the record being built and writes it.
  void end() {
    unsigned char len[4];
    uint32_t n = uint32_t(buf_.size());
    for (int k = 0; k < 4; ++k) len[k] = static_cast<unsigned char>(n >> (8 * k));
    if (std::fwrite(len, 1, 4, f_) != 4 ||
        (n && std::fwrite(buf_.data(), 1, n, f_) != n) || std::fwrite(len, 1, 4, f_) != 4)
      fail("cannot write " + path_);
    buf_.clear();
  }

 private:
  void u32(uint32_t u) {
    for (int k = 0; k < 4; ++k) buf_.push_back(static_cast<unsigned char>(u >> (8 * k)));
  }
  std::FILE* f_ = nullptr;
  std::string path_;
  std::vector<unsigned char> buf_;
};

// Position of (i, j), i >= j, 0-based, in a matrix packed lower by rows.
inline size_t lower(int i, int j) { return size_t(i) * (i + 1) / 2 + j; }

}  // namespace

Counts write_pass(const Options& o, const Truth& tr, const Records& rec) {
  const int t = tr.t, q = tr.q, g = tr.g;
  const int nh = rec.classes;
  const int64_t nrec = int64_t(rec.cls.size());
  const int ntrh = t * (t + 1) / 2;

  // Records by class, and by sire within a class, so that every class and
  // every class-by-sire subclass is one run.
  std::vector<int64_t> start(size_t(nh) + 1, 0);
  for (int h : rec.cls) ++start[size_t(h) + 1];
  for (int h = 0; h < nh; ++h) start[size_t(h) + 1] += start[size_t(h)];
  std::vector<int64_t> order(static_cast<size_t>(nrec));
  {
    std::vector<int64_t> fill(start.begin(), start.end() - 1);
    for (int64_t r = 0; r < nrec; ++r) order[size_t(fill[size_t(rec.cls[size_t(r)])]++)] = r;
  }
  for (int h = 0; h < nh; ++h)
    std::stable_sort(order.begin() + start[size_t(h)], order.begin() + start[size_t(h) + 1],
                     [&](int64_t a, int64_t b) { return rec.sire[size_t(a)] < rec.sire[size_t(b)]; });

  // Absorption class by class: M y is the deviation from the class mean, so
  // r = Z'My and y'My add up over classes; W = Z'MZ is kept as the counts
  // of each class's sires, from which its columns are formed below.
  std::vector<double> rhs(size_t(q) * t, 0.0), ymy(size_t(ntrh), 0.0), wss(size_t(ntrh), 0.0);
  std::vector<std::pair<int, int>> class_sires;            // (sire, daughters in the class)
  std::vector<int64_t> cs_start(size_t(nh) + 1, 0);
  std::vector<std::vector<std::pair<int, int>>> sire_classes(size_t(q) + 1);  // (class, daughters)
  int32_t nfixlv = 0;
  int64_t ncells = 0;
  std::vector<double> mean(t), cmean(t), d(t);
  for (int h = 0; h < nh; ++h) {
    const int64_t b = start[size_t(h)], e = start[size_t(h) + 1];
    cs_start[size_t(h)] = int64_t(class_sires.size());
    if (e == b) continue;
    ++nfixlv;
    std::fill(mean.begin(), mean.end(), 0.0);
    for (int64_t k = b; k < e; ++k)
      for (int i = 0; i < t; ++i) mean[i] += rec.y[size_t(order[size_t(k)]) * t + i];
    for (int i = 0; i < t; ++i) mean[i] /= double(e - b);
    for (int64_t k = b; k < e; ++k) {
      const int64_t r = order[size_t(k)];
      const int s = rec.sire[size_t(r)];
      for (int i = 0; i < t; ++i) d[i] = rec.y[size_t(r) * t + i] - mean[i];
      for (int i = 0; i < t; ++i)
        for (int j = 0; j <= i; ++j) ymy[lower(i, j)] += d[i] * d[j];
      if (s > 0)
        for (int i = 0; i < t; ++i) rhs[size_t(i) * q + (s - 1)] += d[i];
    }
    // Subclasses: the daughters of one sire in the class, or its herdmates.
    for (int64_t c = b; c < e;) {
      const int s = rec.sire[size_t(order[size_t(c)])];
      int64_t ce = c;
      while (ce < e && rec.sire[size_t(order[size_t(ce)])] == s) ++ce;
      std::fill(cmean.begin(), cmean.end(), 0.0);
      for (int64_t k = c; k < ce; ++k)
        for (int i = 0; i < t; ++i) cmean[i] += rec.y[size_t(order[size_t(k)]) * t + i];
      for (int i = 0; i < t; ++i) cmean[i] /= double(ce - c);
      for (int64_t k = c; k < ce; ++k) {
        for (int i = 0; i < t; ++i) d[i] = rec.y[size_t(order[size_t(k)]) * t + i] - cmean[i];
        for (int i = 0; i < t; ++i)
          for (int j = 0; j <= i; ++j) wss[lower(i, j)] += d[i] * d[j];
      }
      ++ncells;
      if (s > 0) {
        class_sires.emplace_back(s, int(ce - c));
        sire_classes[size_t(s)].emplace_back(h, int(ce - c));
      }
      c = ce;
    }
  }
  cs_start[size_t(nh)] = int64_t(class_sires.size());

  if (nrec - nfixlv - g <= 0) fail("too few records: NREC - NFIXLV - NGROUP must be positive");
  // The starting error covariance must be positive definite: with too few
  // records within subclasses, pool within classes instead.
  if (ncells + t <= nrec) {
    for (auto& v : wss) v /= double(nrec - ncells);
  } else if (nfixlv + t <= nrec) {
    std::fprintf(stderr, "simulate: too few records within subclasses; WSSPK pooled within classes\n");
    for (int k = 0; k < ntrh; ++k) wss[size_t(k)] = ymy[size_t(k)] / double(nrec - nfixlv);
  } else {
    fail("too few records for a within-class covariance matrix");
  }

  Counts c;
  c.NFIXLV = nfixlv;
  c.NREC = int32_t(nrec);
  c.NDFDED = nfixlv + q;

  RecordFile f(o.out + "/pass.dat");
  f.i32(t), f.end();
  f.i32(q), f.end();
  f.i32(g), f.end();
  for (int i = 0; i < t; ++i) f.text(o.names[size_t(i)], 8);
  f.end();
  for (double v : rhs) f.f64(v);
  f.end();
  for (double v : wss) f.f64(v);
  for (double v : ymy) f.f64(v);
  f.i32(c.NFIXLV), f.i32(c.NREC), f.i32(c.NDFDED);
  f.end();

  // Columns of W. Each term n(h,m) n(h,s) / n(h) is formed from exact
  // integers with one division, and the classes are taken in ascending
  // order for every column, so W(s,m) and W(m,s) are the same number.
  std::vector<int> group(size_t(q) + 1);
  for (int n = 0; n < q; ++n) group[size_t(n) + 1] = tr.bulls[size_t(tr.file[size_t(n)])].group;
  std::vector<double> col(size_t(q) + 1, 0.0);
  std::vector<double> NW(size_t(q) * (g + 1), 0.0);  // W Q, with the base group as column g+1
  for (int m = 1; m <= q; ++m) {
    for (const auto& [h, nm] : sire_classes[size_t(m)]) {
      const int64_t n = start[size_t(h) + 1] - start[size_t(h)];
      for (int64_t k = cs_start[size_t(h)]; k < cs_start[size_t(h) + 1]; ++k) {
        const auto [s, ns] = class_sires[size_t(k)];
        if (s == m) col[size_t(m)] += double(int64_t(nm) * (n - nm)) / double(n);
        else col[size_t(s)] -= double(int64_t(nm) * ns) / double(n);
      }
    }
    double* nwk = &NW[size_t(group[size_t(m)] - 1) * q];
    for (int s = 1; s <= q; ++s) {
      f.f64(col[size_t(s)]);
      nwk[s - 1] += col[size_t(s)];
    }
    f.end();
    std::fill(col.begin(), col.end(), 0.0);
  }

  for (int n = 0; n < q; ++n) f.i32(tr.bulls[size_t(tr.file[size_t(n)])].id);
  for (int s = 1; s <= q; ++s) f.i32(group[size_t(s)]);
  f.end();
  for (size_t k = 0; k < size_t(q) * g; ++k) f.f64(NW[k]);
  f.end();

  // H = Q'WQ from N = WQ, formed on and below the diagonal and mirrored so
  // that it is exactly symmetric; BASEEN is the same sum for the base group.
  std::vector<double> H(size_t(g) * g, 0.0), grhs(size_t(g) * t, 0.0);
  double base = 0;
  for (int s = 1; s <= q; ++s) {
    const int k = group[size_t(s)];
    if (k == g + 1) {
      base += NW[size_t(g) * q + (s - 1)];
      continue;
    }
    for (int l = 1; l <= k; ++l) H[size_t(l - 1) * g + (k - 1)] += NW[size_t(l - 1) * q + (s - 1)];
    for (int j = 0; j < t; ++j) grhs[size_t(j) * g + (k - 1)] += rhs[size_t(j) * q + (s - 1)];
  }
  for (int k = 0; k < g; ++k)
    for (int l = k + 1; l < g; ++l) H[size_t(l) * g + k] = H[size_t(k) * g + l];
  for (double v : H) f.f64(v);
  for (double v : grhs) f.f64(v);
  f.f32(float(base));
  f.end();
  return c;
}
