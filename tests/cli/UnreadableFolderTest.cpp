// A folder of the tree that cannot be listed is a failed entry with its reason, never passed over:
// its files stay as they were, and the run ends with exit status 1. Under root the folder is made
// unreadable through the fault seam; as an ordinary user (nobody, when the tests run as root) by
// its permissions.
#include "cli/Cli.h"
#include "cli/RunQk.h"
#include "platform/File.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qk::test {
namespace {

class UnreadableFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::filesystem::create_directories(sub + "/deeper");
    WriteAll(root + "/open.txt", "open");
    WriteAll(sub + "/hidden.txt", "unreached");
    WriteAll(sub + "/deeper/below.txt", "below");
    WriteAll(dir / "pw", "unreadable-folder-pw\n");
  }
  void TearDown() override { platform::SetFaultHook(nullptr); }

  void RefuseListing(int error) {
    platform::SetFaultHook(
        [this, error](platform::FileOperation operation, const std::string& path) {
          return operation == platform::FileOperation::List && path == sub + "/" ? error : 0;
        });
  }
  int Run(const std::vector<std::string>& args) {
    std::istringstream in;
    out.str("");
    return cli::RunCli(args, out, err, in);
  }

  TempDir dir;
  const std::string root = dir / "木";
  const std::string sub = root + "/読めない";
  std::ostringstream out, err;
};

TEST_F(UnreadableFolderTest, EncryptionWithSourceWipeReportsTheFolderAndFails) {
  RefuseListing(EACCES);
  EXPECT_EQ(Run({"encrypt", "--ini", dir / "none.ini", "--password-file", dir / "pw", "--recursive",
                 "--wipe-source", root}),
            cli::kExitFailed);
  EXPECT_TRUE(Exists(root + "/open.txt.enc"));
  EXPECT_FALSE(Exists(root + "/open.txt"));
  EXPECT_EQ(ReadAll(sub + "/hidden.txt"), "unreached");
  // What lies below it is not reached either: it was never found.
  EXPECT_EQ(ReadAll(sub + "/deeper/below.txt"), "below");
  EXPECT_NE(out.str().find("＊フォルダを読めません(アクセス権がありません)：" + sub + "/\n"),
            std::string::npos)
      << out.str();
  EXPECT_EQ(out.str().find("全てのファイル/フォルダを正常に処理しました。"), std::string::npos);
  EXPECT_NE(out.str().find("終了しました。　失敗数 : 1個"), std::string::npos) << out.str();
}

TEST_F(UnreadableFolderTest, EveryModeAndJobCountCountsTheFolder) {
  struct Case {
    std::vector<std::string> args;
  };
  const std::vector<Case> cases{
      {{"wipe", "--recursive", "--jobs", "1"}},
      {{"wipe", "--recursive", "--jobs", "2"}},
      {{"encrypt", "--recursive", "--jobs", "2", "--password-file", dir / "pw"}},
      {{"decrypt", "--recursive", "--jobs", "1", "--password-file", dir / "pw"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[3]);
    RefuseListing(ELOOP);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--ini", dir / "none.ini", "--json", root});
    EXPECT_EQ(Run(args), cli::kExitFailed);
    EXPECT_NE(out.str().find(R"("outcome":"folder-unreadable")"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find(R"("error":"Too many levels of symbolic links")"), std::string::npos)
        << out.str();
    EXPECT_EQ(ReadAll(sub + "/hidden.txt"), "unreached");
    WriteAll(root + "/open.txt", "open");
  }
}

TEST_F(UnreadableFolderTest, AFolderThatIsNotThereIsNoFailure) {
  // Gone between being found and being listed: nothing in it is left unreached.
  RefuseListing(ENOENT);
  EXPECT_EQ(Run({"wipe", "--ini", dir / "none.ini", "--recursive", root}), cli::kExitOk)
      << out.str();
}

TEST(UnreadableFolderAsAUser, PermissionsKeepAFolderClosed) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string root = dir / "tree";
  const std::string closed = root + "/closed";
  std::filesystem::create_directories(closed);
  WriteAll(root + "/open.txt", "open");
  WriteAll(closed + "/kept.txt", "kept");
  const bool root_user = geteuid() == 0;
  if (root_user) {
    for (const std::string& path : {root, closed, root + "/open.txt", closed + "/kept.txt"})
      ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(chmod(closed.c_str(), 0000), 0);

  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (root_user && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(101);
    // nobody may not reach the program's folder: say so rather than fail.
    if (access(QK_CLI_PATH, X_OK) != 0) _exit(77);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execl(QK_CLI_PATH, QK_CLI_PATH, "wipe", "--ini", (dir / "none.ini").c_str(), "--recursive",
          root.c_str(), static_cast<char*>(nullptr));
    _exit(102);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  chmod(closed.c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "nobody cannot reach " << QK_CLI_PATH;
  ASSERT_NE(WEXITSTATUS(status), 101) << "could not become nobody";
  EXPECT_EQ(WEXITSTATUS(status), cli::kExitFailed);
  EXPECT_FALSE(Exists(root + "/open.txt"));
  EXPECT_EQ(ReadAll(closed + "/kept.txt"), "kept");
}

} // namespace
} // namespace qk::test
