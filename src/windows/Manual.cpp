#include "windows/Manual.h"

#include "settings/Settings.h"
#include "windows/MessageBoxes.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QSaveFile>
#include <QShortcut>
#include <QStandardPaths>
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
  if (!QDesktopServices::openUrl(SectionPage(url))) ShowWarning(parent, Q(kNoViewer) + path);
}

} // namespace

QUrl SectionPage(const QUrl& url) {
  if (!url.hasFragment()) return url;
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) return url;
  const QString target = url.toString(QUrl::FullyEncoded).toHtmlEscaped();
  QSaveFile page(folder + QStringLiteral("/qk-manual-section.html"));
  if (!page.open(QIODevice::WriteOnly)) return url;
  page.write(QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                            "<meta http-equiv=\"refresh\" content=\"0; url=%1\"><title>QK</title>"
                            "</head><body><a href=\"%1\">%1</a></body></html>\n")
                 .arg(target)
                 .toUtf8());
  if (!page.commit()) return url;
  return QUrl::fromLocalFile(page.fileName());
}

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
