// TQKProgram puts the desktop program together: the settings, and the six windows created once in
// their order and kept until the end. The windows do not call each other; what one of them starts
// in another goes through a signal, and this is the one place where they are connected. The road
// of a list (files from the main window, the options dialog's wipe bin or the command line into
// the confirmation window) and the start-up work after the notices live here too.
#pragma once

#include "core/CommandLine.h"
#include "engine/Result.h"
#include "engine/RunState.h"
#include "platform/HandOver.h"
#include "settings/Settings.h"

#include <QObject>
#include <QStringList>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;
class QWidget;

namespace qk::windows {

class TMainForm;
class TConfirmationDlg;
class TOptionDlg;
class TPasswordDlg;
class TSecSetDlg;
class THashForm;

class TQKProgram : public QObject {
  Q_OBJECT

public:
  struct Setup {
    std::string IniPath;               // QK.ini
    std::vector<std::string> Args;     // the command line without the program name
    std::string StartDir;              // the folder the program was started in
    std::string ProgramDir;            // made the current directory; empty leaves it alone
    std::ostream* Report = &std::cerr; // where unattended runs say what they did
  };

  explicit TQKProgram(Setup setup);
  ~TQKProgram() override;
  TQKProgram(const TQKProgram&) = delete;
  TQKProgram& operator=(const TQKProgram&) = delete;

  settings::SettingsModel Model;
  settings::SettingsStore Store;
  // In the order of creation.
  std::unique_ptr<TMainForm> MainForm;
  std::unique_ptr<TConfirmationDlg> ConfirmationDlg;
  std::unique_ptr<TOptionDlg> OptionDlg;
  std::unique_ptr<TPasswordDlg> PasswordDlg;
  std::unique_ptr<TSecSetDlg> SecSetDlg;
  std::unique_ptr<THashForm> HashForm;

  // The confirmation list refilled with paths under mode and shown, returnForm (the window that
  // handed the paths over) shown again when the list closes. Nothing happens while a run goes.
  void ShowFiles(engine::OperationMode mode, const QStringList& paths, QWidget* returnForm);

  // The program's exit status: 1 when an unattended run ("-F", "-A") failed for any file, found
  // nothing to do or refused its password.
  int ExitStatus() const { return exitStatus_; }

  // Listens at path for later starts of the program, which hand their mode and paths over
  // (platform/HandOver.h). False when it cannot listen there.
  bool ListenForHandOver(const std::string& path);
  // Whether a start handed over now is taken: the start-up is done, no run goes, and no window
  // but the main window (which may be minimised) nor any dialog is open.
  bool TakesHandOver() const;

private:
  void Connect();
  // A logout or a kill (SIGTERM, SIGHUP) stops a run under way cleanly, then ends the program.
  void EndOnSignals();
  // The first start-up step after the notices: option settings, then the command line.
  void StartupWork();
  void LoadOptionSettings();
  void ProcessCommandLine();
  // Whether a run without questions may start: something to do, and a password the password
  // dialog would take. When not, the reason is on the report stream.
  bool UnattendedRunMayStart(core::StartAction action);
  // A run started from the command line has ended the program: an unattended one tells each
  // entry's result line and the closing text on the report stream.
  void RunEnded();
  void ReportLine(const std::string& text);
  void ReportReason(const std::optional<engine::FileResult>& result);

  // A start handed over: the main window comes to the front, and its paths are listed as if they
  // had been dropped on the target of its mode.
  void HandedOver(const platform::HandOverRequest& request);

  platform::HandOverServer handOver_;
  QSocketNotifier* handOverNotifier_ = nullptr;
  std::vector<std::string> args_;
  std::string startDir_;
  std::ostream* report_;
  int exitStatus_ = 0;
  int missing_ = 0;           // paths named for a run without questions that were not found
  bool singleOutput_ = false; // the run writes the one output that "-A" named
};

// A second copy of the program that may not run: says so on report when its command line asked
// for a run without questions, else in a box. Returns its exit status: 1 for such a run (which
// did nothing), else 0.
int RefuseSecondStart(const std::vector<std::string>& args, std::ostream& report);
// A second copy of the program: hands its mode and paths to the copy listening at socket when
// its command line allows (core::HandOverOf) and that copy takes them; refuses as
// RefuseSecondStart otherwise. Returns its exit status.
int SecondStart(const std::vector<std::string>& args, const std::string& startDir,
                const std::string& socket, std::ostream& report);

} // namespace qk::windows
