// The file dialog of the encrypt, decrypt and wipe targets and of the wipe bin: several files,
// "全てのファイル (*)", links returned as themselves.
#pragma once

#include <QStringList>
#include <functional>

class QWidget;

namespace qk::windows {

// Returns the chosen paths, empty when cancelled. The dialog opens in ChooserFolder(), and a
// choice makes its folder the next one. Tests replace the dialog; an empty function restores the
// real one.
using FileChooser = std::function<QStringList(QWidget* parent)>;
void SetFileChooser(FileChooser chooser);
// caption says what the files are chosen for.
QStringList ChooseFiles(QWidget* parent, const QString& caption = {});
// The folder of the last choice while it exists, else the home folder.
QString ChooserFolder();

} // namespace qk::windows
