// qk-cli end to end: the real executable on real files.
#include "cli/RunQk.h"
#include "support/TestSupport.h"

#include "cli/Cli.h"
#include "platform/File.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qk::test {
namespace {

const std::string kAllDone = "全てのファイル/フォルダを正常に処理しました。\n";

// The names in a folder, sorted.
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class CliTest : public ::testing::Test {
protected:
  TempDir dir;
};

TEST_F(CliTest, RoundTripsEveryCipherAndSize) {
  const std::string password = "日本語のパスワード";
  for (const std::string algorithm : {"twofish", "rijndael", "gost"}) {
    for (const bool tamper : {true, false}) {
      for (std::size_t size : {0, 1, 15, 16, 17, 8191, 8192, 8193, 3 * 1024 * 1024 + 5}) {
        const std::string name = "資料 " + algorithm + std::to_string(size) + ".txt";
        const std::string source = dir / name;
        const std::string bytes = RandomBytes(size, static_cast<std::uint32_t>(size));
        WriteAll(source, bytes);
        const auto enc =
            RunQk({"encrypt", "--password", password, "--hint", "ヒント", "--algorithm", algorithm,
                   tamper ? "--tamper-code" : "--no-tamper-code", source});
        ASSERT_EQ(enc.status, 0) << enc.err;
        EXPECT_EQ(enc.out, "暗号化成功：" + source + "\n" + kAllDone);
        EXPECT_EQ(RunQk({"hint", source + ".enc"}).out, "ヒント\n");
        ASSERT_EQ(unlink(source.c_str()), 0);

        const auto dec = RunQk({"decrypt", "--password", password, source + ".enc"});
        ASSERT_EQ(dec.status, 0) << dec.err;
        const std::string note = tamper ? "改ざん検知照合OK" : "改ざん検知情報無し";
        EXPECT_EQ(dec.out,
                  "復号成功(" + note + ") : " + source + ".enc\t" + source + "\n" + kAllDone);
        EXPECT_EQ(ReadAll(source), bytes) << name;
        unlink(source.c_str());
        unlink((source + ".enc").c_str());
      }
    }
  }
}

// Every route writes by the same rules: a container takes its source's permission bits, a
// decrypted file is its owner's alone and takes the stored date.
TEST_F(CliTest, RestoresTheStoredDateAndKeepsTheModeRules) {
  struct Route {
    const char* what;
    std::vector<std::string> encrypt, decrypt; // options before the paths
    bool named;                                // -o: the outputs are x.qk and back.txt
  };
  const std::vector<Route> routes{
      {"a list", {}, {}, false},
      {"-o", {"-o", dir / "x.qk"}, {"-o", dir / "back.txt"}, true},
      {"--jobs 2", {"--jobs", "2"}, {"--jobs", "2"}, false},
  };
  for (const Route& route : routes) {
    SCOPED_TRACE(route.what);
    const std::string source = dir / "dated.txt";
    const std::string other = dir / "other.txt";
    WriteAll(source, "x");
    WriteAll(other, "y");
    ASSERT_EQ(chmod(source.c_str(), 0640), 0);
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}}; // 2001-09-09, even seconds
    ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    std::vector<std::string> enc{"encrypt", "--password", "secret1"};
    enc.insert(enc.end(), route.encrypt.begin(), route.encrypt.end());
    enc.push_back(source);
    if (!route.named) enc.push_back(other);
    ASSERT_EQ(RunQk(enc).status, 0);
    const std::string container = route.named ? dir / "x.qk" : source + ".enc";
    const std::string back = route.named ? dir / "back.txt" : source;
    unlink(source.c_str());
    std::vector<std::string> dec{"decrypt", "--password", "secret1"};
    dec.insert(dec.end(), route.decrypt.begin(), route.decrypt.end());
    dec.push_back(container);
    if (!route.named) dec.push_back(other + ".enc");
    struct stat st {};
    ASSERT_EQ(stat(container.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    unlink(other.c_str());
    ASSERT_EQ(RunQk(dec).status, 0);
    ASSERT_EQ(stat(back.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000000);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    for (const std::string& name : Listing(dir.path())) unlink((dir / name).c_str());
  }
}

TEST_F(CliTest, PasswordFromFileOrStandardInput) {
  const std::string source = dir / "a.txt";
  WriteAll(source, "abc");
  WriteAll(dir / "pw", "secret\r\nsecond line\n");
  ASSERT_EQ(RunQk({"encrypt", "--password-file", dir / "pw", source}).status, 0);
  const auto wrong =
      RunQk({"decrypt", "--password-file", "-", "-o", dir / "out", source + ".enc"}, "nope\n");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.out,
            "＊パスワードが違います：" + source + ".enc\n終了しました。　失敗数 : 1個\n");
  const auto right =
      RunQk({"decrypt", "--password-file", "-", "-o", dir / "out", source + ".enc"}, "secret\n");
  EXPECT_EQ(right.status, 0);
  EXPECT_EQ(ReadAll(dir / "out"), "abc");
  EXPECT_EQ(RunQk({"passhash", "--password", "secret"}).out,
            RunQk({"passhash", "--password-file", "-"}, "secret").out);
  EXPECT_EQ(RunQk({"passhash", "--password", "secret"}).out.size(), 9u);
}

// A password file that another user owns or could write, or a named pipe that anyone may feed,
// would give a password the other user knows: refused, with the reason, before anything is read.
TEST_F(CliTest, PasswordFilesThatOthersCouldSetAreRefused) {
  const std::string own = dir / "own";
  WriteAll(own, "secret\n");
  ASSERT_EQ(chmod(own.c_str(), 0600), 0);
  struct Case {
    std::string path;
    std::string reason; // empty: taken
  };
  std::vector<Case> cases{{own, ""}};
  for (const mode_t mode : {0620, 0602, 0666}) {
    const std::string path = dir / ("mode" + std::to_string(mode));
    WriteAll(path, "secret\n");
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    cases.push_back({path, "can be written by other users"});
  }
  // A pipe at a name, with a password waiting in it (as its feeder would leave it).
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int feeder = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(feeder, 0);
  ASSERT_EQ(write(feeder, "secret\n", 7), 7);
  cases.push_back({fifo, "is not a regular file"});
  cases.push_back({dir.path(), "is not a regular file"});
  cases.push_back({"/dev/null", "is not a regular file"});
  if (geteuid() == 0) {
    const std::string theirs = dir / "theirs";
    WriteAll(theirs, "secret\n");
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    cases.push_back({theirs, "belongs to another user"});
  }
  // A link that another user put in a folder anyone may write, to a file the victim may read.
  const std::string shared = dir / "shared";
  ASSERT_EQ(mkdir(shared.c_str(), 01777), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(symlink(own.c_str(), (shared + "/link").c_str()), 0);
  cases.push_back({shared + "/link", "is a symbolic link in a folder that other users can write"});
  // A terminal given by its name is the user's own input; another user's terminal is theirs.
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
    ASSERT_EQ(write(master, "secret\n", 7), 7);
    cases.push_back({ptsname(master), ""});
  }
  const int otherMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (geteuid() == 0 && otherMaster >= 0 && grantpt(otherMaster) == 0 &&
      unlockpt(otherMaster) == 0 && chown(ptsname(otherMaster), 65534, 65534) == 0) {
    ASSERT_EQ(write(otherMaster, "secret\n", 7), 7);
    cases.push_back({ptsname(otherMaster), "is a terminal of another user"});
  }
  const std::string expected = RunQk({"passhash", "--password", "secret"}).out;
  for (const Case& c : cases) {
    const auto o = RunQk({"passhash", "--password-file", c.path});
    if (c.reason.empty()) {
      EXPECT_EQ(o.status, 0) << c.path << o.err;
      EXPECT_EQ(o.out, expected) << c.path;
      continue;
    }
    EXPECT_EQ(o.status, 2) << c.path;
    EXPECT_TRUE(o.out.empty()) << c.path;
    EXPECT_NE(o.err.find("the password file " + c.path + " " + c.reason), std::string::npos)
        << o.err;
  }
  close(feeder);
  if (master >= 0) close(master);
  if (otherMaster >= 0) close(otherMaster);
  if (geteuid() != 0) GTEST_SKIP() << "not root: a file of another user's cannot be made here";
}

TEST_F(CliTest, OutputOptionNamesTheContainer) {
  const std::string source = dir / "a.txt";
  WriteAll(source, "abc");
  WriteAll(dir / "taken.bin", "keep");
  const auto enc = RunQk({"encrypt", "--password", "secret1", "-o", dir / "taken.bin", source});
  ASSERT_EQ(enc.status, 0);
  EXPECT_EQ(ReadAll(dir / "taken.bin"), "keep");
  EXPECT_TRUE(Exists(dir / "taken.bin_RENAMED.bin"));
}

TEST_F(CliTest, HashesAndWipes) {
  const std::string file = dir / "abc.txt";
  WriteAll(file, "abc");
  const auto sha = RunQk({"sha1", file});
  EXPECT_EQ(sha.status, 0);
  EXPECT_EQ(sha.out, "A9993E36 4706816A BA3E2571 7850C26C 9CD0D89D  " + file + "\n");
  EXPECT_EQ(RunQk({"sha1", dir / "missing"}).status, 1);

  const std::string ro = dir / "ro";
  WriteAll(ro, "keep");
  chmod(ro.c_str(), 0444);
  const auto wipe = RunQk({"wipe", file, ro});
  EXPECT_EQ(wipe.status, 1);
  EXPECT_EQ(wipe.out,
            "抹消成功 : " + file + "\n" +
                "＊抹消不可(ファイルが無効or読み取り専用orロックされている可能性があります。) : " +
                ro + "\n終了しました。　失敗数 : 1個\n");
  EXPECT_EQ(ReadAll(ro), "keep");
  // A path that does not exist adds nothing but is reported and fails the run.
  const auto missing = RunQk({"wipe", dir / "missing"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("not found"), std::string::npos);
  EXPECT_FALSE(Exists(file));
}

// Each refusal of a wipe says why in words that fit (on standard error, after the result line).
TEST_F(CliTest, WipeRefusalsSayWhy) {
  const std::string notRegular = "通常のファイルではありません（パイプ・ソケット・デバイスなど）";
  struct Case {
    std::string path;
    std::string reason;
  };
  std::vector<Case> cases;
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  cases.push_back({fifo, notRegular});
  const std::string socketPath = dir / "socket";
  const int sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  cases.push_back({socketPath, notRegular});
  // A device of its own (where devices may be made and opened here).
  const std::string device = dir / "null";
  if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    const int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) cases.push_back({device, notRegular});
    if (fd >= 0) close(fd);
  }
  const std::string linked = dir / "linked";
  WriteAll(linked, "kept");
  ASSERT_EQ(link(linked.c_str(), (dir / "second-name").c_str()), 0);
  cases.push_back({linked, "名前（ハードリンク）が２つ以上あるファイルです"});
  const std::string readOnly = dir / "read-only";
  WriteAll(readOnly, "kept");
  ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
  cases.push_back({readOnly, "読み取り専用です"});
  const std::string symlinked = dir / "symlink";
  ASSERT_EQ(symlink(linked.c_str(), symlinked.c_str()), 0);
  cases.push_back({symlinked, "シンボリックリンクです（たどりません）"});
  for (const Case& c : cases) {
    const auto o = RunQk({"wipe", c.path});
    EXPECT_EQ(o.status, 1) << c.path;
    EXPECT_NE(o.err.find("qk-cli: " + c.path + ": " + c.reason + "\n"), std::string::npos)
        << c.path << "\n"
        << o.err;
    EXPECT_TRUE(Exists(c.path)) << c.path;
  }
  close(sock);
  EXPECT_EQ(ReadAll(linked), "kept");
}

// A named path that is not there fails the run: the closing text counts it with the files that
// failed, as the status does.
TEST_F(CliTest, MissingPathsCountInTheClosingText) {
  WriteAll(dir / "a.txt", "a");
  WriteAll(dir / "b.txt", "b");
  struct Case {
    std::vector<std::string> args;
    std::string closing;
  };
  const std::vector<Case> cases{
      {{"wipe", dir / "a.txt", dir / "gone"}, "終了しました。　失敗数 : 1個\n"},
      {{"wipe", "--jobs", "2", dir / "gone", dir / "b.txt", dir / "gone2"},
       "終了しました。　失敗数 : 2個\n"},
      {{"decrypt", "--password", "secret1", dir / "gone.enc"}, "終了しました。　失敗数 : 1個\n"},
  };
  for (const Case& c : cases) {
    const auto o = RunQk(c.args);
    EXPECT_EQ(o.status, 1);
    ASSERT_GE(o.out.size(), c.closing.size()) << o.out;
    EXPECT_EQ(o.out.substr(o.out.size() - c.closing.size()), c.closing) << o.out;
    EXPECT_NE(o.err.find("qk-cli: not found: "), std::string::npos) << o.err;
  }
  EXPECT_FALSE(Exists(dir / "a.txt"));
  EXPECT_FALSE(Exists(dir / "b.txt"));
}

// hint reads each file once: a named pipe put at the name after that read (swapped in when the
// file is closed) is never opened, so nothing waits for a writer. The run is a child with an
// alarm, so a hang fails the test instead of stopping the suite.
TEST_F(CliTest, HintOpensEachFileOnce) {
  WriteAll(dir / "a.txt", "a");
  ASSERT_EQ(RunQk({"encrypt", "--password", "secret1", "--hint", "the hint", dir / "a.txt"}).status,
            0);
  const std::string container = dir / "a.txt.enc";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    alarm(20);
    int opens = 0;
    platform::SetFaultHook([&](platform::FileOperation operation, const std::string& path) {
      if (path != container) return 0;
      if (operation == platform::FileOperation::Open) ++opens;
      if (operation == platform::FileOperation::Close &&
          (rename(container.c_str(), (container + ".moved").c_str()) != 0 ||
           mkfifo(container.c_str(), 0600) != 0)) {
        _exit(3);
      }
      return 0;
    });
    std::ostringstream out, err;
    std::istringstream in;
    const int status = cli::RunCli({"hint", container}, out, err, in);
    _exit(status == 0 && out.str() == "the hint\n" && opens == 1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_FALSE(WIFSIGNALED(status)) << "hint waited on the pipe put at the name";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The own extension of the settings file becomes part of every name, as --ext does: checked
// alike, before anything is written.
TEST_F(CliTest, OwnExtensionOfTheSettingsFileIsChecked) {
  WriteAll(dir / "a.txt", "a");
  const std::string ini = dir / "QK.ini";
  for (const std::string mode : {"OWN_EXT=1", "RANDOM_EXT=1"}) {
    for (const std::string ext : {"/../../x", "x/y", " . ", "", "a|b"}) {
      WriteAll(ini, "[SYSTEM]\nDEFAULT_EXT=0\n" + mode + "\nOWN_EXT_STR=\"" + ext + "\"\n");
      const auto o = RunQk({"encrypt", "--ini", ini, "--password", "secret1", dir / "a.txt"});
      EXPECT_EQ(o.status, 2) << mode << " " << ext;
      EXPECT_NE(o.err.find("of the settings file"), std::string::npos) << o.err;
      EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"QK.ini", "a.txt"})) << ext;
    }
  }
  // --ext or the default naming take its place.
  EXPECT_EQ(RunQk({"encrypt", "--ini", ini, "--password", "secret1", "--name-mode", "own", "--ext",
                   ".ok", dir / "a.txt"})
                .status,
            0);
  EXPECT_EQ(
      RunQk({"encrypt", "--ini", ini, "--password", "secret1", "--name-mode", "enc", dir / "a.txt"})
          .status,
      0);
  EXPECT_EQ(Listing(dir.path()),
            (std::vector<std::string>{"QK.ini", "a.txt", "a.txt.enc", "a.txt.ok"}));
}

// Each usage error is told before anything is read, written or wiped. The runs start in dir,
// where files named like options lie, as another user may put them in a shared folder.
TEST_F(CliTest, UsageErrorsExitWithTwo) {
  const std::string file = dir / "a.txt";
  WriteAll(file, "abc");
  WriteAll(dir / "--wipe-source", "planted");
  WriteAll(dir / "--recursive", "planted");
  const std::string pw = dir / "pw";
  WriteAll(pw, "secret1\n");
  ASSERT_EQ(chmod(pw.c_str(), 0600), 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{},
        {"frobnicate", file},
        {"encrypt", file},
        {"encrypt", "--password", "secret1", "--bogus", file},
        {"encrypt", "--password", "secret1"},
        {"encrypt", "--password", "secret1", "-o", dir / "x", file, file},
        {"hint", "--password", "secret1", file},
        {"encrypt", "--password", "secret1", "--name-mode", "own", "--ext", "/../x", file},
        {"encrypt", "--password", "secret1", "--ext", " . ", file},
        {"encrypt", "--password", "short", file},
        {"encrypt", "--password", "", file},
        {"encrypt", "--password", "secret1", "--hint", "is secret1", file},
        {"encrypt", "--password"},
        {"encrypt", "--password", "secret1", "--algorithm", "des", file},
        // "qk-cli encrypt ... *" where another user put a file named like an option.
        {"encrypt", "--password", "secret1", "--wipe-source", file},
        // The same, where the planted file was removed before qk-cli looked.
        {"encrypt", "--password", "secret1", file, "--json"},
        {"encrypt", "--password", "secret1", "--password", "secret2", file},
        {"encrypt", "--password", "secret1", "-o", dir / ".qk-abcdef012345", file},
        {"encrypt", "--password-file", pw, "--password-file", pw, file},
        {"encrypt", "--password", "secret1", "--password-file", pw, file},
        {"wipe", "--recursive", file},
        {"sha1", "--recursive", file}}) {
    const auto o = RunQk(args, "", dir.path());
    EXPECT_EQ(o.status, 2) << ::testing::PrintToString(args);
    EXPECT_FALSE(o.err.empty());
    EXPECT_TRUE(o.out.empty());
  }
  EXPECT_EQ(ReadAll(file), "abc");
  EXPECT_FALSE(Exists(file + ".enc"));
  // The refusal names the word and the way out; after "--" the same words are paths.
  const auto planted = RunQk({"wipe", "--wipe-source", file}, "", dir.path());
  EXPECT_NE(planted.err.find("'--wipe-source' reads as an option and also names a file here"),
            std::string::npos)
      << planted.err;
  EXPECT_NE(planted.err.find("put paths after \"--\""), std::string::npos) << planted.err;
  const auto after = RunQk({"sha1", "--", "--wipe-source", "--recursive"}, "", dir.path());
  EXPECT_EQ(after.status, 0) << after.err;
  const auto help = RunQk({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("visible to other users"), std::string::npos);
}

// Every combination of cipher, tamper code, SKIPNONHMAC and source wipe, encryption and then
// decryption: the proof before a source wipe checks what was written, never the policy.
TEST_F(CliTest, EveryOptionCombinationWithSourceWipes) {
  for (const std::string algorithm : {"twofish", "rijndael", "gost"}) {
    for (const bool tamper : {true, false}) {
      for (const bool skip : {false, true}) {
        for (const bool wipe : {false, true}) {
          SCOPED_TRACE(algorithm + (tamper ? " code" : " no code") + (skip ? " skip" : "") +
                       (wipe ? " wipe" : ""));
          const std::string source = dir / "a.txt";
          const std::string bytes = RandomBytes(9000, 8);
          WriteAll(source, bytes);
          std::vector<std::string> flags{"--password",
                                         "password",
                                         "--algorithm",
                                         algorithm,
                                         tamper ? "--tamper-code" : "--no-tamper-code",
                                         skip ? "--skip-non-tamper" : "--allow-non-tamper"};
          if (wipe) flags.push_back("--wipe-source");
          std::vector<std::string> enc{"encrypt"};
          enc.insert(enc.end(), flags.begin(), flags.end());
          enc.push_back(source);
          const auto encrypted = RunQk(enc);
          ASSERT_EQ(encrypted.status, 0) << encrypted.out << encrypted.err;
          EXPECT_EQ(encrypted.out, "暗号化成功：" + source + "\n" + kAllDone);
          EXPECT_EQ(access(source.c_str(), F_OK) == 0, !wipe);
          unlink(source.c_str());

          std::vector<std::string> dec{"decrypt"};
          dec.insert(dec.end(), flags.begin(), flags.end());
          dec.push_back(source + ".enc");
          const auto decrypted = RunQk(dec);
          if (skip && !tamper) {
            EXPECT_EQ(decrypted.status, 1);
            EXPECT_EQ(access((source + ".enc").c_str(), F_OK), 0);
          } else {
            ASSERT_EQ(decrypted.status, 0) << decrypted.out << decrypted.err;
            EXPECT_EQ(ReadAll(source), bytes);
            EXPECT_EQ(access((source + ".enc").c_str(), F_OK) == 0, !wipe);
          }
          unlink(source.c_str());
          unlink((source + ".enc").c_str());
        }
      }
    }
  }
}

} // namespace
} // namespace qk::test
