// TOptionDlg: the options window. Its check boxes and naming choices mirror the settings model
// and write it as they change, each change running the same reaction whether the user clicked or
// the start-up loaded a stored value. It also holds the second wipe bin, the doors to the
// security dialog and the hash window, the clearing of the registered verification hash and
// hint, and the links to the manual and the support page.
//
// The dialog is not modal; the main window hides while it is open and shows again when it
// closes. It cannot be closed while the own extension, in use by the chosen naming, is invalid.
#pragma once

#include "settings/Settings.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;
class QFrame;
class QScrollArea;

namespace qk::windows {

class TDropWatch;
class TLinkLabel;
class TKTop;

// The longest own extension that can be typed, in system-code-page bytes.
inline constexpr std::size_t kOwnExtMaxBytes = 10;
inline constexpr const char* kStandardOwnExt = ".bmp";

// True when text holds none of the characters a file name cannot carry on the systems that
// exchange containers: \ / : , ; * ? " < > |
bool CheckAdaptForFileName(const QString& text);
// An own extension is usable when, with blanks and control characters removed at both ends, it
// is neither empty nor a lone ".", and the text as typed passes CheckAdaptForFileName. A leading
// dot is not required; inner blanks and several dots are fine.
bool IsValidOwnExtension(const QString& text);

class TOptionDlg : public QDialog {
  Q_OBJECT

public:
  // store: where the clear button writes at once.
  TOptionDlg(settings::SettingsModel& model, const settings::SettingsStore& store,
             QWidget* parent = nullptr);
  ~TOptionDlg() override;

  // Sets the controls from loaded, in the start-up order: the wipe boxes and the on-top box
  // (then MainTopChanged from that box), the other option boxes, the remembered hint of the model
  // (kept only while SaveHintCheckBox is checked), the naming choices with the own extension,
  // and NameMode. A box whose state changes runs its click reaction.
  void LoadOptions(const settings::SettingsModel& loaded);

  // Naming: NameMode follows the selected choice, and ExtChgEdit is usable with the own-extension
  // and random-name choices only.
  void UpdateNameMode();

  // Handlers.
  void IncSubFolderCheckBoxClick();
  void DoTopCheckBoxClick();
  void TextQKCheckBoxClick(bool checked);
  void HMACCheckBoxClick();
  void CloseBitBtnClick();
  void WipeSpeedButtonClick();
  void WipeDropWatchFilesDropped(TDropWatch& sender, int x, int y, const QStringList& files);
  void SecSetBitBtnClick();
  void ClrHashBitBtnClick();
  void Sha1BitBtnClick();
  void ManualLabelClick();
  void WebLabelClick();
  void FormPaint();

  // The controls, named as in the dialog's layout (also their object names).
  QCheckBox* IncSubFolderCheckBox = nullptr;
  QCheckBox* WipeSourceCheckBox = nullptr;
  QCheckBox* WipeDecSourceCheckBox = nullptr;
  QCheckBox* DoTopCheckBox = nullptr;
  QCheckBox* DontClearPassCheckBox = nullptr;
  QCheckBox* SaveHintCheckBox = nullptr;
  QCheckBox* UseReEncCheckBox = nullptr;
  QCheckBox* TopWipeCheckBox = nullptr;
  QCheckBox* TextQKCheckBox = nullptr;
  QCheckBox* AddHMACCheckBox = nullptr;
  QCheckBox* SkipNonHMACCheckBox = nullptr;
  QGroupBox* NameGroupBox = nullptr;
  QRadioButton* RadioButton1 = nullptr;
  QRadioButton* RadioButton2 = nullptr;
  QRadioButton* RadioButton3 = nullptr;
  QLineEdit* ExtChgEdit = nullptr;
  QGroupBox* WipeGroupBox = nullptr;
  QToolButton* WipeSpeedButton = nullptr;
  QFrame* Panel1 = nullptr;
  QPushButton* SecSetBitBtn = nullptr;
  QPushButton* ClrHashBitBtn = nullptr;
  QPushButton* Sha1BitBtn = nullptr;
  TLinkLabel* ManualLabel = nullptr;
  QLabel* IconImage = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* NameLabel = nullptr;
  QLabel* CreditLabel = nullptr;
  TLinkLabel* Label2 = nullptr;
  TLinkLabel* Label4 = nullptr;
  TLinkLabel* Label5 = nullptr;
  QPushButton* CloseBitBtn = nullptr;
  // Holds everything but the close button.
  QScrollArea* ContentScrollArea = nullptr;
  TDropWatch* WipeDropWatch = nullptr;
  TKTop* KTop1 = nullptr;

public slots:
  // The main window shows text captions on its targets (TEXTQKBTN in effect in this run).
  void SetTextButtons(bool on);
  // The main window's caption, shown as the program's name in the about area.
  void SetProgramName(const QString& name);

signals:
  // Files dropped on the wipe bin or chosen with its button, to be listed for wiping.
  void WipeRequested(const QStringList& paths);
  // The dialog has closed.
  void Closed();
  // IncSubFolderCheckBox: whether the main window's file collection walks subfolders.
  void RecurseChanged(bool on);
  // DoTopCheckBox: the main window's keep-on-top state.
  void MainTopChanged(bool on);
  void SecurityDialogRequested();
  void HashWindowRequested();
  // The registered verification hash and the remembered hint were cleared.
  void HintCleared();

protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void FitOnScreen();
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

private:
  void BuildControls();
  // The steps of BuildControls, in their order.
  void BuildSettings();
  void BuildNameGroup();
  void BuildWipeBin();
  void BuildToolsAndAbout();
  void LayOutColumns();
  void ConnectReactions();
  // Every mirrored setting from the controls into the model.
  void ControlsToModel();
  // The controls from the model, without reactions.
  void MirrorModel();
  // The extension check at closing; false keeps the dialog open.
  bool FormCloseQuery();

  settings::SettingsModel& model_;
  const settings::SettingsStore& store_;
  QString programName_;
  bool textButtons_ = false;
  bool mirroring_ = false;
  // The control that handed files to a list; it has the focus when the dialog shows again.
  QPointer<QWidget> opener_;
  // Shown by the program and not hidden since.
  bool onScreen_ = false;
};

} // namespace qk::windows
