#include "cli/Cli.h"

#include "cli/Report.h"
#include "core/BatchSettings.h"
#include "core/CommandLine.h"
#include "core/FindFile.h"
#include "crypto/CryptoBase.h"
#include "crypto/SecHash.h"
#include "engine/BatchRun.h"
#include "engine/Container.h"
#include "engine/FileEngine.h"
#include "engine/Jobs.h"
#include "engine/PasswordRules.h"
#include "engine/Result.h"
#include "platform/ArgumentArea.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Hardening.h"
#include "platform/Listed.h"
#include "platform/PathText.h"
#include "platform/SecretText.h"
#include "platform/VisibleText.h"
#include "settings/Settings.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace qk::cli {

namespace {

class UsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Runs without questions: the batch is started with AutoRun, so nothing is asked. Progress goes
// to standard error as one rewritten line when that is a terminal.
class CliHost : public engine::NullBatchHost {
public:
  explicit CliHost(std::ostream& err)
      : err_(err), terminal_(&err == &std::cerr && isatty(STDERR_FILENO)) {}
  ~CliHost() override {
    if (shown_) err_ << "\r\033[K" << std::flush;
  }
  void ShowProgress(const std::string& text) override {
    if (!terminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    shown_ = true;
    err_ << "\r\033[K" << platform::VisibleText(text) << std::flush;
  }
  bool ShowsList() const override { return false; }

private:
  std::ostream& err_;
  bool terminal_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_;
};

struct Options {
  std::string command;
  std::optional<std::string> ini;
  std::optional<std::string> password;
  std::optional<std::string> passwordFile;
  std::optional<std::string> hint;
  std::optional<std::int32_t> algorithm;
  std::optional<bool> tamperCode;
  std::optional<bool> skipNonTamper;
  std::optional<std::int32_t> nameMode;
  std::optional<std::string> ext;
  std::optional<bool> recursive;
  bool wipeSource = false;
  bool json = false;
  std::optional<std::string> output;
  std::optional<unsigned> jobs;
  std::vector<std::string> files;

  Options() = default;
  Options(Options&&) = default;
  Options& operator=(Options&&) = default;
  ~Options() {
    if (password) platform::SecureClear(*password);
  }
};

std::int32_t ParseAlgorithm(const std::string& text) {
  if (text == "twofish") return engine::AlgoTwofish;
  if (text == "rijndael") return engine::AlgoRijndael;
  if (text == "gost") return engine::AlgoGost;
  try {
    std::size_t used = 0;
    const long value = std::stol(text, &used, 10);
    if (used == text.size() && value >= INT32_MIN && value <= INT32_MAX) {
      return static_cast<std::int32_t>(value);
    }
  } catch (const std::exception&) {
  }
  throw UsageError("unknown algorithm '" + text + "' (twofish, rijndael, gost or a number)");
}

std::int32_t ParseNameMode(const std::string& text) {
  if (text == "enc") return settings::kNameDefaultExt;
  if (text == "own") return settings::kNameOwnExt;
  if (text == "random") return settings::kNameRandom;
  throw UsageError("unknown name mode '" + text + "' (enc, own or random)");
}

// The options that take a value: the next word is that value, whatever it looks like ("--"
// too), for every command.
bool TakesValue(const std::string& option) {
  static constexpr std::array<const char*, 9> kWithValue{"--ini",  "--password",  "--password-file",
                                                         "--hint", "--algorithm", "--name-mode",
                                                         "--ext",  "-o",          "--jobs"};
  return std::find(kWithValue.begin(), kWithValue.end(), option) != kWithValue.end();
}

// Called for each option: its index in the arguments, and the index of its value (for the
// options that take one, when there is one).
using OptionVisitor = std::function<void(std::size_t, std::optional<std::size_t>)>;

// Goes through a command line after its command: a word that begins with "-" (but "-" alone)
// before "--" is an option, every other word a path. The one reading of the command line: the
// parse and the hiding of the password both go through it.
void WalkOptions(const std::vector<std::string>& args, const OptionVisitor& onOption,
                 const std::function<void(const std::string&)>& onPath) {
  bool optionsEnded = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
      onPath(a);
      continue;
    }
    if (a == core::kEndOfSwitches) {
      optionsEnded = true;
      continue;
    }
    std::optional<std::size_t> value;
    if (TakesValue(a) && i + 1 < args.size()) value = i + 1;
    onOption(i, value);
    if (value) i = *value;
  }
}

Options Parse(const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("no command given");
  Options o;
  o.command = args[0];
  const bool batch = o.command == "encrypt" || o.command == "decrypt" || o.command == "wipe";
  const bool takesPassword = batch || o.command == "passhash" || o.command == "verify";
  if (!takesPassword && o.command != "hint" && o.command != "sha1") {
    throw UsageError("unknown command '" + o.command + "'");
  }

  const std::string pathsAfterEnd =
      "nothing was done: put paths after \"--\" (qk-cli " + o.command + " [OPTIONS] -- PATH...)";
  const auto onOption = [&](std::size_t at, std::optional<std::size_t> valueAt) {
    const std::string& a = args[at];
    // A file named like an option (a glob in a shared folder hands it over) is never taken as
    // one: the whole command line is refused. The file may be gone by the time it is looked for,
    // so a word that could only have come from a glob is refused too: an option after a path,
    // and a second password.
    if (platform::FileExists(a))
      throw UsageError("'" + a + "' reads as an option and also names a file here; " +
                       pathsAfterEnd);
    if (!o.files.empty())
      throw UsageError("'" + a + "' reads as an option and comes after a path; " + pathsAfterEnd);
    if ((a == "--password" && o.password) || (a == "--password-file" && o.passwordFile))
      throw UsageError("'" + a + "' is given twice; " + pathsAfterEnd);
    const auto value = [&]() -> std::string {
      if (!valueAt) throw UsageError("option " + a + " needs a value");
      return args[*valueAt];
    };
    if (a == "--json" && o.command != "passhash") {
      o.json = true;
    } else if (takesPassword && a == "--password") {
      o.password = value();
    } else if (takesPassword && a == "--password-file") {
      o.passwordFile = value();
    } else if (batch && a == "--ini") {
      o.ini = value();
    } else if (batch && a == "--hint") {
      o.hint = value();
    } else if (batch && a == "--algorithm") {
      o.algorithm = ParseAlgorithm(value());
    } else if (batch && (a == "--tamper-code" || a == "--no-tamper-code")) {
      o.tamperCode = a == "--tamper-code";
    } else if (batch && (a == "--skip-non-tamper" || a == "--allow-non-tamper")) {
      o.skipNonTamper = a == "--skip-non-tamper";
    } else if (batch && a == "--name-mode") {
      o.nameMode = ParseNameMode(value());
    } else if (batch && a == "--ext") {
      o.ext = value();
    } else if (batch && (a == "--recursive" || a == "--no-recursive")) {
      o.recursive = a == "--recursive";
    } else if (batch && a == "--wipe-source") {
      o.wipeSource = true;
    } else if (batch && a == "-o") {
      o.output = value();
    } else if (batch && a == "--jobs") {
      const std::string text = value();
      o.jobs = engine::ParseJobs(text);
      if (!o.jobs) {
        throw UsageError("--jobs needs a whole number from 1 to " +
                         std::to_string(engine::kMaxJobs) + ", not '" + text + "'");
      }
    } else {
      throw UsageError("unknown option '" + a + "' for " + o.command);
    }
  };
  WalkOptions(args, onOption, [&](const std::string& path) { o.files.push_back(path); });
  if (o.password && o.passwordFile) {
    throw UsageError("give either --password or --password-file, not both");
  }
  if (o.command != "passhash" && o.files.empty()) throw UsageError("no file given");
  if (o.command == "passhash" && !o.files.empty()) throw UsageError("passhash takes no file");
  if (o.output && o.files.size() != 1) throw UsageError("-o needs exactly one file");
  if (o.output && platform::HasHiddenNameShape(*o.output)) {
    throw UsageError("-o '" + *o.output +
                     "' has the shape of QK's hidden working files (\".qk-\" and 12 letters or "
                     "digits), which later runs clear away; choose another name");
  }
  if (o.ext && !settings::IsValidOwnExtension(*o.ext)) {
    throw UsageError("the own extension '" + *o.ext +
                     "' is empty, a lone dot, or holds one of \\ / : , ; * ? \" < > |");
  }
  return o;
}

// Echo off on the terminal at standard input while this lives, and back on however the program
// leaves meanwhile: a return, an exception, or any signal whose default action ends the program
// (the signal then ends it as it would have). Only SIGKILL cannot be caught.
class NoEcho {
public:
  NoEcho() {
    if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    struct sigaction action {};
    action.sa_handler = &NoEcho::Restore;
    sigemptyset(&action.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) {
      caught_[static_cast<std::size_t>(signal)] =
          EndsByDefault(signal) &&
          sigaction(signal, &action, &previous_[static_cast<std::size_t>(signal)]) == 0;
    }
    active_ = 1;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  ~NoEcho() {
    if (!active_) return;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    active_ = 0;
    for (int signal = 1; signal < NSIG; ++signal) {
      if (caught_[static_cast<std::size_t>(signal)])
        sigaction(signal, &previous_[static_cast<std::size_t>(signal)], nullptr);
    }
  }
  NoEcho(const NoEcho&) = delete;
  NoEcho& operator=(const NoEcho&) = delete;

private:
  // Every signal but those that are ignored, stop or continue by default, and the two that
  // cannot be caught.
  static bool EndsByDefault(int signal) {
    switch (signal) {
    case SIGKILL:
    case SIGSTOP:
    case SIGCHLD:
    case SIGCONT:
    case SIGURG:
    case SIGWINCH:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
      return false;
    default:
      return true;
    }
  }
  static void Restore(int signal) {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
  }
  static inline termios saved_{};
  static inline volatile std::sig_atomic_t active_ = 0;
  std::array<struct sigaction, NSIG> previous_{};
  std::array<bool, NSIG> caught_{};
};

// One line read byte by byte from fd, without its line break: no library buffer keeps a copy.
platform::SecretText ReadSecretLine(int fd) {
  platform::SecretText line;
  char c = 0;
  for (;;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') break;
    line.Append(c);
  }
  c = 0;
  if (!line.Empty() && line.Back() == '\r') line.PopBack();
  return line;
}

// Why the password file open at fd is not taken, or empty when it is: only a regular file of the
// user's own (or root's) that no other user can write, or a terminal of the user's own (or the
// controlling terminal, /dev/tty). Another user's file or terminal, one that others can change,
// or a named pipe that anyone may feed would give a password the other user knows. A pipe of the
// caller's own comes as standard input ("-").
std::string UntrustedPasswordFile(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return "cannot be read";
  if (S_ISCHR(st.st_mode) && isatty(fd)) {
    const bool controlling = major(st.st_rdev) == 5 && minor(st.st_rdev) == 0;
    if (!controlling && st.st_uid != ::geteuid()) return "is a terminal of another user";
    return {};
  }
  if (!S_ISREG(st.st_mode)) {
    return "is not a regular file (give a pipe as standard input with --password-file -)";
  }
  if (st.st_uid != ::geteuid() && st.st_uid != 0) return "belongs to another user";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "can be written by other users";
  return {};
}

// Whether anyone but this user and root may make or replace names in folder ("" is the current
// folder): it belongs to someone else, or its group or others may write it. True when it cannot
// be looked at.
bool OthersCanWrite(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.empty() ? "." : folder.c_str(), &st) != 0) return true;
  return (st.st_uid != ::geteuid() && st.st_uid != 0) || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// First line of a file or of standard input ("-"), without its line break. On a terminal the
// input is not echoed.
platform::SecretText ReadPasswordLine(const std::string& source, std::istream& in,
                                      std::ostream& err) {
  if (source == "-") {
    if (&in != &std::cin) {
      platform::SecretText line;
      char c = 0;
      while (in.get(c) && c != '\n') line.Append(c);
      c = 0;
      if (!line.Empty() && line.Back() == '\r') line.PopBack();
      return line;
    }
    if (!isatty(STDIN_FILENO)) return ReadSecretLine(STDIN_FILENO);
    platform::SecretText line;
    {
      const NoEcho quiet;
      // Asked only once echo is off.
      err << "パスワード: " << std::flush;
      line = ReadSecretLine(STDIN_FILENO);
    }
    err << '\n';
    return line;
  }
  // Opened without waiting for a writer and without becoming the controlling terminal, so that
  // what the name holds is looked at before anything is read. In a folder that someone else can
  // write, the name may be a link that they put there to a file they can read: it is not followed.
  const bool shared = OthersCanWrite(platform::ExtractFilePath(source));
  const int fd = ::open(source.c_str(),
                        O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (shared ? O_NOFOLLOW : 0));
  if (fd < 0 && errno == ELOOP && shared) {
    throw UsageError("the password file " + source +
                     " is a symbolic link in a folder that other users can write");
  }
  if (fd < 0) throw UsageError("cannot read the password file " + source);
  if (const std::string refusal = UntrustedPasswordFile(fd); !refusal.empty()) {
    ::close(fd);
    throw UsageError("the password file " + source + " " + refusal);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  platform::SecretText line = ReadSecretLine(fd);
  ::close(fd);
  return line;
}

platform::SecretText Password(const Options& o, std::istream& in, std::ostream& err) {
  if (o.password) return platform::SecretText(*o.password);
  if (o.passwordFile) return ReadPasswordLine(*o.passwordFile, in, err);
  throw UsageError("a password is needed: --password P or --password-file F");
}

// The settings file's values, overridden by the flags.
settings::SettingsModel LoadSettings(const Options& o) {
  const std::string path = o.ini ? *o.ini : settings::DefaultIniPath(settings::ExecutableDir());
  settings::SettingsStore store(path);
  settings::SettingsModel model;
  store.LoadL1(model);
  store.LoadL2(model);
  return model;
}

engine::BatchOptions MakeBatchOptions(const Options& o, const settings::SettingsModel& model) {
  engine::BatchOptions b;
  core::SyncBatchOptions(model, b);
  // qk-cli keeps nothing between runs and wipes only when asked to.
  b.WipeSource = o.wipeSource;
  b.WipeDecSource = o.wipeSource;
  b.ReEnc = false;
  b.SaveHint = false;
  if (o.skipNonTamper) b.Engine.SkipNonHMAC = *o.skipNonTamper;
  if (o.tamperCode) b.AddHMAC = *o.tamperCode;
  if (o.algorithm) b.Algorithm = *o.algorithm;
  if (o.nameMode) b.NameMode = *o.nameMode;
  if (o.ext) b.OwnExtStr = *o.ext;
  // The settings file's own extension is checked as --ext is: it becomes part of every name.
  if (o.command == "encrypt" && !o.ext && b.NameMode != settings::kNameDefaultExt &&
      !settings::IsValidOwnExtension(b.OwnExtStr)) {
    throw UsageError(
        "the own extension '" + b.OwnExtStr +
        "' of the settings file is empty, a lone dot, or holds one of \\ / : , ; * ? \" < > |; "
        "give --ext or --name-mode enc");
  }
  return b;
}

// The run that the first SIGINT, SIGTERM or SIGHUP stops, and that signal.
std::atomic<bool>* stopOnSignal = nullptr;
volatile std::sig_atomic_t stoppedBy = 0;

extern "C" void StopRun(int signal) {
  stoppedBy = signal;
  if (stopOnSignal != nullptr) stopOnSignal->store(true);
}

// While it lives, the first of the signals that end a program in a terminal or a session stops the
// run cleanly (its report is written whole); a second one ends the program at once, as the signal
// does by default: the run's order loses nothing at any moment.
class StopOnSignals {
public:
  explicit StopOnSignals(std::atomic<bool>& stop) {
    stoppedBy = 0;
    stopOnSignal = &stop;
    struct sigaction action {};
    action.sa_handler = StopRun;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &action, &before_[i]);
  }
  ~StopOnSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &before_[i], nullptr);
    stopOnSignal = nullptr;
  }
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;
  // The signal that stopped the run; 0 for none.
  int Signal() const { return stoppedBy; }

private:
  static constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
  std::array<struct sigaction, 3> before_{};
};

// The report line of an engine result.
ReportLine MakeLine(const engine::FileResult& result) {
  ReportLine line;
  line.path = result.path;
  line.outcome = std::string(engine::ResultKey(result.outcome));
  line.text = engine::ResultText(result);
  line.output = result.output;
  line.sourceWipe = std::string(engine::SourceWipeKey(result.sourceWipe));
  line.failed = engine::Failed(result);
  line.onlyWiped =
      engine::DoneBefore(result.outcome) && result.sourceWipe == engine::SourceWipe::Wiped;
  line.skipped = engine::DoneBefore(result.outcome) && !line.onlyWiped;
  if (result.error != 0) line.error = std::strerror(result.error);
  line.reason = engine::FailureReason(result);
  if (const std::string_view reason = engine::SourceWipeReason(result); !reason.empty())
    line.error = std::string(reason);
  return line;
}

int RunBatch(const Options& o, std::ostream& out, std::ostream& err, std::istream& in) {
  const settings::SettingsModel model = LoadSettings(o);
  engine::BatchOptions options = MakeBatchOptions(o, model);
  CliHost host(err);
  engine::BatchRun run(host, options, engine::Random::Program());
  engine::RunState& state = run.State();
  state.Mode = o.command == "encrypt"   ? engine::OperationMode::Encrypt
               : o.command == "decrypt" ? engine::OperationMode::Decrypt
                                        : engine::OperationMode::Wipe;
  if (state.Mode != engine::OperationMode::Wipe) {
    state.Password = Password(o, in, err);
    const bool forDecrypt = state.Mode == engine::OperationMode::Decrypt;
    if (const auto refusal = engine::CheckPassword(state.Password.View(), std::nullopt, forDecrypt,
                                                   model.SecLevel, o.hint.value_or(""))) {
      state.Password.Clear();
      throw UsageError(*refusal);
    }
    state.PasswordHint = o.hint.value_or(std::string());
  }
  if (o.output) {
    state.OutputNameOverride = platform::MakeAbsolute(*o.output, platform::CurrentDirectory());
    // The output's folder is held to the one named now, as the sources' folders are.
    platform::NoteFolder(platform::ExtractFilePath(state.OutputNameOverride));
  }

  // A named path that does not exist adds nothing and fails the run; it is told before any
  // source is wiped.
  int missing = 0;
  for (const auto& file : o.files) {
    if (platform::FileExists(file)) continue;
    ++missing;
    err << "qk-cli: not found: " << platform::VisibleText(file) << '\n';
  }

  const StopOnSignals signals(run.StopFlag());
  core::TFindFile finder;
  finder.Recurse = o.recursive.value_or(model.Recurse);
  finder.Attributes =
      core::TAttrOptions(core::ffReadOnly) | core::ffHidden | core::ffDirectory | core::ffArchive;
  // A file named on its own is processed as asked; one found in a folder may have been done by
  // an earlier run of the same command.
  for (const std::string& named : o.files) {
    core::AddPaths(
        finder, {named}, [&](const std::string& path) { run.AddFile(path, path != named); },
        [&](const std::string& folder, int error) { run.AddUnreadableFolder(folder, error); });
  }
  if (o.output && run.Entries().size() != 1) {
    throw UsageError("-o needs exactly one file, and the folder holds " +
                     std::to_string(run.Entries().size()));
  }

  state.AutoRun = true;
  options.Jobs = o.jobs.value_or(engine::DefaultJobs());
  options.Resume = true;
  run.ShowList();
  const int failures = run.FailureCount();
  state.Password.Clear();
  // A named path that was not found is a failed entry of the closing text too.
  const std::string closing = run.Stopped()
                                  ? engine::StoppedText(failures + missing, run.NotReached())
                                  : engine::FinishedText(failures + missing);

  Report report(out, o.json, &err);
  for (const auto& entry : run.Entries()) {
    if (!entry.Result) continue;
    ReportLine line = MakeLine(*entry.Result);
    line.path = entry.Path;
    report.Result(line, state.Mode == engine::OperationMode::Decrypt);
  }
  report.Close(closing, missing,
               run.Stopped() ? std::optional<std::size_t>(run.NotReached()) : std::nullopt);
  // Ended as an interrupted program ends, once its report is out.
  if (signals.Signal() != 0) return 128 + signals.Signal();
  return failures == 0 && missing == 0 ? kExitOk : kExitFailed;
}

// Each file's path beside its hint when several were asked for; a file that cannot be read as a
// container fails the command.
int RunHint(const Options& o, std::ostream& out) {
  engine::TextCrypt text;
  Report report(out, o.json);
  for (const auto& file : o.files) {
    const engine::StoredHint stored = engine::ReadStoredHint(file, text);
    ReportLine line;
    line.path = file;
    line.text = stored.Text();
    if (stored.hint) {
      line.outcome = "hint";
      line.hint = *stored.hint;
      line.hasHint = true;
    } else {
      line.outcome = std::string(engine::ResultKey(stored.failure));
      line.failed = true;
      if (stored.error != 0) line.error = std::strerror(stored.error);
      line.reason = engine::ErrorReason(stored.error);
    }
    report.Hint(line, o.files.size() > 1);
  }
  report.Close("");
  return report.Failures() == 0 ? kExitOk : kExitFailed;
}

int RunSha1(const Options& o, std::ostream& out, std::ostream& err) {
  crypto::TSecHash hash;
  Report report(out, o.json);
  for (const auto& file : o.files) {
    ReportLine line;
    line.path = file;
    try {
      crypto::SecDigest digest;
      hash.HashFile(file, digest);
      line.outcome = "hashed";
      line.sha1 = crypto::FormatSecDigest(digest);
      line.text = line.sha1;
    } catch (const std::exception& e) {
      if (!o.json)
        err << "qk-cli: " << platform::VisibleText(std::string(e.what()) + ": " + file) << '\n';
      line.outcome = "unreadable";
      line.error = e.what();
      line.failed = true;
    }
    report.Sha1(line);
  }
  report.Close("");
  return report.Failures() == 0 ? kExitOk : kExitFailed;
}

// Proves each container as its decryption would, writing nothing anywhere. The policy for
// containers without a code does not apply: each is reported as what it is.
int RunVerify(const Options& o, std::ostream& out, std::ostream& err, std::istream& in) {
  const platform::SecretText password = Password(o, in, err);
  CliHost host(err);
  engine::RunState state;
  const engine::EngineSettings settings;
  engine::FileEngine engine(host, state, settings, engine::Random::Program());
  Report report(out, o.json, &err);
  // Why a file failed goes to standard error, as for the other commands ("フォルダです").
  for (const auto& file : o.files)
    report.Result(MakeLine(engine.VerifyContainer(file, password)), false);
  report.Close(engine::FinishedText(report.Failures()));
  return report.Failures() == 0 ? kExitOk : kExitFailed;
}

int RunPasshash(const Options& o, std::ostream& out, std::ostream& err, std::istream& in) {
  const platform::SecretText password = Password(o, in, err);
  engine::TextCrypt text;
  std::string bytes = platform::ToSystemCodePage(password.View());
  out << text.MakeVerificationHash(bytes) << '\n';
  platform::SecureClear(bytes);
  return kExitOk;
}

} // namespace

void HidePasswordArguments(int argc, char** argv) {
  if (argc < 2) return;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<int> values;
  WalkOptions(
      args,
      [&](std::size_t at, std::optional<std::size_t> value) {
        if (args[at] == "--password" && value) values.push_back(static_cast<int>(*value) + 1);
      },
      [](const std::string&) {});
  // The copies go as the values in the argument area do.
  for (std::string& arg : args) platform::SecureClear(arg);
  platform::HideArguments(argc, argv, values);
}

std::string UsageText() {
  return "usage:\n"
         "  qk-cli encrypt|decrypt|wipe [OPTIONS] PATH...   folders are expanded like a drop\n"
         "    --ini FILE                   settings file (default: QK's own QK.ini; never "
         "written)\n"
         "    --password P | --password-file F\n"
         "    --hint H                     password hint stored in each container\n"
         "    --algorithm twofish|rijndael|gost|N\n"
         "    --tamper-code | --no-tamper-code\n"
         "    --skip-non-tamper | --allow-non-tamper\n"
         "    --name-mode enc|own|random   --ext EXT (the own extension)\n"
         "    --recursive | --no-recursive\n"
         "    --wipe-source                wipe each source after success (never without this "
         "flag)\n"
         "    -o OUT                       output path, with exactly one file\n"
         "    --jobs N                     files at once, 1 to 64 (default: one per processor)\n"
         "    --json                       one JSON object a line per file, then one with the "
         "counts\n"
         "  qk-cli verify [--password P | --password-file F] [--json] CONTAINER...\n"
         "                                 checks each container as decryption would, writing "
         "nothing\n"
         "  qk-cli hint [--json] FILE...\n"
         "  qk-cli sha1 [--json] FILE...\n"
         "  qk-cli passhash [--password P | --password-file F]\n"
         "\n"
         "--password-file F reads the first line of F; \"-\" reads standard input (without echo "
         "on\n"
         "a terminal). Warning: a password given with --password (or with the desktop program's\n"
         "-P switch) is visible to other users of this machine in the process list; prefer\n"
         "--password-file.\n"
         "\"--\" ends the options: every word after it is a path, also one beginning with \"-\".\n"
         "A glob can hand over a file that another user named like an option, so an option after\n"
         "the first path or a second password is refused: put globs after \"--\".\n"
         "Defaults come from the settings file; flags override them. Encryption passwords must\n"
         "reach the minimum length of the security level.\n"
         "verify proves a container without a tamper-detection code only as far as its password\n"
         "and structure go; its line says so.\n"
         "JSON objects carry \"path\", \"outcome\" (a stable English key), \"output\" when a file "
         "was\n"
         "written, and \"text\" (the result text); the closing object \"files\", \"succeeded\" "
         "and\n"
         "\"failed\".\n"
         "Exit status: 0 every file succeeded, 1 some file failed, 2 usage error.\n";
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           std::istream& in) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    out << UsageText();
    return kExitOk;
  }
  try {
    const Options o = Parse(args);
    if (o.command == "hint") return RunHint(o, out);
    if (o.command == "sha1") return RunSha1(o, out, err);
    if (o.command == "passhash") return RunPasshash(o, out, err, in);
    if (o.command == "verify") return RunVerify(o, out, err, in);
    return RunBatch(o, out, err, in);
  } catch (const UsageError& e) {
    err << "qk-cli: " << platform::VisibleText(e.what()) << "\n\n" << UsageText();
    return kExitUsage;
  }
}

} // namespace qk::cli
