#include "windows/FileChooser.h"

#include "windows/MessageBoxes.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace qk::windows {

namespace {

constexpr const char* kAllFilesFilter = "全てのファイル (*)";

FileChooser& Chooser() {
  static FileChooser chooser;
  return chooser;
}

QString& LastFolder() {
  static QString folder;
  return folder;
}

} // namespace

void SetFileChooser(FileChooser chooser) {
  Chooser() = std::move(chooser);
}

QStringList ChooseFiles(QWidget* parent, const QString& caption) {
  const QStringList files =
      Chooser()
          ? Chooser()(parent)
          : QFileDialog::getOpenFileNames(parent, caption, ChooserFolder(), Q(kAllFilesFilter),
                                          nullptr, QFileDialog::DontResolveSymlinks);
  if (!files.isEmpty()) LastFolder() = QFileInfo(files.front()).absolutePath();
  return files;
}

QString ChooserFolder() {
  if (!LastFolder().isEmpty() && QFileInfo(LastFolder()).isDir()) return LastFolder();
  return QDir::homePath();
}

} // namespace qk::windows
