#include "windows/Manual.h"

#include "settings/Settings.h"
#include "windows/MessageBoxes.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QShortcut>
#include <QWidget>

namespace qk::windows {

namespace {

constexpr const char* kManualMissing = "マニュアルが見つかりません。\n";
constexpr const char* kNoViewer = "マニュアルを表示するプログラムが見つかりません。\n";

QString& ChosenFolder() {
  static QString folder;
  return folder;
}

void Open(QWidget* parent, const QUrl& url) {
  const QString path = url.toLocalFile();
  if (!QFileInfo::exists(path)) {
    ShowWarning(parent, Q(kManualMissing) + path);
    return;
  }
  if (!QDesktopServices::openUrl(url)) ShowWarning(parent, Q(kNoViewer) + path);
}

} // namespace

QString ManualFolder() {
  if (!ChosenFolder().isEmpty()) return ChosenFolder();
  const QString beside = Q(settings::ExecutableDir()) + "/manual";
  if (QFileInfo::exists(beside + "/" + kManualFile)) return beside;
#ifdef QK_SOURCE_MANUAL_DIR
  if (QFileInfo::exists(QStringLiteral(QK_SOURCE_MANUAL_DIR "/") + kManualFile)) {
    return QStringLiteral(QK_SOURCE_MANUAL_DIR);
  }
#endif
  return beside;
}

void SetManualFolder(const QString& folder) {
  ChosenFolder() = folder;
}

QUrl ManualUrl() {
  return QUrl::fromLocalFile(ManualFolder() + "/" + kManualFile);
}

QUrl WebSiteUrl() {
  QUrl url = ManualUrl();
  url.setFragment(kSupportFragment);
  return url;
}

void OpenManual(QWidget* parent) {
  Open(parent, ManualUrl());
}

void OpenManualAt(QWidget* parent, const QString& section) {
  QUrl url = ManualUrl();
  url.setFragment(section);
  Open(parent, url);
}

void AddManualKey(QWidget* window, std::function<QString()> section) {
  auto* key = new QShortcut(QKeySequence(Qt::Key_F1), window);
  key->setContext(Qt::WindowShortcut);
  QObject::connect(key, &QShortcut::activated, window,
                   [window, section = std::move(section)] { OpenManualAt(window, section()); });
}

void OpenWebSite(QWidget* parent) {
  Open(parent, WebSiteUrl());
}

} // namespace qk::windows
