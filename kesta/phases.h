// The phases of kesta, in the order its main program runs them. Each works in
// place on the data model; each lives in the file named after it.
#pragma once

#include "kesta/model.h"

// File numbers of kesta's files.
enum KestaFile { PASS = 10, ZCOEF = 11, PTA = 12, REL = 13, GENPHEN = 14, GENETIC = 15, ENVIRON = 16 };

// Analysis input (input.cpp).
void read_counts(Model& m);       // records 1-3, with the refusal of impossible counts
void size_model(Model& m);        // NTRH, NSIRH, NGRP1 and the 37 arrays
void read_trait_data(Model& m);   // records 4-6, the counts line and a blank line; refuses degrees
                                  // of freedom that are not positive or do not fit 32 bits
void read_sire_matrix(Model& m);  // records 7..6+q (L^-1 into LINVA, W into SIRMAT), then 7+q..9+q;
                                  // refuses a group number below 1
void reread_input(Model& m);      // final pass: rewind, records 1 to 6+q again; refuses changed counts

// Starting values and within-subclass report (start.cpp).
void starting_values(Model& m);

// A-inverse assembly (ainverse.cpp).
void ainverse_first(Model& m);   // upper triangle, count line, diagonal test, CHOLPK, L, INVRT
void ainverse_second(Model& m);  // final pass: lower triangle into RINVPK

// Group absorption and canonical sire transformation (absorb.cpp).
void absorb_groups(Model& m);        // K, y, YMYPK update, RHSWRK = L^-1 y
void canonical_transform(Model& m);  // L^-1 K L^-T, EIGVEC, E' L^-1 y, the six listing lines
void reabsorb_groups(Model& m);      // final pass: K and y again from the W and r read again

// REML rounds (reml.cpp); stops the run when S or R ends non-finite.
void reml_rounds(Model& m);

// Final estimates and standard errors (estimates.cpp).
void final_estimates(Model& m);

// Correlation tables and files (correlations.cpp); only with more than one trait.
void correlation_tables(Model& m);

// Final solution pass (finalpass.cpp): solver, PTAs, group solutions,
// sire.pta, then the reliabilities and sire.rel; stops the run before any
// of them is written when the solver's solutions are not finite.
void final_pass(Model& m);

// Sire solver (sirsol.cpp).
void SIRSOL(const double* K, const double* AP, const double* lambda, const double* Y, double* S,
            double* WK, double* DG, double* u, double* v, int n, int t);

// Reliabilities (reliab.cpp).
void RELAPX(const double* K, const double* AP, double* D, double* acc, const double* lambda,
            double* REL, int n, int t);
