// A folder tree changed under a running walk: a subfolder swapped for a symbolic link between the
// listing and the work never leads the run out of the folder it was given. The swap happens in
// the fault seam, at the open of the first file, so the race is met every time.
#include "cli/Cli.h"
#include "platform/File.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
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

  int Run(const std::vector<std::string>& args) {
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

} // namespace
} // namespace qk::test
