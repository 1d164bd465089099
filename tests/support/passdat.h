// Writes pass.dat files from arrays, for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PassData {
  int32_t t = 1, q = 1, g = 0;
  std::vector<std::string> names;  // t names (padded or cut to 8 characters)
  std::vector<double> rhs;         // q x t, column-major (all sires of trait 1 first)
  std::vector<double> wss;         // t(t+1)/2, packed lower by rows
  std::vector<double> ymy;         // t(t+1)/2, packed lower by rows
  int32_t nfixlv = 0, nrec = 0, ndfded = 0;
  std::vector<double> W;           // q x q, column-major
  std::vector<int32_t> id, gr;     // q each
  std::vector<double> N;           // q x g
  std::vector<double> H;           // g x g
  std::vector<double> grhs;        // g x t
  float baseen = 0;
};

// One sequential binary record: length, data, length.
std::string binrec(const std::string& data);
// The whole file, records 1 to 9+q.
std::string pass_bytes(const PassData& p);
// Little-endian raw bytes of values.
std::string raw(const int32_t* p, size_t n);
std::string raw(const double* p, size_t n);
std::string raw(const float* p, size_t n);
