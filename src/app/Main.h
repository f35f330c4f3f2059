// TMainForm: the small window the user sees after start, with the encrypt and decrypt targets,
// the options button and, when TOPWIPE is on, the wipe bin. Files dropped on a target or chosen
// after a click on it fill the confirmation list under the target's mode; the window steps aside
// while the confirmation window or the options dialog is open, and closing it saves every setting
// and ends the program. When QK.ini cannot be written at that moment the user is told and the
// program ends all the same; the file keeps what it held before, since it is replaced whole.
//
// TQKProgram puts the program together: the settings, and the six windows created once in their
// order and kept until the end. The start-up work that needs the main window on screen (notices,
// option settings, command line) runs once, posted from the first showing of the main window;
// every showing re-applies the window's layout.
#pragma once

#include "app/FindFile.h"
#include "engine/RunState.h"
#include "settings/Settings.h"

#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QPushButton;

namespace qk::settings {
class TOptionDlg;
class TPasswordDlg;
class TSecSetDlg;
class THashForm;
} // namespace qk::settings

namespace qk::app {

class TConfirmationDlg;
class TDropWatch;
class TKTop;

inline constexpr const char* kMainCaption = "QK Ver5.0a";
inline constexpr int kMainClientWidth = 241;
inline constexpr int kMainClientHeight = 178;
inline constexpr int kWipeBitBtnHeight = 33;

// The manual beside the executable.
inline constexpr const char* kManualPath = "manual/index.html";
// The support page opened by the web-site labels: an absolute address, or a path relative to the
// executable's folder. Until there is a public home page it is the manual's support section.
inline constexpr const char* kWebSiteAddress = "manual/index.html#support";

QUrl ManualUrl();
QUrl WebSiteUrl();
// Hands the address to the desktop (the default browser); nothing is checked beforehand.
void OpenManual();
void OpenWebSite();

// The file dialog of the targets and of the wipe bin: several files, "全てのファイル (*)", links
// returned as themselves. Returns the chosen paths, empty when cancelled. Tests replace it; an
// empty function restores the real dialog.
using FileChooser = std::function<QStringList(QWidget* parent)>;
void SetFileChooser(FileChooser chooser);
QStringList ChooseFiles(QWidget* parent);

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

  // The windows this one works with, set once after all of them exist.
  void SetWindows(TConfirmationDlg* confirmation, settings::TOptionDlg* options,
                  settings::TSecSetDlg* secSetDlg);
  // The command line, processed by the first start-up step when it holds arguments; relative
  // paths are taken against startDir.
  void SetCommandLine(std::vector<std::string> args, std::string startDir);

  // Handlers.
  void EncBitBtnClick();
  void DecBitBtnClick();
  void WipeBitBtnClick();
  void OptionBitBtnClick();
  void EncriptDropWatchFilesDropped(TDropWatch& sender, int x, int y, const QStringList& files);
  void DecriptDropWatchFilesDropped(TDropWatch& sender, int x, int y, const QStringList& files);
  void WipeDropWatchFilesDropped(TDropWatch& sender, int x, int y, const QStringList& files);

  // Sets the confirmation list's mode, empties it and adds the paths in order: folders through
  // AddFolder, anything else as a file (a path that does not exist counts as an empty folder).
  void FillList(engine::OperationMode mode, const QStringList& paths);
  // The files of a folder (and of its subfolders while INCSUBFOLDER is on) into the list.
  void AddFolder(const std::string& path);

  // A batch is running in the confirmation window: the targets take no files and the window
  // does not close until it ends.
  bool RunInProgress() const;
  // The targets show text captions instead of pictures (TEXTQKBTN was on at start).
  bool TextButtons() const;
  // The first start-up step has run.
  bool StartupDone() const { return !firstShow_; }

  // TOPWIPE and TEXTQKBTN applied: the wipe bin and the window's height, text or picture targets.
  void LayoutStep();

  QPushButton* EncBitBtn = nullptr;
  QPushButton* DecBitBtn = nullptr;
  QPushButton* OptionBitBtn = nullptr;
  QPushButton* WipeBitBtn = nullptr;
  TDropWatch* EncriptDropWatch = nullptr;
  TDropWatch* DecriptDropWatch = nullptr;
  TDropWatch* WipeDropWatch = nullptr;
  TKTop* KTop = nullptr;
  TFindFile FindFile;

signals:
  // The main window has closed and saved the settings: the program ends.
  void ProgramEnded();

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void BuildControls();
  void FormCreate(const std::string& programDir);
  // The posted start-up step: once the notices, option settings and command line; every time
  // the layout.
  Q_INVOKABLE void StartupMessage();
  void LoadOptionSettings();
  // False when the command line ended the program.
  bool ProcessCommandLine();
  // Drop or file-dialog road: list filled, this window out of the way, the list shown.
  void TakeFiles(engine::OperationMode mode, const QStringList& paths);
  void ChooseAndTake(engine::OperationMode mode);
  bool FormKeyDown(int key);
  void FormClose();

  settings::SettingsModel& model_;
  const settings::SettingsStore& store_;
  TConfirmationDlg* confirmation_ = nullptr;
  settings::TOptionDlg* options_ = nullptr;
  settings::TSecSetDlg* secSetDlg_ = nullptr;
  std::vector<std::string> args_;
  std::string startDir_;
  bool firstShow_ = true;
  bool closed_ = false;
};

// The program: its settings and its six windows.
class TQKProgram {
public:
  struct Setup {
    std::string IniPath;           // QK.ini
    std::vector<std::string> Args; // the command line without the program name
    std::string StartDir;          // the folder the program was started in
    std::string ProgramDir;        // made the current directory; empty leaves it alone
  };

  explicit TQKProgram(Setup setup);
  ~TQKProgram();
  TQKProgram(const TQKProgram&) = delete;
  TQKProgram& operator=(const TQKProgram&) = delete;

  settings::SettingsModel Model;
  settings::SettingsStore Store;
  // In the order of creation.
  std::unique_ptr<TMainForm> MainForm;
  std::unique_ptr<TConfirmationDlg> ConfirmationDlg;
  std::unique_ptr<settings::TOptionDlg> OptionDlg;
  std::unique_ptr<settings::TPasswordDlg> PasswordDlg;
  std::unique_ptr<settings::TSecSetDlg> SecSetDlg;
  std::unique_ptr<settings::THashForm> HashForm;
};

} // namespace qk::app
