// The frozen containers of tests/data/containers, written by an independent implementation of
// the format (tools/make-containers.cpp, Crypto++ only): every generation and cipher, texts as
// Japanese Windows systems store them, and one container of each malformed kind. Each X.enc has
// X.txt beside it with the password, the outcome and, for a decryption, what it must write.
#include "engine/EngineFixture.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cryptopp/sha.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace qk::test {
namespace {

struct KnownAnswer {
  std::string container;                     // path of X.enc
  std::map<std::string, std::string> fields; // from X.txt
};

std::vector<KnownAnswer> AllKnownAnswers() {
  std::vector<KnownAnswer> all;
  for (const auto& entry : std::filesystem::directory_iterator(QK_TEST_DATA "/containers")) {
    if (entry.path().extension() != ".enc") continue;
    KnownAnswer k;
    k.container = entry.path().string();
    std::ifstream text(std::filesystem::path(entry.path()).replace_extension(".txt"));
    std::string line;
    while (std::getline(text, line)) {
      const auto colon = line.find(": ");
      if (line.empty() || line[0] == '#' || colon == std::string::npos) continue;
      k.fields[line.substr(0, colon)] = line.substr(colon + 2);
    }
    all.push_back(std::move(k));
  }
  std::sort(all.begin(), all.end(),
            [](const KnownAnswer& a, const KnownAnswer& b) { return a.container < b.container; });
  return all;
}

std::string Sha1Hex(const std::string& bytes) {
  std::string digest(CryptoPP::SHA1::DIGESTSIZE, '\0');
  CryptoPP::SHA1().CalculateDigest(reinterpret_cast<CryptoPP::byte*>(digest.data()),
                                   reinterpret_cast<const CryptoPP::byte*>(bytes.data()),
                                   bytes.size());
  return Hex(digest);
}

TEST_F(EngineTest, KnownAnswerContainersGiveTheirOutcomes) {
  const auto all = AllKnownAnswers();
  ASSERT_GE(all.size(), 50u);
  int decrypted = 0;
  for (const KnownAnswer& k : all) {
    SCOPED_TRACE(k.container);
    const auto field = [&](const std::string& key) {
      const auto it = k.fields.find(key);
      return it == k.fields.end() ? std::string() : it->second;
    };

    // A copy under a neutral name in an empty folder, so that nothing but the container is
    // there before the decryption.
    const std::string bytes = ReadAll(k.container);
    const std::string copy = dir / "container.qk";
    WriteAll(copy, bytes);
    const engine::FileResult result = engine.DecryptFile(copy, field("password"));
    EXPECT_EQ(engine::ResultKey(result.outcome), field("outcome"));
    EXPECT_EQ(ReadAll(copy), bytes);

    if (field("outcome").rfind("decrypted", 0) == 0) {
      ++decrypted;
      const std::string output = dir / field("name");
      EXPECT_EQ(result.output, output);
      ASSERT_TRUE(Exists(output));
      const std::string written = ReadAll(output);
      EXPECT_EQ(std::to_string(written.size()), field("size"));
      EXPECT_EQ(Sha1Hex(written), field("sha1"));
      EXPECT_EQ(std::to_string(state.SourceFileDate), field("date"));
      EXPECT_EQ(engine.ReadStoredHint(copy).hint, field("hint"));
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

} // namespace
} // namespace qk::test
