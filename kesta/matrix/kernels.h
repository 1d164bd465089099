// Dense matrix kernels of kesta. Double precision, column-major, 1-based in
// their algorithms; arrays belong to the caller. Failures write their message
// to the listing and stop the run (exit status 1).
#pragma once

// Cholesky factorisation A = U'U in place; ap is the packed upper triangle by
// rows (n(n+1)/2 values); npk is not read. No pivot is tested.
void CHOLPK(double* ap, int npk, int n);

// CHOLPK with its loops as the factorisation states them, row by row over the
// whole trailing triangle; the reference CHOLPK is held to bit for bit.
void cholpk_literal(double* ap, int n);

// CHOLPK with the rows taken in blocks of b (b >= 1); the same bits for every
// b. CHOLPK uses its own choice of b.
void cholpk_blocked(double* ap, int n, int b);

// Gauss-Jordan inversion in place of the leading n x n block of a (leading
// dimension ld), pivots in natural order, no exchanges.
void INVRT(double* a, int ld, int n);

// INVRT with its loops as the elimination states them, one pivot step over
// the whole matrix at a time; the reference INVRT is held to bit for bit.
void invrt_literal(double* a, int ld, int n);

// As INVRT, for the small t x t and g x g matrices: when the natural order
// meets a pivot below 1.0e-12, inverts a copy of the input again with partial
// pivoting. Results are bit-identical to INVRT whenever INVRT succeeds.
void INVRTP(double* a, int ld, int n);

// c (m x n) = op(a) op(b), inner dimension k; op transposes when its flag is 1.
void MATPRD(int m, int k, int n, double* c, const double* a, const double* b, int ta, int tb);

// Eigenvalues (ascending, into d) and orthonormal eigenvectors (columns of z)
// of the symmetric matrix a (lower triangle read); e is work; z may be a.
void EIGVEC(int nm, int n, double* a, double* d, double* e, double* z);

// EIGVEC with its loop nests as the procedure states them, each rotation
// applied to all of z at once; the reference EIGVEC is held to bit for bit.
void eigvec_literal(int nm, int n, double* a, double* d, double* e, double* z);
