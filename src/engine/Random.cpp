#include "engine/Random.h"

#include <chrono>

namespace qk::engine {

Random::Random()
    : gen_(static_cast<std::uint64_t>(
          std::chrono::high_resolution_clock::now().time_since_epoch().count())) {}

std::int32_t Random::Below(std::int32_t n) {
  if (n <= 1) return 0;
  std::uniform_int_distribution<std::int32_t> dist(0, n - 1);
  return dist(gen_);
}

Random& Random::Program() {
  static Random instance;
  return instance;
}

} // namespace qk::engine
