#include "core/FindFile.h"
#include "platform/File.h"
#include "support/TestSupport.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace qk::core {
namespace {

using Paths = std::vector<std::string>;
using test::TempDir;
using test::WriteAll;

constexpr TAttrOptions kDefault = ffReadOnly | ffHidden | ffArchive;
constexpr TAttrOptions kWithFolders = kDefault | ffDirectory;

void MakeDir(const std::string& path) {
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
}
void Link(const std::string& target, const std::string& path) {
  ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
}

// Files of one search, each with root + "/" taken off (a path without that prefix stays whole).
Paths Search(TFindFile& finder, const std::string& root) {
  finder.Execute();
  Paths names;
  for (const std::string& file : finder.Files) {
    names.push_back(file.starts_with(root + "/") ? file.substr(root.size() + 1) : file);
  }
  return names;
}

// root: a.txt, B.txt, sub2/y.txt, sub1/x.txt, sub1/deep/d.txt
class FindFileTreeTest : public ::testing::Test {
protected:
  void SetUp() override {
    WriteAll(dir / "a.txt", "aa");
    WriteAll(dir / "B.txt", "b");
    MakeDir(dir / "sub2");
    WriteAll(dir / "sub2/y.txt", "");
    MakeDir(dir / "sub1");
    WriteAll(dir / "sub1/x.txt", "");
    MakeDir(dir / "sub1/deep");
    WriteAll(dir / "sub1/deep/d.txt", "");
    finder.Directory = dir.path();
  }
  TempDir dir;
  TFindFile finder;
};

TEST_F(FindFileTreeTest, TrailingSeparatorIsOptionalAndPathsCarryExactlyOne) {
  finder.Attributes = kWithFolders;
  const std::string& root = dir.path();
  for (const std::string& directory : {root, root + "/"}) {
    finder.Directory = directory;
    finder.Recurse = false;
    finder.Execute();
    EXPECT_EQ(finder.Files,
              (Paths{root + "/B.txt", root + "/a.txt", root + "/sub1", root + "/sub2"}));
    finder.Recurse = true;
    finder.Execute();
    EXPECT_EQ(finder.Files[5], root + "/sub1/x.txt");
    EXPECT_EQ(finder.Files.back(), root + "/sub1/deep/d.txt");
  }
}

TEST_F(FindFileTreeTest, RecurseWalksBreadthFirstInNameOrder) {
  EXPECT_EQ(Search(finder, dir.path()), (Paths{"B.txt", "a.txt"})); // files only by default
  finder.Attributes = kWithFolders;
  EXPECT_EQ(Search(finder, dir.path()), (Paths{"B.txt", "a.txt", "sub1", "sub2"}));

  finder.Recurse = true;
  EXPECT_EQ(Search(finder, dir.path()), (Paths{"B.txt", "a.txt", "sub1", "sub2", "sub1/deep",
                                               "sub1/x.txt", "sub2/y.txt", "sub1/deep/d.txt"}));
  finder.Attributes = kDefault;
  EXPECT_EQ(Search(finder, dir.path()),
            (Paths{"B.txt", "a.txt", "sub1/x.txt", "sub2/y.txt", "sub1/deep/d.txt"}));
}

TEST_F(FindFileTreeTest, SecondSearchReplacesTheFirst) {
  finder.Recurse = true;
  finder.Execute();
  const Paths first = finder.Files;
  finder.Execute();
  EXPECT_EQ(finder.Files, first);
  EXPECT_EQ(finder.Files.size(), 5u);

  TempDir empty;
  finder.Directory = empty.path();
  finder.Attributes = kWithFolders;
  finder.Execute();
  EXPECT_TRUE(finder.Files.empty());
  EXPECT_TRUE(finder.Folders.empty());
}

TEST(FindFileTest, HiddenEntriesNeedTheMaskButHiddenFoldersAreWalked) {
  TempDir dir;
  MakeDir(dir / ".hid");
  WriteAll(dir / ".hid/inner.txt", "");
  WriteAll(dir / ".hid/.secret", "");
  WriteAll(dir / ".top", "");
  TFindFile finder;
  finder.Directory = dir.path();
  finder.Recurse = true;
  EXPECT_EQ(Search(finder, dir.path()), (Paths{".top", ".hid/.secret", ".hid/inner.txt"}));
  finder.Attributes = kDefault - ffHidden;
  EXPECT_EQ(Search(finder, dir.path()), (Paths{".hid/inner.txt"}));
  finder.Attributes = ffDirectory;
  // ".hid" is hidden as well as a folder, so it stays out; a plain file needs no bit.
  EXPECT_EQ(Search(finder, dir.path()), (Paths{".hid/inner.txt"}));
}

TEST(FindFileTest, ReadOnlyEntriesAreListedWhateverTheMask) {
  TempDir dir;
  MakeDir(dir / "locked");
  ASSERT_EQ(::chmod((dir / "locked").c_str(), 0555), 0);
  WriteAll(dir / "readonly", "");
  ASSERT_EQ(::chmod((dir / "readonly").c_str(), 0444), 0);

  TFindFile finder;
  finder.Directory = dir.path();
  finder.Attributes = ffDirectory;
  EXPECT_EQ(Search(finder, dir.path()), (Paths{"locked", "readonly"}));
  EXPECT_EQ(finder.Folders, (std::vector<bool>{true, false}));
}

TEST(FindFileTest, SymbolicLinks) {
  TempDir dir;
  MakeDir(dir / "sub");
  WriteAll(dir / "sub/f.txt", "12345");
  Link("..", dir / "sub/up"); // back to the start folder: a loop if followed
  Link("sub/f.txt", dir / "file");
  Link("nowhere", dir / "dangling");

  TFindFile finder;
  finder.Directory = dir.path();
  finder.Recurse = true;
  EXPECT_EQ(Search(finder, dir.path()), (Paths{"dangling", "file", "sub/f.txt"}));
  finder.Attributes = kWithFolders;
  EXPECT_EQ(Search(finder, dir.path()), (Paths{"dangling", "file", "sub", "sub/f.txt", "sub/up"}));
  // "sub" and the link to a folder are folders; the links to a file and to nothing are not.
  EXPECT_EQ(finder.Folders, (std::vector<bool>{false, false, true, false, true}));
}

TEST(FindFileTest, MissingUnreadableOrEmptyDirectoryListsNothing) {
  TempDir dir;
  WriteAll(dir / "f", "");
  TFindFile finder;
  for (const bool recurse : {false, true}) {
    finder.Recurse = recurse;
    finder.Directory = dir / "missing";
    EXPECT_TRUE(Search(finder, dir.path()).empty());
    finder.Directory = dir / "f/";
    EXPECT_TRUE(Search(finder, dir.path()).empty());
    finder.Directory = ""; // not the file system's root
    EXPECT_TRUE(Search(finder, dir.path()).empty());
  }
}

TEST(FindFileTest, UnreadableSubfolderIsPassedOver) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  TempDir dir;
  MakeDir(dir / "a");
  WriteAll(dir / "a/in", "");
  MakeDir(dir / "b");
  WriteAll(dir / "b/in", "");
  ASSERT_EQ(::chmod((dir / "a").c_str(), 0), 0);
  TFindFile finder;
  finder.Directory = dir.path();
  finder.Recurse = true;
  EXPECT_EQ(Search(finder, dir.path()), (Paths{"b/in"}));
  ASSERT_EQ(finder.Unreadable.size(), 1u);
  EXPECT_EQ(finder.Unreadable[0].path, dir / "a/");
  EXPECT_EQ(finder.Unreadable[0].error, EACCES);
}

TEST(FindFileTest, FoldersThatCannotBeListedAreKeptWithTheirReason) {
  TempDir dir;
  for (const char* folder : {"a", "b", "c", "c/d"}) MakeDir(dir / folder);
  for (const char* file : {"a/in", "b/in", "c/in", "c/d/in", "top"}) WriteAll(dir / file, "");
  // a: no permission; b: gone since it was found (nothing missed); c/d: swapped for a link.
  platform::SetFaultHook([&](platform::FileOperation operation, const std::string& path) {
    if (operation != platform::FileOperation::List) return 0;
    if (path == dir / "a/") return EACCES;
    if (path == dir / "b/") return ENOENT;
    if (path == dir / "c/d/") return ELOOP;
    return 0;
  });
  TFindFile finder;
  finder.Recurse = true;
  Paths added;
  std::vector<std::pair<std::string, int>> unreadable;
  AddFolder(
      finder, dir.path(), [&](const std::string& path) { added.push_back(path); },
      [&](const std::string& folder, int error) { unreadable.emplace_back(folder, error); });
  platform::SetFaultHook(nullptr);
  EXPECT_EQ(added, (Paths{dir / "top", dir / "c/in"}));
  EXPECT_EQ(unreadable, (std::vector<std::pair<std::string, int>>{{dir / "a/", EACCES},
                                                                  {dir / "c/d/", ELOOP}}));
  // The next search starts afresh.
  finder.Execute();
  EXPECT_TRUE(finder.Unreadable.empty());
  EXPECT_EQ(finder.Files.size(), 5u);
}

TEST(FindFileTest, JapaneseAndNonUtf8Names) {
  TempDir dir;
  const std::string raw = "\xff\xfe.bin";
  WriteAll(dir / "暗号.txt", "");
  WriteAll(dir / raw, "");
  MakeDir(dir / "日本語");
  WriteAll(dir / "日本語/ファイル.txt", "");
  TFindFile finder;
  finder.Directory = dir.path();
  finder.Recurse = true;
  EXPECT_EQ(Search(finder, dir.path()), (Paths{"暗号.txt", raw, "日本語/ファイル.txt"}));
}

TEST(AddFolderTest, AddsOnlyWhatIsNotAFolderInListingOrder) {
  TempDir dir;
  WriteAll(dir / "a.txt", "");
  MakeDir(dir / "sub");
  WriteAll(dir / "sub/b.txt", "");
  MakeDir(dir / "sub/deeper");
  Link("sub", dir / "link");
  Link("nowhere", dir / "dangling");

  TFindFile finder;
  finder.Recurse = true;
  finder.Attributes = kWithFolders;
  Paths added;
  const auto addFile = [&](const std::string& path) { added.push_back(path); };
  AddFolder(finder, dir.path(), addFile);
  EXPECT_EQ(finder.Directory, dir.path());
  EXPECT_EQ(added, (Paths{dir / "a.txt", dir / "dangling", dir / "sub/b.txt"}));

  added.clear();
  finder.Recurse = false;
  AddFolder(finder, dir / "sub", addFile);
  EXPECT_EQ(added, (Paths{dir / "sub/b.txt"}));
}

// What a drop, the file dialog and the command line hand over: files stay one entry each, in the
// order given; a folder brings its files; a missing path brings nothing; a dangling link and a
// link to a file are files, a link to a folder is a folder.
TEST(AddPathsTest, FilesFoldersAndMissingPathsInTheOrderGiven) {
  TempDir dir;
  WriteAll(dir / "a.txt", "");
  MakeDir(dir / "sub");
  WriteAll(dir / "sub/b.txt", "");
  WriteAll(dir / "sub/c.txt", "");
  Link("sub", dir / "to-sub");
  Link("a.txt", dir / "to-a");
  Link("nowhere", dir / "dangling");

  TFindFile finder;
  finder.Recurse = true;
  finder.Attributes = kWithFolders;
  Paths added;
  AddPaths(finder,
           {dir / "sub", dir / "missing", dir / "a.txt", dir / "to-sub", dir / "to-a",
            dir / "dangling", dir / "a.txt"},
           [&](const std::string& path) { added.push_back(path); });
  EXPECT_EQ(added, (Paths{dir / "sub/b.txt", dir / "sub/c.txt", dir / "a.txt", dir / "to-sub/b.txt",
                          dir / "to-sub/c.txt", dir / "to-a", dir / "dangling", dir / "a.txt"}));
}

} // namespace
} // namespace qk::core
