// Every file operation of a scenario fails once, in turn: whatever fails, no source is lost, no
// partial output stays, and the result says what happened.
#include "engine/BatchRun.h"
#include "engine/EngineFixture.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <iostream>

namespace qk::test {
namespace {

using platform::FileOperation;

// Counts the file operations and fails the n-th (1-based) with a rotating error.
class FaultPlan {
public:
  explicit FaultPlan(int failAt) : failAt_(failAt) {
    platform::SetFaultHook([this](FileOperation, const std::string&) {
      ++calls_;
      if (calls_ != failAt_) return 0;
      fired_ = true;
      static const int errors[] = {ENOSPC, EIO, EACCES};
      return errors[failAt_ % 3];
    });
  }
  ~FaultPlan() { platform::SetFaultHook(nullptr); }
  int Calls() const { return calls_; }
  bool Fired() const { return fired_; }

private:
  int failAt_;
  int calls_ = 0;
  bool fired_ = false;
};

// Runs scenario once per possible failure point until a run completes without firing.
template <class Scenario> int ForEveryFault(Scenario&& scenario) {
  int points = 0;
  for (int n = 1; n < 10000; ++n) {
    TempDir dir;
    bool fired = false;
    scenario(dir, [&](auto&& body) {
      FaultPlan plan(n);
      body();
      fired = plan.Fired();
    });
    if (!fired) break;
    ++points;
  }
  return points;
}

// A file engine of its own that shows nothing and answers No.
struct QuietEngine {
  engine::NullBatchHost host;
  engine::RunState state;
  engine::EngineSettings settings;
  engine::Random random{1};
  engine::FileEngine engine{host, state, settings, random};
};

// Decrypts a container with fresh objects and no faults; the plaintext, or nullopt.
std::optional<std::string> Plaintext(const std::string& container, const std::string& password) {
  TempDir out;
  QuietEngine quiet;
  quiet.state.OutputNameOverride = out / "plain";
  if (!engine::Succeeded(quiet.engine.DecryptFile(container, password).outcome))
    return std::nullopt;
  return ReadAll(out / "plain");
}

const std::string kPlain = RandomBytes(3 * 8192 + 5, 77);

TEST(FaultInjection, EncryptionLeavesSourceAndNoPartialOutput) {
  const int points = ForEveryFault([](TempDir& dir, auto&& withFaults) {
    WriteAll(dir / "a.txt", kPlain);
    QuietEngine quiet;
    engine::FileEngine& engine = quiet.engine;
    engine::Outcome result{};
    withFaults([&] {
      result =
          engine.EncryptFile(dir / "a.txt", dir / "a.txt.enc", "password", "h", 0, true).outcome;
    });
    EXPECT_EQ(ReadAll(dir / "a.txt"), kPlain);
    if (result == engine::Outcome::Encrypted) {
      EXPECT_EQ(Plaintext(dir / "a.txt.enc", "password"), kPlain);
    } else {
      EXPECT_EQ(result, engine::Outcome::EncryptFailed);
      EXPECT_EQ(Listing(dir), std::vector<std::string>{"a.txt"});
    }
  });
  EXPECT_GT(points, 10);
  std::cout << "fault points injected: " << points << "\n";
}

TEST(FaultInjection, DecryptionLeavesContainerAndNoPartialOutput) {
  const int points = ForEveryFault([](TempDir& dir, auto&& withFaults) {
    WriteAll(dir / "a.txt", kPlain);
    QuietEngine quiet;
    engine::FileEngine& engine = quiet.engine;
    ASSERT_EQ(engine.EncryptFile(dir / "a.txt", dir / "a.enc", "password", "h", 1, true).outcome,
              engine::Outcome::Encrypted);
    platform::DeleteFile(dir / "a.txt");
    const std::string container = ReadAll(dir / "a.enc");
    engine::Outcome result{};
    withFaults([&] { result = engine.DecryptFile(dir / "a.enc", "password").outcome; });
    EXPECT_EQ(ReadAll(dir / "a.enc"), container);
    if (engine::Succeeded(result)) {
      EXPECT_EQ(ReadAll(dir / "a.txt"), kPlain);
    } else {
      EXPECT_TRUE(result == engine::Outcome::DecryptFailed ||
                  result == engine::Outcome::TamperMismatch)
          << engine::ResultKey(result);
      EXPECT_EQ(Listing(dir), std::vector<std::string>{"a.enc"});
    }
  });
  EXPECT_GT(points, 10);
  std::cout << "fault points injected: " << points << "\n";
}

// A batch that wipes its sources: each source is either still whole or its output decrypts to
// exactly its bytes.
void ExpectNothingLost(const TempDir& dir,
                       const std::vector<std::pair<std::string, std::string>>& files,
                       engine::BatchRun& run) {
  for (const auto& [name, bytes] : files) {
    const std::string source = dir / name;
    if (Exists(source) && ReadAll(source) == bytes) continue;
    // Gone, or overwritten by a wipe that could not finish: the container must hold it.
    const auto plain = Plaintext(source + ".enc", "password");
    EXPECT_TRUE(plain && *plain == bytes) << name << " is gone without a good container";
  }
  int failures = 0;
  const std::string wipeFailed(engine::ResultText(engine::Outcome::WipeFailed));
  for (const auto& e : run.Entries()) {
    ASSERT_TRUE(e.Result);
    // The text shown agrees with the result it was made from.
    const bool failedText =
        e.Caption.rfind("＊", 0) == 0 || e.Caption.find(wipeFailed) != std::string::npos;
    EXPECT_EQ(engine::Failed(*e.Result), failedText) << e.Caption;
    if (engine::Failed(*e.Result)) ++failures;
  }
  EXPECT_EQ(run.FailureCount(), failures);
}

TEST(FaultInjection, EncryptRunWithSourceWipes) {
  const std::vector<std::pair<std::string, std::string>> files{
      {"a.txt", kPlain}, {"b.txt", "small"}, {"c.txt", ""}};
  const int points = ForEveryFault([&](TempDir& dir, auto&& withFaults) {
    for (const auto& [name, bytes] : files) WriteAll(dir / name, bytes);
    RecordingHost host;
    host.passwordAnswer = "password";
    engine::BatchOptions options;
    engine::Random random(1);
    engine::BatchRun run(host, options, random);
    run.State().Mode = engine::OperationMode::Encrypt;
    for (const auto& f : files) run.AddFile(dir / f.first);
    run.ShowList();
    withFaults([&] { run.RunBatch(); });
    ExpectNothingLost(dir, files, run);
    for (const auto& e : run.Entries()) {
      // A failed entry leaves no container behind.
      if (!engine::Succeeded(e.Result->outcome)) {
        EXPECT_FALSE(Exists(e.Path + ".enc")) << e.Caption;
      }
    }
  });
  EXPECT_GT(points, 30);
  std::cout << "fault points injected: " << points << "\n";
}

TEST(FaultInjection, DecryptRunAndReEncryption) {
  const std::vector<std::pair<std::string, std::string>> files{{"a.txt", kPlain},
                                                               {"b.txt", "small"}};
  const int points = ForEveryFault([&](TempDir& dir, auto&& withFaults) {
    RecordingHost host;
    host.passwordAnswer = "password";
    engine::BatchOptions options;
    engine::Random random(1);
    engine::BatchRun run(host, options, random);
    for (const auto& [name, bytes] : files) WriteAll(dir / name, bytes);
    run.State().Mode = engine::OperationMode::Encrypt;
    for (const auto& f : files) run.AddFile(dir / f.first);
    run.ShowList();
    run.RunBatch();
    run.Close();
    ASSERT_FALSE(Exists(dir / "a.txt"));

    run.ClearList();
    run.State().Mode = engine::OperationMode::Decrypt;
    for (const auto& f : files) run.AddFile(dir / (f.first + ".enc"));
    run.ShowList();
    withFaults([&] {
      run.RunBatch();
      run.ReEncrypt();
    });
    // Each file exists in plain form or as a container that decrypts to it (a container that
    // could not be wiped keeps its name, so a new one may carry "_RENAMED").
    for (const auto& [name, bytes] : files) {
      const std::string plain = dir / name;
      if (Exists(plain) && ReadAll(plain) == bytes) continue;
      bool found = false;
      for (const auto& other : Listing(dir)) {
        if (other.rfind(name + ".enc", 0) != 0) continue;
        const auto back = Plaintext(dir / other, "password");
        found = found || (back && *back == bytes);
      }
      EXPECT_TRUE(found) << name;
    }
  });
  EXPECT_GT(points, 30);
  std::cout << "fault points injected: " << points << "\n";
}

TEST(FaultInjection, WipeRemovesOrRaises) {
  const int points = ForEveryFault([](TempDir& dir, auto&& withFaults) {
    WriteAll(dir / "a.txt", kPlain);
    QuietEngine quiet;
    engine::FileEngine& engine = quiet.engine;
    bool raised = false;
    withFaults([&] {
      try {
        engine.WipeFile(dir / "a.txt");
      } catch (const platform::IoError&) {
        raised = true;
      }
    });
    // Either the wipe reports its failure, or the file is gone.
    EXPECT_TRUE(raised || !Exists(dir / "a.txt"));
  });
  EXPECT_GT(points, 3);
  std::cout << "fault points injected: " << points << "\n";
}

} // namespace
} // namespace qk::test
