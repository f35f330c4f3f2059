// qk-cli over a folder tree with Japanese names: every naming mode, then decryption of the tree,
// with every byte and every file date checked.
#include "cli/RunQk.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>

namespace qk::test {
namespace {

int RunQkCli(const std::vector<std::string>& args) {
  return RunQk(args).status;
}

struct Original {
  std::string bytes;
  time_t mtime;
};

// relative path -> contents and date, for every file below root.
std::map<std::string, Original> Snapshot(const std::string& root) {
  std::map<std::string, Original> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    struct stat st {};
    stat(e.path().c_str(), &st);
    files[std::filesystem::relative(e.path(), root).string()] = {ReadAll(e.path()), st.st_mtime};
  }
  return files;
}

TEST(FolderTree, EveryNamingModeRoundTrips) {
  for (const std::string mode : {"enc", "own", "random"}) {
    TempDir dir;
    const std::string root = dir / "書類";
    std::filesystem::create_directories(root + "/写真/旅行");
    std::filesystem::create_directories(root + "/空のフォルダ");
    const std::vector<std::string> names{"見積書.xlsx", "写真/海.jpg", "写真/旅行/日記 1.txt",
                                         "写真/旅行/ﾃﾞｰﾀ.bin", "readme"};
    time_t when = 1500000000; // even seconds survive the packed date
    for (const auto& name : names) {
      WriteAll(root + "/" + name, RandomBytes(1000 + name.size() * 997, when));
      const struct timespec times[2] = {{when, 0}, {when, 0}};
      utimensat(AT_FDCWD, (root + "/" + name).c_str(), times, 0);
      when += 86400 * 3 + 2;
    }
    const auto before = Snapshot(root);
    WriteAll(dir / "pw", "folder-password\n");
    WriteAll(dir / "QK.ini", "");

    ASSERT_EQ(
        RunQkCli({"encrypt", "--ini", dir / "QK.ini", "--password-file", dir / "pw", "--name-mode",
                  mode, "--ext", ".dat", "--recursive", "--wipe-source", root}),
        0)
        << mode;
    // Only containers are left, one per source, named by the mode.
    const auto encrypted = Snapshot(root);
    ASSERT_EQ(encrypted.size(), before.size()) << mode;
    for (const auto& [name, file] : encrypted) {
      EXPECT_EQ(file.bytes.rfind("ENCRYPTED BY V5.X QK", 0), 0u) << name;
      const std::string leaf = std::filesystem::path(name).filename().string();
      if (mode == "enc") {
        EXPECT_EQ(leaf.substr(leaf.size() - 4), ".enc") << name;
      }
      if (mode == "own") {
        EXPECT_EQ(leaf.substr(leaf.size() - 4), ".dat") << name;
      }
      if (mode == "random") {
        EXPECT_EQ(leaf.size(), 11u) << name;
      }
    }

    ASSERT_EQ(RunQkCli({"decrypt", "--ini", dir / "QK.ini", "--password-file", dir / "pw",
                        "--recursive", "--wipe-source", root}),
              0)
        << mode;
    const auto after = Snapshot(root);
    ASSERT_EQ(after.size(), before.size()) << mode;
    for (const auto& [name, file] : before) {
      ASSERT_TRUE(after.count(name)) << mode << ": " << name;
      EXPECT_EQ(after.at(name).bytes, file.bytes) << mode << ": " << name;
      EXPECT_EQ(after.at(name).mtime, file.mtime) << mode << ": " << name;
    }
    EXPECT_TRUE(std::filesystem::is_directory(root + "/空のフォルダ"));
  }
}

} // namespace
} // namespace qk::test
