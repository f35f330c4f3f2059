// Paths found by a walk are reached again through descriptors: a folder swapped for a link, or a
// file swapped for another, is refused by every operation; paths elsewhere work as before.
#include "platform/Listed.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qk::platform {
namespace {

using test::ReadAll;
using test::WriteAll;

FileIdentity IdentityOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

int OpenError(const std::function<File()>& open) {
  try {
    open();
    return 0;
  } catch (const IoError& e) {
    return e.errorCode();
  }
}

class ListedTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(outside.c_str(), 0700), 0);
    WriteAll(file, "listed");
    WriteAll(outside + "/f.txt", "outside");
    // As a walk of root would note them.
    const int fd = OpenWalkRoot(root);
    ASSERT_GE(fd, 0);
    close(fd);
    NoteListed(root + "sub", IdentityOf(sub), true);
    NoteListed(file, IdentityOf(file), false);
  }
  void TearDown() override { ForgetListed(); }
  void SwapSubForLink() {
    ASSERT_EQ(std::rename(sub.c_str(), (root + "moved").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), sub.c_str()), 0);
  }

  test::TempDir dir;
  const std::string root = dir.path() + "/";
  const std::string sub = root + "sub";
  const std::string file = sub + "/f.txt";
  const std::string outside = dir / "outside";
};

TEST_F(ListedTest, UnchangedTreeWorksAsBefore) {
  EXPECT_EQ(GetFileSize64(file), 6);
  File opened = File::OpenShared(file);
  opened.Close();
  File created = File::CreateNew(sub + "/out.bin");
  created.Close();
  File hidden = File::CreateHidden(sub + "/");
  EXPECT_TRUE(hidden.Publish(sub + "/published.bin"));
  EXPECT_TRUE(RenameFile(sub + "/out.bin", sub + "/renamed.bin"));
  EXPECT_TRUE(DeleteFile(sub + "/renamed.bin"));
  EXPECT_TRUE(DeleteFile(file));
}

TEST_F(ListedTest, FolderSwappedForALinkIsNeverEntered) {
  SwapSubForLink();
  EXPECT_EQ(OpenError([&] { return File::OpenShared(file); }), ELOOP);
  EXPECT_EQ(OpenError([&] { return File::OpenExclusiveWrite(file); }), ELOOP);
  EXPECT_EQ(OpenError([&] { return File::CreateNew(sub + "/new.bin"); }), ELOOP);
  EXPECT_EQ(OpenError([&] { return File::CreateAlways(sub + "/f.txt"); }), ELOOP);
  EXPECT_EQ(OpenError([&] { return File::CreateHidden(sub + "/"); }), ELOOP);
  EXPECT_EQ(GetFileSize64(file), -1);
  EXPECT_FALSE(FileExists(file));
  EXPECT_FALSE(DeleteFile(file));
  EXPECT_FALSE(RenameFile(file, sub + "/g.txt"));
  EXPECT_FALSE(SetFileDate(file, PackFileDate(1000000000)));
  EXPECT_EQ(ReadAll(outside + "/f.txt"), "outside");
  EXPECT_FALSE(test::Exists(outside + "/new.bin"));
  EXPECT_FALSE(test::Exists(outside + "/g.txt"));
}

TEST_F(ListedTest, FileSwappedForAnotherIsRefused) {
  ASSERT_EQ(std::rename(file.c_str(), (sub + "/old.txt").c_str()), 0);
  WriteAll(file, "another");
  EXPECT_EQ(OpenError([&] { return File::OpenShared(file); }), ESTALE);
  EXPECT_EQ(OpenError([&] { return File::OpenExclusiveWrite(file); }), ESTALE);
  EXPECT_FALSE(DeleteFile(file));
  EXPECT_EQ(ReadAll(file), "another");
  // A link planted at the listed name is not followed either.
  ASSERT_EQ(unlink(file.c_str()), 0);
  ASSERT_EQ(symlink((outside + "/f.txt").c_str(), file.c_str()), 0);
  EXPECT_EQ(OpenError([&] { return File::OpenShared(file); }), ELOOP);
  EXPECT_EQ(ReadAll(outside + "/f.txt"), "outside");
}

TEST_F(ListedTest, SwappedWalkFolderIsRefusedAndForgettingEndsTheRule) {
  // The walk's own folder may be reached through links, but must stay the folder listed.
  ASSERT_EQ(std::rename(dir.path().c_str(), (dir.path() + ".old").c_str()), 0);
  ASSERT_EQ(mkdir(dir.path().c_str(), 0700), 0);
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  WriteAll(file, "new tree");
  EXPECT_EQ(OpenError([&] { return File::OpenShared(file); }), ESTALE);
  ForgetListed();
  EXPECT_EQ(OpenError([&] { return File::OpenShared(file); }), 0);
  // Put the old tree back for the folder's own clean-up.
  std::filesystem::remove_all(dir.path());
  ASSERT_EQ(std::rename((dir.path() + ".old").c_str(), dir.path().c_str()), 0);
}

TEST_F(ListedTest, NameFreedByThisProgramTakesWhatItMakesThere) {
  // Removed by this program, then made anew at its name: the new file is the one reached.
  ASSERT_TRUE(DeleteFile(file));
  {
    File made = File::CreateNew(file);
    made.WriteAll("new", 3);
    made.Close();
  }
  EXPECT_EQ(OpenError([&] { return File::OpenShared(file); }), 0);
  EXPECT_EQ(GetFileSize64(file), 3);
  EXPECT_TRUE(DeleteFile(file));
  // Published at the freed name from a nameless file.
  File hidden = File::CreateHidden(sub + "/");
  EXPECT_TRUE(hidden.Publish(file));
  hidden.Close();
  EXPECT_EQ(OpenError([&] { return File::OpenExclusiveWrite(file); }), 0);
  // A link planted at a freed name is still not followed.
  ASSERT_TRUE(DeleteFile(file));
  ASSERT_EQ(symlink((outside + "/f.txt").c_str(), file.c_str()), 0);
  EXPECT_EQ(OpenError([&] { return File::OpenShared(file); }), ELOOP);
  EXPECT_EQ(ReadAll(outside + "/f.txt"), "outside");
}

} // namespace
} // namespace qk::platform
