// Lists that come from a walked folder, run through the confirmation list's batch the way the
// windows fill it: encryption, decryption with its source wipe, and re-encryption of what was
// decrypted, for every cipher; and what a failure leaves behind.
#include "core/FindFile.h"
#include "engine/BatchRun.h"
#include "platform/File.h"
#include "support/BatchFixture.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace qk::test {
namespace {

using engine::OperationMode;
using engine::Outcome;

struct FolderCase {
  const char* name;
  std::int32_t algorithm;
  bool wipeDecSource; // the containers go after decryption
  bool wipeSource;    // the decrypted files go after re-encryption
};

// Every file below folder, as a sorted list of (path relative to folder, size).
std::vector<std::pair<std::string, std::uintmax_t>> Tree(const std::string& folder) {
  std::vector<std::pair<std::string, std::uintmax_t>> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
    if (e.is_regular_file())
      files.emplace_back(std::filesystem::relative(e.path(), folder).string(), e.file_size());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class FolderBatchTest : public BatchFixture<::testing::TestWithParam<FolderCase>> {
protected:
  FolderBatchTest() : BatchFixture(11) {
    std::filesystem::create_directories(box + "/sub");
    WriteAll(a, "alpha, a file of the walked folder");
    WriteAll(b, RandomBytes(5000, 3));
    finder.Recurse = true;
  }
  // As the main window fills the list from a dropped folder.
  void FillFromFolder(OperationMode mode) {
    Refill(mode, [this] {
      core::AddFolder(finder, box, [this](const std::string& path) { run.AddFile(path); });
    });
  }

  const std::string box = dir / "box";
  const std::string a = box + "/a.txt";
  const std::string b = box + "/sub/b.bin";
  core::TFindFile finder;
};

TEST_P(FolderBatchTest, DecryptedFilesOfAFolderReEncrypt) {
  const FolderCase& c = GetParam();
  options.Algorithm = c.algorithm;
  FillFromFolder(OperationMode::Encrypt);
  run.RunBatch();
  ASSERT_EQ(Outcomes(), (std::vector{Outcome::Encrypted, Outcome::Encrypted}));

  options.WipeDecSource = c.wipeDecSource;
  FillFromFolder(OperationMode::Decrypt);
  run.RunBatch();
  ASSERT_EQ(Outcomes(), (std::vector{Outcome::Decrypted, Outcome::Decrypted}));
  ASSERT_TRUE(run.Dialog().ReEncVisible);

  options.WipeSource = c.wipeSource;
  run.ReEncrypt();
  EXPECT_EQ(Outcomes(), (std::vector{Outcome::Encrypted, Outcome::Encrypted}));
  EXPECT_EQ(run.FailureCount(), 0);
  EXPECT_EQ(run.Entries()[0].Caption, "暗号化成功：" + a);
  EXPECT_EQ(run.Entries()[1].Caption, "暗号化成功：" + b);

  // The names the containers get: ".enc", or beside a container that was kept, the next free one.
  const std::string suffix = c.wipeDecSource ? ".enc" : ".enc_RENAMED.enc";
  for (const auto& [path, size] : Tree(box)) {
    EXPECT_NE(size, 0u) << path; // no empty container anywhere
  }
  EXPECT_TRUE(Exists(a + suffix));
  EXPECT_TRUE(Exists(b + suffix));
  EXPECT_EQ(Exists(a), !c.wipeSource);
  EXPECT_EQ(Exists(b), !c.wipeSource);

  // What was re-encrypted decrypts to the same bytes, from a list named file by file.
  std::filesystem::remove(a);
  std::filesystem::remove(b);
  options.WipeDecSource = true;
  if (run.State().ListShown) run.Close();
  run.ClearList();
  run.State().Mode = OperationMode::Decrypt;
  run.AddFile(a + suffix);
  run.AddFile(b + suffix);
  run.ShowList();
  run.RunBatch();
  EXPECT_EQ(Outcomes(), (std::vector{Outcome::Decrypted, Outcome::Decrypted}));
  EXPECT_EQ(ReadAll(a), "alpha, a file of the walked folder");
  EXPECT_EQ(ReadAll(b), RandomBytes(5000, 3));
}

TEST_P(FolderBatchTest, FailedReEncryptionLeavesNoContainer) {
  const FolderCase& c = GetParam();
  options.Algorithm = c.algorithm;
  FillFromFolder(OperationMode::Encrypt);
  run.RunBatch();
  options.WipeDecSource = c.wipeDecSource;
  FillFromFolder(OperationMode::Decrypt);
  run.RunBatch();
  ASSERT_EQ(Outcomes(), (std::vector{Outcome::Decrypted, Outcome::Decrypted}));
  const auto before = Tree(box);

  // The disk fills while the containers are written.
  platform::SetFaultHook([](platform::FileOperation op, const std::string&) {
    return op == platform::FileOperation::Write ? ENOSPC : 0;
  });
  options.WipeSource = c.wipeSource;
  run.ReEncrypt();
  platform::SetFaultHook(nullptr);
  EXPECT_EQ(Outcomes(), (std::vector{Outcome::EncryptFailed, Outcome::EncryptFailed}));
  EXPECT_EQ(run.FailureCount(), 2);
  // Nothing was added, nothing taken away: the decrypted files stay, no container of any size.
  EXPECT_EQ(Tree(box), before);
}

INSTANTIATE_TEST_SUITE_P(EveryCipher, FolderBatchTest,
                         ::testing::Values(FolderCase{"twofish_wipes", 0, true, true},
                                           FolderCase{"twofish_keeps", 0, true, false},
                                           FolderCase{"rijndael_wipes", 1, true, true},
                                           FolderCase{"rijndael_keeps", 1, true, false},
                                           FolderCase{"gost_wipes", 2, true, true},
                                           FolderCase{"gost_keeps", 2, true, false},
                                           FolderCase{"twofish_containers_kept", 0, false, true},
                                           FolderCase{"gost_containers_kept", 2, false, false}),
                         [](const ::testing::TestParamInfo<FolderCase>& info) {
                           return info.param.name;
                         });

// What the parameter is, in test messages.
void PrintTo(const FolderCase& c, std::ostream* os) {
  *os << c.name;
}

} // namespace
} // namespace qk::test
