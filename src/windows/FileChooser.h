// The file dialog of the encrypt, decrypt and wipe targets and of the wipe bin: several files,
// "全てのファイル (*)", links returned as themselves. Where folders may be listed too (encrypt
// and wipe), a button "フォルダを選択" takes the folders (or files) selected in the dialog, or
// the folder it shows when nothing is selected; the dialog's own button opens a folder as usual.
// The dialog is Qt's own rather than the desktop's, since a desktop dialog picks either files or
// folders, never both.
#pragma once

#include <QFileDialog>
#include <QStringList>
#include <functional>

class QPushButton;
class QWidget;

namespace qk::windows {

enum class ChooseWhat { Files, FilesAndFolders, OneFile };

// The dialog's caption for each target.
inline constexpr const char* kEncryptChooserCaption = "暗号化するファイル・フォルダを選択";
inline constexpr const char* kDecryptChooserCaption = "復号するファイルを選択";
inline constexpr const char* kWipeChooserCaption = "抹消するファイル・フォルダを選択";
inline constexpr const char* kHashChooserCaption = "SHA-1ハッシュを計算するファイルを選択";

// Returns the chosen paths, empty when cancelled. The dialog opens in ChooserFolder(), and a
// choice makes its folder the next one. Tests replace the dialog; an empty function restores the
// real one.
using FileChooser = std::function<QStringList(QWidget* parent)>;
void SetFileChooser(FileChooser chooser);
// caption says what the files are chosen for.
QStringList ChooseFiles(QWidget* parent, const QString& caption = {},
                        ChooseWhat what = ChooseWhat::Files);
// The folder of the last choice while it exists, else the home folder.
QString ChooserFolder();
// The folder of the last choice as it was noted (LASTFOLDER keeps it across starts), and the
// noting of one.
QString LastChosenFolder();
void SetLastChosenFolder(const QString& folder);

class TFileChooserDialog : public QFileDialog {
  Q_OBJECT

public:
  TFileChooserDialog(QWidget* parent, const QString& caption, ChooseWhat what);

  // What was chosen once the dialog has been accepted.
  QStringList Chosen() const;

  // "フォルダを選択"; null where only files are chosen.
  QPushButton* FolderButton = nullptr;

  // The folder button's action: the entries selected (or typed), else the folder shown. Entries
  // that are not there keep the dialog open.
  void FolderButtonClick();

private:
  QStringList chosen_;
};

} // namespace qk::windows
