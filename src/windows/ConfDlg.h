// The confirmation window: the list of files for one operation with its question, the run over
// the list with a result per file, source wipes with their skip button, and re-encryption after a
// decryption run. The window holds no state of its own beyond presentation: the batch run keeps
// the list, the run state and the state of every control, and this window mirrors it whenever the
// run reports a change.
#pragma once

#include "engine/BatchRun.h"
#include "settings/Settings.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QKeyEvent;
class QLabel;
class QPushButton;
class QTableWidget;

namespace qk::windows {

class TKTop;

class TConfirmationDlg : public QDialog, public engine::BatchHost {
  Q_OBJECT

public:
  using PasswordAsker = std::function<std::optional<engine::BatchHost::PasswordAnswer>(bool)>;
  using PasswordClearer = std::function<void(bool password, bool hint)>;

  explicit TConfirmationDlg(settings::SettingsModel& model, QWidget* parent = nullptr);
  ~TConfirmationDlg() override;

  // The list, its mode and its run: callers clear the list, set the mode, add the files, show
  // this window and then call ShowList.
  engine::BatchRun& Run() { return run_; }
  const engine::BatchOptions& Options() const { return options_; }

  // The modal password dialog that a run opens, and the clearing of its fields afterwards.
  // Without an asker a run that needs a password does not start.
  void SetPasswordDialog(PasswordAsker ask, PasswordClearer clear);
  // The window that filled the list; it shows again when this window closes.
  void SetReturnForm(QWidget* form);

  // Files are being collected into the list: the window shows, takes no input, shows a busy
  // cursor and the running count, and keeps painting; the rows appear at the end, all at once.
  void BeginCollecting();
  // One more file was collected (count in all so far).
  void Collected(std::size_t count);
  void EndCollecting();

  // engine::EngineHost
  void ShowProgress(const std::string& text) override;
  void ProcessMessages() override;
  // engine::BatchHost
  bool Confirm(const std::string& text) override;
  std::optional<PasswordAnswer> AskPassword(bool forDecrypt) override;
  void ClearPasswordFields(bool password, bool hint) override;
  void Changed() override;
  void ShowReturnForm() override;
  void EndProgram() override;

signals:
  // A run with "-F" or "-I" has ended: the program closes.
  void EndProgramRequested();
  // A run started (true) or ended (false).
  void RunningChanged(bool running);

public slots:
  void OKBitBtnClick();
  void CloseBitBtnClick();
  void SkipWipeBitBtnClick();
  void ReEncBitBtnClick();

protected:
  // Returns true when the key was taken (the Delete key while the list is editable).
  bool ListViewKeyDown(QKeyEvent* event);
  void FormClose();

  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

private:
  struct MirroredRow {
    std::string Caption;
    std::string Sub1;
    std::string Sub2; // the output name shown (OutputName)
  };

  void BuildControls();
  void SyncOptions();
  void ApplyChanges();
  void ApplyPendingChanges();
  void MirrorRows();
  void MirrorSelection();
  void ShowReason(int row, const engine::ListEntry& entry);
  void ShowSelectedReason();
  void ShowWipeNote();
  // The captions of the columns, and which of them show.
  void ShowColumns();
  // What the output column shows for entry: the decrypted file, or the container an encryption
  // wrote.
  std::string OutputName(const engine::ListEntry& entry);
  // The columns share the width of the list: the hint column as wide as its hints need, up to a
  // quarter of it; the file names and the output names the rest, by what they need.
  void FitColumns();
  // FitColumns once the events of the moment have run (a list filled one file at a time).
  void QueueFitColumns();
  void ListViewSelectionChanged();
  void SetKeepOnTop(bool on);
  // The run is not going: the window may close.
  bool Idle() const;

  settings::SettingsModel& model_;
  engine::BatchOptions options_;
  engine::BatchRun run_;

  QTableWidget* ListView = nullptr;
  QLabel* WipeNoteLabel = nullptr;
  QLabel* Label1 = nullptr;
  QPushButton* OKBitBtn = nullptr;
  QPushButton* CloseBitBtn = nullptr;
  QPushButton* SkipWipeBitBtn = nullptr;
  QPushButton* ReEncBitBtn = nullptr;
  TKTop* KTop = nullptr;

  PasswordAsker askPassword_;
  PasswordClearer clearPassword_;
  QPointer<QWidget> returnForm_;

  std::vector<MirroredRow> rows_;
  int outputRows_ = 0; // rows whose output column shows a name
  std::string mirroredLabel1_;
  bool keepOnTop_ = false;
  bool closeWasLive_ = true;
  bool running_ = false;
  bool changesPending_ = false;
  bool mirroringSelection_ = false;
  bool closing_ = false;
  bool collecting_ = false;
  bool fitQueued_ = false;
  bool reasonShown_ = false; // Label1 shows the reason of the selected row
  // Paced event handling: while files are collected and while a run goes, the window paints and
  // takes input a few dozen times a second rather than once for every file.
  QElapsedTimer pumpClock_;
};

} // namespace qk::windows
