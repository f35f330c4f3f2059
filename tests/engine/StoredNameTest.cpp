// Names and hints stored in a container come back exactly as they were written.
#include "engine/EngineFixture.h"
#include "platform/FileSystem.h"
#include "support/TextSamples.h"

#include <random>

namespace qk::test {
namespace {

class StoredNameTest : public EngineTest {
protected:
  // Encrypts a file called name with hint, removes the source, decrypts, and checks both.
  void ExpectBack(const std::string& name, const std::string& hint) {
    const std::string source = Plain(name, "contents");
    const std::string container = Encrypt(source, "pw", hint, 0, true);
    platform::DeleteFile(source);
    EXPECT_EQ(engine.ReadStoredHint(container).hint, hint) << name;
    EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, engine::Outcome::Decrypted) << name;
    EXPECT_EQ(state.LastOutputName, dir / name);
    EXPECT_EQ(ReadAll(dir / name), "contents") << name;
    platform::DeleteFile(dir / name);
    platform::DeleteFile(container);
  }
};

TEST_F(StoredNameTest, NamesFromLinuxDesktopsComeBack) {
  for (const std::string& name : KnownHardNames()) ExpectBack(name, name);
}

TEST_F(StoredNameTest, GeneratedNamesAndHintsComeBack) {
  std::mt19937 random(932);
  for (int i = 0; i < 150; ++i) {
    const std::string name = GeneratedText(random);
    ExpectBack(name, GeneratedText(random));
  }
}

} // namespace
} // namespace qk::test
