// The block sizes of EIGVEC's fast loops. They change the speed only, never
// a bit of the results; the tests run every choice against eigvec_literal.
#pragma once

#include <cstddef>

struct EigvecTuning {
  int accumulate_vectors;    // accumulation block width in vectors of 8 columns, 1..4
  size_t rotation_capacity;  // QL rotations recorded before they are applied to z
};

// The sizes EIGVEC uses for order n.
EigvecTuning eigvec_tuning(int n);

// EIGVEC with the given sizes.
void eigvec_tuned(const EigvecTuning& tuning, int nm, int n, double* a, double* d, double* e, double* z);

// The three stages of eigvec_tuned in turn (1 <= n <= nm), apart for timing:
// the copy of a into z and the reduction to tridiagonal form; the
// accumulation of the transformations; the QL iterations and the sort, which
// returns the number of rotations it applied to each row of z.
void eigvec_stage_reduce(int nm, int n, double* a, double* d, double* e, double* z);
void eigvec_stage_accumulate(const EigvecTuning& tuning, int nm, int n, double* d, double* e, double* z);
size_t eigvec_stage_ql(const EigvecTuning& tuning, int nm, int n, double* d, double* e, double* z);
