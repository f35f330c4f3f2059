// TSecSetDlg: the security level (1 to 4, the minimum password length for encryption) and the
// cipher used for encryption, each with its description. Both live in the settings model: the
// level changes as the slider moves, the algorithm as the list's selection changes.
#pragma once

#include "settings/Settings.h"

#include <QDialog>

class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSlider;

namespace qk::windows {
class TKTop;
}

namespace qk::windows {

class TSecSetDlg : public QDialog {
  Q_OBJECT

public:
  explicit TSecSetDlg(settings::SettingsModel& model, QWidget* parent = nullptr);
  ~TSecSetDlg() override;

  // The description texts: level 1 to 4 and algorithm index 0 to 2; empty outside.
  static QString LevelDescription(int level);
  static QString AlgorithmDescription(int index);

  // Brings the controls in line with the model: the slider to the level kept within 1 to 4
  // (the corrected level goes back into the model), the list to the algorithm (an unknown
  // number selects nothing and is stored as -1), and both descriptions. Runs when the dialog
  // is shown; the owner may call it after loading the settings.
  void LoadFromModel();

  // Closing in any way ends the dialog with QDialog::Accepted; there is no cancel.
  void reject() override;

  QGroupBox* GroupBox1 = nullptr; // security level
  QSlider* SecTrackBar = nullptr;
  QLabel* Label1 = nullptr; // "説明" of the level
  QPlainTextEdit* SecMemo = nullptr;
  QGroupBox* GroupBox2 = nullptr; // algorithm
  QComboBox* AlgoComboBox = nullptr;
  QLabel* Label2 = nullptr; // "説明" of the algorithm
  QPlainTextEdit* AlgoMemo = nullptr;
  QPushButton* BitBtn1 = nullptr;
  TKTop* KTop1 = nullptr;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void SecTrackBarChange(int position);
  void AlgoComboBoxChange(int index);
  void FormPaint();

  settings::SettingsModel& model_;
};

} // namespace qk::windows
