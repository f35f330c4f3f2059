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
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace qk::test {
namespace {

// One race: a command, on the folder walked or on its files named one by one.
struct RaceCase {
  const char* name;
  const char* command; // wipe, encrypt (with the source wipe) or decrypt
  bool walked;
};

class WalkRaceTest : public ::testing::TestWithParam<RaceCase> {
protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(outside.c_str(), 0700), 0);
    WriteAll(root + "/first.bin", std::string(5000, 'f'));
    WriteAll(sub + "/victim.txt", "inside");
    WriteAll(outside + "/victim.txt", "precious");
    WriteAll(dir / "pw", "walk-race-password\n");
  }
  void TearDown() override { platform::SetFaultHook(nullptr); }

  // At the first operation of its kind on trigger, swap runs, once.
  void SwapAt(platform::FileOperation kind, const std::string& trigger,
              std::function<void()> swap) {
    platform::SetFaultHook(
        [this, kind, trigger, swap](platform::FileOperation operation, const std::string& path) {
          if (!swapped && operation == kind && path == trigger) {
            swapped = true;
            swap();
          }
          return 0;
        });
  }
  // At the open of trigger, folder becomes a link to the outside folder.
  void LinkOutsideAt(const std::string& trigger, const std::string& folder) {
    SwapAt(platform::FileOperation::Open, trigger, [this, folder] {
      EXPECT_EQ(std::rename(folder.c_str(), (folder + ".moved").c_str()), 0);
      EXPECT_EQ(symlink(outside.c_str(), folder.c_str()), 0);
    });
  }

  // One file at a time, in the list's order: the swap at the first file's open then comes
  // before any other file is reached, however many processors there are.
  int Run(std::vector<std::string> args) {
    args.insert(args.begin() + 1, {"--jobs", "1"});
    std::istringstream in;
    return cli::RunCli(args, out, err, in);
  }
  // The command on the tree: the folder walked, or its two files named (ext after each name).
  int RunOnTree(const std::string& command, bool walked, const std::string& ext = "") {
    std::vector<std::string> args{command, "--ini", dir / "none.ini"};
    if (command != "wipe") args.insert(args.end(), {"--password-file", dir / "pw"});
    if (command == "encrypt") args.push_back("--wipe-source");
    if (walked) {
      args.insert(args.end(), {"--recursive", root});
    } else {
      args.insert(args.end(), {root + "/first.bin" + ext, sub + "/victim.txt" + ext});
    }
    return Run(args);
  }

  TempDir dir;
  const std::string root = dir / "root";
  const std::string sub = root + "/sub";
  const std::string moved = sub + ".moved";
  const std::string outside = dir / "outside";
  bool swapped = false;
  std::ostringstream out, err;
};

const RaceCase kRaces[] = {
    {"RecursiveWipe", "wipe", true},          {"RecursiveEncryption", "encrypt", true},
    {"RecursiveDecryption", "decrypt", true}, {"NamedWipe", "wipe", false},
    {"NamedEncryption", "encrypt", false},    {"NamedDecryption", "decrypt", false},
};

TEST_P(WalkRaceTest, StaysInTheFoldersItWasGiven) {
  const RaceCase& c = GetParam();
  const std::string command = c.command;
  const std::string ext = command == "decrypt" ? ".enc" : "";
  if (command == "decrypt") {
    // Containers first, without the swap; the folder behind the link then holds a container
    // under the listed name.
    ASSERT_EQ(RunOnTree("encrypt", c.walked), cli::kExitOk) << out.str() << err.str();
    WriteAll(outside + "/victim.txt.enc", ReadAll(sub + "/victim.txt.enc"));
    ASSERT_EQ(unlink((outside + "/victim.txt").c_str()), 0);
  }
  LinkOutsideAt(root + "/first.bin" + ext, sub);
  EXPECT_EQ(RunOnTree(command, c.walked, ext), cli::kExitFailed);
  ASSERT_TRUE(swapped);
  if (command == "decrypt") {
    EXPECT_FALSE(Exists(outside + "/victim.txt")) << "decrypted into the folder behind the link";
    EXPECT_TRUE(Exists(outside + "/victim.txt.enc"));
    EXPECT_TRUE(Exists(root + "/first.bin"));
    EXPECT_TRUE(Exists(moved + "/victim.txt.enc"));
    return;
  }
  EXPECT_EQ(ReadAll(outside + "/victim.txt"), "precious");
  EXPECT_FALSE(Exists(outside + "/victim.txt.enc"));
  EXPECT_EQ(ReadAll(moved + "/victim.txt"), "inside");
  if (command == "wipe") {
    EXPECT_FALSE(Exists(root + "/first.bin"));
    // The entry behind the link is reported as a failure.
    EXPECT_NE(out.str().find("＊抹消不可"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find(sub + "/victim.txt"), std::string::npos) << out.str();
  } else {
    EXPECT_TRUE(Exists(root + "/first.bin.enc"));
  }
}

INSTANTIATE_TEST_SUITE_P(Races, WalkRaceTest, ::testing::ValuesIn(kRaces),
                         [](const auto& info) { return std::string(info.param.name); });

// An output named with -o, for the first file named.
using NamedRaceTest = WalkRaceTest;

TEST_F(NamedRaceTest, TheFolderOfAGivenOutputIsHeldToTheOneNamed) {
  ASSERT_EQ(Run({"encrypt", "--ini", dir / "none.ini", "--password-file", dir / "pw",
                 "--wipe-source", root + "/first.bin"}),
            cli::kExitOk)
      << out.str() << err.str();
  const std::string outputs = dir / "outputs";
  ASSERT_EQ(mkdir(outputs.c_str(), 0700), 0);
  LinkOutsideAt(root + "/first.bin.enc", outputs);
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
  SwapAt(platform::FileOperation::Delete, root + "/first.bin.enc", [&output, &target] {
    EXPECT_EQ(unlink(output.c_str()), 0);
    EXPECT_EQ(symlink(target.c_str(), output.c_str()), 0);
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
