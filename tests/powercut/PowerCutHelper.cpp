// The two things the power-cut suite (powercut.sh) needs beyond qk-cli:
//   shutdown MOUNT          stops the file system at MOUNT at once, without flushing its log:
//                           what the disk holds then is what a power cut would leave.
//   reencrypt PASSWORD FILE...
//                           the desktop's decryption run with the source wipe, then its
//                           re-encryption of the decrypted files (also with the wipe).
#include "engine/BatchRun.h"
#include "platform/SecretText.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace {

// The shutdown request of ext4, XFS and f2fs, and its flag that skips the log flush.
constexpr unsigned long kShutdown = _IOR('X', 125, std::uint32_t);
constexpr std::uint32_t kNoLogFlush = 2;

int Shutdown(const char* mount) {
  const int fd = ::open(mount, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    std::perror(mount);
    return 1;
  }
  std::uint32_t flag = kNoLogFlush;
  if (::ioctl(fd, kShutdown, &flag) != 0) {
    std::perror("shutdown");
    ::close(fd);
    return 1;
  }
  ::close(fd);
  return 0;
}

// Gives the password and confirms the re-encryption; shows nothing.
class Host : public qk::engine::NullBatchHost {
public:
  explicit Host(std::string password) : password_(std::move(password)) {}
  bool Confirm(const std::string&) override { return true; }
  std::optional<PasswordAnswer> AskPassword(bool) override {
    return PasswordAnswer{qk::platform::SecretText(password_), {}};
  }

private:
  std::string password_;
};

int ReEncrypt(const char* password, int count, char** files) {
  Host host(password);
  qk::engine::BatchOptions options;
  options.WipeSource = true;
  options.WipeDecSource = true;
  options.ReEnc = true;
  qk::engine::Random random(1);
  qk::engine::BatchRun run(host, options, random);
  run.State().Mode = qk::engine::OperationMode::Decrypt;
  for (int i = 0; i < count; ++i) run.AddFile(files[i]);
  run.ShowList();
  run.RunBatch();
  run.ReEncrypt();
  return run.FailureCount() == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "shutdown") == 0) return Shutdown(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "reencrypt") == 0)
    return ReEncrypt(argv[2], argc - 3, argv + 3);
  std::fprintf(stderr, "usage: %s shutdown MOUNT | reencrypt PASSWORD FILE...\n", argv[0]);
  return 2;
}
