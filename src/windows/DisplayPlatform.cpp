#include "windows/DisplayPlatform.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace qk::windows {
namespace {

using Version = std::array<int, 3>;

// "6.5.2" as {6, 5, 2}; a missing part is 0, and anything that is not such a version is {0, 0, 0}.
Version ParseVersion(std::string_view text) {
  Version version{};
  const char* at = text.data();
  const char* end = text.data() + text.size();
  for (int& part : version) {
    const auto [next, error] = std::from_chars(at, end, part);
    if (error != std::errc()) return {};
    at = next;
    if (at == end) break;
    if (*at != '.') return {};
    ++at;
  }
  return version;
}

// The Qt versions whose Wayland drops are lost: the drag of another program never ends in a drop.
bool WaylandDropsLost(std::string_view qtVersion) {
  const Version version = ParseVersion(qtVersion);
  return version >= Version{6, 5, 2} && version < Version{6, 5, 3};
}

bool PlatformArgument(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(), [](const std::string& arg) {
    return arg == "-platform" || arg == "--platform";
  });
}

} // namespace

std::string PreferredPlatform(const DisplayEnvironment& environment,
                              const std::vector<std::string>& args, std::string_view qtVersion) {
  const bool chosen = !environment.QtPlatform.empty() || PlatformArgument(args);
  const bool both = !environment.WaylandDisplay.empty() && !environment.X11Display.empty();
  return !chosen && both && WaylandDropsLost(qtVersion) ? "xcb" : "";
}

} // namespace qk::windows
