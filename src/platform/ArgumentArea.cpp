#include "platform/ArgumentArea.h"

#include "platform/Hardening.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <string>
#include <strings.h>

namespace qk::platform {

namespace {

bool Hidden(const std::vector<int>& hidden, int index) {
  return std::find(hidden.begin(), hidden.end(), index) != hidden.end();
}

// Copies of the arguments that argv points at once its area is rewritten; never freed, as argv
// may be read until the process ends.
std::deque<std::string>& KeptArguments() {
  static std::deque<std::string> kept;
  return kept;
}

} // namespace

void HideArguments(int argc, char** argv, const std::vector<int>& hidden) {
  if (argc <= 0 || argv == nullptr || hidden.empty()) return;
  bool contiguous = true;
  for (int i = 0; i + 1 < argc; ++i) {
    if (argv[i] + std::strlen(argv[i]) + 1 != argv[i + 1]) contiguous = false;
  }
  if (!contiguous) {
    for (int i = 0; i < argc; ++i) {
      if (Hidden(hidden, i)) SecureZero(argv[i], std::strlen(argv[i]));
    }
    return;
  }
  char* const begin = argv[0];
  char* const end = argv[argc - 1] + std::strlen(argv[argc - 1]) + 1;
  std::deque<std::string>& kept = KeptArguments();
  const std::size_t first = kept.size();
  std::string title;
  for (int i = 0; i < argc; ++i) {
    kept.emplace_back(Hidden(hidden, i) ? std::string() : std::string(argv[i]));
    if (!Hidden(hidden, i)) {
      if (!title.empty()) title += ' ';
      title += argv[i];
    }
  }
  const auto size = static_cast<std::size_t>(end - begin);
  SecureZero(begin, size);
  // The other arguments take the area's size less the hidden ones' bytes (at least one) and the
  // blank before them, so the title, its NUL and at least one blank fit.
  std::memcpy(begin, title.data(), title.size());
  std::memset(begin + title.size() + 1, ' ', size - title.size() - 1);
  for (int i = 0; i < argc; ++i) argv[i] = kept[first + static_cast<std::size_t>(i)].data();
  // The C library's name of the program pointed into the area, which now holds the whole title:
  // it names the kept copy of the first argument instead.
  program_invocation_name = argv[0];
  char* const slash = std::strrchr(argv[0], '/');
  program_invocation_short_name = slash != nullptr ? slash + 1 : argv[0];
}

} // namespace qk::platform
