#include "cli/Cli.h"

#include "crypto/CryptoBase.h"
#include "crypto/SecHash.h"
#include "engine/Container.h"
#include "engine/FileEngine.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <climits>
#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace qk::cli {

namespace {

constexpr const char* kWipeOk = "抹消成功 : ";
constexpr const char* kWipeFailed =
    "＊抹消不可(ファイルが無効or読み取り専用orロックされている可能性があります。) : ";

class UsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Reports informations on standard error; questions are answered No.
class CliHost : public engine::EngineHost {
public:
  explicit CliHost(std::ostream& err) : err_(err) {}
  void ShowProgress(const std::string&) override {}
  void ProcessMessages() override {}
  void Inform(const std::string& text) override { err_ << "qk-cli: " << text << '\n'; }
  bool Confirm(const std::string&) override { return false; }
  void Warn(const std::string& text) override { err_ << "qk-cli: " << text << '\n'; }

private:
  std::ostream& err_;
};

struct Options {
  std::string command;
  std::optional<std::string> password;
  std::optional<std::string> passwordFile;
  std::string hint;
  std::int32_t algorithm = engine::AlgoTwofish;
  bool tamperCode = true;
  bool skipNonTamper = false;
  std::optional<std::string> output;
  std::vector<std::string> files;
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

Options Parse(const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("no command given");
  Options o;
  o.command = args[0];
  const bool takesPassword =
      o.command == "encrypt" || o.command == "decrypt" || o.command == "passhash";
  const bool known =
      takesPassword || o.command == "wipe" || o.command == "hint" || o.command == "sha1";
  if (!known) throw UsageError("unknown command '" + o.command + "'");

  bool optionsEnded = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
      o.files.push_back(a);
      continue;
    }
    const auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw UsageError("option " + a + " needs a value");
      return args[++i];
    };
    const bool enc = o.command == "encrypt";
    const bool dec = o.command == "decrypt";
    if (a == "--") {
      optionsEnded = true;
    } else if (takesPassword && a == "--password") {
      o.password = value();
    } else if (takesPassword && a == "--password-file") {
      o.passwordFile = value();
    } else if (enc && a == "--hint") {
      o.hint = value();
    } else if (enc && a == "--algorithm") {
      o.algorithm = ParseAlgorithm(value());
    } else if (enc && a == "--tamper-code") {
      o.tamperCode = true;
    } else if (enc && a == "--no-tamper-code") {
      o.tamperCode = false;
    } else if (dec && a == "--skip-non-tamper") {
      o.skipNonTamper = true;
    } else if ((enc || dec) && a == "-o") {
      o.output = value();
    } else {
      throw UsageError("unknown option '" + a + "' for " + o.command);
    }
  }
  if (o.password && o.passwordFile) {
    throw UsageError("give either --password or --password-file, not both");
  }
  if (o.command != "passhash" && o.files.empty()) throw UsageError("no file given");
  if (o.command == "passhash" && !o.files.empty()) throw UsageError("passhash takes no file");
  if (o.output && o.files.size() != 1) throw UsageError("-o needs exactly one file");
  return o;
}

// First line of a file or of standard input ("-"), without its line break. On a terminal the
// input is not echoed.
std::string ReadPasswordLine(const std::string& source, std::istream& in, std::ostream& err) {
  std::string line;
  if (source == "-") {
    const bool terminal = &in == &std::cin && isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
      err << "パスワード: " << std::flush;
      tcgetattr(STDIN_FILENO, &saved);
      termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::getline(in, line);
    if (terminal) {
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
      err << '\n';
    }
  } else {
    std::ifstream file(source, std::ios::binary);
    if (!file) throw UsageError("cannot read the password file " + source);
    std::getline(file, line);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string Password(const Options& o, std::istream& in, std::ostream& err) {
  if (o.password) return *o.password;
  if (o.passwordFile) return ReadPasswordLine(*o.passwordFile, in, err);
  throw UsageError("a password is needed: --password P or --password-file F");
}

int RunEncrypt(const Options& o, std::ostream& out, std::ostream& err, std::istream& in) {
  std::string password = Password(o, in, err);
  CliHost host(err);
  engine::RunState state;
  engine::EngineSettings settings;
  engine::FileEngine engine(host, state, settings, engine::Random::Program());
  int status = kExitOk;
  for (const auto& file : o.files) {
    const std::string target = o.output ? *o.output : file + ".enc";
    const std::string result =
        engine.EncryptFile(file, target, password, o.hint, o.algorithm, o.tamperCode);
    out << result << file << '\n';
    if (result != engine::kEncryptOk) status = kExitFailed;
  }
  crypto::SecureZero(password.data(), password.size());
  return status;
}

int RunDecrypt(const Options& o, std::ostream& out, std::ostream& err, std::istream& in) {
  std::string password = Password(o, in, err);
  CliHost host(err);
  engine::RunState state;
  engine::EngineSettings settings;
  settings.SkipNonHMAC = o.skipNonTamper;
  if (o.output) state.OutputNameOverride = *o.output;
  engine::FileEngine engine(host, state, settings, engine::Random::Program());
  int status = kExitOk;
  for (const auto& file : o.files) {
    const std::string result = engine.DecryptFile(file, password);
    if (engine::IsDecryptSuccess(result)) {
      if (state.SourceFileDate != -1)
        platform::SetFileDate(state.LastOutputName, state.SourceFileDate);
      out << result << file << '\t' << state.LastOutputName << '\n';
    } else {
      out << result << file << '\n';
      status = kExitFailed;
    }
  }
  crypto::SecureZero(password.data(), password.size());
  return status;
}

int RunWipe(const Options& o, std::ostream& out, std::ostream& err) {
  CliHost host(err);
  engine::RunState state;
  engine::EngineSettings settings;
  engine::FileEngine engine(host, state, settings, engine::Random::Program());
  int status = kExitOk;
  for (const auto& file : o.files) {
    try {
      engine.WipeFile(file);
      out << kWipeOk << file << '\n';
    } catch (const std::exception&) {
      out << kWipeFailed << file << '\n';
      status = kExitFailed;
    }
  }
  return status;
}

int RunHint(const Options& o, std::ostream& out, std::ostream& err) {
  CliHost host(err);
  engine::RunState state;
  engine::EngineSettings settings;
  engine::FileEngine engine(host, state, settings, engine::Random::Program());
  for (const auto& file : o.files) out << engine.ReadStoredHint(file) << '\n';
  return kExitOk;
}

int RunSha1(const Options& o, std::ostream& out, std::ostream& err) {
  crypto::TSecHash hash;
  int status = kExitOk;
  for (const auto& file : o.files) {
    try {
      crypto::SecDigest digest;
      hash.HashFile(file, digest);
      out << crypto::FormatSecDigest(digest) << "  " << file << '\n';
    } catch (const std::exception& e) {
      err << "qk-cli: " << e.what() << ": " << file << '\n';
      status = kExitFailed;
    }
  }
  return status;
}

int RunPasshash(const Options& o, std::ostream& out, std::ostream& err, std::istream& in) {
  std::string password = Password(o, in, err);
  engine::TextCrypt text;
  out << text.MakeVerificationHash(platform::ToSystemCodePage(password)) << '\n';
  crypto::SecureZero(password.data(), password.size());
  return kExitOk;
}

} // namespace

std::string UsageText() {
  return "usage:\n"
         "  qk-cli encrypt [--password P | --password-file F] [--hint H]\n"
         "                 [--algorithm twofish|rijndael|gost|N] [--tamper-code | "
         "--no-tamper-code]\n"
         "                 [-o OUT] FILE...\n"
         "  qk-cli decrypt [--password P | --password-file F] [--skip-non-tamper] [-o OUT] "
         "FILE...\n"
         "  qk-cli wipe FILE...\n"
         "  qk-cli hint FILE...\n"
         "  qk-cli sha1 FILE...\n"
         "  qk-cli passhash [--password P | --password-file F]\n"
         "\n"
         "--password-file F reads the first line of F; \"-\" reads standard input (without echo "
         "on\n"
         "a terminal). Warning: a password given with --password is visible to other users of\n"
         "this machine (in the process list); prefer --password-file.\n"
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
    if (o.command == "encrypt") return RunEncrypt(o, out, err, in);
    if (o.command == "decrypt") return RunDecrypt(o, out, err, in);
    if (o.command == "wipe") return RunWipe(o, out, err);
    if (o.command == "hint") return RunHint(o, out, err);
    if (o.command == "sha1") return RunSha1(o, out, err);
    return RunPasshash(o, out, err, in);
  } catch (const UsageError& e) {
    err << "qk-cli: " << e.what() << "\n\n" << UsageText();
    return kExitUsage;
  }
}

} // namespace qk::cli
