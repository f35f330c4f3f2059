// The desktop program: one copy per user while DBCHK is on, the six windows, the message loop.

#include "windows/Main.h"
#include "Version.h"
#include "core/CommandLine.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/HandOver.h"
#include "platform/Hardening.h"
#include "platform/SingleInstance.h"
#include "platform/VisibleText.h"
#include "settings/Settings.h"
#include "windows/DisplayPlatform.h"
#include "windows/MessageBoxes.h"
#include "windows/Pictures.h"
#include "windows/Program.h"

#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  using namespace qk;
#if QK_HARDEN
  // Before any password is typed: no core file, no other process reading this one.
  platform::HardenProcess();
#endif

  // The command line as given, before the toolkit takes out the switches it knows: every word
  // belongs to the program. Relative paths are taken against the folder the program was started
  // in, which stops being the current directory once the main window exists.
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  // "--help" and "--version" are answered on standard output, without a window.
  if (const std::string info = core::InformationText(args, QK_DISPLAY_VERSION); !info.empty()) {
    std::cout << info << std::flush;
    return std::cout ? 0 : 1;
  }
  // The process list shows a "-P" password no longer; args keeps it until it is parsed.
  core::HidePasswordArguments(argc, argv);
  std::string startDir = "/";
  try {
    startDir = platform::CurrentDirectory();
  } catch (const platform::IoError&) {
    // The folder is gone: only absolute paths on the command line can still be found.
  }

  // The windowing system is chosen when the application connects to it.
  const auto env = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
  };
  const std::string platform = windows::PreferredPlatform(
      {env("WAYLAND_DISPLAY"), env("DISPLAY"), env("QT_QPA_PLATFORM")}, args, qVersion());
  if (!platform.empty()) ::setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
  QApplication application(argc, argv);
  // Programs started from here (the browser with the manual) make their own choice.
  if (!platform.empty()) ::unsetenv("QT_QPA_PLATFORM");
  QApplication::setApplicationName("QK");
  // No display name: the platform would append it to every window's caption.
  // The program ends when its main window closes, not when its last window happens to hide.
  QApplication::setQuitOnLastWindowClosed(false);
  windows::InstallJapaneseTranslations();
  QApplication::setWindowIcon(windows::ProgramIcon());

  const std::string programDir = settings::ExecutableDir();
  const std::string iniPath = settings::DefaultIniPath(programDir);

  // A second copy says so and ends before it does anything else. The lock stays held until
  // this process ends.
  platform::SingleInstanceLock lock;
  const std::string handOver = platform::HandOverSocketPath(lock.Path());
  if (!platform::MayRun(settings::SettingsStore(iniPath).ReadDbChk(), lock)) {
    // A start the user made hands its paths to the copy that runs; others are told it runs.
    const int status = windows::SecondStart(args, startDir, handOver, std::cerr);
    core::ClearPasswordArguments(args);
    return status;
  }
  if (lock.Current() == platform::SingleInstanceLock::State::Unavailable) {
    platform::LogNote("no check for a second copy: " + lock.Path() +
                      " cannot be locked (not a file of this user's own)");
  }

  windows::TQKProgram program({iniPath, std::move(args), startDir, programDir});
  // Later starts hand their paths to this copy.
  if (lock.Current() == platform::SingleInstanceLock::State::Held)
    program.ListenForHandOver(handOver);
  QObject::connect(
      program.MainForm.get(), &windows::TMainForm::ProgramEnded, &application,
      [&program] { QCoreApplication::exit(program.ExitStatus()); }, Qt::QueuedConnection);
  program.MainForm->show();
  return QApplication::exec();
}
