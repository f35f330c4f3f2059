// TPasswordDlg: the modal dialog in which the user types the password of an encryption or a
// decryption run, optionally a password hint, and chooses what to do with the password
// verification hash. It reads and registers the hash in the settings model; it writes nothing
// to QK.ini.
#pragma once

#include "engine/RunState.h"
#include "engine/TextCrypt.h"
#include "settings/Settings.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QFrame;

namespace qk::windows {
class TKTop;
}

namespace qk::windows {

class TPasswordDlg : public QDialog {
  Q_OBJECT

public:
  // model: PassHash, SecLevel, DontClearPassBox and SaveHint; state: the remembered hint.
  TPasswordDlg(settings::SettingsModel& model, engine::RunState& state, QWidget* parent = nullptr);
  ~TPasswordDlg() override;

  // Set by the caller before showing: false for an encryption run, true for a decryption run.
  bool ForDecrypt = false;

  // The results, read by the caller after exec() returned QDialog::Accepted.
  // The password as typed, as the one type that carries passwords to the key.
  platform::SecretText TypedPassword() const;
  QString Hint() const;
  // What the batch run empties afterwards: the two password fields and/or the hint field.
  void ClearFields(bool password, bool hint);

  // The controls, named as in the dialog's layout (also their object names).
  QLabel* Label1 = nullptr;
  QLineEdit* PassEdit = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* PassCEdit = nullptr;
  QLabel* Label3 = nullptr;
  QFrame* Panel1 = nullptr;
  QLabel* Label4 = nullptr;
  QLineEdit* HintEdit = nullptr;
  // Says that a hint longer than its limit was cut; shown only then.
  QLabel* HintNoteLabel = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QRadioButton* RadioButton1 = nullptr;
  QRadioButton* RadioButton2 = nullptr;
  QRadioButton* RadioButton3 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn2 = nullptr;
  TKTop* KTop1 = nullptr;

  // The OK button: the checks in order; the first failure warns and keeps the dialog open.
  void BitBtn1Click();
  // The cancel button: closes with QDialog::Rejected.
  void BitBtn2Click();

protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  bool HashRegistered() const;
  void FormShow();
  void FormPaint();
  void UpdateVerifyControls();
  std::string VerificationHash();

  settings::SettingsModel& model_;
  engine::RunState& state_;
  engine::TextCrypt textCrypt_;
};

} // namespace qk::windows
