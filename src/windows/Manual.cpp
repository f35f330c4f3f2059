#include "windows/Manual.h"

#include "settings/Settings.h"
#include "windows/MessageBoxes.h"

#include <QDesktopServices>

namespace qk::windows {

namespace {

// A path relative to the executable's folder, or an absolute address as it stands.
QUrl BesideExecutable(const char* address) {
  QUrl url(QString::fromUtf8(address));
  if (!url.isRelative()) return url;
  const QUrl folder = QUrl::fromLocalFile(Q(settings::ExecutableDir()) + "/");
  return folder.resolved(url);
}

} // namespace

QUrl ManualUrl() {
  return BesideExecutable(kManualPath);
}
QUrl WebSiteUrl() {
  return BesideExecutable(kWebSiteAddress);
}
void OpenManual() {
  QDesktopServices::openUrl(ManualUrl());
}
void OpenWebSite() {
  QDesktopServices::openUrl(WebSiteUrl());
}

} // namespace qk::windows
