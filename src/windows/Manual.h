// The manual and the support page, opened in the desktop's browser: by F1 in every window (at the
// window's section) and by the links of the options dialog.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

namespace qk::windows {

// The manual in its folder.
inline constexpr const char* kManualFile = "index.html";
// The support page opened by the web-site labels: the manual's support section until there is a
// public home page.
inline constexpr const char* kSupportFragment = "support";

// The manual's folder: manual/ beside the executable (an installed copy, and the build tree,
// where the build copies it there); else the source tree's manual/ of the build the program
// comes from. Tests may name another folder; an empty one restores the search.
QString ManualFolder();
void SetManualFolder(const QString& folder);

QUrl ManualUrl();
// What the desktop is handed for url: url itself, or for one with a section (#options) a page in
// the user's own runtime folder that leads the browser there, since the desktop's opener of a
// local file (xdg-open) drops the section on the way. url when that page cannot be written.
QUrl SectionPage(const QUrl& url);
QUrl WebSiteUrl();
// Hands the address to the desktop (the default browser). When the manual is missing, or no
// program takes the address, a warning says so with the path.
void OpenManual(QWidget* parent);
// The manual at one of its sections (the id of a heading, "options", "password", ...).
void OpenManualAt(QWidget* parent, const QString& section);
// F1 in window opens the manual at the section section() names at that moment.
void AddManualKey(QWidget* window, std::function<QString()> section);
void OpenWebSite(QWidget* parent);

} // namespace qk::windows
