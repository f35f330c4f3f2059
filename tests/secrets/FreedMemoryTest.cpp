// A password never stays behind in memory that is given back: this test binary replaces the
// global operator new and delete, and every block freed while a run is watched is searched for a
// marker password before it goes. The runs go the way a password goes in the programs: qk-cli's
// readers (--password, --password-file, standard input) through the batch to the key setup.
#include "cli/Cli.h"
#include "engine/BatchRun.h"
#include "platform/SecretText.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <new>
#include <sstream>

namespace {

// The first 16 bytes of the marker: a copy cut short is still found.
constexpr char kMarker[] = "Marker-Secret-8d3f61c2-password-of-the-test";
constexpr std::size_t kProbe = 16;

std::atomic<bool> watching{false};
std::atomic<int> found{0};

void Inspect(void* block) {
  if (block == nullptr || !watching.load(std::memory_order_relaxed)) return;
  const std::size_t size = malloc_usable_size(block);
  if (memmem(block, size, kMarker, kProbe) != nullptr) found.fetch_add(1);
}

void* Allocate(std::size_t n) {
  void* block = std::malloc(n == 0 ? 1 : n);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* AllocateAligned(std::size_t n, std::align_val_t alignment) {
  const auto a = static_cast<std::size_t>(alignment);
  void* block = std::aligned_alloc(a, (n + a - 1) / a * a);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void Free(void* block) noexcept {
  Inspect(block);
  std::free(block);
}

} // namespace

void* operator new(std::size_t n) {
  return Allocate(n);
}
void* operator new[](std::size_t n) {
  return Allocate(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return std::malloc(n ? n : 1);
}
void* operator new(std::size_t n, std::align_val_t a) {
  return AllocateAligned(n, a);
}
void* operator new[](std::size_t n, std::align_val_t a) {
  return AllocateAligned(n, a);
}
void operator delete(void* p) noexcept {
  Free(p);
}
void operator delete[](void* p) noexcept {
  Free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  Free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  Free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  Free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  Free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  Free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  Free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  Free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  Free(p);
}

namespace qk::test {
namespace {

class FreedMemoryTest : public ::testing::Test {
protected:
  void SetUp() override {
    WriteAll(dir / "pw", std::string(kMarker) + "\n");
    WriteAll(dir / "plain.txt", RandomBytes(70000, 9));
    WriteAll(dir / "QK.ini", "[SYSTEM]\nSECLEVEL=4\n");
  }
  // Runs qk-cli in this process with the marker on standard input, watching every free.
  int Watched(const std::vector<std::string>& args) {
    std::istringstream in(std::string(kMarker) + "\n");
    std::ostringstream out, err;
    found = 0;
    watching = true;
    const int status = cli::RunCli(args, out, err, in);
    watching = false;
    EXPECT_EQ(status, 0) << out.str() << err.str();
    return found.load();
  }

  TempDir dir;
};

TEST_F(FreedMemoryTest, TheMarkerIsSeenWhereItIsLeftBehind) {
  // The probe itself: a string holding the marker, freed without clearing.
  found = 0;
  watching = true;
  delete new std::string(kMarker);
  watching = false;
  EXPECT_EQ(found.load(), 1);
}

TEST_F(FreedMemoryTest, SecretTextClearsEveryBlockItGivesBack) {
  found = 0;
  watching = true;
  {
    platform::SecretText secret;
    for (const char c : std::string_view(kMarker)) secret.Append(c); // grows block by block
    platform::SecretText moved = std::move(secret);
    platform::SecretText copy = moved.Copy();
    copy.Assign("something else");
    std::string plain(kMarker);
    platform::SecretText taken = platform::SecretText::Taking(plain);
  }
  watching = false;
  EXPECT_EQ(found.load(), 0);
}

TEST_F(FreedMemoryTest, PasswordsFromEveryReaderOfTheCommandLine) {
  const std::string ini = dir / "QK.ini";
  EXPECT_EQ(Watched({"passhash", "--password-file", dir / "pw"}), 0) << "password file";
  EXPECT_EQ(Watched({"passhash", "--password-file", "-"}), 0) << "standard input";
  EXPECT_EQ(Watched({"passhash", "--password", kMarker}), 0) << "--password";
}

TEST_F(FreedMemoryTest, PasswordsThroughEncryptionAndDecryption) {
  const std::string ini = dir / "QK.ini";
  EXPECT_EQ(Watched({"encrypt", "--ini", ini, "--password-file", dir / "pw", "--wipe-source",
                     dir / "plain.txt"}),
            0)
      << "encryption";
  EXPECT_EQ(Watched({"decrypt", "--ini", ini, "--password-file", "-", "--wipe-source",
                     dir / "plain.txt.enc"}),
            0)
      << "decryption";
  EXPECT_EQ(Watched({"encrypt", "--ini", ini, "--password", kMarker, "--algorithm", "gost",
                     "--no-tamper-code", dir / "plain.txt"}),
            0)
      << "encryption without a tamper code";
}

// The window's side: the password dialog's answer through a batch run and a re-encryption.
class AnswersWithTheMarker : public engine::NullBatchHost {
public:
  bool Confirm(const std::string&) override { return true; }
  std::optional<PasswordAnswer> AskPassword(bool) override {
    return PasswordAnswer{platform::SecretText(kMarker), "hint"};
  }
};

TEST_F(FreedMemoryTest, PasswordFromTheDialogThroughTheBatch) {
  AnswersWithTheMarker host;
  engine::BatchOptions options;
  options.WipeSource = false;
  options.WipeDecSource = false;
  engine::Random random(7);
  found = 0;
  watching = true;
  {
    engine::BatchRun run(host, options, random);
    run.State().Mode = engine::OperationMode::Encrypt;
    run.AddFile(dir / "plain.txt");
    run.ShowList();
    run.RunBatch();
    run.Close();
  }
  watching = false;
  EXPECT_TRUE(Exists(dir / "plain.txt.enc"));
  EXPECT_EQ(found.load(), 0);
}

} // namespace
} // namespace qk::test
