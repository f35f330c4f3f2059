// Who may read what a run writes: decrypted files are their owner's alone, containers are as
// readable as their sources were, whatever the umask allows.
#include "engine/EngineFixture.h"

#include <sys/stat.h>

namespace qk::test {
namespace {

std::uint32_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return static_cast<std::uint32_t>(st.st_mode & 07777);
}

// Sets the umask for one scope.
class Umask {
public:
  explicit Umask(mode_t mask) : saved_(umask(mask)) {}
  ~Umask() { umask(saved_); }
  Umask(const Umask&) = delete;
  Umask& operator=(const Umask&) = delete;

private:
  mode_t saved_;
};

class PermissionsTest : public EngineTest {};

TEST_F(PermissionsTest, ContainersTakeTheirSourcesBits) {
  for (const std::uint32_t mode : {0600u, 0640u, 0644u, 0666u, 0700u}) {
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
      Umask scoped(mask);
      const std::string source =
          Plain("s" + std::to_string(mode) + "_" + std::to_string(mask), "contents of the source");
      ASSERT_EQ(chmod(source.c_str(), mode), 0);
      const std::string container = Encrypt(source);
      EXPECT_EQ(ModeOf(container), mode) << std::oct << mode << " umask " << mask;
    }
  }
}

TEST_F(PermissionsTest, DecryptedFilesAreTheOwnersAlone) {
  Umask scoped(0);
  // With and without a tamper code (the output is made nameless, or named at once), empty and
  // not, and to a given name.
  for (const bool tamper : {true, false}) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{5000}}) {
      SCOPED_TRACE(testing::Message() << "tamper " << tamper << " size " << size);
      const std::string name = "p" + std::to_string(tamper) + std::to_string(size);
      const std::string source = Plain(name, RandomBytes(size, 3));
      ASSERT_EQ(chmod(source.c_str(), 0644), 0);
      const engine::FileResult made =
          engine.EncryptFile(source, source + ".enc", "pw", "", 0, tamper);
      const std::string container =
          made.outcome == engine::Outcome::Encrypted ? made.output : std::string();
      ASSERT_FALSE(container.empty());
      ASSERT_EQ(unlink(source.c_str()), 0);
      engine.DecryptFile(container, "pw");
      ASSERT_TRUE(Exists(source));
      EXPECT_EQ(ModeOf(source), 0600u);

      state.OutputNameOverride = dir / (name + ".given");
      engine.DecryptFile(container, "pw");
      state.OutputNameOverride.clear();
      ASSERT_TRUE(Exists(dir / (name + ".given")));
      EXPECT_EQ(ModeOf(dir / (name + ".given")), 0600u);
    }
  }
}

} // namespace
} // namespace qk::test
