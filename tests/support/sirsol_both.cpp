#include "support/sirsol_both.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "kesta/phases.h"
#include "kesta/sirsol.h"

std::string sirsol_both_ways(const std::vector<double>& K, const std::vector<double>& AP,
                             const std::vector<double>& lambda, const std::vector<double>& Y,
                             const std::vector<double>& S0, int n, int t, const std::string& prefix) {
  struct Out {
    std::vector<double> S, WK, DG, u, v;
    std::string listing;
  } o[2];
  for (int fast = 0; fast < 2; ++fast) {
    Out& r = o[fast];
    r.S = S0;
    r.WK.assign(S0.size(), 7.0);
    r.DG.assign(n, 7.0);
    r.u.assign(t, 7.0);
    r.v.assign(t, 7.0);
    FILE* tmp = tmpfile();
    if (!tmp) return prefix + "no scratch file\n";
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(fileno(tmp), 1);
    (fast ? SIRSOL : SIRSOL_literal)(K.data(), AP.data(), lambda.data(), Y.data(), r.S.data(), r.WK.data(),
                                     r.DG.data(), r.u.data(), r.v.data(), n, t);
    dup2(saved, 1);
    close(saved);
    rewind(tmp);
    char b[4096];
    for (size_t k; (k = fread(b, 1, sizeof b, tmp)) > 0;) r.listing.append(b, k);
    fclose(tmp);
  }
  std::string text;
  if (o[0].listing != o[1].listing) text += prefix + " listing differs:\n" + o[0].listing + "---\n" + o[1].listing;
  const char* names[] = {"S", "WK", "DG", "u", "v"};
  const std::vector<double>* lit[] = {&o[0].S, &o[0].WK, &o[0].DG, &o[0].u, &o[0].v};
  const std::vector<double>* fst[] = {&o[1].S, &o[1].WK, &o[1].DG, &o[1].u, &o[1].v};
  for (int k = 0; k < 5; ++k)
    for (size_t i = 0; i < lit[k]->size(); ++i) {
      const double a = (*lit[k])[i], f = (*fst[k])[i];
      if ((std::isnan(a) && std::isnan(f)) || std::memcmp(&a, &f, sizeof a) == 0) continue;
      char b[160];
      snprintf(b, sizeof b, " %s: first difference at [%zu]: literal %a, fast %a\n", names[k], i, a, f);
      text += prefix + b;
      break;
    }
  return text;
}
