#include "windows/Program.h"

#include "core/CommandLine.h"
#include "engine/PasswordRules.h"
#include "platform/VisibleText.h"
#include "windows/ConfDlg.h"
#include "windows/FileChooser.h"
#include "windows/FocusStyle.h"
#include "windows/Hash.h"
#include "windows/Main.h"
#include "windows/MessageBoxes.h"
#include "windows/OptDlg.h"
#include "windows/PassDlg.h"
#include "windows/SecDlg.h"
#include "windows/WindowSize.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace qk::windows {

namespace {

// The write end takes a byte for each SIGTERM or SIGHUP; the event loop reads the other.
int endPipe[2] = {-1, -1};

extern "C" void OnEndSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(endPipe[1], &byte, 1);
}

} // namespace

TQKProgram::TQKProgram(Setup setup)
    : Store(std::move(setup.IniPath)), args_(std::move(setup.Args)),
      startDir_(std::move(setup.StartDir)), report_(setup.Report) {
  InstallFocusStyle();
  MainForm = std::make_unique<TMainForm>(Model, Store, setup.ProgramDir);
  ConfirmationDlg = std::make_unique<TConfirmationDlg>(Model);
  // The list comes back at the size the user left it at.
  new TSizeKeeper(ConfirmationDlg.get(), Model.ListWidth, Model.ListHeight);
  OptionDlg = std::make_unique<TOptionDlg>(Model, Store);
  PasswordDlg = std::make_unique<TPasswordDlg>(Model, ConfirmationDlg->Run().State());
  SecSetDlg = std::make_unique<TSecSetDlg>(Model);
  HashForm = std::make_unique<THashForm>();
  // The file dialogs open where the last choice was made, also in an earlier run.
  SetLastChosenFolder(Q(Model.LastFolder));
  Connect();
  EndOnSignals();
}

void TQKProgram::EndOnSignals() {
  if (endPipe[0] < 0 && ::pipe2(endPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(endPipe[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this] {
    char byte = 0;
    while (::read(endPipe[0], &byte, 1) > 0) {
    }
    // A run under way stops cleanly first (its events run while it works); the program ends
    // once it has.
    ConfirmationDlg->Run().Stop();
    auto* wait = new QTimer(this);
    wait->setInterval(50);
    connect(wait, &QTimer::timeout, this, [this, wait] {
      if (ConfirmationDlg->Run().Running()) return;
      wait->stop();
      QApplication::quit();
    });
    wait->start();
  });
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

TQKProgram::~TQKProgram() {
  // The dialogs go before the windows that ask for them.
  ConfirmationDlg->SetPasswordDialog(nullptr, nullptr);
  disconnect();
}

void TQKProgram::Connect() {
  TMainForm* main = MainForm.get();
  TConfirmationDlg* confirmation = ConfirmationDlg.get();
  TOptionDlg* options = OptionDlg.get();

  // The start-up step and the end of the program.
  connect(main, &TMainForm::StartupWork, this, &TQKProgram::StartupWork);
  connect(main, &TMainForm::AboutToSave, this, [this] {
    Model.PasswordHint = ConfirmationDlg->Run().State().PasswordHint;
    Model.LastFolder = S(LastChosenFolder());
  });
  connect(confirmation, &TConfirmationDlg::EndProgramRequested, this, &TQKProgram::RunEnded);

  // Lists: from the targets of the main window and from the wipe bin of the options dialog.
  connect(main, &TMainForm::FilesTaken, this,
          [this](engine::OperationMode mode, const QStringList& paths) {
            ShowFiles(mode, paths, MainForm.get());
          });
  connect(options, &TOptionDlg::WipeRequested, this, [this](const QStringList& paths) {
    if (MainForm->RunInProgress()) return;
    OptionDlg->hide();
    ShowFiles(engine::OperationMode::Wipe, paths, OptionDlg.get());
  });
  connect(confirmation, &TConfirmationDlg::RunningChanged, main, &TMainForm::SetRunning);

  // The options dialog and the windows it opens.
  connect(main, &TMainForm::OptionsRequested, options, [options] {
    options->show();
    options->raise();
    options->activateWindow();
  });
  connect(options, &TOptionDlg::Closed, main, &QWidget::show);
  connect(options, &TOptionDlg::MainTopChanged, main, &TMainForm::SetKeepOnTop);
  connect(options, &TOptionDlg::RecurseChanged, main, &TMainForm::SetRecurse);
  connect(main, &TMainForm::LayoutApplied, options, &TOptionDlg::SetTextButtons);
  connect(main, &QWidget::windowTitleChanged, options, &TOptionDlg::SetProgramName);
  options->SetProgramName(main->windowTitle());
  connect(options, &TOptionDlg::SecurityDialogRequested, this, [this] { SecSetDlg->exec(); });
  connect(options, &TOptionDlg::HashWindowRequested, this, [this] { HashForm->exec(); });
  connect(options, &TOptionDlg::HintCleared, this,
          [this] { ConfirmationDlg->Run().State().PasswordHint.clear(); });

  // The password dialog of a run.
  TPasswordDlg* password = PasswordDlg.get();
  confirmation->SetPasswordDialog(
      [password](bool forDecrypt) -> std::optional<engine::BatchHost::PasswordAnswer> {
        password->ForDecrypt = forDecrypt;
        if (password->exec() != QDialog::Accepted) return std::nullopt;
        return engine::BatchHost::PasswordAnswer{password->TypedPassword(), S(password->Hint())};
      },
      [password](bool passwordFields, bool hint) { password->ClearFields(passwordFields, hint); });
}

bool TQKProgram::ListenForHandOver(const std::string& path) {
  if (handOverNotifier_ || !handOver_.Listen(path)) return false;
  handOverNotifier_ = new QSocketNotifier(handOver_.Descriptor(), QSocketNotifier::Read, this);
  connect(handOverNotifier_, &QSocketNotifier::activated, this, [this] {
    handOver_.TakeOne([this](const platform::HandOverRequest& request) {
      if (!TakesHandOver()) return false;
      // Listed once the start that handed them over has its answer.
      QMetaObject::invokeMethod(
          this, [this, request] { HandedOver(request); }, Qt::QueuedConnection);
      return true;
    });
  });
  return true;
}

bool TQKProgram::TakesHandOver() const {
  if (!MainForm->StartupDone() || MainForm->RunInProgress() || !MainForm->isVisible() ||
      QApplication::activeModalWidget() != nullptr)
    return false;
  for (const QWidget* window :
       std::initializer_list<const QWidget*>{ConfirmationDlg.get(), OptionDlg.get(),
                                             PasswordDlg.get(), SecSetDlg.get(), HashForm.get()}) {
    if (window->isVisible()) return false;
  }
  return true;
}

void TQKProgram::HandedOver(const platform::HandOverRequest& request) {
  TMainForm* main = MainForm.get();
  main->setWindowState(main->windowState() & ~Qt::WindowMinimized);
  main->show();
  main->raise();
  main->activateWindow();
  if (request.paths.empty() || !TakesHandOver()) return;
  QStringList paths;
  for (const std::string& path : request.paths) paths << Q(path);
  const engine::OperationMode mode = request.mode == 'D'   ? engine::OperationMode::Decrypt
                                     : request.mode == 'W' ? engine::OperationMode::Wipe
                                                           : engine::OperationMode::Encrypt;
  main->TakeFiles(mode, paths);
}

void TQKProgram::ShowFiles(engine::OperationMode mode, const QStringList& paths,
                           QWidget* returnForm) {
  if (MainForm->RunInProgress()) return;
  engine::BatchRun& run = ConfirmationDlg->Run();
  run.State().Mode = mode;
  run.ClearList();
  ConfirmationDlg->SetReturnForm(returnForm);
  TConfirmationDlg* confirmation = ConfirmationDlg.get();
  confirmation->BeginCollecting();
  MainForm->AddPaths(
      paths,
      [&run, confirmation](const std::string& file) {
        run.AddFile(file);
        confirmation->Collected(std::as_const(run).Entries().size());
      },
      [&run](const std::string& folder, int error) { run.AddUnreadableFolder(folder, error); });
  confirmation->EndCollecting();
  run.ShowList();
}

void TQKProgram::StartupWork() {
  LoadOptionSettings();
  if (!args_.empty()) ProcessCommandLine();
}

void TQKProgram::LoadOptionSettings() {
  settings::SettingsModel loaded = Model;
  Store.LoadL2(loaded);
  OptionDlg->LoadOptions(loaded);
  ConfirmationDlg->Run().State().PasswordHint = Model.PasswordHint;
  Model.Algorithm = loaded.Algorithm;
  SecSetDlg->LoadFromModel();
}

void TQKProgram::ProcessCommandLine() {
  engine::BatchRun& run = ConfirmationDlg->Run();
  engine::RunState& state = run.State();
  MainForm->FindFile.Recurse = Model.Recurse;
  std::vector<std::string> missing;
  std::optional<core::Refusal> refusal;
  const core::StartAction action =
      core::ParseCommandLine(args_, startDir_, run, MainForm->FindFile, &missing, &refusal);
  const bool askedUnattended = core::AsksForUnattendedRun(args_);
  // The password now lives in the run's state only.
  core::ClearPasswordArguments(args_);
  args_.clear();

  // A command line that a planted word could have changed: nothing runs, whatever the rest asks
  // for. The refusal is told where the run would have told its results.
  if (refusal) {
    if (askedUnattended) {
      ReportLine(core::RefusalLine(*refusal));
      exitStatus_ = 1;
      MainForm->close();
      return;
    }
    ShowWarning(MainForm.get(), QString::fromUtf8(core::RefusalWarning(
                                    *refusal, ShownText(refusal->word).toStdString())));
    return;
  }

  // A run without questions ends in every case, and says on the report stream why it did
  // nothing; it takes no password that the password dialog would refuse.
  const bool single =
      action == core::StartAction::SingleOutput || action == core::StartAction::Close;
  if (single || state.AutoRun) {
    for (const std::string& path : missing) ReportLine("qk: not found: " + path);
    missing_ = static_cast<int>(missing.size());
    if (!UnattendedRunMayStart(action)) {
      state.Password.Clear();
      exitStatus_ = 1;
      MainForm->close();
      return;
    }
  }

  // Named paths that are not there are told, not answered with a file dialog.
  if (!single && !state.AutoRun && !missing.empty()) {
    QString text = QString::fromUtf8("ファイルが見つかりません：");
    for (const std::string& path : missing) text += '\n' + ShownText(path);
    ShowWarning(MainForm.get(), text);
    if (run.Entries().empty()) return;
  }

  switch (action) {
  case core::StartAction::SingleOutput:
    singleOutput_ = true;
    // The one file to the named output, by the run every list takes (its name rules, its dates),
    // without list, question or password dialog, and with its source left as it is. The run
    // reports and ends the program (RunEnded).
    core::RunSingleOutput(run);
    break;
  case core::StartAction::Close:
    MainForm->close();
    break;
  case core::StartAction::EncryptDialog:
    MainForm->EncBitBtnClick();
    break;
  case core::StartAction::DecryptDialog:
    MainForm->DecBitBtnClick();
    break;
  case core::StartAction::OptionsDialog:
    MainForm->OptionBitBtnClick();
    break;
  case core::StartAction::ShowList:
    // The main window stays on the screen while the list is open.
    ConfirmationDlg->SetReturnForm(MainForm.get());
    ConfirmationDlg->show();
    run.ShowList();
    break;
  case core::StartAction::Refuse:
    break; // told above
  }
}

bool TQKProgram::UnattendedRunMayStart(core::StartAction action) {
  engine::BatchRun& run = ConfirmationDlg->Run();
  const engine::RunState& state = run.State();
  const std::size_t entries = run.Entries().size();
  if (action == core::StartAction::Close) {
    ReportLine("qk: -A needs exactly one file; the list holds " + std::to_string(entries));
    return false;
  }
  if (entries == 0) {
    ReportLine("qk: nothing to do: no file was found");
    return false;
  }
  if (state.Mode == engine::OperationMode::Wipe) {
    if (action != core::StartAction::SingleOutput) return true;
    ReportLine("qk: -A writes nothing in wipe mode");
    return false;
  }
  const bool forDecrypt = state.Mode == engine::OperationMode::Decrypt;
  if (const auto refusal = engine::CheckPassword(state.Password.View(), std::nullopt, forDecrypt,
                                                 Model.SecLevel, state.PasswordHint)) {
    ReportLine("qk: " + *refusal);
    return false;
  }
  return true;
}

void TQKProgram::RunEnded() {
  engine::BatchRun& run = ConfirmationDlg->Run();
  const int failures = run.FailureCount() + missing_;
  if (run.State().AutoRun) {
    for (const engine::ListEntry& entry : std::as_const(run).Entries()) {
      ReportLine(entry.Caption);
      ReportReason(entry.Result);
    }
    // Named paths that were not found count as failed entries.
    ReportLine(missing_ == 0 ? run.Dialog().Label1 : engine::FinishedText(failures));
    // "-A" names one output; a script reading that name has to hear of any other.
    const std::string asked = run.State().OutputNameOverride;
    for (const engine::ListEntry& entry : std::as_const(run).Entries()) {
      if (!singleOutput_ || !entry.Result || entry.Result->output.empty()) continue;
      if (entry.Result->output != asked)
        ReportLine("qk: -A output written to " + entry.Result->output + " instead of " + asked);
    }
  }
  if (failures != 0) exitStatus_ = 1;
  MainForm->close();
}

void TQKProgram::ReportLine(const std::string& text) {
  if (report_) *report_ << platform::VisibleText(text) << '\n' << std::flush;
}

int RefuseSecondStart(const std::vector<std::string>& args, std::ostream& report) {
  const char* const text = "すでに起動しています。";
  const bool unattended = core::AsksForUnattendedRun(args);
  // A script or a file manager's action waits for no click: it is told on report and ends.
  if (unattended) {
    report << "qk: " << text << '\n' << std::flush;
    return 1;
  }
  ShowNote(nullptr, QString::fromUtf8(text));
  return 0;
}

int SecondStart(const std::vector<std::string>& args, const std::string& startDir,
                const std::string& socket, std::ostream& report) {
  // A start that would ask the user hands its paths to the copy that runs, if it is idle.
  const std::optional<platform::HandOverRequest> request = core::HandOverOf(args, startDir);
  if (request && platform::HandOverTo(socket, *request)) return 0;
  return RefuseSecondStart(args, report);
}

// After a failed entry's line, the reason it failed, on a line of its own.
void TQKProgram::ReportReason(const std::optional<engine::FileResult>& result) {
  if (!result) return;
  const std::string reason = engine::FailureReason(*result);
  if (!reason.empty()) ReportLine("　理由：" + reason);
}

} // namespace qk::windows
