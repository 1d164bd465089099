// The two in-place triangular products of the canonical sire transformation,
// each in its literal form and in a register-tiled form that gives the same
// bits. L is the q x q inverse factor in `linva` (column-major, leading
// dimension q); only its lower triangle is read. `a` is the q x q matrix
// (column-major, leading dimension q) overwritten with the product;
// `sirvec` is a work vector of q values.
#pragma once

// a := a L', row by row: element (i,k) becomes the sum over j = 1..k of
// L(k,j) a(i,j), summed from +0 in increasing j.
void mult_rows_linvt(double* a, const double* linva, double* sirvec, int q);
void mult_rows_linvt_tiled(double* a, const double* linva, double* sirvec, int q);

// a := L a, column by column: element (k,i) becomes the sum over j = 1..k of
// L(k,j) a(j,i), summed from +0 in increasing j.
void mult_cols_linv(double* a, const double* linva, double* sirvec, int q);
void mult_cols_linv_tiled(double* a, const double* linva, double* sirvec, int q);
