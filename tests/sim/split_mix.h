#pragma once
// A small seeded generator (SplitMix64) of our own, so that a seed gives the same numbers in both
// builds; the library's distributions differ between standard libraries.
#include <cstdint>

namespace kestrava::sim {

class SplitMix {
 public:
  explicit SplitMix(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // In [0, n); n > 0.
  std::uint64_t Below(std::uint64_t n) { return Next() % n; }
  bool Chance(double p) { return static_cast<double>(Next() >> 11) * 0x1.0p-53 < p; }

 private:
  std::uint64_t state_;
};

}  // namespace kestrava::sim
