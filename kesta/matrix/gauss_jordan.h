// The parts of INVRT that its literal form and INVRTP share with it, so that
// all give the same bits wherever the natural pivot order succeeds.
#pragma once

// Pivots smaller than this in magnitude stop the inversion; the comparison is
// strict and a NaN pivot passes.
constexpr double INVRT_TINY = 1.0e-12;

// One Gauss-Jordan step at pivot k (1-based) on the leading n x n block of a
// (leading dimension ld): scales column k by 1/a(k,k) and eliminates row k
// from every other column, passing over exact zeros of row k.
void gauss_jordan_step(double* a, int ld, int n, int k);

// Write "0DIAGONAL ELEMENT = 0 ENCOUNTERED IN SUBR INVRT", or
// "0MATRIX DIMENSION LARGER THAN DECLARED", and stop the run.
[[noreturn]] void invrt_pivot_stop();
[[noreturn]] void invrt_dimension_stop();

// INVRT with the pivots taken in blocks of b (b >= 1); the same bits for
// every b. INVRT uses its own choice of b.
void invrt_blocked(double* a, int ld, int n, int b);
