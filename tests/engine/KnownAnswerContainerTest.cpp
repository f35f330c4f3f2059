// The frozen containers of tests/data/containers, written by an independent implementation of
// the format (tools/make-containers.cpp, Crypto++ only): every generation and cipher, texts as
// Japanese Windows systems store them, and one container of each malformed kind. Each X.enc has
// X.txt beside it with the password, the outcome and, for a decryption, what it must write.
#include "engine/EngineFixture.h"
#include "engine/Independent.h"
#include "platform/FileSystem.h"
#include "support/KnownAnswers.h"

namespace qk::test {
namespace {

TEST_F(EngineTest, KnownAnswerContainersGiveTheirOutcomes) {
  const auto all = AllKnownAnswers();
  ASSERT_GE(all.size(), 50u);
  int decrypted = 0;
  for (const KnownAnswer& k : all) {
    SCOPED_TRACE(k.container);

    // A copy under a neutral name in an empty folder, so that nothing but the container is
    // there before the decryption.
    const std::string bytes = ReadAll(k.container);
    const std::string copy = dir / "container.qk";
    WriteAll(copy, bytes);
    const engine::FileResult result = engine.DecryptFile(copy, k.Field("password"));
    EXPECT_EQ(engine::ResultKey(result.outcome), k.Field("outcome"));
    EXPECT_EQ(ReadAll(copy), bytes);

    if (k.Field("outcome").rfind("decrypted", 0) == 0) {
      ++decrypted;
      const std::string output = dir / k.Field("name");
      EXPECT_EQ(result.output, output);
      ASSERT_TRUE(Exists(output));
      const std::string written = ReadAll(output);
      EXPECT_EQ(std::to_string(written.size()), k.Field("size"));
      EXPECT_EQ(Hex(Sha1(written)), k.Field("sha1"));
      EXPECT_EQ(std::to_string(result.fileDate), k.Field("date"));
      // "-": no hint can be read.
      const auto hint = engine.ReadStoredHint(copy).hint;
      if (k.Field("hint") == "-") {
        EXPECT_FALSE(hint);
      } else {
        EXPECT_EQ(hint, k.Field("hint"));
      }
      platform::DeleteFile(output);
    }
    EXPECT_EQ(Listing(), std::vector<std::string>{"container.qk"});
    platform::DeleteFile(copy);
  }
  EXPECT_GE(decrypted, 20);
}

// With the option to refuse containers without a code, every sound one without a code is
// refused before its password is looked at, and nothing is written.
TEST_F(EngineTest, KnownAnswerContainersWithoutCodeAreRefusedWhenAsked) {
  settings.SkipNonHMAC = true;
  int refused = 0;
  for (const KnownAnswer& k : AllKnownAnswers()) {
    if (k.fields.at("outcome") != "decrypted-without-tamper-code") continue;
    SCOPED_TRACE(k.container);
    const std::string copy = dir / "container.qk";
    WriteAll(copy, ReadAll(k.container));
    EXPECT_EQ(engine.DecryptFile(copy, "not the password").outcome, engine::Outcome::NoTamperCode);
    EXPECT_EQ(Listing(), std::vector<std::string>{"container.qk"});
    ++refused;
  }
  EXPECT_GE(refused, 9); // V3, V4 and V5 of each cipher at least
}

// The password is proved before anything else of the header or the data: every malformed or
// changed container whose marker and password check are whole gives a wrong password as such.
TEST_F(EngineTest, KnownAnswerContainersProveThePasswordFirst) {
  int proved = 0;
  for (const KnownAnswer& k : AllKnownAnswers()) {
    const std::string outcome = k.Field("outcome");
    if (outcome != "invalid-file" && outcome != "tamper-mismatch" && outcome != "decrypt-failed")
      continue;
    const std::string bytes = ReadAll(k.container);
    if (bytes.size() < 20) continue; // not even a whole marker
    SCOPED_TRACE(k.container);
    const std::string copy = dir / "container.qk";
    WriteAll(copy, bytes);
    EXPECT_EQ(engine.DecryptFile(copy, "not the password").outcome, engine::Outcome::WrongPassword);
    EXPECT_EQ(Listing(), std::vector<std::string>{"container.qk"});
    ++proved;
  }
  EXPECT_GE(proved, 25);
}

} // namespace
} // namespace qk::test
