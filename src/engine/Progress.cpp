#include "engine/Progress.h"

#include <cmath>

namespace qk::engine {

std::string ProgressText(std::string_view word, std::int64_t done, std::int64_t total) {
  // Rounded to the nearest integer, halves to even (the default rounding mode).
  const double percent =
      std::nearbyint(static_cast<double>(done) / static_cast<double>(total) * 100.0);
  std::string text(word);
  text += std::to_string(done);
  text += '/';
  text += std::to_string(total);
  text += "バイト　";
  text += std::to_string(static_cast<long long>(percent));
  text += '%';
  return text;
}

bool ShouldPump(Random& random, std::int32_t processMsgInterval) {
  return processMsgInterval <= 1 || random.Below(processMsgInterval) == 0;
}

} // namespace qk::engine
