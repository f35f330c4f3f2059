// TMainForm: the small window the user sees after start, with the encrypt and decrypt targets,
// the options button and, when TOPWIPE is on, the wipe bin. Files dropped on a target or chosen
// after a click on it are handed on with the target's mode (FilesTaken) while this window steps
// aside; the options button hands on to the options dialog the same way. Closing the window saves
// every setting and ends the program. When QK.ini cannot be written at that moment the user is
// told and the program ends all the same; the file keeps what it held before, since it is
// replaced whole.
//
// The start-up work that needs the window on screen runs once, posted from its first showing: the
// notices here, then StartupWork for what the other windows do (option settings, command line);
// every showing re-applies the window's layout.
#pragma once

#include "Version.h"
#include "core/FindFile.h"
#include "engine/RunState.h"
#include "settings/Settings.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <string>

class QPushButton;

namespace qk::windows {

class TDropWatch;
class TKTop;

inline constexpr const char* kMainCaption = "QK Ver" QK_DISPLAY_VERSION;
inline constexpr int kMainClientWidth = 241;
inline constexpr int kMainClientHeight = 178;
inline constexpr int kWipeBitBtnHeight = 33;

// The two notices of the first start-up step.
QString PreReleaseNotice();
QString FirstRunNotice();

class TMainForm : public QWidget {
  Q_OBJECT

public:
  // Runs FormCreate: seeds the program's random generator, makes programDir the current
  // directory (when not empty), and loads position and program-wide values (L1) from store.
  TMainForm(settings::SettingsModel& model, const settings::SettingsStore& store,
            const std::string& programDir, QWidget* parent = nullptr);
  ~TMainForm() override;

  // Handlers.
  void EncBitBtnClick();
  void DecBitBtnClick();
  void WipeBitBtnClick();
  void OptionBitBtnClick();
  void EncriptDropWatchFilesDropped(TDropWatch& sender, int x, int y, const QStringList& files);
  void DecriptDropWatchFilesDropped(TDropWatch& sender, int x, int y, const QStringList& files);
  void WipeDropWatchFilesDropped(TDropWatch& sender, int x, int y, const QStringList& files);

  // The files of a folder (and of its subfolders while INCSUBFOLDER is on), and any mix of files
  // and folders, to addFile in order.
  void AddFolder(const std::string& path, const std::function<void(const std::string&)>& addFile);
  void AddPaths(const QStringList& paths, const std::function<void(const std::string&)>& addFile,
                const core::AddUnreadableEvent& addUnreadable = {});

  // A batch is running: the targets take no files and the window does not close until it ends.
  bool RunInProgress() const { return running_; }
  // The targets show text captions instead of pictures (TEXTQKBTN was on at start).
  bool TextButtons() const;
  // The first start-up step has run.
  bool StartupDone() const { return !firstShow_; }

  // TOPWIPE and TEXTQKBTN applied: the wipe bin and the window's height, text or picture targets.
  void LayoutStep();
  // Drop or file-dialog road (and a start handed over): this window out of the way, the paths
  // handed on.
  void TakeFiles(engine::OperationMode mode, const QStringList& paths);

  QPushButton* EncBitBtn = nullptr;
  QPushButton* DecBitBtn = nullptr;
  QPushButton* OptionBitBtn = nullptr;
  QPushButton* WipeBitBtn = nullptr;
  TDropWatch* EncriptDropWatch = nullptr;
  TDropWatch* DecriptDropWatch = nullptr;
  TDropWatch* WipeDropWatch = nullptr;
  TKTop* KTop = nullptr;
  core::TFindFile FindFile;

public slots:
  // A batch started or ended somewhere: while one runs the window takes no files.
  void SetRunning(bool running);
  // The main window's keep-on-top state (MAINTOP).
  void SetKeepOnTop(bool on);
  // Whether folders are collected with their subfolders (INCSUBFOLDER).
  void SetRecurse(bool on);

signals:
  // Paths dropped on a target or chosen in its file dialog; this window has stepped aside.
  void FilesTaken(qk::engine::OperationMode mode, const QStringList& paths);
  // The options button; this window has stepped aside.
  void OptionsRequested();
  // The first start-up step, after the notices: option settings and command line. The window
  // may be closed when it returns.
  void StartupWork();
  // The layout has been applied; textButtons: the targets show text captions.
  void LayoutApplied(bool textButtons);
  // The settings are about to be saved from the model.
  void AboutToSave();
  // The main window has closed and saved the settings: the program ends.
  void ProgramEnded();

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  // The control that opened the list now shown in the confirmation window, or the options.
  QPointer<QWidget> opener_;
  void BuildControls();
  void FormCreate(const std::string& programDir);
  // The posted start-up step: once the notices, option settings and command line; every time
  // the layout.
  Q_INVOKABLE void StartupMessage();
  void ChooseAndTake(engine::OperationMode mode);
  bool FormKeyDown(int key);
  void FormClose();

  settings::SettingsModel& model_;
  const settings::SettingsStore& store_;
  bool firstShow_ = true;
  bool closed_ = false;
  bool running_ = false;
};

} // namespace qk::windows
