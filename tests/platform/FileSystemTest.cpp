#include "platform/FileSystem.h"
#include "platform/PathText.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace qk::platform {
namespace {

using test::ReadAll;
using test::TempDir;

// Packed dates worked out by hand from the packed layout: from the top bit down, years since 1980
// (7 bits), month (4), day (5), hour (5), minute (6) and seconds / 2 (5).
std::int32_t Packed(const std::string& when) {
  static const std::map<std::string, std::uint32_t> packed = {
      {"1980-01-01 00:00:00", 0x00210000}, {"2000-01-01 05:00:00", 0x28212800},
      {"2000-02-29 00:00:00", 0x285D0000}, {"2001-00-01 00:00:00", 0x2A010000},
      {"2001-02-03 00:60:00", 0x2A430780}, {"2001-02-03 04:05:06", 0x2A4320A3},
      {"2001-02-03 13:05:06", 0x2A4368A3}, {"2001-02-03 24:00:00", 0x2A43C000},
      {"2001-02-31 00:00:00", 0x2A5F0000}, {"2001-13-01 00:00:00", 0x2BA10000},
      {"2010-01-01 00:00:00", 0x3C210000}, {"2020-01-01 11:00:00", 0x50215800},
      {"2020-07-01 12:00:00", 0x50E16000}, {"2024-12-31 23:59:58", 0x599FBF7D},
      {"2050-06-15 08:30:00", 0x8CCF43C0}, {"2099-03-04 05:06:08", 0xEE6428C4},
      {"2107-12-31 23:59:58", 0xFF9FBF7D},
  };
  return static_cast<std::int32_t>(packed.at(when));
}

// Seconds since the epoch of a UTC calendar time.
std::int64_t Utc(int year, int month, int day, int hour, int minute, int second) {
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<std::int64_t>(timegm(&t));
}

std::int64_t MTime(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mtim.tv_sec;
}

// Sets the local time zone for one test and restores the previous one afterwards. Falls back to
// the equivalent POSIX rule where the zone database is not installed.
class ZoneTest : public ::testing::Test {
protected:
  void UseZone(const std::string& name, const std::string& posixRule) {
    const bool installed = ::access(("/usr/share/zoneinfo/" + name).c_str(), R_OK) == 0;
    ::setenv("TZ", installed ? name.c_str() : posixRule.c_str(), 1);
    ::tzset();
  }
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("TZ", saved_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

private:
  std::optional<std::string> saved_;
};

TEST_F(ZoneTest, PackedDatesAreLocalTime) {
  const std::int64_t instant = Utc(2001, 2, 3, 4, 5, 6);
  UseZone("UTC", "UTC0");
  EXPECT_EQ(PackFileDate(instant), Packed("2001-02-03 04:05:06"));
  EXPECT_EQ(UnpackFileDate(Packed("2001-02-03 04:05:06")), instant);
  UseZone("Asia/Tokyo", "JST-9");
  EXPECT_EQ(PackFileDate(instant), Packed("2001-02-03 13:05:06"));
  EXPECT_EQ(UnpackFileDate(Packed("2001-02-03 13:05:06")), instant);
  // Late evening UTC is already the next day in Tokyo.
  EXPECT_EQ(PackFileDate(Utc(1999, 12, 31, 20, 0, 0)), Packed("2000-01-01 05:00:00"));
}

TEST_F(ZoneTest, SummerTimeRoundTrips) {
  UseZone("Europe/Berlin", "CET-1CEST,M3.5.0,M10.5.0/3");
  const std::int64_t summer = Utc(2020, 7, 1, 10, 0, 0);
  EXPECT_EQ(PackFileDate(summer), Packed("2020-07-01 12:00:00"));
  EXPECT_EQ(UnpackFileDate(Packed("2020-07-01 12:00:00")), summer);
  const std::int64_t winter = Utc(2020, 1, 1, 10, 0, 0);
  EXPECT_EQ(UnpackFileDate(Packed("2020-01-01 11:00:00")), winter);
}

TEST_F(ZoneTest, RangeLimitsAndTheSignBit) {
  UseZone("UTC", "UTC0");
  EXPECT_EQ(PackFileDate(Utc(1979, 12, 31, 23, 59, 59)), -1);
  EXPECT_EQ(PackFileDate(Utc(1980, 1, 1, 0, 0, 0)), Packed("1980-01-01 00:00:00"));
  EXPECT_EQ(PackFileDate(Utc(2107, 12, 31, 23, 59, 59)), Packed("2107-12-31 23:59:58"));
  EXPECT_EQ(PackFileDate(Utc(2108, 1, 1, 0, 0, 0)), -1);
  EXPECT_EQ(PackFileDate(-1), -1);

  // From 2044 on the packed value is negative, yet a valid date.
  const std::int32_t late = Packed("2050-06-15 08:30:00");
  ASSERT_LT(late, 0);
  EXPECT_EQ(UnpackFileDate(late), Utc(2050, 6, 15, 8, 30, 0));
  EXPECT_EQ(PackFileDate(Utc(2050, 6, 15, 8, 30, 0)), late);

  EXPECT_EQ(UnpackFileDate(-1), -1);
  EXPECT_EQ(UnpackFileDate(Packed("2001-00-01 00:00:00")), -1); // month 0
  EXPECT_EQ(UnpackFileDate(Packed("2001-13-01 00:00:00")), -1); // month 13
  EXPECT_EQ(UnpackFileDate(Packed("2001-02-31 00:00:00")), -1); // 31 February
  EXPECT_EQ(UnpackFileDate(Packed("2001-02-03 24:00:00")), -1); // hour 24
  EXPECT_EQ(UnpackFileDate(Packed("2001-02-03 00:60:00")), -1); // minute 60
  EXPECT_EQ(UnpackFileDate(Packed("2000-02-29 00:00:00")), Utc(2000, 2, 29, 0, 0, 0));
}

TEST_F(ZoneTest, FileDatesRoundTripThroughTheDisk) {
  UseZone("Asia/Tokyo", "JST-9");
  TempDir dir;
  const std::string path = dir / "dated";
  test::WriteAll(path, "x");
  for (const std::int32_t packed : {Packed("1980-01-01 00:00:00"), Packed("2001-02-03 13:05:06"),
                                    Packed("2024-12-31 23:59:58"), Packed("2099-03-04 05:06:08")}) {
    ASSERT_TRUE(SetFileDate(path, packed));
    EXPECT_EQ(GetFileDate(path), packed);
  }
  // Odd seconds are stored rounded down to even.
  ASSERT_TRUE(SetFileDate(path, Packed("2001-02-03 13:05:06")));
  EXPECT_EQ(MTime(path), Utc(2001, 2, 3, 4, 5, 6));
  struct timespec odd[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(Utc(2001, 2, 3, 4, 5, 7)), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), odd, 0), 0);
  EXPECT_EQ(GetFileDate(path), Packed("2001-02-03 13:05:06"));

  UseZone("UTC", "UTC0");
  EXPECT_EQ(GetFileDate(path), Packed("2001-02-03 04:05:06"));

  struct timespec old[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(Utc(1975, 5, 5, 0, 0, 0)), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
  EXPECT_EQ(GetFileDate(path), -1);
  EXPECT_EQ(GetFileDate(dir / "missing"), -1);
  EXPECT_FALSE(SetFileDate(dir / "missing", Packed("2001-02-03 04:05:06")));
  EXPECT_FALSE(SetFileDate(path, -1));
  EXPECT_EQ(GetFileDate(path), -1) << "a refused date leaves the file alone";
}

TEST_F(ZoneTest, ADateIsNeverSetThroughALink) {
  UseZone("UTC", "UTC0");
  TempDir dir;
  const std::string target = dir / "target";
  const std::string link = dir / "link";
  test::WriteAll(target, "x");
  struct timespec old[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(Utc(2001, 2, 3, 4, 5, 6)), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, target.c_str(), old, 0), 0);
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  SetFileDate(link, Packed("2010-01-01 00:00:00"));
  EXPECT_EQ(MTime(target), Utc(2001, 2, 3, 4, 5, 6));
}

class FileSystemTest : public ::testing::Test {
protected:
  TempDir dir;
  std::string file = dir / "file.txt";
  std::string folder = dir / "folder";
  void SetUp() override {
    test::WriteAll(file, "12345");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  }
};

TEST_F(FileSystemTest, FactsAboutPaths) {
  const std::string fileLink = dir / "file-link";
  const std::string folderLink = dir / "folder-link";
  const std::string dangling = dir / "dangling";
  ASSERT_EQ(::symlink(file.c_str(), fileLink.c_str()), 0);
  ASSERT_EQ(::symlink(folder.c_str(), folderLink.c_str()), 0);
  ASSERT_EQ(::symlink((dir / "nothing").c_str(), dangling.c_str()), 0);

  EXPECT_EQ(GetFileSize64(file), 5);
  EXPECT_EQ(GetFileSize64(fileLink), 5);
  EXPECT_EQ(GetFileSize64(folder), -1);
  EXPECT_EQ(GetFileSize64(folderLink), -1);
  EXPECT_EQ(GetFileSize64(dangling), -1);
  EXPECT_EQ(GetFileSize64(dir / "missing"), -1);

  EXPECT_TRUE(FileExists(file));
  EXPECT_TRUE(FileExists(folder));
  EXPECT_TRUE(FileExists(dangling));
  EXPECT_FALSE(FileExists(dir / "missing"));

  EXPECT_TRUE(IsDirectory(folder));
  EXPECT_TRUE(IsDirectory(folderLink));
  EXPECT_FALSE(IsDirectory(file));
  EXPECT_FALSE(IsDirectory(dir / "missing"));

  EXPECT_FALSE(IsReadOnly(file));
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  EXPECT_TRUE(IsReadOnly(file));
  EXPECT_TRUE(IsReadOnly(fileLink));
  EXPECT_FALSE(IsReadOnly(dir / "missing"));
}

TEST_F(FileSystemTest, RenameNeverReplaces) {
  const std::string other = dir / "other.txt";
  test::WriteAll(other, "other");
  EXPECT_FALSE(RenameFile(file, other));
  EXPECT_EQ(ReadAll(file), "12345");
  EXPECT_EQ(ReadAll(other), "other");
  EXPECT_FALSE(RenameFile(file, folder));
  EXPECT_FALSE(RenameFile(file, file));
  EXPECT_EQ(ReadAll(file), "12345");

  EXPECT_TRUE(RenameFile(file, dir / "renamed.txt"));
  EXPECT_FALSE(FileExists(file));
  EXPECT_EQ(ReadAll(dir / "renamed.txt"), "12345");
  EXPECT_FALSE(RenameFile(dir / "missing", dir / "new"));
  EXPECT_FALSE(FileExists(dir / "new"));
}

TEST_F(FileSystemTest, DeleteRemovesFilesAndLinksOnly) {
  const std::string link = dir / "link";
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
  EXPECT_TRUE(DeleteFile(link));
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(DeleteFile(folder));
  EXPECT_TRUE(IsDirectory(folder));
  EXPECT_TRUE(DeleteFile(file));
  EXPECT_FALSE(FileExists(file));
  EXPECT_FALSE(DeleteFile(file));
}

TEST_F(FileSystemTest, SamePathComparesFilesNotText) {
  const std::string hardLink = dir / "hard";
  ASSERT_EQ(::link(file.c_str(), hardLink.c_str()), 0);
  EXPECT_TRUE(SamePath(file, hardLink));
  EXPECT_TRUE(SamePath(file, folder + "/../file.txt"));
  test::WriteAll(dir / "copy", "12345");
  EXPECT_FALSE(SamePath(file, dir / "copy"));
  EXPECT_TRUE(SamePath(dir / "missing", dir / "missing"));
  EXPECT_FALSE(SamePath(dir / "missing", dir / "MISSING"));
  EXPECT_FALSE(SamePath(file, dir / "missing"));
}

TEST(PathTextTest, PartsOfAPath) {
  EXPECT_EQ(ExtractFilePath("/x/y/a.txt"), "/x/y/");
  EXPECT_EQ(ExtractFilePath("a.txt"), "");
  EXPECT_EQ(ExtractFilePath("/a"), "/");
  EXPECT_EQ(ExtractFileName("/x/y/a.txt"), "a.txt");
  EXPECT_EQ(ExtractFileName("a.txt"), "a.txt");
  EXPECT_EQ(ExtractFileName("/x/y/"), "");

  EXPECT_EQ(ExtractFileExt("/x/a.tar.gz"), ".gz");
  EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
  EXPECT_EQ(ExtractFileExt("b.txt.enc_RENAMED.enc"), ".enc");
  EXPECT_EQ(ExtractFileExt("/x/name."), ".");
  EXPECT_EQ(ExtractFileExt("noext"), "");
}

TEST(PathTextTest, AbsolutePaths) {
  EXPECT_EQ(MakeAbsolute("/abs/f", "/base"), "/abs/f");
  EXPECT_EQ(MakeAbsolute("rel/f", "/base"), "/base/rel/f");
  EXPECT_EQ(MakeAbsolute("f", "/base/"), "/base/f");
  EXPECT_EQ(MakeAbsolute("f", "/"), "/f");
  EXPECT_EQ(MakeAbsolute("../f", "/base"), "/base/../f"); // links are not resolved
  char buffer[4096];
  ASSERT_NE(::getcwd(buffer, sizeof buffer), nullptr);
  EXPECT_EQ(CurrentDirectory(), buffer);
}

} // namespace
} // namespace qk::platform
