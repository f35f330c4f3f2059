#include "windows/FileChooser.h"

#include "windows/MessageBoxes.h"
#include "windows/WindowSize.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

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

QStringList ChooseFiles(QWidget* parent, const QString& caption, ChooseWhat what) {
  QStringList files;
  if (Chooser()) {
    files = Chooser()(parent);
  } else {
    TFileChooserDialog dialog(parent, caption, what);
    if (dialog.exec() == QDialog::Accepted) files = dialog.Chosen();
  }
  if (!files.isEmpty()) LastFolder() = QFileInfo(files.front()).absolutePath();
  return files;
}

QString LastChosenFolder() {
  return LastFolder();
}

void SetLastChosenFolder(const QString& folder) {
  LastFolder() = folder;
}

QString ChooserFolder() {
  if (!LastFolder().isEmpty() && QFileInfo(LastFolder()).isDir()) return LastFolder();
  return QDir::homePath();
}

TFileChooserDialog::TFileChooserDialog(QWidget* parent, const QString& caption, ChooseWhat what)
    : QFileDialog(parent, caption, ChooserFolder(), Q(kAllFilesFilter)) {
  setObjectName(QStringLiteral("FileChooserDialog"));
  setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontResolveSymlinks);
  setFileMode(what == ChooseWhat::OneFile ? QFileDialog::ExistingFile : QFileDialog::ExistingFiles);
  setAcceptMode(QFileDialog::AcceptOpen);
  // Wide enough for the names, sizes and dates of the detailed view.
  if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
    resize(FitToScreen(QSize(780, 480), minimumSizeHint(), screen->availableGeometry()));
  if (what != ChooseWhat::FilesAndFolders) return;

  FolderButton = new QPushButton(Q("フォルダを選択"), this);
  FolderButton->setObjectName(QStringLiteral("FolderButton"));
  FolderButton->setToolTip(
      Q("一覧で選んだフォルダやファイルを選択します。何も選んでいないときは、開いているフォルダを"
        "選択します。"));
  FolderButton->setAutoDefault(false);
  if (auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))) {
    box->addButton(FolderButton, QDialogButtonBox::ActionRole);
  } else if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
    grid->addWidget(FolderButton, grid->rowCount(), 0, 1, grid->columnCount(), Qt::AlignRight);
  }
  connect(FolderButton, &QPushButton::clicked, this, &TFileChooserDialog::FolderButtonClick);
}

QStringList TFileChooserDialog::Chosen() const {
  return chosen_.isEmpty() ? selectedFiles() : chosen_;
}

void TFileChooserDialog::FolderButtonClick() {
  QStringList picked = selectedFiles();
  if (picked.isEmpty()) picked << directory().absolutePath();
  const bool allThere = std::all_of(picked.cbegin(), picked.cend(), [](const QString& path) {
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
  });
  if (!allThere) {
    QApplication::beep();
    return;
  }
  chosen_ = picked;
  // Past the file dialog's own acceptance, which would go into a chosen folder instead.
  QDialog::accept(); // NOLINT(bugprone-parent-virtual-call)
}

} // namespace qk::windows
