// THashForm: a small utility window that computes the SHA-1 value of a file the user picks and
// shows it as five groups of eight hexadecimal digits in an input box, ready to be copied. While a
// large file is hashed the window shows how far it got and keeps taking events; closing it ends
// the hash.
#pragma once

#include "crypto/SecHash.h"

#include <QDialog>
#include <QElapsedTimer>
#include <functional>

class QInputDialog;
class QLabel;
class QProgressBar;
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
  // warning box instead, and the window stays as it was. Closing the window meanwhile ends the
  // hash without a result.
  void HashAndShow(const QString& path);
  // A hash is going.
  bool Hashing() const { return hashing_; }

  // Runs in place of the result box's exec() when set, with the box filled and ready; tests
  // inspect it there.
  std::function<void(QInputDialog& box)> InputBoxHook;

  QPushButton* OpenButton = nullptr;
  QPushButton* CloseButton = nullptr;
  // The file whose value was shown last, or is being hashed.
  QLabel* FileLabel = nullptr;
  // How far the hash of a file has got, shown while it goes.
  QLabel* ProgressLabel = nullptr;
  QProgressBar* ProgressBar = nullptr;
  crypto::TSecHash SecHash;
  TKTop* KTop1 = nullptr;

  void done(int result) override;

protected:
  void showEvent(QShowEvent* event) override;

private:
  // Shows the open-file dialog, then hashes the chosen file.
  void OpenButtonClick();
  // The hash's progress shown, and the window's events run every few dozen milliseconds; false
  // once the window was closed.
  bool HashProgress(std::int64_t done, std::int64_t total);
  void ShowHashing(bool on);

  bool hashing_ = false;
  bool stop_ = false;
  QElapsedTimer pumpClock_;
};

} // namespace qk::windows
