// A folder tree changed under a running walk: a subfolder swapped for a symbolic link between the
// listing and the work never leads the run out of the folder it was given. The same for files
// named one by one, whose folders are swapped the same way. The swap happens in the fault seam,
// at the open of the first file, so the race is met every time.
#include "cli/Cli.h"
#include "platform/File.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace qk::test {
namespace {

class WalkRaceTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(outside.c_str(), 0700), 0);
    WriteAll(root + "/first.bin", std::string(5000, 'f'));
    WriteAll(sub + "/victim.txt", "inside");
    WriteAll(outside + "/victim.txt", "precious");
    WriteAll(dir / "pw", "walk-race-password\n");
    // At the first open of the first file, sub becomes a link to the outside folder.
    platform::SetFaultHook([this](platform::FileOperation operation, const std::string& path) {
      if (!swapped && operation == platform::FileOperation::Open && path == root + "/first.bin") {
        swapped = true;
        EXPECT_EQ(std::rename(sub.c_str(), (root + "/moved").c_str()), 0);
        EXPECT_EQ(symlink(outside.c_str(), sub.c_str()), 0);
      }
      return 0;
    });
  }
  void TearDown() override { platform::SetFaultHook(nullptr); }

  // One file at a time, in the list's order: the swap at the first file's open then comes
  // before any other file is reached, however many processors there are.
  int Run(std::vector<std::string> args) {
    args.insert(args.begin() + 1, {"--jobs", "1"});
    std::istringstream in;
    return cli::RunCli(args, out, err, in);
  }

  TempDir dir;
  const std::string root = dir / "root";
  const std::string sub = root + "/sub";
  const std::string outside = dir / "outside";
  bool swapped = false;
  std::ostringstream out, err;
};

TEST_F(WalkRaceTest, RecursiveWipeStaysInItsFolder) {
  EXPECT_EQ(Run({"wipe", "--ini", dir / "none.ini", "--recursive", root}), cli::kExitFailed);
  ASSERT_TRUE(swapped);
  EXPECT_EQ(ReadAll(outside + "/victim.txt"), "precious");
  EXPECT_EQ(ReadAll(root + "/moved/victim.txt"), "inside");
  EXPECT_FALSE(Exists(root + "/first.bin"));
  // The entry behind the link is reported as a failure.
  EXPECT_NE(out.str().find("＊抹消不可"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find(sub + "/victim.txt"), std::string::npos) << out.str();
}

TEST_F(WalkRaceTest, EncryptionWithSourceWipeStaysInItsFolder) {
  EXPECT_EQ(Run({"encrypt", "--ini", dir / "none.ini", "--password-file", dir / "pw", "--recursive",
                 "--wipe-source", root}),
            cli::kExitFailed);
  ASSERT_TRUE(swapped);
  EXPECT_EQ(ReadAll(outside + "/victim.txt"), "precious");
  EXPECT_FALSE(Exists(outside + "/victim.txt.enc"));
  EXPECT_EQ(ReadAll(root + "/moved/victim.txt"), "inside");
  EXPECT_TRUE(Exists(root + "/first.bin.enc"));
}

TEST_F(WalkRaceTest, DecryptionStaysInItsFolder) {
  // Containers first, without the swap.
  platform::SetFaultHook(nullptr);
  ASSERT_EQ(Run({"encrypt", "--ini", dir / "none.ini", "--password-file", dir / "pw", "--recursive",
                 "--wipe-source", root}),
            cli::kExitOk)
      << out.str() << err.str();
  // The folder behind the link holds a container under the listed name.
  WriteAll(outside + "/victim.txt.enc", ReadAll(sub + "/victim.txt.enc"));
  ASSERT_EQ(unlink((outside + "/victim.txt").c_str()), 0);
  platform::SetFaultHook([this](platform::FileOperation operation, const std::string& path) {
    if (!swapped && operation == platform::FileOperation::Open && path == root + "/first.bin.enc") {
      swapped = true;
      EXPECT_EQ(std::rename(sub.c_str(), (root + "/moved").c_str()), 0);
      EXPECT_EQ(symlink(outside.c_str(), sub.c_str()), 0);
    }
    return 0;
  });
  EXPECT_EQ(Run({"decrypt", "--ini", dir / "none.ini", "--password-file", dir / "pw", "--recursive",
                 root}),
            cli::kExitFailed);
  ASSERT_TRUE(swapped);
  EXPECT_FALSE(Exists(outside + "/victim.txt")) << "decrypted into the folder behind the link";
  EXPECT_TRUE(Exists(root + "/first.bin"));
  EXPECT_TRUE(Exists(root + "/moved/victim.txt.enc"));
}

// The same files named one by one on the command line, as a shell's glob or a file manager's
// selection names them.
using NamedRaceTest = WalkRaceTest;

TEST_F(NamedRaceTest, WipeStaysInTheFoldersNamed) {
  EXPECT_EQ(Run({"wipe", "--ini", dir / "none.ini", root + "/first.bin", sub + "/victim.txt"}),
            cli::kExitFailed);
  ASSERT_TRUE(swapped);
  EXPECT_EQ(ReadAll(outside + "/victim.txt"), "precious");
  EXPECT_EQ(ReadAll(root + "/moved/victim.txt"), "inside");
  EXPECT_FALSE(Exists(root + "/first.bin"));
  EXPECT_NE(out.str().find("＊抹消不可"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find(sub + "/victim.txt"), std::string::npos) << out.str();
}

TEST_F(NamedRaceTest, EncryptionWithSourceWipeStaysInTheFoldersNamed) {
  EXPECT_EQ(Run({"encrypt", "--ini", dir / "none.ini", "--password-file", dir / "pw",
                 "--wipe-source", root + "/first.bin", sub + "/victim.txt"}),
            cli::kExitFailed);
  ASSERT_TRUE(swapped);
  EXPECT_EQ(ReadAll(outside + "/victim.txt"), "precious");
  EXPECT_FALSE(Exists(outside + "/victim.txt.enc"));
  EXPECT_EQ(ReadAll(root + "/moved/victim.txt"), "inside");
  EXPECT_TRUE(Exists(root + "/first.bin.enc"));
}

TEST_F(NamedRaceTest, DecryptionStaysInTheFoldersNamed) {
  platform::SetFaultHook(nullptr);
  ASSERT_EQ(Run({"encrypt", "--ini", dir / "none.ini", "--password-file", dir / "pw",
                 "--wipe-source", root + "/first.bin", sub + "/victim.txt"}),
            cli::kExitOk)
      << out.str() << err.str();
  WriteAll(outside + "/victim.txt.enc", ReadAll(sub + "/victim.txt.enc"));
  ASSERT_EQ(unlink((outside + "/victim.txt").c_str()), 0);
  platform::SetFaultHook([this](platform::FileOperation operation, const std::string& path) {
    if (!swapped && operation == platform::FileOperation::Open && path == root + "/first.bin.enc") {
      swapped = true;
      EXPECT_EQ(std::rename(sub.c_str(), (root + "/moved").c_str()), 0);
      EXPECT_EQ(symlink(outside.c_str(), sub.c_str()), 0);
    }
    return 0;
  });
  EXPECT_EQ(Run({"decrypt", "--ini", dir / "none.ini", "--password-file", dir / "pw",
                 root + "/first.bin.enc", sub + "/victim.txt.enc"}),
            cli::kExitFailed);
  ASSERT_TRUE(swapped);
  EXPECT_FALSE(Exists(outside + "/victim.txt")) << "decrypted into the folder behind the link";
  EXPECT_TRUE(Exists(outside + "/victim.txt.enc"));
  EXPECT_TRUE(Exists(root + "/first.bin"));
  EXPECT_TRUE(Exists(root + "/moved/victim.txt.enc"));
}

TEST_F(NamedRaceTest, TheFolderOfAGivenOutputIsHeldToTheOneNamed) {
  platform::SetFaultHook(nullptr);
  ASSERT_EQ(Run({"encrypt", "--ini", dir / "none.ini", "--password-file", dir / "pw",
                 "--wipe-source", root + "/first.bin"}),
            cli::kExitOk)
      << out.str() << err.str();
  const std::string outputs = dir / "outputs";
  ASSERT_EQ(mkdir(outputs.c_str(), 0700), 0);
  platform::SetFaultHook([&](platform::FileOperation operation, const std::string& path) {
    if (!swapped && operation == platform::FileOperation::Open && path == root + "/first.bin.enc") {
      swapped = true;
      EXPECT_EQ(std::rename(outputs.c_str(), (dir / "outputs.moved").c_str()), 0);
      EXPECT_EQ(symlink(outside.c_str(), outputs.c_str()), 0);
    }
    return 0;
  });
  EXPECT_EQ(Run({"decrypt", "--ini", dir / "none.ini", "--password-file", dir / "pw",
                 "--wipe-source", "-o", outputs + "/plain.bin", root + "/first.bin.enc"}),
            cli::kExitFailed);
  ASSERT_TRUE(swapped);
  EXPECT_FALSE(Exists(outside + "/plain.bin")) << "written into the folder behind the link";
  EXPECT_TRUE(Exists(root + "/first.bin.enc"));
}

TEST_F(NamedRaceTest, TheStoredDateIsNeverSetThroughALink) {
  // The output given with -o is swapped for a link to another file while its container is wiped;
  // the date restored afterwards must not land on that file.
  platform::SetFaultHook(nullptr);
  ASSERT_EQ(Run({"encrypt", "--ini", dir / "none.ini", "--password-file", dir / "pw",
                 "--wipe-source", root + "/first.bin"}),
            cli::kExitOk)
      << out.str() << err.str();
  const std::string outputs = dir / "outputs";
  ASSERT_EQ(mkdir(outputs.c_str(), 0700), 0);
  const std::string output = outputs + "/plain.bin";
  const std::string target = outside + "/victim.txt";
  const struct timespec when[2] = {{1700000000, 0}, {1700000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, target.c_str(), when, 0), 0);
  platform::SetFaultHook([&](platform::FileOperation operation, const std::string& path) {
    if (!swapped && operation == platform::FileOperation::Delete &&
        path == root + "/first.bin.enc") {
      swapped = true;
      EXPECT_EQ(unlink(output.c_str()), 0);
      EXPECT_EQ(symlink(target.c_str(), output.c_str()), 0);
    }
    return 0;
  });
  Run({"decrypt", "--ini", dir / "none.ini", "--password-file", dir / "pw", "--wipe-source", "-o",
       output, root + "/first.bin.enc"});
  ASSERT_TRUE(swapped) << out.str() << err.str();
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1700000000);
  EXPECT_EQ(ReadAll(target), "precious");
}

} // namespace
} // namespace qk::test
