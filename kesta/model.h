// The data model of kesta: its counts and its 37 arrays, sized once after the
// first three records of pass.dat and never released. Every phase works in
// place on these arrays under their names.
//
// Arrays are stored 0-based and column-major; the algorithms are 1-based and
// reach them through the views below (V for vectors, M for matrices).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

// Storage of the model's arrays: zeroed pages from calloc, with no element
// written at sizing, so that sizing costs nothing until an array is used and
// a pass.dat whose counts promise more than it holds fails at once, not after
// gigabytes have been cleared. Elements are zero only as first allocated:
// each array is sized once, and is never shrunk and grown again in place.
template <class T>
struct ZeroAlloc {
  using value_type = T;
  ZeroAlloc() = default;
  template <class U>
  ZeroAlloc(const ZeroAlloc<U>&) {}
  T* allocate(size_t n) {
    void* p = std::calloc(n ? n : 1, sizeof(T));
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t) { std::free(p); }
  template <class U>
  void construct(U*) {}  // value-initialisation: calloc has zeroed it
  template <class U, class... A>
  void construct(U* p, A&&... a) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
  }
  template <class U>
  bool operator==(const ZeroAlloc<U>&) const { return true; }
  template <class U>
  bool operator!=(const ZeroAlloc<U>&) const { return false; }
};
template <class T>
using Array = std::vector<T, ZeroAlloc<T>>;

// Sets every element of a to +0. The whole pages inside the array are handed
// back to the system instead of written (they read as zero afterwards, and
// cost no memory until they are written again), so clearing an array that is
// then filled sparsely, or whose values are no longer needed, lowers the
// program's peak memory. The bytes at either end are cleared by hand.
void clear_array(Array<double>& a);

// Asks the system to back the whole 2 MB stretches of the array with 2 MB
// pages (huge) or with ordinary pages only (!huge). The kernels walk the
// large arrays across their columns or packed rows, one page per column
// with ordinary pages, which costs an address translation miss on nearly
// every access; an array that is then filled sparsely is better on ordinary
// pages, where an untouched page costs no memory. A hint only: nothing
// changes where it is refused.
void page_size_hint(Array<double>& a, bool huge);

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
  Array<double> LINVA;    // q x q: L^-1 of the A-inverse (moved from SIRMAT while W is read)
  Array<double> SIRMAT;   // q x q: L, L^-1; W; K; L^-1 K L^-T and its eigenvectors; W, K again
  Array<double> SIRVEC;   // max(q,t): column of W as read; EIGVEC work; A-inverse diagonal; reliability sums
  Array<double> SIREIG;   // q: eigenvalues of L^-1 K L^-T ascending; at the end effective numbers
  Array<double> RINVPK;   // NSIRH: A-inverse packed upper by rows, then U; final pass lower by rows
  Array<double> SIRRHS;   // q x t: sire right-hand sides; absorbed, transformed
  Array<double> RHSWRK;   // q x t: working right-hand sides; at the end the PTAs
  Array<double> SOLCAN;   // q x t: sire solutions on the canonical scale
  Array<double> RELIAB;   // q x t: solver work, then reliabilities
  Array<double> RESCOV;   // t x t: error covariance matrix R (not symmetric after the rounds)
  Array<double> SIRCOV;   // t x t: sire covariance matrix S
  Array<double> WRKT1;    // t x t: REML work
  Array<double> PHECOV;   // t x t: phenotypic covariance R + S
  Array<double> RATIOS;   // t: variance ratio of each canonical trait
  Array<double> WRKV1;    // t: solver accumulator
  Array<double> TRANSF;   // t x t: canonical trait transformation of the round, then its inverse
  Array<double> TRANSK;   // t x t: the last round's canonical transformation Q
  Array<double> LRINV;    // t x t: inverse Cholesky factor of R; then the sums M
  Array<double> WRKT2;    // t x t: REML work
  Array<double> WRKV2;    // t: multi-purpose vector
  Array<double> RESPK;    // NTRH: R packed upper by rows, then its factor
  Array<double> UUPK;     // NTRH: u'u of the canonical solutions, packed lower by rows
  Array<double> YMYPK;    // NTRH: sums of squares and products, packed lower by rows
  Array<double> WSSPK;    // NTRH: within-smallest-subclass covariances, packed lower by rows
  Array<double> TRACE2;   // t: per-trait sums of the standard errors
  Array<double> TRACE1;   // t: per canonical trait sum of 1/(ratio + eigenvalue)
  Array<double> GRPRHS;   // g x t: group right-hand sides
  Array<double> GRPSOL;   // g x t: group solutions
  Array<double> GRPEFN;   // g: diagonal of H before inversion
  Array<double> SIRGRP;   // q x g: sire-by-group block N
  Array<double> NHINV;    // q x g: N H^-1
  Array<double> GRPMAT;   // g x g: H, then H^-1
  Array<int32_t> SIREID;  // q: bull IDs of the sires
  Array<int32_t> SIREGR;  // q: group number of each sire
  Array<int32_t> TRNUM;   // t: trait numbers of the correlation header
  Array<char> TNAME;      // t x 8 characters: trait names
  Array<char> CELL12;     // t x 12 characters: cells of a correlation-file row
};

inline V vec(Array<double>& a) { return V{a.data()}; }
inline M mat(Array<double>& a, int64_t ld) { return M{a.data(), ld}; }
// The name of trait i (1-based): its 8 characters as they stand.
inline std::string_view trait_name(const Model& m, int64_t i) {
  return std::string_view(m.TNAME.data() + (i - 1) * 8, 8);
}
