// The simulator's own random numbers: xoshiro256** seeded through splitmix64,
// uniforms from the top 53 bits and normals by Box-Muller. Everything the
// simulator draws comes from here, so a seed gives the same analysis whatever
// the standard library's distributions do.
#pragma once

#include <cmath>
#include <cstdint>

inline uint64_t splitmix64(uint64_t& x) {
  uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

class Rng {
 public:
  // One stream per part of the simulation (pedigree, genetics, records), so
  // that a change in one part does not reshuffle the others.
  Rng(uint64_t seed, uint64_t stream) {
    uint64_t x = seed ^ (stream * 0xd1b54a32d192ed03ULL);
    for (auto& w : s_) w = splitmix64(x);
  }

  uint64_t next() {
    const uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }

  // Uniform on [0, 1).
  double uniform() { return double(next() >> 11) * 0x1.0p-53; }

  // Uniform integer in lo..hi (inclusive); lo <= hi.
  int64_t between(int64_t lo, int64_t hi) {
    return lo + int64_t(uniform() * double(hi - lo + 1));
  }

  bool chance(double p) { return uniform() < p; }

  // Standard normal; the second value of each Box-Muller pair is kept.
  double normal() {
    if (have_spare_) {
      have_spare_ = false;
      return spare_;
    }
    double u1 = 1.0 - uniform();  // in (0, 1]: the logarithm stays finite
    double u2 = uniform();
    double r = std::sqrt(-2.0 * std::log(u1));
    double a = 6.283185307179586 * u2;
    spare_ = r * std::sin(a);
    have_spare_ = true;
    return r * std::cos(a);
  }

 private:
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t s_[4];
  double spare_ = 0;
  bool have_spare_ = false;
};
