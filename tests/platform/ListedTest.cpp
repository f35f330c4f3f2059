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
#include <vector>

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
    // As the end of a listing does: the run opens and checks its folders again.
    ReleaseFolders();
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

TEST_F(ListedTest, AnotherRealFolderRenamedIntoPlaceIsRefused) {
  // Not a link, which O_NOFOLLOW stops, but a real folder: only its identity tells it apart.
  const std::string other = dir / "other";
  ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
  WriteAll(other + "/f.txt", "other");
  ASSERT_EQ(std::rename(sub.c_str(), (root + "moved").c_str()), 0);
  ASSERT_EQ(std::rename(other.c_str(), sub.c_str()), 0);
  EXPECT_EQ(OpenError([&] { return File::OpenShared(file); }), ESTALE);
  EXPECT_EQ(OpenError([&] { return File::CreateNew(sub + "/new.bin"); }), ESTALE);
  EXPECT_EQ(OpenError([&] { return File::CreateHidden(sub + "/"); }), ESTALE);
  EXPECT_FALSE(DeleteFile(file));
  EXPECT_FALSE(SetFileDate(file, PackFileDate(1000000000)));
  EXPECT_EQ(ReadAll(sub + "/f.txt"), "other");
  EXPECT_FALSE(test::Exists(sub + "/new.bin"));
  EXPECT_EQ(ReadAll(root + "moved/f.txt"), "listed");
}

TEST_F(ListedTest, AFolderOnceReachedStaysTheFolderActedIn) {
  // The run's first operation in sub opens and keeps it; a swap after that leads nowhere else.
  File::OpenShared(file).Close();
  SwapSubForLink();
  File created = File::CreateNew(sub + "/new.bin");
  created.Close();
  EXPECT_TRUE(test::Exists(root + "moved/new.bin"));
  EXPECT_FALSE(test::Exists(outside + "/new.bin"));
  EXPECT_TRUE(DeleteFile(file));
  EXPECT_FALSE(test::Exists(root + "moved/f.txt"));
  EXPECT_EQ(ReadAll(outside + "/f.txt"), "outside");
}

TEST_F(ListedTest, ManyFoldersAreReachedBeyondTheDescriptorsKept) {
  // More folders than descriptors kept: the oldest go and are opened and checked again.
  std::vector<std::string> folders;
  for (int i = 0; i < 150; ++i) {
    const std::string folder = root + "many" + std::to_string(i);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    NoteListed(folder, IdentityOf(folder), true);
    folders.push_back(folder);
  }
  for (int round = 0; round < 2; ++round) {
    for (const std::string& folder : folders) {
      File created = File::CreateAlways(folder + "/x.bin");
      created.WriteAll("x", 1);
      created.Close();
    }
  }
  for (const std::string& folder : folders) EXPECT_TRUE(DeleteFile(folder + "/x.bin")) << folder;
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

// Files named one by one: their folder is resolved and opened from "/" when they are noted, and
// reached through it from then on, as a walked file is.
class NamedTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(named.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(outside.c_str(), 0700), 0);
    WriteAll(file, "named");
    WriteAll(outside + "/f.txt", "outside");
  }
  void TearDown() override { ForgetListed(); }
  void Note(const std::string& path) {
    ASSERT_EQ(NoteNamed(path), 0);
    ReleaseFolders();
  }

  test::TempDir dir;
  const std::string named = dir / "named";
  const std::string file = named + "/f.txt";
  const std::string outside = dir / "outside";
};

TEST_F(NamedTest, UnchangedFolderWorksAsBefore) {
  Note(file);
  EXPECT_EQ(GetFileSize64(file), 5);
  File::OpenShared(file).Close();
  File created = File::CreateNew(named + "/out.bin");
  created.Close();
  EXPECT_TRUE(RenameFile(named + "/out.bin", named + "/renamed.bin"));
  EXPECT_TRUE(SetFileDate(file, PackFileDate(1000000000)));
  EXPECT_TRUE(DeleteFile(file));
  EXPECT_FALSE(test::Exists(file));
}

TEST_F(NamedTest, ParentSwappedForALinkOrAnotherFolderIsRefused) {
  const std::string other = dir / "other";
  ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
  WriteAll(other + "/f.txt", "other");
  struct Case {
    const char* swap;
    int error;
  };
  for (const Case& c : {Case{"link", ELOOP}, Case{"folder", ESTALE}}) {
    SCOPED_TRACE(c.swap);
    Note(file);
    ASSERT_EQ(std::rename(named.c_str(), (dir / "moved").c_str()), 0);
    if (std::string(c.swap) == "link") {
      ASSERT_EQ(symlink(outside.c_str(), named.c_str()), 0);
    } else {
      ASSERT_EQ(std::rename(other.c_str(), named.c_str()), 0);
    }
    EXPECT_EQ(OpenError([&] { return File::OpenShared(file); }), c.error);
    EXPECT_EQ(OpenError([&] { return File::OpenExclusiveWrite(file); }), c.error);
    EXPECT_EQ(OpenError([&] { return File::CreateNew(named + "/new.bin"); }), c.error);
    EXPECT_EQ(OpenError([&] { return File::CreateHidden(named + "/"); }), c.error);
    EXPECT_FALSE(DeleteFile(file));
    EXPECT_FALSE(RenameFile(file, named + "/g.txt"));
    EXPECT_FALSE(SetFileDate(file, PackFileDate(1000000000)));
    EXPECT_EQ(ReadAll(outside + "/f.txt"), "outside");
    EXPECT_EQ(ReadAll(dir / "moved/f.txt"), "named");
    EXPECT_FALSE(test::Exists(outside + "/new.bin"));
    // Back as it was for the next case.
    if (std::string(c.swap) == "link") {
      ASSERT_EQ(unlink(named.c_str()), 0);
    } else {
      EXPECT_EQ(ReadAll(named + "/f.txt"), "other");
      ASSERT_EQ(std::rename(named.c_str(), other.c_str()), 0);
    }
    ASSERT_EQ(std::rename((dir / "moved").c_str(), named.c_str()), 0);
    ForgetListed();
  }
}

TEST_F(NamedTest, AFolderHigherUpSwappedForALinkIsRefused) {
  // named/deep/f.txt, with named swapped: every folder from "/" down was noted.
  const std::string deep = named + "/deep";
  ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  WriteAll(deep + "/f.txt", "deep");
  ASSERT_EQ(mkdir((outside + "/deep").c_str(), 0700), 0);
  WriteAll(outside + "/deep/f.txt", "outside deep");
  Note(deep + "/f.txt");
  ASSERT_EQ(std::rename(named.c_str(), (dir / "moved").c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), named.c_str()), 0);
  EXPECT_EQ(OpenError([&] { return File::OpenShared(deep + "/f.txt"); }), ELOOP);
  EXPECT_FALSE(DeleteFile(deep + "/f.txt"));
  EXPECT_EQ(ReadAll(outside + "/deep/f.txt"), "outside deep");
}

TEST_F(NamedTest, ALinkTheUserNamedOnTheWayIsResolvedOnce) {
  // "via" leads to named when the file is noted; pointed elsewhere later, it is not followed
  // again: the work stays in the folder it led to then.
  const std::string via = dir / "via";
  ASSERT_EQ(symlink(named.c_str(), via.c_str()), 0);
  Note(via + "/f.txt");
  ASSERT_EQ(unlink(via.c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), via.c_str()), 0);
  EXPECT_EQ(GetFileSize64(via + "/f.txt"), 5);
  File created = File::CreateNew(via + "/new.bin");
  created.Close();
  EXPECT_TRUE(test::Exists(named + "/new.bin"));
  EXPECT_FALSE(test::Exists(outside + "/new.bin"));
  EXPECT_TRUE(DeleteFile(via + "/f.txt"));
  EXPECT_FALSE(test::Exists(file));
  EXPECT_EQ(ReadAll(outside + "/f.txt"), "outside");
}

TEST_F(NamedTest, ANamedLinkIsTheFileAndIsNeverFollowed) {
  const std::string link = named + "/link.txt";
  ASSERT_EQ(symlink((outside + "/f.txt").c_str(), link.c_str()), 0);
  Note(link);
  EXPECT_EQ(OpenError([&] { return File::OpenShared(link); }), ELOOP);
  EXPECT_EQ(OpenError([&] { return File::OpenExclusiveWrite(link); }), ELOOP);
  EXPECT_EQ(ReadAll(outside + "/f.txt"), "outside");
}

TEST_F(NamedTest, FileSwappedForAnotherIsRefused) {
  Note(file);
  ASSERT_EQ(std::rename(file.c_str(), (named + "/old.txt").c_str()), 0);
  WriteAll(file, "another");
  EXPECT_EQ(OpenError([&] { return File::OpenShared(file); }), ESTALE);
  EXPECT_FALSE(DeleteFile(file));
  EXPECT_EQ(ReadAll(file), "another");
}

TEST_F(NamedTest, RelativeNamesAreNotedAgainstTheCurrentFolder) {
  const std::string start = CurrentDirectory();
  ASSERT_EQ(chdir(named.c_str()), 0);
  EXPECT_EQ(NoteNamed("f.txt"), 0);
  ReleaseFolders();
  ASSERT_EQ(chdir(start.c_str()), 0);
  // Reached in the folder it was noted in, wherever the process is now.
  EXPECT_EQ(GetFileSize64("f.txt"), 5);
  EXPECT_TRUE(DeleteFile("f.txt"));
  EXPECT_FALSE(test::Exists(file));
}

TEST_F(NamedTest, AFolderThatCannotBeResolvedFailsEveryOperationInIt) {
  EXPECT_EQ(NoteNamed(dir / "missing/f.txt"), ENOENT);
  ASSERT_EQ(mkdir((dir / "missing").c_str(), 0700), 0);
  WriteAll(dir / "missing/f.txt", "made later");
  EXPECT_EQ(OpenError([&] { return File::OpenShared(dir / "missing/f.txt"); }), ENOENT);
  EXPECT_FALSE(DeleteFile(dir / "missing/f.txt"));
  EXPECT_EQ(ReadAll(dir / "missing/f.txt"), "made later");
}

} // namespace
} // namespace qk::platform
