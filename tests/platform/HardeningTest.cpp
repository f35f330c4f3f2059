// The guards of secrets in memory: no core files, no dumpable process, locked pages, clearing.
#include "platform/Hardening.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qk::platform {
namespace {

// Kilobytes of locked memory of this process, from /proc/self/status.
long LockedKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmLck:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

TEST(Hardening, CoreFilesOffAndNotDumpableForGood) {
  // In a child, so that the test process itself stays as it was.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    rlimit before{};
    getrlimit(RLIMIT_CORE, &before);
    int failures = 0;
    if (!HardenProcess()) failures |= 1;
    rlimit after{};
    if (getrlimit(RLIMIT_CORE, &after) != 0 || after.rlim_cur != 0 || after.rlim_max != 0)
      failures |= 2;
    if (prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0) failures |= 4;
    // Nothing raises the limit again without privilege; root may, which is why the hard limit
    // is 0 too: a raise has to be deliberate.
    const rlimit raise{RLIM_INFINITY, RLIM_INFINITY};
    if (geteuid() != 0 && setrlimit(RLIMIT_CORE, &raise) == 0) failures |= 8;
    _exit(failures);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1 call failed, 2 core limit, 4 dumpable, 8 raised again";
}

TEST(Hardening, LockedMemoryIsCountedAndReleased) {
  std::vector<unsigned char> secret(64 * 1024, 0x5A);
  const long before = LockedKilobytes();
  ASSERT_GE(before, 0);
  rlimit limit{};
  getrlimit(RLIMIT_MEMLOCK, &limit);
  const bool mayLock = geteuid() == 0 || limit.rlim_cur >= 2 * secret.size() + before * 1024;
  if (!mayLock) GTEST_SKIP() << "the limit on locked memory is too small here";
  ASSERT_TRUE(LockMemory(secret.data(), secret.size()));
  EXPECT_GE(LockedKilobytes(), before + 64);
  UnlockMemory(secret.data(), secret.size());
  EXPECT_EQ(LockedKilobytes(), before);
  // Nothing to lock is no failure.
  EXPECT_TRUE(LockMemory(nullptr, 0));
}

// A secret shortened before it goes is cleared to the end of its buffer, not only to its size.
template <class Bytes> void ExpectWholeBufferCleared(Bytes bytes) {
  bytes.resize(8);
  const auto* buffer = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t capacity = bytes.capacity();
  SecureClear(bytes);
  EXPECT_TRUE(bytes.empty());
  ASSERT_EQ(bytes.capacity(), capacity); // still the buffer that held the secret
  for (std::size_t i = 0; i < capacity; ++i) ASSERT_EQ(buffer[i], 0) << "byte " << i;
}

TEST(Hardening, SecureClearClearsTheWholeBuffer) {
  ExpectWholeBufferCleared(std::string(300, 'S'));
  ExpectWholeBufferCleared(std::vector<std::uint8_t>(300, 0x5A));
}

} // namespace
} // namespace qk::platform
