// The proofs before a source is wiped check what was written, whatever the decryption policy
// says: every combination of cipher, tamper code, SKIPNONHMAC and source wipe, encryption, then
// decryption, then re-encryption, through the batch run.
#include "engine/BatchRun.h"
#include "engine/EngineFixture.h"
#include "platform/FileSystem.h"

namespace qk::test {
namespace {

using engine::OperationMode;
using engine::Outcome;

// Answers no question; the runs start with AutoRun or as a re-encryption.
class QuietHost : public engine::NullBatchHost {
public:
  bool Confirm(const std::string&) override { return true; }
};

struct Combination {
  int algorithm;
  bool tamper;
  bool skipNonTamper;
  bool wipe;
};

std::string Describe(const Combination& c) {
  return "algorithm " + std::to_string(c.algorithm) + (c.tamper ? " code" : " no code") +
         (c.skipNonTamper ? " skip" : "") + (c.wipe ? " wipe" : "");
}

void RunAll(engine::BatchRun& run, OperationMode mode, const std::vector<std::string>& paths) {
  run.ClearList();
  run.State().Mode = mode;
  run.State().AutoRun = true;
  run.State().Password = "password";
  for (const auto& p : paths) run.AddFile(p);
  run.ShowList(); // runs at once
}

TEST(SourceWipeProof, EveryOptionCombinationEncryptsDecryptsAndReEncrypts) {
  for (const int algorithm : {0, 1, 2}) {
    for (const bool tamper : {true, false}) {
      for (const bool skip : {false, true}) {
        for (const bool wipe : {false, true}) {
          const Combination c{algorithm, tamper, skip, wipe};
          SCOPED_TRACE(Describe(c));
          TempDir dir;
          const std::string source = dir / "a.txt";
          const std::string bytes = RandomBytes(20000, 5);
          WriteAll(source, bytes);
          QuietHost host;
          engine::BatchOptions options;
          options.Algorithm = algorithm;
          options.AddHMAC = tamper;
          options.Engine.SkipNonHMAC = skip;
          options.WipeSource = wipe;
          options.WipeDecSource = wipe;
          options.ReEnc = true;
          engine::Random random(3);
          engine::BatchRun run(host, options, random);

          RunAll(run, OperationMode::Encrypt, {source});
          const engine::FileResult enc = *run.Entries()[0].Result;
          ASSERT_EQ(enc.outcome, Outcome::Encrypted) << run.Entries()[0].Caption;
          EXPECT_EQ(enc.sourceWipe,
                    wipe ? engine::SourceWipe::Wiped : engine::SourceWipe::NotAsked);
          EXPECT_EQ(Exists(source), !wipe);
          ASSERT_TRUE(Exists(source + ".enc"));
          if (!wipe) platform::DeleteFile(source);

          // Decryption applies the policy: a container without a code is refused under it.
          RunAll(run, OperationMode::Decrypt, {source + ".enc"});
          const engine::FileResult dec = *run.Entries()[0].Result;
          if (skip && !tamper) {
            EXPECT_EQ(dec.outcome, Outcome::NoTamperCode);
            EXPECT_TRUE(Exists(source + ".enc"));
            EXPECT_FALSE(Exists(source));
            continue;
          }
          ASSERT_TRUE(engine::Succeeded(dec.outcome)) << run.Entries()[0].Caption;
          EXPECT_EQ(ReadAll(source), bytes);
          EXPECT_EQ(Exists(source + ".enc"), !wipe);
          if (!wipe) platform::DeleteFile(source + ".enc");

          // Re-encryption writes under the same options and proves what it wrote.
          run.State().AutoRun = false;
          run.ReEncrypt();
          const engine::FileResult again = *run.Entries()[0].Result;
          ASSERT_EQ(again.outcome, Outcome::Encrypted) << run.Entries()[0].Caption;
          EXPECT_EQ(Exists(source), !wipe);
          EXPECT_EQ(run.FailureCount(), 0);
        }
      }
    }
  }
}

} // namespace
} // namespace qk::test
