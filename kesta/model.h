// The data model of kesta: its counts and its 37 arrays, sized once after the
// first three records of pass.dat and never released. Every phase works in
// place on these arrays under their names.
//
// Arrays are stored 0-based and column-major; the algorithms are 1-based and
// reach them through the views below (V for vectors, M for matrices).
#pragma once

#include <cstdint>
#include <vector>

// 1-based view of a vector.
struct V {
  double* p;
  double& operator()(int64_t i) const { return p[i - 1]; }
};

// 1-based column-major view of a matrix with leading dimension ld.
struct M {
  double* p;
  int64_t ld;
  double& operator()(int64_t i, int64_t j) const { return p[(j - 1) * ld + (i - 1)]; }
};

struct Model {
  // Counts (t = NTRAIT, q = NSIRE, g = NGROUP).
  int32_t NTRAIT = 0;  // number of traits t (record 1)
  int32_t NSIRE = 0;   // number of sires q (record 2)
  int32_t NGROUP = 0;  // genetic groups with an estimated effect (record 3); NGROUP+1 is the base group
  int32_t NTRH = 0;    // t(t+1)/2, packed t x t length
  int32_t NSIRH = 0;   // q(q+1)/2, packed A-inverse length
  int32_t NGRP1 = 0;   // NGROUP + 1, the base group's number
  int32_t NFIXLV = 0;  // fixed levels deducted for the residual df (record 6)
  int32_t NREC = 0;    // number of records in the analysis (record 6)
  int32_t NDFDED = 0;  // deducted from NREC for the error-variance SE (record 6)
  float BASEEN = 0;    // effective number of the base group (record 9+q)

  // Arrays, in their order of sizing.
  std::vector<double> LINVA;    // q x q: L^-1 of the A-inverse (moved from SIRMAT while W is read)
  std::vector<double> SIRMAT;   // q x q: L, L^-1; W; K; L^-1 K L^-T and its eigenvectors; W, K again
  std::vector<double> SIRVEC;   // max(q,t): column of W as read; EIGVEC work; A-inverse diagonal; reliability sums
  std::vector<double> SIREIG;   // q: eigenvalues of L^-1 K L^-T ascending; at the end effective numbers
  std::vector<double> RINVPK;   // NSIRH: A-inverse packed upper by rows, then U; final pass lower by rows
  std::vector<double> SIRRHS;   // q x t: sire right-hand sides; absorbed, transformed
  std::vector<double> RHSWRK;   // q x t: working right-hand sides; at the end the PTAs
  std::vector<double> SOLCAN;   // q x t: sire solutions on the canonical scale
  std::vector<double> RELIAB;   // q x t: solver work, then reliabilities
  std::vector<double> RESCOV;   // t x t: error covariance matrix R (not symmetric after the rounds)
  std::vector<double> SIRCOV;   // t x t: sire covariance matrix S
  std::vector<double> WRKT1;    // t x t: REML work
  std::vector<double> PHECOV;   // t x t: phenotypic covariance R + S
  std::vector<double> RATIOS;   // t: variance ratio of each canonical trait
  std::vector<double> WRKV1;    // t: solver accumulator
  std::vector<double> TRANSF;   // t x t: canonical trait transformation of the round, then its inverse
  std::vector<double> TRANSK;   // t x t: the last round's canonical transformation Q
  std::vector<double> LRINV;    // t x t: inverse Cholesky factor of R; then the sums M
  std::vector<double> WRKT2;    // t x t: REML work
  std::vector<double> WRKV2;    // t: multi-purpose vector
  std::vector<double> RESPK;    // NTRH: R packed upper by rows, then its factor
  std::vector<double> UUPK;     // NTRH: u'u of the canonical solutions, packed lower by rows
  std::vector<double> YMYPK;    // NTRH: sums of squares and products, packed lower by rows
  std::vector<double> WSSPK;    // NTRH: within-smallest-subclass covariances, packed lower by rows
  std::vector<double> TRACE2;   // t: per-trait sums of the standard errors
  std::vector<double> TRACE1;   // t: per canonical trait sum of 1/(ratio + eigenvalue)
  std::vector<double> GRPRHS;   // g x t: group right-hand sides
  std::vector<double> GRPSOL;   // g x t: group solutions
  std::vector<double> GRPEFN;   // g: diagonal of H before inversion
  std::vector<double> SIRGRP;   // q x g: sire-by-group block N
  std::vector<double> NHINV;    // q x g: N H^-1
  std::vector<double> GRPMAT;   // g x g: H, then H^-1
  std::vector<int32_t> SIREID;  // q: bull IDs of the sires
  std::vector<int32_t> SIREGR;  // q: group number of each sire
  std::vector<int32_t> TRNUM;   // t: trait numbers of the correlation header
  std::vector<char> TNAME;      // t x 8 characters: trait names
  std::vector<char> CELL12;     // t x 12 characters: cells of a correlation-file row
};

inline V vec(std::vector<double>& a) { return V{a.data()}; }
inline M mat(std::vector<double>& a, int64_t ld) { return M{a.data(), ld}; }
