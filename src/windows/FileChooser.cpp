#include "windows/FileChooser.h"

#include "windows/MessageBoxes.h"

#include <QFileDialog>

namespace qk::windows {

namespace {

constexpr const char* kAllFilesFilter = "全てのファイル (*)";

FileChooser& Chooser() {
  static FileChooser chooser;
  return chooser;
}

} // namespace

void SetFileChooser(FileChooser chooser) {
  Chooser() = std::move(chooser);
}

QStringList ChooseFiles(QWidget* parent) {
  if (Chooser()) return Chooser()(parent);
  return QFileDialog::getOpenFileNames(parent, QString(), QString(), Q(kAllFilesFilter), nullptr,
                                       QFileDialog::DontResolveSymlinks);
}

} // namespace qk::windows
