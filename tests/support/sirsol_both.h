// The sire solver run in both forms, fast and literal, on one system.
#pragma once

#include <string>
#include <vector>

// Runs SIRSOL_literal and SIRSOL from the same start on the system (K n x n,
// AP packed lower by rows, t traits) and returns what differs between them:
// the listing text, or the first element of S, WK, DG, u or v whose bits
// differ (two NaNs count as equal). Empty when the two agree. Each line
// starts with prefix. Both write the listing, so the run must have been
// started (RUNSTART); standard output is taken to a scratch file meanwhile.
std::string sirsol_both_ways(const std::vector<double>& K, const std::vector<double>& AP,
                             const std::vector<double>& lambda, const std::vector<double>& Y,
                             const std::vector<double>& S0, int n, int t, const std::string& prefix = "");
