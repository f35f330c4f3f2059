// The windowing system the desktop program asks Qt for. Given both a Wayland and an X display, Qt
// takes Wayland. Qt 6.5.2 loses drops from other programs on Wayland (mended in 6.5.3); with it the
// program runs on X11 (XWayland) instead, so that files dropped from a file manager arrive. A
// platform the user chose stands.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qk::windows {

// The environment variables that decide it; an unset variable is empty.
struct DisplayEnvironment {
  std::string WaylandDisplay; // WAYLAND_DISPLAY
  std::string X11Display;     // DISPLAY
  std::string QtPlatform;     // QT_QPA_PLATFORM: the user's choice
};

// "xcb" when the program is to run on X11 although Qt would take Wayland, else empty (Qt's own
// choice). args is the command line without the program name ("-platform NAME" is the user's
// choice too); qtVersion is the version of the Qt the program runs with (qVersion()).
std::string PreferredPlatform(const DisplayEnvironment& environment,
                              const std::vector<std::string>& args, std::string_view qtVersion);

} // namespace qk::windows
