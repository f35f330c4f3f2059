// Several files at once: the --jobs value, the pool that hands out the entries, and qk-cli runs
// whose output, failure count, exit status and wiped sources are those of one file at a time.
#include "engine/Jobs.h"
#include "cli/RunQk.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace qk::test {
namespace {

using engine::kMaxJobs;
using engine::ParseJobs;

TEST(JobsValue, WholeNumbersFromOneToTheMostOnly) {
  EXPECT_EQ(ParseJobs("1"), 1u);
  EXPECT_EQ(ParseJobs("2"), 2u);
  EXPECT_EQ(ParseJobs("64"), kMaxJobs);
  EXPECT_EQ(ParseJobs("008"), 8u);
  for (const char* bad : {"0", "65", "-1", "+2", " 2", "2 ", "", "abc", "2x", "1e3", "0x10",
                          "4294967297", "18446744073709551617", "99999999999999999999999999",
                          "-2147483648", "2147483647", "1.5", "٢"}) {
    EXPECT_FALSE(ParseJobs(bad).has_value()) << '"' << bad << '"';
  }
}

TEST(JobsValue, DefaultIsTheProcessorsWithinBounds) {
  EXPECT_GE(engine::DefaultJobs(), 1u);
  EXPECT_LE(engine::DefaultJobs(), kMaxJobs);
}

class JobsRun : public ::testing::Test {
protected:
  // Files of 0 bytes to 200 KiB, named in list order.
  std::vector<std::string> MakeFiles(const std::string& folder, int count) {
    mkdir(folder.c_str(), 0700);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "f%03d.bin", i);
      const std::string path = folder + "/" + name;
      const std::size_t size = i % 7 == 0 ? 200 * 1024 + static_cast<std::size_t>(i) : 37u * i;
      WriteAll(path, RandomBytes(size, static_cast<std::uint32_t>(i)));
      names.push_back(path);
    }
    return names;
  }
  TempDir dir;
};

// Lowers the soft limit of open descriptors, which the qk-cli started meanwhile inherits, to
// count (none: as it is).
class DescriptorLimit {
public:
  explicit DescriptorLimit(rlim_t count) {
    if (count == 0 || ::getrlimit(RLIMIT_NOFILE, &saved_) != 0) return;
    rlimit lowered = saved_;
    lowered.rlim_cur = count;
    lowered_ = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
  }
  ~DescriptorLimit() {
    if (lowered_) ::setrlimit(RLIMIT_NOFILE, &saved_);
  }
  DescriptorLimit(const DescriptorLimit&) = delete;
  DescriptorLimit& operator=(const DescriptorLimit&) = delete;

private:
  rlimit saved_{};
  bool lowered_ = false;
};

// Encrypts and decrypts the same folder with each job count: every run prints the same lines in
// the list's order, and the files come back. Also with few descriptors, where the outputs held and
// the files made ahead share what the process keeps open.
TEST_F(JobsRun, OutputIsInTheListsOrderWhateverTheJobs) {
  std::string encrypted, decrypted;
  struct Row {
    const char* jobs;
    rlim_t descriptors; // 0: the limit as it is
  };
  for (const Row& row : {Row{"1", 0}, Row{"2", 0}, Row{"8", 0}, Row{"1", 32}}) {
    const char* jobs = row.jobs;
    const DescriptorLimit limit(row.descriptors);
    const std::string folder =
        dir / (std::string("j") + jobs + "-" + std::to_string(row.descriptors));
    const auto files = MakeFiles(folder, 40);
    std::vector<std::string> originals;
    for (const auto& f : files) originals.push_back(ReadAll(f));
    const auto enc = RunQk({"encrypt", "--password", "secret1", "--hint", "ヒント", "--jobs", jobs,
                            "--wipe-source", "--no-recursive", folder});
    ASSERT_EQ(enc.status, 0) << enc.err;
    std::string expected;
    for (const auto& f : files) expected += "暗号化成功：" + f + "\n";
    expected += "全てのファイル/フォルダを正常に処理しました。\n";
    EXPECT_EQ(enc.out, expected) << "--jobs " << jobs;
    for (const auto& f : files) EXPECT_FALSE(Exists(f)) << f;
    // Every container carries the run's hint, whatever the jobs.
    std::vector<std::string> hintArgs{"hint"};
    expected.clear();
    for (const auto& f : files) {
      hintArgs.push_back(f + ".enc");
      expected += f + ".enc\tヒント\n";
    }
    EXPECT_EQ(RunQk(hintArgs).out, expected) << "--jobs " << jobs;

    const auto dec = RunQk({"decrypt", "--password", "secret1", "--jobs", jobs, "--wipe-source",
                            "--no-recursive", folder});
    ASSERT_EQ(dec.status, 0) << dec.err;
    expected.clear();
    for (const auto& f : files)
      expected += "復号成功(改ざん検知照合OK) : " + f + ".enc\t" + f + "\n";
    expected += "全てのファイル/フォルダを正常に処理しました。\n";
    EXPECT_EQ(dec.out, expected) << "--jobs " << jobs;
    for (std::size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(ReadAll(files[i]), originals[i]) << files[i];
      EXPECT_FALSE(Exists(files[i] + ".enc")) << files[i];
    }
    // The same lines but for the folder's name.
    std::string enc1 = enc.out, dec1 = dec.out;
    for (std::string* s : {&enc1, &dec1}) {
      for (std::size_t at; (at = s->find(folder)) != std::string::npos;)
        s->replace(at, folder.size(), "F");
    }
    if (encrypted.empty()) {
      encrypted = enc1;
      decrypted = dec1;
    }
    EXPECT_EQ(enc1, encrypted);
    EXPECT_EQ(dec1, decrypted);
  }
}

// Damaged and foreign files among sound containers: each fails on its own, is counted once, and
// keeps its source; the sound ones are decrypted and only their sources wiped.
TEST_F(JobsRun, FailuresAreCountedAndOnlyProvedSourcesWiped) {
  std::string reference;
  for (const char* jobs : {"1", "2", "8"}) {
    const std::string folder = dir / (std::string("k") + jobs);
    const auto files = MakeFiles(folder, 24);
    ASSERT_EQ(RunQk({"encrypt", "--password", "secret1", "--jobs", "1", "--wipe-source",
                     "--no-recursive", folder})
                  .status,
              0);
    std::vector<bool> bad(files.size(), false);
    for (std::size_t i = 0; i < files.size(); i += 5) {
      // One byte of the data changed: the tamper code no longer matches.
      std::string bytes = ReadAll(files[i] + ".enc");
      bytes[bytes.size() - 1] = static_cast<char>(bytes.back() ^ 1);
      WriteAll(files[i] + ".enc", bytes);
      bad[i] = true;
    }
    WriteAll(folder + "/not-a-container.enc", "plain text, not a container");
    const auto dec = RunQk({"decrypt", "--password", "secret1", "--jobs", jobs, "--wipe-source",
                            "--no-recursive", folder});
    EXPECT_EQ(dec.status, 1) << dec.err;
    // A file found in the folder that is not a container is skipped, not failed.
    int failures = 0;
    for (bool b : bad) failures += b ? 1 : 0;
    EXPECT_NE(dec.out.find("スキップ(暗号化ファイルではありません)：" + folder +
                           "/not-a-container.enc\n"),
              std::string::npos);
    EXPECT_NE(dec.out.find("終了しました。　失敗数 : " + std::to_string(failures) + "個\n"),
              std::string::npos)
        << dec.out;
    for (std::size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(Exists(files[i] + ".enc"), bad[i]) << files[i];
      EXPECT_EQ(Exists(files[i]), !bad[i]) << files[i];
    }
    EXPECT_TRUE(Exists(folder + "/not-a-container.enc"));
    std::string out = dec.out;
    for (std::size_t at; (at = out.find(folder)) != std::string::npos;)
      out.replace(at, folder.size(), "F");
    if (reference.empty()) reference = out;
    EXPECT_EQ(out, reference) << "--jobs " << jobs;
  }
}

TEST_F(JobsRun, BadJobCountsAreUsageErrors) {
  const std::string file = dir / "a.txt";
  WriteAll(file, "abc");
  for (const char* value : {"0", "-1", "65", "99999999999999999999", "abc", "", "1.5", " 2"}) {
    const auto o = RunQk({"encrypt", "--password", "secret1", "--jobs", value, file});
    EXPECT_EQ(o.status, 2) << value;
    EXPECT_NE(
        o.err.find("--jobs needs a whole number from 1 to 64, not '" + std::string(value) + "'"),
        std::string::npos)
        << o.err;
    EXPECT_TRUE(o.out.empty());
  }
  const auto missing = RunQk({"encrypt", "--password", "secret1", file, "--jobs"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(ReadAll(file), "abc");
  EXPECT_FALSE(Exists(file + ".enc"));
  // One file and many jobs: as with one.
  const auto one = RunQk({"encrypt", "--password", "secret1", "--jobs", "64", file});
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out, "暗号化成功：" + file + "\n全てのファイル/フォルダを正常に処理しました。\n");
}

} // namespace
} // namespace qk::test
