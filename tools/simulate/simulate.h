// The simulator of an analysis: a pedigree of bulls, their true transmitting
// abilities, their daughters' records in herd-year-season classes, and the
// sire equations that kesta reads, with the classes absorbed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Options {
  int bulls = 500;        // bulls of pedigree.dat, all of them sires of pass.dat
  int traits = 3;
  int groups = 2;         // genetic groups with an estimated effect (NGROUP)
  int hys = 0;            // herd-year-season classes; 0: one per 20 records
  double daughters = 50;  // mean daughters per bull
  double spread = 0.7;    // standard deviation of log(daughters)
  double herdmates = 0.25;
  double trend = 0.5;     // group effect per group step, in sire standard deviations
  double hys_sd = 0.7;    // SD of herd-year-season effects, in phenotypic SDs
  int first_year = 1975, last_year = 2005;
  double imported = 0.15;
  uint64_t seed = 1;
  std::string out = ".";
  std::vector<double> h2, rg, re, sd, mean;
  std::vector<std::string> names;
  std::string command;    // the command line, for truth.txt
};

// A bull: one of the pedigree, or an ancestor outside it.
struct Bull {
  int year = 0;
  bool in_file = false;
  char origin = 'D';      // the one-character field of pedigree.dat
  int32_t id = 0;
  int anc[3] = {-1, -1, -1};  // sire, MGS, MGGS: index into the bulls, -1 = unknown (0)
  int group = 0;          // 1..NGROUP+1
  int daughters = 0;
  std::vector<double> ta; // true transmitting abilities
};

struct Truth {
  int t = 0, q = 0, g = 0;
  std::vector<double> S0, R0;      // t x t, column-major: sire and error covariances
  std::vector<double> gamma;       // (g+1) x t, column-major: group effects, base group 0
  std::vector<Bull> bulls;         // every bull, in birth order
  std::vector<int> file;           // indices of the pedigree's bulls in pedigree.dat order
};

// One record: a daughter of sire `sire` (a position 1..q) or a herdmate
// whose sire is not in the analysis (sire 0).
struct Records {
  int t = 0;
  int classes = 0;
  std::vector<int> cls, sire;
  std::vector<double> y;           // record r, trait i at y[r*t + i]
};

// Counts written to record 6 of pass.dat.
struct Counts {
  int32_t NFIXLV = 0, NREC = 0, NDFDED = 0;
};

// Options from the command line; prints usage and exits on --help or an error.
Options parse_options(int argc, char** argv);
void build_truth(const Options& o, Truth& tr);
void simulate_records(const Options& o, Truth& tr, Records& rec);
Counts write_pass(const Options& o, const Truth& tr, const Records& rec);
void write_pedigree(const Options& o, const Truth& tr);
void write_truth(const Options& o, const Truth& tr, const Counts& c);
[[noreturn]] void fail(const std::string& why);
// Lower Cholesky factor of the t x t column-major matrix a; a stop naming
// `what` when the matrix is not positive definite.
std::vector<double> cholesky(const std::vector<double>& a, int t, const char* what);
