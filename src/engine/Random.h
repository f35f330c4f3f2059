// The program-wide pseudo-random generator: random output names and the draws that decide when
// pending window events run. Nothing cryptographic depends on it.
#pragma once

#include <cstdint>
#include <random>

namespace qk::engine {

class Random {
public:
  // Seeded from the clock.
  Random();
  explicit Random(std::uint64_t seed) : gen_(seed) {}

  void Seed(std::uint64_t seed) { gen_.seed(seed); }
  // Uniform in 0..n-1; 0 when n <= 1.
  std::int32_t Below(std::int32_t n);

  // The one instance the program uses; tests may reseed it.
  static Random& Program();

private:
  std::mt19937_64 gen_;
};

} // namespace qk::engine
