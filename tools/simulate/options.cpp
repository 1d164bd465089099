// Command-line options of the simulator and its usage text.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "simulate.h"

static const char* const USAGE = R"(usage: simulate [options]

Makes a simulated sire-model analysis for zelk and kesta, deterministic from
its seed: pedigree.dat, a matching pass.dat and truth.txt (the true values),
in the output directory.

Options (lists are comma-separated; a list of one value applies to all):
  --bulls Q        bulls in pedigree.dat, every one a sire with daughters in
                   pass.dat (default 500; 2..46340)
  --traits T       traits, every record holds all of them (default 3; 1..20)
  --groups G       genetic groups with an estimated effect, NGROUP (default 2)
  --hys H          herd-year-season classes (default 0: one per 20 records)
  --daughters D    mean daughters per bull (default 50)
  --spread S       standard deviation of log(daughters per bull) (default 0.7)
  --herdmates F    records of herdmates by sires outside the analysis, as a
                   fraction of the daughters' records (default 0.25)
  --h2 LIST        heritabilities, 0 < h2 < 1 (default 0.30,0.25,0.35,0.20,0.40
                   repeated)
  --rg LIST        genetic correlations, in the order (2,1), (3,1), (3,2),
                   (4,1), ... (default 0.5^|i-j|)
  --re LIST        correlations of the sire-model errors, same order
                   (default 0.3^|i-j|)
  --sd LIST        phenotypic standard deviations (default 1)
  --mean LIST      trait means (default 0)
  --names LIST     trait names, at most 8 characters (default TRAIT1, ...)
  --trend X        true effect of group k (k = 1..G): k * X sire standard
                   deviations; the base group's is 0 (default 0.5)
  --hys-sd X       standard deviation of the class effects, in phenotypic
                   standard deviations (default 0.7)
  --years Y1-Y2    birth years of the bulls (default 1975-2005; 11..2028)
  --imported F     fraction of bulls with import-series IDs (default 0.15)
  --seed N         seed (default 1)
  --out DIR        output directory, made when missing (default .)
  --help           this text

The model. The phenotype of trait i has variance P(i) = sd(i)^2; the sire
variance is S0(i,i) = h2(i) P(i) / 4 and the error variance R0(i,i) = P(i) -
S0(i,i), so that 4 S / (S + R), kesta's heritability, is h2; the covariances
follow from --rg and --re. A record of a daughter is mean + class effect + the
sire's true transmitting ability (TA) + an error with covariance R0. A bull's
TA is the effect of its genetic group plus its genetic deviation a =
1/2 a(sire) + 1/4 a(MGS) + 1/8 a(MGGS) + a Mendelian term with covariance
d S0, d = 1 - k1/4 - k2/16 - k3/64 (k1, k2, k3 = 1 when the sire, MGS, MGGS is
a bull of the pedigree, else 0), an ancestor outside the pedigree taking its
group's mean deviation, 0. This is the covariance whose inverse zelk's
coefficients hold, and the model kesta fits.

The pedigree. Bulls are born evenly over the years; their IDs are strictly
ascending in birth order with gaps of 2 to 20, and a fraction carry IDs of a
later import series, so that an ancestor can stand after its son in the file
(origin field 'I', otherwise 'D'). Sires are 5-12 years older than their sons,
MGS 8-18 and MGGS 12-25 years older; each is a bull of the file (85%, 75%,
60% when one of the right age exists), else half the time an older bull that
is not in the file (an ID of its own) and otherwise 0. Sire, MGS and MGGS are
distinct. Groups are birth cohorts of equal size: the oldest is the base
group G+1, the younger ones groups 1..G in order of age.

The records. Each bull's daughters number about D (log-normal with --spread,
at least 1) and come in herd batches of 1-4 daughters, each batch in one class
drawn at random with class sizes of unequal weight. Herdmates come in batches
too; every class that holds a daughter also gets at least one herdmate, which
keeps W positive definite (with --herdmates 0 W is only semi-definite: its
rows then sum to zero). A herdmate's record is mean + class effect + an error
with covariance R0, as the sire model has it.

pass.dat, records 1..9+q as kesta reads them. With M absorbing the classes
(deviation from the class mean), Z the daughter-by-sire incidence and Q the
sire-by-group incidence of groups 1..G: W = Z'MZ, r = Z'My, YMYPK = y'My;
WSSPK = the pooled covariance within class-by-sire subclasses (herdmates of a
class form one subclass), divided by NREC minus the number of subclasses
(pooled within classes instead when that leaves fewer than T);
NFIXLV = classes holding a record; NREC = records, herdmates included;
NDFDED = NFIXLV + q; sires in pedigree.dat order with their groups; N = WQ,
H = Q'WQ, GRPRHS = Q'r; BASEEN = the sum of W over the base group's sires.

truth.txt holds the options, the counts, S0, R0, the heritabilities and the
genetic, error, phenotypic and environmental correlations as kesta reports
them, the group effects, and one line per bull: ID, group, daughters, TAs.
)";

static void usage_and_exit(int status) {
  std::fputs(USAGE, status == 0 ? stdout : stderr);
  std::exit(status);
}

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "simulate: %s\n", why.c_str());
  std::exit(2);
}

static double to_real(const std::string& opt, const std::string& s) {
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (s.empty() || *end != '\0' || !std::isfinite(v)) fail(opt + ": not a number: '" + s + "'");
  return v;
}

static long long to_int(const std::string& opt, const std::string& s) {
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || errno == ERANGE) fail(opt + ": not an integer: '" + s + "'");
  return v;
}

// A count option: a whole number that an int holds (the limits of each
// option are checked later, on the value itself).
static int to_count(const std::string& opt, const std::string& s) {
  long long v = to_int(opt, s);
  if (v < INT_MIN || v > INT_MAX) fail(opt + ": out of range: '" + s + "'");
  return int(v);
}

static std::vector<std::string> split(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream in(s);
  std::string item;
  while (std::getline(in, item, ',')) out.push_back(item);
  if (!s.empty() && s.back() == ',') out.push_back("");
  return out;
}

static std::vector<double> reals(const std::string& opt, const std::string& s) {
  std::vector<double> v;
  for (const auto& x : split(s)) v.push_back(to_real(opt, x));
  return v;
}

// A list of one value stands for n copies of it.
static void widen(const char* opt, std::vector<double>& v, size_t n) {
  if (v.size() == 1) v.assign(n, v[0]);
  if (v.size() != n)
    fail(std::string(opt) + ": " + std::to_string(v.size()) + " values given, " +
         std::to_string(n) + " needed");
}

Options parse_options(int argc, char** argv) {
  Options o;
  o.command = "simulate";
  for (int a = 1; a < argc; ++a) o.command += std::string(" ") + argv[a];
  bool have_rg = false, have_re = false;
  for (int a = 1; a < argc; ++a) {
    std::string opt = argv[a];
    if (opt == "--help" || opt == "-h") usage_and_exit(0);
    if (opt.rfind("--", 0) != 0) fail("unknown argument '" + opt + "' (see --help)");
    std::string val;
    size_t eq = opt.find('=');
    if (eq != std::string::npos) {
      val = opt.substr(eq + 1);
      opt = opt.substr(0, eq);
    } else {
      if (a + 1 >= argc) fail(opt + " needs a value");
      val = argv[++a];
    }
    if (opt == "--bulls") o.bulls = to_count(opt, val);
    else if (opt == "--traits") o.traits = to_count(opt, val);
    else if (opt == "--groups") o.groups = to_count(opt, val);
    else if (opt == "--hys") o.hys = to_count(opt, val);
    else if (opt == "--daughters") o.daughters = to_real(opt, val);
    else if (opt == "--spread") o.spread = to_real(opt, val);
    else if (opt == "--herdmates") o.herdmates = to_real(opt, val);
    else if (opt == "--h2") o.h2 = reals(opt, val);
    else if (opt == "--rg") o.rg = reals(opt, val), have_rg = true;
    else if (opt == "--re") o.re = reals(opt, val), have_re = true;
    else if (opt == "--sd") o.sd = reals(opt, val);
    else if (opt == "--mean") o.mean = reals(opt, val);
    else if (opt == "--names") o.names = split(val);
    else if (opt == "--trend") o.trend = to_real(opt, val);
    else if (opt == "--hys-sd") o.hys_sd = to_real(opt, val);
    else if (opt == "--imported") o.imported = to_real(opt, val);
    else if (opt == "--seed") o.seed = uint64_t(to_int(opt, val));
    else if (opt == "--out") o.out = val;
    else if (opt == "--years") {
      size_t dash = val.find('-');
      if (dash == std::string::npos) fail("--years: expected Y1-Y2");
      o.first_year = to_count(opt, val.substr(0, dash));
      o.last_year = to_count(opt, val.substr(dash + 1));
    } else {
      fail("unknown option '" + opt + "' (see --help)");
    }
  }

  // Limits of the two programs: kesta forms q(q+1) in 32 bits, keeps its
  // per-trait reliability sums in a vector of q and lists at most 20 traits
  // in its within-subclass block; zelk needs years 10..2028 and the year
  // ten before a bull's birth for an unknown MGGS.
  const int t = o.traits;
  if (o.bulls < 2 || o.bulls > 46340) fail("--bulls must lie in 2..46340");
  if (t < 1 || t > 20) fail("--traits must lie in 1..20");
  if (t > o.bulls) fail("--traits must not exceed --bulls");
  if (o.groups < 0 || o.groups >= o.bulls) fail("--groups must lie in 0..bulls-1");
  if (o.hys < 0) fail("--hys must not be negative");
  if (!(o.daughters >= 1)) fail("--daughters must be at least 1");
  if (!(o.spread >= 0)) fail("--spread must not be negative");
  if (!(o.herdmates >= 0)) fail("--herdmates must not be negative");
  if (!(o.hys_sd >= 0)) fail("--hys-sd must not be negative");
  if (!(o.imported >= 0 && o.imported <= 1)) fail("--imported must lie in 0..1");
  if (o.first_year < 11 || o.last_year > 2028 || o.first_year > o.last_year)
    fail("--years must lie within 11-2028, first year first");

  if (o.h2.empty()) {
    const double cycle[] = {0.30, 0.25, 0.35, 0.20, 0.40};
    for (int i = 0; i < t; ++i) o.h2.push_back(cycle[i % 5]);
  }
  widen("--h2", o.h2, size_t(t));
  for (double h : o.h2)
    if (!(h > 0 && h < 1)) fail("--h2: every heritability must lie strictly between 0 and 1");
  const size_t pairs = size_t(t) * size_t(t - 1) / 2;
  auto ar1 = [&](std::vector<double>& v, double rho) {
    v.clear();
    for (int i = 2; i <= t; ++i)
      for (int j = 1; j < i; ++j) v.push_back(std::pow(rho, i - j));
  };
  if (!have_rg) ar1(o.rg, 0.5);
  if (!have_re) ar1(o.re, 0.3);
  if (pairs == 0) {
    if (o.rg.size() > 1 || o.re.size() > 1) fail("--rg/--re: one trait has no correlations");
    o.rg.clear();
    o.re.clear();
  } else {
    widen("--rg", o.rg, pairs);
    widen("--re", o.re, pairs);
  }
  for (double r : o.rg)
    if (!(r > -1 && r < 1)) fail("--rg: correlations must lie strictly between -1 and 1");
  for (double r : o.re)
    if (!(r > -1 && r < 1)) fail("--re: correlations must lie strictly between -1 and 1");
  if (o.sd.empty()) o.sd = {1.0};
  widen("--sd", o.sd, size_t(t));
  for (double s : o.sd)
    if (!(s > 0)) fail("--sd: standard deviations must be positive");
  if (o.mean.empty()) o.mean = {0.0};
  widen("--mean", o.mean, size_t(t));
  if (o.names.empty())
    for (int i = 1; i <= t; ++i) o.names.push_back("TRAIT" + std::to_string(i));
  if (o.names.size() != size_t(t)) fail("--names: one name per trait needed");
  for (const auto& n : o.names)
    if (n.size() > 8) fail("--names: '" + n + "' is longer than 8 characters");
  return o;
}
