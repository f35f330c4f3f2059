// The manual and the support page, opened in the desktop's browser: by F1 in the main window and
// by the links of the options dialog.
#pragma once

#include <QUrl>

namespace qk::windows {

// The manual beside the executable.
inline constexpr const char* kManualPath = "manual/index.html";
// The support page opened by the web-site labels: an absolute address, or a path relative to the
// executable's folder. Until there is a public home page it is the manual's support section.
inline constexpr const char* kWebSiteAddress = "manual/index.html#support";

QUrl ManualUrl();
QUrl WebSiteUrl();
// Hands the address to the desktop (the default browser); nothing is checked beforehand.
void OpenManual();
void OpenWebSite();

} // namespace qk::windows
