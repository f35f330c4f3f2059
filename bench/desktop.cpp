// The desktop program over many small files, driven the way its windows drive it: a folder handed
// to the encrypt target (collected into the confirmation list with its window on the screen), the
// run over the list with every list update, then the same for the decryption; and qk-cli --jobs 1
// over the same files for comparison. Sources are wiped after both, as by default.
// Prints "name value" lines: seconds of each phase, peak resident memory in MiB, and the ratio of
// the desktop's run time to qk-cli's.
// Usage: qk_bench_desktop QK_CLI_PATH [FILES] (FILES default 20000, in 20 folders, 1 to 2000
// bytes each). Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "engine/BatchRun.h"
#include "windows/ConfDlg.h"
#include "windows/Main.h"
#include "windows/MessageBoxes.h"
#include "windows/Program.h"

#include <QApplication>
#include <QStringList>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double CurrentMiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

// count files in 20 folders under root, 1 to 2000 bytes each.
void MakeFiles(const std::filesystem::path& root, int count) {
  std::uint32_t x = 12345;
  for (int i = 0; i < count; ++i) {
    std::string folderName = "d";
    folderName += std::to_string(i % 20);
    std::string fileName = "f";
    fileName += std::to_string(i);
    fileName += ".txt";
    const auto folder = root / folderName;
    std::filesystem::create_directories(folder);
    x = x * 1103515245u + 12345u;
    const std::size_t size = 1 + (x >> 8) % 2000;
    std::ofstream(folder / fileName, std::ios::binary)
        << std::string(size, static_cast<char>('a' + i % 26));
  }
}

int Run(const std::vector<std::string>& args) {
  const pid_t child = fork();
  if (child == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int null = ::open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

std::map<std::string, double> shown;

void Line(const std::string& name, double value) {
  shown[name] = value;
  std::printf("%s %.3f\n", name.c_str(), value);
  std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qk_bench_desktop QK_CLI_PATH [FILES]\n");
    return 2;
  }
  const std::string cli = argv[1];
  const int count = argc > 2 ? std::atoi(argv[2]) : 20000;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);

  // TMPDIR picks the disk: a memory file system shows the program's own cost, a real disk adds
  // the flushes.
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/qk-bench-desktop-XXXXXX";
  const std::filesystem::path base = mkdtemp(pattern.data());
  const auto root = base / "files";
  MakeFiles(root, count);
  Line("files", count);
  Line("memory_start_MiB", CurrentMiB());

  qk::windows::SetBoxResponder([](qk::windows::BoxKind, const QString&) { return true; });
  std::ostringstream report;
  qk::windows::TQKProgram program({(base / "QK.ini").string(), {}, base.string(), {}, &report});
  program.Model.Recurse = true;
  program.Model.WipeSource = true;
  program.Model.WipeDecSource = true;
  program.Model.ReEnc = false;
  qk::windows::TConfirmationDlg& window = *program.ConfirmationDlg;
  window.SetPasswordDialog(
      [](bool) {
        return std::optional<qk::engine::BatchHost::PasswordAnswer>(
            qk::engine::BatchHost::PasswordAnswer{qk::platform::SecretText("benchmark"), ""});
      },
      [](bool, bool) {});
  const QStringList folder{QString::fromStdString(root.string())};

  for (const auto mode : {qk::engine::OperationMode::Encrypt, qk::engine::OperationMode::Decrypt}) {
    const char* what = mode == qk::engine::OperationMode::Encrypt ? "encrypt" : "decrypt";
    auto start = Clock::now();
    program.ShowFiles(mode, folder, program.MainForm.get());
    QCoreApplication::processEvents();
    Line(std::string("desktop_") + what + "_list_s", Seconds(start));
    Line(std::string("desktop_") + what + "_entries",
         static_cast<double>(std::as_const(window.Run()).Entries().size()));
    start = Clock::now();
    window.OKBitBtnClick();
    QCoreApplication::processEvents();
    Line(std::string("desktop_") + what + "_run_s", Seconds(start));
    Line(std::string("desktop_") + what + "_failures", window.Run().FailureCount());
    window.close();
    Line(std::string("memory_after_") + what + "_MiB", CurrentMiB());
  }
  Line("desktop_peak_MiB", PeakMiB());

  for (const char* command : {"encrypt", "decrypt"}) {
    const auto start = Clock::now();
    const int status =
        Run({cli, command, "--jobs", "1", "--recursive", "--wipe-source", "--password", "benchmark",
             "--ini", (base / "cli.ini").string(), root.string()});
    Line(std::string("cli_jobs1_") + command + "_s", Seconds(start));
    Line(std::string("cli_jobs1_") + command + "_status", status);
  }
  // The desktop's whole way (list and run) against qk-cli's, per direction.
  for (const std::string what : {"encrypt", "decrypt"}) {
    Line("ratio_desktop_to_cli_" + what,
         (shown["desktop_" + what + "_list_s"] + shown["desktop_" + what + "_run_s"]) /
             shown["cli_jobs1_" + what + "_s"]);
  }
  std::filesystem::remove_all(base);
  qk::windows::SetBoxResponder({});
  return 0;
}
