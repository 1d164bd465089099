// The sire solver's plain loop nest, kept beside the fast SIRSOL (phases.h)
// with the same interface; a unit test holds the two equal bit for bit.
#pragma once

// Walks the whole packed A-inverse every round and sweeps K exactly as the
// algorithm reads; allocates nothing.
void SIRSOL_literal(const double* K, const double* AP, const double* lambda, const double* Y, double* S,
                    double* WK, double* DG, double* u, double* v, int n, int t);
