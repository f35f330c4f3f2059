// THashForm: a small utility window that computes the SHA-1 value of a file the user picks and
// shows it as five groups of eight hexadecimal digits in an input box, ready to be copied.
#pragma once

#include "crypto/SecHash.h"

#include <QDialog>
#include <functional>

class QInputDialog;
class QLabel;
class QPushButton;

namespace qk::windows {
class TKTop;
}

namespace qk::windows {

class THashForm : public QDialog {
  Q_OBJECT

public:
  // Installs the busy cursor for every hash call of the program (the hourglass while a
  // TSecHash works); the destructor removes it again.
  explicit THashForm(QWidget* parent = nullptr);
  ~THashForm() override;

  // Hashes the file and shows the result box; a file that cannot be opened is reported in a
  // warning box instead, and the window stays as it was.
  void HashAndShow(const QString& path);

  // Runs in place of the result box's exec() when set, with the box filled and ready; tests
  // inspect it there.
  std::function<void(QInputDialog& box)> InputBoxHook;

  QPushButton* OpenButton = nullptr;
  QPushButton* CloseButton = nullptr;
  // The file whose value was shown last.
  QLabel* FileLabel = nullptr;
  crypto::TSecHash SecHash;
  TKTop* KTop1 = nullptr;

protected:
  void showEvent(QShowEvent* event) override;

private:
  // Shows the open-file dialog, then hashes the chosen file.
  void OpenButtonClick();
};

} // namespace qk::windows
